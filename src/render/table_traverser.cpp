#include "table_traverser.h"

#include <utility>

namespace utils {
namespace {

TableTraverser::Identity identity(lua_State* L, int index) {
  return reinterpret_cast<TableTraverser::Identity>(lua_topointer(L, index));
}

}  // namespace

TableTraverser::TableTraverser(lua_State* L, int index, int level, char indentChar)
    : TableTraverser(level, indentChar, identity(L, index), {}) {}

TableTraverser::TableTraverser(int level, char indentChar, Identity tablePtr,
                               std::set<Identity> ancestors)
    : level_(level),
      indentChar_(indentChar),
      indent_(static_cast<std::size_t>(level + 1) * 2, indentChar),
      tablePtr(tablePtr),
      ancestors(std::move(ancestors)) {}

// NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, so it allocates.
TableTraverser::TableTraverser(const TableTraverser&& other)
    : level_(other.level_),
      indentChar_(other.indentChar_),
      indent_(other.indent_),  // NOLINT(performance-move-constructor-init): the source is const
      tablePtr(other.tablePtr),
      ancestors(other.ancestors) {}

bool TableTraverser::check_table_cycle(lua_State* L, int index) const {
  return !ancestors.empty() && ancestors.count(identity(L, index)) != 0;
}

TableTraverser TableTraverser::create_next_level(lua_State* L, int index) const {
  std::set<Identity> enclosing(ancestors);
  enclosing.insert(tablePtr);
  return {level_ + 1, indentChar_, identity(L, index), std::move(enclosing)};
}

}  // namespace utils
