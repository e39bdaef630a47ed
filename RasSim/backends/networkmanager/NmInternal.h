// What the backend's files share. Not for use outside backends/networkmanager/.
//
// One thread owns libnm (NmClient.cpp): it runs a GLib main context holding the
// NMClient, and every libnm call and signal happens on it. An operation posts a
// job to that thread and waits, with a bound, for the job to finish its Waiter.
// The rest, by concern:
//   NmDialState.cpp  what a call is at each moment (Phase) and the events it posts
//   NmCalls.cpp      dials and hang-ups, and NetworkManager's signals that drive them
//   NmStatus.cpp     status, the connection list, projections, interfaces
//   NmProfiles.cpp   profiles as phonebook entries, and saving edits to them
//   NmStats.cpp      a connection's traffic counters
//   NmWatch.cpp      every active connection appearing and going, for the machine-wide watch
//   NmSecrets.cpp    dial parameters: the user name and secrets a profile keeps
//   NmNewEntry.cpp   new profiles and the entry dialogs
//   NmTable.cpp      the table of operations handed to the edge
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

namespace rasnm {

// The seam's types, used as they are.
using rassim::ConnInfo;
using rassim::ConnStatus;
using rassim::DeviceInfo;
using rassim::DialParams;
using rassim::DialRequest;
using rassim::EntryProps;
using rassim::PbArg;

// The operations of the table, one per row of the seam's list (each file
// defines those of its concern; NmTable.cpp puts them in the table).
using rassim::ConnStats;
#define QUOR_BACKEND_OP(Name, Params) DWORD Name Params;
#define QUOR_BACKEND_OPTIONAL_OP(Name, Params) DWORD Name Params;
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP

}  // namespace rasnm

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

// Where a call is in its life. Starting: the profile is being looked up;
// Dialling: NetworkManager activates it, its states become RAS states;
// Connected: RASCS_Connected was posted; Failed: the dial ended with an error
// (the handle stays until hung up, status reads the state and the error); Lost:
// a connected call ended without a hang-up (status reads "no such handle");
// HangingUp: RasHangUp was called, NetworkManager is taking it down (status
// reads RASCS_Disconnected); Gone: nothing of it remains.
enum class Phase { Starting, Dialling, Connected, Failed, Lost, HangingUp, Gone };

// One RasDial. Known under its pending handle from the start and, once
// NetworkManager has an active connection for it, under that one's handle too
// (the handle every process sees in RasEnumConnections).
struct Call {
  Call();
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  THRasConn handle = 0, activeHandle = 0;
  std::string entry, uuid, connType;
  rassim::DialNotifier notifier;  // window 0: a synchronous dial
  std::shared_ptr<Waiter> sync;   // a synchronous dial's outcome
  Phase phase = Phase::Starting;
  TRasConnState state = RASCS_OpenPort;
  bool posted = false;  // a state was posted already
  DWORD error = 0;
  bool vpn = false, cancel = false;
  bool activating = false;      // an activation request is under way
  bool watchingTunnel = false;  // a hung-up VPN waits for its tunnel to go
  std::string deviceType, deviceName, tunnel;
  std::vector<std::string> interfacesBefore;          // a VPN's tunnel is the interface that was not there
  NMActiveConnection* ac = nullptr;                   // held (a reference) while the call has one
  NMDevice* device = nullptr;                         // the same for a wired or mobile call's device
  std::chrono::steady_clock::time_point connectedAt;  // when RASCS_Connected was posted
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
  rassim::EdgeServices edge;                   // how dial events and connection changes reach the edge (Open)
  // Other processes' lines lost lately (NmWatch.cpp): handle -> the RAS error
  // and when it was seen, answered by the status call for kLostReasonKeptSeconds.
  std::map<THRasConn, std::pair<DWORD, std::chrono::steady_clock::time_point>> foreignLost;
  std::map<std::string, THRasConn> foreignCarried;    // interface -> the other process's connection it carries
  std::map<THRasConn, uint32_t> foreignDeviceReason;  // why its device left the activated state, until removed
};

Backend& B();

// ---- the thread and its jobs (NmClient.cpp)

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
// Ends every call, stops the thread and releases the client (the table's Close).
void Shutdown();

// ---- the dial state machine (NmDialState.cpp; every function under B().m)

