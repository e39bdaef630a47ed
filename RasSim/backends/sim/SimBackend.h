// The backend "sim": Quor's simulated RAS service, compiled into the library.
#pragma once

#include "RasSim/backends/sim/Service.h"
#include "RasSim/edge/Backend.h"

namespace rassim {

const BackendOps& SimBackendOps();
// Ends the simulation's calls, timers and windows and frees its state; once
// only (later calls do nothing). Run when the library unloads.
void CloseSim();

}  // namespace rassim
