-- The user's guide shows what the module writes: every ```lua block that is
-- directly followed by a plain ``` block is run, and its output (records on
-- standard output, with print in between) must be that block's text, with
-- addresses masked. The ```sh block that runs the example host is checked
-- the same way, and so are the calls of the errors table. Keeps README.md
-- true as the module changes.
--   lua5.x guide_test.lua README BUILD_DIR [LUA_PROGRAM]
local readme_path, build_dir = arg[1], arg[2]
local lua = arg[3] or "lua5.3"

local passed, failed = 0, 0
local function check(name, expected, actual)
  if expected == actual then
    passed = passed + 1
    print("ok   " .. name)
  else
    failed = failed + 1
    print("FAIL " .. name)
    print("--- expected\n" .. expected .. "\n--- actual\n" .. actual .. "\n---")
  end
end

local function read(path)
  local f = assert(io.open(path, "r"))
  local text = f:read("*a")
  f:close()
  return text
end

local function write(path, text)
  local f = assert(io.open(path, "w"))
  f:write(text)
  f:close()
end

local function run(command)
  local p = assert(io.popen(command .. " 2>&1", "r"))
  local out = p:read("*a")
  p:close()
  return out
end

-- Addresses and the JSON layout's times change from run to run; the rest
-- must match exactly.
local function mask(text)
  return (text:gsub("0x%x+", "0x?")
              :gsub("%d%d%d%d%-%d%d%-%d%dT%d%d:%d%d:%d%d%.%d%d%d%d%d%dZ", "TIME")
              :gsub("\n$", ""))
end

-- The configuration the guide's records were made with: "%p %c: %m%n" to
-- standard output, the root at INFO, app.db with WARN of its own (the gate).
local properties = os.tmpname()
write(properties, table.concat({
  "log4cpp.rootCategory=INFO, out",
  "log4cpp.appender.out=ConsoleAppender",
  "log4cpp.appender.out.layout=PatternLayout",
  "log4cpp.appender.out.layout.ConversionPattern=%p %c: %m%n",
  "log4cpp.category.app.db=WARN",
}, "\n"))
local preamble = ('local q = require "quelto_internal"; q.configure(%q); '
                  .. 'local log = q.get_log("app"); '):format(properties)

-- The interpreter running this script, as the guide names it in the label of
-- an output block that holds its own output ("```5.1 5.2 luajit").
local interpreter = type(jit) == "table" and "luajit" or _VERSION:match("%d+%.%d+")

-- { lang, code, output, line } for each code block followed by an output
-- block: the one labelled with this interpreter, else the plain one.
local function examples(text)
  local found = {}
  local pos, line = 1, 1
  while true do
    local s, e, lang, code = text:find("```(%a+)\n(.-)```\n", pos)
    if not s then break end
    line = line + select(2, text:sub(pos, s):gsub("\n", ""))
    local os_, oe, output = text:find("^```\n(.-)```\n", e + 1)
    if os_ then
      e = oe
      while true do
        local ls, le, label, own = text:find("^```([%d. a-z]+)\n(.-)```\n", e + 1)
        if not ls then break end
        if (" " .. label .. " "):find(" " .. interpreter .. " ", 1, true) then output = own end
        e = le
      end
      found[#found + 1] = { lang = lang, code = code, output = output, line = line }
    end
    line = line + select(2, text:sub(s + 1, e):gsub("\n", ""))
    pos = e + 1
  end
  return found
end

-- The example host is built for 5.3 and 5.4 only.
local has_host = io.open(build_dir .. "/examples/host/quelto_host") ~= nil
local script = os.tmpname()
local lua_count, host_count = 0, 0
for _, ex in ipairs(examples(read(readme_path))) do
  local name = ("README.md:%d (%s)"):format(ex.line, ex.lang)
  if ex.lang == "lua" then
    lua_count = lua_count + 1
    write(script, preamble .. ex.code)
    -- The guide calls the script app.lua, where `location` names it.
    local out = run(lua .. " " .. script):gsub(script:gsub("%p", "%%%0"), "app.lua")
    check(name, mask(ex.output), mask(out))
  elseif ex.lang == "sh" and ex.code:match("^build/examples/host/quelto_host ") and has_host then
    host_count = host_count + 1
    local dir = readme_path:match("^(.*)/[^/]*$") or "."
    local command = ex.code:gsub("^build/", build_dir .. "/"):gsub("\n$", "")
    check(name, mask(ex.output), mask(run("cd '" .. dir .. "' && " .. command)))
  end
end
-- The minimal host of "Embedding in a C++ program" is the one the consumer
-- projects build and run (tests/embedding), word for word.
local readme_dir = readme_path:match("^(.*)/[^/]*$") or "."
local host_block = read(readme_path):match("\n```cpp\n(#include <quelto_internal.h>\n.-)```\n")
check("the guide's minimal host is tests/embedding/minimal_host.cpp",
      read(readme_dir .. "/tests/embedding/minimal_host.cpp"), host_block or "(no such block)")
-- The logrotate stanza of "Log rotation" is examples/logrotate.conf's, comments aside.
local stanza = read(readme_path):match("\n```conf\n(/var/log/app/app%.log {\n.-)```\n")
local conf = read(readme_dir .. "/examples/logrotate.conf"):gsub("[ ]*#[^\n]*\n", "")
check("the guide's logrotate stanza is examples/logrotate.conf", conf, stanza or "(no such block)")

-- The errors table: a row whose first cell starts with a call in backticks
-- names, as the first backticked text of its second cell, the error that the
-- call raises (run as a script of its own, position stripped).
local errors = read(readme_path):match("\n## Errors\n(.-)\n## ")
local error_count = 0
local cwd = run("mktemp -d"):gsub("\n$", "")  -- where no properties file exists
-- The table gives the texts of the interpreters with an integer subtype; the
-- others' differences are listed, and tested, where the guide names them.
if not math.type then errors = nil end
for call, message in (errors or ""):gmatch("\n| `([^`]+)`[^|]*| `([^`]+)`") do
  error_count = error_count + 1
  write(script, 'local q = require "quelto_internal"; local log = q.get_log("app"); ' .. call)
  local out = run("cd '" .. cwd .. "' && " .. lua .. " " .. script):match("^[^\n]*")
  check("error of " .. call, message, (out:gsub("^%S+: [^:]*:%d+: ", "")))
end
run("rmdir '" .. cwd .. "'")
os.remove(script)
os.remove(properties)

-- A guide whose examples could not be found would otherwise pass unchecked.
check("the guide's examples were found", "true",
      tostring(lua_count >= 11 and host_count == (has_host and 1 or 0)
               and (error_count >= 6 or not math.type)))

print(("%d passed, %d failed"):format(passed, failed))
os.exit(failed == 0 and 0 or 1)
