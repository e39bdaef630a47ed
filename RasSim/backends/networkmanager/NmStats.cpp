// A connection's traffic figures: its device's byte counters, which
// NetworkManager keeps as 64-bit totals (the Device.Statistics D-Bus
// interface) and refreshes only while someone set a refresh rate. Asking for
// them turns the refresh on for that device; once nobody has asked for a while
// it is turned off again. RAS_STATS carries 32-bit counters that wrap: the
// totals are taken modulo 2^32. The duration is the age of the activation;
// every other figure is 0 (NetworkManager counts no frames or line errors).
#include <ctime>

#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm {

using namespace detail;

namespace {

constexpr guint32 kRefreshMs = 1000;  // NetworkManager's refresh while the figures are read
constexpr guint kIdleMs = 30000;      // nobody asked for this long: the refresh goes off

// Devices whose refresh this backend turned on, and when their figures were last read (loop thread).
std::map<std::string, std::chrono::steady_clock::time_point>& Refreshed() {
  static std::map<std::string, std::chrono::steady_clock::time_point> devices;
  return devices;
}

void SetRefresh(const std::string& path, guint32 ms) {
  nm_client_dbus_set_property(
      B().client, path.c_str(), NM_DBUS_INTERFACE_DEVICE_STATISTICS, "RefreshRateMs", g_variant_new_uint32(ms),
      kRequestMs, nullptr,
      [](GObject* src, GAsyncResult* res, gpointer) {
        // Without the permission the counters stay as NetworkManager last refreshed them.
        GError* err = nullptr;
        nm_client_dbus_set_property_finish(NM_CLIENT(src), res, &err);
        if (err) g_error_free(err);
      },
      nullptr);
}

void BackOffLater(const std::string& path) {
  After(kIdleMs, [path] {
    auto it = Refreshed().find(path);
    if (it == Refreshed().end() || !B().client) return;
    if (std::chrono::steady_clock::now() - it->second < std::chrono::milliseconds(kIdleMs)) return BackOffLater(path);
    Refreshed().erase(it);
    SetRefresh(path, 0);
  });
}

// Asked now: the device's counters are refreshed until nobody asks for a while.
void KeepRefreshing(const std::string& path) {
  auto now = std::chrono::steady_clock::now();
  auto [it, added] = Refreshed().emplace(path, now);
  it->second = now;
  if (!added) return;
  SetRefresh(path, kRefreshMs);
  BackOffLater(path);
}

struct Reading {
  std::shared_ptr<Waiter> w;
  std::shared_ptr<ConnStats> out;
};

void OnCounters(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Reading> r(static_cast<Reading*>(data));
  GError* err = nullptr;
  GVariant* reply = nm_client_dbus_call_finish(NM_CLIENT(src), res, &err);
  if (!reply) {
    DWORD e = ErrorOf(err);
    if (err) g_error_free(err);
    return r->w->Finish(e);
  }
  GVariant* props = g_variant_get_child_value(reply, 0);
  guint64 tx = 0, rx = 0;
  g_variant_lookup(props, "TxBytes", "t", &tx);
  g_variant_lookup(props, "RxBytes", "t", &rx);
  g_variant_unref(props);
  g_variant_unref(reply);
  r->out->bytesXmited = static_cast<uint32_t>(tx);  // Windows' counters wrap at 2^32
  r->out->bytesRcved = static_cast<uint32_t>(rx);
  r->w->Finish(0);
}

// The device carrying an active connection's traffic: a VPN's tunnel, else its own device.
NMDevice* TrafficDevice(NMActiveConnection* ac, const std::string& tunnel) {
  std::string iface = tunnel;
  if (iface.empty() && NM_IS_VPN_CONNECTION(ac)) iface = InterfaceOfAddress(FirstAddress(ac));
  if (iface.empty()) iface = DeviceNameOf(ac);
  return iface.empty() ? nullptr : nm_client_get_device_by_iface(B().client, iface.c_str());
}

// How long ago the profile was last activated, as NetworkManager stamps it (seconds).
uint32_t ActivationAgeMs(NMActiveConnection* ac) {
  NMRemoteConnection* rc = nm_active_connection_get_connection(ac);
  NMSettingConnection* s = rc ? nm_connection_get_setting_connection(NM_CONNECTION(rc)) : nullptr;
  guint64 stamp = s ? nm_setting_connection_get_timestamp(s) : 0;
  auto now = static_cast<guint64>(std::time(nullptr));
  return stamp == 0 || stamp > now ? 0 : static_cast<uint32_t>((now - stamp) * 1000);
}

}  // namespace

// A call of this process that is still dialling (or failed) reads all 0; a
// lost or hung-up one, and a handle NetworkManager does not know, is invalid.
DWORD GetStatistics(THRasConn h, ConnStats& out) {
  auto result = std::make_shared<ConnStats>();
  DWORD r = Request([h, result](std::shared_ptr<Waiter> w) {
    NMDevice* dev = nullptr;
    {
      std::lock_guard<std::mutex> held(B().m);
      if (auto c = FindCall(h)) {
        if (c->phase == Phase::Lost || c->phase == Phase::HangingUp || c->phase == Phase::Gone)
          return w->Finish(ERROR_INVALID_HANDLE);
        if (c->phase != Phase::Connected) return w->Finish(0);
        auto age = std::chrono::steady_clock::now() - c->connectedAt;
        result->connectDurationMs =
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(age).count());
        dev = c->vpn ? TrafficDevice(c->ac, c->tunnel) : c->device;
        if (!dev && c->ac) dev = TrafficDevice(c->ac, "");
        if (!dev) return w->Finish(0);
      }
    }
    if (!dev) {
      NMActiveConnection* ac = FindActive(h);
      if (!ac) return w->Finish(ERROR_INVALID_HANDLE);
      if (nm_active_connection_get_state(ac) != NM_ACTIVE_CONNECTION_STATE_ACTIVATED) return w->Finish(0);
      result->connectDurationMs = ActivationAgeMs(ac);
      dev = TrafficDevice(ac, "");
      if (!dev) return w->Finish(0);
    }
    std::string path = nm_object_get_path(NM_OBJECT(dev));
    KeepRefreshing(path);
    nm_client_dbus_call(B().client, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                        g_variant_new("(s)", NM_DBUS_INTERFACE_DEVICE_STATISTICS), G_VARIANT_TYPE("(a{sv})"),
                        kRequestMs, nullptr, OnCounters, new Reading{w, result});
  });
  if (r == 0) out = *result;
  return r;
}

}  // namespace rasnm
