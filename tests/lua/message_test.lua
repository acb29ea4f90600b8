-- The text of a log message, argument by argument.
local q = require "quelto_internal"
local capture = require "capture"

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
    local args = table.pack(...)
    return capture.message_of(function() log:info(table.unpack(args, 1, args.n)) end)
  end

  it("joins scalars with no separator", function()
    assert.are.equal("a1truenil", msg("a", 1, true, nil))
    assert.are.equal("", msg())
    assert.are.equal("false-9223372036854775808", msg(false, math.mininteger))
  end)

  it("writes floats with 6 significant digits", function()
    assert.are.equal("0.1 0.333333 3 1e+06 9.0072e+15 1e-05 -0 inf -inf",
      msg(0.1, " ", 1 / 3, " ", 3.0, " ", 1e6, " ", 2.0 ^ 53, " ", 0.00001, " ", -0.0, " ",
          1 / 0, " ", -1 / 0))
  end)

  it("takes strings raw up to their first NUL", function()
    assert.are.equal("a", msg("a\0b"))
    assert.are.equal("two\nlines", msg("two\nlines"))
  end)

  it("never reads the message as a format", function()
    assert.are.equal("100%s done %n %d %%", msg("100%s done %n %d %%"))
  end)

  it("shows opaque values as type name and address", function()
    local text = tostring(print)
    assert.are.equal(text, msg(print))
    assert.truthy(msg(log):match("^QueltoLogger: 0x%x+$"))
    assert.truthy(msg(coroutine.create(print)):match("^thread: 0x%x+$"))
    assert.truthy(msg(io.stdout):match("^file %(0x%x+%)\n$"))  -- through __tostring
  end)

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
