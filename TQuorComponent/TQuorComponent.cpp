// TQuor: the component object, its event operations, the two property
// setters, its class information and its design-time registration.
#include "TQuorComponent/TQuorComponent.h"

#include <cstring>
#include <exception>

#include "Ras2/Ras2Optional.h"
#include "TQuorComponent/TQuorFields.h"
#include "Win32/Clock.h"

using namespace tquor_detail;

// ---------------------------------------------------------------- life

TQuor::TQuor(TComponent* AOwner)
    : TComponent(AOwner),
      fRedialPause(10),
      fSyncDial(false),
      fMinimizeDialWindow(true),
      fRedialAttempts(1),
      RASEvent(0),
      RedialCount(0),
      tmrLookForWindow(new TTimer(this)),
      tmrRedial(new TTimer(this)),
      tmrCheckStatus(new TTimer(this)),
      hRas(0),
      ConnectState(0),
      fMark(std::make_shared<TCallMark>()),
      fBackoffFactor(1.0),
      fBackoffMax(0),
      fDialTimeout(0),
      // The policies' timers. Not owned: the component's owned components stay
      // the classic three timers; the destructor frees these two.
      tmrDialTimeout(new TTimer(nullptr)),
      fReconnect(false),
      fReconnectHoldoff(30),
      fReconnectMaxFail(10),
      fReconnectFails(0),
      fReconnecting(false),
      tmrReconnect(new TTimer(nullptr)),
      fFastHangUp(false),
      fWatchEvents(false),
      fLossEvent{},
      fConnected(false),
      fConnectedAt(0),
      fRasState(0),
      fAttempt(0),
      fWindowHandle(0),  // the first dial creates the window
      Connections(new TStringList),
      PhoneBookEntries(new TStringList),
      RasInitialized(false) {
  std::memset(&dialparams, 0, sizeof(dialparams));
  ReserveSecret(fPassword);

  tmrLookForWindow->SetInterval(100);
  tmrLookForWindow->SetEnabled(false);
  tmrLookForWindow->SetOnTimer([this](TObject* Sender) { tmrLookForWindowTimer(Sender); });

  tmrRedial->SetInterval(static_cast<Cardinal>(fRedialPause) * 1000u);
  tmrRedial->SetEnabled(false);
  tmrRedial->SetOnTimer([this](TObject* Sender) { tmrRedialTimer(Sender); });

  tmrCheckStatus->SetInterval(500);
  tmrCheckStatus->SetEnabled(false);
  tmrCheckStatus->SetOnTimer([this](TObject* Sender) { tmrCheckStatusTimer(Sender); });

  // The policies' timers stay off until a policy arms them.
  tmrDialTimeout->SetEnabled(false);
  tmrDialTimeout->SetOnTimer([this](TObject* Sender) { tmrDialTimeoutTimer(Sender); });
  tmrReconnect->SetEnabled(false);
  tmrReconnect->SetOnTimer([this](TObject* Sender) { tmrReconnectTimer(Sender); });

  if (InitRas()) {
    RasInitialized = true;
    UINT msg = RegisterWindowMessageA(RASDIALEVENT);
    // Registered numbers lie in 0xC000..0xFFFF; RAS itself falls back to
    // WM_RASDIALEVENT when the name cannot be registered.
    RASEvent = static_cast<Word>(msg != 0 ? msg : WM_RASDIALEVENT);
    BindRasOptional();
    GetPhoneBookEntries();
  }
}

