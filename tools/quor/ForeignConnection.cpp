#include "tools/quor/ForeignConnection.h"

#include <cstring>

#include "Ras2/Ras2.h"

namespace quortool {

namespace {

std::string FieldText(const char* field, size_t width) {
  return std::string(field, strnlen(field, width));
}

}  // namespace

uint32_t HangUpForeignConnection(uint64_t handle) {
  if (RasHangUp == nullptr) return ERROR_PROC_NOT_FOUND;
  return RasHangUp(static_cast<THRasConn>(handle));
}

ForeignStatus ReadForeignStatus(uint64_t handle) {
  ForeignStatus status;
  if (RasGetConnectStatus == nullptr) {
    status.result = ERROR_PROC_NOT_FOUND;
    return status;
  }
  TRasConnStatus record;
  std::memset(&record, 0, sizeof record);
  record.dwSize = sizeof(TRasConnStatus);
  status.result = RasGetConnectStatus(static_cast<THRasConn>(handle), &record);
  if (status.result != 0) return status;
  status.state = record.rasconnstate;
  status.error = record.dwError;
  status.deviceType = FieldText(record.szDeviceType, sizeof record.szDeviceType);
  status.deviceName = FieldText(record.szDeviceName, sizeof record.szDeviceName);
  return status;
}

std::string StateName(uint32_t state) {
  static const char* const kDialling[] = {"RASCS_OpenPort",
                                          "RASCS_PortOpened",
                                          "RASCS_ConnectDevice",
                                          "RASCS_DeviceConnected",
                                          "RASCS_AllDevicesConnected",
                                          "RASCS_Authenticate",
                                          "RASCS_AuthNotify",
                                          "RASCS_AuthRetry",
                                          "RASCS_AuthCallback",
                                          "RASCS_AuthChangePassword",
                                          "RASCS_AuthProject",
                                          "RASCS_AuthLinkSpeed",
                                          "RASCS_AuthAck",
                                          "RASCS_ReAuthenticate",
                                          "RASCS_Authenticated",
                                          "RASCS_PrepareForCallback",
                                          "RASCS_WaitForModemReset",
                                          "RASCS_WaitForCallback",
                                          "RASCS_Projected",
                                          "RASCS_StartAuthentication",
                                          "RASCS_CallbackComplete",
                                          "RASCS_LogonNetwork"};
  static const char* const kPaused[] = {"RASCS_Interactive", "RASCS_RetryAuthentication", "RASCS_CallbackSetByCaller",
                                        "RASCS_PasswordExpired"};
  constexpr uint32_t kDiallingCount = sizeof kDialling / sizeof kDialling[0];
  constexpr uint32_t kPausedCount = sizeof kPaused / sizeof kPaused[0];
  static_assert(RASCS_LogonNetwork + 1 == kDiallingCount, "one name per dialling state");
  if (state < kDiallingCount) return kDialling[state];
  if (state >= RASCS_PAUSED && state < RASCS_PAUSED + kPausedCount) return kPaused[state - RASCS_PAUSED];
  if (state == RASCS_Connected) return "RASCS_Connected";
  if (state == RASCS_Disconnected) return "RASCS_Disconnected";
  return "";
}

}  // namespace quortool
