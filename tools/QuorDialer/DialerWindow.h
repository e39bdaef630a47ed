// QuorDialer's main window: one TQuor, its phonebook, dial parameters, a
// live log of its notifications, the state in a status bar and the active
// connections, all in plain Win32 controls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DialerControls.h"
#include "TQuorComponent/TQuorComponent.h"

namespace quor_dialer {

class TDialerWindow {
 public:
  TDialerWindow();
  ~TDialerWindow();
  TDialerWindow(const TDialerWindow&) = delete;
  TDialerWindow& operator=(const TDialerWindow&) = delete;

  // Creates and shows the window; false (with a message box) when it cannot.
  bool Create(int Show);
  HWND Handle() const { return fWnd; }

 private:
  enum class TState { Idle, Dialing, Waiting, Connected };

  static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM Wp, LPARAM Lp);
  LRESULT Handle(UINT Msg, WPARAM Wp, LPARAM Lp);
  void CreateControls();
  void Layout();
  void OnCommand(int Id, int Code);

  void MoveFocus(HWND To);
  HWND FocusTarget() const;
  void RestoreFocus();
  void ReclaimActivation();
  std::vector<std::string> Entries();
  void FillEntries(const std::string& Select);
  std::string SelectedEntry() const;
  std::string Text(int Id) const;
  void SetText(int Id, const std::string& S);
  int Number(int Id, int Default) const;

  void Dial();
  void HangUp();
  void GetParams();
  void SaveParams();
  void NewEntry();
  void EditEntry();
  void RenameEntry();
  void DeleteEntry();

  void Log(const std::string& S);
  void Tick();
  void RefreshConnections();
  void UpdateStatus();
  void UpdateButtons();
  std::string ConnectedAddress();

  HWND fWnd = nullptr;
  HFONT fFont = nullptr;
  int fCharW = 7;
  int fCharH = 16;
  int fColW = 210;
  int fDefault = kDial;   // the control Enter presses
  HWND fFocus = nullptr;  // the control that had the focus when the window was last deactivated
  std::unique_ptr<TQuor> fQuor;
  std::unique_ptr<TTimer> fTicker;
  TState fState = TState::Idle;
  std::string fLastNotify;
  bool fFailed = false;
  uint64_t fRetryAt = 0;
  uint64_t fConnectedAt = 0;
  std::string fAddress;
  std::string fTraffic;  // bytes and rates each way at the last statistics reading
};

}  // namespace quor_dialer
