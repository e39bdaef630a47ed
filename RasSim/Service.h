// The simulated RAS service: every RAS operation in one character-neutral
// form (texts are 8-bit/UTF-8 std::string). The A and W exports of
// rasapi32.dll and rnaph.dll check and convert their records at the edge
// (Edge.cpp) and call these.
#pragma once

#include <string>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/Stores.h"

// winerror.h's number for a name that is not valid (not in the Win32 subset's list).
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123L
#endif

namespace rassim {

// A phonebook argument as the caller passed it.
struct PbArg {
  bool isNull = true;
  std::string text;
  const char* CStr() const { return isNull ? nullptr : text.c_str(); }
};

struct DialParams {
  std::string entry, phone, callback, user, password, domain;
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

struct EntryProps {
  DWORD options = 0, countryId = 1, countryCode = 1;
  std::string areaCode, phone;
  std::vector<std::string> alternates;
  BYTE ip[5][4] = {};  // ipaddr, ipaddrDns, ipaddrDnsAlt, ipaddrWins, ipaddrWinsAlt
  DWORD frameSize = 0, netProtocols = 0, framing = 0;
  std::string script, autodialDll, autodialFunc, deviceType, deviceName;
  std::string x25PadType, x25Address, x25Facilities, x25UserData;
  DWORD channels = 0;
};

// Entry names as RasValidateEntryName accepts them.
bool ValidEntryName(const std::string& name);

DWORD Dial(const TRasDialExtensions* ext, const PbArg& pb, const DialParams& params, DWORD notifierType, DWORD notifier,
           LPHRasConn lphRasConn);
DWORD HangUp(THRasConn h);
DWORD GetConnectStatus(THRasConn h, ConnStatus& out);
DWORD EnumConnections(std::vector<ConnInfo>& out);
DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp);

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
