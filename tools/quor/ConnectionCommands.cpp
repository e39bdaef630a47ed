// The commands about connections: hang-up, the list of connections and a
// connection's status. They work without a readable phonebook.
#include "tools/quor/ConnectionCommands.h"

#include <algorithm>
#include <cstdlib>

#include "tools/quor/Cli.h"
#include "tools/quor/CommandSupport.h"
#include "tools/quor/CommandTable.h"
#include "tools/quor/Diallers.h"
#include "tools/quor/Errors.h"
#include "tools/quor/ForeignConnection.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasConnections.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"
#include "tools/quor/Stats.h"

namespace quortool {

namespace {

// RAS takes a moment to tear a connection down after the hang-up call
// returns; wait for it to leave the list before saying it is gone.
constexpr uint32_t kHangUpWaitMs = 5000;
// NetworkManager lets a connection go within a few ms of the request, and
// Windows' RAS within a second or two: look every ms at first, then less often.
constexpr uint32_t kHangUpQuickPollMs = 1;
constexpr uint32_t kHangUpQuickMs = 100;
constexpr uint32_t kHangUpPollMs = 5;

std::vector<std::string> ActiveConnections(TQuor& quor) {
  // The component leaves the list as it was when RAS reports none; start
  // from an empty one so that "none" reads as none.
  quor.Connections->Clear();
  if (!quor.EnumConnections()) {
    // RAS's reason; a RAS that cannot start is unavailable, as a missing library is.
    const uint32_t code = ProbeConnections();
    if (code == 0) throw Failure(kExitFailed, "RAS could not list the active connections");
    const std::string text = RasErrorText(code);
    throw Failure(code == ERROR_RASMAN_CANNOT_INITIALIZE ? kExitNoRas : kExitFailed,
                  "RAS could not list the active connections: " + text + " (RAS error " + std::to_string(code) + ")",
                  code, text);
  }
  return quor.Connections->Items();
}

uint64_t RequireConnection(TQuor& quor, const std::string& entry) {
  ActiveConnections(quor);  // tells a failing enumeration apart from "no connection"
  const uint64_t handle = OwnConnectionHandle(entry);
  if (handle == 0) throw Failure(kExitFailed, "no active connection for entry '" + Printable(entry) + "'");
  return handle;
}

}  // namespace

// ---------------------------------------------------------------- connections

// The entry as the phonebook names it, or as typed when the phonebook has
// no such entry (a connection dialled by number, or from another phonebook).
static std::string ConnectionName(RasSession& session, const std::string& typed) {
  if (ProbePhonebook() != 0) {
    // The phonebook cannot be read: the name as RAS lists the connection.
    for (const auto& listed : ActiveConnections(session.Quor())) {
      if (FoldName(listed) == FoldName(typed)) return listed;
    }
    return typed;
  }
  const std::string stored = session.StoredName(typed);
  return stored.empty() ? typed : stored;
}

namespace {

bool StillListed(uint64_t handle) {
  std::vector<ListedConnection> list;
  if (ListConnections(list) != 0) return false;
  for (const auto& c : list) {
    if (c.handle == handle) return true;
  }
  return false;
}

// Hangs up one connection and waits until RAS no longer lists it.
void HangUpHandle(const std::string& entry, uint64_t handle) {
  const uint32_t code = HangUpForeignConnection(handle);
  if (code != 0) throw RasRefused("hanging up '" + Printable(entry) + "' failed", code);
  for (uint32_t waited = 0; waited <= kHangUpWaitMs;) {
    if (!StillListed(handle)) return;
    const uint32_t pause = waited < kHangUpQuickMs ? kHangUpQuickPollMs : kHangUpPollMs;
    Sleep(pause);
    waited += pause;
  }
  throw Failure(kExitFailed, "RAS still lists the connection of '" + Printable(entry) + "' after the hang-up");
}

// Ends what is under way for one entry: its diallers are asked to stop
// first unless the line is up (a dialler whose call is hung up elsewhere
// would redial); one whose line is up is asked to give up reconnecting (it
// then sees the line lost, as without --persist); then its connection is
// hung up. Returns whether anything was found.
bool HangUpEntry(RasSession& session, const std::string& entry, const std::string& phonebook, uint64_t handle,
                 const std::vector<Dialler>& diallers) {
  Output& out = session.Out();
  const bool up = handle != 0 && ReadForeignStatus(handle).state == RASCS_Connected;
  bool found = handle != 0;
  for (const Dialler& d : diallers) {
    if (!up || !DiallsEntry(d, entry, phonebook) || EndReconnects(d, kHangUpWaitMs)) continue;
    out.Warning("the dialler of '" + Printable(entry) + "' (process " + std::to_string(d.pid) +
                ") did not answer; it may dial again after the hang-up");
  }
  if (!up) {
    for (const Dialler& d : diallers) {
      if (!DiallsEntry(d, entry, phonebook)) continue;
      found = true;
      if (!StopDialler(d, kHangUpWaitMs)) {
        throw Failure(kExitFailed, "the dialler of '" + Printable(entry) + "' (process " + std::to_string(d.pid) +
                                       ") did not stop; end it with Ctrl-C or kill " + std::to_string(d.pid));
      }
      if (out.Json()) {
        out.Object(JsonObject().Add("result", "stopped").Add("entry", d.entry).Add("pid", d.pid));
      } else {
        out.Progress("Stopped dialling " + Printable(d.entry) + " (process " + std::to_string(d.pid) + ").");
      }
    }
  }
  if (handle != 0 && StillListed(handle)) {
    HangUpHandle(entry, handle);
    Done(out, "hung up", entry, "Hung up " + Printable(entry) + ".");
  }
  return found;
}

// A hang-up makes a few RAS calls and ends: on NetworkManager the library's
// brief backend answers them over D-Bus without starting libnm's client
// (anything else it hands to the full backend). Chosen before the library loads.
void PreferBriefBackend() {
  const char* chosen = std::getenv("QUOR_RAS_BACKEND");
  if (chosen == nullptr || std::string(chosen) != "networkmanager") return;
  const std::vector<std::string> names = BackendNames();
  if (std::find(names.begin(), names.end(), "networkmanager-brief") == names.end()) return;
  platform::SetEnv("QUOR_RAS_BACKEND", "networkmanager-brief");
}

}  // namespace

int RunHangUp(const Args& args) {
  const bool all = args.Flag("--all");
  if (all == !args.positional.empty()) throw UsageError("give either an entry or --all");
  PreferBriefBackend();
  Output out(args.json);
  RasSession session(out, RasSession::Needs::ConnectionsOnly);
  const std::vector<Dialler> diallers = RunningDiallers();
  if (all) {
    ActiveConnections(session.Quor());  // tells a failing enumeration apart from "no connection"
    std::vector<ListedConnection> listed;
    ListConnections(listed);
    std::vector<std::string> entries;
    for (const auto& c : listed) {
      entries.push_back(c.entry);
      HangUpEntry(session, c.entry, c.phonebook, c.handle, diallers);
    }
    for (const Dialler& d : diallers) {
      bool seen = false;
      for (const auto& e : entries) seen = seen || FoldName(e) == FoldName(d.entry);
      if (seen) continue;
      entries.push_back(d.entry);
      HangUpEntry(session, d.entry, d.phonebook, 0, diallers);
    }
    if (entries.empty()) {
      if (out.Json()) {
        out.Object(JsonObject().Add("result", "nothing to hang up"));
      } else {
        out.Note("nothing to hang up");
      }
    }
    return kExitOk;
  }
  const std::string entry = ConnectionName(session, EntryArg(args));
  ActiveConnections(session.Quor());  // tells a failing enumeration apart from "no connection"
  if (!HangUpEntry(session, entry, platform::OwnPhonebookPath(), OwnConnectionHandle(entry), diallers)) {
    throw Failure(kExitFailed, "no active connection for entry '" + Printable(entry) + "'");
  }
  return kExitOk;
}

namespace {

// What `connections` and `status` show of one connection.
struct ConnectionView {
  std::string entry;
  std::string phonebook;  // "" when RAS does not name it
  uint64_t handle = 0;
  ForeignStatus status;
  std::string ip;  // "" when RAS gives none (not connected yet)
  std::string serverIp;
  int64_t seconds = -1;  // time connected; -1 when no quor dial noted it
  LineFigures line;      // the traffic, once connected
};

ConnectionView View(const std::string& entry, uint64_t handle, const std::vector<Dialler>& diallers) {
  ConnectionView v;
  v.entry = entry;
  v.handle = handle;
  v.status = ReadForeignStatus(v.handle);
  if (v.status.result == 0 && v.status.state == RASCS_Connected) {
    if (IpAddressesOf(v.handle, v.ip, v.serverIp) != 0) v.ip = v.serverIp = std::string();
    v.seconds = SecondsConnected(diallers, v.handle);
    v.line = ReadLineFigures(v.handle);
  }
  return v;
}

std::string ShortState(const ConnectionView& v) {
  if (v.status.result != 0) return "gone";
  const std::string name = StateName(v.status.state);
  if (name.empty()) return std::to_string(v.status.state);
  return name.substr(std::string("RASCS_").size());
}

JsonObject ViewObject(const ConnectionView& v) {
  JsonObject o;
  o.Add("handle", v.handle).Add("entry", v.entry).Add("state", v.status.state);
  o.Add("state_name", StateName(v.status.state)).Add("device_type", v.status.deviceType);
  o.Add("device_name", v.status.deviceName).Add("error", v.status.error);
  if (v.ip.empty()) {
    o.AddNull("ip_address").AddNull("server_ip_address");
  } else {
    o.Add("ip_address", v.ip).Add("server_ip_address", v.serverIp);
  }
  if (v.seconds < 0) {
    o.AddNull("connected_seconds");
  } else {
    o.Add("connected_seconds", v.seconds);
  }
  AddLineFigures(o, v.line);
  if (v.phonebook.empty()) {
    o.AddNull("phonebook");
  } else {
    o.Add("phonebook", v.phonebook);
  }
  return o;
}

// Lines padded into columns as a terminal shows them (the last column is not padded).
std::vector<std::string> Table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - DisplayWidth(row[i]) + 2, ' ');
    }
    lines.push_back(line);
  }
  return lines;
}

