// Modal message boxes, routed through the replaceable presenter.
#include <atomic>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {
std::atomic<TMessagePresenter*> gPresenter{nullptr};  // null: the platform's own

TMessagePresenter& Current() {
  TMessagePresenter* p = gPresenter.load();
  return p != nullptr ? *p : vcl_internal::DefaultMessagePresenter();
}
}  // namespace

TMessagePresenter* SetMessagePresenter(TMessagePresenter* Presenter) {
  TMessagePresenter* previous = gPresenter.exchange(Presenter);
  return previous != nullptr ? previous : &vcl_internal::DefaultMessagePresenter();
}

void ShowMessage(const String& Msg) {
  Current().ShowMessage(Msg);
}

int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
  return Current().MessageDlg(Msg, DlgType, Buttons, HelpCtx);
}
