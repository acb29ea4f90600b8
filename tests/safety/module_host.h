// A Lua state that hosts the module, whose loggers keep their messages in
// memory, and a way to run one call while allocations fail.
#pragma once

#include <gtest/gtest.h>

#include <log4cpp/Category.hh>
#include <string>
#include <vector>

#include "fault_injection.h"
#include "lua/compat.h"

namespace quelto::safety {

/// A category that keeps the messages it is handed and calls no appender. Its
/// slots are allocated up front, so that a capture allocates nothing: the
/// count of live C++ blocks then tells only of the module's own.
class CaptureCategory : public log4cpp::Category {
 public:
  explicit CaptureCategory(const std::string& name);

  using log4cpp::Category::log;
  void log(log4cpp::Priority::Value priority, const std::string& message) noexcept override;

  /// The messages since the last take, in order; forgets them.
  std::vector<std::string> take();

 private:
  static constexpr std::size_t kSlots = 8;
  static constexpr std::size_t kSlotSize = 1 << 18;
  std::vector<std::string> slots_;
  std::size_t count_ = 0;
};

/// Binds a logger for `category` to the global `name` of `L`, which has the
/// module loaded, with the options of the table that the Lua expression
/// `options` makes (none by default).
void bind_logger(lua_State* L, const char* name, log4cpp::Category& category,
                 const char* options = "{}");

/// What one call did.
struct Outcome {
  bool ok = false;
  std::string error;  // the error value's text, when not ok
  std::vector<std::string> messages;
  long failures = 0;   // allocations the injector failed
  long leaked = 0;     // C++ blocks the call left behind
  int stack_left = 0;  // values the call left on the Lua stack beyond its error value
};

class ModuleHost : public ::testing::Test {
 protected:
  /// A state with the standard libraries and the module, and the globals `log`
  /// and `jlog` (the JSON format, keys sorted, lazy, at most 120 bytes) bound
  /// to `capture`.
  ModuleHost();
  ~ModuleHost() override;

  /// Runs `chunk`, which must succeed.
  void run(const std::string& chunk);

  void bind_logger(const char* name, log4cpp::Category& category) {
    safety::bind_logger(L, name, category);
  }

  /// Calls the global function `scenario` with `injector` failing after
  /// `skip` allocations (every one from there on with `persistent`).
  Outcome call_scenario(Injector* injector, long skip, bool persistent = false);

  /// Calls `scenario` with the injector failing at the 1st, 2nd, ...
  /// allocation until a call meets no failure (past the 256th, in steps of
  /// about 1.5%: a call of 20000 allocations takes some 300 calls). After
  /// every call, checks what holds for any outcome (nothing leaked, the stack
  /// balanced, no table left counted open, the state still collectable), then
  /// hands the outcome to `check`. Returns false when an expectation failed.
  template <class Check>
  bool sweep(Injector& injector, bool persistent, Check check);

  /// How many tables deep a dump of a much deeper table gets before its
  /// stack-limit marker: the full bound when no table is counted open.
  int dump_cut_depth();

  lua_State* L;
  CaptureCategory capture{"safety"};
};

/// Prints, under the current test's name, how many allocations the call of a
/// finished sweep makes and how many of them the sweep's `points` runs failed.
void report_coverage(long points, long allocations);

/// The expectation every safety test shares: either the call logged exactly
/// `expected`, or it raised and logged only the leading messages of `expected`.
/// With `truncation`, a message may stop early (the message stream could not
/// grow and went bad). An error's text must be one of `errors`.
void expect_logged_or_raised(const Outcome& outcome, const std::vector<std::string>& expected,
                             const std::vector<std::string>& errors, bool truncation);

// ---------------------------------------------------------------------------

template <class Check>
bool ModuleHost::sweep(Injector& injector, bool persistent, Check check) {
  // A first call unarmed, so that lazily built state of the libraries is not
  // taken for a leak of the calls that follow.
  call_scenario(nullptr, 0);
  long points = 0;
  for (long skip = 0; skip < 10000000; skip += skip < 256 ? 1 : skip / 64) {
    SCOPED_TRACE("allocation " + std::to_string(skip + 1) + " fails");
    const Outcome outcome = call_scenario(&injector, skip, persistent);
    ++points;
    EXPECT_EQ(outcome.leaked, 0);
    EXPECT_EQ(outcome.stack_left, 0);
    EXPECT_EQ(dump_cut_depth(), 200);
    lua_gc(L, LUA_GCCOLLECT, 0);
    check(outcome);
    if (outcome.failures == 0) report_coverage(points, injector.seen());
    if (::testing::Test::HasFailure() || outcome.failures == 0) return outcome.failures == 0;
  }
  ADD_FAILURE() << "the call never completed";
  return false;
}

}  // namespace quelto::safety
