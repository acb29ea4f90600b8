// The one place where the interpreters the module serves differ.
//
// The module is one source for Lua 5.1, 5.2, 5.3, 5.4 and LuaJIT, and for Lua
// compiled as C++. The build says which through definitions:
//   QUELTO_LUA_COMPAT53  5.1, 5.2 and LuaJIT: the 5.3 API through compat-5.3,
//                        compiled into the module under a prefix of its own
//   QUELTO_LUA_CPP       the host's Lua is compiled as C++: its API has C++
//                        linkage and its errors are C++ exceptions
// Lua 5.1 and LuaJIT share one API: one build serves both, and asks which
// it runs in when it loads (host_is_luajit).
// Every other file includes this header (through types.h) and writes to
// the 5.3 API; only the functions below know which interpreter is underneath.
#pragma once

#if defined(QUELTO_LUA_CPP)
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#elif defined(QUELTO_LUA_COMPAT53)
// compat-5.3.h declares its functions without a linkage of their own; they
// are compiled as C, so they are declared here as C. The headers it includes
// come first, so that only its own declarations land inside the block.
#include <climits>
#include <cstddef>
#include <cstring>
#include <lua.hpp>
extern "C" {
#include <compat-5.3.h>
}
#else
#include <lua.hpp>
#endif

#if defined(QUELTO_LUAJIT)
#include <cxxabi.h>
#endif

#include "messages.h"

namespace quelto::lua {

/// Whether a Lua error is a C++ exception (Lua compiled as C++) rather than a
/// longjmp. Its type is the interpreter's own: no handler of the module may
/// take it for one of the module's exceptions.
#if defined(QUELTO_LUA_CPP)
inline constexpr bool kErrorsAreExceptions = true;
#else
inline constexpr bool kErrorsAreExceptions = false;
#endif

/// Whether a Lua error unwinds the C++ frames it crosses, calling their
/// destructors and entering their `catch (...)`: Lua compiled as C++ throws
/// its errors, and LuaJIT raises them through the C++ unwinder as exceptions
/// foreign to C++. A function that may see one must not be noexcept.
#if defined(QUELTO_LUA_CPP) || defined(QUELTO_LUAJIT)
inline constexpr bool kErrorsUnwind = true;
#else
inline constexpr bool kErrorsUnwind = false;
#endif

/// Inside `catch (...)`: whether the exception is a Lua error, which must pass
/// on unchanged to the protected call that waits for it. LuaJIT's are the
/// only foreign exceptions the module meets (an API function that grows the
/// stack, such as `lua_checkstack`, may raise one).
inline bool handling_lua_error() noexcept {
#if defined(QUELTO_LUA_CPP)
  return true;
#elif defined(QUELTO_LUAJIT)
  return abi::__cxa_current_exception_type() == nullptr;
#else
  return false;
#endif
}

/// The largest magnitude up to which a double holds every integer exactly: 2^53.
inline constexpr double kExactIntegerLimit = 9007199254740992.0;

/// Whether the number at `index` is written as an integer, and which. On 5.3
/// and 5.4 that is a number of the integer subtype. Interpreters without one
/// have only doubles: there a double with an integral value of magnitude up to
/// 2^53 counts as an integer, and every other double (2^53 + 2, 1e16, inf,
/// nan) is written as a float, as the integer subtype would never hold it.
inline bool integer_value(lua_State* L, int index, long long* value) {
#if LUA_VERSION_NUM >= 503
  if (!lua_isinteger(L, index)) return false;
  *value = static_cast<long long>(lua_tointegerx(L, index, nullptr));
  return true;
#else
  const double number = lua_tonumber(L, index);
  // Compared before any conversion: a cast of a larger double is undefined.
  if (!(number >= -kExactIntegerLimit && number <= kExactIntegerLimit)) return false;
  const auto integer = static_cast<long long>(number);
  if (static_cast<double>(integer) != number) return false;
  *value = integer;
  return true;
#endif
}

/// Whether the number at `index` has an integral value that a 64-bit integer
/// holds, and which: the API's rule for an integer argument, under which
/// `11.0` is 11 on every interpreter. Unlike `check_integer`, it never
/// truncates a fraction and never raises.
inline bool integral_value(lua_State* L, int index, long long* value) {
#if LUA_VERSION_NUM >= 503
  int converted = 0;
  const lua_Integer integer = lua_tointegerx(L, index, &converted);
  *value = static_cast<long long>(integer);
  return converted != 0;
#else
  const double number = lua_tonumber(L, index);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(number >= -kLimit && number < kLimit)) return false;
  const auto integer = static_cast<long long>(number);
  if (static_cast<double>(integer) != number) return false;
  *value = integer;
  return true;
#endif
}

/// Whether the host is LuaJIT rather than Lua 5.1, told apart by a type only
/// LuaJIT has. False on every other interpreter.
bool host_is_luajit(lua_State* L);

/// `luaL_checkinteger` with 5.3's rule for numbers that no 64-bit integer
/// holds: NaN, the infinities and every number outside [-2^63, 2^63) raise
/// the bad-argument error for `arg`, where interpreters without an integer
/// subtype would convert them with undefined behaviour. Other numbers are the
/// host's: without an integer subtype, a fraction is truncated.
inline lua_Integer check_integer(lua_State* L, int arg) {
#if LUA_VERSION_NUM >= 503
  return luaL_checkinteger(L, arg);
#else
  const lua_Number number = luaL_checknumber(L, arg);
  constexpr lua_Number kLimit = 9223372036854775808.0;  // 2^63
  if (!(number >= -kLimit && number < kLimit)) luaL_argerror(L, arg, messages::kNoInteger);
  return static_cast<lua_Integer>(number);
#endif
}

/// Raises a Lua error when the host is not an interpreter the module was
/// built for. Lua 5.2 and later check themselves (`luaL_checkversion`); a
/// build for the API of 5.1 serves both 5.1 and LuaJIT.
void check_interpreter(lua_State* L);

}  // namespace quelto::lua
