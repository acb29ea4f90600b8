// Log methods that LuaJIT compiles into the caller's trace.
#pragma once

#include "../lua/compat.h"

namespace quelto {

/// On LuaJIT with its FFI, wraps each log method of the logger metatable at
/// `metatable` in a Lua function that settles a filtered call itself, with the
/// C method's check of the logger and its gate: the JIT then compiles a
/// filtered call into the caller's trace instead of leaving the trace for a C
/// call. Admitted calls, and calls on anything that is not a logger, go on to
/// the C method. Elsewhere, when the FFI cannot be loaded, or when LuaJIT's
/// compiler is off as the module loads, the C methods stay. Raises nothing
/// but a memory error; leaves the stack as it found it.
void install_fast_methods(lua_State* L, int metatable);

}  // namespace quelto
