// The Win32 subset on Windows is Windows itself: kernel32 and user32 provide
// every name Win32.h declares, and the clock (with QuorSleep, which Win32.h
// puts in place of Sleep) is the platform-independent Clock.cpp. This file is
// the place for anything Windows should ever lack; today that is nothing.
#include "Win32/Win32.h"

static_assert(sizeof(HWND) == sizeof(void*), "Windows handles are pointer-sized");

// RAS passes window handles in 32-bit fields (the dial's notifier, the
// records' handles): the Windows build is a 32-bit one. The x86-64 stand-in
// build, for verification only, relies on 64-bit Windows keeping window
// handle values within 32 bits (sign-extended).
static_assert(QUOR_WINDOWS_STANDIN || (sizeof(HWND) == 4 && sizeof(HMODULE) == 4),
              "Quor's Windows build targets 32-bit Windows");
static_assert(!QUOR_WINDOWS_STANDIN || sizeof(HWND) == 8, "the stand-in is the x86-64 build");