// The entries and connections shown are the system's, not the simulated
// service's: say so, since the user may expect Quor's.
}  // namespace

int RunConnections(const Args& args) {
  Output out(args.json);
  RasSession session(out, RasSession::Needs::ConnectionsOnly);
  WarnIfSystemRas(out);
  const std::vector<std::string> names = ActiveConnections(session.Quor());
  if (args.Flag("--names")) {
    PrintList(out, "connections", names);
    return kExitOk;
  }
  const std::vector<Dialler> diallers = RunningDiallers();
  std::vector<ConnectionView> views;
  std::vector<ListedConnection> listed;
  ListConnections(listed);
  for (const auto& c : listed) {
    views.push_back(View(c.entry, c.handle, diallers));
    views.back().phonebook = c.phonebook;
  }
  if (out.Json()) {
    std::vector<JsonObject> objects;
    for (const auto& v : views) objects.push_back(ViewObject(v));
    out.Object(JsonObject().AddObjects("connections", objects));
    return kExitOk;
  }
  // With no connection the header alone says so.
  std::vector<std::vector<std::string>> rows = {
      {"HANDLE", "ENTRY", "STATE", "DEVICE", "IP ADDRESS", "CONNECTED", "SENT", "RECEIVED", "RATES", "PHONEBOOK"}};
  for (const auto& v : views) {
    // Bytes each way and their rates (bytes a second, out/in) as RAS counts them; "-" when it gives none.
    const LineFigures& f = v.line;
    rows.push_back({std::to_string(v.handle), DisplayName(v.entry), ShortState(v),
                    v.status.deviceName.empty() ? "-" : Printable(v.status.deviceName), v.ip.empty() ? "-" : v.ip,
                    Duration(v.seconds), f.valid ? std::to_string(f.sent) : "-",
                    f.valid ? std::to_string(f.received) : "-",
                    f.valid ? std::to_string(f.sendRate) + "/" + std::to_string(f.receiveRate) + " B/s" : "-",
                    v.phonebook.empty() ? "-" : Printable(v.phonebook)});
  }
  for (const auto& line : Table(rows)) out.Line(line);
  return kExitOk;
}

