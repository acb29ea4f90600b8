// Logger options: what `get_log(name, options)`, `set_defaults(options)` and a
// properties file's `quelto.defaults.<option>` keys accept, the per-state
// defaults, and the process-wide ones.
//
// Precedence, option by option: the options of `get_log`, then those
// `set_defaults` gave the Lua state before the logger was made, then the
// process-wide defaults of the last successful `configure` (its
// `quelto.defaults.*` keys; an option it does not name has its built-in
// default), read at each call, so that they also reach loggers made before
// that `configure` (a library's, made when it was required).
#pragma once

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "../backend/gate.h"
#include "../lua/compat.h"
#include "../render/style.h"

namespace quelto {

/// The options of one logger. Adding an option is one field here and one
/// entry in the table of logger_options.cpp.
struct LoggerOptions {
  backend::Gate gate = backend::Gate::own;
  utils::Style style;  // format, escape, max_bytes, location, lazy, sort_keys
};

/// Options, and which of them were given (a bit per option of the table):
/// those not given follow the process-wide defaults.
struct OptionSet {
  LoggerOptions values;
  unsigned given = 0;

  /// Whether the gate was given.
  bool gate_given() const;
};

/// Reads the options table at `index` into `options`, option by option: those
/// it leaves out keep their value. Raises, before it changes anything, for a
/// value that is not a table (the host's argument error), an option name it
/// does not know, or a value the option does not take. Owns nothing, so a
/// raise skips nothing.
void read_options(lua_State* L, int index, OptionSet& options);

/// The process-wide defaults that `quelto.defaults.<option> = <value>` keys
/// give (option and value as a properties file has them), over the built-in
/// ones. Throws `log4cpp::ConfigureFailure` with the module keys' errors for
/// an option it does not know or a value the option does not take.
LoggerOptions read_process_defaults(
    const std::vector<std::pair<std::string, std::string>>& defaults);

/// Makes `defaults` the process-wide defaults. Called by `configure` with its
/// lock held alone, after a successful run; read without a lock.
void set_process_defaults(const LoggerOptions& defaults) noexcept;

/// The process-wide default gate, which a logger not given one reads at each
/// call: a word read like a field of its own.
const std::atomic<backend::Gate>& process_gate() noexcept;

/// The style of `options`, what was not given taken from the process-wide
/// defaults now.
utils::Style resolved_style(const OptionSet& options) noexcept;

/// Pushes the defaults of this Lua state (a userdata holding an OptionSet,
/// created on first use and kept in the registry, so that a module loaded
/// again shares them). The module functions hold it as their upvalue.
void push_defaults(lua_State* L);

/// The defaults at `index`, as push_defaults pushed them.
inline OptionSet& defaults_at(lua_State* L, int index) {
  return *static_cast<OptionSet*>(lua_touserdata(L, index));
}

/// set_defaults(options): what later `get_log` calls of this Lua state use for
/// the options they leave out; changes no logger made before.
int set_defaults(lua_State* L);

}  // namespace quelto
