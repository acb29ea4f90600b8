// Lua type codes as the host reports them, and the Lua API of the host.
#pragma once

#include "compat.h"

namespace quelto::lua {

/// The type code `lua_type` returns for a stack slot.
enum Type : int {
  None = LUA_TNONE,
  Nil = LUA_TNIL,
  Boolean = LUA_TBOOLEAN,
  LightUserdata = LUA_TLIGHTUSERDATA,
  Number = LUA_TNUMBER,
  String = LUA_TSTRING,
  Table = LUA_TTABLE,
  Function = LUA_TFUNCTION,
  Userdata = LUA_TUSERDATA,
  Thread = LUA_TTHREAD,
};

}  // namespace quelto::lua
