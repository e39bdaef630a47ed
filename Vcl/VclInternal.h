// Private glue between the parts of the framework library (not installed,
// not seen by users of vcl30).
#pragma once

#include "Vcl/Vcl.h"

namespace vcl_internal {

// Fires every timer due at the current clock reading: all due timers are
// collected first, then run in (due, arming) order. Returns how many fired.
int FireDueTimers();

// For tests: the number the next arming of a timer gets (they run out at
// 2^32 - 1 and start again at 1 in the armed timers' order).
VCL_API void SetNextTimerSequence(uint32_t Value);

// The platform's own message box presenter.
TMessagePresenter& DefaultMessagePresenter();

// Routes the exception being handled (inside a catch block) to
// Application->HandleException; never throws.
void HandleCurrentException() noexcept;

}  // namespace vcl_internal
