// The control interface of the library (RasSimControl.h): call inspection,
// dialog answers, and the simulation's knobs.
#include <cstring>

#include "RasSim/RasSimControl.h"
#include "RasSim/common/Dialogs.h"
#include "RasSim/common/Registry.h"
#include "RasSim/common/Stores.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/Edge.h"
#include "RasSim/edge/EdgeRecords.h"
#include "RasSim/edge/Inspect.h"

namespace rassim::edge {

DWORD CtlReset() {
  ForgetNotifications();
  if (const BackendControl* c = ChosenControl()) c->Reset();
  registry::ResetAttempts();
  inspect::Clear();
  dialogs::SetScript(nullptr);
  return 0;
}

DWORD CtlCallCount(LPCSTR exportName) {
  if (!exportName) return 0;
  inspect::CallRecord r;
  inspect::Lookup(exportName, r);
  return r.count;
}

DWORD CtlLastCall(LPCSTR exportName, void* p) {
  auto* info = static_cast<QuorRasSimCallInfo*>(p);
  if (!exportName || !info) return ERROR_INVALID_PARAMETER;
  if (info->dwSize != sizeof(QuorRasSimCallInfo)) return ERROR_INVALID_SIZE;
  inspect::CallRecord r;
  if (!inspect::Lookup(exportName, r)) return ERROR_FILE_NOT_FOUND;
  info->dwCount = r.count;
  info->dwPhonebookKind = static_cast<DWORD>(r.kind);
  Put(info->szPhonebook, r.phonebook);
  Put(info->szName, r.name);
  Put(info->szName2, r.name2);
  info->dwNotifierType = r.notifierType;
  info->dwNotifier = r.notifier;
  info->fExtensions = r.extensions ? 1 : 0;
  return 0;
}

DWORD CtlLastDialParams(void* p) {
  auto* params = static_cast<TRasDialParamsA*>(p);
  if (!params) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(TRasDialParamsA)) return ERROR_INVALID_SIZE;
  DialParams d;
  if (!inspect::LastDialParams(d)) return ERROR_FILE_NOT_FOUND;
  Put(params->szEntryName, d.entry);
  Put(params->szPhoneNumber, d.phone);
  Put(params->szCallbackNumber, d.callback);
  Put(params->szUserName, d.user);
  Put(params->szPassword, d.password);
  Put(params->szDomain, d.domain);
  return 0;
}

DWORD CtlDropConnection(THRasConn h) {
  const BackendControl* c = ChosenControl();
  return c ? c->DropConnection(h) : ERROR_INVALID_HANDLE;
}

void CtlShutdown() {
  StopWatchingMachine();
  CloseBackend();
  if (const BackendControl* c = ChosenControl()) c->Shutdown();
  ForgetNotifications();
}

DWORD CtlQueueFailure(LPCSTR entry, DWORD state, DWORD error) {
  if (!entry || error == 0) return ERROR_INVALID_PARAMETER;
  if (const BackendControl* c = ChosenControl()) c->QueueFailure(entry, state, error);
  return 0;
}

DWORD CtlSetDialogAnswers(LPCSTR answers) {
  return dialogs::SetScript(answers) ? 0 : ERROR_INVALID_PARAMETER;
}

DWORD CtlSetStepDelay(DWORD state, DWORD ms) {
  if (const BackendControl* c = ChosenControl()) c->SetStepDelay(state, ms);
  return 0;
}

DWORD CtlGetConnectionWindow(THRasConn h, HWND* wnd) {
  if (!wnd) return ERROR_INVALID_PARAMETER;
  HWND w = 0;
  const BackendControl* c = ChosenControl();
  if (!c) return ERROR_INVALID_HANDLE;
  if (DWORD e = c->ConnectionWindow(h, w)) return e;
  *wnd = w;
  return 0;
}

DWORD CtlLastProblem(LPSTR buffer, DWORD size) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  const std::string text = LastProblem();
  if (text.size() + 1 > size) return ERROR_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

}  // namespace rassim::edge
