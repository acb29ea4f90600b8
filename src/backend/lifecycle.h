// What the module does when the process forks or exits: the one home of the
// rules that make both safe while other threads still log.
//
// fork(): a child has only the thread that forked, so a lock another thread
// held at that moment would stay taken in the child for ever. Before the
// fork, the forking thread takes the configuration turn and the lock alone
// (so no thread of the module is inside log4cpp), each until the operations'
// deadline at the most: an appender stuck in a write does not stop fork()
// for longer. The child gets every lock of the module anew, every category
// mutex that a thread of the parent held (a record stuck in its appender, or
// the host's own) made free, an empty queue and no writer until a record
// needs one. The parent loses nothing.
//
// Exit: log4cpp frees its categories and appenders in its static
// destructors, while threads the host did not stop may still log. The module
// registers, at its first load and after log4cpp's own statics exist (those
// it makes on first use too: its hierarchy, its priorities' names, and,
// after the first configuration, its configurator), a handler that runs
// before them: it writes what is queued and stops the
// writer (each within the deadline), then sets, with the lock held alone, the
// flag that makes every later call write nothing (read under the lock before
// any hand-off, and by the calls that would reach what log4cpp frees). When
// log4cpp then tears its hierarchy down, the module takes every category out
// of it and keeps it, appenders removed, for the life of the process: a
// logger's gate, which reads its category without a lock, reads live memory.
// When a record stands still in its appender at exit (a sink that never
// drains), log4cpp's teardown would wait on its category for ever: the
// handler then takes the categories out of the hierarchy itself, at once.
// `_exit` and `quick_exit` run none of this: the queue is lost.
#pragma once

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// At every load of the module (its entry point); the first registers the
/// exit handler. Throws what log4cpp throws for its root category.
void on_module_load();

/// After the module's first configuration, whose configurator log4cpp makes
/// then as a static of its own: registers the exit handler again, so that it
/// runs before that static is destroyed too (it runs once).
void after_first_configuration() noexcept;

/// True once the process exits: every later call writes nothing.
bool exiting() noexcept;

/// The root category, which stays valid after log4cpp's teardown.
log4cpp::Category& kept_root() noexcept;

}  // namespace quelto::backend
