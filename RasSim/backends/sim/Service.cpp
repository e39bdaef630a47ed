#include "RasSim/backends/sim/Service.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <type_traits>

#include "RasSim/Dialogs.h"
#include "RasSim/Inspect.h"
#include "RasSim/Platform.h"
#include "RasSim/Registry.h"
#include "RasSim/Tables.h"
#include "RasSim/Text.h"
#include "RasSim/backends/sim/Scenario.h"
#include "Win32/Clock.h"

namespace rassim {

namespace {

// Private messages of the per-call helper window, which lives on the thread
// that called RasDial so that the connection window is created there.
constexpr UINT kMsgCreateConnWindow = WM_USER + 0x351;  // wParam: handle
constexpr UINT kMsgEndWindows = WM_USER + 0x352;        // lParam: connection window (or 0)

enum class Phase { Dialling, Connected, Failed, TearingDown, Dropped };
enum TimerKind { kStep, kDrop, kTeardownEnd };

struct Call {
  THRasConn handle = 0;
  std::string entry, phonebook, deviceType, deviceName;
  std::string title;  // of the connection window
  DialPlan plan;
  size_t next = 0;  // next step of the plan
  TRasConnState state = RASCS_OpenPort;
  DWORD error = 0;
  Phase phase = Phase::Dialling;
  bool async = false;
  DialNotifier notifier;
  DWORD ownerThread = 0;
  HWND helper = 0, connWindow = 0;
  uint64_t teardownEnds = 0;
  std::set<uintptr_t> timers;  // keys of pending clock callbacks
};

struct Timer {
  THRasConn handle;
  TimerKind kind;
  uint32_t id;  // 0 until QuorClockSchedule returned
};

// Everything below is guarded by S().mutex. The clock, windows and message
// posting are never called while it is held: work for them is gathered in
// Effects and done after unlocking.
struct State {
  std::mutex mutex;
  std::map<THRasConn, std::unique_ptr<Call>> calls;
  std::map<uintptr_t, Timer> timers;
  uintptr_t nextTimerKey = 0;
  std::map<std::string, std::vector<QueuedFailure>> queued;  // folded entry name -> failures
  std::once_flag classesOnce;
  std::string helperClass, connClass;  // window classes, registered once
};
// Created on first use and freed by Shutdown when the module unloads (after
// every timer has been cancelled and every window destroyed), so unloading
// the library leaves nothing behind. Not a static object: its destruction
// must not depend on the order of static destructors at process exit.
State* g_state = nullptr;
// The edge's services, kept by Open.
EdgeServices g_edge;
std::once_flag g_stateOnce;
State& S() {
  std::call_once(g_stateOnce, [] { g_state = new State; });
  return *g_state;
}

struct Post {
  HWND wnd;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  THRasConn call;  // the call whose dial event this is (0: a helper message)
};

struct DialEvent {
  DialNotifier to;
  TRasConnState state;
  DWORD error;
  THRasConn call;  // 0: the event of a dial that joined a connection
};

struct Effects {
  std::vector<std::pair<THRasConn, std::pair<TimerKind, uint32_t>>> schedules;
  std::vector<uint32_t> cancels;
  std::vector<Post> posts;
  std::vector<DialEvent> events;
  std::vector<HWND> destroys;
  std::vector<THRasConn> createWindows;
  void Run();
};

void OnTimer(void* context);
void CreateConnectionWindow(THRasConn h);
void EventLost(THRasConn h);

// Window handles are 32-bit values carried in DWORD and LPARAM; on Windows HWND is a pointer type.
template <class H>
H HandleFrom(uintptr_t v) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<H>(v);
  else
    return static_cast<H>(v);
}
template <class H>
uintptr_t HandleValue(H h) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<uintptr_t>(h);
  else
    return static_cast<uintptr_t>(h);
}

void Effects::Run() {
  for (uint32_t id : cancels) QuorClockCancel(id);
  for (auto& s : schedules) {
    uintptr_t key;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      auto c = S().calls.find(s.first);
      if (c == S().calls.end()) continue;
      key = ++S().nextTimerKey;
      S().timers[key] = Timer{s.first, s.second.first, 0};
      c->second->timers.insert(key);
    }
    uint32_t id = QuorClockSchedule(s.second.second, OnTimer, reinterpret_cast<void*>(key));
    std::lock_guard<std::mutex> lock(S().mutex);
    auto t = S().timers.find(key);
    if (t != S().timers.end()) t->second.id = id;
  }
  for (const Post& p : posts)
    if (!PostMessageA(p.wnd, p.msg, p.wp, p.lp) && p.call != 0) EventLost(p.call);
  for (const DialEvent& e : events)
    if ((!g_edge.PostDialEvent || !g_edge.PostDialEvent(e.to, e.state, e.error)) && e.call != 0) EventLost(e.call);
  for (THRasConn h : createWindows) CreateConnectionWindow(h);
  for (HWND w : destroys)
    if (w && IsWindow(w)) DestroyWindow(w);
}

