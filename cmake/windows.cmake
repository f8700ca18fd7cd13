# The release cross build: the launcher executable, the sample application
# library in both builds, and the installation layout.
enable_language(RC)

# Everything the MinGW runtime brings is linked in, so the executable imports
# only system libraries; -s drops the debug sections from the image.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Symbols. clang writes CodeView, and lld a PDB beside every image it links;
# the image names it by file name only and itself keeps neither DWARF nor a
# symbol table (-s). Source files are named relative to the source tree and
# rooted in the PDB at a fixed C:\tolvarin, so that no build folder appears
# in it and two builds anywhere give the same bytes.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-g -gcodeview -gno-codeview-command-line
    -fdebug-compilation-dir=.
    "-ffile-prefix-map=${CMAKE_BINARY_DIR}/="
    "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
  add_link_options(-g -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%
    "-Wl,--Xlink=-pdbsourcepath:C:\\tolvarin")
  # The PE checksum, which GNU ld writes and lld only when asked.
  add_link_options(-Wl,--Xlink=-release)
endif()

# The link map of a shipped image, made in the top folder of the build: the
# third-party notices list from it what the linker put into the image.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/maps)
function(tolvarin_link_map target)
  # Relative to the build folder, where the link runs: lld writes its
  # command line into the PDB, which must not hold the build folder.
  set(map maps/${target}.map)
  set(maps ${map})
  target_link_options(${target} PRIVATE "-Wl,-Map=${map}")
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # lld's own map names objects by path; its /map names the archives.
    list(APPEND maps ${map}.archives)
    target_link_options(${target} PRIVATE "-Wl,--Xlink=-map:${map}.archives")
  endif()
  foreach(map IN LISTS maps)
    set_property(GLOBAL APPEND PROPERTY TOLVARIN_LINK_MAPS
      "$<TARGET_FILE_NAME:${target}>=${CMAKE_BINARY_DIR}/${map}")
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TOLVARIN_MAPPED_TARGETS ${target})
endfunction()

include(image/image.cmake)
include(release/release.cmake)
include(sdk/sdk.cmake)
# The installer's job engine, built as the launcher is: reproducible, with a
# PDB, signed.
include(setup/setup.cmake)
tolvarin_sign(setup_engine)

# The launcher executable, under the given target name.
function(add_launcher target)
  add_executable(${target} WIN32
    ${PROJECT_SOURCE_DIR}/launcher/main.cpp ${LAUNCHER_SOURCES})
  target_include_directories(${target} PRIVATE
    ${PROJECT_SOURCE_DIR}/launcher ${PROJECT_SOURCE_DIR}/sdk)
  # No -fstack-protector-strong: libssp seeds its guard through ADVAPI32,
  # whose import costs about 6 ms before the first instruction under Wine
  # (the benchmark's start-to-exit ratio goes from 0.99 to 1.07), although
  # the modules at the entry point stay the same.
  # No tail calls: a crash's stack shows the launcher handing over to the
  # application library.
  target_compile_options(${target} PRIVATE -municode
    -fno-optimize-sibling-calls)
  target_link_options(${target} PRIVATE -municode ${STATIC_RUNTIME} -s)
  target_link_libraries(${target} PRIVATE ole32)
  add_launcher_image(${target})
endfunction()

add_launcher(launcher)
set_target_properties(launcher PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME})
tolvarin_link_map(launcher)
tolvarin_sign(launcher)

# The sample application library, built twice like the real one.
foreach(build IN ITEMS generic avx)
  set(target sample_${build})
  add_library(${target} SHARED sample/sample_app.cpp sample/thumbnail.cpp)
  target_link_libraries(${target} PRIVATE Tolvarin::sdk ole32 uuid)
  # Every caller keeps its frame, so that a crash's stack names each call.
  target_compile_options(${target} PRIVATE -fno-optimize-sibling-calls)
  target_link_options(${target} PRIVATE ${STATIC_RUNTIME} -s)
  tolvarin_guard(${target})
  tolvarin_link_map(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)
endforeach()
set_target_properties(sample_generic PROPERTIES OUTPUT_NAME TOLVARIN64)
set_target_properties(sample_avx PROPERTIES OUTPUT_NAME TOLVARIN64avx)
target_compile_options(sample_avx PRIVATE -mavx)

# Installation: the launcher at the root, the application library in both
# builds under Library\, and Library\x64\ for the library's own dependencies.
install(TARGETS launcher RUNTIME DESTINATION .)
install(TARGETS sample_generic sample_avx RUNTIME DESTINATION Library)
install(DIRECTORY DESTINATION Library/x64)

if(BUILD_TESTING)
  add_subdirectory(bench)
endif()

include(release/package.cmake)
