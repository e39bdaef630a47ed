// The simulation's shared state and the helpers its files share: the calls,
// their timers and windows, and the phonebook entry helpers. Private to
// backends/sim/.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "RasSim/backends/sim/Scenario.h"
#include "RasSim/backends/sim/Service.h"
#include "RasSim/common/Registry.h"

namespace rassim::sim {

// Private messages of the per-call helper window, which lives on the thread
// that called RasDial so that the connection window is created there.
constexpr UINT kMsgCreateConnWindow = WM_USER + 0x351;  // wParam: handle
constexpr UINT kMsgEndWindows = WM_USER + 0x352;        // lParam: connection window (or 0)

enum class Phase { Dialling, Connected, Failed, TearingDown, Dropped };
enum TimerKind { kStep, kDrop, kTeardownEnd };

struct Call {
  THRasConn handle = 0;
  std::string entry, phonebook, deviceType, deviceName;
  std::string title;  // of the connection window
  DialPlan plan;
  size_t next = 0;  // next step of the plan
  TRasConnState state = RASCS_OpenPort;
  DWORD error = 0;
  Phase phase = Phase::Dialling;
  bool async = false;
  DialNotifier notifier;
  DWORD ownerThread = 0;
  HWND helper = 0, connWindow = 0;
  uint64_t teardownEnds = 0;
  uint64_t connectedAt = 0;    // clock reading when the call connected
  std::set<uintptr_t> timers;  // keys of pending clock callbacks
};

struct Timer {
  THRasConn handle;
  TimerKind kind;
  uint32_t id;  // 0 until QuorClockSchedule returned
};

// Everything below is guarded by S().mutex. The clock, windows and message
// posting are never called while it is held: work for them is gathered in
// Effects and done after unlocking.
struct State {
  std::mutex mutex;
  std::map<THRasConn, std::unique_ptr<Call>> calls;
  std::map<uintptr_t, Timer> timers;
  uintptr_t nextTimerKey = 0;
  std::map<std::string, std::vector<QueuedFailure>> queued;  // folded entry name -> failures
  std::once_flag classesOnce;
  std::string helperClass, connClass;  // window classes, registered once
  std::set<HWND> windows;              // every window of those classes that still exists
};

// Created on first use and freed by Shutdown when the module unloads (after
// every timer has been cancelled and every window destroyed), so unloading
// the library leaves nothing behind. Not a static object: its destruction
// must not depend on the order of static destructors at process exit.
extern State* g_state;
// The edge's services, kept by Open.
extern EdgeServices g_edge;
State& S();

struct Post {
  HWND wnd;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
};

struct DialEvent {
  DialNotifier to;
  TRasConnState state;
  DWORD error;
  THRasConn call;  // 0: the event of a dial that joined a connection
};

struct Effects {
  std::vector<std::pair<THRasConn, std::pair<TimerKind, uint32_t>>> schedules;
  std::vector<uint32_t> cancels;
  std::vector<Post> posts;
  std::vector<DialEvent> events;
  std::vector<HWND> destroys;
  std::vector<THRasConn> createWindows;
  std::vector<THRasConn> made, ended;  // told to the edge (connection notifications)
  void Run();
};

// Window handles are 32-bit values carried in DWORD and LPARAM; on Windows HWND is a pointer type.
template <class H>
H HandleFrom(uintptr_t v) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<H>(v);
  else
    return static_cast<H>(v);
}
template <class H>
uintptr_t HandleValue(H h) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<uintptr_t>(h);
  else
    return static_cast<uintptr_t>(h);
}

// ---- the dial engine (Engine.cpp)
Call* FindCall(THRasConn h);
void DropTimers(Call& c, Effects& fx);
// Ends the call's windows: at once on the owner thread, else through the helper.
void EndWindows(Call& c, Effects& fx);
registry::ConnRecord RecordOf(const Call& c);
// Takes the next step of a dial: new state, registry record, dial event.
void AdvanceStep(Call& c, Effects& fx);
void BeginTeardown(Call& c, Effects& fx);
void FinishTeardown(THRasConn h, Effects& fx);
// Hung up by another process (or its record removed)? Then this call ends.
bool EndedElsewhere(Call& c, Effects& fx);
// A teardown whose time is over ends the call (also when its clock callback is late).
bool Expired(Call& c, Effects& fx);
// The line is lost: the call is gone for everybody; only RasHangUp still knows the handle.
void DropLine(Call& c, Effects& fx);
void OnTimer(void* context);
void EventLost(THRasConn h);

// ---- windows (CallWindows.cpp)
HINSTANCE Instance();
HWND CreateHelperWindow();
void CreateConnectionWindow(THRasConn h);
// The library unloads: ends every window of its classes (those of this thread
// at once, those of other threads through their own loops) and returns once
// no procedure of them is running.
void EndAllWindows(const std::set<HWND>& windows);

// ---- phonebook entries (Phonebook.cpp)
const IniSection* FindEntry(const IniDocument& doc, const std::string& name);
EntryProps DefaultProps();
EntryProps PropsOf(const IniSection& s);
void WriteProps(IniSection& s, const EntryProps& p);
bool PropsSafe(const EntryProps& p);
std::string DefaultIp(THRasConn h);

}  // namespace rassim::sim
