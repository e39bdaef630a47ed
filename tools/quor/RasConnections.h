// The active connections as RAS lists them, and which of them are this
// process's phonebook's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quortool {

// An active connection as RAS lists it, with the phonebook it was dialled
// from where RAS names one ("" when it does not).
struct ListedConnection {
  uint64_t handle = 0;
  std::string entry;
  std::string phonebook;
};
// The active connections, by the record that names the phonebook (the
// classic record when RAS does not take that one); RAS's code.
uint32_t ListConnections(std::vector<ListedConnection>& out);
// Whether a connection is of this entry of this process's phonebook; a
// connection or a phonebook with no path matches by name alone.
bool IsOwnConnection(const ListedConnection& c, const std::string& entry, const std::string& phonebook);
// The handle of the entry's connection of this process's phonebook, 0 when none.
uint64_t OwnConnectionHandle(const std::string& entry);

}  // namespace quortool
