// Command line parsing, help texts, dispatch, and the pieces every command
// shares (output, message boxes, the TQuor session).
#include "tools/quor/Cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>

#include "tools/quor/Commands.h"
#include "tools/quor/Platform.h"

namespace quortool {

// ---------------------------------------------------------------- output

void Output::Line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Output::Object(const JsonObject& object) {
  Line(object.Text());
}

void Output::Error(const std::string& text) {
  std::fprintf(stderr, "quor: %s\n", text.c_str());
  std::fflush(stderr);
}

void Output::Note(const std::string& text) {
  std::fprintf(stderr, "quor: note: %s\n", text.c_str());
  std::fflush(stderr);
}

void ConsolePresenter::ShowMessage(const String& Msg) {
  fMessages.push_back(Msg);
  fOut.Error(Msg);
}

int ConsolePresenter::MessageDlg(const String& Msg, TMsgDlgType, TMsgDlgButtons Buttons, int) {
  fMessages.push_back(Msg);
  fOut.Error(Msg);
  if (Buttons & (1u << mbOK)) return mrOk;
  if (Buttons & (1u << mbCancel)) return mrCancel;
  return mrNone;
}

// ---------------------------------------------------------------- session

RasSession::RasSession(Output& out) : fOut(out), fPresenter(out) {
  fPrevious = SetMessagePresenter(&fPresenter);
  // The constructor reads the phonebook, and its messages about a broken
  // phonebook appear right here.
  const size_t before = fPresenter.Count();
  fQuor = std::make_unique<TQuor>(nullptr);
  if (!fQuor->RasInitialized) {
    fQuor.reset();
    SetMessagePresenter(fPrevious);
    throw Failure(kExitNoRas, "the RAS client library (rasapi32.dll) could not be loaded");
  }
  CheckPhonebook(before);
}

RasSession::~RasSession() {
  // Destroying the component hangs up a call it still holds; its messages
  // must still reach the console.
  fQuor.reset();
  SetMessagePresenter(fPrevious);
}

namespace {

// RAS tells the component when it cannot open or read the phonebook (621,
// 622), and the component keeps quiet about it: the list just comes out
// empty. The simulated service names its phonebook file in
// QUOR_RAS_PHONEBOOK, so the tool can tell "empty" from "unreadable" there.
std::string UnreadablePhonebook() {
  const char* path = std::getenv("QUOR_RAS_PHONEBOOK");
  if (path == nullptr || *path == 0) return std::string();
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return std::string();  // reads as empty
  std::ifstream probe;
  if (std::filesystem::is_regular_file(status)) probe.open(path, std::ios::binary);
  if (probe.is_open()) return std::string();
  return std::string("the phonebook ") + path + " cannot be read";
}

}  // namespace

void RasSession::CheckPhonebook(size_t messagesBefore) {
  fPhonebookProblem.clear();
  if (fPresenter.Count() != messagesBefore) {
    // The message box has already said what is wrong.
    fPhonebookProblem = "the RAS phonebook could not be read";
  } else if (fQuor->PhoneBookEntries->Count() == 0) {
    fPhonebookProblem = UnreadablePhonebook();
  }
}

std::vector<std::string> RasSession::Entries() {
  const size_t before = fPresenter.Count();
  fQuor->GetPhoneBookEntries();
  CheckPhonebook(before);
  if (!fPhonebookProblem.empty()) throw Failure(kExitNoRas, fPhonebookProblem);
  return fQuor->PhoneBookEntries->Items();
}

void RasSession::RequireEntry(const std::string& entry) {
  if (!fPhonebookProblem.empty()) throw Failure(kExitNoRas, fPhonebookProblem);
  if (fQuor->PhoneBookEntries->IndexOf(entry) < 0) {
    throw Failure(kExitFailed, "unknown entry '" + entry + "' ('quor entries' lists the phonebook)");
  }
}

// ---------------------------------------------------------------- values

int64_t ParseNumber(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  const std::string range =
      " (expected a whole number from " + std::to_string(min) + " to " + std::to_string(max) + ")";
  if (text.empty() || text.size() > 18) throw UsageError("bad number for " + option + ": '" + text + "'" + range);
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) throw UsageError("bad number for " + option + ": '" + text + "'" + range);
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      throw UsageError("bad number for " + option + ": '" + text + "'" + range);
    }
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value < min || value > max) throw UsageError("bad number for " + option + ": '" + text + "'" + range);
  return value;
}

