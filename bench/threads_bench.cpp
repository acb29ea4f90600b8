// The admitted log call from Lua states on threads of their own, each into a
// category of its own: with the categories' appenders apart, and with one
// appender that they share (whose records the module writes one at a time).
// Prints the time per call of one thread, the best of three rounds.
//   threads_bench MODULE_DIR [CALLS]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lua/compat.h"

namespace {

lua_State* state_with_logger(const std::string& module_dir, const std::string& category) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  const std::string chunk = "package.cpath = '" + module_dir +
                            "/?.so' q = require 'quelto_internal' log = q.get_log('" + category +
                            "')";
  if (luaL_dostring(L, chunk.c_str()) != LUA_OK) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    std::exit(1);
  }
  return L;
}

// Every category to /dev/null, through an appender each or through one.
std::string properties(bool shared) {
  std::string text = "log4cpp.rootCategory=DEBUG, a0\n";
  for (int i = 0; i < 3; ++i) {
    const std::string appender = "a" + std::to_string(shared ? 0 : i);
    const std::string key = "log4cpp.appender.a" + std::to_string(i);
    if (i > 0) text += "log4cpp.category.c" + std::to_string(i) + "=DEBUG, " + appender + "\n";
    if (i > 0) text += "log4cpp.additivity.c" + std::to_string(i) + "=false\n";
    text += key + "=FileAppender\n" + key + ".fileName=/dev/null\n" + key +
            ".layout=PatternLayout\n" + key + ".layout.ConversionPattern=%m%n\n";
  }
  return text;
}

double ns_per_call(const std::string& module_dir, int threads, long calls) {
  std::vector<lua_State*> states;
  for (int t = 0; t < threads; ++t)
    states.push_back(state_with_logger(module_dir, "c" + std::to_string(t + 1)));
  const std::string loop =
      "local log = log for _ = 1, " + std::to_string(calls) + " do log:info('admitted') end";
  double best = 1e300;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> running;
    for (lua_State* L : states)
      running.emplace_back([L, &loop] { luaL_dostring(L, loop.c_str()); });
    for (std::thread& thread : running) thread.join();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / calls);
  }
  for (lua_State* L : states) lua_close(L);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string module_dir = argv[1];
  const long calls = argc > 2 ? std::stol(argv[2]) : 200000;
  const std::string file = "/tmp/quelto-threads-bench-" + std::to_string(getpid()) + ".properties";
  std::printf("| appenders | threads | ns per admitted call |\n|---|---|---|\n");
  for (const bool shared : {false, true}) {
    std::ofstream(file) << properties(shared);
    lua_State* L = state_with_logger(module_dir, "c1");
    const std::string configure = "q.configure('" + file + "')";
    if (luaL_dostring(L, configure.c_str()) != LUA_OK) return 1;
    lua_close(L);
    for (const int threads : {1, 2}) {
      std::printf("| %s | %d | %.0f |\n", shared ? "one, shared" : "one each", threads,
                  ns_per_call(module_dir, threads, calls));
    }
  }
  std::remove(file.c_str());
}