int RunStatus(const Args& args) {
  Output out(args.json);
  RasSession session(out, RasSession::Needs::ConnectionsOnly);
  const std::string entry = ConnectionName(session, EntryArg(args));
  const uint64_t handle = RequireConnection(session.Quor(), entry);
  ConnectionView v = View(entry, handle, RunningDiallers());
  std::vector<ListedConnection> listed;
  ListConnections(listed);
  for (const auto& c : listed) {
    if (c.handle == handle) v.phonebook = c.phonebook;
  }
  if (v.status.result != 0) throw RasRefused("RAS gave no status for '" + Printable(entry) + "'", v.status.result);
  if (out.Json()) {
    out.Object(ViewObject(v));
  } else {
    const std::string name = StateName(v.status.state);
    out.Line("entry: " + Printable(entry));
    out.Line("handle: " + std::to_string(v.handle));
    out.Line("state: " + (name.empty() ? std::string("unknown") : name) + " (" + std::to_string(v.status.state) + ")");
    out.Line("device: " + v.status.deviceType + ": " + v.status.deviceName);
    out.Line("error: " + std::to_string(v.status.error));
    out.Line("ip address: " + (v.ip.empty() ? std::string("-") : v.ip));
    out.Line("server ip address: " + (v.serverIp.empty() ? std::string("-") : v.serverIp));
    out.Line("connected: " + Duration(v.seconds));
    out.Line("traffic: " + LineFiguresText(v.line));
    out.Line("phonebook: " + (v.phonebook.empty() ? std::string("-") : Printable(v.phonebook)));
  }
  return kExitOk;
}

}  // namespace quortool
