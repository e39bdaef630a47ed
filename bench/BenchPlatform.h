// The two things the benchmarks need from the operating system, one source
// file per platform (BenchPlatform_linux.cpp, BenchPlatform_windows.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace quorbench {

// Sets an environment variable of this process (the simulated RAS service
// reads its phonebook and state folder from the environment).
void SetEnv(const std::string& Name, const std::string& Value);

// Peak resident set size of this process in KiB, 0 when unknown.
uint64_t PeakRssKiB();

}  // namespace quorbench
