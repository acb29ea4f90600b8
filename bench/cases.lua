-- Every call the benchmark times, with the text each must write, and the
-- sinks they write to. Used by run.lua (timing), count.lua (instruction
-- counts) and memory.lua.
local q = require "quelto_internal"
-- The floors, a module built with the 5.3 benchmarks only (not for jit.lua).
local has_floor, floor = pcall(require, "bench_floor")
local logging = require "logging"
local loggers = require "loggers"
local inspect = require "inspect"
local tree = require "tree"

local cases = {}

local own = q.get_log("bench.own")          -- own priority INFO
local inherited = q.get_log("bench.inherit")  -- no priority of its own, root at INFO
-- One, four and eight levels below the root, none with a priority of its
-- own: the chained gate decides by the root's INFO.
local chained = q.get_log("bench.a.b.c", { gate = "chained" })
local chained_1 = q.get_log("bench", { gate = "chained" })
local chained_8 = q.get_log("bench.a.b.c.d.e.f.g", { gate = "chained" })
-- Loggers with every option beyond the gate, and loggers of with: their
-- filtered calls must cost what the plain logger's cost.
local every_option = { format = "json", location = true, lazy = true, sort_keys = true,
                       max_bytes = 4000, escape = true }
local own_options = q.get_log("bench.own", every_option)
local own_with = own:with({ request_id = "r1", user = "bob" })
local chained_with = chained:with({ request_id = "r1", user = "bob" })
-- One record through log4cpp's PatternLayout "%d %p %c %m%n" and through the
-- JSON layout, each a category of its own (loggers.lua).
local pattern_record = q.get_log("bench.pattern")
local json_record = q.get_log("bench.json")
local joiner = has_floor and floor.joiner("bench.floor")  -- own priority INFO
local empty_c = has_floor and floor.empty()
local empty_lua = setmetatable({}, { __index = { debug = function() end } })
local lualog, sink

--- Points every logger and writer at the file `path`, each in its usual
--- way: log4cpp's FileAppender with layout "%m%n", the pure-Lua logger's
--- file appender with pattern "%message\n", a line-buffered Lua file.
function cases.sink(path)
  lualog = loggers.point_at(path)
  if sink then sink:close() end
  sink = assert(io.open(path, "a"))
  sink:setvbuf("line")
  io.output(sink)
end

local small = { 1, "two", three = 3.5 }  -- the table argument of filtered calls

-- A case: `run(n)` makes the call n times; `expect` is what one call writes.
local function filtered(name, logger, expect)
  return { name = name, expect = expect or "", run = function(n)
    local log = logger()
    for _ = 1, n do log:debug("user ", 42, " logged in", small) end
  end }
end

local function scalar(name, run)
  return { name = name, expect = "user 42 logged in at 3.5\n", run = run }
end

cases.filtered = filtered("quelto debug, own INFO", function() return own end)
if has_floor then cases.empty_c = filtered("empty C function", function() return empty_c end) end
cases.empty_lua = filtered("empty Lua function", function() return empty_lua end)
cases.lualog_disabled = filtered("lua-logging disabled level", function() return lualog end)
cases.inherited = filtered("quelto debug, inherited INFO", function() return inherited end)
cases.chained = filtered("quelto debug, chained gate, root's INFO 4 levels up",
                         function() return chained end)
cases.chained_1 = filtered("quelto debug, chained gate, root's INFO 1 level up",
                           function() return chained_1 end)
cases.chained_8 = filtered("quelto debug, chained gate, root's INFO 8 levels up",
                           function() return chained_8 end)
cases.filtered_options = filtered("quelto debug, own INFO, every other option",
                                  function() return own_options end)
cases.filtered_with = filtered("quelto debug, own INFO, a logger of with",
                               function() return own_with end)
cases.chained_with = filtered("quelto debug, chained gate 4 levels up, a logger of with",
                              function() return chained_with end)

cases.admitted = scalar("quelto info", function(n)
  local log = own
  for _ = 1, n do log:info("user ", 42, " logged in at ", 3.5) end
end)
cases.floor = has_floor and scalar("log4cpp floor (C++ join + Category::log)", function(n)
  local log = joiner
  for _ = 1, n do log:info("user ", 42, " logged in at ", 3.5) end
end)
cases.lualog = scalar("lua-logging info", function(n)
  local log = lualog
  for _ = 1, n do log:info("user %d logged in at %g", 42, 3.5) end
end)
-- The same record through each layout, into /dev/null: nothing reaches the sink.
cases.layout_pattern = { name = "quelto info, PatternLayout \"%d %p %c %m%n\"", expect = "",
                         run = function(n)
  local log = pattern_record
  for _ = 1, n do log:info("user ", 42, " logged in at ", 3.5) end
end }
cases.layout_json = { name = "quelto info, the JSON layout", expect = "", run = function(n)
  local log = json_record
  for _ = 1, n do log:info("user ", 42, " logged in at ", 3.5) end
end }
cases.concat = scalar("io.write(table.concat{...})", function(n)
  local write, concat = io.write, table.concat
  for _ = 1, n do write(concat { "user ", 42, " logged in at ", 3.5, "\n" }) end
end)

