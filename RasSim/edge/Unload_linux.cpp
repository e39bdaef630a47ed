// rasapi32.dll's unload on Linux. The library's timers, windows and calls end
// before any of its static objects is destroyed: a finaliser of the module
// runs ahead of the C++ static destructors when the module is unloaded
// (dlclose runs the module's finalisers, the last of which destroys the
// static objects). At process exit the static destructors of every module
// run first and the finalisers after them, so everything the unload and the
// clock callbacks use lives in storage they never destroy (Lasting.h).
#include "RasSim/common/Lasting.h"
#include "RasSim/edge/Edge.h"

namespace {

bool g_exiting = false;

// Destroyed with the module's other static objects: before the finaliser
// when the process exits, after it when the module is unloaded.
struct ExitMark {
  ~ExitMark() { g_exiting = true; }
} g_exitMark;

__attribute__((destructor)) void OnUnload() {
  rassim::edge::CtlShutdown();
  // Once unloaded, nothing may be left that no one points at; a process that
  // exits keeps its memory to the end (other threads may still be running).
  if (!g_exiting) rassim::ReleaseLasting();
}

}  // namespace
