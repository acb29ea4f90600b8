// Errors crossing the boundary between the interpreter and the module.
#include "lua/guard.h"

#include <stdexcept>

#include "lua_fixture.h"
#include "quelto_internal.h"

namespace quelto::test {
namespace {

class Guard : public LuaTest {
 protected:
  /// Calls `fn` under lua_pcall with one string argument; returns the status.
  int call(lua_CFunction fn) {
    lua_pushcfunction(L, fn);
    lua_pushliteral(L, "arg");
    return lua_pcall(L, 1, 0, 0);
  }
};

struct Counted {
  static inline int alive = 0;
  Counted() { ++alive; }
  ~Counted() { --alive; }
};

TEST_F(Guard, LuaErrorOfAProtectedCallIsRaisedAfterTheFramesUnwind) {
  const int status = call([](lua_State* L) {
    return lua::guarded(L, [L] {
      Counted owned;
      luaL_loadstring(L, "error({code = 7})");
      lua_pushnil(L);  // left on the stack by the unwound frame
      lua_insert(L, -2);
      if (lua_pcall(L, 0, 0, 0) != LUA_OK) throw lua::Error();
      return 0;
    });
  });
  ASSERT_EQ(status, LUA_ERRRUN);
  EXPECT_EQ(Counted::alive, 0);
  ASSERT_EQ(lua_type(L, -1), LUA_TTABLE);  // the error value, unchanged
  lua_getfield(L, -1, "code");
  EXPECT_EQ(lua_tointeger(L, -1), 7);
}

// Lua 5.4 raises the text "not enough memory" as a memory error of its own.
constexpr int kMemoryErrorStatus = LUA_VERSION_NUM >= 504 ? LUA_ERRMEM : LUA_ERRRUN;

TEST_F(Guard, ExceptionsBecomeLuaErrors) {
  EXPECT_EQ(call([](lua_State* L) {
              return lua::guarded(L, [] {
                Counted owned;
                throw std::bad_alloc();
                return 0;
              });
            }),
            kMemoryErrorStatus);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  EXPECT_EQ(Counted::alive, 0);

  EXPECT_EQ(call([](lua_State* L) {
              return lua::guarded(L, [] {
                throw lua::Raise("fixed text with %s inside");
                return 0;
              });
            }),
            LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "fixed text with %s inside");

  if constexpr (!lua::kErrorsAreExceptions) {
    EXPECT_EQ(call([](lua_State* L) {
                return lua::guarded(L, [] {
                  throw 42;
                  return 0;
                });
              }),
              LUA_ERRRUN);
    EXPECT_STREQ(lua_tostring(L, -1), "unknown C++ exception");
  }
}

#if defined(QUELTO_LUA_CPP)
// Where Lua is compiled as C++, an error raised inside the body is the
// interpreter's exception: it must reach the protected call as it was raised,
// a table as that table, a memory error as one, and never become the text of
// an exception the guard handled.
TEST_F(Guard, LuaErrorsRaisedInsideTheBodyPassThroughUnchanged) {
  const int status = call([](lua_State* L) {
    return lua::guarded(L, [L] {
      Counted owned;
      lua_createtable(L, 0, 1);
      lua_pushinteger(L, 9);
      lua_setfield(L, -2, "code");
      lua_error(L);
      return 0;
    });
  });
  ASSERT_EQ(status, LUA_ERRRUN);
  EXPECT_EQ(Counted::alive, 0);  // C++ unwinding; with a longjmp nothing runs destructors
  ASSERT_EQ(lua_type(L, -1), LUA_TTABLE);
  lua_getfield(L, -1, "code");
  EXPECT_EQ(lua_tointeger(L, -1), 9);
  lua_settop(L, 0);

  EXPECT_EQ(call([](lua_State* L) {
              return lua::guarded(L, [L] { return luaL_error(L, "raised as %s", "text"); });
            }),
            LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "raised as text");
}
#endif

TEST_F(Guard, RaisedMessagesCarryTheCallersPosition) {
  lua_pushcfunction(L, [](lua_State* L) {
    return lua::guarded(L, [] {
      throw std::runtime_error("broken");
      return 0;
    });
  });
  lua_setglobal(L, "broken");
  ASSERT_NE(luaL_dostring(L, "broken()"), LUA_OK);
  EXPECT_STREQ(lua_tostring(L, -1), "[string \"broken()\"]:1: broken");
}

TEST_F(Guard, ResultsPassThrough) {
  lua_pushcfunction(L, [](lua_State* L) {
    return lua::guarded(L, [L] {
      lua_pushinteger(L, 1);
      lua_pushinteger(L, 2);
      return 2;
    });
  });
  ASSERT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), LUA_OK);
  EXPECT_EQ(lua_gettop(L), 2);
}

}  // namespace
}  // namespace quelto::test
