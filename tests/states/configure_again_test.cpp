// Configuring again and again must not hold on to what each configuration
// replaces: the process's descriptors stay as many, and its memory stays put.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "lua_host.h"

namespace quelto::states {
namespace {

constexpr int kCalls = 1000;

int open_descriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count - 3;  // ".", ".." and the directory's own descriptor
}

long resident_bytes() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

long heap_in_use() {
  return static_cast<long>(mallinfo2().uordblks);
}

// Configures `calls` times, taking the files in turn, and logs a record
// after each call so that each configuration opens its file.
constexpr char kConfigureMany[] = R"(
local calls, first, second = (...):match("^(%d+)\n([^\n]+)\n([^\n]+)$")
local log = q.get_log("again")
for i = 1, tonumber(calls) do
  q.configure(i % 2 == 0 and second or first)
  log:info("call ", i)
end
return "ok"
)";

struct Usage {
  int descriptors;
  long resident;
  long heap;
};

class ConfigureAgain : public ::testing::Test {
 protected:
  /// What the process holds after `calls` more calls; the first call made
  /// through here warms up whatever log4cpp and the module build once.
  Usage usage_after(int calls, const std::string& first, const std::string& second) {
    const std::string result =
        host_.run(kConfigureMany, std::to_string(calls) + "\n" + first + "\n" + second);
    EXPECT_EQ(result, "ok");
    lua_gc(host_.state(), LUA_GCCOLLECT, 0);
    return {open_descriptors(), resident_bytes(), heap_in_use()};
  }

  /// Checks that `kCalls` calls after a warm-up hold no more than it did.
  void expect_flat(const std::string& first, const std::string& second) {
    const Usage before = usage_after(50, first, second);
    const Usage after = usage_after(kCalls, first, second);
    EXPECT_EQ(after.descriptors, before.descriptors);
    // A replaced appender with its layout and names holds some 370 bytes,
    // 370 KB over the calls; what the allocator keeps back is far less.
    EXPECT_LT(after.heap - before.heap, 32 * 1024);
    EXPECT_LT(after.resident - before.resident, 1024 * 1024);
  }

  ScratchDir dir_;
  LuaHost host_;
};

TEST_F(ConfigureAgain, SameFileHoldsDescriptorsAndMemoryFlat) {
  const std::string file = dir_.write("one.properties", file_properties("f", dir_.path("one.log")));
  expect_flat(file, file);
}

TEST_F(ConfigureAgain, AlternatingFilesHoldDescriptorsAndMemoryFlat) {
  const std::string first =
      dir_.write("first.properties", file_properties("first", dir_.path("first.log")));
  const std::string second =
      dir_.write("second.properties", file_properties("second", dir_.path("second.log")));
  expect_flat(first, second);
}

}  // namespace
}  // namespace quelto::states
