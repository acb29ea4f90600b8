// The entry points: `luaopen_quelto_internal` registers the logger metatable
// and returns the module table; `quelto_internal_reopen`,
// `quelto_internal_flush` and `quelto_internal_priorities_changed` serve C++
// hosts.
#include <string>

#include "../backend/async_queue.h"
#include "../backend/configuration.h"
#include "../backend/gate.h"
#include "../backend/lifecycle.h"
#include "../lua/guard.h"
#include "category_methods.h"
#include "fast_methods.h"
#include "logger.h"
#include "logger_options.h"
#include "module_functions.h"
#include "quelto_internal.h"  // the entry points, as hosts see them

// "0.1.0" from the header's version numbers (their values, not their names).
#define QUELTO_TEXT(x) #x
#define QUELTO_VERSION_TEXT(major, minor, patch) \
  QUELTO_TEXT(major) "." QUELTO_TEXT(minor) "." QUELTO_TEXT(patch)

namespace {

const luaL_Reg kModuleFunctions[] = {
    {"configure", quelto::configure},
    {"configure_text", quelto::configure_text},
    {"get_log", quelto::get_log},
    {"get_priority_map", quelto::get_priority_map},
    {"set_defaults", quelto::set_defaults},
    {"reopen", quelto::reopen},
    {"flush", quelto::flush},
    {"stats", quelto::stats},
    {nullptr, nullptr},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int luaopen_quelto_internal(lua_State* L) {
  // First: in the wrong interpreter even the registration below could go wrong.
  quelto::lua::check_interpreter(L);
  quelto::lua::guarded(L, [] {
    quelto::backend::on_module_load();  // the exit handler, once per process
    return 0;
  });
  luaL_newmetatable(L, quelto::kLoggerType);  // reused when loaded again
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");  // methods are fields of every logger
  lua_pushvalue(L, -1);
  luaL_setfuncs(L, quelto::kLoggerMethods, 1);  // the metatable as their upvalue
  lua_pushvalue(L, -1);
  luaL_setfuncs(L, quelto::kCategoryMethods, 1);  // the same for these
  quelto::install_fast_methods(L, -1);            // on LuaJIT: wraps the log methods
  lua_createtable(L, 0, 9);
  quelto::push_defaults(L);  // the state's logger defaults: the functions' upvalue
  luaL_setfuncs(L, kModuleFunctions, 1);
  lua_pushliteral(L,
                  QUELTO_VERSION_TEXT(QUELTO_INTERNAL_VERSION_MAJOR, QUELTO_INTERNAL_VERSION_MINOR,
                                      QUELTO_INTERNAL_VERSION_PATCH));
  lua_setfield(L, -2, "_VERSION");
  return 1;  // the module table; the metatable stays below it
}

extern "C" __attribute__((visibility("default"))) int quelto_internal_reopen(void) {
  try {
    std::string problems;
    return quelto::backend::reopen_appenders(problems) ? 1 : 0;
  } catch (...) {
    return 0;  // no memory to list the appenders: none was reopened
  }
}

extern "C" __attribute__((visibility("default"))) int quelto_internal_flush(void) {
  return quelto::backend::flush_records(quelto::backend::Deadline::operation()) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) void quelto_internal_priorities_changed(void) {
  quelto::backend::priorities_changed();
}
