#include "tools/quor/HangUpGate.h"

namespace quortool {

namespace {

// The console events (wincon.h) after which the system ends the process.
constexpr DWORD kCloseEvent = 2;
constexpr DWORD kLogoffEvent = 5;
constexpr DWORD kShutdownEvent = 6;
// Kept back from the system's time-outs, for the return and the exit.
constexpr DWORD kCloseGraceMs = 4500;
constexpr DWORD kSessionEndGraceMs = 19000;

}  // namespace

HangUpGate::HangUpGate() : fReleased(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

void HangUpGate::Hold() {
  if (fReleased != HANDLE{}) ResetEvent(fReleased);
}

void HangUpGate::Release() {
  if (fReleased != HANDLE{}) SetEvent(fReleased);
}

bool HangUpGate::Wait(DWORD graceMs) {
  return fReleased == HANDLE{} || WaitForSingleObject(fReleased, graceMs) == WAIT_OBJECT_0;
}

DWORD HandlerGraceMs(DWORD consoleEvent) {
  switch (consoleEvent) {
    case kCloseEvent:
      return kCloseGraceMs;
    case kLogoffEvent:
    case kShutdownEvent:
      return kSessionEndGraceMs;
    default:
      return 0;
  }
}

}  // namespace quortool