void CheckLength(const std::string& what, const std::string& text, size_t max) {
  if (text.size() > max) {
    throw UsageError(what + " is longer than " + std::to_string(max) + " characters");
  }
}

std::optional<std::string> ReadPassword(const Args& args) {
  if (args.Flag("--password-stdin")) {
    std::string line;
    if (!platform::ReadSecretLine("Password: ", line)) {
      throw UsageError("--password-stdin: standard input ended before a password line");
    }
    return line;
  }
  if (const char* env = std::getenv("QUOR_PASSWORD")) return std::string(env);
  return std::nullopt;
}

// ---------------------------------------------------------------- commands

namespace {

struct OptionSpec {
  const char* name;
  bool takesValue;
};

struct CommandSpec {
  const char* name;
  const char* synopsis;
  const char* help;
  std::vector<OptionSpec> options;
  size_t minArgs;
  size_t maxArgs;
  int (*run)(const Args&);
};

constexpr const char* kCommonOptions =
    "  --json            one JSON object per event or result line on standard output\n"
    "  --help, -h        show this help\n";

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"dial",
       "quor dial ENTRY [OPTIONS]",
       "Dials a phonebook entry and prints every status text as it arrives, with its time\n"
       "offset (\"[  0.000] Dialing Office...\"). A failed attempt is hung up and redialled\n"
       "after the pause until the attempts are used up. Once connected, quor stays up and\n"
       "watches the line until Ctrl-C or SIGTERM (it then hangs up and exits 0) or until the\n"
       "line is lost (exit 4). When every attempt failed it exits 3 with the RAS error number.\n"
       "The entry's stored dial parameters (see 'quor params') are used unless overridden.\n"
       "\n"
       "  --user U          user name for this call\n"
       "  --password-stdin  read the password for this call from one line of standard input\n"
       "                    (otherwise QUOR_PASSWORD, if set; never on the command line)\n"
       "  --phone N         dial this number instead of the entry's\n"
       "  --redial N        redials after a failed first attempt (default 1)\n"
       "  --pause SECONDS   pause before each redial, 0 to 255 (default 10); the component\n"
       "                    stores values above 60 as 60\n"
       "  --sync            the component's synchronous mode: \"Connected\" is reported as\n"
       "                    soon as RAS has accepted the dial, before the call is up\n",
       {{"--user", true},
        {"--password-stdin", false},
        {"--phone", true},
        {"--redial", true},
        {"--pause", true},
        {"--sync", false}},
       1,
       1,
       RunDial},
      {"hangup",
       "quor hangup ENTRY",
       "Hangs up the active connection of ENTRY, whichever process on this machine dialled it,\n"
       "and waits until RAS no longer lists it.\n",
       {},
       1,
       1,
       RunHangUp},
      {"connections",
       "quor connections",
       "Lists the entry names of the active RAS connections of this machine, one per line.\n",
       {},
       0,
       0,
       RunConnections},
      {"status",
       "quor status ENTRY",
       "Shows the state and device of the active connection of ENTRY (dialled by any process).\n",
       {},
       1,
       1,
       RunStatus},
      {"entries",
       "quor entries",
       "Lists the entries of the RAS phonebook, one per line, in RAS's order.\n",
       {},
       0,
       0,
       RunEntries},
      {"entry create",
       "quor entry create",
       "Creates a phonebook entry through the RAS service's new-entry dialog (interactive on a\n"
       "terminal, scripted otherwise; the simulated service reads the answers from the file\n"
       "named by QUOR_RAS_DIALOG) and names the entries it added.\n",
       {},
       0,
       0,
       RunEntryCreate},
      {"entry edit",
       "quor entry edit ENTRY",
       "Edits a phonebook entry through the RAS service's entry dialog (interactive on a\n"
       "terminal, scripted otherwise; the simulated service reads the answers from the file\n"
       "named by QUOR_RAS_DIALOG).\n",
       {},
       1,
       1,
       RunEntryEdit},
      {"entry rename", "quor entry rename OLD NEW", "Renames a phonebook entry.\n", {}, 2, 2, RunEntryRename},
      {"entry delete", "quor entry delete ENTRY", "Deletes a phonebook entry.\n", {}, 1, 1, RunEntryDelete},
      {"params get",
       "quor params get ENTRY [--show-password]",
       "Shows the dial parameters RAS has stored for ENTRY. The password is shown only as\n"
       "\"set\" or \"not set\" unless --show-password is given.\n"
       "\n"
       "  --show-password   print the stored password itself\n",
       {{"--show-password", false}},
       1,
       1,
       RunParamsGet},
      {"params set",
       "quor params set ENTRY [OPTIONS]",
       "Stores dial parameters for ENTRY. Only the parameters given change; the others keep\n"
       "their stored values. A stored phone number cannot be cleared here.\n"
       "\n"
       "  --user U          user name\n"
       "  --password-stdin  password, from one line of standard input (or QUOR_PASSWORD)\n"
       "  --phone N         phone number (overrides the entry's number when dialling)\n"
       "  --callback N      callback number\n"
       "  --domain D        logon domain (at most 15 characters)\n",
       {{"--user", true}, {"--password-stdin", false}, {"--phone", true}, {"--callback", true}, {"--domain", true}},
       1,
       1,
       RunParamsSet},
      {"demo",
       "quor demo",
       "About ten seconds on a private sample phonebook of the simulated RAS service, in a\n"
       "temporary folder that is removed afterwards (nothing of yours is read or changed):\n"
       "the first attempt meets a busy line, quor pauses and redials, connects, and then\n"
       "the line drops and the loss is reported.\n",
       {},
       0,
       0,
       RunDemo},
  };
  return commands;
}

