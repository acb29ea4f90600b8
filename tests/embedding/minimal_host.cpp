#include <quelto_internal.h>

#include <iostream>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <lua.hpp>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  // The host's log4cpp setup: records at INFO and above to standard output.
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern("%p %c: %m%n");
  auto* appender = new log4cpp::OstreamAppender("out", &std::cout);
  appender->setLayout(layout);
  log4cpp::Category::getRoot().addAppender(appender);
  log4cpp::Category::getRoot().setPriority(log4cpp::Priority::INFO);

  // Lua with the standard libraries and the module, then the script.
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  luaL_requiref(L, "quelto_internal", luaopen_quelto_internal, 0);
  lua_pop(L, 1);
  const bool ok = luaL_dofile(L, argv[1]) == LUA_OK;
  if (!ok) std::cerr << (lua_isstring(L, -1) ? lua_tostring(L, -1) : "script failed") << '\n';
  lua_close(L);
  log4cpp::Category::shutdown();
  return ok ? 0 : 1;
}
