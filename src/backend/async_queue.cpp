#include "async_queue.h"

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
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
#include "lasting.h"
#include "log4cpp_internals.h"
#include "process_lock.h"
#include "record.h"
#include "record_ring.h"
#include "shared_appenders.h"

namespace quelto::backend {
namespace {

using std::memory_order_acquire;
using std::memory_order_relaxed;
using std::memory_order_release;
using std::memory_order_seq_cst;

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

// Whether log4cpp writes a record of `priority` to `category` now: its own
// `log` asks this first, and the writer calls the appenders directly.
bool admits_now(const log4cpp::Category& category, int priority) noexcept {
  GateCache walk(category);  // made for one call: walks up the ancestors
  return admits(category, Gate::chained, walk, priority);
}

// Records dropped since the module was loaded, and those no notice told of yet.
std::atomic<std::uint64_t> dropped_total{0};
std::atomic<std::uint64_t> unreported{0};

// The ring in use (null: the synchronous mode), every ring made so far (each
// size once), and the one a configuration prepared. Those two under the turn.
std::atomic<Ring*> current{nullptr};
std::vector<Ring*>& rings() {
  return lasting<std::vector<Ring*>, struct Rings>();
}
struct Prepared {
  Ring* ring;
  WhenFull when_full;
};
Prepared prepared{nullptr, WhenFull::block};

// The writer thread: started when a configuration puts a ring in use (in a
// child just forked, by its first record), with every signal blocked. Having
// found nothing to write it naps, kNaps times kNap, looking again after
// each, and then sleeps until a call wakes it: while records keep coming no
// call pays for waking it (a call wakes a napping writer only when the ring
// is half full), and one that comes after a quiet while pays once. A call
// wakes it with a futex of its own, never through a mutex the writer may
// hold: a call never waits for the writer to be scheduled.
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
    const JsonRecordMark mark(slot.json_object ? &event.message : nullptr);
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

// Writes the next record of `ring` if one is ready: whether one was.
bool write_next(Ring& ring, log4cpp::LoggingEvent& event, ThreadName& names) noexcept {
  Slot* slot = ring.ready();
  if (slot == nullptr) return false;
  write_slot(*slot, event, names);
  ring.release(*slot);
  // Now, not after a batch: the next record may stand still.
  wake_flushers(ring.written.load(memory_order_relaxed));
  return true;
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
          if (!write_next(*ring, event, names)) break;
          if (++freed >= ring->room_step()) {
            wake_room_waiters();
            freed = 0;
          }
          if (exclusive_waiting()) break;  // a configuration gets in between two records
        }
        if (freed > 0) wake_room_waiters();
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
  if (ring.notices == nullptr || !admits_now(*ring.notices, log4cpp::Priority::WARN)) {
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
  notice.json_object = false;
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
      if (!write_next(ring, event, names)) sched_yield();
    }
  } catch (...) {  // no memory for an event: what is left stays unwritten
  }
}

}  // namespace

bool queue_record(log4cpp::Category& category, int priority, std::string_view message,
                  bool json_object) noexcept {
  Ring* ring = current.load(memory_order_acquire);
  if (ring == nullptr) return false;
  // What log4cpp's own `log` checks first, here so that the record takes no slot.
  if (!admits_now(category, priority)) return true;
  if (!ensure_writer()) return false;
  Captured record{&category, priority, message, {}, {}, pthread_self(), json_object};
  clock_gettime(CLOCK_REALTIME, &record.time);  // what log4cpp's TimeStamp reads
  const std::string& ndc = log4cpp::NDC::get();
  record.ndc = ndc;
  // A full ring in drop mode takes no notice either: the count waits for room.
  if (unreported.load(memory_order_relaxed) != 0 &&
      !(ring->when_full.load(memory_order_relaxed) == WhenFull::drop && ring->full())) {
    push_notice(*ring, record);
  }
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
  reset_room_waiters_in_child();
  new (&flushers) Flushers;
  new (&writer) Writer;
  if (Ring* ring = current.load(memory_order_relaxed)) ring->forget();
}

}  // namespace quelto::backend
