#include "lua_host.h"

#include <quelto_internal.h>  // the module's entry point, linked into this program

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

namespace host {
namespace {

// host.step(text): a record of the host's own, written from C++.
int host_step(lua_State* L) {
  const char* text = luaL_checkstring(L, 1);  // may raise: nothing is owned yet
  // log4cpp may throw, and an exception must not unwind through the
  // interpreter; the Lua error is raised once the strings are gone.
  bool failed = false;
  try {
    log4cpp::Category::getInstance("host.step").notice(std::string("step: ") + text);
  } catch (...) {
    failed = true;
  }
  if (failed) return luaL_error(L, "host.step: logging failed");
  return 0;
}

// host.set_priority(category, name): what a service does from C++ when an
// operator turns a category's level up or down while scripts run. The module
// is told, so that chained gates below a category that gains a priority of
// its own see it (quelto_internal.h).
int host_set_priority(lua_State* L) {
  const char* category = luaL_checkstring(L, 1);  // may raise: nothing is owned yet
  const char* priority = luaL_checkstring(L, 2);
  bool failed = false;
  try {
    log4cpp::Category::getInstance(category).setPriority(
        log4cpp::Priority::getPriorityValue(priority));
    quelto_internal_priorities_changed();
  } catch (...) {  // an unknown priority name, or log4cpp failing
    failed = true;
  }
  if (failed) return luaL_error(L, "host.set_priority: cannot set %s to %s", category, priority);
  return 0;
}

// Everything below can raise a Lua error (a memory error at least), so it
// runs under lua_pcall rather than straight from C++.
int setup_state(lua_State* L) {
  const auto* source = static_cast<const ModuleSource*>(lua_touserdata(L, 1));
  luaL_openlibs(L);
  if (source->cpath != nullptr) {
    lua_getglobal(L, "package");
    lua_pushstring(L, source->cpath);
    lua_setfield(L, -2, "cpath");
  } else {
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");  // package.preload, on every Lua
    lua_pushcfunction(L, luaopen_quelto_internal);
    lua_setfield(L, -2, "quelto_internal");
  }
  lua_newtable(L);
  lua_pushcfunction(L, host_step);
  lua_setfield(L, -2, "step");
  lua_pushcfunction(L, host_set_priority);
  lua_setfield(L, -2, "set_priority");
  lua_setglobal(L, "host");
  return 0;
}

struct Script {
  const char* path;
  int argc;
  char** argv;
};

int run_protected(lua_State* L) {
  const auto* script = static_cast<const Script*>(lua_touserdata(L, 1));
  lua_createtable(L, script->argc, 1);
  lua_pushstring(L, script->path);
  lua_rawseti(L, -2, 0);
  for (int i = 0; i < script->argc; ++i) {
    lua_pushstring(L, script->argv[i]);
    lua_rawseti(L, -2, i + 1);
  }
  lua_setglobal(L, "arg");
  if (luaL_loadfile(L, script->path) != LUA_OK) return lua_error(L);
  lua_call(L, 0, 0);
  return 0;
}

int traceback(lua_State* L) {
  const char* message = lua_tostring(L, 1);
  if (message == nullptr) message = luaL_tolstring(L, 1, nullptr);
  luaL_traceback(L, L, message, 1);
  return 1;
}

}  // namespace

lua_State* new_state(ModuleSource source) {
  lua_State* L = luaL_newstate();
  if (L == nullptr) return nullptr;
  lua_pushcfunction(L, setup_state);
  lua_pushlightuserdata(L, &source);
  if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
    lua_close(L);
    return nullptr;
  }
  return L;
}

bool run_script(lua_State* L, const char* path, int argc, char** argv, const char** error) {
  Script script{path, argc, argv};
  lua_pushcfunction(L, traceback);
  lua_pushcfunction(L, run_protected);
  lua_pushlightuserdata(L, &script);
  if (lua_pcall(L, 1, 0, -3) == LUA_OK) {
    lua_pop(L, 1);  // the message handler
    return true;
  }
  *error = lua_tostring(L, -1);
  if (*error == nullptr) *error = "(error object is not a string)";
  return false;
}

}  // namespace host
