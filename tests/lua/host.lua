-- What the tests need to know about the interpreter they run in, where the
-- interpreters themselves differ.
local host = {}

--- "5.1", "5.2", "5.3", "5.4" or "luajit".
host.name = type(jit) == "table" and "luajit" or _VERSION:match("%d+%.%d+")

--- Whether numbers have an integer subtype (5.3 and later).
host.integers = math.type ~= nil

--- Whether luaL_checkudata names a userdata by its metatable's __name (5.3 and later).
host.names_userdata = host.integers

host.pack = table.pack or function(...) return { n = select("#", ...), ... } end
host.unpack = table.unpack or unpack

--- The entry of `by_name` for this interpreter, else its `default`.
function host.pick(by_name)
  local value = by_name[host.name]
  if value == nil then value = by_name.default end
  return value
end

return host
