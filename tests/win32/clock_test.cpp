// The clock in virtual time: advancing runs callbacks in due order with the
// clock at their due times; Sleep and the message waits move virtual time
// instead of blocking.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "OwnSubset.h"
#include "Win32/Win32.h"

namespace {

constexpr DWORD kMessageArrived = WAIT_OBJECT_0;
constexpr DWORD kTimedOut = WAIT_TIMEOUT;
constexpr DWORD kWaitFailed = WAIT_FAILED;

struct Ran {
  std::string tag;
  uint64_t at;
  bool operator==(const Ran& o) const { return tag == o.tag && at == o.at; }
};
std::vector<Ran> ran;

struct Job {
  std::string tag;
  // What the callback does besides recording itself.
  uint32_t thenScheduleIn = 0;
  struct Job* thenSchedule = nullptr;
  uint32_t cancelId = 0;
  bool postToThread = false;
  DWORD thread = 0;
};

void RunJob(void* context) {
  Job* job = static_cast<Job*>(context);
  ran.push_back({job->tag, QuorClockNow()});
  if (job->thenSchedule != nullptr) QuorClockSchedule(job->thenScheduleIn, RunJob, job->thenSchedule);
  if (job->cancelId != 0) QuorClockCancel(job->cancelId);
  if (job->postToThread) PostThreadMessageA(job->thread, WM_USER + 9, 0, 0);
}

std::ostream& operator<<(std::ostream& os, const Ran& r) {
  return os << r.tag << "@" << r.at;
}

class VirtualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(1);
    ran.clear();
    start = QuorClockNow();
    ASSERT_EQ(QuorClockNextDue(), UINT64_MAX) << "a previous test left callbacks behind";
    MSG m;
    while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override {
    for (uint32_t id : scheduled) QuorClockCancel(id);
  }
  uint32_t Schedule(uint32_t delay, Job* job) {
    uint32_t id = QuorClockSchedule(delay, RunJob, job);
    scheduled.push_back(id);
    return id;
  }
  Ran At(const std::string& tag, uint64_t offset) { return {tag, start + offset}; }
  uint64_t start = 0;
  std::vector<uint32_t> scheduled;
};

TEST_F(VirtualClock, StandsStillUntilAdvanced) {
  EXPECT_TRUE(QuorClockIsVirtual());
  EXPECT_EQ(QuorClockNow(), start);
  QuorClockAdvance(250);
  EXPECT_EQ(QuorClockNow(), start + 250);
  if (kOwnWin32) {
    EXPECT_EQ(GetTickCount(), static_cast<DWORD>(start + 250));
  }
  QuorClockAdvanceTo(start + 100);
  EXPECT_EQ(QuorClockNow(), start + 250) << "the clock never goes back";
  QuorClockAdvanceTo(start + 1000);
  EXPECT_EQ(QuorClockNow(), start + 1000);
}

TEST_F(VirtualClock, AdvanceRunsCallbacksInDueOrderAtTheirDueTimes) {
  Job a{"a"}, b{"b"}, c{"c"}, d{"d"}, e{"e"};
  Schedule(30, &a);
  Schedule(10, &b);
  Schedule(20, &c);
  Schedule(20, &d);  // same due time as c: scheduling order decides
  Schedule(60, &e);
  EXPECT_EQ(QuorClockNextDue(), start + 10);
  QuorClockAdvance(50);
  EXPECT_EQ(ran, (std::vector<Ran>{At("b", 10), At("c", 20), At("d", 20), At("a", 30)}));
  EXPECT_EQ(QuorClockNow(), start + 50);
  EXPECT_EQ(QuorClockNextDue(), start + 60);
  QuorClockAdvance(10);
  EXPECT_EQ(ran.back(), At("e", 60)) << "due exactly at the target runs";
  EXPECT_EQ(QuorClockNextDue(), UINT64_MAX);
}

TEST_F(VirtualClock, CancelledCallbacksDoNotRun) {
  Job a{"a"}, b{"b"}, c{"c"};
  uint32_t idA = Schedule(10, &a);
  uint32_t idB = Schedule(20, &b);
  Schedule(5, &c);
  c.cancelId = idB;  // a callback cancels one due later in the same advance
  EXPECT_NE(idA, idB);
  EXPECT_EQ(QuorClockCancel(idA), 1);
  EXPECT_EQ(QuorClockCancel(idA), 0) << "no longer pending";
  QuorClockAdvance(100);
  EXPECT_EQ(ran, (std::vector<Ran>{At("c", 5)}));
  EXPECT_EQ(QuorClockCancel(idB), 0);
  EXPECT_EQ(QuorClockSchedule(10, nullptr, nullptr), 0u) << "nothing to call, nothing scheduled";
  EXPECT_EQ(QuorClockNextDue(), UINT64_MAX);
}

TEST_F(VirtualClock, CallbacksMayScheduleCallbacks) {
  Job soon{"soon"}, now{"now"}, late{"late"}, first{"first"}, second{"second"};
  first.thenSchedule = &soon;
  first.thenScheduleIn = 5;
  soon.thenSchedule = &now;
  soon.thenScheduleIn = 0;
  second.thenSchedule = &late;
  second.thenScheduleIn = 50;
  Schedule(10, &first);
  Schedule(12, &second);
  QuorClockAdvance(20);
  EXPECT_EQ(ran, (std::vector<Ran>{At("first", 10), At("second", 12), At("soon", 15), At("now", 15)}));
  EXPECT_EQ(QuorClockNextDue(), start + 62);
  QuorClockAdvance(100);
  EXPECT_EQ(ran.back(), At("late", 62));
}

