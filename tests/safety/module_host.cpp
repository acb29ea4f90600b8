#include "module_host.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "module/logger.h"
#include "quelto_internal.h"
#include "render/json_message.h"
#include "render/write_dump.h"
#include "support/buffer_stream.h"

namespace quelto::safety {

CaptureCategory::CaptureCategory(const std::string& name)
    : log4cpp::Category(name, nullptr), slots_(kSlots) {
  for (std::string& slot : slots_) slot.reserve(kSlotSize);
}

void CaptureCategory::log(log4cpp::Priority::Value, const std::string& message) noexcept {
  const Suspend suspend;
  // A message that does not fit is recorded as a marker a test cannot expect.
  if (count_ < kSlots) {
    slots_[count_].assign(message.size() <= kSlotSize ? message : "<capture overflow>");
  }
  ++count_;
}

std::vector<std::string> CaptureCategory::take() {
  std::vector<std::string> messages(slots_.begin(),
                                    slots_.begin() + static_cast<long>(std::min(count_, kSlots)));
  if (count_ > kSlots) messages.emplace_back("<capture overflow>");
  count_ = 0;
  return messages;
}

ModuleHost::ModuleHost() : L(lua_newstate(lua_alloc, nullptr)) {
  luaL_openlibs(L);
  luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 1);
  lua_pop(L, 1);  // the module table
  bind_logger("log", capture);
  safety::bind_logger(L, "jlog", capture,
                      "{format = 'json', sort_keys = true, lazy = true, max_bytes = 120}");
  // A table nested well beyond the dump's bound, for dump_cut_depth.
  run("deep = {} local t = deep for _ = 1, 300 do t[1] = {} t = t[1] end");
  // A first record, so that what a thread keeps for its records from then
  // on is not taken for a leak of the calls that follow.
  run("log:info(string.rep('x', 100))");
  capture.take();
}

ModuleHost::~ModuleHost() {
  Injector::cxx().disarm();
  Injector::lua().disarm();
  lua_close(L);
}

void ModuleHost::run(const std::string& chunk) {
  ASSERT_EQ(luaL_dostring(L, chunk.c_str()), LUA_OK) << lua_tostring(L, -1);
}

void bind_logger(lua_State* L, const char* name, log4cpp::Category& category, const char* options) {
  OptionSet read;
  ASSERT_EQ(luaL_dostring(L, (std::string("return ") + options).c_str()), LUA_OK);
  read_options(L, -1, read);
  lua_pop(L, 1);
  push_logger(L, &category, read);
  lua_setglobal(L, name);
}

Outcome ModuleHost::call_scenario(Injector* injector, long skip, bool persistent) {
  Outcome outcome;
  const int top = lua_gettop(L);
  lua_getglobal(L, "scenario");
  const long live = Injector::cxx().live_blocks();
  if (injector != nullptr) injector->fail_at(skip, persistent);
  const int status = lua_pcall(L, 0, 0, 0);
  if (injector != nullptr) {
    injector->disarm();
    outcome.failures = injector->failures();
  }
  outcome.leaked = Injector::cxx().live_blocks() - live;
  outcome.ok = status == LUA_OK;
  if (!outcome.ok) {
    const char* text = lua_tostring(L, -1);
    outcome.error = text != nullptr ? text : luaL_typename(L, -1);
    lua_pop(L, 1);
  }
  outcome.stack_left = lua_gettop(L) - top;
  lua_settop(L, top);
  outcome.messages = capture.take();
  return outcome;
}

int ModuleHost::dump_cut_depth() {
  lua_getglobal(L, "deep");
  utils::BufferStream stream;
  const utils::TableTraverser traverser(L, -1, 0, ' ');
  utils::write_table(L, -1, traverser, stream);
  lua_pop(L, 1);
  const std::string_view text = stream.text();
  const std::size_t marker = text.find("{<stack limit>}");
  if (marker == std::string_view::npos) return -1;
  return static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(marker), '{'));
}

void report_coverage(long points, long allocations) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(test->test_suite_name()) + "." + test->name();
  // The last run is the one in which nothing failed.
  std::printf("[ sweep    ] %s: the call makes %ld allocations; %ld of them failed in turn\n",
              name.c_str(), allocations, points - 1);
  ::testing::Test::RecordProperty("failed_points", std::to_string(points - 1));
  ::testing::Test::RecordProperty("allocations", std::to_string(allocations));
}

void expect_logged_or_raised(const Outcome& outcome, const std::vector<std::string>& expected,
                             const std::vector<std::string>& errors, bool truncation) {
  if (outcome.ok) {
    ASSERT_EQ(outcome.messages.size(), expected.size());
  } else {
    EXPECT_NE(std::find(errors.begin(), errors.end(), outcome.error), errors.end())
        << "unexpected error: " << outcome.error;
    ASSERT_LT(outcome.messages.size(), expected.size() + (expected.empty() ? 1 : 0));
  }
  for (std::size_t i = 0; i < outcome.messages.size(); ++i) {
    const std::string& got = outcome.messages[i];
    if (truncation && expected[i].rfind("{\"msg\":", 0) == 0) {
      // A JSON message that ended early is closed: some prefix of it, closed.
      bool closed = got == expected[i];
      for (std::size_t kept = 0; kept <= expected[i].size() && !closed; ++kept) {
        closed = got == utils::close_json(expected[i].substr(0, kept), false, got.size());
      }
      EXPECT_TRUE(closed) << "message " << i << ": " << got;
    } else if (truncation) {
      EXPECT_EQ(got, expected[i].substr(0, got.size())) << "message " << i;
    } else {
      EXPECT_EQ(got, expected[i]) << "message " << i;
    }
  }
}

}  // namespace quelto::safety
