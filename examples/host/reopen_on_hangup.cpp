#include "reopen_on_hangup.h"

#include <quelto_internal.h>
#include <signal.h>

#include <cstdio>

namespace host {
namespace {

sigset_t hangup() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

ReopenOnHangup::ReopenOnHangup() {
  const sigset_t set = hangup();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  started_ = pthread_create(&thread_, nullptr, wait_for_hangups, this) == 0;
  if (!started_) std::fputs("quelto_host: no thread to reopen the logs on SIGHUP\n", stderr);
}

ReopenOnHangup::~ReopenOnHangup() {
  if (!started_) return;
  stopping_ = true;
  pthread_kill(thread_, SIGHUP);  // wakes its sigwait
  pthread_join(thread_, nullptr);
}

void* ReopenOnHangup::wait_for_hangups(void* self) {
  auto* reopener = static_cast<ReopenOnHangup*>(self);
  const sigset_t set = hangup();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (reopener->stopping_) return nullptr;
    // The host's appender is shared with the scripts' categories, which may
    // be writing now: this thread reports on stderr, not through log4cpp.
    if (quelto_internal_reopen() != 1)
      std::fputs("quelto_host: a log file did not reopen\n", stderr);
  }
}

}  // namespace host
