// Configuring again: what a new configuration replaces is released, and
// nothing else is.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <log4cpp/Appender.hh>
#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <sstream>
#include <string>
#include <vector>

#include "lua_fixture.h"
#include "module/module_functions.h"

namespace quelto::test {
namespace {

namespace fs = std::filesystem;

/// An appender of the host's own, which records what happens to it.
class HostAppender : public log4cpp::AppenderSkeleton {
 public:
  explicit HostAppender(const std::string& name, bool* destroyed)
      : AppenderSkeleton(name), destroyed_(destroyed) {}
  ~HostAppender() override { *destroyed_ = true; }
  void close() override { ++closes; }
  bool reopen() override { return true; }
  bool requiresLayout() const override { return false; }
  void setLayout(log4cpp::Layout*) override {}
  int closes = 0;
  std::vector<std::string> messages;

 protected:
  void _append(const log4cpp::LoggingEvent& event) override { messages.push_back(event.message); }

 private:
  bool* destroyed_;
};

class Configuration : public LuaTest {
 protected:
  Configuration()
      : dir_(fs::temp_directory_path() / ("quelto-config-" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
    luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 1);
    lua_setglobal(L, "q");
  }
  ~Configuration() override { fs::remove_all(dir_); }

  /// Writes a properties file (with a root category, which log4cpp
  /// requires) and returns its path.
  std::string properties(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "log4cpp.rootCategory=WARN\n" << text;
    return path.string();
  }

  /// A file appender `appender` into `file` (in the test's directory), "%m%n".
  std::string file_appender(const std::string& appender, const std::string& file) {
    const std::string key = "log4cpp.appender." + appender;
    return key + "=FileAppender\n" + key + ".fileName=" + (dir_ / file).string() + "\n" + key +
           ".layout=PatternLayout\n" + key + ".layout.ConversionPattern=%m%n\n";
  }

  std::string read(const std::string& file) {
    std::stringstream text;
    text << std::ifstream(dir_ / file).rdbuf();
    return text.str();
  }

  /// `q.configure(path)`; returns the error text, empty on success.
  std::string configure(const std::string& path) {
    lua_getglobal(L, "q");
    lua_getfield(L, -1, "configure");
    lua_pushstring(L, path.c_str());
    std::string error;
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) error = lua_tostring(L, -1);
    lua_settop(L, 0);
    return error;
  }

  static int open_descriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
  }

  static log4cpp::Appender* only_appender(const std::string& category) {
    const log4cpp::AppenderSet appenders =
        log4cpp::Category::getInstance(category).getAllAppenders();
    return appenders.size() == 1 ? *appenders.begin() : nullptr;
  }

  fs::path dir_;
};

TEST_F(Configuration, ReplacedAppendersAreClosedAndTheNewOnesStayRegistered) {
  const std::string first = properties(
      "first.properties", "log4cpp.category.cfg.a=INFO, fa\n" + file_appender("fa", "a.log"));
  const std::string second = properties(
      "second.properties", "log4cpp.category.cfg.a=INFO, fa\n" + file_appender("fa", "b.log"));
  ASSERT_EQ(configure(first), "");
  const int descriptors = open_descriptors();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(configure(i % 2 ? second : first), "");
  EXPECT_EQ(open_descriptors(), descriptors);
  // The replaced appenders of that name were freed, and log4cpp's registry
  // still finds the one in use, as a host's reopen on a signal needs.
  log4cpp::Appender* in_use = only_appender("cfg.a");
  ASSERT_NE(in_use, nullptr);
  EXPECT_EQ(log4cpp::Appender::getAppender("fa"), in_use);
  log4cpp::Category::getInstance("cfg.a").info("after fifty");
  EXPECT_EQ(read("b.log"), "after fifty\n");
}

TEST_F(Configuration, AppendersOfCategoriesTheNewFileLeavesAloneAreKept) {
  const std::string both =
      properties("both.properties",
                 "log4cpp.category.cfg.kept=INFO, fk\n"
                 "log4cpp.category.cfg.moved=INFO, fm\n" +
                     file_appender("fk", "kept.log") + file_appender("fm", "moved.log"));
  const std::string one = properties("one.properties", "log4cpp.category.cfg.moved=INFO, fm\n" +
                                                           file_appender("fm", "moved2.log"));
  ASSERT_EQ(configure(both), "");
  log4cpp::Appender* kept = only_appender("cfg.kept");
  ASSERT_EQ(configure(one), "");
  EXPECT_EQ(only_appender("cfg.kept"), kept);
  log4cpp::Category::getInstance("cfg.kept").info("still here");
  log4cpp::Category::getInstance("cfg.moved").info("moved");
  EXPECT_EQ(read("kept.log"), "still here\n");
  EXPECT_EQ(read("moved2.log"), "moved\n");
  EXPECT_EQ(read("moved.log"), "");
}

TEST_F(Configuration, HostAppendersAreNeverClosedOrFreed) {
  bool attached_destroyed = false;
  bool detached_destroyed = false;
  HostAppender attached("host.attached", &attached_destroyed);
  HostAppender detached("host.detached", &detached_destroyed);
  log4cpp::Category::getInstance("cfg.host").addAppender(attached);   // not named by the files
  log4cpp::Category::getInstance("cfg.taken").addAppender(detached);  // the files replace it
  const std::string file = properties(
      "host.properties", "log4cpp.category.cfg.taken=INFO, ft\n" + file_appender("ft", "t.log"));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(configure(file), "");
  EXPECT_FALSE(attached_destroyed);
  EXPECT_FALSE(detached_destroyed);
  EXPECT_EQ(attached.closes + detached.closes, 0);
  log4cpp::Category::getInstance("cfg.host").warn("host record");
  EXPECT_EQ(attached.messages, std::vector<std::string>{"host record"});
  log4cpp::Category::getInstance("cfg.host").removeAllAppenders();
}

TEST_F(Configuration, AFailedConfigurationKeepsTheOneBefore) {
  const std::string good = properties(
      "good.properties", "log4cpp.category.cfg.fail=INFO, ff\n" + file_appender("ff", "f.log"));
  const std::string no_layout = properties("no_layout.properties",
                                           "log4cpp.category.cfg.fail=INFO, ff\n"
                                           "log4cpp.appender.ff=FileAppender\n"
                                           "log4cpp.appender.ff.fileName=/dev/null\n");
  ASSERT_EQ(configure(good), "");
  log4cpp::Appender* before = only_appender("cfg.fail");
  EXPECT_EQ(configure((dir_ / "missing.properties").string()),
            "log4cpp configure failure: File " + (dir_ / "missing.properties").string() +
                " does not exist");
  EXPECT_EQ(configure(no_layout),
            "log4cpp configure failure: Missing layout property for appender 'ff'");
  EXPECT_EQ(only_appender("cfg.fail"), before);
  log4cpp::Category::getInstance("cfg.fail").info("kept");
  EXPECT_EQ(read("f.log"), "kept\n");
}

}  // namespace
}  // namespace quelto::test
