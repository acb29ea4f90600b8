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
