// Scripts that fight the log call: errors raised at every point where Lua code
// can run, collections and finalizers in the middle of a dump, tables changed
// under the traversal, coroutines, runaway recursion. Whatever they do, the
// call logs the right text or raises, and leaks nothing.
#include <algorithm>
#include <string>
#include <vector>

#include "module_host.h"

namespace quelto::safety {
namespace {

// What a call hook does at the call event it counts down to.
enum class HookAction { Raise, Collect };

long hook_countdown = 0;
HookAction hook_action = HookAction::Raise;

void countdown_hook(lua_State* L, lua_Debug*) {
  if (hook_action == HookAction::Collect) {
    lua_gc(L, LUA_GCCOLLECT, 0);  // finalizers run here, inside the dump
    return;
  }
  if (hook_countdown > 0 && --hook_countdown == 0) {
    lua_pushliteral(L, "hooked");
    lua_error(L);
  }
}

class HostileScript : public ModuleHost {
 protected:
  /// Calls `scenario` with an error raised at the 1st, 2nd, ... hook event of
  /// `mask` (calls of Lua and C functions, the module's protected bodies
  /// among them; returns; instructions), until a call runs to its end.
  /// Returns how many calls there were.
  long sweep_raising_hook(int mask, const std::vector<std::string>& expected) {
    hook_action = HookAction::Raise;
    for (long event = 1; event < 100000; ++event) {
      SCOPED_TRACE("error at hook event " + std::to_string(event));
      hook_countdown = event;
      lua_sethook(L, countdown_hook, mask, mask & LUA_MASKCOUNT ? 1 : 0);
      const Outcome outcome = call_scenario(nullptr, 0);
      lua_sethook(L, nullptr, 0, 0);
      EXPECT_EQ(outcome.leaked, 0);
      EXPECT_EQ(outcome.stack_left, 0);
      EXPECT_EQ(dump_cut_depth(), 200);
      if (hook_countdown > 0) {  // the call ended before the event
        EXPECT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.messages, expected);
        return event;
      }
      if (!outcome.ok && outcome.messages.size() == expected.size()) {
        // Raised after the log calls returned: by the scenario's own code.
        EXPECT_EQ(outcome.error, "hooked");
        EXPECT_EQ(outcome.messages, expected);
      } else {
        expect_logged_or_raised(outcome, expected, {"hooked"}, false);
      }
      if (HasFailure()) return event;
    }
    ADD_FAILURE() << "the call never ended";
    return 0;
  }
};

const char kObjects[] = R"(
  local mt = {__tostring = function(self) return "obj" .. self.id .. "\nend" end}
  local function obj(id) return setmetatable({id = id}, mt) end
  local named = setmetatable({}, {__name = "Widget", __tostring = nil})
  local inner = setmetatable({}, {__tostring = function()
    log:info("inner ", {obj(3)})
    return "outer part"
  end})
  scenario = function() log:warn(obj(1), {obj(2), {inner}, k = {1, 2}}, "tail") end)";

const std::vector<std::string> kObjectsLogged{
    "inner {\n  \"obj3\n    end\"\n}",
    "obj1\nend\n{\n  \"obj2\n    end\",\n  {\n    \"outer part\"\n  },\n  k = {\n    1,\n    2\n  "
    "}\n}tail"};

TEST_F(HostileScript, ErrorAtEveryCallAndReturnEvent) {
  run(kObjects);
  EXPECT_GT(sweep_raising_hook(LUA_MASKCALL | LUA_MASKRET, kObjectsLogged), 20);
}

TEST_F(HostileScript, ErrorAtEveryInstruction) {
  run(kObjects);
  EXPECT_GT(sweep_raising_hook(LUA_MASKCOUNT, kObjectsLogged), 20);
}

