// The message as a logger's style renders it: the line format, escaping and
// the byte bound, as exact texts.
#include <chrono>
#include <vector>

#include "lua_fixture.h"
#include "render/json_message.h"
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
    std::string closed;
    return std::string(utils::finished_text(message, style, closed));
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
          // Floats exactly, as Lua reads them back: ".0" where the shortest
          // form would read as an integer.
          {"{1e20, 0.1, -0.0, 3.0, 2^53, 1/3, 0/0, 1/0, -1/0}",
           "{1e+20, 0.1, -0.0, 3.0, 9007199254740992.0, 0.3333333333333333, 0/0, 1/0, -1/0}"},
          {"1733668064.123456, ' ', 2^40 + 0.5", "1733668064.123456 1099511627776.5"},
          {"{[0.1] = 1}, {[1/0] = 2}, {[2^63] = 3}, {[2^70] = 4}",
           "{[0.1] = 1}{[1/0] = 2}{[9223372036854775808.0] = 3}{[1180591620717411303424.0] = 4}"},
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
      {R"('\xed\x9f\xbf|\xf4\x8f\xbf\xbf')", "\xed\x9f\xbf|\xf4\x8f\xbf\xbf"},
      // C1 controls (NEL, the 8-bit CSI), the line and paragraph separators
      // and the bidirectional controls, byte by byte; their neighbours stay.
      {R"('\u{85}|\u{9b}|\u{9f}|\u{a0}')", R"(\xc2\x85|\xc2\x9b|\xc2\x9f|)"
                                           "\xc2\xa0"},
      {R"('\u{2027}|\u{2028}|\u{2029}|\u{202A}|\u{202E}|\u{202F}')",
       "\xe2\x80\xa7|"
       R"(\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\xaa|\xe2\x80\xae|)"
       "\xe2\x80\xaf"},
      {R"('\u{2065}|\u{2066}|\u{2069}|\u{206A}')",
       "\xe2\x81\xa5|"
       R"(\xe2\x81\xa6|\xe2\x81\xa9|)"
       "\xe2\x81\xaa"}};
  expect(strings, {Format::Line});
  expect(strings, {Format::Dump, true});
  expect({{R"({'q"\\\n\0'})", R"({"q\"\\\n\x00"})"}}, {Format::Line});
}

TEST_F(RenderStyle, SortedKeys) {
  const char* const table =
      "{b = 1, [3] = 'c', a = {z = 1, y = 2, 'q'}, [1] = 'a', [-2] = 0, ['a b'] = 2, [0.5] = 5}";
  expect({{table, R"({[-2] = 0, "a", [3] = "c", a = {"q", y = 2, z = 1}, ["a b"] = 2, b = 1, )"
                  "[0.5] = 5}"}},
         {Format::Line, false, 0, false, false, true});
  expect({{table, R"({"msg":"","a":{"1":"q","y":2,"z":1},"a b":2,"b":1,)"
                  R"("args":{"-2":0,"1":"a","3":"c","0.5":5}})"}},
         {Format::Json, false, 0, false, false, true});
}

TEST_F(RenderStyle, Json) {
  const std::string object = kObject;
  expect(
      {{"'user ', 'bob', ' logged in', {id = 42, 1.5}",
        R"({"msg":"user bob logged in","id":42,"args":[1.5]})"},
       {"", R"({"msg":""})"},
       {"{}, {1, 2}, {1}", R"({"msg":"","args":[1,2]})"},
       {"{1, 2}, {[4] = 'd'}", R"({"msg":"","args":{"1":1,"2":2,"4":"d"}})"},
       {"{a = 1, b = 2}, {a = 3}", R"({"msg":"","b":2,"a":3})"},
       {"{x = {{}, {1, nil, 3}, {1, 2, n = 2}, {[2] = 2}}}",
        R"({"msg":"","x":[[],{"1":1,"3":3},{"1":1,"2":2,"n":2},{"2":2}]})"},
       // The names of the record's own members go into args.
       {"{msg = 'm', ok = 6}, {time = 1}, {level = 2}, {logger = 3}, {src = 4}, {args = 5}",
        R"({"msg":"","ok":6,"args":{"msg":"m","time":1,"level":2,"logger":3,"src":4,"args":5}})"},
       {"1, ' ', 2.5, ' ', 3.0, ' ', 0/0, ' ', -1/0, nil, true",
        R"({"msg":"1 2.5 3.0 NaN -Infinityniltrue"})"},
       {"{0/0, 1/0, -0.0, 2^63, [0.5] = 1, [true] = false}",
        R"({"msg":"","args":{"1":"NaN","2":"Infinity","3":-0.0,"4":9223372036854775808.0,)"
        R"("0.5":1,"true":false}})"},
       {R"('q"\\\n\0\27\127\u{85}\u{2028}\u{202E}\xff caf\u{e9}')",
        R"({"msg":"q\"\\\n\u0000\u001b\u007f\u0085\u2028\u202e)"
        "\xef\xbf\xbd caf\xc3\xa9\"}"},
       {R"({['k\n\xff'] = 's\t'})", R"({"msg":"","k\n)"
                                    "\xef\xbf\xbd"
                                    R"(":"s\t"})"},
       {object + ", {o = " + object + "}", R"({"msg":"x\ny","o":"x\ny"})"},
       {"(function() local t = {} t.self = t return t end)()",
        R"({"msg":"","self":{"self":"<cycle>"}})"}},
      {Format::Json});
  run("f = print w = setmetatable({}, {__name = 'W\\n'})");
  push("f");
  const std::string f = "function: 0x" + address(-1);
  push("w");
  const std::string w = "W\\n: 0x" + address(-1);
  lua_pop(L, 2);
  EXPECT_EQ(render("f, {f, [w] = w}", {Format::Json}),
            R"({"msg":")" + f + R"(","args":{"1":")" + f + R"(",")" + w + R"(":[]}})");
}

