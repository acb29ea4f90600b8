-- Logs through examples/syslog.properties (its port changed to the test
-- daemon's) and ends with a marker record, which tells the test that every
-- record before it has arrived.
--   lua5.x syslog_test.lua PROPERTIES
local q = require "quelto_internal"
q.configure(arg[1])
local log = q.get_log("syslogtest")

for _, method in ipairs({ "emergency", "fatal", "alert", "critical", "error", "warn", "notice",
                          "info", "debug" }) do
  log[method](log, method, " record")
end
log:info("a dump ", { "x", 2.5, name = { true, "y", [0.5] = "two\nlines" } })
log:warn("100% %s intact ", -7, " ", 1 / 3, ' "quoted" [brackets] \\ tab\tend')
log:log(800, "NOTSET: above the category's DEBUG, dropped")
q.get_log("syslogtest.quiet"):info("the category's own WARN drops this")
q.get_log("syslogtest.quiet"):error("but not this")
log:notice("end of test")
