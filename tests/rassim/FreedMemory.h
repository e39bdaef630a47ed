// Watches the blocks this process frees for given byte strings: whether a
// secret handed to the RAS library outlives its use in memory given back.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rassimtest::freed {

// Why freed blocks cannot be watched in this build (a sanitizer's allocator,
// a platform without symbol interposition); null when they can.
const char* Unavailable();

// From Start to Stop every block freed anywhere in the process is searched,
// just before it is given back, for each of the needles (at most 4, at most
// 128 bytes each); Stop returns, per needle, how many blocks held it. Start
// copies the needles: nothing the watch reads is freed while it runs.
void Start(const std::vector<std::string>& needles);
std::vector<size_t> Stop();

}  // namespace rassimtest::freed
