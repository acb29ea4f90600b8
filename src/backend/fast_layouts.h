// The module's PatternLayout put in place of log4cpp's on the appenders a
// configuration of the module's has just made.
//
// Only those appenders: their layouts are log4cpp's configurator's, which
// nothing else holds yet. A layout the host made may be held by the host,
// which may change its pattern at any time, so the host's appenders keep
// theirs.
//
// The host's own records reach these appenders from its threads without the
// module's lock: log4cpp calls a category's appenders holding that category's
// mutex (and, as the record climbs to the parents, the parents' too, child
// first). The layouts are exchanged holding every category's mutex, deepest
// first, so no record is inside a layout as it is freed.
#pragma once

#include <log4cpp/Appender.hh>
#include <memory>
#include <vector>

namespace quelto::backend {

struct Attachments;

/// The module's layouts for some appenders, made and waiting to take the
/// place of log4cpp's.
class FastLayouts {
 public:
  /// Makes a FastPatternLayout of the same pattern for each appender attached
  /// `now` and not `before` whose layout is exactly log4cpp's PatternLayout
  /// (a subclass is its own), and everything `install` needs. Throws
  /// std::bad_alloc.
  FastLayouts(const Attachments& now, const log4cpp::AppenderSet& before);
  ~FastLayouts();
  FastLayouts(FastLayouts&&) noexcept;

  /// Puts each in place of log4cpp's, which is freed. Runs holding the
  /// process-wide lock alone.
  void install() noexcept;

  struct Exchange;
  struct Held;

 private:
  std::vector<Exchange> exchanges_;
  std::vector<Held> mutexes_;  // every category's, deepest category first
};

}  // namespace quelto::backend
