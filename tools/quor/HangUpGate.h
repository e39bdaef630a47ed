// A console control handler runs on a thread of its own, and after a
// console is closed, or the user logs off or the system shuts down, Windows
// ends the process as soon as the handler returns (or its time is up). The
// handler must not return before the dial's loop has hung up: RAS
// connections outlive their process. The gate is what it waits on.
#pragma once

#include "Win32/Win32.h"

namespace quortool {

class HangUpGate {
 public:
  HangUpGate();
  HangUpGate(const HangUpGate&) = delete;
  HangUpGate& operator=(const HangUpGate&) = delete;
  // A loop that may hold a line runs: a handler waits for Release.
  void Hold();
  // The loop has hung up (or holds nothing any more).
  void Release();
  // Waits up to graceMs for Release; true when nothing is held (any more).
  bool Wait(DWORD graceMs);

 private:
  HANDLE fReleased;  // manual-reset; lives as long as the process (a handler may still wait on it)
};

// How long a control handler may wait for the hang-up before the system
// ends the process: a little less than the system's time-out (5 s after
// CTRL_CLOSE_EVENT, 20 s after CTRL_LOGOFF_EVENT and CTRL_SHUTDOWN_EVENT);
// 0 for the events after which the process goes on (Ctrl-C, Ctrl-Break).
DWORD HandlerGraceMs(DWORD consoleEvent);

}  // namespace quortool
