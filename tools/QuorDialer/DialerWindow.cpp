#include "DialerWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DialerControls.h"
#include "DialerText.h"
#include "Win32/Clock.h"

namespace quor_dialer {

namespace {

constexpr UINT kAfterError = WM_APP + 1;  // posted by an "ERROR: " notification

struct TControl {
  int Id;
  const char* Class;
  const char* Text;
  DWORD Style;
};

// Creation order is the tab order; each label comes right before the
// control its mnemonic leads to.
const TControl kControls[] = {
    {kFirstLabel + 0, "STATIC", "Phonebook &entries:", 0},
    {kEntries, "LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
    {kNew, "BUTTON", "&New...", WS_TABSTOP | BS_PUSHBUTTON},
    {kEdit, "BUTTON", "&Edit...", WS_TABSTOP | BS_PUSHBUTTON},
    {kFirstLabel + 1, "STATIC", "Rena&me to:", 0},
    {kNewName, "EDIT", "", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
    {kRename, "BUTTON", "&Rename", WS_TABSTOP | BS_PUSHBUTTON},
    {kDelete, "BUTTON", "De&lete", WS_TABSTOP | BS_PUSHBUTTON},
    {kFirstLabel + 2, "STATIC", "&User name:", 0},
    {kUserName, "EDIT", "", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
    {kFirstLabel + 3, "STATIC", "&Password:", 0},
    {kPassword, "EDIT", "", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD},
    {kFirstLabel + 4, "STATIC", "Redial &attempts:", 0},
    {kAttempts, "EDIT", "1", WS_TABSTOP | WS_BORDER | ES_NUMBER},
    {kFirstLabel + 5, "STATIC", "Pau&se (seconds):", 0},
    {kPause, "EDIT", "3", WS_TABSTOP | WS_BORDER | ES_NUMBER},
    {kGetParams, "BUTTON", "&Get parameters", WS_TABSTOP | BS_PUSHBUTTON},
    {kSaveParams, "BUTTON", "Sa&ve parameters", WS_TABSTOP | BS_PUSHBUTTON},
    {kDial, "BUTTON", "&Dial", WS_TABSTOP | BS_DEFPUSHBUTTON},
    {kHangUp, "BUTTON", "&Hang up", WS_TABSTOP | BS_PUSHBUTTON},
    {kFirstLabel + 6, "STATIC", "L&og:", 0},
    {kLog, "LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT},
    {kFirstLabel + 7, "STATIC", "A&ctive connections:", 0},
    {kConnections, "LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT},
};

}  // namespace

TDialerWindow::TDialerWindow() = default;

TDialerWindow::~TDialerWindow() {
  fTicker.reset();
  fQuor.reset();  // hangs up a held connection
  if (fFont) DeleteObject(fFont);
}

bool TDialerWindow::Create(int Show) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&wc)) return false;

  // The system's message font sets every size of the window.
  NONCLIENTMETRICSA ncm = {};
  ncm.cbSize = sizeof ncm;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
    fFont = CreateFontIndirectA(&ncm.lfMessageFont);
  if (!fFont) fFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, fFont);
  TEXTMETRICA tm;
  if (GetTextMetricsA(dc, &tm)) {
    fCharW = tm.tmAveCharWidth;
    fCharH = tm.tmHeight;
  }
  // The two left columns hold two buttons side by side, or one label: wide
  // enough for the longest text in this font.
  fColW = fCharW * 30;
  for (const TControl& c : kControls) {
    std::string text = c.Text;
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    const bool button = std::strcmp(c.Class, "BUTTON") == 0;
    fColW = std::max(fColW, static_cast<int>(button ? 2 * (size.cx + 2 * fCharW) + fCharW : size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);

  fWnd = CreateWindowExA(0, kWindowClass, "Quor Dialer", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                         CW_USEDEFAULT, 2 * fColW + fCharW * 66, fCharH * 30, nullptr, nullptr, wc.hInstance, this);
  if (!fWnd) return false;
  ShowWindow(fWnd, Show);
  UpdateWindow(fWnd);
  return true;
}

LRESULT CALLBACK TDialerWindow::WindowProc(HWND Wnd, UINT Msg, WPARAM Wp, LPARAM Lp) {
  if (Msg == WM_NCCREATE) {
    auto* self = static_cast<TDialerWindow*>(reinterpret_cast<CREATESTRUCTA*>(Lp)->lpCreateParams);
    self->fWnd = Wnd;
    SetWindowLongPtrA(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TDialerWindow*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
  return self ? self->Handle(Msg, Wp, Lp) : DefWindowProcA(Wnd, Msg, Wp, Lp);
}

LRESULT TDialerWindow::Handle(UINT Msg, WPARAM Wp, LPARAM Lp) {
  switch (Msg) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(Wp), HIWORD(Wp));
      return 0;
    case DM_GETDEFID:  // asked by the keyboard handling for the default button
      return MAKELRESULT(fDefault, DC_HASDEFID);
    case WM_NEXTDLGCTL:  // Tab, and a label's mnemonic, move the focus
      MoveFocus(LOWORD(Lp) ? reinterpret_cast<HWND>(Wp) : GetNextDlgTabItem(fWnd, GetFocus(), Wp != 0));
      return 0;
    case WM_ACTIVATE:
      // As a dialog box does: the focused control is remembered while the
      // window is inactive and gets the focus back, so the keyboard never
      // lands on the bare window.
      if (LOWORD(Wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(fWnd, focus)) fFocus = focus;
      } else if (!HIWORD(Wp)) {
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case kAfterError:
      // The component has hung the attempt up by now and either armed a
      // redial or reported the failure.
      if (fFailed) {
        fState = TState::Idle;
      } else {
        fState = TState::Waiting;
        fRetryAt = QuorClockNow() + static_cast<uint64_t>(fQuor->RedialPause()) * 1000;
      }
      UpdateStatus();
      UpdateButtons();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* mm = reinterpret_cast<MINMAXINFO*>(Lp);
      mm->ptMinTrackSize.x = 2 * fColW + fCharW * 30;
      mm->ptMinTrackSize.y = fCharH * 24;
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(fWnd);
      return 0;
    case WM_DESTROY:
      if (fTicker) fTicker->SetEnabled(false);
      Application->Terminate();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(fWnd, Msg, Wp, Lp);
}

void TDialerWindow::CreateControls() {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  for (const TControl& c : kControls) {
    const DWORD ex = (c.Style & WS_BORDER) ? WS_EX_CLIENTEDGE : 0;
    HWND h = CreateWindowExA(ex, c.Class, c.Text, WS_CHILD | WS_VISIBLE | (c.Style & ~WS_BORDER), 0, 0, 10, 10, fWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), inst, nullptr);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(fFont), FALSE);
  }
  HWND status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, fWnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatus)), inst, nullptr);
  SendMessageA(status, WM_SETFONT, reinterpret_cast<WPARAM>(fFont), FALSE);

