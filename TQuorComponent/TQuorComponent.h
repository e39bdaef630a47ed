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

#include "Ras2/Ras2.h"
#include "Vcl/Vcl.h"

// Event type of OnNotify, OnConnectFail and OnDisconnect: a method pointer
// taking the RAS error number (or 0) and a text.
using TRasStateEvent = std::function<void(Integer Error, String ErrorString)>;

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
  // Counts the dials started; a dial whose "Dialing ..." notice saw another
  // dial start, or the component hang up, goes no further.
  Cardinal fDialNumber;

  // Event operations.
  void Notify(Integer ErrCode, String ErrorString);
  void NotifyConnect();
  void NotifyDisconnect(Integer ErrCode, String ErrorString);

  // Dialling and dial events.
  Integer DoConnect();
  void WndProc(TMessage& Msg);
  void ConnectFail(Integer ErrCode, String ErrorString);
  void tmrRedialTimer(TObject* Sender);

  // State texts.
  String StatusString(Integer state, Integer error);

  // Monitoring.
  void tmrLookForWindowTimer(TObject* Sender);
  void tmrCheckStatusTimer(TObject* Sender);

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
  Integer Connect();

  // Monitoring and hang-up.
  Integer Disconnect();
  Integer GetConnectStatus();
  Boolean EnumConnections();
  Integer GetHandleByName(const String& EntryName);

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
