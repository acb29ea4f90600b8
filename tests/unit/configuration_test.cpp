// Configuring again: what a new configuration replaces is released, and
// nothing else is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <log4cpp/Appender.hh>
#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/NDC.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/TimeStamp.hh>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "backend/gate.h"
#include "backend/json_layout.h"
#include "backend/log4cpp_internals.h"
#include "backend/pattern_layout.h"
#include "backend/properties_file.h"
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
  /// requires, unless the text names one) and returns its path.
  std::string properties(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    const bool has_root = text.find("rootCategory") != std::string::npos;
    std::ofstream(path) << (has_root ? "" : "log4cpp.rootCategory=WARN\n") << text;
    return path.string();
  }

  /// A file appender `appender` into `file` (in the test's directory), "%m%n".
  std::string file_appender(const std::string& appender, const std::string& file,
                            const std::string& pattern = "%m%n") {
    const std::string key = "log4cpp.appender." + appender;
    return key + "=FileAppender\n" + key + ".fileName=" + (dir_ / file).string() + "\n" + key +
           ".layout=PatternLayout\n" + key + ".layout.ConversionPattern=" + pattern + "\n";
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

  /// The layout of an appender that has one.
  static log4cpp::Layout& layout_of(log4cpp::Appender* appender) {
    return backend::layout_of(dynamic_cast<log4cpp::LayoutAppender&>(*appender));
  }

  fs::path dir_;
};

TEST_F(Configuration, ReplacedAppendersAreClosedAndTheNewOnesStayRegistered) {
  const std::string first = properties(
      "first.properties", "log4cpp.category.cfg.a=INFO, fa\n" + file_appender("fa", "a.log"));
  // The second also defines appenders that no category holds: closed at once.
  std::string unattached;
  for (int i = 0; i < 10; ++i) unattached += file_appender("fx" + std::to_string(i), "x.log");
  const std::string second =
      properties("second.properties",
                 "log4cpp.category.cfg.a=INFO, fa\n" + file_appender("fa", "b.log") + unattached);
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
  root.warn("before");
  log4cpp::Appender* root_appender = only_appender("");
  log4cpp::Appender* kept_appender = only_appender("cfg.undo");
  // log4cpp would fail each after it changed the root or cfg.undo, or after
  // it made appenders: opened f.log, a syslog socket, truncated r.log (fr
  // again, append=false). None of it may happen, a thousand times over.
  const std::string ff = file_appender("ff", "f.log");
  const std::string syslog =
      "log4cpp.appender.fs=SyslogAppender\nlog4cpp.appender.fs.syslogHost="
      "127.0.0.1\nlog4cpp.appender.fs.layout=BasicLayout\n";
  const std::vector<std::pair<std::string, std::string>> failing = {
      {"log4cpp.rootCategory=DEBUG, nosuch\n",
       "Appender 'nosuch' not found for category 'rootCategory'"},
      {"log4cpp.category.cfg.undo=LOUD\n", "unknown priority name: 'LOUD' for category 'cfg.undo'"},
      {"log4cpp.category.cfg.undo=DEBUG, ff\nlog4cpp.category.cfg.undo.new=INFO, ff\n"
       "log4cpp.additivity.cfg.undo=true\nlog4cpp.category.cfg.zz=INFO, nosuch\n" +
           ff,
       "Appender 'nosuch' not found for category 'cfg.zz'"},
      {ff + "log4cpp.appender.fp=ConsoleAppender\nlog4cpp.appender.fp.layout=PatternLayout\n"
            "log4cpp.appender.fp.layout.ConversionPattern=%Q %m%n\n",
       "unknown conversion specifier 'Q' in '%Q %m%n' at index 2"},
      {"# no rootCategory\nlog4cpp.category.cfg.undo=DEBUG, ff\n" + ff,
       "Unable to find category: rootCategory"},
      {ff + "log4cpp.appender.fx=NoSuchAppender\n",
       "Appender 'fx' has unknown type 'NoSuchAppender'"},
      {syslog + "log4cpp.category.cfg.undo=LOUD\n",
       "unknown priority name: 'LOUD' for category 'cfg.undo'"},
      {file_appender("fr", "r.log") + "log4cpp.appender.fr.append=false\n" +
           "log4cpp.rootCategory=INFO, fr, nosuch\n",
       "Appender 'nosuch' not found for category 'rootCategory'"},
  };
  const int descriptors = open_descriptors();
  for (const auto& [text, error] : failing) {
    const std::string path = properties("failing.properties", text);
    EXPECT_EQ(configure(path), "log4cpp configure failure: " + error) << text;
    for (int i = 1; i < 1000; ++i) configure(path);
    EXPECT_EQ(only_appender(""), root_appender) << text;
    EXPECT_EQ(only_appender("cfg.undo"), kept_appender) << text;
    EXPECT_EQ(root.getPriority(), log4cpp::Priority::WARN) << text;
    EXPECT_EQ(kept.getPriority(), log4cpp::Priority::ERROR) << text;
    EXPECT_FALSE(kept.getAdditivity()) << text;
  }
  const log4cpp::Category& made = log4cpp::Category::getInstance("cfg.undo.new");
  EXPECT_EQ(made.getPriority(), log4cpp::Priority::NOTSET);
  EXPECT_TRUE(made.getAllAppenders().empty());
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_EQ(log4cpp::Appender::getAppender("fu"), kept_appender);
  root.warn("root");
  kept.error("undo");
  EXPECT_EQ(read("r.log"), "before\nroot\n");
  EXPECT_EQ(read("u.log"), "undo\n");
}

