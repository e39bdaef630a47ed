// The layout of the RAS records for both pointer widths: the record sizes a
// RAS library checks dwSize against, and the compile-time checks of the size
// of every record and the offset of every field on the target being built.
// Only the records with a handle or a pointer-sized field (TRasConn,
// TRasConnPb, TRasDialExtensions) differ between the widths; under the 4-byte
// packing an 8-byte handle sits at offset 4, right after dwSize.
//
// Included by RasContract.h after the records; not meant to be included alone.
#pragma once

#include <cstddef>

// The pointer width of the target: 8 on Win64 and on 64-bit Linux, 4 on Win32.
constexpr bool RAS_WIDE_HANDLES = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "RAS records exist for 32-bit and 64-bit targets only");
static_assert(sizeof(THRasConn) == sizeof(void*), "a connection handle is as wide as a pointer");

// The dwSize of each record variant the component uses.
struct TRasRecordSizes {
  DWORD ConnA, ConnW;      // TRasConnA/W
  DWORD ConnPbA, ConnPbW;  // TRasConnPbA/W (RasConnPhonebook.h)
  DWORD ConnStatusA, ConnStatusW;
  DWORD DialExtensions;
  DWORD DialParamsA, DialParamsW;
  DWORD EntryNameA, EntryNameW;
};
constexpr TRasRecordSizes RAS_SIZES_WIN32 = {412, 816, 676, 1340, 160, 304, 16, 1052, 2096, 264, 520};
constexpr TRasRecordSizes RAS_SIZES_WIN64 = {416, 820, 680, 1344, 160, 304, 24, 1052, 2096, 264, 520};
// The sizes of this target, and those of the other width, which a RAS library
// built for this target refuses with ERROR_INVALID_SIZE where they differ.
constexpr TRasRecordSizes RAS_SIZES = RAS_WIDE_HANDLES ? RAS_SIZES_WIN64 : RAS_SIZES_WIN32;
constexpr TRasRecordSizes RAS_SIZES_OTHER = RAS_WIDE_HANDLES ? RAS_SIZES_WIN32 : RAS_SIZES_WIN64;

