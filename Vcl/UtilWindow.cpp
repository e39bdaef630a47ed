// Hidden utility windows whose messages go to a bound method.
//
// The method may release its own window while it runs (a component hangs up
// and frees its window from inside its window procedure), so every dispatch
// holds its own reference to the method's holder; the holder goes away only
// when DeallocateHWnd has dropped it and no dispatch still runs it.
#include <map>
#include <memory>
#include <mutex>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {

const char kUtilWindowClass[] = "TPUtilWindow";

struct MethodHolder {
  TWndMethod Method;
};

struct UtilWindows {
  std::mutex Lock;
  std::map<HWND, std::shared_ptr<MethodHolder>> ByWindow;
};

UtilWindows& Windows() {
  static UtilWindows* w = new UtilWindows;
  return *w;
}

std::shared_ptr<MethodHolder> HolderOf(HWND Wnd) {
  UtilWindows& w = Windows();
  std::lock_guard<std::mutex> g(w.Lock);
  auto it = w.ByWindow.find(Wnd);
  return it == w.ByWindow.end() ? nullptr : it->second;
}

LRESULT CALLBACK UtilWindowProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  // Messages of window creation arrive before the window is bound, and those
  // of its destruction after it was unbound: they get the default handling.
  std::shared_ptr<MethodHolder> holder = HolderOf(Wnd);
  if (!holder || !holder->Method) return DefWindowProcA(Wnd, Msg, wParam, lParam);
  TMessage m;
  m.Msg = static_cast<uint32_t>(Msg);
  m.WParam = wParam;
  m.LParam = lParam;
  m.Result = 0;
  try {
    holder->Method(m);
  } catch (...) {
    // Nothing may unwind through the system's message dispatch.
    vcl_internal::HandleCurrentException();
  }
  if (Msg == WM_DESTROY) {
    // Destroyed behind DeallocateHWnd's back: unbind it, so that a later
    // window with the same handle never reaches this method.
    UtilWindows& w = Windows();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.ByWindow.find(Wnd);
    if (it != w.ByWindow.end() && it->second == holder) w.ByWindow.erase(it);
  }
  return m.Result;
}

bool EnsureClassRegistered(HINSTANCE Instance) {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [Instance] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = UtilWindowProc;
    wc.hInstance = Instance;
    wc.lpszClassName = kUtilWindowClass;
    registered = RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  });
  return registered;
}

}  // namespace

HWND AllocateHWnd(TWndMethod Method) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!EnsureClassRegistered(instance)) throw Exception("Cannot register the utility window class");
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kUtilWindowClass, "", WS_POPUP, 0, 0, 0, 0, 0, 0, instance, nullptr);
  if (!wnd) throw Exception("Cannot create a utility window (error " + IntToStr(GetLastError()) + ")");
  auto holder = std::make_shared<MethodHolder>();
  holder->Method = std::move(Method);
  UtilWindows& w = Windows();
  std::lock_guard<std::mutex> g(w.Lock);
  w.ByWindow[wnd] = std::move(holder);
  return wnd;
}

void DeallocateHWnd(HWND Wnd) {
  if (!Wnd) return;
  std::shared_ptr<MethodHolder> holder;
  {
    UtilWindows& w = Windows();
    std::lock_guard<std::mutex> g(w.Lock);
    auto it = w.ByWindow.find(Wnd);
    if (it == w.ByWindow.end()) return;  // not ours, or already released
    holder = std::move(it->second);
    w.ByWindow.erase(it);
  }
  // Unbound first, so the method sees none of the destruction messages.
  DestroyWindow(Wnd);
  // holder is dropped here; a dispatch still inside the method keeps its own
  // reference until it returns.
}
