// The RAS client contract: the declarations of the Windows RAS client
// interface that Quor uses, in the classic layout (the one where TRasConn is
// 412 bytes on Win32 and TRasDialParams 1052), and the function types of its
// entry points. It declares no variables, so both sides of the contract
// include it: the binding (Ras2.h adds the entry-point variables) and the RAS
// library, whose exports are checked against these function types.
//
// Every name here is usable unqualified, as the Windows headers' names are.
// Records follow the target's pointer width: a connection handle, a window
// handle and every pointer-sized field is as wide as a pointer (4 bytes on
// Win32, 8 on Win64 and on 64-bit Linux, so the native, ASan and TSan suites
// run with the Win64 records), and every record keeps the 4-byte packing of
// the Windows headers, so an 8-byte handle sits at offset 4 right after
// dwSize. Text is 8-bit (A) or 16-bit (W) on every platform. The sizes and
// offsets for both widths are in RasLayout.h and checked at compile time.
// The neutral names are the ANSI ones. The platform SDK's ras.h is never
// included: it declares newer, larger layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Win32/Win32.h"

// ---------------------------------------------------------------- limits
constexpr int DNLEN = 15;
constexpr int UNLEN = 256;
constexpr int PWLEN = 256;
constexpr int NETBIOS_NAME_LEN = 16;
constexpr int RAS_MaxDeviceType = 16;
constexpr int RAS_MaxPhoneNumber = 128;
constexpr int RAS_MaxIpAddress = 15;
constexpr int RAS_MaxIpxAddress = 21;
constexpr int RAS_MaxEntryName = 256;
constexpr int RAS_MaxDeviceName = 128;
constexpr int RAS_MaxCallbackNumber = 128;
constexpr int RAS_MaxAreaCode = 10;
constexpr int RAS_MaxPadType = 32;
constexpr int RAS_MaxX25Address = 200;
constexpr int RAS_MaxFacilities = 200;
constexpr int RAS_MaxUserData = 200;

// ---------------------------------------------------------------- scalar types
typedef uintptr_t THRasConn;  // connection handle, pointer-wide; 0 means none
typedef THRasConn* LPHRasConn;
typedef uint32_t TRasConnState;
typedef TRasConnState* LPRasConnState;
typedef uint32_t TRasProjection;
typedef TRasProjection* LPRasProjection;

// ---------------------------------------------------------------- connection states
constexpr TRasConnState RASCS_PAUSED = 0x1000;
constexpr TRasConnState RASCS_DONE = 0x2000;

constexpr TRasConnState RASCS_OpenPort = 0;
constexpr TRasConnState RASCS_PortOpened = 1;
constexpr TRasConnState RASCS_ConnectDevice = 2;
constexpr TRasConnState RASCS_DeviceConnected = 3;
constexpr TRasConnState RASCS_AllDevicesConnected = 4;
constexpr TRasConnState RASCS_Authenticate = 5;
constexpr TRasConnState RASCS_AuthNotify = 6;
constexpr TRasConnState RASCS_AuthRetry = 7;
constexpr TRasConnState RASCS_AuthCallback = 8;
constexpr TRasConnState RASCS_AuthChangePassword = 9;
constexpr TRasConnState RASCS_AuthProject = 10;
constexpr TRasConnState RASCS_AuthLinkSpeed = 11;
constexpr TRasConnState RASCS_AuthAck = 12;
constexpr TRasConnState RASCS_ReAuthenticate = 13;
constexpr TRasConnState RASCS_Authenticated = 14;
constexpr TRasConnState RASCS_PrepareForCallback = 15;
constexpr TRasConnState RASCS_WaitForModemReset = 16;
constexpr TRasConnState RASCS_WaitForCallback = 17;
constexpr TRasConnState RASCS_Projected = 18;
constexpr TRasConnState RASCS_StartAuthentication = 19;
constexpr TRasConnState RASCS_CallbackComplete = 20;
constexpr TRasConnState RASCS_LogonNetwork = 21;
constexpr TRasConnState RASCS_Interactive = RASCS_PAUSED;
constexpr TRasConnState RASCS_RetryAuthentication = RASCS_PAUSED + 1;
constexpr TRasConnState RASCS_CallbackSetByCaller = RASCS_PAUSED + 2;
constexpr TRasConnState RASCS_PasswordExpired = RASCS_PAUSED + 3;
constexpr TRasConnState RASCS_Connected = RASCS_DONE;
constexpr TRasConnState RASCS_Disconnected = RASCS_DONE + 1;

