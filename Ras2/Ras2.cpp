// Ras2: run-time binding of the RAS client library rasapi32.dll.
//
// InitRas loads the library and binds the 47 entry-point variables by export
// name; CloseRas drops the reference again. The four fallback functions look
// their entry point up on every call through rnaph_, which picks rasapi32.dll
// or, when that lacks the ANSI export, rnaph.dll, once and for good.

#include "Ras2/Ras2.h"

#include <cstdlib>
#include <string>

#include "Vcl/Vcl.h"

// ---------------------------------------------------------------- module state
HMODULE hLib = 0;
HMODULE lib = 0;
bool rnaph_initialized = false;
bool is_rnaph = false;

#define RAS_PLAIN(F, PA, PW, ARGS) \
  T##F##A F##A = nullptr;          \
  T##F##W F##W = nullptr;
#define RAS_GUARDED(F, PA, PW, ARGS) \
  RAS_PLAIN(F, PA, PW, ARGS)         \
  T##F F = nullptr;
#include "Ras2/RasFunctions.def"

namespace {

bool systemFolderOnly = false;

HMODULE LoadRasLibrary(const char* file) {
  return systemFolderOnly ? LoadLibraryExA(file, 0, LOAD_LIBRARY_SEARCH_SYSTEM32) : LoadLibraryA(file);
}

// An exported address under the entry point's own type. The detour through
// void(*)() is the one function-pointer cast the compiler accepts silently.
template <typename Fn>
Fn AsEntryPoint(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// Unguarded binding: whatever the lookup raises goes to InitRas's caller.
template <typename Fn>
void Bind(Fn& variable, const char* exportName) {
  variable = AsEntryPoint<Fn>(GetProcAddress(hLib, exportName));
}

// Guarded binding: a fault while looking up this one name is dropped, the
// variable keeps what it held, and binding carries on with the next name.
// The variable is assigned only once the lookup has returned. The guard
// catches C++ exceptions; a lookup on a valid handle raises nothing else.
template <typename Fn>
void BindGuarded(Fn& variable, const char* exportName) noexcept {
  try {
    FARPROC proc = GetProcAddress(hLib, exportName);
    variable = AsEntryPoint<Fn>(proc);
  } catch (...) {
  }
}

// Unit finalisation has run (from a package's unit table or at exit).
bool finalized = false;
// The exit hook that runs the finalisation when no unit table did.
bool exitHookInstalled = false;

void FinalizeAtExit() {
  Ras2Finalization();
}

// The finalisation only has work once rnaph.dll was chosen, so that is when
// the exit hook goes in. Installing it after the library layer has loaded a
// module also means the hook runs before that layer's own teardown.
void InstallExitHook() {
  if (exitHookInstalled) return;
  exitHookInstalled = true;
  std::atexit(FinalizeAtExit);
}

void ReleaseLibrary(HMODULE module) {
  if (module != 0) FreeLibrary(module);
}

[[noreturn]] void ThrowNotFound(const std::string& func) {
  throw Exception("Function " + func + " not found!");
}

// Finds the entry point of a fallback function. The first lookup that
// succeeds fixes the library for every later one: rasapi32.dll when it has
// the ANSI export, otherwise rnaph.dll with the plain name. Never returns
// null; every failure throws.
FARPROC rnaph_(const std::string& func) {
  if (!rnaph_initialized) {
    lib = LoadRasLibrary("rasapi32.dll");
    if (lib == 0) throw Exception("Error opening rasapi.dll");
    const std::string ansiName = func + "A";
    FARPROC proc = GetProcAddress(lib, ansiName.c_str());
    if (proc != nullptr) {
      rnaph_initialized = true;
      return proc;
    }
    // rasapi32.dll is not the one. Its reference is dropped here: lib is
    // about to be overwritten and nothing could ever release it later.
    HMODULE rasapi = lib;
    lib = LoadRasLibrary("rnaph.dll");
    ReleaseLibrary(rasapi);
    if (lib == 0) throw Exception("Error opening rnaph.dll");
    proc = GetProcAddress(lib, func.c_str());
    if (proc == nullptr) {
      // Still undecided: the next call starts over with rasapi32.dll, so this
      // attempt's reference to rnaph.dll is given back rather than leaked.
      ReleaseLibrary(lib);
      ThrowNotFound(func);
    }
    rnaph_initialized = true;
    is_rnaph = true;
    InstallExitHook();
    return proc;
  }
  const std::string name = is_rnaph ? func : func + "A";
  FARPROC proc = GetProcAddress(lib, name.c_str());
  if (proc == nullptr) ThrowNotFound(func);
  return proc;
}

}  // namespace

// ---------------------------------------------------------------- InitRas / CloseRas
void SetRasSystemFolderOnly(bool only) {
  systemFolderOnly = only;
}

bool RasSystemFolderOnly() {
  return systemFolderOnly;
}

bool InitRas() {
  hLib = LoadRasLibrary("rasapi32.dll");
  if (hLib == 0) return false;

    // Families 1 to 11: ANSI, wide, then neutral (bound to the ANSI export),
    // each lookup guarded; families 12 to 18: ANSI and wide, unguarded.
#define RAS_GUARDED(F, PA, PW, ARGS) \
  BindGuarded(F##A, #F "A");         \
  BindGuarded(F##W, #F "W");         \
  BindGuarded(F, #F "A");
#define RAS_PLAIN(F, PA, PW, ARGS) \
  Bind(F##A, #F "A");              \
  Bind(F##W, #F "W");
#include "Ras2/RasFunctions.def"
  return true;
}

bool CloseRas() {
  if (hLib != 0) FreeLibrary(hLib);
  return true;
}

// ---------------------------------------------------------------- fallback functions
// Each passes its own name to rnaph_ and calls what comes back with its
// arguments unchanged.
#define RAS_GUARDED(F, PA, PW, ARGS)
#define RAS_PLAIN(F, PA, PW, ARGS)
#define RAS_FALLBACK(F, PA, PW, ARGS)           \
  DWORD WINAPI F PA {                           \
    auto f = AsEntryPoint<T##F##A>(rnaph_(#F)); \
    return f ARGS;                              \
  }
#include "Ras2/RasFunctions.def"

// ---------------------------------------------------------------- unit initialisation / finalisation
void Ras2Initialization() {
  // Nothing to do: the state above starts at its initial values.
}

void Ras2Finalization() {
  if (finalized) return;
  finalized = true;
  // Only rnaph.dll is released here; hLib belongs to CloseRas, and a chosen
  // rasapi32.dll is left to the process.
  if (rnaph_initialized && is_rnaph) FreeLibrary(lib);
}
