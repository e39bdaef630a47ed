#include "tools/quor/Stats.h"

#include <cstdio>
#include <cstring>

#include "Ras2/Ras2Optional.h"

namespace quortool {

LineFigures ReadLineFigures(uint64_t handle) {
  LineFigures f;
  if (RasGetConnectionStatistics == nullptr) return f;
  TRasStats s;
  std::memset(&s, 0, sizeof s);
  s.dwSize = sizeof s;
  if (RasGetConnectionStatistics(static_cast<THRasConn>(handle), &s) != 0) return f;
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

std::string StatisticsLine(const TQuorStatistics& s) {
  const uint64_t secs = s.DurationMs / 1000;
  char up[32];
  std::snprintf(up, sizeof up, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(secs / 3600),
                static_cast<unsigned long long>(secs / 60 % 60), static_cast<unsigned long long>(secs % 60));
  return "sent " + std::to_string(s.BytesSent) + " bytes (" + std::to_string(static_cast<uint64_t>(s.SendRate)) +
         " B/s), received " + std::to_string(s.BytesReceived) + " bytes (" +
         std::to_string(static_cast<uint64_t>(s.ReceiveRate)) + " B/s), up " + up;
}

void PrintStatisticsEvery(TQuor& quor, Output& out, uint32_t seconds) {
  if (seconds == 0) return;
  quor.SetStatisticsInterval(static_cast<Cardinal>(seconds) * 1000);
  quor.SetOnStatistics([&out](const TQuorStatistics& s) {
    if (!s.Valid) return;
    if (!out.Json()) {
      out.Line(StatisticsLine(s));
      return;
    }
    JsonObject o;
    o.Add("event", "statistics").Add("bytes_sent", static_cast<int64_t>(s.BytesSent));
    o.Add("bytes_received", static_cast<int64_t>(s.BytesReceived));
    o.Add("send_rate", static_cast<int64_t>(s.SendRate)).Add("receive_rate", static_cast<int64_t>(s.ReceiveRate));
    o.Add("line_ms", static_cast<int64_t>(s.DurationMs));
    out.Object(o);
  });
}

}  // namespace quortool
