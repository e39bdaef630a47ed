// Drives a running QuorDialer like a user, through window messages, and
// asserts what its window shows:
//   QuorDialerDriver wait <control> <text> <ms>   until the control shows text (=text: exactly that)
//   QuorDialerDriver click <control>              a click (fails on a disabled control)
//   QuorDialerDriver type <control> <text>        sets an edit's text
//   QuorDialerDriver select <list> <line>         selects a list's line
//   QuorDialerDriver enabled <control>=0|1 ...    each control's enabled state (within 2 s)
//   QuorDialerDriver masked <control> <length>    a masked edit holding length characters
//   QuorDialerDriver keys <key> ...               keys as typed, to the focus (else the active window):
//                                                 Tab, Enter, Space, Home, Down, Up, Alt+<letter>;
//                                                 =<control> asserts the focus
//   QuorDialerDriver box <text> <ok|yes|no|->     a message box showing text, answered (- leaves it open)
//   QuorDialerDriver font <percent>               the system's message font at percent of its size
//   QuorDialerDriver layout                       every control inside the window, none overlapping, texts fit
//   QuorDialerDriver geometry                     prints the window's WxH+X+Y
//   QuorDialerDriver redraw | close
// Steps may be chained in one run: QuorDialerDriver click dial ";" wait log Dialing 5000
// Texts are read back from the controls (WM_GETTEXT, LB_GETTEXT); a failed
// step prints what the window shows. Exit status 0 on success, 1 on a failed
// step, 2 on bad arguments.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

int IdOf(const std::string& Name) {
  for (const TName& n : kNames)
    if (Name == n.Name) return n.Id;
  return -1;
}

std::string NameOf(HWND H) {
  const int id = H ? GetDlgCtrlID(H) : 0;
  for (const TName& n : kNames)
    if (n.Id == id) return n.Name;
  return H ? "control " + std::to_string(id) : "nothing";
}

std::string ClassOf(HWND H) {
  char cls[64] = {};
  GetClassNameA(H, cls, sizeof cls);
  return cls;
}

// A window's text, read wide: Wine hands texts to another process in UTF-16.
std::string TextOf(HWND H) {
  wchar_t wide[1024] = {};
  SendMessageW(H, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide));
  char buf[2048] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
  return buf;
}

std::vector<std::string> Lines(HWND H) {
  std::vector<std::string> out;
  const LRESULT n = SendMessageA(H, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    wchar_t wide[1024] = {};
    if (SendMessageW(H, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024)
      SendMessageW(H, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
    char buf[2048] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
    out.push_back(buf);
  }
  return out;
}

// What a control shows: a list's lines joined by newlines, else its text,
// with "[disabled]" after a disabled control.
std::string Shown(HWND H) {
  std::string s;
  if (_stricmp(ClassOf(H).c_str(), "ListBox") == 0) {
    for (const std::string& line : Lines(H)) s += line + "\n";
  } else {
    s = TextOf(H);
  }
  if (!IsWindowEnabled(H)) s += " [disabled]";
  return s;
}

void PrintWindow(HWND Main) {
  for (const char* n : {"entries", "user", "status", "dial", "hangup", "connections", "log"})
    std::printf("  %-12s %s\n", n, Shown(GetDlgItem(Main, IdOf(n))).c_str());
  std::fflush(stdout);
}

HWND Focus(HWND Main) {
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  return GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

// Polls Ok every 50 ms for up to Ms milliseconds.
template <typename F>
bool Within(DWORD Ms, F Ok) {
  const DWORD until = GetTickCount() + Ms;
  while (!Ok()) {
    if (static_cast<LONG>(GetTickCount() - until) >= 0) return false;
    Sleep(50);
  }
  return true;
}

// Posts one key as the keyboard delivers it: to the window with the focus,
// or, when no window has it, to the active window as a system key. The
// dialer's loop translates the keys into characters, as it must for a real
// keyboard. 0 when posted, 1 when no window of the dialer would get it, 2 for
// an unknown key.
int Key(HWND Main, const std::string& K) {
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &gui)) gui.hwndFocus = gui.hwndActive = nullptr;
  HWND to = gui.hwndFocus ? gui.hwndFocus : gui.hwndActive;
  const bool alt = K.size() == 5 && K.compare(0, 4, "Alt+") == 0;
  const struct {
    const char* Name;
    WPARAM Vk;
  } keys[] = {{"Tab", VK_TAB},   {"Enter", VK_RETURN}, {"Space", VK_SPACE},
              {"Home", VK_HOME}, {"Down", VK_DOWN},    {"Up", VK_UP}};
  WPARAM vk = alt ? static_cast<WPARAM>(static_cast<unsigned char>(K[4]) & ~0x20) : 0;
  for (const auto& k : keys)
    if (K == k.Name) vk = k.Vk;
  if (!vk || (alt && (vk < 'A' || vk > 'Z'))) return 2;
  if (!to) {
    std::printf("FAIL: %s goes nowhere: no window of the dialer is active\n", K.c_str());
    return 1;
  }
  const bool sys = alt || !gui.hwndFocus;
  const UINT down = sys ? WM_SYSKEYDOWN : WM_KEYDOWN, up = sys ? WM_SYSKEYUP : WM_KEYUP;
  const LPARAM altDown = alt ? 1 << 29 : 0;
  const LPARAM released = static_cast<LPARAM>(0xC0000000u);
  auto scan = [](WPARAM Vk) {
    return static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(Vk), MAPVK_VK_TO_VSC)) << 16;
  };
  if (alt) PostMessageA(to, WM_SYSKEYDOWN, VK_MENU, altDown | scan(VK_MENU) | 1);
  PostMessageA(to, down, vk, altDown | scan(vk) | 1);
  PostMessageA(to, up, vk, altDown | released | scan(vk) | 1);
  if (alt) PostMessageA(to, WM_SYSKEYUP, VK_MENU, released | scan(VK_MENU) | 1);
  Sleep(150);  // let the dialer take the keys before the next one goes to the focus
  return 0;
}

