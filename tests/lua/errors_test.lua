-- What scripts get for bad input: the fixed texts, the host's own argument
-- errors, and errors of metamethods passed through unchanged.
local q = require "quelto_internal"
local capture = require "capture"
local host = require "host"

local methods = { "debug", "info", "notice", "warn", "alert", "error", "critical",
                  "emergency", "fatal", "log" }

local function error_of(fn, ...)
  local ok, err = pcall(fn, ...)
  assert.is_false(ok, "expected an error")
  return err
end

local function raising(value)
  return setmetatable({}, { __tostring = function() error(value, 0) end })
end

describe("bad arguments", function()
  local log
  setup(function()
    capture.configure()
    log = q.get_log("errors")
  end)

  it("to any logger method name QueltoLogger", function()
    -- Light userdata all share one metatable: here, the loggers' (5.1 makes none);
    -- a file gets it too.
    local light = debug.upvalueid and debug.upvalueid(function() return log end, 1)
    local file = io.tmpfile()
    for _, forged in ipairs({ light or {}, file or {} }) do debug.setmetatable(forged, getmetatable(log)) end
    finally(function() debug.setmetatable(light or {}, nil) debug.setmetatable(file or {}, getmetatable(io.stdout)) end)
    local not_loggers = { "text", 1, nil, {}, io.stdout, print, setmetatable({}, {}), light, file }
    for _, method in ipairs(methods) do
      for i = 1, 9 do
        local err = error_of(log[method], not_loggers[i], 600)
        assert.truthy(err:find("bad argument #1 to '", 1, true), err)
        assert.truthy(err:find("(QueltoLogger expected, got ", 1, true), err)
      end
    end
    -- A file alone with the metatable: the LuaJIT methods, which take no
    -- light userdata while those have it, see it too.
    debug.setmetatable(light or {}, nil)
    for _, method in ipairs(methods) do
      local err = error_of(log[method], file, 600)
      assert.truthy(err:find("(QueltoLogger expected, got ", 1, true), err)
    end
    -- A dot instead of a colon puts the first message argument in place of the logger.
    local err = error_of(function() log.info("called with a dot") end)
    assert.truthy(err:find("QueltoLogger expected, got string", 1, true), err)
  end)

  it("to log() name the priority", function()
    local priorities = { "high", {}, nil, host.integers and 2.5 or nil }
    for i = 1, 4 do
      local err = error_of(log.log, log, priorities[i], "message")
      assert.truthy(err:find("bad argument #2 to 'log'", 1, true) or
                    err:find("bad argument #2 to '?'", 1, true), err)
    end
    assert.truthy(error_of(function() log:log("x") end):find("bad argument #1 to 'log'", 1, true))
  end)

  it("to log() are the host's luaL_checkinteger rules", function()
    -- { priority, record's priority with an integer subtype, without one }
    local rows = {
      { 600, "INFO", "INFO" },
      { "300", "ERROR", "ERROR" },
      { 600.0, "INFO", "INFO" },
      { 600.9, nil, "INFO" },  -- without an integer subtype the host truncates
      { 200.5, nil, "CRIT" },
      { 2 ^ 32 + 600, "INFO", "INFO" },  -- the low 32 bits
      { -2 ^ 63, "FATAL", "FATAL" },
      -- No 64-bit integer holds these: an undefined conversion without a subtype.
      { 0 / 0 }, { 1 / 0 }, { -1 / 0 }, { 1e300 }, { -1e300 }, { 2 ^ 63 }, { "1e300" },
    }
    for _, row in ipairs(rows) do
      local expected = row[3]
      if host.integers then expected = row[2] end
      capture.clear()
      local ok, err = pcall(log.log, log, row[1], "at ", row[1])
      if expected == nil then
        assert.is_false(ok)
        assert.truthy(err:find("(number has no integer representation)", 1, true), err)
      else
        assert.is_true(ok, err)
        local records = capture.records()
        assert.are.equal(1, #records)
        assert.are.equal(expected, records[1].priority, tostring(row[1]))
      end
    end
  end)

  it("to get_log raise the fixed text", function()
    for _, arg in ipairs({ 5, true, {}, print }) do
      local err = error_of(q.get_log, arg)
      assert.truthy(err:find("Argument to get_log must be nil or a log module name", 1, true))
    end
    local err = error_of(function() q.get_log() end)
    -- The caller's position, then the text.
    assert.truthy(err:match("errors_test%.lua:%d+: Argument to get_log must be nil or a log module name$"), err)
  end)

  it("of logger options name the option, and set_defaults then takes none", function()
    local gate = "logger option 'gate' must be \"own\" or \"chained\", got "
    local bad = {
      { { gate = "chain" }, gate .. '"chain"' }, { { gate = true }, gate .. "boolean" },
      { { gate = "own", gait = "own" }, "unknown logger option 'gait'" },
      { { format = "xml" },
        "logger option 'format' must be \"dump\", \"line\" or \"json\", got \"xml\"" },
      { { location = "yes" }, "logger option 'location' must be a boolean, got \"yes\"" },
      { { lazy = 1 }, "logger option 'lazy' must be a boolean, got number" },
      { { sort_keys = {} }, "logger option 'sort_keys' must be a boolean, got table" },
      { { escape = 1 }, "logger option 'escape' must be a boolean, got number" },
      { { max_bytes = 10 }, "'max_bytes' must be false or an integer of at least 11, got number" },
      { { max_bytes = 64.5 }, "'max_bytes' must be false or an integer of at least 11, got number" },
      { { "chained" }, "logger option names are strings, got a number" },
    }
    for _, row in ipairs(bad) do
      for _, call in ipairs({ function() q.get_log("o", row[1]) end,
                              function() q.set_defaults(row[1]) end }) do
        local err = error_of(call)
        assert.truthy(err:find(row[2], 1, true), err)
      end
    end
    assert.truthy(error_of(q.get_log, "o", 5):find("(table expected, got number)", 1, true))
    assert.truthy(error_of(q.set_defaults):find("(table expected, got no value)", 1, true))
    -- Whichever of gate and format is read first, one table has it good.
    pcall(q.set_defaults, { gate = "chained", format = "xml" })
    pcall(q.set_defaults, { gate = "chain", format = "line" })
    assert.has_no.errors(function() q.get_log("o", { max_bytes = 11.0 }) end)
    local spy = setmetatable({}, { __tostring = function() error("rendered", 0) end })
    -- 800 is below the root's DEBUG: only the own gate (o.x has no priority) renders it.
    assert.has_error(function() q.get_log("o.x"):log(800, spy) end, "rendered")
    assert.are.equal("{\n  1\n}", capture.message_of(function() q.get_log("o.x"):info({ 1 }) end))
  end)

  it("to the priority methods name the priority", function()
    local rows = {
      { "is_enabled", "DEBG", "(priority name or integer expected, got 'DEBG')" },
      { "is_enabled", {}, "(number expected, got table)" },
      { "set_priority", "debug", "(priority name or integer expected, got 'debug')" },
      { "set_priority", true, "(number expected, got boolean)" },
    }
    for _, row in ipairs(rows) do
      local err = error_of(log[row[1]], log, row[2])
      assert.truthy(err:find("bad argument #", 1, true) and err:find(row[3], 1, true), err)
    end
    for _, method in ipairs({ "is_enabled", "get_priority", "get_chained_priority",
                              "set_priority", "get_name" }) do
      assert.truthy(error_of(log[method], "text"):find("QueltoLogger expected", 1, true))
    end
    local root, priorities = q.get_log(nil), { nil, "NOTSET", 800, 900 }
    for i = 1, 4 do
      local err = error_of(root.set_priority, root, priorities[i])
      assert.truthy(err:find("set_priority: the root category must keep a priority", 1, true), err)
      assert.are.equal(700, root:get_priority())
    end
  end)

  it("to configure and configure_text are the host's argument errors", function()
    local args = { {}, nil, true }
    for _, configure in ipairs({ q.configure, q.configure_text }) do
      for i = 1, 3 do
        local err = error_of(configure, args[i])
        assert.truthy(err:find("bad argument #1", 1, true), err)
      end
      assert.truthy(error_of(configure):find("bad argument #1", 1, true))
    end
  end)

  it("to with are the host's argument errors", function()
    for _, fields in ipairs({ "x", 1, true }) do
      local err = error_of(log.with, log, fields)
      assert.truthy(err:find("bad argument #2 to 'with' (table expected, got ", 1, true) or
                    err:find("bad argument #2 to '?' (table expected, got ", 1, true), err)
    end
    assert.truthy(error_of(log.with, "x", {}):find("QueltoLogger expected, got string", 1, true))
    assert.truthy(error_of(function() log:with() end):find("(table expected, got no value)", 1, true))
  end)
end)

describe("configure", function()
  it("takes the same text from a string, with the same checks and errors", function()
    local failure = "log4cpp configure failure: "
    local rows = {
      { "log4cpp.rootCategory=DEBUG, A\nlog4cpp.appender.A=NoSuchAppender\n",
        "Appender 'A' has unknown type 'NoSuchAppender'" },
      { "quelto.x = 1", "unknown key 'quelto.x'" },
      { "quelto.defaults.colour = red", "unknown key 'quelto.defaults.colour'" },
      { "quelto.defaults.format = xml",
        "key 'quelto.defaults.format' must be \"dump\", \"line\" or \"json\", got 'xml'" },
      { "quelto.defaults.max_bytes = 10",
        "key 'quelto.defaults.max_bytes' must be false or an integer of at least 11, got '10'" },
      { "quelto.defaults.location = yes",
        "key 'quelto.defaults.location' must be a boolean, got 'yes'" },
      { "quelto.appender.J.layout = json", "key 'quelto.appender.J.layout' names appender 'J', "
                                           .. "which is not defined" },
      { "log4cpp.category." .. ("d."):rep(256) .. "d=INFO",
        "The text names a category of more than 256 levels" },
      { ("#"):rep(2 ^ 20 + 1), "The text is larger than 1048576 bytes" },
    }
    local path = os.tmpname()
    for _, row in ipairs(rows) do
      local err = error_of(q.configure_text, row[1])
      assert.are.equal(failure .. row[2], err:gsub("^[^:]*:%d+: ", ""), row[1]:sub(1, 40))
      capture.write_file(path, row[1])
      local file_error = error_of(q.configure, path):gsub("^[^:]*:%d+: ", "")
      assert.are.equal(failure .. row[2]:gsub("^The text", "File " .. path), file_error)
    end
    os.remove(path)
    -- A refused text changes nothing: the capture still works.
    assert.are.equal("still", capture.message_of(function() q.get_log("x"):info("still") end))
    assert.are.equal(0, select("#", q.configure_text("log4cpp.rootCategory=DEBUG, A\n"
      .. "log4cpp.appender.A=FileAppender\nlog4cpp.appender.A.fileName=/dev/null\n"
      .. "log4cpp.appender.A.layout=BasicLayout\n")))
    capture.configure()
  end)

  it("reports log4cpp's rejection of a file with the fixed prefix", function()
    local err = error_of(q.configure, "/nonexistent/dir/x.properties")
    assert.truthy(err:find("log4cpp configure failure: ", 1, true), err)
    assert.truthy(err:find("/nonexistent/dir/x.properties", 1, true), err)
    -- A percent sign in log4cpp's text is copied, not read as a format.
    err = error_of(q.configure, "/nonexistent/%s%d%n")
    assert.truthy(err:find("/nonexistent/%s%d%n", 1, true), err)
  end)

  it("reports a bad appender class", function()
    local path = os.tmpname()
    capture.write_file(path, "log4cpp.rootCategory=DEBUG, A\nlog4cpp.appender.A=NoSuchAppender\n")
    local err = error_of(q.configure, path)
    assert.truthy(err:find("log4cpp configure failure: ", 1, true), err)
    os.remove(path)
  end)

  it("of a valid file returns nothing, and the module keeps working", function()
    local path = os.tmpname()
    capture.write_file(path, "log4cpp.rootCategory=DEBUG, A\nlog4cpp.appender.A=FileAppender\n"
      .. "log4cpp.appender.A.fileName=/dev/null\nlog4cpp.appender.A.layout=BasicLayout\n")
    assert.are.equal(0, select("#", q.configure(path)))
    os.remove(path)
    capture.configure()
    assert.are.equal("ok", capture.message_of(function() q.get_log("after"):info("ok") end))
  end)
end)

describe("an error in __tostring", function()
  local log
  setup(function()
    capture.configure()
    log = q.get_log("tostring")
  end)

  local function nest(value, depth)
    local t = value
    for _ = 1, depth do t = { "s", 1.5, t, k = {} } end
    return t
  end

  it("reaches the caller unchanged and logs nothing, at any depth", function()
    local t_err = { code = 42 }
    for depth = 0, 50, 5 do
      for _, value in ipairs({ "boom", t_err, false }) do
        capture.clear()
        local ok, err = pcall(log.info, log, "before", nest(raising(value), depth), "after")
        assert.is_false(ok)
        assert.are.equal(value, err)
        assert.are.equal(0, #capture.records())
      end
    end
    assert.are.equal("next", capture.message_of(function() log:info("next") end))
  end)

  it("keeps its position information", function()
    local obj = setmetatable({}, { __tostring = function() error("positioned") end })
    local err = error_of(log.warn, log, { { obj } })
    assert.truthy(err:match("errors_test%.lua:%d+: positioned$"), err)
  end)

  it("of a table changed while it is dumped raises instead of crashing", function()
    local victim = {}
    for i = 1, 40 do victim["k" .. i] = i end
    victim.x = setmetatable({}, { __tostring = function()
      for k in pairs(victim) do victim[k] = nil end
      for i = 1, 200 do victim["n" .. i] = i end
      return "changed"
    end })
    local err = error_of(log.info, log, victim)
    assert.truthy(err:find("invalid key to 'next'", 1, true), err)
    assert.are.equal("still", capture.message_of(function() log:info("still") end))
  end)

  it("that logs its own object without end raises, at any stack depth", function()
    local object = setmetatable({}, { __tostring = function(self)
      log:info(self)
      return "never"
    end })
    local function at_depth(n)  -- not a tail call: each level keeps a frame
      if n == 0 then return pcall(log.info, log, object) end
      local ok, err = at_depth(n - 1)
      return ok, err
    end
    for depth = 0, 40 do
      local ok, err = at_depth(depth)
      assert.is_false(ok, depth)
      assert.is_string(err, depth)
    end
  end)

  it("from a logging __tostring nests the inner record first", function()
    local inner = q.get_log("inner")
    local obj = setmetatable({}, { __tostring = function() inner:info("inside") return "outer" end })
    capture.clear()
    log:info({ obj })
    local records = capture.records()
    assert.are.same({ "inside", '{\n  "outer"\n}' }, { records[1].message, records[2].message })
  end)
end)
