// libnm on a thread of its own: the thread runs a GLib main context that owns
// the NMClient and every libnm object; callers hand it work and wait, with a
// bound, for the answer. Dial events are posted from that thread.
#include "RasSim/backends/networkmanager/NmBackend.h"

#include <gio/gio.h>
// libnm's error header lacks C linkage declarations for C++.
extern "C" {
#include <nm-errors.h>
}
#include <NetworkManager.h>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "RasSim/Text.h"
#include "RasSim/backends/networkmanager/NmMap.h"

namespace rasnm {

namespace {

// Bounds of the waits (milliseconds).
constexpr int kStartMs = 5000;      // connecting to NetworkManager
constexpr int kRequestMs = 10000;   // one request and its answer
constexpr int kDialMs = 120000;     // a synchronous dial (DHCP alone may take 45 s)
constexpr int kTeardownMs = 10000;  // the previous tunnel of a profile going away
constexpr guint kPollMs = 50;

// One answer awaited by a caller.
struct Waiter {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  DWORD result = 0;
  void Finish(DWORD r) {
    std::lock_guard<std::mutex> held(m);
    result = r;
    done = true;
    cv.notify_all();
  }
  // The result, or `timeout` when no answer came in time.
  DWORD Wait(int ms, DWORD timeout = ERROR_REQUEST_TIMEOUT) {
    std::unique_lock<std::mutex> held(m);
    if (!cv.wait_for(held, std::chrono::milliseconds(ms), [&] { return done; })) return timeout;
    return result;
  }
};

enum class Phase { Starting, Dialling, Connected, Failed, Lost, HangingUp, Gone };

struct Call {
  THRasConn handle = 0, activeHandle = 0;
  std::string entry, uuid, connType;
  HWND wnd = 0;
  UINT msg = 0;
  std::shared_ptr<Waiter> sync;  // a synchronous dial's outcome
  Phase phase = Phase::Starting;
  TRasConnState state = RASCS_OpenPort;
  bool posted = false;  // a state was posted already
  DWORD error = 0;
  bool vpn = false, cancel = false;
  std::string deviceType, deviceName, tunnel;
  std::vector<std::string> interfacesBefore;  // a VPN's tunnel is the interface that was not there
  NMActiveConnection* ac = nullptr;
  NMDevice* device = nullptr;
};

struct Backend {
  std::mutex m;  // guards everything below except the libnm objects (loop thread only)
  std::thread thread;
  GMainContext* ctx = nullptr;
  GMainLoop* loop = nullptr;
  NMClient* client = nullptr;
  std::thread::id loopId;
  bool started = false, running = false;
  DWORD startError = 0;
  std::map<THRasConn, std::shared_ptr<Call>> calls;  // by pending and by active handle
  THRasConn nextPending = kPendingHandleBase + 1;
  std::map<std::string, std::string> tunnels;  // profile uuid -> tunnel of its last hang-up
};

Backend& B() {
  static Backend* b = new Backend();
  return *b;
}

// ---------------------------------------------------------------- the thread

void RunJob(std::function<void()>* job) {
  (*job)();
}

gboolean JobTrampoline(gpointer data) {
  RunJob(static_cast<std::function<void()>*>(data));
  return G_SOURCE_REMOVE;
}

void JobFree(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

void Post(std::function<void()> job) {
  g_main_context_invoke_full(B().ctx, G_PRIORITY_DEFAULT, JobTrampoline, new std::function<void()>(std::move(job)),
                             JobFree);
}

void ClientReady(GObject*, GAsyncResult* res, gpointer data) {
  auto* w = static_cast<std::shared_ptr<Waiter>*>(data);
  GError* err = nullptr;
  NMClient* c = nm_client_new_finish(res, &err);
  DWORD r = 0;
  if (!c) {
    r = ERROR_RASMAN_CANNOT_INITIALIZE;
    g_clear_error(&err);
  } else {
    std::lock_guard<std::mutex> held(B().m);
    B().client = c;
    B().running = nm_client_get_nm_running(c);
  }
  (*w)->Finish(r);
  delete w;
}

void ConnectClientSignals(NMClient* c);

// Starts the thread and the client once; afterwards the client's own state says
// whether NetworkManager runs.
DWORD Start() {
  Backend& b = B();
  auto w = std::make_shared<Waiter>();
  {
    std::lock_guard<std::mutex> held(b.m);
    if (b.started) {
      if (b.startError) return b.startError;
      return b.running ? 0 : ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    b.started = true;
    b.ctx = g_main_context_new();
    b.loop = g_main_loop_new(b.ctx, FALSE);
    b.thread = std::thread([w] {
      Backend& bb = B();
      g_main_context_push_thread_default(bb.ctx);
      nm_client_new_async(nullptr, ClientReady, new std::shared_ptr<Waiter>(w));
      g_main_loop_run(bb.loop);
      g_main_context_pop_thread_default(bb.ctx);
    });
    b.loopId = b.thread.get_id();
  }
  DWORD r = w->Wait(kStartMs, ERROR_RASMAN_CANNOT_INITIALIZE);
  std::lock_guard<std::mutex> held(b.m);
  if (r == 0 && b.client) {
    ConnectClientSignals(b.client);
    if (!b.running) return ERROR_RASMAN_CANNOT_INITIALIZE;
  }
  if (r) b.startError = r;
  return r;
}

// Runs `job` on the loop thread; it finishes the waiter when its answer is known.
DWORD Request(std::function<void(std::shared_ptr<Waiter>)> job, int ms = kRequestMs) {
  if (DWORD e = Start()) return e;
  auto w = std::make_shared<Waiter>();
  if (std::this_thread::get_id() == B().loopId) {
    job(w);
    return w->done ? w->result : ERROR_REQUEST_TIMEOUT;
  }
  Post([job, w] { job(w); });
  return w->Wait(ms);
}

// ---------------------------------------------------------------- helpers (loop thread)

DWORD ErrorOf(const GError* err) {
  if (!err) return 0;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_PERMISSION_DENIED) ||
      g_error_matches(err, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_PERMISSION_DENIED) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
      g_error_matches(err, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
    return ERROR_ACCESS_DENIED;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_UNKNOWN_CONNECTION) ||
      g_error_matches(err, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_INVALID_CONNECTION))
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_UNKNOWN_DEVICE) ||
      g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_CONNECTION_NOT_AVAILABLE))
    return ERROR_DEVICE_DOES_NOT_EXIST;
  if (g_error_matches(err, NM_AGENT_MANAGER_ERROR, NM_AGENT_MANAGER_ERROR_NO_SECRETS) ||
      g_error_matches(err, NM_SECRET_AGENT_ERROR, NM_SECRET_AGENT_ERROR_NO_SECRETS))
    return ERROR_AUTHENTICATION_FAILURE;
  if (g_error_matches(err, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    return ERROR_REQUEST_TIMEOUT;
  if (g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
    return ERROR_RASMAN_CANNOT_INITIALIZE;
  return ERROR_UNKNOWN;
}

NMRemoteConnection* FindProfile(const std::string& name) {
  const GPtrArray* all = nm_client_get_connections(B().client);
  for (guint i = 0; all && i < all->len; ++i) {
    auto* rc = static_cast<NMRemoteConnection*>(g_ptr_array_index(all, i));
    const char* id = nm_connection_get_id(NM_CONNECTION(rc));
    if (id && rassim::SameName(id, name)) return rc;
  }
  return nullptr;
}

std::string VpnService(NMConnection* c) {
  NMSettingVpn* s = nm_connection_get_setting_vpn(c);
  const char* t = s ? nm_setting_vpn_get_service_type(s) : nullptr;
  return t ? t : "";
}

std::string ShortVpnService(const std::string& service) {
  size_t dot = service.rfind('.');
  return dot == std::string::npos ? service : service.substr(dot + 1);
}

// Where a profile keeps the user name and password of its dial parameters.
struct SecretPlace {
  const char* setting = nullptr;  // secret setting
  const char* userKey = nullptr;  // property (or vpn data key)
  const char* passwordKey = nullptr;
  bool vpn = false;
};

SecretPlace PlaceOf(NMConnection* c) {
  const char* type = nm_connection_get_connection_type(c);
  std::string t = type ? type : "";
  if (t == NM_SETTING_VPN_SETTING_NAME) return {NM_SETTING_VPN_SETTING_NAME, "username", "password", true};
  if (t == NM_SETTING_GSM_SETTING_NAME) return {NM_SETTING_GSM_SETTING_NAME, "username", "password", false};
  if (t == NM_SETTING_CDMA_SETTING_NAME) return {NM_SETTING_CDMA_SETTING_NAME, "username", "password", false};
  if (t == NM_SETTING_PPPOE_SETTING_NAME) return {NM_SETTING_PPPOE_SETTING_NAME, "username", "password", false};
  if (nm_connection_get_setting_802_1x(c)) return {NM_SETTING_802_1X_SETTING_NAME, "identity", "password", false};
  return {};
}

std::string StringProperty(NMSetting* s, const char* name) {
  if (!s || !g_object_class_find_property(G_OBJECT_GET_CLASS(s), name)) return "";
  gchar* v = nullptr;
  g_object_get(s, name, &v, nullptr);
  std::string out = v ? v : "";
  g_free(v);
  return out;
}

// The interface that holds `address` (the tunnel of a VPN), or "".
std::string InterfaceOfAddress(const std::string& address) {
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (struct ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<struct sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    if (address == text) {
      found = i->ifa_name;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

// The first IPv4 address of an interface, from the kernel.
std::string AddressOfInterface(const std::string& name) {
  struct ifaddrs* list = nullptr;
  if (name.empty() || getifaddrs(&list) != 0) return "";
  std::string found;
  for (struct ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || name != i->ifa_name) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<struct sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    found = text;
    break;
  }
  freeifaddrs(list);
  return found;
}

std::vector<std::string> InterfaceNames() {
  std::vector<std::string> out;
  if (struct if_nameindex* list = if_nameindex()) {
    for (struct if_nameindex* i = list; i->if_index != 0; ++i) out.push_back(i->if_name);
    if_freenameindex(list);
  }
  return out;
}

std::string FirstAddress(NMActiveConnection* ac, std::string* gateway = nullptr) {
  NMIPConfig* cfg = ac ? nm_active_connection_get_ip4_config(ac) : nullptr;
  if (!cfg) return "";
  GPtrArray* addrs = nm_ip_config_get_addresses(cfg);
  if (gateway) {
    const char* gw = nm_ip_config_get_gateway(cfg);
    *gateway = gw ? gw : "";
  }
  if (!addrs || addrs->len == 0) return "";
  return nm_ip_address_get_address(static_cast<NMIPAddress*>(g_ptr_array_index(addrs, 0)));
}

// ---------------------------------------------------------------- dial state (loop thread, under B().m)

bool PostByMessage(HWND wnd, UINT msg, TRasConnState state, DWORD error) {
  return PostMessageA(wnd, msg, static_cast<WPARAM>(state), static_cast<LPARAM>(error)) != 0;
}

std::atomic<EventPoster> gPoster{PostByMessage};
std::atomic<ConnectionReporter> gReporter{nullptr};

void ReportLocked(const Call& c, bool made) {
  // Both names of the call: the dial's own handle and the one every process sees.
  ConnectionReporter report = gReporter.load();
  if (!report) return;
  report(c.handle, made);
  if (c.activeHandle != 0 && c.activeHandle != c.handle) report(c.activeHandle, made);
}

void PostLocked(Call& c, TRasConnState state, DWORD error) {
  c.state = state;
  c.posted = true;
  if (!c.wnd || gPoster.load()(c.wnd, c.msg, state, error)) return;
  // Nobody will hear of this call any more: it ends here, and is taken down.
  c.wnd = 0;
  c.phase = Phase::Failed;
  c.error = ERROR_OUT_OF_BUFFERS;
  c.cancel = true;
  if (c.sync) c.sync->Finish(c.error);
  if (c.ac) nm_client_deactivate_connection_async(B().client, c.ac, nullptr, nullptr, nullptr);
}

void StepsLocked(Call& c, const std::vector<TRasConnState>& steps) {
  if (c.phase != Phase::Dialling) return;
  for (TRasConnState s : steps) {
    if (c.posted && s <= c.state) continue;
    PostLocked(c, s, 0);
    if (s == RASCS_Connected) {
      c.phase = Phase::Connected;
      if (c.sync) c.sync->Finish(0);
      ReportLocked(c, true);
    }
  }
}

void FailLocked(Call& c, DWORD error) {
  switch (c.phase) {
    case Phase::Starting:
    case Phase::Dialling:
      c.phase = Phase::Failed;
      c.error = error ? error : ERROR_UNKNOWN;
      PostLocked(c, c.state, c.error);
      if (c.sync) c.sync->Finish(c.error);
      break;
    case Phase::Connected:
      c.phase = Phase::Lost;
      c.error = error;
      ReportLocked(c, false);
      break;
    case Phase::HangingUp:
      break;
    default:
      break;
  }
}

std::vector<std::shared_ptr<Call>> CallsOf(const std::function<bool(const Call&)>& pick) {
  std::vector<std::shared_ptr<Call>> out;
  for (auto& [h, c] : B().calls)
    if (h == c->handle && pick(*c)) out.push_back(c);
  return out;
}

void NoteConnectedLocked(Call& c) {
  if (!c.vpn) return;
  std::string ip = FirstAddress(c.ac);
  std::string tun = ip.empty() ? "" : InterfaceOfAddress(ip);
  if (tun.empty()) {
    for (const std::string& name : InterfaceNames())
      if (std::find(c.interfacesBefore.begin(), c.interfacesBefore.end(), name) == c.interfacesBefore.end()) {
        tun = name;
        break;
      }
  }
  if (!tun.empty()) {
    c.tunnel = tun;
    c.deviceName = tun;
  }
}

void OnDeviceState(NMDevice* dev, guint now, guint /*old*/, guint reason, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([dev](const Call& x) { return x.device == dev && !x.vpn; })) {
    if (c->phase == Phase::Dialling) {
      if (now == NM_DEVICE_STATE_FAILED || now == NM_DEVICE_STATE_DEACTIVATING || now <= NM_DEVICE_STATE_DISCONNECTED) {
        FailLocked(*c, DeviceReasonError(reason));
      } else {
        StepsLocked(*c, DeviceSteps(now));
        if (c->phase == Phase::Connected) NoteConnectedLocked(*c);
      }
    } else if (c->phase == Phase::Connected && now != NM_DEVICE_STATE_ACTIVATED) {
      FailLocked(*c, DeviceReasonError(reason));
    } else if (c->phase == Phase::HangingUp && now <= NM_DEVICE_STATE_DISCONNECTED) {
      c->phase = Phase::Gone;
    }
  }
}

void OnVpnState(NMVpnConnection* vpn, guint now, guint reason, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  auto* ac = NM_ACTIVE_CONNECTION(vpn);
  for (auto& c : CallsOf([ac](const Call& x) { return x.ac == ac && x.vpn; })) {
    if (now == NM_VPN_CONNECTION_STATE_FAILED || now == NM_VPN_CONNECTION_STATE_DISCONNECTED) {
      FailLocked(*c, VpnReasonError(reason));
    } else if (c->phase == Phase::Dialling) {
      StepsLocked(*c, VpnSteps(now));
      if (c->phase == Phase::Connected) NoteConnectedLocked(*c);
    }
  }
}

bool TunnelPresent(const std::string& name) {
  return !name.empty() && if_nametoindex(name.c_str()) != 0;
}

void OnActiveState(NMActiveConnection* ac, guint now, guint reason, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([ac](const Call& x) { return x.ac == ac; })) {
    if (now == NM_ACTIVE_CONNECTION_STATE_DEACTIVATED) {
      if (c->phase == Phase::HangingUp) {
        if (!c->vpn || !TunnelPresent(c->tunnel)) c->phase = Phase::Gone;
      } else {
        FailLocked(*c, ActiveReasonError(reason));
      }
    } else if (now == NM_ACTIVE_CONNECTION_STATE_ACTIVATED && c->phase == Phase::Dialling && c->vpn) {
      StepsLocked(*c, VpnSteps(NM_VPN_CONNECTION_STATE_ACTIVATED));
      NoteConnectedLocked(*c);
    }
  }
}

void OnActiveRemoved(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([ac](const Call& x) { return x.ac == ac; })) {
    if (c->phase == Phase::HangingUp) {
      if (!c->vpn || !TunnelPresent(c->tunnel)) c->phase = Phase::Gone;
    } else {
      FailLocked(*c, ERROR_DISCONNECTION);
    }
  }
}

void OnDeviceRemoved(NMClient*, NMDevice* dev, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([dev](const Call& x) { return x.device == dev; })) {
    if (c->phase == Phase::HangingUp)
      c->phase = Phase::Gone;
    else
      FailLocked(*c, DeviceReasonError(NM_DEVICE_STATE_REASON_REMOVED));
  }
}

