// The fuzz target: one log call over a graph of Lua values built from the
// input, through the module's own entry points and a real log4cpp category
// whose appender keeps the messages in memory.
//
// Besides running clean under the sanitizers, every call must:
// - return or raise a Lua error, and leave the Lua stack as it was (plus the
//   error value);
// - raise exactly the value a `__tostring` raised, and then log nothing;
// - otherwise log exactly the message worked out apart from the module
//   (expected_message.h), or nothing when the category filters the call;
// - log a message whose braces and quotes outside copied texts balance, and
//   with a "<cycle>" marker only when the values hold a real cycle;
// - leave the module usable: the next call logs as it should.
// The same call through a logger with the line format must raise what the
// dump raised or log one line (no control byte, only valid UTF-8), which a
// logger with a byte bound as well logs cut as the bound says; a table that
// the line format writes exactly must load back from its text equal.
// Through a logger in the JSON format, into an appender with the JSON layout,
// it must log one valid JSON object whose first members are the layout's
// where the dump logged (or raise, or log, where the dump raised), and with
// a bound a valid one too, the whole one where it fits; the dump's message
// through the JSON layout, as text, must be valid JSON too.
//
// Every message logged also goes through log4cpp's PatternLayout and the
// module's, with a few patterns, which must write the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/StringQueueAppender.hh>
#include <lua.hpp>
#include <string>
#include <vector>

#include "backend/json_layout.h"
#include "backend/pattern_layout.h"
#include "expected_message.h"
#include "output_checks.h"
#include "quelto_internal.h"
#include "value_graph.h"

namespace {

using quelto::fuzz::Expectation;

// The category's own priority: DEBUG, so "log" with a larger one is dropped.
// (NOTSET would hand the decision to the root's priority inside log4cpp.)
constexpr lua_Integer kThreshold = log4cpp::Priority::DEBUG;

log4cpp::StringQueueAppender* sink = nullptr;
log4cpp::StringQueueAppender* json_sink = nullptr;  // the JSON layout's, of "fuzz.json"

[[noreturn]] void fail(const std::string& what, const std::string& got = {},
                       const std::string& expected = {}) {
  std::fprintf(stderr, "log_fuzzer: %s\n", what.c_str());
  if (!got.empty() || !expected.empty()) {
    std::fprintf(stderr, "--- logged (%zu bytes):\n%s\n--- expected (%zu bytes):\n%s\n---\n",
                 got.size(), got.c_str(), expected.size(), expected.c_str());
  }
  std::abort();
}

std::vector<std::string> take_messages(log4cpp::StringQueueAppender* from = sink) {
  std::vector<std::string> messages;
  auto& queue = from->getQueue();
  while (!queue.empty()) {
    messages.push_back(queue.front());
    queue.pop();
  }
  return messages;
}

// Pushes a logger for the category "fuzz", made by the module's get_log,
// in the line format when `max_bytes` is not negative (bounded when above 0);
// in the JSON format, for "fuzz.json", when `json`.
void push_logger(lua_State* L, long max_bytes = -1, bool json = false) {
  luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 0);
  lua_getfield(L, -1, "get_log");
  lua_pushstring(L, json ? "fuzz.json" : "fuzz");
  if (max_bytes >= 0) {
    lua_createtable(L, 0, 2);
    lua_pushstring(L, json ? "json" : "line");
    lua_setfield(L, -2, "format");
    if (max_bytes > 0) {
      lua_pushinteger(L, max_bytes);
      lua_setfield(L, -2, "max_bytes");
    }
  }
  lua_call(L, max_bytes >= 0 ? 2 : 1, 1);
  lua_remove(L, -2);  // the module table
}

// The same error value: identical, or both NaN (which rawequal never is).
bool same_value(lua_State* L, int a, int b) {
  if (lua_rawequal(L, a, b)) return true;
  return lua_type(L, a) == LUA_TNUMBER && lua_type(L, b) == LUA_TNUMBER && !lua_isinteger(L, a) &&
         !lua_isinteger(L, b) && lua_tonumber(L, a) != lua_tonumber(L, a) &&
         lua_tonumber(L, b) != lua_tonumber(L, b);
}

