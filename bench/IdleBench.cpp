// What an idle dialer costs, on the real clock: how often a connected
// component (and one waiting out a long redial pause) wakes up in this
// process's message loop, and the same for the quor tool run as a program
// (`quor dial`), plus how long the tool takes to act on Ctrl-C. Wake-ups are
// the times the process's threads went to sleep (Linux: /proc).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/Vcl.h"
#include "Win32/Clock.h"
#include "bench/BenchPlatform.h"
#include "bench/BenchSupport.h"

namespace {

constexpr int kWatchMs = 3000;   // how long the idle dialer is watched
constexpr Byte kLongPause = 60;  // seconds of the redial pause watched

// The notice the component gives once the pause before a redial begins.
constexpr char kPauseNotice[] = "Retrying in ";

enum Phase { kConnected = 0, kRedialPause = 1 };

// The service dials at once (1 ms per state); in the pause phase the line is
// busy, so the dialer waits for its redial.
void UseScenario(Phase P) {
  const auto path = quorbench::BenchDir() / "idle-scenario.ini";
  quorbench::WriteTextFile(path, P == kConnected ? "[*]\nStepDelay=1ms\nTeardown=10ms\n"
                                                 : "[*]\nStepDelay=1ms\nOutcome=busy\nErrorDelay=1ms\n");
  quorbench::SetEnv("QUOR_RAS_SCENARIO", path.string());
}

// Real time for the length of a benchmark, the scenario file removed again.
struct RealTime {
  explicit RealTime(Phase P) {
    UseScenario(P);
    QuorClockUseVirtual(0);
  }
  ~RealTime() {
    QuorClockUseVirtual(1);
    quorbench::SetEnv("QUOR_RAS_SCENARIO", "");
  }
};

// An error text with details; kept, since the library may keep only the pointer.
void SkipWith(benchmark::State& State, const std::string& Text) {
  static std::string kept;
  kept = Text;
  State.SkipWithError(kept.c_str());
}

// How often a process went to sleep over a watch, and the CPU time it used
// (-1 when unknown).
struct IdleCost {
  int64_t Sleeps = 0;
  double CpuMs = -1;
};

// The cost of a process (0: this one) while Watch runs.
IdleCost CostOf(int Pid, const std::function<void()>& Watch) {
  const int64_t sleeps = quorbench::SleepCount(Pid);
  const double cpu = quorbench::ProcessCpuMs(Pid);
  Watch();
  IdleCost cost;
  cost.Sleeps = quorbench::SleepCount(Pid) - sleeps;
  const double cpuAfter = quorbench::ProcessCpuMs(Pid);
  if (cpu >= 0 && cpuAfter >= 0) cost.CpuMs = cpuAfter - cpu;
  return cost;
}

void ReportIdle(benchmark::State& State, const IdleCost& Cost, double Seconds) {
  State.counters["wakeups/s"] = static_cast<double>(Cost.Sleeps) / Seconds;
  if (Cost.CpuMs >= 0) State.counters["cpu_ms/s"] = Cost.CpuMs / Seconds;
}

}  // namespace

// A component in this process's loop, connected (its 500 ms status watch)
// or in a 60 s redial pause after a busy line.
static void BM_Idle_Component(benchmark::State& State) {
  const auto phase = static_cast<Phase>(State.range(0));
  if (quorbench::SleepCount(0) < 0) return State.SkipWithError("no wake-up count on this system");
  quorbench::WritePhonebook(1);
  RealTime realTime(phase);
  TQuor q(nullptr);
  bool connected = false, pausing = false;
  q.SetEntryName("Office");
  q.SetRedialAttempts(phase == kConnected ? 0 : 1);
  q.SetRedialPause(kLongPause);
  q.SetOnConnect([&](TObject*) { connected = true; });
  q.SetOnNotify([&](Integer, String Text) { pausing = pausing || Text.rfind(kPauseNotice, 0) == 0; });
  if (!q.RasInitialized || q.Connect() == 0) return State.SkipWithError("Connect failed");
  const bool settled = Application->RunUntil([&] { return phase == kConnected ? connected : pausing; }, 10000);
  Application->RunFor(200);
  if (!settled || (phase == kRedialPause && connected)) {
    q.Disconnect();
    return State.SkipWithError("the dial did not reach the watched state");
  }
  IdleCost cost;
  for (auto _ : State) cost = CostOf(0, [] { Application->RunFor(kWatchMs); });
  q.Disconnect();
  ReportIdle(State, cost, kWatchMs / 1000.0);
}
BENCHMARK(BM_Idle_Component)->ArgName("pause")->Arg(kConnected)->Arg(kRedialPause)->Iterations(1);

// The hang-up of a connected component on the real clock against the
// service's default teardown (1 s): the classic fixed 2000 ms pause (fast:0)
// against waiting until the status says the connection is gone (fast:1).
// "hangup_ms" is how long Disconnect held the caller (and its message loop).
static void BM_Idle_HangUp(benchmark::State& State) {
  const bool fast = State.range(0) != 0;
  quorbench::WritePhonebook(1);
  const auto path = quorbench::BenchDir() / "hangup-scenario.ini";
  quorbench::WriteTextFile(path, "[*]\nStepDelay=1ms\nTeardown=1000ms\n");
  quorbench::SetEnv("QUOR_RAS_SCENARIO", path.string());
  QuorClockUseVirtual(0);
  TQuor q(nullptr);
  bool connected = false;
  q.SetEntryName("Office");
  q.SetRedialAttempts(0);
  q.SetFastHangUp(fast);
  q.SetOnConnect([&](TObject*) { connected = true; });
  double held = 0;
  std::string problem;
  for (auto _ : State) {
    connected = false;
    if (!q.RasInitialized || q.Connect() == 0 || !Application->RunUntil([&] { return connected; }, 10000)) {
      problem = "the dial did not connect";
      break;
    }
    const auto t0 = std::chrono::steady_clock::now();
    q.Disconnect();
    held = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }
  QuorClockUseVirtual(1);
  quorbench::SetEnv("QUOR_RAS_SCENARIO", "");
  if (!problem.empty()) return SkipWith(State, problem);
  State.counters["hangup_ms"] = held;
}
BENCHMARK(BM_Idle_HangUp)->ArgName("fast")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

