// The command table and its terminal help (ManPage.cpp: the man page; Completion.cpp: the bash completion).
#include "tools/quor/CommandTable.h"

#include <algorithm>

#include "tools/quor/Cli.h"
#include "tools/quor/ConnectionCommands.h"
#include "tools/quor/Demo.h"
#include "tools/quor/Dial.h"
#include "tools/quor/EntryProperties.h"
#include "tools/quor/Monitor.h"
#include "tools/quor/PhonebookCommands.h"
#include "tools/quor/RasLibraryCommands.h"

#ifndef QUOR_VERSION
#define QUOR_VERSION "0.0.0"
#endif
#ifndef QUOR_RAS_BACKEND_NAMES
#define QUOR_RAS_BACKEND_NAMES ""
#endif

namespace quortool {

namespace {

constexpr size_t kWidth = 80;

const char kConnections[] = "Connections (of the whole machine; with the simulated service, of this user)";
const char kPhonebook[] = "Phonebook";
const char kSimulation[] = "The simulated RAS service";
const char kOther[] = "Other";

const char kDialDescription[] =
    "Dials a phonebook entry and prints every status text as it arrives, with its time offset "
    "(\"[  0.000] Dialing Office...\"). A failed attempt is hung up and redialled after the pause until the "
    "attempts are used up. Once connected, quor stays up and watches the line until Ctrl-C or SIGTERM (it then "
    "hangs up and exits 0) or until the line is lost (exit 4). When every attempt failed it exits 3 with the RAS "
    "error number and text. An error of this machine's set-up, which no redial can mend, ends the dial at once "
    "with exit 5: 13 (the simulated service's scenario is not valid), 87 (a parameter RAS refuses), 123 (an entry "
    "name RAS refuses), 127 (the RAS library cannot dial), 608 (the entry's device does not exist), 621, 622, 623 "
    "and 625 (the phonebook cannot be opened or read, the entry is gone, the phonebook is corrupt), 632 (a RAS "
    "library of other record sizes) and 711 (RAS cannot start, as when its state folder is refused); so does a "
    "--persist reconnect. A dial of the entry that another process started meanwhile ends with exit 1, as when "
    "it is found before dialling. The entry's stored dial parameters (see 'quor params') are used unless "
    "overridden.";

}  // namespace

const char kPasswordNote[] =
    "Passwords are never taken from the command line: use --password-stdin (one line of standard input, not "
    "echoed on a terminal) or, for dial, the environment variable QUOR_PASSWORD.";

namespace {

// The entry's properties that `entry create` and `entry edit` set without
// the dialog.
std::vector<OptionSpec> PropertyOptions() {
  return {
      {"--phone", nullptr, "N", "the phone number (or the VPN server's address)"},
      {"--area-code", nullptr, "A", "the area code; also turns on the use of country and area codes"},
      {"--device", nullptr, "NAME", "the device to dial with, by its name as RAS lists it"},
      {"--type", nullptr, "TYPE",
       "the device type (modem, isdn, vpn, ...); alone it picks the first device of that type"},
      {"--framing", nullptr, "PROTO", "the framing protocol: ppp, slip or ras"},
      {"--ip", nullptr, "ADDR", "a fixed IP address for this end, or 'auto' for one the server assigns"},
      {"--dns", nullptr, "ADDR[,ADDR]", "one or two fixed name servers, or 'auto' for the server's"},
      {"--script", nullptr, "FILE", "the script run after dialling, or '' for none", Complete::File},
  };
}

std::vector<OptionSpec> WithName(std::vector<OptionSpec> options) {
  options.insert(options.begin(),
                 OptionSpec{"--name", nullptr, "NAME", "the new entry's name (needed with any option)"});
  return options;
}

}  // namespace

const std::vector<OptionSpec>& CommonOptions() {
  static const std::vector<OptionSpec> options = {
      {"--json", nullptr, nullptr,
       "one JSON object per event or result line on standard output; a failure ends with one {\"error\": ...} "
       "object"},
      {"--quiet", "-q", nullptr, "print only results and errors: no progress lines, no notes"},
      {"--verbose", "-v", nullptr, "also say which RAS library is in use and what RAS answered"},
      {"--log", nullptr, "FILE",
       "append every line quor prints, with the date and time, to FILE (the password is never printed)",
       Complete::File},
      {"--help", "-h", nullptr, "show the help of the command"},
      {"--backend", nullptr, "NAME",
       "the backend of Quor's RAS library for this run (sets QUOR_RAS_BACKEND; quor --version lists the names)"},
      {"--version", nullptr, nullptr,
       "show quor's version, the RAS backends compiled in and which rasapi32.dll this process loads, and exit"},
  };
  return options;
}

const std::vector<CommandSpec>& CommandTable() {
  static const std::vector<CommandSpec> commands = {
      {"dial",
       "ENTRY",
       "dial an entry and stay up until Ctrl-C or the line is lost",
       kDialDescription,
       {{"--user", nullptr, "U", "user name for this call"},
        {"--password-stdin", nullptr, nullptr,
         "read the password for this call from one line of standard input (otherwise QUOR_PASSWORD, if set; "
         "never on the command line)"},
        {"--phone", nullptr, "N", "dial this number instead of the entry's"},
        {"--redial", nullptr, "N", "redials after a failed first attempt (default 1)"},
        {"--pause", nullptr, "SECONDS",
         "pause before each redial, 0 to 255 (default 10); the component stores values above 60 as 60"},
        {"--sync", nullptr, nullptr,
         "the component's synchronous mode: \"Connected\" is reported as soon as RAS has accepted the dial, "
         "before the call is up"},
        {"--timestamps", nullptr, nullptr,
         "prefix each progress line with the date and time of day instead of the offset from the start"},
        {"--attach", nullptr, nullptr,
         "when the entry is already connected, watch that connection until it is lost (exit 4) or Ctrl-C "
         "(exit 0, the line stays up) instead of exiting 1"},
        {"--backoff", nullptr, "FACTOR[,MAX]",
         "grow the redial pause by FACTOR (1 to 10) after every failed attempt, up to MAX seconds if given "
         "(--pause 5 --backoff 2,60: 5, 10, 20, 40, 60, 60 ...); the notice shows the real pause"},
        {"--timeout", nullptr, "SECONDS",
         "give up an attempt that is not connected after SECONDS (1 to 86400): it is hung up and redialled or "
         "fails like any other, with RAS error 638"},
        {"--persist", nullptr, nullptr,
         "when the line is lost, dial again after the hold-off instead of exiting 4; Ctrl-C stops it, and after "
         "'quor hangup' quor exits 4"},
        {"--holdoff", nullptr, "SECONDS", "with --persist: wait this long before dialling again (default 30)"},
        {"--maxfail", nullptr, "N",
         "with --persist: stop after N reconnects in a row that did not get the line up (default 10, 0 for no "
         "limit); quor then exits 3"},
        {"--fast-hangup", nullptr, nullptr,
         "after a hang-up wait only until RAS has let the connection go (at most 2 seconds) instead of a fixed "
         "2 seconds"},
        {"--watch", nullptr, "event|poll",
         "how a lost line is noticed: 'event' has RAS signal it at once (the half-second poll stays as a "
         "watchdog), 'poll' (the default) asks RAS every half second"},
        {"--stats", nullptr, "N",
         "while the line is up, print a statistics line every N seconds (1 to 86400): bytes sent and received, "
         "their rates and the time up (with --json a \"statistics\" event)"}},
       1,
       1,
       Complete::Entry,
       kConnections,
       RunDial},
      {"hangup",
       "[ENTRY]",
       "hang up the active connection of an entry",
       "Hangs up the active connection of ENTRY, whichever process on this machine dialled it, and waits until "
       "RAS no longer lists it. A quor dial of ENTRY that is dialling or waiting to redial is stopped as Ctrl-C "
       "would stop it (exit 0), so it does not dial again; one whose line is up sees the line lost (exit 4), and "
       "one with --persist does not dial again either. Only the quor dials of the same RAS state folder "
       "(QUOR_RAS_STATE_DIR) are reached. The phonebook need not be readable. With the networkmanager backend the "
       "hang-up goes through the RAS library's networkmanager-brief backend, which asks NetworkManager over D-Bus "
       "without starting libnm's client.",
       {{"--all", nullptr, nullptr,
         "hang up every active connection and stop every quor dial of this user and state folder"}},
       0,
       1,
       Complete::Connection,
       kConnections,
       RunHangUp},
      {"connections",
       "",
       "list the active connections",
       "Lists the active RAS connections of this machine, whichever process dialled them, as a table: the "
       "connection's handle, its entry, its state, its device, the IP address of this end and the time it has been "
       "connected (\"-\" when unknown: quor knows it for the connections a quor dial made) and the phonebook "
       "it was dialled from; with none, the header alone. With --json one object with a \"connections\" array of "
       "objects.\n\nQuor's simulated RAS "
       "service keeps its connections per user (in the user's state folder, QUOR_RAS_STATE_DIR): there the "
       "list holds this user's connections, not another user's.",
       {{"--names", nullptr, nullptr, "only the entry names, one per line (with --json: an array of names)"}},
       0,
       0,
       Complete::None,
       kConnections,
       RunConnections},
      {"monitor",
       "",
       "print every connection's changes until Ctrl-C",
       "Watches the RAS connections of this machine, whichever process dialled them, and prints a line, with "
       "its time offset, when one appears, changes state, is lost (with RAS's error number and text) and ends "
       "(\"ended\": hung up; \"gone\": after a loss), until Ctrl-C or SIGTERM (exit 0). The connections up "
       "when it starts appear at once. It dials nothing and holds no connection. With --json one object per "
       "line (docs/quor-json.md).",
       {},
       0,
       0,
       Complete::None,
       kConnections,
       RunMonitor},
      {"status",
       "ENTRY",
       "show an entry's connection: state, device, IP address, time up",
       "Shows the state, device, IP address and time connected of the active connection of ENTRY (dialled by any "
       "process).",
       {},
       1,
       1,
       Complete::Connection,
       kConnections,
       RunStatus},
      {"entries",
       "",
       "list the phonebook's entries",
       "Lists the entries of the RAS phonebook, one per line, in RAS's order.",
       {},
       0,
       0,
       Complete::None,
       kPhonebook,
       RunEntries},
      {"entry show",
       "ENTRY",
       "show an entry's number, device, type and options",
       "Shows the properties RAS keeps for ENTRY: phone number, area code, alternate numbers, device and its "
       "type, framing, network protocols, addresses, script and options.",
       {},
       1,
       1,
       Complete::Entry,
       kPhonebook,
       RunEntryShow},
      {"entry create", "", "create an entry (options, or the RAS entry dialog)",
       "With --name and any of the options below, creates the entry at once from RAS's defaults for a new entry "
       "and the values given; every value is checked first, and nothing is written when one is wrong. Without "
       "options, creates a phonebook entry through the RAS service's new-entry dialog (interactive on a "
       "terminal, scripted otherwise; the simulated service reads the answers from the file named by "
       "QUOR_RAS_DIALOG) and names the entries it added.",
       WithName(PropertyOptions()), 0, 0, Complete::None, kPhonebook, RunEntryCreate},
      {"entry edit", "ENTRY", "edit an entry (options, or the RAS entry dialog)",
       "With any of the options below, changes only those properties of ENTRY; every value is checked first, and "
       "nothing is written when one is wrong. Without options, edits the entry through the RAS service's entry "
       "dialog (interactive on a terminal, scripted otherwise; the simulated service reads the answers from the "
       "file named by QUOR_RAS_DIALOG).",
       PropertyOptions(), 1, 1, Complete::Entry, kPhonebook, RunEntryEdit},
      {"entry rename",
       "OLD NEW",
       "rename an entry",
       "Renames a phonebook entry.",
       {},
       2,
       2,
       Complete::Entry,
       kPhonebook,
       RunEntryRename},
      {"entry delete",
       "ENTRY",
       "delete an entry",
       "Deletes a phonebook entry.",
       {},
       1,
       1,
       Complete::Entry,
       kPhonebook,
       RunEntryDelete},
      {"params get",
       "ENTRY",
       "show an entry's stored dial parameters",
       "Shows the dial parameters RAS has stored for ENTRY. The password is shown only as \"set\" or \"not set\" "
       "unless --show-password is given.",
       {{"--show-password", nullptr, nullptr, "print the stored password itself"}},
       1,
       1,
       Complete::Entry,
       kPhonebook,
       RunParamsGet},
      {"params set",
       "ENTRY",
       "store an entry's dial parameters",
       "Stores dial parameters for ENTRY. Only the parameters given change; the others keep their stored values. "
       "The stored password changes only with --password-stdin, --password-env or --clear-password. A stored "
       "phone number cannot be cleared here.",
       {{"--user", nullptr, "U", "user name"},
        {"--password-stdin", nullptr, nullptr, "password, from one line of standard input (an empty line is refused)"},
        {"--password-env", nullptr, nullptr, "password, from the environment variable QUOR_PASSWORD"},
        {"--clear-password", nullptr, nullptr, "remove the stored password"},
        {"--phone", nullptr, "N", "phone number (overrides the entry's number when dialling)"},
        {"--callback", nullptr, "N", "callback number"},
        {"--domain", nullptr, "D", "logon domain (at most 15 characters)"}},
       1,
       1,
       Complete::Entry,
       kPhonebook,
       RunParamsSet},
      {"sim reset",
       "",
       "clear the simulated service's attempt counters",
       "Clears the attempt counters of Quor's simulated RAS service. The service counts the dials of each entry "
       "across processes, and a scenario's FailFirst=K fails only the first K of them; after a reset the next "
       "dial is attempt 1 again, so that a scenario behaves the same on every run. Only the simulated service "
       "has these counters (exit 1 with any other RAS).",
       {},
       0,
       0,
       Complete::None,
       kSimulation,
       RunSimReset},
      {"demo",
       "",
       "a ten-second tour on a private sample phonebook",
       "About ten seconds on a private sample phonebook of the simulated RAS service, in a temporary folder that "
       "is removed afterwards (nothing of yours is read or changed): the first attempt meets a busy line, quor "
       "pauses and redials, connects, and then the line drops and the loss is reported.",
       {},
       0,
       0,
       Complete::None,
       kOther,
       RunDemo},
      {"man",
       "",
       "print the manual page (roff)",
       "Prints quor's manual page in roff format, made from the same table as this help: "
       "'quor man > quor.1; man ./quor.1'.",
       {},
       0,
       0,
       Complete::None,
       kOther,
       RunMan},
      {"completion",
       "bash",
       "print the bash completion script",
       "Prints a bash completion script for quor, made from the same table as this help. Load it with "
       "'source <(quor completion bash)' or install it as /etc/bash_completion.d/quor. Entry names are completed "
       "by asking quor itself.",
       {},
       1,
       1,
       Complete::None,
       kOther,
       RunCompletion},
  };
  return commands;
}

const std::vector<ExitCodeSpec>& ExitCodes() {
  static const std::vector<ExitCodeSpec> codes = {
      {kExitOk, "success; for dial: stopped by Ctrl-C or SIGTERM and hung up cleanly"},
      {kExitFailed,
       "the operation failed: unknown entry, no active connection, RAS refused the request, the --log file cannot "
       "be opened, standard output cannot be written; for dial: the entry is already connected or being dialled"},
      {kExitUsage, "usage error: unknown command or option, missing or extra argument, bad number or value"},
      {kExitDialFailed, "dial: every permitted attempt failed (the message names the RAS error number)"},
      {kExitLineLost, "dial: the connection was lost, or hung up from elsewhere"},
      {kExitNoRas,
       "RAS unavailable: rasapi32.dll could not be loaded, RAS cannot start (711), or the phonebook is unreadable "
       "or corrupted; for dial: an error no redial can mend (see quor dial --help)"},
  };
  return codes;
}

const std::vector<EnvironmentSpec>& EnvironmentVariables() {
  static const std::vector<EnvironmentSpec> variables = {
      {"QUOR_PASSWORD",
       "the password for dial when --password-stdin is not given; params set reads it only with --password-env"},
      {"QUOR_RAS_BACKEND", "the backend of Quor's RAS library (default sim, the simulated service)"},
      {"QUOR_RAS_PHONEBOOK", "the simulated RAS service's phonebook file (default ~/.config/quor/rasphone.pbk)"},
      {"QUOR_RAS_CREDENTIALS", "the simulated service's file of stored dial parameters"},
      {"QUOR_RAS_STATE_DIR", "the simulated service's folder of active connections and attempt counters"},
      {"QUOR_RAS_SCENARIO", "a scenario file: what a dial of each entry does (RasSim/README.md)"},
      {"QUOR_RAS_DIALOG", "answers for the simulated service's entry dialogs; 'none' cancels them"},
  };
  return variables;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const auto& c : CommandTable()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const auto& o : options) {
    if (name == o.name || (o.shortName != nullptr && name == o.shortName)) return &o;
  }
  return nullptr;
}

