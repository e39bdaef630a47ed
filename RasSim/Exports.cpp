// rasapi32.dll: the exports of Quor's simulated RAS service. Each RAS
// function exists as an A and a W export sharing one implementation (Edge.h);
// the QuorRasSim... exports are the control interface (RasSimControl.h).
#include "RasSim/Edge.h"
#include "RasSim/RasSimExport.h"

namespace {
// Timers and windows must not outlive the code they call back into.
struct UnloadGuard {
  ~UnloadGuard() { rassim::edge::CtlShutdown(); }
} g_unloadGuard;
}  // namespace

RASSIM_EXPORT DWORD WINAPI RasCreatePhonebookEntryA(HWND hwnd, LPCSTR pb) {
  return rassim::edge::CreatePhonebookEntryA("RasCreatePhonebookEntryA", hwnd, pb);
}

RASSIM_EXPORT DWORD WINAPI RasCreatePhonebookEntryW(HWND hwnd, LPCWSTR pb) {
  return rassim::edge::CreatePhonebookEntryW("RasCreatePhonebookEntryW", hwnd, pb);
}

RASSIM_EXPORT DWORD WINAPI RasDialA(void* ext, LPCSTR pb, void* params, DWORD notifierType, DWORD notifier,
                                    DWORD* lphRasConn) {
  return rassim::edge::DialA("RasDialA", ext, pb, params, notifierType, notifier, lphRasConn);
}

RASSIM_EXPORT DWORD WINAPI RasDialW(void* ext, LPCWSTR pb, void* params, DWORD notifierType, DWORD notifier,
                                    DWORD* lphRasConn) {
  return rassim::edge::DialW("RasDialW", ext, pb, params, notifierType, notifier, lphRasConn);
}

