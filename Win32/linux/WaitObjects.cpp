// Event objects of the Win32 subset: CreateEventA, SetEvent, ResetEvent,
// CloseHandle and WaitForSingleObject, with Windows' rules (manual-reset
// events stay signalled until reset; auto-reset events release one wait and
// reset themselves). MsgWaitForMultipleObjects (Messages.cpp) waits on
// them beside the thread's message queue; a SetEvent from any thread wakes it.
// Named events and security attributes are not supported: a name is refused.
#include "Win32/linux/WaitObjects.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Event {
  bool manualReset = false;
  bool signalled = false;
};

// Handle values of events: a range of their own, never reused in a process.
constexpr uint32_t kFirstEvent = 0x45560000u;

struct Events {
  std::mutex lock;
  std::condition_variable changed;
  std::map<uint32_t, Event> all;
  uint32_t next = kFirstEvent;
};

Events& E() {
  static Events* events = new Events;  // never destroyed: waits may run at exit
  return *events;
}

uint32_t Value(HANDLE h) {
  return static_cast<uint32_t>(h);
}

// With E().lock held.
bool Take(Event& e) {
  if (!e.signalled) return false;
  if (!e.manualReset) e.signalled = false;
  return true;
}

}  // namespace

namespace qw_wait {

int TakeSignalled(DWORD Count, const HANDLE* Handles) {
  Events& ev = E();
  std::lock_guard<std::mutex> held(ev.lock);
  for (DWORD i = 0; i < Count; ++i) {
    if (ev.all.find(Value(Handles[i])) == ev.all.end()) return -2;
  }
  for (DWORD i = 0; i < Count; ++i) {
    if (Take(ev.all[Value(Handles[i])])) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace qw_wait

extern "C" {

HANDLE WINAPI CreateEventA(LPVOID lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  (void)lpEventAttributes;
  if (lpName != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Events& ev = E();
  std::lock_guard<std::mutex> held(ev.lock);
  if (ev.next == 0) {  // the range is used up
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const uint32_t h = ev.next++;
  ev.all[h] = Event{bManualReset != FALSE, bInitialState != FALSE};
  return h;
}

namespace {

// Sets or clears the event's signal; false (with the error set) for a handle
// that is no event of ours.
bool MarkSignalled(HANDLE hEvent, bool signalled) {
  Events& ev = E();
  std::lock_guard<std::mutex> held(ev.lock);
  auto it = ev.all.find(Value(hEvent));
  if (it == ev.all.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  it->second.signalled = signalled;
  return true;
}

}  // namespace

BOOL WINAPI SetEvent(HANDLE hEvent) {
  if (!MarkSignalled(hEvent, true)) return FALSE;
  E().changed.notify_all();
  qw_wait::WakeQueueWaiters();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  return MarkSignalled(hEvent, false) ? TRUE : FALSE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  Events& ev = E();
  {
    std::lock_guard<std::mutex> held(ev.lock);
    if (ev.all.erase(Value(hObject)) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  ev.changed.notify_all();  // a wait on it ends
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  Events& ev = E();
  const uint32_t h = Value(hHandle);
  // WAIT_OBJECT_0 when signalled (taken), WAIT_FAILED when not an event, else WAIT_TIMEOUT.
  auto look = [&]() -> DWORD {
    auto it = ev.all.find(h);
    if (it == ev.all.end()) return WAIT_FAILED;
    return Take(it->second) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  };
  std::unique_lock<std::mutex> held(ev.lock);
  DWORD r = look();
  if (r != WAIT_TIMEOUT || dwMilliseconds == 0) {
    if (r == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return r;
  }
  if (QuorClockIsVirtual()) {
    // Nothing blocks on the virtual clock: it runs on through the callbacks
    // due within the timeout, one of which may signal the event.
    held.unlock();
    const bool forever = dwMilliseconds == INFINITE;
    const uint64_t deadline = forever ? UINT64_MAX : QuorClockNow() + dwMilliseconds;
    for (;;) {
      const uint64_t next = QuorClockNextDue();
      if (next == UINT64_MAX || next > deadline) {
        if (!forever) QuorClockAdvanceTo(deadline);
        held.lock();
        r = look();
        break;
      }
      QuorClockAdvanceTo(next);
      held.lock();
      r = look();
      if (r != WAIT_TIMEOUT) break;
      held.unlock();
    }
  } else {
    auto done = [&] { return (r = look()) != WAIT_TIMEOUT; };
    if (dwMilliseconds == INFINITE) {
      ev.changed.wait(held, done);
    } else {
      ev.changed.wait_for(held, std::chrono::milliseconds(dwMilliseconds), done);
    }
  }
  if (r == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
  return r;
}

}  // extern "C"
