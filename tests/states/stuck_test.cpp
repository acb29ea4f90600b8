// An appender that cannot make progress (a pipe nobody reads) holds up its
// own records and nothing else: each operation that would wait on it gives
// up within its bound, naming it, while other threads log on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <log4cpp/Category.hh>
#include <string>
#include <thread>

#include "lua_host.h"

namespace quelto::states {
namespace {

using Clock = std::chrono::steady_clock;

/// Root at DEBUG into `free.log`; the category `stuck` alone into `fifo`
/// through the appender `p`.
std::string stuck_properties(const ScratchDir& dir, const std::string& fifo) {
  return file_properties("free", dir.path("free.log")) +
         "log4cpp.category.stuck=DEBUG, p\n"
         "log4cpp.additivity.stuck=false\n"
         "log4cpp.appender.p=FileAppender\n"
         "log4cpp.appender.p.fileName=" +
         fifo +
         "\n"
         "log4cpp.appender.p.layout=PatternLayout\n"
         "log4cpp.appender.p.layout.ConversionPattern=%m%n\n";
}

/// Logs 64 records of 4 KiB into `stuck`: the pipe takes 16.
constexpr char kFillChunk[] = R"(
local log, big = q.get_log("stuck"), string.rep("x", 4096)
for _ = 1, 64 do log:info(big) end
return "ok"
)";

/// A thread of its own that logs into the root until stopped, one call at a
/// time, and notes the longest call.
class FreeLogger {
 public:
  FreeLogger()
      : thread_([this] {
          LuaHost host;
          host.run("log = q.get_log(nil) return 'ok'");
          while (!stop_) {
            const auto start = Clock::now();
            host.run("log:info('free') return 'ok'");
            longest_ = std::max(longest_, Clock::now() - start);
            ++calls_;
          }
        }) {}
  /// Stops it; how many calls it made.
  long stop() {
    stop_ = true;
    thread_.join();
    return calls_;
  }
  /// The longest call, in milliseconds.
  long longest_ms() const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(longest_).count());
  }

 private:
  std::atomic<bool> stop_{false};
  long calls_ = 0;
  Clock::duration longest_{};
  std::thread thread_;
};

TEST(Stuck, ARecordStuckInAPipeHoldsUpNothingElse) {
  ScratchDir dir;
  StalledPipe pipe(dir.path("stuck.fifo"));
  LuaHost host;
  ASSERT_EQ(
      host.run(kConfigureChunk, dir.write("s.properties", stuck_properties(dir, pipe.path()))),
      "ok");
  std::atomic<bool> filled{false}, unstick{false};
  std::thread stuck([&filled] {
    LuaHost own;
    own.run(kFillChunk);
    filled = true;
  });
  std::thread drain([&] { pipe.drain(unstick, filled); });
  ASSERT_TRUE(pipe.wait_until_full());
  FreeLogger free;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // it logs meanwhile

  // A priority is one word: nothing waits for the stuck record.
  EXPECT_EQ(host.run("q.get_log('free'):set_priority('INFO') return 'ok'"), "ok");
  const std::string waited_on = "category 'stuck' (appender 'p', file " + pipe.path() + ")";
  EXPECT_EQ(
      host.run(kConfigureChunk, dir.write("o.properties", file_properties("o", dir.path("o.log")))),
      "log4cpp configure failure: configure gave up after 2 s waiting for a record being "
      "written to " +
          waited_on);
  EXPECT_EQ(host.run("local ok, why = q.reopen() return tostring(ok) .. ': ' .. why"),
            "false: reopen gave up after 2 s waiting for a record being written to " + waited_on);
  // fork() gives up waiting for the lock, and the child can log elsewhere.
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    _exit(host.run("q.get_log(nil):warn('child') return 'ok'") == "ok" ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);

  const long calls = free.stop();
  EXPECT_LT(free.longest_ms(), 1000);
  EXPECT_GT(calls, 100);
  EXPECT_EQ(count_records({read_file(dir.path("free.log"))}),
            (std::map<std::string, int>{{"free", static_cast<int>(calls)}, {"child", 1}}));
  unstick = true;
  drain.join();
  stuck.join();
}

