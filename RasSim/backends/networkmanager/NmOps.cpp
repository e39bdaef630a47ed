// The NetworkManager backend's table of operations for the RAS library's edge
// (module rasbackend_networkmanager.dll, chosen by QUOR_RAS_BACKEND=networkmanager).
// Phonebook paths are not used: the phonebook is NetworkManager's profiles.
#include "RasSim/RasSimExport.h"
#include "RasSim/backends/networkmanager/NmBackend.h"
#include "RasSim/common/Dialogs.h"
#include "RasSim/edge/Backend.h"

namespace {

rassim::EdgeServices gEdge{};

bool PostThroughEdge(HWND wnd, UINT msg, TRasConnState state, DWORD error) {
  rassim::DialNotifier to;
  to.wnd = wnd;
  to.msg = msg;
  return gEdge.PostDialEvent && gEdge.PostDialEvent(to, state, error);
}

void ReportThroughEdge(THRasConn h, bool made) {
  auto report = made ? gEdge.ConnectionMade : gEdge.ConnectionEnded;
  if (report) report(h);
}

rasnm::DialParams ToNm(const rassim::DialParams& p) {
  return {p.entry, p.phone, p.callback, p.user, p.password, p.domain};
}

DWORD Open(const rassim::EdgeServices& edge) {
  gEdge = edge;
  rasnm::SetEventPoster(PostThroughEdge);
  rasnm::SetConnectionReporter(ReportThroughEdge);
  return 0;  // NetworkManager may start later: each call says whether it runs
}

void Close() {
  rasnm::Shutdown();
}

DWORD EnumEntries(const rassim::PbArg&, std::vector<std::string>& names) {
  return rasnm::EnumEntries(names);
}
DWORD ValidateEntryName(const rassim::PbArg&, const std::string& name) {
  return rasnm::ValidateEntryName(name);
}
DWORD RenameEntry(const rassim::PbArg&, const std::string& oldName, const std::string& newName) {
  return rasnm::RenameEntry(oldName, newName);
}
DWORD DeleteEntry(const rassim::PbArg&, const std::string& name) {
  return rasnm::DeleteEntry(name);
}

DWORD GetEntryProperties(const rassim::PbArg&, const std::string& entry, rassim::EntryProps& out) {
  out = rassim::EntryProps();
  if (entry.empty()) return 0;
  return rasnm::GetEntryDevice(entry, out.deviceType, out.deviceName);
}

DWORD SetEntryProperties(const rassim::PbArg&, const std::string& entry, const rassim::EntryProps&) {
  // Profiles are changed through NetworkManager's own tools or the entry dialogs.
  std::string type, name;
  if (DWORD e = rasnm::GetEntryDevice(entry, type, name)) return e;
  return ERROR_CANNOT_WRITE_PHONEBOOK;
}

DWORD EnumDevices(std::vector<rassim::DeviceInfo>& out) {
  out = {{"vpn", "openvpn"}, {"GENERIC", "ethernet"}, {"modem", "gsm"}, {"PPPoE", "pppoe"}};
  return 0;
}

DWORD Dial(const rassim::DialRequest& r, LPHRasConn out) {
  return rasnm::Dial(ToNm(r.params), r.notifier.wnd, r.notifier.msg, out);
}
DWORD HangUp(THRasConn h) {
  return rasnm::HangUp(h);
}
DWORD GetConnectStatus(THRasConn h, rassim::ConnStatus& out) {
  rasnm::ConnStatus st;
  DWORD r = rasnm::GetConnectStatus(h, st);
  if (r == 0) out = {st.state, st.error, st.deviceType, st.deviceName};
  return r;
}
DWORD EnumConnections(std::vector<rassim::ConnInfo>& out) {
  std::vector<rasnm::ConnInfo> list;
  DWORD r = rasnm::EnumConnections(list);
  out.clear();
  for (auto& c : list) out.push_back({c.handle, c.entry, c.deviceType, c.deviceName, std::string()});
  return r;
}
DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp) {
  return rasnm::GetProjection(h, ip, serverIp);
}

// The dialog's device answer chooses the kind of a new profile: "vpn" (OpenVPN, the
// phone number is the server), "modem" (mobile broadband, the number dialled),
// "PPPoE", or an interface name or "GENERIC" for a wired profile.
DWORD CreatePhonebookEntry(HWND, const rassim::PbArg&) {
  rassim::dialogs::Request req;
  req.create = true;
  rassim::dialogs::Answers ans;
  if (!rassim::dialogs::Show(req, ans)) return ERROR_CANCELLED;
  rasnm::NewEntry e;
  e.name = ans.entry.value_or("");
  std::string device = ans.device.value_or("GENERIC"), phone = ans.phone.value_or("");
  if (device == "vpn" || device == "openvpn") {
    e.kind = "vpn";
    if (!phone.empty()) e.settings["vpn.data.remote"] = phone;
    e.settings["vpn.data.connection-type"] = "password";
  } else if (device == "modem" || device == "gsm") {
    e.kind = "gsm";
    if (!phone.empty()) e.settings["gsm.number"] = phone;
  } else if (device == "PPPoE" || device == "pppoe") {
    e.kind = "pppoe";
  } else {
    e.kind = "ethernet";
    if (device != "GENERIC" && device != "ethernet") e.settings["connection.interface-name"] = device;
  }
  return rasnm::CreateEntry(e);
}

DWORD EditPhonebookEntry(HWND, const rassim::PbArg&, const std::string& entry) {
  rassim::dialogs::Request req;
  req.create = false;
  req.entry = entry;
  if (DWORD e = rasnm::GetEntryDevice(entry, req.device, req.entry)) return e;
  req.entry = entry;
  rassim::dialogs::Answers ans;
  if (!rassim::dialogs::Show(req, ans)) return ERROR_CANCELLED;
  if (ans.entry && !ans.entry->empty() && *ans.entry != entry) return rasnm::RenameEntry(entry, *ans.entry);
  return 0;
}

DWORD GetEntryDialParams(const rassim::PbArg&, const std::string& entry, rassim::DialParams& out, bool& pw) {
  rasnm::DialParams p;
  DWORD r = rasnm::GetEntryDialParams(entry, p, pw);
  if (r == 0) out = {p.entry, p.phone, p.callback, p.user, p.password, p.domain};
  return r;
}
DWORD SetEntryDialParams(const rassim::PbArg&, const rassim::DialParams& params, bool removePassword) {
  return rasnm::SetEntryDialParams(ToNm(params), removePassword);
}

rassim::BackendOps MakeOps() {
  rassim::BackendOps ops;
  ops.name = "networkmanager";
  ops.description = "NetworkManager's profiles and connections (libnm)";
  ops.Open = Open;
  ops.Close = Close;
#define QUOR_BACKEND_OP(Name, Params) ops.Name = Name;
#include "RasSim/edge/BackendOps.def"
#undef QUOR_BACKEND_OP
  return ops;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const rassim::BackendOps* QuorRasBackendOps() {
  static const rassim::BackendOps ops = MakeOps();
  return &ops;
}

// What the backend holds (rasnm::Inspect), for the live suites and diagnostics.
extern "C" __attribute__((visibility("default"))) DWORD QuorRasNmInspect(rasnm::Holdings* out) {
  return out ? rasnm::Inspect(*out) : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
}
