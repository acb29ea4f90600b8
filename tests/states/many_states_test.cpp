// Eight Lua states on eight threads log through the module while other
// states configure log4cpp again and again, with valid and rejected files,
// queueing records or not, and one sets the categories' priorities to values
// that admit every record.
// Every record that a script logs must reach the log files exactly once and
// intact, whichever configuration was in force when it was logged.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "lua_host.h"

namespace quelto::states {
namespace {

constexpr int kLoggingThreads = 8;
constexpr int kConfiguringThreads = 3;
constexpr int kRecordsPerThread = 3000;
constexpr int kKinds = 6;

// Logs record k = 1..count of thread `thread` with the id thread * 100000 + k;
// the id picks the kind of record. Returns "" or what went wrong with the
// calls that must raise.
constexpr char kLoggingChunk[] = R"(
local thread, count = (...):match("^(%d+),(%d+)$")
thread, count = tonumber(thread), tonumber(count)
local log = q.get_log("w" .. thread)
local wrong = {}
for k = 1, count do
  local id = thread * 100000 + k
  local kind = id % 6
  if kind == 0 then
    log:info("id ", id, " n=", 42, " f=", 1.5, " b=", true)
  elseif kind == 1 then
    log:warn("id ", id, " ", { "x", 2.5, name = { true, "y" } })
  elseif kind == 2 then
    local t = { 1 }
    t.self = t
    log:error("id ", id, " ", t)
  elseif kind == 3 then
    log:debug("id ", id, " ", setmetatable({}, {
      __tostring = function() return "obj " .. id .. "\nsecond" end }))
  elseif kind == 4 then
    -- A table raised at the top level, a string raised from inside a dump.
    local raised = id % 12 == 4 and { id = id } or "boom " .. id
    local object = setmetatable({}, { __tostring = function() error(raised, 0) end })
    local ok, err = pcall(log.notice, log, "id ", id, " ", id % 12 == 4 and object or { object })
    if ok or not rawequal(err, raised) then
      wrong[#wrong + 1] = id .. ": " .. tostring(ok) .. " " .. tostring(err)
    end
  else
    -- A logger for a new name now and then: get_log waits for configure.
    -- Its gate reads the priorities that set_priority writes.
    local logger = id % 30 == 5 and q.get_log("w" .. thread .. ".n" .. k, { gate = "chained" })
      or log
    logger:log(500, "id ", id, " at 500")
  end
end
return table.concat(wrong, "; ")
)";

// Sets the own priorities of the logging threads' categories and of one
// child of each, to values that keep every record of theirs admitted.
constexpr char kSetPriorityChunk[] = R"(
local round = tonumber(...)
for thread = 1, 8 do
  q.get_log("w" .. thread):set_priority(round % 2 == 0 and "DEBUG" or 700)
  q.get_log("w" .. thread .. ".n5"):set_priority(round % 2 == 0 and "NOTICE" or nil)
end
return "ok"
)";

/// The text that the chunk logs for `id`, or "" for a call that raises.
std::string expected_record(long id) {
  const std::string head = "id " + std::to_string(id) + " ";
  switch (id % kKinds) {
    case 0:
      return head + "n=42 f=1.5 b=true";
    case 1:
      return head + "{\n  \"x\",\n  2.5,\n  name = {\n    true,\n    \"y\"\n  }\n}";
    case 2:
      return head + "{\n  1,\n  self = {\n    1,\n    self = <cycle>\n  }\n}";
    case 3:
      return head + "obj " + std::to_string(id) + "\nsecond\n";  // a newline after the text
    case 4:
      return "";
    default:
      return head + "at 500";
  }
}

/// The properties that send every record to `log_file`, with each logging
/// thread's category holding the appender itself (not only through the
/// root): a configuration then swaps the appenders of nine categories.
std::string properties_for(const std::string& appender, const std::string& log_file) {
  std::string text = file_properties(appender, log_file);
  for (int thread = 1; thread <= kLoggingThreads; ++thread) {
    const std::string name = "w" + std::to_string(thread);
    text.append("log4cpp.category.").append(name).append("=DEBUG, ").append(appender);
    text.append("\nlog4cpp.additivity.").append(name).append("=false\n");
  }
  return text;
}

struct ConfigureCase {
  std::string path;
  std::string result;  // what the configure chunk returns
};

TEST(ManyStates, EveryRecordWrittenOnceWhileOthersConfigure) {
  ScratchDir dir;
  const std::string missing = dir.path("missing.properties");
  const std::vector<ConfigureCase> cases = {
      // One file queues the records, through a small ring that fills; the
      // other writes them at once: each configuration changes the mode.
      {dir.write("a.properties", "quelto.async = true\nquelto.async.queue = 64\n" +
                                     properties_for("fa", dir.path("a.log"))),
       "ok"},
      {dir.write("b.properties", properties_for("fb", dir.path("b.log"))), "ok"},
      {missing, "log4cpp configure failure: File " + missing + " does not exist"},
      {dir.write("rejected.properties", rejected_properties()),
       "log4cpp configure failure: Appender 'bad' has unknown type 'NoSuchAppender'"},
  };
  ASSERT_EQ(LuaHost().run(kConfigureChunk, cases[0].path), "ok");

  std::atomic<int> logging{kLoggingThreads};
  std::vector<std::string> logged(kLoggingThreads);
  std::vector<std::vector<std::string>> wrong_results(kConfiguringThreads);
  std::vector<int> configured(kConfiguringThreads);
  std::vector<std::thread> threads;
  threads.reserve(kConfiguringThreads + 1 + kLoggingThreads);
  for (int t = 0; t < kConfiguringThreads; ++t) {
    threads.emplace_back([&, t] {
      LuaHost host;
      // At least a few rounds each, however fast the logging threads are.
      for (std::size_t round = t; logging > 0 || round < 20 + static_cast<std::size_t>(t);
           ++round) {
        const ConfigureCase& c = cases[round % cases.size()];
        const std::string result = host.run(kConfigureChunk, c.path);
        if (result != c.result) wrong_results[t].push_back(c.path + " gave: " + result);
        ++configured[t];
      }
    });
  }
  std::vector<std::string> wrong_priorities;
  threads.emplace_back([&] {
    LuaHost host;
    for (int round = 0; logging > 0 || round < 20; ++round) {
      const std::string result = host.run(kSetPriorityChunk, std::to_string(round));
      if (result != "ok") wrong_priorities.push_back(result);
    }
  });
  for (int t = 0; t < kLoggingThreads; ++t) {
    threads.emplace_back([&, t] {
      LuaHost host;
      logged[t] =
          host.run(kLoggingChunk, std::to_string(t + 1) + "," + std::to_string(kRecordsPerThread));
      --logging;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(LuaHost().run("return tostring(q.flush())"), "true");

  for (int t = 0; t < kLoggingThreads; ++t) {
    EXPECT_EQ(logged[t], "") << "logging thread " << t + 1;
  }
  EXPECT_EQ(wrong_priorities, std::vector<std::string>());
  for (int t = 0; t < kConfiguringThreads; ++t) {
    EXPECT_EQ(wrong_results[t], std::vector<std::string>()) << "configuring thread " << t;
    EXPECT_GE(configured[t], 20);
  }

  std::map<std::string, int> written =
      count_records({read_file(dir.path("a.log")), read_file(dir.path("b.log"))});
  std::vector<long> lost;
  std::vector<std::string> duplicated;
  std::size_t accounted = 0;
  for (long thread = 1; thread <= kLoggingThreads; ++thread) {
    for (long k = 1; k <= kRecordsPerThread; ++k) {
      const long id = thread * 100000 + k;
      const std::string expected = expected_record(id);
      if (expected.empty()) continue;
      const auto found = written.find(expected);
      if (found == written.end()) {
        lost.push_back(id);
        continue;
      }
      if (found->second != 1) duplicated.push_back(expected);
      written.erase(found);
      ++accounted;
    }
  }
  EXPECT_EQ(accounted, kLoggingThreads * kRecordsPerThread * (kKinds - 1) / kKinds);
  EXPECT_EQ(lost, std::vector<long>()) << lost.size() << " records lost";
  EXPECT_EQ(duplicated, std::vector<std::string>());
  // Whatever is left is a record no script logged, or one that came out garbled.
  std::vector<std::string> unknown;
  unknown.reserve(written.size());
  for (const auto& [text, count] : written) unknown.push_back(text);
  EXPECT_EQ(unknown, std::vector<std::string>());
}

}  // namespace
}  // namespace quelto::states