TQuor::~TQuor() {
  // Hang up a call still held. Disconnect swallows what the "Disconnecting..."
  // handler throws; nothing else it does throws, but a destructor must never
  // let anything out.
  if (hRas != 0) {
    try {
      Disconnect();
    } catch (...) {
    }
  }
  // An operation of this component still on the stack (the destruction came
  // from inside one of its events) goes no further.
  fMark->Alive = false;
  // A dial the "Disconnecting..." handler started is hung up without a word.
  if (hRas != 0 && RasInitialized && RasHangUp != nullptr) RasHangUp(hRas);
  hRas = 0;

  // A dial window can outlive the call when an event handler threw in the
  // middle of a dial (hRas already 0, window kept). Release it here, and stop
  // every timer, so that no queued dial event and no tick can reach this
  // component once it is gone.
  if (fWindowHandle != 0) {
    try {
      DeallocateHWnd(fWindowHandle);
    } catch (...) {
    }
    fWindowHandle = 0;
  }
  if (tmrLookForWindow != nullptr) tmrLookForWindow->SetEnabled(false);
  if (tmrRedial != nullptr) tmrRedial->SetEnabled(false);
  if (tmrCheckStatus != nullptr) tmrCheckStatus->SetEnabled(false);
  if (tmrDialTimeout != nullptr) tmrDialTimeout->SetEnabled(false);
  if (tmrReconnect != nullptr) tmrReconnect->SetEnabled(false);
  StopLossWatch();  // no signal may reach this component once it is gone

  // Destructors never throw: each release simply follows the last.
  delete Connections;
  Connections = nullptr;
  delete PhoneBookEntries;
  PhoneBookEntries = nullptr;
  delete tmrLookForWindow;
  tmrLookForWindow = nullptr;
  delete tmrCheckStatus;
  tmrCheckStatus = nullptr;
  delete tmrDialTimeout;
  tmrDialTimeout = nullptr;
  delete tmrReconnect;
  tmrReconnect = nullptr;
  // tmrRedial goes with the base component's owned components.

  CloseRas();

  // The record holds the last password handed to or read from RAS; it must
  // not linger in freed memory.
  SecureZero(&dialparams, sizeof(dialparams));
  WipeSecret(fPassword);
}

// ---------------------------------------------------------------- setters

void TQuor::SetRedialAttempts(Integer Value) {
  if (Value != fRedialAttempts) fRedialAttempts = Value;
}

void TQuor::SetPassword(const String& Value) {
  AssignSecret(fPassword, Value.data(), Value.size());
}

void TQuor::SetRedialPause(Byte Value) {
  // The redial timer keeps its interval; the next redial takes the new pause.
  fRedialPause = Value > 60 ? Byte{60} : Value;
}

// ---------------------------------------------------------------- events

// Each event runs a copy of its handler: a handler may free the component,
// and with it the handler it is running.
void TQuor::Notify(Integer ErrCode, String ErrorString) {
  if (!fNotifyEvent) return;
  const TRasStateEvent handler = fNotifyEvent;
  handler(ErrCode, ErrorString);
}

void TQuor::NotifyConnect() {
  // The attempt made it: no timeout for it, and a reconnect series is over.
  tmrDialTimeout->SetEnabled(false);
  fConnected = true;
  fConnectedAt = QuorClockNow();
  fReconnecting = false;
  fReconnectFails = 0;
  if (fOnConnect) {
    const TCallGuard guard(fMark);
    const TNotifyEvent handler = fOnConnect;
    handler(this);
    if (!guard.Ours()) return;  // the handler hung up, dialled again or freed the component
  }
  tmrCheckStatus->SetEnabled(true);
  tmrLookForWindow->SetEnabled(true);
  if (fWatchEvents) StartLossWatch();
}

void TQuor::NotifyDisconnect(Integer ErrCode, String ErrorString) {
  if (!fOnDisconnect) return;
  const TRasStateEvent handler = fOnDisconnect;
  handler(ErrCode, ErrorString);
}

// ---------------------------------------------------------------- class information

