// Whether the suite runs against our own Win32 subset (true) or against the
// platform's real one, where only Windows' documented behaviour is checked.
#pragma once

#include <gtest/gtest.h>

constexpr bool kOwnWin32 = QUOR_OWN_WIN32 != 0;

#define SKIP_UNLESS_OWN_WIN32() \
  if (!kOwnWin32) GTEST_SKIP() << "a choice of our own Win32 subset, not promised by Windows"