bool IsGroup(const std::string& word) {
  for (const auto& c : CommandTable()) {
    const std::string name = c.name;
    if (name.size() > word.size() && name.compare(0, word.size(), word) == 0 && name[word.size()] == ' ') return true;
  }
  return false;
}

std::string Synopsis(const CommandSpec& command) {
  std::string text = std::string("quor ") + command.name;
  if (*command.arguments != 0) text += std::string(" ") + command.arguments;
  if (!command.options.empty()) text += " [OPTIONS]";
  return text;
}

// ---------------------------------------------------------------- terminal help

namespace {

// Words of `text` filled into lines of `width`, each line after the first
// starting with `indent` spaces; the first line continues at column `column`.
std::string Fill(const std::string& text, size_t column, size_t indent, size_t width = kWidth) {
  std::string out;
  size_t at = column;
  size_t i = 0;
  bool first = true;
  std::string pending;  // extra spaces belong to the next word ("[  0.000]")
  while (i < text.size()) {
    const size_t end = std::min(text.find(' ', i), text.size());
    const std::string word = pending + text.substr(i, end - i);
    i = end + 1;
    if (word.empty() || word.find_first_not_of(' ') == std::string::npos) {
      if (!first) pending += ' ';
      continue;
    }
    pending.clear();
    if (!first && at + 1 + word.size() > width) {
      // Appended piece by piece: "\n" + <temporary string> makes GCC 12 warn
      // (-Wrestrict, a false positive at -O2) in std::string's insert.
      out.append(1, '\n').append(indent, ' ');
      at = indent;
    } else if (!first) {
      out += ' ';
      ++at;
    }
    out += word;
    at += word.size();
    first = false;
  }
  return out;
}

std::string Paragraphs(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = text.find("\n\n", i);
    if (end == std::string::npos) end = text.size();
    if (!out.empty()) out += "\n";
    out += Fill(text.substr(i, end - i), 0, 0) + "\n";
    i = end + 2;
  }
  return out;
}

