// Logger objects and the log calls.
#pragma once

#include "../render/lua_compat.h"

namespace log4cpp {
class Category;
}

namespace quelto {

/// Registry name of the logger metatable, and the loggers' type name.
inline constexpr char kLoggerType[] = "QueltoLogger";

/// The payload of a logger userdata. The category is borrowed from log4cpp,
/// which keeps every category for the life of the process.
struct QueltoLogger {
  log4cpp::Category* category;
};

/// The most dot-separated levels a category name may have. log4cpp creates
/// the parent of a new category by recursing once per level, so a deeper
/// name would run the native stack out; this one costs a few pages.
inline constexpr int kMaxNameLevels = 256;

/// get_log(name): a new logger for the root category (nil) or a named one
/// of at most kMaxNameLevels levels.
int get_log(lua_State* L);

/// logger:method(...): logs the arguments at priority P.
template <int P>
int quelto_log(lua_State* L);

/// logger:log(priority, ...): logs the arguments at the given priority.
int quelto_log_with_priority(lua_State* L);

/// The shared body of the log methods: with the logger at index 1 and the
/// message arguments above it, renders them into one message and hands it to
/// the category, unless the category's own priority filters the call out.
int log_args_with_priority(lua_State* L, QueltoLogger* logger, int priority);

/// The methods that log at a priority of their own, in the order of
/// registration; `log` takes its priority from its argument.
struct MethodPriority {
  const char* name;
  int priority;
};
inline constexpr int kFixedPriorityMethods = 9;
inline constexpr MethodPriority kMethodPriorities[kFixedPriorityMethods] = {
    {"debug", 700}, {"info", 600},     {"notice", 500},  {"warn", 400}, {"alert", 100},
    {"error", 300}, {"critical", 200}, {"emergency", 0}, {"fatal", 0},
};

/// The logger methods (those above, then `log`), for registration into the
/// logger metatable with that metatable as their one upvalue (how they
/// recognise a logger).
extern const luaL_Reg* const kLoggerMethods;

}  // namespace quelto