struct TBoxFind {
  DWORD Pid;
  HWND Box;
};

BOOL CALLBACK FindBox(HWND H, LPARAM P) {
  auto* f = reinterpret_cast<TBoxFind*>(P);
  DWORD pid = 0;
  GetWindowThreadProcessId(H, &pid);
  if (pid == f->Pid && IsWindowVisible(H) && ClassOf(H) == "#32770") {
    f->Box = H;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectText(HWND H, LPARAM P) {
  if (ClassOf(H) == "Static") *reinterpret_cast<std::string*>(P) += TextOf(H) + " ";
  return TRUE;
}

int Box(HWND Main, const std::string& Text, const std::string& Answer) {
  TBoxFind f = {0, nullptr};
  GetWindowThreadProcessId(Main, &f.Pid);
  std::string shown;
  const bool found = Within(10000, [&] {
    f.Box = nullptr;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&f));
    shown.clear();
    if (f.Box) EnumChildWindows(f.Box, CollectText, reinterpret_cast<LPARAM>(&shown));
    return f.Box && shown.find(Text) != std::string::npos;
  });
  if (!found) {
    std::printf("FAIL: no message box showing \"%s\"%s%s\n", Text.c_str(), f.Box ? "; the box shows: " : "",
                shown.c_str());
    PrintWindow(Main);
    return 1;
  }
  std::printf("ok: message box \"%s\" shows \"%s\"\n", TextOf(f.Box).c_str(), Text.c_str());
  if (Answer == "-") return 0;
  const int id = Answer == "yes" ? IDYES : Answer == "no" ? IDNO : IDOK;
  HWND button = GetDlgItem(f.Box, id);
  if (!button) {
    std::printf("FAIL: the message box has no %s button; it holds:", Answer.c_str());
    for (HWND c = GetWindow(f.Box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      std::printf(" %s %d \"%s\";", ClassOf(c).c_str(), GetDlgCtrlID(c), TextOf(c).c_str());
    std::printf("\n");
    return 1;
  }
  PostMessageA(button, BM_CLICK, 0, 0);
  if (!Within(5000, [&] { return !IsWindow(f.Box); })) {
    std::printf("FAIL: the message box stayed open\n");
    return 1;
  }
  return 0;
}

// Every visible control lies inside the client area above the status bar,
// no two overlap, and each label's and button's text fits its width in the
// system's message font (the font the dialer sizes itself by).
int Layout(HWND Main) {
  NONCLIENTMETRICSA ncm = {};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  HFONT font = CreateFontIndirectA(&ncm.lfMessageFont);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT client;
  GetClientRect(Main, &client);
  RECT status;
  GetWindowRect(GetDlgItem(Main, kStatus), &status);
  MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&status), 2);
  struct TPlaced {
    HWND H;
    RECT R;
  };
  std::vector<TPlaced> placed;
  int faults = 0;
  for (HWND h = GetWindow(Main, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    if (!IsWindowVisible(h) || h == GetDlgItem(Main, kStatus)) continue;
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&r), 2);
    const std::string what = NameOf(h) + " \"" + TextOf(h) + "\"";
    if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > status.top) {
      std::printf("FAIL: %s (%ld,%ld)-(%ld,%ld) lies outside the window's free area %ldx%ld\n", what.c_str(), r.left,
                  r.top, r.right, r.bottom, client.right, status.top);
      ++faults;
    }
    for (const TPlaced& p : placed) {
      RECT both;
      if (IntersectRect(&both, &r, &p.R)) {
        std::printf("FAIL: %s overlaps %s \"%s\"\n", what.c_str(), NameOf(p.H).c_str(), TextOf(p.H).c_str());
        ++faults;
      }
    }
    placed.push_back({h, r});
    const std::string cls = ClassOf(h);
    if (cls == "Static" || cls == "Button") {
      std::string text = TextOf(h);
      text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
      SIZE size = {};
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
      const LONG pad = cls == "Button" ? 6 : 0;
      if (size.cx + pad > r.right - r.left || size.cy > r.bottom - r.top) {
        std::printf("FAIL: %s needs %ldx%ld, has %ldx%ld\n", what.c_str(), size.cx + pad, size.cy, r.right - r.left,
                    r.bottom - r.top);
        ++faults;
      }
    }
  }
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  std::printf("%s: %zu controls laid out in %ldx%ld, font height %ld\n", faults ? "FAIL" : "ok", placed.size(),
              client.right, client.bottom, static_cast<long>(ncm.lfMessageFont.lfHeight));
  return faults ? 1 : 0;
}

