// The tables of NmMap.h: NetworkManager's device, VPN and active-connection states and reasons
// as RAS states and errors, profile types as RAS device types, D-Bus paths as handles.
#include "RasSim/backends/networkmanager/NmMap.h"

#include <NetworkManager.h>

#include <cstdlib>

namespace rasnm {

namespace {

struct ReasonRow {
  uint32_t reason;
  DWORD error;
};

DWORD Lookup(const ReasonRow* rows, size_t n, uint32_t reason, DWORD fallback) {
  for (size_t i = 0; i < n; ++i)
    if (rows[i].reason == reason) return rows[i].error;
  return fallback;
}

}  // namespace

std::vector<TRasConnState> DeviceSteps(uint32_t deviceState) {
  switch (deviceState) {
    case NM_DEVICE_STATE_PREPARE:
      return {RASCS_PortOpened};
    case NM_DEVICE_STATE_CONFIG:
      return {RASCS_PortOpened, RASCS_ConnectDevice};
    case NM_DEVICE_STATE_NEED_AUTH:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Authenticate};
    case NM_DEVICE_STATE_IP_CONFIG:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_AuthProject};
    case NM_DEVICE_STATE_IP_CHECK:
    case NM_DEVICE_STATE_SECONDARIES:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Projected};
    case NM_DEVICE_STATE_ACTIVATED:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Projected, RASCS_Connected};
    default:
      return {};
  }
}

std::vector<TRasConnState> VpnSteps(uint32_t vpnState) {
  switch (vpnState) {
    case NM_VPN_CONNECTION_STATE_PREPARE:
    case NM_VPN_CONNECTION_STATE_NEED_AUTH:
      return {RASCS_PortOpened};
    case NM_VPN_CONNECTION_STATE_CONNECT:
      return {RASCS_PortOpened, RASCS_ConnectDevice};
    case NM_VPN_CONNECTION_STATE_IP_CONFIG_GET:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_AuthProject};
    case NM_VPN_CONNECTION_STATE_ACTIVATED:
      return {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Projected, RASCS_Connected};
    default:
      return {};
  }
}

