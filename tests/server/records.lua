-- Checks a log file written by the server's service: every id of FIRST..LAST
-- exactly once, each record exactly the text the service logs for it.
--   lua5.3 records.lua LOG_FILE FIRST LAST
-- Prints "records: N, distinct: N, intact: N, unknown: N".
local path, first, last = arg[1], tonumber(arg[2]), tonumber(arg[3])
local file = assert(io.open(path, "rb"))
local text = file:read("a")
file:close()

local function expected(id)
  return ("req %d {\n  \"GET\",\n  %d,\n  tags = {\n    \"a\",\n    \"b\nc\"\n  }\n}"):format(id, id)
end

local seen, records, intact, unknown = {}, 0, 0, 0
local distinct = 0
for record in text:gmatch("(.-)<eor>\n") do
  records = records + 1
  local id = tonumber(record:match("^req (%d+) "))
  if id and id >= first and id <= last and record == expected(id) then
    intact = intact + 1
    if not seen[id] then distinct = distinct + 1 end
    seen[id] = true
  else
    unknown = unknown + 1
    io.stderr:write("unexpected record: ", record, "\n")
  end
end
if #text:gsub(".-<eor>\n", "") > 0 then
  unknown = unknown + 1
  io.stderr:write("unterminated record at the end\n")
end
print(("records: %d, distinct: %d, intact: %d, unknown: %d"):format(records, distinct, intact,
                                                                     unknown))
