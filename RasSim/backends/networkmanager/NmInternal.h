// What the backend's files share: the thread that owns libnm (NmClient.cpp),
// the calls and their signals (NmBackend.cpp), the profiles and their secrets
// (NmProfiles.cpp). Not for use outside backends/networkmanager/.
#pragma once

#include <gio/gio.h>
// libnm's error header lacks C linkage declarations for C++.
extern "C" {
#include <nm-errors.h>
}
#include <NetworkManager.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RasSim/backends/networkmanager/NmBackend.h"
#include "RasSim/backends/networkmanager/NmMap.h"

namespace rasnm::detail {

// Bounds of the waits (milliseconds).
constexpr int kStartMs = 5000;      // connecting to NetworkManager
constexpr int kRequestMs = 10000;   // one request and its answer
constexpr int kDialMs = 120000;     // a synchronous dial (DHCP alone may take 45 s)
constexpr int kTeardownMs = 10000;  // the previous tunnel of a profile going away
constexpr guint kPollMs = 50;

// One answer awaited by a caller.
struct Waiter {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  DWORD result = 0;
  void Finish(DWORD r) {
    std::lock_guard<std::mutex> held(m);
    result = r;
    done = true;
    cv.notify_all();
  }
  // The result, or `timeout` when no answer came in time.
  DWORD Wait(int ms, DWORD timeout = ERROR_REQUEST_TIMEOUT) {
    std::unique_lock<std::mutex> held(m);
    if (!cv.wait_for(held, std::chrono::milliseconds(ms), [&] { return done; })) return timeout;
    return result;
  }
};

enum class Phase { Starting, Dialling, Connected, Failed, Lost, HangingUp, Gone };

struct Call {
  Call();
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  THRasConn handle = 0, activeHandle = 0;
  std::string entry, uuid, connType;
  HWND wnd = 0;
  UINT msg = 0;
  std::shared_ptr<Waiter> sync;  // a synchronous dial's outcome
  Phase phase = Phase::Starting;
  TRasConnState state = RASCS_OpenPort;
  bool posted = false;  // a state was posted already
  DWORD error = 0;
  bool vpn = false, cancel = false;
  bool activating = false;      // an activation request is under way
  bool watchingTunnel = false;  // a hung-up VPN waits for its tunnel to go
  std::string deviceType, deviceName, tunnel;
  std::vector<std::string> interfacesBefore;  // a VPN's tunnel is the interface that was not there
  NMActiveConnection* ac = nullptr;
  NMDevice* device = nullptr;
};

struct Backend {
  std::mutex m;  // guards everything below except the libnm objects (loop thread only)
  std::condition_variable startChanged;
  std::thread thread;
  GMainContext* ctx = nullptr;
  GMainLoop* loop = nullptr;
  NMClient* client = nullptr;
  std::thread::id loopId;
  bool threadUp = false;
  bool starting = false;  // a client is being made
  bool stopping = false;  // the thread ends once the client being made is answered
  bool running = false;   // NetworkManager runs (as the client last saw)
  GCancellable* startCancel = nullptr;
  std::map<THRasConn, std::shared_ptr<Call>> calls;  // by pending and by active handle
  THRasConn nextPending = kPendingHandleBase + 1;
  std::map<std::string, std::string> tunnels;  // profile uuid -> tunnel of its last hang-up
  std::set<GObject*> held;                     // libnm objects a call has held, while they live (loop thread)
};

Backend& B();

// Runs `job` on the loop thread, soon / after `ms`.
void Post(std::function<void()> job);
void After(guint ms, std::function<void()> job);
// Makes sure the client is there (making it when it is not, waiting a bounded
// time for one being made) and says whether NetworkManager runs.
DWORD Start();
// Runs `job` on the loop thread; it finishes the waiter when its answer is known.
DWORD Request(std::function<void(std::shared_ptr<Waiter>)> job, int ms = kRequestMs);
// Remembers a libnm object a call takes a reference on, until it is finalized (loop thread).
void Track(gpointer object);

// The RAS error of a failed libnm or D-Bus request.
DWORD ErrorOf(const GError* err);
NMRemoteConnection* FindProfile(const std::string& name);
std::string VpnService(NMConnection* c);
std::string ShortVpnService(const std::string& service);
std::string StringProperty(NMSetting* s, const char* name);

// Stores a dial's user name and password (when given) in the profile, then `then` (NmProfiles.cpp).
void StoreDialParams(const std::string& uuid, const DialParams& params, std::function<void(DWORD)> then);

// Calls (NmBackend.cpp): the call of a handle, forgetting one that is over, whether a tunnel is there.
std::shared_ptr<Call> FindCall(THRasConn h);
void ReleaseLocked(const std::shared_ptr<Call>& c);
bool TunnelPresent(const std::string& name);

// Interfaces and active connections (NmStatus.cpp).
std::string InterfaceOfAddress(const std::string& address);  // the tunnel of a VPN, or ""
std::string AddressOfInterface(const std::string& name);     // its first IPv4 address, from the kernel
std::vector<std::string> InterfaceNames();
std::string FirstAddress(NMActiveConnection* ac, std::string* gateway = nullptr);
NMActiveConnection* FindActive(THRasConn h);
std::string DeviceNameOf(NMActiveConnection* ac);
std::string DeviceTypeOfActive(NMActiveConnection* ac);

// Calls at large (NmBackend.cpp).
void ConnectClientSignals(NMClient* c);
void ReleaseAllCallsLocked();
size_t LiveCalls();
int HookupsOn(gpointer object);

}  // namespace rasnm::detail
