// Every entry point of the module with arguments it must refuse, and the
// module functions while allocations fail.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "module/logger.h"
#include "module_host.h"

namespace quelto::safety {
namespace {

class EntryPoints : public ModuleHost {
 protected:
  EntryPoints() { run(R"(q = require "quelto_internal")"); }

  /// Runs `chunk`, which returns the results of a pcall; expects an error
  /// that contains `part`, nothing logged and nothing leaked.
  void expect_refused(const std::string& chunk, const std::string& part) {
    SCOPED_TRACE(chunk);
    const long live = Injector::cxx().live_blocks();
    ASSERT_EQ(luaL_loadstring(L, chunk.c_str()), LUA_OK) << lua_tostring(L, -1);
    ASSERT_EQ(lua_pcall(L, 0, 2, 0), LUA_OK) << lua_tostring(L, -1);
    EXPECT_EQ(Injector::cxx().live_blocks(), live);
    EXPECT_FALSE(lua_toboolean(L, -2));
    const char* error = lua_tostring(L, -1);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(std::string(error).find(part), std::string::npos) << error;
    lua_pop(L, 2);
    EXPECT_TRUE(capture.take().empty());
  }
};

/// The chunk `return pcall(fn, args)`.
std::string pcall(const std::string& fn, const std::string& args) {
  return "return pcall(" + fn + (args.empty() ? "" : ", " + args) + ")";
}

const char* const kMethods[] = {"debug", "info",     "notice",    "warn",  "alert",
                                "error", "critical", "emergency", "fatal", "log"};

TEST_F(EntryPoints, EveryMethodRefusesAnythingButALoggerAsSelf) {
  // A table that carries the logger metatable and a userdata whose metatable
  // only looks like it: neither may be read as a logger.
  run("fake_table = setmetatable({}, getmetatable(log))");
  *static_cast<void**>(lua_newuserdata(L, sizeof(void*))) = nullptr;
  run("return {__name = 'QueltoLogger', __index = getmetatable(log)}");
  lua_setmetatable(L, -2);
  lua_setglobal(L, "fake_userdata");
  const char* const selves[] = {"nil",       "1",          "'text'",
                                "{}",        "fake_table", "fake_userdata",
                                "io.stdout", "print",      "coroutine.create(print)"};
  for (const char* method : kMethods) {
    for (const char* self : selves) {
      expect_refused(pcall(std::string("log.") + method, std::string(self) + ", 600, 'x'"),
                     "bad argument #1");
    }
    // Called with a dot: the message lands where the logger belongs.
    expect_refused(std::string("return pcall(function() log.") + method + "('x', 1) end)",
                   "QueltoLogger expected, got string");
  }
}

TEST_F(EntryPoints, LogRefusesPrioritiesThatAreNotIntegers) {
  for (const char* priority : {"", "nil", "2.5", "'x'", "{}", "0/0", "2^63", "math.huge"}) {
    expect_refused(pcall("log.log", std::string("log") + (*priority ? ", " : "") + priority),
                   "bad argument #2");
  }
  // An integral float or a numeric string is a priority; the low 32 bits count.
  run("log:log(600.0, 'a') log:log('600', 'b') log:log(2^32 + 600, 'c')");
  EXPECT_EQ(capture.take(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(EntryPoints, ModuleFunctionsRefuseBadArguments) {
  for (const char* name : {"", "5", "true", "{}", "print", "log"}) {
    expect_refused(pcall("q.get_log", name),
                   "Argument to get_log must be nil or a log module name");
  }
  for (const char* path : {"", "nil", "{}", "true"}) {
    expect_refused(pcall("q.configure", path), "bad argument #1");
  }
  expect_refused(pcall("q.get_log", "'x', 5"), "bad argument #2");
  expect_refused(pcall("q.get_log", "'x', {gate = 'x'}"), "logger option 'gate' must be");
  expect_refused(pcall("q.set_defaults", "{[log] = 1}"), "logger option names are strings");
  expect_refused(pcall("q.set_defaults", ""), "bad argument #1");
  expect_refused("return pcall(q.configure, '/nonexistent/dir/x.properties')",
                 "log4cpp configure failure: ");
}

TEST_F(EntryPoints, GetLogBoundsTheLevelsOfAName) {
  // log4cpp makes the parents of a new category by recursion, one native
  // frame per level: a name of 200000 dots used to crash the process.
  expect_refused(pcall("q.get_log", "('.'):rep(200000)"),
                 "Argument to get_log has more than 256 levels");
  expect_refused(pcall("q.get_log", "('a.'):rep(256) .. 'z'"),
                 "Argument to get_log has more than 256 levels");
  // 256 levels, and dots after a NUL, which ends the name, are accepted.
  const auto category_of = [this](const std::string& chunk) -> std::string {
    run("named = q.get_log(" + chunk + ")");
    lua_getglobal(L, "named");
    auto* logger = static_cast<QueltoLogger*>(luaL_checkudata(L, -1, kLoggerType));
    lua_pop(L, 1);
    return logger->category->getName();
  };
  std::string deepest;
  for (int i = 0; i < 255; ++i) deepest += "a.";
  EXPECT_EQ(category_of("('a.'):rep(255) .. 'z'"), deepest + "z");
  EXPECT_EQ(category_of("'x\\0' .. ('.'):rep(1000)"), "x");
}

TEST_F(EntryPoints, GetLogAndPriorityMapUnderAllocationFailure) {
  run(R"(
    scenario = function()
      local named = q.get_log("safety.a.category.name.longer.than.any.small.string")
      local root = q.get_log(nil)
      local map = q.get_priority_map()
      q.set_defaults({ gate = "chained" })
      local chained = q.get_log("safety.chained", { gate = "own" })
      chained:set_priority("INFO")
      assert(chained:get_name() == "safety.chained" and chained:is_enabled("INFO"))
      chained:set_priority(nil)
      assert(getmetatable(named) == getmetatable(log) and getmetatable(root) == getmetatable(log))
      assert(map.INFO == 600 and map.DEBUG == 700 and map.NOTSET == 800, "incomplete map")
    end)");
  for (Injector* injector : {&Injector::cxx(), &Injector::lua()}) {
    for (const bool persistent : {false, true}) {
      long raised = 0;
      sweep(*injector, persistent, [&raised](const Outcome& outcome) {
        if (!outcome.ok) {
          ++raised;
          EXPECT_EQ(outcome.error, "not enough memory");
        }
      });
      // Lua retries a failed allocation once after an emergency collection:
      // only a lasting failure of its heap raises.
      if (persistent || injector == &Injector::cxx()) {
        EXPECT_GT(raised, 0);
      }
    }
  }
}

TEST_F(EntryPoints, ConfigureUnderAllocationFailureRaisesOrConfigures) {
  const std::string path = testing::TempDir() + "safety.properties";
  std::ofstream(path) << "log4cpp.rootCategory=DEBUG, sink\n"
                         "log4cpp.appender.sink=FileAppender\n"
                         "log4cpp.appender.sink.fileName=/dev/null\n"
                         "log4cpp.appender.sink.layout=PatternLayout\n"
                         "log4cpp.appender.sink.layout.ConversionPattern=%p %c: %m%n\n";
  run("scenario = function() q.configure('" + path + "') end");
  // log4cpp's configurator keeps blocks of its own across configurations,
  // so only the outcome is checked here, not the block count.
  const std::string unknown = "log4cpp configure unknown failure: std::bad_alloc";
  for (const bool persistent : {false, true}) {
    long raised = 0;
    for (long skip = 0;; ++skip) {
      const Outcome outcome = call_scenario(&Injector::cxx(), skip, persistent);
      EXPECT_EQ(outcome.stack_left, 0);
      if (outcome.failures == 0) {
        EXPECT_TRUE(outcome.ok) << outcome.error;
        break;
      }
      ++raised;
      EXPECT_FALSE(outcome.ok);
      const bool known = outcome.error == "not enough memory" ||
                         (outcome.error.size() > unknown.size() &&
                          outcome.error.compare(outcome.error.size() - unknown.size(),
                                                unknown.size(), unknown) == 0);
      EXPECT_TRUE(known) << outcome.error;
      if (HasFailure()) break;
    }
    EXPECT_GT(raised, 10);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace quelto::safety
