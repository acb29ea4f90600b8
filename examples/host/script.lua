-- Run by the embedding host: `build/examples/host/quelto_host examples/host/script.lua`.
-- The host has configured log4cpp already, so the script does not call
-- configure(); its loggers write into the host's appender.
local q = require "quelto_internal"

local log = q.get_log("script")
log:info("started with ", #arg, " arguments")
host.step("load the orders")  -- a record written by the host's C++ code
log:warn("late orders: ", { "A-17", "B-02", total = 3 })
log:debug("below the host's INFO threshold: dropped by log4cpp")
host.step("done")