  fQuor = std::make_unique<TQuor>(nullptr);
  fQuor->SetOnNotify([this](Integer, String S) {
    fLastNotify = S;
    Log(S);
    if (S.rfind("Dialing ", 0) == 0) {
      fState = TState::Dialing;
      fFailed = false;
    } else if (S.rfind("ERROR: ", 0) == 0) {
      PostMessageA(fWnd, kAfterError, 0, 0);
    }
    UpdateStatus();
    UpdateButtons();
  });
  fQuor->SetOnConnect([this](TObject*) {
    fState = TState::Connected;
    fConnectedAt = QuorClockNow();
    fTraffic.clear();
    fAddress = ConnectedAddress();
    Log("Connected" + (fAddress.empty() ? std::string() : ", IP address " + fAddress));
    RefreshConnections();
    UpdateStatus();
    UpdateButtons();
  });
  fQuor->SetOnConnectFail([this](Integer, String S) {
    fFailed = true;
    fState = TState::Idle;
    Log("Dial failed: " + S);
    fLastNotify = "Dial failed: " + S;
    UpdateStatus();
    UpdateButtons();
  });
  fQuor->SetOnDisconnect([this](Integer, String S) {
    fState = TState::Idle;
    fTraffic.clear();
    Log("Disconnected: " + S);
    // A lost line: why, as RAS told it; nothing when RAS gave no reason.
    const std::string reason = LossReasonText(S, fQuor->LastLossReason(), fQuor->LastLossText());
    if (!reason.empty()) Log(reason);
    fLastNotify = "Disconnected: " + S;
    RefreshConnections();
    UpdateStatus();
    UpdateButtons();
  });

  // Bytes and rates each way in the status bar, read once a second while connected.
  fQuor->SetStatisticsInterval(1000);
  fQuor->SetOnStatistics([this](const TQuorStatistics& S) {
    fTraffic = TrafficText(S);
    UpdateStatus();
  });

  fTicker = std::make_unique<TTimer>(nullptr);
  fTicker->SetInterval(250);
  fTicker->SetOnTimer([this](TObject*) { Tick(); });
  fTicker->SetEnabled(true);

