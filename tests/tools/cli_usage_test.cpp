// Bad command lines and help: what a user sees before anything reaches RAS.
#include <gtest/gtest.h>

#include "QuorProcess.h"

using namespace quortest;

namespace {

struct BadLine {
  std::vector<std::string> args;
  std::string message;  // expected on standard error
};

}  // namespace

TEST(Usage, BadCommandLinesExitTwoNamingTheProblem) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=555\n");
  const std::vector<BadLine> table = {
      {{}, "quor: no command given"},
      {{"frobnicate"}, "quor: unknown command 'frobnicate'"},
      {{"entry", "explode", "X"}, "quor: unknown command 'entry explode'"},
      {{"entry"}, "quor: 'quor entry' needs a subcommand"},
      {{"params"}, "quor: 'quor params' needs a subcommand"},
      {{"--fast", "entries"}, "quor: unknown option '--fast'"},
      {{"entries", "--fast"}, "quor: unknown option '--fast' for 'quor entries'"},
      {{"dial"}, "quor: missing argument for 'quor dial'"},
      {{"hangup"}, "quor: give either an entry or --all"},
      {{"status"}, "quor: missing argument for 'quor status'"},
      {{"entry", "rename", "Office"}, "quor: missing argument for 'quor entry rename'"},
      {{"params", "get"}, "quor: missing argument for 'quor params get'"},
      {{"dial", "Office", "Home"}, "quor: unexpected argument 'Home' for 'quor dial'"},
      {{"connections", "Office"}, "quor: unexpected argument 'Office' for 'quor connections'"},
      {{"dial", "Office", "--redial", "two"}, "quor: bad number for --redial: 'two'"},
      {{"dial", "Office", "--redial", "-1"}, "quor: bad number for --redial: '-1'"},
      {{"dial", "Office", "--pause", "256"}, "quor: bad number for --pause: '256'"},
      {{"dial", "Office", "--pause", "1.5"}, "quor: bad number for --pause: '1.5'"},
      {{"dial", "Office", "--pause="}, "quor: bad number for --pause: ''"},
      {{"dial", "Office", "--user"}, "quor: option '--user' needs a value"},
      {{"dial", "Office", "--sync=yes"}, "quor: option '--sync' takes no value"},
      {{"dial", "Office", "--password", "hunter2"}, "quor: passwords are not taken from the command line"},
      {{"params", "set", "Office", "--password=hunter2"}, "quor: passwords are not taken from the command line"},
      {{"params", "set", "Office"}, "quor: nothing to store"},
      {{"params", "set", "Office", "--domain", "A-DOMAIN-OF-16-CH"}, "quor: the domain is longer than 15 bytes"},
      {{"dial", "Office", "--phone", std::string(129, '5')}, "quor: the phone number is longer than 128 bytes"},
      {{"dial", std::string(257, 'E')}, "quor: the entry name is longer than 256 bytes"},
      {{"dial", ""}, "quor: the entry name is empty"},
      {{"help", "nonsense"}, "quor: unknown command 'nonsense'"},
  };
  for (const auto& row : table) {
    std::string line;
    for (const auto& a : row.args) line += "[" + a.substr(0, 20) + "]";
    const RunResult r = RunQuor(row.args, box.Environment());
    EXPECT_EQ(r.exitCode, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << line << "\nstderr: " << r.err;
    EXPECT_NE(r.err.find("Try 'quor"), std::string::npos) << line;
    EXPECT_EQ(r.out, "") << line;
    // A password given on the command line is never repeated back.
    EXPECT_EQ(r.err.find("hunter2"), std::string::npos) << line;
  }
}

TEST(Usage, PasswordFromStdinMustBeThere) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=555\n");
  const RunResult r = RunQuor({"params", "set", "Office", "--password-stdin"}, box.Environment(), "");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--password-stdin: standard input ended before a password line"), std::string::npos) << r.err;
}

