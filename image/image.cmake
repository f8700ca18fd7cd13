# What the launcher executable carries besides code: the resources (manifest,
# icon, version record) and the image header settings that the application
# hosted in the process inherits.

# The name texts of the version record are set in CMakeLists.txt; the numbers
# come from project().
set(IMAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
configure_file(${IMAGE_DIR}/version.h.in ${CMAKE_BINARY_DIR}/image/version.h
  @ONLY)
set_property(SOURCE ${IMAGE_DIR}/launcher.rc APPEND PROPERTY OBJECT_DEPENDS
  ${IMAGE_DIR}/launcher.manifest ${IMAGE_DIR}/icon/tolvarin.ico
  ${CMAKE_BINARY_DIR}/image/version.h)

# Process-wide protections, for a vendor whose application library allows
# them. Windows enforces Control Flow Guard in a process only when its
# executable is built with it, and CET shadow stacks only when the executable
# is marked compatible. Off, the image is exactly what it has always been.
option(TOLVARIN_PROCESS_MITIGATIONS "Build Tolvarin.exe (and the sample \
application library) with Control Flow Guard and mark it CET shadow-stack \
compatible; needs the clang and lld build" OFF)
if(TOLVARIN_PROCESS_MITIGATIONS AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TOLVARIN_PROCESS_MITIGATIONS needs the clang and lld "
    "build (the windows preset): GCC and GNU ld make neither Control Flow "
    "Guard nor the CET mark.")
endif()

# Builds an image with Control Flow Guard when the option is on: instrumented
# indirect calls, the table of valid call targets, and the load configuration
# that tells the loader where both are.
function(tolvarin_guard target)
  if(TOLVARIN_PROCESS_MITIGATIONS)
    target_sources(${target} PRIVATE ${IMAGE_DIR}/load_config.cpp)
    target_compile_options(${target} PRIVATE -mguard=cf)
    target_link_options(${target} PRIVATE -mguard=cf)
  endif()
endfunction()

# Gives an executable target the launcher's resources and header settings.
function(add_launcher_image target)
  tolvarin_guard(${target})
  if(TOLVARIN_PROCESS_MITIGATIONS)
    target_link_options(${target} PRIVATE -Wl,--Xlink=-cetcompat)
  endif()
  target_sources(${target} PRIVATE ${IMAGE_DIR}/launcher.rc)
  # windres resolves the manifest and icon paths against the include path.
  target_include_directories(${target} PRIVATE ${IMAGE_DIR}
    ${CMAKE_BINARY_DIR}/image)
  # --stack takes "reserve,commit" as one argument, which -Wl, would split at
  # the comma; -Xlinker passes it whole.
  target_link_options(${target} PRIVATE
    "SHELL:-Xlinker --stack -Xlinker 0x400000,0x10000"
    "SHELL:-Xlinker --heap -Xlinker 0x100000"
    "SHELL:-Xlinker --major-subsystem-version -Xlinker 6"
    "SHELL:-Xlinker --minor-subsystem-version -Xlinker 0"
    "SHELL:-Xlinker --major-os-version -Xlinker 6"
    "SHELL:-Xlinker --minor-os-version -Xlinker 0"
    "SHELL:-Xlinker --dynamicbase"
    "SHELL:-Xlinker --high-entropy-va"
    "SHELL:-Xlinker --nxcompat"
    "SHELL:-Xlinker --tsaware")
endfunction()
