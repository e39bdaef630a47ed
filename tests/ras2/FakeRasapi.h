// What the stand-in RAS libraries of the loader tests expose besides their
// RAS entry points: a record of the last call, so a test can tell which
// export of which library ran and with which arguments.
#pragma once

#include <cstdint>

#include "Win32/Win32.h"

struct FakeRasState {
  uint32_t calls;    // entry points of this library called so far
  char variant[32];  // the variant folder the library was built for
  char file[16];     // "rasapi32.dll" or "rnaph.dll"
  char name[40];     // export name of the last entry point called
  uint32_t argc;     // its argument count
  uint64_t args[6];  // its arguments, pointers and numbers widened
};

// Every entry point returns FakeResult(family, wide, rnaph): families are
// numbered 1..18 in binding order, so no two exports return the same number.
constexpr DWORD kFakeRasapiBase = 1000;
constexpr DWORD kFakeRnaphBase = 2000;
constexpr DWORD FakeResult(int family, bool wide, bool rnaph) {
  return (rnaph ? kFakeRnaphBase : kFakeRasapiBase) + static_cast<DWORD>(family) * 10 + (wide ? 1 : 0);
}

// Exported by every variant as "FakeRasGetState".
typedef FakeRasState*(WINAPI* TFakeRasStateFn)();
