// Control interface of Quor's simulated RAS service: extra exports of
// rasapi32.dll, beside the RAS functions, for tests, demos and the `quor`
// tool. Reach them with GetProcAddress on the loaded rasapi32.dll, using the
// names and function types below (all stdcall, all return 0 or an error
// number). See RasSim/README.md.
#pragma once

#include "Win32/Win32.h"

// Phonebook argument kinds, as recorded per export.
#define QUORRASSIM_PHONEBOOK_NULL 0   // null pointer
#define QUORRASSIM_PHONEBOOK_EMPTY 1  // ""
#define QUORRASSIM_PHONEBOOK_PATH 2   // a file name

// Pass as a state to QuorRasSimQueueFailure: RasDial itself fails at once.
// Pass as a state to QuorRasSimSetStepDelay: every state.
#define QUORRASSIM_ANY_STATE 0xFFFFFFFFu
// Pass as the delay to QuorRasSimSetStepDelay: remove the override.
#define QUORRASSIM_DEFAULT_DELAY 0xFFFFFFFFu

// What an export was last called with. dwSize must be sizeof(QuorRasSimCallInfo).
struct QuorRasSimCallInfo {
  DWORD dwSize;
  DWORD dwCount;          // calls so far
  DWORD dwPhonebookKind;  // QUORRASSIM_PHONEBOOK_...
  CHAR szPhonebook[260];  // the phonebook text (cut to fit)
  CHAR szName[257];       // the entry name argument, where the function has one
  CHAR szName2[257];      // the new name of RasRenameEntry
  DWORD dwNotifierType;   // RasDial only
  UINT_PTR dwNotifier;    // RasDial only (pointer-wide, as RasDial takes it)
  DWORD fExtensions;      // RasDial: non-zero when dial extensions were passed
};

extern "C" {

// Forget this process's connections (no teardown), queued failures, delay
// overrides, dialog answers, call counts and the attempt counters.
typedef DWORD(WINAPI* TQuorRasSimReset)(void);
// Calls of an export ("RasDialA") or of a family ("RasDial": A and W together).
typedef DWORD(WINAPI* TQuorRasSimCallCount)(LPCSTR exportName);
// The last call's arguments; 632 for a wrong dwSize, 87 for a null pointer, 2 when never called.
typedef DWORD(WINAPI* TQuorRasSimLastCall)(LPCSTR exportName, QuorRasSimCallInfo* info);
// The dial parameters of the last RasDial (A or W), as an ANSI TRasDialParams
// record (dwSize 1052). 2 when there was no dial.
typedef DWORD(WINAPI* TQuorRasSimLastDialParams)(void* rasDialParamsA);
// The line of one of this process's connections is lost now: its status is
// no longer given (6), it is no longer listed; RasHangUp still releases it.
typedef DWORD(WINAPI* TQuorRasSimDropConnection)(UINT_PTR hrasconn);
// The next dial of the entry fails with `error` at `state` (or at once).
typedef DWORD(WINAPI* TQuorRasSimQueueFailure)(LPCSTR entry, DWORD state, DWORD error);
// Scripted answers for the entry dialogs (answers text, see README); null clears.
typedef DWORD(WINAPI* TQuorRasSimSetDialogAnswers)(LPCSTR answers);
// Delay in ms before the dial event of a state (or of every state) in this process.
typedef DWORD(WINAPI* TQuorRasSimSetStepDelay)(DWORD state, DWORD ms);
// The "Connected to ..." window of one of this process's connections (0 when none).
typedef DWORD(WINAPI* TQuorRasSimGetConnectionWindow)(UINT_PTR hrasconn, HWND* wnd);

// This process's last refused request told in words where a RAS error number
// alone cannot say it: the file, line and key ("the scenario /x/s.ini: line 3:
// StepDelay=abc: not a duration"); "" when there was none. 87 for a null
// buffer, 603 when the text (with its zero) does not fit (nothing written).
typedef DWORD(WINAPI* TQuorRasSimLastProblem)(LPSTR buffer, DWORD size);

}  // extern "C"
