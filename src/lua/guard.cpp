#include "guard.h"

namespace quelto::lua::detail {
namespace {

int push_body(lua_State* L) {
  lua_pushstring(L, static_cast<const char*>(lua_touserdata(L, 1)));
  return 1;
}

}  // namespace

void push_text(lua_State* L, const char* text) noexcept(!kErrorsUnwind) {
  lua_pushcfunction(L, push_body);
  lua_pushlightuserdata(L, const_cast<char*>(text));
  lua_pcall(L, 1, 1, 0);  // the text, or the error that prevented it
}

int raise(lua_State* L, Outcome outcome) {
  switch (outcome) {
    case Outcome::OutOfMemory:
      lua_pushstring(L, messages::kOutOfMemory);
      break;
    case Outcome::Message:
      luaL_where(L, 1);   // message, position
      lua_insert(L, -2);  // position, message
      lua_concat(L, 2);
      break;
    default:  // the error value is already on top
      break;
  }
  return lua_error(L);
}

}  // namespace quelto::lua::detail
