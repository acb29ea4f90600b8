// The Lua side of the host: a state with the standard libraries, the module
// reachable through `require "quelto_internal"`, and one function of the host.
#pragma once

// Lua compiled as C++ has C++ linkage: its headers are included as they are.
#if defined(QUELTO_LUA_CPP)
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#elif defined(QUELTO_LUA_COMPAT53)
// LuaJIT: what it lacks of the 5.3 API comes from compat-5.3, which the
// module's objects linked into the host carry.
#include "lua/compat.h"
#else
#include <lua.hpp>
#endif

namespace host {

/// How `require` finds the module.
struct ModuleSource {
  /// Empty: the module linked into this program, through `package.preload`.
  /// Otherwise the value for `package.cpath`, where an installed
  /// quelto_internal.so is looked up.
  const char* cpath = nullptr;
};

/// A new state with the standard libraries, the module source set up and the
/// global table `host` with `host.step(text)`, which logs "step: text" at
/// NOTICE to the C++ category "host.step", and `host.set_priority(category,
/// name)`, which sets a category's priority ("DEBUG", "INFO", ...) from C++.
/// Null if the state cannot be made.
lua_State* new_state(ModuleSource source);

/// Runs the script at `path` with the global `arg` = { [0] = path, args... }.
/// Returns true on success; otherwise the error message with a traceback is
/// left in `error` (valid until the state is closed).
bool run_script(lua_State* L, const char* path, int argc, char** argv, const char** error);

}  // namespace host
