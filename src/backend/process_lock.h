// What the module shares between Lua states, and what guards it.
//
// log4cpp is one per process, while every Lua state that loads the module
// may run on a thread of its own. log4cpp guards its category hierarchy and
// each category's appender list itself, but its properties configurator is
// not safe to run twice at once, and while it runs a category can have lost
// its old appenders before it receives the new ones: a record logged then
// reaches none. So every call the module makes into log4cpp holds one
// process-wide reader/writer lock: shared by the hand-off of a record and
// `get_log`, alone by `configure`, `reopen`, fork and exit. Records are
// written through the old configuration or through the new one, never
// through neither.
//
// Those that take it alone first take the configuration turn, one after
// another in the order they came; `set_priority` takes the turn only (a
// priority is one word, which log4cpp writes without a mutex of its own and
// a record in flight does not care about), so that it never interleaves with
// a configuration.
//
// Nothing waits on the lock without bound. A record can stand still for as
// long as its appender blocks (a pipe nobody reads), and it holds the lock
// shared meanwhile. So one that wants it alone announces itself: new shared
// users wait (so that a stream of log calls cannot starve a `configure`),
// but only for kReaderPatience, after which they go on; the one alone keeps
// trying, its preference given up and taken again by turns, until its
// deadline (Deadline::operation()), and then gives up. When it lets the lock
// go (or gives its preference up), the shared users that waited are let in
// before any other can take it alone, so that back-to-back configurations
// delay a log call by a bounded time, never starve it.
//
// The priority gate of a log call takes no lock: it reads one word of the
// category (its own priority), or with the chained gate that word of each
// ancestor up to the first with a priority (parents never change), which a
// concurrent `configure` or `set_priority` may be rewriting; either value is
// a priority the category had, and log4cpp itself reads them the same way.
// A filtered call thus costs no atomic read-modify-write. The logger methods
// that only read priorities (`is_enabled`, `get_priority`, ...) read them so
// too.
//
// The lock is held only around calls into log4cpp, never while Lua code
// runs, so no Lua error can skip its release and no `__tostring` can wait on
// it. It is statically initialised and never destroyed. What happens to it
// at fork and at exit is in lifecycle.h.
#pragma once

#include "deadline.h"

namespace quelto::backend {

/// How long a new shared user waits for an announced exclusive one before it
/// goes on anyway.
inline constexpr std::chrono::milliseconds kReaderPatience{20};

/// Holds the lock shared for its lifetime: for the calls that hand a record
/// to log4cpp or look a category up. Never fails.
class SharedUse {
 public:
  SharedUse() noexcept;
  ~SharedUse();
  SharedUse(const SharedUse&) = delete;
  SharedUse& operator=(const SharedUse&) = delete;
};

/// True while one that wants the lock alone waits for the shared users to
/// leave: a holder that writes record after record lets it in between two.
bool exclusive_waiting() noexcept;

/// The configuration turn, until `deadline` at the most: held() tells
/// whether it came. For `configure`, `reopen`, `set_priority`, fork and exit.
class Turn {
 public:
  explicit Turn(Deadline deadline) noexcept;
  ~Turn();
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  bool held() const { return held_; }

 private:
  bool held_;
};

/// The lock alone, for its lifetime once acquired; only with the turn held.
class ExclusiveUse {
 public:
  ExclusiveUse() noexcept = default;
  ~ExclusiveUse();
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;

  /// Waits until `deadline` at the most for the shared users to leave.
  bool acquire(Deadline deadline) noexcept;
  bool held() const { return held_; }

 private:
  bool held_ = false;
};

/// Makes the lock and the turn anew, free, in a child process just forked:
/// the threads that held them there do not exist in it.
void reset_process_lock_in_child() noexcept;

}  // namespace quelto::backend
