#include "bench/BenchSupport.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>

#include "bench/BenchPlatform.h"

namespace {

std::atomic<uint64_t> gAllocCount{0};
std::atomic<uint64_t> gAllocBytes{0};
std::atomic<uint64_t> gFreeCount{0};

void CountedFree(void* P) noexcept {
  if (P == nullptr) return;
  gFreeCount.fetch_add(1, std::memory_order_relaxed);
  std::free(P);
}

void* CountedAlloc(std::size_t Size) {
  gAllocCount.fetch_add(1, std::memory_order_relaxed);
  gAllocBytes.fetch_add(Size, std::memory_order_relaxed);
  void* p = std::malloc(Size == 0 ? 1 : Size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* CountedAllocNoThrow(std::size_t Size) noexcept {
  gAllocCount.fetch_add(1, std::memory_order_relaxed);
  gAllocBytes.fetch_add(Size, std::memory_order_relaxed);
  return std::malloc(Size == 0 ? 1 : Size);
}

std::filesystem::path gBenchDir;

}  // namespace

// The program's own global allocation functions: every operator new of the
// process comes here, so the benchmarks can count heap allocations.
void* operator new(std::size_t Size) {
  return CountedAlloc(Size);
}
void* operator new[](std::size_t Size) {
  return CountedAlloc(Size);
}
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
  return CountedAllocNoThrow(Size);
}
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
  return CountedAllocNoThrow(Size);
}
void operator delete(void* P) noexcept {
  CountedFree(P);
}
void operator delete[](void* P) noexcept {
  CountedFree(P);
}
void operator delete(void* P, std::size_t) noexcept {
  CountedFree(P);
}
void operator delete[](void* P, std::size_t) noexcept {
  CountedFree(P);
}
void operator delete(void* P, const std::nothrow_t&) noexcept {
  CountedFree(P);
}
void operator delete[](void* P, const std::nothrow_t&) noexcept {
  CountedFree(P);
}

namespace quorbench {

AllocCount Allocations() {
  return AllocCount{gAllocCount.load(std::memory_order_relaxed), gAllocBytes.load(std::memory_order_relaxed),
                    gFreeCount.load(std::memory_order_relaxed)};
}

void AllocMeter::Report(benchmark::State& State, double Items, const std::string& Unit) const {
  const AllocCount now = Allocations();
  const double n = Items > 0 ? Items : 1;
  State.counters["allocs/" + Unit] = static_cast<double>(now.Count - fStart.Count) / n;
  State.counters["heapB/" + Unit] = static_cast<double>(now.Bytes - fStart.Bytes) / n;
}

void AllocMeter::ReportRetained(benchmark::State& State, double Items, const std::string& Unit) const {
  const AllocCount now = Allocations();
  const double n = Items > 0 ? Items : 1;
  const double live = static_cast<double>(now.Count - fStart.Count) - static_cast<double>(now.Frees - fStart.Frees);
  State.counters["retained/" + Unit] = live / n;
}

const std::filesystem::path& BenchDir() {
  return gBenchDir;
}
void SetBenchDir(const std::filesystem::path& Dir) {
  gBenchDir = Dir;
}
std::filesystem::path PhonebookPath() {
  return gBenchDir / "rasphone.pbk";
}

std::string EntryName(int Index) {
  if (Index == 0) return "Office";
  char name[32];
  std::snprintf(name, sizeof(name), "Branch %04d", Index);
  return name;
}

std::string PhonebookText(int Count) {
  static const char* const kDevices[] = {"modem", "isdn", "vpn"};
  std::string text = "; phonebook of the benchmarks\n";
  for (int i = 0; i < Count; ++i) {
    char number[32];
    std::snprintf(number, sizeof(number), "555-%04d", i % 10000);
    // Appended piece by piece (GCC 12 misreports "a" + s + "b" chains under -O2).
    text += '[';
    text += EntryName(i);
    text += "]\nEncoding=1\nDEVICE=";
    text += kDevices[i % 3];
    text += "\nPhoneNumber=";
    text += number;
    text += "\nAreaCode=030\nCountryCode=49\nCountryID=49\nDialMode=1\nIpPrioritizeRemote=1\n\n";
  }
  return text;
}

void WriteTextFile(const std::filesystem::path& Path, const std::string& Text) {
  {
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Text;
  }
  // Dated a second back, as a phonebook that is not being edited is: the
  // service trusts its cached copy of a file only once the file's time is
  // past the file system's clock tick, and a benchmark should see the steady
  // state from its first call.
  std::error_code ignored;
  std::filesystem::last_write_time(Path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1),
                                   ignored);
}

void WritePhonebook(int Count) {
  WriteTextFile(PhonebookPath(), PhonebookText(Count));
}

FARPROC SimExport(const char* Name) {
  if (hLib == 0) return nullptr;
  return GetProcAddress(hLib, Name);
}

HoldDialEvents::HoldDialEvents() : fSet(SimFunction<TQuorRasSimSetStepDelay>("QuorRasSimSetStepDelay")) {
  if (fSet != nullptr) fSet(QUORRASSIM_ANY_STATE, 1000000000u);
}

HoldDialEvents::~HoldDialEvents() {
  if (fSet != nullptr) fSet(QUORRASSIM_ANY_STATE, QUORRASSIM_DEFAULT_DELAY);
}

LoopClock::LoopClock(Kind K) : fKind(K), fStart(0) {
  fStart = Now();
}

double LoopClock::Now() const {
  if (fKind == kThreadCpu) return ThreadCpuNs();
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double LoopClock::NsPerItem(double Items) const {
  return Items > 0 ? (Now() - fStart) / Items : 0;
}

double BestNsPerItem(const std::function<void()>& Body, double Items) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    LoopClock clock;
    Body();
    const double ns = clock.NsPerItem(Items);
    if (round == 0 || ns < best) best = ns;
  }
  return best;
}

void ReportAnchor(benchmark::State& State, const std::string& Name, double QuorNs, double AnchorNs) {
  if (AnchorNs <= 0) return;
  State.counters[Name + "_ns"] = AnchorNs;
  State.counters["x_" + Name] = QuorNs / AnchorNs;
}

}  // namespace quorbench