void OnRunning(NMClient* client, GParamSpec*, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  B().running = nm_client_get_nm_running(client);
  if (B().running) return;
  for (auto& c : CallsOf([](const Call&) { return true; })) {
    if (c->phase == Phase::HangingUp)
      c->phase = Phase::Gone;
    else
      FailLocked(*c, ERROR_RASMAN_CANNOT_INITIALIZE);
  }
}

void ConnectClientSignals(NMClient* c) {
  Post([c] {
    g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_REMOVED, G_CALLBACK(OnActiveRemoved), nullptr);
    g_signal_connect(c, NM_CLIENT_DEVICE_REMOVED, G_CALLBACK(OnDeviceRemoved), nullptr);
    g_signal_connect(c, "notify::" NM_CLIENT_NM_RUNNING, G_CALLBACK(OnRunning), nullptr);
  });
}

// A VPN's tunnel lingers for about a second after its deactivation; a new dial
// of the profile waits (on this thread) until the old one is gone.
bool TeardownPending(const std::string& uuid) {
  const GPtrArray* acs = nm_client_get_active_connections(B().client);
  for (guint i = 0; acs && i < acs->len; ++i) {
    auto* ac = static_cast<NMActiveConnection*>(g_ptr_array_index(acs, i));
    const char* u = nm_active_connection_get_uuid(ac);
    if (u && uuid == u && nm_active_connection_get_state(ac) == NM_ACTIVE_CONNECTION_STATE_DEACTIVATING) return true;
  }
  std::lock_guard<std::mutex> held(B().m);
  auto t = B().tunnels.find(uuid);
  return t != B().tunnels.end() && TunnelPresent(t->second);
}

