// The application's message loop: bounded passes, WM_QUIT, Run, HandleMessage
// and exact stepping of RunFor/RunUntil through virtual time.
#include "VclTestSupport.h"

namespace {

constexpr UINT kPing = WM_USER + 10;

struct LoopTest : VclTest {
  TComponent Owner{nullptr};
  HWND Wnd = 0;
  std::vector<std::pair<UINT, uint64_t>> Received;  // message, clock reading

  void SetUp() override {
    VclTest::SetUp();
    Wnd = AllocateHWnd([this](TMessage& M) {
      if (M.Msg < WM_USER) return;  // the system's own window messages (Windows)
      Received.emplace_back(M.Msg, Elapsed());
      if (OnPing) OnPing(M);
    });
  }
  void TearDown() override {
    DeallocateHWnd(Wnd);
    while (Owner.ComponentCount() > 0) delete Owner.Components(0);
    VclTest::TearDown();
  }

  TTimer* Every(Cardinal Interval, std::function<void()> Tick) {
    auto* t = new TTimer(&Owner);
    t->SetInterval(Interval);
    t->SetOnTimer([Tick](TObject*) { Tick(); });
    return t;
  }

  std::function<void(TMessage&)> OnPing;
};

TEST_F(LoopTest, APassEndsEvenWhenAHandlerKeepsRepostingItself) {
  int handled = 0;
  OnPing = [&](TMessage&) {
    ++handled;
    PostMessageA(Wnd, kPing, 0, 0);
  };
  PostMessageA(Wnd, kPing, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(handled, 1);
  Application->ProcessMessages();
  EXPECT_EQ(handled, 2);
  OnPing = nullptr;
}

TEST_F(LoopTest, TimersOfAPassRunBeforeItsMessages) {
  std::vector<std::string> order;
  OnPing = [&](TMessage&) { order.push_back("message"); };
  TTimer* t = Every(100, [&] {
    order.push_back("timer");
    PostMessageA(Wnd, kPing, 0, 0);  // handled in the same pass
  });
  Application->RunFor(99);
  EXPECT_TRUE(order.empty());
  QuorClockAdvance(1);
  PostMessageA(Wnd, kPing, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(order, (std::vector<std::string>{"timer", "message", "message"}));
  t->SetEnabled(false);
}

TEST_F(LoopTest, RunForHandlesAChainOfMessagesAtOneClockReading) {
  OnPing = [&](TMessage& M) {
    if (M.WParam < 5) PostMessageA(Wnd, kPing, M.WParam + 1, 0);
  };
  PostMessageA(Wnd, kPing, 0, 0);
  Application->RunFor(0);
  ASSERT_EQ(Received.size(), 6u);
  for (auto& r : Received) EXPECT_EQ(r.second, 0u);
}

TEST_F(LoopTest, RunForStepsThroughClockCallbacksAndEndsExactly) {
  struct Ctx {
    HWND Wnd;
  } ctx{Wnd};
  auto post = [](void* c) { PostMessageA(static_cast<Ctx*>(c)->Wnd, kPing, 0, 0); };
  QuorClockSchedule(30, post, &ctx);
  QuorClockSchedule(75, post, &ctx);
  QuorClockSchedule(101, post, &ctx);  // beyond the end: stays pending
  std::vector<uint64_t> ticks;
  TTimer* t = Every(50, [&] { ticks.push_back(Elapsed()); });
  Application->RunFor(100);
  EXPECT_EQ(Elapsed(), 100u);
  ASSERT_EQ(Received.size(), 2u);
  EXPECT_EQ(Received[0].second, 30u);  // handled at the reading it was posted
  EXPECT_EQ(Received[1].second, 75u);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{50, 100}));  // a tick due at the very end fires
  EXPECT_EQ(QuorClockNextDue(), QuorClockNow() + 1);
  t->SetEnabled(false);
  Application->RunFor(1);
  EXPECT_EQ(Received.size(), 3u);
}

TEST_F(LoopTest, RunForWithNothingScheduledStillMovesTheClock) {
  Application->RunFor(2500);
  EXPECT_EQ(Elapsed(), 2500u);
}

TEST_F(LoopTest, RunForStopsWhenAHandlerSleepsPastItsEnd) {
  std::vector<uint64_t> later;
  TTimer* sleeper = Every(50, [&] { Sleep(500); });
  TTimer* other = Every(80, [&] { later.push_back(Elapsed()); });
  Application->RunFor(100);
  EXPECT_EQ(Elapsed(), 550u);  // not wound back, not run on
  EXPECT_TRUE(later.empty());
  sleeper->SetEnabled(false);
  Application->ProcessMessages();  // the overdue tick comes with the next pass
  EXPECT_EQ(later, (std::vector<uint64_t>{550}));
  other->SetEnabled(false);
}

TEST_F(LoopTest, RunUntilStopsAtTheStepWhereTheConditionHolds) {
  int ticks = 0;
  TTimer* t = Every(100, [&] { ++ticks; });
  EXPECT_TRUE(Application->RunUntil([&] { return ticks == 2; }, 1000));
  EXPECT_EQ(Elapsed(), 200u);
  // Already true: returns at once without running anything.
  EXPECT_TRUE(Application->RunUntil([] { return true; }, 1000));
  EXPECT_EQ(Elapsed(), 200u);
  // Never true: runs the whole time.
  EXPECT_FALSE(Application->RunUntil([] { return false; }, 450));
  EXPECT_EQ(Elapsed(), 650u);
  EXPECT_EQ(ticks, 6);
  t->SetEnabled(false);
}

TEST_F(LoopTest, RunUntilSeesMessagesFromClockCallbacks) {
  auto post = [](void* w) { PostMessageA(*static_cast<HWND*>(w), kPing, 0, 0); };
  QuorClockSchedule(1234, post, &Wnd);
  EXPECT_TRUE(Application->RunUntil([&] { return !Received.empty(); }, 5000));
  EXPECT_EQ(Elapsed(), 1234u);
}

TEST_F(LoopTest, HandleMessageMovesVirtualTimeToTheNextDuePoint) {
  std::vector<uint64_t> ticks;
  TTimer* t = Every(250, [&] { ticks.push_back(Elapsed()); });
  Application->HandleMessage();
  EXPECT_EQ(ticks, (std::vector<uint64_t>{250}));
  auto post = [](void* w) { PostMessageA(*static_cast<HWND*>(w), kPing, 0, 0); };
  QuorClockSchedule(40, post, &Wnd);  // earlier than the next tick
  Application->HandleMessage();
  EXPECT_EQ(Elapsed(), 290u);
  EXPECT_EQ(Received.size(), 1u);
  PostMessageA(Wnd, kPing, 0, 0);  // something queued: handled without waiting
  Application->HandleMessage();
  EXPECT_EQ(Elapsed(), 290u);
  EXPECT_EQ(Received.size(), 2u);
  t->SetEnabled(false);
}

TEST_F(LoopTest, RunEndsOnTerminateFromAHandler) {
  int ticks = 0;
  Every(100, [&] {
    if (++ticks == 3) Application->Terminate();
  });
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(Elapsed(), 300u);
  delete Owner.Components(0);
}

TEST_F(LoopTest, QuitMessageTerminatesTheLoop) {
  OnPing = [](TMessage&) { PostQuitMessage(0); };
  PostMessageA(Wnd, kPing, 0, 0);
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  Application->ResetTerminated();
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(LoopTest, RunReturnsWhenNothingCanEverHappenOnTheVirtualClock) {
  Application->Run();  // nothing scheduled, nothing queued
  EXPECT_FALSE(Application->Terminated());
  EXPECT_EQ(Elapsed(), 0u);
  // With a one-shot callback it runs until that is handled, then returns.
  auto post = [](void* w) { PostMessageA(*static_cast<HWND*>(w), kPing, 0, 0); };
  QuorClockSchedule(700, post, &Wnd);
  Application->Run();
  EXPECT_EQ(Received.size(), 1u);
  EXPECT_EQ(Elapsed(), 700u);
}

TEST_F(LoopTest, NestedLoopInsideAMessageHandlerKeepsTheOuterPassBounded) {
  std::vector<WPARAM> order;
  OnPing = [&](TMessage& M) {
    order.push_back(M.WParam);
    if (M.WParam == 1) {
      PostMessageA(Wnd, kPing, 10, 0);
      Application->RunFor(20);  // handles 2, 3 and 10
    }
    if (M.WParam == 3) PostMessageA(Wnd, kPing, 30, 0);
  };
  for (WPARAM i = 1; i <= 3; ++i) PostMessageA(Wnd, kPing, i, 0);
  Application->ProcessMessages();
  EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3, 10, 30}));
  EXPECT_EQ(Elapsed(), 20u);
  Application->ProcessMessages();
  EXPECT_EQ(order.size(), 5u);
}

}  // namespace

namespace {

// The real-clock branch of the loop, without waiting on the wall clock: the
// condition is met by a message that is already queued.
TEST_F(LoopTest, RunUntilOnTheRealClockReturnsAsSoonAsTheConditionHolds) {
  QuorClockUseVirtual(0);
  PostMessageA(Wnd, kPing, 3, 0);
  const uint64_t before = QuorClockNow();
  const bool done = Application->RunUntil([&] { return !Received.empty(); }, 60000);
  const uint64_t took = QuorClockNow() - before;
  QuorClockUseVirtual(1);
  EXPECT_TRUE(done);
  EXPECT_LT(took, 30000u);
  ASSERT_EQ(Received.size(), 1u);
}

}  // namespace
