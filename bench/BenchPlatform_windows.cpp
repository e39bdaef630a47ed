#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <cstdlib>

#include "bench/BenchPlatform.h"

namespace quorbench {

void SetEnv(const std::string& Name, const std::string& Value) {
  _putenv_s(Name.c_str(), Value.c_str());
}

uint64_t PeakRssKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return static_cast<uint64_t>(counters.PeakWorkingSetSize) / 1024u;
}

namespace {

// A FILETIME's count of 100 ns ticks.
uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

double ThreadCpuNs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return static_cast<double>(Ticks(kernel) + Ticks(user)) * 100.0;
}

double ProcessCpuMs(int Pid) {
  HANDLE process = Pid == 0 ? GetCurrentProcess() : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Pid);
  if (process == nullptr) return -1;
  FILETIME created, exited, kernel, user;
  const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
  if (Pid != 0) CloseHandle(process);
  if (!known) return -1;
  return static_cast<double>(Ticks(kernel) + Ticks(user)) / 1e4;
}

// The figures below are taken on Linux only.
int64_t HeapInUse() {
  return -1;
}
double KernelRoundTripNs(int64_t) {
  return 0;
}
int64_t SleepCount(int) {
  return -1;
}
bool StartChild(const std::vector<std::string>&, Child&) {
  return false;
}
bool ReadChild(Child&, int, std::string&) {
  return false;
}
bool StartSignalEcho(const char*, Child&) {
  return false;
}
void InterruptChild(const Child&) {}
int WaitChild(Child&, int) {
  return -1;
}
void FlushFileSystems() {}  // nothing flushed here: timed runs may include writeback of earlier ones

std::string ProgramDir() {
  return ".";
}

}  // namespace quorbench
