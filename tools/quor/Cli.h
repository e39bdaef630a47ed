// The quor command-line dialer: every command, its help and its exit codes.
// main() only calls RunCli; the tests drive the built binary.
#pragma once

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

}  // namespace quortool
