// The windows of a simulated call: the per-call helper window on the dialling
// thread and the "Connected to ..." connection window it creates.
#include <atomic>
#include <thread>

#include "RasSim/backends/sim/SimState.h"

namespace rassim {

namespace sim {

std::string ClassName(const char* base) {
  static int anchor;  // one class per copy of this code in the process
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s.%lx", base, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&anchor)));
  return buf;
}

// The procedures of our windows running right now, on any thread: the code
// must not be unloaded under them.
std::atomic<int> g_inProcedure{0};

struct InProcedure {
  InProcedure() { g_inProcedure.fetch_add(1); }
  ~InProcedure() { g_inProcedure.fetch_sub(1); }
  InProcedure(const InProcedure&) = delete;
  InProcedure& operator=(const InProcedure&) = delete;
};

void Keep(HWND w) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().windows.insert(w);
}

void Forget(HWND w) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().windows.erase(w);
}

LRESULT CALLBACK ConnWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  InProcedure running;
  if (msg == WM_DESTROY) Forget(hwnd);
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK HelperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  InProcedure running;
  if (msg == WM_DESTROY) Forget(hwnd);
  if (msg == kMsgCreateConnWindow) {
    CreateConnectionWindow(static_cast<THRasConn>(wp));
    return 0;
  }
  if (msg == kMsgEndWindows) {
    HWND conn = HandleFrom<HWND>(static_cast<uintptr_t>(lp));
    if (conn && IsWindow(conn)) DestroyWindow(conn);
    DestroyWindow(hwnd);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

void RegisterClasses() {
  std::call_once(S().classesOnce, [] {
    S().helperClass = ClassName("QuorRasSimHelper");
    S().connClass = ClassName("QuorRasConnection");
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = Instance();
    wc.lpszClassName = S().helperClass.c_str();
    RegisterClassA(&wc);
    wc.lpfnWndProc = ConnWindowProc;
    wc.lpszClassName = S().connClass.c_str();
    RegisterClassA(&wc);
  });
}

HWND CreateHelperWindow() {
  RegisterClasses();
  HWND w = CreateWindowExA(0, S().helperClass.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, Instance(), nullptr);
  if (w) Keep(w);
  return w;
}

void CreateConnectionWindow(THRasConn h) {
  std::string title;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (!c || c->phase != Phase::Connected || c->connWindow || !c->plan.connectionWindow) return;
    title = c->title;
  }
  RegisterClasses();
  HWND w = CreateWindowExA(0, S().connClass.c_str(), title.c_str(), WS_OVERLAPPED | WS_VISIBLE, 120, 120, 360, 140, 0,
                           0, Instance(), nullptr);
  if (!w) return;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().windows.insert(w);
    Call* c = FindCall(h);
    if (c && c->phase == Phase::Connected && !c->connWindow) {
      c->connWindow = w;
      return;
    }
  }
  DestroyWindow(w);  // the call ended meanwhile
}

// This thread's windows go at once, and the messages queued for them with
// them. Another thread's window can only be destroyed by that thread: it gets
// the system's default procedure, so that what its queue still holds for it
// (an end of the call's windows posted from elsewhere) never reaches this
// library's code again, and is closed by that thread's loop (the default
// procedure destroys a window on WM_CLOSE).
void EndAllWindows(const std::set<HWND>& windows) {
  for (HWND w : windows) {
    if (!IsWindow(w)) continue;
    if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(w);
    } else {
      SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
      PostMessageA(w, WM_CLOSE, 0, 0);
    }
  }
  while (g_inProcedure.load() != 0) std::this_thread::yield();
}

}  // namespace sim

}  // namespace rassim
