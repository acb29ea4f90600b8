#include "log4cpp_internals.h"

#include <log4cpp/Appender.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/HierarchyMaintainer.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/TimeStamp.hh>

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

struct RemoveAppender {
  using Type = void (*)(log4cpp::Appender*);
  friend constexpr Type member(RemoveAppender) noexcept;
};
struct CategoryAppenders {
  using Type = log4cpp::AppenderSet log4cpp::Category::*;
  friend constexpr Type member(CategoryAppenders) noexcept;
};
struct CategoryMutex {
  using Type = log4cpp::threading::Mutex log4cpp::Category::*;
  friend constexpr Type member(CategoryMutex) noexcept;
};
struct AppenderLayout {
  using Type = log4cpp::Layout* log4cpp::LayoutAppender::*;
  friend constexpr Type member(AppenderLayout) noexcept;
};
struct MutexHandle {
  using Type = pthread_mutex_t log4cpp::threading::Mutex::*;
  friend constexpr Type member(MutexHandle) noexcept;
};
struct MaintainerMap {
  using Type = log4cpp::HierarchyMaintainer::CategoryMap log4cpp::HierarchyMaintainer::*;
  friend constexpr Type member(MaintainerMap) noexcept;
};
struct MaintainerMutex {
  using Type = log4cpp::threading::Mutex log4cpp::HierarchyMaintainer::*;
  friend constexpr Type member(MaintainerMutex) noexcept;
};
struct FileName {
  using Type = const std::string log4cpp::FileAppender::*;
  friend constexpr Type member(FileName) noexcept;
};

template struct Expose<CategoryPriority, &log4cpp::Category::_priority>;
template struct Expose<CategoryParent, &log4cpp::Category::_parent>;
template struct Expose<AddAppender, &log4cpp::Appender::_addAppender>;
template struct Expose<RemoveAppender, &log4cpp::Appender::_removeAppender>;
template struct Expose<CategoryAppenders, &log4cpp::Category::_appender>;
template struct Expose<CategoryMutex, &log4cpp::Category::_appenderSetMutex>;
template struct Expose<MutexHandle, &log4cpp::threading::Mutex::mutex>;
template struct Expose<MaintainerMap, &log4cpp::HierarchyMaintainer::_categoryMap>;
template struct Expose<MaintainerMutex, &log4cpp::HierarchyMaintainer::_categoryMutex>;
template struct Expose<FileName, &log4cpp::FileAppender::_fileName>;
template struct Expose<AppenderLayout, &log4cpp::LayoutAppender::_layout>;

// The sizes of log4cpp 1.1.3's classes on this ABI: a header whose classes
// changed shape stops the build here, before any member is read wrongly.
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::Category) == 200,
              "log4cpp's Category is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::Appender) == 40,
              "log4cpp's Appender is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::LayoutAppender) == 64,
              "log4cpp's LayoutAppender is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::FileAppender) == 112,
              "log4cpp's FileAppender is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(
    sizeof(void*) != 8 || sizeof(log4cpp::HierarchyMaintainer) == 120,
    "log4cpp's HierarchyMaintainer is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(void*) != 8 || sizeof(log4cpp::LoggingEvent) == 144,
              "log4cpp's LoggingEvent is not the one of 1.1.3: review log4cpp_internals.cpp");
static_assert(sizeof(log4cpp::threading::Mutex) == sizeof(pthread_mutex_t),
              "log4cpp's Mutex is not a pthread mutex alone: review log4cpp_internals.cpp");

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

void unregister_appender(log4cpp::Appender* appender) noexcept {
  member(RemoveAppender{})(appender);  // erases by name, under the registry's own mutex
}

const log4cpp::AppenderSet& appenders_of(const log4cpp::Category& category) noexcept {
  return category.*member(CategoryAppenders{});
}

pthread_mutex_t& category_mutex(const log4cpp::Category& category) noexcept {
  // The member is mutable: log4cpp locks it in its const getters too.
  auto& mutex = const_cast<log4cpp::Category&>(category).*member(CategoryMutex{});
  return mutex.*member(MutexHandle{});
}

std::map<std::string, log4cpp::Category*>& category_map(log4cpp::HierarchyMaintainer& maintainer) {
  return maintainer.*member(MaintainerMap{});
}

pthread_mutex_t& category_map_mutex(log4cpp::HierarchyMaintainer& maintainer) noexcept {
  return maintainer.*member(MaintainerMutex{}).*member(MutexHandle{});
}

const std::string* file_name(const log4cpp::Appender& appender) noexcept {
  const auto* file = dynamic_cast<const log4cpp::FileAppender*>(&appender);
  if (file == nullptr) return nullptr;
  const std::string& name = file->*member(FileName{});
  return name.empty() ? nullptr : &name;
}

// The event is an object of the writing thread's own, made by log4cpp's
// constructor (out of line, in the library), never a const object: what is
// const is each member, so that log4cpp's code cannot change an event it is
// handed. Each is replaced here, before the event is handed to any appender;
// the appenders read it through a const reference, in code compiled apart
// from this, so none can have kept a value of the constructor's. An appender
// that keeps an event (BufferingAppender) keeps a copy.
void refill_event(log4cpp::LoggingEvent& event, const std::string& category,
                  std::string_view message, std::string_view ndc, std::string_view thread,
                  int priority, const log4cpp::TimeStamp& time) {
  const_cast<std::string&>(event.categoryName) = category;  // their room is reused
  const_cast<std::string&>(event.message).assign(message.data(), message.size());
  const_cast<std::string&>(event.ndc).assign(ndc.data(), ndc.size());
  const_cast<std::string&>(event.threadName).assign(thread.data(), thread.size());
  event.priority = priority;
  event.timeStamp = time;
}

}  // namespace quelto::backend
