// The line of a simulated connection once it is up: the traffic it carries
// (bytes per second each way, a burst, line errors), its speed, and why it is
// lost when the scenario drops it. The scenario keys are documented in
// RasSim/README.md ("Scenarios").
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "RasSim/edge/Backend.h"

namespace rassim {

using Settings = std::map<std::string, std::string>;  // as Scenario.h has it

struct LinePlan {
  uint64_t sendPerSec = 0, receivePerSec = 0;
  uint64_t burstBytes = 0, burstAfterMs = 0;  // received at once, that long after the call connected
  uint64_t errorsPerMin = 0;                  // CRC errors
  uint32_t bps = 0;                           // 0: the device type's speed
  DWORD lossReason = 0;                       // the error a dropped line reports; 0: none given
};

// Whether `key` is one of the line's keys; then `why` is "" when the value suits it, else why not.
bool CheckLineSetting(const std::string& key, const std::string& value, std::string& why);
// The line's figures from the settings (checked before) for a device type.
LinePlan ReadLine(const Settings& settings, const std::string& deviceType);
// The figures `connectedMs` after the call connected: every counter is the
// total modulo 2^32, as RAS's 32-bit counters wrap.
ConnStats LineStatsAt(const LinePlan& line, uint64_t connectedMs);
// The line and the clock reading at which the call connected (0: not yet) as
// one text of a fixed length for the connection's record, and back.
std::string LineText(const LinePlan& line, uint64_t connectedAt);
bool ParseLineText(const std::string& text, LinePlan& line, uint64_t& connectedAt);

}  // namespace rassim
