// The module's PatternLayout put in place of log4cpp's on the appenders a
// configuration of the module's has just made: in place of a PatternLayout,
// and of a BasicLayout or a SimpleLayout, which write what a pattern writes
// (each at several times the cost of the module's layout of that pattern);
// and the JSON layout (json_layout.h) on those that the file names with
// `quelto.appender.<name>.layout = json`, whatever layout log4cpp gave them.
//
// Only those appenders: their layouts are log4cpp's configurator's, which
// nothing else holds yet. A layout the host made may be held by the host,
// which may change its pattern at any time, so the host's appenders keep
// theirs.
//
// The host's own records reach these appenders from its threads without the
// module's lock: log4cpp calls a category's appenders holding that category's
// mutex (and, as the record climbs to the parents, the parents' too, child
// first). Each layout is exchanged holding the mutexes of the categories that
// hold its appender, deepest first, so no record is inside it as it is freed.
#pragma once

#include <log4cpp/Appender.hh>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "deadline.h"

namespace log4cpp {
class Layout;
}  // namespace log4cpp

namespace quelto::backend {

/// The patterns that write what log4cpp's BasicLayout and SimpleLayout
/// write (the latter is not log4cpp's SIMPLE_CONVERSION_PATTERN).
inline constexpr char kBasicLayoutPattern[] = "%R %p %c %x: %m%n";
inline constexpr char kSimpleLayoutPattern[] = "%-8p: %m%n";

/// The pattern with which the module's PatternLayout writes what `layout`
/// writes: a log4cpp PatternLayout's own, BasicLayout's, SimpleLayout's;
/// none for any other class (a subclass of those included).
std::optional<std::string> equivalent_pattern(const log4cpp::Layout& layout);

struct Attachments;
struct ModuleSettings;

/// The module's layouts for some appenders, made and waiting to take the
/// place of log4cpp's.
class FastLayouts {
 public:
  /// For each appender attached `now` and not `before` that takes a layout,
  /// makes the JSON layout (json_layout.h) where `settings` ask for it for
  /// the appender's name, else, where they ask for fast layouts, a
  /// FastPatternLayout of the same pattern where its layout is exactly
  /// log4cpp's PatternLayout, BasicLayout or SimpleLayout (a subclass is its
  /// own); and everything `install` needs. Throws std::bad_alloc.
  FastLayouts(const Attachments& now, const log4cpp::AppenderSet& before,
              const ModuleSettings& settings);
  ~FastLayouts();
  FastLayouts(FastLayouts&&) noexcept;

  /// Puts each in place of log4cpp's, which is freed, but where a record
  /// stuck in the appender keeps it past `deadline`. Runs holding the
  /// process-wide lock alone.
  void install(Deadline deadline) noexcept;

  struct Exchange;

 private:
  std::vector<Exchange> exchanges_;
};

}  // namespace quelto::backend