constexpr const char* kMainHelp =
    "Usage: quor COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "A command-line dialer for the RAS phonebook, built on the TQuor component.\n"
    "\n"
    "Connections (of the whole machine):\n"
    "  dial ENTRY            dial an entry and stay up until Ctrl-C or the line is lost\n"
    "  hangup ENTRY          hang up the active connection of an entry\n"
    "  connections           list the active connections\n"
    "  status ENTRY          show the state and device of an entry's connection\n"
    "Phonebook:\n"
    "  entries               list the phonebook's entries\n"
    "  entry create          create an entry through the RAS entry dialog\n"
    "  entry edit ENTRY      edit an entry through the RAS entry dialog\n"
    "  entry rename OLD NEW  rename an entry\n"
    "  entry delete ENTRY    delete an entry\n"
    "  params get ENTRY      show an entry's stored dial parameters\n"
    "  params set ENTRY      store an entry's dial parameters\n"
    "Other:\n"
    "  demo                  a ten-second tour on a private sample phonebook\n"
    "  help [COMMAND]        help for a command (as does COMMAND --help)\n"
    "  --version             the version and the RAS backends compiled in\n"
    "\n"
    "Options of every command:\n"
    "  --json                one JSON object per event or result line on standard output\n"
    "  --help, -h            help for the command\n"
    "  --backend NAME        the RAS backend of Quor's RAS library for this run\n"
    "                        (sets QUOR_RAS_BACKEND; quor --version lists the names)\n"
    "\n"
    "Passwords are never taken from the command line: use --password-stdin (one line of\n"
    "standard input, not echoed on a terminal) or the environment variable QUOR_PASSWORD.\n"
    "Messages and errors go to standard error, prefixed \"quor: \".\n"
    "\n"
    "Exit status:\n"
    "  0  success; for dial: stopped by Ctrl-C or SIGTERM and hung up cleanly\n"
    "  1  the operation failed: unknown entry, no active connection, RAS refused the request\n"
    "  2  usage error: unknown command or option, missing or extra argument, bad number\n"
    "  3  dial: every permitted attempt failed (the message names the RAS error number)\n"
    "  4  dial: the connection was lost, or hung up from elsewhere\n"
    "  5  RAS unavailable: rasapi32.dll could not be loaded, or the phonebook is unreadable\n"
    "     or corrupted\n";