-- The C function behind a logger method: the method itself where it is one,
-- else the C method to which LuaJIT's Lua method hands admitted calls.
local function c_method(name)
  local method = getmetatable(own)[name]
  if debug.getinfo(method, "S").what == "C" then return method end
  for i = 1, math.huge do
    local upvalue, value = debug.getupvalue(method, i)
    if upvalue == nil then break end
    if upvalue == "c_method" then return value end
  end
  error("no C function behind the method " .. name)
end

cases.filtered_c = { name = "quelto debug, its C function", expect = "", run = function(n)
  local log, debug_c = own, c_method("debug")
  for _ = 1, n do debug_c(log, "user ", 42, " logged in", small) end
end }

cases.admitted_c = scalar("quelto info, its C function", function(n)
  local log, info_c = own, c_method("info")
  for _ = 1, n do info_c(log, "user ", 42, " logged in at ", 3.5) end
end)

-- A hot loop, bare and with a filtered call; `cases.sum` keeps its result.
cases.loop = { name = "loop: s = s + i % 7", expect = "", run = function(n)
  local s = 0
  for i = 1, n do s = s + i % 7 end
  cases.sum = s
end }
-- The loop with a filtered log:debug on `logger`.
local function filtered_loop(name, logger)
  return { name = name, expect = "", run = function(n)
    local s, log = 0, logger
    for i = 1, n do
      s = s + i % 7
      log:debug("i=", i)
    end
    cases.sum = s
  end }
end
cases.loop_filtered = filtered_loop("the loop with log:debug(\"i=\", i)", own)
cases.loop_chained = filtered_loop("the loop with log:debug(\"i=\", i), chained gate", chained)
cases.loop_filtered_c = { name = "the loop with the C function's debug", expect = "",
                          run = function(n)
  local s, log, debug_c = 0, own, c_method("debug")
  for i = 1, n do
    s = s + i % 7
    debug_c(log, "i=", i)
  end
  cases.sum = s
end }

--- The dump cases for a table of `nodes` entries.
function cases.dump(nodes)
  local t = tree.make(nodes)
  return {
    nodes = nodes,
    quelto = { name = "quelto info(t), " .. nodes .. " nodes", expect = tree.dump(t) .. "\n",
               run = function(n) for _ = 1, n do own:info(t) end end },
    inspect = { name = "inspect(t) to a file", expect = inspect(t) .. "\n",
                run = function(n) for _ = 1, n do sink:write(inspect(t), "\n") end end },
    lualog = { name = "lua-logging info(t)", expect = logging.tostring(t) .. "\n",
               run = function(n) for _ = 1, n do lualog:info(t) end end },
  }
end

--- The dump, the escaped dump, the line format and the JSON format of a
--- table of `nodes` entries with mixed strings, each through a logger of its own.
function cases.mixed(nodes)
  local t = tree.make(nodes, true)
  local line = q.get_log("bench.own", { format = "line" })
  local escaped = q.get_log("bench.own", { escape = true })
  local json = q.get_log("bench.own", { format = "json" })
  return {
    dump = { name = "quelto info(t), " .. nodes .. " nodes, mixed strings",
             expect = tree.dump(t) .. "\n", run = function(n) for _ = 1, n do own:info(t) end end },
    line = { name = "format = \"line\"", expect = tree.line(t) .. "\n",
             run = function(n) for _ = 1, n do line:info(t) end end },
    escaped = { name = "escape = true", expect = tree.dump(t, 0, true) .. "\n",
                run = function(n) for _ = 1, n do escaped:info(t) end end },
    json = { name = "format = \"json\"", expect = tree.json(t) .. "\n",
             run = function(n) for _ = 1, n do json:info(t) end end },
  }
end

--- Runs `case` once into a scratch file and returns nil when it wrote
--- exactly what it should, or a description of the difference.
function cases.check(case)
  local path = os.tmpname()
  cases.sink(path)
  io.open(path, "w"):close()  -- drop what setting up wrote
  case.run(1)
  sink:flush()
  local f = assert(io.open(path, "r"))
  local got = f:read("*a")
  f:close()
  os.remove(path)
  cases.sink("/dev/null")
  if got == case.expect then return nil end
  local at = 1
  while got:sub(at, at) == case.expect:sub(at, at) do at = at + 1 end
  return string.format("%s: differs at byte %d: got %q, expected %q", case.name, at,
                       got:sub(at, at + 40), case.expect:sub(at, at + 40))
end

--- True when `logger:debug` renders its arguments (calls their __tostring).
function cases.renders_filtered(logger)
  local calls = 0
  local probe = setmetatable({}, { __tostring = function() calls = calls + 1; return "" end })
  local log = ({ inherited = inherited, chained = chained })[logger] or own
  log:debug(probe)
  return calls == 1
end

cases.sink("/dev/null")
return cases
