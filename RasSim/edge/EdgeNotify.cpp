// RasConnectionNotification: events an application registered, signalled
// when the backend reports a connection made or ended. A registration for
// one connection ends with it; one for every connection (the handle
// RAS_ALL_CONNECTIONS) lasts as long as the process. The application owns
// its events: one closed meanwhile is simply not signalled.
#include <mutex>
#include <new>
#include <vector>

#include "Ras2/RasOptionalContract.h"
#include "RasSim/common/Platform.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/Edge.h"
#include "RasSim/edge/Inspect.h"

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

constexpr DWORD kKnownFlags = RASCN_Connection | RASCN_Disconnection;

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
  if (h == RAS_ALL_CONNECTIONS) return 0;
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

void ConnectionMade(THRasConn h) {
  Signal(h, RASCN_Connection, false);
}

void ConnectionEnded(THRasConn h) {
  Signal(h, RASCN_Disconnection, true);
}

void ForgetNotifications() {
  std::vector<Registration> gone;
  {
    std::lock_guard<std::mutex> held(Lock());
    gone.swap(Registrations());
  }
  for (const Registration& r : gone) plat::ReleaseEvent(r.held);
}

}  // namespace rassim::edge
