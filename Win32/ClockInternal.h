// Inside libquorwin32: the clock's reading as the message queues take it for
// every posted message, without a call while the clock is virtual. Not
// installed.
#pragma once

#include <atomic>
#include <cstdint>

#include "Win32/Clock.h"

namespace qw_clock {

// Copies of the virtual mode and reading, written by Clock.cpp under its
// lock (the reading first), read without it.
extern std::atomic<bool> gVirtualRead;
extern std::atomic<uint64_t> gVirtualReadNow;

inline uint64_t Now() {
  if (gVirtualRead.load(std::memory_order_acquire)) return gVirtualReadNow.load(std::memory_order_acquire);
  return QuorClockNow();
}

}  // namespace qw_clock
