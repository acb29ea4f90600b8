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
 * reopened, 0 otherwise, and 0 when it gave up waiting (about 2 s: a record
 * stuck in its appender, a configure that keeps it waiting). It takes locks
 * and allocates: call it from a thread (one that waits for the signal with
 * sigwait, say), never from a signal handler. */
int quelto_internal_reopen(void);

/* Waits until every record queued before the call is written: what a host
 * calls before it hands a log file on, say. Returns 1 once they are (at once
 * when the properties file did not set quelto.async = true), 0 when that took
 * longer than the module's bound on waits (about 2 s: a sink that does not
 * drain). Call it from a thread, never from a signal handler or from an
 * appender. */
int quelto_internal_flush(void);

#ifdef __cplusplus
}
#endif

#endif /* QUELTO_INTERNAL_H */
