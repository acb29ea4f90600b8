// Microbenchmarks of the renderer alone: the arguments of one log call
// rendered into a message, with no logger, gate or log4cpp around them.
#include <benchmark/benchmark.h>

#include <string>

#include "lua/compat.h"
#include "render/message.h"
#include "render/message_buffer.h"
#include "render/style.h"
#include "render/write_table.h"
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

void render(benchmark::State& state, const char* chunk, quelto::utils::Style style = {}) {
  Arguments args(chunk);
  if (!args.error().empty()) {
    state.SkipWithError(args.error().c_str());
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    quelto::utils::MessageBuffer message;
    quelto::utils::render_arguments(args.L, 2, message, style);
    bytes += message.text().size();
    benchmark::DoNotOptimize(message.text().data());
  }
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

}  // namespace

BENCHMARK_CAPTURE(render, dump_mixed_1k, kMixed);
BENCHMARK_CAPTURE(render, line_mixed_1k, kMixed, kLine);
BENCHMARK_CAPTURE(render, escaped_mixed_1k, kMixed, kEscaped);
BENCHMARK_CAPTURE(render, line_1k, kDump, kLine);
BENCHMARK_CAPTURE(render, scalars, kScalars);
BENCHMARK_CAPTURE(render, floats, kFloats);
BENCHMARK_CAPTURE(render, opaque, kOpaque);
BENCHMARK_CAPTURE(render, dump_1k, kDump);
BENCHMARK_CAPTURE(render_to_stream, scalars, kScalars);
BENCHMARK_CAPTURE(render_to_stream, floats, kFloats);
BENCHMARK_CAPTURE(render_to_stream, opaque, kOpaque);
BENCHMARK_CAPTURE(render_to_stream, dump_1k, kDump);

BENCHMARK_MAIN();
