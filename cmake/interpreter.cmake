# Which Lua the module is built for: QUELTO_LUA picks the interpreter's
# headers through its pkg-config file. Sets
#   QUELTO_LUA_PC            the pkg-config name (lua5.3, luajit, ...)
#   LUA_INCLUDE_DIRS         its headers (compat-5.3's directory after them)
#   QUELTO_LUA_DEFINITIONS   what src/lua/compat.h needs to know
#   QUELTO_COMPAT_SOURCES    compat-5.3.c where the old C API needs it
#   QUELTO_LUA_PROGRAM       the interpreter's program, for the tests
set(QUELTO_LUA "5.3" CACHE STRING "Lua to build for: 5.1, 5.2, 5.3, 5.4 or luajit")
set_property(CACHE QUELTO_LUA PROPERTY STRINGS 5.1 5.2 5.3 5.4 luajit)

# A packager that knows the interpreter's program rather than its version
# (LuaRocks) names it here, and QUELTO_LUA is asked of it.
set(QUELTO_LUA_INTERPRETER "" CACHE FILEPATH "Interpreter program to build for, instead of QUELTO_LUA")
if(QUELTO_LUA_INTERPRETER)
  execute_process(
    COMMAND ${QUELTO_LUA_INTERPRETER} -e
            "io.write(type(jit) == 'table' and 'luajit' or _VERSION:match('%d+%.%d+'))"
    OUTPUT_VARIABLE asked RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR asked STREQUAL "")
    message(FATAL_ERROR "cannot ask ${QUELTO_LUA_INTERPRETER} for its version")
  endif()
  set(QUELTO_LUA ${asked} CACHE STRING "Lua to build for: 5.1, 5.2, 5.3, 5.4 or luajit" FORCE)
endif()

if(QUELTO_LUA STREQUAL "luajit")
  set(QUELTO_LUA_PC luajit)
  set(QUELTO_LUA_PROGRAM_NAME luajit)
elseif(QUELTO_LUA MATCHES "^5\\.[1-4]$")
  set(QUELTO_LUA_PC lua${QUELTO_LUA})
  set(QUELTO_LUA_PROGRAM_NAME lua${QUELTO_LUA})
else()
  message(FATAL_ERROR "QUELTO_LUA must be 5.1, 5.2, 5.3, 5.4 or luajit, not '${QUELTO_LUA}'")
endif()

pkg_check_modules(LUA REQUIRED ${QUELTO_LUA_PC})
set(QUELTO_LUA_DEFINITIONS "")
set(QUELTO_COMPAT_SOURCES "")

# 5.1, 5.2 and LuaJIT get the 5.3 API from Debian's compat-5.3, compiled into
# the module. Its functions get a prefix of the module's own and hidden
# visibility, so they neither clash with another module's copy nor become
# symbols of this one.
if(QUELTO_LUA MATCHES "^(5\\.1|5\\.2|luajit)$")
  if(QUELTO_LUA STREQUAL "5.2")
    set(compat_dir /usr/include/lua5.2)
  else()
    set(compat_dir /usr/include/lua5.1)
  endif()
  find_file(QUELTO_COMPAT53_C compat-5.3.c PATHS ${compat_dir} NO_DEFAULT_PATH NO_CACHE)
  if(NOT QUELTO_COMPAT53_C)
    message(FATAL_ERROR "compat-5.3.c not found in ${compat_dir}: install lua-compat53-dev")
  endif()
  enable_language(C)
  list(APPEND LUA_INCLUDE_DIRS ${compat_dir})
  list(APPEND QUELTO_LUA_DEFINITIONS QUELTO_LUA_COMPAT53 COMPAT53_PREFIX=quelto_compat53)
  set(QUELTO_COMPAT_SOURCES ${QUELTO_COMPAT53_C})
endif()

# Whether the example host embeds Lua compiled as C++ (examples/host).
if(QUELTO_HOST_LUA MATCHES "c\\+\\+$")
  set(QUELTO_HOST_LUA_CPP ON)
else()
  set(QUELTO_HOST_LUA_CPP OFF)
endif()

find_program(QUELTO_LUA_PROGRAM ${QUELTO_LUA_PROGRAM_NAME} NO_CACHE)
