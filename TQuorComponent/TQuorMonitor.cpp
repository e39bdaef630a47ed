// TQuor: hang-up, the watch of an established connection, the search for
// the system's connection window, and the list of active connections.
#include <cstring>

#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"

using namespace tquor_detail;

namespace {

// Room for 100 connection records, of which RAS is told about 25 (10300
// bytes); only records inside the announced size are ever read back.
constexpr int kConnRecords = 100;
constexpr DWORD kConnBufSize = 10300;
constexpr DWORD kConnAnnounced = kConnBufSize / sizeof(TRasConn);
static_assert(kConnAnnounced == 25, "the announced buffer holds 25 records");

// One enumeration of the active connections into Entries. Returns false when
// the entry point is missing or RAS refuses; otherwise Count holds the
// number of records to read, never more than the announced buffer holds
// (whatever RAS claims).
bool EnumerateConnections(TRasConn (&Entries)[kConnRecords], DWORD& Count) {
  if (RasEnumConnections == nullptr) return false;
  std::memset(Entries, 0, sizeof(Entries));
  Entries[0].dwSize = sizeof(TRasConn);
  DWORD bufsize = kConnBufSize;
  Count = 0;
  if (RasEnumConnections(Entries, &bufsize, &Count) != 0) return false;
  if (Count > kConnAnnounced) Count = kConnAnnounced;
  return true;
}

}  // namespace

Integer TQuor::Disconnect() {
  tmrCheckStatus->SetEnabled(false);
  if (!RasInitialized) return 0;

  // The hang-up must go on whatever the application's handler does.
  try {
    Notify(0, "Disconnecting...");
  } catch (...) {
  }

  Integer result = 0;
  if (hRas != 0) {
    if (RasHangUp != nullptr) {
      result = static_cast<Integer>(RasHangUp(hRas));
      // Give RAS time to finish the hang-up before the port is used again.
      Sleep(2000);
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
  RasGetConnectStatus(hRas, &status);
  ConnectState = static_cast<Word>(status.rasconnstate & 0xFFFFu);
  if (ConnectState == 0) {
    // RAS left the record unfilled: the handle is no longer valid.
    Disconnect();
    NotifyDisconnect(0, "Connection to server lost.");
    return;
  }
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
  }
  ConnectState = static_cast<Word>(status.rasconnstate & 0xFFFFu);
  return static_cast<Integer>(status.dwError);
}

Boolean TQuor::EnumConnections() {
  if (!RasInitialized) return false;
  TRasConn entries[kConnRecords];
  DWORD count = 0;
  if (!EnumerateConnections(entries, count)) return false;
  // The list shows the connections active now: with none, it is emptied
  // rather than left holding names of connections that have ended.
  Connections->Clear();
  for (DWORD i = 0; i < count; ++i) Connections->Add(GetField(entries[i].szEntryName));
  return true;
}

Integer TQuor::GetHandleByName(const String& EntryName) {
  if (!RasInitialized) return 0;
  TRasConn entries[kConnRecords];
  DWORD count = 0;
  if (!EnumerateConnections(entries, count) || count == 0) return 0;
  const String wanted = LowerCase(EntryName);
  for (DWORD i = 0; i < count; ++i) {
    if (LowerCase(GetField(entries[i].szEntryName)) == wanted) return static_cast<Integer>(entries[i].hrasconn);
  }
  return 0;
}
