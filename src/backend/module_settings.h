// The module's own keys in a properties file: those under "quelto.", which
// log4cpp's configurator ignores. `configure` reads them with the file,
// before it changes anything, and refuses a key it does not know or a value
// the key does not take with an error that names the key.
//
//   quelto.<key> = <value>      (or log4cpp.quelto.<key>, as log4cpp reads keys)
//
// Adding a key is one field of ModuleSettings and one entry in the key table
// of module_settings.cpp. A key's name may stand for a family of keys: one
// that ends in "." takes every key that starts so, and one with a "*" every
// key with any name without a "." in its place.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "async_queue.h"

namespace quelto::backend {

/// What a properties file's module keys set; what a file leaves out keeps
/// its default here.
///
///   quelto.async = true|false            the asynchronous mode (async_queue.h)
///   quelto.async.queue = 16..1048576     its ring's size, in records
///   quelto.async.when_full = block|drop  what a call does when the ring is full
struct ModuleSettings {
  AsyncSettings async;
  /// quelto.layout.fast: the appenders the file makes with log4cpp's
  /// PatternLayout get the module's, which writes the same bytes for less.
  bool fast_layout = true;
  /// quelto.appender.<name>.layout = json: the appenders that get the JSON
  /// layout (json_layout.h).
  std::set<std::string> json_appenders;
  /// quelto.defaults.<option> = <value>: the process-wide logger defaults,
  /// option and value as the file gives them, checked by the module, which
  /// knows the options.
  std::vector<std::pair<std::string, std::string>> defaults;
};

/// Reads the property `key` = `value` (as log4cpp's reader takes them) into
/// `settings` when it is a module key, as `configure` does for every line of
/// a file: the first line of a key counts, as for log4cpp's own keys (`seen`
/// holds those read so far). Leaves every other property alone. Throws
/// `log4cpp::ConfigureFailure` for a module key it does not know, or a value
/// the key does not take.
void read_module_key(std::string_view key, std::string_view value, ModuleSettings& settings,
                     std::set<std::string>& seen);

/// The values keys take, for the key table: false for a value that is none.
bool parse_boolean(std::string_view value, bool& result);  // "true" or "false"
bool parse_integer(std::string_view value, long long least, long long most, long long& result);

}  // namespace quelto::backend
