// TQuor: the opt-in policies beyond the classic behaviour (redial back-off,
// dial timeout, reconnect after loss, fast hang-up) and the connection
// information. With every policy at its default none of this changes what
// the component does.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Ras2/Ras2Optional.h"
#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"
#include "Win32/Clock.h"

using namespace tquor_detail;

namespace {

// The longest pause the back-off grows to without a ceiling of its own (a
// day), so that the interval in milliseconds always fits.
constexpr Cardinal kLongestPause = 86400;
// The classic pause after a hang-up, and the bound of the fast hang-up.
constexpr uint64_t kHangUpPauseMs = 2000;
// How often the fast hang-up asks RAS whether the connection is gone.
constexpr uint64_t kHangUpPollMs = 50;

}  // namespace

// ---------------------------------------------------------------- settings

Boolean TQuor::SetRedialBackoff(double Factor, Cardinal MaxSeconds) {
  if (!(Factor >= 1.0 && Factor <= 10.0)) return false;  // also refuses NaN
  fBackoffFactor = Factor;
  fBackoffMax = std::min(MaxSeconds, kLongestPause);
  return true;
}

void TQuor::SetReconnect(Boolean On, Cardinal HoldoffSeconds, Integer MaxFail) {
  fReconnect = On;
  fReconnectHoldoff = std::min(HoldoffSeconds, kLongestPause);
  fReconnectMaxFail = MaxFail < 0 ? 0 : MaxFail;
  if (!On) {
    tmrReconnect->SetEnabled(false);
    fReconnecting = false;
  }
}

Boolean TQuor::ReconnectPending() const {
  return tmrReconnect->Enabled();
}

// ---------------------------------------------------------------- back-off

Cardinal TQuor::RedialPauseFor(Integer Redial) const {
  // Factor 1 without a ceiling leaves the pause exactly as set.
  double pause = fRedialPause;
  for (Integer n = 1; n < Redial && pause < kLongestPause; ++n) pause *= fBackoffFactor;
  if (fBackoffMax != 0 && pause > fBackoffMax) pause = fBackoffMax;
  pause = std::min(pause, static_cast<double>(kLongestPause));
  return static_cast<Cardinal>(std::llround(pause));
}

// ---------------------------------------------------------------- dial timeout

void TQuor::tmrDialTimeoutTimer(TObject* /*Sender*/) {
  tmrDialTimeout->SetEnabled(false);
  if (!RasInitialized || hRas == 0 || fConnected) return;
  // The attempt took too long: it fails as if RAS had said so in a dial
  // event, so it is hung up and redialled or reported like any other.
  const Integer err = static_cast<Integer>(ERROR_REQUEST_TIMEOUT);
  const TCallGuard guard(fMark);
  StateChange(fRasState, ERROR_REQUEST_TIMEOUT);
  if (!guard.Ours()) return;
  const String text = "ERROR: " + RasErrorText(err);
  Notify(err, text);
  if (guard.Ours()) ConnectFail(err, text);
}

// ---------------------------------------------------------------- reconnect

void TQuor::ConnectionLost(DWORD StatusError) {
  fRasState = RASCS_Disconnected;
  // A handle RAS no longer knows says nothing about why the line went.
  fLastLossReason = StatusError == static_cast<DWORD>(ERROR_INVALID_HANDLE) ? 0 : static_cast<Integer>(StatusError);
  // A handler that hangs up, dials again or frees the component ends the
  // loss's handling.
  const TCallGuard guard(fMark);
  StateChange(RASCS_Disconnected, StatusError);
  if (!guard.Ours()) return;
  HangUp();
  if (!guard.Ours()) return;
  // Armed before the loss is reported, so that the application's handler
  // sees the reconnect pending and may stop it with Disconnect.
  const Boolean again = ArmReconnect();
  NotifyDisconnect(0, "Connection to server lost.");
  if (again && guard.Ours()) AnnounceReconnect();
}

Boolean TQuor::ArmReconnect() {
  if (!fReconnect || !RasInitialized) return false;
  if (fReconnectMaxFail > 0 && fReconnectFails >= fReconnectMaxFail) {
    fReconnecting = false;  // given up: the series is over
    return false;
  }
  tmrReconnect->SetInterval(fReconnectHoldoff * 1000u);
  tmrReconnect->SetEnabled(true);
  return true;
}

