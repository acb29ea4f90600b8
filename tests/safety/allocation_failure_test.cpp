// Every allocation of a log call failing in turn, in the Lua state and on the
// C++ heap: the call logs its exact message or raises "not enough memory" and
// logs nothing, and in either case leaks nothing and leaves the state usable.
#include <string>
#include <tuple>
#include <vector>

#include "module_host.h"

namespace quelto::safety {
namespace {

struct Scenario {
  const char* name;
  /// Defines the global function `scenario`, which makes one or more log calls.
  const char* setup;
  /// What an undisturbed call logs; empty for a call that always raises.
  std::vector<std::string> expected;
  /// The error an undisturbed call raises, if it raises.
  const char* error;
};

const Scenario kScenarios[] = {
    {"Scalars",
     R"(scenario = function() log:info("a", 1, 2.5, true, nil, " 100%s") end)",
     {"a12.5truenil 100%s"},
     nullptr},
    {"PriorityByNumber",
     R"(scenario = function() log:log(600, "n=", 3, "") end)",
     {"n=3"},
     nullptr},
    {"NestedTable",
     R"(
       local t = {"x", 2.5, name = {true, "y"}}
       scenario = function() log:info("t=", t, "!") end)",
     {"t={\n  \"x\",\n  2.5,\n  name = {\n    true,\n    \"y\"\n  }\n}!"},
     nullptr},
    {"KeyForms",
     R"(
       local t = {{["two words"] = 1}, {[0.5] = false}, {["a\nb"] = "v"}, {[true] = 1}}
       scenario = function() log:info(t) end)",
     {"{\n  {\n    [\"two words\"] = 1\n  },\n  {\n    [0.5] = false\n  },\n"
      "  {\n    [\"a\\nb\"] = \"v\"\n  },\n  {\n    [\"true\"] = 1\n  }\n}"},
     nullptr},
    {"Cycle",
     R"(
       local t = {} t.self = t
       scenario = function() log:info(t) end)",
     {"{\n  self = {\n    self = <cycle>\n  }\n}"},
     nullptr},
    {"ObjectsTopLevelAndNested",
     R"(
       local mt = {__tostring = function(self) return ("obj%d\nline"):format(self.id) end}
       local o = setmetatable({id = 7}, mt)
       local t = {o, k = setmetatable({id = 8}, mt)}
       scenario = function() log:info(o, t) end)",
     {"obj7\nline\n{\n  \"obj7\n    line\",\n  k = \"obj8\n    line\"\n}"},
     nullptr},
    {"OpaqueValuesAndNames",
     R"(
       local named = setmetatable({}, {__name = "Widget"})
       scenario = function() log:info({named}) end)",
     {},
     nullptr},  // addresses vary: compared with an undisturbed call below
    {"DeepTableCutAtTheBound",
     R"(
       local deep = {} local t = deep
       for _ = 1, 230 do t[1] = {} t = t[1] end
       scenario = function() log:info(deep) end)",
     {},
     nullptr},
    {"ManyArguments",
     R"(
       local args = {}
       for i = 1, 120 do args[i] = i % 3 == 0 and {i} or i end
       scenario = function() log:info(table.unpack(args)) end)",
     {},
     nullptr},
    {"ReentrantLogFromToString",
     R"(
       local inner = setmetatable({}, {__tostring = function()
         log:info("inner ", {1})
         return "outer part"
       end})
       scenario = function() log:warn("outer: ", {inner}) end)",
     {"inner {\n  1\n}", "outer: {\n  \"outer part\"\n}"},
     nullptr},
    {"JsonFieldsSortedAndArgs",
     R"(
       local mt = {__tostring = function() return "obj\n" end}
       local t = {b = {1, 2.5, {c = true}}, a = setmetatable({}, mt), 7, [0.5] = "h"}
       scenario = function() jlog:info("x", 1, t, {a = "later"}) end)",
     {R"({"msg":"x1","a":"later","b":[1,2.5,{"c":true}],"args":{"1":7,"0.5":"h"}})"},
     nullptr},
    {"JsonCutOfALoggerOfWith",
     R"(
       local request = jlog:with({request = "r1", n = 2})
       local big = {} for i = 1, 40 do big[i] = "item " .. i end
       scenario = function() request:warn("big ", {list = big}) end)",
     {R"({"msg":"big ","list":["item 1","item 2","item 3","item 4","item 5","item 6","item 7",)"
      R"("item 8","item 9","it<truncated>"]})"},
     nullptr},
    {"LazyArguments",
     R"(
       scenario = function()
         jlog:info(function() return "lazy " end, function() error("boom", 0) end)
       end)",
     {R"({"msg":"lazy <error: boom>"})"},
     nullptr},
    {"NestedToStringRaises",
     R"(
       local o = setmetatable({}, {__tostring = function() error("boom", 0) end})
       local t = {1, {2, {o}}}
       scenario = function() log:info("x", t) end)",
     {},
     "boom"},
};

// A single failure in the Lua heap raises nothing: Lua runs an emergency
// collection and tries again. Those runs check the module across a full
// collection at each allocation; the lasting failures check the raising.
enum class Heap { Lua, Cxx };

// Shown by the test framework in place of the parameters' raw bytes.
void PrintTo(const Scenario& scenario, std::ostream* os) {
  *os << scenario.name;
}
void PrintTo(Heap heap, std::ostream* os) {
  *os << (heap == Heap::Lua ? "Lua heap" : "C++ heap");
}

