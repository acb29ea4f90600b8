#include "fast_methods.h"

#include <log4cpp/Category.hh>

#include "logger.h"

namespace quelto {
namespace {

#if defined(QUELTO_LUAJIT)

// The gate's read, called through the FFI: the own priority of the logger
// whose payload `logger` points to. The Lua code below gets its address, so
// it needs no exported symbol. A plain read of the category, taking no lock.
int own_priority(const void* logger) noexcept {
  return static_cast<const QueltoLogger*>(logger)->category->getPriority();
}

// Called with the logger metatable, own_priority's address as a light
// userdata, and { method name = priority } for the fixed-priority methods.
constexpr char kSource[] = R"lua(
local metatable, own_priority_address, priorities = ...
local has_ffi, ffi = pcall(require, "ffi")
local has_debug, debug = pcall(require, "debug")
local has_jit, jit = pcall(require, "jit")
if not (has_ffi and has_debug) then return end
-- Interpreted, the FFI call alone costs more than the C method's filtered
-- call: with no JIT compiler running (built without one, or turned off
-- before the module is loaded) the C methods stay.
if not (has_jit and jit.status()) then return end

local getmetatable, rawequal, rawget, rawset, type =
  debug.getmetatable, rawequal, rawget, rawset, type
local own_priority = ffi.cast("int (*)(const void *)", own_priority_address)
local light = own_priority_address

-- What luaL_checkudata accepts as a logger: a full userdata whose metatable
-- (the real one: a __metatable field cannot fake it) is the logger metatable.
-- Light userdata are "userdata" too, but they all share one metatable; while
-- that is the logger metatable, no value passes here and the C methods decide.
local function is_logger(value)
  return type(value) == "userdata" and rawequal(getmetatable(value), metatable)
    and not rawequal(getmetatable(light), metatable)
end

-- The arguments are passed on as they came (`...`), so that the C method sees
-- the same count: an absent argument is "no value" in its errors, not nil.
local function fixed(priority, c_method)
  return function(...)
    local logger = ...
    if is_logger(logger) and own_priority(logger) < priority then return end
    return c_method(...)
  end
end

-- Settles only priorities that are numbers with an integral value in the
-- range of int, which the C method's conversion keeps unchanged; it converts
-- and checks every other value itself.
local function with_priority(c_method)
  return function(...)
    local logger, priority = ...
    if is_logger(logger) and type(priority) == "number" and priority % 1 == 0
        and priority >= -0x80000000 and priority <= 0x7fffffff
        and own_priority(logger) < priority then
      return
    end
    return c_method(...)
  end
end

for name, priority in pairs(priorities) do
  rawset(metatable, name, fixed(priority, rawget(metatable, name)))
end
rawset(metatable, "log", with_priority(rawget(metatable, "log")))
)lua";

#endif

}  // namespace

void install_fast_methods(lua_State* L, int metatable) {
#if defined(QUELTO_LUAJIT)
  metatable = lua_absindex(L, metatable);
  if (luaL_loadbuffer(L, kSource, sizeof kSource - 1, "=quelto_internal") != LUA_OK) {
    lua_pop(L, 1);  // the message of a memory error: the C methods stay
    return;
  }
  lua_pushvalue(L, metatable);
  lua_pushlightuserdata(L, reinterpret_cast<void*>(&own_priority));
  lua_createtable(L, 0, kFixedPriorityMethods);
  for (const MethodPriority& method : kMethodPriorities) {
    lua_pushinteger(L, method.priority);
    lua_setfield(L, -2, method.name);
  }
  // A failure can only be a memory error; the methods it did not reach stay C.
  if (lua_pcall(L, 3, 0, 0) != LUA_OK) lua_pop(L, 1);
#else
  static_cast<void>(L);
  static_cast<void>(metatable);
#endif
}

}  // namespace quelto
