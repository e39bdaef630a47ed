// The edge of the simulated RAS service: one implementation per RAS function,
// in an A and a W form that differ only in their records and texts. Each
// checks its arguments (null pointers 87, record sizes 632, buffer sizes 603
// with the size needed written back), converts UTF-16 at the W edge, records
// the call for the control interface and calls the service.
//
// The A and W forms are declared here and defined in Edge.cpp, both from the
// one list of RAS functions (Ras2/RasFunctions.def and
// Ras2/RasOptionalFunctions.def): a row there needs only its implementation,
// impl::<Family><Ch> (Edge.cpp, EdgeEntries.h), to become two edge functions.
#pragma once

#include "Ras2/RasContract.h"
#include "Ras2/RasOptionalContract.h"

#define RASSIM_EDGE_UNPAREN(...) __VA_ARGS__

namespace rassim::edge {

// `name` is the export's own name, kept for the call inspection; the other
// parameters are exactly those of the RAS function (the exports check that at
// compile time).
#define RASSIM_EDGE_DECLARE(F, PA, PW, ARGS)            \
  DWORD F##A(const char* name, RASSIM_EDGE_UNPAREN PA); \
  DWORD F##W(const char* name, RASSIM_EDGE_UNPAREN PW);
#define RAS_GUARDED RASSIM_EDGE_DECLARE
#define RAS_PLAIN RASSIM_EDGE_DECLARE
#include "Ras2/RasFunctions.def"
#define RAS_OPTIONAL RASSIM_EDGE_DECLARE
// A function Windows exports under one name only (no A and W forms) is
// written by hand (EdgeStats.cpp): nothing of it depends on a character type.
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) DWORD F(const char* name, RASSIM_EDGE_UNPAREN P);
#include "Ras2/RasOptionalFunctions.def"
#undef RASSIM_EDGE_DECLARE

// RasConnectionNotification's registrations (EdgeNotify.cpp), the same for both forms.
DWORD WatchConnection(const char* name, THRasConn h, HANDLE event, DWORD flags);
// What the backend reports through EdgeServices: signals the registered events.
void ConnectionMade(THRasConn h);
void ConnectionEnded(THRasConn h);
// Drops every registration and its memory (the module unloads; the backends are closed).
void ForgetNotifications();
// Ends the looks at the machine's connections (before the backend closes, or a reset).
void StopWatchingMachine();

// Control interface (RasSimControl.h).
DWORD CtlReset();
DWORD CtlCallCount(LPCSTR exportName);
DWORD CtlLastCall(LPCSTR exportName, void* info);
DWORD CtlLastDialParams(void* params);
DWORD CtlDropConnection(THRasConn h);
DWORD CtlQueueFailure(LPCSTR entry, DWORD state, DWORD error);
DWORD CtlSetDialogAnswers(LPCSTR answers);
DWORD CtlSetStepDelay(DWORD state, DWORD ms);
DWORD CtlGetConnectionWindow(THRasConn h, HWND* wnd);
DWORD CtlLastProblem(LPSTR buffer, DWORD size);
// Releases every timer and window of the module (it is being unloaded).
void CtlShutdown();

}  // namespace rassim::edge
