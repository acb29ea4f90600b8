#include "logger.h"

#include <array>
#include <log4cpp/Category.hh>
#include <new>
#include <utility>

#include "../backend/record.h"
#include "../lua/guard.h"
#include "../render/message.h"
#include "../render/message_buffer.h"

namespace quelto {
namespace {

// The admitted part of a log call, out of the way of the filtered one: renders
// the arguments from index 2 on and hands the message to log4cpp. The text is
// complete before log4cpp sees it, so an allocation failure is still caught
// here; the string overload of `log` takes it as the message itself (never as
// a format), without a copy of ours, and lets no exception out. A bad buffer
// hands on what was written before it went bad. Only the hand-off holds the
// shared lock: rendering runs Lua code. The logger (at index 1, so alive for
// the call) brings its options to the rendering, and its fields, which go
// below the arguments.
int write_record(lua_State* L, const QueltoLogger& logger, int priority) {
  int first = 2, fields = 0;
  if (logger.has_fields) {
    lua_getuservalue(L, 1);
    lua_insert(L, 2);
    first = 3;
    fields = 2;
  }
  utils::Style style = resolved_style(logger.options);
  // A lazy logger calls its functions only for a record log4cpp writes: not
  // where its own gate lets through a call that an inherited priority drops.
  if (style.lazy) {
    style.lazy =
        backend::admits(*logger.category, backend::Gate::chained, logger.gate_cache, priority);
  }
  return lua::guarded(L, [L, &logger, &style, priority, first, fields] {
    utils::MessageBuffer message;
    utils::render_arguments(L, first, message, style, fields);
    std::string closed;
    const std::string_view text = utils::finished_text(message, style, closed);
    backend::write_record(*logger.category, priority, text,
                          style.format == utils::Style::Format::Json);
    return 0;
  });
}

// Copies the string-keyed entries of the table at `from` into the table at `to`.
void copy_fields(lua_State* L, int from, int to) {
  lua_pushnil(L);
  while (lua_next(L, from) != 0) {  // key, value
    if (lua_type(L, -2) == LUA_TSTRING) {
      lua_pushvalue(L, -2);
      lua_insert(L, -2);  // key, key, value
      lua_rawset(L, to);  // key
    } else {
      lua_pop(L, 1);
    }
  }
}

// logger:with(fields).
int with(lua_State* L) {
  const QueltoLogger& parent = *check_logger(L);
  luaL_checktype(L, 2, LUA_TTABLE);
  lua_settop(L, 2);
  lua_newtable(L);  // logger, fields, copy
  if (parent.has_fields) {
    lua_getuservalue(L, 1);  // the parent's, which the new ones win over
    copy_fields(L, 4, 3);
    lua_pop(L, 1);
  }
  copy_fields(L, 2, 3);
  push_logger(L, parent.category, parent.options, true);
  return 1;
}

// logger:method(...) at priority P. The gate is inlined here, so a filtered
// call is the check, the gate's read (backend/gate.h) and a comparison.
template <int P>
int log_at(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  if (!admits(logger, P)) return 0;  // filtered: nothing is rendered
  return write_record(L, logger, P);
}

// logger:log(priority, ...).
int log_at_given(lua_State* L) {
  const QueltoLogger& logger = *check_logger(L);
  const int priority = check_priority_number(L, 2);
  if (!admits(logger, priority)) return 0;  // filtered: nothing is rendered

  lua_rotate(L, 2, -1);  // the priority to the top...
  lua_pop(L, 1);         // ...and off: the message starts at index 2 again
  return write_record(L, logger, priority);
}

// One entry per fixed-priority method, each bound to `log_at` for its
// priority, then `log` and the end mark.
template <std::size_t... I>
constexpr std::array<luaL_Reg, sizeof...(I) + 3> logger_methods(std::index_sequence<I...>) {
  return {{{kMethodPriorities[I].name, log_at<kMethodPriorities[I].priority>}...,
           {"log", log_at_given},
           {"with", with},
           {nullptr, nullptr}}};
}

constexpr auto kLoggerMethodTable =
    logger_methods(std::make_index_sequence<kFixedPriorityMethods>());

}  // namespace

int check_priority_number(lua_State* L, int arg) {
  // The low 32 bits, as a conversion to int keeps them.
  return static_cast<int>(static_cast<unsigned int>(lua::check_integer(L, arg)));
}

void push_logger(lua_State* L, log4cpp::Category* category, const OptionSet& options, bool fields) {
  void* block = lua_newuserdata(L, sizeof(QueltoLogger));
  auto* logger = new (block) QueltoLogger{static_cast<QueltoLogger*>(block),
                                          category,
                                          &process_gate(),
                                          backend::GateCache(*category),
                                          options.values.gate,
                                          options,
                                          fields};
  if (options.gate_given()) logger->gate = &logger->own_gate;
  lua_getfield(L, LUA_REGISTRYINDEX, kLoggerType);
  lua_setmetatable(L, -2);
  if (fields) {
    lua_insert(L, -2);  // logger, fields
    lua_setuservalue(L, -2);
  }
}

const luaL_Reg* const kLoggerMethods = kLoggerMethodTable.data();

}  // namespace quelto
