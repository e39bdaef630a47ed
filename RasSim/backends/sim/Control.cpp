// The control interface of the simulation (the QuorRasSim... exports) and
// its teardown when the library unloads.
#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Text.h"
#include "Win32/Clock.h"

namespace rassim {

using namespace sim;

void Reset() {
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& kv : S().calls) {
      DropTimers(*kv.second, fx);
      EndWindows(*kv.second, fx);
      registry::Remove(kv.first);
    }
    S().calls.clear();
    S().queued.clear();
    DelayOverrides().clear();
  }
  fx.Run();
}

DWORD DropConnection(THRasConn h) {
  Effects fx;
  DWORD result = ERROR_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (c && c->phase != Phase::TearingDown && c->phase != Phase::Dropped) {
      DropLine(*c, fx);
      result = 0;
    }
  }
  fx.Run();
  return result;
}

void QueueFailure(const std::string& entry, TRasConnState state, DWORD error) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().queued[FoldCase(entry)].push_back(QueuedFailure{state, error});
}

void SetStepDelay(TRasConnState state, DWORD ms) {
  std::lock_guard<std::mutex> lock(S().mutex);
  if (ms == 0xFFFFFFFFu) {
    if (state == 0xFFFFFFFFu)
      DelayOverrides().clear();
    else
      DelayOverrides().erase(state);
  } else {
    DelayOverrides()[state] = ms;
  }
}

DWORD ConnectionWindow(THRasConn h, HWND& wnd) {
  std::lock_guard<std::mutex> lock(S().mutex);
  Call* c = FindCall(h);
  if (!c) return ERROR_INVALID_HANDLE;
  wnd = c->connWindow;
  return 0;
}

void Shutdown() {
  // First no clock callback of this library runs any more: one running on the
  // clock's thread right now is waited for, and none of those pending (of
  // calls gone or not) will run once this library's code is unmapped.
  QuorClockCancelCallback(OnTimer);
  std::set<HWND> windows;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& kv : S().calls) registry::Remove(kv.first);
    S().calls.clear();
    S().timers.clear();
    windows.swap(S().windows);
  }
  EndAllWindows(windows);
  if (!S().helperClass.empty()) {
    UnregisterClassA(S().helperClass.c_str(), Instance());
    UnregisterClassA(S().connClass.c_str(), Instance());
  }
}

void FreeState() {
  delete g_state;
  g_state = nullptr;
}

}  // namespace rassim
