-- Log methods that LuaJIT compiles into the caller's trace (fast_methods.h).
-- Run once by the entry point, on LuaJIT builds only, with the logger
-- metatable, the address of the C function that reads the priority a logger's
-- gate compares with (a light userdata), and { method name = priority } for the
-- fixed-priority methods. Built into the module; every build checks that it
-- parses.
local metatable, gate_priority_address, priorities = ...
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
local gate_priority = ffi.cast("int (*)(const void *)", gate_priority_address)
local light = gate_priority_address

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
    if is_logger(logger) and gate_priority(logger) < priority then return end
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
        and gate_priority(logger) < priority then
      return
    end
    return c_method(...)
  end
end

for name, priority in pairs(priorities) do
  rawset(metatable, name, fixed(priority, rawget(metatable, name)))
end
rawset(metatable, "log", with_priority(rawget(metatable, "log")))
