-- The two loggers the benchmarks compare, pointed at one file each in its
-- usual way: log4cpp (through the module's configure) with a FileAppender and
-- layout "%m%n", the root and bench.own (and the floor's bench.floor) at INFO;
-- lua-logging's file appender with pattern "%message\n" at INFO.
local q = require "quelto_internal"
local logging = require "logging"
require "logging.file"

local loggers = {}

local properties = os.tmpname()

--- Points both at `path`; returns the lua-logging logger.
function loggers.point_at(path)
  local f = assert(io.open(properties, "w"))
  f:write(table.concat({
    "log4cpp.rootCategory=INFO, sink",
    "log4cpp.category.bench.own=INFO",
    "log4cpp.category.bench.floor=INFO",
    "log4cpp.appender.sink=FileAppender",
    "log4cpp.appender.sink.fileName=" .. path,
    "log4cpp.appender.sink.layout=PatternLayout",
    "log4cpp.appender.sink.layout.ConversionPattern=%m%n",
    -- One record through each layout (cases.lua), to /dev/null.
    "log4cpp.category.bench.pattern=INFO, pattern",
    "log4cpp.additivity.bench.pattern=false",
    "log4cpp.appender.pattern=FileAppender",
    "log4cpp.appender.pattern.fileName=/dev/null",
    "log4cpp.appender.pattern.layout=PatternLayout",
    "log4cpp.appender.pattern.layout.ConversionPattern=%d %p %c %m%n",
    "log4cpp.category.bench.json=INFO, json",
    "log4cpp.additivity.bench.json=false",
    "log4cpp.appender.json=FileAppender",
    "log4cpp.appender.json.fileName=/dev/null",
    "quelto.appender.json.layout = json",
  }, "\n"))
  f:close()
  q.configure(properties)
  local lualog = logging.file(path, nil, "%message\n")
  lualog:setLevel(logging.INFO)  -- logs the change of level, before any check
  return lualog
end

--- Removes the properties file.
function loggers.done()
  os.remove(properties)
end

return loggers