TEST_F(HostileScript, CollectionsAndLoggingFinalizersInsideTheDump) {
  CaptureCategory finalized("finalized");
  bind_logger("gclog", finalized);
  run(R"(
    local gc_mt = {__gc = function() gclog:info("finalized ", {1, {2}}) end}
    local mt = {__tostring = function(self)
      for _ = 1, 20 do setmetatable({}, gc_mt) end  -- garbage with finalizers
      return "obj" .. self.id
    end}
    local t = {}
    for i = 1, 6 do t[i] = {setmetatable({id = i}, mt), {i}} end
    scenario = function() log:info(t) end)");
  const Outcome quiet = call_scenario(nullptr, 0);
  ASSERT_TRUE(quiet.ok) << quiet.error;
  ASSERT_EQ(quiet.messages.size(), 1u);

  hook_action = HookAction::Collect;
  lua_sethook(L, countdown_hook, LUA_MASKCALL, 0);
  const Outcome collected = call_scenario(nullptr, 0);
  lua_sethook(L, nullptr, 0, 0);
  EXPECT_TRUE(collected.ok) << collected.error;
  EXPECT_EQ(collected.messages, quiet.messages);
  EXPECT_EQ(collected.leaked, 0);
  EXPECT_EQ(dump_cut_depth(), 200);
  lua_gc(L, LUA_GCCOLLECT, 0);
  const std::vector<std::string> finals = finalized.take();
  ASSERT_FALSE(finals.empty());
  EXPECT_EQ(finals.front(), "finalized {\n  1,\n  {\n    2\n  }\n}");
}

TEST_F(HostileScript, RaisingFinalizerDuringTheDump) {
  // One finalizer that raises, run by a collection step inside a nested
  // __tostring: a step passes the error on, and the log call raises it.
  // (With more of them, each later step anywhere would raise the next.)
  run(R"(
    setmetatable({}, {__gc = function() error("from __gc", 0) end})
    local o = setmetatable({}, {__tostring = function()
      for _ = 1, 100 do collectgarbage("step", 1000) end
      return "o"
    end})
    scenario = function() log:info({1, {o}}) end)");
  const Outcome outcome = call_scenario(nullptr, 0);
  if (LUA_VERSION_NUM >= 504) {
    // 5.4 turns a finalizer's error into a warning: the call goes on and logs.
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.messages.size(), 1U);
  } else {
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "error in __gc metamethod (from __gc)");
    EXPECT_TRUE(outcome.messages.empty());
  }
  EXPECT_EQ(outcome.leaked, 0);
  EXPECT_EQ(outcome.stack_left, 0);
  EXPECT_EQ(dump_cut_depth(), 200);
}

TEST_F(HostileScript, ErrorValuesPassThroughUnchanged) {
  run(R"(
    local function thrower(value)
      return setmetatable({}, {__tostring = function() error(value) end})
    end
    local cases = {{}, io.stdout, false, 42}
    results = {}
    for i, value in ipairs(cases) do
      local ok, err = pcall(log.info, log, "x", {1, {2, {thrower(value)}}})
      results[i] = not ok and rawequal(err, value)
    end
    local ok, err = pcall(log.info, log, thrower(nil))
    results.nil_value = not ok and err == nil)");
  run(R"(assert(results[1] and results[2] and results[3] and results[4], "changed")
         assert(results.nil_value, "nil changed"))");
  EXPECT_TRUE(capture.take().empty());
}

TEST_F(HostileScript, YieldInsideToStringRaisesAndTheCoroutineDies) {
  run(R"(
    local o = setmetatable({}, {__tostring = function() coroutine.yield() return "o" end})
    local co = coroutine.create(function() log:info("a", {o}) end)
    ok, err = coroutine.resume(co)
    status = coroutine.status(co))");
  lua_getglobal(L, "ok");
  EXPECT_FALSE(lua_toboolean(L, -1));
  lua_getglobal(L, "err");
  EXPECT_NE(std::string(lua_tostring(L, -1)).find("attempt to yield across a C-call boundary"),
            std::string::npos);
  lua_getglobal(L, "status");
  EXPECT_STREQ(lua_tostring(L, -1), "dead");
  lua_pop(L, 3);
  EXPECT_TRUE(capture.take().empty());
  // Logging from coroutines, one resumed inside another's __tostring.
  run(R"(
    local other = coroutine.wrap(function() log:info("other ", {1}) return "resumed" end)
    local o = setmetatable({}, {__tostring = function() return other() end})
    assert(coroutine.resume(coroutine.create(function() log:info({o}) end))))");
  EXPECT_EQ(capture.take(), (std::vector<std::string>{"other {\n  1\n}", "{\n  \"resumed\"\n}"}));
}

