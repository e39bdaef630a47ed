// `quor dial`, and the dial with its monitoring that the demo shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/quor/Cli.h"
#include "tools/quor/RasSession.h"

namespace quortool {

int RunDial(const Args& args);

// The dial with its monitoring, shared by `dial` and `demo`.
struct DialOptions {
  std::string entry;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> phone;
  std::optional<int32_t> redialAttempts;
  std::optional<uint8_t> redialPause;
  bool synchronous = false;
  // An entry that is already connected: watch that connection (else exit 1).
  bool attach = false;
  // Noted for `quor hangup` (the demo's private dial is not).
  bool reachable = false;
  // The demo ends with the loss of the line: no error message for it.
  bool lossIsTheEnd = false;
  // Progress lines start with the time of day instead of the offset.
  bool wallClock = false;
  // The component's opt-in policies (--backoff, --timeout, --persist,
  // --holdoff, --maxfail, --fast-hangup, --watch).
  std::optional<double> backoffFactor;
  uint32_t backoffMax = 0;
  uint32_t dialTimeout = 0;
  bool persist = false;
  uint32_t holdoff = 30;
  int32_t maxfail = 10;
  bool fastHangUp = false;
  bool watchEvents = false;
  uint32_t statsSeconds = 0;  // --stats: a statistics line every so many seconds while up (0: none)
};
// Reads "FACTOR[,MAX]" of --backoff: FACTOR 1 to 10 (a decimal number), MAX
// whole seconds (0: no ceiling). Throws UsageError.
void ParseBackoff(const std::string& text, double& factor, uint32_t& max);
int DialAndMonitor(RasSession& session, const DialOptions& options);

}  // namespace quortool
