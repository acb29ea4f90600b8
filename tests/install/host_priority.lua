-- Run by host_priority_test.sh in examples/host's program: the host's C++ code
-- changes a category's priority between two calls of the script, and between
-- two runs of a loop that LuaJIT has compiled by then.
local q = require "quelto_internal"
local log = q.get_log("app")

host.set_priority("app", "INFO")
log:debug("a: dropped")
log:info("b: kept")
host.set_priority("app", "DEBUG")
log:debug("c: kept")
host.set_priority("app", "INFO")
log:debug("d: dropped")

local rendered = 0
local probe = setmetatable({}, { __tostring = function()
  rendered = rendered + 1
  return "probe"
end })
local function loop()
  for _ = 1, 300 do log:debug(probe) end
end
loop()
log:notice("rendered at INFO: ", rendered)
host.set_priority("app", "DEBUG")
loop()
log:notice("rendered at DEBUG: ", rendered)
host.set_priority("app", "INFO")
loop()
log:notice("rendered at INFO again: ", rendered)

-- The chained gate two levels below: a new priority of app is seen at once,
-- one given to app.x in between once the host tells the module.
local chained = q.get_log("app.x.y", { gate = "chained" })
chained:debug("e: dropped")
host.set_priority("app", "DEBUG")
chained:debug("f: kept")
host.set_priority("app", "WARN")
chained:info("g: dropped")
host.set_priority("app.x", "DEBUG")
chained:debug("h: kept")
