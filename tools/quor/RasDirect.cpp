#include "tools/quor/RasDirect.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Ras2/Ras2.h"
#include "RasSim/RasSimControl.h"
#include "Vcl/Vcl.h"
#include "tools/quor/Output.h"
#include "tools/quor/RasTrace.h"

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

std::string Field(const char* field, size_t width) {
  return std::string(field, strnlen(field, width));
}

}  // namespace

std::string RasErrorText(uint32_t code) {
  char text[256] = {0};
  if (RasGetErrorString != nullptr && RasGetErrorString(code, text, sizeof text) == 0 && text[0] != 0) {
    return std::string(text, strnlen(text, sizeof text));
  }
  return "error " + std::to_string(code);
}

namespace {

// Asks for one record of a list: whether RAS can give the list at all (more
// than one record to give is an answer too).
template <typename Record, typename Enumerate>
uint32_t ProbeList(Enumerate enumerate) {
  Record records[1];
  std::memset(records, 0, sizeof records);
  records[0].dwSize = sizeof(Record);
  DWORD size = sizeof records;
  DWORD count = 0;
  const DWORD code = enumerate(records, &size, &count);
  return code == ERROR_BUFFER_TOO_SMALL ? 0 : code;
}

}  // namespace

uint32_t ProbePhonebook() {
  if (RasEnumEntries == nullptr) return ERROR_PROC_NOT_FOUND;
  return ProbeList<TRasEntryName>([](TRasEntryName* names, DWORD* size, DWORD* count) {
    return RasEnumEntries(nullptr, nullptr, names, size, count);
  });
}

