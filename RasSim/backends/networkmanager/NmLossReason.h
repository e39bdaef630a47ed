// Why an established line was lost, as RAS says it: NetworkManager's reason
// for a device that left the activated state, as a RAS error number. A pure
// table (RasSim/README.md lists it), apart from the reasons of a dial that
// failed (NmMap.h).
#pragma once

#include <cstdint>

#include "Ras2/RasContract.h"

namespace rasnm {

// NMDeviceStateReason of a device leaving NM_DEVICE_STATE_ACTIVATED ->
// the RAS error for the loss; ERROR_DISCONNECTION for a reason not listed.
DWORD LossReasonError(uint32_t deviceReason);

// Another process's active connection went away: NMActiveConnectionStateReason
// and the reason its device left the activated state for (0 when not seen)
// -> the RAS error of the loss; 0 when it was hung up (by its owner, nmcli,
// the device let go or the profile's removal) or nothing says it was lost.
DWORD ForeignLossError(uint32_t activeReason, uint32_t deviceReason);

}  // namespace rasnm
