// The Win32 subset on Linux: thread ids, the thread's last error, and the
// time and sleep calls, which are the process's one clock (Clock.cpp).
#include <unistd.h>

#include <atomic>

#include "Win32/linux/Win32Linux.h"

namespace qw_linux {

constinit thread_local DWORD tLastError = 0;

namespace {
std::atomic<DWORD> gLastThreadId{1000};
}  // namespace

DWORD ThisThreadId() {
  thread_local DWORD id = gLastThreadId.fetch_add(4) + 4;
  return id;
}

}  // namespace qw_linux

using namespace qw_linux;

extern "C" {

void WINAPI Sleep(DWORD dwMilliseconds) {
  QuorSleep(dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(QuorClockNow());
}

DWORD WINAPI GetCurrentThreadId(void) {
  return ThisThreadId();
}

DWORD WINAPI GetCurrentProcessId(void) {
  return static_cast<DWORD>(getpid());
}

DWORD WINAPI GetLastError(void) {
  return tLastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  tLastError = dwErrCode;
}

}  // extern "C"
