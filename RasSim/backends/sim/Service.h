// The simulated RAS service, the backend "sim": every RAS operation in one
// character-neutral form (texts are UTF-8 std::string), reached through the
// backend table (SimBackend.cpp), plus the control interface the
// QuorRasSim... exports drive.
#pragma once

#include <string>
#include <vector>

#include "RasSim/common/Text.h"  // ValidEntryName
#include "RasSim/edge/Backend.h"

namespace rassim {

// Keeps the edge's services for posting dial events.
DWORD Open(const EdgeServices& edge);
DWORD Dial(const DialRequest& request, LPHRasConn lphRasConn);
DWORD HangUp(THRasConn h);
DWORD GetConnectStatus(THRasConn h, ConnStatus& out);
DWORD EnumConnections(std::vector<ConnInfo>& out);
DWORD EnumDevices(std::vector<DeviceInfo>& out);
DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp);
// The figures of a connected call's line (Traffic.cpp).
DWORD GetStatistics(THRasConn h, ConnStats& out);

DWORD EnumEntries(const PbArg& pb, std::vector<std::string>& names);
DWORD GetEntryDialParams(const PbArg& pb, const std::string& entry, DialParams& out, bool& passwordReturned);
DWORD SetEntryDialParams(const PbArg& pb, const DialParams& params, bool removePassword);
DWORD ValidateEntryName(const PbArg& pb, const std::string& name);
DWORD RenameEntry(const PbArg& pb, const std::string& oldName, const std::string& newName);
DWORD DeleteEntry(const PbArg& pb, const std::string& name);
// An empty entry name gives the defaults of a new entry.
DWORD GetEntryProperties(const PbArg& pb, const std::string& entry, EntryProps& out);
DWORD SetEntryProperties(const PbArg& pb, const std::string& entry, const EntryProps& props);
DWORD CreatePhonebookEntry(HWND owner, const PbArg& pb);
DWORD EditPhonebookEntry(HWND owner, const PbArg& pb, const std::string& entry);

// ---- control interface (RasSimControl.h)
void Reset();
DWORD DropConnection(THRasConn h);
void QueueFailure(const std::string& entry, TRasConnState state, DWORD error);
void SetStepDelay(TRasConnState state, DWORD ms);
DWORD ConnectionWindow(THRasConn h, HWND& wnd);

// Releases every timer and window of this module; run when it unloads.
void Shutdown();
// Frees the service state; only for the module's unload, after Shutdown.
void FreeState();

}  // namespace rassim
