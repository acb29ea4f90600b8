-- Every error path of the module, run under valgrind: each must release what
-- it built. Fails (exit 1) when a path does not raise as it should.
local q = require "quelto_internal"

local failures = 0
local function raises(expected, fn, ...)
  local ok, err = pcall(fn, ...)
  local text = tostring(err)
  if ok or (expected and not text:find(expected, 1, true)) then
    failures = failures + 1
    io.stderr:write("expected an error with '", tostring(expected), "', got ", tostring(ok), " ", text, "\n")
  end
end

local function object(tostring_fn)
  return setmetatable({}, { __tostring = tostring_fn })
end

local function nest(value, depth)
  local t = { value }
  for _ = 2, depth do t = { t, "sibling", n = 1.5 } end
  return t
end

raises("log4cpp configure failure: ", q.configure, "/nonexistent/quelto.properties")
q.configure("memcheck.properties")
q.configure("memcheck.properties")  -- a second configuration replaces the first
local log = q.get_log("memcheck")

for round = 1, 3 do
  -- __tostring raising a string, a table and nil, at top level and nested.
  for _, value in ipairs({ "boom", { code = round }, false }) do
    local thrower = object(function() error(value) end)
    raises(nil, log.info, log, "before ", 1.5, thrower, "after")
    for depth = 1, 20, 6 do
      raises(nil, log.info, log, "table ", nest(thrower, depth))
    end
  end
  -- __tostring returning a table (top level, nested) is no error; the log goes on.
  log:info(object(function() return {} end), "dropped")
  log:info(nest(object(function() return {} end), 5))
  -- Bad arguments.
  raises("QueltoLogger expected", log.info, "not a logger")
  raises("QueltoLogger expected", log.warn, nil)
  raises("bad argument #2", log.log, log, math.type and 2.5 or "high")  -- 5.1 truncates 2.5
  raises("bad argument #2", log.log, log)
  raises("Argument to get_log must be nil or a log module name", q.get_log, 5)
  raises("Argument to get_log must be nil or a log module name", q.get_log)
  raises("bad argument #1", q.configure, {})
  -- A table whose __tostring changes the table being dumped.
  local victim = {}
  for i = 1, 40 do victim["k" .. i] = i end
  victim.x = object(function()
    for k in pairs(victim) do victim[k] = nil end
    for i = 1, 200 do victim["n" .. i] = i end
    return "mutated"
  end)
  pcall(log.info, log, victim)
  -- A deep table and a cycle, for good measure.
  local cyc = { nest("leaf", 30) }
  cyc.self = cyc
  log:info(cyc)
end

log:info("still logging")
if failures > 0 then os.exit(1) end
