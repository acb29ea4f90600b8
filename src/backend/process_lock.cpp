#include "process_lock.h"

#include <pthread.h>

namespace quelto::backend {
namespace {

// Constant-initialised, so it exists before any constructor runs and after
// every destructor; glibc's writer-preferring kind, so that log calls on
// many threads cannot starve `configure`. Nothing takes it twice on one
// thread (the lock is never held while Lua code runs), which that kind needs.
pthread_rwlock_t lock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

// Around fork(): taken alone in the forking thread, released in the parent,
// and made anew in the child, where the thread that took it has another id
// (so unlocking would not see it as the writer).
void before_fork() {
  pthread_rwlock_wrlock(&lock);
}
void after_fork_in_parent() {
  pthread_rwlock_unlock(&lock);
}
void after_fork_in_child() {
  pthread_rwlockattr_t writer_first;
  pthread_rwlockattr_init(&writer_first);
  pthread_rwlockattr_setkind_np(&writer_first, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  pthread_rwlock_init(&lock, &writer_first);
  pthread_rwlockattr_destroy(&writer_first);
}

// Registered when the module is loaded (or the program that links it
// starts); glibc forgets the handlers when a library is unloaded.
[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

}  // namespace

// Locking fails only for a lock held too often at once (2^31 readers) or
// by the caller already, neither of which the module lets happen.
template <Access kAccess>
LockUse<kAccess>::LockUse() noexcept {
  if constexpr (kAccess == Access::Shared) {
    pthread_rwlock_rdlock(&lock);
  } else {
    pthread_rwlock_wrlock(&lock);
  }
}

template <Access kAccess>
LockUse<kAccess>::~LockUse() {
  pthread_rwlock_unlock(&lock);
}

template class LockUse<Access::Shared>;
template class LockUse<Access::Exclusive>;

}  // namespace quelto::backend