const CommandSpec* FindCommand(const std::string& name) {
  for (const auto& c : Commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

bool IsGroup(const std::string& word) {
  return word == "entry" || word == "params";
}

std::string GroupHelp(const std::string& group) {
  std::string text = "Usage: quor " + group + " SUBCOMMAND ...\n\n";
  for (const auto& c : Commands()) {
    if (std::string(c.name).rfind(group + " ", 0) == 0) text += std::string("  ") + c.synopsis + "\n";
  }
  text += "\nSee 'quor " + group + " SUBCOMMAND --help'.\n";
  return text;
}

std::string CommandHelp(const CommandSpec& c) {
  return std::string("Usage: ") + c.synopsis + "\n\n" + c.help + "\n" + kCommonOptions;
}

void PrintHelp(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

bool IsHelp(const std::string& token) {
  return token == "--help" || token == "-h";
}

// Command word(s) and the remaining tokens.
struct Split {
  std::string command;     // "" when none given
  std::string badCommand;  // an unknown command word
  std::vector<std::string> rest;
  bool help = false;
  bool json = false;
};

Split SplitCommand(const std::vector<std::string>& tokens) {
  Split split;
  size_t i = 0;
  // Only the options common to every command may come before it.
  for (; i < tokens.size(); ++i) {
    const std::string& t = tokens[i];
    if (IsHelp(t)) {
      split.help = true;
    } else if (t == "--json") {
      split.json = true;
    } else if (t.size() > 1 && t[0] == '-') {
      throw UsageError("unknown option '" + t + "' (options follow the command)");
    } else {
      break;
    }
  }
  if (i == tokens.size()) return split;
  std::string word = tokens[i++];
  if (word == "help") {
    split.help = true;
    std::string topic;
    for (; i < tokens.size(); ++i) {
      if (tokens[i] == "--json" || IsHelp(tokens[i])) continue;
      if (!topic.empty()) topic += " ";
      topic += tokens[i];
    }
    if (topic.empty()) return split;
    if (IsGroup(topic) || FindCommand(topic) != nullptr) {
      split.command = topic;
    } else {
      split.badCommand = topic;
    }
    return split;
  }
  if (IsGroup(word)) {
    // The subcommand is the next word that is not a common option.
    size_t j = i;
    while (j < tokens.size() && (tokens[j] == "--json" || IsHelp(tokens[j]))) ++j;
    if (j < tokens.size() && tokens[j].rfind("-", 0) != 0) {
      const std::string full = word + " " + tokens[j];
      if (FindCommand(full) == nullptr) {
        split.badCommand = full;
        return split;
      }
      for (size_t k = i; k < j; ++k) split.rest.push_back(tokens[k]);
      word = full;
      i = j + 1;
    }
  } else if (FindCommand(word) == nullptr) {
    split.badCommand = word;
    return split;
  }
  split.command = word;
  for (; i < tokens.size(); ++i) split.rest.push_back(tokens[i]);
  return split;
}

Args ParseOptions(const CommandSpec& spec, const std::vector<std::string>& tokens, bool json) {
  Args args;
  args.command = spec.name;
  args.json = json;
  bool optionsEnded = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& t = tokens[i];
    if (optionsEnded || t.size() < 2 || t[0] != '-') {
      args.positional.push_back(t);
      continue;
    }
    if (t == "--") {
      optionsEnded = true;
      continue;
    }
    if (t == "--json") {
      args.json = true;
      continue;
    }
    std::string name = t;
    std::optional<std::string> inlineValue;
    if (const size_t eq = t.find('='); eq != std::string::npos && t.rfind("--", 0) == 0) {
      name = t.substr(0, eq);
      inlineValue = t.substr(eq + 1);
    }
    if (name == "--password") {
      throw UsageError("passwords are not taken from the command line; use --password-stdin or QUOR_PASSWORD");
    }
    const OptionSpec* option = nullptr;
    for (const auto& o : spec.options) {
      if (name == o.name) option = &o;
    }
    if (option == nullptr) throw UsageError("unknown option '" + name + "' for 'quor " + spec.name + "'");
    if (option->takesValue) {
      if (inlineValue) {
        args.values[name] = *inlineValue;
      } else if (i + 1 < tokens.size()) {
        args.values[name] = tokens[++i];
      } else {
        throw UsageError("option '" + name + "' needs a value");
      }
    } else {
      if (inlineValue) throw UsageError("option '" + name + "' takes no value");
      args.flags.insert(name);
    }
  }
  if (args.positional.size() < spec.minArgs) {
    const std::string synopsis = spec.synopsis;
    throw UsageError("missing argument for 'quor " + std::string(spec.name) + "' (usage: " + synopsis + ")");
  }
  if (args.positional.size() > spec.maxArgs) {
    throw UsageError("unexpected argument '" + args.positional[spec.maxArgs] + "' for 'quor " + spec.name + "'");
  }
  return args;
}

// The options of the program itself, before the command: `--version` and
// `--backend NAME` (QUOR_RAS_BACKEND for this process, read when Quor's RAS
// library loads). Returns true when the command line is done (`--version`).
bool ProgramOptions(std::vector<std::string>& tokens) {
  size_t i = 0;
  while (i < tokens.size()) {
    const std::string& t = tokens[i];
    if (t == "--") break;
    if (t == "--version") {
      if (tokens.size() != 1) throw UsageError("--version takes no command or other option");
      std::printf("quor %s\nRAS backends compiled in: %s\n", QUOR_VERSION, QUOR_RAS_BACKEND_NAMES);
      return true;
    }
    std::string name;
    size_t used = 0;
    if (t == "--backend") {
      if (i + 1 >= tokens.size()) throw UsageError("option '--backend' needs a value");
      name = tokens[i + 1];
      used = 2;
    } else if (t.rfind("--backend=", 0) == 0) {
      name = t.substr(std::strlen("--backend="));
      used = 1;
    } else {
      ++i;
      continue;
    }
    if (name.empty()) throw UsageError("option '--backend' needs a value");
    if (!platform::SetEnv("QUOR_RAS_BACKEND", name)) throw Failure(kExitFailed, "cannot set QUOR_RAS_BACKEND");
    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i),
                 tokens.begin() + static_cast<std::ptrdiff_t>(i + used));
  }
  return false;
}

