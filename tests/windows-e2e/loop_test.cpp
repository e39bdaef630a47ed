// The framework's message loop over the real Win32 queue: on the real clock
// it waits in MsgWaitForMultipleObjects and wakes for a message posted from
// another thread or for its next timer; on the virtual clock it never waits,
// however much virtual time passes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Vcl/Vcl.h"

namespace {

// The system's own millisecond counter, independent of Quor's clock.
uint64_t WallMs() {
  return GetTickCount64();
}

TEST(WindowsLoop, VirtualHourOfTimerTicksPassesWithoutWaiting) {
  QuorClockUseVirtual(1);
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetInterval(1000);
  timer.SetOnTimer([&](TObject*) { ++ticks; });
  timer.SetEnabled(true);
  const uint64_t wallBefore = WallMs();
  const uint64_t clockBefore = QuorClockNow();
  Application->RunFor(3600 * 1000);
  const uint64_t wall = WallMs() - wallBefore;
  timer.SetEnabled(false);
  EXPECT_EQ(QuorClockNow() - clockBefore, 3600u * 1000u);
  EXPECT_EQ(ticks, 3600);
  EXPECT_LT(wall, 20000u) << "the loop waited in real time on the virtual clock";

  // Nothing scheduled, nothing queued: HandleMessage returns at once.
  const uint64_t idleBefore = WallMs();
  Application->HandleMessage();
  EXPECT_LT(WallMs() - idleBefore, 1000u);
  QuorClockUseVirtual(0);
}

TEST(WindowsLoop, RealClockWaitsForTheNextTimer) {
  ASSERT_FALSE(QuorClockIsVirtual());
  TTimer timer(nullptr);
  uint64_t firedAt = 0;
  timer.SetInterval(300);
  timer.SetOnTimer([&](TObject*) {
    if (firedAt == 0) firedAt = WallMs();
  });
  const uint64_t start = WallMs();
  timer.SetEnabled(true);
  ASSERT_TRUE(Application->RunUntil([&] { return firedAt != 0; }, 5000));
  timer.SetEnabled(false);
  EXPECT_GE(firedAt - start, 250u);  // GetTickCount64 has a coarse step
  EXPECT_LT(firedAt - start, 2000u);
}

TEST(WindowsLoop, RealClockWakesForAMessageFromAnotherThread) {
  ASSERT_FALSE(QuorClockIsVirtual());
  std::atomic<uint64_t> postedAt{0};
  uint64_t handledAt = 0;
  HWND wnd = AllocateHWnd([&](TMessage& M) {
    if (M.Msg == WM_USER + 7) handledAt = WallMs();
  });
  ASSERT_NE(wnd, nullptr);
  std::thread poster([&] {
    ::Sleep(400);  // windows.h's Sleep is QuorSleep here: the real clock
    postedAt = WallMs();
    PostMessageA(wnd, WM_USER + 7, 0, 0);
  });
  // No timer is due: HandleMessage waits in the system until the post.
  const uint64_t start = WallMs();
  while (handledAt == 0 && WallMs() - start < 5000) Application->HandleMessage();
  poster.join();
  DeallocateHWnd(wnd);
  ASSERT_NE(handledAt, 0u) << "the posted message was never handled";
  EXPECT_LT(handledAt - postedAt, 1000u);
}

}  // namespace
