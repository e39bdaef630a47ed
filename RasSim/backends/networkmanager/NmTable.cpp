// The backend's table of operations for the RAS library's edge, filled from
// the seam's list of operations (each defined in the file of its concern), and
// its life: Open keeps the edge's services, Close ends every call and stops
// the backend's thread.
#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm {

namespace {

DWORD Open(const rassim::EdgeServices& edge) {
  std::lock_guard<std::mutex> held(detail::B().m);
  detail::B().edge = edge;
  return 0;  // NetworkManager may start later: each call says whether it runs
}

rassim::BackendOps MakeOps() {
  rassim::BackendOps ops;
  ops.name = "networkmanager";
  ops.description = "NetworkManager's profiles and connections (libnm)";
  ops.Open = Open;
  ops.Close = detail::Shutdown;
#define QUOR_BACKEND_OP(Name, Params) ops.Name = Name;
#define QUOR_BACKEND_OPTIONAL_OP(Name, Params) ops.Name = Name;
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  return ops;
}

}  // namespace

const rassim::BackendOps& Ops() {
  static const rassim::BackendOps ops = MakeOps();
  return ops;
}

}  // namespace rasnm
