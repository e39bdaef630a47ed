// Stand-in for rasapi32.dll and rnaph.dll in the loader tests. One source,
// built into several variants by compile definitions:
//   FAKE_VARIANT="name"   the variant folder (reported in the call record)
//   FAKE_RNAPH            build rnaph.dll: only the four plain names
//   FAKE_ANSI_ONLY        rasapi32.dll without any wide export
//   FAKE_OMIT_<export>    leave out that one export
// Each entry point records its name and arguments and returns a number that
// names it (see FakeRasapi.h). Record pointers are passed as LPVOID: only
// their size matters to the calling convention, and the binding's own
// declarations would clash with these definitions of the same names.
#include "tests/ras2/FakeRasapi.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(FAKE_RNAPH)
#define FAKE_PLAIN 1
#define FAKE_FILE "rnaph.dll"
#else
#define FAKE_ANSI 1
#if !defined(FAKE_ANSI_ONLY)
#define FAKE_WIDE 1
#endif
#define FAKE_FILE "rasapi32.dll"
#endif

namespace {

FakeRasState state;

void Identify() {
  std::strncpy(state.variant, FAKE_VARIANT, sizeof state.variant - 1);
  std::strncpy(state.file, FAKE_FILE, sizeof state.file - 1);
}

}  // namespace

// Reports loading and unloading of rnaph.dll, so that a test watching the
// process's output can see when the library really comes and goes. These are
// the module's own load and unload routines, not exit handlers: at process
// exit they run only after every exit handler.
__attribute__((constructor)) static void FakeLoaded() {
  Identify();
#if defined(FAKE_RNAPH)
  std::fputs("[" FAKE_FILE " loaded]", stderr);
#endif
}

__attribute__((destructor)) static void FakeUnloaded() {
#if defined(FAKE_RNAPH)
  std::fputs("[" FAKE_FILE " unloaded]", stderr);
#endif
}

namespace {

template <typename T>
uint64_t Widen(T value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<uintptr_t>(value);
  else
    return static_cast<uint64_t>(value);
}

template <typename... T>
DWORD Record(const char* name, int family, bool wide, T... args) {
  ++state.calls;
  std::memset(state.name, 0, sizeof state.name);
  std::strncpy(state.name, name, sizeof state.name - 1);
  const uint64_t widened[] = {Widen(args)...};
  state.argc = sizeof...(T);
  for (size_t i = 0; i < sizeof...(T) && i < 6; ++i) state.args[i] = widened[i];
#if defined(FAKE_RNAPH)
  return FakeResult(family, wide, true);
#else
  return FakeResult(family, wide, false);
#endif
}

}  // namespace

