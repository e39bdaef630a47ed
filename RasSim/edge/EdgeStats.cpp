// RasGetConnectionStatistics: the record checked here, the figures from the
// backend, which may keep none (ERROR_CALL_NOT_IMPLEMENTED then).
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/Edge.h"
#include "RasSim/edge/Inspect.h"

namespace rassim::edge {

DWORD RasGetConnectionStatistics(const char* name, THRasConn h, LPRasStats stats) {
  inspect::Record(name, nullptr);
  if (stats == nullptr) return ERROR_INVALID_PARAMETER;
  if (stats->dwSize != sizeof(TRasStats)) return ERROR_INVALID_SIZE;
  const BackendOps& backend = Backend();
  if (backend.GetStatistics == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  ConnStats s;
  if (DWORD e = backend.GetStatistics(h, s)) return e;
  stats->dwBytesXmited = s.bytesXmited;
  stats->dwBytesRcved = s.bytesRcved;
  stats->dwFramesXmited = s.framesXmited;
  stats->dwFramesRcved = s.framesRcved;
  stats->dwCrcErr = s.crcErr;
  stats->dwTimeoutErr = s.timeoutErr;
  stats->dwAlignmentErr = s.alignmentErr;
  stats->dwHardwareOverrunErr = s.hardwareOverrunErr;
  stats->dwFramingErr = s.framingErr;
  stats->dwBufferOverrunErr = s.bufferOverrunErr;
  stats->dwCompressionRatioIn = s.compressionRatioIn;
  stats->dwCompressionRatioOut = s.compressionRatioOut;
  stats->dwBps = s.bps;
  stats->dwConnectDuration = s.connectDurationMs;
  return 0;
}

}  // namespace rassim::edge
