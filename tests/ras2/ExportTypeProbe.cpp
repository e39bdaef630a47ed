// Compiled twice by export_type_check.cmake, never linked: with
// PROBE_NEW_NAME_TYPE=LPCSTR it must compile, with LPSTR (one parameter of one
// export and of its edge function off by a const) it must not.
#include "RasSim/edge/ExportCheck.h"

namespace rassim::edge {
DWORD ProbeRenameEntryA(const char* name, LPCSTR pb, LPCSTR oldName, PROBE_NEW_NAME_TYPE newName);
}

RASSIM_CHECK_EDGE(ProbeRenameEntryA, (LPCSTR pb, LPCSTR oldName, LPCSTR newName));

RASSIM_EXPORT DWORD WINAPI RasRenameEntryA(LPCSTR pb, LPCSTR oldName, PROBE_NEW_NAME_TYPE newName) {
  return rassim::edge::ProbeRenameEntryA("RasRenameEntryA", pb, oldName, newName);
}
RASSIM_CHECK_EXPORT(RasRenameEntryA, TRasRenameEntryA);