RASSIM_EXPORT DWORD WINAPI RasEditPhonebookEntryA(HWND hwnd, LPCSTR pb, LPCSTR entry) {
  return rassim::edge::EditPhonebookEntryA("RasEditPhonebookEntryA", hwnd, pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasEditPhonebookEntryW(HWND hwnd, LPCWSTR pb, LPCWSTR entry) {
  return rassim::edge::EditPhonebookEntryW("RasEditPhonebookEntryW", hwnd, pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasEnumConnectionsA(void* conns, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumConnectionsA("RasEnumConnectionsA", conns, lpcb, count);
}

RASSIM_EXPORT DWORD WINAPI RasEnumConnectionsW(void* conns, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumConnectionsW("RasEnumConnectionsW", conns, lpcb, count);
}

RASSIM_EXPORT DWORD WINAPI RasEnumEntriesA(LPCSTR reserved, LPCSTR pb, void* names, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumEntriesA("RasEnumEntriesA", reserved, pb, names, lpcb, count);
}

RASSIM_EXPORT DWORD WINAPI RasEnumEntriesW(LPCWSTR reserved, LPCWSTR pb, void* names, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumEntriesW("RasEnumEntriesW", reserved, pb, names, lpcb, count);
}

RASSIM_EXPORT DWORD WINAPI RasGetConnectStatusA(DWORD h, void* status) {
  return rassim::edge::GetConnectStatusA("RasGetConnectStatusA", h, status);
}

RASSIM_EXPORT DWORD WINAPI RasGetConnectStatusW(DWORD h, void* status) {
  return rassim::edge::GetConnectStatusW("RasGetConnectStatusW", h, status);
}

RASSIM_EXPORT DWORD WINAPI RasGetEntryDialParamsA(LPCSTR pb, void* params, BOOL* password) {
  return rassim::edge::GetEntryDialParamsA("RasGetEntryDialParamsA", pb, params, password);
}

RASSIM_EXPORT DWORD WINAPI RasGetEntryDialParamsW(LPCWSTR pb, void* params, BOOL* password) {
  return rassim::edge::GetEntryDialParamsW("RasGetEntryDialParamsW", pb, params, password);
}

RASSIM_EXPORT DWORD WINAPI RasGetErrorStringA(UINT error, LPSTR buf, DWORD size) {
  return rassim::edge::GetErrorStringA("RasGetErrorStringA", error, buf, size);
}

RASSIM_EXPORT DWORD WINAPI RasGetErrorStringW(UINT error, LPWSTR buf, DWORD size) {
  return rassim::edge::GetErrorStringW("RasGetErrorStringW", error, buf, size);
}

RASSIM_EXPORT DWORD WINAPI RasGetProjectionInfoA(DWORD h, DWORD projection, void* buf, DWORD* lpcb) {
  return rassim::edge::GetProjectionInfoA("RasGetProjectionInfoA", h, projection, buf, lpcb);
}

RASSIM_EXPORT DWORD WINAPI RasGetProjectionInfoW(DWORD h, DWORD projection, void* buf, DWORD* lpcb) {
  return rassim::edge::GetProjectionInfoW("RasGetProjectionInfoW", h, projection, buf, lpcb);
}

RASSIM_EXPORT DWORD WINAPI RasHangUpA(DWORD h) {
  return rassim::edge::HangUp("RasHangUpA", h);
}

RASSIM_EXPORT DWORD WINAPI RasHangUpW(DWORD h) {
  return rassim::edge::HangUp("RasHangUpW", h);
}

RASSIM_EXPORT DWORD WINAPI RasSetEntryDialParamsA(LPCSTR pb, void* params, BOOL removePassword) {
  return rassim::edge::SetEntryDialParamsA("RasSetEntryDialParamsA", pb, params, removePassword);
}

RASSIM_EXPORT DWORD WINAPI RasSetEntryDialParamsW(LPCWSTR pb, void* params, BOOL removePassword) {
  return rassim::edge::SetEntryDialParamsW("RasSetEntryDialParamsW", pb, params, removePassword);
}

RASSIM_EXPORT DWORD WINAPI RasValidateEntryNameA(LPCSTR pb, LPCSTR entry) {
  return rassim::edge::ValidateEntryNameA("RasValidateEntryNameA", pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasValidateEntryNameW(LPCWSTR pb, LPCWSTR entry) {
  return rassim::edge::ValidateEntryNameW("RasValidateEntryNameW", pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasRenameEntryA(LPCSTR pb, LPCSTR oldName, LPCSTR newName) {
  return rassim::edge::RenameEntryA("RasRenameEntryA", pb, oldName, newName);
}

RASSIM_EXPORT DWORD WINAPI RasRenameEntryW(LPCWSTR pb, LPCWSTR oldName, LPCWSTR newName) {
  return rassim::edge::RenameEntryW("RasRenameEntryW", pb, oldName, newName);
}

RASSIM_EXPORT DWORD WINAPI RasDeleteEntryA(LPCSTR pb, LPCSTR entry) {
  return rassim::edge::DeleteEntryA("RasDeleteEntryA", pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasDeleteEntryW(LPCWSTR pb, LPCWSTR entry) {
  return rassim::edge::DeleteEntryW("RasDeleteEntryW", pb, entry);
}

RASSIM_EXPORT DWORD WINAPI RasGetEntryPropertiesA(LPCSTR pb, LPCSTR entry, void* buf, DWORD* size, void* dev,
                                                  DWORD* devSize) {
  return rassim::edge::GetEntryPropertiesA("RasGetEntryPropertiesA", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasGetEntryPropertiesW(LPCWSTR pb, LPCWSTR entry, void* buf, DWORD* size, void* dev,
                                                  DWORD* devSize) {
  return rassim::edge::GetEntryPropertiesW("RasGetEntryPropertiesW", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasSetEntryPropertiesA(LPCSTR pb, LPCSTR entry, void* buf, DWORD size, void* dev,
                                                  DWORD devSize) {
  return rassim::edge::SetEntryPropertiesA("RasSetEntryPropertiesA", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasSetEntryPropertiesW(LPCWSTR pb, LPCWSTR entry, void* buf, DWORD size, void* dev,
                                                  DWORD devSize) {
  return rassim::edge::SetEntryPropertiesW("RasSetEntryPropertiesW", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasGetCountryInfoA(void* info, DWORD* size) {
  return rassim::edge::GetCountryInfoA("RasGetCountryInfoA", info, size);
}

RASSIM_EXPORT DWORD WINAPI RasGetCountryInfoW(void* info, DWORD* size) {
  return rassim::edge::GetCountryInfoW("RasGetCountryInfoW", info, size);
}

RASSIM_EXPORT DWORD WINAPI RasEnumDevicesA(void* devs, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumDevicesA("RasEnumDevicesA", devs, lpcb, count);
}

RASSIM_EXPORT DWORD WINAPI RasEnumDevicesW(void* devs, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumDevicesW("RasEnumDevicesW", devs, lpcb, count);
}

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

RASSIM_EXPORT DWORD WINAPI QuorRasSimDropConnection(DWORD h) {
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

RASSIM_EXPORT DWORD WINAPI QuorRasSimGetConnectionWindow(DWORD h, HWND* wnd) {
  return rassim::edge::CtlGetConnectionWindow(h, wnd);
}
