# The two hosts and the C module of every consumer project, linked with
# quelto::quelto_internal however the project got it; the hosts also link the
# Lua named in CONSUMER_LUA (CONSUMER_LINKED_LUA: another one, by mistake).
set(CONSUMER_LUA lua5.3 CACHE STRING "pkg-config package of the Lua the hosts link")
set(CONSUMER_LINKED_LUA ${CONSUMER_LUA} CACHE STRING "pkg-config package of the Lua linked")
find_package(PkgConfig REQUIRED)
pkg_check_modules(CONSUMER_LUA_LIB REQUIRED IMPORTED_TARGET ${CONSUMER_LINKED_LUA})

foreach(host minimal_host untrusted_host)
  add_executable(${host} ${CMAKE_CURRENT_LIST_DIR}/${host}.cpp)
  target_link_libraries(${host} PRIVATE quelto::quelto_internal PkgConfig::CONSUMER_LUA_LIB)
endforeach()

# A C module of its own, loaded by the interpreter, which provides Lua.
add_library(consumer_plugin MODULE ${CMAKE_CURRENT_LIST_DIR}/plugin.cpp)
set_target_properties(consumer_plugin PROPERTIES PREFIX "")
target_link_libraries(consumer_plugin PRIVATE quelto::quelto_internal)
