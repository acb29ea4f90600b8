#include "compat.h"

#include <cstring>

#include "messages.h"

namespace quelto::lua {
namespace {

#if LUA_VERSION_NUM == 501
// Type code 10 is LuaJIT's cdata; Lua 5.1 names its internal upvalue type there.
constexpr int kCdataType = 10;

bool host_is_luajit(lua_State* L) {
  return std::strcmp(lua_typename(L, kCdataType), "cdata") == 0;
}
#endif

}  // namespace

const char* built_for() {
#if defined(QUELTO_LUAJIT)
  return "LuaJIT";
#elif LUA_VERSION_NUM == 501
  return "Lua 5.1";
#elif LUA_VERSION_NUM == 502
  return "Lua 5.2";
#elif LUA_VERSION_NUM == 503
  return "Lua 5.3";
#else
  return "Lua 5.4";
#endif
}

void check_interpreter(lua_State* L) {
#if LUA_VERSION_NUM == 501
#if defined(QUELTO_LUAJIT)
  constexpr bool want_luajit = true;
#else
  constexpr bool want_luajit = false;
#endif
  if (host_is_luajit(L) != want_luajit) {
    luaL_error(L, messages::kWrongInterpreter, built_for(), want_luajit ? "Lua 5.1" : "LuaJIT");
  }
#else
  luaL_checkversion(L);
#endif
}

}  // namespace quelto::lua
