// The seam between the RAS library's edge and the RAS service behind it.
//
// The edge (the files directly in RasSim/) is the same whatever service runs
// the calls: the A and W exports, argument and dwSize checks, buffer
// negotiation, UTF-16 conversion, error texts, the call inspection, and the
// parts every service shares: the phonebook text format and file store, the
// credential store, the machine-wide connection registry that hands out
// connection handles, the entry dialogs' presenter, and posting dial events
// to the notifier window. A backend (one folder under RasSim/backends/) is the
// service: it knows entries, devices and connections, dials and hangs up.
//
// A backend is one table of operations, BackendOps. Texts are UTF-8; records,
// sizes and W forms never reach a backend. Every operation returns 0 or a RAS
// or Windows error number, which the edge hands to the caller unchanged, and
// may be called from any thread. The edge has already checked what it can:
// no null output pointers, record sizes right, texts valid.
//
// Choosing: QUOR_RAS_BACKEND names the backend ("sim" when unset or empty),
// read once when the library loads; the backend is opened on the first call
// that needs it. Backends compiled into the library are found by name in
// Backends.cpp. Any other known name is a module of its own, loaded from the
// folder of rasapi32.dll under the file name "rasbackend_<name>.dll", which
// exports
//
//   extern "C" const rassim::BackendOps* QuorRasBackendOps(void);
//
// (kBackendOpsExport, the C calling convention, not WINAPI) returning its
// table with `abi` set to kBackendAbi; the module stays loaded until the
// process ends. Backends share C++ types with the edge, so a module is built
// in the same tree with the same compiler as the library. An
// unknown name, a module that is missing or does not fit, or an Open that
// fails makes every call that needs the service fail with
// ERROR_RASMAN_CANNOT_INITIALIZE (711) (error texts and countries still work), and
// the library says why once on standard error, naming the known backends.
//
// Adding a backend: a folder RasSim/backends/<name>/ with a table filled in
// (see backends/sim/SimBackend.cpp), then either a row in Backends.cpp
// (compiled in) or a module target exporting QuorRasBackendOps (loaded on
// demand), and the name in QUOR_RAS_BACKENDS (CMake) so `quor --version` and
// the error message list it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/common/Secret.h"
#include "RasSim/common/Stores.h"

// winerror.h's number for a name that is not valid (not in the Win32 subset's list).
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123L
#endif

// winerror.h's number for a function the service does not offer.
#ifndef ERROR_CALL_NOT_IMPLEMENTED
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#endif

namespace rassim {

// A phonebook argument as the caller passed it.
struct PbArg {
  bool isNull = true;
  std::string text;
  const char* CStr() const { return isNull ? nullptr : text.c_str(); }
};

struct DialParams {
  std::string entry, phone, callback, user;
  SecretString password;
  std::string domain;
};

struct ConnStatus {
  TRasConnState state = 0;
  DWORD error = 0;
  std::string deviceType, deviceName;
};

// A connection's traffic figures, as RAS_STATS carries them: 32-bit
// counters that wrap.
struct ConnStats {
  uint32_t bytesXmited = 0, bytesRcved = 0, framesXmited = 0, framesRcved = 0;
  uint32_t crcErr = 0, timeoutErr = 0, alignmentErr = 0, hardwareOverrunErr = 0, framingErr = 0, bufferOverrunErr = 0;
  uint32_t compressionRatioIn = 0, compressionRatioOut = 0, bps = 0, connectDurationMs = 0;
};

struct ConnInfo {
  THRasConn handle = 0;
  std::string entry, deviceType, deviceName;
  std::string phonebook;  // canonical path; "" where the backend keeps none
};

struct DeviceInfo {
  std::string type, name;  // type: "modem", "isdn", "vpn", ...
};

struct EntryProps {
  DWORD options = 0, countryId = 1, countryCode = 1;
  std::string areaCode, phone;
  std::vector<std::string> alternates;
  BYTE ip[5][4] = {};  // ipaddr, ipaddrDns, ipaddrDnsAlt, ipaddrWins, ipaddrWinsAlt
  DWORD frameSize = 0, netProtocols = 0, framing = 0;
  std::string script, autodialDll, autodialFunc, deviceType, deviceName;
  std::string x25PadType, x25Address, x25Facilities, x25UserData;
  DWORD channels = 0;
};

// Where the dial events of one RasDial go. A window of 0 means a synchronous
// dial: RasDial returns only when the dial has ended, with its result.
struct DialNotifier {
  HWND wnd = 0;
  UINT msg = WM_RASDIALEVENT;  // the registered "RasDialEvent" message
};

struct DialRequest {
  const TRasDialExtensions* ext = nullptr;  // null when the caller passed none
  PbArg phonebook;
  DialParams params;
  DialNotifier notifier;
};

// What the edge offers a backend.
struct EdgeServices {
  // Posts one dial event (state as wParam, error as lParam) to the notifier;
  // never blocks, callable from any thread, a no-op for a synchronous dial.
  // False when the event could not be posted (the notifier's queue is full or
  // its window gone): the backend then fails the call rather than lose it.
  bool (*PostDialEvent)(const DialNotifier& to, TRasConnState state, DWORD error);
  // The connection h came up (connected) / ended (line lost, hung up, gone
  // elsewhere): signals the events RasConnectionNotification registered for
  // it. Callable from any thread, never blocks; null in an edge without them.
  void (*ConnectionMade)(THRasConn h) = nullptr;
  void (*ConnectionEnded)(THRasConn h) = nullptr;
};

constexpr DWORD kBackendAbi = 3;
constexpr const char kBackendOpsExport[] = "QuorRasBackendOps";

struct BackendOps {
  DWORD abi = kBackendAbi;
  const char* name = nullptr;         // as QUOR_RAS_BACKEND names it
  const char* description = nullptr;  // one line for `quor --version`

