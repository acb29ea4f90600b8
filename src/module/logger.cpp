#include "logger.h"

#include <array>
#include <log4cpp/Category.hh>
#include <utility>

#include "../backend/shared_appenders.h"
#include "../lua/guard.h"
#include "../render/message.h"
#include "../render/message_buffer.h"

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

// The admitted part of a log call, out of the way of the filtered one: renders
// the arguments from index 2 on and hands the message to log4cpp. The text is
// complete before log4cpp sees it, so an allocation failure is still caught
// here; the string overload of `log` takes it as the message itself (never as
// a format), without a copy of ours, and lets no exception out. A bad buffer
// hands on what was written before it went bad. Only the hand-off holds the
// shared lock: rendering runs Lua code.
int write_record(lua_State* L, log4cpp::Category& category, int priority) {
  return lua::guarded(L, [L, &category, priority] {
    utils::MessageBuffer message;
    utils::render_arguments(L, 2, message);
    const backend::RecordUse use(category);  // the shared lock, and a shared appender's
    category.log(priority, message.text());
    return 0;
  });
}

// logger:method(...) at priority P. The gate is inlined here, so a filtered
// call is the check, one virtual call and a comparison.
template <int P>
int log_at(lua_State* L) {
  log4cpp::Category& category = *check_logger(L)->category;
  if (category.getPriority() < P) return 0;  // filtered: nothing is rendered
  return write_record(L, category, P);
}

// logger:log(priority, ...).
int log_at_given(lua_State* L) {
  log4cpp::Category& category = *check_logger(L)->category;
  // The low 32 bits, as a conversion to int keeps them.
  const auto priority = static_cast<int>(static_cast<unsigned int>(luaL_checkinteger(L, 2)));
  if (category.getPriority() < priority) return 0;  // filtered: nothing is rendered
  lua_rotate(L, 2, -1);  // the priority to the top...
  lua_pop(L, 1);         // ...and off: the message starts at index 2 again
  return write_record(L, category, priority);
}

// One entry per fixed-priority method, each bound to `log_at` for its
// priority, then `log` and the end mark.
template <std::size_t... I>
constexpr std::array<luaL_Reg, sizeof...(I) + 2> logger_methods(std::index_sequence<I...>) {
  return {{{kMethodPriorities[I].name, log_at<kMethodPriorities[I].priority>}...,
           {"log", log_at_given},
           {nullptr, nullptr}}};
}

constexpr auto kLoggerMethodTable =
    logger_methods(std::make_index_sequence<kFixedPriorityMethods>());

}  // namespace

void push_logger(lua_State* L, log4cpp::Category* category) {
  auto* logger = static_cast<QueltoLogger*>(lua_newuserdata(L, sizeof(QueltoLogger)));
  logger->category = category;
  lua_getfield(L, LUA_REGISTRYINDEX, kLoggerType);
  lua_setmetatable(L, -2);
}

const luaL_Reg* const kLoggerMethods = kLoggerMethodTable.data();

}  // namespace quelto