TEST_F(VirtualClock, SleepMovesTheClockAtOnce) {
  Job a{"a"};
  Schedule(1500, &a);
  Sleep(2000);
  EXPECT_EQ(QuorClockNow(), start + 2000);
  EXPECT_EQ(ran, (std::vector<Ran>{At("a", 1500)}));
  QuorSleep(0);
  EXPECT_EQ(QuorClockNow(), start + 2000);
}

TEST_F(VirtualClock, ReturningToRealTimeNeverGoesBack) {
  QuorClockAdvance(100000000);  // far beyond the real reading
  uint64_t virtualReading = QuorClockNow();
  QuorClockUseVirtual(0);
  EXPECT_FALSE(QuorClockIsVirtual());
  EXPECT_GE(QuorClockNow(), virtualReading);
  QuorClockAdvance(1000000000);  // ignored on the real clock
  EXPECT_LT(QuorClockNow(), virtualReading + 1000000000);
  QuorClockUseVirtual(1);
}

TEST(RealClock, RunsCallbacksOnItsOwnThread) {
  QuorClockUseVirtual(0);
  struct Context {
    std::promise<std::thread::id> where;
  } context;
  uint32_t id = QuorClockSchedule(
      0, [](void* c) { static_cast<Context*>(c)->where.set_value(std::this_thread::get_id()); }, &context);
  ASSERT_NE(id, 0u);
  std::future<std::thread::id> where = context.where.get_future();
  // A bounded wait for the clock's thread, not for a timer: the callback is due at once.
  ASSERT_EQ(where.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_NE(where.get(), std::this_thread::get_id());
  EXPECT_EQ(QuorClockCancel(id), 0);
}

// A library unloading takes its callbacks with it: every pending one of its
// function is dropped, and one running on the clock's thread is waited for.
TEST(RealClock, CancelCallbackDropsPendingOnesAndWaitsForTheRunningOne) {
  QuorClockUseVirtual(0);
  static std::promise<void> started, release;
  static std::atomic<bool> finished{false};
  started = {};
  release = {};
  const QuorClockCallback held = [](void*) {
    started.set_value();
    release.get_future().wait();
    finished = true;
  };
  const QuorClockCallback other = [](void*) {};
  ASSERT_NE(QuorClockSchedule(0, held, nullptr), 0u);
  ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const uint32_t pendingHeld = QuorClockSchedule(600000, held, nullptr);
  const uint32_t pendingOther = QuorClockSchedule(600000, other, nullptr);
  std::future<bool> cancelled = std::async(std::launch::async, [held] {
    QuorClockCancelCallback(held);
    return finished.load();
  });
  release.set_value();
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(cancelled.get()) << "returned while the callback was still running";
  EXPECT_EQ(QuorClockCancel(pendingHeld), 0) << "still pending";
  EXPECT_EQ(QuorClockCancel(pendingOther), 1) << "another function's callback was dropped";
}

// Windows' own waits know nothing of virtual time.
class MsgWait : public VirtualClock {
 protected:
  void SetUp() override {
    SKIP_UNLESS_OWN_WIN32();
    VirtualClock::SetUp();
  }
};

TEST_F(MsgWait, ReturnsAtOnceWhenAMessageIsWaiting) {
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT), kMessageArrived);
  EXPECT_EQ(QuorClockNow(), start);
}

TEST_F(MsgWait, TimesOutAfterMovingTheClockByTheWholeTimeout) {
  Job quiet{"quiet"}, poster{"poster"};
  poster.postToThread = true;
  poster.thread = GetCurrentThreadId();
  Schedule(100, &quiet);
  Schedule(2000, &poster);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT), kTimedOut);
  EXPECT_EQ(QuorClockNow(), start + 1000);
  EXPECT_EQ(ran, (std::vector<Ran>{At("quiet", 100)}));
}

TEST_F(MsgWait, WakesWhenACallbackPosts) {
  Job quiet{"quiet"}, poster{"poster"};
  poster.postToThread = true;
  poster.thread = GetCurrentThreadId();
  Schedule(100, &quiet);
  Schedule(300, &poster);
  Schedule(400, &quiet);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT), kMessageArrived);
  EXPECT_EQ(QuorClockNow(), start + 300);
  EXPECT_EQ(ran, (std::vector<Ran>{At("quiet", 100), At("poster", 300)}));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 9));
}

TEST_F(MsgWait, InfiniteWithNothingScheduledReturnsWithoutMovingTheClock) {
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT), kTimedOut);
  EXPECT_EQ(QuorClockNow(), start);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), kTimedOut);
  EXPECT_EQ(QuorClockNow(), start);
  HANDLE none = 0;
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &none, FALSE, 0, QS_ALLINPUT), kWaitFailed) << "there are no waitable objects";
}

TEST_F(MsgWait, GetMessageLetsVirtualTimeRunToTheNextPost) {
  Job poster{"poster"};
  poster.postToThread = true;
  poster.thread = GetCurrentThreadId();
  Schedule(250, &poster);
  MSG m;
  ASSERT_EQ(GetMessageA(&m, 0, 0, 0), TRUE);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 9));
  EXPECT_EQ(QuorClockNow(), start + 250);
  EXPECT_EQ(m.time, static_cast<DWORD>(start + 250));
}

}  // namespace