DWORD DeviceReasonError(uint32_t reason) {
  static const ReasonRow rows[] = {
      {NM_DEVICE_STATE_REASON_MODEM_BUSY, ERROR_LINE_BUSY},
      {NM_DEVICE_STATE_REASON_MODEM_NO_DIAL_TONE, ERROR_NO_DIALTONE},
      {NM_DEVICE_STATE_REASON_MODEM_NO_CARRIER, ERROR_NO_CARRIER},
      {NM_DEVICE_STATE_REASON_MODEM_DIAL_TIMEOUT, ERROR_NO_ANSWER},
      {NM_DEVICE_STATE_REASON_MODEM_DIAL_FAILED, ERROR_FROM_DEVICE},
      {NM_DEVICE_STATE_REASON_MODEM_INIT_FAILED, ERROR_DEVICE_NOT_READY},
      {NM_DEVICE_STATE_REASON_MODEM_NOT_FOUND, ERROR_DEVICE_DOES_NOT_EXIST},
      {NM_DEVICE_STATE_REASON_MODEM_FAILED, ERROR_HARDWARE_FAILURE},
      {NM_DEVICE_STATE_REASON_NO_SECRETS, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_DISCONNECT, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_FAILED, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_TIMEOUT, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_GSM_PIN_CHECK_FAILED, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_SIM_PIN_INCORRECT, ERROR_AUTHENTICATION_FAILURE},
      {NM_DEVICE_STATE_REASON_PPP_START_FAILED, ERROR_PPP_NO_RESPONSE},
      {NM_DEVICE_STATE_REASON_PPP_DISCONNECT, ERROR_PPP_REMOTE_TERMINATED},
      {NM_DEVICE_STATE_REASON_PPP_FAILED, ERROR_PPP_TIMEOUT},
      {NM_DEVICE_STATE_REASON_IP_CONFIG_UNAVAILABLE, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_IP_CONFIG_EXPIRED, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_DHCP_START_FAILED, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_DHCP_ERROR, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_DHCP_FAILED, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_IP_ADDRESS_DUPLICATE, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_CARRIER, ERROR_PORT_DISCONNECTED},
      {NM_DEVICE_STATE_REASON_USER_REQUESTED, ERROR_USER_DISCONNECTION},
      {NM_DEVICE_STATE_REASON_REMOVED, ERROR_DEVICE_DOES_NOT_EXIST},
      {NM_DEVICE_STATE_REASON_NOW_UNMANAGED, ERROR_PORT_NOT_AVAILABLE},
      {NM_DEVICE_STATE_REASON_CONNECTION_REMOVED, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
      {NM_DEVICE_STATE_REASON_DEPENDENCY_FAILED, ERROR_PORT_NOT_AVAILABLE},
      {NM_DEVICE_STATE_REASON_CONFIG_FAILED, ERROR_PORT_NOT_CONFIGURED},
  };
  return Lookup(rows, std::size(rows), reason, ERROR_DISCONNECTION);
}

DWORD VpnReasonError(uint32_t reason) {
  static const ReasonRow rows[] = {
      {NM_VPN_CONNECTION_STATE_REASON_USER_DISCONNECTED, ERROR_USER_DISCONNECTION},
      {NM_VPN_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, ERROR_PORT_DISCONNECTED},
      {NM_VPN_CONNECTION_STATE_REASON_SERVICE_STOPPED, ERROR_REMOTE_DISCONNECTION},
      {NM_VPN_CONNECTION_STATE_REASON_IP_CONFIG_INVALID, ERROR_IP_CONFIGURATION},
      {NM_VPN_CONNECTION_STATE_REASON_CONNECT_TIMEOUT, ERROR_SERVER_NOT_RESPONDING},
      {NM_VPN_CONNECTION_STATE_REASON_SERVICE_START_TIMEOUT, ERROR_SERVER_NOT_RESPONDING},
      {NM_VPN_CONNECTION_STATE_REASON_SERVICE_START_FAILED, ERROR_PORT_NOT_AVAILABLE},
      {NM_VPN_CONNECTION_STATE_REASON_NO_SECRETS, ERROR_AUTHENTICATION_FAILURE},
      {NM_VPN_CONNECTION_STATE_REASON_LOGIN_FAILED, ERROR_AUTHENTICATION_FAILURE},
      {NM_VPN_CONNECTION_STATE_REASON_CONNECTION_REMOVED, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
  };
  // A VPN whose server stopped answering fails without a reason.
  return Lookup(rows, std::size(rows), reason, ERROR_REMOTE_DISCONNECTION);
}

DWORD ActiveReasonError(uint32_t reason) {
  static const ReasonRow rows[] = {
      {NM_ACTIVE_CONNECTION_STATE_REASON_USER_DISCONNECTED, ERROR_USER_DISCONNECTION},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, ERROR_PORT_DISCONNECTED},
      {NM_ACTIVE_CONNECTION_STATE_REASON_SERVICE_STOPPED, ERROR_REMOTE_DISCONNECTION},
      {NM_ACTIVE_CONNECTION_STATE_REASON_IP_CONFIG_INVALID, ERROR_IP_CONFIGURATION},
      {NM_ACTIVE_CONNECTION_STATE_REASON_CONNECT_TIMEOUT, ERROR_SERVER_NOT_RESPONDING},
      {NM_ACTIVE_CONNECTION_STATE_REASON_SERVICE_START_TIMEOUT, ERROR_SERVER_NOT_RESPONDING},
      {NM_ACTIVE_CONNECTION_STATE_REASON_SERVICE_START_FAILED, ERROR_PORT_NOT_AVAILABLE},
      {NM_ACTIVE_CONNECTION_STATE_REASON_NO_SECRETS, ERROR_AUTHENTICATION_FAILURE},
      {NM_ACTIVE_CONNECTION_STATE_REASON_LOGIN_FAILED, ERROR_AUTHENTICATION_FAILURE},
      {NM_ACTIVE_CONNECTION_STATE_REASON_CONNECTION_REMOVED, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEPENDENCY_FAILED, ERROR_PORT_NOT_AVAILABLE},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_REMOVED, ERROR_DEVICE_DOES_NOT_EXIST},
  };
  return Lookup(rows, std::size(rows), reason, ERROR_DISCONNECTION);
}

std::string DeviceTypeOf(const std::string& type, const std::string& vpnServiceType) {
  if (type == "vpn" || type == "wireguard") return "vpn";
  if (type == "gsm" || type == "cdma" || type == "bluetooth") return RASDT_Modem;
  if (type == "pppoe") return "PPPoE";
  (void)vpnServiceType;
  // Wired, wireless and everything else: a network adapter.
  return "GENERIC";
}

THRasConn HandleOfActivePath(const std::string& path) {
  static const std::string prefix = "/org/freedesktop/NetworkManager/ActiveConnection/";
  if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) return 0;
  const char* digits = path.c_str() + prefix.size();
  char* end = nullptr;
  unsigned long n = std::strtoul(digits, &end, 10);
  if (*end != '\0' || *digits < '0' || *digits > '9' || n == 0 || n > 0xFFFFu) return 0;
  return kActiveHandleBase + static_cast<THRasConn>(n);
}

bool IsActiveHandle(THRasConn h) {
  return h > kActiveHandleBase && h <= kActiveHandleBase + 0xFFFFu;
}

std::string ActivePathOfHandle(THRasConn h) {
  if (!IsActiveHandle(h)) return "";
  return "/org/freedesktop/NetworkManager/ActiveConnection/" + std::to_string(h - kActiveHandleBase);
}

}  // namespace rasnm
