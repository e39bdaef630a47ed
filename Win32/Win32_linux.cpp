// The Win32 subset on Linux: module loading over dlopen, registered window
// messages, window classes and windows kept in a table, and one message queue
// per thread. Everything lives in this one shared library so that every
// module of the process sees the same windows, message numbers and queues.
//
// Locking: modules have their own lock; everything of user32 shares one lock.
// No lock is ever held while a window procedure, a module's initialisation or
// a clock callback runs, so any of them may call back into this layer.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Win32/Win32.h"

namespace {

// ---------------------------------------------------------------------------
// Threads and errors

thread_local DWORD tLastError = 0;
std::atomic<DWORD> gLastThreadId{1000};

// Our own thread ids: small, never reused within the process, the same for
// every module (they all call into this library).
DWORD ThisThreadId() {
  thread_local DWORD id = gLastThreadId.fetch_add(4) + 4;
  return id;
}

BOOL Fail(DWORD error) {
  tLastError = error;
  return FALSE;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// A "name" argument below 0x10000 is an integer atom (MAKEINTATOM), never a
// pointer that could be read.
bool IsIntAtom(LPCSTR name) {
  return reinterpret_cast<uintptr_t>(name) < 0x10000;
}
WORD IntAtom(LPCSTR name) {
  return static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
}

// ---------------------------------------------------------------------------
// Modules

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
// Windows keeps its own DLLs in the system folder. In a build tree no such
// folder exists.
std::string SystemFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SystemFolder), &info) == 0 || info.dli_fname == nullptr) return "";
  return DirName(AbsolutePath(info.dli_fname)) + "/quor";
}

void* OpenFirstFound(const std::string& file) {
  if (file.find('/') != std::string::npos) return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
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

// ---------------------------------------------------------------------------
// user32 state

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;
constexpr WORD kFirstClassAtom = 0xC000;
constexpr size_t kMaxAtomName = 255;
constexpr size_t kQueueLimit = 10000;  // Windows' default posted-message quota
constexpr HWND kFirstWindow = 0x00010000u;
constexpr HWND kLastWindow = 0xFFFF0000u;  // keeps clear of HWND_MESSAGE and friends
constexpr HWND kThreadMessagesOnly = static_cast<HWND>(-1);

struct WindowClass {
  std::string key;  // lower-case name
  WORD atom = 0;
  HINSTANCE instance = 0;
  WNDPROC proc = nullptr;
  int windows = 0;
};

struct Window {
  uint32_t classId = 0;
  std::string classKey;
  WORD classAtom = 0;
  std::string title;
  HWND parent = 0;
  bool messageOnly = false;
  bool child = false;
  bool visible = false;
  bool iconic = false;
  bool destroying = false;
  WNDPROC proc = nullptr;
  LONG_PTR userData = 0;
  DWORD thread = 0;
};

struct Queue;

struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<Queue> sender;
};

struct Queue {
  DWORD thread = 0;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  uint64_t version = 0;  // bumped by everything that may wake the owner
  std::condition_variable wake;
};

struct UserState {
  std::mutex lock;
  std::map<std::string, UINT> messages;
  UINT nextMessage = kFirstRegisteredMessage;
  std::map<std::string, WORD> classAtoms;
  WORD nextClassAtom = kFirstClassAtom;
  bool classAtomsExhausted = false;
  std::map<uint32_t, WindowClass> classes;
  uint32_t nextClassId = 1;
  std::map<HWND, Window> windows;  // ordered by handle, i.e. by creation
  HWND nextWindow = kFirstWindow;
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
};

// Never destroyed: threads leaving after static destruction (and other
// modules' destructors) still find a valid table.
UserState& User() {
  static UserState* state = new UserState;
  return *state;
}

void CleanUpThread(DWORD thread);

// Removes the thread's queue and windows when the thread ends, as Windows
// does, so posts to them fail instead of piling up.
struct ThreadGuard {
  DWORD thread = 0;
  ~ThreadGuard() {
    if (thread != 0) CleanUpThread(thread);
  }
};
thread_local ThreadGuard tGuard;

