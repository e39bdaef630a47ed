// Facts about the Windows host a test runs on: whether it is Wine, and
// whether a loaded module is one of Wine's built-in DLLs or a native one from
// disk. Shared by the Windows-only suites.
#pragma once

#include <cstring>
#include <string>

#include "Win32/Win32.h"

namespace quor_windows_test {

// True when the process runs under Wine (its ntdll exports wine_get_version).
inline bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine's built-in modules carry this text at their base + 0x40, inside the
// DOS stub; a DLL built by our compiler has its ordinary stub program there.
constexpr char kWineBuiltinMark[] = "Wine builtin DLL";

inline bool IsWineBuiltin(HMODULE Module) {
  if (Module == nullptr) return false;
  const char* base = reinterpret_cast<const char*>(Module);
  return std::memcmp(base + 0x40, kWineBuiltinMark, sizeof(kWineBuiltinMark) - 1) == 0;
}

// The folder a module was loaded from, with its trailing separator.
inline std::string ModuleFolder(HMODULE Module) {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(Module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string s(path, n);
  size_t slash = s.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

}  // namespace quor_windows_test
