// The JSON-lines layout: one JSON object per record, on one line, for log
// shippers.
//
//   {"time":"2026-12-08T14:35:07.123456Z","level":"INFO","logger":"app","msg":"started"}
//
// `time` is the record's time in RFC 3339, UTC, to the microsecond; `level`
// the priority's name as log4cpp writes it (%p); `logger` the category's
// name (%c); `msg` the message as a JSON string (write_json_escaped). A
// record of a logger in the JSON format is an object already: its members
// follow the first three instead, `msg` first. That record is known by what
// the module says of the record being written on this thread (record.h),
// never by how its text looks: any other text, a script's or the host's,
// stays inside `msg`.
//
// `configure` puts the layout on the appenders that a properties file names
// with `quelto.appender.<name>.layout = json` (module_settings.h).
#pragma once

#include <log4cpp/Appender.hh>
#include <log4cpp/Layout.hh>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace log4cpp {
class LayoutAppender;
namespace threading {
class Mutex;
}  // namespace threading
}  // namespace log4cpp

namespace quelto::backend {

class JsonLayout : public log4cpp::Layout {
 public:
  std::string format(const log4cpp::LoggingEvent& event) override;
};

/// The time `seconds` and `microseconds` after the epoch as RFC 3339 in UTC,
/// "2026-12-08T14:35:07.123456Z": kUtcTimeSize bytes at `out`.
inline constexpr std::size_t kUtcTimeSize = 27;
void write_utc_time(long long seconds, int microseconds, char* out) noexcept;

struct Attachments;

/// JSON layouts made for the appenders of a configuration, waiting to take
/// the place of the layouts log4cpp gave them.
class JsonLayouts {
 public:
  /// Makes a JsonLayout for each appender attached `now` and not `before`
  /// (made by this configuration) whose name is in `names` and that takes a
  /// layout. Throws std::bad_alloc.
  JsonLayouts(const Attachments& now, const log4cpp::AppenderSet& before,
              const std::set<std::string>& names);
  ~JsonLayouts();

  /// Puts each in place of the appender's layout, which is freed. The
  /// host's records reach these appenders without the module's lock, holding
  /// their category's mutex (and, up the parents, each parent's, child
  /// first): every category's is held meanwhile, deepest first, so that no
  /// record is inside a layout as it is freed. Runs holding the process-wide
  /// lock alone.
  void install() noexcept;

 private:
  struct Exchange {
    log4cpp::LayoutAppender* appender;
    std::unique_ptr<JsonLayout> layout;
  };
  std::vector<Exchange> exchanges_;
  std::vector<log4cpp::threading::Mutex*> mutexes_;  // deepest category first
};

}  // namespace quelto::backend