std::string OptionLabel(const OptionSpec& o) {
  std::string label = o.shortName != nullptr ? std::string(o.shortName) + ", " + o.name : o.name;
  if (o.value != nullptr) label += std::string(" ") + o.value;
  return label;
}

// "  LABEL    text..." with the text starting at column 24.
std::string Row(const std::string& label, const std::string& text) {
  constexpr size_t kColumn = 24;
  std::string line = "  " + label;
  if (line.size() + 2 > kColumn) {
    line.append(1, '\n').append(kColumn, ' ');
  } else {
    line += std::string(kColumn - line.size(), ' ');
  }
  return line + Fill(text, kColumn, kColumn) + "\n";
}

std::string OptionRows(const std::vector<OptionSpec>& options) {
  std::string text;
  for (const auto& o : options) text += Row(OptionLabel(o), o.help);
  return text;
}

std::string ExitRows() {
  std::string text;
  for (const auto& e : ExitCodes()) text += "  " + std::to_string(e.code) + "  " + Fill(e.meaning, 5, 5) + "\n";
  return text;
}

}  // namespace

std::string MainHelp() {
  std::string text =
      "Usage: quor COMMAND [ARGUMENTS] [OPTIONS]\n"
      "\n"
      "A command-line dialer for the RAS phonebook, built on the TQuor component.\n";
  std::vector<std::string> sections;
  for (const auto& c : CommandTable()) {
    if (std::find(sections.begin(), sections.end(), c.section) == sections.end()) sections.push_back(c.section);
  }
  for (const auto& section : sections) {
    text += "\n" + section + ":\n";
    for (const auto& c : CommandTable()) {
      if (section != c.section) continue;
      std::string label = c.name;
      if (*c.arguments != 0) label += std::string(" ") + c.arguments;
      text += Row(label, c.summary);
    }
  }
  text += Row("help [COMMAND]", "help for a command (as does COMMAND --help)");
  text += "\nOptions of every command:\n" + OptionRows(CommonOptions());
  text.append(1, '\n').append(Fill(kPasswordNote, 0, 0)).append(1, '\n');
  text += "Messages and errors go to standard error, prefixed \"quor: \".\n";
  text += "\nEnvironment:\n";
  for (const auto& v : EnvironmentVariables()) text += Row(v.name, v.meaning);
  text += "\nExit status:\n" + ExitRows();
  return text;
}

std::string CommandHelp(const CommandSpec& command) {
  std::string text = "Usage: " + Synopsis(command) + "\n\n" + Paragraphs(command.description);
  if (!command.options.empty()) text += "\nOptions:\n" + OptionRows(command.options);
  text += "\nOptions of every command:\n" + OptionRows(CommonOptions());
  return text;
}

std::string GroupHelp(const std::string& group) {
  std::string text = "Usage: quor " + group + " SUBCOMMAND ...\n\n";
  for (const auto& c : CommandTable()) {
    if (std::string(c.name).rfind(group + " ", 0) == 0) text += "  " + Synopsis(c) + "\n";
  }
  text += "\nSee 'quor " + group + " SUBCOMMAND --help'.\n";
  return text;
}

std::string VersionText() {
  return std::string("quor ") + QUOR_VERSION + "\nRAS backends compiled in: " + QUOR_RAS_BACKEND_NAMES + "\n";
}

std::string VersionNumber() {
  return QUOR_VERSION;
}

std::vector<std::string> BackendNames() {
  std::vector<std::string> names;
  const std::string all = QUOR_RAS_BACKEND_NAMES;
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find(' ', at), all.size());
    if (end > at) names.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace quortool
