#include "RasSim/backends/sim/SimBackend.h"

#include <atomic>

namespace rassim {

namespace {

std::atomic<bool> g_closed{false};

BackendOps MakeOps() {
  BackendOps ops;
  ops.name = "sim";
  ops.description = "simulated RAS service: phonebook files, scenarios, dialling on Quor's clock";
  ops.Open = Open;
  ops.Close = CloseSim;
#define QUOR_BACKEND_OP(Name, Params) ops.Name = Name;
#define QUOR_BACKEND_OPTIONAL_OP QUOR_BACKEND_OP
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  static const BackendControl control{Reset, DropConnection, QueueFailure, SetStepDelay, ConnectionWindow, CloseSim};
  ops.control = &control;
  return ops;
}

}  // namespace

const BackendOps& SimBackendOps() {
  static const BackendOps ops = MakeOps();
  return ops;
}

void CloseSim() {
  if (g_closed.exchange(true)) return;
  Shutdown();
  FreeState();
}

}  // namespace rassim