TEST(PropertiesFile, NamesTheCategoriesLog4cppConfigures) {
  // Those a failed run's undo keeps: every key log4cpp reads as a category's, no other.
  const std::string text =
      " log4cpp.category.a = "
      "INFO\nlog4j.category.b=INFO\ncategory.c\t=INFO\nlog4cpp.category.d.e=\n"
      "#log4cpp.category.f=INFO\nlog4cpp.categoryg=INFO\nlog4cpp.additivity.h=false\n"
      "log4cpp.rootCategory=INFO\n";
  EXPECT_EQ(backend::check_properties(text, "t").categories,
            (std::set<std::string>{"a", "b", "c", "d.e"}));
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
  // An appender whose open would wait, or has no file to open; then what
  // log4cpp takes, however odd: the first of two values, a substitution,
  // class names with packages, a target in capitals, an appender without a
  // layout, a nameless appender key, NOTSET below the root.
  const std::string waits = properties("waits.properties",
                                       "log4cpp.appender.fq=FileAppender\n"
                                       "log4cpp.appender.fq.fileName=" +
                                           fifo + "\n");
  const std::string no_file =
      properties("no_file.properties", "log4cpp.appender.fn=FileAppender\n");
  const std::string odd = properties(
      "odd.properties",
      "P=INFO\nlog4cpp.rootCategory=${P}\nlog4cpp.category.cfg.odd=NOTSET, fa\n"
      "log4j.appender.fa=org.apache.log4j.ConsoleAppender\nlog4cpp.appender.fa=NoSuchAppender\n"
      "log4cpp.appender.fa.target= StdErr \nlog4cpp.appender.fa.layout=x.SimpleLayout\n"
      "log4cpp.appender.fz=AbortAppender\nlog4cpp.appender.=NoSuchAppender\n");
  const std::string bad_value = properties("bad_value.properties", "quelto.layout.fast=yes\n");
  const auto keyed = [this](const std::string& name, const std::string& line) {
    return properties(name, line + "\n");
  };
  const std::string prefix = "log4cpp configure failure: File ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {waits, "log4cpp configure failure: Appender 'fq' would wait to open " + fifo +
                  ": a FIFO that no process reads"},
      {no_file, "log4cpp configure failure: Appender 'fn' has no fileName"},
      {odd, ""},
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
      {bad_value,
       "log4cpp configure failure: key 'quelto.layout.fast' must be true or false, got 'yes'"},
      {fifo, prefix + fifo + " is not a regular file"},
      {"/dev/zero", prefix + "/dev/zero is not a regular file"},
      {dir_.string(), prefix + dir_.string() + " is not a regular file"},
      {large, prefix + large + " is larger than 1048576 bytes"},
      {too_deep, prefix + too_deep + " names a category of more than 256 levels"},
      {deepest, ""},
  };
  for (const auto& [path, error] : refused) EXPECT_EQ(configure(path), error) << path;
}

