// The connection records of WINVER 0x401: the classic record followed by the
// phonebook the connection was dialled from and its sub-entry. RasEnumConnections
// takes either size; the classic 412-byte record stays the component's.
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

static_assert(sizeof(TRasConnPbA) == 676, "TRasConnPbA must be 676 bytes");
static_assert(sizeof(TRasConnPbW) == 1340, "TRasConnPbW must be 1340 bytes");
static_assert(offsetof(TRasConnPbA, szPhonebook) == 411, "TRasConnPbA::szPhonebook must be at 411");
static_assert(offsetof(TRasConnPbW, szPhonebook) == 814, "TRasConnPbW::szPhonebook must be at 814");
