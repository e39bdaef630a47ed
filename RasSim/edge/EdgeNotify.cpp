// RasConnectionNotification: events an application registered, signalled
// when the backend reports a connection made or ended. A registration for
// one connection ends with it; one for every connection (the handle
// RAS_ALL_CONNECTIONS) lasts as long as the process. The application owns
// its events: one closed meanwhile is simply not signalled.
//
// While one for every connection is registered, the service's list of
// connections is also looked at on the clock, so that connections another
// process makes or ends are signalled as well as this process's own.
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "Ras2/RasOptionalContract.h"
#include "RasSim/common/Platform.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/Edge.h"
#include "RasSim/edge/Inspect.h"
#include "Win32/Clock.h"

namespace rassim::edge {

namespace plat = platform;

namespace {

struct Registration {
  THRasConn handle;
  HANDLE held;  // the service's own hold on the application's event, signalled and released here
  DWORD flags;
};

// Both live in this module's own storage and are never destroyed: a
// backend's thread may still report while the process exits. Kept off the
// heap, so unloading the module leaves no block behind that nothing points
// to; ForgetNotifications hands back the list's elements.
std::mutex& Lock() {
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* m = new (storage) std::mutex;
  return *m;
}
std::vector<Registration>& Registrations() {
  alignas(std::vector<Registration>) static unsigned char storage[sizeof(std::vector<Registration>)];
  static std::vector<Registration>* r = new (storage) std::vector<Registration>;
  return *r;
}

// The connections of the machine as the last look saw them: those up, and
// those listed at all. Guarded by Lock(); kept off the heap as the list is.
struct Seen {
  std::set<THRasConn> up, listed;
  bool watching = false;  // a look is scheduled on the clock
};
Seen& Machine() {
  alignas(Seen) static unsigned char storage[sizeof(Seen)];
  static Seen* s = new (storage) Seen;
  return *s;
}

constexpr DWORD kKnownFlags = RASCN_Connection | RASCN_Disconnection;
constexpr uint32_t kLookMs = 250;  // how often the list of connections is looked at

// Signals, outside the lock, the events of the registrations that ask for
// Flag on connection h; those for h alone end when it ended.
void Signal(THRasConn h, DWORD Flag, bool Ended) {
  std::vector<HANDLE> events, released;
  {
    std::lock_guard<std::mutex> held(Lock());
    auto& all = Registrations();
    for (auto it = all.begin(); it != all.end();) {
      const bool mine = it->handle == h;
      if ((mine || it->handle == RAS_ALL_CONNECTIONS) && (it->flags & Flag) != 0) events.push_back(it->held);
      if (mine && Ended) {
        released.push_back(it->held);
        it = all.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (HANDLE e : events) SetEvent(e);
  for (HANDLE e : released) plat::ReleaseEvent(e);
}

bool AnyForAll() {
  for (const Registration& r : Registrations())
    if (r.handle == RAS_ALL_CONNECTIONS) return true;
  return false;
}

// What the service lists now: every connection, and those of them up.
void Snapshot(std::set<THRasConn>& listed, std::set<THRasConn>& up) {
  std::vector<ConnInfo> conns;
  if (Backend().EnumConnections(conns) != 0) return;
  for (const ConnInfo& c : conns) {
    listed.insert(c.handle);
    ConnStatus st;
    if (Backend().GetConnectStatus(c.handle, st) == 0 && st.state == RASCS_Connected) up.insert(c.handle);
  }
}

void Look(void*) {
  std::set<THRasConn> listed, up;
  Snapshot(listed, up);
  std::vector<THRasConn> made, ended;
  {
    std::lock_guard<std::mutex> held(Lock());
    Seen& seen = Machine();
    for (THRasConn h : up)
      if (!seen.up.count(h)) made.push_back(h);
    for (THRasConn h : seen.listed)
      if (!listed.count(h)) ended.push_back(h);
    seen.up = up;
    seen.listed = listed;
    seen.watching = AnyForAll();
  }
  for (THRasConn h : made) Signal(h, RASCN_Connection, false);
  for (THRasConn h : ended) Signal(h, RASCN_Disconnection, true);
  bool again;
  {
    std::lock_guard<std::mutex> held(Lock());
    again = Machine().watching;
  }
  if (again) QuorClockSchedule(kLookMs, Look, nullptr);
}

// Starts the looks on the clock, from what the service lists now, unless they run.
void WatchMachine() {
  std::set<THRasConn> listed, up;
  Snapshot(listed, up);
  {
    std::lock_guard<std::mutex> held(Lock());
    Seen& seen = Machine();
    if (seen.watching) return;
    seen.watching = true;
    seen.up = up;
    seen.listed = listed;
  }
  QuorClockSchedule(kLookMs, Look, nullptr);
}

}  // namespace

DWORD WatchConnection(const char* name, THRasConn h, HANDLE event, DWORD flags) {
  inspect::Record(name, nullptr);
  if (event == HANDLE{} || (flags & kKnownFlags) == 0) return ERROR_INVALID_PARAMETER;
  const HANDLE mine = plat::HoldEvent(event);
  if (mine == HANDLE{}) return ERROR_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> held(Lock());
    Registrations().push_back(Registration{h, mine, flags});
  }
  if (h == RAS_ALL_CONNECTIONS) {
    WatchMachine();
    return 0;
  }
  // Only a connection RAS knows can be watched; one already gone is refused.
  // Registered first, so that an end between the look and the registration
  // is not missed.
  ConnStatus status;
  DWORD e = Backend().GetConnectStatus(h, status);
  if (e == 0 && status.state == RASCS_Disconnected) e = ERROR_INVALID_HANDLE;
  if (e != 0) {
    bool found = false;
    {
      std::lock_guard<std::mutex> held(Lock());
      auto& all = Registrations();
      for (auto it = all.begin(); it != all.end(); ++it) {
        if (it->held == mine) {
          all.erase(it);
          found = true;
          break;
        }
      }
    }
    // Not found: the connection's end took the registration and released it.
    if (found) plat::ReleaseEvent(mine);
  }
  return e;
}

// This process's own connections are signalled at once; the next look then
// finds them as already told.
void ConnectionMade(THRasConn h) {
  {
    std::lock_guard<std::mutex> held(Lock());
    if (Machine().watching) Machine().up.insert(h), Machine().listed.insert(h);
  }
  Signal(h, RASCN_Connection, false);
}

void ConnectionEnded(THRasConn h) {
  {
    std::lock_guard<std::mutex> held(Lock());
    Machine().up.erase(h);
    Machine().listed.erase(h);
  }
  Signal(h, RASCN_Disconnection, true);
}

void StopWatchingMachine() {
  QuorClockCancelCallback(Look);
  std::lock_guard<std::mutex> held(Lock());
  Machine() = Seen{};
}

void ForgetNotifications() {
  StopWatchingMachine();
  std::vector<Registration> gone;
  {
    std::lock_guard<std::mutex> held(Lock());
    gone.swap(Registrations());
  }
  for (const Registration& r : gone) plat::ReleaseEvent(r.held);
}

}  // namespace rassim::edge