std::shared_ptr<Queue> OwnQueueLocked(UserState& u) {
  DWORD id = ThisThreadId();
  auto it = u.queues.find(id);
  if (it != u.queues.end()) return it->second;
  auto q = std::make_shared<Queue>();
  q->thread = id;
  u.queues.emplace(id, q);
  tGuard.thread = id;
  return q;
}

Window* FindWindowLocked(UserState& u, HWND h) {
  auto it = u.windows.find(h);
  return it == u.windows.end() ? nullptr : &it->second;
}

bool IsDescendantLocked(UserState& u, HWND h, HWND ancestor) {
  for (int depth = 0; depth < 1000; ++depth) {
    Window* w = FindWindowLocked(u, h);
    if (w == nullptr || !w->child) return false;
    if (w->parent == ancestor) return true;
    h = w->parent;
  }
  return false;
}

void Wake(Queue& q) {
  ++q.version;
  q.wake.notify_all();
}

BOOL PostLocked(Queue& q, HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  if (q.posted.size() >= kQueueLimit) return Fail(ERROR_NOT_ENOUGH_QUOTA);
  MSG m{};
  m.hwnd = h;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = static_cast<DWORD>(QuorClockNow());
  q.posted.push_back(m);
  Wake(q);
  return TRUE;
}

void FinishSent(SentMessage& sm, LRESULT result) {
  sm.result = result;
  sm.done = true;
  if (sm.sender) Wake(*sm.sender);
}

// Runs the messages other threads sent to this thread's windows. Called with
// the lock held; drops it around each window procedure.
void ProcessSentLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held) {
  while (!q.sent.empty()) {
    std::shared_ptr<SentMessage> sm = q.sent.front();
    q.sent.pop_front();
    Window* w = FindWindowLocked(u, sm->hwnd);
    if (w == nullptr || w->thread != q.thread || w->proc == nullptr) {
      FinishSent(*sm, 0);
      continue;
    }
    WNDPROC proc = w->proc;
    held.unlock();
    LRESULT result = proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
    held.lock();
    FinishSent(*sm, result);
  }
}

bool MatchesFilter(UserState& u, const MSG& m, HWND h, UINT minMsg, UINT maxMsg) {
  if (h == kThreadMessagesOnly) {
    if (m.hwnd != 0) return false;
  } else if (h != 0) {
    if (m.hwnd != h && !IsDescendantLocked(u, m.hwnd, h)) return false;
  }
  if (minMsg == 0 && maxMsg == 0) return true;
  return m.message >= minMsg && m.message <= maxMsg;
}

bool HasInputLocked(const Queue& q) {
  return !q.posted.empty() || !q.sent.empty() || q.quit;
}

// 1: got a message, 0: nothing, -1: bad arguments.
int PeekLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held, LPMSG out, HWND h, UINT minMsg, UINT maxMsg,
               bool remove) {
  ProcessSentLocked(u, q, held);
  if (h != 0 && h != kThreadMessagesOnly && FindWindowLocked(u, h) == nullptr) {
    tLastError = ERROR_INVALID_WINDOW_HANDLE;
    return -1;
  }
  for (auto it = q.posted.begin(); it != q.posted.end();) {
    // A message whose window went away is dropped, never delivered.
    if (it->hwnd != 0 && FindWindowLocked(u, it->hwnd) == nullptr) {
      it = q.posted.erase(it);
      continue;
    }
    if (MatchesFilter(u, *it, h, minMsg, maxMsg)) {
      *out = *it;
      if (remove) q.posted.erase(it);
      return 1;
    }
    ++it;
  }
  // WM_QUIT comes after the posted messages, whatever the filter.
  if (q.quit) {
    MSG m{};
    m.message = WM_QUIT;
    m.wParam = static_cast<WPARAM>(q.quitCode);
    m.time = static_cast<DWORD>(QuorClockNow());
    *out = m;
    if (remove) q.quit = false;
    return 1;
  }
  return 0;
}

// Waits (in real time) until something new arrives in the queue, or until
// `timeout` passes.
void WaitForChange(Queue& q, std::unique_lock<std::mutex>& held, std::chrono::milliseconds timeout) {
  uint64_t seen = q.version;
  q.wake.wait_for(held, timeout, [&] { return q.version != seen; });
}

