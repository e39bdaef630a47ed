// Every name the RAS declarations give, in one compile-time check: the named
// limits, connection states, records with their pointer types, scalar types,
// constants, error numbers and function-pointer types. A name that goes
// missing, or one whose value or type changes, stops this file compiling.
#include <cstddef>
#include <iterator>
#include <type_traits>

#include "Ras2/Ras2.h"

namespace {

template <class A, class B>
constexpr bool kSame = std::is_same_v<A, B>;

// Limits.
static_assert(DNLEN == 15 && UNLEN == 256 && PWLEN == 256 && NETBIOS_NAME_LEN == 16);
static_assert(RAS_MaxEntryName == 256 && RAS_MaxDeviceName == 128 && RAS_MaxCallbackNumber == 128);
static_assert(RAS_MaxAreaCode == 10 && RAS_MaxPadType == 32 && RAS_MaxX25Address == 200 && RAS_MaxFacilities == 200);
static_assert(RAS_MaxUserData == 200 && RAS_MaxDeviceType == 16 && RAS_MaxPhoneNumber == 128);
static_assert(RAS_MaxIpAddress == 15 && RAS_MaxIpxAddress == 21);

// Scalar types and their pointers.
static_assert(kSame<LPHRasConn, THRasConn*> && sizeof(THRasConn) == sizeof(void*));
static_assert(kSame<LPRasConnState, TRasConnState*> && sizeof(TRasConnState) == 4);
static_assert(kSame<LPRasProjection, TRasProjection*> && sizeof(TRasProjection) == 4);

// Connection states: 0 to 21 without a gap, then the paused and final ones.
constexpr TRasConnState kStates[] = {RASCS_OpenPort,
                                     RASCS_PortOpened,
                                     RASCS_ConnectDevice,
                                     RASCS_DeviceConnected,
                                     RASCS_AllDevicesConnected,
                                     RASCS_Authenticate,
                                     RASCS_AuthNotify,
                                     RASCS_AuthRetry,
                                     RASCS_AuthCallback,
                                     RASCS_AuthChangePassword,
                                     RASCS_AuthProject,
                                     RASCS_AuthLinkSpeed,
                                     RASCS_AuthAck,
                                     RASCS_ReAuthenticate,
                                     RASCS_Authenticated,
                                     RASCS_PrepareForCallback,
                                     RASCS_WaitForModemReset,
                                     RASCS_WaitForCallback,
                                     RASCS_Projected,
                                     RASCS_StartAuthentication,
                                     RASCS_CallbackComplete,
                                     RASCS_LogonNetwork};
constexpr bool Consecutive(const TRasConnState* s, size_t n, TRasConnState first) {
  for (size_t i = 0; i < n; ++i)
    if (s[i] != first + i) return false;
  return true;
}
static_assert(Consecutive(kStates, std::size(kStates), 0) && std::size(kStates) == 22);
constexpr TRasConnState kPaused[] = {RASCS_Interactive, RASCS_RetryAuthentication, RASCS_CallbackSetByCaller,
                                     RASCS_PasswordExpired};
static_assert(Consecutive(kPaused, std::size(kPaused), RASCS_PAUSED) && RASCS_PAUSED == 0x1000);
static_assert(RASCS_Connected == RASCS_DONE && RASCS_Disconnected == 0x2001 && RASCS_DONE == 0x2000);

// Records: ANSI, wide and neutral variants, each with its pointer type.
#define RECORD(R)                                                                                \
  static_assert(kSame<T##R, T##R##A> && kSame<LP##R##A, T##R##A*> && kSame<LP##R##W, T##R##W*>); \
  static_assert(sizeof(T##R##W) > sizeof(T##R##A));
RECORD(RasConn)
RECORD(RasConnStatus)
RECORD(RasDialParams)
RECORD(RasEntryName)
RECORD(RasAmb)
RECORD(RasPppNbf)
RECORD(RasPppIpx)
RECORD(RasPppIp)
RECORD(RasDevInfo)
RECORD(RasEntry)
#undef RECORD
static_assert(kSame<LPRasConn, TRasConn*> && kSame<LPRasConnStatus, TRasConnStatus*>);
static_assert(kSame<LPRasDialParams, TRasDialParams*> && kSame<LPRasEntryName, TRasEntryName*>);
static_assert(kSame<LPRasAmb, TRasAmb*> && kSame<LpRaspppNbf, TRasPppNbf*> && kSame<LPRasPppIpx, TRasPppIpx*>);
static_assert(kSame<LPRasPppIp, TRasPppIp*> && kSame<LPRasDevInfo, TRasDevInfo*> && kSame<LPRasEntry, TRasEntry*>);
static_assert(kSame<LPRasDialExtensions, TRasDialExtensions*> && kSame<LPRasIPAddr, TRasIPAddr*>);
static_assert(kSame<LPRasCtryInfo, TRasCtryInfo*>);
static_assert(offsetof(TRasIPAddr, a) == 0 && offsetof(TRasIPAddr, d) == 3);

// Named constants.
static_assert(RDEOPT_UsePrefixSuffix == 0x1 && RDEOPT_PausedStates == 0x2 && RDEOPT_IgnoreModemSpeaker == 0x4);
static_assert(RDEOPT_SetModemSpeaker == 0x8 && RDEOPT_IgnoreSoftwareCompression == 0x10);
static_assert(RDEOPT_SetSoftwareCompression == 0x20);
static_assert(RASP_Amb == 0x10000 && RASP_PppNbf == 0x803F && RASP_PppIpx == 0x802B && RASP_PppIp == 0x8021);
static_assert(WM_RASDIALEVENT == 0xCCCD && sizeof(RASDIALEVENT) == sizeof("RasDialEvent"));
constexpr DWORD kEntryOptions[] = {RASEO_UseCountryAndAreaCodes, RASEO_SpecificIpAddr,       RASEO_SpecificNameServers,
                                   RASEO_IpHeaderCompression,    RASEO_RemoteDefaultGateway, RASEO_DisableLcpExtensions,
                                   RASEO_TerminalBeforeDial,     RASEO_TerminalAfterDial,    RASEO_ModemLights,
                                   RASEO_SwCompression,          RASEO_RequireEncryptedPw,   RASEO_RequireMsEncryptedPw,
                                   RASEO_RequireDataEncryption,  RASEO_NetworkLogon,         RASEO_UseLogonCredentials,
                                   RASEO_PromoteAlternates};
constexpr bool Bits(const DWORD* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (v[i] != (1u << i)) return false;
  return true;
}
static_assert(Bits(kEntryOptions, std::size(kEntryOptions)) && std::size(kEntryOptions) == 16);
static_assert(RASNP_Netbeui == 1 && RASNP_Ipx == 2 && RASNP_Ip == 4);
static_assert(RASFP_Ppp == 1 && RASFP_Slip == 2 && RASFP_Ras == 4);
static_assert(sizeof(RASDT_Modem) > 1 && sizeof(RASDT_Isdn) > 1 && sizeof(RASDT_X25) > 1);

// Error numbers: 601 to 750 in the order of raserror.h.
static_assert(SUCCESS == 0 && RASBASE == 600 && PENDING == 600 && RASBASEEND == 750);
constexpr DWORD kErrors[] = {
    ERROR_INVALID_PORT_HANDLE,
    ERROR_PORT_ALREADY_OPEN,
    ERROR_BUFFER_TOO_SMALL,
    ERROR_WRONG_INFO_SPECIFIED,
    ERROR_CANNOT_SET_PORT_INFO,
    ERROR_PORT_NOT_CONNECTED,
    ERROR_EVENT_INVALID,
    ERROR_DEVICE_DOES_NOT_EXIST,
    ERROR_DEVICETYPE_DOES_NOT_EXIST,
    ERROR_BUFFER_INVALID,
    ERROR_ROUTE_NOT_AVAILABLE,
    ERROR_ROUTE_NOT_ALLOCATED,
    ERROR_INVALID_COMPRESSION_SPECIFIED,
    ERROR_OUT_OF_BUFFERS,
    ERROR_PORT_NOT_FOUND,
    ERROR_ASYNC_REQUEST_PENDING,
    ERROR_ALREADY_DISCONNECTING,
    ERROR_PORT_NOT_OPEN,
    ERROR_PORT_DISCONNECTED,
    ERROR_NO_ENDPOINTS,
    ERROR_CANNOT_OPEN_PHONEBOOK,
    ERROR_CANNOT_LOAD_PHONEBOOK,
    ERROR_CANNOT_FIND_PHONEBOOK_ENTRY,
    ERROR_CANNOT_WRITE_PHONEBOOK,
    ERROR_CORRUPT_PHONEBOOK,
    ERROR_CANNOT_LOAD_STRING,
    ERROR_KEY_NOT_FOUND,
    ERROR_DISCONNECTION,
    ERROR_REMOTE_DISCONNECTION,
    ERROR_HARDWARE_FAILURE,
    ERROR_USER_DISCONNECTION,
    ERROR_INVALID_SIZE,
    ERROR_PORT_NOT_AVAILABLE,
    ERROR_CANNOT_PROJECT_CLIENT,
    ERROR_UNKNOWN,
    ERROR_WRONG_DEVICE_ATTACHED,
    ERROR_BAD_STRING,
    ERROR_REQUEST_TIMEOUT,
    ERROR_CANNOT_GET_LANA,
    ERROR_NETBIOS_ERROR,
    ERROR_SERVER_OUT_OF_RESOURCES,
    ERROR_NAME_EXISTS_ON_NET,
    ERROR_SERVER_GENERAL_NET_FAILURE,
    WARNING_MSG_ALIAS_NOT_ADDED,
    ERROR_AUTH_INTERNAL,
    ERROR_RESTRICTED_LOGON_HOURS,
    ERROR_ACCT_DISABLED,
    ERROR_PASSWD_EXPIRED,
    ERROR_NO_DIALIN_PERMISSION,
    ERROR_SERVER_NOT_RESPONDING,
    ERROR_FROM_DEVICE,
    ERROR_UNRECOGNIZED_RESPONSE,
    ERROR_MACRO_NOT_FOUND,
    ERROR_MACRO_NOT_DEFINED,
    ERROR_MESSAGE_MACRO_NOT_FOUND,
    ERROR_DEFAULTOFF_MACRO_NOT_FOUND,
    ERROR_FILE_COULD_NOT_BE_OPENED,
    ERROR_DEVICENAME_TOO_LONG,
    ERROR_DEVICENAME_NOT_FOUND,
    ERROR_NO_RESPONSES,
    ERROR_NO_COMMAND_FOUND,
    ERROR_WRONG_KEY_SPECIFIED,
    ERROR_UNKNOWN_DEVICE_TYPE,
    ERROR_ALLOCATING_MEMORY,
    ERROR_PORT_NOT_CONFIGURED,
    ERROR_DEVICE_NOT_READY,
    ERROR_READING_INI_FILE,
    ERROR_NO_CONNECTION,
    ERROR_BAD_USAGE_IN_INI_FILE,
    ERROR_READING_SECTIONNAME,
    ERROR_READING_DEVICETYPE,
    ERROR_READING_DEVICENAME,
    ERROR_READING_USAGE,
    ERROR_READING_MAXCONNECTBPS,
    ERROR_READING_MAXCARRIERBPS,
    ERROR_LINE_BUSY,
    ERROR_VOICE_ANSWER,
    ERROR_NO_ANSWER,
    ERROR_NO_CARRIER,
    ERROR_NO_DIALTONE,
    ERROR_IN_COMMAND,
    ERROR_WRITING_SECTIONNAME,
    ERROR_WRITING_DEVICETYPE,
    ERROR_WRITING_DEVICENAME,
    ERROR_WRITING_MAXCONNECTBPS,
    ERROR_WRITING_MAXCARRIERBPS,
    ERROR_WRITING_USAGE,
    ERROR_WRITING_DEFAULTOFF,
    ERROR_READING_DEFAULTOFF,
    ERROR_EMPTY_INI_FILE,
    ERROR_AUTHENTICATION_FAILURE,
    ERROR_PORT_OR_DEVICE,
    ERROR_NOT_BINARY_MACRO,
    ERROR_DCB_NOT_FOUND,
    ERROR_STATE_MACHINES_NOT_STARTED,
    ERROR_STATE_MACHINES_ALREADY_STARTED,
    ERROR_PARTIAL_RESPONSE_LOOPING,
    ERROR_UNKNOWN_RESPONSE_KEY,
    ERROR_RECV_BUF_FULL,
    ERROR_CMD_TOO_LONG,
    ERROR_UNSUPPORTED_BPS,
    ERROR_UNEXPECTED_RESPONSE,
    ERROR_INTERACTIVE_MODE,
    ERROR_BAD_CALLBACK_NUMBER,
    ERROR_INVALID_AUTH_STATE,
    ERROR_WRITING_INITBPS,
    ERROR_X25_DIAGNOSTIC,
    ERROR_ACCT_EXPIRED,
    ERROR_CHANGING_PASSWORD,
    ERROR_OVERRUN,
    ERROR_RASMAN_CANNOT_INITIALIZE,
    ERROR_BIPLEX_PORT_NOT_AVAILABLE,
    ERROR_NO_ACTIVE_ISDN_LINES,
    ERROR_NO_ISDN_CHANNELS_AVAILABLE,
    ERROR_TOO_MANY_LINE_ERRORS,
    ERROR_IP_CONFIGURATION,
    ERROR_NO_IP_ADDRESSES,
    ERROR_PPP_TIMEOUT,
    ERROR_PPP_REMOTE_TERMINATED,
    ERROR_PPP_NO_PROTOCOLS_CONFIGURED,
    ERROR_PPP_NO_RESPONSE,
    ERROR_PPP_INVALID_PACKET,
    ERROR_PHONE_NUMBER_TOO_LONG,
    ERROR_IPXCP_NO_DIALOUT_CONFIGURED,
    ERROR_IPXCP_NO_DIALIN_CONFIGURED,
    ERROR_IPXCP_DIALOUT_ALREADY_ACTIVE,
    ERROR_ACCESSING_TCPCFGDLL,
    ERROR_NO_IP_RAS_ADAPTER,
    ERROR_SLIP_REQUIRES_IP,
    ERROR_PROJECTION_NOT_COMPLETE,
    ERROR_PROTOCOL_NOT_CONFIGURED,
    ERROR_PPP_NOT_CONVERGING,
    ERROR_PPP_CP_REJECTED,
    ERROR_PPP_LCP_TERMINATED,
    ERROR_PPP_REQUIRED_ADDRESS_REJECTED,
    ERROR_PPP_NCP_TERMINATED,
    ERROR_PPP_LOOPBACK_DETECTED,
    ERROR_PPP_NO_ADDRESS_ASSIGNED,
    ERROR_CANNOT_USE_LOGON_CREDENTIALS,
    ERROR_TAPI_CONFIGURATION,
    ERROR_NO_LOCAL_ENCRYPTION,
    ERROR_NO_REMOTE_ENCRYPTION,
    ERROR_REMOTE_REQUIRES_ENCRYPTION,
    ERROR_IPXCP_NET_NUMBER_CONFLICT,
    ERROR_INVALID_SMM,
    ERROR_SMM_UNINITIALIZED,
    ERROR_NO_MAC_FOR_PORT,
    ERROR_SMM_TIMEOUT,
    ERROR_BAD_PHONE_NUMBER,
    ERROR_WRONG_MODULE,
};
constexpr bool Numbered(const DWORD* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (v[i] != RASBASE + 1 + i) return false;
  return true;
}
static_assert(Numbered(kErrors, std::size(kErrors)) && std::size(kErrors) == 150);

// Function-pointer types: A and W for every family, the neutral type (the ANSI
// one) for families 1 to 14; families 15 to 18 have the fallback function
// under the neutral name instead.
#define FAMILY(F) static_assert(std::is_pointer_v<T##F##A> && std::is_pointer_v<T##F##W>);
#define NEUTRAL(F) FAMILY(F) static_assert(kSame<T##F, T##F##A>);
NEUTRAL(RasCreatePhonebookEntry)
NEUTRAL(RasDial)
NEUTRAL(RasEditPhonebookEntry)
NEUTRAL(RasEnumConnections)
NEUTRAL(RasEnumEntries)
NEUTRAL(RasGetConnectStatus)
NEUTRAL(RasGetEntryDialParams)
NEUTRAL(RasGetErrorString)
NEUTRAL(RasGetProjectionInfo)
NEUTRAL(RasHangUp)
NEUTRAL(RasSetEntryDialParams)
NEUTRAL(RasValidateEntryName)
NEUTRAL(RasRenameEntry)
NEUTRAL(RasDeleteEntry)
#define FALLBACK(F) FAMILY(F) static_assert(kSame<decltype(&F), T##F##A>);
FALLBACK(RasGetEntryProperties)
FALLBACK(RasSetEntryProperties)
FALLBACK(RasGetCountryInfo)
FALLBACK(RasEnumDevices)
static_assert(kSame<TRasGetProjectionInfoA, TRasGetProjectionInfoW> && kSame<TRasGetCountryInfoA, TRasGetCountryInfoW>);

}  // namespace
