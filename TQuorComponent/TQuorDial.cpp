// TQuor: starting a dial, the dial events RAS posts to the hidden window,
// the state texts, and the redial after a failed attempt.
#include <cstring>

#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"

using namespace tquor_detail;

THRasConn TQuor::Connect() {
  // The application's own dial ends any reconnect series the policy runs.
  tmrReconnect->SetEnabled(false);
  fReconnecting = false;
  fReconnectFails = 0;
  RedialCount = 0;
  // A redial still pending from an earlier Connect would start a second dial
  // on top of this one.
  tmrRedial->SetEnabled(false);
  return DoConnect();
}

THRasConn TQuor::DoConnect() {
  if (!RasInitialized) return 0;

  // Fill the dial parameters. A text too long for its field, or holding a
  // zero byte RAS would stop at, is neither cut (a shortened name, number or
  // password would dial something else) nor allowed to overrun the record:
  // the dial is refused and reported exactly like a dial RAS refused at
  // once, with RAS's own error numbers.
  DWORD refused = 0;
  std::memset(&dialparams, 0, sizeof(dialparams));
  dialparams.dwSize = sizeof(TRasDialParams);
  if (!PutField(dialparams.szEntryName, fEntryName)) refused = ERROR_INVALID_PARAMETER;
  if (!fPhoneNumber.empty() && !PutField(dialparams.szPhoneNumber, fPhoneNumber) && refused == 0)
    refused = IsCText(fPhoneNumber) ? ERROR_PHONE_NUMBER_TOO_LONG : ERROR_INVALID_PARAMETER;
  if (!PutField(dialparams.szUserName, fUserName) && refused == 0) refused = ERROR_INVALID_PARAMETER;
  if (!PutField(dialparams.szPassword, fPassword) && refused == 0) refused = ERROR_INVALID_PARAMETER;

  // RAS wants the handle variable 0 before a dial. A call still held (being
  // dialled or connected) is hung up first: dropping its handle would leave a
  // live call nobody could hang up, and the status watch would go on polling
  // the new dial. No "Disconnecting..." report and no pause here: the dial
  // must not block.
  if (hRas != 0) {
    tmrCheckStatus->SetEnabled(false);
    StopLossWatch();
    if (RasHangUp != nullptr) RasHangUp(hRas);
    hRas = 0;
  }
  tmrDialTimeout->SetEnabled(false);
  fConnected = false;
  fAttempt = RedialCount + 1;

  // Every dial gets a window of its own: events the previous call had
  // already posted to the old window die with it and never reach this dial.
  if (fWindowHandle != 0) {
    DeallocateHWnd(fWindowHandle);
    fWindowHandle = 0;
  }
  fWindowHandle = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
  ++fMark->Call;
  const TCallGuard guard(fMark);

  Notify(0, "Dialing " + fEntryName + "...");

  // The notice's handler may have hung up (the window is gone: a dial now
  // would run without a notifier, synchronously, and leave a handle nobody
  // watches), started another dial or freed the component; either way this
  // one is over.
  if (!guard.Ours()) return guard.Alive() ? hRas : 0;

  DWORD r;
  if (refused != 0) {
    r = refused;
  } else if (RasDial == nullptr) {
    r = ERROR_PROC_NOT_FOUND;  // the library lacks the export: the dial fails at once
  } else {
    // RasDial returns at once in either mode; the progress arrives later as
    // dial events posted to the window.
    r = RasDial(nullptr, nullptr, &dialparams, 0xFFFFFFFFu, HandleValue(fWindowHandle), &hRas);
  }

  const Integer err = static_cast<Integer>(r);
  // The attempt's time limit runs from the dial call.
  if (r == 0 && fDialTimeout != 0) {
    tmrDialTimeout->SetInterval(fDialTimeout * 1000u);
    tmrDialTimeout->SetEnabled(true);
  }
  if (r == 0) {
    if (fSyncDial) Notify(0, "Connected");
  } else {
    // After each event: is this still the component's own dial?
    const String text = RasErrorText(err);
    Notify(err, "ERROR: " + text);
    if (guard.Ours()) HangUp();
    if (guard.Ours()) ConnectFail(err, fSyncDial ? String("Error connecting.") : "Error connecting: " + text);
  }
  // The handle of the dial under way: this one's, or the one a handler
  // started; none once the component is gone.
  return guard.Alive() ? hRas : 0;
}

