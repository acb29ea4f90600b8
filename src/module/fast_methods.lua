-- Log methods that LuaJIT compiles into the caller's trace (fast_methods.h).
-- Run once by the entry point, on LuaJIT builds only, with the logger
-- metatable, the address of the C function that tells whether a logger's gate
-- admits a priority (a light userdata), { method name = priority } for the
-- fixed-priority methods, a private copy of the base library with the debug
-- library as its field `debug` (nil when it did not open), the `ffi` and `jit`
-- that package.loaded holds (or nil), and the text the FFI writes for a
-- function pointer to that address. Built into the module; every build checks
-- that it parses.
--
-- Nothing a script can replace decides what reaches the FFI call: the globals
-- and package.loaded are the script's, so the checks below use the private
-- copies, and a function pointer counts only if it writes as the FFI writes
-- ours (a script without the FFI makes no value that does).
local metatable, gate_address, priorities, base, ffi, jit, pointer_text = ...
if base == nil then return end
local getmetatable, next, pcall, rawequal, rawget, rawset, tostring, type =
  base.debug.getmetatable, base.next, base.pcall, base.rawequal, base.rawget, base.rawset,
  base.tostring, base.type
if type(ffi) ~= "table" or type(jit) ~= "table" then return end
-- Interpreted, the FFI call alone costs more than the C method's filtered
-- call: with no JIT compiler running (built without one, or turned off
-- before the module is loaded) the C methods stay.
local asked, running = pcall(function() return jit.status() end)
if not (asked and running) then return end
local made, admits = pcall(function()
  return ffi.cast("bool (*)(const void *, int)", gate_address)
end)
if not (made and type(admits) == "cdata" and tostring(admits) == pointer_text) then
  return
end
local light = gate_address

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
    if is_logger(logger) and not admits(logger, priority) then return end
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
        and not admits(logger, priority) then
      return
    end
    return c_method(...)
  end
end

for name, priority in next, priorities do
  rawset(metatable, name, fixed(priority, rawget(metatable, name)))
end
rawset(metatable, "log", with_priority(rawget(metatable, "log")))