TEST_F(HostileScript, RunawayRecursionThroughToStringRaises) {
  run(R"(
    local deep = {} local t = deep
    for _ = 1, 150 do t[1] = {} t = t[1] end
    local o = setmetatable({}, {__tostring = nil})
    getmetatable(o).__tostring = function(self) log:info({deep, self}) return "o" end
    scenario = function() log:info(o) end)");
  const Outcome outcome = call_scenario(nullptr, 0);
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.error.find("stack overflow"), std::string::npos) << outcome.error;
  EXPECT_TRUE(outcome.messages.empty());
  EXPECT_EQ(outcome.leaked, 0);
  EXPECT_EQ(dump_cut_depth(), 200);
}

TEST_F(HostileScript, ClearingTheTableUnderTheDumpEndsItCleanly) {
  run(R"(
    t = {}
    for i = 1, 40 do t["k" .. i] = i end
    t.x = setmetatable({}, {__tostring = function()
      for k in pairs(t) do if k ~= "x" then t[k] = nil end end
      return "cleared"
    end})
    scenario = function() log:info(t) end)");
  const Outcome outcome = call_scenario(nullptr, 0);
  ASSERT_TRUE(outcome.ok) << outcome.error;
  ASSERT_EQ(outcome.messages.size(), 1u);
  const std::string& text = outcome.messages[0];
  const std::string tail = "  x = \"cleared\"\n}";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);  // nothing after the clearing
  EXPECT_EQ(outcome.leaked, 0);
}

TEST_F(HostileScript, RehashingAwayTheCurrentKeyRaisesInsteadOfCrashing) {
  // The __tostring removes the key being written, in its own table or in an
  // enclosing one, and grows that table so that it is rebuilt without it.
  for (const char* victim : {"t", "parent"}) {
    SCOPED_TRACE(victim);
    run(std::string(R"(
      t = {}
      parent = {child = t}
      for i = 1, 8 do parent["p" .. i] = i end
      local function rehash(tbl, key)
        tbl[key] = nil
        for i = 1, 2000 do tbl["n" .. i] = i end
      end
      t.x = setmetatable({}, {__tostring = function()
        if )") +
        victim + R"( == t then rehash(t, "x") else rehash(parent, "child") end
        return "mutated"
      end})
      scenario = function() log:info(parent) end)");
    const Outcome outcome = call_scenario(nullptr, 0);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("invalid key to 'next'"), std::string::npos) << outcome.error;
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_EQ(outcome.leaked, 0);
    EXPECT_EQ(outcome.stack_left, 0);
    EXPECT_EQ(dump_cut_depth(), 200);
  }
}

TEST_F(HostileScript, ArgumentsFillingTheWholeLuaStack) {
  // Nearly as many arguments as the host's stack holds: the call still has
  // the slots a C function is promised, and a table nested past them is cut.
  run(R"(
    local args = {}
    for i = 1, 999900 do args[i] = "" end
    local deep = {} local t = deep
    for _ = 1, 150 do t[1] = {} t = t[1] end
    args[#args + 1] = setmetatable({}, {__tostring = function() return "o" end})
    args[#args + 1] = deep
    scenario = function() log:info(table.unpack(args)) end)");
  const Outcome outcome = call_scenario(nullptr, 0);
  EXPECT_EQ(outcome.leaked, 0);
  EXPECT_EQ(outcome.stack_left, 0);
  ASSERT_TRUE(outcome.ok) << outcome.error;
  ASSERT_EQ(outcome.messages.size(), 1u);
  const std::string& text = outcome.messages[0];
  EXPECT_EQ(text.rfind("o\n{", 0), 0u);
  // Nested 150 deep, below the bound of open tables: the stack cut it.
  EXPECT_NE(text.find("{<stack limit>}"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '{'), std::count(text.begin(), text.end(), '}'));
  EXPECT_EQ(dump_cut_depth(), 200);
}

}  // namespace
}  // namespace quelto::safety
