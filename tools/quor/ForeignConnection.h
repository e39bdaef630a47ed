// Acting on a connection this process did not dial.
//
// TQuor hangs up and inspects only the connection it dialled itself (its own
// handle). `quor hangup` and `quor status` act on connections of the whole
// machine, dialled by other processes, and TQuor's public interface offers
// no way to hang up or read the status of a handle it merely found with
// GetHandleByName. These two functions are the tool's only direct RAS calls:
// they use the Ras2 entry-point variables that a live TQuor has bound (its
// constructor runs InitRas), on a handle that TQuor::GetHandleByName returned.
// Everything else in the tool goes through TQuor.
#pragma once

#include <cstdint>
#include <string>

namespace quortool {

// What RAS reports about one connection.
struct ForeignStatus {
  uint32_t result = 0;  // RasGetConnectStatus's code; 0 when the rest is valid
  uint32_t state = 0;   // TRasConnState
  uint32_t error = 0;
  std::string deviceType;
  std::string deviceName;
};

// RasHangUp on a foreign handle. Returns RAS's code, or
// ERROR_PROC_NOT_FOUND when the loaded RAS library lacks RasHangUp.
// Precondition: a TQuor with RasInitialized exists (RAS is bound).
uint32_t HangUpForeignConnection(uint64_t handle);

// RasGetConnectStatus on a foreign handle; result ERROR_PROC_NOT_FOUND when
// the loaded RAS library lacks it.
ForeignStatus ReadForeignStatus(uint64_t handle);

// Name of a connection state ("RASCS_Connected"), or "" for a number RAS does not define.
std::string StateName(uint32_t state);

}  // namespace quortool
