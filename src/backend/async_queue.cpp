#include "async_queue.h"

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/NDC.hh>
#include <log4cpp/TimeStamp.hh>
#include <new>
#include <vector>

#include "../lua/messages.h"
#include "gate.h"
#include "log4cpp_internals.h"
#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {
namespace {

using std::memory_order_acquire;
using std::memory_order_relaxed;
using std::memory_order_release;
using std::memory_order_seq_cst;

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
  std::int64_t microseconds;
  unsigned long thread;  // pthread_self() of the thread that logged it
  char* heap;            // the texts, when they do not fit in `text`
  char text[kInlineText];
};
static_assert(sizeof(Slot) == kRecordBytes, "a record is as large as the guide says");

// A record as the logging thread captured it.
struct Captured {
  log4cpp::Category* category;
  int priority;
  std::string_view message;
  std::string_view ndc;
  timespec time;
  unsigned long thread;
};

enum class Pushed { queued, dropped, refused };

// A tail with this bit set takes no more records: the ring is out of use.
constexpr std::uint64_t kClosed = std::uint64_t{1} << 63;

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

// Those that wait for the records before a position to be written (`flush`),
// and the earliest such position: the writer wakes them when it gets there,
// not at every record.
constexpr std::uint64_t kNoFlush = ~std::uint64_t{0};
struct Flushers {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  std::atomic<std::uint64_t> earliest{kNoFlush};
};
Flushers flushers;

// After the records before `written` were written.
void wake_flushers(std::uint64_t written) noexcept {
  std::atomic_thread_fence(memory_order_seq_cst);  // `written`, before the wish
  if (written < flushers.earliest.load(memory_order_relaxed)) return;
  const MutexUse use(flushers.mutex);
  flushers.earliest.store(kNoFlush, memory_order_relaxed);  // each waiting one asks again
  pthread_cond_broadcast(&flushers.cond);
}

// Records dropped since the module was loaded, and those no notice told of yet.
std::atomic<std::uint64_t> dropped_total{0};
std::atomic<std::uint64_t> unreported{0};