void AttachDevice(const std::shared_ptr<Call>& c) {
  const GPtrArray* devs = nm_active_connection_get_devices(c->ac);
  if (c->vpn || c->device || !devs || devs->len == 0) return;
  auto* dev = static_cast<NMDevice*>(g_ptr_array_index(devs, 0));
  std::lock_guard<std::mutex> held(B().m);
  c->device = NM_DEVICE(g_object_ref(dev));
  const char* iface = nm_device_get_iface(dev);
  c->deviceName = iface ? iface : "";
  // One handler per device serves every call on it.
  g_signal_handlers_disconnect_by_func(dev, reinterpret_cast<gpointer>(OnDeviceState), nullptr);
  g_signal_connect(dev, "state-changed", G_CALLBACK(OnDeviceState), nullptr);
  // Catch up with what happened before the signal was connected.
  if (c->phase == Phase::Dialling) {
    guint s = nm_device_get_state(dev);
    if (s > NM_DEVICE_STATE_DISCONNECTED && s <= NM_DEVICE_STATE_ACTIVATED) StepsLocked(*c, DeviceSteps(s));
    if (c->phase == Phase::Connected) NoteConnectedLocked(*c);
  }
}

void OnDevicesNotify(NMActiveConnection*, GParamSpec*, gpointer data) {
  auto* weak = static_cast<std::weak_ptr<Call>*>(data);
  if (auto c = weak->lock()) AttachDevice(c);
}

