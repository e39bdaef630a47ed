// Control identifiers of QuorDialer's main window, shared with the program
// that drives it in the screenshot tests.
#pragma once

namespace quor_dialer {

constexpr const char kWindowClass[] = "QuorDialerWindow";

enum ControlId : int {
  kEntries = 100,
  kNew,
  kEdit,
  kRename,
  kDelete,
  kNewName,
  kUserName,
  kPassword,
  kAttempts,
  kPause,
  kGetParams,
  kSaveParams,
  kDial,
  kHangUp,
  kLog,
  kConnections,
  kStatus,
  kFirstLabel = 200,  // the labels follow from here
};

}  // namespace quor_dialer
