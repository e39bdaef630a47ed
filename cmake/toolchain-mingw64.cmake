# Cross build for x86-64 Windows with MinGW-w64 (posix thread model): the
# stand-in build whose suites run under a 64-bit Wine on hosts that cannot
# execute 32-bit code. It verifies behaviour; the shipped Windows build is the
# 32-bit one (toolchain-mingw32.cmake). What it cannot show: stdcall name
# decoration and 32-bit pointer and handle sizes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime is linked as DLLs, as in the 32-bit build (see there). Debian's
# "wine" wrapper prefers the 32-bit loader, so the 64-bit one is named.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
