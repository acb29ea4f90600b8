// Lua states on different threads log at the same time: the bound on open
// tables counts per thread, so no thread's dump is cut short by another's.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "quelto_internal.h"
#include "module_host.h"

namespace quelto::safety {
namespace {

/// Logs a table nested 230 deep `rounds` times from a state of its own and
/// returns, per message, how many tables deep the dump got before its marker.
std::vector<long> dump_depths(int rounds) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 1);
  lua_pop(L, 1);
  CaptureCategory category("thread");
  bind_logger(L, "log", category);
  std::vector<long> depths;
  const char* chunk = R"(
    local deep = {} local t = deep
    for _ = 1, 230 do t[1] = {setmetatable({}, {__tostring = function() return "o" end})} t = t[1] end
    log:info(deep))";
  for (int i = 0; i < rounds; ++i) {
    if (luaL_dostring(L, chunk) != LUA_OK) break;
    for (const std::string& message : category.take()) {
      const std::size_t marker = message.find("{<stack limit>}");
      depths.push_back(marker == std::string::npos
                           ? -1
                           : std::count(message.begin(), message.begin() + marker, '{'));
    }
  }
  lua_close(L);
  return depths;
}

TEST(Threads, EachThreadCountsItsOwnOpenTables) {
  constexpr int kRounds = 40;
  std::vector<long> first, second;
  std::thread a([&first] { first = dump_depths(kRounds); });
  std::thread b([&second] { second = dump_depths(kRounds); });
  a.join();
  b.join();
  const std::vector<long> full(kRounds, 200);
  EXPECT_EQ(first, full);
  EXPECT_EQ(second, full);
}

}  // namespace
}  // namespace quelto::safety
