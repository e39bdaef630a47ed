// What quor prints and how it exits when its output, its option values or
// the names it shows are not the ordinary ones: a closed or full standard
// output, a broken pipe under a dial, unknown values, odd entry names.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "QuorProcess.h"

using namespace quortest;
using namespace std::string_literals;

namespace {

constexpr const char kFast[] = "[*]\nStepDelay=10ms\nErrorDelay=10ms\nTeardown=50ms\n";

std::string FileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A bash command line with $QUOR naming the program under test and $DIR the sandbox.
RunResult Shell(const Sandbox& box, const std::string& script) {
  auto env = box.Environment();
  env["QUOR"] = QuorPath().string();
  env["DIR"] = box.Dir().string();
  return RunQuor({"-c", script}, env, "", 20000, "/bin/bash");
}

struct Case {
  std::string phonebook;  // written before the command when not empty
  std::vector<std::string> args;
  int exit;
  std::string out;  // exact standard output ("*" at the end: a prefix)
  std::string err;  // within standard error
};

void RunCases(Sandbox& box, const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    if (!c.phonebook.empty()) box.WritePhonebook(c.phonebook);
    std::string line;
    for (const auto& a : c.args) line += "[" + a.substr(0, 30) + "]";
    const RunResult r = RunQuor(c.args, box.Environment());
    EXPECT_EQ(r.exitCode, c.exit) << line << "\n" << r.err;
    if (!c.out.empty() && c.out.back() == '*') {
      EXPECT_EQ(r.out.rfind(c.out.substr(0, c.out.size() - 1), 0), 0u) << line << "\nstdout: " << r.out;
    } else {
      EXPECT_EQ(r.out, c.out) << line;
    }
    EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\nstderr: " << r.err;
  }
}

}  // namespace

TEST(Output, AWriteThatFailsIsAnErrorAndAClosedOutputTakesNoFile) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=1\n[Busy]\nPhoneNumber=2\n");
  box.WriteScenario(std::string(kFast) + "[Busy]\nOutcome=busy\n");
  struct Row {
    std::string script;
    std::string out;  // exact
  };
  const std::vector<Row> rows = {
      {"\"$QUOR\" entries > /dev/full; echo \"exit $?\"", "exit 1\n"},
      {"\"$QUOR\" entries --json > /dev/full; echo \"exit $?\"", "exit 1\n"},
      {"\"$QUOR\" entries --log \"$DIR/log\" >&-; echo \"exit $?\"", "exit 1\n"},
      // A broken pipe under a dial hangs the call up, as a stop request would.
      // (It redials for ever, so that a write always follows the reader's end.)
      {"\"$QUOR\" dial Busy --redial 1000 --pause 0 --fast-hangup | head -c 1 >/dev/null; echo \"exit "
       "${PIPESTATUS[0]}\"",
       "exit 1\n"},
  };
  for (const auto& row : rows) {
    const RunResult r = Shell(box, row.script);
    EXPECT_EQ(r.out, row.out) << row.script << "\n" << r.err;
    EXPECT_NE(r.err.find("quor: cannot write to standard output: "), std::string::npos) << row.script << r.err;
  }
  // With standard output closed the log is not opened in its place: each line lands in it once.
  const auto log = Lines(FileText(box.Dir() / "log"));
  ASSERT_EQ(log.size(), 3u) << FileText(box.Dir() / "log");
  EXPECT_EQ(log[0].substr(23), " Office");
  EXPECT_EQ(log[1].substr(23), " Busy");
  EXPECT_NE(log[2].find(" quor: cannot write to standard output: "), std::string::npos) << log[2];
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
  EXPECT_EQ(RunQuor({"connections", "--names"}, box.Environment()).out, "");
}

