// Event objects and waiting for them beside the message queue: what the
// message loop needs to learn of a signal from another thread at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "OwnSubset.h"
#include "Win32/Win32.h"

namespace {

TEST(Events, ResetRulesAndClosedHandles) {
  // Each step: 'S' SetEvent, 'R' ResetEvent, 'W' a wait of 0 ms, its result
  // as a letter: o (signalled), t (timeout).
  struct Case {
    BOOL Manual, Initial;
    std::string Steps, Waits;
  };
  const std::vector<Case> cases = {
      {FALSE, FALSE, "W", "t"},    {FALSE, TRUE, "WW", "ot"},     {FALSE, FALSE, "SSWW", "ot"},
      {TRUE, TRUE, "WWRW", "oot"}, {TRUE, FALSE, "SWWRW", "oot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Steps + (c.Manual ? " manual" : " auto"));
    HANDLE e = CreateEventA(nullptr, c.Manual, c.Initial, nullptr);
    ASSERT_NE(e, HANDLE{});
    std::string waits;
    for (char s : c.Steps) {
      if (s == 'S') {
        EXPECT_TRUE(SetEvent(e));
      } else if (s == 'R') {
        EXPECT_TRUE(ResetEvent(e));
      } else {
        waits += WaitForSingleObject(e, 0) == WAIT_OBJECT_0 ? 'o' : 't';
      }
    }
    EXPECT_EQ(waits, c.Waits);
    EXPECT_TRUE(CloseHandle(e));
  }
  // A handle that is no event any more.
  HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(e));
  EXPECT_FALSE(CloseHandle(e));
}

TEST(Events, MsgWaitTellsWhichEventOrInput) {
  QuorClockUseVirtual(0);
  HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE both[] = {a, b};
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  SetEvent(a);
  SetEvent(b);
  // The first signalled wins; the auto-reset one gives its signal away.
  EXPECT_EQ(MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, both, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  ResetEvent(b);
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0));
  EXPECT_EQ(MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2) << "input";
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
  }
  CloseHandle(a);
  CloseHandle(b);
}

TEST(Events, ASignalFromAnotherThreadEndsTheWait) {
  QuorClockUseVirtual(0);
  HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread signaller([e] { SetEvent(e); });
  // Bounded: a lost wake-up fails the test instead of hanging it.
  const DWORD r = MsgWaitForMultipleObjects(1, &e, FALSE, 10000, QS_ALLINPUT);
  signaller.join();
  EXPECT_EQ(r, WAIT_OBJECT_0);
  std::thread late([e] { SetEvent(e); });
  EXPECT_EQ(WaitForSingleObject(e, 10000), WAIT_OBJECT_0);
  late.join();
  CloseHandle(e);
}

TEST(Events, VirtualTimeWaitRunsTheClockToTheSignal) {
  SKIP_UNLESS_OWN_WIN32();
  QuorClockUseVirtual(1);
  static HANDLE e;
  e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const uint64_t t0 = QuorClockNow();
  QuorClockSchedule(
      300, [](void*) { SetEvent(e); }, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 1000, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(QuorClockNow() - t0, 300u);
  EXPECT_EQ(WaitForSingleObject(e, 200), WAIT_TIMEOUT);
  EXPECT_EQ(QuorClockNow() - t0, 500u);
  CloseHandle(e);
  QuorClockUseVirtual(0);
}

}  // namespace
