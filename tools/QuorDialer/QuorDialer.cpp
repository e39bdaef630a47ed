// QuorDialer: a Windows dialer built on the TQuor component, running on the
// framework's Application loop.
#include <windows.h>

#include "DialerWindow.h"
#include "Vcl/Vcl.h"

namespace {

HWND gMain = nullptr;

// The framework's loop dispatches messages as they come; this hook gives the
// main window the dialog keyboard interface (Tab, arrows, mnemonics, Enter
// for the default button) before they are dispatched.
LRESULT CALLBACK KeyboardHook(int Code, WPARAM Removal, LPARAM Lp) {
  if (Code == HC_ACTION && Removal == PM_REMOVE) {
    MSG* m = reinterpret_cast<MSG*>(Lp);
    if (gMain && m->message >= WM_KEYFIRST && m->message <= WM_KEYLAST && IsDialogMessageA(gMain, m)) {
      m->message = WM_NULL;
    }
  }
  return CallNextHookEx(nullptr, Code, Removal, Lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int Show) {
  quor_dialer::TDialerWindow window;
  if (!window.Create(Show)) {
    MessageBoxA(nullptr, "The main window could not be created.", "Quor Dialer", MB_OK | MB_ICONERROR);
    return 1;
  }
  gMain = window.Handle();
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, KeyboardHook, nullptr, GetCurrentThreadId());
  Application->Run();
  gMain = nullptr;
  if (hook) UnhookWindowsHookEx(hook);
  return 0;
}
