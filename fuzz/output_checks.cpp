#include "output_checks.h"

#include <map>

namespace quelto::fuzz {
namespace {

// Calls `visit(position)` for every position of `message` outside `contents`,
// which are in order and do not overlap.
template <class Visit>
void outside(const std::string& message, const std::vector<Span>& contents, Visit visit) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    while (next < contents.size() && contents[next].end <= i) ++next;
    if (next < contents.size() && contents[next].begin <= i) continue;
    visit(i);
  }
}

enum class Mark { Open, Done };

bool reaches_itself(lua_State* L, int index, std::map<const void*, Mark>& marks) {
  const void* self = lua_topointer(L, index);
  const auto found = marks.find(self);
  if (found != marks.end()) return found->second == Mark::Open;
  marks[self] = Mark::Open;
  lua_checkstack(L, 4);
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    if (lua_type(L, -1) == LUA_TTABLE && reaches_itself(L, lua_gettop(L), marks)) {
      lua_pop(L, 2);
      return true;
    }
    lua_pop(L, 1);
  }
  marks[self] = Mark::Done;
  return false;
}

}  // namespace

std::string check_balanced(const std::string& message, const std::vector<Span>& contents,
                           bool cut) {
  long depth = 0;
  long quotes = 0;
  std::string problem;
  outside(message, contents, [&](std::size_t i) {
    if (!problem.empty()) return;
    switch (message[i]) {
      case '{':
        ++depth;
        break;
      case '}':
        if (--depth < 0) problem = "a brace closes at " + std::to_string(i) + " that never opened";
        break;
      case '"':
        ++quotes;
        break;
      default:
        break;
    }
  });
  if (!problem.empty() || cut) return problem;
  if (depth != 0) return std::to_string(depth) + " braces left open";
  if (quotes % 2 != 0) return "an odd number of quotes (" + std::to_string(quotes) + ")";
  return {};
}

int count_cycle_markers(const std::string& message, const std::vector<Span>& contents) {
  static const std::string kMarker = "<cycle>";
  int count = 0;
  outside(message, contents, [&](std::size_t i) {
    if (message.compare(i, kMarker.size(), kMarker) == 0) ++count;
  });
  return count;
}

bool has_table_cycle(lua_State* L, const std::vector<int>& args) {
  std::map<const void*, Mark> marks;
  for (const int index : args) {
    if (lua_type(L, index) == LUA_TTABLE && reaches_itself(L, index, marks)) return true;
  }
  return false;
}

}  // namespace quelto::fuzz
