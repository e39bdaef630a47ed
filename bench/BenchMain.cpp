// quor_bench: speed and memory figures of the Win32 subset, the host
// framework's message loop and timers, the TQuor component and the
// simulated RAS service. Google Benchmark's usual options apply
// (--benchmark_filter, --benchmark_min_time, --benchmark_format=json).
//
// The run gets a private folder for the simulated service's phonebook,
// credentials and connection registry, so the user's own are never touched,
// and the clock is virtual (benchmarks that need real time switch to it and
// back): waiting for a dial costs no wall-clock time, only the work does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "Vcl/Vcl.h"
#include "Win32/Clock.h"
#include "bench/BenchPlatform.h"
#include "bench/BenchSupport.h"

namespace {

// Message boxes of the component (a failed phonebook read) go to stderr once
// each instead of waiting for a click.
class TBenchPresenter : public TMessagePresenter {
 public:
  void ShowMessage(const String& Msg) override { std::fprintf(stderr, "quor_bench: message box: %s\n", Msg.c_str()); }
  int MessageDlg(const String& Msg, TMsgDlgType, TMsgDlgButtons, int) override {
    ShowMessage(Msg);
    return mrOk;
  }
};

std::filesystem::path MakePrivateFolder() {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    std::filesystem::path p = std::filesystem::temp_directory_path() / ("quor-bench-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(p, ec)) return p;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const std::filesystem::path dir = MakePrivateFolder();
  if (dir.empty()) {
    std::fprintf(stderr, "quor_bench: cannot create a temporary folder\n");
    return 1;
  }
  quorbench::SetBenchDir(dir);
  quorbench::SetEnv("QUOR_RAS_PHONEBOOK", quorbench::PhonebookPath().string());
  quorbench::SetEnv("QUOR_RAS_CREDENTIALS", (dir / "credentials.dat").string());
  quorbench::SetEnv("QUOR_RAS_STATE_DIR", (dir / "state").string());
  quorbench::SetEnv("QUOR_RAS_DIALOG", (dir / "no-answers.txt").string());
  quorbench::SetEnv("QUOR_RAS_SCENARIO", "");
  quorbench::WritePhonebook(1);

  TBenchPresenter presenter;
  TMessagePresenter* previous = SetMessagePresenter(&presenter);
  QuorClockUseVirtual(1);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  SetMessagePresenter(previous);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::printf("peak RSS: %llu KiB\n", static_cast<unsigned long long>(quorbench::PeakRssKiB()));
  return 0;
}
