// What a threaded host does around the module: categories that share one
// appender logged into from many threads, fork() while others configure, and
// the way out of `main`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lua_host.h"

extern char** environ;

namespace quelto::states {
namespace {

// Logs `count` records "<tag> <k>" into the category `name` ("" is the root).
constexpr char kLogChunk[] = R"(
local name, tag, count = (...):match("^([^,]*),([^,]+),(%d+)$")
local log = q.get_log(name ~= "" and name or nil)
for k = 1, tonumber(count) do log:info(tag, " ", k) end
return "ok"
)";

std::string log_args(const std::string& category, const std::string& tag, int count) {
  return category + "," + tag + "," + std::to_string(count);
}

TEST(SharedAppender, EveryRecordWrittenOnceAcrossRollOvers) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 5000;  // some 16 bytes each: about 64 files of 5000 bytes
  ScratchDir dir;
  const std::string file = dir.path("r.log");
  const std::string properties =
      "log4cpp.rootCategory=DEBUG, R\n"
      "log4cpp.category.x=DEBUG, R\n"
      "log4cpp.additivity.x=false\n"
      "log4cpp.appender.R=RollingFileAppender\n"
      "log4cpp.appender.R.fileName=" +
      file +
      "\n"
      "log4cpp.appender.R.maxFileSize=5000\n"
      "log4cpp.appender.R.maxBackupIndex=150\n"
      "log4cpp.appender.R.layout=PatternLayout\n"
      "log4cpp.appender.R.layout.ConversionPattern=%m<eor>%n\n";
  ASSERT_EQ(LuaHost().run(kConfigureChunk, dir.write("r.properties", properties)), "ok");
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Half of the threads into x.y, which reaches R through x, half into the root.
      const std::string category = t % 2 ? "x.y" : "";
      results[t] = LuaHost().run(kLogChunk, log_args(category, "t" + std::to_string(t), kRecords));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(results, std::vector<std::string>(kThreads, "ok"));

  std::vector<std::string> texts{read_file(file)};
  for (int backup = 1; backup <= 150; ++backup) {  // r.log.001 to r.log.150
    const std::string index = std::to_string(backup);
    texts.push_back(read_file(file + "." + std::string(3 - index.size(), '0') + index));
  }
  std::map<std::string, int> written = count_records(texts);
  std::vector<std::string> wrong;  // lost or written twice
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 1; k <= kRecords; ++k) {
      const std::string record = "t" + std::to_string(t) + " " + std::to_string(k);
      const auto found = written.find(record);
      if (found == written.end() || found->second != 1) wrong.push_back(record);
      if (found != written.end()) written.erase(found);
    }
  }
  EXPECT_EQ(wrong.size(), 0u) << "first: " << (wrong.empty() ? "" : wrong.front());
  EXPECT_EQ(written, (std::map<std::string, int>()));  // garbled records
}

