-- Logs records "id <n>" one after another until stop.flag appears in the
-- directory given, then prints how many it logged. Between records it
-- answers logrotate's scripts: reopen.flag asks for q.reopen(); pause.flag
-- asks it to stop logging (it answers with paused.flag) until the flag goes.
-- Like a daemon's main loop, it looks for the flags every 100 ms of its time,
-- logging on meanwhile.
local dir, properties = ...
local q = require "quelto_internal"
q.configure(properties)
local log = q.get_log("rotated")

local function exists(name)
  local file = io.open(dir .. "/" .. name)
  if file then file:close() end
  return file ~= nil
end

local n, look = 0, 0
while true do
  repeat
    n = n + 1
    log:info("id ", n)
  until os.clock() >= look
  look = os.clock() + 0.1
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