class Ring {
 public:
  // Maps the slots, zeroed, each page in memory at once: a call that found
  // its slot's page missing would wait for the system to supply it (some
  // systems take MAP_POPULATE as a hint only: each page is written too).
  static Ring* make(std::uint32_t records) {
    const std::size_t bytes = std::size_t{records} * sizeof(Slot);
    void* slots = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (slots == MAP_FAILED) throw std::bad_alloc();
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t at = 0; at < bytes; at += page) static_cast<volatile char*>(slots)[at] = 0;
    return new Ring(records, static_cast<Slot*>(slots));  // never freed: see async_queue.h
  }

  std::uint32_t records() const { return static_cast<std::uint32_t>(size_); }

  // How many records the writer frees before it wakes the callers that wait
  // for room: they come back to room for several, not for one each.
  std::uint64_t room_step() const { return size_ / 16 > 0 ? size_ / 16 : 1; }

  // Whether the records taken up to `at` fill half of the ring.
  bool half_full(std::uint64_t at) const {
    return at - head.load(memory_order_relaxed) >= size_ / 2;
  }

  Pushed push(const Captured& record) noexcept {
    std::uint64_t at = tail.load(memory_order_relaxed);
    for (;;) {
      if ((at & kClosed) != 0) return Pushed::refused;
      Slot& slot = slot_at(at);
      const std::uint32_t free_turn = turn_of(at);
      const auto ahead =
          static_cast<std::int32_t>(slot.turn.load(memory_order_acquire) - free_turn);
      if (ahead == 0) {
        if (tail.compare_exchange_weak(at, at + 1, memory_order_relaxed, memory_order_relaxed)) {
          const bool copied = fill(slot, record);
          slot.turn.store(free_turn + 1, memory_order_release);
          return copied ? Pushed::queued : Pushed::dropped;
        }
      } else if (ahead < 0) {  // last round's record is still there: full
        if (when_full.load(memory_order_relaxed) == WhenFull::drop) return Pushed::dropped;
        if (!wait_for_room(slot, free_turn)) return Pushed::refused;
        at = tail.load(memory_order_relaxed);
      } else {  // another took this one
        at = tail.load(memory_order_relaxed);
      }
    }
  }

  // The next record to write, once published; the consumer's side (the
  // writer, or the one that holds the lock alone).
  Slot* ready() noexcept {
    const std::uint64_t at = head.load(memory_order_relaxed);
    Slot& slot = slot_at(at);
    return slot.turn.load(memory_order_acquire) == turn_of(at) + 1 ? &slot : nullptr;
  }

  // Frees the slot that ready() gave, written.
  void release(Slot& slot) noexcept {
    const std::uint64_t at = head.load(memory_order_relaxed);
    std::free(slot.heap);
    slot.heap = nullptr;
    slot.turn.store(turn_of(at) + 2, memory_order_release);
    head.store(at + 1, memory_order_relaxed);
    written.store(at + 1, memory_order_release);
  }

  // Takes no more records; returns the position after the last one taken.
  std::uint64_t close() noexcept {
    const std::uint64_t end = tail.fetch_or(kClosed, memory_order_seq_cst) & ~kClosed;
    wake(room);  // those that wait for room here go and write theirs themselves
    return end;
  }

  void open() noexcept { tail.fetch_and(~kClosed, memory_order_relaxed); }

  // Empty: every slot taken counted as written (in a child just forked,
  // where they are the parent's).
  void forget() noexcept {
    const std::uint64_t end = tail.load(memory_order_relaxed) & ~kClosed;
    for (std::uint64_t at = head.load(memory_order_relaxed); at < end; ++at) {
      slot_at(at).turn.store(turn_of(at) + 2, memory_order_relaxed);
      slot_at(at).heap = nullptr;  // the parent's to free
    }
    head.store(end, memory_order_relaxed);
    written.store(end, memory_order_relaxed);
  }

  std::uint64_t taken() const noexcept { return tail.load(memory_order_acquire) & ~kClosed; }

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
    slot.microseconds = record.time.tv_nsec / 1000;
    slot.thread = record.thread;
    return true;
  }

  // Sleeps until the slot is free again or the ring is out of use (false).
  bool wait_for_room(Slot& slot, std::uint32_t free_turn) noexcept {
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

  const std::uint64_t size_;
  Slot* const slots_;
};

// The ring in use (null: the synchronous mode), every ring made so far (each
// size once), and the one a configuration prepared. Those two under the turn.
std::atomic<Ring*> current{nullptr};
std::vector<Ring*>& rings() {
  alignas(std::vector<Ring*>) static unsigned char room_for[sizeof(std::vector<Ring*>)];
  static auto* const made = new (room_for) std::vector<Ring*>;
  return *made;
}
struct Prepared {
  Ring* ring;
  WhenFull when_full;
};
Prepared prepared{nullptr, WhenFull::block};

// The writer thread: started by the first record that needs it. Having found
// nothing to write it naps, kNaps times kNap, looking again after each, and
// then sleeps until a call wakes it: while records keep coming no call pays
// for waking it (a call wakes a napping writer only when the ring is half
// full), and one that comes after a quiet while pays once. A call wakes it
// with a futex of its own, never through a mutex the writer may hold: a
// call never waits for the writer to be scheduled.
constexpr auto kNap = std::chrono::milliseconds(1);
constexpr int kNaps = 50;
struct Writer {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;  // for starting and stopping it
  pthread_cond_t gone = PTHREAD_COND_INITIALIZER;
  std::atomic<std::uint32_t> wakes{0};  // what it sleeps on: bumped by each wake
  std::atomic<bool> running{false};
  std::atomic<bool> napping{false};
  std::atomic<bool> sleeping{false};
  std::atomic<bool> stopping{false};
  std::atomic<const log4cpp::Category*> busy_with{nullptr};
};
Writer writer;

