// What the exports were called with, for tests and diagnostics (read through
// the QuorRasSimCallCount / QuorRasSimLastCall / QuorRasSimLastDialParams
// control exports).
#pragma once

#include <string>

#include "Ras2/RasContract.h"
#include "RasSim/edge/Backend.h"

namespace rassim::inspect {

struct CallRecord {
  DWORD count = 0;
  PhonebookKind kind = PhonebookKind::Null;
  std::string phonebook, name, name2;
  DWORD notifierType = 0;
  UINT_PTR notifier = 0;
  bool extensions = false;
};

// Counts a call of an export and keeps its arguments of interest.
void Record(const char* exportName, const PbArg* pb, const std::string& name = std::string(),
            const std::string& name2 = std::string());
void RecordDial(const char* exportName, const PbArg& pb, const DialParams& params, DWORD notifierType,
                UINT_PTR notifier, bool extensions);
// By export name ("RasDialA"), or by family name ("RasDial": A and W together, the later call's arguments).
bool Lookup(const std::string& name, CallRecord& out);
bool LastDialParams(DialParams& out);
void Clear();

}  // namespace rassim::inspect