// Posts a dial event of the call; a call whose event cannot be posted is taken down.
void PostLocked(Call& c, TRasConnState state, DWORD error);
// The call has come up (made) or a connected call has ended: tells the edge.
void ReportLocked(const Call& c, bool made);
// Posts the states of `steps` the call has not posted yet; the last may connect it.
void StepsLocked(Call& c, const std::vector<TRasConnState>& steps);
// NetworkManager failed the call, or lost it once connected.
void FailLocked(Call& c, DWORD error);
// A VPN has come up: its device is the tunnel it made.
void NoteConnectedLocked(Call& c);
// NetworkManager is done with the call's active connection.
void ActiveEndedLocked(const std::shared_ptr<Call>& c, DWORD error);
// The hang-up is complete: the call is forgotten.
void EndLocked(const std::shared_ptr<Call>& c);
// The call of a handle (either of its two), or null; forgetting one that is over.
std::shared_ptr<Call> FindCall(THRasConn h);
void ReleaseLocked(const std::shared_ptr<Call>& c);
// The calls (each once) that `pick` chooses.
std::vector<std::shared_ptr<Call>> CallsOf(const std::function<bool(const Call&)>& pick);
bool TunnelPresent(const std::string& name);
size_t LiveCalls();

// ---- calls and signals (NmCalls.cpp)

void ConnectClientSignals(NMClient* c);
// The loss reason of another process's line that went lately, or 0 (NmWatch.cpp; under B().m).
DWORD ForeignLossLocked(THRasConn h);
// Reports every active connection of another process appearing and going (NmWatch.cpp).
void ConnectWatchSignals(NMClient* c);
// Lets go of the call's libnm objects and of its handlers on them.
void DropObjectsLocked(Call& c);
void ReleaseAllCallsLocked();
// How many of the backend's signal handlers are connected to `object`.
int HookupsOn(gpointer object);

// ---- interfaces and active connections (NmStatus.cpp)

std::string InterfaceOfAddress(const std::string& address);  // the tunnel of a VPN, or ""
std::string AddressOfInterface(const std::string& name);     // its first IPv4 address, from the kernel
std::vector<std::string> InterfaceNames();
std::string FirstAddress(NMActiveConnection* ac, std::string* gateway = nullptr);
NMActiveConnection* FindActive(THRasConn h);
std::string DeviceNameOf(NMActiveConnection* ac);
std::string DeviceTypeOfActive(NMActiveConnection* ac);

// ---- profiles (NmProfiles.cpp; loop thread)

// The profile named `name` (case as Windows compares entry names), or null.
NMRemoteConnection* FindProfile(const std::string& name);
std::string VpnService(NMConnection* c);
std::string ShortVpnService(const std::string& service);
std::string StringProperty(NMSetting* s, const char* name);
// The RAS device type and name of a profile (any thread).
DWORD GetEntryDevice(const std::string& entry, std::string& deviceType, std::string& deviceName);

// Where a profile keeps the user name and password of its dial parameters
// (NmSecrets.cpp); setting null where it keeps none.
struct SecretPlace {
  const char* setting = nullptr;  // secret setting
  const char* userKey = nullptr;  // property (or vpn data key)
  const char* passwordKey = nullptr;
  bool vpn = false;
};
SecretPlace PlaceOf(NMConnection* c);

// One change to a saved profile. It is applied to a copy of the profile that
// has its secrets, so that saving it keeps them; then `then` runs with the
// result, or else the waiter is finished with it.
struct Edit {
  std::string uuid;
  std::function<DWORD(NMConnection*, const SecretPlace&)> change;
  std::shared_ptr<Waiter> w;
  std::function<void(DWORD)> then;
  NMConnection* saved = nullptr;  // what was saved
  ~Edit();
  void Finish(DWORD r);
};
void EditProfile(std::unique_ptr<Edit> e);
// Runs `then` once `settled` holds (the client has seen a change), or after a bound.
void WhenSettled(std::function<bool()> settled, std::function<void()> then, int waitedMs = 0);

// Stores a dial's user name and password (when given) in the profile, then `then` (NmSecrets.cpp).
void StoreDialParams(const std::string& uuid, const DialParams& params, std::function<void(DWORD)> then);

}  // namespace rasnm::detail
