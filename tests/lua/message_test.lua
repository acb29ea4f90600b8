-- The text of a log message, argument by argument.
local q = require "quelto_internal"
local capture = require "capture"
local host = require "host"

local function object(text)
  return setmetatable({}, { __tostring = function() return text end })
end


describe("a log message", function()
  local log
  setup(function()
    capture.configure()
    log = q.get_log("message")
  end)

  local function msg(...)
    local args = host.pack(...)
    return capture.message_of(function() log:info(host.unpack(args, 1, args.n)) end)
  end

  it("joins scalars with no separator", function()
    assert.are.equal("a1truenil", msg("a", 1, true, nil))
    assert.are.equal("", msg())
    if host.integers then
      assert.are.equal("false-9223372036854775808", msg(false, math.mininteger))
    end
  end)

  it("writes floats with 6 significant digits", function()
    -- Without an integer subtype, a float with an integral value up to 2^53
    -- is an integer.
    assert.are.equal(host.integers and "0.1 0.333333 3 1e+06 9.0072e+15 1e-05 -0 inf -inf"
                                   or "0.1 0.333333 3 1000000 9007199254740992 1e-05 0 inf -inf",
      msg(0.1, " ", 1 / 3, " ", 3.0, " ", 1e6, " ", 2.0 ^ 53, " ", 0.00001, " ", -0.0, " ",
          math.huge, " ", -math.huge))
  end)

  it("writes integers exactly where the interpreter has them, floats elsewhere", function()
    -- { value, text with an integer subtype, text without one }
    local rows = {
      { 2 ^ 53, "9.0072e+15", "9007199254740992" },
      { -2 ^ 53, "-9.0072e+15", "-9007199254740992" },
      { 2 ^ 53 + 2, "9.0072e+15", "9.0072e+15" },
      { -2 ^ 53 - 2, "-9.0072e+15", "-9.0072e+15" },
      { 1e16, "1e+16", "1e+16" },
      { 2 ^ 60, "1.15292e+18", "1.15292e+18" },
      { 2 ^ 63, "9.22337e+18", "9.22337e+18" },
      { -2 ^ 63, "-9.22337e+18", "-9.22337e+18" },
      { 2 ^ 64, "1.84467e+19", "1.84467e+19" },
      { 1e300, "1e+300", "1e+300" },
      { 123456789, "123456789", "123456789" },
      { -7, "-7", "-7" },
      { 2.5, "2.5", "2.5" },
    }
    for _, row in ipairs(rows) do
      assert.are.equal(host.integers and row[2] or row[3], msg(row[1]), row[2])
    end
    -- Keys follow the same rule where the interpreter keeps float keys;
    -- 5.3 and later turn every integral float key into an integer key.
    assert.are.equal("{\n  2\n}", msg({ [2 ^ 53] = 2 }))
    assert.are.equal(host.integers and "{\n  1\n}" or "{\n  [1.15292e+18] = 1\n}",
                     msg({ [2 ^ 60] = 1 }))
    assert.are.equal(host.integers and "{\n  3\n}" or "{\n  [-9.0072e+15] = 3\n}",
                     msg({ [-2 ^ 53 - 2] = 3 }))
  end)

  it("takes strings raw up to their first NUL", function()
    assert.are.equal("a", msg("a\0b"))
    assert.are.equal("two\nlines", msg("two\nlines"))
  end)

  it("never reads the message as a format", function()
    assert.are.equal("100%s done %n %d %%", msg("100%s done %n %d %%"))
  end)

  it("shows opaque values as type name and address", function()
    local fn = function() end
    assert.are.equal(tostring(fn), msg(fn))
    assert.truthy(msg(log):match("^QueltoLogger: 0x%x+$"))
    assert.truthy(msg(coroutine.create(function() end)):match("^thread: 0x%x+$"))
    assert.truthy(msg(io.stdout):match("^file %(0x%x+%)\n$"))  -- through __tostring
  end)

  if host.name == "luajit" then
    it("writes LuaJIT's cdata as type name and address, never through __tostring", function()
      local ffi = require "ffi"
      local array = ffi.new("int[2]")
      local int64 = ffi.new("int64_t", 5)  -- its metatable has a __tostring: "5LL"
      local function opaque(value)
        return ("cdata: 0x%x"):format(tonumber(ffi.cast("intptr_t", ffi.cast("void*", value))))
      end
      assert.are.equal(opaque(array), msg(array))
      assert.truthy(msg(int64):match("^cdata: 0x%x+$"))
      assert.are.equal("{\n  " .. opaque(array) .. "\n}", msg({ array }))
      assert.are.equal('{\n  ["' .. opaque(array) .. '"] = 1\n}', msg({ [array] = 1 }))
      assert.are.equal("a" .. opaque(array) .. "b", msg("a", array, "b"))
    end)
  end

  it("writes a __tostring result followed by a newline, unindented", function()
    assert.are.equal("x\ny", msg(object("x"), "y"))
    assert.are.equal("a\nb\n", msg(object("a\nb")))
    assert.are.equal("2.5\n", msg(object(2.5)))  -- the host's own text for the number
    assert.are.equal("1e+100\n", msg(object(1e100)))
  end)

  it("dumps tables", function()
    assert.are.equal(
      '{\n  "x",\n  2.5,\n  name = {\n    true,\n    "y"\n  }\n}',
      msg({ "x", 2.5, name = { true, "y" } }))
    assert.are.equal("t={}!", msg("t=", {}, "!"))
    local t = {}
    t.self = t
    assert.are.equal("{\n  self = {\n    self = <cycle>\n  }\n}", msg(t))
    assert.are.equal('{\n  "first\n    second"\n}', msg({ object("first\nsecond") }))
    assert.truthy(msg({ log }):match("^{\n  <QueltoLogger: 0x%x+>\n}$"))
  end)

  it("ends the message where a __tostring gives no text", function()
    local called = 0
    local later = setmetatable({}, { __tostring = function() called = called + 1 return "later" end })
    assert.are.equal("before ", msg("before ", object({}), "dropped", later, { later }))
    assert.are.equal(2, called)  -- later arguments are still visited
    assert.are.equal("next call", msg("next call"))
  end)

  it("cuts a table where the host's stack has no room left", function()
    -- The most arguments a call can take here: the whole stack on 5.2 and
    -- later, one C function's frame on 5.1 and LuaJIT.
    local function call(n, last)
      local args = setmetatable({ [n] = last }, { __index = function() return "" end })
      return pcall(function() log:info(host.unpack(args, 1, n)) end)
    end
    local low, high = 1, 2000000
    while low < high do
      local mid = math.floor((low + high + 1) / 2)
      if call(mid, "") then low = mid else high = mid - 1 end
    end
    local deep = {}
    local cur = deep
    for _ = 1, 50 do cur[1] = {}; cur = cur[1] end
    -- An overflow can leave 5.2 and later a few slots short for a while.
    local n = low
    capture.clear()
    while not call(n, deep) and n > low - 100 do n = n - 1 end
    local text = capture.messages()[1]
    assert.truthy(text, "no record")
    local head = text:match("^(.-){<stack limit>}")
    assert.truthy(head, "no stack-limit marker")
    local _, levels = head:gsub("{", "")
    assert.is_true(levels < 50)
    local _, opened = text:gsub("{", "")
    local _, closed = text:gsub("}", "")
    assert.are.equal(opened, closed)
  end)

  it("cuts a table nested a million deep and closes every brace", function()
    local deep = {}
    local cur = deep
    for _ = 1, 1000000 do cur[1] = {}; cur = cur[1] end
    local text = msg(deep)
    local _, opened = text:gsub("{", "")
    local _, closed = text:gsub("}", "")
    assert.are.equal(opened, closed)
    assert.truthy(text:find("{<stack limit>}", 1, true))
    assert.are.equal("}", text:sub(-1))
  end)
end)


