// The Win32 subset on Linux: module loading over dlopen, with Windows' search
// order and 32-bit module handles.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Win32/linux/Win32Linux.h"

using namespace qw_linux;

namespace {

struct Module {
  std::string path;
  void* dl = nullptr;
  uint32_t refs = 0;
};

// The executable's handle; it is always loaded and never freed.
constexpr HMODULE kExeModule = 0x00400000u;
constexpr HMODULE kFirstModule = 0x10000000u;
constexpr HMODULE kModuleStep = 0x00010000u;

struct ModuleTable {
  std::mutex lock;
  std::map<HMODULE, Module> modules;
  HMODULE next = kFirstModule;
  std::string dllDirectory;
  bool hasDllDirectory = false;
};

ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;  // outlives every other static
  return *table;
}

std::string ExePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// As on Windows, a name without an extension means a ".dll"; a trailing dot
// means "no extension, take the name as it is".
std::string WithDefaultExtension(const std::string& name) {
  std::string base = BaseName(name);
  if (!base.empty() && base.back() == '.') return name.substr(0, name.size() - 1);
  if (base.find('.') == std::string::npos) return name + ".dll";
  return name;
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

std::string LoadedPath(void* dl, const std::string& fallback) {
  struct link_map* map = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    return AbsolutePath(map->l_name);
  }
  return AbsolutePath(fallback);
}

// Our "system folder": the modules an installed Quor ships (its
// rasapi32.dll) live in "quor" beside the installed libquorwin32, as
// Windows keeps its own DLLs in the system folder. Quor's own build tree has
// no such folder (its programs find the modules beside themselves); built
// inside another project's tree, Quor names its build folder here
// (QUOR_BUILD_SYSTEM_FOLDER), so that the project's programs, wherever they
// lie, find the RAS service built with them.
#ifndef QUOR_BUILD_SYSTEM_FOLDER
#define QUOR_BUILD_SYSTEM_FOLDER ""
#endif
std::string SystemFolder() {
  const std::string buildTree = QUOR_BUILD_SYSTEM_FOLDER;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SystemFolder), &info) == 0 || info.dli_fname == nullptr) return buildTree;
  const std::string installed = DirName(AbsolutePath(info.dli_fname)) + "/quor";
  struct stat st;
  const bool isInstalled = stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return isInstalled || buildTree.empty() ? installed : buildTree;
}

void* OpenFirstFound(const std::string& file, bool systemOnly) {
  if (file.find('/') != std::string::npos) return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (systemOnly) {
    // The system folder and nothing else: not beside the executable, not the
    // DLL directory, not the loader's own search.
    const std::string system = SystemFolder();
    if (system.empty() || !IsFile(system + "/" + file)) return nullptr;
    return dlopen((system + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  // Beside the executable first, then the directory the application named,
  // then the system folder, then the system's own library search. The first
  // file found is the one loaded, as on Windows: a broken copy beside the
  // executable is not skipped.
  std::vector<std::string> candidates;
  candidates.push_back(DirName(ExePath()) + "/" + file);
  {
    ModuleTable& t = Modules();
    std::lock_guard<std::mutex> held(t.lock);
    if (t.hasDllDirectory && !t.dllDirectory.empty()) {
      candidates.push_back(t.dllDirectory + "/" + file);
    }
  }
  const std::string system = SystemFolder();
  if (!system.empty()) candidates.push_back(system + "/" + file);
  for (const std::string& candidate : candidates) {
    if (IsFile(candidate)) return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  return LoadLibraryExA(lpLibFileName, 0, 0);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') return Fail(ERROR_INVALID_PARAMETER);
  if (hFile != 0 || (dwFlags & ~static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32)) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string file = WithDefaultExtension(lpLibFileName);
  // The lock is not held here: the module's initialisation may itself call
  // into this layer (even LoadLibraryA).
  void* dl = OpenFirstFound(file, (dwFlags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0);
  if (dl == nullptr) return Fail(ERROR_MOD_NOT_FOUND);
  ModuleTable& t = Modules();
  std::unique_lock<std::mutex> held(t.lock);
  // Each LoadLibraryA holds one dlopen reference and each FreeLibrary gives
  // one back, so the object is unloaded exactly when our count reaches 0.
  for (auto& [handle, m] : t.modules) {
    if (m.dl == dl) {
      ++m.refs;
      return handle;
    }
  }
  if (t.next >= 0xFFF00000u) {
    held.unlock();
    dlclose(dl);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  HMODULE handle = t.next;
  t.next += kModuleStep;
  Module m;
  m.dl = dl;
  m.refs = 1;
  m.path = LoadedPath(dl, file);
  t.modules.emplace(handle, std::move(m));
  return handle;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (lpProcName == nullptr || IsIntAtom(lpProcName)) {
    tLastError = ERROR_PROC_NOT_FOUND;  // no exports by ordinal here
    return nullptr;
  }
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  void* dl = nullptr;
  if (hModule == kExeModule) {
    dl = dlopen(nullptr, RTLD_NOW);
    if (dl != nullptr) dlclose(dl);  // the executable stays loaded; the handle stays valid
  } else {
    auto it = t.modules.find(hModule);
    if (it == t.modules.end()) {
      tLastError = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    dl = it->second.dl;
  }
  void* symbol = dl != nullptr ? dlsym(dl, lpProcName) : nullptr;
  if (symbol == nullptr) {
    tLastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == kExeModule) return TRUE;
  ModuleTable& t = Modules();
  void* dl = nullptr;
  {
    std::lock_guard<std::mutex> held(t.lock);
    auto it = t.modules.find(hLibModule);
    if (it == t.modules.end()) return Fail(ERROR_INVALID_HANDLE);
    dl = it->second.dl;
    if (--it->second.refs == 0) t.modules.erase(it);
  }
  // Outside the lock: the module's finalisation may call back into us.
  dlclose(dl);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) return kExeModule;
  if (lpModuleName[0] == '\0') return Fail(ERROR_MOD_NOT_FOUND);
  std::string name = WithDefaultExtension(lpModuleName);
  bool byPath = name.find('/') != std::string::npos;
  std::string wanted = byPath ? AbsolutePath(name) : AsciiLower(name);
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  for (auto& [handle, m] : t.modules) {
    if (byPath ? m.path == wanted : AsciiLower(BaseName(m.path)) == wanted) return handle;
  }
  return Fail(ERROR_MOD_NOT_FOUND);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (hModule == 0 || hModule == kExeModule) {
    path = ExePath();
  } else {
    ModuleTable& t = Modules();
    std::lock_guard<std::mutex> held(t.lock);
    auto it = t.modules.find(hModule);
    if (it == t.modules.end()) return Fail(ERROR_MOD_NOT_FOUND);
    path = it->second.path;
  }
  if (lpFilename == nullptr || nSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // Like current Windows: a short buffer gets the truncated, terminated path,
  // the result is nSize and the error says the buffer was too small.
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    tLastError = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  tLastError = ERROR_SUCCESS;
  return static_cast<DWORD>(path.size());
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName) {
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  if (lpPathName == nullptr || lpPathName[0] == '\0') {
    t.dllDirectory.clear();
    t.hasDllDirectory = false;
  } else {
    t.dllDirectory = lpPathName;
    t.hasDllDirectory = true;
  }
  return TRUE;
}

}  // extern "C"
