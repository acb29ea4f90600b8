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

/* The same declaration as lua.h's, so that this header needs no Lua header. */
typedef struct lua_State lua_State;

#ifdef __cplusplus
extern "C" {
#endif

/* Pushes the module table (and leaves the logger metatable below it);
 * returns 1. A lua_CFunction: call it through Lua, as above. */
int luaopen_quelto_internal(lua_State* L);

#ifdef __cplusplus
}
#endif

#endif /* QUELTO_INTERNAL_H */
