// The RAS operations on NetworkManager's profiles and active connections.
// Texts are UTF-8. Every function may be called from any thread and returns
// within a bounded time; events of a dial are posted to its window.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/common/Secret.h"
#include "RasSim/edge/Backend.h"  // ERROR_INVALID_NAME
#include "Win32/Win32.h"

namespace rasnm {

struct DialParams {
  std::string entry, phone, callback, user;
  rassim::SecretString password;
  std::string domain;
};

struct ConnStatus {
  TRasConnState state = 0;
  DWORD error = 0;
  std::string deviceType, deviceName;
};

struct ConnInfo {
  THRasConn handle = 0;
  std::string entry, deviceType, deviceName;
};

// A new profile: its kind ("vpn" for OpenVPN, "ethernet", "gsm", "pppoe"),
// its name and its settings as "setting.property" = value (for a VPN also
// "vpn.data.KEY" = value).
struct NewEntry {
  std::string kind, name;
  std::map<std::string, std::string> settings;
};

// How a dial event reaches its window (PostMessageA unless replaced); called on
// the backend's thread, must not block. False when the event could not be
// posted: the call then fails with ERROR_OUT_OF_BUFFERS rather than lose it.
using EventPoster = bool (*)(HWND wnd, UINT msg, TRasConnState state, DWORD error);
void SetEventPoster(EventPoster poster);
// Told when a call comes up (made true) or a connected call ends (lost or
// hung up); called on the backend's thread with its lock held, must not
// block or call back into the backend.
using ConnectionReporter = void (*)(THRasConn h, bool made);
void SetConnectionReporter(ConnectionReporter reporter);

// Starts a dial of the profile named in params. With a window, returns at once
// (the handle in *h) and posts one `msg` per connection state to it; without
// one, waits for the outcome. A user name or password given is stored in the
// profile first.
DWORD Dial(const DialParams& params, HWND notify, UINT msg, THRasConn* h);
// Asks NetworkManager to deactivate; the status then reads RASCS_Disconnected
// until the device or tunnel is gone, and a new dial of the profile waits for that.
DWORD HangUp(THRasConn h);
DWORD GetConnectStatus(THRasConn h, ConnStatus& out);
DWORD EnumConnections(std::vector<ConnInfo>& out);
DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp);

DWORD EnumEntries(std::vector<std::string>& names);
DWORD GetEntryDialParams(const std::string& entry, DialParams& out, bool& passwordReturned);
DWORD SetEntryDialParams(const DialParams& params, bool removePassword);
DWORD ValidateEntryName(const std::string& name);
DWORD RenameEntry(const std::string& oldName, const std::string& newName);
DWORD DeleteEntry(const std::string& name);
DWORD GetEntryDevice(const std::string& entry, std::string& deviceType, std::string& deviceName);
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

// Stops the backend's thread and releases NetworkManager's client; the next
// call starts them again.
void Shutdown();

}  // namespace rasnm