void TQuor::WndProc(TMessage& Msg) {
  if (Msg.Msg == RASEvent && hRas != 0) {
    const Integer Error = static_cast<Integer>(static_cast<uint32_t>(Msg.LParam) & 0xFFFFu);
    const Integer State = static_cast<Integer>(Msg.WParam & 0xFFFFu);
    Msg.Result = 0;
    fRasState = static_cast<DWORD>(State);
    // After each event the handler may have hung up, dialled again or freed
    // the component: the rest of this dial event is then no longer its own.
    const TCallGuard guard(fMark);
    StateChange(static_cast<DWORD>(Msg.WParam), static_cast<DWORD>(static_cast<uint32_t>(Msg.LParam)));
    if (!guard.Ours()) return;
    String text = Error == 0 ? String() : String("ERROR: ");
    text += StatusString(State, Error);
    if (!guard.Ours()) return;
    Notify(Error, text);
    if (!guard.Ours()) return;
    if (State == static_cast<Integer>(RASCS_ConnectDevice) && Error == 0) {
      GetConnectStatus();
      Notify(0, "Using " + DeviceType + ": " + DeviceName);
      if (!guard.Ours()) return;
    }
    if (Error != 0) ConnectFail(Error, text);
    return;
  }
  Msg.Result = DefWindowProcA(fWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
}

void TQuor::ConnectFail(Integer ErrCode, String ErrorString) {
  // A handler of the hang-up's notice or of the events below that hangs up,
  // dials again or frees the component ends this failure's handling.
  const TCallGuard guard(fMark);
  RedialCount = RedialCount + 1;
  if (RedialCount <= fRedialAttempts) {
    HangUp();
    if (!guard.Ours()) return;
    const Cardinal pause = RedialPauseFor(RedialCount);
    Notify(ErrCode, "Retrying in " + IntToStr(pause) + " seconds...");
    if (!guard.Ours()) return;
    // A pause of 0 gives an interval of 0: the framework's timer then fires
    // on the next pass of the message loop, so the redial follows at once.
    tmrRedial->SetInterval(pause * 1000u);
    tmrRedial->SetEnabled(true);
  } else {
    HangUp();
    if (!guard.Ours()) return;
    // A reconnect that failed for good is followed by the next one, armed
    // before the application hears of the failure so that its handler sees
    // it pending (and may stop it with Disconnect).
    const Boolean again = fReconnecting && ArmReconnect();
    if (fOnConnectFail) {
      const TRasStateEvent handler = fOnConnectFail;  // the handler may free the component
      handler(ErrCode, ErrorString);
    }
    if (again && guard.Ours()) AnnounceReconnect();
  }
}

void TQuor::tmrRedialTimer(TObject* /*Sender*/) {
  tmrRedial->SetEnabled(false);
  DoConnect();
}

// ---------------------------------------------------------------- state texts

namespace {

const char* const kDenseStates[] = {
    "Opening port",                     // RASCS_OpenPort
    "Port opened",                      // RASCS_PortOpened
    "Connecting device",                // RASCS_ConnectDevice
    "Device connected",                 // RASCS_DeviceConnected
    "All devices connected",            // RASCS_AllDevicesConnected
    "Start authenticating",             // RASCS_Authenticate
    "Authentication: notify",           // RASCS_AuthNotify
    "Authentication: retry",            // RASCS_AuthRetry
    "Authentication: callback",         // RASCS_AuthCallback
    "Authentication: change password",  // RASCS_AuthChangePassword
    "Authentication: projecting",       // RASCS_AuthProject
    "Authentication: link speed",       // RASCS_AuthLinkSpeed
    "Authentication: acknowledge",      // RASCS_AuthAck
    "Authentication: reauthenticate",   // RASCS_ReAuthenticate
    "Authenticated",                    // RASCS_Authenticated
    "Preparing for callback",           // RASCS_PrepareForCallback
    "Waiting for modem reset",          // RASCS_WaitForModemReset
    "Waiting for callback",             // RASCS_WaitForCallback
    "Projected",                        // RASCS_Projected
    "Start authentication",             // RASCS_StartAuthentication
    "Callback complete",                // RASCS_CallbackComplete
    "Logging on network",               // RASCS_LogonNetwork
};

const char* const kPausedStates[] = {
    "Interactive",             // RASCS_Interactive
    "Retry Authentication",    // RASCS_RetryAuthentication
    "Callback set by caller",  // RASCS_CallbackSetByCaller
    "Password expired",        // RASCS_PasswordExpired
};

constexpr Integer kDenseCount = static_cast<Integer>(sizeof(kDenseStates) / sizeof(kDenseStates[0]));
constexpr Integer kPausedCount = static_cast<Integer>(sizeof(kPausedStates) / sizeof(kPausedStates[0]));
static_assert(kDenseCount == static_cast<Integer>(RASCS_LogonNetwork) + 1, "one text per state 0..21");

}  // namespace

String TQuor::StateText(Integer state, Integer error) {
  if (error != 0) return RasErrorText(error);
  const Integer paused = static_cast<Integer>(RASCS_PAUSED);
  if (state >= 0 && state < kDenseCount) return kDenseStates[state];
  if (state >= paused && state < paused + kPausedCount) return kPausedStates[state - paused];
  if (state == static_cast<Integer>(RASCS_Connected)) return "Connected";
  if (state == static_cast<Integer>(RASCS_Disconnected)) return "Disconnected";
  return String();
}

String TQuor::StatusString(Integer state, Integer error) {
  if (!RasInitialized) return String();
  const String text = StateText(state, error);
  if (error != 0) return text;
  if (state == static_cast<Integer>(RASCS_Connected)) {
    NotifyConnect();
  } else if (state == static_cast<Integer>(RASCS_Disconnected)) {
    NotifyDisconnect(static_cast<Integer>(RASCS_Disconnected), "Disconnected.");
  }
  return text;
}
