// The windows of a simulated call: the per-call helper window on the dialling
// thread and the "Connected to ..." connection window it creates.
#include "RasSim/backends/sim/SimState.h"

namespace rassim {

namespace sim {

std::string ClassName(const char* base) {
  static int anchor;  // one class per copy of this code in the process
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s.%lx", base, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&anchor)));
  return buf;
}

LRESULT CALLBACK ConnWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK HelperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
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
  return CreateWindowExA(0, S().helperClass.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, Instance(), nullptr);
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
    Call* c = FindCall(h);
    if (c && c->phase == Phase::Connected && !c->connWindow) {
      c->connWindow = w;
      return;
    }
  }
  DestroyWindow(w);  // the call ended meanwhile
}

}  // namespace sim

}  // namespace rassim
