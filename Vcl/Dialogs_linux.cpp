// The console's message boxes: the text goes to standard error, one line per
// box. Nobody can answer on a console, so a dialog "closes" with its default
// button: OK when it has one, else Yes, else Retry, else its first button.
#include <cstdio>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {

int ResultOf(TMsgDlgBtn Button) {
  switch (Button) {
    case mbYes:
      return mrYes;
    case mbNo:
      return mrNo;
    case mbOK:
      return mrOk;
    case mbCancel:
      return mrCancel;
    case mbAbort:
      return mrAbort;
    case mbRetry:
      return mrRetry;
    case mbIgnore:
      return mrIgnore;
    case mbAll:
      return mrAll;
    case mbNoToAll:
      return mrNoToAll;
    case mbYesToAll:
      return mrYesToAll;
    case mbHelp:
      return mrNone;  // Help opens help; it does not close the box
  }
  return mrNone;
}

class ConsolePresenter final : public TMessagePresenter {
 public:
  void ShowMessage(const String& Msg) override { Write(Msg); }

  int MessageDlg(const String& Msg, TMsgDlgType, TMsgDlgButtons Buttons, int) override {
    Write(Msg);
    if (Buttons & (1u << mbOK)) return mrOk;
    if (Buttons & (1u << mbYes)) return mrYes;
    if (Buttons & (1u << mbRetry)) return mrRetry;
    for (int b = mbYes; b <= mbHelp; ++b) {
      if (Buttons & (1u << b)) return ResultOf(static_cast<TMsgDlgBtn>(b));
    }
    return mrNone;
  }

 private:
  static void Write(const String& Msg) {
    std::fwrite(Msg.data(), 1, Msg.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
};

}  // namespace

TMessagePresenter& vcl_internal::DefaultMessagePresenter() {
  static ConsolePresenter* p = new ConsolePresenter;
  return *p;
}
