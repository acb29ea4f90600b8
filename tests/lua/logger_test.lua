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
  it("has exactly its eight functions and its version", function()
    local keys = {}
    for k, v in pairs(q) do
      if k ~= "_VERSION" then assert.are.equal("function", type(v)) end
      keys[#keys + 1] = k
    end
    table.sort(keys)
    assert.are.same({ "_VERSION", "configure", "configure_text", "flush", "get_log",
                      "get_priority_map", "reopen", "set_defaults", "stats" }, keys)
    -- The project's version, which the build passes to the tests.
    assert.are.equal(os.getenv("QUELTO_VERSION"), q._VERSION)
  end)

  it("is built again, sharing the logger metatable, when loaded twice", function()
    package.loaded.quelto_internal = nil
    local again = require "quelto_internal"
    assert.are_not.equal(q, again)
    assert.are.equal(getmetatable(q.get_log(nil)), getmetatable(again.get_log(nil)))
  end)
end)

describe("process-wide defaults", function()
  local early
  setup(function()
    capture.configure()
    early = q.get_log("defaults")  -- made before the configure that sets them
  end)

  it("come from quelto.defaults keys, below get_log and set_defaults, and reach earlier loggers", function()
    finally(function() q.set_defaults({ location = false, format = "dump" }) end)
    local given = q.get_log("defaults", { format = "dump" })
    q.set_defaults({ location = false })
    local state = q.get_log("defaults")
    q.set_defaults({ location = true, format = "dump" })
    capture.configure("quelto.defaults.format = line\nquelto.defaults.location = true\n"
                      .. "quelto.defaults.max_bytes = 15")
    local t = { 1, "two" }
    -- format and max_bytes from the file, but where get_log or set_defaults
    -- gave them; location from the file, but where set_defaults said no.
    assert.are.equal('{1, "two"}', capture.message_of(function() state:info(t) end))
    local early_text = capture.message_of(function() early:info(t) end)
    assert.are.equal(15, #early_text)
    assert.are.equal(debug.getinfo(1, "S").short_src:sub(1, 4), early_text:sub(1, 4))
    local given_text = capture.message_of(function() given:info(t) end)
    assert.are.equal(given_text:sub(1, 4), early_text:sub(1, 4))
    assert.truthy(given_text:find("<truncated>$"))
    capture.configure("quelto.defaults.format = line")
    assert.are.equal('{1, "two"}', capture.message_of(function() early:info(t) end))
    assert.are.equal('{\n  1,\n  "two"\n}', capture.message_of(function() given:info(t) end))
    -- A configure that names none gives back the built-in ones.
    capture.configure()
    assert.are.equal('{\n  1,\n  "two"\n}', capture.message_of(function() early:info(t) end))
  end)

  it("include the gate, which a logger made before reads at each call", function()
    capture.configure("quelto.defaults.gate = chained", "INFO")
    local spy = setmetatable({}, { __tostring = function() error("rendered", 0) end })
    early:debug(spy)  -- no priority of its own: the root's INFO filters it
    capture.configure(nil, "INFO")
    assert.has_error(function() early:debug(spy) end, "rendered")
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

describe("the chained gate", function()
  -- The root at INFO; c.b.a at ERROR; c.b, c.b.a.x and c.b.a.x.y.z none of their own.
  setup(function() capture.configure("log4cpp.category.c.b.a=ERROR", "INFO") end)

  it("renders nothing log4cpp would drop, and agrees with is_enabled everywhere", function()
    for _, name in ipairs({ "c.b", "c.b.a", "c.b.a.x", "c.b.a.x.y.z", "gated" }) do
      local log, calls = q.get_log(name, { gate = "chained" }), 0
      local spy = setmetatable({}, { __tostring = function() calls = calls + 1 return "" end })
      local calls_of = {}  -- { priority, method }: log() at every 50, then each method
      for priority = -100, 900, 50 do calls_of[#calls_of + 1] = { priority } end
      for method, priority in pairs(methods) do calls_of[#calls_of + 1] = { priority, method } end
      for _, call in ipairs(calls_of) do
        calls = 0
        capture.clear()
        if call[2] then log[call[2]](log, spy) else log:log(call[1], spy) end
        local enabled = log:is_enabled(call[1]) and 1 or 0
        assert.are.same({ enabled, enabled }, { calls, #capture.records() }, name .. call[1])
      end
    end
  end)

  it("is what set_defaults gives later loggers of the state, option by option", function()
    local before = q.get_log("c.b.a.x")
    q.set_defaults({ gate = "chained" })
    local chained, own = q.get_log("c.b.a.x"), q.get_log("c.b.a.x", { gate = "own" })
    q.set_defaults({})  -- leaves the default as it is
    local still = q.get_log("c.b.a.x", {})
    q.set_defaults({ gate = "own" })
    local spy = setmetatable({}, { __tostring = function() error("rendered", 0) end })
    chained:warn(spy)
    still:warn(spy)
    for _, log in ipairs({ before, own, q.get_log("c.b.a.x") }) do
      assert.has_error(function() log:warn(spy) end, "rendered")
    end
  end)
end)

describe("a logger's priorities and name", function()
  setup(function() capture.configure("log4cpp.category.p.q=ERROR", "INFO") end)

  it("are log4cpp's, read and set", function()
    local pq, pqr, root = q.get_log("p.q"), q.get_log("p.q.r"), q.get_log(nil)
    -- { logger, name, own priority, chained priority }
    local rows = {
      { pq, "p.q", 300, 300 }, { pqr, "p.q.r", nil, 300 }, { root, "", 600, 600 },
      { q.get_log("p"), "p", nil, 600 }, { q.get_log("cut\0x"), "cut", nil, 600 },
    }
    for _, row in ipairs(rows) do
      assert.are.same({ row[2], row[3], row[4] },
                      { row[1]:get_name(), row[1]:get_priority(), row[1]:get_chained_priority() })
    end
    -- { set on, value, then p.q.r's own and chained, p.q.r:is_enabled(ERROR) }
    local steps = {
      { pqr, "DEBUG", 700, 700, true }, { pqr, 100, 100, 100, false },
      { pqr, "500", 500, 500, true }, { pqr, nil, nil, 300, true },
      { pq, "NOTSET", nil, 600, true }, { root, "EMERG", nil, 0, false },
      { pq, "WARN", nil, 400, true }, { pqr, 900, nil, 400, true },
    }
    for i, step in ipairs(steps) do
      assert.are.equal(0, select("#", step[1]:set_priority(step[2])))
      assert.are.same({ step[3], step[4], step[5] },
                      { pqr:get_priority(), pqr:get_chained_priority(), pqr:is_enabled("ERROR") },
                      "step " .. i)
    end
    assert.are.same({ true, false }, { root:is_enabled("EMERG"), root:is_enabled("ALERT") })
    root:set_priority("INFO")
    assert.are.equal(600, root:get_priority())
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

describe("logger:with", function()
  setup(function() capture.configure("log4cpp.category.with=INFO") end)

  it("makes a logger carrying a copy of the string-keyed fields, after the message", function()
    local fields = { request = "r1", [1] = "not a field", [true] = 1 }
    local log = q.get_log("with")
    local req = log:with(fields)
    fields.request = "changed later"
    assert.are_not.equal(log, req)
    assert.are.equal(getmetatable(log), getmetatable(req))
    assert.are.equal("with", req:get_name())
    assert.are.equal('hello {\n  request = "r1"\n}', capture.message_of(function() req:info("hello") end))
    -- with on such a logger merges, the newer value winning; the parent keeps its own.
    local both = req:with({ request = "r2", user = "bob" })
    local text = capture.message_of(function() both:warn("x") end)
    assert.truthy(text == 'x {\n  request = "r2",\n  user = "bob"\n}'
                  or text == 'x {\n  user = "bob",\n  request = "r2"\n}', text)
    assert.are.equal('hello {\n  request = "r1"\n}', capture.message_of(function() req:info("hello") end))
    assert.are.equal("plain", capture.message_of(function() log:info("plain") end))
  end)

  it("keeps the logger's options, in each format", function()
    local line = q.get_log("with", { format = "line", sort_keys = true }):with({ b = 1, a = "x\n" })
    assert.are.equal('m {1} {a = "x\\n", b = 1}', capture.message_of(function() line:info("m ", { 1 }) end))
    local json = q.get_log("with", { format = "json", sort_keys = true }):with({ b = 1, a = 2 })
    assert.are.equal('{"msg":"m","a":3,"b":1,"c":4}',
                     capture.message_of(function() json:info("m", { a = 3, c = 4 }) end))
    -- The gate is the parent's: with's loggers filter as it does.
    local spy = setmetatable({}, { __tostring = function() error("rendered", 0) end })
    q.get_log("with"):with({ k = 1 }):debug(spy)
    q.get_log("with.x", { gate = "chained" }):with({ k = 1 }):debug(spy)
    assert.are.same({}, capture.messages())
  end)
end)

describe("the location option", function()
  setup(function() capture.configure() end)

  it("starts the message with the calling code's file and line", function()
    local line = debug.getinfo(1, "l").currentline + 1
    local function call(log) log:info("here ", { 1 }) end
    local where = debug.getinfo(1, "S").short_src .. ":" .. line
    assert.are.equal(where .. ': here {\n  1\n}',
                     capture.message_of(function() call(q.get_log("loc", { location = true })) end))
    assert.are.equal(where .. ": here {1}", capture.message_of(function()
      call(q.get_log("loc", { location = true, format = "line" }))
    end))
    assert.are.equal('{"msg":"here ","src":"' .. where .. '","args":[1]}',
                     capture.message_of(function()
                       call(q.get_log("loc", { location = true, format = "json" }))
                     end))
    -- Through pcall, a C function: the nearest Lua code.
    local log = q.get_log("loc", { location = true })
    local pline = debug.getinfo(1, "l").currentline + 1
    assert.are.equal(debug.getinfo(1, "S").short_src .. ":" .. pline .. ": x", capture.message_of(function() pcall(log.info, log, "x") end))
  end)
end)

describe("the lazy option", function()
  setup(function() capture.configure("log4cpp.category.lazy=INFO", "INFO") end)

  it("calls a function argument only for an admitted call, and writes its first result", function()
    local calls = 0
    local function cost() calls = calls + 1 return 42, "ignored" end
    local lazy = q.get_log("lazy", { lazy = true, format = "line" })
    lazy:debug("cost: ", cost)
    -- Nor where the own gate renders a call that the root's priority drops.
    q.get_log("lazy_free", { lazy = true }):debug("cost: ", cost)
    assert.are.equal(0, calls)
    assert.are.equal('cost: 42 {1} nil', capture.message_of(function()
      lazy:info("cost: ", cost, " ", function() return { 1 } end, " ", function() end)
    end))
    assert.are.equal(1, calls)
    local eager = capture.message_of(function() q.get_log("lazy"):info(cost) end)
    assert.truthy(eager:match("^function: 0x%x+$"), eager)
  end)

  it("leaves a marker where the function raised, and the call goes on", function()
    local lazy = q.get_log("lazy", { lazy = true, format = "json" })
    local line = debug.getinfo(1, "S").short_src .. ":" .. debug.getinfo(1, "l").currentline + 2
    assert.are.equal('{"msg":"a <error: ' .. line .. ': boom> <error: table> b"}',
      capture.message_of(function() lazy:info("a ", function() error("boom") end, " ",
                                                     function() error({}) end, " b") end))
  end)
end)

describe("flush and stats", function()
  it("flush waits until every record is written; stats counts those waiting", function()
    capture.configure()
    local log = q.get_log("flushed")
    for i = 1, 100 do log:info("r", i) end
    assert.is_true(q.flush())
    local stats = q.stats()
    assert.are.equal(0, stats.queued)
    assert.are.equal("number", type(stats.dropped))
    assert.are.equal(100, #capture.records())
  end)
end)
