-- Run by host_test.sh inside examples/host's program: records of the script
-- and of the host's C++ code alternate, and must come out in that order.
local q = require "quelto_internal"
local app = q.get_log("app")
local db = q.get_log("app.db")

app:info("script sees ", #arg, " arguments: ", table.concat(arg, ","))
host.step("one")
db:error("table ", { rows = 2 })
host.step("two")
-- The host set INFO on the root only: app.db has no priority of its own, so the
-- module renders this call (the __tostring runs) and log4cpp drops the record.
local rendered = 0
db:debug(setmetatable({}, { __tostring = function() rendered = rendered + 1 return "hidden" end }))
app:log(q.get_priority_map().NOTICE, "rendered debug calls: ", rendered)
q.get_log(nil):fatal("root, last")
if arg[1] == "fail" then error("failing on request") end