TEST(Help, EveryCommandHasHelpOnStandardOutput) {
  Sandbox box;
  const std::vector<std::vector<std::string>> commands = {{"dial"},          {"hangup"},          {"connections"},
                                                          {"status"},        {"entries"},         {"entry", "create"},
                                                          {"entry", "edit"}, {"entry", "rename"}, {"entry", "delete"},
                                                          {"params", "get"}, {"params", "set"},   {"demo"}};
  for (const auto& command : commands) {
    std::string name;
    for (const auto& w : command) name += (name.empty() ? "" : " ") + w;
    for (const char* flag : {"--help", "-h"}) {
      std::vector<std::string> args = command;
      args.push_back(flag);
      const RunResult r = RunQuor(args, box.Environment());
      EXPECT_EQ(r.exitCode, 0) << name << " " << flag;
      EXPECT_EQ(r.out.rfind("Usage: quor " + name, 0), 0u) << name << ":\n" << r.out;
      EXPECT_NE(r.out.find("--json"), std::string::npos) << name;
      EXPECT_EQ(r.err, "") << name;
    }
    std::vector<std::string> helpArgs = {"help"};
    helpArgs.insert(helpArgs.end(), command.begin(), command.end());
    const RunResult viaHelp = RunQuor(helpArgs, box.Environment());
    EXPECT_EQ(viaHelp.exitCode, 0) << name;
    EXPECT_EQ(viaHelp.out.rfind("Usage: quor " + name, 0), 0u) << name;
  }
  // The simulated service keeps the connections of one user: the help says so.
  EXPECT_NE(RunQuor({"connections", "--help"}, box.Environment()).out.find("per user"), std::string::npos);
  const RunResult dial = RunQuor({"dial", "--help"}, box.Environment());
  for (const char* option : {"--user", "--password-stdin", "--phone", "--redial", "--pause", "--sync"}) {
    EXPECT_NE(dial.out.find(option), std::string::npos) << option;
  }
}

TEST(Help, MainHelpListsCommandsAndDocumentsExitCodes) {
  Sandbox box;
  const RunResult r = RunQuor({"--help"}, box.Environment());
  EXPECT_EQ(r.exitCode, 0);
  for (const char* text : {"dial ENTRY", "hangup [ENTRY]", "connections", "status ENTRY", "entries", "entry create",
                           "entry rename OLD NEW", "params get ENTRY", "params set ENTRY", "demo", "Exit status:",
                           "  0  success", "  1  the operation failed", "  2  usage error", "  3  dial: every",
                           "  4  dial: the connection was lost", "  5  RAS unavailable", "QUOR_PASSWORD"}) {
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  }
  const RunResult group = RunQuor({"entry", "--help"}, box.Environment());
  EXPECT_EQ(group.exitCode, 0);
  EXPECT_NE(group.out.find("quor entry rename OLD NEW"), std::string::npos) << group.out;
  EXPECT_EQ(group.out.find("quor params"), std::string::npos) << group.out;
}

TEST(Backend, ChosenByOptionOrEnvironmentAndUnknownNamesFailClearly) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=555\n");
  struct Row {
    std::vector<std::string> args;
    std::string envBackend;  // QUOR_RAS_BACKEND, "" for unset
    int exitCode;
    std::string out, err;  // expected within standard output / error
  };
  const std::vector<Row> table = {
      {{"entries"}, "", 0, "Office", ""},
      {{"entries"}, "sim", 0, "Office", ""},
      {{"--backend", "sim", "entries"}, "nosuch", 0, "Office", ""},
      {{"entries", "--backend=sim"}, "", 0, "Office", ""},
      {{"entries"}, "nosuch", 5, "", "unknown RAS backend \"nosuch\" (QUOR_RAS_BACKEND)"},
      {{"--backend", "nosuch", "entries"}, "", 5, "", "Known backends: sim"},
      {{"--backend"}, "", 2, "", "quor: option '--backend' needs a value"},
      {{"--version"}, "", 0, "RAS backends compiled in: sim", ""},
      {{"--version", "entries"}, "", 2, "", "--version takes no command"},
  };
  for (const auto& row : table) {
    auto env = box.Environment();
    env.erase("QUOR_RAS_BACKEND");
    if (!row.envBackend.empty()) env["QUOR_RAS_BACKEND"] = row.envBackend;
    std::string line = row.envBackend;
    for (const auto& a : row.args) line += " [" + a + "]";
    const RunResult r = RunQuor(row.args, env);
    EXPECT_EQ(r.exitCode, row.exitCode) << line << "\n" << r.err;
    EXPECT_NE(r.out.find(row.out), std::string::npos) << line << "\nstdout: " << r.out;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << line << "\nstderr: " << r.err;
  }
}
