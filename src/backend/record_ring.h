// The bounded ring the logging threads queue records into, for the writer
// of the asynchronous mode (async_queue.h) to take them in order.
//
// A Vyukov ring of preallocated slots: a call claims the next position with
// a compare-and-swap of the tail, copies its record into the slot and
// publishes it with one store; the one consumer takes the slots in the order
// of their positions. No lock is taken but by a call that waits for room.
#pragma once

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "async_queue.h"

namespace log4cpp {
class Category;
}

namespace quelto::backend {

// One record of a ring. Its turn says, for position p (round p / size of the
// slot p % size): 2 * round, free; 2 * round + 1, holding that round's record.
// Zeroed memory is a ring of free slots.
struct alignas(64) Slot {
  std::atomic<std::uint32_t> turn;
  std::int32_t priority;
  log4cpp::Category* category;  // null: a record that could not be copied
  std::uint32_t message_length;
  std::uint32_t ndc_length;
  std::int64_t seconds;
  std::int32_t microseconds;
  bool json_object;      // the message is a JSON format's object (record.h)
  unsigned long thread;  // pthread_self() of the thread that logged it
  char* heap;            // the texts, when they do not fit in `text`
  char text[kInlineText];
};
static_assert(sizeof(Slot) == kRecordBytes, "a record is as large as the guide says");

/// A record as the logging thread captured it.
struct Captured {
  log4cpp::Category* category;
  int priority;
  std::string_view message;
  std::string_view ndc;
  timespec time;
  unsigned long thread;
  bool json_object;
};

enum class Pushed { queued, dropped, refused };

// A tail with this bit set takes no more records: the ring is out of use.
constexpr std::uint64_t kClosed = std::uint64_t{1} << 63;

class Ring {
 public:
  /// Maps the slots of a ring of `records`, zeroed, each page in memory
  /// at once. Never freed: see async_queue.h. Throws std::bad_alloc.
  static Ring* make(std::uint32_t records);

  std::uint32_t records() const { return static_cast<std::uint32_t>(size_); }

  // How many records the writer frees before it wakes the callers that wait
  // for room: they come back to room for several, not for one each.
  std::uint64_t room_step() const { return size_ / 16 > 0 ? size_ / 16 : 1; }

  // Whether the records taken up to `at` fill half of the ring.
  bool half_full(std::uint64_t at) const {
    return at - head.load(std::memory_order_relaxed) >= size_ / 2;
  }

  // Whether the next slot to claim still holds last round's record.
  bool full() const noexcept {
    const std::uint64_t at = taken();
    const auto ahead =
        static_cast<std::int32_t>(slot_at(at).turn.load(std::memory_order_acquire) - turn_of(at));
    return ahead < 0;
  }

  Pushed push(const Captured& record) noexcept {
    std::uint64_t at = tail.load(std::memory_order_relaxed);
    for (;;) {
      if ((at & kClosed) != 0) return Pushed::refused;
      Slot& slot = slot_at(at);
      const std::uint32_t free_turn = turn_of(at);
      const auto ahead =
          static_cast<std::int32_t>(slot.turn.load(std::memory_order_acquire) - free_turn);
      if (ahead == 0) {
        if (tail.compare_exchange_weak(at, at + 1, std::memory_order_relaxed,
                                       std::memory_order_relaxed)) {
          const bool copied = fill(slot, record);
          slot.turn.store(free_turn + 1, std::memory_order_release);
          return copied ? Pushed::queued : Pushed::dropped;
        }
      } else if (ahead < 0) {  // last round's record is still there: full
        if (when_full.load(std::memory_order_relaxed) == WhenFull::drop) return Pushed::dropped;
        if (!wait_for_room(slot, free_turn)) return Pushed::refused;
        at = tail.load(std::memory_order_relaxed);
      } else {  // another took this one
        at = tail.load(std::memory_order_relaxed);
      }
    }
  }

  // The next record to write, once published; the consumer's side (the
  // writer, or the one that holds the lock alone).
  Slot* ready() noexcept {
    const std::uint64_t at = head.load(std::memory_order_relaxed);
    Slot& slot = slot_at(at);
    return slot.turn.load(std::memory_order_acquire) == turn_of(at) + 1 ? &slot : nullptr;
  }

  // Frees the slot that ready() gave, written.
  void release(Slot& slot) noexcept {
    const std::uint64_t at = head.load(std::memory_order_relaxed);
    std::free(slot.heap);
    slot.heap = nullptr;
    slot.turn.store(turn_of(at) + 2, std::memory_order_release);
    head.store(at + 1, std::memory_order_relaxed);
    written.store(at + 1, std::memory_order_release);
  }

  /// Takes no more records, and wakes the callers that wait for room in it;
  /// returns the position after the last one taken.
  std::uint64_t close() noexcept;

  void open() noexcept { tail.fetch_and(~kClosed, std::memory_order_relaxed); }

  /// Empty: every slot taken counted as written (in a child just forked,
  /// where they are the parent's).
  void forget() noexcept;

  std::uint64_t taken() const noexcept { return tail.load(std::memory_order_acquire) & ~kClosed; }

  alignas(64) std::atomic<std::uint64_t> tail{0};  // the next position to claim
  alignas(64) std::atomic<std::uint64_t> head{0};  // the next to write
  std::atomic<std::uint64_t> written{0};           // positions before it are written
  std::atomic<WhenFull> when_full{WhenFull::block};
  log4cpp::Category* notices = nullptr;  // kNoticeCategory, once the ring is in use

 private:
  Ring(std::uint32_t records, Slot* slots) : size_(records), slots_(slots) {}

  Slot& slot_at(std::uint64_t at) const noexcept { return slots_[at % size_]; }
  std::uint32_t turn_of(std::uint64_t at) const noexcept {
    return 2 * static_cast<std::uint32_t>(at / size_);  // wraps, as equality allows
  }

  // Copies the texts into the slot, or a block of the heap: false when there
  // is no memory for it (the slot is then published as no record).
  static bool fill(Slot& slot, const Captured& record) noexcept {
    const std::size_t bytes = record.message.size() + record.ndc.size();
    char* text = slot.text;
    if (bytes > sizeof slot.text) {
      text = slot.heap = static_cast<char*>(std::malloc(bytes));
      if (text == nullptr) {
        slot.category = nullptr;
        return false;
      }
    }
    std::memcpy(text, record.message.data(), record.message.size());
    if (!record.ndc.empty()) {
      std::memcpy(text + record.message.size(), record.ndc.data(), record.ndc.size());
    }
    slot.category = record.category;
    slot.priority = record.priority;
    slot.message_length = static_cast<std::uint32_t>(record.message.size());
    slot.ndc_length = static_cast<std::uint32_t>(record.ndc.size());
    slot.seconds = record.time.tv_sec;
    slot.microseconds = static_cast<std::int32_t>(record.time.tv_nsec / 1000);
    slot.json_object = record.json_object;
    slot.thread = record.thread;
    return true;
  }

  // Sleeps until the slot is free again or the ring is out of use (false).
  bool wait_for_room(Slot& slot, std::uint32_t free_turn) noexcept;

  const std::uint64_t size_;
  Slot* const slots_;
};

/// Wakes the callers that wait for room in a ring, if any: after the writer
/// freed slots.
void wake_room_waiters() noexcept;

/// In a child just forked: no caller waits for room.
void reset_room_waiters_in_child() noexcept;

}  // namespace quelto::backend
