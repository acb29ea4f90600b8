// Configuring again: what a new configuration replaces is released, and
// nothing else is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <log4cpp/Appender.hh>
#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "backend/log4cpp_internals.h"
#include "lua_fixture.h"
#include "quelto_internal.h"

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
  /// requires, unless the text starts with one) and returns its path.
  std::string properties(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    const bool has_root = text.rfind("log4cpp.rootCategory", 0) == 0;
    std::ofstream(path) << (has_root ? "" : "log4cpp.rootCategory=WARN\n") << text;
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

TEST_F(Configuration, AFailedConfigurationPutsEveryCategoryBack) {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  log4cpp::Category& kept = log4cpp::Category::getInstance("cfg.undo");
  const std::string good = properties(
      "good.properties", "log4cpp.rootCategory=WARN, fr\n" + file_appender("fr", "r.log") +
                             "log4cpp.category.cfg.undo=ERROR, fu\n" +
                             "log4cpp.additivity.cfg.undo=false\n" + file_appender("fu", "u.log"));
  ASSERT_EQ(configure(good), "");
  log4cpp::Appender* root_appender = only_appender("");
  log4cpp::Appender* kept_appender = only_appender("cfg.undo");
  // Each fails after the configurator changed the root or cfg.undo, and the
  // last after it attached an appender of its own to cfg.undo and made a category.
  const std::string ff = file_appender("ff", "f.log");
  const std::vector<std::pair<std::string, std::string>> failing = {
      {"log4cpp.rootCategory=DEBUG, nosuch\n",
       "Appender 'nosuch' not found for category 'rootCategory'"},
      {"log4cpp.category.cfg.undo=LOUD\n", "unknown priority name: 'LOUD' for category 'cfg.undo'"},
      {"log4cpp.category.cfg.undo=DEBUG, ff\nlog4cpp.category.cfg.undo.new=INFO, ff\n"
       "log4cpp.additivity.cfg.undo=true\nlog4cpp.category.cfg.zz=INFO, nosuch\n" +
           ff,
       "Appender 'nosuch' not found for category 'cfg.zz'"},
  };
  const int descriptors = open_descriptors();
  for (const auto& [text, error] : failing) {
    const std::string path = properties("failing.properties", text);
    EXPECT_EQ(configure(path), "log4cpp configure failure: " + error) << text;
    EXPECT_EQ(only_appender(""), root_appender) << text;
    EXPECT_EQ(only_appender("cfg.undo"), kept_appender) << text;
    EXPECT_EQ(root.getPriority(), log4cpp::Priority::WARN) << text;
    EXPECT_EQ(kept.getPriority(), log4cpp::Priority::ERROR) << text;
    EXPECT_FALSE(kept.getAdditivity()) << text;
  }
  const log4cpp::Category& made = log4cpp::Category::getInstance("cfg.undo.new");
  EXPECT_EQ(made.getPriority(), log4cpp::Priority::NOTSET);
  EXPECT_TRUE(made.getAllAppenders().empty());
  EXPECT_EQ(open_descriptors(), descriptors);  // the failed run's f.log was closed
  EXPECT_EQ(log4cpp::Appender::getAppender("fu"), kept_appender);
  root.warn("root");
  kept.error("undo");
  EXPECT_EQ(read("r.log"), "root\n");
  EXPECT_EQ(read("u.log"), "undo\n");
}

TEST_F(Configuration, FilesThatCouldHoldTheLockAreRefused) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = properties("large.properties", std::string(1 << 20, '#'));
  std::string deep = "log4cpp.category.";
  for (int level = 1; level < 256; ++level) deep += "d.";
  const std::string deepest = properties("deep.properties", deep + "d=INFO\n");
  const std::string too_deep = properties("too_deep.properties", deep + "d.d=INFO\n");
  const std::string unknown = properties("unknown.properties", " log4cpp.quelto.asink = true\n");
  const std::string not_ours = properties("not_ours.properties", "quelto=1\nqueltox.y=2\n");
  const auto keyed = [this](const std::string& name, const std::string& line) {
    return properties(name, line + "\n");
  };
  const std::string prefix = "log4cpp configure failure: File ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {unknown, "log4cpp configure failure: unknown key 'quelto.asink'"},
      {keyed("a.properties", "quelto.async = yes"),
       "log4cpp configure failure: key 'quelto.async' must be true or false, got 'yes'"},
      {keyed("q.properties", "log4cpp.quelto.async.queue = 15"),
       "log4cpp configure failure: key 'quelto.async.queue' must be an integer from 16 to "
       "1048576, got '15'"},
      {keyed("r.properties", "quelto.async.queue=1048577"),
       "log4cpp configure failure: key 'quelto.async.queue' must be an integer from 16 to "
       "1048576, got '1048577'"},
      {keyed("w.properties", "quelto.async.when_full = wait"),
       "log4cpp configure failure: key 'quelto.async.when_full' must be block or drop, got "
       "'wait'"},
      {keyed("ok.properties",
             "quelto.async = false\nquelto.async.queue = 16\n"
             "quelto.async.when_full = drop"),
       ""},
      {not_ours, ""},
      {fifo, prefix + fifo + " is not a regular file"},
      {"/dev/zero", prefix + "/dev/zero is not a regular file"},
      {dir_.string(), prefix + dir_.string() + " is not a regular file"},
      {large, prefix + large + " is larger than 1048576 bytes"},
      {too_deep, prefix + too_deep + " names a category of more than 256 levels"},
      {deepest, ""},
  };
  for (const auto& [path, error] : refused) EXPECT_EQ(configure(path), error) << path;
}

