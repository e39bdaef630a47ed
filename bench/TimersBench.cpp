// The host framework's timer queue: one queue keyed by due time for every
// timer of the process. Arming, disarming and firing must stay cheap with
// many timers armed (logarithmic in their number).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <queue>
#include <utility>
#include <vector>

#include "Vcl/Vcl.h"
#include "Win32/Clock.h"
#include "bench/BenchSupport.h"

namespace {

// Far beyond any clock reading a benchmark run reaches, so these never fire.
constexpr Cardinal kFarAway = 0xF0000000u;

// Count timers armed with a long interval, as the background of a benchmark.
class ArmedTimers {
 public:
  explicit ArmedTimers(int64_t Count, Cardinal Interval = kFarAway) {
    fTimers.reserve(static_cast<size_t>(Count));
    for (int64_t i = 0; i < Count; ++i) {
      auto t = std::make_unique<TTimer>(nullptr);
      t->SetEnabled(false);
      t->SetInterval(Interval);
      t->SetOnTimer([this](TObject*) { ++Fired; });
      t->SetEnabled(true);
      fTimers.push_back(std::move(t));
    }
  }
  uint64_t Fired = 0;

 private:
  std::vector<std::unique_ptr<TTimer>> fTimers;
};

}  // namespace

// Enabling and disabling one timer while range(0) others are armed.
static void BM_Timer_ArmDisarm(benchmark::State& State) {
  ArmedTimers background(State.range(0));
  TTimer timer(nullptr);
  timer.SetEnabled(false);
  timer.SetInterval(500);
  timer.SetOnTimer([](TObject*) {});
  for (auto _ : State) {
    timer.SetEnabled(true);
    timer.SetEnabled(false);
  }
  State.SetItemsProcessed(State.iterations());
  State.SetComplexityN(State.range(0));
}
BENCHMARK(BM_Timer_ArmDisarm)->RangeMultiplier(8)->Range(8, 1 << 16)->Complexity(benchmark::oLogN);

// Changing the interval of an enabled timer (disarm + arm at a new due time)
// while range(0) others are armed: what TQuor does for each redial.
static void BM_Timer_Rearm(benchmark::State& State) {
  ArmedTimers background(State.range(0));
  TTimer timer(nullptr);
  timer.SetInterval(500);
  timer.SetOnTimer([](TObject*) {});
  Cardinal interval = 500;
  for (auto _ : State) {
    interval = interval == 500 ? 100 : 500;
    timer.SetInterval(interval);
  }
  State.SetItemsProcessed(State.iterations());
  State.SetComplexityN(State.range(0));
}
BENCHMARK(BM_Timer_Rearm)->RangeMultiplier(8)->Range(8, 1 << 16)->Complexity(benchmark::oLogN);

// One pass of the message loop that fires the one due timer while range(0)
// others are armed: a 1 ms timer ticking once per clock millisecond.
static void BM_Timer_FireOneDue(benchmark::State& State) {
  ArmedTimers background(State.range(0));
  uint64_t ticks = 0;
  TTimer timer(nullptr);
  timer.SetInterval(1);
  timer.SetOnTimer([&ticks](TObject*) { ++ticks; });
  for (auto _ : State) {
    QuorClockAdvance(1);
    Application->ProcessMessages();
  }
  timer.SetEnabled(false);
  if (ticks != static_cast<uint64_t>(State.iterations()) || background.Fired != 0)
    return State.SkipWithError("the wrong timers fired");
  State.SetItemsProcessed(static_cast<int64_t>(ticks));
  State.counters["ticks/s"] = benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kIsRate);
  State.SetComplexityN(State.range(0));
}
BENCHMARK(BM_Timer_FireOneDue)->RangeMultiplier(8)->Range(8, 1 << 16)->Complexity(benchmark::oLogN);

// range(0) timers that all fall due at once, fired by one pass of the loop
// (each tick collects, runs and re-arms one timer).
// The anchor is a std::priority_queue of (due time, timer) pairs doing the
// same: pop every due entry, call the timer through a pointer, push it again.
// For the ratio Quor is timed as its anchor is (the best of three rounds of
// as many ticks), in turn with it, twice, so a neighbour's load on a shared
// machine weighs on both sides alike; `loop_ns` is the benchmark loop's mean.
static void BM_Timer_FireAllDue(benchmark::State& State) {
  ArmedTimers timers(State.range(0), 1);
  quorbench::LoopClock clock;
  for (auto _ : State) {
    QuorClockAdvance(1);
    Application->ProcessMessages();
  }
  const double loopNs = clock.NsPerItem(static_cast<double>(timers.Fired));
  if (timers.Fired != static_cast<uint64_t>(State.iterations()) * static_cast<uint64_t>(State.range(0)))
    return State.SkipWithError("a due timer did not fire");
  State.SetItemsProcessed(static_cast<int64_t>(timers.Fired));
  State.SetComplexityN(State.range(0));

  using Due = std::pair<uint64_t, uint32_t>;
  const auto count = static_cast<uint32_t>(State.range(0));
  const int rounds = static_cast<int>(std::max<uint32_t>(2, 500000 / count));
  const uint64_t firedBefore = timers.Fired;
  const auto quorRounds = [&] {
    for (int r = 0; r < rounds; ++r) {
      QuorClockAdvance(1);
      Application->ProcessMessages();
    }
  };
  uint64_t ticks = 0;
  void (*volatile tick)(uint64_t&) = [](uint64_t& n) { ++n; };
  const auto anchorRounds = [&] {
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> queue;
    for (uint32_t i = 0; i < count; ++i) queue.push({1, i});
    for (uint64_t now = 1; now <= static_cast<uint64_t>(rounds); ++now) {
      while (!queue.empty() && queue.top().first <= now) {
        const Due d = queue.top();
        queue.pop();
        tick(ticks);
        queue.push({now + 1, d.second});
      }
    }
  };
  const double items = static_cast<double>(rounds) * count;
  double ns = 0, anchor = 0;
  for (int turn = 0; turn < 2; ++turn) {
    const double q = quorbench::BestNsPerItem(quorRounds, items);
    const double a = quorbench::BestNsPerItem(anchorRounds, items);
    ns = turn == 0 ? q : std::min(ns, q);
    anchor = turn == 0 ? a : std::min(anchor, a);
  }
  if (timers.Fired - firedBefore != 6ull * static_cast<uint64_t>(rounds) * count)
    return State.SkipWithError("a due timer did not fire");
  if (ticks != 6ull * static_cast<uint64_t>(rounds) * count) return State.SkipWithError("the anchor lost ticks");
  State.counters["loop_ns"] = loopNs;
  State.counters["best_ns"] = ns;
  quorbench::ReportAnchor(State, "priority_queue", ns, anchor);
}
BENCHMARK(BM_Timer_FireAllDue)
    ->RangeMultiplier(8)
    ->Range(8, 1 << 15)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oNLogN);
