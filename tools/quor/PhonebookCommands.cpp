// The commands that list and change phonebook entries and stored dial
// parameters.
#include "tools/quor/PhonebookCommands.h"

#include <algorithm>

#include "tools/quor/Cli.h"
#include "tools/quor/CommandSupport.h"
#include "tools/quor/EntryProperties.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Output.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"

namespace quortool {

int RunEntries(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  WarnIfSystemRas(out);
  PrintList(out, "entries", session.Entries());
  return kExitOk;
}

int RunEntryCreate(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  if (HasPropertyOptions(args)) return CreateFromOptions(session, args);
  TQuor& quor = session.Quor();
  const std::vector<std::string> before = session.Entries();
  DWORD code = 0;
  quor.RasCreateEntry(0, code);
  if (code == ERROR_CANCELLED) {
    const std::string why = SimulatedServiceProblem();
    throw Failure(kExitFailed, "entry creation was cancelled" + (why.empty() ? std::string() : ": " + why), code,
                  RasErrorText(code));
  }
  if (code != 0) throw RasRefused("RAS could not create the entry", code);
  std::vector<std::string> added;
  for (const auto& name : session.Entries()) {
    if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "created").Add("entries", added));
  } else if (added.empty()) {
    out.Progress("No entry was added.");
  } else {
    for (const auto& name : added) out.Progress("Created entry " + Printable(name) + ".");
  }
  return kExitOk;
}

int RunEntryEdit(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  const std::string entry = session.RequireEntry(EntryArg(args));
  if (HasPropertyOptions(args)) return EditFromOptions(session, args, entry);
  const std::vector<std::string> before = session.Entries();
  const uint32_t code = EditEntryCode(entry);
  if (code == ERROR_CANCELLED) {
    const std::string why = SimulatedServiceProblem();
    throw Failure(kExitFailed,
                  "editing entry '" + Printable(entry) + "' was cancelled" + (why.empty() ? std::string() : ": " + why),
                  code, RasErrorText(code));
  }
  if (code != 0) throw RasRefused("RAS could not edit entry '" + Printable(entry) + "'", code);
  // The dialog may have renamed the entry: report it under its new name.
  std::string now = entry;
  const std::vector<std::string> after = session.Entries();
  if (std::find(after.begin(), after.end(), entry) == after.end()) {
    for (const auto& name : after) {
      if (std::find(before.begin(), before.end(), name) == before.end()) now = name;
    }
  }
  if (out.Json()) {
    JsonObject o;
    o.Add("result", "edited").Add("entry", now);
    if (now != entry) o.Add("old_name", entry);
    out.Object(o);
  } else if (now != entry) {
    out.Progress("Edited entry " + Printable(now) + " (renamed from " + Printable(entry) + ").");
  } else {
    out.Progress("Edited entry " + Printable(now) + ".");
  }
  return kExitOk;
}

int RunEntryRename(const Args& args) {
  const std::string& typedFrom = EntryArg(args, 0);
  const std::string& to = EntryArg(args, 1);
  Output out(args.json);
  RasSession session(out);
  const std::string from = session.RequireEntry(typedFrom);
  const uint32_t code = RenameEntryCode(from, to);
  if (code == ERROR_ALREADY_EXISTS) {
    throw Failure(kExitFailed,
                  "cannot rename entry '" + Printable(from) + "' to '" + Printable(to) + "': the entry '" +
                      Printable(session.StoredName(to)) + "' already exists",
                  code, RasErrorText(code));
  }
  if (code != 0) {
    throw RasRefused("RAS could not rename entry '" + Printable(from) + "' to '" + Printable(to) + "'", code);
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "renamed").Add("entry", from).Add("new_name", to));
  } else {
    out.Progress("Renamed entry " + Printable(from) + " to " + Printable(to) + ".");
  }
  return kExitOk;
}

int RunEntryDelete(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  const std::string entry = session.RequireEntry(EntryArg(args));
  const uint32_t code = DeleteEntryCode(entry);
  if (code != 0) throw RasRefused("RAS could not delete entry '" + Printable(entry) + "'", code);
  Done(out, "deleted", entry, "Deleted entry " + Printable(entry) + ".");
  return kExitOk;
}

