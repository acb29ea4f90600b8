// One nesting level of a table dump.
#pragma once

#include <cstdint>
#include <string>

#include "../lua/types.h"

namespace quelto::utils {

/// The state of one nesting level: its level, its indent and the identities of
/// the tables that enclose the value it writes, for cycle detection. Those
/// are the tables of the enclosing levels, reached through a link to the
/// enclosing traverser: making a level allocates nothing beyond its indent
/// (none up to 7 levels), and a nested traverser lives only while the
/// element of its enclosing level is written.
///
///   TableTraverser top(L, 1, 0, ' ');            // level 0, indent "  "
///   TableTraverser inner = top.create_next_level(L, -1);  // level 1, "    "
class TableTraverser {
 public:
  using Identity = std::uintptr_t;

  /// Traverser for the value at `index`, with no enclosing tables.
  TableTraverser(lua_State* L, int index, int level, char indentChar);
  /// Traverser for the table `tablePtr`, enclosed by the table of `enclosing`
  /// and all of its enclosing tables (none for a null `enclosing`), which
  /// must outlive it.
  TableTraverser(int level, char indentChar, Identity tablePtr, const TableTraverser* enclosing);
  // Levels link to each other by address: never copied or moved (C++17
  // builds the result of create_next_level in place).
  TableTraverser(const TableTraverser&) = delete;
  TableTraverser& operator=(const TableTraverser&) = delete;

  int level() const { return level_; }
  /// (level + 1) * 2 indent characters.
  const std::string& indent() const { return indent_; }

  /// True when the value at `index` is one of the enclosing tables. Walks
  /// the enclosing levels, at most the depth bound of the dump.
  bool check_table_cycle(lua_State* L, int index) const;

  /// Traverser for the value at `index`, one level deeper, enclosed by this
  /// level's table and all of its enclosing tables.
  TableTraverser create_next_level(lua_State* L, int index) const;

 private:
  int level_;
  char indentChar_;
  std::string indent_;
  Identity tablePtr;
  const TableTraverser* enclosing_;
};

}  // namespace quelto::utils
