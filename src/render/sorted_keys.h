// The keys of one or more tables in the order `sort_keys` asks for: integer
// keys ascending, then string keys in byte order, then every other key as
// `lua_next` yields it.
//
//   {b = 1, [3] = 1, a = 1, [1] = 1, [0.5] = 1}  ->  1, 3, "a", "b", 0.5
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "../lua/protected.h"
#include "../lua/types.h"

namespace quelto::utils {

class SortedKeys {
 public:
  /// One key: where it is kept, and what it is sorted by.
  struct Entry {
    enum Kind : unsigned char { Integer, String, Other } kind;
    long long integer;      // an Integer's value
    std::string_view text;  // a String's bytes, kept alive by its anchor
    int anchor;             // the stack index of the table of keys that holds it
    lua_Integer slot;       // its position there, in the order lua_next yielded it
    int source;             // which table, of those added, it is a key of
  };

  /// Adds the keys of the table at `index` as keys of `source` (sources are
  /// added in ascending order): pushes a table that holds them (their anchor,
  /// which the caller keeps on the stack while it uses the entries). Raises
  /// only a memory error, as a `lua::Error`. Needs 3 free stack slots.
  void add(lua_State* L, int index, int source) {
    lua::push_keys(L, index);
    const int anchor = lua_gettop(L);
    const auto count = static_cast<lua_Integer>(lua_rawlen(L, anchor));
    entries_.reserve(entries_.size() + static_cast<std::size_t>(count));
    for (lua_Integer slot = 1; slot <= count; ++slot) {
      lua_rawgeti(L, anchor, slot);
      Entry entry{Entry::Other, 0, {}, anchor, slot, source};
      if (const int type = lua_type(L, -1); type == lua::String) {
        std::size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        entry.kind = Entry::String;
        entry.text = std::string_view(text, size);
      } else if (type == lua::Number && lua::integer_value(L, -1, &entry.integer)) {
        entry.kind = Entry::Integer;
      }
      lua_pop(L, 1);
      entries_.push_back(entry);
    }
  }

  /// Sorts the keys; keys that sort alike keep the order they were added in.
  void sort() {
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      if (a.kind != b.kind) return a.kind < b.kind;
      if (a.kind == Entry::Integer) return a.integer < b.integer;
      if (a.kind == Entry::String) return a.text < b.text;
      return false;
    });
  }

  const std::vector<Entry>& entries() const { return entries_; }

  /// Pushes the key of `entry`.
  static void push_key(lua_State* L, const Entry& entry) {
    lua_rawgeti(L, entry.anchor, entry.slot);
  }

 private:
  std::vector<Entry> entries_;
};

}  // namespace quelto::utils
