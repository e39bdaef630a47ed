// Quor's one clock. The message loop, the host framework's timers, Sleep and
// the simulated RAS service all read it.
//
// By default it is the real monotonic clock. A test (or a deterministic demo)
// switches it to virtual time: the clock then stands still until somebody
// advances it, a Sleep(2000) advances it by 2000 ms at once without blocking,
// and callbacks scheduled on it run, in due order, inside the advance.
#pragma once

#include <cstdint>

#include "Win32/Win32Export.h"

extern "C" {

// Milliseconds since an arbitrary origin. Never goes backwards.
QUORWIN32_API uint64_t QuorClockNow(void);

// Switch between real (0) and virtual (non-zero) time. Switching to virtual
// time freezes the clock at its current reading; pending callbacks are kept.
QUORWIN32_API void QuorClockUseVirtual(int on);
QUORWIN32_API int QuorClockIsVirtual(void);

// Virtual time only (ignored on the real clock): move the clock forward by ms,
// running every scheduled callback that falls due on the way, each with the
// clock standing at its due time, in due order (ties in scheduling order).
QUORWIN32_API void QuorClockAdvance(uint64_t ms);
// Virtual time only: move the clock to an absolute reading (no-op if earlier).
QUORWIN32_API void QuorClockAdvanceTo(uint64_t when);

// Clock-aware sleep: on the virtual clock the same as QuorClockAdvance(ms);
// on the real clock the calling thread blocks for ms milliseconds.
QUORWIN32_API void QuorSleep(uint32_t ms);

// One-shot callbacks on the clock. On the real clock they run on a background
// thread of the library at their due time; on the virtual clock they run in
// the thread that advances the clock. A callback may schedule or cancel
// others. They are meant to post messages, which is thread-safe.
typedef void (*QuorClockCallback)(void* context);
// Returns a non-zero id.
QUORWIN32_API uint32_t QuorClockSchedule(uint32_t delayMs, QuorClockCallback callback, void* context);
// Returns non-zero when the callback was still pending and is now cancelled.
QUORWIN32_API int QuorClockCancel(uint32_t id);
// Cancels every pending callback of this function and waits until none of
// them is running on another thread: a library that is being unloaded takes
// its callbacks' code with it.
QUORWIN32_API void QuorClockCancelCallback(QuorClockCallback callback);
// Due time of the earliest pending callback, or UINT64_MAX when none.
QUORWIN32_API uint64_t QuorClockNextDue(void);

}  // extern "C"
