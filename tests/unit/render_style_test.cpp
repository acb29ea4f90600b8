// The message as a logger's style renders it: the line format, escaping and
// the byte bound, as exact texts.
#include <chrono>
#include <vector>

#include "lua_fixture.h"
#include "render/message.h"

namespace quelto::test {
namespace {

using Format = utils::Style::Format;

struct Case {
  std::string chunk;  // returns the arguments of the log call
  std::string text;
};

class RenderStyle : public LuaTest {
 protected:
  std::string render(const std::string& chunk, const utils::Style& style) {
    const int base = lua_gettop(L);
    EXPECT_EQ(luaL_loadstring(L, ("return " + chunk).c_str()), LUA_OK) << chunk;
    EXPECT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), LUA_OK) << chunk;
    const int top = lua_gettop(L);
    utils::MessageBuffer message;
    utils::render_arguments(L, base + 1, message, style);
    EXPECT_EQ(lua_gettop(L), top) << chunk;
    lua_settop(L, base);
    return std::string(message.text());
  }

  void expect(const std::vector<Case>& cases, const utils::Style& style) {
    for (const Case& c : cases) EXPECT_EQ(render(c.chunk, style), c.text) << c.chunk;
  }
};

const char* const kObject = "setmetatable({}, {__tostring = function() return 'x\\ny' end})";

TEST_F(RenderStyle, LineFormat) {
  const std::string object = kObject;
  expect({{"{'x', 2.5, name = {true, 'y'}}", R"({"x", 2.5, name = {true, "y"}})"},
          {"{}, {{}}, {{}, {}}", "{}{{}}{{}, {}}"},
          {"{[404] = 12}", "{[404] = 12}"},
          {"{nil, 'b'}", R"({[2] = "b"})"},
          {"{[0] = 'z'}", R"({[0] = "z"})"},
          {"{[-1] = 'z'}", R"({[-1] = "z"})"},
          {"{['two words'] = 1}", R"({["two words"] = 1})"},
          {"{[true] = 1}", "{[true] = 1}"},
          {"{[0.5] = false}", "{[0.5] = false}"},
          {"{1e20, 0.1, -0.0}", "{1e+20, 0.1, -0}"},
          {"{_a1 = 1}", "{_a1 = 1}"},
          {"{['end'] = 1}", R"({["end"] = 1})"},
          {"{['1a'] = 1}", R"({["1a"] = 1})"},
          {"{[''] = 1}", R"({[""] = 1})"},
          {"{['a\\nb'] = 1}", R"({["a\nb"] = 1})"},
          {"{['caf\\u{e9}'] = 1}", R"({["café"] = 1})"},
          {"(function() local t = {} t[1] = t return t end)()", "{{<cycle>}}"},
          {object, "x\\ny"},
          {"{" + object + "}", R"({"x\ny"})"},
          {"'n=', 3, {1}, 'a\\n'", "n=3{1}a\\n"}},
         {Format::Line});
}