Call* FindCall(THRasConn h) {
  auto it = S().calls.find(h);
  return it == S().calls.end() ? nullptr : it->second.get();
}

void DropTimers(Call& c, Effects& fx) {
  for (uintptr_t key : c.timers) {
    auto t = S().timers.find(key);
    if (t == S().timers.end()) continue;
    if (t->second.id) fx.cancels.push_back(t->second.id);
    S().timers.erase(t);
  }
  c.timers.clear();
}

bool OnOwnerThread(const Call& c) {
  return GetCurrentThreadId() == c.ownerThread;
}

// Ends the call's windows: at once on the owner thread, else through the helper.
void EndWindows(Call& c, Effects& fx) {
  if (!c.helper && !c.connWindow) return;
  if (OnOwnerThread(c) || !c.helper) {
    fx.destroys.push_back(c.connWindow);
    fx.destroys.push_back(c.helper);
  } else {
    fx.posts.push_back(Post{c.helper, kMsgEndWindows, 0, static_cast<LPARAM>(HandleValue(c.connWindow)), 0});
  }
  c.helper = 0;
  c.connWindow = 0;
}

registry::ConnRecord RecordOf(const Call& c) {
  registry::ConnRecord r;
  r.handle = c.handle;
  r.entry = c.entry;
  r.phonebook = c.phonebook;
  r.deviceType = c.deviceType;
  r.deviceName = c.deviceName;
  r.state = c.state;
  r.error = c.error;
  r.ownerPid = platform::CurrentProcessId();
  r.hungUp = c.phase == Phase::TearingDown;
  r.ipAddress = c.plan.ipAddress;
  r.serverIpAddress = c.plan.serverIpAddress;
  return r;
}

void BeginTeardown(Call& c, Effects& fx) {
  DropTimers(c, fx);
  c.phase = Phase::TearingDown;
  c.state = RASCS_Disconnected;
  c.error = 0;
  c.teardownEnds = QuorClockNow() + c.plan.teardownMs;
  registry::ConnRecord r = RecordOf(c);
  registry::Publish(r);
  EndWindows(c, fx);
  fx.schedules.push_back({c.handle, {kTeardownEnd, c.plan.teardownMs}});
}

void FinishTeardown(THRasConn h, Effects& fx) {
  Call* c = FindCall(h);
  if (!c) return;
  DropTimers(*c, fx);
  EndWindows(*c, fx);
  registry::Remove(h);
  S().calls.erase(h);
}

// A dial hung up from elsewhere ends for its dialler as on Windows: with an
// error dial event, so the application's failure path runs.
void PortDisconnected(const Call& c, Effects& fx) {
  if (c.async && c.phase == Phase::Dialling)
    fx.events.push_back(DialEvent{c.notifier, c.state, ERROR_PORT_DISCONNECTED, c.handle});
}

// Hung up by another process (or its record removed)? Then this call ends.
bool EndedElsewhere(Call& c, Effects& fx) {
  if (c.phase != Phase::Dialling && c.phase != Phase::Connected && c.phase != Phase::Failed) return false;
  registry::ConnRecord r;
  if (registry::Read(c.handle, r) && !r.hungUp) return false;
  PortDisconnected(c, fx);
  BeginTeardown(c, fx);
  return true;
}

// A teardown whose time is over ends the call (also when its clock callback is late).
bool Expired(Call& c, Effects& fx) {
  if (c.phase == Phase::TearingDown && QuorClockNow() >= c.teardownEnds) {
    FinishTeardown(c.handle, fx);
    return true;
  }
  return false;
}

void RequestConnectionWindow(Call& c, Effects& fx) {
  if (!c.plan.connectionWindow || !c.helper) return;
  if (OnOwnerThread(c))
    fx.createWindows.push_back(c.handle);
  else
    fx.posts.push_back(Post{c.helper, kMsgCreateConnWindow, static_cast<WPARAM>(c.handle), 0, 0});
}