int Usage() {
  std::fprintf(stderr, "usage: QuorDialerDriver wait|click|type|select|enabled|masked|keys|box|font|layout|...\n");
  return 2;
}

int Run(const std::string& verb, const std::vector<std::string>& args) {
  if (verb == "font" && args.size() == 1) {
    NONCLIENTMETRICSA ncm = {};
    ncm.cbSize = sizeof ncm;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) return 1;
    const LONG percent = std::atol(args[0].c_str());
    ncm.lfMessageFont.lfHeight = ncm.lfMessageFont.lfHeight * percent / 100;
    ncm.lfMessageFont.lfWidth = 0;
    if (!SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof ncm, &ncm, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE)) {
      std::printf("FAIL: the system's message font could not be set\n");
      return 1;
    }
    std::printf("ok: message font height %ld\n", static_cast<long>(ncm.lfMessageFont.lfHeight));
    return 0;
  }

  HWND main = nullptr;
  Within(20000, [&] { return (main = FindWindowA(kWindowClass, nullptr)) != nullptr; });  // a cold start
  if (!main) {
    std::printf("FAIL: no QuorDialer window\n");
    return 1;
  }
  auto control = [&](const std::string& Name) -> HWND {
    const int id = IdOf(Name);
    HWND h = id < 0 ? nullptr : GetDlgItem(main, id);
    if (!h) std::fprintf(stderr, "no control named %s\n", Name.c_str());
    return h;
  };

  if (verb == "wait" && args.size() == 3) {
    HWND ctl = nullptr;
    if (IdOf(args[0]) < 0) return Usage();
    const bool ok = Within(static_cast<DWORD>(std::strtoul(args[2].c_str(), nullptr, 10)), [&] {
      ctl = GetDlgItem(main, IdOf(args[0]));  // the controls may still be on their way
      if (!ctl) return false;
      const std::string shown = Shown(ctl);
      return args[1][0] == '=' ? shown == args[1].substr(1) : shown.find(args[1]) != std::string::npos;
    });
    if (!ok) {
      std::printf("FAIL: %s never showed \"%s\"; the window shows:\n", args[0].c_str(), args[1].c_str());
      PrintWindow(main);
      return 1;
    }
    std::printf("ok: %s shows \"%s\"\n", args[0].c_str(), args[1].c_str());
  } else if (verb == "click" && args.size() == 1) {
    HWND ctl = control(args[0]);
    if (!ctl) return 2;
    if (!IsWindowEnabled(ctl)) {
      std::printf("FAIL: %s is disabled\n", args[0].c_str());
      PrintWindow(main);
      return 1;
    }
    PostMessageA(ctl, BM_CLICK, 0, 0);
  } else if (verb == "type" && args.size() == 2) {
    HWND ctl = control(args[0]);
    if (!ctl) return 2;
    SendMessageA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()));
  } else if (verb == "select" && args.size() == 2) {
    HWND ctl = control(args[0]);
    if (!ctl) return 2;
    const std::vector<std::string> lines = Lines(ctl);
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == args[1]) {
        SendMessageA(ctl, LB_SETCURSEL, i, 0);
        return 0;
      }
    std::printf("FAIL: %s has no line \"%s\"\n", args[0].c_str(), args[1].c_str());
    PrintWindow(main);
    return 1;
  } else if (verb == "enabled" && !args.empty()) {
    std::string expected, actual;
    for (const std::string& a : args) {
      const size_t eq = a.find('=');
      if (eq == std::string::npos || !control(a.substr(0, eq))) return 2;
      expected += a + " ";
    }
    // The dialer may be half-way through switching its buttons.
    const bool ok = Within(2000, [&] {
      actual.clear();
      for (const std::string& a : args)
        actual += a.substr(0, a.find('=') + 1) + (IsWindowEnabled(control(a.substr(0, a.find('=')))) ? "1 " : "0 ");
      return actual == expected;
    });
    if (!ok) {
      std::printf("FAIL: enabled: expected %s, the window has %s\n", expected.c_str(), actual.c_str());
      PrintWindow(main);
      return 1;
    }
    std::printf("ok: enabled %s\n", actual.c_str());
  } else if (verb == "masked" && args.size() == 2) {
    HWND ctl = control(args[0]);
    if (!ctl) return 2;
    const LRESULT mask = SendMessageA(ctl, EM_GETPASSWORDCHAR, 0, 0);
    const LRESULT length = SendMessageA(ctl, WM_GETTEXTLENGTH, 0, 0);
    if (mask == 0 || length != std::atol(args[1].c_str())) {
      std::printf("FAIL: %s: mask character %ld, %ld characters (expected masked, %s)\n", args[0].c_str(),
                  static_cast<long>(mask), static_cast<long>(length), args[1].c_str());
      return 1;
    }
    std::printf("ok: %s masked, %ld characters\n", args[0].c_str(), static_cast<long>(length));
  } else if (verb == "keys" && !args.empty()) {
    for (const std::string& k : args) {
      if (k[0] == '=') {
        HWND want = control(k.substr(1));
        if (!want) return 2;
        if (!Within(2000, [&] { return Focus(main) == want; })) {
          std::printf("FAIL: the focus is on %s, not %s\n", NameOf(Focus(main)).c_str(), k.c_str() + 1);
          return 1;
        }
        std::printf("ok: focus on %s\n", k.c_str() + 1);
      } else if (const int rc = Key(main, k)) {
        if (rc == 2) std::fprintf(stderr, "unknown key %s\n", k.c_str());
        return rc;
      }
    }
  } else if (verb == "box" && args.size() == 2) {
    return Box(main, args[0], args[1]);
  } else if (verb == "layout") {
    return Layout(main);
  } else if (verb == "geometry") {
    RECT r;
    GetWindowRect(main, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
  } else if (verb == "redraw") {
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else if (verb == "close") {
    PostMessageA(main, WM_CLOSE, 0, 0);
    if (!Within(10000, [&] { return !IsWindow(main); })) {
      std::printf("FAIL: the window did not close\n");
      return 1;
    }
  } else {
    return Usage();
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

// Several steps in one run, separated by ";": a Wine process takes seconds
// to start on a loaded machine, longer than some states last.
int main(int argc, char** argv) {
  std::vector<std::string> step;
  for (int i = 1; i <= argc; ++i) {
    if (i < argc && std::strcmp(argv[i], ";") != 0) {
      step.push_back(argv[i]);
      continue;
    }
    if (step.empty()) return Usage();
    if (const int rc = Run(step[0], std::vector<std::string>(step.begin() + 1, step.end()))) return rc;
    step.clear();
  }
  return 0;
}
