// The module's PatternLayout against log4cpp's own: the same events through
// both must give the same bytes, and the same patterns must be refused with
// the same text. The instants are fixed; `%u` reads a processor time that the
// test fixes too (below), so no conversion is left out of the comparison.
#include "backend/pattern_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <log4cpp/BasicLayout.hh>
#include <log4cpp/Configurator.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/SimpleLayout.hh>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backend/fast_layouts.h"

// The C library's clock(), for log4cpp and the module alike: the process's
// processor time, or a fixed value while a test sets one.
namespace {
long fixed_clock = -1;
}  // namespace
extern "C" std::clock_t clock() noexcept {
  if (fixed_clock >= 0) return fixed_clock;
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * CLOCKS_PER_SEC + t.tv_nsec / (1000000000 / CLOCKS_PER_SEC);
}

namespace quelto::test {
namespace {

using backend::FastPatternLayout;

struct Outcome {
  std::string error;  // what setConversionPattern threw, if it did
  std::string text;   // then what the layout writes for each event, one after the other
  std::string pattern;
  bool operator==(const Outcome& o) const {
    return error == o.error && text == o.text && pattern == o.pattern;
  }
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << "error [" << o.error << "] text [" << o.text << "] pattern [" << o.pattern << "]";
}

Outcome run(log4cpp::PatternLayout& layout, const std::string& pattern,
            const std::vector<log4cpp::LoggingEvent>& events) {
  Outcome outcome;
  try {
    layout.setConversionPattern(pattern);
  } catch (const log4cpp::ConfigureFailure& failure) {
    outcome.error = failure.what();
  }
  for (const log4cpp::LoggingEvent& event : events) outcome.text += layout.format(event) + '|';
  outcome.pattern = layout.getConversionPattern();
  return outcome;
}

log4cpp::LoggingEvent event(const std::string& category, const std::string& message,
                            const std::string& ndc, int priority, unsigned seconds,
                            unsigned micros) {
  log4cpp::LoggingEvent e(category, message, ndc, priority);
  e.timeStamp = log4cpp::TimeStamp(seconds, micros);
  return e;
}

class PatternLayoutTest : public ::testing::Test {
 protected:
  // Central European time, with its summer time, from the rule alone.
  PatternLayoutTest() { set_zone("CET-1CEST,M3.5.0,M10.5.0/3"); }
  ~PatternLayoutTest() override {
    fixed_clock = -1;
    set_zone(nullptr);
  }
  static void set_zone(const char* zone) {
    zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
  }
};

// Each row: a pattern, and what both layouts write for the one event below
// (or the error both throw).
TEST_F(PatternLayoutTest, EdgeCasesAsLog4cppWritesThem) {
  fixed_clock = 4242;
  // 2023-11-14 23:13:20.123456 in Paris, a Tuesday.
  const std::vector<log4cpp::LoggingEvent> events{
      event("app.db.pool", "h\xc3\xa9llo", "req-7", 600, 1700000000, 123456)};
  const std::string since_start =
      std::to_string((1700000000LL - log4cpp::TimeStamp::getStartTime().getSeconds()) * 1000 + 123 -
                     log4cpp::TimeStamp::getStartTime().getMilliSeconds());
  const struct {
    const char* pattern;
    std::string text;
  } rows[] = {
      {"%d %p %c %m%n", "2023-11-14 23:13:20,123 INFO app.db.pool h\xc3\xa9llo\n"},
      {"[%8p][%-8p][%.3p][%.4p][%3.1p][%-3.1p]", "[    INFO][INFO    ][INF][INFO][  I][I  ]"},
      {"%c{1}|%c{2}|%c{9}|%c{0}|%c{-1}|%c{x}|%c{ 2}|%c{99999999999}|%.5c",
       "pool|db.pool|app.db.pool|app.db.pool|app.db.pool|app.db.pool|db.pool|app.db.pool|app.d"},
      {"%d{ISO8601}|%d{ABSOLUTE}|%d{DATE}|%d{}",
       "2023-11-14 23:13:20,123|23:13:20,123|14 Nov 2023 23:13:20,123|2023-11-14 23:13:20,123"},
      // %l is spliced in before strftime reads the format: "%5E1" is one
      // conversion (unknown, so copied and filled to 5), "%5E" another.
      {"%d{%H:%M:%S,%l}|%d{%l %l}|%d{%Y}|%d{%5E%l}|%d{%%%l}|%d{x%q}",
       "23:13:20,123|123 11|2023| %5E123|%123|x%q"},
      {"%x|%-7x|%u|%R|%t", "req-7|req-7  |4242|1700000000|" + events[0].threadName},
      {"%r", since_start},
      {"%8%%m|%.3n%m|%9m{x}",
       "%  h\xc3\xa9llo|\nh\xc3\xa9|   h\xc3\xa9llo"},  // widths wait for a piece
      {"%.2m|%.-5m|%. 3m|%08m|%-0m", "h\xc3|h\xc3\xa9llo|h\xc3\xa9|  h\xc3\xa9llo|h\xc3\xa9llo"},
      {"%m{x}%p%c{2}{3}", "h\xc3\xa9lloINFOdb.pool{3}"},
      {"lit %p %q rest", "error: unknown conversion specifier 'q' in 'lit %p %q rest' at index 9"},
      {"%q", "error: unknown conversion specifier 'q' in '%q' at index -1"},
      {"%8{ab}m", "error: unknown conversion specifier '{' in '%8{ab}m' at index 3"},
      {"% 5m", "error: unknown conversion specifier ' ' in '% 5m' at index 2"},
      {"abc%", "error: unterminated conversion specifier in 'abc%' at index -1"},
      {"%5", "error: unterminated conversion specifier in '%5' at index -1"},
      {"%-x", "error: unterminated conversion specifier in '%-x' at index -1"},
      {"%.m", "error: unterminated conversion specifier in '%.m' at index -1"},
      {"%99999999999m", "error: unterminated conversion specifier in '%99999999999m' at index -1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pattern);
    log4cpp::PatternLayout theirs;
    FastPatternLayout ours;
    const Outcome expected = run(theirs, row.pattern, events);
    EXPECT_EQ(run(ours, row.pattern, events), expected);
    if (expected.error.empty()) {
      EXPECT_EQ(expected.text, row.text + '|');
    } else {
      EXPECT_EQ("error: " + expected.error, row.text);
    }
  }
}

// log4cpp's time text lives in 100 bytes: a longer one is undefined there
// (its buffer is left unterminated), and written whole here.
TEST_F(PatternLayoutTest, LongTimeTextWrittenWhole) {
  std::string format, text;
  for (int i = 0; i < 40; ++i) {
    format += "%Y";
    text += "2023";
  }
  FastPatternLayout ours;
  ours.setConversionPattern("%d{" + format + ",%l}|%d{" + format + "}");
  EXPECT_EQ(ours.format(event("a", "m", "", 600, 1700000000, 5000)), text + ",005|" + text);
}

// Patterns made of random pieces, well formed or not, each set on one layout
// of each after the last (as a host may set them), and every event of a
// random set through both.
class RandomPattern {
 public:
  explicit RandomPattern(std::uint32_t seed) : random_(seed) {}

  std::string pattern() {
    std::string p;
    for (int n = pick(8); n >= 0; --n) {
      if (pick(3) == 0) {
        p += pick_of({"a", " ", "-", ".", "{", "}", "\xc3\xa9", "\t", "x}"});
        continue;
      }
      p += '%';
      if (pick(3) == 0) p += pick_of({"-", "", "0", ""}) + std::to_string(pick(30));
      if (pick(5) == 0) p += "." + pick_of({"", "-", " "}) + std::to_string(pick(12));
      if (pick(60) == 0) p += pick_of({"99999999999", "-", ".", "+"});
      const char c = pick(40) ? "mmccddpprRtuxx%%n"[pick(17)] : "{qZ "[pick(4)];
      p += c;
      // Unclosed, the braces take the rest of the pattern; never a %d's,
      // whose strftime would read the widths of the pieces that follow.
      if (pick(3) == 0) p += "{" + braced() + (pick(10) == 0 && c != 'd' ? "" : "}");
    }
    return p;
  }

  std::vector<log4cpp::LoggingEvent> events() {
    std::vector<log4cpp::LoggingEvent> e;
    for (int n = pick(3); n >= 0; --n) {
      // Seconds around now, around a change of summer time, or anywhere.
      const unsigned base = pick_of({1700000000u, 1711846799u, 1729990799u, 0u});
      const unsigned seconds = base == 0 ? random_() >> 1 : base + pick(5);
      const unsigned micros = pick(20) == 0 ? random_() : pick(1000000);
      e.push_back(event(name(), message(), pick(2) ? "" : message(), priority(), seconds, micros));
    }
    return e;
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  template <typename T>
  T pick_of(std::initializer_list<T> list) {
    return list.begin()[pick(static_cast<int>(list.size()))];
  }
  std::string pick_of(std::initializer_list<const char*> list) {
    return list.begin()[pick(static_cast<int>(list.size()))];
  }

  // What may follow a conversion between braces: a %c precision, a %d
  // format (named, strftime's with and without %l, broken), or anything.
  std::string braced() {
    switch (pick(4)) {
      case 0:
        return pick_of({"", "-", " ", "x", "+"}) + std::to_string(pick(6));
      case 1:
        return pick_of({"ISO8601", "ABSOLUTE", "DATE", "", "iso8601"});
      case 2: {
        // No flag or width may end before %l: the digits would be read as a
        // width, and log4cpp's text of 100 bytes or more is undefined.
        std::string f;
        for (int n = pick(4); n >= 0; --n) {
          f += pick_of({"%l", "%H:%M:%S", ",",  "%%", "%E", "%O", "%5E", "%_O", "%-H", "%3d", "%c",
                        "%b", "%a %e",    "%Z", "%z", "%s", "%j", "%U",  "%q",  "x",   "%p"});
        }
        return pick(8) ? f : f + "%";
      }
      default:
        return pick_of({"a.b", "%m", "{", "%c{2}", "\xc3\xa9"});
    }
  }

  std::string name() {
    std::string n;
    for (int parts = pick(5); parts > 0; --parts) {
      n += pick_of({"app", "db", "", "\xe6\x97\xa5\xe6\x9c\xac", "x"});
      if (parts > 1 || pick(6) == 0) n += '.';
    }
    return n;
  }

  std::string message() {
    std::string m = pick_of({"", "user 42 logged in", "h\xc3\xa9llo %m %d{", "line\nnext",
                             "\xf0\x9f\x98\x80 \xe2\x82\xac"});
    if (pick(10) == 0) m += std::string("\0nul", 4);
    if (pick(8) == 0) m = std::string(1000 + pick(9000), "ab\xc3\xa9 "[pick(4)]) + m;
    return m;
  }

  int priority() {
    return pick(3) ? 100 * pick(9) : pick(2000) - 200;  // named ones, and any
  }

  std::mt19937 random_;
};

TEST_F(PatternLayoutTest, RandomPatternsAndEventsWriteTheSameBytes) {
  fixed_clock = 77;
  RandomPattern random(20240601);
  log4cpp::PatternLayout theirs;
  FastPatternLayout ours;
  for (int i = 0; i < 20000; ++i) {
    const std::string pattern = random.pattern();
    const std::vector<log4cpp::LoggingEvent> events = random.events();
    const Outcome expected = run(theirs, pattern, events);
    const Outcome got = run(ours, pattern, events);
    ASSERT_EQ(got, expected) << "pattern [" << pattern << "], case " << i;
  }
}

// BasicLayout and SimpleLayout are replaced too, by the patterns that write
// what they write; a class of the host's own derived from one is not.
TEST_F(PatternLayoutTest, BasicAndSimpleLayoutsAsPatterns) {
  struct HostLayout : log4cpp::PatternLayout {};
  EXPECT_FALSE(backend::equivalent_pattern(HostLayout()));
  log4cpp::BasicLayout basic;
  log4cpp::SimpleLayout simple;
  FastPatternLayout as_basic;
  FastPatternLayout as_simple;
  as_basic.setConversionPattern(backend::equivalent_pattern(basic).value());
  as_simple.setConversionPattern(backend::equivalent_pattern(simple).value());
  RandomPattern random(7);
  for (int i = 0; i < 2000; ++i) {
    for (const log4cpp::LoggingEvent& e : random.events()) {
      ASSERT_EQ(as_basic.format(e), basic.format(e));
      ASSERT_EQ(as_simple.format(e), simple.format(e));
    }
  }
}

// The time texts each thread keeps: formats of several layouts in turn, in
// one second and across seconds, from three threads at once through the same
// layouts, each thread at seconds of its own.
TEST_F(PatternLayoutTest, TimeTextsKeptPerThreadAndFormat) {
  const std::vector<std::string> patterns = {"%d",     "%d{%H:%M:%S.%l}", "%d{DATE}", "%d{%s %l}",
                                             "%d{%Y}", "%d{%l%M}",        "%d{%5E%l}"};
  constexpr int kThreads = 3;
  std::vector<log4cpp::LoggingEvent> events[kThreads];
  std::vector<std::string> expected[kThreads];  // per event, then per pattern
  for (int t = 0; t < kThreads; ++t) {
    const unsigned base = 1700000000u + 3456789u * t;  // 40 days apart
    for (unsigned s : {base, base, base + 1, base, base + 7200}) {
      for (unsigned us : {0u, 999999u, 5000u}) events[t].push_back(event("a", "m", "", 600, s, us));
    }
    for (const log4cpp::LoggingEvent& e : events[t]) {
      for (const std::string& p : patterns) {
        log4cpp::PatternLayout theirs;
        theirs.setConversionPattern(p);
        expected[t].push_back(theirs.format(e));
      }
    }
  }
  std::vector<FastPatternLayout> ours(patterns.size());
  for (std::size_t i = 0; i < patterns.size(); ++i) ours[i].setConversionPattern(patterns[i]);
  std::vector<std::string> failures[kThreads];
  auto check = [&](int t) {
    for (int round = 0; round < 2000; ++round) {
      std::size_t k = 0;
      for (const log4cpp::LoggingEvent& e : events[t]) {
        for (FastPatternLayout& layout : ours) {
          const std::string got = layout.format(e);
          if (got != expected[t][k++]) failures[t].push_back(got);
        }
      }
    }
  };
  std::thread a(check, 1);
  std::thread b(check, 2);
  check(0);
  a.join();
  b.join();
  for (const auto& f : failures) EXPECT_TRUE(f.empty()) << f.size() << " wrong, first " << f[0];
}

}  // namespace
}  // namespace quelto::test
