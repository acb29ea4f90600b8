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
#include <log4cpp/Appender.hh>

#include "process_lock.h"

namespace log4cpp {
class Category;
}  // namespace log4cpp

namespace quelto::backend {

/// Holds, for its lifetime, the process-wide lock shared and the locks of the
/// shared appenders that a record logged to `category` reaches: for handing
/// a record to log4cpp.
class RecordUse {
 public:
  explicit RecordUse(log4cpp::Category& category) noexcept;
  ~RecordUse();
  RecordUse(const RecordUse&) = delete;
  RecordUse& operator=(const RecordUse&) = delete;

 private:
  SharedUse use_;  // first: what is shared is read under it
  std::uint64_t held_;
};

/// Notes which appenders the categories share now, and returns every
/// appender attached to any category (both from one pass over them). Runs
/// while holding the process-wide lock alone, after every change to the
/// categories' appenders.
log4cpp::AppenderSet note_shared_appenders();

}  // namespace quelto::backend
