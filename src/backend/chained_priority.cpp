#include "chained_priority.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

namespace quelto::backend {
namespace {

// log4cpp keeps a category's own priority and its parent in private members,
// read through virtual functions only. An explicit instantiation is the one
// place where the language lets a program name private members (access is not
// checked there); it hands their member pointers to the friends below, so the
// compiler still takes the members' types and offsets from log4cpp's header.
struct PriorityMember {
  using Type = volatile log4cpp::Priority::Value log4cpp::Category::*;
  friend constexpr Type member(PriorityMember) noexcept;
};
struct ParentMember {
  using Type = log4cpp::Category* log4cpp::Category::*;
  friend constexpr Type member(ParentMember) noexcept;
};

template <class Tag, typename Tag::Type Pointer>
struct Expose {
  friend constexpr typename Tag::Type member(Tag) noexcept { return Pointer; }
};

template struct Expose<PriorityMember, &log4cpp::Category::_priority>;
template struct Expose<ParentMember, &log4cpp::Category::_parent>;

}  // namespace

int chained_priority(const log4cpp::Category& category) noexcept {
  constexpr auto priority = member(PriorityMember{});
  constexpr auto parent = member(ParentMember{});
  const log4cpp::Category* c = &category;
  while (true) {
    const int own = c->*priority;  // volatile: read at every call
    const log4cpp::Category* up = c->*parent;
    // log4cpp never lets the root lose its priority; should it have none,
    // its NOTSET is what log4cpp's own walk would not get past either.
    if (own < log4cpp::Priority::NOTSET || up == nullptr) return own;
    c = up;
  }
}

}  // namespace quelto::backend