// Calls logger:method(args...) under lua_pcall; returns the status.
int call_logger(lua_State* L, int logger, const quelto::fuzz::LogCall& call) {
  lua_getfield(L, logger, call.method);
  lua_pushvalue(L, logger);
  int nargs = 1;
  if (std::strcmp(call.method, "log") == 0) {
    lua_pushinteger(L, call.priority);
    ++nargs;
  }
  for (const int index : call.args) lua_pushvalue(L, index);
  nargs += static_cast<int>(call.args.size());
  return lua_pcall(L, nargs, 0, 0);
}

// The message through both layouts, as message, NDC and category name.
void check_layouts(const std::string& message) {
  static const char* const patterns[] = {"%d{%H:%M:%S,%l} %p %c{2} [%x] %m%n",
                                         "%-12.5m|%.3x|%20c|%8.2p", "%m%c{1}%x"};
  log4cpp::LoggingEvent event(message, message, message, log4cpp::Priority::WARN);
  event.timeStamp = log4cpp::TimeStamp(1700000000, 123456);
  for (const char* pattern : patterns) {
    log4cpp::PatternLayout theirs;
    quelto::backend::FastPatternLayout ours;
    theirs.setConversionPattern(pattern);
    ours.setConversionPattern(pattern);
    const std::string expected = theirs.format(event);
    const std::string got = ours.format(event);
    if (got != expected) fail(std::string("the layouts differ on ") + pattern, got, expected);
  }
}

void check_outcome(lua_State* L, int status, int top, int expected_error, const Expectation& e,
                   const std::vector<int>& args) {
  const int left = lua_gettop(L) - top;
  if (status != LUA_OK && status != LUA_ERRRUN) fail("status " + std::to_string(status));
  if (left != (status == LUA_OK ? 0 : 1)) fail("stack unbalanced by " + std::to_string(left));
  const std::vector<std::string> messages = take_messages();
  // QUELTO_FUZZ_SHOW=1 prints what each input did, to see what a seed covers.
  static const bool show = std::getenv("QUELTO_FUZZ_SHOW") != nullptr;
  if (show) {
    std::fprintf(stderr, "status %d, %zu message(s), error %s\n", status, messages.size(),
                 status == LUA_OK ? "-" : luaL_typename(L, -1));
    for (const std::string& m : messages) std::fprintf(stderr, "%s\n", m.c_str());
  }
  switch (e.result) {
    case Expectation::Result::Filtered:
      if (status != LUA_OK || !messages.empty()) fail("a filtered call ran");
      return;
    case Expectation::Result::Raised:
      if (status != LUA_ERRRUN) fail("the call did not raise");
      if (!same_value(L, -1, expected_error)) {
        fail("raised another value", luaL_tolstring(L, -1, nullptr), "the raised value");
      }
      if (!messages.empty()) fail("logged although it raised", messages.front());
      return;
    case Expectation::Result::CallError: {
      if (status != LUA_ERRRUN) fail("the call did not raise");
      const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
      if (std::strstr(text, "attempt to call") == nullptr) fail("raised another error", text);
      if (!messages.empty()) fail("logged although it raised", messages.front());
      return;
    }
    case Expectation::Result::Logged:
    case Expectation::Result::TooLarge:
      break;
  }
  if (status != LUA_OK) fail("raised", luaL_tolstring(L, -1, nullptr), e.message);
  if (messages.size() != 1) fail(std::to_string(messages.size()) + " messages logged");
  if (messages.front() != e.message) fail("wrong message", messages.front(), e.message);
  check_layouts(messages.front());
  const std::string balance = quelto::fuzz::check_balanced(messages.front(), e.contents, e.cut);
  if (!balance.empty()) fail(balance, messages.front());
  if (quelto::fuzz::count_cycle_markers(messages.front(), e.contents) > 0 &&
      !quelto::fuzz::has_table_cycle(L, args)) {
    fail("a cycle marker without a cycle", messages.front());
  }
}

