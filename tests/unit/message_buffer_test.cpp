// A MessageBuffer must hold, byte for byte, what a BufferStream holds after
// the same writes: the log path renders into the one, the writers were
// made for the other.
#include "render/message_buffer.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <random>

#include "lua_fixture.h"
#include "render/stream_ops.h"
#include "render/write_dump.h"
#include "support/buffer_stream.h"

namespace quelto::test {
namespace {

template <class Write>
std::string through_stream(Write write) {
  utils::BufferStream stream;
  write(stream);
  return std::string(stream.text());
}

template <class Write>
std::string through_buffer(Write write) {
  utils::MessageBuffer buffer;
  write(buffer);
  return std::string(buffer.text());
}

template <class Write>
void expect_same(Write write) {
  EXPECT_EQ(through_buffer(write), through_stream(write));
}

TEST(MessageBuffer, NumbersAndAddressesAsTheStreamWritesThem) {
  for (long long i : {0LL, -7LL, 42LL, LLONG_MAX, LLONG_MIN}) {
    expect_same([i](auto& s) { s << i; });
  }
  const double specials[] = {
      0.1,      1.0 / 3,   3.0,          100.0,         -2.5,
      1e6,      0x1p53,    1e20,         0.0001,        0.00001,
      -0.0,     999999.5,  9999995.,     1e-310,        5e-324,
      HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""), std::numeric_limits<double>::max()};
  for (double d : specials) expect_same([d](auto& s) { s << d; });
  // Every kind of double: random bit patterns, and values near rounding edges.
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    expect_same([d](auto& s) { s << d; });
    const double near = static_cast<double>(random() % 100000000) / (1 + random() % 1000);
    expect_same([near](auto& s) { s << near; });
  }
  for (std::uintptr_t a : {std::uintptr_t{0}, std::uintptr_t{0xdeadbeef}, UINTPTR_MAX}) {
    expect_same([a](auto& s) {
      utils::write_address(s, a);
      s << 255LL;  // decimal again after the address
    });
  }
  expect_same([](auto& s) {
    s << "line";
    utils::write_newline(s);
  });
}

TEST(MessageBuffer, TextIsWholeAcrossGrowthAndReadsInBetween) {
  utils::MessageBuffer buffer;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    const std::string piece(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26));
    buffer.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    buffer.put('|');
    expected += piece + '|';
    if (i % 500 == 0) {
      EXPECT_EQ(buffer.text(), expected);  // reading leaves it writable
    }
  }
  EXPECT_EQ(buffer.text(), expected);
}

TEST(MessageBuffer, ABadBufferKeepsItsTextAndDropsLaterWrites) {
  expect_same([](auto& s) {
    s << "kept" << static_cast<const char*>(nullptr) << "dropped" << 1LL << 2.5;
    s.put('x');
  });
  expect_same([](auto& s) {
    s.write("kept", 4);
    s.setstate(std::ios_base::badbit);
    s.write("dropped", 7);
    utils::write_newline(s);
  });
  utils::MessageBuffer buffer;
  EXPECT_FALSE(buffer.bad());
  buffer.setstate(std::ios_base::goodbit);
  EXPECT_FALSE(buffer.bad());
  buffer << static_cast<const char*>(nullptr);
  EXPECT_TRUE(buffer.bad());
  EXPECT_EQ(buffer.text(), "");
}

// Groups digits with '.', writes ',' as the decimal point, ends lines with '\r'.
struct GroupingPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};
struct CarriageReturnCtype : std::ctype<char> {
  char do_widen(char c) const override { return c == '\n' ? '\r' : c; }
};

class GlobalLocale {
 public:
  explicit GlobalLocale(const std::locale& locale) : previous_(std::locale::global(locale)) {}
  ~GlobalLocale() { std::locale::global(previous_); }

 private:
  std::locale previous_;
};

std::locale grouping_locale() {
  return std::locale(std::locale(std::locale::classic(), new GroupingPunct),
                     new CarriageReturnCtype);
}

TEST(MessageBuffer, AnotherGlobalLocaleFormatsAsTheStreamDoes) {
  const GlobalLocale installed(grouping_locale());
  const auto write = [](auto& s) {
    s << 1234567LL << " " << 3.5 << " " << 1e20;
    utils::write_newline(s);
    utils::write_address(s, 0x123456);
  };
  EXPECT_EQ(through_buffer(write), "1.234.567 3,5 1e+20\r123.456");
  expect_same(write);
}

