// configure(path) and get_priority_map().
#include <log4cpp/Configurator.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "configuration.h"
#include "guard.h"
#include "messages.h"
#include "module.h"

namespace quelto {

int configure(lua_State* L) {
  const char* path = luaL_checklstring(L, 1, nullptr);  // up to its first NUL
  return guarded(L, [path] {
    try {
      configure_from_file(std::string(path));
    } catch (const log4cpp::ConfigureFailure& e) {
      throw Raise(std::string(messages::kConfigureFailure) + e.what());
    } catch (const std::exception& e) {
      throw Raise(std::string(messages::kConfigureUnknownFailure) + e.what());
    }
    return 0;
  });
}

int get_priority_map(lua_State* L) {
  lua_createtable(L, 0, 9);
  // Nothing here owns memory: the names are log4cpp's own strings, so a memory
  // error raised while the table is filled skips no destructor.
  for (lua_Integer value = 0; value < 900; value += 100) {
    const std::string& name = log4cpp::Priority::getPriorityName(static_cast<int>(value));
    lua_pushinteger(L, value);
    lua_setfield(L, -2, name.c_str());
  }
  return 1;
}

}  // namespace quelto
