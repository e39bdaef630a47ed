// quor_capi_bench: a dial event's way from the RAS library to a callback of
// the C interface (libquor), beside a bare call through a function pointer.
// Its own program, linked with libquor alone (the component lives inside that
// library). The simulated service's own dial events are held back; the
// program posts the RAS library's dial event message to the window RasDial was
// given, and each quor_loop_dispatch delivers what was posted: the
// component's handler, its status text, and the C interface's notify and
// state callbacks. The clock is virtual; CPU time of this thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "CApi/quor.h"
#include "Ras2/RasContract.h"
#include "RasSim/RasSimControl.h"
#include "Win32/Win32.h"
#include "bench/BenchPlatform.h"

namespace {

struct Counts {
  uint64_t States = 0;
  uint64_t Notes = 0;
};

void QUOR_CALL CountState(void* user, quor_dialer*, uint32_t, uint32_t) {
  ++static_cast<Counts*>(user)->States;
}
void QUOR_CALL CountNote(void* user, quor_dialer*, int32_t, const char* text) {
  if (text != nullptr && text[0] != '\0') ++static_cast<Counts*>(user)->Notes;
}

// The best of three timings of Body, which handles Items items, in ns per item.
template <class F>
double BestNsPerItem(F&& Body, double Items) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    const double start = quorbench::ThreadCpuNs();
    Body();
    const double ns = (quorbench::ThreadCpuNs() - start) / Items;
    if (round == 0 || ns < best) best = ns;
  }
  return best;
}

template <class T>
T SimFunction(const char* Name) {
  HMODULE ras = GetModuleHandleA("rasapi32.dll");
  if (ras == 0) return nullptr;
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(ras, Name)));
}

}  // namespace

// range(0) dial events (state Authenticate: its status text, the notify and
// the state callback) posted per quor_loop_dispatch. Anchor `fnptr`: the
// state callback called through a pointer the compiler cannot see through.
static void BM_CApi_DialEvent(benchmark::State& State) {
  Counts counts;
  quor_dialer* d = nullptr;
  if (quor_clock_virtual(1) != QUOR_OK || quor_dialer_new(&d) != QUOR_OK)
    return State.SkipWithError("quor_dialer_new failed");
  quor_set_text(d, QUOR_TEXT_ENTRY, "Office");
  quor_on_state_change(d, CountState, &counts);
  quor_on_notify(d, CountNote, &counts);
  const auto hold = SimFunction<TQuorRasSimSetStepDelay>("QuorRasSimSetStepDelay");
  const auto lastCall = SimFunction<TQuorRasSimLastCall>("QuorRasSimLastCall");
  if (hold == nullptr || lastCall == nullptr) {
    quor_dialer_free(d);
    return State.SkipWithError("not the simulated RAS service");
  }
  hold(QUORRASSIM_ANY_STATE, 1000000000u);
  uint64_t handle = 0;
  QuorRasSimCallInfo info{};
  info.dwSize = sizeof(info);
  if (quor_connect(d, &handle) != QUOR_OK || quor_loop_dispatch() != QUOR_OK || lastCall("RasDial", &info) != 0) {
    hold(QUORRASSIM_ANY_STATE, QUORRASSIM_DEFAULT_DELAY);
    quor_dialer_free(d);
    return State.SkipWithError("the dial did not start");
  }
  const auto wnd = static_cast<HWND>(info.dwNotifier);
  const UINT registered = RegisterWindowMessageA(RASDIALEVENT);
  const UINT msg = registered != 0 ? registered : WM_RASDIALEVENT;
  const int batch = static_cast<int>(State.range(0));
  const auto post = [&] {
    for (int i = 0; i < batch; ++i) PostMessageA(wnd, msg, RASCS_Authenticate, 0);
    quor_loop_dispatch();
  };
  counts = Counts{};
  for (auto _ : State) post();
  const auto events = static_cast<uint64_t>(State.iterations()) * static_cast<uint64_t>(batch);
  const bool allSeen = counts.States == events && counts.Notes == events;

  // Quor timed as its anchor is: the best of three rounds, in turn, twice.
  const int rounds = std::max(1, 20000 / batch);
  const double items = static_cast<double>(rounds) * batch;
  void(QUOR_CALL* volatile callback)(void*, quor_dialer*, uint32_t, uint32_t) = CountState;
  Counts anchorCounts;
  double ns = 0, anchor = 0;
  for (int turn = 0; turn < 2; ++turn) {
    const double q = BestNsPerItem(
        [&] {
          for (int r = 0; r < rounds; ++r) post();
        },
        items);
    const double a = BestNsPerItem(
        [&] {
          for (int r = 0; r < rounds; ++r) {
            for (int i = 0; i < batch; ++i) callback(&anchorCounts, d, RASCS_Authenticate, 0);
          }
        },
        items);
    ns = turn == 0 ? q : std::min(ns, q);
    anchor = turn == 0 ? a : std::min(anchor, a);
  }
  quor_hang_up(d);
  hold(QUORRASSIM_ANY_STATE, QUORRASSIM_DEFAULT_DELAY);
  quor_dialer_free(d);
  if (!allSeen) return State.SkipWithError("dial events were lost");
  if (anchorCounts.States != 6ull * static_cast<uint64_t>(items)) return State.SkipWithError("the anchor lost calls");
  State.SetItemsProcessed(static_cast<int64_t>(events));
  State.counters["best_ns"] = ns;
  State.counters["fnptr_ns"] = anchor;
  State.counters["x_fnptr"] = ns / anchor;
}
BENCHMARK(BM_CApi_DialEvent)->ArgName("batch")->Arg(1)->Arg(100);

int main(int argc, char** argv) {
  // A private phonebook, credentials file and state folder for the simulated service.
  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quor-capi-bench-" + std::to_string(std::random_device()()));
  if (!std::filesystem::create_directories(dir / "state", ec)) {
    std::fprintf(stderr, "quor_capi_bench: cannot make %s\n", dir.string().c_str());
    return 1;
  }
  std::ofstream(dir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n";
  quorbench::SetEnv("QUOR_RAS_PHONEBOOK", (dir / "rasphone.pbk").string());
  quorbench::SetEnv("QUOR_RAS_CREDENTIALS", (dir / "credentials.dat").string());
  quorbench::SetEnv("QUOR_RAS_STATE_DIR", (dir / "state").string());
  benchmark::Initialize(&argc, argv);
  const int rc = benchmark::ReportUnrecognizedArguments(argc, argv) ? 1 : 0;
  if (rc == 0) benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir, ec);
  return rc;
}
