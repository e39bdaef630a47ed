// The brief backend's table (name "networkmanager-brief"): four operations
// answered over D-Bus until the full backend is needed; every other operation
// loads the full backend (rasbackend_networkmanager.dll, from the folder of
// rasbackend_networkmanager-brief.dll), which from then on answers everything.
#include <nm-dbus-interface.h>

#include <cstdio>
#include <mutex>

#include "RasSim/backends/networkmanager/NmBrief.h"

namespace rasnm::brief {

namespace {

using rassim::BackendOps;

constexpr const char kOwnModule[] = "rasbackend_networkmanager-brief.dll";
constexpr const char kFullModule[] = "rasbackend_networkmanager.dll";

struct State {
  std::mutex m;
  rassim::EdgeServices edge{};
  const BackendOps* full = nullptr;  // opened
  bool tried = false;                // loading it failed: every call that needs it fails
};
State& S() {
  static State* s = new State();  // outlives the static objects the process ends with
  return *s;
}

std::string FullModulePath() {
  HMODULE self = GetModuleHandleA(kOwnModule);
  char path[1024] = {};
  const DWORD n = self ? GetModuleFileNameA(self, path, sizeof path) : 0;
  std::string own(path, n < sizeof path ? n : 0);
  const size_t slash = own.find_last_of("/\\");
  return slash == std::string::npos ? kFullModule : own.substr(0, slash + 1) + kFullModule;
}

// The full backend, loaded and opened on first need; null when it cannot be had.
const BackendOps* Full() {
  State& s = S();
  std::lock_guard<std::mutex> held(s.m);
  if (s.full || s.tried) return s.full;
  s.tried = true;
  const std::string path = FullModulePath();
  HMODULE module = LoadLibraryA(path.c_str());
  FARPROC proc = module ? GetProcAddress(module, rassim::kBackendOpsExport) : nullptr;
  const BackendOps* ops = proc ? reinterpret_cast<rassim::BackendOpsFn>(reinterpret_cast<void (*)()>(proc))() : nullptr;
  if (!ops || ops->abi != rassim::kBackendAbi || !ops->Open || !ops->Close) {
    std::fprintf(stderr, "rasbackend_networkmanager-brief.dll: %s cannot be loaded or does not fit\n", path.c_str());
    if (module) FreeLibrary(module);
    return nullptr;
  }
  // It stays loaded (it cannot be unloaded: GLib's types), as the edge keeps a backend module.
  if (DWORD e = ops->Open(s.edge)) {
    std::fprintf(stderr, "rasbackend_networkmanager-brief.dll: the networkmanager backend failed to start (%lu)\n",
                 static_cast<unsigned long>(e));
    return nullptr;
  }
  s.full = ops;
  return ops;
}

// The full backend when it has been loaded already, else null.
const BackendOps* Loaded() {
  State& s = S();
  std::lock_guard<std::mutex> held(s.m);
  return s.full;
}

template <auto Member, class Fn>
struct Forward;
template <auto Member, class... Args>
struct Forward<Member, DWORD (*)(Args...)> {
  static DWORD Run(Args... args) {
    const BackendOps* full = Full();
    if (!full) return ERROR_RASMAN_CANNOT_INITIALIZE;
    auto fn = full->*Member;
    return fn ? fn(args...) : static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED);
  }
};

DWORD EnumConnections(std::vector<rassim::ConnInfo>& out) {
  if (const BackendOps* f = Loaded()) return f->EnumConnections(out);
  std::vector<Active> actives;
  if (DWORD e = FetchActives(actives)) return e;
  out = ListedOf(actives);
  return 0;
}

DWORD GetConnectStatus(THRasConn h, rassim::ConnStatus& out) {
  if (const BackendOps* f = Loaded()) return f->GetConnectStatus(h, out);
  std::vector<Active> actives;
  if (DWORD e = FetchActives(actives)) return e;
  rassim::ConnStatus status;
  if (DWORD e = StatusOf(actives, h, status)) return e;
  out = status;
  return 0;
}

// Another process's connection (this process has no calls of its own before
// the full backend is loaded): asks NetworkManager to take it down, as the
// full backend does, unless it is going already.
DWORD HangUp(THRasConn h) {
  if (const BackendOps* f = Loaded()) return f->HangUp(h);
  std::vector<Active> actives;
  if (DWORD e = FetchActives(actives)) return e;
  const Active* a = ActiveOf(actives, h);
  if (!a) return ERROR_INVALID_HANDLE;
  return a->state < NM_ACTIVE_CONNECTION_STATE_DEACTIVATING ? Deactivate(a->path) : 0;
}

DWORD EnumEntries(const rassim::PbArg& pb, std::vector<std::string>& names) {
  if (const BackendOps* f = Loaded()) return f->EnumEntries(pb, names);
  std::vector<std::string> listed;
  if (DWORD e = FetchEntryNames(listed)) return e;
  names = listed;
  return 0;
}

DWORD Open(const rassim::EdgeServices& edge) {
  State& s = S();
  std::lock_guard<std::mutex> held(s.m);
  s.edge = edge;
  return 0;  // NetworkManager may start later: each call says whether it runs
}

// The library unloads: the full backend ends its calls and thread; a later
// Open (the library loaded again) starts afresh.
void Close() {
  const BackendOps* full = nullptr;
  {
    State& s = S();
    std::lock_guard<std::mutex> held(s.m);
    full = s.full;
    s.full = nullptr;
    s.tried = false;
  }
  if (full) full->Close();
  DropBus();
}

BackendOps MakeOps() {
  BackendOps ops;
  ops.name = "networkmanager-brief";
  ops.description = "NetworkManager, for brief processes: lists, status and hang-up over D-Bus, the rest through libnm";
  ops.Open = Open;
  ops.Close = Close;
#define QUOR_BACKEND_OP(Name, Params) ops.Name = Forward<&BackendOps::Name, decltype(ops.Name)>::Run;
#define QUOR_BACKEND_OPTIONAL_OP QUOR_BACKEND_OP
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  ops.EnumConnections = EnumConnections;
  ops.GetConnectStatus = GetConnectStatus;
  ops.HangUp = HangUp;
  ops.EnumEntries = EnumEntries;
  return ops;
}

}  // namespace

const BackendOps& Ops() {
  static const BackendOps ops = MakeOps();
  return ops;
}

}  // namespace rasnm::brief
