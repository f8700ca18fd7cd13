# What both Windows cross toolchains share: the target, the 32-bit compiler
# for the wrong-architecture test library, and where to look for libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# The 32-bit compiler builds only the wrong-architecture test library.
set(I686_CXX_COMPILER i686-w64-mingw32-g++)

# Libraries, headers and packages come from the MinGW-w64 root and from the
# prefixes named in CMAKE_PREFIX_PATH (an installed SDK, say), which hold
# Windows builds too; never from the host's own folders.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
