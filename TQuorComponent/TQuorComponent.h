// TQuor: the dial-up and VPN networking component.
//
// One instance dials one RAS phonebook entry at a time, reports every step of
// the call through OnNotify, redials a failed attempt after a pause until the
// permitted attempts are used up, watches the established connection and
// reports its loss, hangs up on request, manages phonebook entries and their
// stored dial parameters, and lists the active connections.
//
// Everything runs on the GUI thread: dial events arrive as posted messages to
// a hidden window and the three timers tick through the same message loop.
#pragma once

#include <functional>
#include <memory>

#include "Ras2/Ras2.h"
#include "Vcl/Vcl.h"

// Event type of OnNotify, OnConnectFail and OnDisconnect: a method pointer
// taking the RAS error number (or 0) and a text.
using TRasStateEvent = std::function<void(Integer Error, String ErrorString)>;

// Event type of OnStateChange: the state and error exactly as RAS gave them.
using TRasStateChangeEvent = std::function<void(DWORD State, DWORD Error)>;

// The traffic of the current connection as Statistics() gives it: totals
// since it came up, kept in 64 bits however often RAS's 32-bit counters
// wrapped, and the rates since the previous reading.
struct TQuorStatistics {
  Boolean Valid = false;  // RAS gave figures for a connection that is up
  uint64_t BytesSent = 0, BytesReceived = 0;
  uint64_t FramesSent = 0, FramesReceived = 0;
  uint64_t Errors = 0;                   // line errors of every kind RAS counts (CRC, time-out, framing, overruns)
  double SendRate = 0, ReceiveRate = 0;  // bytes per second
  uint64_t DurationMs = 0;               // connected for, as RAS counts it
  DWORD Bps = 0;                         // the line's speed in bits per second
};

// Event type of OnStatistics.
using TQuorStatisticsEvent = std::function<void(const TQuorStatistics& Statistics)>;

class TQuorInspector;  // test access to the private state

class TQuor : public TComponent {
 private:
  Byte fRedialPause;
  TNotifyEvent fOnConnect;
  TRasStateEvent fOnConnectFail;
  TRasStateEvent fNotifyEvent;
  TRasStateEvent fOnDisconnect;
  Boolean fSyncDial;
  Boolean fMinimizeDialWindow;
  TRasDialParams dialparams;
  String fEntryName;
  String fPhoneNumber;
  String fPhoneBookPath;
  String fCallbackNumber;
  String fUserName;
  String fPassword;
  String fDomain;
  String fDeviceType;
  String fDeviceName;
  Integer fRedialAttempts;
  Word RASEvent;
  Integer RedialCount;
  TTimer* tmrLookForWindow;
  TTimer* tmrRedial;
  TTimer* tmrCheckStatus;
  THRasConn hRas;
  Word ConnectState;
  // The call the component is handling, shared with every operation that
  // raises an event. A handler may hang up, dial again or free the
  // component: the operation that raised the event then goes no further.
  struct TCallMark {
    Boolean Alive = true;
    Cardinal Call = 0;  // counts the dials started and the hang-ups the application asked for
  };
  class TCallGuard {
   public:
    explicit TCallGuard(const std::shared_ptr<TCallMark>& Mark) : fMark(Mark), fCall(Mark->Call) {}
    // The component still exists (its fields may be read).
    Boolean Alive() const { return fMark->Alive; }
    // ... and still handles the call it handled when the guard was taken.
    Boolean Ours() const { return fMark->Alive && fMark->Call == fCall; }

   private:
    std::shared_ptr<TCallMark> fMark;
    Cardinal fCall;
  };
  std::shared_ptr<TCallMark> fMark;

  // Opt-in policies (all off by default: the component then behaves as it
  // always has).
  double fBackoffFactor;
  Cardinal fBackoffMax;
  Cardinal fDialTimeout;
  TTimer* tmrDialTimeout;
  Boolean fReconnect;
  Cardinal fReconnectHoldoff;
  Integer fReconnectMaxFail;
  Integer fReconnectFails;  // reconnects started since the line was last up
  Boolean fReconnecting;    // the current dial was started by a reconnect
  TTimer* tmrReconnect;
  Boolean fFastHangUp;
  Boolean fWatchEvents;
  HANDLE fLossEvent;  // signalled by RAS when the watched connection ends
  Boolean fConnected;
  uint64_t fConnectedAt;
  DWORD fRasState;
  Integer fAttempt;
  TRasStateChangeEvent fOnStateChange;
  // Traffic statistics (TQuorStatistics.cpp): the last raw reading of RAS's
  // counters for the connection that came up at Since, and what was summed.
  struct TStatsTrack {
    THRasConn Handle = 0;
    uint64_t Since = 0;
    Boolean Have = false;
    DWORD Raw[6] = {};  // bytes sent, received, frames sent, received, errors, duration
    TQuorStatistics Totals;
    uint64_t ReadAt = 0;       // clock reading of the last reading
    uint64_t LastEventAt = 0;  // of the last OnStatistics
  };
  TStatsTrack fStats;
  Cardinal fStatisticsInterval = 0;
  TQuorStatisticsEvent fOnStatistics;
  Integer fLastLossReason = 0;

