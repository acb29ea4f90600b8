// Lua type codes as the host reports them, and the Lua API of the host.
#pragma once

#include "compat.h"

namespace quelto::lua {

/// The type codes `lua_type` returns that the module tells apart by name.
enum Type : int {
  Nil = LUA_TNIL,
  Boolean = LUA_TBOOLEAN,
  LightUserdata = LUA_TLIGHTUSERDATA,
  Number = LUA_TNUMBER,
  String = LUA_TSTRING,
  Table = LUA_TTABLE,
  Function = LUA_TFUNCTION,
  Userdata = LUA_TUSERDATA,
};

}  // namespace quelto::lua