void ActivationDone(GObject* source, GAsyncResult* res, gpointer data) {
  auto* holder = static_cast<std::shared_ptr<Call>*>(data);
  std::shared_ptr<Call> c = *holder;
  delete holder;
  GError* err = nullptr;
  NMActiveConnection* ac = nm_client_activate_connection_finish(NM_CLIENT(source), res, &err);
  if (!ac) {
    std::lock_guard<std::mutex> held(B().m);
    FailLocked(*c, ErrorOf(err));
    g_clear_error(&err);
    return;
  }
  bool cancel;
  {
    std::lock_guard<std::mutex> held(B().m);
    c->ac = ac;  // the reference of the finish call
    c->activeHandle = HandleOfActivePath(nm_object_get_path(NM_OBJECT(ac)));
    if (c->activeHandle) B().calls[c->activeHandle] = c;
    c->vpn = NM_IS_VPN_CONNECTION(ac);
    if (c->phase == Phase::Starting) c->phase = Phase::Dialling;
    cancel = c->cancel;
  }
  g_signal_connect(ac, "state-changed", G_CALLBACK(OnActiveState), nullptr);
  if (c->vpn) {
    g_signal_connect(ac, "vpn-state-changed", G_CALLBACK(OnVpnState), nullptr);
    std::lock_guard<std::mutex> held(B().m);
    StepsLocked(*c, VpnSteps(nm_vpn_connection_get_vpn_state(NM_VPN_CONNECTION(ac))));
    if (c->phase == Phase::Connected) NoteConnectedLocked(*c);
  } else {
    g_signal_connect_data(
        ac, "notify::" NM_ACTIVE_CONNECTION_DEVICES, G_CALLBACK(OnDevicesNotify), new std::weak_ptr<Call>(c),
        [](gpointer p, GClosure*) { delete static_cast<std::weak_ptr<Call>*>(p); }, GConnectFlags(0));
    AttachDevice(c);
  }
  if (cancel) nm_client_deactivate_connection_async(B().client, ac, nullptr, nullptr, nullptr);
}

void Activate(const std::shared_ptr<Call>& c, int waitedMs) {
  NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, c->uuid.c_str());
  if (!rc) {
    std::lock_guard<std::mutex> held(B().m);
    FailLocked(*c, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    return;
  }
  if (waitedMs < kTeardownMs && TeardownPending(c->uuid)) {
    GSource* t = g_timeout_source_new(kPollMs);
    auto* again = new std::function<void()>([c, waitedMs] { Activate(c, waitedMs + static_cast<int>(kPollMs)); });
    g_source_set_callback(t, JobTrampoline, again, JobFree);
    g_source_attach(t, B().ctx);
    g_source_unref(t);
    return;
  }
  {
    std::lock_guard<std::mutex> held(B().m);
    if (c->cancel) {
      c->phase = Phase::Gone;
      return;
    }
  }
  nm_client_activate_connection_async(B().client, NM_CONNECTION(rc), nullptr, nullptr, nullptr, ActivationDone,
                                      new std::shared_ptr<Call>(c));
}

// ---------------------------------------------------------------- profile edits (loop thread)

struct Edit {
  std::string uuid;
  std::function<DWORD(NMConnection*, const SecretPlace&)> change;  // applied to a copy with its secrets
  std::shared_ptr<Waiter> w;
  std::function<void(DWORD)> then;  // instead of finishing the waiter
  NMConnection* saved = nullptr;    // what was saved
  ~Edit() {
    if (saved) g_object_unref(saved);
  }
  void Finish(DWORD r) {
    if (then)
      then(r);
    else
      w->Finish(r);
  }
};

// After a save, the client's copy of the profile changes when NetworkManager's
// notification arrives: answer once it has (bounded), so a caller's next request
// sees its own change.
void WhenSettled(std::function<bool()> settled, std::function<void()> then, int waitedMs = 0) {
  if (settled() || waitedMs >= kRequestMs / 4) return then();
  GSource* t = g_timeout_source_new(10);
  auto* again = new std::function<void()>([settled, then, waitedMs] { WhenSettled(settled, then, waitedMs + 10); });
  g_source_set_callback(t, JobTrampoline, again, JobFree);
  g_source_attach(t, B().ctx);
  g_source_unref(t);
}

void EditSaved(GObject* source, GAsyncResult* res, gpointer data) {
  std::shared_ptr<Edit> e(static_cast<Edit*>(data));
  GError* err = nullptr;
  GVariant* out = nm_remote_connection_update2_finish(NM_REMOTE_CONNECTION(source), res, &err);
  if (out) g_variant_unref(out);
  DWORD r = ErrorOf(err);
  g_clear_error(&err);
  if (r) return e->Finish(r);
  WhenSettled(
      [e] {
        NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, e->uuid.c_str());
        return !rc || nm_connection_compare(NM_CONNECTION(rc), e->saved,
                                            NMSettingCompareFlags(NM_SETTING_COMPARE_FLAG_IGNORE_SECRETS |
                                                                  NM_SETTING_COMPARE_FLAG_IGNORE_TIMESTAMP));
      },
      [e] { e->Finish(0); });
}

void EditWithSecrets(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Edit> e(static_cast<Edit*>(data));
  auto* rc = NM_REMOTE_CONNECTION(source);
  NMConnection* copy = nm_simple_connection_new_clone(NM_CONNECTION(rc));
  SecretPlace place = PlaceOf(copy);
  if (res) {
    GError* err = nullptr;
    GVariant* secrets = nm_remote_connection_get_secrets_finish(rc, res, &err);
    if (secrets) {
      nm_connection_update_secrets(copy, place.setting, secrets, nullptr);
      g_variant_unref(secrets);
    }
    g_clear_error(&err);  // no secrets stored: nothing to keep
  }
  if (DWORD r = e->change(copy, place)) {
    g_object_unref(copy);
    e->Finish(r);
    return;
  }
  GVariant* dict = nm_connection_to_dbus(copy, NM_CONNECTION_SERIALIZE_ALL);
  e->saved = copy;
  nm_remote_connection_update2(rc, dict, NM_SETTINGS_UPDATE2_FLAG_TO_DISK, nullptr, nullptr, EditSaved, e.release());
}

