-- An HTTP service loaded into each of the server's threads, each with a Lua
-- state of its own. Every state configures log4cpp as it starts, as a script
-- written for one state would. /log?id=N logs a record for N through the
-- module; /configure configures again, from whichever thread takes it.
local q = require "quelto_internal"
local properties = os.getenv("QUELTO_SERVER_PROPERTIES")
local started, start_error = pcall(q.configure, properties)
local log = q.get_log("server")

local function respond(applet, status, body)
  applet:set_status(status)
  applet:add_header("content-length", tostring(#body))
  applet:start_response()
  applet:send(body)
end

core.register_service("quelto", "http", function(applet)
  if not started then return respond(applet, 500, "start: " .. tostring(start_error) .. "\n") end
  local id = tonumber(applet.qs:match("^id=(%d+)$"))
  if not id then return respond(applet, 400, "no id\n") end
  if applet.path == "/configure" then
    local ok, err = pcall(q.configure, properties)
    return respond(applet, ok and 200 or 500, ok and "configured\n" or tostring(err) .. "\n")
  end
  -- A new logger now and then, and a dump that spans lines.
  local logger = id % 7 == 0 and q.get_log("server.r" .. id) or log
  logger:info("req ", id, " ", { applet.method, id, tags = { "a", "b\nc" } })
  respond(applet, 200, "logged " .. id .. "\n")
end)