// The call again through `line` (and `bounded`, whose bound is `max_bytes`),
// after the dump's call ended with `dump_status` and its error value at
// `expected_error`.
void check_line_format(lua_State* L, int line, int bounded, long max_bytes,
                       const quelto::fuzz::LogCall& call, int dump_status, int expected_error) {
  const int top = lua_gettop(L);
  const int status = call_logger(L, line, call);
  std::vector<std::string> messages = take_messages();
  if (status != dump_status) fail("the line format's call ended otherwise than the dump's");
  if (status != LUA_OK) {
    if (expected_error != 0 && !same_value(L, -1, expected_error)) {
      fail("the line format raised another value");
    }
    lua_settop(L, top);
    return;
  }
  if (messages.empty()) return;  // filtered, as the dump's call
  const std::string whole = messages.front();
  if (const std::string problem = quelto::fuzz::check_one_line(whole); !problem.empty()) {
    fail("line format: " + problem, whole);
  }
  if (call_logger(L, bounded, call) != LUA_OK) fail("the bounded call raised");
  messages = take_messages();
  if (messages.size() != 1) fail("the bounded call logged no message");
  std::string problem = quelto::fuzz::check_cut(messages.front(), whole, max_bytes);
  if (problem.empty()) problem = quelto::fuzz::check_one_line(messages.front());
  if (!problem.empty())
    fail("bound " + std::to_string(max_bytes) + ": " + problem, messages.front(), whole);
  // The round trip, argument by argument.
  for (const int index : call.args) {
    if (!quelto::fuzz::reads_back(L, index)) continue;
    lua_getfield(L, line, "info");
    lua_pushvalue(L, line);
    lua_pushvalue(L, index);
    if (lua_pcall(L, 2, 0, 0) != LUA_OK) fail("a plain table raised");
    messages = take_messages();
    const std::string chunk = "return " + messages.at(0);
    if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "=line") != LUA_OK ||
        lua_pcall(L, 0, 1, 0) != LUA_OK) {
      fail("the line format does not load back", lua_tostring(L, -1), messages.at(0));
    }
    if (!quelto::fuzz::same_table(L, index, -1)) fail("loads back another table", messages.at(0));
    lua_settop(L, top);
  }
}

// The message inside a record of the JSON layout: `{` and what follows the
// layout's own members, which must come first; empty when they do not.
std::string message_of_json_record(const std::string& record) {
  static const std::string kLogger = "\"logger\":\"fuzz.json\",";
  const std::size_t at = record.find(kLogger);
  if (record.rfind("{\"time\":\"", 0) != 0 || at == std::string::npos || record.back() != '\n') {
    return {};
  }
  return "{" + record.substr(at + kLogger.size(), record.size() - at - kLogger.size() - 1);
}

// The call again through `json` (and `bounded`, whose bound is `max_bytes`)
// into the JSON layout, after the dump's call ended with `dump_status`.
void check_json_format(lua_State* L, int json, int bounded, long max_bytes,
                       const quelto::fuzz::LogCall& call, int dump_status) {
  const int top = lua_gettop(L);
  const int status = call_logger(L, json, call);
  std::vector<std::string> records = take_messages(json_sink);
  // The JSON format runs no metamethod the dump does not: where the dump
  // logs, so does it. It may run fewer (a value that a later table's entry
  // of the same key replaces is not written) and in another order (every
  // argument's text first, for msg): where the dump raises, it raises a
  // metamethod's error too, or logs.
  if (status != LUA_OK && (dump_status == LUA_OK || status != LUA_ERRRUN)) {
    fail("the JSON format raised where the dump did not", luaL_tolstring(L, -1, nullptr));
  }
  if (status != LUA_OK) {
    lua_settop(L, top);
    return;
  }
  if (records.empty()) return;  // filtered, as the dump's call
  if (records.size() != 1) fail("the JSON format logged " + std::to_string(records.size()));
  const std::string whole = message_of_json_record(records.front());
  if (whole.empty()) fail("JSON layout: not its members first", records.front());
  for (const std::string& text : {records.front().substr(0, records.front().size() - 1), whole}) {
    if (const std::string problem = quelto::fuzz::check_json(text); !problem.empty()) {
      fail("JSON format: " + problem, text);
    }
  }
  if (call_logger(L, bounded, call) != LUA_OK) fail("the bounded JSON call raised");
  records = take_messages(json_sink);
  if (records.size() != 1) fail("the bounded JSON call logged no record");
  const std::string cut = message_of_json_record(records.front());
  const std::size_t bound = std::max<std::size_t>(static_cast<std::size_t>(max_bytes), 21);
  std::string problem = quelto::fuzz::check_json(cut);
  if (problem.empty() && cut.size() > bound) problem = "longer than its bound";
  if (problem.empty() && whole.size() <= bound && cut != whole) problem = "cut although it fits";
  if (problem.empty() && whole.size() > bound && cut.find("<truncated>") == std::string::npos) {
    problem = "no cut marker";
  }
  if (!problem.empty()) {
    fail("JSON, bound " + std::to_string(bound) + ": " + problem, cut, whole);
  }
}

