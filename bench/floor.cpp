// The floors a log call is measured against, as a Lua module of its own:
//   local floor = require "bench_floor"
//   floor.empty():debug(...)          -- an empty C method, dispatched like a logger's
//   floor.joiner("name"):info(...)    -- joins scalars, hands them to Category::log
//   floor.attach("name", path, pattern, fast)
//                                     -- a FileAppender of the host's for the category, with
//                                     -- log4cpp's PatternLayout or (fast) the module's
//   floor.spdlog("name", path, pattern):info(...)
//                                     -- joins scalars, hands them to an spdlog file logger
// Like the module, it links no Lua library: the interpreter provides it.
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <charconv>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <memory>
#include <new>
#include <string>

#include "backend/pattern_layout.h"
#include "lua/compat.h"

namespace {

int empty_method(lua_State*) {
  return 0;
}

// Joins the scalar arguments 2..top into one text, as the module writes
// them (integers in decimal, floats as "%g"). This is the least a log call
// can do: the text must exist.
std::string join(lua_State* L) {
  std::string text;
  char number[40];
  long long integer = 0;
  for (int i = 2, top = lua_gettop(L); i <= top; ++i) {
    if (lua_type(L, i) == LUA_TSTRING) {
      std::size_t size = 0;
      const char* s = lua_tolstring(L, i, &size);
      text.append(s, size);
    } else if (quelto::lua::integer_value(L, i, &integer)) {
      const auto r = std::to_chars(number, number + sizeof number, integer);
      text.append(number, r.ptr);
    } else {
      const auto r = std::to_chars(number, number + sizeof number, lua_tonumber(L, i),
                                   std::chars_format::general, 6);
      text.append(number, r.ptr);
    }
  }
  return text;
}

// Hands the joined text to `send`; false when memory ran out (raised by the
// caller, from a frame that owns nothing).
template <class Send>
bool join_and(lua_State* L, Send send) {
  try {
    send(join(L));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The joined text logged at INFO through log4cpp's record path, as it is.
int joiner_info(lua_State* L) {
  auto* category = *static_cast<log4cpp::Category**>(lua_touserdata(L, 1));
  const bool sent = join_and(
      L, [category](const std::string& text) { category->log(log4cpp::Priority::INFO, text); });
  return sent ? 0 : luaL_error(L, "not enough memory");
}

// The same through spdlog: the object holds a shared_ptr to the logger.
int spdlog_info(lua_State* L) {
  auto* logger = static_cast<std::shared_ptr<spdlog::logger>*>(lua_touserdata(L, 1))->get();
  const bool sent = join_and(L, [logger](const std::string& text) { logger->info(text); });
  return sent ? 0 : luaL_error(L, "not enough memory");
}

int spdlog_flush(lua_State* L) {
  (*static_cast<std::shared_ptr<spdlog::logger>*>(lua_touserdata(L, 1)))->flush();
  return 0;
}

void set_methods(lua_State* L, const luaL_Reg* methods) {
  lua_createtable(L, 0, 1);  // metatable
  lua_createtable(L, 0, 2);  // its __index
  luaL_setfuncs(L, methods, 0);
  lua_setfield(L, -2, "__index");
  lua_setmetatable(L, -2);
}

void push_object(lua_State* L, const luaL_Reg* methods, log4cpp::Category* category) {
  *static_cast<log4cpp::Category**>(lua_newuserdata(L, sizeof category)) = category;
  set_methods(L, methods);
}

int new_empty(lua_State* L) {
  static const luaL_Reg methods[] = {
      {"debug", empty_method}, {"info", empty_method}, {nullptr, nullptr}};
  push_object(L, methods, nullptr);
  return 1;
}

log4cpp::Category* category_named(const char* name) {
  try {
    return &log4cpp::Category::getInstance(name);
  } catch (...) {
    return nullptr;
  }
}

int new_joiner(lua_State* L) {
  static const luaL_Reg methods[] = {{"info", joiner_info}, {nullptr, nullptr}};
  const char* name = luaL_checkstring(L, 1);
  log4cpp::Category* category = category_named(name);
  if (category == nullptr) return luaL_error(L, "no category %s", name);
  push_object(L, methods, category);
  return 1;
}

bool attach_appender(log4cpp::Category& category, const char* path, const char* pattern,
                     bool fast) {
  try {
    auto* appender = new log4cpp::FileAppender(category.getName() + ".file", path);
    auto* layout = fast ? new quelto::backend::FastPatternLayout : new log4cpp::PatternLayout;
    appender->setLayout(layout);
    layout->setConversionPattern(pattern);
    category.removeAllAppenders();
    category.addAppender(appender);  // the category owns it
    category.setAdditivity(false);
    category.setPriority(log4cpp::Priority::INFO);
    return true;
  } catch (...) {
    return false;
  }
}

int attach(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  const char* path = luaL_checkstring(L, 2);
  const char* pattern = luaL_checkstring(L, 3);
  log4cpp::Category* category = category_named(name);
  if (category == nullptr || !attach_appender(*category, path, pattern, lua_toboolean(L, 4))) {
    return luaL_error(L, "cannot attach %s to %s", path, name);
  }
  return 0;
}

int new_spdlog(lua_State* L) {
  static const luaL_Reg methods[] = {
      {"info", spdlog_info}, {"flush", spdlog_flush}, {nullptr, nullptr}};
  const char* name = luaL_checkstring(L, 1);
  const char* path = luaL_checkstring(L, 2);
  const char* pattern = luaL_checkstring(L, 3);
  void* room = lua_newuserdata(L, sizeof(std::shared_ptr<spdlog::logger>));
  bool made = false;
  try {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path);
    auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
    logger->set_pattern(pattern);
    logger->set_level(spdlog::level::info);
    new (room) std::shared_ptr<spdlog::logger>(std::move(logger));  // kept for the process
    made = true;
  } catch (...) {
  }
  if (!made) return luaL_error(L, "cannot make an spdlog logger into %s", path);
  set_methods(L, methods);
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int luaopen_bench_floor(lua_State* L) {
  static const luaL_Reg functions[] = {{"empty", new_empty},
                                       {"joiner", new_joiner},
                                       {"attach", attach},
                                       {"spdlog", new_spdlog},
                                       {nullptr, nullptr}};
  luaL_newlib(L, functions);
  return 1;
}
