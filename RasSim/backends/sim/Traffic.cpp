// The traffic of a simulated line: its scenario keys, its counters at a
// moment of the call, and RasGetConnectionStatistics of the simulation.
#include "RasSim/backends/sim/Traffic.h"

#include <sstream>

#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Text.h"
#include "Win32/Clock.h"

namespace rassim {

namespace {

// What a lost line may give as its reason, besides an error number.
struct ReasonName {
  const char* name;
  DWORD error;
};
const ReasonName kReasons[] = {
    {"port", ERROR_PORT_DISCONNECTED},          {"lost", ERROR_DISCONNECTION},
    {"remote", ERROR_REMOTE_DISCONNECTION},     {"hardware", ERROR_HARDWARE_FAILURE},
    {"lineerrors", ERROR_TOO_MANY_LINE_ERRORS}, {"ppp", ERROR_PPP_LCP_TERMINATED},
};

// Bytes in a frame, for the frame counters.
constexpr uint64_t kFrameBytes = 1500;

bool ParseReason(const std::string& text, DWORD& error) {
  const std::string s = ToLowerAscii(Trim(text));
  for (const ReasonName& r : kReasons)
    if (s == r.name) {
      error = r.error;
      return true;
    }
  uint64_t v;
  if (ParseUInt(s, v) && v > 0 && v <= 0xFFFF) {
    error = static_cast<DWORD>(v);
    return true;
  }
  return false;
}

// "<bytes>@<duration>": that many bytes received at once, that long after the call connected.
bool ParseBurst(const std::string& text, uint64_t& bytes, uint64_t& afterMs) {
  const size_t at = text.find('@');
  if (at == std::string::npos) return false;
  return ParseUInt(Trim(text.substr(0, at)), bytes) && ParseDuration(text.substr(at + 1), 1000, afterMs);
}

uint32_t DeviceSpeed(const std::string& deviceType) {
  if (SameName(deviceType, "isdn")) return 64000;
  if (SameName(deviceType, "vpn")) return 100000000;
  return 56000;
}

uint32_t Low32(uint64_t v) {
  return static_cast<uint32_t>(v & 0xFFFFFFFFu);
}

}  // namespace

bool CheckLineSetting(const std::string& key, const std::string& value, std::string& why) {
  uint64_t v = 0, w = 0;
  DWORD e = 0;
  if (key == "SendRate" || key == "ReceiveRate" || key == "LineErrors") {
    why = ParseUInt(Trim(value), v) ? "" : "not a whole number";
  } else if (key == "Speed") {
    why = ParseUInt(Trim(value), v) && v <= 0xFFFFFFFFu ? "" : "not a speed in bits per second";
  } else if (key == "Burst") {
    why = ParseBurst(value, v, w) ? "" : "not <bytes>@<duration> (4000000@10s)";
  } else if (key == "DropReason") {
    why = ParseReason(value, e) ? "" : "not a reason (port, lost, remote, hardware, lineerrors, ppp) or a number";
  } else {
    return false;
  }
  return true;
}

LinePlan ReadLine(const Settings& settings, const std::string& deviceType) {
  LinePlan line;
  const auto get = [&](const char* key) -> const std::string* {
    auto it = settings.find(key);
    return it == settings.end() ? nullptr : &it->second;
  };
  uint64_t v;
  if (const std::string* s = get("SendRate"); s && ParseUInt(Trim(*s), v)) line.sendPerSec = v;
  if (const std::string* s = get("ReceiveRate"); s && ParseUInt(Trim(*s), v)) line.receivePerSec = v;
  if (const std::string* s = get("LineErrors"); s && ParseUInt(Trim(*s), v)) line.errorsPerMin = v;
  if (const std::string* s = get("Burst")) ParseBurst(*s, line.burstBytes, line.burstAfterMs);
  if (const std::string* s = get("DropReason")) ParseReason(*s, line.lossReason);
  line.bps = DeviceSpeed(deviceType);
  if (const std::string* s = get("Speed"); s && ParseUInt(Trim(*s), v) && v <= 0xFFFFFFFFu)
    line.bps = static_cast<uint32_t>(v);
  return line;
}

ConnStats LineStatsAt(const LinePlan& line, uint64_t connectedMs) {
  // Exact modulo 2^64 (the counters keep only the low 32 bits) however large the rate.
  const auto moved = [connectedMs](uint64_t perSec, uint64_t per) {
    return (perSec / per) * connectedMs + (perSec % per) * connectedMs / per;
  };
  const uint64_t sent = moved(line.sendPerSec, 1000);
  const uint64_t received = moved(line.receivePerSec, 1000) + (connectedMs >= line.burstAfterMs ? line.burstBytes : 0);
  ConnStats s;
  s.bytesXmited = Low32(sent);
  s.bytesRcved = Low32(received);
  s.framesXmited = Low32((sent + kFrameBytes - 1) / kFrameBytes);
  s.framesRcved = Low32((received + kFrameBytes - 1) / kFrameBytes);
  s.crcErr = Low32(moved(line.errorsPerMin, 60000));
  s.bps = line.bps;
  s.connectDurationMs = Low32(connectedMs);
  return s;
}

std::string LineText(const LinePlan& line, uint64_t connectedAt) {
  std::string at = std::to_string(connectedAt);
  at.resize(20, ' ');  // every reading of the call gives a record of the same length
  std::ostringstream s;
  s << line.sendPerSec << ' ' << line.receivePerSec << ' ' << line.burstBytes << ' ' << line.burstAfterMs << ' '
    << line.errorsPerMin << ' ' << line.bps << ' ' << line.lossReason << ' ' << at;
  return s.str();
}

bool ParseLineText(const std::string& text, LinePlan& line, uint64_t& connectedAt) {
  std::istringstream s(text);
  uint64_t bps = 0, reason = 0;
  if (!(s >> line.sendPerSec >> line.receivePerSec >> line.burstBytes >> line.burstAfterMs >> line.errorsPerMin >>
        bps >> reason >> connectedAt))
    return false;
  line.bps = static_cast<uint32_t>(bps);
  line.lossReason = static_cast<DWORD>(reason);
  return true;
}

DWORD GetStatistics(THRasConn h, ConnStats& out) {
  using namespace sim;
  Effects fx;
  bool mine = false;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      mine = true;
      EndedElsewhere(*c, fx);
      if (c->phase == Phase::Dropped || c->phase == Phase::TearingDown || Expired(*c, fx))
        result = ERROR_INVALID_HANDLE;
      else if (c->phase == Phase::Connected)
        out = LineStatsAt(c->plan.line, QuorClockNow() - c->connectedAt);
      else
        out = ConnStats{};  // still dialling, or failed and not yet hung up
    }
  }
  fx.Run();
  if (mine) return result;
  // Another process's call: its figures from its record, on this process's
  // clock (both read the same real clock).
  registry::ConnRecord r;
  if (!registry::Read(h, r) || r.hungUp || r.lostReason) return ERROR_INVALID_HANDLE;
  out = ConnStats{};
  LinePlan line;
  uint64_t connectedAt = 0;
  if (r.state != RASCS_Connected || !ParseLineText(r.line, line, connectedAt) || connectedAt == 0) return 0;
  const uint64_t now = QuorClockNow();
  out = LineStatsAt(line, now > connectedAt ? now - connectedAt : 0);
  return 0;
}

}  // namespace rassim