// Takes the next step of a dial: new state, registry record, dial event.
void AdvanceStep(Call& c, Effects& fx) {
  if (c.phase != Phase::Dialling || c.next >= c.plan.steps.size()) return;
  if (EndedElsewhere(c, fx)) return;
  const DialStep step = c.plan.steps[c.next++];
  c.state = step.state;
  c.error = step.error;
  bool last = c.next >= c.plan.steps.size();
  if (step.error)
    c.phase = Phase::Failed;
  else if (last)
    c.phase = c.plan.connects ? Phase::Connected : Phase::Failed;
  registry::ConnRecord r = RecordOf(c);
  if (registry::Publish(r)) {  // hung up elsewhere meanwhile
    c.phase = Phase::Dialling;
    PortDisconnected(c, fx);
    BeginTeardown(c, fx);
    return;
  }
  if (c.async) fx.events.push_back(DialEvent{c.notifier, step.state, step.error, c.handle});
  if (c.phase == Phase::Dialling && c.async) fx.schedules.push_back({c.handle, {kStep, c.plan.steps[c.next].delayMs}});
  if (c.phase == Phase::Connected) {
    if (c.plan.dropAfterMs) {
      uint64_t d = c.plan.dropAfterMs > 0xFFFFFFF0u ? 0xFFFFFFF0u : c.plan.dropAfterMs;
      fx.schedules.push_back({c.handle, {kDrop, static_cast<uint32_t>(d)}});
    }
    RequestConnectionWindow(c, fx);
  }
}

// The line is lost: the call is gone for everybody; only RasHangUp still knows the handle.
void DropLine(Call& c, Effects& fx) {
  DropTimers(c, fx);
  c.phase = Phase::Dropped;
  registry::Remove(c.handle);
  EndWindows(c, fx);
}

void OnTimer(void* context) {
  if (g_state == nullptr) return;  // the module is unloading
  uintptr_t key = reinterpret_cast<uintptr_t>(context);
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto t = S().timers.find(key);
    if (t == S().timers.end()) return;  // cancelled
    Timer timer = t->second;
    S().timers.erase(t);
    Call* c = FindCall(timer.handle);
    if (!c) return;
    c->timers.erase(key);
    switch (timer.kind) {
      case kStep:
        AdvanceStep(*c, fx);
        break;
      case kDrop:
        if (c->phase == Phase::Connected && !EndedElsewhere(*c, fx)) DropLine(*c, fx);
        break;
      case kTeardownEnd:
        if (c->phase == Phase::TearingDown) FinishTeardown(c->handle, fx);
        break;
    }
  }
  fx.Run();
}

// A dial event that could not be posted (the notifier's queue is full, or
// the window is gone) must not vanish: the call fails with it, and its
// status says so, for whoever asks.
void EventLost(THRasConn h) {
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (!c || c->phase == Phase::TearingDown || c->phase == Phase::Dropped) return;
    DropTimers(*c, fx);
    c->phase = Phase::Failed;
    c->error = ERROR_OUT_OF_BUFFERS;
    registry::ConnRecord r = RecordOf(*c);
    registry::Publish(r);
    EndWindows(*c, fx);
  }
  fx.Run();
}

// ---- windows

std::string ClassName(const char* base) {
  static int anchor;  // one class per copy of this code in the process
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s.%lx", base, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&anchor)));
  return buf;
}

LRESULT CALLBACK ConnWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK HelperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgCreateConnWindow) {
    CreateConnectionWindow(static_cast<THRasConn>(wp));
    return 0;
  }
  if (msg == kMsgEndWindows) {
    HWND conn = HandleFrom<HWND>(static_cast<uintptr_t>(lp));
    if (conn && IsWindow(conn)) DestroyWindow(conn);
    DestroyWindow(hwnd);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

void RegisterClasses() {
  std::call_once(S().classesOnce, [] {
    S().helperClass = ClassName("QuorRasSimHelper");
    S().connClass = ClassName("QuorRasConnection");
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = Instance();
    wc.lpszClassName = S().helperClass.c_str();
    RegisterClassA(&wc);
    wc.lpfnWndProc = ConnWindowProc;
    wc.lpszClassName = S().connClass.c_str();
    RegisterClassA(&wc);
  });
}

HWND CreateHelperWindow() {
  RegisterClasses();
  return CreateWindowExA(0, S().helperClass.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, Instance(), nullptr);
}

void CreateConnectionWindow(THRasConn h) {
  std::string title;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (!c || c->phase != Phase::Connected || c->connWindow || !c->plan.connectionWindow) return;
    title = c->title;
  }
  RegisterClasses();
  HWND w = CreateWindowExA(0, S().connClass.c_str(), title.c_str(), WS_OVERLAPPED | WS_VISIBLE, 120, 120, 360, 140, 0,
                           0, Instance(), nullptr);
  if (!w) return;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (c && c->phase == Phase::Connected && !c->connWindow) {
      c->connWindow = w;
      return;
    }
  }
  DestroyWindow(w);  // the call ended meanwhile
}