// Removes a window from the table with no message to it: its thread has
// ended, so nobody could run its procedure.
void DropWindowLocked(UserState& u, HWND h) {
  auto it = u.windows.find(h);
  if (it == u.windows.end()) return;
  auto cls = u.classes.find(it->second.classId);
  if (cls != u.classes.end() && cls->second.windows > 0) --cls->second.windows;
  auto q = u.queues.find(it->second.thread);
  if (q != u.queues.end()) {
    auto& posted = q->second->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [h](const MSG& m) { return m.hwnd == h; }), posted.end());
  }
  u.windows.erase(it);
}

void CleanUpThread(DWORD thread) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  std::vector<HWND> owned;
  for (auto& [h, w] : u.windows) {
    if (w.thread == thread) owned.push_back(h);
  }
  for (HWND h : owned) DropWindowLocked(u, h);
  auto it = u.queues.find(thread);
  if (it == u.queues.end()) return;
  std::shared_ptr<Queue> q = it->second;
  u.queues.erase(it);
  // Threads waiting in SendMessageA for us get 0 rather than waiting forever.
  for (auto& sm : q->sent) FinishSent(*sm, 0);
  q->sent.clear();
  q->posted.clear();
}

const WindowClass* FindClassLocked(UserState& u, LPCSTR name, HINSTANCE instance, uint32_t* id) {
  const WindowClass* any = nullptr;
  uint32_t anyId = 0;
  std::string key;
  WORD atom = 0;
  if (IsIntAtom(name)) {
    atom = IntAtom(name);
  } else {
    key = AsciiLower(std::string(name));
  }
  for (auto& [classId, c] : u.classes) {
    bool match = atom != 0 ? c.atom == atom : c.key == key;
    if (!match) continue;
    if (c.instance == instance) {
      *id = classId;
      return &c;
    }
    if (any == nullptr) {
      any = &c;
      anyId = classId;
    }
  }
  *id = anyId;
  return any;
}

bool SendsDirectly(const Window& w) {
  return w.thread == ThisThreadId();
}

// Destroys a window and then the windows it parents or owns. A window whose
// WM_CREATE refused the creation gets no WM_DESTROY, as on Windows.
BOOL DestroyWindowAndDependents(HWND hWnd, bool sendDestroy) {
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!SendsDirectly(*w)) return Fail(ERROR_ACCESS_DENIED);  // only its own thread may
  if (w->destroying) return TRUE;  // already on its way out (e.g. called again from WM_DESTROY)
  w->destroying = true;
  WNDPROC proc = w->proc;
  held.unlock();
  if (sendDestroy) proc(hWnd, WM_DESTROY, 0, 0);

  // Then the windows it parents or owns, in creation order.
  held.lock();
  std::vector<HWND> dependents;
  std::vector<HWND> foreign;
  for (auto& [h, other] : u.windows) {
    if (other.parent != hWnd || other.destroying) continue;
    (SendsDirectly(other) ? dependents : foreign).push_back(h);
  }
  // A dependent window of another thread cannot get WM_DESTROY from here; it
  // goes without a message rather than outliving its parent.
  for (HWND h : foreign) DropWindowLocked(u, h);
  held.unlock();
  for (HWND h : dependents) DestroyWindowAndDependents(h, true);
  held.lock();
  DropWindowLocked(u, hWnd);
  return TRUE;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// kernel32

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') return Fail(ERROR_INVALID_PARAMETER);
  std::string file = WithDefaultExtension(lpLibFileName);
  // The lock is not held here: the module's initialisation may itself call
  // into this layer (even LoadLibraryA).
  void* dl = OpenFirstFound(file);
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

