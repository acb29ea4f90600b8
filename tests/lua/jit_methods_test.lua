-- The log methods on LuaJIT, where Lua functions settle filtered calls in
-- compiled code and hand every other call to the C methods: they must behave
-- exactly as the C methods do, compiled or interpreted. Elsewhere the C
-- methods are the methods.
local q = require "quelto_internal"
local capture = require "capture"
local host = require "host"

local unpack = host.unpack

local metatable = debug.getregistry().QueltoLogger
local priority_of = {
  debug = 700, info = 600, notice = 500, warn = 400, alert = 100,
  error = 300, critical = 200, emergency = 0, fatal = 0,
}
local method_names = { "log" }
for name in pairs(priority_of) do method_names[#method_names + 1] = name end
table.sort(method_names)

-- How many calls a loop makes: enough for LuaJIT to compile it (it records a
-- loop after 56 iterations) and to run the compiled trace for most of them.
local HOT = 300

local function method_kinds()
  local kinds = {}
  for _, name in ipairs(method_names) do
    kinds[name] = debug.getinfo(metatable[name], "S").what
  end
  return kinds
end

local function all(kind)
  local kinds = {}
  for _, name in ipairs(method_names) do kinds[name] = kind end
  return kinds
end

-- Loads the module again while `require "ffi"` fails, as on a LuaJIT built
-- without its FFI, and returns the methods that load leaves; then loads it
-- again as usual.
local function methods_without_ffi()
  local loaded, preload = package.loaded.ffi, package.preload.ffi
  package.loaded.ffi, package.preload.ffi = nil, nil
  package.loaded.quelto_internal = nil
  require "quelto_internal"
  local methods = {}
  for _, name in ipairs(method_names) do methods[name] = metatable[name] end
  package.loaded.ffi, package.preload.ffi = loaded, preload
  package.loaded.quelto_internal = nil
  require "quelto_internal"
  package.loaded.quelto_internal = q
  return methods
end

local c_methods = methods_without_ffi()

-- A value whose __tostring counts its calls.
local function probe()
  local p = { calls = 0 }
  return setmetatable(p, { __tostring = function(self)
    self.calls = self.calls + 1
    return "probe"
  end })
end

-- The outcome of calling `method(...)` HOT times with a probe added as its
-- last argument: its error (without the position) or the records and the
-- number of __tostring calls.
local function outcome(method, ...)
  capture.clear()
  local args = { n = select("#", ...) + 1, ... }
  local counter = probe()
  args[args.n] = counter
  local ok, err = pcall(function()
    for _ = 1, HOT do method(unpack(args, 1, args.n)) end
  end)
  if not ok then return { error = (tostring(err):gsub("^[^:]+:%d+: ", "")) } end
  return { records = capture.records(), rendered = counter.calls }
end

describe("the log methods", function()
  it("are Lua functions on LuaJIT with its FFI, the C methods elsewhere", function()
    assert.are.same(all(jit and "Lua" or "C"), method_kinds())
  end)

  it("are the C methods when loaded with LuaJIT's compiler off", function()
    if jit then jit.off() end
    package.loaded.quelto_internal = nil
    require "quelto_internal"
    local kinds = method_kinds()
    if jit then jit.on() end
    package.loaded.quelto_internal = nil
    require "quelto_internal"
    package.loaded.quelto_internal = q
    assert.are.same(all("C"), kinds)
    assert.are.same(all(jit and "Lua" or "C"), method_kinds())
  end)

  it("are the C methods when the FFI cannot be loaded, and still log", function()
    for _, name in ipairs(method_names) do
      assert.are.equal("C", debug.getinfo(c_methods[name], "S").what, name)
    end
    capture.configure("log4cpp.category.noffi=INFO")
    local log = q.get_log("noffi")
    c_methods.debug(log, "dropped")
    c_methods.info(log, "kept")
    c_methods.log(log, 500, "kept too")
    assert.are.same({ "kept", "kept too" }, capture.messages())
  end)
end)

-- What a script may do before it loads the module (or loads it again), each
-- undone by the function it returns. On LuaJIT a string that passed the
-- logger check would have its bytes read as a logger; a fake FFI would decide
-- which calls are filtered.
local G = getfenv and getfenv(0) or _G  -- the globals, not this file's environment
local real_type, real_getmetatable = type, debug.getmetatable
local function replacing(changes)  -- { { table, key, new value }, ... }
  return function()
    local old = {}
    for i, c in ipairs(changes) do old[i], c[1][c[2]] = c[1][c[2]], c[3] end
    return function() for i, c in ipairs(changes) do c[1][c[2]] = old[i] end end
  end
end
local function string_is_userdata(v)
  return real_type(v) == "string" and "userdata" or real_type(v)
end
local function logger_metatable_for_strings(v)
  if real_type(v) == "string" then return metatable end
  return real_getmetatable(v)
end
local filter_all = { cast = function() return function() return -1 end end }
local int64 = jit and loadstring("return 0LL")()
local sabotage = {
  ["type and rawequal"] = replacing { { G, "type", string_is_userdata },
                                      { G, "rawequal", function(a) return a ~= nil end } },
  ["type and getmetatable"] = replacing { { G, "type", string_is_userdata },
                                          { G, "getmetatable", logger_metatable_for_strings } },
  ["type and debug.getmetatable"] = replacing {
    { G, "type", string_is_userdata }, { debug, "getmetatable", logger_metatable_for_strings } },
  ["type and package.loaded.debug"] = replacing {
    { G, "type", string_is_userdata },
    { package.loaded, "debug", { getmetatable = logger_metatable_for_strings } } },
  ["a fake ffi in package.preload"] = replacing {
    { package.loaded, "ffi", nil }, { package.preload, "ffi", function() return filter_all end } },
  ["a fake ffi in package.loaded"] = replacing {
    { package.loaded, "ffi", int64 and { cast = function() return int64 end } or filter_all } },
}

describe("a logger check", function()
  for what, undo_after in pairs(sabotage) do
    it("that the script replaced " .. what .. " before loading takes only loggers", function()
      capture.configure("", "DEBUG")
      finally(function()
        package.loaded.quelto_internal = nil
        require "quelto_internal"
        package.loaded.quelto_internal = q
      end)
      local undo = undo_after()
      package.loaded.quelto_internal = nil
      local reloaded = pcall(require, "quelto_internal")
      undo()
      assert.is_true(reloaded)
      local log = q.get_log("sabotage")
      for _, name in ipairs(method_names) do
        local text = string.rep("x", 64)
        assert.are.same(outcome(c_methods[name], text, 700), outcome(metatable[name], text, 700))
        local fast = outcome(metatable[name], log, 100)
        assert.are.same(outcome(c_methods[name], log, 100), fast, name)
        assert.are.equal(HOT, #fast.records, name)
      end
    end)
  end
end)

-- Categories with each own priority; the root at INFO.
local function configure_own()
  capture.configure(table.concat({
    "log4cpp.category.own.emerg=EMERG",
    "log4cpp.category.own.error=ERROR",
    "log4cpp.category.own.info=INFO",
    "log4cpp.category.own.debug=DEBUG",
  }, "\n"), "INFO")
end

local modes = jit and { "on", "off" } or { "as built" }
for _, mode in ipairs(modes) do
  describe("with the JIT " .. mode, function()
    setup(function()
      if jit then
        jit[mode]()
        jit.flush()  -- no trace made before runs
      end
    end)

    it("renders a call exactly when the category's own priority admits it", function()
      configure_own()
      -- own.none has no priority of its own: every call is rendered, and
      -- log4cpp drops what the root's INFO does not let through.
      local own = { emerg = 0, error = 300, info = 600, debug = 700, none = 800 }
      for category, own_priority in pairs(own) do
        local log = q.get_log("own." .. category)
        for name, priority in pairs(priority_of) do
          local admitted = priority <= own_priority
          local got = outcome(metatable[name], log, name)
          assert.are.equal(admitted and HOT or 0, got.rendered, category .. " " .. name)
          local logged = admitted and (category ~= "none" or priority <= 600)
          assert.are.equal(logged and HOT or 0, #got.records, category .. " " .. name)
          got = outcome(metatable.log, log, priority, name)
          assert.are.equal(admitted and HOT or 0, got.rendered, category .. " log " .. priority)
        end
      end
    end)

    it("with the chained gate renders a call exactly when log4cpp writes it", function()
      configure_own()
      for _, category in ipairs({ "own.none", "own.error.x.y", "own.debug.z" }) do
        local log = q.get_log(category, { gate = "chained" })
        for name, priority in pairs(priority_of) do
          local admitted = log:is_enabled(priority) and HOT or 0
          local got = outcome(metatable[name], log, name)
          assert.are.same({ admitted, admitted }, { got.rendered, #got.records }, category .. name)
          got = outcome(metatable.log, log, priority, name)
          assert.are.equal(admitted, got.rendered, category .. " log " .. priority)
        end
      end
    end)

    it("hands log4cpp the same records as the C methods", function()
      configure_own()
      local log = q.get_log("own.debug")
      local nested = { 1, "two", { three = 3.5 }, [true] = false }
      local argument_lists = {
        { n = 0 },
        { n = 5, "a", 1, true, nil, nil },
        { n = 5, "%s%n", 2 ^ 53, -0.0, 1 / 0, 0 / 0 },
        { n = 3, nested, setmetatable({}, { __tostring = function() return "x" end }), "y" },
        { n = 3, log, print, coroutine.create(function() end) },
      }
      for _, name in ipairs(method_names) do
        for i, args in ipairs(argument_lists) do
          local function call(method)
            return function(logger)
              if name == "log" then return method(logger, 500, unpack(args, 1, args.n)) end
              return method(logger, unpack(args, 1, args.n))
            end
          end
          local fast = outcome(call(metatable[name]), log)
          local c = outcome(call(c_methods[name]), log)
          assert.are.same(c, fast, name .. " arguments " .. i)
          assert.are.equal(HOT, #fast.records, name .. " arguments " .. i)
        end
      end
    end)

    it("sees a priority changed between two calls", function()
      local log = q.get_log("own.changing")
      local counter = probe()
      local function loop(first, last, switch_at, properties)
        for i = first, last do
          if i == switch_at then capture.configure(properties, "INFO") end
          log:debug(counter)
        end
      end
      capture.configure("log4cpp.category.own.changing=INFO", "INFO")
      loop(1, HOT, HOT / 2, "log4cpp.category.own.changing=DEBUG")
      assert.are.equal(HOT / 2 + 1, counter.calls)
      counter.calls = 0
      loop(1, HOT, HOT / 2, "log4cpp.category.own.changing=WARN")
      assert.are.equal(HOT / 2 - 1, counter.calls)
      -- The chained gate, with an ancestor's priority set from Lua.
      log = q.get_log("own.changing.x.y", { gate = "chained" })
      counter.calls = 0
      for i = 1, HOT do
        if i == HOT / 2 then q.get_log("own.changing"):set_priority("DEBUG") end
        log:debug(counter)
      end
      assert.are.equal(HOT / 2 + 1, counter.calls)
    end)

    it("raises the C methods' error for anything that is not a logger", function()
      configure_own()
      local lookalike = {}
      for k, v in pairs(metatable) do lookalike[k] = v end
      lookalike.__index = lookalike
      local function userdata_with(mt)
        local file = io.tmpfile()
        file:close()
        debug.setmetatable(file, mt)
        return file
      end
      local not_loggers = {
        { "string", "text" },
        { "number", 5 },
        { "nil", nil },
        { "table", {} },
        { "table with the logger metatable", setmetatable({}, metatable) },
        { "table that reports the logger metatable",
          setmetatable({}, { __metatable = metatable }) },
        { "userdata with a copy of the metatable", userdata_with(lookalike) },
        { "userdata that reports the logger metatable",
          userdata_with({ __metatable = metatable, __index = metatable }) },
        { "a file", io.stdout },
      }
      if jit then not_loggers[#not_loggers + 1] = { "cdata", require("ffi").new("void *") } end
      for _, name in ipairs(method_names) do
        for _, case in ipairs(not_loggers) do
          local value = case[2]
          local fast = outcome(function(...) return metatable[name](value, ...) end, 700)
          local c = outcome(function(...) return c_methods[name](value, ...) end, 700)
          assert.are.same(c, fast, name .. " on " .. case[1])
          assert.is_string(fast.error, name .. " on " .. case[1])
        end
        local fast = outcome(function() return metatable[name]() end)
        assert.are.same(outcome(function() return c_methods[name]() end), fast, name)
      end
      -- Called as a method of a userdata whose metatable copies the methods.
      local c_lookalike = {}
      for k, v in pairs(lookalike) do c_lookalike[k] = v end
      for k, v in pairs(c_methods) do c_lookalike[k] = v end
      c_lookalike.__index = c_lookalike
      local fake, c_fake = userdata_with(lookalike), userdata_with(c_lookalike)
      for _, name in ipairs(method_names) do
        local fast = outcome(function() fake[name](fake, 700) end)
        assert.are.same(outcome(function() c_fake[name](c_fake, 700) end), fast, name)
      end
      local fake_type = host.names_userdata and "QueltoLogger" or "userdata"
      assert.are.equal("calling 'info' on bad self (QueltoLogger expected, got " .. fake_type .. ")",
                       outcome(function() fake:info() end).error)
      assert.are.equal("bad argument #1 to 'info' (QueltoLogger expected, got string)",
                       outcome(function(...) metatable.info(...) end, "text").error)
      assert.are.equal("bad argument #1 to 'debug' (QueltoLogger expected, got no value)",
                       outcome(function() metatable.debug() end).error)
    end)

    it("keeps the check and the narrowing of log's priority", function()
      configure_own()
      local log = q.get_log("own.info")
      local priorities = {
        700, 600, 700.0, 600.5, "700", "600", "6e2", "x", true, {},
        2 ^ 31 - 1, 2 ^ 31, -2 ^ 31, -2 ^ 31 - 1, 2 ^ 32 + 600, 2 ^ 32 + 700,
        2 ^ 53, 1e300, -1e300, 1 / 0, -1 / 0, 0 / 0, -0.0,
      }
      for _, priority in ipairs(priorities) do
        local fast = outcome(metatable.log, log, priority, "x")
        local c = outcome(c_methods.log, log, priority, "x")
        assert.are.same(c, fast, "priority " .. tostring(priority))
      end
      for _, absent in ipairs { function(m) m(log) end, function(m) m(log, nil) end } do
        assert.are.same(outcome(function() absent(c_methods.log) end),
                        outcome(function() absent(metatable.log) end))
      end
    end)
  end)
end

if jit then
  local util = require "jit.util"
  local vmdef = require "jit.vmdef"
  -- busted reads a test's globals through a recursive __index: a lookup
  -- while traces are watched can start a trace there that aborts.
  local jit_on, jit_flush, jit_attach, jit_opt = jit.on, jit.flush, jit.attach, jit.opt.start
  local pcall, format, tostring = pcall, string.format, tostring

  -- The traces LuaJIT makes while `fn(...)` runs, and its aborts, as text.
  local function traces_of(fn, ...)
    local traces, aborts, started_in = {}, {}, {}
    local function on_trace(what, tr, func, _, otr, oex)
      if what == "start" then
        started_in[tr] = func
      elseif what == "stop" then
        local info = util.traceinfo(tr)
        traces[#traces + 1] = { id = tr, in_fn = started_in[tr] == fn,
                                linktype = info.linktype, link = info.link }
      elseif what == "abort" then
        local ok, reason = pcall(format, vmdef.traceerr[otr] or "error %s", oex)
        aborts[#aborts + 1] = ok and reason or tostring(otr)
      end
    end
    jit_on()
    jit_flush()
    -- Setting hotloop resets every hot counter: code run earlier that
    -- shares a counter with `fn` cannot start a trace at its entry.
    jit_opt("hotloop=56")
    jit_attach(on_trace, "trace")
    fn(...)
    jit_attach(on_trace)
    return traces, aborts
  end

  describe("a hot loop with a filtered call on LuaJIT", function()
    setup(function() capture.configure("log4cpp.category.loop=INFO") end)

    local function debug_loop(log, n)
      local s = 0
      for i = 1, n do s = s + i % 7; log:debug("i=", i) end
      return s
    end
    local function log_loop(log, n)
      local s = 0
      for i = 1, n do s = s + i % 7; log:log(700, "i=", i) end
      return s
    end
    local chained = { gate = "chained" }
    local every_option = { format = "json", location = true, lazy = true, sort_keys = true,
                           max_bytes = 100 }
    for _, case in ipairs {
      { "log:debug", debug_loop, "loop" },
      { "log:log(700)", log_loop, "loop" },
      { "log:debug, chained gate", debug_loop, "loop.a.b.c", chained },
      { "log:log(700), chained gate", log_loop, "loop.a.b.c", chained },
      { "log:debug, a logger of with", debug_loop, "loop", nil, { request = "r1" } },
      { "log:log(700), chained gate, a logger of with", log_loop, "loop.a", chained, { n = 1 } },
      { "log:debug, every other option", debug_loop, "loop", every_option },
    } do
      local label, loop = case[1], case[2]
      it("with " .. label .. " compiles to one looping trace, with no stitch or abort", function()
        local log = q.get_log(case[3], case[4])
        if case[5] then log = log:with(case[5]) end
        local traces, aborts = traces_of(loop, log, 1000)
        assert.are.same({}, aborts)
        local in_loop = {}
        for _, trace in ipairs(traces) do
          assert.are_not.equal("stitch", trace.linktype, "trace " .. trace.id)
          if trace.in_fn then in_loop[#in_loop + 1] = trace end
        end
        assert.are.equal(1, #in_loop)
        assert.are.equal("loop", in_loop[1].linktype)
        assert.are.equal(in_loop[1].id, in_loop[1].link)
        assert.are.same({}, capture.messages())
      end)
    end
  end)
end
