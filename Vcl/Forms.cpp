// The application object and its message loop.
//
// One pass of the loop (ProcessMessages) handles what is due at the current
// clock reading: clock callbacks already due (virtual clock), then every due
// timer, then the messages posted to this thread's queue. A pass is bounded:
// it stops at a mark it posts behind the messages already queued, so a
// handler that keeps re-posting itself is handled once per pass and never
// holds the loop.
#include <algorithm>
#include <climits>
#include <vector>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {

TApplication gApplication;

// Bounds the passes spent on one clock reading by RunFor/RunUntil/Run while
// messages keep arriving at that reading (a message that re-posts itself
// forever); the loop then moves on with the clock.
constexpr int kMaxPassesPerReading = 1000;
// Bounds a pass when its end mark could not be posted.
constexpr int kUnmarkedPassLimit = 10000;

UINT PassMarkMessage() {
  static const UINT mark = RegisterWindowMessageA("QuorVclPassEnd");
  return mark;
}

// The marks of the passes running on this thread, innermost last (a
// handler may run a nested loop).
thread_local std::vector<WPARAM> tActivePasses;
thread_local WPARAM tLastPassId = 0;

bool MessageQueued() {
  MSG msg;
  return PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE) != FALSE;
}

// Dispatches the messages queued when it starts (and those queued behind
// them before its mark). Returns how many it handled.
int DispatchQueued(TApplication& App) {
  const UINT mark = PassMarkMessage();
  const WPARAM id = ++tLastPassId;
  const bool marked = mark != 0 && PostThreadMessageA(GetCurrentThreadId(), mark, id, 0) != FALSE;
  if (marked) tActivePasses.push_back(id);
  int handled = 0;
  MSG msg;
  while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    if (mark != 0 && msg.hwnd == 0 && msg.message == mark) {
      if (marked && msg.wParam == id) break;
      // The mark of an enclosing pass (seen by a nested loop): it goes back
      // behind ours, for its own pass to find. Marks of passes that are over
      // are dropped.
      if (std::find(tActivePasses.begin(), tActivePasses.end(), msg.wParam) != tActivePasses.end()) {
        PostThreadMessageA(GetCurrentThreadId(), mark, msg.wParam, 0);
        if (!marked) break;
      }
      continue;
    }
    ++handled;
    if (msg.message == WM_QUIT) {
      App.Terminate();
    } else {
      TranslateMessage(&msg);
      try {
        DispatchMessageA(&msg);
      } catch (...) {
        vcl_internal::HandleCurrentException();
      }
    }
    if (!marked && handled >= kUnmarkedPassLimit) break;
  }
  if (marked) tActivePasses.erase(std::find(tActivePasses.begin(), tActivePasses.end(), id));
  // WM_QUIT is only handed out once no posted message is left, so a pass
  // that stopped at its mark asks for it explicitly.
  if (PeekMessageA(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    ++handled;
    App.Terminate();
  }
  return handled;
}

// The wait objects of this thread's loop and what to do when one is
// signalled.
struct WaitHandle {
  HANDLE Handle;
  std::function<void()> OnSignal;
};
constexpr size_t kMaxWaitHandles = 32;
thread_local std::vector<WaitHandle> tWaitHandles;

std::vector<HANDLE> WaitHandles() {
  std::vector<HANDLE> out;
  for (const WaitHandle& w : tWaitHandles) out.push_back(w.Handle);
  return out;
}

// Runs the handler of a signalled handle (it may remove itself or others).
void Signalled(HANDLE Handle) {
  for (const WaitHandle& w : tWaitHandles) {
    if (w.Handle != Handle) continue;
    auto handler = w.OnSignal;
    try {
      handler();
    } catch (...) {
      vcl_internal::HandleCurrentException();
    }
    return;
  }
}

// Takes the signals of every watched handle that is signalled now.
void DispatchSignalled() {
  if (tWaitHandles.empty()) return;
  for (HANDLE h : WaitHandles()) {
    if (WaitForSingleObject(h, 0) == WAIT_OBJECT_0) Signalled(h);
  }
}

// Waits for input, a watched handle or the timeout; a signalled handle's
// handler runs here (the wait took its signal).
void WaitForInput(DWORD Ms) {
  const std::vector<HANDLE> handles = WaitHandles();
  const DWORD n = static_cast<DWORD>(handles.size());
  const DWORD r = MsgWaitForMultipleObjects(n, n != 0 ? handles.data() : nullptr, FALSE, Ms, QS_ALLINPUT);
  if (r < WAIT_OBJECT_0 + n) Signalled(handles[r - WAIT_OBJECT_0]);
}

uint64_t NextClockEvent() {
  return std::min(NextTimerDue(), QuorClockNextDue());
}

// Anything to handle at the current reading, without waiting.
bool SomethingDue() {
  const uint64_t now = QuorClockNow();
  if (NextTimerDue() <= now) return true;
  if (QuorClockIsVirtual() && QuorClockNextDue() <= now) return true;
  return MessageQueued();
}

