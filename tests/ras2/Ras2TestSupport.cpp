#include "tests/ras2/Ras2TestSupport.h"

#include <cstring>

#ifndef RAS2_VARIANTS_DIR
#error "RAS2_VARIANTS_DIR must name the folder of the stand-in libraries"
#endif

namespace ras2test {

std::string VariantDir(const std::string& variant) {
  return std::string(RAS2_VARIANTS_DIR) + "/" + variant;
}

void UseVariant(const std::string& variant) {
  SetDllDirectoryA(VariantDir(variant).c_str());
}

FakeRasState* StateOf(HMODULE module) {
  if (module == 0) return nullptr;
  FARPROC proc = GetProcAddress(module, "FakeRasGetState");
  if (proc == nullptr) return nullptr;
  return reinterpret_cast<TFakeRasStateFn>(reinterpret_cast<void (*)()>(proc))();
}

bool IsLoaded(const char* file) {
  return GetModuleHandleA(file) != 0;
}

bool CanBeAbsent(const char* file) {
  UseVariant("none");
  HMODULE probe = LoadLibraryA(file);
  if (probe == 0) return true;
  FreeLibrary(probe);
  return false;
}

#define RAS2_VAR(NAME, EXPORT, FAMILY, WIDE, NEUTRAL)                                                                 \
  EntryVariable {                                                                                                     \
#NAME, EXPORT, FAMILY, WIDE, NEUTRAL,                                                                             \
        [] { return reinterpret_cast<Untyped>(NAME); }, [](Untyped p) { NAME = reinterpret_cast<decltype(NAME)>(p); } \
  }
#define RAS2_FAMILY3(F, N) \
  RAS2_VAR(F##A, #F "A", N, false, false), RAS2_VAR(F##W, #F "W", N, true, false), RAS2_VAR(F, #F "A", N, false, true)
#define RAS2_FAMILY2(F, N) RAS2_VAR(F##A, #F "A", N, false, false), RAS2_VAR(F##W, #F "W", N, true, false)

const std::vector<EntryVariable>& EntryVariables() {
  static const std::vector<EntryVariable> table = {
      RAS2_FAMILY3(RasCreatePhonebookEntry, 1), RAS2_FAMILY3(RasDial, 2),
      RAS2_FAMILY3(RasEditPhonebookEntry, 3),   RAS2_FAMILY3(RasEnumConnections, 4),
      RAS2_FAMILY3(RasEnumEntries, 5),          RAS2_FAMILY3(RasGetConnectStatus, 6),
      RAS2_FAMILY3(RasGetEntryDialParams, 7),   RAS2_FAMILY3(RasGetErrorString, 8),
      RAS2_FAMILY3(RasGetProjectionInfo, 9),    RAS2_FAMILY3(RasHangUp, 10),
      RAS2_FAMILY3(RasSetEntryDialParams, 11),  RAS2_FAMILY2(RasValidateEntryName, 12),
      RAS2_FAMILY2(RasRenameEntry, 13),         RAS2_FAMILY2(RasDeleteEntry, 14),
      RAS2_FAMILY2(RasGetEntryProperties, 15),  RAS2_FAMILY2(RasSetEntryProperties, 16),
      RAS2_FAMILY2(RasGetCountryInfo, 17),      RAS2_FAMILY2(RasEnumDevices, 18),
  };
  return table;
}

const EntryVariable& Variable(const std::string& name) {
  for (const EntryVariable& v : EntryVariables())
    if (name == v.variable) return v;
  throw std::invalid_argument("no entry-point variable " + name);
}

}  // namespace ras2test
