-- One log call (or loop of calls) with a very large input, in a process of
-- its own so that its peak resident memory can be read and bounded.
--   lua5.x large_input.lua deep|wide|long_string|many_calls
-- Prints the peak RSS before and after the call and exits non-zero when the
-- call raised, logged the wrong text or grew the process beyond its budget.
local q = require "quelto_internal"

local case = assert(arg[1], "usage: large_input.lua CASE")
local MB = 1024 * 1024

-- Peak resident set size of this process so far, in bytes.
local function peak_rss()
  for line in io.lines("/proc/self/status") do
    local kb = line:match("^VmHWM:%s*(%d+) kB")
    if kb then return tonumber(kb) * 1024 end
  end
  error("no VmHWM in /proc/self/status")
end

local function write_file(name, text)
  local f = assert(io.open(name, "w"))
  f:write(text)
  f:close()
end

local function read_file(name)
  local f = assert(io.open(name, "r"))
  local text = f:read("*a")
  f:close()
  return text
end

-- Records go to `sink` as "message<end>\n", so that they can be told apart.
local sink = os.tmpname()
local properties = os.tmpname()
local function configure(path)
  write_file(properties, table.concat({
    "log4cpp.rootCategory=DEBUG, sink",
    "log4cpp.appender.sink=FileAppender",
    "log4cpp.appender.sink.fileName=" .. path,
    "log4cpp.appender.sink.layout=PatternLayout",
    "log4cpp.appender.sink.layout.ConversionPattern=%m<end>%n",
  }, "\n"))
  q.configure(properties)
end

local function messages()
  local list = {}
  for message in read_file(sink):gmatch("(.-)<end>\n") do list[#list + 1] = message end
  return list
end

local function check(condition, text)
  if not condition then
    io.stderr:write(case, ": ", text, "\n")
    os.remove(sink)
    os.remove(properties)
    os.exit(1)
  end
end

local log = q.get_log("large")
local cases = {}

-- A table nested 1,000,000 deep: the dump stops at its depth bound and closes
-- every brace it opened around the marker.
function cases.deep()
  configure(sink)
  local deep = {}
  local t = deep
  for _ = 1, 1000000 do
    local inner = {}
    t[1] = inner
    t = inner
  end
  return function() log:info(deep) end, function()
    local m = messages()
    check(#m == 1, "expected one record, got " .. #m)
    local text = m[1]
    local _, opened = text:gsub("{", "")
    local _, closed = text:gsub("}", "")
    check(opened == closed, ("%d braces opened, %d closed"):format(opened, closed))
    local head, marker, tail = text:match("^(.-)({<stack limit>})(.*)$")
    check(marker ~= nil, "no stack-limit marker")
    local _, levels = head:gsub("{\n", "")
    check(levels == 200, "cut after " .. levels .. " levels, not 200")
    -- Each level closes on its own line at the indent of its opening line.
    local expected = {}
    for level = levels - 1, 0, -1 do expected[#expected + 1] = "\n" .. (" "):rep(level * 2) .. "}" end
    check(tail == table.concat(expected), "the braces after the marker are not closed level by level")
    check(head:sub(-(levels * 2)) == (" "):rep(levels * 2), "the marker is not at the innermost indent")
  end, 16 * MB
end

-- A table with 1,000,000 elements: every one is written, in order.
function cases.wide()
  configure(sink)
  local wide = {}
  for i = 1, 1000000 do wide[i] = i end
  return function() log:info(wide) end, function()
    local m = messages()
    check(#m == 1, "expected one record, got " .. #m)
    local text = m[1]
    check(text:sub(1, 10) == "{\n  1,\n  2", "unexpected start: " .. text:sub(1, 20))
    check(text:sub(-11) == "  1000000\n}", "unexpected end: " .. text:sub(-20))
    local _, lines = text:gsub("\n", "")
    check(lines == 1000001, lines .. " line breaks")
  end, 96 * MB  -- about 8 times the 11 MB message (see long_string)
end

-- A 100 MB string argument, logged to /dev/null (it is only counted).
function cases.long_string()
  configure("/dev/null")
  local long = ("0123456789abcdef"):rep(100 * MB / 16)
  -- The message exists a few times at once: the stream's buffer (grown by
  -- doubling), the string handed to log4cpp, log4cpp's event and its layout's
  -- text. Six times its size is the budget.
  return function() log:info("[", long, "]") end, function() end, 600 * MB
end

-- 100,000 log calls in a loop, each with a small table: memory stays flat.
function cases.many_calls()
  configure(sink)
  local t = { "x", n = 1 }
  return function()
    for i = 1, 100000 do
      t.n = i
      log:info("call ", i, " ", t)
    end
  end, function()
    local m = messages()
    check(#m == 100000, "expected 100000 records, got " .. #m)
    check(m[100000] == 'call 100000 {\n  "x",\n  n = 100000\n}', "last record: " .. m[100000])
  end, 16 * MB
end

local prepare = assert(cases[case], "unknown case " .. case)
local call, verify, budget = prepare()
collectgarbage()
local before = peak_rss()
local started = os.clock()
local ok, err = pcall(call)
local seconds = os.clock() - started
local after = peak_rss()
check(ok, "the call raised: " .. tostring(err))
verify()
print(("%s: peak RSS %.1f MB before the call, %.1f MB after (+%.1f MB, budget %d MB); %.2f s CPU")
  :format(case, before / MB, after / MB, (after - before) / MB, budget / MB, seconds))
check(after - before <= budget, "the call grew the peak RSS beyond its budget")
os.remove(sink)
os.remove(properties)
