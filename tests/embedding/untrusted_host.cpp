// A host for scripts it does not trust: they may log, but not reach the
// functions that configure (`configure` and `configure_text`, which would let
// them create files and send datagrams; `reopen`, which a loop turns into a
// stall of every thread's logging), nor `set_priority`, which would let them
// silence any category.
//   untrusted_host [--trusted] SCRIPT [ARG...]
// --trusted registers the module as it is, with every standard library open:
// the same script then shows which ways to `configure` there are to close.
#include <quelto_internal.h>

#include <cstring>
#include <iostream>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <lua.hpp>

namespace {

// The module as untrusted scripts get it: the table without the functions
// that configure (any added later belongs on this list too), the loggers
// without `set_priority`. The entry point is called from here, so no script
// can reach it as a value.
int open_without_configure(lua_State* L) {
  luaopen_quelto_internal(L);  // the logger metatable, the module table on top
  for (const char* name : {"configure", "configure_text", "reopen"}) {
    lua_pushnil(L);
    lua_setfield(L, -2, name);
  }
  lua_pushnil(L);
  lua_setfield(L, -3, "set_priority");  // a method of every logger
  return 1;
}

// What a state for untrusted scripts opens: no io, os or debug, and the
// package library without its C loaders, through which a script could load
// quelto_internal.so afresh.
int open_untrusted(lua_State* L) {
  const luaL_Reg libs[] = {{"_G", luaopen_base},
                           {LUA_LOADLIBNAME, luaopen_package},
                           {LUA_STRLIBNAME, luaopen_string},
                           {LUA_TABLIBNAME, luaopen_table},
                           {LUA_MATHLIBNAME, luaopen_math}};
  for (const luaL_Reg& lib : libs) {
    luaL_requiref(L, lib.name, lib.func, 1);
    lua_pop(L, 1);
  }
  lua_getglobal(L, LUA_LOADLIBNAME);
  lua_pushnil(L);
  lua_setfield(L, -2, "loadlib");
  lua_getfield(L, -1, "searchers");  // preload, Lua files, C files, C all-in-one
  lua_pushnil(L);
  lua_rawseti(L, -2, 4);
  lua_pushnil(L);
  lua_rawseti(L, -2, 3);
  lua_pop(L, 2);  // searchers, package

  luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
  lua_pushcfunction(L, open_without_configure);
  lua_setfield(L, -2, "quelto_internal");
  lua_pop(L, 1);
  return 0;
}

int open_trusted(lua_State* L) {
  luaL_openlibs(L);
  luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
  lua_pushcfunction(L, luaopen_quelto_internal);
  lua_setfield(L, -2, "quelto_internal");
  lua_pop(L, 1);
  return 0;
}

// arg = {ARG...}, then the script.
int run(lua_State* L) {
  const int argc = static_cast<int>(lua_tointeger(L, 1));
  auto* argv = static_cast<char**>(lua_touserdata(L, 2));
  lua_createtable(L, argc, 0);
  for (int i = 1; i < argc; ++i) {
    lua_pushstring(L, argv[i]);
    lua_rawseti(L, -2, i);
  }
  lua_setglobal(L, "arg");
  if (luaL_loadfile(L, argv[0]) != LUA_OK) return lua_error(L);
  lua_call(L, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool trusted = argc > 1 && std::strcmp(argv[1], "--trusted") == 0;
  if (argc < (trusted ? 3 : 2)) {
    std::cerr << "usage: untrusted_host [--trusted] SCRIPT [ARG...]\n";
    return 2;
  }
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern("%p %c: %m%n");
  auto* appender = new log4cpp::OstreamAppender("out", &std::cout);
  appender->setLayout(layout);
  log4cpp::Category::getRoot().addAppender(appender);
  log4cpp::Category::getRoot().setPriority(log4cpp::Priority::INFO);

  lua_State* L = luaL_newstate();
  lua_pushcfunction(L, trusted ? open_trusted : open_untrusted);
  int status = lua_pcall(L, 0, 0, 0);
  if (status == LUA_OK) {
    const int first = trusted ? 2 : 1;  // the script's path
    lua_pushcfunction(L, run);
    lua_pushinteger(L, argc - first);
    lua_pushlightuserdata(L, argv + first);
    status = lua_pcall(L, 2, 0, 0);
  }
  if (status != LUA_OK) {
    const char* error = lua_tostring(L, -1);
    std::cerr << (error != nullptr ? error : "(an error that is no text)") << '\n';
  }
  lua_close(L);
  log4cpp::Category::shutdown();
  return status == LUA_OK ? 0 : 1;
}
