# The host build: the launcher's sources, all but the Windows entry point,
# against a stand-in for the platform calls, under AddressSanitizer and UBSan.
# It exists for the tests (tests/host_tests.cmake).
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer)

add_library(launcher_core STATIC ${LAUNCHER_SOURCES})
target_include_directories(launcher_core
  PUBLIC launcher sdk
  PRIVATE tests/stand_in)
target_compile_options(launcher_core PUBLIC ${SANITIZERS})
target_link_options(launcher_core PUBLIC ${SANITIZERS})

include(setup/setup.cmake)
# The installer's job engine, for its tests, optimised: they run every job
# thousands of times.
target_compile_options(setup_core PUBLIC ${SANITIZERS} -O2)
target_link_options(setup_core PUBLIC ${SANITIZERS})
