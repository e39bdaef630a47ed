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
//
// RasGetConnectionStatistics(hrasconn, lpStatistics): fills the RAS_STATS
// record of a connection that is up (while it is being dialled every figure
// is 0). Its dwSize must be 60 (ERROR_INVALID_SIZE otherwise); a null record
// gives ERROR_INVALID_PARAMETER, a handle RAS does not know (or no longer
// knows) ERROR_INVALID_HANDLE, a RAS service that keeps no figures
// ERROR_CALL_NOT_IMPLEMENTED. The counters are 32 bits wide and wrap.
#pragma once

#include <cstddef>

#include "Ras2/RasContract.h"

constexpr DWORD RASCN_Connection = 0x00000001;
constexpr DWORD RASCN_Disconnection = 0x00000002;
constexpr DWORD RASCN_BandwidthAdded = 0x00000004;
constexpr DWORD RASCN_BandwidthRemoved = 0x00000008;
// The connection handle that stands for every connection.
constexpr THRasConn RAS_ALL_CONNECTIONS = ~THRasConn(0);

// RAS_STATS: the same in both character sets (no texts).
struct TRasStats {
  DWORD dwSize;
  DWORD dwBytesXmited;
  DWORD dwBytesRcved;
  DWORD dwFramesXmited;
  DWORD dwFramesRcved;
  DWORD dwCrcErr;
  DWORD dwTimeoutErr;
  DWORD dwAlignmentErr;
  DWORD dwHardwareOverrunErr;
  DWORD dwFramingErr;
  DWORD dwBufferOverrunErr;
  DWORD dwCompressionRatioIn;
  DWORD dwCompressionRatioOut;
  DWORD dwBps;
  DWORD dwConnectDuration;  // milliseconds
};
typedef TRasStats* LPRasStats;
static_assert(sizeof(TRasStats) == 60, "RAS_STATS is 60 bytes");
#define RAS_FIELD(ours, theirs, field, theirField, at32, at64)  // checked with the records (RasLayout.h)
#define RAS_OPTIONAL_FIELD(ours, theirs, field, theirField, at32, at64) \
  static_assert(offsetof(ours, field) == (sizeof(void*) == 8 ? (at64) : (at32)), #ours "::" #field " layout");
#include "Ras2/RasLayoutFields.def"
#undef RAS_FIELD
#undef RAS_OPTIONAL_FIELD

#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) typedef DWORD(WINAPI* T##F) P;
#define RAS_OPTIONAL(F, PA, PW, ARGS) \
  typedef DWORD(WINAPI* T##F##A) PA;  \
  typedef DWORD(WINAPI* T##F##W) PW;  \
  typedef T##F##A T##F;
#include "Ras2/RasOptionalFunctions.def"