// A message through the JSON layout as the text of a record.
void check_json_layout(const std::string& message) {
  static quelto::backend::JsonLayout layout;
  const log4cpp::LoggingEvent event("fuzz", message, "", log4cpp::Priority::INFO);
  const std::string record = layout.format(event);
  const std::string problem = quelto::fuzz::check_json(record.substr(0, record.size() - 1));
  if (!problem.empty() || record.back() != '\n') fail("JSON layout: " + problem, record, message);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log4cpp::Category& category = log4cpp::Category::getInstance("fuzz");
  category.setAdditivity(false);
  category.setPriority(static_cast<log4cpp::Priority::Value>(kThreshold));
  sink = new log4cpp::StringQueueAppender("fuzz");
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern("%m");
  sink->setLayout(layout);
  category.addAppender(sink);  // the category owns it
  log4cpp::Category& json = log4cpp::Category::getInstance("fuzz.json");
  json.setAdditivity(false);
  json.setPriority(static_cast<log4cpp::Priority::Value>(kThreshold));
  json_sink = new log4cpp::StringQueueAppender("fuzz.json");
  json_sink->setLayout(new quelto::backend::JsonLayout());
  json.addAppender(json_sink);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lua_State* L = luaL_newstate();
  push_logger(L);
  const int logger = lua_gettop(L);
  push_logger(L, 0);
  const int line = lua_gettop(L);
  const long max_bytes = 11 + static_cast<long>(size * 7 % 256);
  push_logger(L, max_bytes);
  const int bounded = lua_gettop(L);
  push_logger(L, 0, true);
  const int json = lua_gettop(L);
  push_logger(L, max_bytes, true);
  const int json_bounded = lua_gettop(L);
  quelto::fuzz::ByteReader in(data, size);
  const quelto::fuzz::LogCall call = quelto::fuzz::build_graph(L, in);

  const int before = lua_gettop(L);
  const Expectation e = quelto::fuzz::expect_message(L, call, kThreshold);
  const int expected_error = lua_gettop(L) > before ? lua_gettop(L) : 0;
  if (e.result == Expectation::Result::TooLarge) {
    lua_close(L);
    return -1;  // not kept in the corpus
  }

  const int top = lua_gettop(L);
  const int status = call_logger(L, logger, call);
  check_outcome(L, status, top, expected_error, e, call.args);
  lua_settop(L, top);
  if (status == LUA_OK) check_json_layout(e.message);
  check_line_format(L, line, bounded, max_bytes, call, status, expected_error);
  lua_settop(L, top);
  check_json_format(L, json, json_bounded, max_bytes, call, status);
  lua_settop(L, top);

  // The module still logs normally.
  lua_getfield(L, logger, "info");
  lua_pushvalue(L, logger);
  lua_pushstring(L, "next ");
  lua_createtable(L, 1, 0);
  lua_pushinteger(L, 1);
  lua_rawseti(L, -2, 1);
  if (lua_pcall(L, 3, 0, 0) != LUA_OK || lua_gettop(L) != top) fail("the next call failed");
  const std::vector<std::string> next = take_messages();
  if (next != std::vector<std::string>{"next {\n  1\n}"}) fail("the next call logged wrongly");

  lua_close(L);
  return 0;
}
