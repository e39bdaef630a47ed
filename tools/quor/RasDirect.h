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
#include <vector>

#include "Ras2/RasContract.h"

namespace quortool {

// RAS's own text for an error number ("The line is busy."), or "error N"
// when RAS has none.
std::string RasErrorText(uint32_t code);

// 0 when RAS can read the phonebook (whether or not it holds entries), else
// RAS's code (621 cannot open, 622 cannot read, 625 corrupt, ...).
uint32_t ProbePhonebook();
// 0 when RAS can list the active connections, else RAS's code (711: RAS
// cannot start, as when the simulated service refuses its state folder).
uint32_t ProbeConnections();
uint32_t ValidateEntryName(const std::string& name);
uint32_t RenameEntryCode(const std::string& from, const std::string& to);
uint32_t DeleteEntryCode(const std::string& entry);
uint32_t EditEntryCode(const std::string& entry);
// The component's GetDialParams and SetDialParams say only true or false:
// RAS's own answer to the same read, and to the same store (which is made
// again: a store that now succeeds gives 0), for a user who needs the reason.
uint32_t ReadDialParamsCode(const std::string& entry);
struct DialParamsText {
  std::string entry, user, password, phone, callback, domain;
};
uint32_t StoreDialParamsCode(const DialParamsText& params);

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

// An entry's properties as RAS keeps them: the record and the alternate
// numbers that follow it.
struct EntryProperties {
  TRasEntry record{};
  std::vector<std::string> alternates;
};
// The entry's properties; an empty name gives the defaults of a new entry.
uint32_t GetEntryPropertiesCode(const std::string& entry, EntryProperties& out);
// Writes (or creates) the entry with these properties in one call.
uint32_t SetEntryPropertiesCode(const std::string& entry, const EntryProperties& properties);

struct DeviceInfo {
  std::string type;
  std::string name;
};
uint32_t EnumDevicesCode(std::vector<DeviceInfo>& out);

// The IP addresses of a connected call (RasGetProjectionInfo, RASP_PppIp).
uint32_t IpAddressesOf(uint64_t handle, std::string& ip, std::string& serverIp);

}  // namespace quortool
