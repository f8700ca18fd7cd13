# The host build: the launcher's sources, all but the Windows entry point,
# against a stand-in for the platform calls, under AddressSanitizer and UBSan.
find_package(GTest REQUIRED)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer)

add_library(launcher_core STATIC ${LAUNCHER_SOURCES})
target_include_directories(launcher_core
  PUBLIC launcher sdk
  PRIVATE tests/stand_in)
target_compile_options(launcher_core PUBLIC ${SANITIZERS})
target_link_options(launcher_core PUBLIC ${SANITIZERS})

# The real probe alone, without sanitizers, so that it runs under qemu-user
# on emulated processors.
add_executable(avx_probe_cli launcher/avx_probe.cpp tests/unit/avx_probe_cli.cpp)
target_include_directories(avx_probe_cli PRIVATE launcher)
