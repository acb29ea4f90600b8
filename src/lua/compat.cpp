#include "compat.h"

#include <cstring>

namespace quelto::lua {

bool host_is_luajit(lua_State* L) {
#if LUA_VERSION_NUM == 501
  // Type code 10 is LuaJIT's cdata; Lua 5.1 names its internal upvalue type there.
  constexpr int kCdataType = 10;
  return std::strcmp(lua_typename(L, kCdataType), "cdata") == 0;
#else
  static_cast<void>(L);
  return false;
#endif
}

void check_interpreter(lua_State* L) {
#if LUA_VERSION_NUM == 501
  static_cast<void>(L);
#else
  luaL_checkversion(L);
#endif
}

}  // namespace quelto::lua
