// The timer queue in virtual time.
#include <algorithm>
#include <utility>

#include "Vcl/VclInternal.h"
#include "VclTestSupport.h"

namespace {

using Times = std::vector<uint64_t>;

struct TimerTest : VclTest {
  TComponent Owner{nullptr};

  // A timer of Owner with the given interval that records when it fires.
  TTimer* Recording(Cardinal Interval, Times& Fired) {
    auto* t = new TTimer(&Owner);
    t->SetInterval(Interval);
    t->SetOnTimer([this, &Fired](TObject*) { Fired.push_back(Elapsed()); });
    return t;
  }

  void TearDown() override {
    while (Owner.ComponentCount() > 0) delete Owner.Components(0);
    VclTest::TearDown();
  }
};

TEST_F(TimerTest, RepeatsExactlyEveryInterval) {
  Times fired;
  TTimer* t = Recording(100, fired);
  EXPECT_EQ(NextTimerDue(), QuorClockNow() + 100);
  Application->RunFor(350);
  EXPECT_EQ(fired, (Times{100, 200, 300}));
  EXPECT_EQ(Elapsed(), 350u);
  t->SetEnabled(false);
  Application->RunFor(500);
  EXPECT_EQ(fired.size(), 3u);
}

TEST_F(TimerTest, OnlyEnabledTimersWithAHandlerAreQueued) {
  auto* bare = new TTimer(&Owner);  // enabled, but no handler
  EXPECT_TRUE(bare->Enabled());
  EXPECT_EQ(bare->Interval(), 1000u);
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);

  auto* off = new TTimer(&Owner);
  off->SetEnabled(false);
  int ticks = 0;
  off->SetOnTimer([&](TObject*) { ++ticks; });
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);
  Application->RunFor(5000);
  EXPECT_EQ(ticks, 0);

  off->SetEnabled(true);
  EXPECT_EQ(NextTimerDue(), QuorClockNow() + 1000);
  off->SetOnTimer(nullptr);  // losing the handler takes it off the queue
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);
  off->SetOnTimer([&](TObject*) { ++ticks; });
  delete off;  // destroying it does too
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);
  Application->RunFor(5000);
  EXPECT_EQ(ticks, 0);
}

TEST_F(TimerTest, TimersDueTogetherFireInArmingOrder) {
  std::vector<std::string> order;
  auto make = [&](const char* tag) {
    auto* t = new TTimer(&Owner);
    t->SetEnabled(false);
    t->SetInterval(100);
    t->SetOnTimer([&order, tag](TObject*) { order.push_back(tag); });
    return t;
  };
  TTimer* a = make("a");
  TTimer* b = make("b");
  TTimer* c = make("c");
  c->SetEnabled(true);
  a->SetEnabled(true);
  b->SetEnabled(true);
  Application->RunFor(200);
  EXPECT_EQ(order, (std::vector<std::string>{"c", "a", "b", "c", "a", "b"}));
}

// Many timers with mixed intervals, some stopped, re-timed or freed midway,
// fire in the order of a plain model: at each due time, by due time and then
// by when they were last armed. Also where the queue's arming numbers run
// out midway and start again.
struct ManyTimers : TimerTest, testing::WithParamInterface<uint32_t> {};

TEST_P(ManyTimers, FireInDueThenArmingOrder) {
  vcl_internal::SetNextTimerSequence(GetParam());
  constexpr int kCount = 60;
  struct Model {
    uint64_t due, seq;
    Cardinal interval;
    bool armed;
  };
  std::vector<Model> model;
  uint64_t seq = 0;
  std::vector<std::pair<uint64_t, int>> fired, expected;
  std::vector<TTimer*> timers;
  auto make = [&](int i) {
    auto* t = new TTimer(&Owner);
    t->SetEnabled(false);
    t->SetInterval(static_cast<Cardinal>((i * 37) % 23 + 1));
    t->SetOnTimer([this, &fired, i](TObject*) { fired.emplace_back(Elapsed(), i); });
    timers.push_back(t);
    model.push_back(Model{0, 0, t->Interval(), false});
  };
  for (int i = 0; i < kCount; ++i) make(i);
  auto arm = [&](int i, uint64_t now) { model[i] = Model{now + model[i].interval, ++seq, model[i].interval, true}; };
  for (int i = kCount - 1; i >= 0; i -= 2) timers[i]->SetEnabled(true), arm(i, 0);
  for (int i = 0; i < kCount; i += 2) timers[i]->SetEnabled(true), arm(i, 0);
  auto runModel = [&](uint64_t from, uint64_t to) {
    for (uint64_t now = from + 1; now <= to; ++now) {
      std::vector<int> due;
      for (int i = 0; i < static_cast<int>(model.size()); ++i)
        if (model[i].armed && model[i].due <= now) due.push_back(i);
      std::sort(due.begin(), due.end(), [&](int a, int b) { return model[a].seq < model[b].seq; });
      for (int i : due) expected.emplace_back(now, i), arm(i, now);
    }
  };
  Application->RunFor(50);
  runModel(0, 50);
  for (int i = 0; i < kCount; ++i) {
    if (i % 11 == 3) {
      delete timers[i];
      model[i].armed = false;
    } else if (i % 5 == 1) {
      timers[i]->SetEnabled(false);
      model[i].armed = false;
    } else if (i % 7 == 2) {
      // Re-timed again and again: what the queue leaves behind for those
      // outnumbers the armed timers.
      for (int k = 0; k < 8; ++k) {
        timers[i]->SetInterval(timers[i]->Interval() + 1);
        model[i].interval += 1;
        arm(i, 50);
      }
    }
  }
  // New timers take the places the freed ones left in the queue's tables.
  for (int i = kCount; i < kCount + 4; ++i) make(i), timers[i]->SetEnabled(true), arm(i, 50);
  Application->RunFor(150);
  runModel(50, 200);
  EXPECT_EQ(fired, expected);
}
INSTANTIATE_TEST_SUITE_P(TimerTest, ManyTimers, testing::Values(1u, UINT32_MAX - 400u));

