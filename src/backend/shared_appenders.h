// Records for an appender that several categories share, written in turn.
//
// log4cpp serialises the records of one category (a category calls its
// appenders under a mutex of its own), not those of one appender. An
// appender attached to two categories is thus called from two threads at
// once, which most appenders are not made for: two records roll one
// RollingFileAppender over at once, and records are lost. So the module
// notes, whenever a configuration has changed the categories, which
// appenders more than one category holds, and gives each a lock. A record
// takes the locks of the shared appenders it reaches (its category's own and,
// while additivity lets it through, its parents') before log4cpp writes it;
// a record that reaches none, the common case, takes none.
//
// What the host attaches itself after the module's last configuration is
// not known here: log4cpp's own calls from the host's C++ code take none of
// these locks either.
#pragma once

#include <cstdint>

namespace log4cpp {
class Category;
}  // namespace log4cpp

namespace quelto::backend {

struct Attachments;

/// Holds, for its lifetime, the locks of the shared appenders that a record
/// logged to `category` reaches: for handing a record to log4cpp. Taken while
/// the process-wide lock is held shared, which guards what it reads.
class SharedAppenderUse {
 public:
  explicit SharedAppenderUse(log4cpp::Category& category) noexcept;
  ~SharedAppenderUse();
  SharedAppenderUse(const SharedAppenderUse&) = delete;
  SharedAppenderUse& operator=(const SharedAppenderUse&) = delete;

 private:
  std::uint64_t held_;
};

/// Notes which appenders the categories of `now` share. Runs while holding
/// the process-wide lock alone, after every change to the categories'
/// appenders.
void note_shared_appenders(const Attachments& now);

/// Makes every stripe free, in a child just forked: a thread of the parent
/// that held one does not exist in it.
void reset_stripes_in_child() noexcept;

}  // namespace quelto::backend