describe("the line format", function()
  local line, escaped, bounded
  setup(function()
    capture.configure()
    line = q.get_log("message.line", { format = "line" })
    escaped = q.get_log("message.escaped", { escape = true })
    bounded = q.get_log("message.bounded", { format = "line", max_bytes = 20 })
  end)

  local function msg(logger, ...)
    local args = host.pack(...)
    return capture.message_of(function() logger:info(host.unpack(args, 1, args.n)) end)
  end

  local cycle = {}
  cycle[1] = cycle
  local forged = "bob\nINFO [svc.auth] admin logged in"
  -- { arguments, text in the line format, text of the escaped dump }
  local rows = {
    { { { "x", 2.5, name = { true, "y" } } }, '{"x", 2.5, name = {true, "y"}}',
      '{\n  "x",\n  2.5,\n  name = {\n    true,\n    "y"\n  }\n}' },
    { { { [404] = 12 } }, "{[404] = 12}", "{\n  12\n}" },
    { { { nil, "b" } }, '{[2] = "b"}', '{\n  "b"\n}' },
    { { { ["two words"] = 1 } }, '{["two words"] = 1}', '{\n  ["two words"] = 1\n}' },
    { { { [true] = 1 } }, "{[true] = 1}", '{\n  ["true"] = 1\n}' },
    { { { [0.5] = false } }, "{[0.5] = false}", "{\n  [0.5] = false\n}" },
    { { { ["end"] = 1, } }, '{["end"] = 1}', "{\n  end = 1\n}" },
    { { { {}, { {} } } }, "{{}, {{}}}", "{\n  {},\n  {\n    {}\n  }\n}" },
    { { cycle }, "{{<cycle>}}", "{\n  {\n    <cycle>\n  }\n}" },
    { { "n=", 3, { 1 } }, "n=3{1}", "n=3{\n  1\n}" },
    { { forged }, "bob\\nINFO [svc.auth] admin logged in", "bob\\nINFO [svc.auth] admin logged in" },
    { { 'a\r\t\\"' }, 'a\\r\\t\\\\"', 'a\\r\\t\\\\"' },
    { { { 'q"\0\27\127' } }, '{"q\\"\\x00\\x1b\\x7f"}', '{\n  "q\\"\\x00\\x1b\\x7f"\n}' },
    { { { ["a\nb"] = "\27[31m" } }, '{["a\\nb"] = "\\x1b[31m"}', '{\n  ["a\\nb"] = "\\x1b[31m"\n}' },
    { { "caf\195\169 \230\151\165\230\156\172" }, "café 日本", "café 日本" },
    { { "\255|\192\175|\237\160\128|\226\130" }, "\\xff|\\xc0\\xaf|\\xed\\xa0\\x80|\\xe2\\x82",
      "\\xff|\\xc0\\xaf|\\xed\\xa0\\x80|\\xe2\\x82" },
    { { object("x\ny") }, "x\\ny", "x\\ny\n" },
    { { { object("x\ny") } }, '{"x\\ny"}', '{\n  "x\\ny"\n}' },
  }

  it("writes each message on one line, strings escaped", function()
    for i, row in ipairs(rows) do
      assert.are.equal(row[2], msg(line, host.unpack(row[1])), "row " .. i)
      assert.are.equal(row[3], msg(escaped, host.unpack(row[1])), "row " .. i)
    end
  end)

  it("cuts a long record at its bound, never inside an escape", function()
    assert.are.equal(("a"):rep(20), msg(bounded, ("a"):rep(20)))
    assert.are.equal("aaaaaaaaa<truncated>", msg(bounded, ("a"):rep(21)))
    assert.are.equal("aaaaaaaa<truncated>", msg(bounded, "aaaaaaaa\27", ("b"):rep(20)))
    assert.are.equal("aaaaaaaa<truncated>", msg(bounded, "aaaaaaaa\195\169", ("b"):rep(20)))
    assert.are.equal("{1, 2, 3,<truncated>", msg(bounded, { 1, 2, 3, 4, 5, 6, 7, 8, 9 }))
    local dump = q.get_log("message.bounded_dump", { max_bytes = 20 })
    assert.are.equal("{\n  1,\n  <truncated>", msg(dump, { 1, 2, 3, 4, 5, 6, 7, 8, 9 }))
  end)

  it("writes floats exactly, so that load reads every number back", function()
    -- Without an integer subtype, an integral float up to 2^53 is an integer.
    local integral = host.integers and "3.0, 9007199254740992.0" or "3, 9007199254740992"
    assert.are.equal("{0.1, 0.3333333333333333, " .. integral .. ", 1e+16, 1733668064.123456, "
                     .. "0/0, 1/0, -1/0}{[0.5] = 1}{[1/0] = 2}",
                     msg(line, { 0.1, 1 / 3, 3.0, 2 ^ 53, 1e16, 1733668064.123456, 0 / 0, 1 / 0,
                                 -1 / 0 }, { [0.5] = 1 }, { [1 / 0] = 2 }))
    assert.are.equal("1099511627776.5 1.5e-300", msg(line, 2 ^ 40 + 0.5, " ", 1.5e-300))
    assert.are.equal("1.73367e+09", msg(escaped, 1733668064.123456))  -- the dump keeps %g
  end)

  it("escapes C1 controls, line separators and bidirectional controls byte by byte", function()
    local text = "a\194\133b\194\155c\226\128\168d\226\128\169e\226\128\174f\226\129\166g\194\160"
    local expected = "a\\xc2\\x85b\\xc2\\x9bc\\xe2\\x80\\xa8d\\xe2\\x80\\xa9e\\xe2\\x80\\xaef"
                     .. "\\xe2\\x81\\xa6g\194\160"
    assert.are.equal(expected, msg(line, text))
    assert.are.equal(expected, msg(escaped, text))
    assert.are.equal('{["\\xe2\\x80\\xa8"] = 1}', msg(line, { ["\226\128\168"] = 1 }))
  end)

  -- 5.1 reads no \x escape: there only the named ones come back.
  local read_back = host.name == "5.1" and { "\n\r\t\\\"" } or { "\0\1\r\n\t\\\"\127\255 \27[31m" }
  it("loads back into the table it logged", function()
    local function same(a, b)
      if math.type and math.type(a) ~= math.type(b) then return false end
      if type(a) ~= "table" or type(b) ~= "table" then return a == b end
      for k, v in pairs(a) do if not same(v, b[k]) then return false end end
      for k in pairs(b) do if a[k] == nil then return false end end
      return true
    end
    local tables = {
      { "x", 2.5, name = { true, "y" }, [404] = 12, ["two words"] = 1, [true] = 1 },
      { [3] = "c", [2] = "b", "a", [5] = "e", "b2", [-7] = {}, [0.25] = "q", ["end"] = "w" },
      { read_back[1], [read_back[1]] = { { {} } }, -123456789, 1e100, false, "caf\195\169" },
      { 1 / 3, 0.1, 2 ^ 60, -2 ^ 70, 1e-300, 1 / 0, -1 / 0, 3.0, -0.0, [0.1] = 1 / 7,
        [2 ^ 60] = 5.5e-12, [1 / 0] = 1 },
    }
    for _, t in ipairs(tables) do
      local text = msg(line, t)
      assert.is_true(same(t, assert((loadstring or load)("return " .. text))()), text)
    end
  end)
end)


