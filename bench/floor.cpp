// The floors a log call is measured against, as a Lua module of its own:
//   local floor = require "bench_floor"
//   floor.empty():debug(...)          -- an empty C method, dispatched like a logger's
//   floor.joiner("name"):info(...)    -- joins scalars, hands them to Category::log
// Like the module, it links no Lua library: the interpreter provides it.
#include <charconv>
#include <log4cpp/Category.hh>
#include <new>
#include <string>

#include "lua/compat.h"

namespace {

int empty_method(lua_State*) {
  return 0;
}

// Joins the scalar arguments 2..top into one text, as the module writes
// them (integers in decimal, floats as "%g"), and logs it at INFO. This is
// the least a log call can do: the text must exist, and log4cpp's record
// path is what it is.
bool join_and_log(lua_State* L) {
  auto* category = *static_cast<log4cpp::Category**>(lua_touserdata(L, 1));
  try {
    std::string text;
    char number[40];
    long long integer = 0;
    for (int i = 2, top = lua_gettop(L); i <= top; ++i) {
      if (lua_type(L, i) == LUA_TSTRING) {
        std::size_t size = 0;
        const char* s = lua_tolstring(L, i, &size);
        text.append(s, size);
      } else if (quelto::lua::integer_value(L, i, &integer)) {
        const auto r = std::to_chars(number, number + sizeof number, integer);
        text.append(number, r.ptr);
      } else {
        const auto r = std::to_chars(number, number + sizeof number, lua_tonumber(L, i),
                                     std::chars_format::general, 6);
        text.append(number, r.ptr);
      }
    }
    category->log(log4cpp::Priority::INFO, text);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int joiner_info(lua_State* L) {
  if (!join_and_log(L)) return luaL_error(L, "not enough memory");
  return 0;
}

void push_object(lua_State* L, const luaL_Reg* methods, log4cpp::Category* category) {
  *static_cast<log4cpp::Category**>(lua_newuserdata(L, sizeof category)) = category;
  lua_createtable(L, 0, 1);  // metatable
  lua_createtable(L, 0, 2);  // its __index
  luaL_setfuncs(L, methods, 0);
  lua_setfield(L, -2, "__index");
  lua_setmetatable(L, -2);
}

int new_empty(lua_State* L) {
  static const luaL_Reg methods[] = {
      {"debug", empty_method}, {"info", empty_method}, {nullptr, nullptr}};
  push_object(L, methods, nullptr);
  return 1;
}

int new_joiner(lua_State* L) {
  static const luaL_Reg methods[] = {{"info", joiner_info}, {nullptr, nullptr}};
  const char* name = luaL_checkstring(L, 1);
  log4cpp::Category* category = nullptr;
  try {
    category = &log4cpp::Category::getInstance(name);
  } catch (...) {
    category = nullptr;
  }
  if (category == nullptr) return luaL_error(L, "no category %s", name);
  push_object(L, methods, category);
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int luaopen_bench_floor(lua_State* L) {
  static const luaL_Reg functions[] = {
      {"empty", new_empty}, {"joiner", new_joiner}, {nullptr, nullptr}};
  luaL_newlib(L, functions);
  return 1;
}