// Reads the profile's secrets, applies the change to a copy with them and saves it
// (an update without them would lose them).
void EditProfile(std::unique_ptr<Edit> e) {
  NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, e->uuid.c_str());
  if (!rc) {
    e->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    return;
  }
  SecretPlace place = PlaceOf(NM_CONNECTION(rc));
  if (place.setting)
    nm_remote_connection_get_secrets_async(rc, place.setting, nullptr, EditWithSecrets, e.release());
  else
    EditWithSecrets(G_OBJECT(rc), nullptr, e.release());
}

DWORD ApplyParams(NMConnection* c, const SecretPlace& place, const DialParams& p, bool setPassword,
                  bool removePassword) {
  if (!place.setting) return (p.user.empty() && p.password.empty()) ? 0 : ERROR_INVALID_PARAMETER;
  NMSetting* s = nm_connection_get_setting_by_name(c, place.setting);
  if (!s) return ERROR_INVALID_PARAMETER;
  if (place.vpn) {
    auto* vpn = NM_SETTING_VPN(s);
    if (p.user.empty())
      nm_setting_vpn_remove_data_item(vpn, place.userKey);
    else
      nm_setting_vpn_add_data_item(vpn, place.userKey, p.user.c_str());
    if (removePassword) {
      nm_setting_vpn_remove_secret(vpn, place.passwordKey);
    } else if (setPassword) {
      nm_setting_vpn_add_secret(vpn, place.passwordKey, p.password.c_str());
      nm_setting_vpn_add_data_item(vpn, (std::string(place.passwordKey) + "-flags").c_str(), "0");
    }
  } else {
    g_object_set(s, place.userKey, p.user.empty() ? nullptr : p.user.c_str(), nullptr);
    if (removePassword) {
      g_object_set(s, place.passwordKey, nullptr, nullptr);
    } else if (setPassword) {
      g_object_set(s, place.passwordKey, p.password.c_str(), nullptr);
      g_object_set(s, (std::string(place.passwordKey) + "-flags").c_str(), NM_SETTING_SECRET_FLAG_NONE, nullptr);
    }
  }
  return 0;
}

bool ValidName(const std::string& name) {
  return rassim::ValidEntryName(name);
}

// Forgets a call that is over, with its libnm objects (loop thread, under B().m).
void ReleaseLocked(const std::shared_ptr<Call>& c) {
  B().calls.erase(c->handle);
  if (c->activeHandle) B().calls.erase(c->activeHandle);
  if (c->ac) {
    g_signal_handlers_disconnect_by_func(c->ac, reinterpret_cast<gpointer>(OnActiveState), nullptr);
    g_signal_handlers_disconnect_by_func(c->ac, reinterpret_cast<gpointer>(OnVpnState), nullptr);
    g_signal_handlers_disconnect_matched(c->ac, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(OnDevicesNotify), nullptr);
    g_object_unref(c->ac);
    c->ac = nullptr;
  }
  if (c->device) {
    g_object_unref(c->device);
    c->device = nullptr;
  }
}

std::shared_ptr<Call> FindCall(THRasConn h) {
  auto it = B().calls.find(h);
  return it == B().calls.end() ? nullptr : it->second;
}

NMActiveConnection* FindActive(THRasConn h) {
  std::string path = ActivePathOfHandle(h);
  const GPtrArray* acs = nm_client_get_active_connections(B().client);
  for (guint i = 0; !path.empty() && acs && i < acs->len; ++i) {
    auto* ac = static_cast<NMActiveConnection*>(g_ptr_array_index(acs, i));
    if (path == nm_object_get_path(NM_OBJECT(ac))) return ac;
  }
  return nullptr;
}

std::string DeviceNameOf(NMActiveConnection* ac) {
  const GPtrArray* devs = nm_active_connection_get_devices(ac);
  if (!devs || devs->len == 0) return "";
  const char* iface = nm_device_get_iface(static_cast<NMDevice*>(g_ptr_array_index(devs, 0)));
  return iface ? iface : "";
}

std::string DeviceTypeOfActive(NMActiveConnection* ac) {
  NMRemoteConnection* rc = nm_active_connection_get_connection(ac);
  const char* type = nm_active_connection_get_connection_type(ac);
  return DeviceTypeOf(type ? type : "", rc ? VpnService(NM_CONNECTION(rc)) : "");
}

