#include "render/write_basetype.h"

#include "lua_fixture.h"
#include "quelto_internal.h"

namespace quelto::test {
namespace {

class WriteBasetype : public LuaTest {
 protected:
  /// The text of the value that `chunk` returns, as write_basetype writes it.
  std::string render(const std::string& chunk) {
    push(chunk);
    utils::BufferStream stream;
    const int top = lua_gettop(L);
    utils::write_basetype(L, -1, lua_type(L, -1), stream);
    EXPECT_EQ(lua_gettop(L), top);
    lua_pop(L, 1);
    return std::string(stream.text());
  }
};

TEST_F(WriteBasetype, Scalars) {
  const std::pair<const char*, const char*> cases[] = {
      {"nil", "nil"},
      {"true", "true"},
      {"false", "false"},
      {"0", "0"},
      {"-7", "-7"},
      {"math.maxinteger", "9223372036854775807"},
      {"math.mininteger", "-9223372036854775808"},
      {"'a\\0b'", "a"},
      {"'two\\nlines'", "two\nlines"},
      {"''", ""},
      {"'100%s %n'", "100%s %n"},
  };
  for (const auto& [chunk, text] : cases) EXPECT_EQ(render(chunk), text) << chunk;
}

TEST_F(WriteBasetype, FloatsAsPercentG) {
  const std::pair<const char*, const char*> cases[] = {
      {"0.1", "0.1"},    {"1/3", "0.333333"},  {"3.0", "3"},         {"100.0", "100"},
      {"-2.5", "-2.5"},  {"2/3", "0.666667"},  {"1e6", "1e+06"},     {"2.0^53", "9.0072e+15"},
      {"1e20", "1e+20"}, {"0.0001", "0.0001"}, {"0.00001", "1e-05"}, {"-0.0", "-0"},
      {"1/0", "inf"},    {"-1/0", "-inf"},     {"1e308", "1e+308"},  {"123456.7", "123457"},
  };
  for (const auto& [chunk, text] : cases) EXPECT_EQ(render(chunk), text) << chunk;
  EXPECT_EQ(render("3.0"), render("3"));
  EXPECT_TRUE(render("0/0") == "nan" || render("0/0") == "-nan");
}

TEST_F(WriteBasetype, NumbersAreNotConvertedInPlace) {
  push("42");
  utils::BufferStream stream;
  utils::write_basetype(L, -1, LUA_TNUMBER, stream);
  EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER);
}

TEST_F(WriteBasetype, OpaqueValuesShowTypeNameAndAddress) {
  push("print");
  EXPECT_EQ(render("print"), "function: 0x" + address(-1));
  lua_pop(L, 1);

  lua_pushlightuserdata(L, nullptr);
  utils::BufferStream stream;
  utils::write_basetype(L, -1, lua_type(L, -1), stream);
  EXPECT_EQ(stream.text(), "userdata: 0x0");
  lua_pop(L, 1);

  push("{}");  // a table given the scalar writer takes the opaque form
  const std::string expected = "table: 0x" + address(-1);
  utils::BufferStream table_stream;
  utils::write_basetype(L, -1, LUA_TTABLE, table_stream);
  EXPECT_EQ(table_stream.text(), expected);

  EXPECT_EQ(render("coroutine.create(print)").rfind("thread: 0x", 0), 0u);
}

TEST_F(WriteBasetype, NameFieldAndItsFallbacks) {
  push("setmetatable({}, {__name = 'Widget'})");
  const std::string widget = "Widget: 0x" + address(-1);
  utils::BufferStream stream;
  utils::write_unhandled_type(L, -1, stream);
  EXPECT_EQ(stream.text(), widget);
  lua_pop(L, 1);

  // A __name that is not a string gives the host's own type name; the stack
  // keeps its height also for a negative index.
  push("setmetatable({}, {__name = 42})");
  lua_pushinteger(L, 1);
  const int top = lua_gettop(L);
  utils::BufferStream numbered;
  utils::write_unhandled_type(L, -2, numbered);
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(numbered.text(), "table: 0x" + address(-2));
}

TEST_F(WriteBasetype, LoggerShowsItsTypeName) {
  luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 1);
  run("logger = require('quelto_internal').get_log('unit')");
  lua_getglobal(L, "logger");
  utils::BufferStream stream;
  utils::write_unhandled_type(L, -1, stream);
  EXPECT_EQ(stream.text(), "QueltoLogger: 0x" + address(-1));
}

TEST_F(WriteBasetype, HexadecimalAppliesToTheAddressAlone) {
  push("print");
  push("255");
  utils::BufferStream stream;
  utils::write_unhandled_type(L, -2, stream);
  utils::write_basetype(L, -1, LUA_TNUMBER, stream);
  utils::write_unhandled_type(L, -2, stream);
  const std::string opaque = "function: 0x" + address(-2);
  EXPECT_EQ(stream.text(), opaque + "255" + opaque);
}

}  // namespace
}  // namespace quelto::test
