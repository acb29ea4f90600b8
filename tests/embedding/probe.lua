-- Run by untrusted_host: looks for `configure`, `configure_text` and `reopen`
-- every way a script could and logs, for each way, which it found, and
-- whether loggers then have `set_priority` (all share one metatable, which a
-- load fills again).
--   probe.lua MODULE_DIR   (the directory of quelto_internal.so)
local module_dir = arg[1]
local q = require "quelto_internal"
local log = q.get_log("probe")

local function fresh_require()
  package.loaded.quelto_internal = nil
  return require "quelto_internal"
end

local ways = {
  { "the module table", function() return q end },
  { "require again", fresh_require },
  { "the preload entry", function() return package.preload.quelto_internal("quelto_internal") end },
  { "quelto_internal.so on package.cpath", function()
    package.preload.quelto_internal = nil
    package.cpath = module_dir .. "/?.so"
    return fresh_require()
  end },
  { "package.loadlib", function()
    return package.loadlib(module_dir .. "/quelto_internal.so", "luaopen_quelto_internal")()
  end },
}
for _, way in ipairs(ways) do
  local ok, module = pcall(way[2])
  local found = {}
  for _, name in ipairs({ "configure", "configure_text", "reopen" }) do
    local open = ok and type(module) == "table" and type(module[name]) == "function"
    found[#found + 1] = (open and "" or "no ") .. name
  end
  found[#found + 1] = (type(log.set_priority) == "function" and "" or "no ") .. "set_priority"
  log:info(way[1], ": ", table.concat(found, ", "))
end