constexpr bool RasIsPausedState(TRasConnState s) {
  return s >= RASCS_PAUSED && s < RASCS_DONE;
}
constexpr bool RasIsFinalState(TRasConnState s) {
  return s >= RASCS_DONE;
}

// ---------------------------------------------------------------- records
#pragma pack(push, 4)

struct TRasConnA {
  DWORD dwSize;
  THRasConn hrasconn;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
struct TRasConnW {
  DWORD dwSize;
  THRasConn hrasconn;
  WCHAR szEntryName[RAS_MaxEntryName + 1];
  WCHAR szDeviceType[RAS_MaxDeviceType + 1];
  WCHAR szDeviceName[RAS_MaxDeviceName + 1];
};

struct TRasConnStatusA {
  DWORD dwSize;
  TRasConnState rasconnstate;
  DWORD dwError;
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
struct TRasConnStatusW {
  DWORD dwSize;
  TRasConnState rasconnstate;
  DWORD dwError;
  WCHAR szDeviceType[RAS_MaxDeviceType + 1];
  WCHAR szDeviceName[RAS_MaxDeviceName + 1];
};

struct TRasDialExtensions {
  DWORD dwSize;
  DWORD dwfOptions;
  uintptr_t hwndParent;  // window handle, pointer-wide
  uintptr_t reserved;
};

struct TRasDialParamsA {
  DWORD dwSize;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
  CHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
  CHAR szUserName[UNLEN + 1];
  CHAR szPassword[PWLEN + 1];
  CHAR szDomain[DNLEN + 1];
};
struct TRasDialParamsW {
  DWORD dwSize;
  WCHAR szEntryName[RAS_MaxEntryName + 1];
  WCHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
  WCHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
  WCHAR szUserName[UNLEN + 1];
  WCHAR szPassword[PWLEN + 1];
  WCHAR szDomain[DNLEN + 1];
};

struct TRasEntryNameA {
  DWORD dwSize;
  CHAR szEntryName[RAS_MaxEntryName + 1];
};
struct TRasEntryNameW {
  DWORD dwSize;
  WCHAR szEntryName[RAS_MaxEntryName + 1];
};

struct TRasAmbA {
  DWORD dwSize;
  DWORD dwError;
  CHAR szNetBiosError[NETBIOS_NAME_LEN + 1];
  BYTE bLana;
};
struct TRasAmbW {
  DWORD dwSize;
  DWORD dwError;
  WCHAR szNetBiosError[NETBIOS_NAME_LEN + 1];
  BYTE bLana;
};

struct TRasPppNbfA {
  DWORD dwSize;
  DWORD dwError;
  DWORD dwNetBiosError;
  CHAR szNetBiosError[NETBIOS_NAME_LEN + 1];
  CHAR szWorkstationName[NETBIOS_NAME_LEN + 1];
  BYTE bLana;
};
struct TRasPppNbfW {
  DWORD dwSize;
  DWORD dwError;
  DWORD dwNetBiosError;
  WCHAR szNetBiosError[NETBIOS_NAME_LEN + 1];
  WCHAR szWorkstationName[NETBIOS_NAME_LEN + 1];
  BYTE bLana;
};

struct TRasPppIpxA {
  DWORD dwSize;
  DWORD dwError;
  CHAR szIpxAddress[RAS_MaxIpxAddress + 1];
};
struct TRasPppIpxW {
  DWORD dwSize;
  DWORD dwError;
  WCHAR szIpxAddress[RAS_MaxIpxAddress + 1];
};

struct TRasPppIpA {
  DWORD dwSize;
  DWORD dwError;
  CHAR szIpAddress[RAS_MaxIpAddress + 1];
  CHAR szServerIpAddress[RAS_MaxIpAddress + 1];
};
struct TRasPppIpW {
  DWORD dwSize;
  DWORD dwError;
  WCHAR szIpAddress[RAS_MaxIpAddress + 1];
  WCHAR szServerIpAddress[RAS_MaxIpAddress + 1];
};

struct TRasIPAddr {
  BYTE a;
  BYTE b;
  BYTE c;
  BYTE d;
};

struct TRasCtryInfo {
  DWORD dwSize;
  DWORD dwCountryID;
  DWORD dwNextCountryID;
  DWORD dwCountryCode;
  DWORD dwCountryNameOffset;
};

struct TRasDevInfoA {
  DWORD dwSize;
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
struct TRasDevInfoW {
  DWORD dwSize;
  WCHAR szDeviceType[RAS_MaxDeviceType + 1];
  WCHAR szDeviceName[RAS_MaxDeviceName + 1];
};

constexpr int RAS_MaxPath = 260;  // the three path fields of TRasEntry

struct TRasEntryA {
  DWORD dwSize;
  DWORD dwfOptions;
  DWORD dwCountryID;
  DWORD dwCountryCode;
  CHAR szAreaCode[RAS_MaxAreaCode + 1];
  CHAR szLocalPhoneNumber[RAS_MaxPhoneNumber + 1];
  DWORD dwAlternatesOffset;
  TRasIPAddr ipaddr;
  TRasIPAddr ipaddrDns;
  TRasIPAddr ipaddrDnsAlt;
  TRasIPAddr ipaddrWins;
  TRasIPAddr ipaddrWinsAlt;
  DWORD dwFrameSize;
  DWORD dwfNetProtocols;
  DWORD dwFramingProtocol;
  CHAR szScript[RAS_MaxPath];
  CHAR szAutodialDll[RAS_MaxPath];
  CHAR szAutodialFunc[RAS_MaxPath];
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
  CHAR szX25PadType[RAS_MaxPadType + 1];
  CHAR szX25Address[RAS_MaxX25Address + 1];
  CHAR szX25Facilities[RAS_MaxFacilities + 1];
  CHAR szX25UserData[RAS_MaxUserData + 1];
  DWORD dwChannels;
  DWORD dwReserved1;
  DWORD dwReserved2;
};
struct TRasEntryW {
  DWORD dwSize;
  DWORD dwfOptions;
  DWORD dwCountryID;
  DWORD dwCountryCode;
  WCHAR szAreaCode[RAS_MaxAreaCode + 1];
  WCHAR szLocalPhoneNumber[RAS_MaxPhoneNumber + 1];
  DWORD dwAlternatesOffset;
  TRasIPAddr ipaddr;
  TRasIPAddr ipaddrDns;
  TRasIPAddr ipaddrDnsAlt;
  TRasIPAddr ipaddrWins;
  TRasIPAddr ipaddrWinsAlt;
  DWORD dwFrameSize;
  DWORD dwfNetProtocols;
  DWORD dwFramingProtocol;
  WCHAR szScript[RAS_MaxPath];
  WCHAR szAutodialDll[RAS_MaxPath];
  WCHAR szAutodialFunc[RAS_MaxPath];
  WCHAR szDeviceType[RAS_MaxDeviceType + 1];
  WCHAR szDeviceName[RAS_MaxDeviceName + 1];
  WCHAR szX25PadType[RAS_MaxPadType + 1];
  WCHAR szX25Address[RAS_MaxX25Address + 1];
  WCHAR szX25Facilities[RAS_MaxFacilities + 1];
  WCHAR szX25UserData[RAS_MaxUserData + 1];
  DWORD dwChannels;
  DWORD dwReserved1;
  DWORD dwReserved2;
};

#pragma pack(pop)

// Neutral names are the ANSI records themselves.
typedef TRasConnA TRasConn;
typedef TRasConnStatusA TRasConnStatus;
typedef TRasDialParamsA TRasDialParams;
typedef TRasEntryNameA TRasEntryName;
typedef TRasAmbA TRasAmb;
typedef TRasPppNbfA TRasPppNbf;
typedef TRasPppIpxA TRasPppIpx;
typedef TRasPppIpA TRasPppIp;
typedef TRasDevInfoA TRasDevInfo;
typedef TRasEntryA TRasEntry;

typedef TRasConnA* LPRasConnA;
typedef TRasConnW* LPRasConnW;
typedef TRasConn* LPRasConn;
typedef TRasConnStatusA* LPRasConnStatusA;
typedef TRasConnStatusW* LPRasConnStatusW;
typedef TRasConnStatus* LPRasConnStatus;
typedef TRasDialExtensions* LPRasDialExtensions;
typedef TRasDialParamsA* LPRasDialParamsA;
typedef TRasDialParamsW* LPRasDialParamsW;
typedef TRasDialParams* LPRasDialParams;
typedef TRasEntryNameA* LPRasEntryNameA;
typedef TRasEntryNameW* LPRasEntryNameW;
typedef TRasEntryName* LPRasEntryName;
typedef TRasAmbA* LPRasAmbA;
typedef TRasAmbW* LPRasAmbW;
typedef TRasAmb* LPRasAmb;
typedef TRasPppNbfA* LPRasPppNbfA;
typedef TRasPppNbfW* LPRasPppNbfW;
typedef TRasPppNbf* LpRaspppNbf;  // the neutral spelling is LpRaspppNbf
typedef TRasPppIpxA* LPRasPppIpxA;
typedef TRasPppIpxW* LPRasPppIpxW;
typedef TRasPppIpx* LPRasPppIpx;
typedef TRasPppIpA* LPRasPppIpA;
typedef TRasPppIpW* LPRasPppIpW;
typedef TRasPppIp* LPRasPppIp;
typedef TRasIPAddr* LPRasIPAddr;
typedef TRasCtryInfo* LPRasCtryInfo;
typedef TRasDevInfoA* LPRasDevInfoA;
typedef TRasDevInfoW* LPRasDevInfoW;
typedef TRasDevInfo* LPRasDevInfo;
typedef TRasEntryA* LPRasEntryA;
typedef TRasEntryW* LPRasEntryW;
typedef TRasEntry* LPRasEntry;

#include "Ras2/RasLayout.h"  // the sizes and offsets, checked for the target

// ---------------------------------------------------------------- constants
// Dial-extension options (TRasDialExtensions::dwfOptions).
constexpr DWORD RDEOPT_UsePrefixSuffix = 0x00000001;
constexpr DWORD RDEOPT_PausedStates = 0x00000002;
constexpr DWORD RDEOPT_IgnoreModemSpeaker = 0x00000004;
constexpr DWORD RDEOPT_SetModemSpeaker = 0x00000008;
constexpr DWORD RDEOPT_IgnoreSoftwareCompression = 0x00000010;
constexpr DWORD RDEOPT_SetSoftwareCompression = 0x00000020;

// Projections.
constexpr TRasProjection RASP_Amb = 0x10000;
constexpr TRasProjection RASP_PppNbf = 0x803F;
constexpr TRasProjection RASP_PppIpx = 0x802B;
constexpr TRasProjection RASP_PppIp = 0x8021;

// The dial-event window message.
constexpr const char RASDIALEVENT[] = "RasDialEvent";
constexpr UINT WM_RASDIALEVENT = 0xCCCD;

// Entry options (TRasEntry::dwfOptions).
constexpr DWORD RASEO_UseCountryAndAreaCodes = 0x00000001;
constexpr DWORD RASEO_SpecificIpAddr = 0x00000002;
constexpr DWORD RASEO_SpecificNameServers = 0x00000004;
constexpr DWORD RASEO_IpHeaderCompression = 0x00000008;
constexpr DWORD RASEO_RemoteDefaultGateway = 0x00000010;
constexpr DWORD RASEO_DisableLcpExtensions = 0x00000020;
constexpr DWORD RASEO_TerminalBeforeDial = 0x00000040;
constexpr DWORD RASEO_TerminalAfterDial = 0x00000080;
constexpr DWORD RASEO_ModemLights = 0x00000100;
constexpr DWORD RASEO_SwCompression = 0x00000200;
constexpr DWORD RASEO_RequireEncryptedPw = 0x00000400;
constexpr DWORD RASEO_RequireMsEncryptedPw = 0x00000800;
constexpr DWORD RASEO_RequireDataEncryption = 0x00001000;
constexpr DWORD RASEO_NetworkLogon = 0x00002000;
constexpr DWORD RASEO_UseLogonCredentials = 0x00004000;
constexpr DWORD RASEO_PromoteAlternates = 0x00008000;

// Network protocols (TRasEntry::dwfNetProtocols).
constexpr DWORD RASNP_Netbeui = 0x00000001;
constexpr DWORD RASNP_Ipx = 0x00000002;
constexpr DWORD RASNP_Ip = 0x00000004;

// Framing protocols (TRasEntry::dwFramingProtocol).
constexpr DWORD RASFP_Ppp = 0x00000001;
constexpr DWORD RASFP_Slip = 0x00000002;
constexpr DWORD RASFP_Ras = 0x00000004;

// Device types, as ras.h names them.
constexpr const char RASDT_Modem[] = "modem";
constexpr const char RASDT_Isdn[] = "isdn";
constexpr const char RASDT_X25[] = "x25";

// ---------------------------------------------------------------- error numbers
constexpr DWORD SUCCESS = 0;
constexpr DWORD RASBASE = 600;
constexpr DWORD PENDING = RASBASE;
constexpr DWORD ERROR_INVALID_PORT_HANDLE = 601;
constexpr DWORD ERROR_PORT_ALREADY_OPEN = 602;
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD ERROR_WRONG_INFO_SPECIFIED = 604;
constexpr DWORD ERROR_CANNOT_SET_PORT_INFO = 605;
constexpr DWORD ERROR_PORT_NOT_CONNECTED = 606;
constexpr DWORD ERROR_EVENT_INVALID = 607;
constexpr DWORD ERROR_DEVICE_DOES_NOT_EXIST = 608;
constexpr DWORD ERROR_DEVICETYPE_DOES_NOT_EXIST = 609;
constexpr DWORD ERROR_BUFFER_INVALID = 610;
constexpr DWORD ERROR_ROUTE_NOT_AVAILABLE = 611;
constexpr DWORD ERROR_ROUTE_NOT_ALLOCATED = 612;
constexpr DWORD ERROR_INVALID_COMPRESSION_SPECIFIED = 613;
constexpr DWORD ERROR_OUT_OF_BUFFERS = 614;
constexpr DWORD ERROR_PORT_NOT_FOUND = 615;
constexpr DWORD ERROR_ASYNC_REQUEST_PENDING = 616;
constexpr DWORD ERROR_ALREADY_DISCONNECTING = 617;
constexpr DWORD ERROR_PORT_NOT_OPEN = 618;
constexpr DWORD ERROR_PORT_DISCONNECTED = 619;
constexpr DWORD ERROR_NO_ENDPOINTS = 620;
constexpr DWORD ERROR_CANNOT_OPEN_PHONEBOOK = 621;
constexpr DWORD ERROR_CANNOT_LOAD_PHONEBOOK = 622;
constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
constexpr DWORD ERROR_CANNOT_WRITE_PHONEBOOK = 624;
constexpr DWORD ERROR_CORRUPT_PHONEBOOK = 625;
constexpr DWORD ERROR_CANNOT_LOAD_STRING = 626;
constexpr DWORD ERROR_KEY_NOT_FOUND = 627;
constexpr DWORD ERROR_DISCONNECTION = 628;
constexpr DWORD ERROR_REMOTE_DISCONNECTION = 629;
constexpr DWORD ERROR_HARDWARE_FAILURE = 630;
constexpr DWORD ERROR_USER_DISCONNECTION = 631;
constexpr DWORD ERROR_INVALID_SIZE = 632;
constexpr DWORD ERROR_PORT_NOT_AVAILABLE = 633;
constexpr DWORD ERROR_CANNOT_PROJECT_CLIENT = 634;
constexpr DWORD ERROR_UNKNOWN = 635;
constexpr DWORD ERROR_WRONG_DEVICE_ATTACHED = 636;
constexpr DWORD ERROR_BAD_STRING = 637;
constexpr DWORD ERROR_REQUEST_TIMEOUT = 638;
constexpr DWORD ERROR_CANNOT_GET_LANA = 639;
constexpr DWORD ERROR_NETBIOS_ERROR = 640;
constexpr DWORD ERROR_SERVER_OUT_OF_RESOURCES = 641;
constexpr DWORD ERROR_NAME_EXISTS_ON_NET = 642;
constexpr DWORD ERROR_SERVER_GENERAL_NET_FAILURE = 643;
constexpr DWORD WARNING_MSG_ALIAS_NOT_ADDED = 644;
constexpr DWORD ERROR_AUTH_INTERNAL = 645;
constexpr DWORD ERROR_RESTRICTED_LOGON_HOURS = 646;
constexpr DWORD ERROR_ACCT_DISABLED = 647;
constexpr DWORD ERROR_PASSWD_EXPIRED = 648;
constexpr DWORD ERROR_NO_DIALIN_PERMISSION = 649;
constexpr DWORD ERROR_SERVER_NOT_RESPONDING = 650;
constexpr DWORD ERROR_FROM_DEVICE = 651;
constexpr DWORD ERROR_UNRECOGNIZED_RESPONSE = 652;
constexpr DWORD ERROR_MACRO_NOT_FOUND = 653;
constexpr DWORD ERROR_MACRO_NOT_DEFINED = 654;
constexpr DWORD ERROR_MESSAGE_MACRO_NOT_FOUND = 655;
constexpr DWORD ERROR_DEFAULTOFF_MACRO_NOT_FOUND = 656;
constexpr DWORD ERROR_FILE_COULD_NOT_BE_OPENED = 657;
constexpr DWORD ERROR_DEVICENAME_TOO_LONG = 658;
constexpr DWORD ERROR_DEVICENAME_NOT_FOUND = 659;
constexpr DWORD ERROR_NO_RESPONSES = 660;
constexpr DWORD ERROR_NO_COMMAND_FOUND = 661;
constexpr DWORD ERROR_WRONG_KEY_SPECIFIED = 662;
constexpr DWORD ERROR_UNKNOWN_DEVICE_TYPE = 663;
constexpr DWORD ERROR_ALLOCATING_MEMORY = 664;
constexpr DWORD ERROR_PORT_NOT_CONFIGURED = 665;
constexpr DWORD ERROR_DEVICE_NOT_READY = 666;
constexpr DWORD ERROR_READING_INI_FILE = 667;
constexpr DWORD ERROR_NO_CONNECTION = 668;
constexpr DWORD ERROR_BAD_USAGE_IN_INI_FILE = 669;
constexpr DWORD ERROR_READING_SECTIONNAME = 670;
constexpr DWORD ERROR_READING_DEVICETYPE = 671;
constexpr DWORD ERROR_READING_DEVICENAME = 672;
constexpr DWORD ERROR_READING_USAGE = 673;
constexpr DWORD ERROR_READING_MAXCONNECTBPS = 674;
constexpr DWORD ERROR_READING_MAXCARRIERBPS = 675;
constexpr DWORD ERROR_LINE_BUSY = 676;
constexpr DWORD ERROR_VOICE_ANSWER = 677;
constexpr DWORD ERROR_NO_ANSWER = 678;
constexpr DWORD ERROR_NO_CARRIER = 679;
constexpr DWORD ERROR_NO_DIALTONE = 680;
constexpr DWORD ERROR_IN_COMMAND = 681;
constexpr DWORD ERROR_WRITING_SECTIONNAME = 682;
constexpr DWORD ERROR_WRITING_DEVICETYPE = 683;
constexpr DWORD ERROR_WRITING_DEVICENAME = 684;
constexpr DWORD ERROR_WRITING_MAXCONNECTBPS = 685;
constexpr DWORD ERROR_WRITING_MAXCARRIERBPS = 686;
constexpr DWORD ERROR_WRITING_USAGE = 687;
constexpr DWORD ERROR_WRITING_DEFAULTOFF = 688;
constexpr DWORD ERROR_READING_DEFAULTOFF = 689;
constexpr DWORD ERROR_EMPTY_INI_FILE = 690;
constexpr DWORD ERROR_AUTHENTICATION_FAILURE = 691;
constexpr DWORD ERROR_PORT_OR_DEVICE = 692;
constexpr DWORD ERROR_NOT_BINARY_MACRO = 693;
constexpr DWORD ERROR_DCB_NOT_FOUND = 694;
constexpr DWORD ERROR_STATE_MACHINES_NOT_STARTED = 695;
constexpr DWORD ERROR_STATE_MACHINES_ALREADY_STARTED = 696;
constexpr DWORD ERROR_PARTIAL_RESPONSE_LOOPING = 697;
constexpr DWORD ERROR_UNKNOWN_RESPONSE_KEY = 698;
constexpr DWORD ERROR_RECV_BUF_FULL = 699;
constexpr DWORD ERROR_CMD_TOO_LONG = 700;
constexpr DWORD ERROR_UNSUPPORTED_BPS = 701;
constexpr DWORD ERROR_UNEXPECTED_RESPONSE = 702;
constexpr DWORD ERROR_INTERACTIVE_MODE = 703;
constexpr DWORD ERROR_BAD_CALLBACK_NUMBER = 704;
constexpr DWORD ERROR_INVALID_AUTH_STATE = 705;
constexpr DWORD ERROR_WRITING_INITBPS = 706;
constexpr DWORD ERROR_X25_DIAGNOSTIC = 707;
constexpr DWORD ERROR_ACCT_EXPIRED = 708;
constexpr DWORD ERROR_CHANGING_PASSWORD = 709;
constexpr DWORD ERROR_OVERRUN = 710;
constexpr DWORD ERROR_RASMAN_CANNOT_INITIALIZE = 711;
constexpr DWORD ERROR_BIPLEX_PORT_NOT_AVAILABLE = 712;
constexpr DWORD ERROR_NO_ACTIVE_ISDN_LINES = 713;
constexpr DWORD ERROR_NO_ISDN_CHANNELS_AVAILABLE = 714;
constexpr DWORD ERROR_TOO_MANY_LINE_ERRORS = 715;
constexpr DWORD ERROR_IP_CONFIGURATION = 716;
constexpr DWORD ERROR_NO_IP_ADDRESSES = 717;
constexpr DWORD ERROR_PPP_TIMEOUT = 718;
constexpr DWORD ERROR_PPP_REMOTE_TERMINATED = 719;
constexpr DWORD ERROR_PPP_NO_PROTOCOLS_CONFIGURED = 720;
constexpr DWORD ERROR_PPP_NO_RESPONSE = 721;
constexpr DWORD ERROR_PPP_INVALID_PACKET = 722;
constexpr DWORD ERROR_PHONE_NUMBER_TOO_LONG = 723;
constexpr DWORD ERROR_IPXCP_NO_DIALOUT_CONFIGURED = 724;
constexpr DWORD ERROR_IPXCP_NO_DIALIN_CONFIGURED = 725;
constexpr DWORD ERROR_IPXCP_DIALOUT_ALREADY_ACTIVE = 726;
constexpr DWORD ERROR_ACCESSING_TCPCFGDLL = 727;
constexpr DWORD ERROR_NO_IP_RAS_ADAPTER = 728;
constexpr DWORD ERROR_SLIP_REQUIRES_IP = 729;
constexpr DWORD ERROR_PROJECTION_NOT_COMPLETE = 730;
constexpr DWORD ERROR_PROTOCOL_NOT_CONFIGURED = 731;
constexpr DWORD ERROR_PPP_NOT_CONVERGING = 732;
constexpr DWORD ERROR_PPP_CP_REJECTED = 733;
constexpr DWORD ERROR_PPP_LCP_TERMINATED = 734;
constexpr DWORD ERROR_PPP_REQUIRED_ADDRESS_REJECTED = 735;
constexpr DWORD ERROR_PPP_NCP_TERMINATED = 736;
constexpr DWORD ERROR_PPP_LOOPBACK_DETECTED = 737;
constexpr DWORD ERROR_PPP_NO_ADDRESS_ASSIGNED = 738;
constexpr DWORD ERROR_CANNOT_USE_LOGON_CREDENTIALS = 739;
constexpr DWORD ERROR_TAPI_CONFIGURATION = 740;
constexpr DWORD ERROR_NO_LOCAL_ENCRYPTION = 741;
constexpr DWORD ERROR_NO_REMOTE_ENCRYPTION = 742;
constexpr DWORD ERROR_REMOTE_REQUIRES_ENCRYPTION = 743;
constexpr DWORD ERROR_IPXCP_NET_NUMBER_CONFLICT = 744;
constexpr DWORD ERROR_INVALID_SMM = 745;
constexpr DWORD ERROR_SMM_UNINITIALIZED = 746;
constexpr DWORD ERROR_NO_MAC_FOR_PORT = 747;
constexpr DWORD ERROR_SMM_TIMEOUT = 748;
constexpr DWORD ERROR_BAD_PHONE_NUMBER = 749;
constexpr DWORD ERROR_WRONG_MODULE = 750;
constexpr DWORD RASBASEEND = 750;
static_assert(ERROR_WRONG_MODULE == RASBASEEND, "the error list ends at RASBASEEND");

// ---------------------------------------------------------------- function-pointer types
// All use the Windows API calling convention and return 0 or an error number.
// The notifier of RasDial is pointer-wide: a window handle (notifier type
// 0xFFFFFFFF) or a callback. Families with a neutral entry point, and the
// three without one that RAS_PLAIN_NEUTRAL marks, also get the neutral type,
// whose parameters are the ANSI ones.
#define RAS_TYPES(F, PA, PW, ARGS)   \
  typedef DWORD(WINAPI* T##F##A) PA; \
  typedef DWORD(WINAPI* T##F##W) PW;
#define RAS_GUARDED(F, PA, PW, ARGS) \
  RAS_TYPES(F, PA, PW, ARGS)         \
  typedef T##F##A T##F;
#define RAS_PLAIN(F, PA, PW, ARGS) RAS_TYPES(F, PA, PW, ARGS)
#define RAS_PLAIN_NEUTRAL RAS_GUARDED
#include "Ras2/RasFunctions.def"
#undef RAS_TYPES
