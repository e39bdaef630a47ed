// The one description of quor's command line: commands, their arguments and
// options, the options every command takes, the environment and the exit
// codes. `quor --help`, every `quor COMMAND --help`, the man page and the bash
// completion are all rendered from it, so they cannot disagree.
//
// Adding an option: add a row to the command's `options` (or to
// CommonOptions() when every command takes it) and read it in the command's
// Run function through Args. Nothing else needs to change.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quortool {

struct Args;

// What the shell completes for a value or a positional argument.
enum class Complete {
  None,
  Entry,       // a phonebook entry name (`quor entries`)
  Connection,  // an entry with an active connection (`quor connections --names`)
  File,        // a file name
};

struct OptionSpec {
  const char* name;       // "--user"
  const char* shortName;  // "-q", or nullptr
  const char* value;      // the value's name in help ("U"), or nullptr for a flag
  const char* help;       // one or more sentences, unwrapped
  Complete complete = Complete::None;
};

struct CommandSpec {
  const char* name;         // "dial", "entry create"
  const char* arguments;    // "ENTRY", "OLD NEW", "" for none
  const char* summary;      // one line for the command list
  const char* description;  // paragraphs separated by "\n\n", unwrapped
  std::vector<OptionSpec> options;
  size_t minArgs;
  size_t maxArgs;
  Complete complete;    // what the positional arguments are
  const char* section;  // heading of the command list this command appears under
  int (*run)(const Args&);
};

struct ExitCodeSpec {
  int code;
  const char* meaning;
};

struct EnvironmentSpec {
  const char* name;
  const char* meaning;
};

const std::vector<CommandSpec>& CommandTable();
// Options every command takes, before or after the command words.
const std::vector<OptionSpec>& CommonOptions();
const std::vector<ExitCodeSpec>& ExitCodes();
const std::vector<EnvironmentSpec>& EnvironmentVariables();

const CommandSpec* FindCommand(const std::string& name);
const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name);
// "entry" and "params": words that need a subcommand.
bool IsGroup(const std::string& word);

// "quor dial ENTRY [OPTIONS]"
std::string Synopsis(const CommandSpec& command);

// Renderings of the table (the manual page is in ManPage.h, the bash
// completion in Completion.h).
// How the tool takes passwords, said in the help and the manual page.
extern const char kPasswordNote[];

std::string MainHelp();
std::string CommandHelp(const CommandSpec& command);
std::string GroupHelp(const std::string& group);
std::string VersionText();
// quor's version ("0.2.0") and the RAS backends compiled in.
std::string VersionNumber();
std::vector<std::string> BackendNames();

}  // namespace quortool
