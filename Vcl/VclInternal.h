// Private glue between the parts of the framework library (not installed,
// not seen by users of vcl30).
#pragma once

#include "Vcl/Vcl.h"

namespace vcl_internal {

// Fires every timer due at the current clock reading: all due timers are
// collected first, then run in (due, arming) order. Returns how many fired.
int FireDueTimers();

// The platform's own message box presenter.
TMessagePresenter& DefaultMessagePresenter();

// Routes the exception being handled (inside a catch block) to
// Application->HandleException; never throws.
void HandleCurrentException() noexcept;

}  // namespace vcl_internal