TEST_F(RenderStyle, JsonCutsStayValid) {
  // The least bound is the shortest cut record, 21 bytes.
  expect({{"string.rep('a', 30)", R"({"msg":"<truncated>"})"}}, {Format::Json, false, 11});
  // Cut inside a string, where a value is due, where a member is due; never
  // inside a character or an escape.
  expect({{"string.rep('a', 60)", R"({"msg":"aaaaaaaaaaaaaaaaaaa<truncated>"})"},
          {"'a', {list = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}",
           R"({"msg":"a","list":[1,2,3,"<truncated>"]})"},
          {"'a', {k = {kk = string.rep('x', 30)}}", R"({"msg":"a","k":{"kk":"xxxx<truncated>"}})"},
          {"'a', {k = {abcdefghijkl = 'a long enough text'}}",
           R"({"msg":"a","k":{"<truncated>":true}})"},
          {"string.rep('\\u{e9}', 20)",
           "{\"msg\":\"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
           "\xc3\xa9\xc3\xa9\xc3\xa9<truncated>\"}"},
          {"'a' .. string.rep('\\n', 20)", R"({"msg":"a\n\n\n\n\n\n\n\n\n<truncated>"})"}},
         {Format::Json, false, 40});
  // A __tostring that gives no text ends the record, which is closed too.
  expect({{"'a', setmetatable({}, {__tostring = function() return {} end}), 'b'",
           R"({"msg":"a<truncated>"})"}},
         {Format::Json});
  struct Closed {
    std::string text;
    std::size_t bound;
    std::string closed;
  };
  const Closed closed[] = {
      {R"({"msg":"abc","k":[1,{"a":"xy)", 100, R"({"msg":"abc","k":[1,{"a":"xy<truncated>"}]})"},
      {R"({"msg":"abc","k":[1,{"a":"xy)", 41, R"({"msg":"abc","k":[1,{"a":"<truncated>"}]})"},
      {R"({"msg":"abc","k":[1,{"a":"xy)", 40, R"({"msg":"abc","k":[1,"<truncated>"]})"},
      {R"({"msg":"abc","k":[1,{"a":"xy)", 34, R"({"msg":"abc","k":["<truncated>"]})"},
      {R"({"msg":"abc","k":[1,{"a":"xy)", 30, R"({"msg":"abc<truncated>"})"},
      {R"({"msg":"abc","k":12)", 31, R"({"msg":"abc","k":"<truncated>"})"},
      {R"({"msg":"a\u00)", 100, R"({"msg":"a<truncated>"})"},
      {R"({"msg":"a","ke)", 100, R"({"msg":"a","<truncated>":true})"},
      {R"({"msg":"a","k":tru)", 100, R"({"msg":"a","k":"<truncated>"})"},
  };
  for (const Closed& c : closed) {
    const std::string got = utils::close_json(c.text + "<truncated>", true, c.bound);
    EXPECT_EQ(got, c.closed) << c.text;
    EXPECT_LE(got.size(), c.bound) << c.text;
  }
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
