-- The module beside lua-logging on the interpreter that runs this script:
-- a filtered call, an admitted call with scalars, a dump of 1000 nodes.
-- Prints one Markdown row per measure; make bench runs it with lua5.3,
-- lua5.4 and luajit, each with the module built for it.
--   INTERPRETER bench/interpreters.lua [rounds]
local q = require "quelto_internal"
local logging = require "logging"
local loggers = require "loggers"
local tree = require "tree"

local rounds = tonumber(arg[1]) or 7
local interpreter = type(jit) == "table" and jit.version or _VERSION
local clock = os.clock

local configure = loggers.point_at

local own = q.get_log("bench.own")
local chained = q.get_log("bench.a.b.c", { gate = "chained" })  -- root's INFO 4 levels up
local small = { 1, "two", three = 3.5 }
local t = tree.make(1000)

-- { name, expected text of one call, run(log, n) } in pairs: the module, the
-- peer; then the target of peer / quelto, if any.
local function chained_debug(_, n)
  for _ = 1, n do chained:debug("user ", 42, " logged in", small) end
end
local measures = {
  { "filtered call",
    { "quelto debug, own INFO", "", function(_, n)
      for _ = 1, n do own:debug("user ", 42, " logged in", small) end end },
    { "lua-logging disabled level", "", function(log, n)
      for _ = 1, n do log:debug("user ", 42, " logged in", small) end end } },
  { "filtered call, chained gate",
    { "quelto debug, chained gate", "", chained_debug },
    { "lua-logging disabled level", "", function(log, n)
      for _ = 1, n do log:debug("user ", 42, " logged in", small) end end } },
  { "chained gate / own gate",
    { "quelto debug, own INFO", "", function(_, n)
      for _ = 1, n do own:debug("user ", 42, " logged in", small) end end },
    { "quelto debug, chained gate", "", chained_debug },
    jit and 2 or 1.2 },
  { "admitted scalar",
    { "quelto info", "user 42 logged in at 3.5\n", function(_, n)
      for _ = 1, n do own:info("user ", 42, " logged in at ", 3.5) end end },
    { "lua-logging info", "user 42 logged in at 3.5\n", function(log, n)
      for _ = 1, n do log:info("user %d logged in at %g", 42, 3.5) end end } },
  { "table dump, 1000 nodes",
    { "quelto info(t)", tree.dump(t) .. "\n", function(_, n)
      for _ = 1, n do own:info(t) end end },
    { "lua-logging info(t)", logging.tostring(t) .. "\n", function(log, n)
      for _ = 1, n do log:info(t) end end } },
}

-- Each case writes exactly its text once before it is timed.
local function check(case)
  local path = os.tmpname()
  local log = configure(path)
  io.open(path, "w"):close()  -- drop what setting up wrote
  case[3](log, 1)
  local f = assert(io.open(path, "r"))
  local got = f:read("*a")
  f:close()
  os.remove(path)
  if got ~= case[2] then
    io.stderr:write(("%s on %s wrote %q, not %q\n"):format(case[1], interpreter,
                                                           got:sub(1, 80), case[2]:sub(1, 80)))
    os.exit(1)
  end
end

local function calibrate(log, case)
  local n = 1
  while true do
    local t0 = clock()
    case[3](log, n)
    local spent = clock() - t0
    if spent >= 0.01 then return math.max(1, math.floor(n * 0.04 / spent)) end
    n = n * 4
  end
end

local function median(values)
  table.sort(values)
  local m = math.floor(#values / 2)
  if #values % 2 == 1 then return values[m + 1] end
  return (values[m] + values[m + 1]) / 2
end

local function show(seconds)
  if seconds >= 1e-3 then return ("%.2f ms"):format(seconds * 1e3) end
  if seconds >= 1e-6 then return ("%.2f µs"):format(seconds * 1e6) end
  return ("%.0f ns"):format(seconds * 1e9)
end

for _, measure in ipairs(measures) do
  local ours, peer = measure[2], measure[3]
  check(ours)
  check(peer)
  local log = configure("/dev/null")
  local n_ours, n_peer = calibrate(log, ours), calibrate(log, peer)
  local ratio, t_ours, t_peer = {}, {}, {}
  for r = 1, rounds do
    local a, b = ours, peer
    local na, nb = n_ours, n_peer
    local t0 = clock()
    if r % 2 == 0 then b[3](log, nb) else a[3](log, na) end
    local t1 = clock()
    if r % 2 == 0 then a[3](log, na) else b[3](log, nb) end
    local t2 = clock()
    local ta = (r % 2 == 0 and t2 - t1 or t1 - t0) / na
    local tb = (r % 2 == 0 and t1 - t0 or t2 - t1) / nb
    t_ours[r], t_peer[r], ratio[r] = ta, tb, tb / ta
  end
  local target = measure[4] and (" (≤ %gx %s)"):format(measure[4],
                                                      median(ratio) <= measure[4] and "✓" or "✗")
  print(("| %s | %s | %s | %s | %s | %.2fx%s |"):format(interpreter, measure[1],
    show(median(t_ours)), peer[1], show(median(t_peer)), median(ratio), target or ""))
end
loggers.done()
