// TQuor: the traffic statistics of the current connection and why a line
// was lost. Off by default: without a statistics interval the component
// makes no call here of its own.
#include <cstring>

#include "Ras2/Ras2Optional.h"
#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"
#include "Win32/Clock.h"

using namespace tquor_detail;

TQuorStatistics TQuor::Statistics() {
  if (!RasInitialized || hRas == 0 || !fConnected || RasGetConnectionStatistics == nullptr) return TQuorStatistics{};
  TRasStats raw;
  std::memset(&raw, 0, sizeof(raw));
  raw.dwSize = sizeof(raw);
  if (RasGetConnectionStatistics(hRas, &raw) != 0) return TQuorStatistics{};

  // A new connection starts its totals afresh.
  if (fStats.Handle != hRas || fStats.Since != fConnectedAt) {
    fStats = TStatsTrack{};
    fStats.Handle = hRas;
    fStats.Since = fConnectedAt;
    fStats.LastEventAt = fConnectedAt;
  }
  const DWORD errors = raw.dwCrcErr + raw.dwTimeoutErr + raw.dwAlignmentErr + raw.dwHardwareOverrunErr +
                       raw.dwFramingErr + raw.dwBufferOverrunErr;
  const DWORD now[6] = {raw.dwBytesXmited, raw.dwBytesRcved, raw.dwFramesXmited,
                        raw.dwFramesRcved, errors,           raw.dwConnectDuration};
  uint64_t* totals[6] = {&fStats.Totals.BytesSent,      &fStats.Totals.BytesReceived, &fStats.Totals.FramesSent,
                         &fStats.Totals.FramesReceived, &fStats.Totals.Errors,        &fStats.Totals.DurationMs};
  uint64_t moved[6] = {};
  for (int i = 0; i < 6; ++i) {
    // The first reading is the count since the connection came up; later
    // ones add what the counter moved, modulo 2^32, so a wrap is no loss.
    moved[i] = fStats.Have ? static_cast<DWORD>(now[i] - fStats.Raw[i]) : now[i];
    *totals[i] += moved[i];
    fStats.Raw[i] = now[i];
  }
  const uint64_t at = QuorClockNow();
  const uint64_t since = fStats.Have ? fStats.ReadAt : fConnectedAt;
  if (at > since) {
    // Two readings in the same millisecond keep the rates they had.
    const double seconds = static_cast<double>(at - since) / 1000.0;
    fStats.Totals.SendRate = static_cast<double>(moved[0]) / seconds;
    fStats.Totals.ReceiveRate = static_cast<double>(moved[1]) / seconds;
    fStats.ReadAt = at;
  } else if (!fStats.Have) {
    fStats.ReadAt = at;
  }
  fStats.Have = true;
  fStats.Totals.Bps = raw.dwBps;
  fStats.Totals.Valid = true;
  return fStats.Totals;
}

Boolean TQuor::StatisticsTick() {
  const TQuorStatistics s = Statistics();
  if (!fOnStatistics || !s.Valid || QuorClockNow() - fStats.LastEventAt < fStatisticsInterval) return true;
  fStats.LastEventAt = QuorClockNow();
  const TCallGuard guard(fMark);
  const TQuorStatisticsEvent handler = fOnStatistics;  // the handler may free the component
  handler(s);
  return guard.Ours();
}

String TQuor::LastLossText() const {
  return fLastLossReason == 0 ? String() : RasErrorText(fLastLossReason);
}