void WINAPI Sleep(DWORD dwMilliseconds) {
  QuorSleep(dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(QuorClockNow());
}

DWORD WINAPI GetCurrentThreadId(void) {
  return ThisThreadId();
}

DWORD WINAPI GetCurrentProcessId(void) {
  return static_cast<DWORD>(getpid());
}

DWORD WINAPI GetLastError(void) {
  return tLastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  tLastError = dwErrCode;
}

// ---------------------------------------------------------------------------
// user32: registered messages and classes

UINT WINAPI RegisterWindowMessageA(LPCSTR lpString) {
  if (lpString == nullptr || IsIntAtom(lpString) || lpString[0] == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string key = AsciiLower(std::string(lpString));
  if (key.size() > kMaxAtomName) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  auto it = u.messages.find(key);
  if (it != u.messages.end()) return it->second;
  if (u.nextMessage > kLastRegisteredMessage) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  UINT number = u.nextMessage++;
  u.messages.emplace(key, number);
  return number;
}

WORD WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
  if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr || lpWndClass->lpszClassName == nullptr ||
      IsIntAtom(lpWndClass->lpszClassName) || lpWndClass->lpszClassName[0] == '\0') {
    return static_cast<WORD>(Fail(ERROR_INVALID_PARAMETER));
  }
  std::string key = AsciiLower(std::string(lpWndClass->lpszClassName));
  if (key.size() > kMaxAtomName) return static_cast<WORD>(Fail(ERROR_INVALID_PARAMETER));
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  for (auto& [id, c] : u.classes) {
    if (c.key == key && c.instance == lpWndClass->hInstance) {
      return static_cast<WORD>(Fail(ERROR_CLASS_ALREADY_EXISTS));
    }
  }
  // One name, one atom, for the life of the process.
  WORD atom;
  auto known = u.classAtoms.find(key);
  if (known != u.classAtoms.end()) {
    atom = known->second;
  } else {
    if (u.classAtomsExhausted) return static_cast<WORD>(Fail(ERROR_NOT_ENOUGH_MEMORY));
    atom = u.nextClassAtom;
    if (u.nextClassAtom == 0xFFFF) {
      u.classAtomsExhausted = true;
    } else {
      ++u.nextClassAtom;
    }
    u.classAtoms.emplace(key, atom);
  }
  WindowClass c;
  c.key = key;
  c.atom = atom;
  c.instance = lpWndClass->hInstance;
  c.proc = lpWndClass->lpfnWndProc;
  u.classes.emplace(u.nextClassId++, std::move(c));
  return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
  if (lpClassName == nullptr) return Fail(ERROR_CLASS_DOES_NOT_EXIST);
  std::string key = IsIntAtom(lpClassName) ? std::string() : AsciiLower(std::string(lpClassName));
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  for (auto it = u.classes.begin(); it != u.classes.end(); ++it) {
    const WindowClass& c = it->second;
    bool match = IsIntAtom(lpClassName) ? c.atom == IntAtom(lpClassName) : c.key == key;
    if (!match || c.instance != hInstance) continue;
    if (c.windows > 0) return Fail(ERROR_CLASS_HAS_WINDOWS);
    u.classes.erase(it);
    return TRUE;
  }
  return Fail(ERROR_CLASS_DOES_NOT_EXIST);
}

// ---------------------------------------------------------------------------
// user32: windows

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  if (lpClassName == nullptr) return Fail(ERROR_CANNOT_FIND_WND_CLASS);
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  uint32_t classId = 0;
  const WindowClass* cls = FindClassLocked(u, lpClassName, hInstance, &classId);
  if (cls == nullptr) return Fail(ERROR_CANNOT_FIND_WND_CLASS);
  Window w;
  w.messageOnly = hWndParent == HWND_MESSAGE;
  if (!w.messageOnly && hWndParent != 0) {
    if (FindWindowLocked(u, hWndParent) == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    w.parent = hWndParent;
    w.child = (dwStyle & WS_CHILD) != 0;  // without WS_CHILD it is an owned top-level window
  } else if ((dwStyle & WS_CHILD) != 0 && !w.messageOnly) {
    return Fail(ERROR_TLW_WITH_WSCHILD);
  }
  if (u.nextWindow >= kLastWindow) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  HWND h = u.nextWindow;
  u.nextWindow += 2;  // never reused: a stale handle never names a new window
  w.classId = classId;
  w.classKey = cls->key;
  w.classAtom = cls->atom;
  w.title = lpWindowName != nullptr && !IsIntAtom(lpWindowName) ? lpWindowName : "";
  w.visible = (dwStyle & WS_VISIBLE) != 0;
  w.iconic = (dwStyle & WS_MINIMIZE) != 0;
  w.proc = cls->proc;
  w.thread = ThisThreadId();
  u.classes[classId].windows++;
  OwnQueueLocked(u);
  WNDPROC proc = w.proc;
  u.windows.emplace(h, std::move(w));
  held.unlock();

  CREATESTRUCTA cs{};
  cs.lpCreateParams = lpParam;
  cs.hInstance = hInstance;
  cs.hMenu = hMenu;
  cs.hwndParent = hWndParent;
  cs.cy = nHeight;
  cs.cx = nWidth;
  cs.y = Y;
  cs.x = X;
  cs.style = static_cast<LONG>(dwStyle);
  cs.lpszName = lpWindowName;
  cs.lpszClass = lpClassName;
  cs.dwExStyle = dwExStyle;
  if (proc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    // The window refused to be created: it goes again at once.
    DestroyWindowAndDependents(h, false);
    return Fail(ERROR_CANCELLED);
  }
  return h;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  return DestroyWindowAndDependents(hWnd, true);
}

