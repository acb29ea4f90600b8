// A fresh Lua state per test, and helpers to render values into a stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/buffer_stream.h"
#include "lua/compat.h"

namespace quelto::test {

class LuaTest : public ::testing::Test {
 protected:
  LuaTest() : L(luaL_newstate()) { luaL_openlibs(L); }
  ~LuaTest() override { lua_close(L); }

  /// Runs `chunk` and leaves its single result on the stack.
  void push(const std::string& chunk) {
    ASSERT_EQ(luaL_loadstring(L, ("return " + chunk).c_str()), LUA_OK) << lua_tostring(L, -1);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK) << lua_tostring(L, -1);
  }

  /// Runs `chunk` for its side effects.
  void run(const std::string& chunk) {
    ASSERT_EQ(luaL_dostring(L, chunk.c_str()), LUA_OK) << lua_tostring(L, -1);
  }

  /// The hexadecimal address the host reports for the value at `index`.
  std::string address(int index) { return address_of(lua_topointer(L, index)); }

  static std::string address_of(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
  }

  lua_State* L;
};

}  // namespace quelto::test
