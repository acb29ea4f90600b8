/* quelto_internal: logging from Lua through log4cpp, linked into a program.
 *
 * The program provides Lua (it links its own liblua) and sets log4cpp up, in
 * code or by letting a script call `configure`. It makes the module reachable
 * to `require` before running scripts, either loaded at once:
 *
 *   luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 0);
 *   lua_pop(L, 1);
 *
 * or on the first `require`, through package.preload:
 *
 *   luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
 *   lua_pushcfunction(L, luaopen_quelto_internal);
 *   lua_setfield(L, -2, "quelto_internal");
 *   lua_pop(L, 1);
 */
#ifndef QUELTO_INTERNAL_H
#define QUELTO_INTERNAL_H

/* lua.h's lua_State, named by its struct so that no Lua header is needed. */
struct lua_State;

#ifdef __cplusplus
extern "C" {
#endif

/* Pushes the module table (and leaves the logger metatable below it);
 * returns 1. It may raise Lua errors, so it runs as a lua_CFunction called by
 * Lua, as above, or from within one. */
int luaopen_quelto_internal(struct lua_State* L);

/* Reopens every appender attached to any log4cpp category, waiting for any
 * configure a script is running: what a host calls after its log files were
 * rotated (logrotate's postrotate, SIGHUP), instead of
 * log4cpp::Appender::reopenAll(), which can run into a configuration half
 * made and misses appenders still in use. Returns 1 when every appender
 * reopened, 0 otherwise. It takes locks and allocates: call it from a thread
 * (one that waits for the signal with sigwait, say), never from a signal
 * handler. */
int quelto_internal_reopen(void);

/* Tells the module that the host changed a category's priority itself
 * (log4cpp::Category::setPriority from C++). A logger with the chained gate
 * remembers which ancestor its category inherits from, so that its filtered
 * calls cost the same at any depth; it sees a new value of that ancestor's
 * priority, or of its own category's, at once, but a priority given to a
 * category in between only after this call (or the next configure or
 * set_priority). Cheap, takes no lock, may be called from any thread. */
void quelto_internal_priorities_changed(void);

#ifdef __cplusplus
}
#endif

#endif /* QUELTO_INTERNAL_H */
