-- The benchmark's data: a nested table of a given number of nodes, and an
-- independent rendering of the dump the module is expected to log for it.
local tree = {}

-- Entries per nested table such that four levels hold about `nodes`
-- entries (every fourth entry of a table above the last level is a table).
local function width_for(nodes)
  local w = 4
  while w + w * (w / 4) + w * (w / 4) ^ 2 + w * (w / 4) ^ 3 < nodes do w = w + 1 end
  return w
end

-- The string values of the mixed tree: words, other scripts, a path with
-- backslashes, quotes, a tab and a newline.
local mixed_strings = { "value ", "caf\195\169 cr\195\168me ", "\230\151\165\230\156\172\232\170\158 ",
                        "C:\\temp\\", 'say "hi" ', "tab\t", "line\nbreak ", "user@example.com " }

--- A table of exactly `nodes` entries, at most 4 levels deep, with string,
--- integer and float keys and string, integer, float, boolean and table values;
--- `mixed` takes the strings from the mix above instead of "value i".
function tree.make(nodes, mixed)
  local width, left = width_for(nodes), nodes
  local function fill(t, depth)
    for i = 1, depth == 1 and math.huge or width do
      if left == 0 then return end
      left = left - 1
      local key
      if i % 3 == 0 then key = "key" .. i
      elseif i % 3 == 1 then key = i
      else key = i + 0.5 end
      local kind = i % 4
      if kind == 0 and depth < 4 then
        local sub = {}
        t[key] = sub
        fill(sub, depth + 1)
      elseif kind == 0 or kind == 1 then
        t[key] = (mixed and mixed_strings[i % #mixed_strings + 1] or "value ") .. i
      elseif kind == 2 then t[key] = (i % 8 == 2) and i * 7 or i / 8
      else t[key] = (i % 2 == 1) end
    end
  end
  local root = {}
  fill(root, 1)  -- the top table takes whatever the levels below leave
  return root
end

-- math.type where numbers have an integer subtype; elsewhere the module's
-- rule: an integral value of at most 2^53 in magnitude is an integer.
local number_type = math.type or function(n)
  if type(n) ~= "number" then return nil end
  if n == math.floor(n) and n >= -2 ^ 53 and n <= 2 ^ 53 then return "integer" end
  return "float"
end

local function key_text(k)
  if number_type(k) == "integer" then return "" end
  if number_type(k) == "float" then return "[" .. string.format("%g", k) .. "] = " end
  if k:find("\n", 1, true) then return '["' .. k:gsub("\n", "\\n") .. '"] = ' end
  if k:find(" ", 1, true) then return '["' .. k .. '"] = ' end
  return k .. " = "
end

-- The escapes of control bytes, the backslash and the quote (the mixed
-- strings are valid UTF-8 with no other byte to escape).
local named = { ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t", ["\\"] = "\\\\", ['"'] = '\\"' }
local function escape(s)
  return (s:gsub('[%c\\"]', function(c) return named[c] or string.format("\\x%02x", c:byte()) end))
end

local function value_text(v, level, escaped)
  local kind = type(v)
  if kind == "table" then return tree.dump(v, level + 1, escaped) end
  if kind == "string" then return '"' .. (escaped and escape(v) or v) .. '"' end
  if number_type(v) == "float" then return string.format("%g", v) end
  return tostring(v)
end

--- The dump of a table of strings, numbers, booleans and tables (no cycles,
--- no metatables), in the order `next` yields its keys; with its strings
--- escaped when `escaped`. Its string keys are names.
function tree.dump(t, level, escaped)
  level = level or 0
  if next(t) == nil then return "{}" end
  local indent = string.rep("  ", level + 1)
  local lines = {}
  for k, v in next, t do
    lines[#lines + 1] = indent .. key_text(k) .. value_text(v, level, escaped)
  end
  return "{\n" .. table.concat(lines, ",\n") .. "\n" .. string.rep("  ", level) .. "}"
end

--- The same table in the line format.
function tree.line(t)
  local items, position = {}, 1
  for k, v in next, t do
    local key = k .. " = "
    if number_type(k) == "integer" and k == position then
      key, position = "", position + 1
    elseif number_type(k) then
      key = "[" .. string.format(number_type(k) == "float" and "%g" or "%d", k) .. "] = "
    end
    items[#items + 1] = key .. (type(v) == "table" and tree.line(v) or value_text(v, 0, true))
  end
  return "{" .. table.concat(items, ", ") .. "}"
end

-- JSON's text of a string, and of a number: floats in the fewest digits that
-- read back as the same double (every float of the tree has a fraction).
local json_named = { ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t", ["\b"] = "\\b",
                     ["\f"] = "\\f", ["\\"] = "\\\\", ['"'] = '\\"' }
local function json_string(s)
  return '"' .. s:gsub('[%c\\"]', function(c)
    return json_named[c] or string.format("\\u%04x", c:byte())
  end) .. '"'
end
local function json_number(n)
  if number_type(n) == "integer" then return string.format("%d", n) end
  for digits = 1, 17 do
    local text = string.format("%." .. digits .. "g", n)
    if tonumber(text) == n then return text end
  end
end
local function json_key(k)
  return type(k) == "string" and json_string(k) or '"' .. json_number(k) .. '"'
end
-- Whether the keys of `t` are exactly 1..n: then it is an array.
local function is_array(t)
  local count = 0
  for k in next, t do
    if number_type(k) ~= "integer" or k < 1 or k > #t then return false end
    count = count + 1
  end
  return count == #t
end
local function json_value(v)
  if type(v) == "table" then
    local items = {}
    if is_array(v) then
      for i = 1, #v do items[i] = json_value(v[i]) end
      return "[" .. table.concat(items, ",") .. "]"
    end
    for k, x in next, v do items[#items + 1] = json_key(k) .. ":" .. json_value(x) end
    return "{" .. table.concat(items, ",") .. "}"
  end
  if type(v) == "string" then return json_string(v) end
  if type(v) == "number" then return json_number(v) end
  return tostring(v)
end

--- The record of the JSON format for `t` as the only argument: its string
--- keys (none of the record's own names) as members, the others under args
--- (an object: the top table has keys other than 1..n).
function tree.json(t)
  local members, args = { '"msg":""' }, {}
  for k, v in next, t do
    local list = type(k) == "string" and members or args
    list[#list + 1] = json_key(k) .. ":" .. json_value(v)
  end
  if #args > 0 then members[#members + 1] = '"args":{' .. table.concat(args, ",") .. "}" end
  return "{" .. table.concat(members, ",") .. "}"
end

--- The number of entries in `t` and every table below it.
function tree.count(t)
  local n = 0
  for _, v in next, t do
    n = n + 1
    if type(v) == "table" then n = n + tree.count(v) end
  end
  return n
end

return tree
