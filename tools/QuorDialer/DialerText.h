// Texts of QuorDialer's status bar and log that are built from the
// component's figures; free of any window, so they build everywhere.
#pragma once

#include <cstdint>
#include <string>

#include "TQuorComponent/TQuorComponent.h"

namespace quor_dialer {

// A byte count in B, KB, MB or GB (1024 each), one decimal past B: "512 B", "19.5 KB".
std::string ByteText(uint64_t Bytes);
// The traffic part of the connected status bar: "sent 19.5 KB at 2.0 KB/s, received 48.8 KB at 4.9 KB/s";
// "" while the component has no figures.
std::string TrafficText(const TQuorStatistics& Statistics);
// The log line that follows a lost line's "Connection to server lost.":
// "Reason: RAS error 629: <RAS's text>"; "" when RAS gave no reason or the
// disconnect (OnDisconnect's text) was no loss.
std::string LossReasonText(const String& Disconnected, Integer Error, const String& Text);

}  // namespace quor_dialer
