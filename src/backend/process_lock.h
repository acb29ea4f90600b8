// What the module shares between Lua states, and what guards it.
//
// log4cpp is one per process, while every Lua state that loads the module
// may run on a thread of its own. log4cpp guards its category hierarchy and
// each category's appender list itself, but its properties configurator is
// not safe to run twice at once, and while it runs a category can have lost
// its old appenders before it receives the new ones: a record logged then
// reaches none. So every call the module makes into log4cpp holds one
// process-wide reader/writer lock: shared by log calls and `get_log`, alone by
// `configure` and `set_priority`. Records are written through the old
// configuration or through the new one, never through neither, and
// configurations and priority changes never overlap.
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
// it. It is statically initialised and never destroyed.
//
// fork(): a child has only the thread that forked, so a lock another thread
// held at that moment would stay taken in the child for ever. A fork handler
// takes the lock alone before the fork (so no thread of the module is inside
// log4cpp, holding one of log4cpp's own mutexes, either) and hands the child
// a fresh one. A thread that forks must not hold the lock itself: it never
// does outside a call into log4cpp.
//
// Exit: log4cpp frees its categories (and the appenders they own) in its
// static destructors, which run after `main` returns or `exit` is called.
// The lock does not make logging then safe: a logger still points at its
// category. Before `main` returns, the host must have stopped every thread
// that may log through the module or call `configure` (joined it, or made
// sure it runs no Lua code of a state that loaded the module), and closed,
// or stopped using, every Lua state whose finalizers log. A host that cannot
// stop them ends the process with `_exit` or `quick_exit`, which run no
// static destructors.
#pragma once

namespace quelto::backend {

enum class Access { Shared, Exclusive };

/// Holds the lock for its lifetime. Shared: for calls that log or look up a
/// category. Exclusive (alone): for calls that change log4cpp's configuration;
/// waiting writers go before new readers, so a steady stream of log calls
/// cannot keep `configure` waiting for ever.
template <Access kAccess>
class LockUse {
 public:
  LockUse() noexcept;
  ~LockUse();
  LockUse(const LockUse&) = delete;
  LockUse& operator=(const LockUse&) = delete;
};

using SharedUse = LockUse<Access::Shared>;
using ExclusiveUse = LockUse<Access::Exclusive>;

}  // namespace quelto::backend
