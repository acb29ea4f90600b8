// One nesting level of a table dump.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "lua_type.h"

namespace utils {

/// The state of one nesting level: its level, its indent and the identities of
/// the tables that enclose the value it writes, for cycle detection.
///
///   TableTraverser top(L, 1, 0, ' ');            // level 0, indent "  "
///   TableTraverser inner = top.create_next_level(L, -1);  // level 1, "    "
class TableTraverser {
 public:
  using Identity = std::uintptr_t;

  /// Traverser for the value at `index`, with no enclosing tables.
  TableTraverser(lua_State* L, int index, int level, char indentChar);
  TableTraverser(int level, char indentChar, Identity tablePtr, std::set<Identity> ancestors);
  /// Copies every field; the source stays as it was. May throw: it allocates.
  TableTraverser(const TableTraverser&& other);  // NOLINT(performance-noexcept-move-constructor)

  TableTraverser(const TableTraverser&) = delete;
  TableTraverser& operator=(const TableTraverser&) = delete;
  TableTraverser& operator=(TableTraverser&&) = delete;

  int level() const { return level_; }
  char indentChar() const { return indentChar_; }
  /// (level + 1) * 2 indent characters.
  const std::string& indent() const { return indent_; }

  /// True when the value at `index` is one of the enclosing tables.
  bool check_table_cycle(lua_State* L, int index) const;

  /// Traverser for the value at `index`, one level deeper, enclosed by this
  /// level's table and all of its enclosing tables.
  TableTraverser create_next_level(lua_State* L, int index) const;

 private:
  int level_;
  char indentChar_;
  std::string indent_;
  Identity tablePtr;
  std::set<Identity> ancestors;
};

}  // namespace utils