#define FAKE_ENTRY(NAME, FAMILY, WIDE, PARAMS, ...)  \
  FAKE_EXPORT DWORD WINAPI NAME PARAMS {             \
    return Record(#NAME, FAMILY, WIDE, __VA_ARGS__); \
  }

FAKE_EXPORT FakeRasState* WINAPI FakeRasGetState() {
  return &state;
}

// ---- 1 RasCreatePhonebookEntry
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasCreatePhonebookEntryA)
FAKE_ENTRY(RasCreatePhonebookEntryA, 1, false, (HWND a, LPCSTR b), a, b)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasCreatePhonebookEntryW)
FAKE_ENTRY(RasCreatePhonebookEntryW, 1, true, (HWND a, LPCWSTR b), a, b)
#endif
// ---- 2 RasDial
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasDialA)
FAKE_ENTRY(RasDialA, 2, false, (LPVOID a, LPCSTR b, LPVOID c, DWORD d, DWORD e, LPDWORD f), a, b, c, d, e, f)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasDialW)
FAKE_ENTRY(RasDialW, 2, true, (LPVOID a, LPCWSTR b, LPVOID c, DWORD d, DWORD e, LPDWORD f), a, b, c, d, e, f)
#endif
// ---- 3 RasEditPhonebookEntry
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasEditPhonebookEntryA)
FAKE_ENTRY(RasEditPhonebookEntryA, 3, false, (HWND a, LPCSTR b, LPCSTR c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasEditPhonebookEntryW)
FAKE_ENTRY(RasEditPhonebookEntryW, 3, true, (HWND a, LPCWSTR b, LPCWSTR c), a, b, c)
#endif
// ---- 4 RasEnumConnections
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasEnumConnectionsA)
FAKE_ENTRY(RasEnumConnectionsA, 4, false, (LPVOID a, LPDWORD b, LPDWORD c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasEnumConnectionsW)
FAKE_ENTRY(RasEnumConnectionsW, 4, true, (LPVOID a, LPDWORD b, LPDWORD c), a, b, c)
#endif
// ---- 5 RasEnumEntries
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasEnumEntriesA)
FAKE_ENTRY(RasEnumEntriesA, 5, false, (LPCSTR a, LPCSTR b, LPVOID c, LPDWORD d, LPDWORD e), a, b, c, d, e)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasEnumEntriesW)
FAKE_ENTRY(RasEnumEntriesW, 5, true, (LPCWSTR a, LPCWSTR b, LPVOID c, LPDWORD d, LPDWORD e), a, b, c, d, e)
#endif
// ---- 6 RasGetConnectStatus
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetConnectStatusA)
FAKE_ENTRY(RasGetConnectStatusA, 6, false, (DWORD a, LPVOID b), a, b)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetConnectStatusW)
FAKE_ENTRY(RasGetConnectStatusW, 6, true, (DWORD a, LPVOID b), a, b)
#endif
// ---- 7 RasGetEntryDialParams
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetEntryDialParamsA)
FAKE_ENTRY(RasGetEntryDialParamsA, 7, false, (LPCSTR a, LPVOID b, BOOL* c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetEntryDialParamsW)
FAKE_ENTRY(RasGetEntryDialParamsW, 7, true, (LPCWSTR a, LPVOID b, BOOL* c), a, b, c)
#endif
// ---- 8 RasGetErrorString
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetErrorStringA)
FAKE_ENTRY(RasGetErrorStringA, 8, false, (UINT a, LPSTR b, DWORD c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetErrorStringW)
FAKE_ENTRY(RasGetErrorStringW, 8, true, (UINT a, LPWSTR b, DWORD c), a, b, c)
#endif
// ---- 9 RasGetProjectionInfo
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetProjectionInfoA)
FAKE_ENTRY(RasGetProjectionInfoA, 9, false, (DWORD a, DWORD b, LPVOID c, LPDWORD d), a, b, c, d)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetProjectionInfoW)
FAKE_ENTRY(RasGetProjectionInfoW, 9, true, (DWORD a, DWORD b, LPVOID c, LPDWORD d), a, b, c, d)
#endif
// ---- 10 RasHangUp
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasHangUpA)
FAKE_ENTRY(RasHangUpA, 10, false, (DWORD a), a)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasHangUpW)
FAKE_ENTRY(RasHangUpW, 10, true, (DWORD a), a)
#endif
// ---- 11 RasSetEntryDialParams
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasSetEntryDialParamsA)
FAKE_ENTRY(RasSetEntryDialParamsA, 11, false, (LPCSTR a, LPVOID b, BOOL c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasSetEntryDialParamsW)
FAKE_ENTRY(RasSetEntryDialParamsW, 11, true, (LPCWSTR a, LPVOID b, BOOL c), a, b, c)
#endif
// ---- 12 RasValidateEntryName
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasValidateEntryNameA)
FAKE_ENTRY(RasValidateEntryNameA, 12, false, (LPCSTR a, LPCSTR b), a, b)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasValidateEntryNameW)
FAKE_ENTRY(RasValidateEntryNameW, 12, true, (LPCWSTR a, LPCWSTR b), a, b)
#endif
// ---- 13 RasRenameEntry
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasRenameEntryA)
FAKE_ENTRY(RasRenameEntryA, 13, false, (LPCSTR a, LPCSTR b, LPCSTR c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasRenameEntryW)
FAKE_ENTRY(RasRenameEntryW, 13, true, (LPCWSTR a, LPCWSTR b, LPCWSTR c), a, b, c)
#endif
// ---- 14 RasDeleteEntry
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasDeleteEntryA)
FAKE_ENTRY(RasDeleteEntryA, 14, false, (LPCSTR a, LPCSTR b), a, b)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasDeleteEntryW)
FAKE_ENTRY(RasDeleteEntryW, 14, true, (LPCWSTR a, LPCWSTR b), a, b)
#endif
// ---- 15 RasGetEntryProperties
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetEntryPropertiesA)
FAKE_ENTRY(RasGetEntryPropertiesA, 15, false, (LPCSTR a, LPCSTR b, LPVOID c, LPDWORD d, LPVOID e, LPDWORD f), a, b, c,
           d, e, f)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetEntryPropertiesW)