TEST_F(Configuration, JsonLayoutOnTheAppendersNamed) {
  const std::string text = file_appender("text", "text.log") +
                           "log4cpp.appender.json=FileAppender\n"
                           "log4cpp.appender.json.fileName=" +
                           (dir_ / "json.log").string() +
                           "\nquelto.appender.json.layout = json\n"
                           "log4cpp.category.j=INFO, text, json\nlog4cpp.additivity.j=false\n";
  ASSERT_EQ(configure(properties("json.properties", text)), "");
  run(R"(q.get_log("j"):info("dump ", {x = "a\nb"})
         q.get_log("j.x", {format = "json"}):warn("json ", {id = 7, "p"})
         q.get_log("j"):info('{"msg":"forged","level":"FATAL"}'))");
  log4cpp::Category::getInstance("j").error("from C++, \"quoted\"");
  // The time is the record's: masked here, checked by write_utc_time's test.
  const std::string json = std::regex_replace(
      read("json.log"), std::regex(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z")"),
      R"("time":"T")");
  EXPECT_EQ(
      json,
      R"({"time":"T","level":"INFO","logger":"j","msg":"dump {\n  x = \"a\nb\"\n}"})"
      "\n"
      R"({"time":"T","level":"WARN","logger":"j.x","msg":"json ","id":7,"args":["p"]})"
      "\n"
      R"({"time":"T","level":"INFO","logger":"j","msg":"{\"msg\":\"forged\",\"level\":\"FATAL\"}"})"
      "\n"
      R"({"time":"T","level":"ERROR","logger":"j","msg":"from C++, \"quoted\""})"
      "\n");
  EXPECT_EQ(read("text.log"),
            "dump {\n  x = \"a\nb\"\n}\n"
            R"({"msg":"json ","id":7,"args":["p"]})"
            "\n"
            R"({"msg":"forged","level":"FATAL"})"
            "\nfrom C++, \"quoted\"\n");
  // The next configuration's appenders have the layouts it gives them.
  ASSERT_EQ(configure(properties("again.properties", file_appender("json", "again.log") +
                                                         "log4cpp.category.j=INFO, json\n")),
            "");
  log4cpp::Category::getInstance("j").error("plain");
  EXPECT_EQ(read("again.log"), "plain\n");
}

TEST_F(Configuration, JsonLayoutKeysAreChecked) {
  const std::string json =
      "log4cpp.appender.j=FileAppender\nlog4cpp.appender.j.fileName=" + (dir_ / "j.log").string() +
      "\n";
  const std::string failure = "log4cpp configure failure: ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"quelto.appender.k.layout = json\n",
       failure + "key 'quelto.appender.k.layout' names appender 'k', which is not defined"},
      {json + "quelto.appender.j.layout = xml\n",
       failure + "key 'quelto.appender.j.layout' must be json, got 'xml'"},
      {json + "quelto.appender.j.colour = red\n",
       failure + "unknown key 'quelto.appender.j.colour'"},
      {json + "quelto.appender.j.x.layout = json\n",
       failure + "unknown key 'quelto.appender.j.x.layout'"},
      {json + "quelto.appender..layout = json\n",
       failure + "unknown key 'quelto.appender..layout'"},
      // Its own layout line, or none: either is taken.
      {json + "log4cpp.appender.j.layout=BasicLayout\nquelto.appender.j.layout = json\n", ""},
  };
  for (const auto& [text, error] : refused) {
    EXPECT_EQ(configure(properties("keys.properties", text)), error) << text;
  }
}

TEST(JsonLayout, WritesTheEventsTimeLevelAndCategory) {
  backend::JsonLayout layout;
  log4cpp::LoggingEvent event("app.\"x\"", "m\n", "", log4cpp::Priority::NOTICE);
  const std::pair<log4cpp::TimeStamp, const char*> times[] = {
      {log4cpp::TimeStamp(1733668064, 123456), "2024-12-08T14:27:44.123456Z"},
      {log4cpp::TimeStamp(1733668064, 999999), "2024-12-08T14:27:44.999999Z"},
      {log4cpp::TimeStamp(951782400, 1), "2000-02-29T00:00:00.000001Z"},
      {log4cpp::TimeStamp(1733668065, 0), "2024-12-08T14:27:45.000000Z"}};
  for (const auto& [time, text] : times) {
    event.timeStamp = time;
    EXPECT_EQ(layout.format(event), std::string(R"({"time":")") + text +
                                        R"(","level":"NOTICE","logger":"app.\"x\"","msg":"m\n"})"
                                        "\n");
  }
}