// ---- phonebook entries

const IniSection* FindEntry(const IniDocument& doc, const std::string& name) {
  return doc.Find(name);
}

std::string PhonebookKeyOf(const PhonebookRef& ref) {
  return ref.isDefault ? std::string("default") : platform::AbsolutePath(ref.path);
}

std::string DottedIp(const BYTE b[4]) {
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

bool ParseIp(const std::string& s, BYTE out[4]) {
  uint64_t parts[4];
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = i < 3 ? s.find('.', pos) : s.size();
    if (end == std::string::npos || !ParseUInt(s.substr(pos, end - pos), parts[i]) || parts[i] > 255) return false;
    pos = end + 1;
  }
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(parts[i]);
  return true;
}

const char* const kIpKeys[5] = {"IpAddress", "IpDnsAddress", "IpDns2Address", "IpWinsAddress", "IpWins2Address"};

DWORD Num(const IniSection& s, const char* key, DWORD fallback) {
  uint64_t v;
  const std::string* t = s.Find(key);
  return t && ParseUInt(*t, v) && v <= 0xFFFFFFFFu ? static_cast<DWORD>(v) : fallback;
}

EntryProps DefaultProps() {
  EntryProps p;
  p.options = RASEO_UseCountryAndAreaCodes | RASEO_IpHeaderCompression | RASEO_RemoteDefaultGateway |
              RASEO_ModemLights | RASEO_SwCompression;
  p.countryId = 1;
  p.countryCode = 1;
  p.netProtocols = RASNP_Ip;
  p.framing = RASFP_Ppp;
  p.deviceType = Devices()[0].type;
  p.deviceName = Devices()[0].name;
  p.channels = 1;
  return p;
}

EntryProps PropsOf(const IniSection& s) {
  EntryProps p = DefaultProps();
  p.options = Num(s, "EntryOptions", p.options);
  if (const std::string* d = s.Find("UseDialingRules")) {
    if (Trim(*d) == "1")
      p.options |= RASEO_UseCountryAndAreaCodes;
    else
      p.options &= ~RASEO_UseCountryAndAreaCodes;
  }
  p.countryId = Num(s, "CountryID", p.countryId);
  p.countryCode = Num(s, "CountryCode", p.countryCode);
  p.areaCode = s.Get("AreaCode");
  p.phone = s.Get("PhoneNumber");
  p.alternates = s.GetAll("AlternatePhoneNumber");
  for (int i = 0; i < 5; ++i)
    if (const std::string* ip = s.Find(kIpKeys[i])) ParseIp(Trim(*ip), p.ip[i]);
  p.frameSize = Num(s, "FrameSize", 0);
  p.netProtocols = Num(s, "NetProtocols", p.netProtocols);
  p.framing = Num(s, "FramingProtocol", p.framing);
  p.script = s.Get("Script");
  p.autodialDll = s.Get("AutodialDll");
  p.autodialFunc = s.Get("AutodialFunc");
  std::string type = s.Get("DEVICE", s.Get("DeviceType"));
  std::string name = s.Get("Device");
  p.deviceType = type;
  p.deviceName = name;
  if (type.empty() && name.empty()) {
    p.deviceType = Devices()[0].type;
    p.deviceName = Devices()[0].name;
  } else if (const Device* d = FindDevice(name, type)) {
    if (p.deviceType.empty()) p.deviceType = d->type;
    if (p.deviceName.empty()) p.deviceName = d->name;
  }
  p.x25PadType = s.Get("X25PadType");
  p.x25Address = s.Get("X25Address");
  p.x25Facilities = s.Get("X25Facilities");
  p.x25UserData = s.Get("X25UserData");
  p.channels = Num(s, "Channels", p.channels);
  return p;
}

