// The main window's log, status bar, active connections and the state of
// its buttons.
#include "DialerWindow.h"
// commctrl.h needs windows.h, which DialerWindow.h includes.
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "Win32/Clock.h"

namespace quor_dialer {

namespace {

std::string Clock() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char s[16];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
  return s;
}

std::string Duration(uint64_t Ms) {
  const unsigned s = static_cast<unsigned>(Ms / 1000);
  char out[16];
  std::snprintf(out, sizeof out, "%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  return out;
}

}  // namespace

void TDialerWindow::Log(const std::string& S) {
  HWND list = GetDlgItem(fWnd, kLog);
  const std::string line = Clock() + "  " + S;
  const LRESULT i = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  if (i != LB_ERR && i != LB_ERRSPACE) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(i), 0);
}

void TDialerWindow::Tick() {
  UpdateStatus();
  ReclaimActivation();
  static int n = 0;
  if (++n % 4 == 0) RefreshConnections();
}

void TDialerWindow::RefreshConnections() {
  if (!fQuor->EnumConnections()) return;
  HWND list = GetDlgItem(fWnd, kConnections);
  std::string was, now;
  const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char buf[300] = {};
    if (SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < static_cast<LRESULT>(sizeof buf))
      SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    was += std::string(buf) + "\n";
  }
  for (int i = 0; i < fQuor->Connections->Count(); ++i) now += fQuor->Connections->Strings(i) + "\n";
  if (was == now) return;  // no flicker while nothing changed
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (int i = 0; i < fQuor->Connections->Count(); ++i)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(fQuor->Connections->Strings(i).c_str()));
}

std::string TDialerWindow::ConnectedAddress() {
  if (RasGetProjectionInfo == nullptr) return std::string();
  const THRasConn h = fQuor->GetHandleByName(fQuor->EntryName());
  if (h == 0) return std::string();
  TRasPppIp ip;
  std::memset(&ip, 0, sizeof ip);
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  if (RasGetProjectionInfo(h, RASP_PppIp, &ip, &size) != 0) return std::string();
  ip.szIpAddress[sizeof ip.szIpAddress - 1] = '\0';
  return ip.szIpAddress;
}

void TDialerWindow::UpdateStatus() {
  std::string s;
  switch (fState) {
    case TState::Idle:
      s = fLastNotify;
      break;
    case TState::Dialing:
      s = fLastNotify;
      break;
    case TState::Waiting: {
      const uint64_t now = QuorClockNow();
      const uint64_t left = fRetryAt > now ? (fRetryAt - now + 999) / 1000 : 0;
      s = "Retrying in " + std::to_string(left) + (left == 1 ? " second..." : " seconds...");
      break;
    }
    case TState::Connected:
      s = "Connected to " + fQuor->EntryName() + " for " + Duration(QuorClockNow() - fConnectedAt);
      if (!fAddress.empty()) s += ", IP address " + fAddress;
      if (!fTraffic.empty()) s += "; " + fTraffic;
      break;
  }
  HWND status = GetDlgItem(fWnd, kStatus);
  char cur[512] = {};
  GetWindowTextA(status, cur, sizeof cur);
  if (s != cur) SendMessageA(status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(s.c_str()));
}

void TDialerWindow::UpdateButtons() {
  const bool ras = fQuor && fQuor->RasInitialized;
  const bool idle = ras && fState == TState::Idle;  // every button but Hang up
  const struct {
    int Id;
    bool On;
  } buttons[] = {{kDial, idle},   {kHangUp, ras && !idle}, {kNew, idle},       {kEdit, idle},
                 {kRename, idle}, {kDelete, idle},         {kGetParams, idle}, {kSaveParams, idle}};
  for (const auto& b : buttons)
    if (b.On) EnableWindow(GetDlgItem(fWnd, b.Id), TRUE);
  // A disabled control loses the focus to nobody: hand it on first, to the
  // button that applies now, which becomes the default button too.
  HWND focus = GetFocus();
  for (const auto& b : buttons)
    if (!b.On && GetDlgItem(fWnd, b.Id) == focus) MoveFocus(FocusTarget());
  for (const auto& b : buttons)
    if (!b.On) EnableWindow(GetDlgItem(fWnd, b.Id), FALSE);
}

}  // namespace quor_dialer