namespace {

// `quor dial` run as a program beside this one (same phonebook and service
// state), read until it reaches the watched state; false (its output in Out)
// when it does not within 10 s.
bool StartQuorDial(Phase P, quorbench::Child& C, std::string& Out) {
  const std::string quor = quorbench::ProgramDir() + "/quor";
  std::vector<std::string> argv = {quor, "dial", "Office", "--json"};
  if (P == kRedialPause) argv.insert(argv.end(), {"--redial", "1", "--pause", std::to_string(kLongPause)});
  Out.clear();
  if (!quorbench::StartChild(argv, C)) {
    Out = "cannot run " + quor;
    return false;
  }
  const std::string awaited = P == kConnected ? "\"event\":\"connect\"" : kPauseNotice;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Out.find(awaited) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    quorbench::ReadChild(C, 100, Out);
  }
  if (Out.find(awaited) != std::string::npos) return true;
  quorbench::WaitChild(C, 0);
  return false;
}

// Reads (and keeps) whatever the program says for Ms.
void Listen(quorbench::Child& C, int Ms, std::string& Out) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    quorbench::ReadChild(C, static_cast<int>(left) + 1, Out);
  }
}

// Ctrl-C, then the time until the program's "Disconnecting..." line in ms;
// -1 when it did not say so or did not then end with exit code 0.
double StopMs(quorbench::Child& C, std::string& Out) {
  const size_t seen = Out.size();
  const auto signalled = std::chrono::steady_clock::now();
  quorbench::InterruptChild(C);
  while (Out.find("Disconnecting...", seen) == std::string::npos && quorbench::ReadChild(C, 5000, Out)) {
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - signalled).count();
  const bool said = Out.find("Disconnecting...", seen) != std::string::npos;
  return quorbench::WaitChild(C, 10000) == 0 && said ? ms : -1;
}

// Sorts the samples and gives the middle one.
double MedianOf(std::vector<double>& Samples) {
  std::sort(Samples.begin(), Samples.end());
  return Samples[Samples.size() / 2];
}

// The anchor of the Ctrl-C figures, taken as they are: the median time from
// the signal to the line of a process whose signal handler writes it, each
// signalled after a second asleep; -1 where there is no such process.
double AnchorStopMs(int Samples, int IdleMs) {
  std::vector<double> stops;
  for (int i = 0; i < Samples; ++i) {
    quorbench::Child echo;
    std::string out;
    if (!quorbench::StartSignalEcho("Disconnecting...\n", echo)) return -1;
    while (out.find("ready") == std::string::npos && quorbench::ReadChild(echo, 5000, out)) {
    }
    Listen(echo, IdleMs, out);
    const double ms = StopMs(echo, out);
    if (ms < 0) return -1;
    stops.push_back(ms);
  }
  return MedianOf(stops);
}

}  // namespace

// The same for `quor dial`, then Ctrl-C. The wake-ups are counted over one
// watch; "stop_ms" is the median time from the signal to the tool's
// "Disconnecting..." line over kStopSamples programs, each signalled after
// it has been idle in the watched state for a second at least (the first
// after the watch), "stop_max_ms" the longest of them; "anchor_stop_ms" the
// same for a process that writes the line in its signal handler, "x_stop"
// the ratio.
static void BM_Idle_QuorDial(benchmark::State& State) {
  constexpr int kStopSamples = 5;
  constexpr int kIdleBeforeStopMs = 1000;
  const auto phase = static_cast<Phase>(State.range(0));
  quorbench::WritePhonebook(1);
  RealTime realTime(phase);
  quorbench::Child child;
  std::string out;
  if (!StartQuorDial(phase, child, out)) return SkipWith(State, "quor dial did not reach the watched state: " + out);
  while (quorbench::ReadChild(child, 200, out)) {
  }
  IdleCost cost;
  std::vector<double> stops;
  for (auto _ : State) cost = CostOf(child.Pid, [&] { Listen(child, kWatchMs, out); });
  for (int i = 0;; ++i) {
    const double ms = StopMs(child, out);
    if (ms < 0) return SkipWith(State, "quor dial did not stop cleanly on Ctrl-C: " + out);
    stops.push_back(ms);
    if (i + 1 == kStopSamples) break;
    if (!StartQuorDial(phase, child, out)) return SkipWith(State, "quor dial did not reach the watched state: " + out);
    Listen(child, kIdleBeforeStopMs, out);
  }
  ReportIdle(State, cost, kWatchMs / 1000.0);
  const double median = MedianOf(stops);
  State.counters["stop_ms"] = median;
  State.counters["stop_max_ms"] = stops.back();  // sorted by MedianOf
  const double anchor = AnchorStopMs(kStopSamples, kIdleBeforeStopMs);
  if (anchor > 0) {
    State.counters["anchor_stop_ms"] = anchor;
    State.counters["x_stop"] = median / anchor;
  }
}
BENCHMARK(BM_Idle_QuorDial)->ArgName("pause")->Arg(kConnected)->Arg(kRedialPause)->Iterations(1);
