// What log4cpp keeps private and the module needs: the one place that reaches it.
//
// Written against log4cpp 1.1.3 (Debian's liblog4cpp5v5). Every private
// member is named in log4cpp_internals.cpp alone, through one technique (an
// explicit instantiation, where the language does not check access), so the
// compiler takes each member's type and offset from the installed header. A
// header whose members changed their names or types fails to compile there;
// one whose classes changed their size fails a static_assert there; and the
// unit test Log4cppInternals checks every accessor against log4cpp's public
// API at run time, which catches a library that does not match its header.
#pragma once

namespace log4cpp {
class Appender;
class Category;
class Layout;
class LayoutAppender;
namespace threading {
class Mutex;
}  // namespace threading
}  // namespace log4cpp

namespace quelto::backend {

/// The word log4cpp keeps a category's own priority in (NOTSET: none), read
/// as its `getPriority` reads it, without the virtual call. Takes no lock: a
/// word being rewritten is read as its old or its new value, as log4cpp
/// itself reads it.
const volatile int& priority_word(const log4cpp::Category& category) noexcept;

/// The category's parent (null for the root), as `getParent` returns it.
/// Parents never change.
const log4cpp::Category* parent_of(const log4cpp::Category& category) noexcept;

/// Enters `appender` in log4cpp's registry of appenders by name (which an
/// appender's constructor does, and its destructor undoes by name). Throws
/// what inserting into a map throws.
void register_appender(log4cpp::Appender* appender);

/// The layout an appender formats its records with.
log4cpp::Layout& layout_of(log4cpp::LayoutAppender& appender) noexcept;

/// The mutex a category holds while it calls its appenders (and, as a record
/// climbs to the parents, while the parents call theirs: child first), and
/// while its appenders are read or changed.
log4cpp::threading::Mutex& appender_mutex(log4cpp::Category& category) noexcept;

}  // namespace quelto::backend
