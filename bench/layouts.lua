-- Instructions per admitted call through each layout: the module's
-- PatternLayout against log4cpp's, under the module and under log4cpp's own
-- floor, with spdlog beside them, for two patterns; counted by callgrind as
-- the difference between runs of 2,000 and 12,000 calls, in one run.
--   lua5.3 bench/layouts.lua               (make bench sets the paths)
--   lua5.3 bench/layouts.lua count CASE N  one case's call N times, for callgrind
local q = require "quelto_internal"
local floor = require "bench_floor"
local timing = require "timing"

local patterns = {
  { key = "full", log4cpp = "%d %p %c %m%n", spdlog = "%Y-%m-%d %H:%M:%S,%e %l %n %v" },
  { key = "short", log4cpp = "%m%n", spdlog = "%v" },
}
local message = "user alice logged in, attempts: 3"

-- Every case writes into `path`: the module's configuration makes the
-- appenders of bench.layout.P.fast (whose layout becomes the module's); the
-- host's own (floor.attach) those of bench.layout.P.log4cpp (log4cpp's
-- layout) and bench.layout.P.host (the module's layout).
local function cases_into(path)
  local lines = { "log4cpp.rootCategory=INFO" }
  for _, p in ipairs(patterns) do
    local appender = "log4cpp.appender." .. p.key
    lines[#lines + 1] = "log4cpp.category.bench.layout." .. p.key .. ".fast=INFO, " .. p.key
    lines[#lines + 1] = "log4cpp.additivity.bench.layout." .. p.key .. ".fast=false"
    lines[#lines + 1] = appender .. "=FileAppender"
    lines[#lines + 1] = appender .. ".fileName=" .. path
    lines[#lines + 1] = appender .. ".layout=PatternLayout"
    lines[#lines + 1] = appender .. ".layout.ConversionPattern=" .. p.log4cpp
  end
  local properties = os.tmpname()
  local f = assert(io.open(properties, "w"))
  f:write(table.concat(lines, "\n"), "\n")
  f:close()
  q.configure(properties)
  os.remove(properties)

  local cases = {}
  local function call(name, logger, p)
    cases[#cases + 1] = { name = name, key = p.key, logger = logger, id = #cases + 1,
                          run = function(n)
                            local log, user = logger, "alice"
                            for _ = 1, n do log:info("user ", user, " logged in, attempts: ", 3) end
                          end }
  end
  for _, p in ipairs(patterns) do
    local prefix = "bench.layout." .. p.key
    floor.attach(prefix .. ".log4cpp", path, p.log4cpp, false)
    floor.attach(prefix .. ".host", path, p.log4cpp, true)
    call("quelto info, the module's layout", q.get_log(prefix .. ".fast"), p)
    call("quelto info, log4cpp's layout", q.get_log(prefix .. ".log4cpp"), p)
    call("log4cpp floor (C++ join + Category::log), log4cpp's layout",
         floor.joiner(prefix .. ".log4cpp"), p)
    call("log4cpp floor, the module's layout", floor.joiner(prefix .. ".host"), p)
    call("spdlog (C++ join + logger->info, buffered file sink)",
         floor.spdlog(prefix .. ".spdlog", path, p.spdlog), p)
  end
  return cases
end

-- What one call of `case` must write.
local function expected(case)
  if case.key == "short" then return "^" .. message:gsub("%p", "%%%0") .. "\n$" end
  local stamp = "%d%d%d%d%-%d%d%-%d%d %d%d:%d%d:%d%d,%d%d%d "
  local level = case.name:match("^spdlog") and "info" or "INFO"
  return "^" .. stamp .. level .. " bench%.layout%.full%.%w+ " .. message:gsub("%p", "%%%0") ..
         "\n$"
end

if arg[1] == "count" then
  for _, case in ipairs(cases_into("/dev/null")) do
    if case.id == tonumber(arg[2]) then
      case.run(tonumber(arg[3]))
      return
    end
  end
  error("no case " .. tostring(arg[2]))
end

-- Each case once into a scratch file: its exact line.
local failures = {}
local scratch = os.tmpname()
for _, case in ipairs(cases_into(scratch)) do
  io.open(scratch, "w"):close()
  case.run(1)
  if case.logger.flush then case.logger:flush() end
  local text = io.open(scratch):read("*a")
  if not text:match(expected(case)) then
    failures[#failures + 1] = string.format("%s (%s) wrote %q", case.name, case.key, text)
  end
end
os.remove(scratch)

local rows, order, counts = {}, {}, {}
for _, case in ipairs(cases_into("/dev/null")) do
  if not rows[case.name] then
    rows[case.name] = {}
    order[#order + 1] = case.name
  end
  local count = timing.instructions("layouts.lua", "count " .. case.id)
  rows[case.name][case.key] = count
  counts[case.id] = count
end
print('| instructions per call of `log:info("user ", name, " logged in, attempts: ", 3)` | ' ..
      "`%d %p %c %m%n` | `%m%n` |")
print("|---|---|---|")
local function text(n) return n and string.format("%.0f", n) or "not counted" end
for _, name in ipairs(order) do
  print(string.format("| %s | %s | %s |", name, text(rows[name].full), text(rows[name].short)))
end
local fast = rows["quelto info, the module's layout"]
local targets = { full = 6000, short = 4000 }
for _, p in ipairs(patterns) do
  local n = fast[p.key]
  print(string.format("target: quelto info with `%s` at most %d instructions: %s", p.log4cpp,
                      targets[p.key], n and (n <= targets[p.key] and "met" or "missed") or "?"))
end
if #failures > 0 then
  for _, f in ipairs(failures) do print("FAILED: " .. f) end
  os.exit(1)
end
print("every case's line checked")
