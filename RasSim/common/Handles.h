// What the connections of every backend share: the tag of their handles, and
// how long a lost line's reason is still told to other processes.
#pragma once

#include <cstdint>

#include "Ras2/RasContract.h"

namespace rassim {

// On 64-bit targets every handle carries this tag in its upper half, so a
// holder that cuts a handle to 32 bits loses its connection at once instead
// of by luck. 0 on 32-bit targets.
constexpr THRasConn kHandleUpperTag = sizeof(THRasConn) == 8 ? static_cast<THRasConn>(uint64_t{0x5152} << 32) : 0;

// A line lost for a reason tells it, to any process asking about its handle,
// this long after the loss.
constexpr uint64_t kLostReasonKeptSeconds = 10;

}  // namespace rassim
