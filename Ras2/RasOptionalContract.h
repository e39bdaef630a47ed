// The declarations of the optional RAS functions (RasOptionalFunctions.def):
// their function types and constants. What the RAS library promises for them:
//
// RasConnectionNotification(hrasconn, hEvent, dwFlags): from now on, SetEvent
// (hEvent) when the connection hrasconn ends (RASCN_Disconnection) or, with
// hrasconn INVALID_HANDLE_VALUE (all bits set), when any connection is made
// (RASCN_Connection) or ends. Returns 0, ERROR_INVALID_HANDLE for a handle
// RAS does not know, ERROR_INVALID_PARAMETER for no event or no known flag. A
// registration ends with its connection; the caller owns the event and may
// close it at any time.
#pragma once

#include "Ras2/RasContract.h"

constexpr DWORD RASCN_Connection = 0x00000001;
constexpr DWORD RASCN_Disconnection = 0x00000002;
constexpr DWORD RASCN_BandwidthAdded = 0x00000004;
constexpr DWORD RASCN_BandwidthRemoved = 0x00000008;
// The connection handle that stands for every connection.
constexpr THRasConn RAS_ALL_CONNECTIONS = ~THRasConn(0);

#define RAS_OPTIONAL(F, PA, PW, ARGS) \
  typedef DWORD(WINAPI* T##F##A) PA;  \
  typedef DWORD(WINAPI* T##F##W) PW;  \
  typedef T##F##A T##F;
#include "Ras2/RasOptionalFunctions.def"
