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

TRasCreatePhonebookEntryA RasCreatePhonebookEntryA = nullptr;
TRasCreatePhonebookEntryW RasCreatePhonebookEntryW = nullptr;
TRasCreatePhonebookEntry RasCreatePhonebookEntry = nullptr;
TRasDialA RasDialA = nullptr;
TRasDialW RasDialW = nullptr;
TRasDial RasDial = nullptr;
TRasEditPhonebookEntryA RasEditPhonebookEntryA = nullptr;
TRasEditPhonebookEntryW RasEditPhonebookEntryW = nullptr;
TRasEditPhonebookEntry RasEditPhonebookEntry = nullptr;
TRasEnumConnectionsA RasEnumConnectionsA = nullptr;
TRasEnumConnectionsW RasEnumConnectionsW = nullptr;
TRasEnumConnections RasEnumConnections = nullptr;
TRasEnumEntriesA RasEnumEntriesA = nullptr;
TRasEnumEntriesW RasEnumEntriesW = nullptr;
TRasEnumEntries RasEnumEntries = nullptr;
TRasGetConnectStatusA RasGetConnectStatusA = nullptr;
TRasGetConnectStatusW RasGetConnectStatusW = nullptr;
TRasGetConnectStatus RasGetConnectStatus = nullptr;
TRasGetEntryDialParamsA RasGetEntryDialParamsA = nullptr;
TRasGetEntryDialParamsW RasGetEntryDialParamsW = nullptr;
TRasGetEntryDialParams RasGetEntryDialParams = nullptr;
TRasGetErrorStringA RasGetErrorStringA = nullptr;
TRasGetErrorStringW RasGetErrorStringW = nullptr;
TRasGetErrorString RasGetErrorString = nullptr;
TRasGetProjectionInfoA RasGetProjectionInfoA = nullptr;
TRasGetProjectionInfoW RasGetProjectionInfoW = nullptr;
TRasGetProjectionInfo RasGetProjectionInfo = nullptr;
TRasHangUpA RasHangUpA = nullptr;
TRasHangUpW RasHangUpW = nullptr;
TRasHangUp RasHangUp = nullptr;
TRasSetEntryDialParamsA RasSetEntryDialParamsA = nullptr;
TRasSetEntryDialParamsW RasSetEntryDialParamsW = nullptr;
TRasSetEntryDialParams RasSetEntryDialParams = nullptr;
TRasValidateEntryNameA RasValidateEntryNameA = nullptr;
TRasValidateEntryNameW RasValidateEntryNameW = nullptr;
TRasRenameEntryA RasRenameEntryA = nullptr;
TRasRenameEntryW RasRenameEntryW = nullptr;
TRasDeleteEntryA RasDeleteEntryA = nullptr;
TRasDeleteEntryW RasDeleteEntryW = nullptr;
TRasGetEntryPropertiesA RasGetEntryPropertiesA = nullptr;
TRasGetEntryPropertiesW RasGetEntryPropertiesW = nullptr;
TRasSetEntryPropertiesA RasSetEntryPropertiesA = nullptr;
TRasSetEntryPropertiesW RasSetEntryPropertiesW = nullptr;
TRasGetCountryInfoA RasGetCountryInfoA = nullptr;
TRasGetCountryInfoW RasGetCountryInfoW = nullptr;
TRasEnumDevicesA RasEnumDevicesA = nullptr;
TRasEnumDevicesW RasEnumDevicesW = nullptr;