TEST(Fork, AChildForkedWhileOthersConfigureCanLog) {
  constexpr int kForks = 60;
  ScratchDir dir;
  const std::string files[] = {
      dir.write("a.properties", file_properties("fa", dir.path("a.log"))),
      dir.write("b.properties", file_properties("fb", dir.path("b.log"))),
  };
  LuaHost host;
  ASSERT_EQ(host.run(kConfigureChunk, files[0]), "ok");
  std::atomic<bool> stop{false};
  std::vector<std::thread> configuring;
  for (int t = 0; t < 2; ++t) {
    configuring.emplace_back([&, t] {
      LuaHost own;
      for (int round = t; !stop; ++round) own.run(kConfigureChunk, files[round % 2]);
    });
  }
  std::vector<int> statuses;
  for (int child = 0; child < kForks; ++child) {
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(10);  // a child that hangs on the lock ends by SIGALRM
      const std::string result = host.run(kLogChunk, log_args("", "child", 1));
      _exit(result == "ok" ? 0 : 1);
    }
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    statuses.push_back(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  for (std::thread& thread : configuring) thread.join();
  EXPECT_EQ(statuses, std::vector<int>(kForks, 0));
  const std::map<std::string, int> written =
      count_records({read_file(dir.path("a.log")), read_file(dir.path("b.log"))});
  EXPECT_EQ(written, (std::map<std::string, int>{{"child 1", kForks}}));
}

// Starts this program again to run `test` alone, with QUELTO_EXIT_LOG set
// to `log`: a test of the way out of `main` runs in a process of its own,
// so that the static destructors do run. Its wait status; a process that
// has not ended after `seconds` is killed.
int run_alone(const std::string& test, const std::string& log, int seconds = 60) {
  const std::string variable = "QUELTO_EXIT_LOG=" + log;
  std::vector<char*> env{const_cast<char*>(variable.c_str())};
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back(nullptr);
  std::string filter = "--gtest_filter=" + test;
  char self[] = "/proc/self/exe";
  char* argv[] = {self, filter.data(), nullptr};
  posix_spawn_file_actions_t quiet;  // its own test report is not this one's
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, self, &quiet, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&quiet);
  int status = -1;
  for (int ms = 0; spawned == 0 && waitpid(pid, &status, WNOHANG) == 0; ++ms) {
    if (ms == seconds * 1000) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return status;
}

// How many of twenty runs of `test` did not exit with status 0.
int failed_runs(const std::string& test) {
  ScratchDir dir;
  int failed = 0;
  for (int run = 0; run < 20; ++run) {
    const int status = run_alone(test, dir.path("exit.log"));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  return failed;
}

// The way out of `main` that the guide gives: every thread that logs is
// stopped and joined, then the process exits and log4cpp's static
// destructors run.
TEST(Exit, ThreadsJoinedBeforeExit) {
  const char* log_file = std::getenv("QUELTO_EXIT_LOG");
  if (log_file == nullptr) {
    EXPECT_EQ(failed_runs("Exit.ThreadsJoinedBeforeExit"), 0);
    return;
  }
  LuaHost host;
  ScratchDir dir;
  if (host.run(kConfigureChunk, dir.write("e.properties", file_properties("fe", log_file))) !=
      "ok") {
    std::_Exit(2);
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&stop] {
      LuaHost own;
      while (!stop) own.run(kLogChunk, log_args("exit", "w", 50));
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  stop = true;
  for (std::thread& thread : threads) thread.join();
  std::exit(0);  // as a return from main: every static destructor runs
}

// A host that does not stop its threads: `main` returns while four threads
// log, look categories up, set priorities and configure, and log4cpp's
// static destructors run meanwhile. The process must still exit cleanly.
TEST(Exit, ThreadsStillRunningAsMainReturns) {
  const char* log_file = std::getenv("QUELTO_EXIT_LOG");
  if (log_file == nullptr) {
    EXPECT_EQ(failed_runs("Exit.ThreadsStillRunningAsMainReturns"), 0);
    return;
  }
  // Beside the log, in the directory of the test that started this one: the
  // threads read it to the end, after every static destructor has run.
  const std::string log(log_file);
  const std::string file = log.substr(0, log.rfind('/')) + "/e.properties";
  std::ofstream(file) << file_properties("fe", log_file);
  if (LuaHost().run(kConfigureChunk, file) != "ok") std::_Exit(2);
  constexpr const char* kChunks[] = {
      kLogChunk,
      kLogChunk,
      R"(for k = 1, 50 do
           local log = q.get_log("exit.n" .. k)
           log:set_priority(k % 2 == 0 and "DEBUG" or nil)
           log:info(log:is_enabled("INFO"), log:get_name())
         end
         return "ok")",
      R"(q.configure(...) q.reopen() return "ok")",
  };
  for (const char* chunk : kChunks) {
    const std::string arg = chunk == kLogChunk ? log_args("exit", "w", 50) : file;
    std::thread([chunk, arg] {
      LuaHost own;  // never closed: the thread runs until the process ends
      for (;;) own.run(chunk, arg);
    }).detach();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::exit(0);  // as a return from main
}

// The asynchronous mode: `main` returns with records still queued (the
// sink, a pipe, is read only once every record is logged), and they are
// written before log4cpp's teardown.
TEST(Exit, QueuedRecordsAreWrittenAsMainReturns) {
  constexpr int kRecords = 20000;
  const char* sink = std::getenv("QUELTO_EXIT_LOG");
  if (sink == nullptr) {
    ScratchDir dir;
    for (int run = 0; run < 3; ++run) {
      const StalledPipe pipe(dir.path("sink" + std::to_string(run)));
      std::atomic<bool> exited{false};
      std::string written;
      std::thread reader([&] {
        while (!exited && read_file(pipe.path() + ".queued").empty()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (!exited) written += pipe.read_some(65536);
      });
      EXPECT_EQ(run_alone("Exit.QueuedRecordsAreWrittenAsMainReturns", pipe.path()), 0);
      exited = true;
      reader.join();
      for (std::string more; !(more = pipe.read_some(65536)).empty();) written += more;
      std::map<std::string, int> want;
      for (int k = 1; k <= kRecords; ++k) want["q " + std::to_string(k)] = 1;
      EXPECT_EQ(count_records({written}), want) << "run " << run;
      EXPECT_GT(std::stol("0" + read_file(pipe.path() + ".queued")), 0) << "none queued at exit";
    }
    return;
  }
  LuaHost host;
  ScratchDir dir;
  const std::string properties =
      "quelto.async = true\nquelto.async.queue = 65536\n" + file_properties("fq", sink);
  if (host.run(kConfigureChunk, dir.write("q.properties", properties)) != "ok" ||
      host.run(kLogChunk, log_args("", "q", kRecords)) != "ok") {
    std::_Exit(2);
  }
  std::ofstream(std::string(sink) + ".queued") << host.run("return q.stats().queued");
  std::exit(0);  // as a return from main, with records still queued
}

// A record that stands still in its appender as `main` returns (a pipe
// nobody reads), queued for the writer or logged by a thread of its own:
// the process still exits, within the bound.
TEST(Exit, ARecordStuckInItsSinkDoesNotHoldTheExit) {
  const char* sink = std::getenv("QUELTO_EXIT_LOG");
  if (sink == nullptr) {
    ScratchDir dir;
    const StalledPipe pipe(dir.path("stuck.fifo"));
    for (const char* mode : {"sync", "async"}) {
      std::ofstream(pipe.path() + ".mode") << mode;
      EXPECT_EQ(run_alone("Exit.ARecordStuckInItsSinkDoesNotHoldTheExit", pipe.path(), 20), 0)
          << mode;
    }
    return;
  }
  const bool queued = read_file(std::string(sink) + ".mode") == "async";
  ScratchDir dir;
  const std::string properties =
      std::string(queued ? "quelto.async = true\n" : "") + file_properties("fs", sink);
  if (LuaHost().run(kConfigureChunk, dir.write("s.properties", properties)) != "ok") std::_Exit(2);
  std::thread([] {
    LuaHost().run(
        "local big = string.rep('x', 4096) for _ = 1, 64 do q.get_log(nil):info(big) end");
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the pipe is full by then
  std::exit(0);                                                 // as a return from main
}

}  // namespace
}  // namespace quelto::states