int RunParamsGet(const Args& args) {
  const bool show = args.Flag("--show-password");
  Output out(args.json);
  RasSession session(out);
  const std::string entry = session.RequireEntry(EntryArg(args));
  TQuor& quor = session.Quor();
  if (!quor.GetDialParams(entry)) {
    const std::string what = "RAS could not read the dial parameters of '" + Printable(entry) + "'";
    const uint32_t code = ReadDialParamsCode(entry);
    if (code != 0) throw RasRefused(what, code);
    throw Failure(kExitFailed, what);
  }
  // A fresh component has an empty password; it holds one now only when
  // RAS returned a stored password.
  const bool passwordSet = !quor.Password().empty();
  // A shown password is printed, never logged.
  const char* const kNotLogged = "(not logged)";
  if (out.Json()) {
    auto object = [&](const std::string* password) {
      JsonObject o;
      o.Add("entry", entry).Add("user", quor.UserName()).Add("password_set", passwordSet);
      if (password) o.Add("password", *password);
      o.Add("phone", quor.PhoneNumber()).Add("callback", quor.CallbackNumber()).Add("domain", quor.Domain());
      return o.Text();
    };
    const std::string password = quor.Password(), masked = kNotLogged;
    out.Secret(object(show ? &password : nullptr), object(show ? &masked : nullptr));
  } else {
    out.Line("entry: " + Printable(entry));
    out.Line("user: " + quor.UserName());
    if (show)
      out.Secret("password: " + quor.Password(), std::string("password: ") + kNotLogged);
    else
      out.Line(std::string("password: ") + (passwordSet ? "set" : "not set"));
    out.Line("phone: " + quor.PhoneNumber());
    out.Line("callback: " + quor.CallbackNumber());
    out.Line("domain: " + quor.Domain());
  }
  return kExitOk;
}

int RunParamsSet(const Args& args) {
  const std::string& typed = EntryArg(args);
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
  // A stored password changes only when an option says so.
  const int passwordOptions =
      args.Flag("--password-stdin") + args.Flag("--password-env") + args.Flag("--clear-password");
  if (passwordOptions > 1) {
    throw UsageError("give only one of --password-stdin, --password-env and --clear-password");
  }
  std::optional<std::string> password;
  if (args.Flag("--password-stdin")) {
    password = ReadPassword(args);
    if (password->empty()) {
      throw UsageError("the password line is empty (--clear-password removes the stored password)");
    }
  } else if (args.Flag("--password-env")) {
    password = TakeEnvPassword();
    if (!password || password->empty()) throw UsageError("--password-env: QUOR_PASSWORD is not set or empty");
  } else if (args.Flag("--clear-password")) {
    password = std::string();
  }
  if (password) CheckLength("the password", *password, PWLEN);
  if (!user && !phone && !callback && !domain && !password) {
    throw UsageError(
        "nothing to store: give --user, --password-stdin, --password-env, --clear-password, --phone, --callback or "
        "--domain");
  }

  Output out(args.json);
  RasSession session(out);
  const std::string entry = session.RequireEntry(typed);
  TQuor& quor = session.Quor();
  // Store the stored values back unchanged except for the ones given: the
  // component writes every parameter, so it must hold the current ones.
  if (!quor.GetDialParams(entry)) {
    const std::string what = "RAS could not read the current dial parameters of '" + Printable(entry) + "'";
    const uint32_t code = ReadDialParamsCode(entry);
    if (code != 0) throw RasRefused(what, code);
    throw Failure(kExitFailed, what);
  }
  if (user) quor.SetUserName(*user);
  if (password) quor.SetPassword(*password);
  if (phone) quor.SetPhoneNumber(*phone);
  if (callback) quor.SetCallbackNumber(*callback);
  if (domain) quor.SetDomain(*domain);
  if (!quor.SetDialParams()) {
    const uint32_t code = StoreDialParamsCode(
        {entry, quor.UserName(), quor.Password(), quor.PhoneNumber(), quor.CallbackNumber(), quor.Domain()});
    if (code != 0) throw RasRefused("RAS could not store the dial parameters of '" + Printable(entry) + "'", code);
  }
  Done(out, "stored", entry, "Stored the dial parameters of " + Printable(entry) + ".");
  return kExitOk;
}

}  // namespace quortool