  // Event operations.
  void Notify(Integer ErrCode, String ErrorString);
  void NotifyConnect();
  void NotifyDisconnect(Integer ErrCode, String ErrorString);

  // Dialling and dial events.
  THRasConn DoConnect();
  void WndProc(TMessage& Msg);
  void ConnectFail(Integer ErrCode, String ErrorString);
  void tmrRedialTimer(TObject* Sender);

  // State texts.
  String StatusString(Integer state, Integer error);

  // Monitoring.
  void tmrLookForWindowTimer(TObject* Sender);
  void tmrCheckStatusTimer(TObject* Sender);

  // Hang-up as every internal path does it; Disconnect is this plus the end
  // of any reconnect the policy would still make.
  Integer HangUp();

  // Policies.
  Cardinal RedialPauseFor(Integer Redial) const;
  void WaitForHangUp(THRasConn Handle);
  void tmrDialTimeoutTimer(TObject* Sender);
  void tmrReconnectTimer(TObject* Sender);
  Boolean ArmReconnect();
  void AnnounceReconnect();
  void ConnectionLost(DWORD StatusError);
  void StartLossWatch();
  void StopLossWatch();
  void LossSignalled();
  void StateChange(DWORD State, DWORD Error);
  // On a status tick: reads the statistics and raises OnStatistics when due.
  // False when the handler ended the call or freed the component.
  Boolean StatisticsTick();

  friend class TQuorInspector;

 public:
  // Public fields, read directly by applications.
  String DeviceName;
  String DeviceType;
  HWND fWindowHandle;
  TStringList* Connections;
  TStringList* PhoneBookEntries;
  Boolean RasInitialized;

  explicit TQuor(TComponent* AOwner);
  ~TQuor() override;

  // Published properties (getter named as the property, Set... writer).
  Boolean MinimizeDialWindow() const { return fMinimizeDialWindow; }
  void SetMinimizeDialWindow(Boolean Value) { fMinimizeDialWindow = Value; }
  const String& EntryName() const { return fEntryName; }
  void SetEntryName(const String& Value) { fEntryName = Value; }
  const String& PhoneNumber() const { return fPhoneNumber; }
  void SetPhoneNumber(const String& Value) { fPhoneNumber = Value; }
  const String& CallbackNumber() const { return fCallbackNumber; }
  void SetCallbackNumber(const String& Value) { fCallbackNumber = Value; }
  const String& UserName() const { return fUserName; }
  void SetUserName(const String& Value) { fUserName = Value; }
  const String& Password() const { return fPassword; }
  // The password's storage is wiped whenever it is replaced or freed.
  void SetPassword(const String& Value);
  Integer RedialAttempts() const { return fRedialAttempts; }
  void SetRedialAttempts(Integer Value);
  const String& Domain() const { return fDomain; }
  void SetDomain(const String& Value) { fDomain = Value; }
  const TNotifyEvent& OnConnect() const { return fOnConnect; }
  void SetOnConnect(TNotifyEvent Value) { fOnConnect = std::move(Value); }
  const TRasStateEvent& OnDisconnect() const { return fOnDisconnect; }
  void SetOnDisconnect(TRasStateEvent Value) { fOnDisconnect = std::move(Value); }
  const TRasStateEvent& OnNotify() const { return fNotifyEvent; }
  void SetOnNotify(TRasStateEvent Value) { fNotifyEvent = std::move(Value); }
  const TRasStateEvent& OnConnectFail() const { return fOnConnectFail; }
  void SetOnConnectFail(TRasStateEvent Value) { fOnConnectFail = std::move(Value); }
  Boolean SynchronousDial() const { return fSyncDial; }
  void SetSynchronousDial(Boolean Value) { fSyncDial = Value; }
  Byte RedialPause() const { return fRedialPause; }
  void SetRedialPause(Byte Value);

  // Dialling.
  THRasConn Connect();

  // Monitoring and hang-up.
  Integer Disconnect();
  Integer GetConnectStatus();
  Boolean EnumConnections();
  THRasConn GetHandleByName(const String& EntryName);

  // ---- Beyond the classic behaviour (public, not published; the form
  // format does not know them). Each is off by default.

