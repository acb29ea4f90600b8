// On a thread with a small native stack (musl's default is 128 KiB), or on a
// fiber's stack of the host's own, deep nesting through the module ends in
// its error or its marker, never in a crash; on an ordinary stack it reaches
// the depths it always has.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <string>

#include "lua_host.h"

namespace quelto::states {
namespace {

// An object whose __tostring logs that object, without end, then a table
// nested a thousand deep: the error of the first, and the dump in the file.
constexpr char kNesting[] = R"(
q.configure(...)
local log = q.get_log("small")
local object = setmetatable({}, { __tostring = function(self) log:info(self) return "" end })
local _, err = pcall(log.info, log, object)
local t = {}
for _ = 1, 1000 do t = { t } end
log:info(t)
return err
)";

struct Task {
  LuaHost* host;
  std::string arg;
  std::string result;
};

void* run_nesting(void* data) {
  auto* task = static_cast<Task*>(data);
  task->result = task->host->run(kNesting, task->arg);
  return nullptr;
}

// Runs kNesting in `host` on a thread with a stack of `kib` KiB.
std::string run_on_stack(LuaHost& host, std::size_t kib, const std::string& properties) {
  Task task{&host, properties, "no thread"};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kib * 1024);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run_nesting, &task) == 0) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  return task.result;
}

// Runs kNesting in `host` on a fiber of `kib` KiB, made with makecontext as
// coroutine libraries do, below a page that faults.
ucontext_t caller;
Task* fiber_task = nullptr;
void fiber_body() {
  run_nesting(fiber_task);
}
std::string run_on_fiber(LuaHost& host, std::size_t kib, const std::string& properties) {
  Task task{&host, properties, "no fiber"};
  const std::size_t guard = 4096;
  void* memory = mmap(nullptr, guard + kib * 1024, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return task.result;
  mprotect(memory, guard, PROT_NONE);
  ucontext_t fiber;
  getcontext(&fiber);
  fiber.uc_stack.ss_sp = static_cast<char*>(memory) + guard;
  fiber.uc_stack.ss_size = kib * 1024;
  fiber.uc_link = &caller;
  makecontext(&fiber, fiber_body, 0);
  fiber_task = &task;
  swapcontext(&caller, &fiber);
  munmap(memory, guard + kib * 1024);
  return task.result;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizers need every fiber switch announced
#else
constexpr bool kSanitized = false;
#endif

TEST(SmallStack, DeepNestingEndsInTheErrorOrTheMarker) {
  const ScratchDir dir;
  const std::string log_file = dir.path("small.log");
  const std::string properties = dir.write("small.properties", file_properties("small", log_file));
  LuaHost host;                                           // loads the module on this thread
  for (const std::size_t kib : {64u, 128u, 8192u, 0u}) {  // 0: a fiber of 128 KiB
    if (kib == 0 && kSanitized) continue;
    SCOPED_TRACE(kib == 0 ? "a fiber of 128 KiB" : std::to_string(kib) + " KiB");
    dir.write("small.log", "");
    const std::string result =
        kib == 0 ? run_on_fiber(host, 128, properties) : run_on_stack(host, kib, properties);
    EXPECT_NE(result.find("C stack overflow"), std::string::npos) << result;
    const std::string dump = read_file(log_file);
    const std::size_t marker = dump.find("{<stack limit>}");
    ASSERT_NE(marker, std::string::npos) << dump.substr(0, 200);
    std::size_t levels = 0;
    for (std::size_t at = dump.find("{\n"); at < marker; at = dump.find("{\n", at + 1)) ++levels;
    if (kib == 8192) {
      EXPECT_EQ(levels, 200u);  // the count bounds it, as on every ordinary stack
    } else {
      EXPECT_GT(levels, 10u);
      if (kib != 128) {
        EXPECT_LT(levels, 200u);  // the native stack's check cut it first
      }
    }
  }
}

}  // namespace
}  // namespace quelto::states
