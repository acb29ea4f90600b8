#include <set>

#include "lua_fixture.h"
#include "render/write_dump.h"

namespace quelto::test {
namespace {

class WriteTable : public LuaTest {
 protected:
  /// The dump of the table that `chunk` returns, written at level 0.
  std::string dump(const std::string& chunk) {
    push(chunk);
    const int top = lua_gettop(L);
    utils::BufferStream stream;
    const utils::TableTraverser traverser(L, -1, 0, ' ');
    utils::write_table(L, -1, traverser, stream);
    EXPECT_EQ(lua_gettop(L), top) << chunk;
    lua_pop(L, 1);
    return std::string(stream.text());
  }
};

TEST_F(WriteTable, EmptyAndNestedTables) {
  EXPECT_EQ(dump("{}"), "{}");
  EXPECT_EQ(dump("{e = {}}"), "{\n  e = {}\n}");
  EXPECT_EQ(dump("{'x', 2.5, name = {true, 'y'}}"),
            "{\n  \"x\",\n  2.5,\n  name = {\n    true,\n    \"y\"\n  }\n}");
}

TEST_F(WriteTable, KeyForms) {
  EXPECT_EQ(dump("{[5] = 'a', [7] = 'b'}").find('5'), std::string::npos);
  EXPECT_EQ(dump("{['two words'] = 1}"), "{\n  [\"two words\"] = 1\n}");
  EXPECT_EQ(dump("{[0.5] = false}"), "{\n  [0.5] = false\n}");
  EXPECT_EQ(dump("{[1e20] = 1}"), "{\n  [1e+20] = 1\n}");
  EXPECT_EQ(dump("{['a\\nb'] = 'v'}"), "{\n  [\"a\\nb\"] = \"v\"\n}");
  EXPECT_EQ(dump("{['a b\\nc'] = 1}"), "{\n  [\"a b\\nc\"] = 1\n}");
  EXPECT_EQ(dump("{[true] = 1}"), "{\n  [\"true\"] = 1\n}");
  EXPECT_EQ(dump("{[false] = 1}"), "{\n  [\"false\"] = 1\n}");
  EXPECT_EQ(dump("{plain = 'w'}"), "{\n  plain = \"w\"\n}");
  EXPECT_EQ(dump("{[''] = 1}"), "{\n   = 1\n}");
  EXPECT_EQ(dump("{['a\\tb'] = 1}"), "{\n  a\tb = 1\n}");
  EXPECT_EQ(dump("{['say \"hi\"'] = 1}"), "{\n  [\"say \"hi\"\"] = 1\n}");
  EXPECT_EQ(dump("{['a\\0b c'] = 1}"), "{\n  a = 1\n}");  // a key ends at its NUL
}

TEST_F(WriteTable, IntegerAndFloatKeysSideBySide) {
  const std::string text = dump("{[3] = 'i', [3.5] = 'f'}");
  EXPECT_NE(text.find("\n  \"i\""), std::string::npos);
  EXPECT_NE(text.find("\n  [3.5] = \"f\""), std::string::npos);
}

TEST_F(WriteTable, OpaqueKeysAreNeverDumpedOrCalled) {
  run("k = setmetatable({}, {__tostring = function() error('called') end})");
  push("k");
  const std::string key = "[\"table: 0x" + address(-1) + "\"] = 1";
  EXPECT_EQ(dump("{[k] = 1}"), "{\n  " + key + "\n}");
  run("w = setmetatable({}, {__name = 'Widget'})");
  push("w");
  EXPECT_EQ(dump("{[w] = true}"), "{\n  [\"Widget: 0x" + address(-1) + "\"] = true\n}");
}

TEST_F(WriteTable, StringValuesAreQuotedRaw) {
  EXPECT_EQ(dump("{'line\\nbreak'}"), "{\n  \"line\nbreak\"\n}");
  EXPECT_EQ(dump("{'a\\0b'}"), "{\n  \"a\"\n}");
}

TEST_F(WriteTable, OpaqueValues) {
  push("print");
  const std::string fn = "function: 0x" + address(-1);
  EXPECT_EQ(dump("{print}"), "{\n  " + fn + "\n}");
  lua_pushlightuserdata(L, L);
  lua_setglobal(L, "light");
  push("light");
  EXPECT_EQ(dump("{light}"), "{\n  <userdata: 0x" + address(-1) + ">\n}");
  auto* ud = lua_newuserdata(L, 1);
  luaL_newmetatable(L, "Widget");
  lua_setmetatable(L, -2);
  lua_setglobal(L, "ud");
  EXPECT_EQ(dump("{ud}"), "{\n  <Widget: 0x" + address_of(ud) + ">\n}");
}

TEST_F(WriteTable, NestedToStringIsQuotedAndReindented) {
  run("function obj(s) return setmetatable({}, {__tostring = function() return s end}) end");
  EXPECT_EQ(dump("{obj('first\\nsecond')}"), "{\n  \"first\n    second\"\n}");
  EXPECT_EQ(dump("{obj('a\\n\\nb')}"), "{\n  \"a\n    \n    b\"\n}");
  EXPECT_EQ(dump("{obj('end\\n')}"), "{\n  \"end\n    \"\n}");
  EXPECT_EQ(dump("{obj('plain')}"), "{\n  \"plain\"\n}");
  EXPECT_EQ(dump("{x = {obj('a\\nb')}}"), "{\n  x = {\n    \"a\n      b\"\n  }\n}");
  EXPECT_EQ(dump("{obj(2.5)}"), "{\n  \"2.5\"\n}");  // the host's own text for numbers
}

TEST_F(WriteTable, Cycles) {
  EXPECT_EQ(dump("(function() local t = {} t.self = t return t end)()"),
            "{\n  self = {\n    self = <cycle>\n  }\n}");
  EXPECT_EQ(dump("(function() local a, b = {}, {} a.peer = b b.peer = a return a end)()"),
            "{\n  peer = {\n    peer = <cycle>\n  }\n}");
  // Shared, acyclic: written in full each time.
  EXPECT_EQ(dump("(function() local s = {1} return {a = s, b = s} end)()").find("<cycle>"),
            std::string::npos);
  // An enclosing table is a cycle even with a __tostring, which is not called.
  EXPECT_EQ(dump("(function() local t = setmetatable({}, {__tostring = error}) "
                 "t.child = {parent = t} return t end)()"),
            "{\n  child = {\n    parent = <cycle>\n  }\n}");
  // A nested table with a __tostring is written through it, not dumped.
  EXPECT_EQ(dump("{k = setmetatable({1}, {__tostring = function() return 'T' end})}"),
            "{\n  k = \"T\"\n}");
}

}  // namespace
}  // namespace quelto::test