TEST(Output, EmptyListsTimestampsAndColumns) {
  Sandbox box;
  box.WritePhonebook("[Zürich]\nPhoneNumber=1\n[Bern]\nPhoneNumber=2\n");
  box.WriteScenario(kFast);
  RunCases(box,
           {
               {"",
                {"connections"},
                0,
                "HANDLE  ENTRY  STATE  DEVICE  IP ADDRESS  CONNECTED  SENT  RECEIVED  RATES  PHONEBOOK\n",
                ""},
               {"", {"hangup", "--all", "--json"}, 0, "{\"result\":\"nothing to hang up\"}\n", ""},
               {"", {"--version", "--json"}, 0, "{\"version\":\"" QUOR_VERSION "\",\"backends\":[*", ""},
               // -v says what RAS answered, each answer once.
               {"", {"-v", "entries"}, 0, "Zürich\nBern\n", "quor: RAS: RasEnumEntries answered 0\n"},
               {"", {"-v", "entry", "show", "Bern"}, 0, "entry: Bern\n*", "RAS: RasGetEntryProperties answered 0\n"},
           });
  // --timestamps --log: the log line carries the time once.
  const fs::path log = box.Dir() / "dial.log";
  RunQuor({"dial", "Bern", "--redial", "0", "--timestamps", "--log", log.string()}, [&] {
    auto env = box.Environment();
    env["QUOR_RAS_SCENARIO"] = (box.Dir() / "busy.ini").string();
    std::ofstream(box.Dir() / "busy.ini") << kFast << "[Bern]\nOutcome=busy\n";
    return env;
  }());
  const auto lines = Lines(FileText(log));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].find(" [20"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].substr(23), " Dialing Bern... (attempt 1 of 1)") << lines[0];
  // The table pads by the columns a terminal shows, not by bytes.
  QuorProcess zurich({"dial", "Zürich"}, box.Environment());
  QuorProcess bern({"dial", "Bern"}, box.Environment());
  ASSERT_TRUE(zurich.WaitForOut("] Connected\n", 8000)) << zurich.Err();
  ASSERT_TRUE(bern.WaitForOut("] Connected\n", 8000)) << bern.Err();
  const auto table = Lines(RunQuor({"connections"}, box.Environment()).out);
  ASSERT_EQ(table.size(), 3u);
  const auto column = [](const std::string& row, const std::string& word) {
    size_t columns = 0;
    for (unsigned char ch : row.substr(0, row.find(word))) columns += (ch & 0xC0) != 0x80;
    return columns;
  };
  for (size_t i = 1; i < table.size(); ++i)
    EXPECT_EQ(column(table[i], "Connected"), column(table[0], "STATE")) << table[i];
}

TEST(Values, BadOptionValuesAreUsageErrorsExitTwo) {
  Sandbox box;
  RunCases(box, {
                    {"[Office]\nPhoneNumber=1\n",
                     {"entry", "create", "--name", "X", "--type", "floppy"},
                     2,
                     "",
                     "quor: bad value for --type: 'floppy' ("},
                    {"", {"entry", "edit", "Office", "--framing", "xyz"}, 2, "", "bad value for --framing: 'xyz'"},
                    // A device type RAS has no device for is RAS's answer, not a usage error.
                    {"", {"entry", "edit", "Office", "--type", "x25"}, 1, "", "RAS has no device of type 'x25'"},
                    {"",
                     {"params", "set", "Office", "--password", "x"},
                     2,
                     "",
                     "use --password-stdin or --password-env (QUOR_PASSWORD)"},
                });
  const std::string pb = FileText(box.Phonebook());
  EXPECT_EQ(pb, "[Office]\nPhoneNumber=1\n");
}

