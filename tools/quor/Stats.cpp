#include "tools/quor/Stats.h"

#include <cstring>

#include "Ras2/Ras2Optional.h"

namespace quortool {

LineFigures ReadLineFigures(uint32_t handle) {
  LineFigures f;
  if (RasGetConnectionStatistics == nullptr) return f;
  TRasStats s;
  std::memset(&s, 0, sizeof s);
  s.dwSize = sizeof s;
  if (RasGetConnectionStatistics(handle, &s) != 0) return f;
  f.valid = true;
  f.sent = s.dwBytesXmited;
  f.received = s.dwBytesRcved;
  f.durationMs = s.dwConnectDuration;
  if (f.durationMs > 0) {
    f.sendRate = f.sent * 1000 / f.durationMs;
    f.receiveRate = f.received * 1000 / f.durationMs;
  }
  return f;
}

void AddLineFigures(JsonObject& o, const LineFigures& f) {
  if (!f.valid) {
    o.AddNull("bytes_sent").AddNull("bytes_received").AddNull("send_rate").AddNull("receive_rate").AddNull("line_ms");
    return;
  }
  o.Add("bytes_sent", static_cast<int64_t>(f.sent)).Add("bytes_received", static_cast<int64_t>(f.received));
  o.Add("send_rate", static_cast<int64_t>(f.sendRate)).Add("receive_rate", static_cast<int64_t>(f.receiveRate));
  o.Add("line_ms", static_cast<int64_t>(f.durationMs));
}

std::string LineFiguresText(const LineFigures& f) {
  if (!f.valid) return "-";
  return std::to_string(f.sent) + " bytes sent, " + std::to_string(f.received) + " bytes received (" +
         std::to_string(f.sendRate) + " B/s, " + std::to_string(f.receiveRate) + " B/s)";
}

}  // namespace quortool
