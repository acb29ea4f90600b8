-- Logs records "id <n>" one after another until stop.flag appears in the
-- directory given, then prints how many it logged. Between records it
-- answers logrotate's scripts: reopen.flag asks for q.reopen(); pause.flag
-- asks it to stop logging (it answers with paused.flag) until the flag goes.
local dir, properties = ...
local q = require "quelto_internal"
q.configure(properties)
local log = q.get_log("rotated")

local function exists(name)
  local file = io.open(dir .. "/" .. name)
  if file then file:close() end
  return file ~= nil
end

local n = 0
while true do
  for _ = 1, 10 do
    n = n + 1
    log:info("id ", n)
  end
  if exists("reopen.flag") then
    os.remove(dir .. "/reopen.flag")
    assert(q.reopen(), "reopen failed")
  end
  if exists("pause.flag") then
    io.open(dir .. "/paused.flag", "w"):close()
    while exists("pause.flag") do os.execute("sleep 0.01") end
  end
  if exists("stop.flag") then break end
end
print(n)
