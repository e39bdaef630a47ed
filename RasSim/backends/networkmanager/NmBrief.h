// The brief NetworkManager backend (QUOR_RAS_BACKEND=networkmanager-brief),
// for a process that makes a few RAS calls and ends, such as `quor hangup`:
// the list of connections, a connection's status, a hang-up and the list of
// entries go to NetworkManager over D-Bus (GIO alone, one call for the
// objects), without loading libnm or starting its client, which fetches and
// builds every object NetworkManager has. Every other operation, and every
// operation once one of those has run, goes to the networkmanager backend
// (rasbackend_networkmanager.dll beside this module), which the brief one
// loads then. Handles are the same in both: an active connection's object
// number. What the brief answers cannot know: why another process's line
// was lost (the full backend learns it by watching NetworkManager's signals
// from its first call on), so a line gone before the full backend was loaded
// reads as gone (ERROR_INVALID_HANDLE).
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RasSim/edge/Backend.h"

namespace rasnm::brief {

// The backend's table (name "networkmanager-brief").
const rassim::BackendOps& Ops();

// One active connection as NetworkManager's objects describe it.
struct Active {
  std::string path;         // its D-Bus object
  std::string id;           // the profile's name
  std::string type;         // the profile's connection type ("vpn", "802-3-ethernet", ...)
  bool hasProfile = false;  // its settings connection is one of NetworkManager's objects
  std::string device;       // the interface of its first device ("" when none)
  uint32_t state = 0;       // NMActiveConnectionState
};

// The active connections in NetworkManager's order (its ActiveConnections),
// from the answer of ObjectManager.GetManagedObjects ("(a{oa{sa{sv}}})").
std::vector<Active> ActivesOf(GVariant* managedObjects);

// What the networkmanager backend answers for connections that are not this
// process's calls, from the same facts.
std::vector<rassim::ConnInfo> ListedOf(const std::vector<Active>& actives);
const Active* ActiveOf(const std::vector<Active>& actives, THRasConn h);  // null when h names none of them
DWORD StatusOf(const std::vector<Active>& actives, THRasConn h, rassim::ConnStatus& out);

// NetworkManager over the system bus, each bounded in time; 0 or a RAS error.
DWORD FetchActives(std::vector<Active>& out);
DWORD Deactivate(const std::string& activePath);
DWORD FetchEntryNames(std::vector<std::string>& out);  // sorted as the phonebook lists them
void DropBus();

}  // namespace rasnm::brief