// How many records the writer hands on under one shared hold.
constexpr int kBatch = 64;

// Wakes the writer from its nap or its sleep.
void rouse_writer() noexcept {
  writer.wakes.fetch_add(1, memory_order_release);
  syscall(SYS_futex, &writer.wakes, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Waits on the writer's futex while it holds `seen`, until `wait` (none:
// until woken).
void writer_wait(std::uint32_t seen, const timespec* wait) noexcept {
  syscall(SYS_futex, &writer.wakes, FUTEX_WAIT_PRIVATE, seen, wait, nullptr, 0);
}

// After a record was published before `at`.
void wake_writer(const Ring& ring, std::uint64_t at) noexcept {
  std::atomic_thread_fence(memory_order_seq_cst);  // the record, before the flags
  if (writer.sleeping.load(memory_order_relaxed)) {
    if (!writer.sleeping.exchange(false, memory_order_relaxed)) return;
  } else if (!writer.napping.load(memory_order_relaxed) || !ring.half_full(at)) {
    return;
  }
  rouse_writer();
}

// log4cpp's text for a thread id (threading::getThreadId: "%lu" of
// pthread_self()), made again only when the thread changes.
class ThreadName {
 public:
  std::string_view of(unsigned long thread) noexcept {
    if (length_ == 0 || thread != thread_) {
      thread_ = thread;
      length_ =
          static_cast<std::size_t>(std::to_chars(text_, text_ + sizeof text_, thread).ptr - text_);
    }
    return {text_, length_};
  }

 private:
  unsigned long thread_ = 0;
  char text_[24];
  std::size_t length_ = 0;
};

// Hands one record to its category's appenders, as the synchronous hand-off
// does; the shared lock (or the lock alone) is held.
void write_slot(const Slot& slot, log4cpp::LoggingEvent& event, ThreadName& names) noexcept {
  log4cpp::Category* category = slot.category;
  if (category == nullptr) return;
  const char* text = slot.heap != nullptr ? slot.heap : slot.text;
  try {
    refill_event(event, category->getName(), {text, slot.message_length},
                 {text + slot.message_length, slot.ndc_length}, names.of(slot.thread),
                 slot.priority,
                 log4cpp::TimeStamp(static_cast<unsigned>(slot.seconds),
                                    static_cast<unsigned>(slot.microseconds)));
  } catch (...) {  // no memory for the texts: the record is lost, and counted
    dropped_total.fetch_add(1, memory_order_relaxed);
    unreported.fetch_add(1, memory_order_relaxed);
    return;
  }
  writer.busy_with.store(category, memory_order_relaxed);
  {
    const SharedAppenderUse in_turn(*category);
    category->callAppenders(event);  // throws nothing
  }
  writer.busy_with.store(nullptr, memory_order_relaxed);
}

// Whether the writer has anything to do.
bool has_work() noexcept {
  Ring* ring = current.load(memory_order_acquire);
  return ring != nullptr && ring->ready() != nullptr;
}

// Naps, then sleeps, until there is a record to write (true) or the writer
// must stop.
bool wait_for_records() noexcept {
  static constexpr timespec kNapTime{0, std::chrono::nanoseconds(kNap).count()};
  for (int naps = 0;; ++naps) {
    // Read before looking for records: a wake after it makes the wait return.
    const std::uint32_t seen = writer.wakes.load(memory_order_acquire);
    if (writer.stopping.load(memory_order_acquire)) return false;
    std::atomic<bool>& flag = naps < kNaps ? writer.napping : writer.sleeping;
    flag.store(true, memory_order_relaxed);
    std::atomic_thread_fence(memory_order_seq_cst);  // the flag, before looking for records
    if (has_work()) {
      flag.store(false, memory_order_relaxed);
      return true;
    }
    writer_wait(seen, naps < kNaps ? &kNapTime : nullptr);
    flag.store(false, memory_order_relaxed);
    if (naps >= kNaps) naps = -1;  // woken from its sleep: records came
  }
}

void* writer_main(void*) {
  pthread_setname_np(pthread_self(), "quelto-writer");  // as ps and gdb show it
  try {
    log4cpp::LoggingEvent event("", "", "", log4cpp::Priority::NOTSET);
    ThreadName names;
    while (wait_for_records()) {
      {
        const SharedUse use;
        Ring* ring = current.load(memory_order_acquire);
        std::uint64_t freed = 0;
        for (int n = 0;
             ring != nullptr && n < kBatch && !writer.stopping.load(memory_order_relaxed); ++n) {
          Slot* slot = ring->ready();
          if (slot == nullptr) break;
          write_slot(*slot, event, names);
          ring->release(*slot);
          // Now, not after the batch: the next record may stand still.
          wake_flushers(ring->written.load(memory_order_relaxed));
          if (++freed >= ring->room_step()) {
            wake(room);
            freed = 0;
          }
          if (exclusive_waiting()) break;  // a configuration gets in between two records
        }
        if (freed > 0) wake(room);
      }
    }
  } catch (...) {  // no memory for the event: the records go out synchronously
  }
  const MutexUse use(writer.mutex);
  writer.running.store(false, memory_order_release);
  pthread_cond_broadcast(&writer.gone);
  return nullptr;
}

// Starts the writer unless it runs: false when no thread could be made.
bool ensure_writer() noexcept {
  if (writer.running.load(memory_order_acquire)) return true;
  const MutexUse use(writer.mutex);
  if (writer.running.load(memory_order_relaxed)) return true;
  if (writer.stopping.load(memory_order_relaxed)) return false;
  // With every signal blocked, so that none meant for the host's own threads
  // (SIGHUP that one waits for with sigwait, say) lands on this one.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, writer_main, nullptr) == 0;
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (started) writer.running.store(true, memory_order_release);
  return started;
}

// Pushes the notice of records dropped since the last one, if any is due.
void push_notice(Ring& ring, const Captured& record) noexcept {
  const std::uint64_t count = unreported.exchange(0, memory_order_relaxed);
  if (count == 0) return;
  if (ring.notices == nullptr || !admits(*ring.notices, Gate::chained, log4cpp::Priority::WARN)) {
    return;  // counted in the stats all the same
  }
  char text[96];
  const int length = std::snprintf(text, sizeof text, messages::kDroppedRecords,
                                   static_cast<unsigned long long>(count));
  Captured notice = record;
  notice.category = ring.notices;
  notice.priority = log4cpp::Priority::WARN;
  notice.message = std::string_view(text, static_cast<std::size_t>(length));
  notice.ndc = {};
  if (ring.push(notice) != Pushed::queued) unreported.fetch_add(count, memory_order_relaxed);
}

// Writes every record the ring took before it was closed at `end`, with the
// lock held alone. A record claimed is published within a few copies: its
// thread holds no lock while it copies.
void write_rest(Ring& ring, std::uint64_t end) noexcept {
  try {
    log4cpp::LoggingEvent event("", "", "", log4cpp::Priority::NOTSET);
    ThreadName names;
    while (ring.head.load(memory_order_relaxed) < end) {
      Slot* slot = ring.ready();
      if (slot == nullptr) {
        sched_yield();
        continue;
      }
      write_slot(*slot, event, names);
      ring.release(*slot);
      wake_flushers(ring.written.load(memory_order_relaxed));
    }
  } catch (...) {  // no memory for an event: what is left stays unwritten
  }
}

}  // namespace

bool queue_record(log4cpp::Category& category, int priority, std::string_view message) noexcept {
  Ring* ring = current.load(memory_order_acquire);
  if (ring == nullptr) return false;
  // What log4cpp's own `log` checks first, here so that the record takes no slot.
  if (!admits(category, Gate::chained, priority)) return true;
  if (!ensure_writer()) return false;
  Captured record{&category, priority, message, {}, {}, pthread_self()};
  clock_gettime(CLOCK_REALTIME, &record.time);  // what log4cpp's TimeStamp reads
  const std::string& ndc = log4cpp::NDC::get();
  record.ndc = ndc;
  if (unreported.load(memory_order_relaxed) != 0) push_notice(*ring, record);
  switch (ring->push(record)) {
    case Pushed::queued:
      wake_writer(*ring, ring->taken());
      return true;
    case Pushed::dropped:
      dropped_total.fetch_add(1, memory_order_relaxed);
      unreported.fetch_add(1, memory_order_relaxed);
      wake_writer(*ring, ring->taken());  // a record that could not be copied took a slot
      return true;
    case Pushed::refused:
      break;
  }
  return false;  // the ring was put out of use meanwhile
}

bool flush_records(Deadline deadline) noexcept {
  Ring* ring = current.load(memory_order_acquire);
  if (ring == nullptr) return true;
  const std::uint64_t target = ring->taken();
  rouse_writer();
  const MutexUse use(flushers.mutex);
  for (;;) {
    if (target < flushers.earliest.load(memory_order_relaxed)) {
      flushers.earliest.store(target, memory_order_relaxed);
    }
    std::atomic_thread_fence(memory_order_seq_cst);  // the wish, before `written`
    if (ring->written.load(memory_order_relaxed) >= target) return true;
    if (!wait_until(flushers.cond, flushers.mutex, deadline)) {
      return ring->written.load(memory_order_relaxed) >= target;
    }
  }
}

QueueStats queue_stats() noexcept {
  const Ring* ring = current.load(memory_order_acquire);
  const std::uint64_t queued =
      ring == nullptr ? 0 : ring->taken() - ring->written.load(memory_order_acquire);
  return {queued, dropped_total.load(memory_order_relaxed)};
}

const log4cpp::Category* writer_busy_with() noexcept {
  return writer.busy_with.load(memory_order_relaxed);
}

void prepare_queue(const AsyncSettings& settings) {
  prepared = {nullptr, settings.when_full};
  if (!settings.on) return;
  std::vector<Ring*>& made = rings();
  for (Ring* ring : made) {
    if (ring->records() == settings.records) prepared.ring = ring;
  }
  if (prepared.ring == nullptr) {
    made.reserve(made.size() + 1);  // so that the ring, once made, is recorded
    prepared.ring = Ring::make(settings.records);
    made.push_back(prepared.ring);
  }
  if (prepared.ring->notices == nullptr) {
    prepared.ring->notices = &log4cpp::Category::getInstance(kNoticeCategory);
  }
}

void use_prepared_queue() noexcept {
  Ring* old = current.load(memory_order_relaxed);
  if (prepared.ring != nullptr) prepared.ring->when_full.store(prepared.when_full);
  if (old == prepared.ring) return;
  if (old != nullptr) write_rest(*old, old->close());
  if (prepared.ring != nullptr) prepared.ring->open();
  current.store(prepared.ring, memory_order_release);
  // Now rather than at the first record, which would wait for it; should it
  // fail, the first record tries again.
  if (prepared.ring != nullptr) ensure_writer();
}

void stop_queue_for_exit(bool alone) noexcept {
  Ring* ring = current.exchange(nullptr, std::memory_order_acq_rel);
  if (ring != nullptr) {
    const std::uint64_t end = ring->close();
    if (alone) write_rest(*ring, end);
  }
  writer.stopping.store(true, memory_order_release);
  rouse_writer();
}

void wait_for_writer_to_stop(Deadline deadline) noexcept {
  const MutexUse use(writer.mutex);
  while (writer.running.load(memory_order_relaxed) &&
         wait_until(writer.gone, writer.mutex, deadline)) {
  }
}

void reset_queue_in_child() noexcept {
  new (&room) Waiters;
  new (&flushers) Flushers;
  new (&writer) Writer;
  if (Ring* ring = current.load(memory_order_relaxed)) ring->forget();
}

}  // namespace quelto::backend
