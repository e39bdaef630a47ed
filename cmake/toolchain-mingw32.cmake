# Cross build for 32-bit Windows with MinGW-w64 (posix thread model, so that
# std::mutex and std::thread exist for GoogleTest and the clock's callback
# thread). Tests and the other executables run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtime is linked as DLLs (libgcc_s_dw2-1.dll, libstdc++-6.dll,
# libwinpthread-1.dll), not statically. This compiler unwinds with DWARF-2
# tables, and a statically linked libgcc keeps one table registry per module:
# an exception thrown in one of our DLLs (vcl30's AllocateHWnd, a test's
# throwing event handler caught by vcl30's timer dispatch) then finds no
# handler in the other module and the process calls terminate. With the shared
# runtime every module registers with the same unwinder and shares one
# libstdc++. cmake/QuorWindows.cmake copies the three DLLs beside the programs.

# ctest and gtest_discover_tests run the cross-built programs through Wine
# (cmake/QuorWindows.cmake refines this with the runtime DLL folder and the
# DLL override that makes Wine load our rasapi32.dll).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# List the tests when ctest runs rather than after each link, so building
# needs no Wine prefix and no Wine start-up per test program.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