namespace {

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
    lib = LoadLibraryA("rasapi32.dll");
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
    lib = LoadLibraryA("rnaph.dll");
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
bool InitRas() {
  hLib = LoadLibraryA("rasapi32.dll");
  if (hLib == 0) return false;

  // Families 1 to 11: ANSI, wide, then neutral (bound to the ANSI export).
  BindGuarded(RasCreatePhonebookEntryA, "RasCreatePhonebookEntryA");
  BindGuarded(RasCreatePhonebookEntryW, "RasCreatePhonebookEntryW");
  BindGuarded(RasCreatePhonebookEntry, "RasCreatePhonebookEntryA");
  BindGuarded(RasDialA, "RasDialA");
  BindGuarded(RasDialW, "RasDialW");
  BindGuarded(RasDial, "RasDialA");
  BindGuarded(RasEditPhonebookEntryA, "RasEditPhonebookEntryA");
  BindGuarded(RasEditPhonebookEntryW, "RasEditPhonebookEntryW");
  BindGuarded(RasEditPhonebookEntry, "RasEditPhonebookEntryA");
  BindGuarded(RasEnumConnectionsA, "RasEnumConnectionsA");
  BindGuarded(RasEnumConnectionsW, "RasEnumConnectionsW");
  BindGuarded(RasEnumConnections, "RasEnumConnectionsA");
  BindGuarded(RasEnumEntriesA, "RasEnumEntriesA");
  BindGuarded(RasEnumEntriesW, "RasEnumEntriesW");
  BindGuarded(RasEnumEntries, "RasEnumEntriesA");
  BindGuarded(RasGetConnectStatusA, "RasGetConnectStatusA");
  BindGuarded(RasGetConnectStatusW, "RasGetConnectStatusW");
  BindGuarded(RasGetConnectStatus, "RasGetConnectStatusA");
  BindGuarded(RasGetEntryDialParamsA, "RasGetEntryDialParamsA");
  BindGuarded(RasGetEntryDialParamsW, "RasGetEntryDialParamsW");
  BindGuarded(RasGetEntryDialParams, "RasGetEntryDialParamsA");
  BindGuarded(RasGetErrorStringA, "RasGetErrorStringA");
  BindGuarded(RasGetErrorStringW, "RasGetErrorStringW");
  BindGuarded(RasGetErrorString, "RasGetErrorStringA");
  BindGuarded(RasGetProjectionInfoA, "RasGetProjectionInfoA");
  BindGuarded(RasGetProjectionInfoW, "RasGetProjectionInfoW");
  BindGuarded(RasGetProjectionInfo, "RasGetProjectionInfoA");
  BindGuarded(RasHangUpA, "RasHangUpA");
  BindGuarded(RasHangUpW, "RasHangUpW");
  BindGuarded(RasHangUp, "RasHangUpA");
  BindGuarded(RasSetEntryDialParamsA, "RasSetEntryDialParamsA");
  BindGuarded(RasSetEntryDialParamsW, "RasSetEntryDialParamsW");
  BindGuarded(RasSetEntryDialParams, "RasSetEntryDialParamsA");

  // Families 12 to 18: ANSI and wide only.
  Bind(RasValidateEntryNameA, "RasValidateEntryNameA");
  Bind(RasValidateEntryNameW, "RasValidateEntryNameW");
  Bind(RasRenameEntryA, "RasRenameEntryA");
  Bind(RasRenameEntryW, "RasRenameEntryW");
  Bind(RasDeleteEntryA, "RasDeleteEntryA");
  Bind(RasDeleteEntryW, "RasDeleteEntryW");
  Bind(RasGetEntryPropertiesA, "RasGetEntryPropertiesA");
  Bind(RasGetEntryPropertiesW, "RasGetEntryPropertiesW");
  Bind(RasSetEntryPropertiesA, "RasSetEntryPropertiesA");
  Bind(RasSetEntryPropertiesW, "RasSetEntryPropertiesW");
  Bind(RasGetCountryInfoA, "RasGetCountryInfoA");
  Bind(RasGetCountryInfoW, "RasGetCountryInfoW");
  Bind(RasEnumDevicesA, "RasEnumDevicesA");
  Bind(RasEnumDevicesW, "RasEnumDevicesW");
  return true;
}

bool CloseRas() {
  if (hLib != 0) FreeLibrary(hLib);
  return true;
}

// ---------------------------------------------------------------- fallback functions
DWORD WINAPI RasGetEntryProperties(LPCSTR lpszPhonebook, LPCSTR szEntry, LPVOID lpbEntry, LPDWORD lpdwEntrySize,
                                   LPVOID lpbDeviceInfo, LPDWORD lpdwDeviceInfoSize) {
  auto f = AsEntryPoint<TRasGetEntryPropertiesA>(rnaph_("RasGetEntryProperties"));
  return f(lpszPhonebook, szEntry, lpbEntry, lpdwEntrySize, lpbDeviceInfo, lpdwDeviceInfoSize);
}

DWORD WINAPI RasSetEntryProperties(LPCSTR lpszPhonebook, LPCSTR szEntry, LPVOID lpbEntry, DWORD dwEntrySize,
                                   LPVOID lpbDeviceInfo, DWORD dwDeviceInfoSize) {
  auto f = AsEntryPoint<TRasSetEntryPropertiesA>(rnaph_("RasSetEntryProperties"));
  return f(lpszPhonebook, szEntry, lpbEntry, dwEntrySize, lpbDeviceInfo, dwDeviceInfoSize);
}

DWORD WINAPI RasGetCountryInfo(LPRasCtryInfo lpCtryInfo, LPDWORD lpdwSize) {
  auto f = AsEntryPoint<TRasGetCountryInfoA>(rnaph_("RasGetCountryInfo"));
  return f(lpCtryInfo, lpdwSize);
}

DWORD WINAPI RasEnumDevices(LPRasDevInfoA lpBuff, LPDWORD lpcbSize, LPDWORD lpcDevices) {
  auto f = AsEntryPoint<TRasEnumDevicesA>(rnaph_("RasEnumDevices"));
  return f(lpBuff, lpcbSize, lpcDevices);
}

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
