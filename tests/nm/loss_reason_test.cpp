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

}  // namespace
