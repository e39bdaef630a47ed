// Drives a running QuorDialer like a user, through window messages:
//   QuorDialerDriver click <control>
//   QuorDialerDriver type <control> <text>
//   QuorDialerDriver key <control> <virtual key code>
//   QuorDialerDriver redraw <any control>         (repaints the whole window)
//   QuorDialerDriver wait <control> <text> <ms>   (until the control shows text)
// Controls are named as below. Texts are read back from the controls
// (WM_GETTEXT, LB_GETTEXT); every call prints what the window shows.
// Exit status 0 on success, 1 on a failed step, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/QuorDialer/DialerControls.h"

using namespace quor_dialer;

namespace {

struct TName {
  const char* Name;
  int Id;
};
const TName kNames[] = {
    {"entries", kEntries},   {"new", kNew},         {"edit", kEdit},     {"rename", kRename},
    {"delete", kDelete},     {"newname", kNewName}, {"user", kUserName}, {"password", kPassword},
    {"attempts", kAttempts}, {"pause", kPause},     {"get", kGetParams}, {"save", kSaveParams},
    {"dial", kDial},         {"hangup", kHangUp},   {"log", kLog},       {"connections", kConnections},
    {"status", kStatus}};

int IdOf(const char* Name) {
  for (const TName& n : kNames)
    if (std::strcmp(n.Name, Name) == 0) return n.Id;
  return -1;
}

bool IsList(HWND H) {
  char cls[32] = {};
  GetClassNameA(H, cls, sizeof cls);
  return _stricmp(cls, "ListBox") == 0;
}

// What a control shows: a list's lines joined by newlines, else its text,
// with "[disabled]" after a disabled control.
std::string Shown(HWND H) {
  std::string s;
  if (IsList(H)) {
    const LRESULT n = SendMessageA(H, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      // Wide: Wine hands a list's lines to another process in UTF-16.
      wchar_t wide[1024] = {};
      if (SendMessageW(H, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024)
        SendMessageW(H, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
      char buf[2048] = {};
      WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
      s += std::string(buf) + "\n";
    }
  } else {
    char buf[1024] = {};
    SendMessageA(H, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    s = buf;
  }
  if (!IsWindowEnabled(H)) s += " [disabled]";
  return s;
}

void PrintWindow(HWND Main) {
  for (const char* n : {"entries", "status", "dial", "hangup", "connections", "log"})
    std::printf("  %-12s %s\n", n, Shown(GetDlgItem(Main, IdOf(n))).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: QuorDialerDriver click|type|key|wait <control> [text] [ms]\n");
    return 2;
  }
  const std::string verb = argv[1];
  const int id = IdOf(argv[2]);
  if (id < 0) {
    std::fprintf(stderr, "no control named %s\n", argv[2]);
    return 2;
  }
  HWND main = nullptr;
  for (int i = 0; i < 200 && !main; ++i) {  // up to 20 s for a cold start
    main = FindWindowA(kWindowClass, nullptr);
    if (!main) Sleep(100);
  }
  if (!main) {
    std::fprintf(stderr, "FAIL: no QuorDialer window\n");
    return 1;
  }
  HWND ctl = GetDlgItem(main, id);
  if (verb == "click") {
    if (!ctl) return 1;
    if (!IsWindowEnabled(ctl)) {
      std::fprintf(stderr, "FAIL: %s is disabled\n", argv[2]);
      PrintWindow(main);
      return 1;
    }
    PostMessageA(ctl, BM_CLICK, 0, 0);
  } else if (verb == "redraw") {
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else if (verb == "type" && argc == 4) {
    SendMessageA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
  } else if (verb == "key" && argc == 4) {
    const WPARAM vk = static_cast<WPARAM>(std::strtoul(argv[3], nullptr, 0));
    PostMessageA(ctl, WM_KEYDOWN, vk, 1);
    PostMessageA(ctl, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
  } else if (verb == "wait" && argc == 5) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10));
    for (;;) {
      ctl = GetDlgItem(main, id);  // the controls may still be on their way
      if (ctl && Shown(ctl).find(argv[3]) != std::string::npos) break;
      if (static_cast<LONG>(GetTickCount() - until) >= 0) {
        std::printf("FAIL: %s never showed \"%s\"; the window shows:\n", argv[2], argv[3]);
        PrintWindow(main);
        return 1;
      }
      Sleep(50);
    }
    std::printf("ok: %s shows \"%s\"\n", argv[2], argv[3]);
  } else {
    std::fprintf(stderr, "bad arguments\n");
    return 2;
  }
  return 0;
}
