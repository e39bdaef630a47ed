// What the module rasbackend_networkmanager-brief.dll exports (chosen by
// QUOR_RAS_BACKEND=networkmanager-brief): the table the edge loads.
#include "RasSim/backends/networkmanager/NmBrief.h"

extern "C" __attribute__((visibility("default"))) const rassim::BackendOps* QuorRasBackendOps() {
  return &rasnm::brief::Ops();
}