uint32_t ProbeConnections() {
  if (RasEnumConnections == nullptr) return ERROR_PROC_NOT_FOUND;
  return ProbeList<TRasConn>(RasEnumConnections);
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

namespace {

// Clears a record that held a password before it goes.
void Wipe(TRasDialParams& p) {
  volatile char* bytes = reinterpret_cast<volatile char*>(&p);
  for (size_t i = 0; i < sizeof p; ++i) bytes[i] = 0;
}

template <size_t N>
bool Copy(char (&field)[N], const std::string& text) {
  if (text.size() >= N) return false;
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = 0;
  return true;
}

}  // namespace

uint32_t ReadDialParamsCode(const std::string& entry) {
  if (RasGetEntryDialParams == nullptr) return ERROR_PROC_NOT_FOUND;
  TRasDialParams p{};
  p.dwSize = sizeof p;
  if (!Copy(p.szEntryName, entry)) return ERROR_INVALID_PARAMETER;
  BOOL password = FALSE;
  const uint32_t code = RasGetEntryDialParams(nullptr, &p, &password);
  Wipe(p);
  return code;
}

uint32_t StoreDialParamsCode(const DialParamsText& params) {
  if (RasSetEntryDialParams == nullptr) return ERROR_PROC_NOT_FOUND;
  TRasDialParams p{};
  p.dwSize = sizeof p;
  const bool fits = Copy(p.szEntryName, params.entry) && Copy(p.szUserName, params.user) &&
                    Copy(p.szPassword, params.password) && Copy(p.szPhoneNumber, params.phone) &&
                    Copy(p.szCallbackNumber, params.callback) && Copy(p.szDomain, params.domain);
  const uint32_t code = fits ? RasSetEntryDialParams(nullptr, &p, FALSE) : ERROR_INVALID_PARAMETER;
  Wipe(p);
  return code;
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
  // It may quote an entry name or a path as the file holds it.
  return Printable(std::string(text, strnlen(text, sizeof text)));
}

uint32_t ResetSimulatedService() {
  const auto reset = LibraryExport<TQuorRasSimReset>("QuorRasSimReset");
  if (reset == nullptr) return ERROR_PROC_NOT_FOUND;
  return reset();
}

// ---------------------------------------------------------------- entry properties

uint32_t GetEntryPropertiesCode(const std::string& entry, EntryProperties& out) {
  // The record is followed by the alternate numbers: ask for the size first.
  DWORD size = sizeof(TRasEntry);
  std::vector<char> buffer;
  uint32_t code = ERROR_BUFFER_TOO_SMALL;
  try {
    for (int round = 0; round < 3 && code == ERROR_BUFFER_TOO_SMALL; ++round) {
      if (size < sizeof(TRasEntry)) size = sizeof(TRasEntry);
      buffer.assign(size, 0);
      TRasEntry head{};
      head.dwSize = sizeof(TRasEntry);
      std::memcpy(buffer.data(), &head, sizeof head);
      code = NoteRasAnswer("RasGetEntryProperties", RasGetEntryProperties(kDefaultPhonebook, entry.c_str(),
                                                                          buffer.data(), &size, nullptr, nullptr));
    }
  } catch (const Exception&) {
    return ERROR_PROC_NOT_FOUND;  // neither library has the entry point
  }
  if (code != 0) return code;
  std::memcpy(&out.record, buffer.data(), sizeof out.record);
  out.alternates.clear();
  const DWORD offset = out.record.dwAlternatesOffset;
  if (offset >= sizeof(TRasEntry) && offset < buffer.size()) {
    // Zero-terminated texts, the last one empty; never read past the buffer.
    for (size_t at = offset; at < buffer.size() && buffer[at] != 0;) {
      const std::string number = Field(buffer.data() + at, buffer.size() - at);
      out.alternates.push_back(number);
      at += number.size() + 1;
    }
  }
  return 0;
}

uint32_t SetEntryPropertiesCode(const std::string& entry, const EntryProperties& properties) {
  TRasEntry record = properties.record;
  record.dwSize = sizeof(TRasEntry);
  std::vector<char> buffer(sizeof record);
  if (!properties.alternates.empty()) {
    record.dwAlternatesOffset = sizeof record;
    for (const auto& number : properties.alternates) {
      buffer.insert(buffer.end(), number.begin(), number.end());
      buffer.push_back(0);
    }
    buffer.push_back(0);
  } else {
    record.dwAlternatesOffset = 0;
  }
  std::memcpy(buffer.data(), &record, sizeof record);
  try {
    return NoteRasAnswer("RasSetEntryProperties", RasSetEntryProperties(kDefaultPhonebook, entry.c_str(), buffer.data(),
                                                                        static_cast<DWORD>(buffer.size()), nullptr, 0));
  } catch (const Exception&) {
    return ERROR_PROC_NOT_FOUND;
  }
}

uint32_t EnumDevicesCode(std::vector<DeviceInfo>& out) {
  out.clear();
  DWORD size = 0;
  DWORD count = 0;
  std::vector<TRasDevInfoA> devices;
  uint32_t code = ERROR_BUFFER_TOO_SMALL;
  try {
    for (int round = 0; round < 3 && code == ERROR_BUFFER_TOO_SMALL; ++round) {
      devices.assign(size / sizeof(TRasDevInfoA) + 1, TRasDevInfoA{});
      for (auto& d : devices) d.dwSize = sizeof(TRasDevInfoA);
      size = static_cast<DWORD>(devices.size() * sizeof(TRasDevInfoA));
      code = NoteRasAnswer("RasEnumDevices", RasEnumDevices(devices.data(), &size, &count));
    }
  } catch (const Exception&) {
    return ERROR_PROC_NOT_FOUND;
  }
  if (code != 0) return code;
  for (DWORD i = 0; i < count && i < devices.size(); ++i) {
    out.push_back({Field(devices[i].szDeviceType, sizeof devices[i].szDeviceType),
                   Field(devices[i].szDeviceName, sizeof devices[i].szDeviceName)});
  }
  return 0;
}

uint32_t IpAddressesOf(uint64_t handle, std::string& ip, std::string& serverIp) {
  if (RasGetProjectionInfo == nullptr) return ERROR_PROC_NOT_FOUND;
  TRasPppIp projection{};
  projection.dwSize = sizeof projection;
  DWORD size = sizeof projection;
  const uint32_t code = RasGetProjectionInfo(static_cast<THRasConn>(handle), RASP_PppIp, &projection, &size);
  if (code != 0) return code;
  if (projection.dwError != 0) return projection.dwError;
  ip = Field(projection.szIpAddress, sizeof projection.szIpAddress);
  serverIp = Field(projection.szServerIpAddress, sizeof projection.szServerIpAddress);
  return 0;
}

}  // namespace quortool