// The host's own C++ record, stuck in its appender, holds its category's
// mutex in log4cpp, outside the module's lock: a configuration that would
// change that category gives up instead of waiting inside log4cpp.
TEST(Stuck, AHostRecordStuckInItsCategoryMakesConfigureGiveUp) {
  ScratchDir dir;
  StalledPipe pipe(dir.path("host.fifo"));
  LuaHost host;
  const std::string stuck = dir.write("s.properties", stuck_properties(dir, pipe.path()));
  ASSERT_EQ(host.run(kConfigureChunk, stuck), "ok");
  std::atomic<bool> filled{false}, unstick{false};
  std::thread cxx([&filled] {
    log4cpp::Category& category = log4cpp::Category::getInstance("stuck");
    const std::string big(4096, 'x');
    for (int i = 0; i < 64; ++i) category.info(big);
    filled = true;
  });
  std::thread drain([&] { pipe.drain(unstick, filled); });
  ASSERT_TRUE(pipe.wait_until_full());
  FreeLogger free;
  EXPECT_EQ(host.run(kConfigureChunk, stuck),
            "log4cpp configure failure: configure gave up after 2 s waiting for a record being "
            "written to category 'stuck' (appender 'p', file " +
                pipe.path() + ")");
  free.stop();
  EXPECT_LT(free.longest_ms(), 1000);
  unstick = true;
  drain.join();
  cxx.join();
  EXPECT_EQ(host.run(kConfigureChunk, stuck), "ok");
}

// In a network and mount namespace of its own, where the resolver's one
// name server (on 127.0.0.1) never answers: false, with nothing changed, when
// the namespaces cannot be had.
bool with_a_silent_resolver(const ScratchDir& dir) {
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
    const std::string id = std::to_string(getuid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << id << " 1";
  }
  const int any = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq loopback{};
  std::strcpy(loopback.ifr_name, "lo");
  if (ioctl(any, SIOCGIFFLAGS, &loopback) != 0) return false;
  loopback.ifr_flags |= IFF_UP;
  if (ioctl(any, SIOCSIFFLAGS, &loopback) != 0) return false;
  const std::string resolv = dir.write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:30\n");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
    return false;
  }
  sockaddr_in dns{};
  dns.sin_family = AF_INET;
  dns.sin_port = htons(53);
  dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int silent = socket(AF_INET, SOCK_DGRAM, 0);  // takes the questions, answers none
  return bind(silent, reinterpret_cast<sockaddr*>(&dns), sizeof dns) == 0;
}

/// A syslog appender `s` to `host`, port `port`, of type `type` (log4cpp
/// drops a package before the class name).
std::string syslog_properties(const std::string& host, int port,
                              const std::string& type = "SyslogAppender") {
  return "log4cpp.rootCategory=DEBUG, s\n"
         "log4cpp.appender.s=" +
         type +
         "\n"
         "log4cpp.appender.s.syslogName=quelto\n"
         "log4cpp.appender.s.facility=1\n" +
         (host.empty() ? "" : "log4cpp.appender.s.syslogHost=" + host + "\n") +
         "log4cpp.appender.s.portNumber=" + std::to_string(port) +
         "\n"
         "log4cpp.appender.s.layout=PatternLayout\n"
         "log4cpp.appender.s.layout.ConversionPattern=%m\n";
}

// A syslog host's name is looked up before the lock and within the bound;
// log4cpp is handed the address.
TEST(Stuck, ASyslogHostThatDoesNotResolveInTimeFailsConfigure) {
  ScratchDir dir;
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    if (!with_a_silent_resolver(dir)) _exit(77);
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    LuaHost host;
    const auto start = Clock::now();
    std::string said = host.run(
        kConfigureChunk,
        dir.write("silent.properties", syslog_properties("quelto-silent.invalid", port,
                                                         "org.apache.log4j.SyslogAppender")));
    said += Clock::now() - start < std::chrono::seconds(4) ? " (in time)\n" : " (late)\n";
    // The default host is localhost, which /etc/hosts names.
    said += host.run(kConfigureChunk, dir.write("local.properties", syslog_properties("", port)));
    said += " " + host.run("q.get_log(nil):info('sent') return 'ok'");
    char datagram[64] = {};
    timeval wait{5, 0};
    setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    said += " " + std::string(datagram, std::max<ssize_t>(0, recv(receiver, datagram, 63, 0)));
    write(report[1], said.data(), said.size());
    _exit(0);
  }
  close(report[1]);
  int status = -1;
  waitpid(pid, &status, 0);
  const std::string said = read_file("/proc/self/fd/" + std::to_string(report[0]));
  close(report[0]);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no namespaces here";
  EXPECT_EQ(said,
            "log4cpp configure failure: appender 's': syslogHost 'quelto-silent.invalid' did not "
            "resolve within 2 s (in time)\nok ok <14>sent")
      << "wait status " << status;
}

}  // namespace
}  // namespace quelto::states
