// The logger methods that do not log: they read the category's name and
// priorities, or set its priority.
#pragma once

#include "../lua/compat.h"

namespace quelto {

/// is_enabled(priority), get_priority(), get_chained_priority(),
/// set_priority(priority), get_name(): registered into the logger metatable
/// with that metatable as their one upvalue, as the log methods are. A
/// priority argument is an integer, narrowed as `log` narrows it, or a name
/// that get_priority_map lists.
extern const luaL_Reg kCategoryMethods[];

}  // namespace quelto
