// Shared helpers of the benchmarks: a heap allocation counter (the program
// replaces the global operator new), the private folder with the simulated
// RAS service's phonebook and state, and access to the service's control
// exports.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "Ras2/Ras2.h"
#include "RasSim/RasSimControl.h"

namespace quorbench {

// Heap allocations made through operator new in this process (all threads,
// every module: the program's replacement serves the shared libraries and
// the RAS module too).
struct AllocCount {
  uint64_t Count = 0;
  uint64_t Bytes = 0;
  uint64_t Frees = 0;  // operator delete of a non-null pointer
};
AllocCount Allocations();

// Counts the allocations between its construction and Report, and publishes
// them per item as counters "<prefix>allocs/<unit>" and "<prefix>bytes/<unit>".
class AllocMeter {
 public:
  AllocMeter() : fStart(Allocations()) {}
  void Report(benchmark::State& State, double Items, const std::string& Unit) const;
  // Also "retained/<unit>": allocations not freed again by the time of the
  // call (heap growth; 0 in a steady state).
  void ReportRetained(benchmark::State& State, double Items, const std::string& Unit) const;

 private:
  AllocCount fStart;
};

// The benchmark run's private folder (created by main, removed at exit),
// and the simulated service's files in it.
const std::filesystem::path& BenchDir();
void SetBenchDir(const std::filesystem::path& Dir);
std::filesystem::path PhonebookPath();

// The name of entry Index of the generated phonebooks: entry 0 is "Office".
std::string EntryName(int Index);
// The text of a phonebook of Count entries in the rasphone.pbk format, each
// with a device, a phone number and a few of the keys real phonebooks carry.
std::string PhonebookText(int Count);
// Replaces the service's phonebook with one of Count entries.
void WritePhonebook(int Count);
// Writes a whole file (binary, replacing it), dated a second back.
void WriteTextFile(const std::filesystem::path& Path, const std::string& Text);

// A control export of the loaded simulated service (null when the library
// loaded by the RAS binding is not ours).
FARPROC SimExport(const char* Name);
template <class T>
T SimFunction(const char* Name) {
  // Through the generic function pointer type, as GetProcAddress results are cast.
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(SimExport(Name)));
}

// Delays every dial event of the simulated service far into the future, so
// that only the events a benchmark posts itself reach a component; the
// destructor removes the delay.
class HoldDialEvents {
 public:
  HoldDialEvents();
  ~HoldDialEvents();
  HoldDialEvents(const HoldDialEvents&) = delete;
  HoldDialEvents& operator=(const HoldDialEvents&) = delete;
  bool Active() const { return fSet != nullptr; }

 private:
  TQuorRasSimSetStepDelay fSet = nullptr;
};

// Quor's figures beside an anchor measured in the same run: the time of a
// benchmark's own loop (started before it, read after it), and the anchor's
// time for the same work done with a plain container or a kernel object,
// both in ns per item. Work on one thread is timed in that thread's CPU time
// (what a loaded machine disturbs least); work that waits for another thread
// in wall time.
class LoopClock {
 public:
  enum Kind { kThreadCpu, kWall };
  explicit LoopClock(Kind K = kThreadCpu);
  double NsPerItem(double Items) const;

 private:
  double Now() const;
  Kind fKind;
  double fStart;
};
// The best of three timings of Body (this thread's CPU time), which handles
// Items items, in ns per item.
double BestNsPerItem(const std::function<void()>& Body, double Items);
// Publishes "<Name>_ns", the anchor's figure, and "x_<Name>", Quor's figure
// divided by it (nothing when the anchor could not be measured).
void ReportAnchor(benchmark::State& State, const std::string& Name, double QuorNs, double AnchorNs);

}  // namespace quorbench
