// The text of a pattern's `%d{...}`, as log4cpp 1.1.3 writes it, without a
// stream or a `localtime_r` per record.
//
// log4cpp splices the event's milliseconds (three digits) into the format in
// place of its first `%l`, then hands the whole to `strftime`. Where the part
// before `%l` ends between two conversions, the digits are plain text to
// `strftime`, so the text of the part before and of the part after depend on
// the second alone: each thread makes them once per second (for each format
// it uses), and a record copies them around its milliseconds. Where the part
// before ends inside a conversion (`%%l`, `%E%l`, ...), the digits change what
// `strftime` reads, and the text is made per record as log4cpp makes it.
//
// The one difference: log4cpp writes into 100 bytes, and a text of 100 bytes
// or more leaves its buffer unterminated (what it then writes is undefined);
// here such a text is written whole.
#pragma once

#include <cstdint>
#include <log4cpp/TimeStamp.hh>
#include <string>

namespace quelto::backend {

class DateFormat {
 public:
  /// `braced` is what the pattern had between the braces: empty or "ISO8601",
  /// "ABSOLUTE", "DATE", or a `strftime` format where `%l` stands for the
  /// milliseconds.
  explicit DateFormat(const std::string& braced);

  /// Appends the local time of `stamp` to `out`. Safe from any thread.
  void append(std::string& out, const log4cpp::TimeStamp& stamp) const;

 private:
  void append_per_record(std::string& out, const log4cpp::TimeStamp& stamp) const;

  std::string before_;  // the strftime format before the first %l (all of it if none)
  std::string after_;   // and after it
  bool millis_;         // whether there is a %l
  bool apart_;          // whether before_'s text can be made apart from the digits
  std::uint64_t id_;    // the key of this format's texts in each thread's cache
};

}  // namespace quelto::backend