char Hex(unsigned v) {
  return "0123456789ABCDEF"[v & 15];
}

std::string Hex32(DWORD v) {
  std::string s = "0x";
  for (int i = 7; i >= 0; --i) s.push_back(Hex(v >> (i * 4)));
  return s;
}

void WriteProps(IniSection& s, const EntryProps& p) {
  if (!s.Find("Encoding")) s.Set("Encoding", "1");
  s.Set("EntryOptions", Hex32(p.options));
  s.Set("UseDialingRules", (p.options & RASEO_UseCountryAndAreaCodes) ? "1" : "0");
  s.Set("CountryID", std::to_string(p.countryId));
  s.Set("CountryCode", std::to_string(p.countryCode));
  s.Set("AreaCode", p.areaCode);
  s.Set("PhoneNumber", p.phone);
  s.SetAll("AlternatePhoneNumber", p.alternates);
  for (int i = 0; i < 5; ++i) s.Set(kIpKeys[i], DottedIp(p.ip[i]));
  s.Set("FrameSize", std::to_string(p.frameSize));
  s.Set("NetProtocols", std::to_string(p.netProtocols));
  s.Set("FramingProtocol", std::to_string(p.framing));
  s.Set("Script", p.script);
  s.Set("AutodialDll", p.autodialDll);
  s.Set("AutodialFunc", p.autodialFunc);
  s.Set("Device", p.deviceName);
  s.Set("DEVICE", p.deviceType);
  s.Set("X25PadType", p.x25PadType);
  s.Set("X25Address", p.x25Address);
  s.Set("X25Facilities", p.x25Facilities);
  s.Set("X25UserData", p.x25UserData);
  s.Set("Channels", std::to_string(p.channels));
}

bool PropsSafe(const EntryProps& p) {
  for (const std::string* v : {&p.areaCode, &p.phone, &p.script, &p.autodialDll, &p.autodialFunc, &p.deviceType,
                               &p.deviceName, &p.x25PadType, &p.x25Address, &p.x25Facilities, &p.x25UserData})
    if (!SafeValue(*v)) return false;
  for (const std::string& a : p.alternates)
    if (!SafeValue(a) || a.empty()) return false;
  return true;
}

std::string DefaultIp(THRasConn h) {
  unsigned host = static_cast<unsigned>(h % 64516u);  // 254 * 254 addresses
  return "10.64." + std::to_string(host / 254 + 1) + "." + std::to_string(host % 254 + 1);
}

}  // namespace

