-- Run by minimal_host: the host has set log4cpp up, the script only logs.
local q = require "quelto_internal"
local log = q.get_log("consumer")
log:warn("from the script: ", { 1, two = 2 })
log:info("and ", q.get_priority_map().INFO)
log:debug("dropped: the host's root priority is INFO")
