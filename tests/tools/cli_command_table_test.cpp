// One command table behind the help, the man page, the bash completion and
// README's command list; the options every command takes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "QuorProcess.h"
#include "tools/quor/CommandTable.h"

using namespace quortest;
using quortool::CommandTable;

namespace {

std::string FileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Without(std::string text, char c) {
  text.erase(std::remove(text.begin(), text.end(), c), text.end());
  return text;
}

}  // namespace

TEST(CommandTable, HelpManPageAndCompletionShowEveryCommandAndOption) {
  Sandbox box;
  const auto env = box.Environment();
  const std::string man = RunQuor({"man"}, env).out;
  const std::string completion = RunQuor({"completion", "bash"}, env).out;
  ASSERT_NE(man.find(".TH QUOR 1"), std::string::npos) << man;
  for (const auto& c : CommandTable()) {
    const std::string name = c.name;
    std::vector<std::string> args = {"help"};
    std::istringstream words(name);
    for (std::string w; words >> w;) args.push_back(w);
    const RunResult help = RunQuor(args, env);
    EXPECT_EQ(help.out.rfind("Usage: " + quortool::Synopsis(c) + "\n", 0), 0u) << help.out;
    EXPECT_NE(man.find(".B quor " + name), std::string::npos) << name;
    EXPECT_NE(completion.find("    \"" + name + "\") opts="), std::string::npos) << name;
    for (const auto& o : c.options) {
      EXPECT_NE(help.out.find(o.name), std::string::npos) << name << " " << o.name;
      std::string roff;
      for (const char ch : std::string(o.name)) roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
      EXPECT_NE(man.find(".B " + roff), std::string::npos) << name << " " << o.name;
    }
  }
  // Every line of roff text starts with text or a known request.
  for (const auto& line : Lines(man)) {
    if (line.empty() || line[0] != '.') continue;
    const std::string request = line.substr(0, line.find(' '));
    EXPECT_TRUE(request == ".TH" || request == ".SH" || request == ".SS" || request == ".TP" || request == ".B" ||
                request == ".PP" || request == ".RS" || request == ".RE")
        << line;
  }
}

TEST(CommandTable, BashCompletionOffersCommandsOptionsAndEntries) {
  Sandbox box;
  box.WritePhonebook(
      "[Office]\nPhoneNumber=1\n[Home]\nPhoneNumber=2\n[Backup line]\nPhoneNumber=3\n[Bob's VPN]\n[Zed]\n");
  const fs::path script = box.Dir() / "quor.bash";
  std::ofstream(script) << RunQuor({"completion", "bash"}, box.Environment()).out;
  struct Row {
    std::vector<std::string> words;  // after "quor"; the last one is being completed
    std::string expected;            // COMPREPLY, one per line
  };
  const std::vector<Row> table = {
      {{"en"}, "entries\nentry\n"},
      {{"entry", "re"}, "rename\n"},
      {{"params", ""}, "get\nset\n"},
      {{"dial", "--re"}, "--redial\n"},
      {{"dial", "O"}, "Office\n"},
      {{"dial", "B"}, "Backup line\nBob's VPN\n"},
      {{"dial", "Bob\\'"}, "Bob's VPN\n"},  // typed with its quote escaped
      {{"dial", "Z"}, "Zed\n"},             // names after one with a quote still complete
      {{"dial", "--user", "H"}, ""},        // a user name is not an entry
      {{"dial", "--user", "bob", "H"}, "Home\n"},
      {{"dial", "Office", "H"}, ""},  // one entry only
      {{"entry", "rename", "Home", "O"}, "Office\n"},
      {{"--quiet", "sta"}, "status\n"},
      {{"params", "get", "--show"}, "--show-password\n"},
  };
  for (const auto& row : table) {
    std::string words = "\"" + QuorPath().string() + "\"";
    for (const auto& w : row.words) words += " \"" + w + "\"";
    const std::string command = "source \"" + script.string() + "\"; COMP_WORDS=(" + words +
                                "); COMP_CWORD=" + std::to_string(row.words.size()) +
                                "; _quor; printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort";
    auto env = box.Environment();
    QuorProcess bash({"-c", command}, env, "", "/bin/bash");
    ASSERT_EQ(bash.Wait(15000), 0) << bash.Err();
    std::string expected = row.expected.empty() ? "\n" : row.expected;
    EXPECT_EQ(bash.Out(), expected) << words << "\n" << bash.Err();
  }
}