namespace quelto::test {
namespace {

TEST_F(WriteTable, StackLimitMarkers) {
  // Nested a million deep: cut at the depth bound, every brace closed.
  const std::string text = dump(
      "(function() local t = {} local c = t for i = 1, 1000000 do c[1] = {} c = c[1] end "
      "return t end)()");
  const auto marker = text.find("{<stack limit>}");
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ(text.find("{<stack limit>}", marker + 1), std::string::npos);
  std::size_t opened = 0, closed = 0;
  for (char c : text) opened += c == '{', closed += c == '}';
  EXPECT_EQ(opened, closed);
  EXPECT_EQ(text.back(), '}');
}

TEST_F(WriteTable, HostStackExhaustedGivesMarkerAndDumpGoesOn) {
  push("{1, {2}, 3}");
  int base = 0;  // the stack height at which the host refuses one more slot
  while (lua_checkstack(L, 1)) lua_pushnil(L);
  base = lua_gettop(L);
  std::set<std::string> seen;
  for (int room = 2; room <= 12; ++room) {
    lua_settop(L, base - room);
    lua_pushvalue(L, 1);
    const int top = lua_gettop(L);
    utils::BufferStream stream;
    const utils::TableTraverser traverser(L, -1, 0, ' ');
    utils::write_table(L, -1, traverser, stream);
    EXPECT_EQ(lua_gettop(L), top);
    seen.insert(std::string(stream.text()));
  }
  lua_settop(L, 1);
  // From no room at all, through room for the outer table only, to room for both.
  EXPECT_EQ(seen, (std::set<std::string>{"{<stack limit>}", "{\n  1,\n  {<stack limit>},\n  3\n}",
                                         "{\n  1,\n  {\n    2\n  },\n  3\n}"}));
}

}  // namespace
}  // namespace quelto::test
