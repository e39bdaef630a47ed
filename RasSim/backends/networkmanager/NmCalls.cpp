// The calls: dials and hang-ups, and the NetworkManager signals that move a
// call through its dial state machine (NmDialState.cpp). Signal handlers and
// activation answers run on the backend's thread (NmClient.cpp).
//
// A dial finds the profile, stores the dial parameters given in it, waits for
// an earlier tunnel of the same profile to go, then asks NetworkManager to
// activate the profile. The answer is an active connection: a VPN's states come
// from its "vpn-state-changed" signal, any other's from its device's
// "state-changed" (the device is known only once the active connection has one).
// The active connection's own "state-changed" and the client's removal signals
// tell when NetworkManager is done with it.
#include "RasSim/backends/networkmanager/NmInternal.h"
#include "RasSim/backends/networkmanager/NmLossReason.h"

namespace rasnm {

using namespace detail;

namespace {

void OnActiveState(NMActiveConnection* ac, guint now, guint reason, gpointer);
void OnVpnState(NMVpnConnection* vpn, guint now, guint reason, gpointer);
void OnDevicesNotify(NMActiveConnection*, GParamSpec*, gpointer data);

// A wired or mobile call's device changed state (one handler per device, for every call on it):
// while dialling, its states are the RAS states (a step back below "prepare" is a failure); once
// connected, leaving "activated" loses the line; a hang-up is over when the device is disconnected.
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
      FailLocked(*c, LossReasonError(reason));  // the line is lost: the reason it was, as RAS says it
    } else if (c->phase == Phase::HangingUp && now <= NM_DEVICE_STATE_DISCONNECTED) {
      EndLocked(c);
    }
  }
}

// A VPN call's own states: its dial steps, or its failure or loss with the plugin's reason.
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

// The active connection's state: "deactivated" ends the call whatever it was; a VPN may
// report "activated" here before (or instead of) its own VPN state.
void OnActiveState(NMActiveConnection* ac, guint now, guint reason, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([ac](const Call& x) { return x.ac == ac; })) {
    if (now == NM_ACTIVE_CONNECTION_STATE_DEACTIVATED) {
      ActiveEndedLocked(c, ActiveReasonError(reason));
    } else if (now == NM_ACTIVE_CONNECTION_STATE_ACTIVATED && c->phase == Phase::Dialling && c->vpn) {
      StepsLocked(*c, VpnSteps(NM_VPN_CONNECTION_STATE_ACTIVATED));
      NoteConnectedLocked(*c);
    }
  }
}

// The client forgot an active connection (NetworkManager is done with it) or a device
// (unplugged, its link deleted): the calls on it end.
void OnActiveRemoved(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([ac](const Call& x) { return x.ac == ac; })) ActiveEndedLocked(c, ERROR_DISCONNECTION);
}

void OnDeviceRemoved(NMClient*, NMDevice* dev, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  for (auto& c : CallsOf([dev](const Call& x) { return x.device == dev; })) {
    if (c->phase == Phase::HangingUp)
      EndLocked(c);
    else
      ActiveEndedLocked(c, c->phase == Phase::Connected ? LossReasonError(NM_DEVICE_STATE_REASON_REMOVED)
                                                        : DeviceReasonError(NM_DEVICE_STATE_REASON_REMOVED));
  }
}

