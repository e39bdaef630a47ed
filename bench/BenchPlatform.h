// What the benchmarks need from the operating system, one source file per
// platform (BenchPlatform_linux.cpp, BenchPlatform_windows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorbench {

// Sets an environment variable of this process (the simulated RAS service
// reads its phonebook and state folder from the environment).
void SetEnv(const std::string& Name, const std::string& Value);

// Peak resident set size of this process in KiB, 0 when unknown.
uint64_t PeakRssKiB();

// CPU time of the calling thread in ns.
double ThreadCpuNs();

// Bytes of the C heap in use now (every module of the process); -1 when unknown.
int64_t HeapInUse();

// The anchor of the cross-thread figures: Count wake-up round trips between
// two threads through the kernel's plainest wait object (eventfd on Linux),
// in ns per round trip; 0 where there is none.
double KernelRoundTripNs(int64_t Count);

// How often a process (0: this one) has gone to sleep, all its threads
// together (voluntary context switches); -1 when unknown.
int64_t SleepCount(int Pid);

// CPU time a process (0: this one) has used so far, all its threads
// together, in ms; -1 when unknown.
double ProcessCpuMs(int Pid);

// A program run beside the benchmark, its standard output in a pipe.
struct Child {
  int Pid = 0;
  int Out = -1;
};
// False where programs cannot be run this way.
bool StartChild(const std::vector<std::string>& Argv, Child& C);
// Waits up to Ms for output and appends it to Text; false when none came.
bool ReadChild(Child& C, int Ms, std::string& Text);
// The anchor of the Ctrl-C figures: a process (forked from this one) that
// says "ready" once it can take Ctrl-C, sleeps until it comes and then
// writes Line to its standard output from the signal handler itself, the
// least any program can do; false where there is none.
bool StartSignalEcho(const char* Line, Child& C);
// Asks the program to stop as Ctrl-C does.
void InterruptChild(const Child& C);
// Waits up to Ms for it to end (then kills it); its exit code, or -1.
int WaitChild(Child& C, int Ms);

// Writes every file system's pending changes out (Linux: sync), so that a
// timed region does not also pay for the writeback of files an earlier one
// created or removed.
void FlushFileSystems();

// The folder of this program.
std::string ProgramDir();

}  // namespace quorbench
