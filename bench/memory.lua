-- Lua heap and resident memory across 100,000 admitted calls of each kind:
-- prints name=value pairs for run.lua.
local cases = require "cases"
local tree = require "tree"
local q = require "quelto_internal"

local function rss(field)
  for line in io.lines("/proc/self/status") do
    local kb = line:match("^" .. field .. ":%s*(%d+)")
    if kb then return tonumber(kb) end
  end
end

local log = q.get_log("bench.own")
local t = tree.make(50)
local kinds = {
  scalar = function(i) log:info("user ", i, " logged in at ", i / 4) end,
  table = function() log:info(t) end,
}
local retained, growth = 0, 0
for _, kind in ipairs { "scalar", "table" } do
  local call = kinds[kind]
  for i = 1, 1000 do call(i) end  -- warm: buffers, strings, the allocator
  collectgarbage("collect")
  local heap, resident = collectgarbage("count"), rss("VmRSS")
  for i = 1, 100000 do call(i) end
  collectgarbage("collect")
  local heap_kb, rss_kb = collectgarbage("count") - heap, rss("VmRSS") - resident
  print(string.format("%s_heap_kb=%.2f %s_rss_kb=%d %s_hwm_kb=%d", kind, heap_kb, kind, rss_kb,
                      kind, rss("VmHWM")))
  retained, growth = retained + heap_kb, growth + rss_kb
end
print(string.format("heap_retained_kb=%.2f rss_growth_kb=%d", retained, growth))