// Sets a setting's property from its text (strings, numbers, yes/no, lists).
bool SetFromText(NMSetting* s, const std::string& prop, const std::string& value) {
  GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(s), prop.c_str());
  if (!spec || !(spec->flags & G_PARAM_WRITABLE)) return false;
  GType t = G_PARAM_SPEC_VALUE_TYPE(spec);
  char* end = nullptr;
  if (t == G_TYPE_STRING) {
    g_object_set(s, prop.c_str(), value.c_str(), nullptr);
  } else if (t == G_TYPE_BOOLEAN) {
    if (value != "yes" && value != "no" && value != "true" && value != "false") return false;
    g_object_set(s, prop.c_str(), gboolean(value == "yes" || value == "true"), nullptr);
  } else if (t == G_TYPE_INT || t == G_TYPE_UINT || G_TYPE_IS_ENUM(t) || G_TYPE_IS_FLAGS(t)) {
    long long n = std::strtoll(value.c_str(), &end, 0);
    if (value.empty() || *end) return false;
    GValue v = G_VALUE_INIT;
    g_value_init(&v, t);
    if (t == G_TYPE_INT)
      g_value_set_int(&v, static_cast<int>(n));
    else if (t == G_TYPE_UINT)
      g_value_set_uint(&v, static_cast<guint>(n));
    else if (G_TYPE_IS_ENUM(t))
      g_value_set_enum(&v, static_cast<int>(n));
    else
      g_value_set_flags(&v, static_cast<guint>(n));
    g_object_set_property(G_OBJECT(s), prop.c_str(), &v);
    g_value_unset(&v);
  } else if (t == G_TYPE_STRV) {
    gchar** parts = g_strsplit(value.c_str(), ",", -1);
    g_object_set(s, prop.c_str(), parts, nullptr);
    g_strfreev(parts);
  } else {
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- operations

void SetEventPoster(EventPoster poster) {
  gPoster = poster ? poster : PostByMessage;
}

void SetConnectionReporter(ConnectionReporter reporter) {
  gReporter = reporter;
}

DWORD Dial(const DialParams& params, HWND notify, UINT msg, THRasConn* h) {
  if (!h) return ERROR_INVALID_PARAMETER;
  auto c = std::make_shared<Call>();
  c->wnd = notify;
  c->msg = msg;
  if (!notify) c->sync = std::make_shared<Waiter>();
  bool storeParams = !params.user.empty() || !params.password.empty();
  DWORD r = Request([c, params, storeParams](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(params.entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    NMConnection* conn = NM_CONNECTION(rc);
    {
      std::lock_guard<std::mutex> held(B().m);
      c->handle = B().nextPending++;
      c->entry = nm_connection_get_id(conn);
      c->uuid = nm_connection_get_uuid(conn);
      const char* type = nm_connection_get_connection_type(conn);
      c->connType = type ? type : "";
      c->vpn = c->connType == NM_SETTING_VPN_SETTING_NAME;
      c->deviceType = DeviceTypeOf(c->connType, VpnService(conn));
      c->deviceName = c->vpn ? ShortVpnService(VpnService(conn))
                             : StringProperty(NM_SETTING(nm_connection_get_setting_connection(conn)),
                                              NM_SETTING_CONNECTION_INTERFACE_NAME);
      if (c->vpn) c->interfacesBefore = InterfaceNames();
      B().calls[c->handle] = c;
      c->phase = Phase::Dialling;
      PostLocked(*c, RASCS_OpenPort, 0);
    }
    if (storeParams) {
      auto e = std::make_unique<Edit>();
      e->uuid = c->uuid;
      e->change = [params](NMConnection* copy, const SecretPlace& place) {
        return ApplyParams(copy, place, params, !params.password.empty(), false);
      };
      e->then = [c](DWORD r) {
        if (r) {
          std::lock_guard<std::mutex> held(B().m);
          FailLocked(*c, r);
          return;
        }
        Activate(c, 0);
      };
      EditProfile(std::move(e));
    } else {
      Activate(c, 0);
    }
    w->Finish(0);
  });
  if (r) return r;
  *h = c->handle;
  if (notify) return 0;
  return c->sync->Wait(kDialMs);
}

DWORD HangUp(THRasConn h) {
  return Request([h](std::shared_ptr<Waiter> w) {
    std::shared_ptr<Call> c;
    {
      std::lock_guard<std::mutex> held(B().m);
      c = FindCall(h);
      if (c) {
        if (c->phase == Phase::HangingUp || c->phase == Phase::Gone) return w->Finish(0);
        if (c->phase == Phase::Connected) ReportLocked(*c, false);
        c->phase = c->ac ? Phase::HangingUp : Phase::Gone;
        c->cancel = true;
        if (c->ac && c->sync) c->sync->Finish(ERROR_USER_DISCONNECTION);
        if (!c->tunnel.empty()) B().tunnels[c->uuid] = c->tunnel;
      }
    }
    NMActiveConnection* ac = c ? c->ac : FindActive(h);
    if (!c && !ac) return w->Finish(ERROR_INVALID_HANDLE);
    if (ac && nm_active_connection_get_state(ac) < NM_ACTIVE_CONNECTION_STATE_DEACTIVATING)
      nm_client_deactivate_connection_async(B().client, ac, nullptr, nullptr, nullptr);
    else if (c) {
      std::lock_guard<std::mutex> held(B().m);
      if (!TunnelPresent(c->tunnel)) c->phase = Phase::Gone;
    }
    if (c) {
      std::lock_guard<std::mutex> held(B().m);
      if (c->phase == Phase::Gone && c->ac) ReleaseLocked(c);
    }
    w->Finish(0);
  });
}

DWORD GetConnectStatus(THRasConn h, ConnStatus& out) {
  auto result = std::make_shared<ConnStatus>();
  DWORD r = Request([h, result](std::shared_ptr<Waiter> w) {
    {
      std::lock_guard<std::mutex> held(B().m);
      if (auto c = FindCall(h)) {
        if (c->phase == Phase::HangingUp && c->vpn && !TunnelPresent(c->tunnel) &&
            (!c->ac || nm_active_connection_get_state(c->ac) == NM_ACTIVE_CONNECTION_STATE_DEACTIVATED))
          c->phase = Phase::Gone;
        switch (c->phase) {
          case Phase::Gone:
            ReleaseLocked(c);
            return w->Finish(ERROR_INVALID_HANDLE);
          case Phase::Lost:
            return w->Finish(ERROR_INVALID_HANDLE);
          case Phase::HangingUp:
            result->state = RASCS_Disconnected;
            break;
          default:
            result->state = c->state;
            result->error = c->phase == Phase::Failed ? c->error : 0;
        }
        result->deviceType = c->deviceType;
        result->deviceName = c->deviceName;
        return w->Finish(0);
      }
    }
    NMActiveConnection* ac = FindActive(h);
    if (!ac) return w->Finish(ERROR_INVALID_HANDLE);
    switch (nm_active_connection_get_state(ac)) {
      case NM_ACTIVE_CONNECTION_STATE_ACTIVATED:
        result->state = RASCS_Connected;
        break;
      case NM_ACTIVE_CONNECTION_STATE_ACTIVATING:
        result->state = RASCS_ConnectDevice;
        break;
      case NM_ACTIVE_CONNECTION_STATE_DEACTIVATING:
        result->state = RASCS_Disconnected;
        break;
      default:
        return w->Finish(ERROR_INVALID_HANDLE);
    }
    result->deviceType = DeviceTypeOfActive(ac);
    result->deviceName = DeviceNameOf(ac);
    w->Finish(0);
  });
  if (r == 0) out = *result;
  return r;
}

DWORD EnumConnections(std::vector<ConnInfo>& out) {
  auto result = std::make_shared<std::vector<ConnInfo>>();
  DWORD r = Request([result](std::shared_ptr<Waiter> w) {
    const GPtrArray* acs = nm_client_get_active_connections(B().client);
    std::lock_guard<std::mutex> held(B().m);
    for (guint i = 0; acs && i < acs->len; ++i) {
      auto* ac = static_cast<NMActiveConnection*>(g_ptr_array_index(acs, i));
      guint state = nm_active_connection_get_state(ac);
      if (state != NM_ACTIVE_CONNECTION_STATE_ACTIVATING && state != NM_ACTIVE_CONNECTION_STATE_ACTIVATED) continue;
      THRasConn handle = HandleOfActivePath(nm_object_get_path(NM_OBJECT(ac)));
      const char* id = nm_active_connection_get_id(ac);
      if (!handle || !id || !nm_active_connection_get_connection(ac)) continue;
      ConnInfo info{handle, id, DeviceTypeOfActive(ac), DeviceNameOf(ac)};
      if (auto c = FindCall(handle)) {
        if (c->phase == Phase::HangingUp || c->phase == Phase::Gone || c->phase == Phase::Lost) continue;
        info.deviceName = c->deviceName;
      }
      result->push_back(info);
    }
    w->Finish(0);
  });
  if (r == 0) out = *result;
  return r;
}

DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp) {
  auto result = std::make_shared<std::pair<std::string, std::string>>();
  DWORD r = Request([h, result](std::shared_ptr<Waiter> w) {
    NMActiveConnection* ac = nullptr;
    std::string iface;
    {
      std::lock_guard<std::mutex> held(B().m);
      if (auto c = FindCall(h)) {
        if (c->phase != Phase::Connected)
          return w->Finish(c->phase == Phase::Dialling ? ERROR_PROJECTION_NOT_COMPLETE : ERROR_INVALID_HANDLE);
        ac = c->ac;
        iface = c->vpn ? c->tunnel : c->deviceName;
      }
    }
    bool mine = ac != nullptr;  // connected by its own signals; the active connection's state may lag
    if (!ac) ac = FindActive(h);
    if (!ac) return w->Finish(ERROR_INVALID_HANDLE);
    if (!mine && nm_active_connection_get_state(ac) != NM_ACTIVE_CONNECTION_STATE_ACTIVATED)
      return w->Finish(ERROR_PROJECTION_NOT_COMPLETE);
    // NetworkManager's own record of the addresses may lag behind the kernel's.
    result->first = FirstAddress(ac, &result->second);
    if (result->first.empty()) result->first = AddressOfInterface(iface.empty() ? DeviceNameOf(ac) : iface);
    w->Finish(result->first.empty() ? ERROR_PROTOCOL_NOT_CONFIGURED : 0);
  });
  if (r == 0) {
    ip = result->first;
    serverIp = result->second;
  }
  return r;
}

DWORD EnumEntries(std::vector<std::string>& names) {
  auto result = std::make_shared<std::vector<std::string>>();
  DWORD r = Request([result](std::shared_ptr<Waiter> w) {
    const GPtrArray* all = nm_client_get_connections(B().client);
    for (guint i = 0; all && i < all->len; ++i) {
      const char* id = nm_connection_get_id(NM_CONNECTION(g_ptr_array_index(all, i)));
      if (id) result->push_back(id);
    }
    std::sort(result->begin(), result->end(),
              [](const std::string& a, const std::string& b) { return rassim::FoldCase(a) < rassim::FoldCase(b); });
    w->Finish(0);
  });
  if (r == 0) names = *result;
  return r;
}

DWORD GetEntryDialParams(const std::string& entry, DialParams& out, bool& passwordReturned) {
  struct Answer {
    DialParams p;
    bool password = false;
  };
  auto result = std::make_shared<Answer>();
  passwordReturned = false;
  DWORD r = Request([entry, result](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    result->p.entry = nm_connection_get_id(NM_CONNECTION(rc));
    SecretPlace place = PlaceOf(NM_CONNECTION(rc));
    if (!place.setting) return w->Finish(0);
    struct Ctx {
      std::shared_ptr<Answer> a;
      std::shared_ptr<Waiter> w;
      SecretPlace place;
    };
    nm_remote_connection_get_secrets_async(
        rc, place.setting, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<Ctx> x(static_cast<Ctx*>(data));
          auto* rc2 = NM_REMOTE_CONNECTION(source);
          NMConnection* copy = nm_simple_connection_new_clone(NM_CONNECTION(rc2));
          GError* err = nullptr;
          GVariant* secrets = nm_remote_connection_get_secrets_finish(rc2, res, &err);
          DWORD e = 0;
          if (secrets) {
            nm_connection_update_secrets(copy, x->place.setting, secrets, nullptr);
            g_variant_unref(secrets);
          } else {
            e = ErrorOf(err) == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : 0;
          }
          g_clear_error(&err);
          NMSetting* s = nm_connection_get_setting_by_name(copy, x->place.setting);
          std::string password;
          if (x->place.vpn && s) {
            const char* u = nm_setting_vpn_get_data_item(NM_SETTING_VPN(s), x->place.userKey);
            const char* p = nm_setting_vpn_get_secret(NM_SETTING_VPN(s), x->place.passwordKey);
            x->a->p.user = u ? u : "";
            password = p ? p : "";
          } else if (s) {
            x->a->p.user = StringProperty(s, x->place.userKey);
            password = StringProperty(s, x->place.passwordKey);
            if (std::string(x->place.setting) == NM_SETTING_GSM_SETTING_NAME ||
                std::string(x->place.setting) == NM_SETTING_CDMA_SETTING_NAME)
              x->a->p.phone = StringProperty(s, "number");
          }
          g_object_unref(copy);
          x->a->p.password = password;
          x->a->password = !password.empty();
          x->w->Finish(e);
        },
        new Ctx{result, w, place});
  });
  if (r == 0) {
    out = result->p;
    passwordReturned = result->password;
  }
  return r;
}

