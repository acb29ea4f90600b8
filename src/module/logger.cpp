#include "logger.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <log4cpp/Category.hh>
#include <string>
#include <utility>

#include "guard.h"
#include "messages.h"
#include "render_message.h"
#include "shared_state.h"

namespace quelto {
namespace {

// `luaL_checkudata` for argument 1, without its registry lookup by name on
// the way that every log call takes: each method holds the logger metatable
// as its upvalue. Anything else goes to `luaL_checkudata` itself, which
// raises its own error (or accepts a userdata with the metatable that the
// registry holds under the name now).
QueltoLogger* check_logger(lua_State* L) {
  void* logger = lua_touserdata(L, 1);
  if (logger != nullptr && lua_getmetatable(L, 1)) {
    // Tables are equal when they are the same object; comparing their
    // addresses costs half of what lua_rawequal does.
    const bool is_logger = lua_topointer(L, -1) == lua_topointer(L, lua_upvalueindex(1));
    lua_pop(L, 1);
    if (is_logger) return static_cast<QueltoLogger*>(logger);
  }
  return static_cast<QueltoLogger*>(luaL_checkudata(L, 1, kLoggerType));
}

void push_logger(lua_State* L, log4cpp::Category* category) {
  auto* logger = static_cast<QueltoLogger*>(lua_newuserdata(L, sizeof(QueltoLogger)));
  logger->category = category;
  lua_getfield(L, LUA_REGISTRYINDEX, kLoggerType);
  lua_setmetatable(L, -2);
}

// The admitted part of a log call, out of the way of the filtered one.
int log_admitted(lua_State* L, log4cpp::Category& category, int priority) {
  return guarded(L, [L, &category, priority] {
    log_message(L, 2, category, priority);
    return 0;
  });
}

}  // namespace

int get_log(lua_State* L) {
  const char* name = nullptr;
  switch (lua_type(L, 1)) {
    case LUA_TNIL:
      break;
    case LUA_TSTRING: {
      name = lua_tolstring(L, 1, nullptr);
      const char* end = name + std::strlen(name);  // the name ends at its first NUL
      if (std::count(name, end, '.') >= kMaxNameLevels) {
        return luaL_error(L, messages::kGetLogTooDeep, kMaxNameLevels);
      }
      break;
    }
    default:
      return luaL_error(L, "%s", messages::kGetLogArgument);
  }
  log4cpp::Category* category = nullptr;
  guarded(L, [&] {
    const shared::SharedUse use;  // not while a configuration changes the hierarchy
    category =
        name ? &log4cpp::Category::getInstance(std::string(name)) : &log4cpp::Category::getRoot();
    return 0;
  });
  push_logger(L, category);
  return 1;
}

// The gate is inlined here, so a filtered call is the check, one virtual
// call and a comparison.
template <int P>
int quelto_log(lua_State* L) {
  log4cpp::Category& category = *check_logger(L)->category;
  if (category.getPriority() < P) return 0;  // filtered: nothing is rendered
  return log_admitted(L, category, P);
}

template int quelto_log<0>(lua_State*);
template int quelto_log<100>(lua_State*);
template int quelto_log<200>(lua_State*);
template int quelto_log<300>(lua_State*);
template int quelto_log<400>(lua_State*);
template int quelto_log<500>(lua_State*);
template int quelto_log<600>(lua_State*);
template int quelto_log<700>(lua_State*);

int quelto_log_with_priority(lua_State* L) {
  QueltoLogger* logger = check_logger(L);
  // The low 32 bits, as a conversion to int keeps them.
  const auto priority = static_cast<int>(static_cast<unsigned int>(luaL_checkinteger(L, 2)));
  lua_rotate(L, 2, -1);  // the priority to the top...
  lua_pop(L, 1);         // ...and off: the message starts at index 2 again
  return log_args_with_priority(L, logger, priority);
}

int log_args_with_priority(lua_State* L, QueltoLogger* logger, int priority) {
  log4cpp::Category& category = *logger->category;
  if (category.getPriority() < priority) return 0;  // filtered: nothing is rendered
  return log_admitted(L, category, priority);
}

namespace {

// One entry per fixed-priority method, each bound to `quelto_log` for its
// priority, then `log` and the end mark.
template <std::size_t... I>
constexpr std::array<luaL_Reg, sizeof...(I) + 2> logger_methods(std::index_sequence<I...>) {
  return {{{kMethodPriorities[I].name, quelto_log<kMethodPriorities[I].priority>}...,
           {"log", quelto_log_with_priority},
           {nullptr, nullptr}}};
}

constexpr auto kLoggerMethodTable =
    logger_methods(std::make_index_sequence<kFixedPriorityMethods>());

}  // namespace

const luaL_Reg* const kLoggerMethods = kLoggerMethodTable.data();

}  // namespace quelto