TEST(CommandTable, ReadmeListsEveryCommandAndExitCode) {
  const std::string readme = FileText(fs::path(QUOR_SOURCE_DIR) / "README.md");
  std::vector<std::string> listed;
  for (const auto& line : Lines(readme)) {
    if (line.rfind("    quor ", 0) == 0) listed.push_back(line.substr(4));
  }
  std::vector<std::string> expected;
  for (const auto& c : CommandTable()) {
    std::string line = quortool::Synopsis(c);
    line += std::string(line.size() < 38 ? 38 - line.size() : 1, ' ') + c.summary;
    expected.push_back(line);
  }
  expected.push_back("quor help [COMMAND]                   help for a command (as does COMMAND --help)");
  EXPECT_EQ(listed, expected);
  // Every option README names for a password exists.
  EXPECT_NE(readme.find("`--password-env`"), std::string::npos);
  for (const auto& e : quortool::ExitCodes()) {
    const std::string row = "| " + std::to_string(e.code) + " | " + e.meaning + " |";
    bool found = false;
    for (const auto& line : Lines(readme)) found = found || Without(line, '`') == row;
    EXPECT_TRUE(found) << row;
  }
}

TEST(CommonOptions, JsonErrorsQuietAndLog) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=555\n");
  struct Row {
    std::vector<std::string> args;
    int exit;
    std::string out;
  };
  const std::vector<Row> table = {
      {{"--json", "frobnicate"}, 2, "{\"error\":{\"exit\":2,\"message\":\"unknown command 'frobnicate'\"}}\n"},
      {{"entry", "delete", "Nowhere", "--json"},
       1,
       "{\"error\":{\"exit\":1,\"message\":\"unknown entry 'Nowhere' ('quor entries' lists the phonebook)\"}}\n"},
      {{"dial", "Office", "--json", "--redial", "x"},
       2,
       "{\"error\":{\"exit\":2,\"message\":\"bad number for --redial: 'x' (expected a whole number from 0 to "
       "1000000)\"}}\n"},
      {{"entry", "rename", "Office", "Branch", "--quiet"}, 0, ""},
      {{"-q", "entries"}, 0, "Branch\n"},
  };
  for (const auto& row : table) {
    const RunResult r = RunQuor(row.args, box.Environment());
    EXPECT_EQ(r.exitCode, row.exit) << row.args[0] << " " << row.args[1] << "\n" << r.err;
    EXPECT_EQ(r.out, row.out) << row.args[0] << " " << row.args[1];
  }
  const fs::path log = box.Dir() / "quor.log";
  RunQuor({"entries", "--log", log.string()}, box.Environment());
  RunQuor({"--log=" + log.string(), "dial", "Nowhere"}, box.Environment());
  const auto lines = Lines(FileText(log));
  ASSERT_EQ(lines.size(), 2u) << FileText(log);
  // "2026-12-08 13:45:01.123 <line>"
  EXPECT_EQ(lines[0].substr(23), " Branch");
  EXPECT_EQ(lines[1].substr(23), " quor: unknown entry 'Nowhere' ('quor entries' lists the phonebook)");
  EXPECT_EQ(lines[0][4], '-');
  EXPECT_EQ(lines[0][19], '.');
  // A shown password reaches standard output, never the log; a new log is readable by its owner only.
  const fs::path secretLog = box.Dir() / "secret.log";
  ASSERT_EQ(RunQuor({"params", "set", "Branch", "--password-stdin"}, box.Environment(), "s3cr3t\n").exitCode, 0);
  for (const char* form : {"--quiet", "--json"}) {
    const RunResult shown =
        RunQuor({"params", "get", "Branch", "--show-password", form, "--log", secretLog.string()}, box.Environment());
    EXPECT_NE(shown.out.find("s3cr3t"), std::string::npos) << form << ": " << shown.out;
  }
  EXPECT_EQ(FileText(secretLog).find("s3cr3t"), std::string::npos) << FileText(secretLog);
  EXPECT_NE(FileText(secretLog).find("password"), std::string::npos) << FileText(secretLog);
  EXPECT_EQ(fs::status(secretLog).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
  const RunResult badLog = RunQuor({"entries", "--log", (box.Dir() / "no" / "such.log").string()}, box.Environment());
  EXPECT_EQ(badLog.exitCode, 1);
  EXPECT_NE(badLog.err.find("quor: cannot open the log file "), std::string::npos) << badLog.err;
}