TEST_F(Configuration, ReopenFindsEveryAppenderInUse) {
  // The second file defines an appender of the name cfg.kept's has, which
  // then holds log4cpp's registry: reopenAll would miss cfg.kept's.
  ASSERT_EQ(configure(properties("kept.properties", "log4cpp.category.cfg.kept=INFO, fk\n" +
                                                        file_appender("fk", "kept.log"))),
            "");
  ASSERT_EQ(configure(properties("other.properties", "log4cpp.category.cfg.other=INFO, fk\n" +
                                                         file_appender("fk", "other.log"))),
            "");
  fs::rename(dir_ / "kept.log", dir_ / "kept.log.1");
  fs::rename(dir_ / "other.log", dir_ / "other.log.1");
  ASSERT_EQ(luaL_dostring(L, "return q.reopen()"), LUA_OK);
  EXPECT_TRUE(lua_toboolean(L, -1));
  log4cpp::Category::getInstance("cfg.kept").info("kept");
  log4cpp::Category::getInstance("cfg.other").info("other");
  EXPECT_EQ(read("kept.log") + read("other.log"), "kept\nother\n");
  EXPECT_EQ(read("kept.log.1") + read("other.log.1"), "");
}

TEST_F(Configuration, ReopenKeepsTheFileOfAnAppenderWhoseNameIsNowAFifoWithNoReader) {
  const std::string rotated = properties(
      "rot.properties", "log4cpp.category.cfg.rot=INFO, fr\n" + file_appender("fr", "r.log"));
  ASSERT_EQ(configure(rotated), "");
  log4cpp::Category& category = log4cpp::Category::getInstance("cfg.rot");
  fs::rename(dir_ / "r.log", dir_ / "r.log.1");
  const std::string fifo = (dir_ / "r.log").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> returned{false};
  std::thread rescue([&] {  // should reopen wait for a reader, one comes after 5 s
    for (int ms = 0; ms < 5000 && !returned; ++ms) usleep(1000);
    if (!returned) close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  });
  ASSERT_EQ(luaL_dostring(L, "return q.reopen()"), LUA_OK);
  returned = true;
  rescue.join();
  EXPECT_FALSE(lua_toboolean(L, -2));
  EXPECT_STREQ(lua_tostring(L, -1),
               ("appender 'fr' was not reopened: " + fifo + " is a FIFO with no reader").c_str());
  lua_settop(L, 0);
  category.info("old file");
  EXPECT_EQ(read("r.log.1"), "old file\n");
  // Once the FIFO has a reader, the appender opens it.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(luaL_dostring(L, "return q.reopen()"), LUA_OK);
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_settop(L, 0);
  category.info("fifo");
  char got[16] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 5);
  EXPECT_STREQ(got, "fifo\n");
  fs::remove(fifo);
  ASSERT_EQ(configure(rotated), "");  // the FIFO's appender released before its reader goes
  close(reader);
}

// The private members the module reads, against log4cpp's public answers: a
// library that does not match its header fails here.
TEST(Log4cppInternals, AgreeWithThePublicApi) {
  log4cpp::Category& leaf = log4cpp::Category::getInstance("internals.a.b.c");
  log4cpp::Category& middle = log4cpp::Category::getInstance("internals.a");
  for (const int priority : {log4cpp::Priority::ERROR, log4cpp::Priority::NOTSET}) {
    middle.setPriority(priority);
    for (const auto* category : {&leaf, &middle, &log4cpp::Category::getRoot()}) {
      EXPECT_EQ(backend::chained_priority(*category), category->getChainedPriority());
    }
  }
  bool destroyed = false;
  auto* first = new HostAppender("internals.appender", &destroyed);
  auto* second = new HostAppender("internals.appender", &destroyed);  // takes the name
  backend::register_appender(first);
  EXPECT_EQ(log4cpp::Appender::getAppender("internals.appender"), first);
  leaf.addAppender(*first);
  EXPECT_EQ(backend::appenders_of(leaf), leaf.getAllAppenders());
  backend::unregister_appender(first);
  EXPECT_EQ(log4cpp::Appender::getAppender("internals.appender"), nullptr);
  // The mutex is the one log4cpp's own calls on the category wait for.
  pthread_mutex_lock(&backend::category_mutex(leaf));
  std::atomic<bool> read{false};
  std::thread reader([&] {
    leaf.getAllAppenders();
    read = true;
  });
  usleep(50000);
  EXPECT_FALSE(read);
  pthread_mutex_unlock(&backend::category_mutex(leaf));
  reader.join();
  EXPECT_TRUE(read);
  leaf.removeAllAppenders();
  log4cpp::FileAppender file("internals.file", "/dev/null");
  ASSERT_NE(backend::file_name(file), nullptr);
  EXPECT_EQ(*backend::file_name(file), "/dev/null");
  EXPECT_EQ(backend::file_name(*first), nullptr);  // not a FileAppender
  delete second;
  delete first;
}

}  // namespace
}  // namespace quelto::test