bool ValidEntryName(const std::string& name) {
  if (name.empty() || name.size() > static_cast<size_t>(RAS_MaxEntryName) || name[0] == '.') return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// ---------------------------------------------------------------- dialling

DWORD Open(const EdgeServices& edge) {
  g_edge = edge;
  return 0;
}

// The dial extensions' options have no effect on the simulation.
DWORD Dial(const DialRequest& request, LPHRasConn lphRasConn) {
  const PbArg& pb = request.phonebook;
  const DialParams& params = request.params;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ref, doc)) return e;

  std::string entryName;
  const IniSection* sec = nullptr;
  if (params.entry.empty()) {
    // A dial without an entry: the first modem, the number given.
    if (params.phone.empty()) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    entryName = "." + params.phone;
  } else {
    sec = FindEntry(doc, params.entry);
    if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    entryName = sec->name;
  }
  const Device* device = &Devices()[0];
  if (sec) {
    std::string type = sec->Get("DEVICE", sec->Get("DeviceType"));
    std::string name = sec->Get("Device");
    if (!type.empty() || !name.empty()) {
      device = FindDevice(name, type);
      if (!device) return ERROR_DEVICE_DOES_NOT_EXIST;
    }
  }

  Settings settings = GatherSettings(sec, entryName);
  QueuedFailure queued{};
  bool haveQueued = false;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = S().queued.find(FoldCase(entryName));
    if (it != S().queued.end() && !it->second.empty()) {
      queued = it->second.front();
      it->second.erase(it->second.begin());
      haveQueued = true;
    }
  }
  // An entry has one connection at a time, as on Windows: a dial of an entry
  // that is connected joins that connection (its handle, a Connected event);
  // one of an entry still being dialled is refused. Any process's call counts.
  if (!params.entry.empty()) {
    std::vector<registry::ConnRecord> live;
    if (DWORD e = registry::List(live)) return e;
    for (const registry::ConnRecord& r : live) {
      if (r.hungUp || !SameName(r.entry, entryName) || r.phonebook != ref.path) continue;
      if (r.error != 0) continue;  // a failed attempt that is still being hung up
      if (r.state != RASCS_Connected) return ERROR_DIAL_ALREADY_IN_PROGRESS;
      *lphRasConn = r.handle;
      if (request.notifier.wnd != 0) {
        Effects fx;
        fx.events.push_back(DialEvent{request.notifier, RASCS_Connected, 0, 0});
        fx.Run();
      }
      return 0;
    }
  }

  uint64_t attempt = registry::NextAttempt(PhonebookKeyOf(ref) + "|" + FoldCase(entryName));
  DialPlan plan =
      BuildPlan(settings, device->type, attempt, params.user, params.password, haveQueued ? &queued : nullptr);
  if (plan.failAtOnce) return plan.failAtOnce;

  THRasConn h = registry::AllocateHandle();
  if (!h) return ERROR_RASMAN_CANNOT_INITIALIZE;
  if (plan.ipAddress.empty()) plan.ipAddress = DefaultIp(h);
  if (plan.serverIpAddress.empty()) plan.serverIpAddress = "10.64.0.1";

  auto call = std::make_unique<Call>();
  call->handle = h;
  call->entry = entryName;
  // The name as dialled: Windows' FindWindow compares titles without regard to case, ours exactly.
  call->title = "Connected to " + (params.entry.empty() ? entryName : params.entry);
  call->phonebook = ref.path;
  call->deviceType = device->type;
  call->deviceName = device->name;
  call->plan = plan;
  call->async = request.notifier.wnd != 0;
  call->notifier = request.notifier;
  call->ownerThread = GetCurrentThreadId();
  if (plan.connects && plan.connectionWindow) call->helper = CreateHelperWindow();
  registry::ConnRecord rec = RecordOf(*call);
  DWORD published = 0;
  registry::Publish(rec, &published);
  if (published != 0) {
    // Nobody else could see, list or hang up this call: it does not start.
    if (call->helper) DestroyWindow(call->helper);
    return published;
  }

  uint32_t firstDelay = plan.steps.front().delayMs;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().calls[h] = std::move(call);
  }
  *lphRasConn = h;

  if (request.notifier.wnd != 0) {
    Effects fx;
    fx.schedules.push_back({h, {kStep, firstDelay}});
    fx.Run();
    return 0;
  }

  // Synchronous: run the dial on the clock in this thread and return its result.
  for (;;) {
    uint32_t delay;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      Call* c = FindCall(h);
      if (!c || c->phase != Phase::Dialling) break;
      delay = c->plan.steps[c->next].delayMs;
    }
    QuorSleep(delay);
    Effects fx;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      if (Call* c = FindCall(h)) AdvanceStep(*c, fx);
    }
    fx.Run();
  }
  std::lock_guard<std::mutex> lock(S().mutex);
  Call* c = FindCall(h);
  if (!c) return ERROR_USER_DISCONNECTION;
  switch (c->phase) {
    case Phase::Connected:
      return 0;
    case Phase::Failed:
      return c->error ? c->error : ERROR_UNKNOWN;
    default:
      return ERROR_USER_DISCONNECTION;  // hung up while dialling
  }
}

DWORD HangUp(THRasConn h) {
  Effects fx;
  bool mine = false;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      mine = true;
      if (c->phase == Phase::Dropped) {
        FinishTeardown(h, fx);
      } else if (c->phase == Phase::TearingDown) {
        if (Expired(*c, fx)) result = ERROR_INVALID_HANDLE;
      } else {
        BeginTeardown(*c, fx);
      }
    }
  }
  fx.Run();
  if (mine) return result;
  return registry::MarkHungUp(h) ? 0 : ERROR_INVALID_HANDLE;
}

DWORD GetConnectStatus(THRasConn h, ConnStatus& out) {
  Effects fx;
  bool mine = false;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      mine = true;
      EndedElsewhere(*c, fx);
      if (c->phase == Phase::Dropped || Expired(*c, fx)) {
        result = ERROR_INVALID_HANDLE;
      } else {
        out.state = c->state;
        out.error = c->error;
        out.deviceType = c->deviceType;
        out.deviceName = c->deviceName;
      }
    }
  }
  fx.Run();
  if (mine) return result;
  registry::ConnRecord r;
  if (!registry::Read(h, r)) return ERROR_INVALID_HANDLE;
  out.state = r.hungUp ? RASCS_Disconnected : r.state;
  out.error = r.hungUp ? 0 : r.error;
  out.deviceType = r.deviceType;
  out.deviceName = r.deviceName;
  return 0;
}