// The loop body of RunFor/RunUntil on one clock reading: passes until
// nothing is left due (bounded), until the clock has gone past End (a
// handler's virtual Sleep), or until Done holds. Returns true when Done held.
bool Settle(TApplication& App, uint64_t End, const std::function<bool()>* Done) {
  for (int pass = 0; pass < kMaxPassesPerReading; ++pass) {
    App.ProcessMessages();
    if (Done != nullptr && (*Done)()) return true;
    if (QuorClockNow() > End || !SomethingDue()) break;
  }
  return false;
}

bool RunLoop(TApplication& App, uint32_t Ms, const std::function<bool()>* Done) {
  if (Done != nullptr && (*Done)()) return true;
  const uint64_t end = QuorClockNow() + Ms;
  if (QuorClockIsVirtual()) {
    // Step from due point to due point; nothing blocks.
    if (Settle(App, end, Done)) return true;
    for (;;) {
      const uint64_t now = QuorClockNow();
      if (now >= end) break;
      const uint64_t next = NextClockEvent();
      if (next > end) break;
      if (next > now) QuorClockAdvanceTo(next);
      if (Settle(App, end, Done)) return true;
      // Something due at this very reading that no pass could clear (a
      // clock callback re-scheduling itself at no delay): move on by 1 ms
      // rather than spin.
      if (QuorClockNow() == now && NextClockEvent() <= now) QuorClockAdvance(1);
    }
    if (QuorClockNow() > end) return Done != nullptr && (*Done)();  // a handler slept past the end
    QuorClockAdvanceTo(end);
    return Settle(App, end, Done);
  }
  for (;;) {
    App.ProcessMessages();
    if (Done != nullptr && (*Done)()) return true;
    const uint64_t now = QuorClockNow();
    if (now >= end) break;
    if (SomethingDue()) continue;
    uint64_t wait = end - now;
    const uint64_t due = NextTimerDue();
    if (due != UINT64_MAX) wait = std::min(wait, due - now);
    WaitForInput(static_cast<DWORD>(wait));
  }
  App.ProcessMessages();
  return Done != nullptr && (*Done)();
}

void ReportSafely(const std::exception& E) noexcept {
  try {
    Application->HandleException(E);
  } catch (...) {
    // The exception handler failed itself: show what it raised, and if even
    // that fails, the loop still goes on.
    try {
      try {
        throw;
      } catch (const std::exception& second) {
        ShowMessage(second.what());
      } catch (...) {
        ShowMessage("Unknown exception in the exception handler");
      }
    } catch (...) {
    }
  }
}

}  // namespace

TApplication* const Application = &gApplication;

void vcl_internal::HandleCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    ReportSafely(e);
  } catch (...) {
    ReportSafely(Exception("Unknown exception"));
  }
}

void TApplication::ProcessMessages() {
  // Clock callbacks due at this reading post their messages first.
  if (QuorClockIsVirtual() && QuorClockNextDue() <= QuorClockNow()) QuorClockAdvance(0);
  vcl_internal::FireDueTimers();
  DispatchSignalled();
  DispatchQueued(*this);
}

bool TApplication::AddWaitHandle(HANDLE Handle, std::function<void()> OnSignal) {
  for (WaitHandle& w : tWaitHandles) {
    if (w.Handle == Handle) {
      w.OnSignal = std::move(OnSignal);
      return true;
    }
  }
  if (tWaitHandles.size() >= kMaxWaitHandles) return false;
  tWaitHandles.push_back(WaitHandle{Handle, std::move(OnSignal)});
  return true;
}

void TApplication::RemoveWaitHandle(HANDLE Handle) {
  for (auto it = tWaitHandles.begin(); it != tWaitHandles.end(); ++it) {
    if (it->Handle == Handle) {
      tWaitHandles.erase(it);
      return;
    }
  }
}

void TApplication::HandleMessage() {
  if (!SomethingDue()) {
    if (QuorClockIsVirtual()) {
      const uint64_t next = NextClockEvent();
      if (next != UINT64_MAX) QuorClockAdvanceTo(next);
    } else {
      const uint64_t due = NextTimerDue();
      const uint64_t now = QuorClockNow();
      DWORD wait = INFINITE;
      if (due != UINT64_MAX) wait = static_cast<DWORD>(std::min<uint64_t>(due - now, INFINITE - 1));
      WaitForInput(wait);
    }
  }
  ProcessMessages();
}

void TApplication::Run() {
  // On the virtual clock a loop with nothing scheduled and nothing queued
  // could only wait forever (nobody else moves the clock): Run returns.
  while (!fTerminated) {
    if (QuorClockIsVirtual() && NextClockEvent() == UINT64_MAX && !MessageQueued()) return;
    HandleMessage();
  }
}

void TApplication::RunFor(uint32_t ms) {
  RunLoop(*this, ms, nullptr);
}

bool TApplication::RunUntil(const std::function<bool()>& Done, uint32_t ms) {
  if (!Done) {
    RunLoop(*this, ms, nullptr);
    return false;
  }
  return RunLoop(*this, ms, &Done);
}

void TApplication::HandleException(const std::exception& E) {
  if (OnException) {
    auto handler = OnException;  // the handler may replace itself
    handler(E);
    return;
  }
  const auto* ours = dynamic_cast<const Exception*>(&E);
  ShowMessage(ours != nullptr ? ours->Message() : String(E.what()));
}
