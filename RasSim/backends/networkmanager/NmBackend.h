// The NetworkManager backend: the RAS operations on NetworkManager's profiles
// (the phonebook) and active connections (the calls), as the edge's table of
// operations (RasSim/edge/Backend.h). Phonebook paths are not used. Every
// operation may be called from any thread and returns within a bounded time;
// the events of a dial are posted through the edge's services given to Open.
//
// Besides the table, what the backend's own tests and diagnostics use: a new
// profile of given settings, and what the backend holds.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "Ras2/RasContract.h"
#include "RasSim/edge/Backend.h"

namespace rasnm {

// The backend's table (name "networkmanager"). Close stops the backend's
// thread and releases NetworkManager's client; the next call starts them again.
const rassim::BackendOps& Ops();

// A new profile: its kind ("vpn" for OpenVPN, "ethernet", "gsm", "pppoe"),
// its name and its settings as "setting.property" = value (for a VPN also
// "vpn.data.KEY" = value).
struct NewEntry {
  std::string kind, name;
  std::map<std::string, std::string> settings;
};
DWORD CreateEntry(const NewEntry& entry);

// What the backend holds, for tests and diagnostics: the calls it knows, the
// handles naming them, call records alive, the libnm objects its calls have
// held that are still alive, their reference counts, and the backend's signal
// handlers on them. A call that has ended, whether or not its status was read
// afterwards, leaves none of these behind.
struct Holdings {
  size_t calls = 0, handles = 0, liveCalls = 0, objects = 0, refs = 0, hookups = 0;
};
DWORD Inspect(Holdings& out);

}  // namespace rasnm
