// The asynchronous mode against the synchronous one, from Lua states that
// load the built module, with the admitted call of the targets:
//   log:info("user ", name, " logged in, attempts: ", 3)   ("%d %p %c %m%n")
// 1. Each call's time while a pipe that a reader drains 4 KiB every 10 ms
//    takes the records: rounds of 4,000 calls at full speed (a queue of 8,192
//    has room for them), the sink draining between rounds.
// 2. `when_full = drop` into a pipe nobody reads: the longest call.
// 3. Throughput into one file, one and two threads: time until every call
//    returned and (asynchronous) every record is written.
//   async_bench MODULE_DIR
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <lua.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string module_dir;
std::string scratch;

lua_State* state() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  const std::string chunk =
      "package.cpath = '" + module_dir +
      "/?.so' q = require 'quelto_internal' "
      "log, name = q.get_log('bench'), 'alice' "
      "function one() log:info('user ', name, ' logged in, attempts: ', 3) end "
      "function nop() end";
  if (luaL_dostring(L, chunk.c_str()) != LUA_OK) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    std::exit(1);
  }
  return L;
}

void run(lua_State* L, const std::string& chunk) {
  if (luaL_dostring(L, chunk.c_str()) != LUA_OK) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    std::exit(1);
  }
}

void configure(lua_State* L, const std::string& sink, const std::string& mode) {
  const std::string file = scratch + "/bench.properties";
  std::ofstream(file) << mode
                      << "log4cpp.rootCategory=DEBUG, s\n"
                         "log4cpp.appender.s=FileAppender\n"
                         "log4cpp.appender.s.fileName="
                      << sink
                      << "\n"
                         "log4cpp.appender.s.layout=PatternLayout\n"
                         "log4cpp.appender.s.layout.ConversionPattern=%d %p %c %m%n\n";
  run(L, "q.configure('" + file + "')");
}

// Calls the global `function` once, timed, in nanoseconds.
double timed_call(lua_State* L, const char* function) {
  const auto start = Clock::now();
  lua_getglobal(L, function);
  lua_call(L, 0, 0);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * (values.size() - 1))];
}

// A FIFO with a reader thread that reads `block` bytes every `pause`, or
// nothing at all (block 0) until it is destroyed.
class Sink {
 public:
  Sink(std::size_t block, std::chrono::milliseconds pause)
      : path_(scratch + "/sink.fifo"), block_(block) {
    mkfifo(path_.c_str(), 0600);
    fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    reader_ = std::thread([this, pause] {
      std::vector<char> buffer(65536);
      while (!stop_) {
        if (block_ > 0 && read(fd_, buffer.data(), block_) < 0) {
        }
        std::this_thread::sleep_for(pause);
      }
    });
  }
  ~Sink() {
    stop_ = true;
    reader_.join();
    close(fd_);
    unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  // From now on, reads everything that comes.
  void drain() { block_ = 65536; }

 private:
  std::string path_;
  int fd_;
  std::atomic<std::size_t> block_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

void latency(const char* label, const std::string& mode) {
  lua_State* L = state();
  std::vector<double> calls, nops;
  {
    const Sink sink(4096, std::chrono::milliseconds(10));
    configure(L, sink.path(), mode);
    for (int round = 0; round < 3; ++round) {
      for (int i = 0; i < 4000; ++i) calls.push_back(timed_call(L, "one"));
      for (int i = 0; i < 4000; ++i) nops.push_back(timed_call(L, "nop"));
      run(L, "repeat until q.flush()");  // the sink drains meanwhile
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    configure(L, "/dev/null", "");
  }
  std::printf("| %s | %.0f ns | %.0f ns | %.0f µs | %.0f ns, %.0f ns |\n", label,
              percentile(calls, 0.5), percentile(calls, 0.99), percentile(calls, 1.0) / 1000,
              percentile(nops, 0.5), percentile(nops, 0.99));
  lua_close(L);
}

void drop() {
  lua_State* L = state();
  std::vector<double> calls, nops;  // an empty call after each: what the machine adds
  long dropped = 0;
  {
    Sink sink(0, std::chrono::milliseconds(1));
    configure(L, sink.path(),
              "quelto.async = true\nquelto.async.queue = 1024\nquelto.async.when_full = drop\n");
    for (int i = 0; i < 200000; ++i) {
      calls.push_back(timed_call(L, "one"));
      nops.push_back(timed_call(L, "nop"));
    }
    lua_getglobal(L, "q");
    run(L, "dropped = q.stats().dropped");
    lua_getglobal(L, "dropped");
    dropped = static_cast<long>(lua_tointeger(L, -1));
    lua_pop(L, 2);
    sink.drain();  // so that the writer's records end
    run(L, "repeat until q.flush()");
    configure(L, "/dev/null", "");
  }
  std::printf(
      "| drop, sink never drains, 200,000 calls (%ld dropped) | %.0f ns | %.0f ns | %.0f µs "
      "| %.0f ns, %.0f ns (longest %.0f µs) |\n",
      dropped, percentile(calls, 0.5), percentile(calls, 0.99), percentile(calls, 1.0) / 1000,
      percentile(nops, 0.5), percentile(nops, 0.99), percentile(nops, 1.0) / 1000);
  const auto over_1ms = [](const std::vector<double>& times) {
    return static_cast<long>(
        std::count_if(times.begin(), times.end(), [](double ns) { return ns > 1e6; }));
  };
  std::printf("| drop: calls over 1 ms | %ld | | | empty calls over 1 ms: %ld |\n", over_1ms(calls),
              over_1ms(nops));
  lua_close(L);
}

double throughput(int threads, const std::string& mode, long calls) {
  std::vector<lua_State*> states;
  for (int t = 0; t < threads; ++t) states.push_back(state());
  const std::string file = scratch + "/throughput.log";
  double best = 1e300;
  for (int round = 0; round < 3; ++round) {
    configure(states[0], file, mode);
    const std::string loop = "for _ = 1, " + std::to_string(calls) + " do one() end";
    const auto start = Clock::now();
    std::vector<std::thread> running;
    for (lua_State* L : states) running.emplace_back([L, &loop] { run(L, loop); });
    for (std::thread& thread : running) thread.join();
    run(states[0], "repeat until q.flush()");
    const std::chrono::duration<double, std::nano> took = Clock::now() - start;
    best = std::min(best, took.count() / (calls * threads));
    configure(states[0], "/dev/null", "");
    unlink(file.c_str());
  }
  for (lua_State* L : states) lua_close(L);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);  // each row as soon as it is measured
  if (argc < 2) return 2;
  module_dir = argv[1];
  char pattern[] = "/tmp/quelto-async-bench-XXXXXX";
  scratch = mkdtemp(pattern);
  const std::string async = "quelto.async = true\n";

  std::printf(
      "| sink: a pipe read 4 KiB every 10 ms | median | p99 | longest | empty call: median, p99 |\n"
      "|---|---|---|---|---|\n");
  latency("synchronous", "");
  latency("asynchronous, queue 8192", async);
  drop();

  std::printf(
      "\n| threads into one file | synchronous | asynchronous | async / sync |\n"
      "|---|---|---|---|\n");
  for (const int threads : {1, 2}) {
    const double sync = throughput(threads, "", 100000);
    const double queued = throughput(threads, async + "quelto.async.queue = 65536\n", 100000);
    std::printf("| %d | %.0f ns per call | %.0f ns per call | %.2fx |\n", threads, sync, queued,
                queued / sync);
  }
  rmdir(scratch.c_str());
}
