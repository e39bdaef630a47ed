// The Win32 subset Quor is written against.
//
// On Windows this is the real API: <windows.h>. Everywhere else it is our own
// implementation (libquorwin32), which provides the same names with the same
// meaning: library loading, registered window messages, window classes and
// hidden windows, per-thread message queues, FindWindowA/ShowWindow and Sleep.
// Code above this layer calls the Win32 names and never tests the platform.
#pragma once

#include "Win32/Win32Export.h"

#if defined(_WIN32)

// An application including our headers keeps windows.h as it configured it:
// the settings and mappings below apply only to Quor's own sources, which are
// compiled with QUOR_INTERNAL_BUILD.
#if defined(QUOR_INTERNAL_BUILD)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif
#include <windows.h>

#include "Win32/Clock.h"

#if defined(QUOR_INTERNAL_BUILD)
// Sleep must follow Quor's clock so that virtual time works on every platform:
// a virtual Sleep(2000) moves the clock on instead of blocking. windows.h has
// already declared kernel32's Sleep above, so from here on our code calls the
// clock-aware one.
#define Sleep QuorSleep

// windows.h maps the neutral RegisterClass onto RegisterClassA; Quor calls the
// 8-bit window functions by their A names, and the neutral name belongs to the
// host framework's class registry (RegisterClass(TComponentClass)).
#undef RegisterClass
#endif

#else  // our own subset

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

// Handles are 32-bit values, as they are on 32-bit Windows: RAS records carry
// them in 32-bit fields. 0 means none.
typedef uint32_t HWND;
typedef uint32_t HMODULE;
typedef HMODULE HINSTANCE;
typedef uint32_t HMENU;
typedef uint32_t HICON;
typedef uint32_t HCURSOR;
typedef uint32_t HBRUSH;
typedef uint32_t HANDLE;
typedef intptr_t (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

// What WM_CREATE's lParam points to.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

// Window messages used by Quor.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10
#define SW_FORCEMINIMIZE 11

// Window styles (only the visible bit has an effect here).
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_VISIBLE 0x10000000L
#define WS_MINIMIZE 0x20000000L
#define WS_CHILD 0x40000000L
#define WS_EX_TOOLWINDOW 0x00000080L

#define HWND_MESSAGE ((HWND)0xFFFFFFFDu)
#define GWLP_USERDATA (-21)
#define GWLP_WNDPROC (-4)

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define QS_ALLINPUT 0x04FF
#define QS_ALLPOSTMESSAGE 0x0100

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

// Windows error numbers (winerror.h) used by Quor and its RAS service.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_CANCELLED 1223L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_MESSAGE_SYNC_ONLY 1159L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_INVALID_THREAD_ID 1444L

extern "C" {

// kernel32
QUORWIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
// Of the flags only LOAD_LIBRARY_SEARCH_SYSTEM32 (look in the system folder
// alone, never beside the program) is known; hFile must be null.
QUORWIN32_API HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
QUORWIN32_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
QUORWIN32_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
QUORWIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
QUORWIN32_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
QUORWIN32_API BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName);
QUORWIN32_API void WINAPI Sleep(DWORD dwMilliseconds);
QUORWIN32_API DWORD WINAPI GetTickCount(void);
QUORWIN32_API DWORD WINAPI GetCurrentThreadId(void);
QUORWIN32_API DWORD WINAPI GetCurrentProcessId(void);
QUORWIN32_API DWORD WINAPI GetLastError(void);
QUORWIN32_API void WINAPI SetLastError(DWORD dwErrCode);
// Event objects (unnamed only) and waiting for one; MsgWaitForMultipleObjects
// waits for events and the thread's input together (not for all at once).
QUORWIN32_API HANDLE WINAPI CreateEventA(LPVOID lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                         LPCSTR lpName);
QUORWIN32_API BOOL WINAPI SetEvent(HANDLE hEvent);
QUORWIN32_API BOOL WINAPI ResetEvent(HANDLE hEvent);
QUORWIN32_API BOOL WINAPI CloseHandle(HANDLE hObject);
QUORWIN32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// user32
QUORWIN32_API UINT WINAPI RegisterWindowMessageA(LPCSTR lpString);
QUORWIN32_API WORD WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
QUORWIN32_API BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
QUORWIN32_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                                          int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                          HINSTANCE hInstance, LPVOID lpParam);
QUORWIN32_API BOOL WINAPI DestroyWindow(HWND hWnd);
QUORWIN32_API BOOL WINAPI IsWindow(HWND hWnd);
QUORWIN32_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
QUORWIN32_API LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
QUORWIN32_API LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
QUORWIN32_API int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
QUORWIN32_API BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
QUORWIN32_API HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
QUORWIN32_API BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
QUORWIN32_API BOOL WINAPI IsWindowVisible(HWND hWnd);
QUORWIN32_API BOOL WINAPI IsIconic(HWND hWnd);
QUORWIN32_API DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
QUORWIN32_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
QUORWIN32_API BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
QUORWIN32_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
QUORWIN32_API BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
QUORWIN32_API BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
QUORWIN32_API BOOL WINAPI TranslateMessage(const MSG* lpMsg);
QUORWIN32_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
QUORWIN32_API void WINAPI PostQuitMessage(int nExitCode);
QUORWIN32_API DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                                     DWORD dwMilliseconds, DWORD dwWakeMask);

}  // extern "C"

#include "Win32/Clock.h"

#endif  // platform
