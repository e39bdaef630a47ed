// The edge of the simulated RAS service: one implementation per RAS function,
// in an A and a W form that differ only in their records and texts. Each
// checks its arguments (null pointers 87, record sizes 632, buffer sizes 603
// with the size needed written back), converts UTF-16 at the W edge, records
// the call for the control interface and calls the service.
//
// Declared with the plain Win32 types only (records as void*), so that the
// export files can define functions named like the RAS exports without
// meeting Ras2's declarations of the same names.
#pragma once

#include "Win32/Win32.h"

namespace rassim::edge {

// `name` is the export's own name, kept for the call inspection.
DWORD CreatePhonebookEntryA(const char* name, HWND hwnd, LPCSTR pb);
DWORD CreatePhonebookEntryW(const char* name, HWND hwnd, LPCWSTR pb);
DWORD DialA(const char* name, void* ext, LPCSTR pb, void* params, DWORD notifierType, DWORD notifier, DWORD* lph);
DWORD DialW(const char* name, void* ext, LPCWSTR pb, void* params, DWORD notifierType, DWORD notifier, DWORD* lph);
DWORD EditPhonebookEntryA(const char* name, HWND hwnd, LPCSTR pb, LPCSTR entry);
DWORD EditPhonebookEntryW(const char* name, HWND hwnd, LPCWSTR pb, LPCWSTR entry);
DWORD EnumConnectionsA(const char* name, void* conns, DWORD* lpcb, DWORD* count);
DWORD EnumConnectionsW(const char* name, void* conns, DWORD* lpcb, DWORD* count);
DWORD EnumEntriesA(const char* name, LPCSTR reserved, LPCSTR pb, void* names, DWORD* lpcb, DWORD* count);
DWORD EnumEntriesW(const char* name, LPCWSTR reserved, LPCWSTR pb, void* names, DWORD* lpcb, DWORD* count);
DWORD GetConnectStatusA(const char* name, DWORD h, void* status);
DWORD GetConnectStatusW(const char* name, DWORD h, void* status);
DWORD GetEntryDialParamsA(const char* name, LPCSTR pb, void* params, BOOL* password);
DWORD GetEntryDialParamsW(const char* name, LPCWSTR pb, void* params, BOOL* password);
DWORD GetErrorStringA(const char* name, UINT error, LPSTR buf, DWORD size);
DWORD GetErrorStringW(const char* name, UINT error, LPWSTR buf, DWORD size);
DWORD GetProjectionInfoA(const char* name, DWORD h, DWORD projection, void* buf, DWORD* lpcb);
DWORD GetProjectionInfoW(const char* name, DWORD h, DWORD projection, void* buf, DWORD* lpcb);
DWORD HangUp(const char* name, DWORD h);
DWORD SetEntryDialParamsA(const char* name, LPCSTR pb, void* params, BOOL removePassword);
DWORD SetEntryDialParamsW(const char* name, LPCWSTR pb, void* params, BOOL removePassword);
DWORD ValidateEntryNameA(const char* name, LPCSTR pb, LPCSTR entry);
DWORD ValidateEntryNameW(const char* name, LPCWSTR pb, LPCWSTR entry);
DWORD RenameEntryA(const char* name, LPCSTR pb, LPCSTR oldName, LPCSTR newName);
DWORD RenameEntryW(const char* name, LPCWSTR pb, LPCWSTR oldName, LPCWSTR newName);
DWORD DeleteEntryA(const char* name, LPCSTR pb, LPCSTR entry);
DWORD DeleteEntryW(const char* name, LPCWSTR pb, LPCWSTR entry);
DWORD GetEntryPropertiesA(const char* name, LPCSTR pb, LPCSTR entry, void* buf, DWORD* size, void* dev, DWORD* devSize);
DWORD GetEntryPropertiesW(const char* name, LPCWSTR pb, LPCWSTR entry, void* buf, DWORD* size, void* dev,
                          DWORD* devSize);
DWORD SetEntryPropertiesA(const char* name, LPCSTR pb, LPCSTR entry, void* buf, DWORD size, void* dev, DWORD devSize);
DWORD SetEntryPropertiesW(const char* name, LPCWSTR pb, LPCWSTR entry, void* buf, DWORD size, void* dev, DWORD devSize);
DWORD GetCountryInfoA(const char* name, void* info, DWORD* size);
DWORD GetCountryInfoW(const char* name, void* info, DWORD* size);
DWORD EnumDevicesA(const char* name, void* devs, DWORD* lpcb, DWORD* count);
DWORD EnumDevicesW(const char* name, void* devs, DWORD* lpcb, DWORD* count);

// Control interface (RasSimControl.h).
DWORD CtlReset();
DWORD CtlCallCount(LPCSTR exportName);
DWORD CtlLastCall(LPCSTR exportName, void* info);
DWORD CtlLastDialParams(void* params);
DWORD CtlDropConnection(DWORD h);
DWORD CtlQueueFailure(LPCSTR entry, DWORD state, DWORD error);
DWORD CtlSetDialogAnswers(LPCSTR answers);
DWORD CtlSetStepDelay(DWORD state, DWORD ms);
DWORD CtlGetConnectionWindow(DWORD h, HWND* wnd);
// Releases every timer and window of the module (it is being unloaded).
void CtlShutdown();

}  // namespace rassim::edge
