-- A tour of the message format. Run it with `make demo`.
local q = require "quelto_internal"

q.configure("demo.properties")

local log = q.get_log("app")
local db = q.get_log("app.db")

-- Scalars are joined with no separator; floats show 6 significant digits.
log:info("user ", "alice", " logged in from ", 42, " at load ", 1 / 3)
log:debug("flags: ", true, " ", false, " ", nil)
log:log(q.get_priority_map().NOTICE, "log() takes the priority as a number")

-- Tables are dumped with indentation; integer keys are not shown.
local request = {
  "GET", "/index.html",
  headers = { host = "example.org", ["user agent"] = "demo/1.0" },
  timing = { [0.5] = "half", total = 12.25 },
}
log:info("request: ", request)

-- A table that holds itself: the cycle is marked where it closes.
local node = { name = "loop" }
node.next = node
log:warn(node)

-- Objects speak through __tostring; without one they show type and address.
local point = setmetatable({ x = 1, y = 2 }, {
  __tostring = function(p) return ("Point(%d, %d)"):format(p.x, p.y) end,
})
log:notice(point, "after the point")
log:info({ origin = point, callback = print })

-- The database category is at INFO: this call costs next to nothing, and its
-- __tostring is never called.
db:debug(setmetatable({}, { __tostring = function() error("never rendered") end }))
db:error("connection lost after ", 3, " retries")
log:fatal("done")
