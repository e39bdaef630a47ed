// What the calls read as: status, the connection list, projections, and the
// interfaces and addresses behind them (loop thread).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm {

namespace detail {

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

std::string FirstAddress(NMActiveConnection* ac, std::string* gateway) {
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

}  // namespace detail

using namespace detail;

// A call of this process reads as its phase says; any other handle as the state of
// the active connection it names.
DWORD GetConnectStatus(THRasConn h, ConnStatus& out) {
  auto result = std::make_shared<ConnStatus>();
  DWORD r = Request([h, result](std::shared_ptr<Waiter> w) {
    {
      std::lock_guard<std::mutex> held(B().m);
      if (auto c = FindCall(h)) {
        // A hung-up VPN whose tunnel is gone is over, though no signal said so yet.
        if (c->phase == Phase::HangingUp && c->vpn && !TunnelPresent(c->tunnel) &&
            (!c->ac || nm_active_connection_get_state(c->ac) == NM_ACTIVE_CONNECTION_STATE_DEACTIVATED))
          c->phase = Phase::Gone;
        switch (c->phase) {
          case Phase::Gone:
            ReleaseLocked(c);
            return w->Finish(ERROR_INVALID_HANDLE);
          case Phase::Lost:
            // A lost line reports why it was lost until it is hung up.
            return w->Finish(c->error ? c->error : ERROR_INVALID_HANDLE);
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
    if (!ac) {
      // Another process's line that went for a reason tells it a while.
      std::lock_guard<std::mutex> held(B().m);
      const DWORD lost = ForeignLossLocked(h);
      return w->Finish(lost ? lost : ERROR_INVALID_HANDLE);
    }
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

// NetworkManager's active connections, whoever made them, except those of this
// process being hung up or lost; each under its active connection's handle.
DWORD EnumConnections(std::vector<ConnInfo>& out) {
  out.clear();
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
      ConnInfo info{handle, id, DeviceTypeOfActive(ac), DeviceNameOf(ac), std::string()};  // no phonebook file
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

}  // namespace rasnm
