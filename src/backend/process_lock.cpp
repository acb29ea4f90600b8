#include "process_lock.h"

#include <atomic>
#include <cstdint>
#include <new>

namespace quelto::backend {
namespace {

using std::memory_order_acquire;
using std::memory_order_relaxed;
using std::memory_order_release;

// The lock's word: how many hold it shared, and two flags.
constexpr std::uint32_t kHeld = 1u << 31;       // one holds it alone
constexpr std::uint32_t kAnnounced = 1u << 30;  // one waits to hold it alone
constexpr std::uint32_t kCount = kAnnounced - 1;

// How long one that gave its preference up lets the shared users run
// before it announces itself again.
constexpr std::chrono::milliseconds kYield{50};

// Constant-initialised (so it exists before any constructor runs and after
// every destructor) and trivially destructible: a thread may still log while
// the process exits. The word alone is the fast path of a shared user; the
// rest is for those that wait, under `mutex`.
struct Lock {
  std::atomic<std::uint32_t> word{0};
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t readers = PTHREAD_COND_INITIALIZER;  // shared users waiting
  pthread_cond_t writer = PTHREAD_COND_INITIALIZER;   // the one that wants it alone
  std::uint32_t waiting = 0;                          // shared users asleep in enter_slowly
  std::uint64_t admissions = 0;                       // how often those were let in at once
};
Lock lock;

// Lets every shared user that waits in, counted in the word at once (so
// that no one can take the lock alone before they have run), and wakes them.
// With the mutex held, and the lock not held alone.
void admit_waiting() noexcept {
  if (lock.waiting == 0) return;
  lock.word.fetch_add(lock.waiting, memory_order_acquire);
  lock.waiting = 0;
  ++lock.admissions;
  pthread_cond_broadcast(&lock.readers);
}

// A shared user that found the lock held alone or announced.
void enter_slowly() noexcept {
  const MutexUse use(lock.mutex);
  const std::uint64_t admission = lock.admissions;
  const Deadline patience = Deadline::after(kReaderPatience);
  ++lock.waiting;
  while (lock.admissions == admission) {  // else let in, and counted, by admit_waiting
    // Under the mutex neither flag can change: only the one alone sets them,
    // holding it.
    const std::uint32_t word = lock.word.load(memory_order_relaxed);
    if ((word & kHeld) == 0 && ((word & kAnnounced) == 0 || patience.passed())) {
      --lock.waiting;
      lock.word.fetch_add(1, memory_order_acquire);
      return;
    }
    if ((word & kHeld) != 0) {
      pthread_cond_wait(&lock.readers, &lock.mutex);  // the one alone is bounded itself
    } else {
      wait_until(lock.readers, lock.mutex, patience);
    }
  }
}

// The configuration turn: first come, first served, with a deadline. Each
// waiter is a node on its own stack; the one that lets the turn go hands it
// to the first.
struct Waiter {
  Waiter* next = nullptr;
  bool granted = false;
};
struct TurnQueue {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t handed = PTHREAD_COND_INITIALIZER;
  bool held = false;
  Waiter* first = nullptr;
  Waiter* last = nullptr;
};
TurnQueue turn;

void unlink(Waiter& waiter) noexcept {
  Waiter* before = nullptr;
  for (Waiter* at = turn.first; at != &waiter; at = at->next) before = at;
  (before != nullptr ? before->next : turn.first) = waiter.next;
  if (turn.last == &waiter) turn.last = before;
}

}  // namespace

SharedUse::SharedUse() noexcept {
  std::uint32_t word = lock.word.load(memory_order_relaxed);
  while ((word & (kHeld | kAnnounced)) == 0) {
    if (lock.word.compare_exchange_weak(word, word + 1, memory_order_acquire,
                                        memory_order_relaxed)) {
      return;
    }
  }
  enter_slowly();
}

SharedUse::~SharedUse() {
  const std::uint32_t word = lock.word.fetch_sub(1, memory_order_release) - 1;
  if ((word & kAnnounced) != 0 && (word & kCount) == 0) {
    const MutexUse use(lock.mutex);
    pthread_cond_signal(&lock.writer);
  }
}

bool exclusive_waiting() noexcept {
  return (lock.word.load(memory_order_relaxed) & kAnnounced) != 0;
}

bool ExclusiveUse::acquire(Deadline deadline) noexcept {
  const MutexUse use(lock.mutex);
  for (;;) {
    lock.word.fetch_or(kAnnounced, memory_order_relaxed);
    // A round with preference: the shared users in flight leave, new ones wait.
    const Deadline round = deadline.within(kReaderPatience);
    while ((lock.word.load(memory_order_acquire) & kCount) != 0 && !round.passed()) {
      wait_until(lock.writer, lock.mutex, round);
    }
    std::uint32_t alone = kAnnounced;
    if (lock.word.compare_exchange_strong(alone, kHeld, memory_order_acquire)) {
      held_ = true;
      return true;
    }
    // One in flight is slow, perhaps stuck in its appender: the others go on.
    lock.word.fetch_and(~kAnnounced, memory_order_relaxed);
    admit_waiting();
    if (deadline.passed()) return false;
    const Deadline pause = deadline.within(kYield);
    while (!pause.passed()) wait_until(lock.writer, lock.mutex, pause);
  }
}

ExclusiveUse::~ExclusiveUse() {
  if (!held_) return;
  const MutexUse use(lock.mutex);
  lock.word.store(0, memory_order_release);
  admit_waiting();
}

Turn::Turn(Deadline deadline) noexcept : held_(false) {
  const MutexUse use(turn.mutex);
  if (!turn.held) {
    turn.held = held_ = true;
    return;
  }
  Waiter me;
  (turn.last != nullptr ? turn.last->next : turn.first) = &me;
  turn.last = &me;
  while (!me.granted && wait_until(turn.handed, turn.mutex, deadline)) {
  }
  if (!me.granted) unlink(me);
  held_ = me.granted;
}

Turn::~Turn() {
  if (!held_) return;
  const MutexUse use(turn.mutex);
  Waiter* next = turn.first;
  if (next == nullptr) {
    turn.held = false;
    return;
  }
  turn.first = next->next;
  if (turn.first == nullptr) turn.last = nullptr;
  next->granted = true;  // the turn passes on, held
  pthread_cond_broadcast(&turn.handed);
}

void reset_process_lock_in_child() noexcept {
  // Placement of fresh objects over the old: whatever threads of the parent
  // held or waited for, none of them exists here.
  new (&lock) Lock;
  new (&turn) TurnQueue;
}

}  // namespace quelto::backend
