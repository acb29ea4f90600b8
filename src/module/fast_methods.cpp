#include "fast_methods.h"

#include <dlfcn.h>

#include <log4cpp/Category.hh>

#include "../lua/messages.h"
#include "../render/constants.h"
#include "logger.h"

#if LUA_VERSION_NUM == 501
#include "fast_methods_lua.h"  // kFastMethodsSource: fast_methods.lua, generated at build time
#endif

namespace quelto {
namespace {

// The API of 5.1, which LuaJIT shares: whether the host is LuaJIT is known
// only when the module loads.
#if LUA_VERSION_NUM == 501

// The gate, called through the FFI: whether the logger whose payload
// `logger` points to admits a call of `priority` (logger.h), the same answer
// the C methods act on. The Lua code gets its address, so it needs no
// exported symbol. A call the compiler cannot hoist out of a loop, taking no
// lock.
// A full userdata that the debug library gave the logger metatable passes
// the Lua code's check: one that does not hold its own address is admitted,
// so that the C method refuses it.
bool ask_gate(const void* logger, int priority) noexcept {
  const auto* payload = static_cast<const QueltoLogger*>(logger);
  return payload->self != payload || admits(*payload, priority);
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

// LuaJIT's LUA_GCISRUNNING, which the headers of Lua 5.1 lack: this code
// runs on LuaJIT only.
constexpr int kGcIsRunning = 9;

int open_libraries(lua_State* L) {
  lua_pushcfunction(L, luaopen_base);
  lua_call(L, 0, 0);
  lua_pushcfunction(L, luaopen_debug);
  lua_call(L, 0, 0);
  return 0;
}

// Pushes a table holding a copy of the base library and, as its field
// `debug`, of the debug library, which no script can reach: the methods check
// a logger with these, since a script may have replaced the globals `type`,
// `rawequal` or `debug.getmetatable`, or `package.loaded.debug`, before it
// loaded the module. They are opened on a thread whose globals are the new
// table, while the registry's _LOADED (package.loaded, where the libraries
// would find and fill the script's own tables) is a fresh table, with the
// collector stopped so that no finalizer sees that table. Pushes nil when
// they fail to open; raises a memory error before it changes anything.
void push_private_libraries(lua_State* L) {
  // Every push that can fail comes first, on this thread: a memory error on
  // the new one, outside a protected call, could not be caught.
  lua_State* opener = lua_newthread(L);  // thread
  lua_newtable(L);                       // thread, libraries
  lua_pushvalue(L, -1);
  lua_xmove(L, opener, 1);
  lua_replace(opener, LUA_GLOBALSINDEX);
  lua_pushcfunction(L, open_libraries);
  lua_xmove(L, opener, 1);
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");  // thread, libraries, loaded
  lua_newtable(L);                                // thread, libraries, loaded, fresh
  const bool collecting = lua_gc(L, kGcIsRunning, 0) != 0;
  lua_gc(L, LUA_GCSTOP, 0);
  lua_setfield(L, LUA_REGISTRYINDEX, "_LOADED");  // an existing key: allocates nothing
  const int status = lua_pcall(opener, 0, 0, 0);
  lua_setfield(L, LUA_REGISTRYINDEX, "_LOADED");  // the script's again
  if (collecting) lua_gc(L, LUA_GCRESTART, 0);
  if (status != LUA_OK) {
    lua_pop(L, 1);
    lua_pushnil(L);
  }
  lua_remove(L, -2);  // the thread
}

// Pushes `name` from the registry's table `table` (_LOADED is package.loaded,
// _PRELOAD package.preload) as it is, running no metamethod of the script's:
// nil when absent.
void push_entry(lua_State* L, const char* table, const char* name) {
  lua_getfield(L, LUA_REGISTRYINDEX, table);
  if (lua_type(L, -1) == LUA_TTABLE) {
    lua_pushstring(L, name);
    lua_rawget(L, -2);
  } else {
    lua_pushnil(L);
  }
  lua_replace(L, -2);
}

// Pushes the FFI library as package.loaded holds it. Where nothing holds it
// yet but package.preload still offers LuaJIT's own loader (so that `require
// "ffi"` would load it), it is loaded first by compiling a 64-bit literal, as
// LuaJIT's parser does: that loads the FFI only if it was never loaded, where
// its loader, run again once a script cleared package.loaded.ffi, would reset
// every ctype the state knows.
void push_ffi(lua_State* L) {
  push_entry(L, "_LOADED", "ffi");
  if (!lua_isnil(L, -1)) return;
  lua_pop(L, 1);
  push_entry(L, "_PRELOAD", "ffi");
  // LuaJIT's loader, looked up at run time: the same build loads into Lua
  // 5.1, which has none.
  const auto luaopen_ffi = reinterpret_cast<lua_CFunction>(dlsym(RTLD_DEFAULT, "luaopen_ffi"));
  const bool offered = luaopen_ffi != nullptr && lua_tocfunction(L, -1) == luaopen_ffi;
  lua_pop(L, 1);
  if (offered) {
    luaL_loadstring(L, "return 0LL");  // the chunk, or its error: not run
    lua_pop(L, 1);
  }
  push_entry(L, "_LOADED", "ffi");
}

#endif

}  // namespace

void install_fast_methods(lua_State* L, int metatable) {
#if LUA_VERSION_NUM == 501
  if (!lua::host_is_luajit(L)) return;
  metatable = lua_absindex(L, metatable);
  const int loaded = luaL_loadbuffer(L, kFastMethodsSource, sizeof kFastMethodsSource - 1,
                                     utils::kModuleChunkName);
  if (loaded != LUA_OK) return check(L, loaded);
  lua_pushvalue(L, metatable);
  lua_pushlightuserdata(L, reinterpret_cast<void*>(&ask_gate));
  lua_createtable(L, 0, kFixedPriorityMethods);
  for (const MethodPriority& method : kMethodPriorities) {
    lua_pushinteger(L, method.priority);
    lua_setfield(L, -2, method.name);
  }
  push_private_libraries(L);
  push_ffi(L);
  push_entry(L, "_LOADED", "jit");
  // How the FFI writes the function pointer made from that address: only the
  // FFI itself makes a value that writes so.
  lua_pushfstring(L, "cdata<bool (*)()>: %p", reinterpret_cast<void*>(&ask_gate));
  check(L, lua_pcall(L, 7, 0, 0));
#else
  static_cast<void>(L);
  static_cast<void>(metatable);
#endif
}

}  // namespace quelto
