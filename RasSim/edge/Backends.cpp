// Which backend the library runs on: QUOR_RAS_BACKEND, read when the library
// loads, resolved on the first call (a module is never loaded while the
// library itself is still loading).
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "RasSim/edge/Backend.h"
#include "RasSim/edge/Edge.h"

// Every backend name this build knows, as CMake lists them (QUOR_RAS_BACKENDS).
#ifndef QUOR_RAS_BACKEND_NAMES
#define QUOR_RAS_BACKEND_NAMES "sim"
#endif

namespace rassim {

namespace {

constexpr const char kDefaultBackend[] = "sim";

std::string ReadChoice() {
  const char* v = std::getenv("QUOR_RAS_BACKEND");
  return v && *v ? v : kDefaultBackend;
}
// Read while the library loads.
const std::string g_choice = ReadChoice();

// An operation that fails: the service could not be had.
template <class Op>
struct Unavailable;
template <class... Args>
struct Unavailable<DWORD (*)(Args...)> {
  static DWORD Run(Args...) { return ERROR_RASMAN_CANNOT_INITIALIZE; }
};

// Stands in for a backend that could not be had: every operation fails.
BackendOps MakeUnavailableOps() {
  BackendOps ops;
  ops.name = "";
  ops.description = "no backend";
  ops.Open = Unavailable<decltype(ops.Open)>::Run;
  ops.Close = [] {};
#define QUOR_BACKEND_OP(Name, Params) ops.Name = Unavailable<decltype(ops.Name)>::Run;
#define QUOR_BACKEND_OPTIONAL_OP QUOR_BACKEND_OP
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  return ops;
}

const BackendOps& UnavailableOps() {
  static const BackendOps ops = MakeUnavailableOps();
  return ops;
}

bool PostDialEvent(const DialNotifier& to, TRasConnState state, DWORD error) {
  return !to.wnd || PostMessageA(to.wnd, to.msg, static_cast<WPARAM>(state), static_cast<LPARAM>(error));
}

const EdgeServices kEdge{PostDialEvent, edge::ConnectionMade, edge::ConnectionEnded};

std::string KnownList() {
  std::string list;
  for (const std::string& n : KnownBackends()) list += (list.empty() ? "" : ", ") + n;
  return list;
}

void Complain(const std::string& why) {
  std::fprintf(stderr, "rasapi32.dll: %s; every RAS call fails with error 711. Known backends: %s.\n", why.c_str(),
               KnownList().c_str());
}

bool AllOpsSet(const BackendOps& o) {
  bool all = o.Open && o.Close;
#define QUOR_BACKEND_OP(Name, Params) all = all && o.Name;
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  return all;
}

// A backend module beside this library: "rasbackend_<name>.dll".
const BackendOps* LoadModule(const std::string& name) {
  HMODULE self = GetModuleHandleA("rasapi32.dll");
  char path[1024] = {};
  DWORD n = self ? GetModuleFileNameA(self, path, sizeof path) : 0;
  std::string file = "rasbackend_" + name + ".dll";
  std::string full = file;
  if (n > 0 && n < sizeof path) {
    std::string own(path, n);
    size_t slash = own.find_last_of("/\\");
    if (slash != std::string::npos) full = own.substr(0, slash + 1) + file;
  }
  HMODULE module = LoadLibraryA(full.c_str());
  if (!module) {
    Complain("the module " + file + " of RAS backend \"" + name + "\" cannot be loaded");
    return nullptr;
  }
  FARPROC proc = GetProcAddress(module, kBackendOpsExport);
  const BackendOps* ops = proc ? reinterpret_cast<BackendOpsFn>(reinterpret_cast<void (*)()>(proc))() : nullptr;
  if (!ops || ops->abi != kBackendAbi || !AllOpsSet(*ops)) {
    Complain("the module " + file + " is not a RAS backend this library can use");
    FreeLibrary(module);
    return nullptr;
  }
  // Stays loaded until the process ends: its timers and threads may call back.
  return ops;
}

struct Chosen {
  std::once_flag once;
  const BackendOps* ops = nullptr;
  bool opened = false;
};
Chosen& C() {
  static Chosen c;
  return c;
}

const BackendOps* Resolve() {
  size_t count = 0;
  const BuiltinBackend* builtins = BuiltinBackends(count);
  for (size_t i = 0; i < count; ++i)
    if (g_choice == builtins[i].name) return &builtins[i].ops();
  for (const std::string& n : KnownBackends())
    if (g_choice == n) return LoadModule(n);
  Complain("unknown RAS backend \"" + g_choice + "\" (QUOR_RAS_BACKEND)");
  return nullptr;
}

}  // namespace

const BackendOps& Backend() {
  Chosen& c = C();
  std::call_once(c.once, [&c] {
    const BackendOps* ops = Resolve();
    if (ops) {
      if (DWORD e = ops->Open(kEdge)) {
        Complain("RAS backend \"" + g_choice + "\" failed to start (error " + std::to_string(e) + ")");
        ops = nullptr;
      } else {
        c.opened = true;
      }
    }
    c.ops = ops ? ops : &UnavailableOps();
  });
  return *c.ops;
}

std::string ChosenBackendName() {
  return g_choice;
}

std::vector<std::string> KnownBackends() {
  std::vector<std::string> names;
  std::istringstream in(QUOR_RAS_BACKEND_NAMES);
  for (std::string n; in >> n;) names.push_back(n);
  return names;
}

const BackendControl* ChosenControl() {
  size_t count = 0;
  const BuiltinBackend* builtins = BuiltinBackends(count);
  for (size_t i = 0; i < count; ++i)
    if (g_choice == builtins[i].name) return builtins[i].ops().control;
  return nullptr;
}

void CloseBackend() {
  Chosen& c = C();
  if (c.opened) c.ops->Close();
  c.opened = false;
}

}  // namespace rassim
