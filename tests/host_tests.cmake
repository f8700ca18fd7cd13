# Unit tests of the launcher's decisions and sequences on the host, and the
# real AVX probe on this processor and on emulated ones.
include(GoogleTest)

add_executable(unit_tests
  unit/app_library_test.cpp
  unit/avx_probe_test.cpp
  unit/startup_test.cpp
  stand_in/windows_stand_in.cpp)
target_include_directories(unit_tests PRIVATE stand_in)
target_link_libraries(unit_tests PRIVATE launcher_core GTest::gtest_main)
gtest_discover_tests(unit_tests)

# qemu-user emulates processors with and without AVX and XSAVE.
find_program(QEMU_X86_64 qemu-x86_64 REQUIRED)
foreach(case IN ITEMS "Westmere:0" "SandyBridge:1" "Westmere,+xsave:0"
                      "SandyBridge,-xsave:0")
  string(REPLACE ":" ";" parts "${case}")
  list(GET parts 0 cpu)
  list(GET parts 1 expected)
  add_test(NAME "avx_probe_on_${cpu}"
    COMMAND ${QEMU_X86_64} -cpu ${cpu} $<TARGET_FILE:avx_probe_cli> ${expected})
endforeach()
