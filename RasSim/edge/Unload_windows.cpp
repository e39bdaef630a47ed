// rasapi32.dll's unload on Windows: DLL_PROCESS_DETACH reaches DllMain before
// the C runtime destroys the module's static objects, so the library's
// timers, windows and calls end while all of them still exist.
#include "RasSim/common/Lasting.h"
#include "RasSim/edge/Edge.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) {
    rassim::edge::CtlShutdown();
    // FreeLibrary (not the end of the process): nothing may be left behind.
    if (reserved == nullptr) rassim::ReleaseLasting();
  }
  return TRUE;
}
