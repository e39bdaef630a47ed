// A message box presenter for test programs: it records every box instead of
// showing it, and answers dialogs with a preset result. Header-only, so every
// test suite can use it with nothing more than vcl30.
//
//   TRecordingPresenterGuard boxes;      // installed for this scope
//   ... code that calls ShowMessage ...
//   EXPECT_EQ(boxes->Texts(), std::vector<String>{"Entry not found"});
#pragma once

#include <functional>
#include <vector>

#include "Vcl/Vcl.h"

struct TPresenterCall {
  enum TKind { kShowMessage, kMessageDlg };
  TKind Kind = kShowMessage;
  String Text;
  TMsgDlgType DlgType = mtCustom;  // MessageDlg only
  TMsgDlgButtons Buttons = 0;      // MessageDlg only
  int HelpCtx = 0;                 // MessageDlg only
};

class TRecordingPresenter : public TMessagePresenter {
 public:
  // What MessageDlg returns, as if the user had pressed that button.
  int DialogResult = mrOk;
  // Runs inside each box, while it is "open" (after the call was recorded).
  std::function<void(const TPresenterCall&)> OnCall;

  void ShowMessage(const String& Msg) override {
    TPresenterCall c;
    c.Kind = TPresenterCall::kShowMessage;
    c.Text = Msg;
    Record(c);
  }

  int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override {
    TPresenterCall c;
    c.Kind = TPresenterCall::kMessageDlg;
    c.Text = Msg;
    c.DlgType = DlgType;
    c.Buttons = Buttons;
    c.HelpCtx = HelpCtx;
    Record(c);
    return DialogResult;
  }

  const std::vector<TPresenterCall>& Calls() const { return fCalls; }
  size_t Count() const { return fCalls.size(); }
  std::vector<String> Texts() const {
    std::vector<String> r;
    for (const auto& c : fCalls) r.push_back(c.Text);
    return r;
  }
  void Clear() { fCalls.clear(); }

 private:
  void Record(const TPresenterCall& C) {
    fCalls.push_back(C);
    if (OnCall) OnCall(C);
  }
  std::vector<TPresenterCall> fCalls;
};

// Installs a presenter for a scope and puts the previous one back.
class TPresenterGuard {
 public:
  explicit TPresenterGuard(TMessagePresenter* Presenter) : fPrevious(SetMessagePresenter(Presenter)) {}
  ~TPresenterGuard() { SetMessagePresenter(fPrevious); }
  TPresenterGuard(const TPresenterGuard&) = delete;
  TPresenterGuard& operator=(const TPresenterGuard&) = delete;

 private:
  TMessagePresenter* fPrevious;
};

// A recording presenter installed for the guard's lifetime.
class TRecordingPresenterGuard {
 public:
  TRecordingPresenterGuard() : fGuard(&fRecorder) {}
  TRecordingPresenter& Recorder() { return fRecorder; }
  TRecordingPresenter* operator->() { return &fRecorder; }

 private:
  TRecordingPresenter fRecorder;  // declared first: outlives the guard
  TPresenterGuard fGuard;
};
