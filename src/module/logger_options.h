// Logger options: what `get_log(name, options)` and `set_defaults(options)`
// accept, and the per-state defaults that fill in what a call leaves out.
#pragma once

#include "../backend/gate.h"
#include "../lua/compat.h"
#include "../render/style.h"

namespace quelto {

/// The options of one logger, held in its payload so that a log call reads
/// them without a table lookup. Adding an option is one field here and one
/// entry in the table of logger_options.cpp.
struct LoggerOptions {
  backend::Gate gate = backend::Gate::own;
  utils::Style style;  // format, escape, max_bytes
};

/// Reads the options table at `index` into `options`, option by option: those
/// it leaves out keep their value. Raises, before it changes anything, for a
/// value that is not a table (the host's argument error), an option name it
/// does not know, or a value the option does not take. Owns nothing, so a
/// raise skips nothing.
void read_options(lua_State* L, int index, LoggerOptions& options);

/// Pushes the defaults of this Lua state (a userdata holding LoggerOptions,
/// created on first use and kept in the registry, so that a module loaded
/// again shares them). The module functions hold it as their upvalue.
void push_defaults(lua_State* L);

/// The defaults at `index`, as push_defaults pushed them.
inline LoggerOptions& defaults_at(lua_State* L, int index) {
  return *static_cast<LoggerOptions*>(lua_touserdata(L, index));
}

/// set_defaults(options): what later `get_log` calls of this Lua state use for
/// the options they leave out; changes no logger made before.
int set_defaults(lua_State* L);

}  // namespace quelto
