// The machine-wide watch: every active connection NetworkManager adds or
// removes, whichever process asked for it (nmcli's included), is reported to
// the edge, which signals the events RasConnectionNotification registered for
// every connection. This process's own calls report themselves as they
// connect and end (NmDialState.cpp); they are not reported twice here. One
// that went for a reason other than a hang-up is remembered a while, so that
// the status call of its handle tells why (a monitor asks it when a
// connection leaves the list).
#include "RasSim/backends/networkmanager/NmInternal.h"
#include "RasSim/backends/networkmanager/NmLossReason.h"

namespace rasnm::detail {

namespace {

// The handle of an active connection that is not one of this process's calls, or 0.
THRasConn ForeignHandle(NMActiveConnection* ac) {
  const char* path = nm_object_get_path(NM_OBJECT(ac));
  THRasConn h = path ? HandleOfActivePath(path) : 0;
  return h && !FindCall(h) ? h : 0;
}

void OnAdded(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  if (THRasConn h = ForeignHandle(ac); h && B().edge.ConnectionMade) B().edge.ConnectionMade(h);
}

// A device's changes: which other process's active connection it carries,
// and the reason it left the activated state for (the active connection has
// lost its devices by the time it is removed, and its own reason does not
// tell a hang-up from a lost carrier).
// Notes the other process's active connection the device carries now, if
// any; its interface, or null (under B().m).
const char* NoteCarriedLocked(NMDevice* dev) {
  const char* iface = nm_device_get_iface(dev);
  NMActiveConnection* ac = nm_device_get_active_connection(dev);
  if (iface && ac) {
    if (THRasConn h = ForeignHandle(ac)) B().foreignCarried[iface] = h;
  }
  return iface;
}

void OnDeviceState(NMDevice* dev, guint newState, guint oldState, guint reason, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  const char* iface = NoteCarriedLocked(dev);
  if (!iface || oldState != NM_DEVICE_STATE_ACTIVATED || newState == NM_DEVICE_STATE_ACTIVATED) return;
  auto carried = B().foreignCarried.find(iface);
  if (carried != B().foreignCarried.end()) B().foreignDeviceReason[carried->second] = reason;
}

// Under B().m.
void WatchDeviceLocked(NMDevice* dev) {
  g_signal_connect(dev, "state-changed", G_CALLBACK(OnDeviceState), nullptr);
  NoteCarriedLocked(dev);
}

void OnDeviceAdded(NMClient*, NMDevice* dev, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  WatchDeviceLocked(dev);
}

// The reason its device last left the activated state for, or 0 (under B().m).
uint32_t DeviceReasonOf(THRasConn h) {
  auto it = B().foreignDeviceReason.find(h);
  if (it == B().foreignDeviceReason.end()) return 0;
  const uint32_t reason = it->second;
  B().foreignDeviceReason.erase(it);
  return reason;
}

void RememberLoss(THRasConn h, DWORD error) {
  const auto now = std::chrono::steady_clock::now();
  auto& lost = B().foreignLost;
  for (auto it = lost.begin(); it != lost.end();)
    it =
        now - it->second.second > std::chrono::seconds(rassim::kLostReasonKeptSeconds) ? lost.erase(it) : std::next(it);
  constexpr size_t kMostRemembered = 256;
  if (lost.size() >= kMostRemembered) lost.erase(lost.begin());
  lost[h] = {error, now};
}

void OnRemoved(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  const THRasConn h = ForeignHandle(ac);
  if (!h) return;
  if (DWORD error = ForeignLossError(nm_active_connection_get_state_reason(ac), DeviceReasonOf(h)))
    RememberLoss(h, error);
  if (B().edge.ConnectionEnded) B().edge.ConnectionEnded(h);
}

}  // namespace

DWORD ForeignLossLocked(THRasConn h) {
  auto it = B().foreignLost.find(h);
  if (it == B().foreignLost.end()) return 0;
  if (std::chrono::steady_clock::now() - it->second.second > std::chrono::seconds(rassim::kLostReasonKeptSeconds)) {
    B().foreignLost.erase(it);
    return 0;
  }
  return it->second.first;
}

void ConnectWatchSignals(NMClient* c) {
  g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_ADDED, G_CALLBACK(OnAdded), nullptr);
  g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_REMOVED, G_CALLBACK(OnRemoved), nullptr);
  g_signal_connect(c, NM_CLIENT_DEVICE_ADDED, G_CALLBACK(OnDeviceAdded), nullptr);
  const GPtrArray* devs = nm_client_get_devices(c);
  for (guint i = 0; devs && i < devs->len; ++i) WatchDeviceLocked(static_cast<NMDevice*>(g_ptr_array_index(devs, i)));
}

}  // namespace rasnm::detail
