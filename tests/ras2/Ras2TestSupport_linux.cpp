// Linux hooks of the loader tests. The test programs interpose two calls:
//
// dlopen: the library layer ends its search for "rasapi32.dll" with the
// system's own lookup by bare name, which in the build tree reaches the
// simulated RAS service beside the other programs. Here that last step finds
// nothing, as on a system without RAS, so only the executable's folder and
// the SetDllDirectoryA folder count.
//
// GetProcAddress: passes through to the library layer, except for names a
// test marked as faulting, which raise LookupFault instead.
#include <dlfcn.h>

#include <cstring>
#include <set>
#include <string>

#include "tests/ras2/Ras2TestSupport.h"

namespace {

using DlopenFn = void* (*)(const char*, int);
using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);

bool IsRasLibraryName(const char* file) {
  return std::strcmp(file, "rasapi32.dll") == 0 || std::strcmp(file, "rnaph.dll") == 0;
}

std::set<std::string>& FaultingNames() {
  static std::set<std::string> names;
  return names;
}

}  // namespace

extern "C" void* dlopen(const char* file, int mode) {
  static const DlopenFn next = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
  if (file != nullptr && std::strchr(file, '/') == nullptr && IsRasLibraryName(file)) return nullptr;
  return next(file, mode);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  static const GetProcAddressFn next = reinterpret_cast<GetProcAddressFn>(dlsym(RTLD_NEXT, "GetProcAddress"));
  if (lpProcName != nullptr && FaultingNames().count(lpProcName) != 0)
    throw ras2test::LookupFault(std::string("lookup of ") + lpProcName + " failed");
  return next(hModule, lpProcName);
}

namespace ras2test {

bool LibrarySearchConfined() {
  return true;
}

bool InjectLookupFault(const std::string& exportName) {
  FaultingNames().insert(exportName);
  return true;
}

void ClearLookupFaults() {
  FaultingNames().clear();
}

}  // namespace ras2test