// NetworkManager stopped (or started again): every call of the stopped service ends;
// a later operation finds the new one through the same client.
void OnRunning(NMClient* client, GParamSpec*, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  B().running = nm_client_get_nm_running(client);
  if (B().running) return;
  for (auto& c : CallsOf([](const Call&) { return true; })) {
    if (c->phase == Phase::HangingUp)
      EndLocked(c);
    else
      ActiveEndedLocked(c, ERROR_RASMAN_CANNOT_INITIALIZE);
  }
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

// The active connection of a wired or mobile call has its device: hold it, follow its
// states, and post the steps it has already passed.
void AttachDevice(const std::shared_ptr<Call>& c) {
  const GPtrArray* devs = nm_active_connection_get_devices(c->ac);
  if (c->vpn || c->device || !devs || devs->len == 0) return;
  auto* dev = static_cast<NMDevice*>(g_ptr_array_index(devs, 0));
  std::lock_guard<std::mutex> held(B().m);
  c->device = NM_DEVICE(g_object_ref(dev));
  Track(dev);
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

// NetworkManager answered the activation: the call now has its active connection (and
// the handle every process sees), or fails with the request's error. A hang-up that came
// while the request was under way takes the new connection down at once.
void ActivationDone(GObject* source, GAsyncResult* res, gpointer data) {
  auto* holder = static_cast<std::shared_ptr<Call>*>(data);
  std::shared_ptr<Call> c = *holder;
  delete holder;
  GError* err = nullptr;
  NMActiveConnection* ac = nm_client_activate_connection_finish(NM_CLIENT(source), res, &err);
  if (!ac) {
    std::lock_guard<std::mutex> held(B().m);
    c->activating = false;
    if (c->phase == Phase::HangingUp)
      EndLocked(c);
    else
      FailLocked(*c, ErrorOf(err));
    g_clear_error(&err);
    return;
  }
  bool cancel;
  {
    std::lock_guard<std::mutex> held(B().m);
    c->activating = false;
    c->ac = ac;  // the reference of the finish call
    Track(ac);
    c->activeHandle = HandleOfActivePath(nm_object_get_path(NM_OBJECT(ac)));
    if (c->activeHandle && c->phase != Phase::Gone) B().calls[c->activeHandle] = c;
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
  if (nm_active_connection_get_state(ac) == NM_ACTIVE_CONNECTION_STATE_DEACTIVATED) {
    // Over before its signals were connected: no signal will tell.
    std::lock_guard<std::mutex> held(B().m);
    ActiveEndedLocked(c, ActiveReasonError(nm_active_connection_get_state_reason(ac)));
  } else if (cancel) {
    nm_client_deactivate_connection_async(B().client, ac, nullptr, nullptr, nullptr);
  }
}

// Asks NetworkManager to activate the call's profile, once an earlier tunnel of it is gone
// (polled, at most kTeardownMs).
void Activate(const std::shared_ptr<Call>& c, int waitedMs) {
  NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, c->uuid.c_str());
  if (!rc) {
    std::lock_guard<std::mutex> held(B().m);
    FailLocked(*c, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    return;
  }
  if (waitedMs < kTeardownMs && TeardownPending(c->uuid)) {
    After(kPollMs, [c, waitedMs] { Activate(c, waitedMs + static_cast<int>(kPollMs)); });
    return;
  }
  {
    std::lock_guard<std::mutex> held(B().m);
    if (c->cancel) return EndLocked(c);
    c->activating = true;
  }
  nm_client_activate_connection_async(B().client, NM_CONNECTION(rc), nullptr, nullptr, nullptr, ActivationDone,
                                      new std::shared_ptr<Call>(c));
}

}  // namespace

namespace detail {

void DropObjectsLocked(Call& c) {
  if (c.ac) {
    g_signal_handlers_disconnect_by_func(c.ac, reinterpret_cast<gpointer>(OnActiveState), nullptr);
    g_signal_handlers_disconnect_by_func(c.ac, reinterpret_cast<gpointer>(OnVpnState), nullptr);
    g_signal_handlers_disconnect_matched(c.ac, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(OnDevicesNotify), nullptr);
    g_object_unref(c.ac);
    c.ac = nullptr;
  }
  if (c.device) {
    g_object_unref(c.device);
    c.device = nullptr;
  }
}

int HookupsOn(gpointer object) {
  int n = 0;
  for (gpointer f : {reinterpret_cast<gpointer>(OnActiveState), reinterpret_cast<gpointer>(OnVpnState),
                     reinterpret_cast<gpointer>(OnDevicesNotify), reinterpret_cast<gpointer>(OnDeviceState)}) {
    // Blocking reports how many handlers match; unblocking puts them back as they were.
    auto mask = GSignalMatchType(G_SIGNAL_MATCH_FUNC);
    n += static_cast<int>(g_signal_handlers_block_matched(object, mask, 0, 0, nullptr, f, nullptr));
    g_signal_handlers_unblock_matched(object, mask, 0, 0, nullptr, f, nullptr);
  }
  return n;
}

void ConnectClientSignals(NMClient* c) {
  g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_REMOVED, G_CALLBACK(OnActiveRemoved), nullptr);
  g_signal_connect(c, NM_CLIENT_DEVICE_REMOVED, G_CALLBACK(OnDeviceRemoved), nullptr);
  g_signal_connect(c, "notify::" NM_CLIENT_NM_RUNNING, G_CALLBACK(OnRunning), nullptr);
  ConnectWatchSignals(c);
}

void ReleaseAllCallsLocked() {
  std::vector<std::shared_ptr<Call>> all;
  for (auto& [h, c] : B().calls)
    if (h == c->handle) all.push_back(c);
  for (auto& c : all) {
    if (c->device) g_signal_handlers_disconnect_by_func(c->device, reinterpret_cast<gpointer>(OnDeviceState), nullptr);
    ReleaseLocked(c);
  }
  B().calls.clear();
}

}  // namespace detail

// ---------------------------------------------------------------- operations

// The phonebook and the RAS dial extensions mean nothing to NetworkManager: the
// entry names a profile, the user name and password given are stored in it.
DWORD Dial(const DialRequest& request, LPHRasConn h) {
  if (!h) return ERROR_INVALID_PARAMETER;
  const DialParams& params = request.params;
  auto c = std::make_shared<Call>();
  c->notifier = request.notifier;
  if (!c->notifier.wnd) c->sync = std::make_shared<Waiter>();
  bool storeParams = !params.user.empty() || !params.password.empty();
  // Answered once the call is known (its handle made, RASCS_OpenPort posted); the dial goes on after.
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
      StoreDialParams(c->uuid, params, [c](DWORD r) {
        if (r) {
          std::lock_guard<std::mutex> held(B().m);
          FailLocked(*c, r);
          return;
        }
        Activate(c, 0);
      });
    } else {
      Activate(c, 0);
    }
    w->Finish(0);
  });
  if (r) return r;
  *h = c->handle;
  if (!c->sync) return 0;
  return c->sync->Wait(kDialMs);
}

