// The loop's handle on Windows: one manual-reset waitable timer, set to the
// next timer the loop has armed, or due at once when the interface keeps an
// event or a message is waiting. The thread's messages themselves wake the
// application's MsgWaitForMultipleObjects.
#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

struct Loop {
  HANDLE Timer = nullptr;
  ~Loop() {
    if (Timer != nullptr) CloseHandle(Timer);
  }
};

thread_local Loop tLoop;

void SetDue(int64_t Ms) {
  LARGE_INTEGER due;
  due.QuadPart = -(Ms <= 0 ? 1 : Ms * 10000);  // relative, in 100 ns
  SetWaitableTimer(tLoop.Timer, &due, 0, nullptr, nullptr, FALSE);
}

}  // namespace

void LoopAttach() {
  if (tLoop.Timer == nullptr) tLoop.Timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
}

void LoopWake() {
  if (tLoop.Timer != nullptr) SetDue(0);
}

void LoopDrain() {
  // Setting a manual-reset timer makes it non-signalled until it is due.
  if (tLoop.Timer != nullptr) SetDue(INT64_C(0x7FFFFFFF) * 1000);
}

void LoopRearm() {
  if (tLoop.Timer == nullptr) return;
  const int64_t wait = quor_loop_timeout();
  if (wait == 0) {
    SetDue(0);
  } else if (wait > 0 && !QuorClockIsVirtual()) {
    SetDue(wait);
  } else {
    LoopDrain();
  }
}

int LoopFd() {
  return -1;
}

void* LoopHandle() {
  return tLoop.Timer;
}

}  // namespace quorc
