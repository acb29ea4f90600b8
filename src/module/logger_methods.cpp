#include "logger_methods.h"

#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "../backend/process_lock.h"
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
    for (int value = 0; value <= log4cpp::Priority::NOTSET; value += 100) {
      const std::string& name = log4cpp::Priority::getPriorityName(value);  // log4cpp's own
      if (name.size() == length && std::memcmp(name.data(), text, length) == 0) return value;
    }
    if (!lua_isnumber(L, arg)) {
      return luaL_argerror(L, arg, lua_pushfstring(L, messages::kPriorityName, text));
    }
  }
  return check_priority_number(L, arg);
}

// logger:is_enabled(priority): log4cpp's decision, whatever the logger's gate.
int is_enabled(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  lua_pushboolean(L, logger.category->isPriorityEnabled(check_priority(L, 2)));
  return 1;
}

// logger:get_priority(): the category's own priority, nil when it has none
// (NOTSET or above: log4cpp then asks the parent).
int get_priority(lua_State* L) {
  const int priority = check_logger(L)->category->getPriority();
  if (priority >= log4cpp::Priority::NOTSET) {
    lua_pushnil(L);
  } else {
    lua_pushinteger(L, priority);
  }
  return 1;
}

// logger:get_chained_priority(): the priority log4cpp decides by.
int get_chained_priority(lua_State* L) {
  lua_pushinteger(L, check_logger(L)->category->getChainedPriority());
  return 1;
}

// logger:set_priority(priority): nil removes the category's own priority.
// Alone under the process-wide lock, as configure is: the two never
// interleave their writes.
int set_priority(lua_State* L) {
  log4cpp::Category& category = *check_logger(L)->category;
  const int priority =
      lua_isnoneornil(L, 2) ? static_cast<int>(log4cpp::Priority::NOTSET) : check_priority(L, 2);
  if (priority >= log4cpp::Priority::NOTSET && category.getParent() == nullptr) {
    return luaL_error(L, "%s", messages::kRootKeepsPriority);
  }
  return lua::guarded(L, [&category, priority] {
    const backend::ExclusiveUse use;
    category.setPriority(priority);  // what log4cpp rejects comes back as its error
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

const luaL_Reg kPriorityMethods[] = {
    {"is_enabled", is_enabled},
    {"get_priority", get_priority},
    {"get_chained_priority", get_chained_priority},
    {"set_priority", set_priority},
    {"get_name", get_name},
    {nullptr, nullptr},
};

}  // namespace quelto
