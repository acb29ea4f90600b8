-- Which values the log methods take as their logger, and the error for the rest.
local q = require "quelto_internal"
local capture = require "capture"
local host = require "host"

-- The error `fn` raises, without the position of the caller.
local function error_of(fn, ...)
  local ok, err = pcall(fn, ...)
  assert.is_false(ok)
  return (err:gsub("^[^:]+:%d+: ", ""))
end

describe("the logger argument", function()
  setup(function() capture.configure() end)

  it("takes loggers made before and after the module is loaded again", function()
    local before = q.get_log("check")
    package.loaded.quelto_internal = nil
    local again = require "quelto_internal"
    package.loaded.quelto_internal = q
    local after = again.get_log("check")
    capture.clear()
    before:info("a")
    after:info("b")
    after.warn(before, "c")
    before.log(after, 600, "d")
    assert.are.same({ "a", "b", "c", "d" }, capture.messages())
  end)

  it("rejects anything else with the host's argument error", function()
    local log = q.get_log("check")
    local expected = "bad argument #1 to 'info' (QueltoLogger expected, got %s)"
    assert.are.equal(expected:format("string"), error_of(function() log.info("text") end))
    assert.are.equal(expected:format("table"), error_of(function() log.info({}) end))
    assert.are.equal(expected:format("no value"), error_of(function() log.info() end))
    -- 5.3 and later name a userdata by its metatable's __name.
    assert.are.equal(expected:format(host.names_userdata and "FILE*" or "userdata"),
                     error_of(function() log.info(io.stdout) end))
    assert.are.equal("bad argument #1 to 'log' (QueltoLogger expected, got number)",
                     error_of(function() log.log(600, "x") end))
    -- Also a filtered call checks its logger first.
    capture.configure("log4cpp.category.check.quiet=ERROR")
    local quiet = q.get_log("check.quiet")
    assert.are.equal("bad argument #1 to 'debug' (QueltoLogger expected, got string)",
                     error_of(function() quiet.debug("x") end))
  end)

  it("rejects a userdata whose metatable only looks like a logger's", function()
    local log = q.get_log("check")
    local lookalike = {}
    for k, v in pairs(getmetatable(log)) do lookalike[k] = v end
    lookalike.__index = lookalike
    local fake = io.tmpfile()
    fake:close()
    debug.setmetatable(fake, lookalike)
    local got = host.names_userdata and "QueltoLogger" or "userdata"
    assert.are.equal("calling 'info' on bad self (QueltoLogger expected, got " .. got .. ")",
                     error_of(function() fake:info("x") end))
    assert.are.equal("bad argument #1 to 'info' (QueltoLogger expected, got " .. got .. ")",
                     error_of(function() log.info(fake, "x") end))
    capture.clear()
    log:info("still works")
    assert.are.same({ "still works" }, capture.messages())
  end)
end)
