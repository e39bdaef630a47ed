// The Windows message boxes: MessageBoxA, owned by the active window of the
// calling thread, modal until the user closes it.

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {

// The application's title: the executable's file name without its folder
// and extension, as a box without a caption of its own shows it.
String ApplicationTitle() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "";
  String s(path, n);
  size_t slash = s.find_last_of("\\/");
  if (slash != String::npos) s.erase(0, slash + 1);
  size_t dot = s.rfind('.');
  if (dot != String::npos && dot > 0) s.erase(dot);
  return s;
}

UINT IconOf(TMsgDlgType Type) {
  switch (Type) {
    case mtWarning:
      return MB_ICONWARNING;
    case mtError:
      return MB_ICONERROR;
    case mtInformation:
      return MB_ICONINFORMATION;
    case mtConfirmation:
      return MB_ICONQUESTION;
    case mtCustom:
      return 0;
  }
  return 0;
}

String CaptionOf(TMsgDlgType Type) {
  switch (Type) {
    case mtWarning:
      return "Warning";
    case mtError:
      return "Error";
    case mtInformation:
      return "Information";
    case mtConfirmation:
      return "Confirm";
    case mtCustom:
      break;
  }
  return ApplicationTitle();
}

bool Has(TMsgDlgButtons Buttons, TMsgDlgBtn B) {
  return (Buttons & (1u << B)) != 0;
}

// The nearest standard button layout for a set of buttons.
UINT LayoutOf(TMsgDlgButtons Buttons) {
  UINT help = Has(Buttons, mbHelp) ? MB_HELP : 0;
  if (Has(Buttons, mbAbort) || Has(Buttons, mbIgnore)) return MB_ABORTRETRYIGNORE | help;
  if (Has(Buttons, mbRetry)) return MB_RETRYCANCEL | help;
  if (Has(Buttons, mbYes) || Has(Buttons, mbNo)) return (Has(Buttons, mbCancel) ? MB_YESNOCANCEL : MB_YESNO) | help;
  if (Has(Buttons, mbCancel)) return MB_OKCANCEL | help;
  return MB_OK | help;
}

class WindowsPresenter final : public TMessagePresenter {
 public:
  void ShowMessage(const String& Msg) override {
    MessageBoxA(GetActiveWindow(), Msg.c_str(), ApplicationTitle().c_str(), MB_OK);
  }

  int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) override {
    // IDOK..IDNO carry the same numbers as the modal results mrOk..mrNo.
    int r =
        MessageBoxA(GetActiveWindow(), Msg.c_str(), CaptionOf(DlgType).c_str(), LayoutOf(Buttons) | IconOf(DlgType));
    return r > 0 ? r : mrNone;
  }
};

}  // namespace

TMessagePresenter& vcl_internal::DefaultMessagePresenter() {
  static WindowsPresenter* p = new WindowsPresenter;
  return *p;
}
