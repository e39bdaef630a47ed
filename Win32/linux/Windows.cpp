// The Win32 subset on Linux: registered window messages, window classes and
// windows kept in one table, and FindWindowA over its title and class index.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Win32/linux/Win32Linux.h"

using namespace qw_linux;

namespace {

void IndexWindowLocked(UserState& u, Window& w) {
  if (w.messageOnly || w.child || w.destroying || w.searchable) return;
  w.searchable = true;
  TitleWindows& t = u.byTitle[w.title];
  t.any.insert(w.handle);
  t.byClass[w.classAtom].insert(w.handle);
  u.byClass[w.classAtom].insert(w.handle);
  u.searchable.insert(w.handle);
}

void UnindexWindowLocked(UserState& u, Window& w) {
  if (!w.searchable) return;
  w.searchable = false;
  auto t = u.byTitle.find(w.title);
  if (t != u.byTitle.end()) {
    t->second.any.erase(w.handle);
    auto c = t->second.byClass.find(w.classAtom);
    if (c != t->second.byClass.end()) {
      c->second.erase(w.handle);
      if (c->second.empty()) t->second.byClass.erase(c);
    }
    if (t->second.any.empty()) u.byTitle.erase(t);
  }
  auto c = u.byClass.find(w.classAtom);
  if (c != u.byClass.end()) {
    c->second.erase(w.handle);
    if (c->second.empty()) u.byClass.erase(c);
  }
  u.searchable.erase(w.handle);
}

}  // namespace

namespace qw_linux {

void DropWindowLocked(UserState& u, HWND h) {
  auto it = u.windows.find(h);
  if (it == u.windows.end()) return;
  Window& w = it->second;
  gWindowsChanged.fetch_add(1, std::memory_order_release);
  UnindexWindowLocked(u, w);
  auto cls = u.classes.find(w.classId);
  if (cls != u.classes.end() && cls->second.windows > 0) --cls->second.windows;
  auto q = u.queues.find(w.thread);
  if (q != u.queues.end()) {
    while (!w.queued.empty()) TakePostedLocked(*q->second, w.queued.front());
  }
  if (Window* parent = FindWindowLocked(u, w.parent)) {
    auto& siblings = parent->dependents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
  }
  u.windows.erase(it);
}

}  // namespace qw_linux

namespace {

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
  gWindowsChanged.fetch_add(1, std::memory_order_release);
  UnindexWindowLocked(u, *w);
  WNDPROC proc = w->proc;
  held.unlock();
  if (sendDestroy) proc(hWnd, WM_DESTROY, 0, 0);

  // Then the windows it parents or owns, in creation order.
  held.lock();
  std::vector<HWND> dependents;
  std::vector<HWND> foreign;
  w = FindWindowLocked(u, hWnd);
  const std::vector<HWND> all = w != nullptr ? w->dependents : std::vector<HWND>();
  for (HWND h : all) {
    Window* other = FindWindowLocked(u, h);
    if (other == nullptr || other->destroying) continue;
    (SendsDirectly(*other) ? dependents : foreign).push_back(h);
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
  w.handle = h;
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
  w.queued.reserve_first();  // as the queue's rings: the first post to the window allocates nothing
  WNDPROC proc = w.proc;
  if (w.parent != 0) FindWindowLocked(u, w.parent)->dependents.push_back(h);
  IndexWindowLocked(u, u.windows.emplace(h, std::move(w)).first->second);
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
      gWindowsChanged.fetch_add(1, std::memory_order_release);
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
  const bool searchable = w->searchable;
  UnindexWindowLocked(u, *w);
  w->title = lpString != nullptr && !IsIntAtom(lpString) ? lpString : "";
  if (searchable) IndexWindowLocked(u, *w);
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  const bool anyTitle = lpWindowName == nullptr || IsIntAtom(lpWindowName);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  // Every class name has one atom, so windows are indexed by atom.
  WORD classAtom = 0;
  if (lpClassName != nullptr) {
    if (IsIntAtom(lpClassName)) {
      classAtom = IntAtom(lpClassName);
    } else {
      auto known = u.classAtoms.find(std::string_view(lpClassName));
      if (known == u.classAtoms.end()) return 0;
      classAtom = known->second;
    }
  }
  // The first created of the matching windows.
  const std::set<HWND>* found = nullptr;
  if (anyTitle) {
    if (lpClassName == nullptr) {
      found = &u.searchable;
    } else {
      auto c = u.byClass.find(classAtom);
      if (c != u.byClass.end()) found = &c->second;
    }
  } else {
    auto t = u.byTitle.find(std::string_view(lpWindowName));
    if (t != u.byTitle.end()) {
      if (lpClassName == nullptr) {
        found = &t->second.any;
      } else {
        auto c = t->second.byClass.find(classAtom);
        if (c != t->second.byClass.end()) found = &c->second;
      }
    }
  }
  return found == nullptr || found->empty() ? 0 : *found->begin();
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

}  // extern "C"
