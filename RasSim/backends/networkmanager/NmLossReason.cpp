#include "RasSim/backends/networkmanager/NmLossReason.h"

#include <NetworkManager.h>

namespace rasnm {

DWORD LossReasonError(uint32_t deviceReason) {
  static const struct {
    uint32_t reason;
    DWORD error;
  } rows[] = {
      {NM_DEVICE_STATE_REASON_CARRIER, ERROR_PORT_DISCONNECTED},
      {NM_DEVICE_STATE_REASON_MODEM_NO_CARRIER, ERROR_NO_CARRIER},
      {NM_DEVICE_STATE_REASON_PPP_DISCONNECT, ERROR_PPP_REMOTE_TERMINATED},
      {NM_DEVICE_STATE_REASON_PPP_FAILED, ERROR_PPP_LCP_TERMINATED},
      {NM_DEVICE_STATE_REASON_MODEM_FAILED, ERROR_HARDWARE_FAILURE},
      {NM_DEVICE_STATE_REASON_REMOVED, ERROR_HARDWARE_FAILURE},
      {NM_DEVICE_STATE_REASON_IP_CONFIG_EXPIRED, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_DHCP_ERROR, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_DHCP_FAILED, ERROR_IP_CONFIGURATION},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_DISCONNECT, ERROR_REMOTE_DISCONNECTION},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_TIMEOUT, ERROR_REMOTE_DISCONNECTION},
      {NM_DEVICE_STATE_REASON_USER_REQUESTED, ERROR_USER_DISCONNECTION},
  };
  for (const auto& r : rows)
    if (r.reason == deviceReason) return r.error;
  return ERROR_DISCONNECTION;
}

DWORD ForeignLossError(uint32_t activeReason, uint32_t deviceReason) {
  switch (activeReason) {
    case NM_ACTIVE_CONNECTION_STATE_REASON_UNKNOWN:
    case NM_ACTIVE_CONNECTION_STATE_REASON_NONE:
    case NM_ACTIVE_CONNECTION_STATE_REASON_USER_DISCONNECTED:
    case NM_ACTIVE_CONNECTION_STATE_REASON_CONNECTION_REMOVED:
      return 0;
    default:
      break;
  }
  // The device's own reason tells a hang-up (the device was asked to let go)
  // from a loss; without it a device that disconnected may have been hung up.
  if (deviceReason == NM_DEVICE_STATE_REASON_USER_REQUESTED) return 0;
  if (deviceReason != NM_DEVICE_STATE_REASON_NONE && deviceReason != NM_DEVICE_STATE_REASON_UNKNOWN)
    return LossReasonError(deviceReason);
  if (activeReason == NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED) return 0;
  static const struct {
    uint32_t reason;
    DWORD error;
  } rows[] = {
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_REMOVED, ERROR_HARDWARE_FAILURE},
      {NM_ACTIVE_CONNECTION_STATE_REASON_SERVICE_STOPPED, ERROR_REMOTE_DISCONNECTION},
      {NM_ACTIVE_CONNECTION_STATE_REASON_IP_CONFIG_INVALID, ERROR_IP_CONFIGURATION},
  };
  for (const auto& r : rows)
    if (r.reason == activeReason) return r.error;
  return ERROR_DISCONNECTION;
}

}  // namespace rasnm