// The locale is read at the first number, and kept for the buffer's life.
TEST(MessageBuffer, ReadsTheGlobalLocaleAtItsFirstNumber) {
  utils::MessageBuffer during;
  during << "n=";
  {
    const GlobalLocale installed(grouping_locale());
    during << 1234567LL;
  }
  during << 7654321LL;
  EXPECT_EQ(during.text(), "n=1.234.5677.654.321");
  utils::MessageBuffer after;
  after << 1234567LL;
  EXPECT_EQ(after.text(), "1234567");
}

// Bounds and texts on both sides of the inline room: the cut is where the
// bound puts it, whether the text stays inside the buffer or moves out.
TEST(MessageBuffer, CutsAlikeInsideAndPastTheInlineRoom) {
  constexpr std::size_t kRoom = utils::MessageBuffer::kInlineBytes;
  for (const std::size_t bound : {kRoom - 1, kRoom, kRoom + 1, 2 * kRoom + 7}) {
    for (const std::size_t first : {kRoom - 20, kRoom + 3, bound}) {
      utils::MessageBuffer buffer;
      buffer.set_bound(bound);
      const std::string text = std::string(first, 'a') + std::string(bound, 'z');
      buffer.write(text.data(), static_cast<std::streamsize>(first));
      buffer.write(text.data() + first, static_cast<std::streamsize>(bound));
      const std::string cut = text.substr(0, bound - utils::kCutMarker.size()) + "<truncated>";
      EXPECT_EQ(buffer.text(), cut) << bound << " " << first;
      EXPECT_TRUE(buffer.full());
    }
    utils::MessageBuffer exact;  // the bound itself is room enough
    exact.set_bound(bound);
    const std::string text(bound, 'x');
    exact.write(text.data(), static_cast<std::streamsize>(bound));
    EXPECT_EQ(exact.text(), text);
    EXPECT_FALSE(exact.full());
  }
}

class SameDump : public LuaTest {
 protected:
  void expect_same_dump(const std::string& chunk) {
    push(chunk);
    const utils::TableTraverser traverser(L, -1, 0, ' ');
    utils::BufferStream stream;
    utils::write_table(L, -1, traverser, stream);
    utils::MessageBuffer buffer;
    utils::write_table(L, -1, traverser, buffer);
    EXPECT_EQ(buffer.text(), stream.text()) << chunk;
    lua_pop(L, 1);
  }
};

TEST_F(SameDump, EveryKeyAndValueForm) {
  expect_same_dump("{}");
  expect_same_dump(
      "{'x', 2.5, 1/3, -0.0, 1e300, math.mininteger, true, name = {true, 'y', {}}, "
      "['two words'] = 1, [0.5] = false, ['a\\nb'] = 'v', [true] = 1, [''] = 2, "
      "['a\\0b'] = 'c\\0d', f = print, co = coroutine.create(print), io.stdout, "
      "[{}] = 1, [print] = 2, [1e20] = 3}");
  expect_same_dump(
      "{setmetatable({}, {__tostring = function() return 'first\\nsecond\\n' end}), "
      "setmetatable({}, {__tostring = function() return 7.25 end}), "
      "setmetatable({}, {__name = 'Widget'})}");
}

TEST_F(SameDump, CyclesAtEveryDepth) {
  // The marker for any enclosing table, however far up.
  const std::string five_deep =
      "{\n  a = {\n    b = {\n      c = {\n        d = {\n          e = <cycle>\n"
      "        }\n      }\n    }\n  }\n}";
  for (const char* target : {"t", "t.a", "t.a.b", "t.a.b.c"}) {
    push(std::string("(function() local t = {a = {b = {c = {d = {}}}}} t.a.b.c.d.e = ") + target +
         " return t end)()");
    const utils::TableTraverser traverser(L, -1, 0, ' ');
    utils::MessageBuffer buffer;
    utils::write_table(L, -1, traverser, buffer);
    EXPECT_EQ(buffer.text(), five_deep) << target;
    lua_pop(L, 1);
  }
  expect_same_dump("(function() local t = {} t.self = t return t end)()");
  // Back to the top from five levels down, and to a middle level.
  expect_same_dump(
      "(function() local t = {a = {b = {c = {d = {}}}}} t.a.b.c.d.e = t "
      "t.a.b.c.d.m = t.a.b return t end)()");
  // Shared but acyclic: in full under both keys.
  expect_same_dump("(function() local s = {1, {2}} return {a = s, b = {s, s}} end)()");
}

}  // namespace
}  // namespace quelto::test