  // Back-off: the pause before redial n (counted from 1) is RedialPause x
  // Factor^(n-1) seconds, at most MaxSeconds (0: no ceiling). Factor 1 with
  // no ceiling is the fixed pause. False (nothing changed) for a factor
  // outside 1..10.
  Boolean SetRedialBackoff(double Factor, Cardinal MaxSeconds);
  double RedialBackoffFactor() const { return fBackoffFactor; }
  Cardinal RedialBackoffMax() const { return fBackoffMax; }
  // Dial timeout: an attempt not connected after this many seconds is hung
  // up and handled as a failed attempt with ERROR_REQUEST_TIMEOUT (0: no
  // bound). At most 86400.
  void SetDialTimeout(Cardinal Seconds) { fDialTimeout = Seconds > 86400u ? 86400u : Seconds; }
  Cardinal DialTimeout() const { return fDialTimeout; }
  // Reconnect after loss: once "Connection to server lost." is reported the
  // entry is dialled again after HoldoffSeconds; a reconnect whose dial
  // fails for good (OnConnectFail) is followed by another one, at most
  // MaxFail in a row (0: no limit). Disconnect and Connect stop it.
  void SetReconnect(Boolean On, Cardinal HoldoffSeconds, Integer MaxFail);
  Boolean Reconnect() const { return fReconnect; }
  Cardinal ReconnectHoldoff() const { return fReconnectHoldoff; }
  Integer ReconnectMaxFail() const { return fReconnectMaxFail; }
  // True while a reconnect waits for its hold-off to pass.
  Boolean ReconnectPending() const;
  // Fast hang-up: instead of a fixed pause of 2000 ms after RasHangUp, wait
  // only until RAS no longer knows the connection (never longer than 2000 ms).
  void SetFastHangUp(Boolean On) { fFastHangUp = On; }
  Boolean FastHangUp() const { return fFastHangUp; }
  // Event-driven loss: RAS signals the end of the connection at once
  // (RasConnectionNotification, when the RAS library has it) and the loss is
  // reported as soon as the message loop sees the signal; the 500 ms poll
  // goes on as a watchdog. Takes effect from the next connection.
  void SetWatchEvents(Boolean On) { fWatchEvents = On; }
  Boolean WatchEvents() const { return fWatchEvents; }
  // True while the current connection is watched through RAS's signal.
  Boolean WatchingEvents() const { return fLossEvent != HANDLE{}; }

  // Connection information.
  // The IPv4 address of the current connection (RAS's IP projection), or ""
  // when not connected or RAS has none.
  String IPAddress();
  // Milliseconds since the current connection came up; 0 when none.
  uint64_t ConnectedMs() const;
  // True while the call is up (it has connected and is not hung up or lost).
  Boolean Connected() const { return fConnected && hRas != 0; }
  // RAS's handle of the call being dialled or up, 0 when none.
  THRasConn CallHandle() const { return hRas; }
  // The last connection state RAS reported (dial event or status read).
  DWORD RasState() const { return fRasState; }
  // The text of a connection state, or RAS's text for Error when it is not 0
  // ("" for a state RAS does not define). No event is raised.
  static String StateText(Integer State, Integer Error);
  // The number of the current or last attempt of the dial (1: the first).
  Integer Attempt() const { return fAttempt; }
  // Raised for every dial event and when the connection is found lost, with
  // the state and error as RAS gave them, before the component's own texts.
  const TRasStateChangeEvent& OnStateChange() const { return fOnStateChange; }
  void SetOnStateChange(TRasStateChangeEvent Value) { fOnStateChange = std::move(Value); }

  // Traffic statistics of the current connection (RasGetConnectionStatistics,
  // when the RAS library has it; Valid false otherwise, or when not
  // connected). Each call reads RAS and adds what each 32-bit counter moved
  // since the previous reading (modulo 2^32), so the totals stay right as
  // long as a counter wraps at most once between two readings: call it
  // often enough, or set a statistics interval, which reads on every status
  // tick.
  TQuorStatistics Statistics();
  // OnStatistics is raised on the first status tick (every 500 ms while
  // connected) at least Ms after the previous one or the connection's start;
  // 0 (the default) reads nothing and raises nothing.
  void SetStatisticsInterval(Cardinal Ms) { fStatisticsInterval = Ms; }
  Cardinal StatisticsInterval() const { return fStatisticsInterval; }
  const TQuorStatisticsEvent& OnStatistics() const { return fOnStatistics; }
  void SetOnStatistics(TQuorStatisticsEvent Value) { fOnStatistics = std::move(Value); }
  // Why the last line was lost: the RAS error number its status call gave
  // (also OnStateChange's Error for the loss), 0 when RAS gave none (it no
  // longer knew the handle) or no line was lost; and RAS's text for it ("").
  Integer LastLossReason() const { return fLastLossReason; }
  String LastLossText() const;

  // Phonebook management.
  void GetPhoneBookEntries();
  void RasCreateEntry(HWND hHandle, DWORD& dwRetVal);
  Boolean CreateEntry(HWND hHandle);
  Boolean DeleteEntry(const String& EntryName);
  Boolean EditEntry(HWND hHandle, const String& EntryName);
  Boolean RenameEntry(const String& OldEntryName, const String& NewEntryName);
  Boolean GetDialParams(const String& EntryName);
  Boolean SetDialParams();

  // Class information: "TQuor" with its published properties and declared
  // defaults, for the designer and form streaming.
  TComponentClass ClassInfo() const override;
  static const TClassInfo& StaticClassInfo();
};

// Design-time registration: puts TQuor on the palette page "RAS".
void Register();

// Unit initialisation and finalisation of the component unit (no work of
// their own; they exist for the package's unit table).
void TQuorComponentInitialization();
void TQuorComponentFinalization();
