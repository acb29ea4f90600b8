-- Builds and installs quelto_internal from this checkout, for the Lua that
-- LuaRocks targets (5.1, 5.2, 5.3, 5.4 or LuaJIT):
--   luarocks --lua-version=5.4 make quelto_internal-scm-1.rockspec --tree=DIR  (or --local)
-- `luarocks make` builds the sources it runs in and never fetches `source`.
rockspec_format = "3.0"
package = "quelto_internal"
version = "scm-1"

source = {
  url = "git+file://./",
}

description = {
  summary = "Logging from Lua through log4cpp",
  detailed = [[
A native module that lets Lua scripts log through log4cpp, into the same
categories and appenders as the C++ program that embeds them. Arguments of a
log call are rendered into one message: scalars, indented table dumps with
cycle and depth markers, objects through __tostring.]],
  license = "Proprietary",
}

dependencies = {
  "lua >= 5.1, < 5.5",
}

external_dependencies = {
  LOG4CPP = {
    header = "log4cpp/Category.hh",
    library = "log4cpp",
  },
}

build = {
  type = "cmake",
  variables = {
    CMAKE_BUILD_TYPE = "Release",
    CMAKE_INSTALL_PREFIX = "$(PREFIX)",
    -- The rock's own library directory, from which LuaRocks deploys the module.
    QUELTO_INSTALL_CMOD = "$(LIBDIR)",
    -- A rock is the module only: no header, static library or CMake package.
    QUELTO_INSTALL_EMBEDDING = "OFF",
    -- The interpreter LuaRocks builds for; the module asks it for its version.
    QUELTO_LUA_INTERPRETER = "$(LUA)",
    QUELTO_TESTS = "OFF",
    QUELTO_HOST = "OFF",
  },
}
