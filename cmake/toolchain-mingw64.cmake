# Cross build for 64-bit (x86-64) Windows with MinGW-w64 (posix thread
# model), a product like the 32-bit build (toolchain-mingw32.cmake): the same
# sources with pointer-wide handles and the Win64 RAS records. Its suites run
# under a 64-bit Wine, on every host that runs 64-bit code.
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

# The runtime is linked as DLLs (libgcc_s_seh-1.dll, libstdc++-6.dll,
# libwinpthread-1.dll), as in the 32-bit build (see there for why). Debian's
# "wine" wrapper prefers the 32-bit loader, so the 64-bit one is named.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
