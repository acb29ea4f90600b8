// Reopening the log files on SIGHUP, as logrotate's postrotate asks a
// service to (`kill -HUP`), from a thread of its own.
#pragma once

#include <pthread.h>

#include <atomic>

namespace host {

/// Blocks SIGHUP in the calling thread and starts a thread that waits for it
/// with sigwait and calls quelto_internal_reopen() each time it comes. Make
/// it first in main, before any other thread starts: threads inherit the
/// blocked signal, and a thread started earlier would take SIGHUP's default
/// action, which ends the process. The reopen takes locks and allocates, so
/// it never runs in a signal handler.
class ReopenOnHangup {
 public:
  ReopenOnHangup();
  /// Stops and joins the thread; SIGHUP stays blocked.
  ~ReopenOnHangup();
  ReopenOnHangup(const ReopenOnHangup&) = delete;
  ReopenOnHangup& operator=(const ReopenOnHangup&) = delete;

 private:
  static void* wait_for_hangups(void* self);
  std::atomic<bool> stopping_{false};
  bool started_ = false;
  pthread_t thread_{};
};

}  // namespace host
