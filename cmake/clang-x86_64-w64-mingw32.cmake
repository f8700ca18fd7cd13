# Cross build for 64-bit Windows with Debian's clang and lld 19 (clang-19,
# lld-19) on the MinGW-w64 runtime, with GCC's C++ library and compiler
# runtime (g++-mingw-w64-x86-64), which clang 19 finds by itself.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-root.cmake)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
foreach(kind IN ITEMS EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld)
endforeach()