TEST(JsonLayout, TimeIsRfc3339InUtc) {
  const std::pair<long long, const char*> times[] = {
      {0, "1970-01-01T00:00:00.000000Z"},           {951782400, "2000-02-29T00:00:00.000001Z"},
      {951868799, "2000-02-29T23:59:59.999999Z"},   {1733668064, "2024-12-08T14:27:44.123456Z"},
      {4102444799, "2099-12-31T23:59:59.000000Z"},  {-1, "1969-12-31T23:59:59.000000Z"},
      {253402300799, "9999-12-31T23:59:59.500000Z"}};
  const int micros[] = {0, 1, 999999, 123456, 0, 0, 500000};
  for (std::size_t i = 0; i < std::size(times); ++i) {
    char text[backend::kUtcTimeSize];
    backend::write_utc_time(times[i].first, micros[i], text);
    EXPECT_EQ(std::string(text, sizeof text), times[i].second) << times[i].first;
  }
}

TEST_F(Configuration, ReopenFindsEveryAppenderInUse) {
  // The second file defines an appender of the name cfg.kept's has, which
  // then holds log4cpp's registry: reopenAll would miss cfg.kept's.
  fs::create_directory(dir_ / "sub");
  ASSERT_EQ(configure(properties("kept.properties", "log4cpp.category.cfg.kept=INFO, fk, fg\n" +
                                                        file_appender("fk", "kept.log") +
                                                        file_appender("fg", "sub/g.log"))),
            "");
  ASSERT_EQ(configure(properties("other.properties", "log4cpp.category.cfg.other=INFO, fk\n" +
                                                         file_appender("fk", "other.log"))),
            "");
  // Then once more, when fg cannot reopen: the others still do.
  for (const bool all : {true, false}) {
    if (!all) fs::remove_all(dir_ / "sub");
    fs::rename(dir_ / "kept.log", dir_ / "kept.log.1");
    fs::rename(dir_ / "other.log", dir_ / "other.log.1");
    ASSERT_EQ(luaL_dostring(L, "return (q.reopen())"), LUA_OK);  // the text of a failure aside
    EXPECT_EQ(lua_toboolean(L, -1) != 0, all);
    log4cpp::Category::getInstance("cfg.kept").info("kept");
    log4cpp::Category::getInstance("cfg.other").info("other");
    EXPECT_EQ(read("kept.log") + read("other.log"), "kept\nother\n");
    EXPECT_EQ(read("kept.log.1") + read("other.log.1"), all ? "" : "kept\nother\n");
  }
  // Categories outlive the test: leave none holding the vanished file.
  ASSERT_EQ(configure(properties("kept.properties", "log4cpp.category.cfg.kept=INFO\n")), "");
}

