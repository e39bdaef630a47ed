#include "FakeRas.h"

#include <cstring>

#include "Ras2/Ras2Optional.h"
#include "Win32/Clock.h"

namespace fakeras {
namespace {

State gState;

struct Saved {
  TRasDial Dial;
  TRasHangUp HangUp;
  TRasGetConnectStatus GetConnectStatus;
  TRasEnumConnections EnumConnections;
  TRasEnumEntries EnumEntries;
  TRasGetErrorString GetErrorString;
  TRasCreatePhonebookEntry CreatePhonebookEntry;
  TRasEditPhonebookEntry EditPhonebookEntry;
  TRasDeleteEntryA DeleteEntryA;
  TRasRenameEntryA RenameEntryA;
  TRasGetEntryDialParams GetEntryDialParams;
  TRasSetEntryDialParams SetEntryDialParams;
  TRasGetProjectionInfo GetProjectionInfo;
  TRasConnectionNotification ConnectionNotification;
} gSaved;

struct PendingPost {
  uintptr_t Window;
  THRasConn Handle;
  uint32_t State;
  uint32_t Error;
  uint32_t Id;
};
std::vector<PendingPost*> gPending;

void PostEvent(void* Context) {
  auto* p = static_cast<PendingPost*>(Context);
  PostMessageA(ToHandle<HWND>(p->Window), DialEventMessage(), p->State, p->Error);
  for (auto it = gPending.begin(); it != gPending.end(); ++it) {
    if (*it == p) {
      gPending.erase(it);
      break;
    }
  }
  delete p;
}

void CancelEvents(THRasConn Handle) {
  for (auto it = gPending.begin(); it != gPending.end();) {
    if ((*it)->Handle == Handle && QuorClockCancel((*it)->Id)) {
      delete *it;
      it = gPending.erase(it);
    } else {
      ++it;
    }
  }
}

template <size_t N>
void Put(CHAR (&Field)[N], const std::string& Text) {
  std::memset(Field, 0, N);
  std::memcpy(Field, Text.data(), Text.size() < N ? Text.size() : N - 1);
}

template <size_t N>
std::string Get(const CHAR (&Field)[N]) {
  const void* z = std::memchr(Field, 0, N);
  return std::string(Field, z ? static_cast<const CHAR*>(z) - Field : N);
}

DWORD WINAPI FakeDial(LPRasDialExtensions Ext, LPCSTR Phonebook, LPRasDialParamsA Params, DWORD NotifierType,
                      UINT_PTR Notifier, LPHRasConn Handle) {
  DialCall c;
  c.ExtensionsNull = Ext == nullptr;
  c.Phonebook = Arg::Of(Phonebook);
  c.Size = Params->dwSize;
  c.Entry = Get(Params->szEntryName);
  c.Phone = Get(Params->szPhoneNumber);
  c.Callback = Get(Params->szCallbackNumber);
  c.User = Get(Params->szUserName);
  c.Password = Get(Params->szPassword);
  c.Domain = Get(Params->szDomain);
  c.NotifierType = NotifierType;
  c.Notifier = Notifier;
  const size_t n = gState.Dials.size();
  const DWORD result = n < gState.DialResults.size() ? gState.DialResults[n] : gState.DialResult;
  const std::vector<DialEvent>& script = n < gState.Scripts.size() ? gState.Scripts[n] : gState.Script;
  THRasConn h = 0;
  if (result == 0 || gState.HandleOnFailure) h = gState.NextHandle++;
  *Handle = h;
  c.Handle = h;
  gState.Dials.push_back(c);
  if (result == 0 && gState.AutoStatus) gState.Status[h] = ConnStatus{};
  if (result == 0) {
    for (const DialEvent& e : script) {
      auto* p = new PendingPost{Notifier, h, e.State, e.Error, 0};
      gPending.push_back(p);
      p->Id = QuorClockSchedule(e.DelayMs, PostEvent, p);
    }
  }
  return result;
}

DWORD WINAPI FakeHangUp(THRasConn Handle) {
  gState.HangUps.push_back(Handle);
  CancelEvents(Handle);
  if (gState.HangUpEndsStatus && gState.TeardownMs != 0 && gState.Status.count(Handle) != 0) {
    gState.Status[Handle].State = RASCS_Disconnected;
    gState.GoneAt[Handle] = QuorClockNow() + gState.TeardownMs;
  } else if (gState.HangUpEndsStatus) {
    gState.Status.erase(Handle);
  }
  return gState.HangUpResult;
}

DWORD WINAPI FakeGetConnectStatus(THRasConn Handle, LPRasConnStatusA Status) {
  gState.StatusCalls.push_back(Handle);
  gState.StatusCallTimes.push_back(QuorClockNow());
  if (gState.StatusSleepMs != 0) QuorSleep(gState.StatusSleepMs);
  gState.StatusRecordSize = Status->dwSize;
  auto gone = gState.GoneAt.find(Handle);
  if (gone != gState.GoneAt.end() && QuorClockNow() >= gone->second) {
    gState.Status.erase(Handle);
    gState.GoneAt.erase(gone);
  }
  auto it = gState.Status.find(Handle);
  if (it == gState.Status.end()) return ERROR_INVALID_HANDLE;
  Status->rasconnstate = it->second.State;
  Status->dwError = it->second.Error;
  Put(Status->szDeviceType, it->second.DeviceType);
  Put(Status->szDeviceName, it->second.DeviceName);
  return 0;
}

DWORD WINAPI FakeGetProjectionInfo(THRasConn Handle, TRasProjection Projection, LPVOID Info, LPDWORD Size) {
  auto it = gState.Addresses.find(Handle);
  if (Projection != RASP_PppIp || *Size < sizeof(TRasPppIpA)) return ERROR_INVALID_PARAMETER;
  if (it == gState.Addresses.end()) return ERROR_INVALID_HANDLE;
  auto* ip = static_cast<TRasPppIpA*>(Info);
  Put(ip->szIpAddress, it->second);
  Put(ip->szServerIpAddress, "10.0.0.1");
  return 0;
}

DWORD WINAPI FakeConnectionNotification(THRasConn Handle, HANDLE Event, DWORD Flags) {
  (void)Handle;
  gState.NotifyEvents.push_back(Event);
  gState.NotifyFlags.push_back(Flags);
  return gState.NotifyResult;
}

DWORD WINAPI FakeEnumConnections(LPRasConnA Conns, LPDWORD Size, LPDWORD Count) {
  ++gState.EnumConnCalls;
  gState.EnumConnBufSize = *Size;
  gState.EnumConnFirstSize = Conns[0].dwSize;
  if (gState.EnumConnResult != 0) return gState.EnumConnResult;
  const size_t fit = *Size / sizeof(TRasConnA);
  if (gState.Connections.size() > fit) {
    *Size = static_cast<DWORD>(gState.Connections.size() * sizeof(TRasConnA));
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < gState.Connections.size(); ++i) {
    Conns[i].dwSize = sizeof(TRasConnA);
    Conns[i].hrasconn = gState.Connections[i].first;
    Put(Conns[i].szEntryName, gState.Connections[i].second);
    Put(Conns[i].szDeviceType, "modem");
    Put(Conns[i].szDeviceName, "Fake Modem");
  }
  *Count = gState.EnumConnCountOverride >= 0 ? static_cast<DWORD>(gState.EnumConnCountOverride)
                                             : static_cast<DWORD>(gState.Connections.size());
  return 0;
}

DWORD WINAPI FakeEnumEntries(LPCSTR Reserved, LPCSTR Phonebook, LPRasEntryNameA Entries, LPDWORD Size, LPDWORD Count) {
  ++gState.EnumEntriesCalls;
  gState.EnumEntriesReserved = Arg::Of(Reserved);
  gState.EnumEntriesPhonebook = Arg::Of(Phonebook);
  gState.EnumEntriesBufSize = *Size;
  gState.EnumEntriesFirstSize = Entries[0].dwSize;
  if (gState.EnumEntriesResult != 0) return gState.EnumEntriesResult;
  const size_t fit = *Size / sizeof(TRasEntryNameA);
  if (gState.Entries.size() > fit) {
    *Size = static_cast<DWORD>(gState.Entries.size() * sizeof(TRasEntryNameA));
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < gState.Entries.size(); ++i) {
    Entries[i].dwSize = sizeof(TRasEntryNameA);
    Put(Entries[i].szEntryName, gState.Entries[i]);
  }
  *Count = gState.EnumEntriesCountOverride >= 0 ? static_cast<DWORD>(gState.EnumEntriesCountOverride)
                                                : static_cast<DWORD>(gState.Entries.size());
  return 0;
}

DWORD WINAPI FakeGetErrorString(UINT Error, LPSTR Buffer, DWORD Size) {
  gState.ErrorStringSizes.push_back(Size);
  for (DWORD i = 0; i <= Size; ++i) {
    if (Buffer[i] != 0) gState.ErrorBufferWasZero = false;
  }
  if (gState.ErrorStringFailsLikeWine) return 1;
  auto it = gState.ErrorTexts.find(Error);
  if (it == gState.ErrorTexts.end()) return 1;
  size_t n = it->second.size() < Size ? it->second.size() : Size - 1;
  std::memcpy(Buffer, it->second.data(), n);
  Buffer[n] = 0;
  return 0;
}

DWORD WINAPI FakeCreatePhonebookEntry(HWND Window, LPCSTR Phonebook) {
  PbCall c;
  c.Op = "create";
  c.Window = HandleValue(Window);
  c.Phonebook = Arg::Of(Phonebook);
  gState.PbCalls.push_back(c);
  return gState.PbResult;
}

DWORD WINAPI FakeEditPhonebookEntry(HWND Window, LPCSTR Phonebook, LPCSTR Entry) {
  PbCall c;
  c.Op = "edit";
  c.Window = HandleValue(Window);
  c.Phonebook = Arg::Of(Phonebook);
  c.A = Arg::Of(Entry);
  gState.PbCalls.push_back(c);
  return gState.PbResult;
}

DWORD WINAPI FakeDeleteEntry(LPCSTR Phonebook, LPCSTR Entry) {
  PbCall c;
  c.Op = "delete";
  c.Phonebook = Arg::Of(Phonebook);
  c.A = Arg::Of(Entry);
  gState.PbCalls.push_back(c);
  return gState.PbResult;
}

DWORD WINAPI FakeRenameEntry(LPCSTR Phonebook, LPCSTR Old, LPCSTR New) {
  PbCall c;
  c.Op = "rename";
  c.Phonebook = Arg::Of(Phonebook);
  c.A = Arg::Of(Old);
  c.B = Arg::Of(New);
  gState.PbCalls.push_back(c);
  return gState.PbResult;
}

DWORD WINAPI FakeGetEntryDialParams(LPCSTR Phonebook, LPRasDialParamsA Params, BOOL* Password) {
  PbCall c;
  c.Op = "getparams";
  c.Phonebook = Arg::Of(Phonebook);
  c.Params = *Params;
  gState.PbCalls.push_back(c);
  if (gState.GetParamsResult != 0) return gState.GetParamsResult;
  TRasDialParams out = gState.Stored;
  std::memcpy(out.szEntryName, Params->szEntryName, sizeof(out.szEntryName));
  out.dwSize = Params->dwSize;
  *Params = out;
  *Password = gState.StoredPassword;
  return 0;
}

DWORD WINAPI FakeSetEntryDialParams(LPCSTR Phonebook, LPRasDialParamsA Params, BOOL Remove) {
  PbCall c;
  c.Op = "setparams";
  c.Phonebook = Arg::Of(Phonebook);
  c.Params = *Params;
  c.Flag = Remove;
  gState.PbCalls.push_back(c);
  return gState.PbResult;
}

}  // namespace

State& S() {
  return gState;
}

UINT DialEventMessage() {
  UINT m = RegisterWindowMessageA(RASDIALEVENT);
  return m != 0 ? m : WM_RASDIALEVENT;
}

void Install() {
  gState = State();
  gSaved = Saved{RasDial,
                 RasHangUp,
                 RasGetConnectStatus,
                 RasEnumConnections,
                 RasEnumEntries,
                 RasGetErrorString,
                 RasCreatePhonebookEntry,
                 RasEditPhonebookEntry,
                 RasDeleteEntryA,
                 RasRenameEntryA,
                 RasGetEntryDialParams,
                 RasSetEntryDialParams,
                 RasGetProjectionInfo,
                 RasConnectionNotification};
  Reapply();
}

void Reapply() {
  RasDial = FakeDial;
  RasHangUp = FakeHangUp;
  RasGetConnectStatus = FakeGetConnectStatus;
  RasEnumConnections = FakeEnumConnections;
  RasEnumEntries = FakeEnumEntries;
  RasGetErrorString = FakeGetErrorString;
  RasCreatePhonebookEntry = FakeCreatePhonebookEntry;
  RasEditPhonebookEntry = FakeEditPhonebookEntry;
  RasDeleteEntryA = FakeDeleteEntry;
  RasRenameEntryA = FakeRenameEntry;
  RasGetEntryDialParams = FakeGetEntryDialParams;
  RasSetEntryDialParams = FakeSetEntryDialParams;
  RasGetProjectionInfo = FakeGetProjectionInfo;
  RasConnectionNotification = gState.NotifyBound ? FakeConnectionNotification : nullptr;
}

void Restore() {
  for (PendingPost* p : gPending) {
    QuorClockCancel(p->Id);
    delete p;
  }
  gPending.clear();
  RasDial = gSaved.Dial;
  RasHangUp = gSaved.HangUp;
  RasGetConnectStatus = gSaved.GetConnectStatus;
  RasEnumConnections = gSaved.EnumConnections;
  RasEnumEntries = gSaved.EnumEntries;
  RasGetErrorString = gSaved.GetErrorString;
  RasCreatePhonebookEntry = gSaved.CreatePhonebookEntry;
  RasEditPhonebookEntry = gSaved.EditPhonebookEntry;
  RasDeleteEntryA = gSaved.DeleteEntryA;
  RasRenameEntryA = gSaved.RenameEntryA;
  RasGetEntryDialParams = gSaved.GetEntryDialParams;
  RasSetEntryDialParams = gSaved.SetEntryDialParams;
  RasGetProjectionInfo = gSaved.GetProjectionInfo;
  RasConnectionNotification = gSaved.ConnectionNotification;
}

}  // namespace fakeras
