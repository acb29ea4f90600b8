#include "lifecycle.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <log4cpp/Category.hh>
#include <log4cpp/HierarchyMaintainer.hh>
#include <log4cpp/Priority.hh>
#include <new>
#include <vector>

#include "async_queue.h"
#include "lasting.h"
#include "log4cpp_internals.h"
#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {
namespace {

std::atomic<bool> exit_started{false};
std::atomic<log4cpp::Category*> root{nullptr};
std::atomic<log4cpp::HierarchyMaintainer*> maintainer{nullptr};

// The categories taken out of log4cpp's hierarchy at its teardown (or at
// exit, when a record is stuck), in static room that is never freed:
// valgrind finds them reachable.
std::vector<log4cpp::Category*>& kept() {
  return lasting<std::vector<log4cpp::Category*>, struct KeptCategories>();
}

// Moves every category out of log4cpp's hierarchy into the module's keeping.
// With the hierarchy's mutex held (log4cpp's teardown holds it).
void take_categories(log4cpp::HierarchyMaintainer& hierarchy) {
  auto& map = category_map(hierarchy);
  std::vector<log4cpp::Category*>& into = kept();
  into.reserve(into.size() + map.size());
  for (const auto& entry : map) into.push_back(entry.second);
  map.clear();  // nothing left for log4cpp to free
}

// Registered with log4cpp's hierarchy, which calls it from its teardown
// (holding its own mutex, after it removed every category's appenders)
// before it frees the categories; also from a host's own
// `Category::shutdown()`, where it leaves them be.
void keep_categories() {
  if (exiting()) take_categories(*maintainer.load());
}

// A record that stands still in its appender at exit (the writer's, or one of
// a thread the host did not stop) holds its category's mutex, on which
// log4cpp's teardown would wait for ever as it removes the appenders, and its
// appender, which the teardown would free under it. When one is held
// throughout a wait of kStandingStill, the categories are taken out of the
// hierarchy now, and their appenders out of log4cpp's registry: the teardown
// finds nothing to wait on or to free, and the stuck record stays safe if
// its write ever returns.
constexpr std::chrono::milliseconds kStandingStill{100};
void take_categories_if_one_is_stuck() {
  log4cpp::HierarchyMaintainer& hierarchy = *maintainer.load();
  pthread_mutex_t& map_mutex = category_map_mutex(hierarchy);
  const timespec until = Deadline::after(kStandingStill).realtime();
  if (pthread_mutex_timedlock(&map_mutex, &until) != 0) return;
  bool stuck = false;
  for (const auto& entry : category_map(hierarchy)) {
    if (held_throughout(category_mutex(*entry.second), kStandingStill)) {
      stuck = true;
      break;
    }
  }
  if (stuck) {
    // No one changes a category's appenders now: a configuration can no
    // longer run, and the stuck record holds its own category's mutex.
    for (const auto& entry : category_map(hierarchy)) {
      for (log4cpp::Appender* appender : appenders_of(*entry.second)) unregister_appender(appender);
    }
    take_categories(hierarchy);
  }
  pthread_mutex_unlock(&map_mutex);
}

void at_exit() {
  static std::atomic<bool> ran{false};
  if (ran.exchange(true)) return;  // registered twice
  const Deadline deadline = Deadline::operation();
  const Turn turn(deadline);
  flush_records(deadline);
  {
    ExclusiveUse alone;
    if (turn.held()) alone.acquire(deadline);
    exit_started.store(true, std::memory_order_release);
    stop_queue_for_exit(alone.held());
  }
  wait_for_writer_to_stop(deadline);
  try {
    take_categories_if_one_is_stuck();
  } catch (...) {  // no memory to keep them: log4cpp frees them as it would
  }
}

// Around fork(): see lifecycle.h. The forking thread alone runs these three.
bool forked_with_turn = false;
bool forked_alone = false;
alignas(Turn) unsigned char turn_room[sizeof(Turn)];
alignas(ExclusiveUse) unsigned char alone_room[sizeof(ExclusiveUse)];

void before_fork() {
  const Deadline deadline = Deadline::operation();
  Turn* turn = new (turn_room) Turn(deadline);
  forked_with_turn = turn->held();
  auto* alone = new (alone_room) ExclusiveUse;
  forked_alone = forked_with_turn && alone->acquire(deadline);
}

void after_fork_in_parent() {
  std::launder(reinterpret_cast<ExclusiveUse*>(alone_room))->~ExclusiveUse();
  std::launder(reinterpret_cast<Turn*>(turn_room))->~Turn();
}

// A mutex of log4cpp's that a thread of the parent held stays held here,
// where that thread does not exist: made free again.
void free_if_held(pthread_mutex_t& mutex) {
  if (pthread_mutex_trylock(&mutex) == 0) {
    pthread_mutex_unlock(&mutex);
  } else {
    pthread_mutex_init(&mutex, nullptr);  // what log4cpp's own Mutex does
  }
}

void after_fork_in_child() {
  reset_process_lock_in_child();
  reset_stripes_in_child();
  reset_queue_in_child();
  if (log4cpp::HierarchyMaintainer* hierarchy = maintainer.load()) {
    free_if_held(category_map_mutex(*hierarchy));
    for (const auto& entry : category_map(*hierarchy)) free_if_held(category_mutex(*entry.second));
  }
}

// Registered when the module is loaded (or the program that links it
// starts); glibc forgets the handlers when a library is unloaded.
[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

}  // namespace

void on_module_load() {
  // A local static: the first load of any state, on any thread, runs it once.
  static const bool registered = [] {
    // log4cpp makes its hierarchy on first use and registers its destructor
    // then: a handler registered after it runs before it.
    log4cpp::HierarchyMaintainer& hierarchy = log4cpp::HierarchyMaintainer::getDefaultMaintainer();
    root.store(&log4cpp::Category::getRoot());
    log4cpp::Priority::getPriorityName(log4cpp::Priority::INFO);  // makes the names
    maintainer.store(&hierarchy);
    hierarchy.register_shutdown_handler(keep_categories);
    return std::atexit(at_exit) == 0;
  }();
  static_cast<void>(registered);
}

void after_first_configuration() noexcept {
  static const bool registered = std::atexit(at_exit) == 0;
  static_cast<void>(registered);
}

bool exiting() noexcept {
  return exit_started.load(std::memory_order_acquire);
}

log4cpp::Category& kept_root() noexcept {
  return *root.load(std::memory_order_relaxed);
}

}  // namespace quelto::backend