using Param = std::tuple<Scenario, Heap, bool>;

class AllocationFailure : public ModuleHost, public ::testing::WithParamInterface<Param> {};

TEST_P(AllocationFailure, LogsExactlyOrRaisesAndLeaksNothing) {
  const auto& [scenario, heap, persistent] = GetParam();
  run(scenario.setup);
  // The undisturbed call: the reference for scenarios whose text is not fixed.
  const Outcome reference = call_scenario(nullptr, 0);
  std::vector<std::string> expected = scenario.expected;
  if (scenario.error != nullptr) {
    ASSERT_FALSE(reference.ok);
    EXPECT_EQ(reference.error, scenario.error);
    EXPECT_TRUE(reference.messages.empty());
  } else {
    ASSERT_TRUE(reference.ok) << reference.error;
    if (expected.empty()) expected = reference.messages;
    ASSERT_EQ(reference.messages, expected);
  }
  std::vector<std::string> errors{"not enough memory"};
  if (scenario.error != nullptr) errors.emplace_back(scenario.error);

  Injector& injector = heap == Heap::Lua ? Injector::lua() : Injector::cxx();
  sweep(injector, persistent, [&](const Outcome& outcome) {
    if (outcome.failures == 0) {  // the last call: nothing failed
      EXPECT_EQ(outcome.ok, scenario.error == nullptr);
      EXPECT_EQ(outcome.messages,
                scenario.error == nullptr ? expected : std::vector<std::string>{});
      return;
    }
    // Only the message stream's own growth may fail without an error: it
    // marks the stream bad, and the message ends early.
    expect_logged_or_raised(outcome, expected, errors, heap == Heap::Cxx);
  });
  // The module still logs normally.
  run(R"(log:info("after ", {1}))");
  EXPECT_EQ(capture.take(), std::vector<std::string>{"after {\n  1\n}"});
}

// The sweeps above would pass vacuously if no failure reached the module.
// These calls allocate inside it: the C++ heap for the message and for the
// indents of a deeply nested table, the Lua heap for the text of a number
// from `__tostring`.
class FailureReach : public ModuleHost {};

TEST_F(FailureReach, CxxHeapFailureInsideTheDumpRaises) {
  // Indents longer than a string's inline room: nested levels allocate.
  run(R"(local t = {} local c = t for i = 1, 12 do c[1] = {} c = c[1] end
         scenario = function() log:info("x", t) end)");
  int raised = 0;
  for (long skip = 0; skip < 64; ++skip) {
    const Outcome outcome = call_scenario(&Injector::cxx(), skip, false);
    EXPECT_EQ(outcome.leaked, 0) << skip;
    EXPECT_EQ(outcome.stack_left, 0) << skip;
    if (outcome.failures == 0) break;  // past the call's last allocation
    if (outcome.ok) {
      // Only the message's own growth fails quietly: the message ends early.
      ASSERT_EQ(outcome.messages.size(), 1u) << skip;
      EXPECT_EQ(outcome.messages[0].rfind("x{", 0), 0u) << skip;
    } else {
      EXPECT_EQ(outcome.error, "not enough memory") << skip;
      EXPECT_TRUE(outcome.messages.empty()) << skip;
      ++raised;
    }
  }
  EXPECT_GT(raised, 0);  // some failure hit a nested level's indent
}

TEST_F(FailureReach, LuaHeapFailureInsideAToStringConversionRaises) {
  run(R"(local o = setmetatable({}, {__tostring = function() return 1.25 end})
         scenario = function() log:info(o) end)");
  const Outcome outcome = call_scenario(&Injector::lua(), 0, true);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "not enough memory");
  EXPECT_GE(outcome.failures, 1);
  EXPECT_TRUE(outcome.messages.empty());
  EXPECT_EQ(outcome.leaked, 0);
  EXPECT_EQ(call_scenario(nullptr, 0).messages, std::vector<std::string>{"1.25\n"});
}

// A call that its category's own priority filters out allocates nothing
// and runs no metamethod: with every allocation of both heaps failing, it
// still returns quietly.
TEST_F(FailureReach, FilteredCallAllocatesNothing) {
  capture.setPriority(log4cpp::Priority::INFO);
  run(R"(
    local o = setmetatable({}, {__tostring = function() error("called") end})
    local t = {1, {2, {o}}, k = "v"}
    scenario = function() log:debug("x", t, o) log:log(601, t) end)");
  Injector::lua().fail_at(0, true);
  const Outcome outcome = call_scenario(&Injector::cxx(), 0, true);
  Injector::lua().disarm();
  EXPECT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.failures, 0);
  EXPECT_TRUE(outcome.messages.empty());
}

std::string name_of(const ::testing::TestParamInfo<Param>& info) {
  const auto& [scenario, heap, persistent] = info.param;
  return std::string(scenario.name) + (heap == Heap::Lua ? "_LuaHeap" : "_CxxHeap") +
         (persistent ? "_FromThenOn" : "_Once");
}

INSTANTIATE_TEST_SUITE_P(Calls, AllocationFailure,
                         ::testing::Combine(::testing::ValuesIn(kScenarios),
                                            ::testing::Values(Heap::Lua, Heap::Cxx),
                                            ::testing::Bool()),
                         name_of);

}  // namespace
}  // namespace quelto::safety
