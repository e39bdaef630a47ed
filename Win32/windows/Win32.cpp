// The Win32 subset on Windows is Windows itself: kernel32 and user32 provide
// every name Win32.h declares, and the clock (with QuorSleep, which Win32.h
// puts in place of Sleep) is the platform-independent Clock.cpp. This file is
// the place for anything Windows should ever lack; today that is nothing.
#include "Win32/Win32.h"

static_assert(sizeof(HWND) == sizeof(void*), "Windows handles are pointer-sized");
