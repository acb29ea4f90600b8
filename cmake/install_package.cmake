# Installs what a C++ program needs to link the module in: the header, the
# static library, a CMake package and a pkg-config file. The files of each
# Lua lie side by side: the library and the pkg-config file carry the Lua in
# their name, the package has a component per Lua. The files they share (the
# header, the package's config and version files) are the same for every Lua,
# so installing for one Lua never changes what another installed.
#   find_package(quelto_internal 0.1 CONFIG REQUIRED COMPONENTS lua5.3)
#   pkg-config --cflags --libs quelto_internal-lua5.3
# The CMake package is relocatable: it finds its files relative to where it lies.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(quelto_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quelto_internal)

install(FILES ${QUELTO_INCLUDE_DIR}/quelto_internal.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT embedding)
install(TARGETS quelto_internal_static
  EXPORT quelto_internal_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT embedding
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quelto_internal_targets
  NAMESPACE quelto::
  FILE quelto_internal-${QUELTO_LUA_PC}-targets.cmake
  DESTINATION ${quelto_package_dir}
  COMPONENT embedding)

configure_package_config_file(cmake/quelto_internal-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config.cmake
  INSTALL_DESTINATION ${quelto_package_dir})
# The static library holds no API of its own: any 0.x asked for takes 0.y.
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config-version.cmake
  DESTINATION ${quelto_package_dir} COMPONENT embedding)

# pkg-config: the directories as installed, absolute.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(quelto_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(quelto_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(prefix "@prefix@")  # kept for install time
configure_file(cmake/quelto_internal.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-${QUELTO_LUA_PC}.pc.in @ONLY)
# The prefix is known only at install time (cmake --install --prefix).
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-${QUELTO_LUA_PC}.pc.in\"
                 \"${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-${QUELTO_LUA_PC}.pc\" @ONLY)"
  COMPONENT embedding)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-${QUELTO_LUA_PC}.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT embedding)
