// Microbenchmarks of the renderer alone: the arguments of one log call
// rendered into a message, with no logger, gate or log4cpp around them.
//
// `renderer_bench --count CASE N` renders CASE N times and nothing else, for
// instruction counts: the difference of two runs under callgrind, per call.
//   valgrind --tool=callgrind bench/renderer_bench --count login 1100
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lua/compat.h"
#include "render/message.h"
#include "render/message_buffer.h"
#include "render/style.h"
#include "render/write_dump.h"
#include "support/buffer_stream.h"

namespace {

// A Lua state whose stack holds a placeholder at index 1 (where a logger
// sits in a log call) and the values `chunk` returns above it.
class Arguments {
 public:
  explicit Arguments(const std::string& chunk) : L(luaL_newstate()) {
    luaL_openlibs(L);
    lua_pushnil(L);
    if (luaL_loadstring(L, ("return " + chunk).c_str()) != LUA_OK ||
        lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
      state_error_ = lua_tostring(L, -1);
    }
  }
  ~Arguments() { lua_close(L); }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  const std::string& error() const { return state_error_; }
  lua_State* const L;

 private:
  std::string state_error_;
};

// One log call's rendering, as the log path does it; returns the size.
std::size_t render_once(lua_State* L, const quelto::utils::Style& style) {
  quelto::utils::MessageBuffer message;
  quelto::utils::render_arguments(L, 2, message, style);
  benchmark::DoNotOptimize(message.text().data());
  return message.text().size();
}

void render(benchmark::State& state, const char* chunk, quelto::utils::Style style = {}) {
  Arguments args(chunk);
  if (!args.error().empty()) {
    state.SkipWithError(args.error().c_str());
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) bytes += render_once(args.L, style);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The same arguments through the writers into a standard stream, the
// renderer's other output: what the stream itself costs.
void render_to_stream(benchmark::State& state, const char* chunk) {
  Arguments args(chunk);
  if (!args.error().empty()) {
    state.SkipWithError(args.error().c_str());
    return;
  }
  lua_State* L = args.L;
  std::size_t bytes = 0;
  for (auto _ : state) {
    quelto::utils::BufferStream stream;
    for (int i = 2, top = lua_gettop(L); i <= top; ++i) {
      const int type = lua_type(L, i);
      if (type == LUA_TTABLE) {
        const quelto::utils::TableTraverser traverser(L, i, 0, ' ');
        quelto::utils::write_table(L, i, traverser, stream);
      } else {
        quelto::utils::write_basetype(L, i, type, stream);
      }
    }
    bytes += stream.text().size();
    benchmark::DoNotOptimize(stream.text().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

constexpr char kScalars[] = R"("user ", 42, " logged in at ", "host")";
constexpr char kLogin[] = R"("user ", "alice", " logged in, attempts: ", 3)";
constexpr char kFloats[] = "3.5, 1/3, 1e20, -0.0, 2^53, 0.1";
constexpr char kOpaque[] = "print, coroutine.create(print), function() end";
constexpr char kDump[] = R"((function()
  local t = {}
  for i = 1, 25 do
    local sub = {}
    for j = 1, 8 do
      sub[j] = {name = "n" .. j, size = j * 1.5, ok = j % 2 == 0, [j + 0.5] = "half"}
    end
    t["key" .. i] = sub
  end
  return t
end)())";

// About 1,000 nodes of mixed strings: words, other scripts, a few control
// characters and quotes, the texts that escaping looks at byte by byte.
constexpr char kMixed[] = R"((function()
  local words = {"alpha", "caf\u{e9} cr\u{e8}me", "\u{65e5}\u{672c}\u{8a9e}", "tab\there",
                 "say \"hi\"", "line\nbreak", "/usr/local/lib/lua/5.3", "x"}
  local t = {}
  for i = 1, 25 do
    local sub = {}
    for j = 1, 8 do
      sub[j] = {name = words[j], path = words[(i + j) % 8 + 1], n = i * j, [words[j]] = "v"}
    end
    t["key" .. i] = sub
  end
  return t
end)())";

using Format = quelto::utils::Style::Format;
constexpr quelto::utils::Style kLine{Format::Line};
constexpr quelto::utils::Style kEscaped{Format::Dump, true};
constexpr quelto::utils::Style kJson{Format::Json};

struct Case {
  const char* name;
  const char* chunk;
  quelto::utils::Style style;
  bool to_stream;  // also through the writers into a standard stream
};
constexpr Case kCases[] = {
    {"dump_mixed_1k", kMixed, {}, false},
    {"line_mixed_1k", kMixed, kLine, false},
    {"escaped_mixed_1k", kMixed, kEscaped, false},
    {"json_mixed_1k", kMixed, kJson, false},
    {"line_1k", kDump, kLine, false},
    {"json_1k", kDump, kJson, false},
    {"scalars", kScalars, {}, true},
    {"login", kLogin, {}, false},
    {"floats", kFloats, {}, true},
    {"opaque", kOpaque, {}, true},
    {"dump_1k", kDump, {}, true},
};

int count(const char* name, long n) {
  for (const Case& c : kCases) {
    if (std::strcmp(c.name, name) != 0) continue;
    Arguments args(c.chunk);
    if (!args.error().empty()) {
      std::fprintf(stderr, "%s\n", args.error().c_str());
      return 1;
    }
    for (long i = 0; i < n; ++i) render_once(args.L, c.style);
    return 0;
  }
  std::fprintf(stderr, "no case %s\n", name);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--count") == 0) {
    return count(argv[2], std::strtol(argv[3], nullptr, 10));
  }
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark((std::string("render/") + c.name).c_str(), render, c.chunk,
                                 c.style);
  }
  for (const Case& c : kCases) {
    if (c.to_stream) {
      benchmark::RegisterBenchmark((std::string("render_to_stream/") + c.name).c_str(),
                                   render_to_stream, c.chunk);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