TEST_F(TimerTest, HandlerDisablingALaterTimerOfTheSamePassStopsIt) {
  Times aFired, bFired;
  TTimer* b = nullptr;
  auto* a = new TTimer(&Owner);
  a->SetInterval(100);
  a->SetOnTimer([&](TObject*) {
    aFired.push_back(Elapsed());
    b->SetEnabled(false);
  });
  b = Recording(100, bFired);  // armed after a: due together, runs after it
  Application->RunFor(300);
  EXPECT_EQ(aFired, (Times{100, 200, 300}));
  EXPECT_TRUE(bFired.empty());
}

TEST_F(TimerTest, HandlerRearmingALaterTimerOfTheSamePassDefersIt) {
  Times aFired, bFired;
  TTimer* b = nullptr;
  auto* a = new TTimer(&Owner);
  a->SetInterval(100);
  a->SetOnTimer([&](TObject*) {
    aFired.push_back(Elapsed());
    a->SetEnabled(false);
    b->SetEnabled(false);
    b->SetEnabled(true);  // a fresh interval from 100
  });
  b = Recording(100, bFired);
  Application->RunFor(300);
  EXPECT_EQ(aFired, (Times{100}));
  EXPECT_EQ(bFired, (Times{200, 300}));
}

TEST_F(TimerTest, HandlerFreeingALaterTimerOfTheSamePassIsSafe) {
  Times aFired, bFired;
  TTimer* b = nullptr;
  auto* a = new TTimer(&Owner);
  a->SetInterval(100);
  a->SetOnTimer([&](TObject*) {
    aFired.push_back(Elapsed());
    delete b;
    b = nullptr;
    a->SetEnabled(false);
  });
  b = Recording(100, bFired);
  Application->RunFor(300);
  EXPECT_EQ(aFired, (Times{100}));
  EXPECT_TRUE(bFired.empty());
  EXPECT_EQ(Owner.ComponentCount(), 1);
}

TEST_F(TimerTest, HandlerReenablingItselfStartsAFreshInterval) {
  Times fired;
  TTimer* t = Recording(100, fired);
  t->SetOnTimer([&](TObject*) {
    fired.push_back(Elapsed());
    t->SetEnabled(false);  // the component's pattern: stop first...
    Sleep(30);             // ...do some work that takes time...
    t->SetEnabled(true);   // ...then re-arm from now
  });
  Application->RunFor(400);
  EXPECT_EQ(fired, (Times{100, 230, 360}));
  t->SetEnabled(false);
}

TEST_F(TimerTest, EnablingStartsAFreshIntervalFromNow) {
  Times fired;
  TTimer* t = Recording(100, fired);
  t->SetEnabled(false);
  Application->RunFor(70);
  t->SetEnabled(true);
  t->SetEnabled(true);  // already enabled: no restart
  Application->RunFor(100);
  EXPECT_EQ(fired, (Times{170}));
  t->SetEnabled(false);
}

TEST_F(TimerTest, ChangingTheIntervalOfAnEnabledTimerRestartsIt) {
  Times fired;
  TTimer* t = Recording(100, fired);
  Application->RunFor(50);
  t->SetInterval(300);
  Application->RunFor(400);
  EXPECT_EQ(fired, (Times{350}));
  t->SetInterval(300);  // the same interval again changes nothing
  Application->RunFor(200);
  EXPECT_EQ(fired, (Times{350, 650}));
  // A disabled timer takes the new interval quietly.
  t->SetEnabled(false);
  t->SetInterval(40);
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);
}

