-- A local syslog appender configured again: the replaced appender closes the
-- process's one syslog connection, and the new one's records must still
-- carry its tag. Run with syslog_spy preloaded:
--   SYSLOG_SPY=FILE LD_PRELOAD=libsyslog_spy.so lua5.3 local_syslog_test.lua
local q = require "quelto_internal"
local spy = os.getenv("SYSLOG_SPY")
os.remove(spy)
local properties = os.tmpname()
local f = assert(io.open(properties, "w"))
f:write([[
log4cpp.rootCategory=INFO, sys
log4cpp.appender.sys=LocalSyslogAppender
log4cpp.appender.sys.syslogName=quelto-tag
log4cpp.appender.sys.layout=PatternLayout
log4cpp.appender.sys.layout.ConversionPattern=%m
]])
f:close()

local log = q.get_log("local")
q.configure(properties)
log:info("first")
for i = 1, 3 do
  q.configure(properties)
  log:info("after configure ", i)
end
os.remove(properties)

local records = {}
for line in io.lines(spy) do
  if line:match("^record") then records[#records + 1] = line end
end
local expected = { "record [quelto-tag] first", "record [quelto-tag] after configure 1",
                   "record [quelto-tag] after configure 2", "record [quelto-tag] after configure 3" }
local ok = #records == #expected
for i = 1, #expected do ok = ok and records[i] == expected[i] end
if not ok then
  io.stderr:write("expected:\n", table.concat(expected, "\n"), "\ngot:\n", table.concat(records, "\n"), "\n")
  os.exit(1)
end
print("4 passed, 0 failed")
