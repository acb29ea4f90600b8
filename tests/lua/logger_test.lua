-- Loggers, priorities and the gate.
local q = require "quelto_internal"
local capture = require "capture"

local methods = {
  debug = 700, info = 600, notice = 500, warn = 400, alert = 100,
  error = 300, critical = 200, emergency = 0, fatal = 0,
}
local names = q.get_priority_map()
local name_of = {}
for name, value in pairs(names) do name_of[value] = name end

describe("the module table", function()
  it("has exactly its four functions", function()
    local keys = {}
    for k, v in pairs(q) do
      assert.are.equal("function", type(v))
      keys[#keys + 1] = k
    end
    table.sort(keys)
    assert.are.same({ "configure", "get_log", "get_priority_map", "reopen" }, keys)
  end)

  it("is built again, sharing the logger metatable, when loaded twice", function()
    package.loaded.quelto_internal = nil
    local again = require "quelto_internal"
    assert.are_not.equal(q, again)
    assert.are.equal(getmetatable(q.get_log(nil)), getmetatable(again.get_log(nil)))
  end)
end)

describe("a logger", function()
  setup(function()
    capture.configure("log4cpp.category.gated=INFO")
  end)

  it("has a method per priority, logging at that priority", function()
    local log = q.get_log("prio")
    for method, value in pairs(methods) do
      capture.clear()
      log[method](log, method)
      local records = capture.records()
      assert.are.equal(1, #records, method)
      assert.are.equal(name_of[value], records[1].priority, method)
      assert.are.equal("prio", records[1].category)
      assert.are.equal(method, records[1].message)
    end
  end)

  it("is a QueltoLogger whose metatable holds the methods", function()
    local log = q.get_log(nil)
    local mt = debug.getregistry().QueltoLogger
    assert.are.equal(mt, getmetatable(log))
    assert.are.equal(mt, mt.__index)
    assert.are.equal("QueltoLogger", mt.__name)
    assert.is_nil(mt.__gc)
    assert.is_nil(mt.__tostring)
  end)

  it("for nil is the root category's", function()
    capture.clear()
    q.get_log(nil):info("to root")
    assert.are.equal("", capture.records()[1].category)
  end)

  it("is a new object each time, writing to the same category", function()
    local a, b = q.get_log("same"), q.get_log("same")
    assert.are_not.equal(a, b)
    capture.clear()
    a:info("1")
    b:info("2")
    local records = capture.records()
    assert.are.same({ "same", "same" }, { records[1].category, records[2].category })
  end)

  it("takes a name up to its first NUL", function()
    capture.clear()
    q.get_log("cut\0off"):info("x")
    assert.are.equal("cut", capture.records()[1].category)
  end)

  it("logs with log() exactly what the named method logs", function()
    local log = q.get_log("bylog")
    local t = { 1, k = { true } }
    local via_info = capture.message_of(function() log:info("a", 1.5, t) end)
    capture.clear()
    log:log(600, "a", 1.5, t)
    local records = capture.records()
    assert.are.equal(via_info, records[1].message)
    assert.are.equal("INFO", records[1].priority)
    capture.clear()
    log:log("300", "string priority")
    assert.are.equal("ERROR", capture.records()[1].priority)
    capture.clear()
    log:log(2.0, "float with an integer value")  -- 2 is below 100: log4cpp's FATAL
    assert.are.equal(1, #capture.records())
  end)
end)

describe("the gate", function()
  setup(function()
    capture.configure("log4cpp.category.gated=INFO")
  end)

  it("drops calls below the category's own priority without rendering them", function()
    local log = q.get_log("gated")
    local calls = 0
    local spy = setmetatable({}, { __tostring = function() calls = calls + 1 return "spy" end })
    capture.clear()
    log:debug(spy, { spy })
    log:log(700, spy)
    assert.are.equal(0, calls)
    assert.are.equal(0, #capture.records())
    for _, method in ipairs({ "info", "warn", "error", "fatal" }) do log[method](log, spy) end
    assert.are.equal(4, calls)
    assert.are.equal(4, #capture.records())
  end)

  it("renders every call of a category without a priority of its own", function()
    capture.configure(nil, "INFO")
    local log = q.get_log("inherits")
    local calls = 0
    local spy = setmetatable({}, { __tostring = function() calls = calls + 1 return "spy" end })
    log:debug(spy)
    log:log(800, spy)
    assert.are.equal(2, calls)                -- rendered...
    assert.are.equal(0, #capture.records())   -- ...and dropped by log4cpp
    log:log(900, spy)                         -- above NOTSET: filtered by the gate
    assert.are.equal(2, calls)
  end)
end)

describe("get_priority_map", function()
  it("maps log4cpp's names to 0..800", function()
    local expected = {
      EMERG = 0, FATAL = 0, ALERT = 100, CRIT = 200, ERROR = 300, WARN = 400,
      NOTICE = 500, INFO = 600, DEBUG = 700, NOTSET = 800,
    }
    local map = q.get_priority_map("ignored", 1)
    for name, value in pairs(map) do
      if math.type then assert.are.equal(math.type(value), "integer") end
      assert.are.equal(expected[name], value, name)
    end
    assert.are.equal(600, map.INFO)
    assert.are.equal(800, map.NOTSET)
  end)
end)
