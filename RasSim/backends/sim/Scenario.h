// What one dial does: the scenario of an entry, turned into a plan of dial
// events. The language is documented in RasSim/README.md ("Scenarios").
//
// Settings come, later ones winning, from: the built-in defaults of the
// device type; the process-wide delays set through the control interface; the
// entry's `Quor...` keys in the phonebook (QuorOutcome=busy); the `[*]` and
// then the `[entry name]` section of the scenario file named by
// QUOR_RAS_SCENARIO (keys without the prefix: Outcome=busy).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/backends/sim/Traffic.h"
#include "RasSim/common/IniFile.h"

namespace rassim {

using Settings = std::map<std::string, std::string>;  // key (without "Quor") -> value

// Gathers the settings of an entry (section may be null: a dial without entry).
// A mistake in them (a scenario file that is missing or corrupt, an unknown
// key, a value that does not parse) is described in `problem`, naming the
// file, the line and the key; the dial then fails with kScenarioError.
Settings GatherSettings(const IniSection* entry, const std::string& entryName, std::string* problem = nullptr);
// The error of a dial whose scenario has a mistake: ERROR_INVALID_DATA.
constexpr DWORD kScenarioError = 13;
// "" when `value` suits `key` (a key without the "Quor" prefix), else why not.
std::string CheckSetting(const std::string& key, const std::string& value);

struct DialStep {
  TRasConnState state;
  uint32_t delayMs;  // after the previous event (or the dial call)
  DWORD error;       // 0, or the failure reported with this event
};

struct DialPlan {
  DWORD failAtOnce = 0;  // RasDial itself returns this error
  std::vector<DialStep> steps;
  bool connects = false;
  uint64_t dropAfterMs = 0;  // 0: the line stays up
  bool connectionWindow = true;
  uint32_t teardownMs = 1000;
  std::string ipAddress, serverIpAddress;
  LinePlan line;  // traffic once connected, and the reason of a drop
};

struct QueuedFailure {
  TRasConnState state;  // 0xFFFFFFFF: RasDial fails at once
  DWORD error;
};

// Process-wide delays from the control interface (state -> ms; 0xFFFFFFFF = every state).
std::map<TRasConnState, uint32_t>& DelayOverrides();

// Builds the plan of attempt number `attempt` (1 = first) of an entry.
// `user`/`password` are the dial parameters, checked against RequireUser /
// RequirePassword. `queued` (may be null) forces a failure.
DialPlan BuildPlan(const Settings& settings, const std::string& deviceType, uint64_t attempt, const std::string& user,
                   std::string_view password, const QueuedFailure* queued);

// Parsing helpers, exposed for the tests of the language.
bool ParseState(const std::string& name, TRasConnState& state);
const char* StateName(TRasConnState state);
// "250", "250ms", "2s", "1.5s", "1m"; bare numbers are in `bareUnitMs`.
bool ParseDuration(const std::string& text, uint64_t bareUnitMs, uint64_t& ms);
bool ParseOutcome(const std::string& text, DWORD& error, TRasConnState& defaultState);

}  // namespace rassim