describe("the JSON format", function()
  local json, sorted
  setup(function()
    capture.configure()
    json = q.get_log("message.json", { format = "json" })
    sorted = q.get_log("message.json", { format = "json", sort_keys = true, max_bytes = 90 })
  end)

  local function msg(logger, ...)
    local args = host.pack(...)
    return capture.message_of(function() logger:info(host.unpack(args, 1, args.n)) end)
  end

  it("writes the text as msg, string keys as members, the rest under args", function()
    local rows = {
      { { "user ", "bob", " logged in", { id = 42, 1.5 } },
        '{"msg":"user bob logged in","id":42,"args":[1.5]}' },
      { { "n=", 3, " ", true, nil, " ", object("x\ny") }, '{"msg":"n=3 truenil x\\ny"}' },
      { { { a = 1, b = { 1, 2, { c = "d" } } }, { a = 2 } }, '{"msg":"","b":[1,2,{"c":"d"}],"a":2}' },
      { { { 1, 2 }, { [3] = 3 } }, '{"msg":"","args":[1,2,3]}' },
      { { { [2] = "b" } }, '{"msg":"","args":{"2":"b"}}' },
      { { { msg = "m" }, { level = "FATAL" } }, '{"msg":"","args":{"msg":"m","level":"FATAL"}}' },
      { { 0.1, " ", 1 / 3, " ", 0 / 0, " ", 1 / 0, { 1e16, 0 / 0, -1 / 0 } },
        '{"msg":"0.1 0.3333333333333333 NaN Infinity","args":[1e+16,"NaN","-Infinity"]}' },
      { { host.integers and 3.0 or 3.5, { 2 ^ 53 } },
        host.integers and '{"msg":"3.0","args":[9007199254740992.0]}'
          or '{"msg":"3.5","args":[9007199254740992]}' },
    }
    for i, row in ipairs(rows) do
      assert.are.equal(row[2], msg(json, host.unpack(row[1])), "row " .. i)
    end
    local t = {}
    t.self = t
    assert.are.equal('{"msg":"","self":{"self":"<cycle>"}}', msg(json, t))
    assert.truthy(msg(json, print, { f = print }):match(
      '^{"msg":"function: 0x%x+","f":"function: 0x%x+"}$'))
    assert.are.equal('{"msg":"","t":[],"u":{"true":false},"v":{"0.5":1}}',
                     msg(sorted, { t = {}, u = { [true] = false }, v = { [0.5] = 1 } }))
    -- The logger's bound cuts the record and closes it.
    assert.are.equal('{"msg":"","long":"' .. ("x"):rep(59) .. '<truncated>"}',
                     msg(sorted, { long = ("x"):rep(100) }))
  end)

  it("sorts keys when asked: integers, then strings in byte order, then the rest", function()
    local t = { b = 1, B = 2, [3] = "c", [1] = "a", [-2] = 0, [0.5] = "h", nested = { z = 1, a = 2 } }
    assert.are.equal('{"msg":"","B":2,"b":1,"nested":{"a":2,"z":1},'
                     .. '"args":{"-2":0,"1":"a","3":"c","0.5":"h"}}', msg(sorted, t))
    local line = q.get_log("message.json", { format = "line", sort_keys = true })
    assert.are.equal('{[-2] = 0, "a", [3] = "c", B = 2, b = 1, nested = {a = 2, z = 1}, [0.5] = "h"}',
                     msg(line, t))
  end)
end)
