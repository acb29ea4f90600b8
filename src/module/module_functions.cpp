#include "module_functions.h"

#include <algorithm>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/Configurator.hh>
#include <log4cpp/Priority.hh>
#include <string>
#include <utility>

#include "../backend/async_queue.h"
#include "../backend/categories.h"
#include "../backend/configuration.h"
#include "../backend/priorities.h"
#include "../backend/properties_file.h"
#include "../lua/guard.h"
#include "../lua/messages.h"
#include "logger.h"
#include "logger_options.h"

namespace quelto {

namespace {

// Configures from the properties that `read` reads and checks, with the
// module's errors for what log4cpp and the checks throw.
template <class Read>
int configure_with(lua_State* L, Read read) {
  return lua::guarded(L, [read] {
    try {
      backend::PropertiesFile properties = read();
      const LoggerOptions defaults = read_process_defaults(properties.settings.defaults);
      backend::configure(std::move(properties), [&defaults] { set_process_defaults(defaults); });
    } catch (const log4cpp::ConfigureFailure& e) {
      throw lua::Raise(std::string(messages::kConfigureFailure) + e.what());
    } catch (const std::exception& e) {
      throw lua::Raise(std::string(messages::kConfigureUnknownFailure) + e.what());
    }
    return 0;
  });
}

// What the backend cannot check of a file's module keys: the logger options.
void check_process_defaults(const backend::ModuleSettings& settings) {
  read_process_defaults(settings.defaults);
}

}  // namespace

int configure(lua_State* L) {
  const char* path = luaL_checklstring(L, 1, nullptr);  // up to its first NUL
  return configure_with(L,
                        [path] { return backend::read_properties(path, check_process_defaults); });
}

int configure_text(lua_State* L) {
  std::size_t size = 0;
  const char* text = luaL_checklstring(L, 1, &size);  // whole, NULs included
  return configure_with(L, [text, size] {
    // A text over the limit is refused by its size: no need to copy it all.
    const std::size_t kept = std::min<std::size_t>(size, backend::kMaxPropertiesBytes + 1);
    return backend::check_properties(std::string(text, kept), messages::kTextSource,
                                     check_process_defaults);
  });
}

int reopen(lua_State* L) {
  return lua::guarded(L, [L] {
    std::string problems;
    const bool reopened = backend::reopen_appenders(problems);
    lua_pushboolean(L, reopened);  // raises nothing: LUA_MINSTACK slots are free
    if (reopened) return 1;
    lua::detail::push_text(L, problems.c_str());  // or, short of memory, that error
    return 2;
  });
}

int flush(lua_State* L) {
  lua_pushboolean(L, backend::flush_records(backend::Deadline::operation()));
  return 1;
}

int stats(lua_State* L) {
  const backend::QueueStats now = backend::queue_stats();
  lua_createtable(L, 0, 2);
  lua_pushinteger(L, static_cast<lua_Integer>(now.queued));
  lua_setfield(L, -2, "queued");
  lua_pushinteger(L, static_cast<lua_Integer>(now.dropped));
  lua_setfield(L, -2, "dropped");
  return 1;
}

int get_log(lua_State* L) {
  const char* name = nullptr;
  switch (lua_type(L, 1)) {
    case LUA_TNIL:
      break;
    case LUA_TSTRING: {
      name = lua_tolstring(L, 1, nullptr);
      const char* end = name + std::strlen(name);  // the name ends at its first NUL
      if (std::count(name, end, '.') >= backend::kMaxCategoryLevels) {
        return luaL_error(L, messages::kGetLogTooDeep, backend::kMaxCategoryLevels);
      }
      break;
    }
    default:
      return luaL_error(L, "%s", messages::kGetLogArgument);
  }
  OptionSet options = defaults_at(L, lua_upvalueindex(1));
  if (!lua_isnoneornil(L, 2)) read_options(L, 2, options);
  log4cpp::Category* category = nullptr;
  lua::guarded(L, [&] {
    category = &backend::find_category(name);
    return 0;
  });
  push_logger(L, category, options);
  return 1;
}

int get_priority_map(lua_State* L) {
  lua_createtable(L, 0, 9);
  // Nothing here owns memory: the names are log4cpp's own strings, so a memory
  // error raised while the table is filled skips no destructor.
  for (const int value : backend::kNamedPriorities) {
    const std::string& name = log4cpp::Priority::getPriorityName(value);
    lua_pushinteger(L, value);
    lua_setfield(L, -2, name.c_str());
  }
  return 1;
}

}  // namespace quelto
