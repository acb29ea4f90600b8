#include "record_ring.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <new>

#include "deadline.h"

namespace quelto::backend {
namespace {

using std::memory_order_acquire;
using std::memory_order_relaxed;
using std::memory_order_release;
using std::memory_order_seq_cst;

// The callers that wait for room in a ring (`block`), whichever it is.
struct Waiters {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  std::atomic<std::uint32_t> count{0};
};
Waiters room;

void wake(Waiters& waiters) noexcept {
  std::atomic_thread_fence(memory_order_seq_cst);  // after what they wait for changed
  if (waiters.count.load(memory_order_relaxed) == 0) return;
  const MutexUse use(waiters.mutex);
  pthread_cond_broadcast(&waiters.cond);
}

}  // namespace

Ring* Ring::make(std::uint32_t records) {
  // Some systems take MAP_POPULATE as a hint only: each page is written too,
  // for a call that found its slot's page missing would wait for the system.
  const std::size_t bytes = std::size_t{records} * sizeof(Slot);
  void* slots = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (slots == MAP_FAILED) throw std::bad_alloc();
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  for (std::size_t at = 0; at < bytes; at += page) static_cast<volatile char*>(slots)[at] = 0;
  return new Ring(records, static_cast<Slot*>(slots));
}

std::uint64_t Ring::close() noexcept {
  const std::uint64_t end = tail.fetch_or(kClosed, memory_order_seq_cst) & ~kClosed;
  wake(room);  // those that wait for room here go and write theirs themselves
  return end;
}

void Ring::forget() noexcept {
  const std::uint64_t end = tail.load(memory_order_relaxed) & ~kClosed;
  for (std::uint64_t at = head.load(memory_order_relaxed); at < end; ++at) {
    slot_at(at).turn.store(turn_of(at) + 2, memory_order_relaxed);
    slot_at(at).heap = nullptr;  // the parent's to free
  }
  head.store(end, memory_order_relaxed);
  written.store(end, memory_order_relaxed);
}

bool Ring::wait_for_room(Slot& slot, std::uint32_t free_turn) noexcept {
  const MutexUse use(room.mutex);
  room.count.fetch_add(1, memory_order_seq_cst);
  bool open;
  while ((open = (tail.load(memory_order_seq_cst) & kClosed) == 0) &&
         static_cast<std::int32_t>(slot.turn.load(memory_order_seq_cst) - free_turn) < 0) {
    pthread_cond_wait(&room.cond, &room.mutex);
  }
  room.count.fetch_sub(1, memory_order_relaxed);
  return open;
}

void wake_room_waiters() noexcept {
  wake(room);
}

void reset_room_waiters_in_child() noexcept {
  new (&room) Waiters;
}

}  // namespace quelto::backend