TEST_F(Configuration, MadeAppendersGetTheModulesLayoutAndTheHostsKeepTheirs) {
  auto* host = new log4cpp::FileAppender("host.file", (dir_ / "host.log").string());
  auto* host_layout = new log4cpp::PatternLayout();
  host_layout->setConversionPattern("%p %m%n");
  host->setLayout(host_layout);
  log4cpp::Category::getInstance("cfg.hostfile").addAppender(host);  // the category owns it
  const std::string pattern = "%-6p|%c{1}|%.3x|%m%n";
  const std::string simple = "log4cpp.appender.fs=FileAppender\nlog4cpp.appender.fs.fileName=" +
                             (dir_ / "simple.log").string() +
                             "\nlog4cpp.appender.fs.layout=SimpleLayout\n";
  ASSERT_EQ(configure(properties("fast.properties",
                                 "log4cpp.category.cfg.fast.one=INFO, ff\n"
                                 "log4cpp.category.cfg.fast.two=INFO, fs\n" +
                                     file_appender("ff", "fast.log", pattern) + simple)),
            "");
  EXPECT_EQ(typeid(layout_of(only_appender("cfg.fast.two"))), typeid(backend::FastPatternLayout));
  log4cpp::Category::getInstance("cfg.fast.two").warn("simple");
  EXPECT_EQ(read("simple.log"), "WARN    : simple\n");
  const log4cpp::Layout& made = layout_of(only_appender("cfg.fast.one"));
  ASSERT_EQ(typeid(made), typeid(backend::FastPatternLayout));
  EXPECT_EQ(static_cast<const backend::FastPatternLayout&>(made).getConversionPattern(), pattern);
  EXPECT_EQ(&layout_of(host), host_layout);
  log4cpp::NDC::push("request");
  log4cpp::Category::getInstance("cfg.fast.one").warn("through the module's");
  log4cpp::NDC::pop();
  log4cpp::Category::getInstance("cfg.hostfile").warn("through the host's");
  EXPECT_EQ(read("fast.log"), "WARN  |one|req|through the module's\n");
  EXPECT_EQ(read("host.log"), "WARN through the host's\n");
  log4cpp::Category::getInstance("cfg.hostfile").removeAllAppenders();
  // Asked not to, the module leaves log4cpp's layout.
  ASSERT_EQ(configure(properties("slow.properties",
                                 "quelto.layout.fast = false\n"
                                 "log4cpp.category.cfg.fast.one=INFO, ff\n" +
                                     file_appender("ff", "fast.log", pattern))),
            "");
  EXPECT_EQ(typeid(layout_of(only_appender("cfg.fast.one"))), typeid(log4cpp::PatternLayout));
}

// The host's records reach the appenders from threads of the host's, which
// take no lock of the module's, while configurations replace the layouts.
TEST_F(Configuration, HostRecordsWhileLayoutsAreReplaced) {
  const std::string file =
      properties("threads.properties", "log4cpp.category.cfg.t=INFO, ft\n" +
                                           file_appender("ft", "t.log", "%d{%l} %-5p %c %m%n"));
  ASSERT_EQ(configure(file), "");
  std::atomic<bool> stop{false};
  std::thread host([&stop] {
    log4cpp::Category& category = log4cpp::Category::getInstance("cfg.t.host");
    while (!stop) category.info("host");
  });
  for (int i = 0; i < 200; ++i) ASSERT_EQ(configure(file), "");
  stop = true;
  host.join();
  std::istringstream lines(read("t.log"));
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(line.substr(3), " INFO  cfg.t.host host");
  }
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
// The chained gate's cache follows every change log4cpp's own walk sees,
// without being told, but a category in between gaining a priority.
TEST(Log4cppInternals, AgreeWithThePublicApi) {
  log4cpp::Category& leaf = log4cpp::Category::getInstance("internals.a.b.c");
  log4cpp::Category& middle = log4cpp::Category::getInstance("internals.a");
  log4cpp::Category& root = log4cpp::Category::getRoot();
  backend::GateCache leaf_cache(leaf), middle_cache(middle), root_cache(root);
  const std::pair<log4cpp::Category*, int> changes[] = {
      {&middle, log4cpp::Priority::ERROR},  {&leaf, log4cpp::Priority::DEBUG},
      {&root, log4cpp::Priority::ALERT},    {&leaf, log4cpp::Priority::NOTSET},
      {&middle, log4cpp::Priority::NOTSET}, {&root, log4cpp::Priority::WARN}};
  for (const auto& [category, priority] : changes) {
    category->setPriority(priority);  // as a host does, without telling the module
    for (auto [c, cache] : {std::pair{&leaf, &leaf_cache}, std::pair{&middle, &middle_cache},
                            std::pair{&root, &root_cache}}) {
      EXPECT_EQ(backend::chained_priority(*c, *cache), c->getChainedPriority()) << c->getName();
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
  delete second;
  auto* file = new log4cpp::FileAppender("internals.file", "/dev/null");
  ASSERT_NE(backend::file_name(*file), nullptr);
  EXPECT_EQ(*backend::file_name(*file), "/dev/null");
  EXPECT_EQ(backend::file_name(*first), nullptr);  // not a FileAppender
  delete first;
  auto* layout = new log4cpp::PatternLayout();
  file->setLayout(layout);
  EXPECT_EQ(&backend::layout_of(*file), layout);
  middle.addAppender(file);
  middle.removeAllAppenders();
}

}  // namespace
}  // namespace quelto::test
