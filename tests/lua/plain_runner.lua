-- Runs a busted test file where busted itself cannot run: in a host whose Lua
-- is compiled as C++, the C modules busted needs (built against Lua as C)
-- do not load. It offers what the test files use (describe, it, setup,
-- finally and luassert's assert) and reports like busted: "N successes / N failures".
--   HOST plain_runner.lua TEST_FILE
local assert_lib = require "luassert"

local file = assert(arg[1], "usage: plain_runner.lua TEST_FILE")
local passed, failed = 0, 0
local names = {}

local function run_protected(name, fn)
  local ok, err = xpcall(fn, debug.traceback)
  if ok then
    passed = passed + 1
    io.write("ok   ", name, "\n")
  else
    failed = failed + 1
    io.write("FAIL ", name, "\n", tostring(err), "\n")
  end
end

-- setup runs once per describe block, before its first test, as busted's does.
local env = setmetatable({ assert = assert_lib }, { __index = _G })
local pending_setup = {}

function env.describe(name, body)
  names[#names + 1] = name
  pending_setup[#names] = {}
  body()
  pending_setup[#names] = nil
  names[#names] = nil
end

function env.setup(fn)
  local list = pending_setup[#names]
  list[#list + 1] = fn
end

-- finally(fn) runs fn once the test that called it ends, passed or failed.
local finalizers

function env.finally(fn)
  finalizers[#finalizers + 1] = fn
end

function env.it(name, body)
  local full = table.concat(names, " ") .. " " .. name
  local setups = pending_setup[#names]
  finalizers = {}
  run_protected(full, function()
    while #setups > 0 do table.remove(setups, 1)() end
    local ok, err = xpcall(body, debug.traceback)
    for i = #finalizers, 1, -1 do finalizers[i]() end
    if not ok then error(err, 0) end
  end)
end

local chunk = assert(loadfile(file, "t", env))
chunk()
io.write(("%d successes / %d failures\n"):format(passed, failed))
os.exit(failed == 0 and 0 or 1)
