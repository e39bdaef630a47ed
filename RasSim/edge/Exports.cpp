// rasapi32.dll: the exports of Quor's RAS client library. Each RAS function
// exists as an A and a W export, generated from the one list of RAS functions
// and checked against the binding's function types (ExportCheck.h); the
// QuorRasSim... exports are the control interface (RasSimControl.h). What the
// library does when it unloads: Unload_<platform>.cpp.
#include "RasSim/edge/ExportCheck.h"

#define RAS_PLAIN(F, PA, PW, ARGS)                 \
  RASSIM_EXPORT_ONE(F##A, F##A, T##F##A, PA, ARGS) \
  RASSIM_EXPORT_ONE(F##W, F##W, T##F##W, PW, ARGS)
#define RAS_GUARDED RAS_PLAIN
#include "Ras2/RasFunctions.def"

// The optional functions beside them.
#define RAS_OPTIONAL(F, PA, PW, ARGS)              \
  RASSIM_EXPORT_ONE(F##A, F##A, T##F##A, PA, ARGS) \
  RASSIM_EXPORT_ONE(F##W, F##W, T##F##W, PW, ARGS)
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) RASSIM_EXPORT_ONE(F, F, T##F, P, ARGS)
#include "Ras2/RasOptionalFunctions.def"

// ---- control interface

RASSIM_EXPORT DWORD WINAPI QuorRasSimReset(void) {
  return rassim::edge::CtlReset();
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimCallCount(LPCSTR exportName) {
  return rassim::edge::CtlCallCount(exportName);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimLastCall(LPCSTR exportName, void* info) {
  return rassim::edge::CtlLastCall(exportName, info);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimLastDialParams(void* params) {
  return rassim::edge::CtlLastDialParams(params);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimDropConnection(UINT_PTR h) {
  return rassim::edge::CtlDropConnection(h);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimQueueFailure(LPCSTR entry, DWORD state, DWORD error) {
  return rassim::edge::CtlQueueFailure(entry, state, error);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimSetDialogAnswers(LPCSTR answers) {
  return rassim::edge::CtlSetDialogAnswers(answers);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimSetStepDelay(DWORD state, DWORD ms) {
  return rassim::edge::CtlSetStepDelay(state, ms);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimGetConnectionWindow(UINT_PTR h, HWND* wnd) {
  return rassim::edge::CtlGetConnectionWindow(h, wnd);
}

RASSIM_EXPORT DWORD WINAPI QuorRasSimLastProblem(LPSTR buffer, DWORD size) {
  return rassim::edge::CtlLastProblem(buffer, size);
}