  if (!fQuor->RasInitialized) {
    fLastNotify = "The RAS client library rasapi32.dll could not be loaded.";
    Log(fLastNotify);
  } else {
    fLastNotify = "Ready";
  }
  FillEntries("");
  RefreshConnections();
  UpdateStatus();
  UpdateButtons();
  fFocus = GetDlgItem(fWnd, kEntries);
  SetFocus(fFocus);
}

void TDialerWindow::Layout() {
  RECT rc;
  GetClientRect(fWnd, &rc);
  HWND status = GetDlgItem(fWnd, kStatus);
  SendMessageA(status, WM_SIZE, 0, 0);
  RECT sr;
  GetWindowRect(status, &sr);
  const int bottom = rc.bottom - (sr.bottom - sr.top);
  const int m = fCharW;       // margin
  const int lh = fCharH + 2;  // label height
  const int eh = fCharH + 8;  // edit and button height
  const int col = fColW;      // width of the two left columns
  auto place = [this](int Id, int X, int Y, int W, int H) { MoveWindow(GetDlgItem(fWnd, Id), X, Y, W, H, TRUE); };

  // Column 1: the phonebook.
  int x = m, y = m;
  place(kFirstLabel + 0, x, y, col, lh);
  y += lh;
  const int listH = bottom - y - m - 3 * (eh + m) - lh;
  place(kEntries, x, y, col, listH);
  y += listH + m;
  const int half = (col - m) / 2;
  place(kNew, x, y, half, eh);
  place(kEdit, x + half + m, y, half, eh);
  y += eh + m;
  place(kFirstLabel + 1, x, y, col, lh);
  y += lh;
  place(kNewName, x, y, col, eh);
  y += eh + m;
  place(kRename, x, y, half, eh);
  place(kDelete, x + half + m, y, half, eh);

  // Column 2: dial parameters and the dial.
  x = m + col + 2 * m;
  y = m;
  for (int i = 0; i < 4; ++i) {
    place(kFirstLabel + 2 + i, x, y, col, lh);
    y += lh;
    place(kUserName + i, x, y, col, eh);
    y += eh + m;
  }
  place(kGetParams, x, y, half, eh);
  place(kSaveParams, x + half + m, y, half, eh);
  y += eh + 2 * m;
  place(kDial, x, y, half, eh);
  place(kHangUp, x + half + m, y, half, eh);

  // Column 3: the log above the active connections.
  x += col + 2 * m;
  const int w = rc.right - x - m;
  y = m;
  const int connH = 5 * fCharH;
  const int logH = bottom - y - 2 * lh - connH - 2 * m;
  place(kFirstLabel + 6, x, y, w, lh);
  y += lh;
  place(kLog, x, y, w, logH);
  y += logH + m;
  place(kFirstLabel + 7, x, y, w, lh);
  y += lh;
  place(kConnections, x, y, w, connH);
}

// As in a dialog box: a push button with the focus is the default button
// while it has it; elsewhere Dial is.
void TDialerWindow::MoveFocus(HWND To) {
  if (!To) return;
  SetFocus(To);
  const LRESULT code = SendMessageA(To, WM_GETDLGCODE, 0, 0);
  if (code & DLGC_HASSETSEL) SendMessageA(To, EM_SETSEL, 0, -1);
  const int next = (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) ? GetDlgCtrlID(To) : kDial;
  if (next == fDefault) return;
  SendMessageA(GetDlgItem(fWnd, fDefault), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  SendMessageA(GetDlgItem(fWnd, next), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  fDefault = next;
}

// Where the focus goes when the control that had it is gone or disabled:
// the button that applies in this state.
HWND TDialerWindow::FocusTarget() const {
  HWND to = GetDlgItem(fWnd, fState == TState::Idle ? kDial : kHangUp);
  const bool ras = fQuor && fQuor->RasInitialized;
  return ras && IsWindowEnabled(to) ? to : GetDlgItem(fWnd, kEntries);
}

void TDialerWindow::RestoreFocus() {
  HWND to = fFocus;
  if (!to || !IsWindow(to) || !IsWindowEnabled(to) || !IsWindowVisible(to)) to = FocusTarget();
  fFocus = to;
  MoveFocus(to);
}

// Windows passes the activation on when the active window is minimised.
// Without a window manager (Wine's own frames) it stays on the minimised
// window, such as the connection window the component minimises, and every
// key goes there: take it back.
void TDialerWindow::ReclaimActivation() {
  HWND active = GetActiveWindow();
  if (active && active != fWnd && IsIconic(active) && IsWindowVisible(fWnd) && IsWindowEnabled(fWnd) && !IsIconic(fWnd))
    SetActiveWindow(fWnd);
}

void TDialerWindow::OnCommand(int Id, int Code) {
  if (Code != BN_CLICKED && !(Id == kEntries && Code == LBN_DBLCLK)) return;
  switch (Id) {
    case kNew:
      NewEntry();
      break;
    case kEdit:
      EditEntry();
      break;
    case kRename:
      RenameEntry();
      break;
    case kDelete:
      DeleteEntry();
      break;
    case kGetParams:
      GetParams();
      break;
    case kSaveParams:
      SaveParams();
      break;
    case kDial:
    case kEntries:
      if (IsWindowEnabled(GetDlgItem(fWnd, kDial))) Dial();
      break;
    case kHangUp:
      HangUp();
      break;
    case IDCANCEL:
      break;  // Esc does not close the window
    default:
      break;
  }
}

std::string TDialerWindow::Text(int Id) const {
  HWND h = GetDlgItem(fWnd, Id);
  std::vector<char> buf(static_cast<size_t>(GetWindowTextLengthA(h)) + 1);
  GetWindowTextA(h, buf.data(), static_cast<int>(buf.size()));
  return buf.data();
}

void TDialerWindow::SetText(int Id, const std::string& S) {
  SetWindowTextA(GetDlgItem(fWnd, Id), S.c_str());
}

int TDialerWindow::Number(int Id, int Default) const {
  const std::string s = Text(Id);
  if (s.empty() || s.size() > 6) return Default;
  return std::atoi(s.c_str());
}

}  // namespace quor_dialer
