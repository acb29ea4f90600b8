#include "table_traverser.h"

namespace quelto::utils {
namespace {

TableTraverser::Identity identity(lua_State* L, int index) {
  return reinterpret_cast<TableTraverser::Identity>(lua_topointer(L, index));
}

}  // namespace

TableTraverser::TableTraverser(lua_State* L, int index, int level, char indentChar)
    : TableTraverser(level, indentChar, identity(L, index), nullptr) {}

TableTraverser::TableTraverser(int level, char indentChar, Identity tablePtr,
                               const TableTraverser* enclosing)
    : level_(level),
      indentChar_(indentChar),
      indent_(static_cast<std::size_t>(level + 1) * 2, indentChar),
      tablePtr(tablePtr),
      enclosing_(enclosing) {}

bool TableTraverser::check_table_cycle(lua_State* L, int index) const {
  const Identity table = identity(L, index);
  for (const TableTraverser* level = enclosing_; level != nullptr; level = level->enclosing_) {
    if (level->tablePtr == table) return true;
  }
  return false;
}

TableTraverser TableTraverser::create_next_level(lua_State* L, int index) const {
  return {level_ + 1, indentChar_, identity(L, index), this};
}

}  // namespace quelto::utils
