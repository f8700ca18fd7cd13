# The release cross build: the launcher executable, the sample application
# library in both builds, and the installation layout.
enable_language(RC)

# Everything the MinGW runtime brings is linked in, so the executable imports
# only system libraries; -s drops the debug sections from the image.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

include(image/image.cmake)
include(release/release.cmake)
include(sdk/sdk.cmake)

# The launcher executable, under the given target name.
function(add_launcher target)
  add_executable(${target} WIN32
    ${PROJECT_SOURCE_DIR}/launcher/main.cpp ${LAUNCHER_SOURCES})
  target_include_directories(${target} PRIVATE
    ${PROJECT_SOURCE_DIR}/launcher ${PROJECT_SOURCE_DIR}/sdk)
  target_compile_options(${target} PRIVATE -municode)
  target_link_options(${target} PRIVATE -municode ${STATIC_RUNTIME} -s)
  target_link_libraries(${target} PRIVATE ole32)
  add_launcher_image(${target})
endfunction()

add_launcher(launcher)
set_target_properties(launcher PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME})
tolvarin_sign(launcher)

# The sample application library, built twice like the real one.
foreach(build IN ITEMS generic avx)
  set(target sample_${build})
  add_library(${target} SHARED sample/sample_app.cpp sample/thumbnail.cpp)
  target_link_libraries(${target} PRIVATE Tolvarin::sdk ole32 uuid)
  target_link_options(${target} PRIVATE ${STATIC_RUNTIME} -s)
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