DWORD EnumDevices(std::vector<DeviceInfo>& out) {
  out.clear();
  for (const Device& d : Devices()) out.push_back(DeviceInfo{d.type, d.name});
  return 0;
}

DWORD EnumConnections(std::vector<ConnInfo>& out) {
  out.clear();
  std::vector<registry::ConnRecord> records;
  if (DWORD e = registry::List(records)) return e;
  for (const registry::ConnRecord& r : records) {
    if (r.hungUp) continue;
    out.push_back(ConnInfo{r.handle, r.entry, r.deviceType, r.deviceName});
  }
  return 0;
}

DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp) {
  ConnStatus st;
  if (DWORD e = GetConnectStatus(h, st)) return e;
  if (st.state != RASCS_Connected) return ERROR_PROJECTION_NOT_COMPLETE;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      ip = c->plan.ipAddress;
      serverIp = c->plan.serverIpAddress;
      return 0;
    }
  }
  registry::ConnRecord r;
  if (!registry::Read(h, r)) return ERROR_INVALID_HANDLE;
  ip = r.ipAddress;
  serverIp = r.serverIpAddress;
  return 0;
}

// ---------------------------------------------------------------- phonebook

DWORD EnumEntries(const PbArg& pb, std::vector<std::string>& names) {
  names.clear();
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ResolvePhonebook(pb.CStr()), doc)) return e;
  for (const IniSection& s : doc.Sections()) names.push_back(s.name);
  return 0;
}

DWORD GetEntryDialParams(const PbArg& pb, const std::string& entry, DialParams& out, bool& passwordReturned) {
  passwordReturned = false;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ref, doc)) return e;
  const IniSection* sec = FindEntry(doc, entry);
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  StoredParams sp;
  out = DialParams();
  out.entry = entry;
  if (LoadCredentials(ref, sec->name, sp)) {
    out.user = sp.userName;
    out.domain = sp.domain;
    out.phone = sp.phoneNumber;
    out.callback = sp.callbackNumber;
    if (sp.hasPassword) {
      out.password = sp.password;
      passwordReturned = true;
    }
  }
  return 0;
}

DWORD SetEntryDialParams(const PbArg& pb, const DialParams& params, bool removePassword) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ref, doc)) return e;
  const IniSection* sec = FindEntry(doc, params.entry);
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  StoredParams sp;
  sp.userName = params.user;
  sp.domain = params.domain;
  sp.phoneNumber = params.phone;
  sp.callbackNumber = params.callback;
  if (!removePassword) {
    sp.password = params.password;
    sp.hasPassword = true;
  }
  return StoreCredentials(ref, sec->name, &sp);
}

DWORD ValidateEntryName(const PbArg& pb, const std::string& name) {
  if (!ValidEntryName(name)) return ERROR_INVALID_NAME;
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ResolvePhonebook(pb.CStr()), doc)) return e;
  return FindEntry(doc, name) ? ERROR_ALREADY_EXISTS : 0;
}

DWORD RenameEntry(const PbArg& pb, const std::string& oldName, const std::string& newName) {
  if (!ValidEntryName(newName)) return ERROR_INVALID_NAME;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  std::string canonicalOld;
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(oldName);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    IniSection* other = doc.Find(newName);
    if (other && other != s) return ERROR_ALREADY_EXISTS;
    canonicalOld = s->name;
    if (s->name != newName) {
      doc.Rename(*s, newName);
      changed = true;
    }
    return 0;
  });
  if (e) return e;
  RenameCredentials(ref, canonicalOld, newName);
  return 0;
}

DWORD DeleteEntry(const PbArg& pb, const std::string& name) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  std::string canonical;
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(name);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    canonical = s->name;
    doc.Remove(name);
    changed = true;
    return 0;
  });
  if (e) return e;
  StoreCredentials(ref, canonical, nullptr);
  return 0;
}

DWORD GetEntryProperties(const PbArg& pb, const std::string& entry, EntryProps& out) {
  if (entry.empty()) {
    out = DefaultProps();
    return 0;
  }
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ResolvePhonebook(pb.CStr()), doc)) return e;
  const IniSection* sec = FindEntry(doc, entry);
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  out = PropsOf(*sec);
  return 0;
}

