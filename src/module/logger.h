// Logger objects and their methods.
#pragma once

#include <atomic>
#include <log4cpp/Priority.hh>

#include "../lua/compat.h"
#include "logger_options.h"

namespace log4cpp {
class Category;
}

namespace quelto {

/// Registry name of the logger metatable, and the loggers' type name.
inline constexpr char kLoggerType[] = "QueltoLogger";

/// The payload of a logger userdata. The category is borrowed from log4cpp,
/// which keeps every category for the life of the process; the options are
/// the logger's own, fixed when it is made, and those it was not given come
/// from the process-wide defaults at each call (logger_options.h). A logger
/// made by `with` holds its fields in the userdata's user value; its gate is
/// its parent's, and never looks at them.
struct QueltoLogger {
  // The block's own address: the LuaJIT methods, which cannot see a
  // userdata's size, take a block for a logger only where it holds this.
  const QueltoLogger* self;
  log4cpp::Category* category;
  /// The gate it filters by: `own_gate` when it was given one, else the
  /// process-wide default's word.
  const std::atomic<backend::Gate>* gate;
  mutable backend::GateCache gate_cache;  // what the chained gate found last
  std::atomic<backend::Gate> own_gate;
  OptionSet options;
  bool has_fields;  // a table of fields is the user value
};

/// Pushes a new logger for `category` with `options`, and with the table on
/// top as its fields when `fields` (which it pops). Owns nothing, so a
/// memory error it raises skips nothing.
void push_logger(lua_State* L, log4cpp::Category* category, const OptionSet& options,
                 bool fields = false);

/// The logger at argument 1 of a logger method, whose one upvalue is the
/// logger metatable; raises `luaL_checkudata`'s error for anything else.
inline QueltoLogger* check_logger(lua_State* L);

/// Whether the logger's gate admits a call of `priority` (backend/gate.h).
inline bool admits(const QueltoLogger& logger, int priority) noexcept {
  return backend::admits(*logger.category, *logger.gate, logger.gate_cache, priority);
}

/// A priority argument given as a number, narrowed to int as `log` does.
int check_priority_number(lua_State* L, int arg);

/// The methods that log at a priority of their own, in the order of
/// registration; `log` takes its priority from its argument.
struct MethodPriority {
  const char* name;
  int priority;
};
inline constexpr int kFixedPriorityMethods = 9;
inline constexpr MethodPriority kMethodPriorities[kFixedPriorityMethods] = {
    {"debug", log4cpp::Priority::DEBUG},   {"info", log4cpp::Priority::INFO},
    {"notice", log4cpp::Priority::NOTICE}, {"warn", log4cpp::Priority::WARN},
    {"alert", log4cpp::Priority::ALERT},   {"error", log4cpp::Priority::ERROR},
    {"critical", log4cpp::Priority::CRIT}, {"emergency", log4cpp::Priority::EMERG},
    {"fatal", log4cpp::Priority::FATAL},
};

/// The logger methods (those above, then `log`, then `with`), for
/// registration into the logger metatable with that metatable as their one
/// upvalue (how they recognise a logger). Each log method renders its message
/// arguments into one message and hands it to the category, unless the
/// logger's gate filters the call out. `with(fields)` returns a new logger
/// for the same category with the same options, carrying a copy of the
/// string-keyed entries of `fields` (merged over the logger's own, if it has
/// any).
extern const luaL_Reg* const kLoggerMethods;

// `luaL_checkudata` for argument 1, without its registry lookup by name on
// the way that every log call takes. Anything else goes to `luaL_checkudata`
// itself, which raises its own error (or accepts a userdata with the
// metatable that the registry holds under the name now).
inline QueltoLogger* check_logger(lua_State* L) {
  void* logger = lua_touserdata(L, 1);
  if (logger != nullptr && lua_getmetatable(L, 1)) {
    // Tables are equal when they are the same object; comparing their
    // addresses costs half of what lua_rawequal does.
    const bool is_logger = lua_topointer(L, -1) == lua_topointer(L, lua_upvalueindex(1));
    lua_pop(L, 1);
    // The debug library can give any userdata the logger metatable, and every
    // light userdata at once: a logger is also a block of a logger's size (a
    // light userdata has none).
    if (is_logger && lua_rawlen(L, 1) == sizeof(QueltoLogger)) {
      return static_cast<QueltoLogger*>(logger);
    }
    if (is_logger) luaL_argerror(L, 1, messages::kForgedLogger);
  }
  return static_cast<QueltoLogger*>(luaL_checkudata(L, 1, kLoggerType));
}

}  // namespace quelto
