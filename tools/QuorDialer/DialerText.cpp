// Texts of QuorDialer's status bar and log built from the component's
// figures: traffic and the reason of a lost line.
#include "DialerText.h"

#include <cstdio>

namespace quor_dialer {

std::string ByteText(uint64_t Bytes) {
  if (Bytes < 1024) return std::to_string(Bytes) + " B";
  static const char* const kUnits[] = {"KB", "MB", "GB"};
  double v = static_cast<double>(Bytes) / 1024;
  int unit = 0;
  while (v >= 1024 && unit < 2) {
    v /= 1024;
    ++unit;
  }
  char s[32];
  std::snprintf(s, sizeof s, "%.1f %s", v, kUnits[unit]);
  return s;
}

std::string TrafficText(const TQuorStatistics& S) {
  if (!S.Valid) return std::string();
  const auto rate = [](double R) { return ByteText(R > 0 ? static_cast<uint64_t>(R + 0.5) : 0) + "/s"; };
  return "sent " + ByteText(S.BytesSent) + " at " + rate(S.SendRate) + ", received " + ByteText(S.BytesReceived) +
         " at " + rate(S.ReceiveRate);
}

std::string LossReasonText(const String& Disconnected, Integer Error, const String& Text) {
  // The component keeps the last loss's reason: only a loss reports it.
  if (Disconnected != "Connection to server lost." || Error == 0) return std::string();
  return "Reason: RAS error " + std::to_string(Error) + (Text.empty() ? std::string() : ": " + Text);
}

}  // namespace quor_dialer
