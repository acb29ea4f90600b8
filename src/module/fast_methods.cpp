#include "fast_methods.h"

#include <log4cpp/Category.hh>

#include "../lua/messages.h"
#include "gate.h"
#include "logger.h"

#if defined(QUELTO_LUAJIT)
#include "fast_methods_lua.h"  // kFastMethodsSource: fast_methods.lua, generated at build time
#endif

namespace quelto {
namespace {

#if defined(QUELTO_LUAJIT)

// The gate's read, called through the FFI: the priority the gate of the
// logger whose payload `logger` points to compares with (gate.h). The Lua
// code gets its address, so it needs no exported symbol. A call the compiler
// cannot hoist out of a loop, taking no lock.
int read_gate(const void* logger) noexcept {
  return gate_priority(*static_cast<const QueltoLogger*>(logger));
}

// A failure other than out of memory is a fault of the module's own: say so
// rather than run with methods half replaced. Out of memory, the C methods
// stay (or those it did not reach).
void check(lua_State* L, int status) {
  if (status == LUA_OK) return;
  if (status != LUA_ERRMEM) {
    const char* text = lua_tostring(L, -1);
    luaL_error(L, messages::kMethodsDoNotLoad, text != nullptr ? text : "(no message)");
  }
  lua_pop(L, 1);
}

#endif

}  // namespace

void install_fast_methods(lua_State* L, int metatable) {
#if defined(QUELTO_LUAJIT)
  metatable = lua_absindex(L, metatable);
  const int loaded =
      luaL_loadbuffer(L, kFastMethodsSource, sizeof kFastMethodsSource - 1, "=quelto_internal");
  if (loaded != LUA_OK) return check(L, loaded);
  lua_pushvalue(L, metatable);
  lua_pushlightuserdata(L, reinterpret_cast<void*>(&read_gate));
  lua_createtable(L, 0, kFixedPriorityMethods);
  for (const MethodPriority& method : kMethodPriorities) {
    lua_pushinteger(L, method.priority);
    lua_setfield(L, -2, method.name);
  }
  check(L, lua_pcall(L, 3, 0, 0));
#else
  static_cast<void>(L);
  static_cast<void>(metatable);
#endif
}

}  // namespace quelto
