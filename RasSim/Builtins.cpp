// The backends compiled into rasapi32.dll: the library is the edge plus these.
#include "RasSim/backends/sim/SimBackend.h"
#include "RasSim/edge/Backend.h"

namespace rassim {

const BuiltinBackend* BuiltinBackends(size_t& count) {
  static const BuiltinBackend builtins[] = {{"sim", SimBackendOps}};
  count = sizeof builtins / sizeof builtins[0];
  return builtins;
}

}  // namespace rassim
