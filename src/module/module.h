// The module table's functions and the entry point.
#pragma once

#include "../../include/quelto_internal.h"  // the entry point, as hosts see it
#include "../render/lua_compat.h"

namespace quelto {

/// configure(path): sets log4cpp up from a properties file.
int configure(lua_State* L);

/// get_priority_map(): {EMERG = 0, ..., NOTSET = 800}, log4cpp's names.
int get_priority_map(lua_State* L);

}  // namespace quelto
