#include "log4cpp_internals.h"

#include <log4cpp/Appender.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/Priority.hh>

namespace quelto::backend {
namespace {

// An explicit instantiation is the one place where the language lets a
// program name private members (access is not checked there). Each Tag
// declares a friend that returns what the instantiation below hands it: a
// member pointer, or a private static function.
template <class Tag, typename Tag::Type kPointer>
struct Expose {
  friend constexpr typename Tag::Type member(Tag) noexcept { return kPointer; }
};

struct CategoryPriority {
  using Type = volatile log4cpp::Priority::Value log4cpp::Category::*;
  friend constexpr Type member(CategoryPriority) noexcept;
};
struct CategoryParent {
  using Type = log4cpp::Category* log4cpp::Category::*;
  friend constexpr Type member(CategoryParent) noexcept;
};
struct AddAppender {
  using Type = void (*)(log4cpp::Appender*);
  friend constexpr Type member(AddAppender) noexcept;
};

struct CategoryMutex {
  using Type = log4cpp::threading::Mutex log4cpp::Category::*;
  friend constexpr Type member(CategoryMutex) noexcept;
};
struct AppenderLayout {
  using Type = log4cpp::Layout* log4cpp::LayoutAppender::*;
  friend constexpr Type member(AppenderLayout) noexcept;
};

template struct Expose<CategoryPriority, &log4cpp::Category::_priority>;
template struct Expose<CategoryParent, &log4cpp::Category::_parent>;
template struct Expose<AddAppender, &log4cpp::Appender::_addAppender>;
template struct Expose<CategoryMutex, &log4cpp::Category::_appenderSetMutex>;
template struct Expose<AppenderLayout, &log4cpp::LayoutAppender::_layout>;

// The sizes of log4cpp 1.1.3's classes on this ABI: a header whose classes
// changed shape stops the build here, before any member is read wrongly.
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::Category) == 200,
              "log4cpp's Category is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::Appender) == 40,
              "log4cpp's Appender is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::LayoutAppender) == 64,
              "log4cpp's LayoutAppender is not the one of 1.1.3: review log4cpp_internals.cpp");

}  // namespace

const volatile int& priority_word(const log4cpp::Category& category) noexcept {
  static_assert(sizeof(log4cpp::Priority::Value) == sizeof(int), "a priority is an int");
  return category.*member(CategoryPriority{});
}

const log4cpp::Category* parent_of(const log4cpp::Category& category) noexcept {
  return category.*member(CategoryParent{});
}

void register_appender(log4cpp::Appender* appender) {
  member(AddAppender{})(appender);
}

log4cpp::Layout& layout_of(log4cpp::LayoutAppender& appender) noexcept {
  return *(appender.*member(AppenderLayout{}));  // never null: log4cpp puts a BasicLayout there
}

log4cpp::threading::Mutex& appender_mutex(log4cpp::Category& category) noexcept {
  return category.*member(CategoryMutex{});
}

}  // namespace quelto::backend
