#include "category_methods.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "../backend/categories.h"
#include "../backend/gate.h"
#include "../backend/priorities.h"
#include "../lua/guard.h"
#include "../lua/messages.h"
#include "logger.h"

namespace quelto {
namespace {

// The priority at `arg`: a name as get_priority_map lists them, else a number
// as `log` takes it (a string that converts to one included).
int check_priority(lua_State* L, int arg) {
  if (lua_type(L, arg) == LUA_TSTRING) {
    std::size_t length = 0;
    const char* text = lua_tolstring(L, arg, &length);
    if (const auto value = backend::priority_named(text, length)) return *value;
    if (!lua_isnumber(L, arg)) {
      return luaL_argerror(L, arg, lua_pushfstring(L, messages::kPriorityName, text));
    }
  }
  return check_priority_number(L, arg);
}

// logger:is_enabled(priority): log4cpp's decision, whatever the logger's gate:
// the chained gate's answer.
int is_enabled(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  const int priority = check_priority(L, 2);
  lua_pushboolean(
      L, backend::admits(*logger.category, backend::Gate::chained, logger.gate_cache, priority));
  return 1;
}

// logger:get_priority(): the category's own priority, nil when it has none
// (NOTSET or above: log4cpp then asks the parent).
int get_priority(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  const int priority =
      backend::gate_priority(*logger.category, backend::Gate::own, logger.gate_cache);
  if (priority >= log4cpp::Priority::NOTSET) {
    lua_pushnil(L);
  } else {
    lua_pushinteger(L, priority);
  }
  return 1;
}

// logger:get_chained_priority(): the priority log4cpp decides by.
int get_chained_priority(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  lua_pushinteger(L, backend::chained_priority(*logger.category, logger.gate_cache));
  return 1;
}

// logger:set_priority(priority): nil removes the category's own priority.
int set_priority(lua_State* L) {
  log4cpp::Category& category = *check_logger(L)->category;
  const int priority =
      lua_isnoneornil(L, 2) ? static_cast<int>(log4cpp::Priority::NOTSET) : check_priority(L, 2);
  if (priority >= log4cpp::Priority::NOTSET && category.getParent() == nullptr) {
    return luaL_error(L, "%s", messages::kRootKeepsPriority);
  }
  return lua::guarded(L, [&category, priority] {
    backend::set_priority(category, priority);  // what log4cpp rejects comes back as its error
    return 0;
  });
}

// logger:get_name(): the category's name; the root's is empty.
int get_name(lua_State* L) {
  const std::string& name = check_logger(L)->category->getName();  // log4cpp's own
  lua_pushlstring(L, name.data(), name.size());
  return 1;
}

}  // namespace

const luaL_Reg kCategoryMethods[] = {
    {"is_enabled", is_enabled},
    {"get_priority", get_priority},
    {"get_chained_priority", get_chained_priority},
    {"set_priority", set_priority},
    {"get_name", get_name},
    {nullptr, nullptr},
};

}  // namespace quelto
