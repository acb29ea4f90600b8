// The asynchronous mode: the logging threads queue their records and a
// thread of the module's writes them, so that a sink that stalls holds up
// the writer alone, for as long as the queue has room.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <log4cpp/NDC.hh>
#include <log4cpp/threading/Threading.hh>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lua_host.h"

namespace quelto::states {
namespace {

/// Every record of the root into `sink` ("%m<eor>%n"), queued: `settings`
/// are the rest of the quelto.async keys.
std::string async_properties(const std::string& sink, const std::string& settings,
                             const std::string& pattern = "%m<eor>%n") {
  return "quelto.async = true\n" + settings +
         "log4cpp.rootCategory=DEBUG, q\n"
         "log4cpp.appender.q=FileAppender\n"
         "log4cpp.appender.q.fileName=" +
         sink +
         "\n"
         "log4cpp.appender.q.layout=PatternLayout\n"
         "log4cpp.appender.q.layout.ConversionPattern=" +
         pattern + "\n";
}

/// Logs records "<tag> <k> <100 x>" for k = 1 to count into the root: 4000
/// of them take seven times what a pipe holds.
constexpr char kLogChunk[] = R"(
local tag, count = (...):match("^([^,]+),(%d+)$")
local log, pad = q.get_log(nil), string.rep("x", 100)
for k = 1, tonumber(count) do log:info(tag, " ", k, " ", pad) end
return "ok"
)";

std::string args(const std::string& tag, int count) {
  return tag + "," + std::to_string(count);
}

/// The records "<tag> 1" to "<tag> <count>" in order, as the pattern writes them.
std::string expected(const std::string& tag, int count) {
  std::string text;
  for (int k = 1; k <= count; ++k) {
    text += tag + " " + std::to_string(k) + " " + std::string(100, 'x') + "<eor>\n";
  }
  return text;
}

/// What q.stats() says: { queued, dropped }.
std::pair<long, long> stats(LuaHost& host) {
  const std::string text = host.run("local s = q.stats() return s.queued .. ' ' .. s.dropped");
  return {std::stol(text), std::stol(text.substr(text.find(' ') + 1))};
}

/// Runs `chunk` in `host` while a thread reads the pipe, `block` bytes every
/// `pause`: what the chunk returned, then what the pipe gave, to the end.
std::pair<std::string, std::string> read_while(const StalledPipe& pipe, LuaHost& host,
                                               const std::string& chunk, std::size_t block = 65536,
                                               std::chrono::milliseconds pause = {}) {
  std::string written;
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    while (!returned) {
      written += pipe.read_some(block);
      std::this_thread::sleep_for(pause);
    }
  });
  const std::string result = host.run(chunk);
  returned = true;
  reader.join();
  for (std::string more; !(more = pipe.read_some(1 << 20)).empty();) written += more;
  return {result, written};
}

/// Runs `chunk` on a thread of its own; done() once it returned.
class Logging {
 public:
  Logging(const std::string& chunk, const std::string& arg)
      : thread_([this, chunk, arg] {
          result_ = LuaHost().run(chunk, arg);
          done_ = true;
        }) {}
  ~Logging() { thread_.join(); }
  bool done() const { return done_; }
  /// Waits until it returned, 10 s at most; whether it did.
  bool wait() const {
    for (int ms = 0; ms < 10000 && !done_; ++ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done_;
  }
  const std::atomic<bool>& done_flag() const { return done_; }
  const std::string& result() const { return result_; }

 private:
  std::atomic<bool> done_{false};
  std::string result_;
  std::thread thread_;
};

/// A host whose root's records go into a pipe that reads nothing until the
/// test does.
class Async : public ::testing::Test {
 protected:
  /// Queues the root's records into the pipe; `settings` are the rest of
  /// the quelto.async keys.
  void queue_into_pipe(const std::string& settings, const std::string& pattern = "%m<eor>%n") {
    ASSERT_EQ(host.run(kConfigureChunk,
                       dir.write("q.properties", async_properties(pipe.path(), settings, pattern))),
              "ok");
  }

