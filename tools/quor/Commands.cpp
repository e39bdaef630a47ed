// The commands that list, inspect and change: connections, phonebook
// entries and stored dial parameters.
#include "tools/quor/Commands.h"

#include <algorithm>

#include "tools/quor/CommandTable.h"
#include "tools/quor/ForeignConnection.h"

namespace quortool {

namespace {

// RAS takes a moment to tear a connection down after the hang-up call
// returns; wait for it to leave the list before saying it is gone.
constexpr uint32_t kHangUpWaitMs = 5000;
constexpr uint32_t kHangUpPollMs = 100;

const std::string& EntryArg(const Args& args, size_t index = 0) {
  const std::string& entry = args.positional.at(index);
  if (entry.empty()) throw UsageError("the entry name is empty");
  CheckLength("the entry name", entry, RAS_MaxEntryName);
  return entry;
}

std::vector<std::string> ActiveConnections(TQuor& quor) {
  // The component leaves the list as it was when RAS reports none; start
  // from an empty one so that "none" reads as none.
  quor.Connections->Clear();
  if (!quor.EnumConnections()) throw Failure(kExitFailed, "RAS could not list the active connections");
  return quor.Connections->Items();
}

Integer RequireConnection(TQuor& quor, const std::string& entry) {
  ActiveConnections(quor);  // tells a failing enumeration apart from "no connection"
  const Integer handle = quor.GetHandleByName(entry);
  if (handle == 0) throw Failure(kExitFailed, "no active connection for entry '" + entry + "'");
  return handle;
}

void PrintList(Output& out, const char* key, const std::vector<std::string>& items) {
  if (out.Json()) {
    out.Object(JsonObject().Add(key, items));
    return;
  }
  for (const auto& item : items) out.Line(item);
}

void Done(Output& out, const char* action, const std::string& entry, const std::string& text) {
  if (out.Json()) {
    out.Object(JsonObject().Add("result", action).Add("entry", entry));
  } else {
    out.Progress(text);
  }
}

}  // namespace

// ---------------------------------------------------------------- connections

int RunHangUp(const Args& args) {
  const std::string& entry = EntryArg(args);
  Output out(args.json);
  RasSession session(out);
  TQuor& quor = session.Quor();
  const Integer handle = RequireConnection(quor, entry);
  const uint32_t code = HangUpForeignConnection(static_cast<uint32_t>(handle));
  if (code != 0) {
    throw Failure(kExitFailed, "hanging up '" + entry + "' failed: error " + std::to_string(code));
  }
  bool gone = false;
  for (uint32_t waited = 0; waited <= kHangUpWaitMs; waited += kHangUpPollMs) {
    if (quor.GetHandleByName(entry) != handle) {
      gone = true;
      break;
    }
    Sleep(kHangUpPollMs);
  }
  if (!gone) throw Failure(kExitFailed, "RAS still lists the connection of '" + entry + "' after the hang-up");
  Done(out, "hung up", entry, "Hung up " + entry + ".");
  return kExitOk;
}

int RunConnections(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  PrintList(out, "connections", ActiveConnections(session.Quor()));
  return kExitOk;
}

int RunStatus(const Args& args) {
  const std::string& entry = EntryArg(args);
  Output out(args.json);
  RasSession session(out);
  const Integer handle = RequireConnection(session.Quor(), entry);
  const ForeignStatus status = ReadForeignStatus(static_cast<uint32_t>(handle));
  if (status.result != 0) {
    throw Failure(kExitFailed, "RAS gave no status for '" + entry + "': error " + std::to_string(status.result));
  }
  const std::string name = StateName(status.state);
  if (out.Json()) {
    JsonObject o;
    o.Add("entry", entry).Add("handle", static_cast<uint32_t>(handle)).Add("state", status.state);
    o.Add("state_name", name).Add("device_type", status.deviceType).Add("device_name", status.deviceName);
    o.Add("error", status.error);
    out.Object(o);
  } else {
    out.Line("entry: " + entry);
    out.Line("state: " + (name.empty() ? std::string("unknown") : name) + " (" + std::to_string(status.state) + ")");
    out.Line("device: " + status.deviceType + ": " + status.deviceName);
    out.Line("error: " + std::to_string(status.error));
  }
  return kExitOk;
}

// ---------------------------------------------------------------- phonebook

int RunEntries(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  PrintList(out, "entries", session.Entries());
  return kExitOk;
}

int RunEntryCreate(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  TQuor& quor = session.Quor();
  const std::vector<std::string> before = session.Entries();
  DWORD code = 0;
  quor.RasCreateEntry(0, code);
  if (code == ERROR_CANCELLED) throw Failure(kExitFailed, "entry creation was cancelled");
  if (code != 0) throw Failure(kExitFailed, "RAS could not create the entry: error " + std::to_string(code));
  std::vector<std::string> added;
  for (const auto& name : session.Entries()) {
    if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "created").Add("entries", added));
  } else if (added.empty()) {
    out.Progress("No entry was added.");
  } else {
    for (const auto& name : added) out.Progress("Created entry " + name + ".");
  }
  return kExitOk;
}

