// Command line parsing, help texts, dispatch and option values.
#include "tools/quor/Cli.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>

#include "tools/quor/CommandTable.h"
#include "tools/quor/Completion.h"
#include "tools/quor/Errors.h"
#include "tools/quor/ManPage.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasLibraryCommands.h"

namespace quortool {

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

// ---------------------------------------------------------------- commands

namespace {

void PrintHelp(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

bool IsHelp(const std::string& token) {
  return token == "--help" || token == "-h";
}

// A common option as written on the command line ("--log=x.txt" gives
// "--log"), or null when the token is none.
const OptionSpec* CommonOption(const std::string& token) {
  const size_t eq = token.rfind("--", 0) == 0 ? token.find('=') : std::string::npos;
  return FindOption(CommonOptions(), eq == std::string::npos ? token : token.substr(0, eq));
}

// Command word(s) and the remaining tokens.
struct Split {
  std::string command;     // "" when none given
  std::string badCommand;  // an unknown command word
  std::vector<std::string> rest;
  bool help = false;
};

Split SplitCommand(const std::vector<std::string>& tokens) {
  Split split;
  size_t i = 0;
  // Only the options common to every command may come before it.
  for (; i < tokens.size(); ++i) {
    const std::string& t = tokens[i];
    const OptionSpec* common = CommonOption(t);
    if (common != nullptr) {
      if (IsHelp(t)) split.help = true;
      if (common->value != nullptr && t.find('=') == std::string::npos) ++i;  // its value
      split.rest.push_back(t);
      if (common->value != nullptr && t.find('=') == std::string::npos && i < tokens.size()) {
        split.rest.push_back(tokens[i]);
      }
    } else if (t.size() > 1 && t[0] == '-') {
      throw UsageError("unknown option '" + t + "' (options follow the command)");
    } else {
      break;
    }
  }
  if (i >= tokens.size()) return split;
  std::string word = tokens[i++];
  if (word == "help") {
    split.help = true;
    std::string topic;
    for (; i < tokens.size(); ++i) {
      if (CommonOption(tokens[i]) != nullptr) continue;
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
    while (j < tokens.size() && CommonOption(tokens[j]) != nullptr) {
      const OptionSpec* common = CommonOption(tokens[j]);
      j += (common->value != nullptr && tokens[j].find('=') == std::string::npos) ? 2 : 1;
    }
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

Args ParseOptions(const CommandSpec& spec, const std::vector<std::string>& tokens) {
  Args args;
  args.command = spec.name;
  args.json = GlobalOutput().json;
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
    std::string name = t;
    std::optional<std::string> inlineValue;
    if (const size_t eq = t.find('='); eq != std::string::npos && t.rfind("--", 0) == 0) {
      name = t.substr(0, eq);
      inlineValue = t.substr(eq + 1);
    }
    if (name == "--password") {
      // params set reads QUOR_PASSWORD only when --password-env says so.
      const bool fromEnv = FindOption(spec.options, "--password-env") != nullptr;
      throw UsageError(std::string("passwords are not taken from the command line; use --password-stdin or ") +
                       (fromEnv ? "--password-env (QUOR_PASSWORD)" : "QUOR_PASSWORD"));
    }
    const OptionSpec* option = FindOption(spec.options, name);
    const bool common = option == nullptr && (option = FindOption(CommonOptions(), name)) != nullptr;
    if (option == nullptr) throw UsageError("unknown option '" + name + "' for 'quor " + spec.name + "'");
    name = option->name;
    std::string value;
    if (option->value != nullptr) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < tokens.size()) {
        value = tokens[++i];
      } else {
        throw UsageError("option '" + name + "' needs a value");
      }
    } else if (inlineValue) {
      throw UsageError("option '" + name + "' takes no value");
    }
    if (common) continue;  // read once for the whole run, in RunCli
    if (option->value != nullptr) {
      args.values[name] = value;
    } else {
      args.flags.insert(name);
    }
  }
  if (args.positional.size() < spec.minArgs) {
    throw UsageError("missing argument for 'quor " + std::string(spec.name) + "' (usage: " + Synopsis(spec) + ")");
  }
  if (args.positional.size() > spec.maxArgs) {
    throw UsageError("unexpected argument '" + Printable(args.positional[spec.maxArgs]) + "' for 'quor " + spec.name +
                     "'");
  }
  return args;
}

int Dispatch(const std::vector<std::string>& tokens, std::string& helpHint) {
  const Split split = SplitCommand(tokens);
  if (!split.badCommand.empty()) {
    helpHint = "quor --help";
    throw UsageError("unknown command '" + Printable(split.badCommand) + "'");
  }
  bool help = split.help;
  for (const auto& t : split.rest) {
    if (t == "--") break;
    if (IsHelp(t)) help = true;
  }
  if (split.command.empty()) {
    if (help) {
      PrintHelp(MainHelp());
      return kExitOk;
    }
    helpHint = "quor --help";
    throw UsageError("no command given");
  }
  helpHint = "quor " + split.command + " --help";
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
  const Args args = ParseOptions(spec, split.rest);
  return spec.run(args);
}

// The options every command shares, read before anything else so that even a
// usage error is reported in the form asked for.
struct CommonSettings {
  bool version = false;
  std::optional<std::string> log;
};

CommonSettings ReadCommonOptions(const std::vector<std::string>& tokens) {
  CommonSettings settings;
  OutputSettings& out = GlobalOutput();
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& t = tokens[i];
    if (t == "--") break;
    const OptionSpec* o = CommonOption(t);
    if (o == nullptr) {
      // A value of a command's own option might look like anything.
      continue;
    }
    const std::string name = o->name;
    if (name == "--json") out.json = true;
    if (name == "--quiet") out.quiet = true;
    if (name == "--verbose") out.verbose = true;
    if (name == "--version") settings.version = true;
    if (name == "--backend") {
      // Quor's RAS library reads QUOR_RAS_BACKEND when it loads.
      std::string backend;
      if (const size_t eq = t.find('='); eq != std::string::npos) {
        backend = t.substr(eq + 1);
      } else if (i + 1 < tokens.size()) {
        backend = tokens[++i];
      }
      if (backend.empty()) throw UsageError("option '--backend' needs a value");
      if (!platform::SetEnv("QUOR_RAS_BACKEND", backend)) throw Failure(kExitFailed, "cannot set QUOR_RAS_BACKEND");
    }
    if (name == "--log") {
      if (const size_t eq = t.find('='); eq != std::string::npos) {
        settings.log = t.substr(eq + 1);
      } else if (i + 1 < tokens.size()) {
        settings.log = tokens[++i];
      }
    }
  }
  return settings;
}

void ReportError(const std::string& message, int exitCode, uint32_t rasError, const std::string& rasText) {
  Output err(GlobalOutput().json);
  err.Error(message);
  if (GlobalOutput().json) {
    JsonObject detail;
    detail.Add("exit", exitCode).Add("message", message);
    if (rasError != 0) detail.Add("ras_error", rasError).Add("ras_text", rasText);
    err.Object(JsonObject().AddObject("error", detail));
  }
}

}  // namespace

int RunMan(const Args&) {
  PrintHelp(ManPage());
  return kExitOk;
}

int RunCompletion(const Args& args) {
  if (args.positional.at(0) != "bash") {
    throw UsageError("no completion for shell '" + Printable(args.positional[0]) + "' (only bash)");
  }
  PrintHelp(BashCompletion());
  return kExitOk;
}

std::optional<Args> ParseCommandLine(const std::vector<std::string>& tokens) {
  ReadCommonOptions(tokens);
  const Split split = SplitCommand(tokens);
  if (!split.badCommand.empty()) throw UsageError("unknown command '" + Printable(split.badCommand) + "'");
  if (split.help || split.command.empty() || IsGroup(split.command)) return std::nullopt;
  for (const auto& t : split.rest) {
    if (t == "--") break;
    if (IsHelp(t)) return std::nullopt;
  }
  return ParseOptions(*FindCommand(split.command), split.rest);
}

namespace {

int RunCommandLine(int argc, char** argv);

}  // namespace

int RunCli(int argc, char** argv) {
  platform::PrepareStandardStreams();
  const int code = RunCommandLine(argc, argv);
  if (const int error = GlobalOutput().writeError; error != 0) {
    Output(false).Error(std::string("cannot write to standard output: ") + std::strerror(error));
    return code == kExitOk ? kExitFailed : code;
  }
  return code;
}

namespace {

int RunCommandLine(int argc, char** argv) {
  std::vector<std::string> tokens;
  for (int i = 1; i < argc; ++i) tokens.emplace_back(argv[i]);
  std::string helpHint = "quor --help";
  // Any command may come to hold a password (typed, from the environment, or stored).
  platform::KeepSecretsFromDumps();
  try {
    const CommonSettings common = ReadCommonOptions(tokens);
    if (common.log) OpenLog(*common.log);
    if (common.version) {
      for (size_t i = 0; i < tokens.size(); ++i) {
        const OptionSpec* o = CommonOption(tokens[i]);
        if (o == nullptr) throw UsageError("--version takes no command");
        if (o->value != nullptr && tokens[i].find('=') == std::string::npos) ++i;
      }
      return RunVersion();
    }
    return Dispatch(tokens, helpHint);
  } catch (const UsageError& e) {
    ReportError(e.what(), kExitUsage, 0, std::string());
    std::fprintf(stderr, "Try '%s'.\n", helpHint.c_str());
    return kExitUsage;
  } catch (const Failure& e) {
    ReportError(e.what(), e.ExitCode(), e.RasError(), e.RasText());
    return e.ExitCode();
  } catch (const Exception& e) {
    ReportError(e.Message(), kExitFailed, 0, std::string());
    return kExitFailed;
  } catch (const std::exception& e) {
    ReportError(std::string("unexpected failure: ") + e.what(), kExitFailed, 0, std::string());
    return kExitFailed;
  } catch (...) {
    ReportError("unexpected failure", kExitFailed, 0, std::string());
    return kExitFailed;
  }
}

}  // namespace

}  // namespace quortool