TEST_F(RenderStyle, Escapes) {
  const std::vector<Case> strings = {
      {R"('q"\\\n\r\t\0\27\127')", R"(q"\\\n\r\t\x00\x1b\x7f)"},
      {R"('\27[31mred')", R"(\x1b[31mred)"},
      {R"('caf\u{e9} \u{65e5}\u{672c} \u{1F600}')", "café 日本 😀"},
      // Bytes that are no UTF-8: a stray continuation, an overlong form, a
      // surrogate, past U+10FFFF, a sequence cut short.
      {R"('\xff|\x80|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82')",
       R"(\xff|\x80|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82)"},
      {R"('\xed\x9f\xbf|\xf4\x8f\xbf\xbf')", "\xed\x9f\xbf|\xf4\x8f\xbf\xbf"}};
  expect(strings, {Format::Line});
  expect(strings, {Format::Dump, true});
  expect({{R"({'q"\\\n\0'})", R"({"q\"\\\n\x00"})"}}, {Format::Line});
}

TEST_F(RenderStyle, EscapedDumpKeepsItsLines) {
  const std::string object = kObject;
  expect({{"{'a\\nb'}", "{\n  \"a\\nb\"\n}"},
          {"{['a b'] = 1}", "{\n  [\"a b\"] = 1\n}"},
          {"{['x\\27'] = 1}", "{\n  [\"x\\x1b\"] = 1\n}"},
          {"{['say \"hi\"'] = 1}", "{\n  [\"say \\\"hi\\\"\"] = 1\n}"},
          {"{['caf\\u{e9}'] = 1}", "{\n  café = 1\n}"},
          {object, "x\\ny\n"},
          {"{" + object + "}", "{\n  \"x\\ny\"\n}"}},
         {Format::Dump, true});
}

TEST_F(RenderStyle, OpaqueNamesAreEscaped) {
  run("w = setmetatable({}, {__name = 'W\\n\"'}) f = print");
  push("w");
  const std::string w = "W\\n\\\": 0x" + address(-1);  // quoted: W\n\"
  push("f");
  const std::string f = "function: 0x" + address(-1);
  lua_pop(L, 2);
  EXPECT_EQ(render("{[w] = f}, f", {Format::Line}), "{[\"" + w + "\"] = " + f + "}" + f);
  EXPECT_EQ(render("{[w] = 1}", {Format::Dump, true}), "{\n  [\"" + w + "\"] = 1\n}");
}

TEST_F(RenderStyle, BoundCutsAndMarks) {
  // The marker takes 11 of the 20 bytes: 9 of text remain.
  expect({{"string.rep('a', 20)", "aaaaaaaaaaaaaaaaaaaa"},
          {"string.rep('a', 21)", "aaaaaaaaa<truncated>"},
          {"'aaaaaaaa\\u{e9}', string.rep('b', 20)", "aaaaaaaa<truncated>"},
          {"'aaaaaaaa\\u{20AC}', string.rep('b', 20)", "aaaaaaaa<truncated>"},
          {"'aaaaaa\\u{1F600}', string.rep('b', 20)", "aaaaaa<truncated>"},
          {"{1, 2, 3, 4, 5, 6, 7, 8, 9}", "{\n  1,\n  <truncated>"}},
         {Format::Dump, false, 20});
  expect({{"'aaaaaaaa\\27', string.rep('b', 20)", "aaaaaaaa<truncated>"},
          {"'aaaaaaa\\n', string.rep('b', 20)", "aaaaaaa\\n<truncated>"},
          {"{1, 2, 3, 4, 5, 6, 7, 8, 9}", "{1, 2, 3,<truncated>"}},
         {Format::Line, false, 20});
}

TEST_F(RenderStyle, BoundStopsTheRendering) {
  run("called = false");
  const std::string later = "setmetatable({}, {__tostring = function() called = true end})";
  EXPECT_EQ(render("string.rep('a', 30), " + later, {Format::Line, false, 20}),
            "aaaaaaaaa<truncated>");
  EXPECT_EQ(render("{string.rep('a', 30), " + later + "}", {Format::Dump, false, 20}),
            "{\n  \"aaaa<truncated>");
  push("called");
  EXPECT_FALSE(lua_toboolean(L, -1));
  // A table of 400,000 nodes, bounded to 1 kB, takes about as long as one
  // of a few hundred: unbounded, these renders would take seconds.
  run("big = {} for i = 1, 200000 do big[i] = {i} end");
  const auto start = std::chrono::steady_clock::now();
  for (const Format format : {Format::Dump, Format::Line}) {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(render("big", {format, true, 1024}).size(), 1024u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// What the line format writes exactly reads back as the same table.
TEST_F(RenderStyle, LineReadsBack) {
  run(R"(function same(a, b)
    if type(a) ~= 'table' or type(b) ~= 'table' then return a == b end
    for k, v in pairs(a) do if not same(v, b[k]) then return false end end
    for k in pairs(b) do if a[k] == nil then return false end end
    return true
  end)");
  const char* const tables[] = {
      "{'x', 2.5, name = {true, 'y'}, [404] = 12, ['two words'] = 1, [true] = 1}",
      "{[3] = 'c', [2] = 'b', 'a', [5] = 'e', 'b2', [-7] = {}, [0.25] = 'q', ['end'] = 'w'}",
      "{'\\0\\1\\r\\n\\t\\\\\"\\127\\255 caf\\u{e9}', ['\\27[31m'] = {{{}}}, math.maxinteger}",
  };
  for (const char* table : tables) {
    const std::string text = render(table, {Format::Line});
    run("expected = " + std::string(table));
    lua_pushstring(L, text.c_str());
    lua_setglobal(L, "text");
    run("got = assert(load('return ' .. text))() ok = same(expected, got)");
    push("ok");
    EXPECT_TRUE(lua_toboolean(L, -1)) << text;
    lua_pop(L, 1);
  }
}

}  // namespace
}  // namespace quelto::test
