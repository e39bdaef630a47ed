// NetworkManager's reason for an established line's loss as a RAS error.
#include <NetworkManager.h>
#include <gtest/gtest.h>

#include "RasSim/backends/networkmanager/NmLossReason.h"

namespace {

TEST(NmLossReason, EachReasonGivesTheRasErrorOfItsTable) {
  const struct {
    uint32_t nm;
    DWORD ras;
  } rows[] = {
      {NM_DEVICE_STATE_REASON_CARRIER, 619},
      {NM_DEVICE_STATE_REASON_MODEM_NO_CARRIER, 679},
      {NM_DEVICE_STATE_REASON_PPP_DISCONNECT, 719},
      {NM_DEVICE_STATE_REASON_PPP_FAILED, 734},
      {NM_DEVICE_STATE_REASON_MODEM_FAILED, 630},
      {NM_DEVICE_STATE_REASON_REMOVED, 630},
      {NM_DEVICE_STATE_REASON_IP_CONFIG_EXPIRED, 716},
      {NM_DEVICE_STATE_REASON_DHCP_FAILED, 716},
      {NM_DEVICE_STATE_REASON_SUPPLICANT_DISCONNECT, 629},
      {NM_DEVICE_STATE_REASON_USER_REQUESTED, 631},
      {NM_DEVICE_STATE_REASON_NONE, 628},
      {NM_DEVICE_STATE_REASON_UNKNOWN, 628},
      {NM_DEVICE_STATE_REASON_NOW_UNMANAGED, 628},
  };
  for (const auto& r : rows) EXPECT_EQ(rasnm::LossReasonError(r.nm), r.ras) << "reason " << r.nm;
}

// Another process's line: a hang-up is no loss, nor a device gone without a
// reason seen; a loss gives its device's reason, else the active connection's.
TEST(NmLossReason, AnotherProcesssLineGivesItsLossOrNothingForAHangUp) {
  const struct {
    uint32_t active, device;
    DWORD ras;
  } rows[] = {
      {NM_ACTIVE_CONNECTION_STATE_REASON_USER_DISCONNECTED, NM_DEVICE_STATE_REASON_CARRIER, 0},
      {NM_ACTIVE_CONNECTION_STATE_REASON_CONNECTION_REMOVED, 0, 0},
      {NM_ACTIVE_CONNECTION_STATE_REASON_UNKNOWN, NM_DEVICE_STATE_REASON_CARRIER, 0},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, NM_DEVICE_STATE_REASON_CARRIER, 619},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, NM_DEVICE_STATE_REASON_USER_REQUESTED, 0},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, NM_DEVICE_STATE_REASON_NONE, 0},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, NM_DEVICE_STATE_REASON_DHCP_FAILED, 716},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_DISCONNECTED, NM_DEVICE_STATE_REASON_CONFIG_FAILED, 628},
      {NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_REMOVED, 0, 630},
      {NM_ACTIVE_CONNECTION_STATE_REASON_SERVICE_STOPPED, 0, 629},
      {NM_ACTIVE_CONNECTION_STATE_REASON_LOGIN_FAILED, 0, 628},
  };
  for (const auto& r : rows)
    EXPECT_EQ(rasnm::ForeignLossError(r.active, r.device), r.ras) << "reasons " << r.active << "/" << r.device;
}

}  // namespace
