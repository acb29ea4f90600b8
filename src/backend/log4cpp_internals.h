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

#include <pthread.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace log4cpp {
class Appender;
class Category;
class HierarchyMaintainer;
class Layout;
class LayoutAppender;
struct LoggingEvent;
class TimeStamp;
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

/// Takes `appender` out of log4cpp's registry of appenders by its name, so
/// that log4cpp's teardown does not free it. Throws nothing.
void unregister_appender(log4cpp::Appender* appender) noexcept;

/// The appenders a category holds, read without its mutex: for a category
/// whose mutex a record stuck in its appender holds (which no one can change
/// meanwhile).
const std::set<log4cpp::Appender*>& appenders_of(const log4cpp::Category& category) noexcept;

/// The mutex that log4cpp holds around a category's appenders: while they
/// change, and across every write of a record to them
/// (`Category::callAppenders`), the host's own records included.
pthread_mutex_t& category_mutex(const log4cpp::Category& category) noexcept;

/// The map of every category by name that `maintainer` keeps, and the mutex
/// that guards it.
std::map<std::string, log4cpp::Category*>& category_map(log4cpp::HierarchyMaintainer& maintainer);
pthread_mutex_t& category_map_mutex(log4cpp::HierarchyMaintainer& maintainer) noexcept;

/// The file that a FileAppender (RollingFileAppender, DailyRollingFileAppender)
/// opens by name; null for any other appender, and for one made on a
/// descriptor.
const std::string* file_name(const log4cpp::Appender& appender) noexcept;

/// Makes `event` carry a record that another thread logged: what it says,
/// and what the layouts show of the thread that logged it (`%t`, `%x`, `%d`).
/// log4cpp makes every member of an event but the priority and the time
/// const, and its constructor takes the thread's name from the thread that
/// runs it; the thread that writes queued records builds one event, once,
/// and refills it for each record before any appender sees it (see the
/// definition). Throws what allocating throws.
void refill_event(log4cpp::LoggingEvent& event, const std::string& category,
                  std::string_view message, std::string_view ndc, std::string_view thread,
                  int priority, const log4cpp::TimeStamp& time);

}  // namespace quelto::backend
