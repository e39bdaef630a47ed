// The quor command-line dialer: every command, its help and its exit codes.
// main() only calls RunCli; the tests drive the built binary.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quortool {

// Exit codes, as `quor --help` documents them.
enum ExitCode : int {
  kExitOk = 0,          // success; for dial: stopped by Ctrl-C/SIGTERM and hung up cleanly
  kExitFailed = 1,      // the operation failed (unknown entry, no such connection, RAS refused)
  kExitUsage = 2,       // unknown command or option, missing or extra argument, bad value
  kExitDialFailed = 3,  // dial: every permitted attempt failed
  kExitLineLost = 4,    // dial: the connection was lost or hung up from elsewhere
  kExitNoRas = 5,       // RAS library missing, phonebook unreadable or corrupted
};

// Runs one command line. Never throws: every failure becomes a message on
// standard error and an exit code.
int RunCli(int argc, char** argv);

struct Args {
  std::string command;  // "dial", "entry create", ...
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options with a value
  std::set<std::string> flags;                // options without one
  bool json = false;

  bool Flag(const std::string& name) const { return flags.count(name) != 0; }
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// The command line as RunCli reads it, up to the command's arguments, running
// nothing: none for a help request or a command group; throws UsageError as
// RunCli reports it (the option parser's fuzz target drives it).
std::optional<Args> ParseCommandLine(const std::vector<std::string>& tokens);

// An option's value as a whole number from min to max; throws UsageError.
int64_t ParseNumber(const std::string& option, const std::string& text, int64_t min, int64_t max);

int RunMan(const Args& args);
int RunCompletion(const Args& args);

}  // namespace quortool
