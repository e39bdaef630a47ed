// Ras2: the run-time binding of rasapi32.dll. The records, constants and
// function types come from the contract header; this header adds the binding's
// state, the 47 entry-point variables and the fallback functions, all
// generated from the one list of RAS functions.
#pragma once

#include "Ras2/RasContract.h"

// ---------------------------------------------------------------- binding state
// All process-wide, shared by every component; touched only from the GUI thread.
extern HMODULE hLib;            // rasapi32.dll as last loaded by InitRas; 0 after a failed load
extern HMODULE lib;             // library chosen by the fallback lookup
extern bool rnaph_initialized;  // the fallback lookup has made its choice
extern bool is_rnaph;           // ... and chose rnaph.dll

// The 47 entry-point variables, in binding order. Null where the library
// lacks the export; the neutral variable holds the ANSI export.
#define RAS_PLAIN(F, PA, PW, ARGS) \
  extern T##F##A F##A;             \
  extern T##F##W F##W;
#define RAS_GUARDED(F, PA, PW, ARGS) \
  RAS_PLAIN(F, PA, PW, ARGS)         \
  extern T##F F;
// The fallback functions: look their entry point up anew on every call, in
// rasapi32.dll or, where it lacks the ANSI export, in rnaph.dll. They throw
// Exception when no entry point can be had. Their parameters are the ANSI ones.
#define RAS_FALLBACK(F, PA, PW, ARGS) \
  RAS_PLAIN(F, PA, PW, ARGS)          \
  DWORD WINAPI F PA;
#include "Ras2/RasFunctions.def"

// Where rasapi32.dll and rnaph.dll are looked for. Off (the default): the
// normal library search, which finds a copy beside the program first. On: the
// system folder only, so that a rasapi32.dll placed beside the program can
// never replace the system's RAS. Set it before the first component is made.
void SetRasSystemFolderOnly(bool only);
bool RasSystemFolderOnly();

// Loads rasapi32.dll (one more reference) and binds all 47 variables.
// False, with no variable written and hLib 0, when the library cannot load.
bool InitRas();
// Releases the reference InitRas took (when hLib is not 0). Always true.
bool CloseRas();

// Unit initialisation (does nothing) and finalisation (releases rnaph.dll
// when the fallback lookup chose it). The finalisation runs at most once: from
// a package's unit table, or else at process exit.
void Ras2Initialization();
void Ras2Finalization();