DWORD SetEntryDialParams(const DialParams& params, bool removePassword) {
  return Request([params, removePassword](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(params.entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    auto e = std::make_unique<Edit>();
    e->uuid = nm_connection_get_uuid(NM_CONNECTION(rc));
    e->change = [params, removePassword](NMConnection* copy, const SecretPlace& place) {
      return ApplyParams(copy, place, params, true, removePassword);
    };
    std::string path = nm_connection_get_path(NM_CONNECTION(rc));
    e->then = [w, removePassword, path](DWORD r) {
      if (r || !removePassword) return w->Finish(r);
      // An update keeps the secrets it does not name: clearing them is a request of its own.
      g_dbus_connection_call(
          nm_client_get_dbus_connection(B().client), NM_DBUS_SERVICE, path.c_str(),
          NM_DBUS_INTERFACE_SETTINGS_CONNECTION, "ClearSecrets", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
          kRequestMs / 2, nullptr,
          [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
            GError* err = nullptr;
            GVariant* out = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &err);
            if (out) g_variant_unref(out);
            DWORD code = ErrorOf(err);
            g_clear_error(&err);
            (*ww)->Finish(code);
          },
          new std::shared_ptr<Waiter>(w));
    };
    EditProfile(std::move(e));
  });
}

DWORD ValidateEntryName(const std::string& name) {
  if (!ValidName(name)) return ERROR_INVALID_NAME;
  return Request([name](std::shared_ptr<Waiter> w) { w->Finish(FindProfile(name) ? ERROR_ALREADY_EXISTS : 0); });
}

DWORD RenameEntry(const std::string& oldName, const std::string& newName) {
  return Request([oldName, newName](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(oldName);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    if (!ValidName(newName)) return w->Finish(ERROR_INVALID_NAME);
    NMRemoteConnection* other = FindProfile(newName);
    if (other && other != rc) return w->Finish(ERROR_ALREADY_EXISTS);
    auto e = std::make_unique<Edit>();
    e->uuid = nm_connection_get_uuid(NM_CONNECTION(rc));
    e->w = w;
    e->change = [newName](NMConnection* copy, const SecretPlace&) {
      g_object_set(nm_connection_get_setting_connection(copy), NM_SETTING_CONNECTION_ID, newName.c_str(), nullptr);
      return DWORD{0};
    };
    EditProfile(std::move(e));
  });
}

