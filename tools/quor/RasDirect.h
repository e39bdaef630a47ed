// The RAS calls the tool makes itself, beside TQuor: the component answers
// its phonebook operations with true or false, and a user needs RAS's reason
// (the name is taken, the folder cannot be written). These functions make the
// same single calls the component would (empty phonebook = the default one)
// and return RAS's code. They use the Ras2 entry-point variables a live TQuor
// has bound; each returns ERROR_PROC_NOT_FOUND when the loaded library lacks
// its export.
#pragma once

#include <cstdint>
#include <string>

namespace quortool {

// RAS's own text for an error number ("The line is busy."), or "error N"
// when RAS has none.
std::string RasErrorText(uint32_t code);

// 0 when RAS can read the phonebook (whether or not it holds entries), else
// RAS's code (621 cannot open, 622 cannot read, 625 corrupt, ...).
uint32_t ProbePhonebook();
uint32_t ValidateEntryName(const std::string& name);
uint32_t RenameEntryCode(const std::string& from, const std::string& to);
uint32_t DeleteEntryCode(const std::string& entry);
uint32_t EditEntryCode(const std::string& entry);

// Which rasapi32.dll this process loaded.
struct RasLibraryInfo {
  bool loaded = false;
  bool simulated = false;  // Quor's own library (it answers to its control exports)
  std::string path;
  std::string Describe() const;  // "<path> (Quor's RAS library, backend sim)"
};
RasLibraryInfo LoadedRasLibrary();
// The simulated service's account of its last refused request ("the
// phonebook /x/rasphone.pbk: line 3: ..."), or "" (also for any other RAS).
std::string SimulatedServiceProblem();
// Clears the simulated service's attempt counters (and this process's
// test settings); RAS's code, or ERROR_PROC_NOT_FOUND for any other RAS.
uint32_t ResetSimulatedService();

}  // namespace quortool
