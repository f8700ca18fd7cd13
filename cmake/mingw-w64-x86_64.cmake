# Cross build for 64-bit Windows with Debian's MinGW-w64 GCC and GNU ld
# (g++-mingw-w64-x86-64, binutils-mingw-w64-x86-64).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-root.cmake)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