TEST(Names, RasRefusesNamesThatCannotBeToldApartAndQuorShowsEveryNameEscaped) {
  Sandbox box;
  const std::string c1 =
      "a\xc2\x85"
      "b";  // U+0085, a C1 control
  const std::string longName(300, 'L');
  RunCases(box, {
                    {"[Office]\nPhoneNumber=1\n",
                     {"entry", "create", "--name", "   ", "--phone", "1"},
                     1,
                     "",
                     "The entry name is not valid. (RAS error 123)"},
                    {"", {"entry", "create", "--name", " Office2", "--phone", "1"}, 1, "", "(RAS error 123)"},
                    {"", {"entry", "create", "--name", "Office2 ", "--phone", "1"}, 1, "", "(RAS error 123)"},
                    {"", {"entry", "create", "--name", c1, "--phone", "1"}, 1, "", "'a\\u0085b'"},
                    {"", {"entry", "create", "--name", "a:b", "--phone", "1"}, 1, "", "(RAS error 123)"},
                    {"", {"entry", "rename", "Office", "a|b"}, 1, "", "(RAS error 123)"},
                    {"", {"entry", "rename", "Office", "-"}, 1, "", "(RAS error 123)"},
                    {"", {"entries"}, 0, "Office\n", ""},
                    // A phonebook RAS cannot tell its entries apart in is corrupt: the line says why.
                    {"[Office]\nPhoneNumber=1\n[office]\nPhoneNumber=2\n",
                     {"entries"},
                     5,
                     "",
                     "line 3: the entry 'office' has the name of the entry 'Office' on line 1"},
                    {"[a\x1b"
                     "b]\n[A\x1b"
                     "B]\n",
                     {"entries"},
                     5,
                     "",
                     "the entry 'A\\x1bB' has the name of the entry 'a\\x1bb'"},
                    {"[Office]\nPhoneNumber=1\n[" + longName + "]\nPhoneNumber=2\n",
                     {"entries"},
                     5,
                     "",
                     "line 3: the entry name is longer than 256 bytes"},
                    {"[Office]\nPhoneNumber=1\n; a NUL \0 here\n"s, {"entries"}, 5, "", ": line 3: NUL byte in file"},
                    // Names from the file are shown with their control characters escaped.
                    {"[tab\there]\nPhoneNumber=1\n[esc\x1b[31m]\n[ edge ]\n[" + c1 + "]\n",
                     {"entries"},
                     0,
                     "tab\\there\nesc\\x1b[31m\n\\x20edge\\x20\na\\u0085b\n",
                     ""},
                });
}

// The entry dialog on a terminal asks again for a name that is taken or a
// device RAS does not have, instead of refusing after the last question.
TEST(Dialog, OnATerminalAsksAgainForAWrongAnswer) {
  Sandbox box;
  box.WritePhonebook("[Office]\nPhoneNumber=1\n");
  auto envMap = box.Environment();
  envMap.erase("QUOR_RAS_DIALOG");
  std::vector<std::string> envText;
  for (const auto& [k, v] : envMap) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string program = QuorPath().string();
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const char* argv[] = {program.c_str(), "entry", "create", nullptr};
    execve(argv[0], const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  std::string seen;
  const auto readUntil = [&](const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(master, &set);
      timeval wait{0, 100000};
      if (select(master + 1, &set, nullptr, nullptr, &wait) <= 0) continue;
      char buf[512];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<size_t>(n));
    }
    return seen.find(text) != std::string::npos;
  };
  const auto answer = [&](const std::string& text) {
    ASSERT_EQ(write(master, text.data(), text.size()), ssize_t(text.size()));
  };
  struct Step {
    std::string prompt, reply;
  };
  const std::vector<Step> steps = {
      {"New entry name: ", "office\n"},          {"already exists", ""},
      {"New entry name: ", "Branch\n"},          {"Phone number or host", "555\n"},
      {"Device (modem, isdn, vpn)", "floppy\n"}, {"no device", ""},
      {"Device (modem, isdn, vpn)", "isdn\n"},   {"Created entry Branch.", ""},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(readUntil(step.prompt)) << step.prompt << "\n" << seen;
    seen.erase(0, seen.find(step.prompt) + step.prompt.size());  // the next one comes after it
    if (!step.reply.empty()) answer(step.reply);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(FileText(box.Phonebook()).find("[Branch]"), std::string::npos) << FileText(box.Phonebook());
  EXPECT_NE(FileText(box.Phonebook()).find("DEVICE=isdn"), std::string::npos) << FileText(box.Phonebook());
}
