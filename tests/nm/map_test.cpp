// NetworkManager's states and reasons as RAS states and error numbers.
#include <NetworkManager.h>
#include <gtest/gtest.h>

#include "RasSim/backends/networkmanager/NmMap.h"

namespace {

using rasnm::DeviceReasonError;
using States = std::vector<TRasConnState>;

TEST(NmMap, DeviceStatesGiveRasStepsInDialOrder) {
  struct Row {
    uint32_t nm;
    States ras;
  };
  const std::vector<Row> rows = {
      {NM_DEVICE_STATE_DISCONNECTED, {}},
      {NM_DEVICE_STATE_PREPARE, {RASCS_PortOpened}},
      {NM_DEVICE_STATE_CONFIG, {RASCS_PortOpened, RASCS_ConnectDevice}},
      {NM_DEVICE_STATE_NEED_AUTH, {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Authenticate}},
      {NM_DEVICE_STATE_IP_CONFIG, {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_AuthProject}},
      {NM_DEVICE_STATE_ACTIVATED,
       {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Projected, RASCS_Connected}},
      {NM_DEVICE_STATE_FAILED, {}},
  };
  for (const Row& r : rows) EXPECT_EQ(rasnm::DeviceSteps(r.nm), r.ras) << "device state " << r.nm;
  const std::vector<Row> vpn = {
      {NM_VPN_CONNECTION_STATE_NEED_AUTH, {RASCS_PortOpened}},
      {NM_VPN_CONNECTION_STATE_CONNECT, {RASCS_PortOpened, RASCS_ConnectDevice}},
      {NM_VPN_CONNECTION_STATE_ACTIVATED,
       {RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Projected, RASCS_Connected}},
      {NM_VPN_CONNECTION_STATE_FAILED, {}},
  };
  for (const Row& r : vpn) EXPECT_EQ(rasnm::VpnSteps(r.nm), r.ras) << "VPN state " << r.nm;
}

TEST(NmMap, ReasonsGiveTheRasErrorOfTheSameMeaning) {
  struct Row {
    DWORD (*map)(uint32_t);
    uint32_t reason;
    DWORD error;
  };
  const std::vector<Row> rows = {
      {DeviceReasonError, NM_DEVICE_STATE_REASON_MODEM_BUSY, ERROR_LINE_BUSY},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_MODEM_NO_DIAL_TONE, ERROR_NO_DIALTONE},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_MODEM_NO_CARRIER, ERROR_NO_CARRIER},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_MODEM_DIAL_TIMEOUT, ERROR_NO_ANSWER},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_NO_SECRETS, ERROR_AUTHENTICATION_FAILURE},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_IP_CONFIG_UNAVAILABLE, ERROR_IP_CONFIGURATION},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_CARRIER, ERROR_PORT_DISCONNECTED},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_USER_REQUESTED, ERROR_USER_DISCONNECTION},
      {DeviceReasonError, NM_DEVICE_STATE_REASON_NONE, ERROR_DISCONNECTION},
      {rasnm::VpnReasonError, NM_VPN_CONNECTION_STATE_REASON_LOGIN_FAILED, ERROR_AUTHENTICATION_FAILURE},
      {rasnm::VpnReasonError, NM_VPN_CONNECTION_STATE_REASON_USER_DISCONNECTED, ERROR_USER_DISCONNECTION},
      {rasnm::VpnReasonError, NM_VPN_CONNECTION_STATE_REASON_UNKNOWN, ERROR_REMOTE_DISCONNECTION},
      {rasnm::ActiveReasonError, NM_ACTIVE_CONNECTION_STATE_REASON_NO_SECRETS, ERROR_AUTHENTICATION_FAILURE},
      {rasnm::ActiveReasonError, NM_ACTIVE_CONNECTION_STATE_REASON_DEVICE_REMOVED, ERROR_DEVICE_DOES_NOT_EXIST},
  };
  for (const Row& r : rows) EXPECT_EQ(r.map(r.reason), r.error) << "reason " << r.reason;
}

TEST(NmMap, DeviceTypesAndHandles) {
  const std::vector<std::pair<std::string, std::string>> types = {{"vpn", "vpn"},
                                                                  {"wireguard", "vpn"},
                                                                  {"gsm", "modem"},
                                                                  {"cdma", "modem"},
                                                                  {"pppoe", "PPPoE"},
                                                                  {"802-3-ethernet", "GENERIC"},
                                                                  {"802-11-wireless", "GENERIC"}};
  for (const auto& [nm, ras] : types) EXPECT_EQ(rasnm::DeviceTypeOf(nm), ras) << nm;

  const std::string base = "/org/freedesktop/NetworkManager/ActiveConnection/";
  const std::vector<std::pair<std::string, THRasConn>> paths = {{base + "1", rasnm::kActiveHandleBase + 1},
                                                                {base + "65535", rasnm::kActiveHandleBase + 65535},
                                                                {base + "65536", 0},
                                                                {base + "0", 0},
                                                                {base, 0},
                                                                {base + "7x", 0},
                                                                {base + "-3", 0},
                                                                {"/org/freedesktop/NetworkManager/Devices/1", 0}};
  for (const auto& [path, h] : paths) {
    EXPECT_EQ(rasnm::HandleOfActivePath(path), h) << path;
    if (h) {
      EXPECT_EQ(rasnm::ActivePathOfHandle(h), path);
    }
  }
  EXPECT_EQ(rasnm::ActivePathOfHandle(rasnm::kPendingHandleBase + 1), "");
}

}  // namespace