namespace {

void ForeignDeactivated(GObject* client, GAsyncResult* res, gpointer data) {
  std::unique_ptr<std::shared_ptr<Waiter>> w(static_cast<std::shared_ptr<Waiter>*>(data));
  GError* err = nullptr;
  nm_client_deactivate_connection_finish(NM_CLIENT(client), res, &err);
  // Going already (it went meanwhile) is what was asked for.
  const DWORD e = g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_CONNECTION_NOT_ACTIVE) ? 0 : ErrorOf(err);
  g_clear_error(&err);
  (*w)->Finish(e);
}

}  // namespace

DWORD HangUp(THRasConn h) {
  return Request([h](std::shared_ptr<Waiter> w) {
    std::shared_ptr<Call> c;
    NMActiveConnection* ac = nullptr;
    {
      std::lock_guard<std::mutex> held(B().m);
      c = FindCall(h);
      if (c) {
        if (c->phase == Phase::HangingUp || c->phase == Phase::Gone) return w->Finish(0);
        if (c->phase == Phase::Connected) ReportLocked(*c, false);
        c->cancel = true;
        if (c->sync) c->sync->Finish(ERROR_USER_DISCONNECTION);
        if (!c->tunnel.empty()) B().tunnels[c->uuid] = c->tunnel;
        ac = c->ac;
        // Without an active connection, and none being asked for, there is nothing to wait for.
        if (ac || c->activating)
          c->phase = Phase::HangingUp;
        else
          EndLocked(c);
      }
    }
    if (!c) {
      // Not a call of this process: the handle of an active connection (RasEnumConnections) hangs it up too.
      // NetworkManager's answer is waited for, so that a refusal (a caller it does not authorise) is told.
      ac = FindActive(h);
      if (!ac) return w->Finish(ERROR_INVALID_HANDLE);
      if (nm_active_connection_get_state(ac) >= NM_ACTIVE_CONNECTION_STATE_DEACTIVATING) return w->Finish(0);
      nm_client_deactivate_connection_async(B().client, ac, nullptr, ForeignDeactivated,
                                            new std::shared_ptr<Waiter>(w));
      return;
    }
    if (ac && nm_active_connection_get_state(ac) < NM_ACTIVE_CONNECTION_STATE_DEACTIVATING) {
      nm_client_deactivate_connection_async(B().client, ac, nullptr, nullptr, nullptr);
    } else if (ac) {
      // NetworkManager is taking it down already.
      std::lock_guard<std::mutex> held(B().m);
      ActiveEndedLocked(c, 0);
    }
    w->Finish(0);
  });
}

}  // namespace rasnm
