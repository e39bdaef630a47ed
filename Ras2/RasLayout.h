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
#define RAS2_CHECK_FIELD_SIZE(T, f, size) static_assert(sizeof(T::f) == (size), #T "::" #f " must be " #size " bytes")

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

// The pointer-sized fields are as wide as a pointer; the offset of every
// field both our declarations and the Windows headers declare is checked
// against the one list of them (MinGW-w64's ras.h is held to it as well).
RAS2_CHECK_FIELD_SIZE(TRasConnA, hrasconn, sizeof(void*));
RAS2_CHECK_FIELD_SIZE(TRasConnW, hrasconn, sizeof(void*));
RAS2_CHECK_FIELD_SIZE(TRasDialExtensions, hwndParent, sizeof(void*));
RAS2_CHECK_FIELD_SIZE(TRasDialExtensions, reserved, sizeof(void*));
RAS2_CHECK_FIELD_SIZE(TRasConnA, szEntryName, 257);
RAS2_CHECK_FIELD_SIZE(TRasConnA, szDeviceType, 17);
RAS2_CHECK_FIELD_SIZE(TRasConnA, szDeviceName, 129);
RAS2_CHECK_FIELD_SIZE(TRasConnW, szEntryName, 514);
RAS2_CHECK_FIELD_SIZE(TRasConnW, szDeviceType, 34);
RAS2_CHECK_FIELD_SIZE(TRasConnW, szDeviceName, 258);
RAS2_CHECK_FIELD_SIZE(TRasDialExtensions, dwfOptions, 4);

#define RAS_FIELD(ours, theirs, field, theirField, at32, at64)      \
  static_assert(offsetof(ours, field) == RAS2_BY_WIDTH(at32, at64), \
                #ours "::" #field " is not where " #theirs "::" #theirField " is");
#define RAS_OPTIONAL_FIELD(ours, theirs, field, theirField, at32, at64)  // checked with the optional records
#include "Ras2/RasLayoutFields.def"
#undef RAS_FIELD
#undef RAS_OPTIONAL_FIELD

#undef RAS2_CHECK_SIZE
#undef RAS2_CHECK_FIELD_SIZE
#undef RAS2_BY_WIDTH
