// TQuor: hang-up, the watch of an established connection, the search for
// the system's connection window, and the list of active connections.
#include <cstring>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"

using namespace tquor_detail;

namespace {

// Room for 100 connection records, of which RAS is told about 25 (10300
// bytes on Win32, 10400 with the Win64 records); only records inside the
// announced size are ever read back.
constexpr int kConnRecords = 100;
constexpr DWORD kConnAnnounced = 25;
constexpr DWORD kConnBufSize = kConnAnnounced * static_cast<DWORD>(sizeof(TRasConn));
static_assert(kConnBufSize == (RAS_WIDE_HANDLES ? 10400 : 10300), "the announced buffer holds 25 records");

// One enumeration of the active connections: into Entries while they fit
// the announced 25 records, else into More, sized as RAS asked. Returns
// false when the entry point is missing or RAS refuses; otherwise Records
// points at the records and Count holds the number to read, never more than
// the buffer holds (whatever RAS claims).
bool EnumerateConnections(TRasConn (&Entries)[kConnRecords], std::vector<TRasConn>& More, TRasConn*& Records,
                          DWORD& Count) {
  if (RasEnumConnections == nullptr) return false;
  std::memset(Entries, 0, sizeof(Entries));
  Entries[0].dwSize = sizeof(TRasConn);
  DWORD bufsize = kConnBufSize;
  DWORD capacity = kConnAnnounced;
  Records = Entries;
  Count = 0;
  DWORD r = RasEnumConnections(Entries, &bufsize, &Count);
  // More connections than 25 are still connections: ask again with the
  // size RAS said it needs (a few times, should calls start meanwhile).
  for (int again = 0; again < 3 && r == ERROR_BUFFER_TOO_SMALL && bufsize > capacity * sizeof(TRasConn); ++again) {
    capacity = static_cast<DWORD>(bufsize / sizeof(TRasConn) + 1);
    More.assign(capacity, TRasConn{});
    More[0].dwSize = sizeof(TRasConn);
    bufsize = capacity * static_cast<DWORD>(sizeof(TRasConn));
    Records = More.data();
    Count = 0;
    r = RasEnumConnections(Records, &bufsize, &Count);
  }
  if (r != 0) return false;
  if (Count > capacity) Count = capacity;
  return true;
}

}  // namespace

Integer TQuor::Disconnect() {
  // Whatever the policies would still do ends here, and so does whatever
  // an operation that raised the event this may be called from was doing.
  ++fMark->Call;
  tmrReconnect->SetEnabled(false);
  fReconnecting = false;
  return HangUp();
}

Integer TQuor::HangUp() {
  tmrCheckStatus->SetEnabled(false);
  if (!RasInitialized) return 0;
  tmrDialTimeout->SetEnabled(false);
  StopLossWatch();
  fConnected = false;

  // The hang-up must go on whatever the application's handler throws; but
  // a handler that hung up itself, dialled again or freed the component has
  // ended this call already (a new dial must not be hung up here).
  const TCallGuard guard(fMark);
  try {
    Notify(0, "Disconnecting...");
  } catch (...) {
  }
  if (!guard.Ours()) return 0;

  Integer result = 0;
  if (hRas != 0) {
    if (RasHangUp != nullptr) {
      result = static_cast<Integer>(RasHangUp(hRas));
      // Give RAS time to finish the hang-up before the port is used again.
      if (fFastHangUp) {
        WaitForHangUp(hRas);
      } else {
        Sleep(2000);
      }
    } else {
      // Nothing could be hung up: say so rather than report success.
      result = static_cast<Integer>(ERROR_PROC_NOT_FOUND);
    }
  }
  hRas = 0;

  if (fWindowHandle != 0) {
    DeallocateHWnd(fWindowHandle);
    fWindowHandle = 0;
  }
  tmrRedial->SetEnabled(false);
  return result;
}

void TQuor::tmrCheckStatusTimer(TObject* /*Sender*/) {
  // Re-armed only at the end, so ticks never overlap.
  tmrCheckStatus->SetEnabled(false);
  if (!RasInitialized || hRas == 0) return;
  // Without the entry point the connection cannot be watched; that is no
  // evidence that it was lost, so the watch just ends.
  if (RasGetConnectStatus == nullptr) return;

  TRasConnStatus status;
  std::memset(&status, 0, sizeof(status));
  status.dwSize = sizeof(TRasConnStatus);
  const DWORD r = RasGetConnectStatus(hRas, &status);
  ConnectState = static_cast<Word>(status.rasconnstate & 0xFFFFu);
  if (ConnectState == 0) {
    // RAS left the record unfilled: the handle is no longer valid.
    ConnectionLost(r);
    return;
  }
  fRasState = status.rasconnstate;
  if (fStatisticsInterval != 0 && !StatisticsTick()) return;
  tmrCheckStatus->SetEnabled(true);
}

void TQuor::tmrLookForWindowTimer(TObject* /*Sender*/) {
  tmrLookForWindow->SetEnabled(false);
  const String title = "Connected to " + fEntryName;
  HWND found = FindWindowA(nullptr, title.c_str());
  if (found != 0) {
    ShowWindow(found, SW_MINIMIZE);
    return;
  }
  tmrLookForWindow->SetEnabled(true);
}

Integer TQuor::GetConnectStatus() {
  if (!RasInitialized || hRas == 0) return 0;
  if (RasGetConnectStatus == nullptr) return 0;

  TRasConnStatus status;
  std::memset(&status, 0, sizeof(status));
  status.dwSize = sizeof(TRasConnStatus);
  if (RasGetConnectStatus(hRas, &status) == 0) {
    fDeviceName = GetField(status.szDeviceName);
    DeviceName = fDeviceName;
    fDeviceType = GetField(status.szDeviceType);
    DeviceType = fDeviceType;
    fRasState = status.rasconnstate;
  }
  ConnectState = static_cast<Word>(status.rasconnstate & 0xFFFFu);
  return static_cast<Integer>(status.dwError);
}

Boolean TQuor::EnumConnections() {
  if (!RasInitialized) return false;
  TRasConn entries[kConnRecords];
  std::vector<TRasConn> more;
  TRasConn* records = nullptr;
  DWORD count = 0;
  if (!EnumerateConnections(entries, more, records, count)) return false;
  // The list shows the connections active now: with none, it is emptied
  // rather than left holding names of connections that have ended.
  Connections->Clear();
  for (DWORD i = 0; i < count; ++i) Connections->Add(GetField(records[i].szEntryName));
  return true;
}

THRasConn TQuor::GetHandleByName(const String& EntryName) {
  if (!RasInitialized) return 0;
  TRasConn entries[kConnRecords];
  std::vector<TRasConn> more;
  TRasConn* records = nullptr;
  DWORD count = 0;
  if (!EnumerateConnections(entries, more, records, count) || count == 0) return 0;
  const String wanted = LowerCase(EntryName);
  for (DWORD i = 0; i < count; ++i) {
    if (LowerCase(GetField(records[i].szEntryName)) == wanted) return records[i].hrasconn;
  }
  return 0;
}