FAKE_ENTRY(RasGetEntryPropertiesW, 15, true, (LPCWSTR a, LPCWSTR b, LPVOID c, LPDWORD d, LPVOID e, LPDWORD f), a, b, c,
           d, e, f)
#endif
#if defined(FAKE_PLAIN) && !defined(FAKE_OMIT_RasGetEntryProperties)
FAKE_ENTRY(RasGetEntryProperties, 15, false, (LPCSTR a, LPCSTR b, LPVOID c, LPDWORD d, LPVOID e, LPDWORD f), a, b, c, d,
           e, f)
#endif
// ---- 16 RasSetEntryProperties
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasSetEntryPropertiesA)
FAKE_ENTRY(RasSetEntryPropertiesA, 16, false, (LPCSTR a, LPCSTR b, LPVOID c, DWORD d, LPVOID e, DWORD f), a, b, c, d, e,
           f)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasSetEntryPropertiesW)
FAKE_ENTRY(RasSetEntryPropertiesW, 16, true, (LPCWSTR a, LPCWSTR b, LPVOID c, DWORD d, LPVOID e, DWORD f), a, b, c, d,
           e, f)
#endif
#if defined(FAKE_PLAIN) && !defined(FAKE_OMIT_RasSetEntryProperties)
FAKE_ENTRY(RasSetEntryProperties, 16, false, (LPCSTR a, LPCSTR b, LPVOID c, DWORD d, LPVOID e, DWORD f), a, b, c, d, e,
           f)
#endif
// ---- 17 RasGetCountryInfo
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasGetCountryInfoA)
FAKE_ENTRY(RasGetCountryInfoA, 17, false, (LPVOID a, LPDWORD b), a, b)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasGetCountryInfoW)
FAKE_ENTRY(RasGetCountryInfoW, 17, true, (LPVOID a, LPDWORD b), a, b)
#endif
#if defined(FAKE_PLAIN) && !defined(FAKE_OMIT_RasGetCountryInfo)
FAKE_ENTRY(RasGetCountryInfo, 17, false, (LPVOID a, LPDWORD b), a, b)
#endif
// ---- 18 RasEnumDevices
#if defined(FAKE_ANSI) && !defined(FAKE_OMIT_RasEnumDevicesA)
FAKE_ENTRY(RasEnumDevicesA, 18, false, (LPVOID a, LPDWORD b, LPDWORD c), a, b, c)
#endif
#if defined(FAKE_WIDE) && !defined(FAKE_OMIT_RasEnumDevicesW)
FAKE_ENTRY(RasEnumDevicesW, 18, true, (LPVOID a, LPDWORD b, LPDWORD c), a, b, c)
#endif
#if defined(FAKE_PLAIN) && !defined(FAKE_OMIT_RasEnumDevices)
FAKE_ENTRY(RasEnumDevices, 18, false, (LPVOID a, LPDWORD b, LPDWORD c), a, b, c)
#endif