void TQuor::AnnounceReconnect() {
  // The handler of the event before may have stopped it.
  if (!tmrReconnect->Enabled()) return;
  Notify(0, "Reconnecting in " + IntToStr(fReconnectHoldoff) + " seconds...");
}

void TQuor::tmrReconnectTimer(TObject* /*Sender*/) {
  tmrReconnect->SetEnabled(false);
  if (!RasInitialized) return;
  // A fresh dial with its own redials, counted as one more reconnect.
  ++fReconnectFails;
  fReconnecting = true;
  RedialCount = 0;
  tmrRedial->SetEnabled(false);
  DoConnect();
}

// ---------------------------------------------------------------- event-driven loss

void TQuor::StartLossWatch() {
  StopLossWatch();
  if (!RasInitialized || hRas == 0 || RasConnectionNotification == nullptr) return;  // the poll alone watches
  const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == HANDLE{}) return;
  if (RasConnectionNotification(hRas, event, RASCN_Disconnection) != 0 ||
      !Application->AddWaitHandle(event, [this] { LossSignalled(); })) {
    CloseHandle(event);
    return;
  }
  fLossEvent = event;
}

void TQuor::StopLossWatch() {
  if (fLossEvent == HANDLE{}) return;
  Application->RemoveWaitHandle(fLossEvent);
  CloseHandle(fLossEvent);
  fLossEvent = HANDLE{};
}

void TQuor::LossSignalled() {
  if (!RasInitialized || hRas == 0 || !fConnected) return;
  // RAS says the connection ended. A status still readable as anything but
  // disconnected means the signal was not about this line: keep watching.
  DWORD r = ERROR_INVALID_HANDLE;
  TRasConnStatus status;
  std::memset(&status, 0, sizeof(status));
  status.dwSize = sizeof(TRasConnStatus);
  if (RasGetConnectStatus != nullptr) r = RasGetConnectStatus(hRas, &status);
  if (r == 0 && status.rasconnstate != 0 && status.rasconnstate != RASCS_Disconnected) return;
  ConnectState = static_cast<Word>(status.rasconnstate & 0xFFFFu);
  tmrCheckStatus->SetEnabled(false);
  // A connection RAS still lists as disconnected carries its reason in the record.
  ConnectionLost(r != 0 ? r : status.dwError);
}

// ---------------------------------------------------------------- fast hang-up

void TQuor::WaitForHangUp(THRasConn Handle) {
  // RAS is done with the connection once it no longer knows the handle.
  // Never longer than the classic pause; without the status entry point
  // there is no way to tell, so the classic pause it is.
  const uint64_t start = QuorClockNow();
  for (;;) {
    const uint64_t waited = QuorClockNow() - start;
    if (waited >= kHangUpPauseMs) return;
    if (RasGetConnectStatus == nullptr) {
      Sleep(static_cast<DWORD>(kHangUpPauseMs - waited));
      return;
    }
    TRasConnStatus status;
    std::memset(&status, 0, sizeof(status));
    status.dwSize = sizeof(TRasConnStatus);
    if (RasGetConnectStatus(Handle, &status) == static_cast<DWORD>(ERROR_INVALID_HANDLE)) return;
    Sleep(static_cast<DWORD>(std::min(kHangUpPollMs, kHangUpPauseMs - waited)));
  }
}

// ---------------------------------------------------------------- connection information

String TQuor::IPAddress() {
  if (!RasInitialized || hRas == 0 || !fConnected || RasGetProjectionInfo == nullptr) return String();
  TRasPppIp ip;
  std::memset(&ip, 0, sizeof(ip));
  ip.dwSize = sizeof(ip);
  DWORD size = sizeof(ip);
  if (RasGetProjectionInfo(hRas, RASP_PppIp, &ip, &size) != 0 || ip.dwError != 0) return String();
  return GetField(ip.szIpAddress);
}

uint64_t TQuor::ConnectedMs() const {
  if (!fConnected || hRas == 0) return 0;
  return QuorClockNow() - fConnectedAt;
}

void TQuor::StateChange(DWORD State, DWORD Error) {
  if (!fOnStateChange) return;
  const TRasStateChangeEvent handler = fOnStateChange;  // the handler may free the component
  handler(State, Error);
}
