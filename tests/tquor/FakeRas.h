// A purpose-built RAS for the component's tests: test functions assigned to
// the Ras2 entry-point variables the component calls. It records every
// argument and produces the cases the simulated service cannot (a
// RasGetErrorString that fails like Wine's, duplicates, counts beyond the
// buffer, scripted dial events at exact virtual times).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "Ras2/Ras2.h"

namespace fakeras {

template <typename H>
uintptr_t HandleValue(H Handle) {
  if constexpr (std::is_pointer_v<H>) {
    return reinterpret_cast<uintptr_t>(Handle);
  } else {
    return static_cast<uintptr_t>(Handle);
  }
}

template <typename H>
H ToHandle(uintptr_t Value) {
  if constexpr (std::is_pointer_v<H>) {
    return reinterpret_cast<H>(Value);
  } else {
    return static_cast<H>(Value);
  }
}

// A text argument as RAS saw it: null, or the text.
struct Arg {
  bool Null = true;
  std::string Text;
  static Arg Of(const char* P) { return P ? Arg{false, P} : Arg{}; }
};

struct DialCall {
  bool ExtensionsNull = false;
  Arg Phonebook;
  DWORD Size = 0;
  std::string Entry, Phone, Callback, User, Password, Domain;
  DWORD NotifierType = 0;
  UINT_PTR Notifier = 0;
  THRasConn Handle = 0;  // what was stored into the caller's handle
};

// One dial event, posted this long after the dial call (virtual ms).
struct DialEvent {
  uint32_t DelayMs;
  uint32_t State;
  uint32_t Error;
};

struct ConnStatus {
  TRasConnState State = RASCS_Connected;
  DWORD Error = 0;
  std::string DeviceType = "modem";
  std::string DeviceName = "Fake Modem";
};

// A call of one of the phonebook functions.
struct PbCall {
  std::string Op;
  uintptr_t Window = 0;
  Arg Phonebook;
  Arg A, B;
  // RasGetEntryDialParams / RasSetEntryDialParams
  TRasDialParams Params{};
  BOOL Flag = 0;
};

struct State {
  // RasDial
  DWORD DialResult = 0;
  bool HandleOnFailure = false;                 // store a handle even when the dial fails
  std::vector<DialEvent> Script;                // posted after every dial that returned 0
  std::vector<std::vector<DialEvent>> Scripts;  // the n-th dial's own, instead (while there are)
  std::vector<DWORD> DialResults;               // the n-th dial's result, instead of DialResult
  bool AutoStatus = false;                      // a dial that returned 0 has a status (Connected) at once
  THRasConn NextHandle = 0x101;
  std::vector<DialCall> Dials;
  // RasHangUp
  DWORD HangUpResult = 0;
  std::vector<THRasConn> HangUps;
  bool HangUpEndsStatus = true;  // a hung-up handle no longer has a status
  uint32_t TeardownMs = 0;       // ... only this long after the hang-up (reads Disconnected till then)
  std::map<THRasConn, uint64_t> GoneAt;
  // RasGetConnectStatus: handles with a status; others give 6 (invalid handle)
  std::map<THRasConn, ConnStatus> Status;
  std::vector<THRasConn> StatusCalls;
  std::vector<uint64_t> StatusCallTimes;  // clock reading at each call
  uint32_t StatusSleepMs = 0;             // each call takes this long (a slow RAS)
  DWORD StatusRecordSize = 0;
  // RasGetProjectionInfo (IP): handles with an address; others give 6
  std::map<THRasConn, std::string> Addresses;
  // RasConnectionNotification (bound only when NotifyBound)
  bool NotifyBound = true;
  DWORD NotifyResult = 0;
  std::vector<HANDLE> NotifyEvents;  // every event registered, in order
  std::vector<DWORD> NotifyFlags;
  // RasEnumConnections
  DWORD EnumConnResult = 0;
  std::vector<std::pair<THRasConn, std::string>> Connections;
  int EnumConnCountOverride = -1;  // report this count instead (a lying RAS)
  DWORD EnumConnBufSize = 0;
  DWORD EnumConnFirstSize = 0;
  int EnumConnCalls = 0;
  // RasEnumEntries
  DWORD EnumEntriesResult = 0;
  std::vector<std::string> Entries;
  int EnumEntriesCountOverride = -1;
  int EnumEntriesCalls = 0;
  Arg EnumEntriesReserved, EnumEntriesPhonebook;
  DWORD EnumEntriesBufSize = 0;
  DWORD EnumEntriesFirstSize = 0;
  // RasGetErrorString
  std::map<UINT, std::string> ErrorTexts;  // unknown numbers: returns 1, buffer left
  bool ErrorStringFailsLikeWine = false;   // returns 1 and leaves the buffer, always
  std::vector<DWORD> ErrorStringSizes;
  bool ErrorBufferWasZero = true;  // every call found a zeroed buffer
  // Phonebook functions
  DWORD PbResult = 0;
  std::vector<PbCall> PbCalls;
  TRasDialParams Stored{};  // what RasGetEntryDialParams returns
  BOOL StoredPassword = TRUE;
  DWORD GetParamsResult = 0;
};

State& S();

// Replaces the fourteen entry points the component calls with the fakes
// (keeping the previous values) and resets the recorded state.
void Install();
// Puts the fakes in place again after another component's InitRas bound
// the library's entry points (the recorded state is kept).
void Reapply();
// Puts the previous entry points back.
void Restore();
// The dial-event message number RAS uses.
UINT DialEventMessage();

}  // namespace fakeras