  // Life: Open once before the first operation (an error fails every call),
  // Close when the library unloads: every timer, window and thread of the
  // backend must be gone when it returns.
  DWORD (*Open)(const EdgeServices& edge) = nullptr;
  void (*Close)() = nullptr;

  // The operations, as BackendOps.def lists them.
#define QUOR_BACKEND_OP(Name, Params) DWORD(*Name) Params = nullptr;
#define QUOR_BACKEND_OPTIONAL_OP QUOR_BACKEND_OP
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP

  // The test controls of a simulated service; null for a backend without any.
  const struct BackendControl* control = nullptr;
};

// What the QuorRasSim... control exports drive in a backend that simulates its
// service. The edge forgets its own call records and dialog answers itself.
struct BackendControl {
  // Ends every call and forgets queued failures, step delays and attempts.
  void (*Reset)() = nullptr;
  // The line of connection h drops (ERROR_INVALID_HANDLE when no such call).
  DWORD (*DropConnection)(THRasConn h) = nullptr;
  // The next dial of entry fails at state with error.
  void (*QueueFailure)(const std::string& entry, TRasConnState state, DWORD error) = nullptr;
  // How long the dial stays in state (0xFFFFFFFF: back to the default).
  void (*SetStepDelay)(TRasConnState state, DWORD ms) = nullptr;
  // The hidden window that stands for connection h.
  DWORD (*ConnectionWindow)(THRasConn h, HWND& wnd) = nullptr;
  // Ends what the controls started and frees the service, once (the library unloads).
  void (*Shutdown)() = nullptr;
};

// A backend compiled into the library, listed where the library is put
// together (RasSim/Builtins.cpp), so that the edge names no backend.
struct BuiltinBackend {
  const char* name;
  const BackendOps& (*ops)();
};
const BuiltinBackend* BuiltinBackends(size_t& count);

// Signature of a backend module's one export.
typedef const BackendOps* (*BackendOpsFn)();

// The backend this library runs on, opened on first use. When the choice
// failed, a table whose every operation returns ERROR_RASMAN_CANNOT_INITIALIZE.
const BackendOps& Backend();
// The name the library was asked for (QUOR_RAS_BACKEND, "sim" when unset).
std::string ChosenBackendName();
// Every backend this build knows, compiled in or as a module, in QUOR_RAS_BACKENDS order.
std::vector<std::string> KnownBackends();
// Closes the opened backend (the library unloads).
void CloseBackend();
// The test controls of the chosen backend when it is compiled in and has
// them, else null; never opens the backend.
const BackendControl* ChosenControl();

}  // namespace rassim
