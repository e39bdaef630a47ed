// The main window's phonebook and dial-parameter actions: dial, hang up,
// read and save the parameters, create, edit, rename and delete entries.
#include <algorithm>
#include <string>
#include <vector>

#include "DialerWindow.h"

namespace quor_dialer {

std::vector<std::string> TDialerWindow::Entries() {
  std::vector<std::string> out;
  fQuor->GetPhoneBookEntries();
  if (fQuor->PhoneBookEntries)
    for (int i = 0; i < fQuor->PhoneBookEntries->Count(); ++i) out.push_back(fQuor->PhoneBookEntries->Strings(i));
  return out;
}

void TDialerWindow::FillEntries(const std::string& Select) {
  HWND list = GetDlgItem(fWnd, kEntries);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  int chosen = 0, i = 0;
  for (const std::string& name : Entries()) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (name == Select) chosen = i;
    ++i;
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}

std::string TDialerWindow::SelectedEntry() const {
  HWND list = GetDlgItem(fWnd, kEntries);
  const LRESULT i = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (i == LB_ERR) return std::string();
  std::vector<char> buf(static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0)) + 1);
  SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.data()));
  return buf.data();
}

void TDialerWindow::Dial() {
  const std::string entry = SelectedEntry();
  if (entry.empty()) {
    ShowMessage("Choose a phonebook entry to dial.");
    return;
  }
  const int attempts = Number(kAttempts, -1), pause = Number(kPause, -1);
  if (attempts < 0 || pause < 0 || pause > 255) {
    MessageDlg("Redial attempts must be a number, and the pause a number of seconds from 0 to 255.", mtError,
               MsgDlgButtons({mbOK}), 0);
    return;
  }
  fQuor->SetEntryName(entry);
  fQuor->SetUserName(Text(kUserName));
  fQuor->SetPassword(Text(kPassword));
  fQuor->SetRedialAttempts(attempts);
  fQuor->SetRedialPause(static_cast<Byte>(pause));
  fAddress.clear();
  fState = TState::Dialing;
  UpdateButtons();
  fQuor->Connect();
}

void TDialerWindow::HangUp() {
  fQuor->Disconnect();
  fState = TState::Idle;
  fLastNotify = "Hung up";
  RefreshConnections();
  UpdateStatus();
  UpdateButtons();
}

void TDialerWindow::GetParams() {
  const std::string entry = SelectedEntry();
  if (entry.empty() || !fQuor->GetDialParams(entry)) {
    MessageDlg("The dial parameters of \"" + entry + "\" could not be read.", mtError, MsgDlgButtons({mbOK}), 0);
    return;
  }
  SetText(kUserName, fQuor->UserName());
  SetText(kPassword, fQuor->Password());
  Log("Parameters of " + entry + " read");
}

void TDialerWindow::SaveParams() {
  const std::string entry = SelectedEntry();
  fQuor->SetEntryName(entry);
  fQuor->SetUserName(Text(kUserName));
  fQuor->SetPassword(Text(kPassword));
  if (entry.empty() || !fQuor->SetDialParams()) {
    MessageDlg("The dial parameters of \"" + entry + "\" could not be saved.", mtError, MsgDlgButtons({mbOK}), 0);
    return;
  }
  Log("Parameters of " + entry + " saved");
}

// RAS's entry dialog tells the user about its own errors and a cancel
// changes nothing, so a false answer needs no message here.
void TDialerWindow::NewEntry() {
  const std::vector<std::string> before = Entries();
  if (!fQuor->CreateEntry(fWnd)) return;
  std::string added;
  for (const std::string& e : Entries())
    if (std::find(before.begin(), before.end(), e) == before.end()) added = e;
  FillEntries(added);
  if (!added.empty()) Log("Entry " + added + " created");
}

void TDialerWindow::EditEntry() {
  const std::string entry = SelectedEntry();
  if (entry.empty()) {
    ShowMessage("Choose the phonebook entry to edit.");
    return;
  }
  const std::vector<std::string> before = Entries();
  if (!fQuor->EditEntry(fWnd, entry)) return;
  // The dialog may have renamed the entry: select it under its new name.
  std::string now = entry;
  for (const std::string& e : Entries())
    if (std::find(before.begin(), before.end(), e) == before.end()) now = e;
  FillEntries(now);
  Log("Entry " + now + " saved");
}

void TDialerWindow::RenameEntry() {
  const std::string entry = SelectedEntry(), to = Text(kNewName);
  if (to.empty()) {
    ShowMessage("Type the new name of the entry first.");
    return;
  }
  if (!fQuor->RenameEntry(entry, to)) {
    MessageDlg("The entry \"" + entry + "\" could not be renamed to \"" + to + "\".", mtError, MsgDlgButtons({mbOK}),
               0);
    return;
  }
  SetText(kNewName, "");
  FillEntries(to);
  Log("Entry " + entry + " renamed to " + to);
}

void TDialerWindow::DeleteEntry() {
  const std::string entry = SelectedEntry();
  if (entry.empty()) return;
  if (MessageBoxA(fWnd, ("Delete the entry \"" + entry + "\"?").c_str(), "Quor Dialer", MB_YESNO | MB_ICONQUESTION) !=
      IDYES)
    return;
  if (!fQuor->DeleteEntry(entry)) {
    MessageDlg("The entry \"" + entry + "\" could not be deleted.", mtError, MsgDlgButtons({mbOK}), 0);
    return;
  }
  FillEntries("");
  Log("Entry " + entry + " deleted");
}

}  // namespace quor_dialer
