#include "protected.h"

#include "guard.h"
#include "native_stack.h"

namespace quelto::lua {
namespace {

thread_local unsigned long calls_made = 0;

// The bodies below run inside lua_pcall: they may raise freely, and they hold
// no C++ object that a longjmp could skip.

int tostring_body(lua_State* L) {
  if (!luaL_callmeta(L, 1, "__tostring")) return 0;                   // no metamethod: no result
  if (lua_type(L, -1) == LUA_TNUMBER) lua_tolstring(L, -1, nullptr);  // text in place
  return 1;
}

int name_body(lua_State* L) {
  return luaL_getmetafield(L, 1, "__name") == LUA_TSTRING ? 1 : 0;
}

int keys_body(lua_State* L) {
  lua_newtable(L);  // stack: table, keys
  lua_Integer count = 0;
  lua_pushnil(L);
  while (lua_next(L, 1) != 0) {  // table, keys, key, value
    lua_pop(L, 1);
    lua_pushvalue(L, -1);
    lua_rawseti(L, 2, ++count);
  }
  return 1;
}

int call_body(lua_State* L) {
  if (!native_stack_left(kStackReserve)) {
    lua_pushfstring(L, "<error: %s>", messages::kStackOverflow);
    return 1;
  }
  lua_pushvalue(L, 1);
  if (lua_pcall(L, 0, 1, 0) == LUA_OK) return 1;  // its first result, or nil
  const int type = lua_type(L, -1);
  const char* text =
      type == LUA_TSTRING || type == LUA_TNUMBER ? lua_tostring(L, -1) : lua_typename(L, type);
  lua_pushfstring(L, "<error: %s>", text);
  return 1;
}

int next_body(lua_State* L) {
  return lua_next(L, 1) ? 2 : 0;  // stack: table, key
}

// Runs the function and arguments on top under protection. Returns how many
// results it left in place of them.
int call(lua_State* L, int nargs) {
  ++calls_made;
  const int base = lua_gettop(L) - nargs - 1;
  if (lua_pcall(L, nargs, LUA_MULTRET, 0) != LUA_OK) throw Error();
  return lua_gettop(L) - base;
}

// Calls `body` with the value at `index` when that value has a metatable.
// A metamethod may log, and so nest a log call in this one: each nesting
// starts here, and stops with an error when the native stack runs short.
bool call_on_value(lua_State* L, int index, lua_CFunction body) {
  if (!lua_getmetatable(L, index)) return false;  // common case: nothing to call
  lua_pop(L, 1);                                  // the metatable
  if (!native_stack_left(kStackReserve)) throw Raise(messages::kStackOverflow);
  index = lua_absindex(L, index);
  lua_pushcfunction(L, body);
  lua_pushvalue(L, index);
  return call(L, 1) != 0;
}

}  // namespace

const unsigned long& protected_calls() noexcept {
  return calls_made;
}

bool call_tostring(lua_State* L, int index) {
  return call_on_value(L, index, tostring_body);
}

bool push_name(lua_State* L, int index) {
  return call_on_value(L, index, name_body);
}

void push_keys(lua_State* L, int index) {
  index = lua_absindex(L, index);
  lua_pushcfunction(L, keys_body);
  lua_pushvalue(L, index);
  call(L, 1);
}

void call_in_place(lua_State* L, int index) {
  index = lua_absindex(L, index);
  lua_pushcfunction(L, call_body);
  lua_pushvalue(L, index);
  call(L, 1);
  lua_replace(L, index);
}

int protected_next(lua_State* L, int index) {
  index = lua_absindex(L, index);   // stack: ..., key
  lua_pushcfunction(L, next_body);  // ..., key, body
  lua_insert(L, -2);                // ..., body, key
  lua_pushvalue(L, index);          // ..., body, key, table
  lua_insert(L, -2);                // ..., body, table, key
  return call(L, 2);                // ..., [key, value]
}

}  // namespace quelto::lua