  ScratchDir dir;
  StalledPipe pipe{dir.path("sink.fifo")};
  LuaHost host;
};

// While the sink takes nothing, the calls return all the same, their records
// queued; once it drains, slowly, every record comes out once, in order.
TEST_F(Async, ASinkThatStallsHoldsUpNoCallWhileTheQueueHasRoom) {
  queue_into_pipe("quelto.async.queue = 4096\n");
  const long dropped = stats(host).second;
  {
    const Logging logging(kLogChunk, args("r", 3000));  // some 2500 of them wait in the queue
    EXPECT_TRUE(logging.wait()) << "a call waited for the sink";
  }
  EXPECT_GT(stats(host).first, 1000);
  // The sink reads 4 KiB every 10 ms, as a slow consumer does.
  EXPECT_EQ(
      read_while(pipe, host, "return tostring(q.flush())", 4096, std::chrono::milliseconds(10)),
      std::make_pair(std::string("true"), expected("r", 3000)));
  EXPECT_EQ(stats(host), std::make_pair(0L, dropped));
}

// With `drop`, a call into a full queue drops its record and counts it; the
// first record queued once there is room again says how many were dropped.
TEST_F(Async, DropModeCountsWhatItDropsAndSaysSo) {
  const long dropped_before = stats(host).second;
  queue_into_pipe("quelto.async.queue = 16\nquelto.async.when_full = drop\n", "%c:%m<eor>%n");
  {
    const Logging logging(kLogChunk, args("d", 4000));
    EXPECT_TRUE(logging.wait()) << "a call waited for the sink";
  }
  const long dropped = stats(host).second - dropped_before;
  // Now the sink takes everything: what was queued (then there is room
  // again), then the last notice.
  const auto [flushed, written] = read_while(pipe, host, R"(
    local flushed = q.flush()
    q.get_log('after'):info('room')
    return tostring(flushed and q.flush()))");
  EXPECT_EQ(flushed, "true");
  // Every record written or dropped, in order; the notices count the dropped.
  long notified = 0, last = 0, kept = 0;
  bool in_order = true;
  std::string tail;
  for (std::size_t at = 0, end; (end = written.find("<eor>\n", at)) != std::string::npos;
       at = end + 6) {
    const std::string record = written.substr(at, end - at);
    long n = 0;
    if (std::sscanf(record.c_str(), "quelto_internal:%ld records dropped: the log queue was full",
                    &n) == 1) {
      notified += n;
    } else if (record.rfind(":d ", 0) == 0) {
      const long k = std::stol(record.substr(3));
      in_order = in_order && k > last;
      last = k;
      ++kept;
    }
    tail = record;
  }
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(kept + dropped, 4000);
  EXPECT_EQ(notified, dropped);
  EXPECT_TRUE(in_order);
  EXPECT_EQ(tail, "after:room");
}

// With `block`, a call into a full queue sleeps until there is room, and
// nothing is lost.
TEST_F(Async, BlockModeWaitsForRoomAndLosesNothing) {
  const long dropped = stats(host).second;
  queue_into_pipe("quelto.async.queue = 16\n");
  std::string written;
  {
    const Logging logging(kLogChunk, args("b", 3000));
    ASSERT_TRUE(pipe.wait_until_full());
    EXPECT_FALSE(logging.done());  // asleep: the queue is full
    EXPECT_EQ(stats(host), std::make_pair(16L, dropped));
    std::atomic<bool> flushed{false};
    std::thread reader([&] {
      while (!flushed) written += pipe.read_some(4096);
    });
    EXPECT_TRUE(logging.wait());
    EXPECT_EQ(host.run("return tostring(q.flush())"), "true");
    flushed = true;
    reader.join();
  }
  written += pipe.read_some(1 << 20);
  EXPECT_EQ(written, expected("b", 3000));
  EXPECT_EQ(stats(host), std::make_pair(0L, dropped));
}

// A configuration first waits until what is queued is written: records
// logged before it go out through the configuration they were logged under.
TEST_F(Async, ConfigureWritesWhatIsQueuedThroughTheOldConfiguration) {
  queue_into_pipe("quelto.async.queue = 8192\n");
  ASSERT_EQ(host.run(kLogChunk, args("o", 3000)), "ok");  // most of them wait in the queue
  EXPECT_GT(stats(host).first, 1000);
  const std::string next = dir.path("new.log");
  const std::string configure = "return select(2, pcall(q.configure, '" +
                                dir.write("new.properties", file_properties("n", next)) +
                                "')) or 'ok'";
  // The old sink is slow: 64 KiB every 10 ms.
  EXPECT_EQ(read_while(pipe, host, configure, 65536, std::chrono::milliseconds(10)),
            std::make_pair(std::string("ok"), expected("o", 3000)));
  EXPECT_EQ(read_file(next), "");
}

// A writer that found nothing to write for a while sleeps; the next record
// wakes it, with no flush to do so.
TEST_F(Async, ASleepingWriterWakesForTheNextRecord) {
  const std::string log_file = dir.path("idle.log");
  ASSERT_EQ(host.run(kConfigureChunk, dir.write("idle.properties", async_properties(log_file, ""))),
            "ok");
  for (const char* record : {"first", "after a rest"}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(host.run("q.get_log(nil):info(...) return 'ok'", record), "ok");
  }
  const std::string both = "first<eor>\nafter a rest<eor>\n";
  for (int ms = 0; ms < 2000 && read_file(log_file).size() < both.size(); ms += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(read_file(log_file), both);
}

// What the layouts show of the thread that logged a record (its id, its NDC,
// the time) is that thread's, not the writer's, however late it is written.
TEST_F(Async, ARecordShowsTheThreadAndTheTimeItWasLoggedAt) {
  queue_into_pipe("", "%t|%x|%r|%m%n");
  // One record larger than the pipe: the writer is stuck on it until the
  // sink reads, and the next record waits in the queue.
  ASSERT_EQ(host.run("q.get_log(nil):info(string.rep('x', 100000)) return 'ok'"), "ok");
  std::string caller;
  std::thread thread([&caller] {
    caller = log4cpp::threading::getThreadId();
    log4cpp::NDC::push("request 7");
    LuaHost().run("q.get_log(nil):info('queued') return 'ok'");
    log4cpp::NDC::clear();
  });
  thread.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  const auto [flushed, written] =
      read_while(pipe, host, "q.get_log(nil):info('now') return tostring(q.flush())");
  EXPECT_EQ(flushed, "true");
  // The records after the large one: the queued one, then the one of now.
  const std::size_t queued = written.find(caller + "|request 7|");
  ASSERT_NE(queued, std::string::npos) << written.substr(written.rfind('x') + 1);
  const auto field = [&written](std::size_t at, int index) {
    for (int i = 0; i < index; ++i) at = written.find('|', at) + 1;
    return std::stol(written.substr(at));
  };
  const std::size_t now = written.find('\n', queued) + 1;
  EXPECT_EQ(written.substr(queued, now - queued).substr(now - queued - 7), "queued\n");
  // %r: milliseconds from the program's start to the call, not to the write.
  EXPECT_GE(field(now, 2) - field(queued, 2), 1000);
}

// A child forked while records are queued starts with an empty queue: it
// writes none of the parent's records, which the parent writes, each once.
TEST_F(Async, AForkedChildStartsWithAnEmptyQueue) {
  const std::string log = dir.path("f.log");
  ASSERT_EQ(
      host.run(kConfigureChunk,
               dir.write("f.properties", async_properties(log, "quelto.async.queue = 65536\n"))),
      "ok");
  std::vector<int> statuses;
  for (int child = 0; child < 5; ++child) {
    ASSERT_EQ(host.run(kLogChunk, args("p" + std::to_string(child), 2000)), "ok");
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(10);
      const std::string result =
          host.run("q.get_log(nil):info('child') return tostring(q.flush())");
      _exit(result == "true" ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    statuses.push_back(status);
  }
  EXPECT_EQ(statuses, std::vector<int>(5, 0));
  EXPECT_EQ(host.run("return tostring(q.flush())"), "true");
  std::map<std::string, int> want{{"child", 5}};
  for (int child = 0; child < 5; ++child) {
    for (int k = 1; k <= 2000; ++k) {
      want["p" + std::to_string(child) + " " + std::to_string(k) + " " + std::string(100, 'x')] = 1;
    }
  }
  EXPECT_EQ(count_records({read_file(log)}), want);
}

}  // namespace
}  // namespace quelto::states
