# Installs what a C++ program needs to link the module in: the header, the
# static library and a CMake package, found with
#   find_package(quelto_internal CONFIG REQUIRED)
# The package is relocatable: it finds its files relative to where it lies.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(quelto_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quelto_internal)

install(FILES include/quelto_internal.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS quelto_internal_static
  EXPORT quelto_internal_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quelto_internal_targets
  NAMESPACE quelto::
  FILE quelto_internal-targets.cmake
  DESTINATION ${quelto_package_dir})

configure_package_config_file(cmake/quelto_internal-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config.cmake
  INSTALL_DESTINATION ${quelto_package_dir})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quelto_internal-config.cmake
  DESTINATION ${quelto_package_dir})
