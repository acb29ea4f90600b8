#include "process_lock.h"

#include <pthread.h>

namespace quelto::backend {
namespace {

// Constant-initialised, so it exists before any constructor runs and after
// every destructor; glibc's writer-preferring kind, so that log calls on
// many threads cannot starve `configure`. Nothing takes it twice on one
// thread (the lock is never held while Lua code runs), which that kind needs.
pthread_rwlock_t lock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

}  // namespace

// Locking fails only for a lock held too often at once (2^31 readers) or
// by the caller already, neither of which the module lets happen.
SharedUse::SharedUse() noexcept {
  pthread_rwlock_rdlock(&lock);
}
SharedUse::~SharedUse() {
  pthread_rwlock_unlock(&lock);
}

ExclusiveUse::ExclusiveUse() noexcept {
  pthread_rwlock_wrlock(&lock);
}
ExclusiveUse::~ExclusiveUse() {
  pthread_rwlock_unlock(&lock);
}

}  // namespace quelto::backend