DWORD DeleteEntry(const std::string& name) {
  return Request([name](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(name);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    nm_remote_connection_delete_async(
        rc, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
          GError* err = nullptr;
          nm_remote_connection_delete_finish(NM_REMOTE_CONNECTION(source), res, &err);
          DWORD r = ErrorOf(err);
          g_clear_error(&err);
          if (r) return (*ww)->Finish(r);
          std::string uuid = nm_connection_get_uuid(NM_CONNECTION(source));
          std::shared_ptr<Waiter> w2 = *ww;
          WhenSettled([uuid] { return nm_client_get_connection_by_uuid(B().client, uuid.c_str()) == nullptr; },
                      [w2] { w2->Finish(0); });
        },
        new std::shared_ptr<Waiter>(w));
  });
}

DWORD GetEntryDevice(const std::string& entry, std::string& deviceType, std::string& deviceName) {
  auto result = std::make_shared<std::pair<std::string, std::string>>();
  DWORD r = Request([entry, result](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    NMConnection* c = NM_CONNECTION(rc);
    const char* type = nm_connection_get_connection_type(c);
    result->first = DeviceTypeOf(type ? type : "", VpnService(c));
    const char* iface = nm_connection_get_interface_name(c);
    result->second = result->first == "vpn" ? ShortVpnService(VpnService(c)) : (iface ? iface : "");
    w->Finish(0);
  });
  if (r == 0) {
    deviceType = result->first;
    deviceName = result->second;
  }
  return r;
}

DWORD CreateEntry(const NewEntry& entry) {
  return Request([entry](std::shared_ptr<Waiter> w) {
    if (!ValidName(entry.name)) return w->Finish(ERROR_INVALID_NAME);
    if (FindProfile(entry.name)) return w->Finish(ERROR_ALREADY_EXISTS);
    NMConnection* c = nm_simple_connection_new();
    NMSetting* con = nm_setting_connection_new();
    gchar* uuid = nm_utils_uuid_generate();
    std::string type = entry.kind == "vpn"        ? NM_SETTING_VPN_SETTING_NAME
                       : entry.kind == "ethernet" ? NM_SETTING_WIRED_SETTING_NAME
                       : entry.kind == "gsm"      ? NM_SETTING_GSM_SETTING_NAME
                       : entry.kind == "pppoe"    ? NM_SETTING_PPPOE_SETTING_NAME
                                                  : "";
    if (type.empty()) {
      g_free(uuid);
      g_object_unref(con);
      g_object_unref(c);
      return w->Finish(ERROR_INVALID_PARAMETER);
    }
    g_object_set(con, NM_SETTING_CONNECTION_ID, entry.name.c_str(), NM_SETTING_CONNECTION_UUID, uuid,
                 NM_SETTING_CONNECTION_TYPE, type.c_str(), NM_SETTING_CONNECTION_AUTOCONNECT, FALSE, nullptr);
    g_free(uuid);
    nm_connection_add_setting(c, con);
    if (entry.kind == "vpn") {
      NMSetting* vpn = nm_setting_vpn_new();
      g_object_set(vpn, NM_SETTING_VPN_SERVICE_TYPE, NM_DBUS_INTERFACE ".openvpn", nullptr);
      nm_connection_add_setting(c, vpn);
    } else if (entry.kind == "ethernet") {
      nm_connection_add_setting(c, nm_setting_wired_new());
    } else if (entry.kind == "gsm") {
      nm_connection_add_setting(c, nm_setting_gsm_new());
    } else {
      nm_connection_add_setting(c, nm_setting_wired_new());
      nm_connection_add_setting(c, nm_setting_pppoe_new());
    }
    DWORD bad = 0;
    for (const auto& [key, value] : entry.settings) {
      size_t dot = key.find('.');
      if (dot == std::string::npos) {
        bad = ERROR_INVALID_PARAMETER;
        break;
      }
      std::string setting = key.substr(0, dot), prop = key.substr(dot + 1);
      if (setting == "vpn" && prop.rfind("data.", 0) == 0) {
        nm_setting_vpn_add_data_item(nm_connection_get_setting_vpn(c), prop.substr(5).c_str(), value.c_str());
        continue;
      }
      NMSetting* s = nm_connection_get_setting_by_name(c, setting.c_str());
      if (!s) {
        GType t = nm_setting_lookup_type(setting.c_str());
        if (t == G_TYPE_INVALID) {
          bad = ERROR_INVALID_PARAMETER;
          break;
        }
        s = NM_SETTING(g_object_new(t, nullptr));
        nm_connection_add_setting(c, s);
      }
      if (!SetFromText(s, prop, value)) {
        bad = ERROR_INVALID_PARAMETER;
        break;
      }
    }
    if (bad) {
      g_object_unref(c);
      return w->Finish(bad);
    }
    nm_client_add_connection_async(
        B().client, c, TRUE, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
          GError* err = nullptr;
          NMRemoteConnection* added = nm_client_add_connection_finish(NM_CLIENT(source), res, &err);
          DWORD r = added ? 0 : (err && err->domain == NM_CONNECTION_ERROR ? ERROR_INVALID_PARAMETER : ErrorOf(err));
          if (added) g_object_unref(added);
          g_clear_error(&err);
          (*ww)->Finish(r);
        },
        new std::shared_ptr<Waiter>(w));
    g_object_unref(c);
  });
}

void Shutdown() {
  Backend& b = B();
  {
    std::lock_guard<std::mutex> held(b.m);
    if (!b.started) return;
  }
  auto w = std::make_shared<Waiter>();
  Post([w] {
    Backend& bb = B();
    std::lock_guard<std::mutex> held(bb.m);
    std::vector<std::shared_ptr<Call>> all;
    for (auto& [h, c] : bb.calls)
      if (h == c->handle) all.push_back(c);
    for (auto& c : all) {
      if (c->device)
        g_signal_handlers_disconnect_by_func(c->device, reinterpret_cast<gpointer>(OnDeviceState), nullptr);
      ReleaseLocked(c);
    }
    bb.calls.clear();
    if (bb.client) g_object_unref(bb.client);
    bb.client = nullptr;
    g_main_loop_quit(bb.loop);
    w->Finish(0);
  });
  w->Wait(kRequestMs);
  if (b.thread.joinable()) b.thread.join();
  g_main_loop_unref(b.loop);
  g_main_context_unref(b.ctx);
  std::lock_guard<std::mutex> held(b.m);
  b.loop = nullptr;
  b.ctx = nullptr;
  b.started = false;
  b.startError = 0;
}

}  // namespace rasnm
