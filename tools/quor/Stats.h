// The traffic of a connection as quor shows it: one reading of RAS's
// statistics (RasGetConnectionStatistics, when the RAS library has it).
#pragma once

#include <cstdint>
#include <string>

#include "TQuorComponent/TQuorComponent.h"
#include "tools/quor/Json.h"
#include "tools/quor/Output.h"

namespace quortool {

struct LineFigures {
  bool valid = false;  // RAS gave figures
  uint64_t sent = 0, received = 0;
  uint64_t sendRate = 0, receiveRate = 0;  // bytes per second, on average since the line came up
  uint64_t durationMs = 0;
};

// The figures of any process's connection; not valid when RAS gives none.
LineFigures ReadLineFigures(uint64_t handle);
// bytes_sent, bytes_received, send_rate, receive_rate, line_ms (null when not valid).
void AddLineFigures(JsonObject& o, const LineFigures& f);
// "12 bytes sent, 34 bytes received (1 B/s, 3 B/s)", or "-".
std::string LineFiguresText(const LineFigures& f);

// `quor dial --stats N`: a statistics line every N seconds while the line is
// up, raised by the component's statistics timer. seconds 0 leaves it off.
void PrintStatisticsEvery(TQuor& quor, Output& out, uint32_t seconds);
// "sent 1000 bytes (1000 B/s), received 2000 bytes (2000 B/s), up 00:00:01".
std::string StatisticsLine(const TQuorStatistics& s);

}  // namespace quortool
