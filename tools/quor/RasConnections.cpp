// The active connections as RAS lists them (the record that names the phonebook where
// RAS takes it), and which of them are this process's phonebook's.
#include "tools/quor/RasConnections.h"

#include <cstring>
#include <vector>

#include "Ras2/Ras2.h"
#include "Ras2/RasConnPhonebook.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasDirect.h"

namespace quortool {

namespace {

std::string Text(const char* field, size_t width) {
  return std::string(field, strnlen(field, width));
}

// One enumeration with records of type Record, grown until the list fits.
template <typename Record>
uint32_t Enumerate(std::vector<Record>& records) {
  records.assign(1, Record{});
  for (int tries = 0; tries < 8; ++tries) {
    for (auto& r : records) r.dwSize = sizeof(Record);
    DWORD size = static_cast<DWORD>(records.size() * sizeof(Record));
    DWORD count = 0;
    const DWORD code = RasEnumConnections(reinterpret_cast<LPRasConn>(records.data()), &size, &count);
    if (code == ERROR_BUFFER_TOO_SMALL) {
      records.assign(size / sizeof(Record) + 1, Record{});
      continue;
    }
    if (code == 0) records.resize(count);
    return code;
  }
  return ERROR_BUFFER_TOO_SMALL;
}

}  // namespace

uint32_t ListConnections(std::vector<ListedConnection>& out) {
  out.clear();
  if (RasEnumConnections == nullptr) return ERROR_PROC_NOT_FOUND;
  std::vector<TRasConnPbA> named;
  uint32_t code = Enumerate(named);
  if (code == 0) {
    for (const auto& r : named) {
      out.push_back({static_cast<uint64_t>(r.hrasconn), Text(r.szEntryName, sizeof r.szEntryName),
                     Text(r.szPhonebook, sizeof r.szPhonebook)});
    }
    return 0;
  }
  if (code != ERROR_INVALID_SIZE) return code;
  // A RAS that knows only the classic record: names alone.
  std::vector<TRasConn> classic;
  code = Enumerate(classic);
  if (code != 0) return code;
  for (const auto& r : classic) {
    out.push_back({static_cast<uint64_t>(r.hrasconn), Text(r.szEntryName, sizeof r.szEntryName), std::string()});
  }
  return 0;
}

bool IsOwnConnection(const ListedConnection& c, const std::string& entry, const std::string& phonebook) {
  if (FoldName(c.entry) != FoldName(entry)) return false;
  return c.phonebook.empty() || phonebook.empty() || c.phonebook == phonebook;
}

uint64_t OwnConnectionHandle(const std::string& entry) {
  std::vector<ListedConnection> list;
  if (ListConnections(list) != 0) return 0;
  const std::string phonebook = platform::OwnPhonebookPath();
  for (const auto& c : list) {
    if (IsOwnConnection(c, entry, phonebook)) return c.handle;
  }
  return 0;
}

}  // namespace quortool
