-- Logs JSON lines into a file through the JSON layout, as a service does
-- whose records rsyslog ships (json_shipping_test.sh): N requests, each a
-- logger of `with`, in the JSON format and in the dump, whose text lands in
-- msg; then an end marker.
--   lua5.x json_shipping.lua FILE N
local q = require "quelto_internal"
local file, n = arg[1], tonumber(arg[2])
q.configure_text(table.concat({
  "log4cpp.rootCategory=INFO, json",
  "log4cpp.appender.json=FileAppender",
  "log4cpp.appender.json.fileName=" .. file,
  "quelto.appender.json.layout = json",
  "quelto.defaults.format = json",
  "quelto.defaults.max_bytes = 60000",
}, "\n"))
local log = q.get_log("svc.http")
local dump = q.get_log("svc.legacy", { format = "dump" })
for i = 1, n do
  local request = log:with({ request_id = ("r%05d"):format(i), user = "u" .. i % 7 })
  request:info("GET /items/", i, { status = 200, ms = i / 8, tags = { "a", "b" } })
  if i % 50 == 0 then
    dump:warn("slow request ", i, " {\n  not = 'json'\n} \"quoted\" caf\195\169 \226\128\168")
  end
end
log:info("a long one ", { blob = ("x"):rep(100000) })  -- cut at max_bytes, valid still
log:notice("end of test")