namespace {

TQuor& AsQuor(TComponent& C) {
  return static_cast<TQuor&>(C);
}
const TQuor& AsQuor(const TComponent& C) {
  return static_cast<const TQuor&>(C);
}

TPropValue BoolValue(bool B) {
  TPropValue v;
  v.Kind = TTypeKind::Boolean;
  v.Ord = B ? 1 : 0;
  return v;
}

TPropValue OrdValue(TTypeKind Kind, int64_t Ord) {
  TPropValue v;
  v.Kind = Kind;
  v.Ord = Ord;
  return v;
}

TPropValue StrValue(const String& S) {
  TPropValue v;
  v.Kind = TTypeKind::String;
  v.Str = S;
  return v;
}

// A method property is streamed as its handler's name. Handlers here are
// plain callables without a name, so an assigned one shows a fixed marker;
// setting a method property through the streaming system is ignored (there
// is no way to turn a name back into a callable).
template <typename F>
TPropValue MethodValue(const F& Handler) {
  TPropValue v;
  v.Kind = TTypeKind::Method;
  v.Str = Handler ? "(assigned)" : "";
  return v;
}

TPropInfo StringProp(const char* Name, const String& (TQuor::*Get)() const, void (TQuor::*Set)(const String&)) {
  return TPropInfo{Name, TTypeKind::String, [Get](const TComponent& C) { return StrValue((AsQuor(C).*Get)()); },
                   [Set](TComponent& C, const TPropValue& V) { (AsQuor(C).*Set)(V.Str); }, std::nullopt};
}

template <typename F>
TPropInfo MethodProp(const char* Name, const F& (TQuor::*Get)() const) {
  return TPropInfo{Name, TTypeKind::Method, [Get](const TComponent& C) { return MethodValue((AsQuor(C).*Get)()); },
                   [](TComponent&, const TPropValue&) {}, std::nullopt};
}

TClassInfo MakeClassInfo() {
  TClassInfo info;
  info.ClassName = "TQuor";
  info.Parent = &TComponent::StaticClassInfo();
  info.Properties.push_back(
      TPropInfo{"MinimizeDialWindow", TTypeKind::Boolean,
                [](const TComponent& C) { return BoolValue(AsQuor(C).MinimizeDialWindow()); },
                [](TComponent& C, const TPropValue& V) { AsQuor(C).SetMinimizeDialWindow(V.Ord != 0); }, int64_t{1}});
  info.Properties.push_back(StringProp("EntryName", &TQuor::EntryName, &TQuor::SetEntryName));
  info.Properties.push_back(StringProp("PhoneNumber", &TQuor::PhoneNumber, &TQuor::SetPhoneNumber));
  info.Properties.push_back(StringProp("CallbackNumber", &TQuor::CallbackNumber, &TQuor::SetCallbackNumber));
  info.Properties.push_back(StringProp("UserName", &TQuor::UserName, &TQuor::SetUserName));
  info.Properties.push_back(StringProp("Password", &TQuor::Password, &TQuor::SetPassword));
  info.Properties.push_back(
      TPropInfo{"RedialAttempts", TTypeKind::Integer,
                [](const TComponent& C) { return OrdValue(TTypeKind::Integer, AsQuor(C).RedialAttempts()); },
                [](TComponent& C, const TPropValue& V) { AsQuor(C).SetRedialAttempts(static_cast<Integer>(V.Ord)); },
                int64_t{1}});
  info.Properties.push_back(StringProp("Domain", &TQuor::Domain, &TQuor::SetDomain));
  info.Properties.push_back(MethodProp<TNotifyEvent>("OnConnect", &TQuor::OnConnect));
  info.Properties.push_back(MethodProp<TRasStateEvent>("OnDisconnect", &TQuor::OnDisconnect));
  info.Properties.push_back(MethodProp<TRasStateEvent>("OnNotify", &TQuor::OnNotify));
  info.Properties.push_back(MethodProp<TRasStateEvent>("OnConnectFail", &TQuor::OnConnectFail));
  info.Properties.push_back(TPropInfo{
      "SynchronousDial", TTypeKind::Boolean, [](const TComponent& C) { return BoolValue(AsQuor(C).SynchronousDial()); },
      [](TComponent& C, const TPropValue& V) { AsQuor(C).SetSynchronousDial(V.Ord != 0); }, std::nullopt});
  info.Properties.push_back(
      TPropInfo{"RedialPause", TTypeKind::Byte,
                [](const TComponent& C) { return OrdValue(TTypeKind::Byte, AsQuor(C).RedialPause()); },
                // A streamed value outside a byte is brought into the byte's range
                // before the setter limits it to 60.
                [](TComponent& C, const TPropValue& V) {
                  int64_t v = V.Ord < 0 ? 0 : (V.Ord > 255 ? 255 : V.Ord);
                  AsQuor(C).SetRedialPause(static_cast<Byte>(v));
                },
                std::nullopt});
  info.Create = [](TComponent* AOwner) -> TComponent* { return new TQuor(AOwner); };
  return info;
}

// Creation by class name (form streaming) needs the class known from the
// start. A module that carries its own copy of this unit (the package module)
// may be loaded into a process that already registered the application's
// TQuor: the class known first stays, and loading the module must not fail
// for that (a throw here would abort the process while it loads the module).
bool RegisterQuorClassOnce() {
  try {
    RegisterClass(&TQuor::StaticClassInfo());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
const bool kClassRegistered = RegisterQuorClassOnce();

}  // namespace

const TClassInfo& TQuor::StaticClassInfo() {
  static const TClassInfo info = MakeClassInfo();
  return info;
}

TComponentClass TQuor::ClassInfo() const {
  return &StaticClassInfo();
}

// ---------------------------------------------------------------- registration

void Register() {
  RegisterComponents("RAS", {&TQuor::StaticClassInfo()});
}

void TQuorComponentInitialization() {}
void TQuorComponentFinalization() {}
