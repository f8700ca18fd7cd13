# The contract as a CMake package for application-library authors:
#
#   cmake --install <build> --component sdk --prefix <dir>
#
# installs the header under <dir>/include/ and the package files under
# <dir>/lib/cmake/Tolvarin/, so that find_package(Tolvarin 11.2 CONFIG) gives
# the interface target Tolvarin::sdk, and <dir>/bin/resolve-crash, which reads
# a crash dump back with a release's symbol archive. The component stays out of the default
# installation and the packages, which hold the runtime layout alone.
include(CMakePackageConfigHelpers)

add_library(tolvarin_sdk INTERFACE)
add_library(Tolvarin::sdk ALIAS tolvarin_sdk)
set_target_properties(tolvarin_sdk PROPERTIES EXPORT_NAME sdk)
target_include_directories(tolvarin_sdk INTERFACE
  $<BUILD_INTERFACE:${CMAKE_CURRENT_LIST_DIR}>
  $<INSTALL_INTERFACE:include>)

set(TOLVARIN_PACKAGE_DIR lib/cmake/Tolvarin)
install(TARGETS tolvarin_sdk EXPORT TolvarinTargets
  COMPONENT sdk EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tolvarin_app.h DESTINATION include
  COMPONENT sdk EXCLUDE_FROM_ALL)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/resolve-crash DESTINATION bin
  COMPONENT sdk EXCLUDE_FROM_ALL)
install(EXPORT TolvarinTargets NAMESPACE Tolvarin::
  DESTINATION ${TOLVARIN_PACKAGE_DIR} COMPONENT sdk EXCLUDE_FROM_ALL)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TolvarinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/sdk/TolvarinConfig.cmake
  INSTALL_DESTINATION ${TOLVARIN_PACKAGE_DIR})
# One major version keeps the contract; the launcher is 64-bit only, so a
# 32-bit consumer is told the package does not suit it.
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/sdk/TolvarinConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/sdk/TolvarinConfig.cmake
  ${CMAKE_BINARY_DIR}/sdk/TolvarinConfigVersion.cmake
  DESTINATION ${TOLVARIN_PACKAGE_DIR} COMPONENT sdk EXCLUDE_FROM_ALL)
