-- The admitted call of the asynchronous mode's targets, for an instruction
-- count of the calling thread alone (the writer's thread counted apart):
--   valgrind --tool=callgrind --separate-threads=yes lua5.3 bench/queued.lua MODE N
-- MODE "async" queues the records (a queue with room for all of them),
-- "sync" writes them at once; "%d %p %c %m%n" into a FileAppender to /dev/null.
local q = require "quelto_internal"
local mode, n = arg[1], tonumber(arg[2])
local properties = os.tmpname()
local f = assert(io.open(properties, "w"))
f:write(mode == "async" and "quelto.async = true\nquelto.async.queue = 16384\n" or "",
        "log4cpp.rootCategory=DEBUG, f\n",
        "log4cpp.appender.f=FileAppender\n",
        "log4cpp.appender.f.fileName=/dev/null\n",
        "log4cpp.appender.f.layout=PatternLayout\n",
        "log4cpp.appender.f.layout.ConversionPattern=%d %p %c %m%n\n")
f:close()
q.configure(properties)
os.remove(properties)
local log, name = q.get_log("bench"), "alice"
for _ = 1, n do log:info("user ", name, " logged in, attempts: ", 3) end
assert(q.flush())
