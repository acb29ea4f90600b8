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
// with `quelto.appender.<name>.layout = json` (module_settings.h,
// fast_layouts.h).
#pragma once

#include <cstddef>
#include <log4cpp/Layout.hh>
#include <string>

namespace quelto::backend {

class JsonLayout : public log4cpp::Layout {
 public:
  std::string format(const log4cpp::LoggingEvent& event) override;
};

/// The time `seconds` and `microseconds` after the epoch as RFC 3339 in UTC,
/// "2026-12-08T14:35:07.123456Z": kUtcTimeSize bytes at `out`.
inline constexpr std::size_t kUtcTimeSize = 27;
void write_utc_time(long long seconds, int microseconds, char* out) noexcept;

}  // namespace quelto::backend