BOOL WINAPI IsWindow(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  return FindWindowLocked(u, hWnd) != nullptr ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (Msg == WM_CLOSE) DestroyWindow(hWnd);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  LONG_PTR previous;
  switch (nIndex) {
    case GWLP_USERDATA:
      previous = w->userData;
      w->userData = dwNewLong;
      break;
    case GWLP_WNDPROC:
      // A window without a procedure could never be called safely.
      if (dwNewLong == 0) return Fail(ERROR_INVALID_PARAMETER);
      previous = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(dwNewLong);
      break;
    default:
      return Fail(ERROR_INVALID_INDEX);
  }
  tLastError = ERROR_SUCCESS;  // so that a previous value of 0 can be told from failure
  return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  switch (nIndex) {
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    default:
      return Fail(ERROR_INVALID_INDEX);
  }
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) {
    lpString[0] = '\0';
    return Fail(ERROR_INVALID_WINDOW_HANDLE);
  }
  size_t n = std::min(w->title.size(), static_cast<size_t>(nMaxCount - 1));
  std::memcpy(lpString, w->title.data(), n);
  lpString[n] = '\0';
  return static_cast<int>(n);
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  w->title = lpString != nullptr && !IsIntAtom(lpString) ? lpString : "";
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  std::string classKey;
  WORD classAtom = 0;
  if (lpClassName != nullptr) {
    if (IsIntAtom(lpClassName)) {
      classAtom = IntAtom(lpClassName);
    } else {
      classKey = AsciiLower(std::string(lpClassName));
    }
  }
  bool anyTitle = lpWindowName == nullptr || IsIntAtom(lpWindowName);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  for (auto& [h, w] : u.windows) {
    if (w.messageOnly || w.child || w.destroying) continue;
    if (lpClassName != nullptr) {
      if (classAtom != 0 ? w.classAtom != classAtom : w.classKey != classKey) continue;
    }
    if (!anyTitle && w.title != lpWindowName) continue;
    return h;
  }
  return 0;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  BOOL wasVisible = w->visible ? TRUE : FALSE;
  switch (nCmdShow) {
    case SW_HIDE:
      w->visible = false;
      break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_SHOWNOACTIVATE:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
      w->visible = true;
      w->iconic = false;
      break;
    case SW_SHOW:
    case SW_SHOWNA:
      w->visible = true;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      w->visible = true;
      w->iconic = true;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  // A child shows only while every window above it does.
  for (int depth = 0; depth < 1000; ++depth) {
    Window* w = FindWindowLocked(u, hWnd);
    if (w == nullptr || !w->visible) return FALSE;
    if (!w->child) return TRUE;
    hWnd = w->parent;
  }
  return FALSE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  return w != nullptr && w->iconic ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (lpdwProcessId != nullptr) *lpdwProcessId = static_cast<DWORD>(getpid());
  return w->thread;
}