int Dispatch(std::vector<std::string> tokens, std::string& helpHint) {
  if (ProgramOptions(tokens)) return kExitOk;
  const Split split = SplitCommand(tokens);
  if (!split.badCommand.empty()) {
    helpHint = "quor --help";
    throw UsageError("unknown command '" + split.badCommand + "'");
  }
  if (split.command.empty()) {
    if (split.help) {
      PrintHelp(kMainHelp);
      return kExitOk;
    }
    helpHint = "quor --help";
    throw UsageError("no command given");
  }
  helpHint = "quor " + split.command + " --help";
  bool help = split.help;
  for (const auto& t : split.rest) {
    if (t == "--") break;
    if (IsHelp(t)) help = true;
  }
  if (IsGroup(split.command)) {
    if (help) {
      PrintHelp(GroupHelp(split.command));
      return kExitOk;
    }
    throw UsageError("'quor " + split.command + "' needs a subcommand");
  }
  const CommandSpec& spec = *FindCommand(split.command);
  if (help) {
    PrintHelp(CommandHelp(spec));
    return kExitOk;
  }
  const Args args = ParseOptions(spec, split.rest, split.json);
  return spec.run(args);
}

}  // namespace

int RunCli(int argc, char** argv) {
  std::vector<std::string> tokens;
  for (int i = 1; i < argc; ++i) tokens.emplace_back(argv[i]);
  Output err(false);
  std::string helpHint = "quor --help";
  try {
    return Dispatch(tokens, helpHint);
  } catch (const UsageError& e) {
    err.Error(e.what());
    std::fprintf(stderr, "Try '%s'.\n", helpHint.c_str());
    return kExitUsage;
  } catch (const Failure& e) {
    err.Error(e.what());
    return e.ExitCode();
  } catch (const Exception& e) {
    err.Error(e.Message());
    return kExitFailed;
  } catch (const std::exception& e) {
    err.Error(std::string("unexpected failure: ") + e.what());
    return kExitFailed;
  } catch (...) {
    err.Error("unexpected failure");
    return kExitFailed;
  }
}

}  // namespace quortool