int RunEntryEdit(const Args& args) {
  const std::string& entry = EntryArg(args);
  Output out(args.json);
  RasSession session(out);
  session.RequireEntry(entry);
  if (!session.Quor().EditEntry(0, entry)) throw Failure(kExitFailed, "RAS could not edit entry '" + entry + "'");
  Done(out, "edited", entry, "Edited entry " + entry + ".");
  return kExitOk;
}

int RunEntryRename(const Args& args) {
  const std::string& from = EntryArg(args, 0);
  const std::string& to = EntryArg(args, 1);
  Output out(args.json);
  RasSession session(out);
  session.RequireEntry(from);
  if (!session.Quor().RenameEntry(from, to)) {
    throw Failure(kExitFailed, "RAS could not rename entry '" + from + "' to '" + to + "'");
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "renamed").Add("entry", from).Add("new_name", to));
  } else {
    out.Progress("Renamed entry " + from + " to " + to + ".");
  }
  return kExitOk;
}

int RunEntryDelete(const Args& args) {
  const std::string& entry = EntryArg(args);
  Output out(args.json);
  RasSession session(out);
  session.RequireEntry(entry);
  if (!session.Quor().DeleteEntry(entry)) throw Failure(kExitFailed, "RAS could not delete entry '" + entry + "'");
  Done(out, "deleted", entry, "Deleted entry " + entry + ".");
  return kExitOk;
}

int RunParamsGet(const Args& args) {
  const std::string& entry = EntryArg(args);
  const bool show = args.Flag("--show-password");
  Output out(args.json);
  RasSession session(out);
  session.RequireEntry(entry);
  TQuor& quor = session.Quor();
  if (!quor.GetDialParams(entry)) {
    throw Failure(kExitFailed, "RAS could not read the dial parameters of '" + entry + "'");
  }
  // A fresh component has an empty password; it holds one now only when
  // RAS returned a stored password.
  const bool passwordSet = !quor.Password().empty();
  if (out.Json()) {
    JsonObject o;
    o.Add("entry", entry).Add("user", quor.UserName()).Add("password_set", passwordSet);
    if (show) o.Add("password", quor.Password());
    o.Add("phone", quor.PhoneNumber()).Add("callback", quor.CallbackNumber()).Add("domain", quor.Domain());
    out.Object(o);
  } else {
    out.Line("entry: " + entry);
    out.Line("user: " + quor.UserName());
    out.Line("password: " + (show ? quor.Password() : std::string(passwordSet ? "set" : "not set")));
    out.Line("phone: " + quor.PhoneNumber());
    out.Line("callback: " + quor.CallbackNumber());
    out.Line("domain: " + quor.Domain());
  }
  return kExitOk;
}

int RunParamsSet(const Args& args) {
  const std::string& entry = EntryArg(args);
  const std::string* user = args.Value("--user");
  const std::string* phone = args.Value("--phone");
  const std::string* callback = args.Value("--callback");
  const std::string* domain = args.Value("--domain");
  if (user) CheckLength("the user name", *user, UNLEN);
  if (phone) {
    if (phone->empty()) throw UsageError("--phone needs a number");
    CheckLength("the phone number", *phone, RAS_MaxPhoneNumber);
  }
  if (callback) CheckLength("the callback number", *callback, RAS_MaxCallbackNumber);
  if (domain) CheckLength("the domain", *domain, DNLEN);
  const std::optional<std::string> password = ReadPassword(args);
  if (password) CheckLength("the password", *password, PWLEN);
  if (!user && !phone && !callback && !domain && !password) {
    throw UsageError("nothing to store: give --user, --password-stdin, --phone, --callback or --domain");
  }

  Output out(args.json);
  RasSession session(out);
  session.RequireEntry(entry);
  TQuor& quor = session.Quor();
  // Store the stored values back unchanged except for the ones given: the
  // component writes every parameter, so it must hold the current ones.
  if (!quor.GetDialParams(entry)) {
    throw Failure(kExitFailed, "RAS could not read the current dial parameters of '" + entry + "'");
  }
  if (user) quor.SetUserName(*user);
  if (password) quor.SetPassword(*password);
  if (phone) quor.SetPhoneNumber(*phone);
  if (callback) quor.SetCallbackNumber(*callback);
  if (domain) quor.SetDomain(*domain);
  if (!quor.SetDialParams()) throw Failure(kExitFailed, "RAS could not store the dial parameters of '" + entry + "'");
  Done(out, "stored", entry, "Stored the dial parameters of " + entry + ".");
  return kExitOk;
}

// ---------------------------------------------------------------- version

int RunVersion() {
  Output out(GlobalOutput().json);
  std::string text = VersionText();
  text.pop_back();
  out.Line(text);
  return kExitOk;
}

}  // namespace quortool
