// Logger objects and their methods.
#pragma once

#include "../lua/compat.h"

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

/// Pushes a new logger for `category`. Owns nothing, so a memory error it
/// raises skips nothing.
void push_logger(lua_State* L, log4cpp::Category* category);

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
/// recognise a logger). Each renders its message arguments into one message
/// and hands it to the category, unless the category's own priority filters
/// the call out.
extern const luaL_Reg* const kLoggerMethods;

}  // namespace quelto
