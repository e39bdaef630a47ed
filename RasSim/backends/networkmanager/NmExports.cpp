// What the module rasbackend_networkmanager.dll exports (chosen by
// QUOR_RAS_BACKEND=networkmanager): the table the edge loads, and what the
// backend holds, for the live suites and diagnostics.
#include "RasSim/backends/networkmanager/NmBackend.h"

extern "C" __attribute__((visibility("default"))) const rassim::BackendOps* QuorRasBackendOps() {
  return &rasnm::Ops();
}

extern "C" __attribute__((visibility("default"))) DWORD QuorRasNmInspect(rasnm::Holdings* out) {
  return out ? rasnm::Inspect(*out) : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
}