DWORD SetEntryProperties(const PbArg& pb, const std::string& entry, const EntryProps& props) {
  if (!PropsSafe(props)) return ERROR_INVALID_PARAMETER;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  return ModifyPhonebook(ref, true, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(entry);
    if (!s) {
      if (!ValidEntryName(entry)) return ERROR_INVALID_NAME;
      s = &doc.Add(entry);
      s->Set("Encoding", "1");
      s->Set("Type", SameName(props.deviceType, "vpn") ? "2" : "1");
    }
    WriteProps(*s, props);
    changed = true;
    return 0;
  });
}

namespace {

// Resolves a dialog's device answer: a device type or a device name.
const Device* DeviceAnswer(const std::string& text) {
  if (text.empty()) return &Devices()[0];
  return FindDevice(text, text);
}

}  // namespace

DWORD CreatePhonebookEntry(HWND /*owner*/, const PbArg& pb) {
  dialogs::Request req;
  req.create = true;
  dialogs::Answers ans;
  if (!dialogs::Show(req, ans)) return ERROR_CANCELLED;
  std::string name = ans.entry.value_or(std::string());
  std::string phone = ans.phone.value_or(std::string());
  if (!ValidEntryName(name)) return ERROR_INVALID_NAME;
  if (!SafeValue(phone)) return ERROR_INVALID_PARAMETER;
  const Device* dev = DeviceAnswer(ans.device.value_or(std::string()));
  if (!dev) return ERROR_DEVICE_DOES_NOT_EXIST;
  return ModifyPhonebook(ResolvePhonebook(pb.CStr()), true, [&](IniDocument& doc, bool& changed) -> DWORD {
    if (doc.Find(name)) return ERROR_ALREADY_EXISTS;
    IniSection& s = doc.Add(name);
    s.Set("Encoding", "1");
    s.Set("Type", SameName(dev->type, "vpn") ? "2" : "1");
    s.Set("PhoneNumber", phone);
    s.Set("Device", dev->name);
    s.Set("DEVICE", dev->type);
    changed = true;
    return 0;
  });
}

DWORD EditPhonebookEntry(HWND /*owner*/, const PbArg& pb, const std::string& entry) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ref, doc)) return e;
  const IniSection* sec = FindEntry(doc, entry);
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  dialogs::Request req;
  req.create = false;
  req.entry = sec->name;
  req.phone = sec->Get("PhoneNumber");
  req.device = sec->Get("DEVICE", sec->Get("DeviceType"));
  dialogs::Answers ans;
  if (!dialogs::Show(req, ans)) return ERROR_CANCELLED;
  std::string newName = ans.entry.value_or(req.entry);
  if (newName.empty()) newName = req.entry;
  if (!ValidEntryName(newName)) return ERROR_INVALID_NAME;
  if (ans.phone && !SafeValue(*ans.phone)) return ERROR_INVALID_PARAMETER;
  const Device* dev = nullptr;
  if (ans.device && !ans.device->empty()) {
    dev = DeviceAnswer(*ans.device);
    if (!dev) return ERROR_DEVICE_DOES_NOT_EXIST;
  }
  std::string oldName;
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& d, bool& changed) -> DWORD {
    IniSection* s = d.Find(entry);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    IniSection* other = d.Find(newName);
    if (other && other != s) return ERROR_ALREADY_EXISTS;
    oldName = s->name;
    if (s->name != newName) d.Rename(*s, newName);
    if (ans.phone) s->Set("PhoneNumber", *ans.phone);
    if (dev) {
      s->Set("Device", dev->name);
      s->Set("DEVICE", dev->type);
    }
    changed = true;
    return 0;
  });
  if (e) return e;
  if (oldName != newName) RenameCredentials(ref, oldName, newName);
  return 0;
}

// ---------------------------------------------------------------- control

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
  registry::ResetAttempts();
  inspect::Clear();
  dialogs::SetScript(nullptr);
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
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& kv : S().calls) {
      DropTimers(*kv.second, fx);
      fx.destroys.push_back(kv.second->connWindow);
      fx.destroys.push_back(kv.second->helper);
      registry::Remove(kv.first);
    }
    S().calls.clear();
  }
  for (uint32_t id : fx.cancels) QuorClockCancel(id);
  for (HWND w : fx.destroys)
    if (w && IsWindow(w)) DestroyWindow(w);
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
