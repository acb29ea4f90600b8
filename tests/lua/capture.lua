-- Configures log4cpp through the module so that every record lands in a
-- temporary file, and reads the records back. With QUELTO_TEST_ASYNC=1 in
-- the environment, in the asynchronous mode: every suite runs again so.
local q = require "quelto_internal"

local capture = {}

--- Whether the suites run in the asynchronous mode.
capture.async = os.getenv("QUELTO_TEST_ASYNC") == "1"

local path = os.tmpname()
local properties = os.tmpname()

local function write_file(name, text)
  local f = assert(io.open(name, "w"))
  f:write(text)
  f:close()
end

--- Configures the root (at DEBUG unless `root` says otherwise) into the
--- capture file; `extra` adds lines.
function capture.configure(extra, root)
  write_file(properties, table.concat({
    "log4cpp.rootCategory=" .. (root or "DEBUG") .. ", capture",
    "log4cpp.appender.capture=FileAppender",
    "log4cpp.appender.capture.fileName=" .. path,
    "log4cpp.appender.capture.layout=PatternLayout",
    "log4cpp.appender.capture.layout.ConversionPattern=%p|%c|%m<end>%n",
    capture.async and "quelto.async = true" or "",
    extra or "",
  }, "\n"))
  q.configure(properties)
  capture.clear()
end

--- Forgets the records written so far.
function capture.clear()
  assert(q.flush(), "the queue did not drain")
  write_file(path, "")
end

--- The records since the last clear: { {priority=, category=, message=}, ... }.
function capture.records()
  assert(q.flush(), "the queue did not drain")
  local f = assert(io.open(path, "r"))
  local text = f:read("*a")
  f:close()
  local records = {}
  for priority, category, message in text:gmatch("(%u+)|([^|]*)|(.-)<end>\n") do
    records[#records + 1] = { priority = priority, category = category, message = message }
  end
  return records
end

--- The messages since the last clear, then clears.
function capture.messages()
  local messages = {}
  for i, record in ipairs(capture.records()) do messages[i] = record.message end
  capture.clear()
  return messages
end

--- The one message logged by `fn`.
function capture.message_of(fn)
  capture.clear()
  fn()
  local messages = capture.messages()
  assert(#messages == 1, "expected one record, got " .. #messages)
  return messages[1]
end

function capture.write_file(name, text) write_file(name, text) end

return capture
