// The edge of the simulated RAS service: one implementation per RAS function,
// in an A and a W form that differ only in their records and texts. Each
// checks its arguments (null pointers 87, record sizes 632, buffer sizes 603
// with the size needed written back), converts UTF-16 at the W edge, records
// the call for the control interface and calls the service.
//
#pragma once

#include "Ras2/RasContract.h"

namespace rassim::edge {

// `name` is the export's own name, kept for the call inspection; the other
// parameters are exactly those of the RAS function (the exports check that at
// compile time).
DWORD RasCreatePhonebookEntryA(const char* name, HWND hwnd, LPCSTR pb);
DWORD RasCreatePhonebookEntryW(const char* name, HWND hwnd, LPCWSTR pb);
DWORD RasDialA(const char* name, LPRasDialExtensions ext, LPCSTR pb, LPRasDialParamsA params, DWORD notifierType,
               UINT_PTR notifier, LPHRasConn lph);
DWORD RasDialW(const char* name, LPRasDialExtensions ext, LPCWSTR pb, LPRasDialParamsW params, DWORD notifierType,
               UINT_PTR notifier, LPHRasConn lph);
DWORD RasEditPhonebookEntryA(const char* name, HWND hwnd, LPCSTR pb, LPCSTR entry);
DWORD RasEditPhonebookEntryW(const char* name, HWND hwnd, LPCWSTR pb, LPCWSTR entry);
DWORD RasEnumConnectionsA(const char* name, LPRasConnA conns, LPDWORD lpcb, LPDWORD count);
DWORD RasEnumConnectionsW(const char* name, LPRasConnW conns, LPDWORD lpcb, LPDWORD count);
DWORD RasEnumEntriesA(const char* name, LPCSTR reserved, LPCSTR pb, LPRasEntryNameA names, LPDWORD lpcb, LPDWORD count);
DWORD RasEnumEntriesW(const char* name, LPCWSTR reserved, LPCWSTR pb, LPRasEntryNameW names, LPDWORD lpcb,
                      LPDWORD count);
DWORD RasGetConnectStatusA(const char* name, THRasConn h, LPRasConnStatusA status);
DWORD RasGetConnectStatusW(const char* name, THRasConn h, LPRasConnStatusW status);
DWORD RasGetEntryDialParamsA(const char* name, LPCSTR pb, LPRasDialParamsA params, BOOL* password);
DWORD RasGetEntryDialParamsW(const char* name, LPCWSTR pb, LPRasDialParamsW params, BOOL* password);
DWORD RasGetErrorStringA(const char* name, UINT error, LPSTR buf, DWORD size);
DWORD RasGetErrorStringW(const char* name, UINT error, LPWSTR buf, DWORD size);
DWORD RasGetProjectionInfoA(const char* name, THRasConn h, TRasProjection projection, LPVOID buf, LPDWORD lpcb);
DWORD RasGetProjectionInfoW(const char* name, THRasConn h, TRasProjection projection, LPVOID buf, LPDWORD lpcb);
DWORD RasHangUpA(const char* name, THRasConn h);
DWORD RasHangUpW(const char* name, THRasConn h);
DWORD RasSetEntryDialParamsA(const char* name, LPCSTR pb, LPRasDialParamsA params, BOOL removePassword);
DWORD RasSetEntryDialParamsW(const char* name, LPCWSTR pb, LPRasDialParamsW params, BOOL removePassword);
DWORD RasValidateEntryNameA(const char* name, LPCSTR pb, LPCSTR entry);
DWORD RasValidateEntryNameW(const char* name, LPCWSTR pb, LPCWSTR entry);
DWORD RasRenameEntryA(const char* name, LPCSTR pb, LPCSTR oldName, LPCSTR newName);
DWORD RasRenameEntryW(const char* name, LPCWSTR pb, LPCWSTR oldName, LPCWSTR newName);
DWORD RasDeleteEntryA(const char* name, LPCSTR pb, LPCSTR entry);
DWORD RasDeleteEntryW(const char* name, LPCWSTR pb, LPCWSTR entry);
DWORD RasGetEntryPropertiesA(const char* name, LPCSTR pb, LPCSTR entry, LPVOID buf, LPDWORD size, LPVOID dev,
                             LPDWORD devSize);
DWORD RasGetEntryPropertiesW(const char* name, LPCWSTR pb, LPCWSTR entry, LPVOID buf, LPDWORD size, LPVOID dev,
                             LPDWORD devSize);
DWORD RasSetEntryPropertiesA(const char* name, LPCSTR pb, LPCSTR entry, LPVOID buf, DWORD size, LPVOID dev,
                             DWORD devSize);
DWORD RasSetEntryPropertiesW(const char* name, LPCWSTR pb, LPCWSTR entry, LPVOID buf, DWORD size, LPVOID dev,
                             DWORD devSize);
DWORD RasGetCountryInfoA(const char* name, LPRasCtryInfo info, LPDWORD size);
DWORD RasGetCountryInfoW(const char* name, LPRasCtryInfo info, LPDWORD size);
DWORD RasEnumDevicesA(const char* name, LPRasDevInfoA devs, LPDWORD lpcb, LPDWORD count);
DWORD RasEnumDevicesW(const char* name, LPRasDevInfoW devs, LPDWORD lpcb, LPDWORD count);
DWORD RasConnectionNotificationA(const char* name, THRasConn h, HANDLE event, DWORD flags);
DWORD RasConnectionNotificationW(const char* name, THRasConn h, HANDLE event, DWORD flags);
// What the backend reports through EdgeServices: signals the registered events.
void ConnectionMade(THRasConn h);
void ConnectionEnded(THRasConn h);
// Drops every registration and its memory (the module unloads; the backends are closed).
void ForgetNotifications();

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
