#include "tools/quor/RasDirect.h"

#include <cstdlib>
#include <cstring>

#include "Ras2/Ras2.h"
#include "RasSim/RasSimControl.h"

namespace quortool {

namespace {

// The phonebook argument of edit, delete and rename, as the component passes it.
const char kDefaultPhonebook[] = "";

// An export of the loaded rasapi32.dll by name (the control interface).
template <typename T>
T LibraryExport(const char* name) {
  if (hLib == 0) return nullptr;
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hLib, name)));
}

}  // namespace

std::string RasErrorText(uint32_t code) {
  char text[256] = {0};
  if (RasGetErrorString != nullptr && RasGetErrorString(code, text, sizeof text) == 0 && text[0] != 0) {
    return std::string(text, strnlen(text, sizeof text));
  }
  return "error " + std::to_string(code);
}

uint32_t ProbePhonebook() {
  if (RasEnumEntries == nullptr) return ERROR_PROC_NOT_FOUND;
  TRasEntryName names[1];
  std::memset(names, 0, sizeof names);
  names[0].dwSize = sizeof(TRasEntryName);
  DWORD size = sizeof names;
  DWORD count = 0;
  const DWORD code = RasEnumEntries(nullptr, nullptr, names, &size, &count);
  return code == ERROR_BUFFER_TOO_SMALL ? 0 : code;  // more entries than one record: readable
}

uint32_t ValidateEntryName(const std::string& name) {
  if (RasValidateEntryNameA == nullptr) return ERROR_PROC_NOT_FOUND;
  return RasValidateEntryNameA(nullptr, name.c_str());
}

uint32_t RenameEntryCode(const std::string& from, const std::string& to) {
  if (RasRenameEntryA == nullptr) return ERROR_PROC_NOT_FOUND;
  return RasRenameEntryA(kDefaultPhonebook, from.c_str(), to.c_str());
}

uint32_t DeleteEntryCode(const std::string& entry) {
  if (RasDeleteEntryA == nullptr) return ERROR_PROC_NOT_FOUND;
  return RasDeleteEntryA(kDefaultPhonebook, entry.c_str());
}

uint32_t EditEntryCode(const std::string& entry) {
  if (RasEditPhonebookEntry == nullptr) return ERROR_PROC_NOT_FOUND;
  return RasEditPhonebookEntry(0, kDefaultPhonebook, entry.c_str());
}

RasLibraryInfo LoadedRasLibrary() {
  RasLibraryInfo info;
  if (hLib == 0) return info;
  info.loaded = true;
  info.simulated = LibraryExport<TQuorRasSimReset>("QuorRasSimReset") != nullptr;
  char path[1024] = {0};
  const DWORD length = GetModuleFileNameA(hLib, path, sizeof path);
  info.path = std::string(path, length < sizeof path ? length : 0);
  return info;
}

std::string RasLibraryInfo::Describe() const {
  if (!loaded) return "none could be loaded";
  if (!simulated) return path + " (the system's RAS, not Quor's)";
  const char* backend = std::getenv("QUOR_RAS_BACKEND");
  return path + " (Quor's RAS library, backend " + (backend != nullptr && *backend != 0 ? backend : "sim") + ")";
}

std::string SimulatedServiceProblem() {
  const auto lastProblem = LibraryExport<TQuorRasSimLastProblem>("QuorRasSimLastProblem");
  if (lastProblem == nullptr) return std::string();
  char text[1024] = {0};
  if (lastProblem(text, sizeof text) != 0) return std::string();
  return std::string(text, strnlen(text, sizeof text));
}

uint32_t ResetSimulatedService() {
  const auto reset = LibraryExport<TQuorRasSimReset>("QuorRasSimReset");
  if (reset == nullptr) return ERROR_PROC_NOT_FOUND;
  return reset();
}

}  // namespace quortool
