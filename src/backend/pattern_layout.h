// log4cpp's PatternLayout (1.1.3), written again for the cost of a record.
//
// log4cpp formats a record through an `ostringstream`, and each `%d` through
// a second one, a `localtime_r` and a `strftime`; each width through a third
// stream. This layout appends every piece to one string reserved once, and
// takes the time of day from a text each thread makes once per second
// (date_format.h). Its output is log4cpp's byte for byte, for every pattern
// log4cpp accepts, and it refuses the patterns log4cpp refuses with the same
// `ConfigureFailure` text (the differential test holds both to that).
//
// It is a log4cpp::PatternLayout, so that a host that looks for one on an
// appender (and calls setConversionPattern) finds it; every member it
// overrides is its own, and the base's parts are never used.
//
// Where it departs from log4cpp, where log4cpp's behaviour is undefined:
// a time text of 100 bytes or more is written whole (date_format.h), and a
// width of -2147483648 pads to 2^31 bytes (log4cpp negates it and throws
// `std::length_error` out of every record, which a `throw()` of log4cpp's
// turns into `std::terminate`).
#pragma once

#include <cstddef>
#include <log4cpp/PatternLayout.hh>
#include <memory>
#include <string>
#include <vector>

namespace quelto::backend {

class DateFormat;

class FastPatternLayout final : public log4cpp::PatternLayout {
 public:
  /// With log4cpp's default pattern, "%m%n".
  FastPatternLayout();
  ~FastPatternLayout() override;

  /// The record's text. Safe from several threads at once (not while the
  /// pattern changes, as with log4cpp's).
  std::string format(const log4cpp::LoggingEvent& event) override;

  /// Throws `log4cpp::ConfigureFailure` where log4cpp's would, with its text,
  /// having kept what log4cpp keeps: the pieces read before the fault, and
  /// an empty pattern.
  void setConversionPattern(const std::string& pattern) override;
  std::string getConversionPattern() const override;
  void clearConversionPattern() override;

  /// One conversion or a run of literal text.
  struct Piece;

 private:
  void add(Piece&& piece, std::string& literal);

  std::vector<Piece> pieces_;
  std::string pattern_;
  // What a record's text needs, for reserving it once: the bytes that do not
  // depend on the record, and how many times each string of the event is
  // copied.
  std::size_t fixed_bytes_ = 0;
  std::size_t messages_ = 0;
  std::size_t categories_ = 0;
  std::size_t others_ = 0;  // NDC and thread name
};

}  // namespace quelto::backend