// ---------------------------------------------------------------------------
// user32: messages

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  if (hWnd == 0) {
    // As on Windows: a message for no window is a thread message to ourselves.
    return PostLocked(*OwnQueueLocked(u), 0, Msg, wParam, lParam);
  }
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  auto q = u.queues.find(w->thread);
  if (q == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  return PostLocked(*q->second, hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  if (idThread == ThisThreadId()) OwnQueueLocked(u);
  auto q = u.queues.find(idThread);
  if (q == u.queues.end()) return Fail(ERROR_INVALID_THREAD_ID);
  return PostLocked(*q->second, 0, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (SendsDirectly(*w)) {
    WNDPROC proc = w->proc;
    held.unlock();
    return proc(hWnd, Msg, wParam, lParam);
  }
  // Another thread's window: hand the message to its owner and wait until the
  // owner has run it from its message loop. While waiting we still run what
  // others send to us, so two threads sending to each other do not deadlock.
  auto owner = u.queues.find(w->thread);
  if (owner == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  std::shared_ptr<Queue> ownerQueue = owner->second;
  std::shared_ptr<Queue> mine = OwnQueueLocked(u);
  auto sm = std::make_shared<SentMessage>();
  sm->hwnd = hWnd;
  sm->message = Msg;
  sm->wParam = wParam;
  sm->lParam = lParam;
  sm->sender = mine;
  ownerQueue->sent.push_back(sm);
  Wake(*ownerQueue);
  while (!sm->done) {
    ProcessSentLocked(u, *mine, held);
    if (sm->done) break;
    uint64_t seen = mine->version;
    mine->wake.wait(held, [&] { return sm->done || mine->version != seen; });
  }
  return sm->result;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueueLocked(u);
  int got = PeekLocked(u, *q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
  return got == 1 ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) {
    tLastError = ERROR_INVALID_PARAMETER;
    return -1;
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueueLocked(u);
  for (;;) {
    int got = PeekLocked(u, *q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true);
    if (got < 0) return -1;
    if (got > 0) return lpMsg->message == WM_QUIT ? 0 : 1;
    if (QuorClockIsVirtual()) {
      // Waiting on the virtual clock means letting it run on to the next
      // scheduled callback (which may post to us). With nothing scheduled
      // only another thread can help; check back now and then, since it
      // might schedule a callback instead of posting.
      uint64_t next = QuorClockNextDue();
      if (next != UINT64_MAX) {
        held.unlock();
        QuorClockAdvanceTo(next);
        held.lock();
        continue;
      }
      WaitForChange(*q, held, std::chrono::milliseconds(20));
    } else {
      WaitForChange(*q, held, std::chrono::hours(24));
    }
  }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  (void)lpMsg;  // there are no keyboard messages to translate
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (lpMsg == nullptr || lpMsg->hwnd == 0) return 0;  // thread messages have no procedure
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, lpMsg->hwnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!SendsDirectly(*w)) return Fail(ERROR_MESSAGE_SYNC_ONLY);
  WNDPROC proc = w->proc;
  held.unlock();
  return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueueLocked(u);
  q->quit = true;
  q->quitCode = nExitCode;
  Wake(*q);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
  (void)pHandles;
  (void)fWaitAll;
  (void)dwWakeMask;  // any input wakes us
  if (nCount != 0) {
    tLastError = ERROR_INVALID_PARAMETER;  // there are no waitable objects here
    return WAIT_FAILED;
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueueLocked(u);
  if (HasInputLocked(*q)) return WAIT_OBJECT_0;

  if (QuorClockIsVirtual()) {
    // Virtual time never blocks: run the clock on through the callbacks due
    // within the timeout, stopping as soon as one of them gave us input.
    held.unlock();
    uint64_t now = QuorClockNow();
    bool forever = dwMilliseconds == INFINITE;
    uint64_t deadline = forever ? UINT64_MAX : now + dwMilliseconds;
    for (;;) {
      uint64_t next = QuorClockNextDue();
      if (next == UINT64_MAX || next > deadline) {
        if (forever) return WAIT_TIMEOUT;  // nothing will ever come
        QuorClockAdvanceTo(deadline);
        break;
      }
      QuorClockAdvanceTo(next);
      {
        std::lock_guard<std::mutex> again(u.lock);
        if (HasInputLocked(*q)) return WAIT_OBJECT_0;
      }
      if (!QuorClockIsVirtual()) break;  // switched to real time meanwhile
    }
    std::lock_guard<std::mutex> again(u.lock);
    return HasInputLocked(*q) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  auto arrived = [&] { return HasInputLocked(*q); };
  if (dwMilliseconds == INFINITE) {
    q->wake.wait(held, arrived);
    return WAIT_OBJECT_0;
  }
  return q->wake.wait_for(held, std::chrono::milliseconds(dwMilliseconds), arrived) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // extern "C"