TEST_F(TimerTest, HandlerMayFreeItsOwnTimer) {
  int ticks = 0;
  auto* t = new TTimer(&Owner);
  t->SetInterval(10);
  t->SetOnTimer([&, big = std::string(200, 'x')](TObject* Sender) {
    ++ticks;
    EXPECT_EQ(Sender, t);
    delete t;
    // The handler object itself must survive its timer's destruction.
    EXPECT_EQ(big.size(), 200u);
  });
  Application->RunFor(100);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(Owner.ComponentCount(), 0);
}

TEST_F(TimerTest, HandlerMayFreeTheTimersOwner) {
  auto* owner = new TComponent(nullptr);
  auto* first = new TTimer(owner);
  auto* second = new TTimer(owner);  // due in the same pass
  int firstTicks = 0, secondTicks = 0;
  first->SetInterval(100);
  second->SetInterval(100);
  first->SetOnTimer([&](TObject*) {
    ++firstTicks;
    delete owner;
  });
  second->SetOnTimer([&](TObject*) { ++secondTicks; });
  Application->RunFor(500);
  EXPECT_EQ(firstTicks, 1);
  EXPECT_EQ(secondTicks, 0);
  EXPECT_EQ(NextTimerDue(), UINT64_MAX);
}

TEST_F(TimerTest, HandlerMayRunANestedLoop) {
  Times aFired, bFired;
  bool insideA = false;
  int reentered = 0;
  TTimer* a = Recording(100, aFired);
  Recording(120, bFired);
  a->SetOnTimer([&](TObject*) {
    if (insideA) ++reentered;
    insideA = true;
    aFired.push_back(Elapsed());
    if (aFired.size() == 1) Application->RunFor(150);  // a modal wait inside the tick
    insideA = false;
  });
  Application->RunFor(300);
  EXPECT_EQ(reentered, 0);
  // A fired at 100 and waited until 250 while B ticked at 120 and 240; A's
  // own tick due at 200 fell inside its handler and was skipped.
  EXPECT_EQ(aFired, (Times{100, 300}));
  EXPECT_EQ(bFired, (Times{120, 240}));
  Application->RunFor(100);
  EXPECT_EQ(aFired, (Times{100, 300, 400}));
  EXPECT_EQ(bFired, (Times{120, 240, 360}));
}

TEST_F(TimerTest, TimerFiredByANestedPassIsNotFiredAgainByTheOuterOne) {
  Times aFired, bFired;
  auto* a = new TTimer(&Owner);
  a->SetInterval(100);
  a->SetOnTimer([&](TObject*) {
    aFired.push_back(Elapsed());
    Application->ProcessMessages();  // fires b inside a's tick
    EXPECT_EQ(bFired.size(), aFired.size());
  });
  Recording(100, bFired);  // due together with a, after it
  Application->RunFor(200);
  EXPECT_EQ(aFired, (Times{100, 200}));
  EXPECT_EQ(bFired, (Times{100, 200}));
}

TEST_F(TimerTest, LateTimerSkipsMissedPeriodsInsteadOfBursting) {
  Times fast, slow;
  Recording(100, fast);
  TTimer* blocker = Recording(150, slow);
  blocker->SetOnTimer([&](TObject*) {
    slow.push_back(Elapsed());
    blocker->SetEnabled(false);
    Sleep(350);  // blocks the loop until 500
  });
  Application->RunFor(700);
  EXPECT_EQ(slow, (Times{150}));
  // Due at 200, 300, 400 while blocked: one late tick at 500, then on period.
  EXPECT_EQ(fast, (Times{100, 500, 600, 700}));
}

TEST_F(TimerTest, IntervalZeroFiresOnEachMillisecond) {
  Times fired;
  TTimer* t = Recording(0, fired);
  EXPECT_EQ(NextTimerDue(), QuorClockNow() + 1);
  Application->ProcessMessages();  // not due at the very reading it was armed
  EXPECT_TRUE(fired.empty());
  Application->RunFor(3);
  EXPECT_EQ(fired, (Times{1, 2, 3}));
  t->SetEnabled(false);
}

TEST_F(TimerTest, ExceptionFromAHandlerReachesOnExceptionAndTicksGoOn) {
  Times fired;
  auto* failing = new TTimer(&Owner);
  failing->SetInterval(100);
  int attempts = 0;
  failing->SetOnTimer([&](TObject*) {
    ++attempts;
    throw Exception("tick " + std::to_string(attempts) + " failed");
  });
  auto* thrower = new TTimer(&Owner);
  thrower->SetInterval(100);
  thrower->SetOnTimer([](TObject*) { throw 42; });
  Recording(100, fired);  // due in the same passes, after the failing ones
  Application->RunFor(200);
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(fired, (Times{100, 200}));
  EXPECT_EQ(Errors,
            (std::vector<std::string>{"tick 1 failed", "Unknown exception", "tick 2 failed", "Unknown exception"}));
}

}  // namespace