// ---------------------------------------------------------------- checks
#define RAS2_BY_WIDTH(n32, n64) (RAS_WIDE_HANDLES ? (n64) : (n32))
#define RAS2_CHECK_SIZE(T, n) static_assert(sizeof(T) == (n), #T " must be " #n " bytes")
#define RAS2_CHECK_OFFSET(T, f, n) static_assert(offsetof(T, f) == (n), #T "::" #f " must be at " #n)
#define RAS2_CHECK_FIELD(T, f, at, size) \
  RAS2_CHECK_OFFSET(T, f, at);           \
  static_assert(sizeof(T::f) == (size), #T "::" #f " must be " #size " bytes")

static_assert(sizeof(WCHAR) == 2, "wide characters are 16-bit on every platform");

RAS2_CHECK_SIZE(TRasConnA, RAS_SIZES.ConnA);
RAS2_CHECK_SIZE(TRasConnW, RAS_SIZES.ConnW);
RAS2_CHECK_SIZE(TRasConnStatusA, RAS_SIZES.ConnStatusA);
RAS2_CHECK_SIZE(TRasConnStatusW, RAS_SIZES.ConnStatusW);
RAS2_CHECK_SIZE(TRasDialExtensions, RAS_SIZES.DialExtensions);
RAS2_CHECK_SIZE(TRasDialParamsA, RAS_SIZES.DialParamsA);
RAS2_CHECK_SIZE(TRasDialParamsW, RAS_SIZES.DialParamsW);
RAS2_CHECK_SIZE(TRasEntryNameA, RAS_SIZES.EntryNameA);
RAS2_CHECK_SIZE(TRasEntryNameW, RAS_SIZES.EntryNameW);
RAS2_CHECK_SIZE(TRasEntryA, 1768);
RAS2_CHECK_SIZE(TRasEntryW, 3468);
RAS2_CHECK_SIZE(TRasDevInfoA, 152);
RAS2_CHECK_SIZE(TRasDevInfoW, 296);
RAS2_CHECK_SIZE(TRasCtryInfo, 20);
RAS2_CHECK_SIZE(TRasAmbA, 28);
RAS2_CHECK_SIZE(TRasAmbW, 44);
RAS2_CHECK_SIZE(TRasPppNbfA, 48);
RAS2_CHECK_SIZE(TRasPppNbfW, 84);
RAS2_CHECK_SIZE(TRasPppIpxA, 32);
RAS2_CHECK_SIZE(TRasPppIpxW, 52);
RAS2_CHECK_SIZE(TRasPppIpA, 40);
RAS2_CHECK_SIZE(TRasPppIpW, 72);
RAS2_CHECK_SIZE(TRasIPAddr, 4);

// The handle and pointer-sized fields and what follows them.
RAS2_CHECK_FIELD(TRasConnA, hrasconn, 4, sizeof(void*));
RAS2_CHECK_FIELD(TRasConnA, szEntryName, RAS2_BY_WIDTH(8, 12), 257);
RAS2_CHECK_FIELD(TRasConnA, szDeviceType, RAS2_BY_WIDTH(265, 269), 17);
RAS2_CHECK_FIELD(TRasConnA, szDeviceName, RAS2_BY_WIDTH(282, 286), 129);
RAS2_CHECK_FIELD(TRasConnW, hrasconn, 4, sizeof(void*));
RAS2_CHECK_FIELD(TRasConnW, szEntryName, RAS2_BY_WIDTH(8, 12), 514);
RAS2_CHECK_FIELD(TRasConnW, szDeviceType, RAS2_BY_WIDTH(522, 526), 34);
RAS2_CHECK_FIELD(TRasConnW, szDeviceName, RAS2_BY_WIDTH(556, 560), 258);
RAS2_CHECK_FIELD(TRasDialExtensions, dwfOptions, 4, 4);
RAS2_CHECK_FIELD(TRasDialExtensions, hwndParent, 8, sizeof(void*));
RAS2_CHECK_FIELD(TRasDialExtensions, reserved, RAS2_BY_WIDTH(12, 16), sizeof(void*));

// The records without such fields: the same on both widths.
RAS2_CHECK_OFFSET(TRasConnStatusA, rasconnstate, 4);
RAS2_CHECK_OFFSET(TRasConnStatusA, dwError, 8);
RAS2_CHECK_OFFSET(TRasConnStatusA, szDeviceType, 12);
RAS2_CHECK_OFFSET(TRasConnStatusA, szDeviceName, 29);
RAS2_CHECK_OFFSET(TRasConnStatusW, rasconnstate, 4);
RAS2_CHECK_OFFSET(TRasConnStatusW, dwError, 8);
RAS2_CHECK_OFFSET(TRasConnStatusW, szDeviceType, 12);
RAS2_CHECK_OFFSET(TRasConnStatusW, szDeviceName, 46);
RAS2_CHECK_OFFSET(TRasDialParamsA, szEntryName, 4);
RAS2_CHECK_OFFSET(TRasDialParamsA, szPhoneNumber, 261);
RAS2_CHECK_OFFSET(TRasDialParamsA, szCallbackNumber, 390);
RAS2_CHECK_OFFSET(TRasDialParamsA, szUserName, 519);
RAS2_CHECK_OFFSET(TRasDialParamsA, szPassword, 776);
RAS2_CHECK_OFFSET(TRasDialParamsA, szDomain, 1033);
RAS2_CHECK_OFFSET(TRasDialParamsW, szEntryName, 4);
RAS2_CHECK_OFFSET(TRasDialParamsW, szPhoneNumber, 518);
RAS2_CHECK_OFFSET(TRasDialParamsW, szCallbackNumber, 776);
RAS2_CHECK_OFFSET(TRasDialParamsW, szUserName, 1034);
RAS2_CHECK_OFFSET(TRasDialParamsW, szPassword, 1548);
RAS2_CHECK_OFFSET(TRasDialParamsW, szDomain, 2062);
RAS2_CHECK_OFFSET(TRasEntryNameA, szEntryName, 4);
RAS2_CHECK_OFFSET(TRasEntryNameW, szEntryName, 4);
RAS2_CHECK_OFFSET(TRasAmbA, dwError, 4);
RAS2_CHECK_OFFSET(TRasAmbA, szNetBiosError, 8);
RAS2_CHECK_OFFSET(TRasAmbA, bLana, 25);
RAS2_CHECK_OFFSET(TRasAmbW, szNetBiosError, 8);
RAS2_CHECK_OFFSET(TRasAmbW, bLana, 42);
RAS2_CHECK_OFFSET(TRasPppNbfA, dwNetBiosError, 8);
RAS2_CHECK_OFFSET(TRasPppNbfA, szNetBiosError, 12);
RAS2_CHECK_OFFSET(TRasPppNbfA, szWorkstationName, 29);
RAS2_CHECK_OFFSET(TRasPppNbfA, bLana, 46);
RAS2_CHECK_OFFSET(TRasPppNbfW, szWorkstationName, 46);
RAS2_CHECK_OFFSET(TRasPppNbfW, bLana, 80);
RAS2_CHECK_OFFSET(TRasPppIpxA, szIpxAddress, 8);
RAS2_CHECK_OFFSET(TRasPppIpxW, szIpxAddress, 8);
RAS2_CHECK_OFFSET(TRasPppIpA, szIpAddress, 8);
RAS2_CHECK_OFFSET(TRasPppIpA, szServerIpAddress, 24);
RAS2_CHECK_OFFSET(TRasPppIpW, szIpAddress, 8);
RAS2_CHECK_OFFSET(TRasPppIpW, szServerIpAddress, 40);
RAS2_CHECK_OFFSET(TRasCtryInfo, dwCountryID, 4);
RAS2_CHECK_OFFSET(TRasCtryInfo, dwNextCountryID, 8);
RAS2_CHECK_OFFSET(TRasCtryInfo, dwCountryCode, 12);
RAS2_CHECK_OFFSET(TRasCtryInfo, dwCountryNameOffset, 16);
RAS2_CHECK_OFFSET(TRasDevInfoA, szDeviceType, 4);
RAS2_CHECK_OFFSET(TRasDevInfoA, szDeviceName, 21);
RAS2_CHECK_OFFSET(TRasDevInfoW, szDeviceType, 4);
RAS2_CHECK_OFFSET(TRasDevInfoW, szDeviceName, 38);
RAS2_CHECK_OFFSET(TRasEntryA, dwfOptions, 4);
RAS2_CHECK_OFFSET(TRasEntryA, dwCountryID, 8);
RAS2_CHECK_OFFSET(TRasEntryA, dwCountryCode, 12);
RAS2_CHECK_OFFSET(TRasEntryA, szAreaCode, 16);
RAS2_CHECK_OFFSET(TRasEntryA, szLocalPhoneNumber, 27);
RAS2_CHECK_OFFSET(TRasEntryA, dwAlternatesOffset, 156);
RAS2_CHECK_OFFSET(TRasEntryA, ipaddr, 160);
RAS2_CHECK_OFFSET(TRasEntryA, ipaddrDns, 164);
RAS2_CHECK_OFFSET(TRasEntryA, ipaddrDnsAlt, 168);
RAS2_CHECK_OFFSET(TRasEntryA, ipaddrWins, 172);
RAS2_CHECK_OFFSET(TRasEntryA, ipaddrWinsAlt, 176);
RAS2_CHECK_OFFSET(TRasEntryA, dwFrameSize, 180);
RAS2_CHECK_OFFSET(TRasEntryA, dwfNetProtocols, 184);
RAS2_CHECK_OFFSET(TRasEntryA, dwFramingProtocol, 188);
RAS2_CHECK_OFFSET(TRasEntryA, szScript, 192);
RAS2_CHECK_OFFSET(TRasEntryA, szAutodialDll, 452);
RAS2_CHECK_OFFSET(TRasEntryA, szAutodialFunc, 712);
RAS2_CHECK_OFFSET(TRasEntryA, szDeviceType, 972);
RAS2_CHECK_OFFSET(TRasEntryA, szDeviceName, 989);
RAS2_CHECK_OFFSET(TRasEntryA, szX25PadType, 1118);
RAS2_CHECK_OFFSET(TRasEntryA, szX25Address, 1151);
RAS2_CHECK_OFFSET(TRasEntryA, szX25Facilities, 1352);
RAS2_CHECK_OFFSET(TRasEntryA, szX25UserData, 1553);
RAS2_CHECK_OFFSET(TRasEntryA, dwChannels, 1756);
RAS2_CHECK_OFFSET(TRasEntryA, dwReserved1, 1760);
RAS2_CHECK_OFFSET(TRasEntryA, dwReserved2, 1764);
RAS2_CHECK_OFFSET(TRasEntryW, szAreaCode, 16);
RAS2_CHECK_OFFSET(TRasEntryW, szLocalPhoneNumber, 38);
RAS2_CHECK_OFFSET(TRasEntryW, dwAlternatesOffset, 296);
RAS2_CHECK_OFFSET(TRasEntryW, ipaddr, 300);
RAS2_CHECK_OFFSET(TRasEntryW, dwFramingProtocol, 328);
RAS2_CHECK_OFFSET(TRasEntryW, szScript, 332);
RAS2_CHECK_OFFSET(TRasEntryW, szAutodialDll, 852);
RAS2_CHECK_OFFSET(TRasEntryW, szAutodialFunc, 1372);
RAS2_CHECK_OFFSET(TRasEntryW, szDeviceType, 1892);
RAS2_CHECK_OFFSET(TRasEntryW, szDeviceName, 1926);
RAS2_CHECK_OFFSET(TRasEntryW, szX25PadType, 2184);
RAS2_CHECK_OFFSET(TRasEntryW, szX25Address, 2250);
RAS2_CHECK_OFFSET(TRasEntryW, szX25Facilities, 2652);
RAS2_CHECK_OFFSET(TRasEntryW, szX25UserData, 3054);
RAS2_CHECK_OFFSET(TRasEntryW, dwChannels, 3456);
RAS2_CHECK_OFFSET(TRasEntryW, dwReserved1, 3460);
RAS2_CHECK_OFFSET(TRasEntryW, dwReserved2, 3464);

#undef RAS2_CHECK_SIZE
#undef RAS2_CHECK_OFFSET
#undef RAS2_CHECK_FIELD
#undef RAS2_BY_WIDTH
