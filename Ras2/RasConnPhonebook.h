// The connection records of WINVER 0x401: the classic record followed by the
// phonebook the connection was dialled from and its sub-entry. RasEnumConnections
// takes either size; the classic record (412 bytes on Win32) stays the component's.
#pragma once

#include <cstddef>

#include "Ras2/RasContract.h"

#pragma pack(push, 4)

struct TRasConnPbA {
  DWORD dwSize;
  THRasConn hrasconn;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
  CHAR szPhonebook[260];
  DWORD dwSubEntry;
};
struct TRasConnPbW {
  DWORD dwSize;
  THRasConn hrasconn;
  WCHAR szEntryName[RAS_MaxEntryName + 1];
  WCHAR szDeviceType[RAS_MaxDeviceType + 1];
  WCHAR szDeviceName[RAS_MaxDeviceName + 1];
  WCHAR szPhonebook[260];
  DWORD dwSubEntry;
};

#pragma pack(pop)

static_assert(sizeof(TRasConnPbA) == RAS_SIZES.ConnPbA, "TRasConnPbA must be 676 bytes (Win32) or 680 (Win64)");
static_assert(sizeof(TRasConnPbW) == RAS_SIZES.ConnPbW, "TRasConnPbW must be 1340 bytes (Win32) or 1344 (Win64)");
static_assert(offsetof(TRasConnPbA, szPhonebook) == (RAS_WIDE_HANDLES ? 415 : 411), "TRasConnPbA::szPhonebook");
static_assert(offsetof(TRasConnPbA, dwSubEntry) == (RAS_WIDE_HANDLES ? 676 : 672), "TRasConnPbA::dwSubEntry");
static_assert(offsetof(TRasConnPbW, szPhonebook) == (RAS_WIDE_HANDLES ? 818 : 814), "TRasConnPbW::szPhonebook");
static_assert(offsetof(TRasConnPbW, dwSubEntry) == (RAS_WIDE_HANDLES ? 1340 : 1336), "TRasConnPbW::dwSubEntry");
