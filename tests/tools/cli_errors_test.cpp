// What a user is told when something is wrong: the object, RAS's reason in
// words, the file and line; names as RAS compares them; passwords that change
// only when asked.
#include <gtest/gtest.h>

#include <fstream>

#include "QuorProcess.h"

using namespace quortest;

namespace {

struct Row {
  std::string phonebook;                   // written before the command ("" keeps the last one)
  std::string scenario;                    // written when not empty
  std::map<std::string, std::string> env;  // added to the sandbox's
  std::vector<std::string> args;
  std::string input;
  int exit;
  std::string err;  // expected within standard error ("$PB" stands for the phonebook's path)
};

std::string Expand(std::string text, const Sandbox& box) {
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"$PB", box.Phonebook().string()}, {"$SC", box.Scenario().string()}, {"$DIR", box.Dir().string()}}) {
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  }
  return text;
}

void RunRows(Sandbox& box, const std::vector<Row>& table) {
  for (const auto& row : table) {
    if (!row.phonebook.empty()) box.WritePhonebook(row.phonebook);
    if (!row.scenario.empty()) box.WriteScenario(row.scenario);
    auto env = box.Environment();
    for (const auto& [key, value] : row.env) env[key] = Expand(value, box);
    std::string line;
    for (const auto& a : row.args) line += "[" + a.substr(0, 30) + "]";
    const RunResult r = RunQuor(row.args, env, row.input);
    EXPECT_EQ(r.exitCode, row.exit) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(Expand(row.err, box)), std::string::npos) << line << "\nstderr: " << r.err;
  }
}

const std::string kTwo = "[Офис]\nPhoneNumber=1\n[Spare]\nPhoneNumber=2\n";
const std::string kFast = "[*]\nStepDelay=10ms\nErrorDelay=10ms\nTeardown=50ms\n";

}  // namespace

TEST(Errors, NameTheObjectTheReasonAndTheFile) {
  Sandbox box;
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "Ж";  // 400 bytes
  const std::vector<Row> table = {
      {kTwo,
       kFast,
       {},
       {"entry", "rename", "Spare", "ОФИС"},
       "",
       1,
       "quor: cannot rename entry 'Spare' to 'ОФИС': the entry 'Офис' already exists\n"},
      {"",
       "",
       {},
       {"entry", "rename", "Spare", ".dot"},
       "",
       1,
       "quor: RAS could not rename entry 'Spare' to '.dot': The entry name is not valid. (RAS error 123)"},
      {"", "", {}, {"entry", "delete", "a\nb"}, "", 1, "quor: unknown entry 'a\\nb'"},
      {"", "", {}, {"dial", longName}, "", 2, "quor: the entry name is longer than 256 bytes"},
      {"junk\n[x]\n",
       "",
       {},
       {"entries"},
       "",
       5,
       "quor: the phonebook $PB: line 1: line outside any section (RAS error 625: "},
      {kTwo,
       "",
       {{"QUOR_RAS_DIALOG", "$DIR/missing.txt"}},
       {"entry", "create"},
       "",
       1,
       "quor: entry creation was cancelled: the dialog answers file $DIR/missing.txt (QUOR_RAS_DIALOG) cannot be "
       "read"},
      {"",
       "",
       {{"QUOR_RAS_DIALOG", "$SC"}},
       {"entry", "edit", "spare"},
       "",
       1,
       "quor: editing entry 'Spare' was cancelled: the dialog answers file $SC is not valid"},
      {"", "", {}, {"entry", "create"}, "", 1, "quor: entry creation was cancelled: nobody can answer the dialog"},
      {"",
       "[*]\nStepDelay=abc\n",
       {},
       {"dial", "Spare", "--redial", "0"},
       "",
       5,
       "quor: connection failed: error 13: The data is invalid.; the scenario $SC: line 2: StepDelay=abc: not a "
       "duration"},
      {"",
       "; mine\n[spare]\nDelay.ConnectDevice=-5\n",
       {},
       {"dial", "Spare", "--redial", "0"},
       "",
       5,
       "the scenario $SC: line 3: Delay.ConnectDevice=-5: not a duration"},
      {"",
       "[*]\nStepDelay=1\nFrob=1\n",
       {},
       {"dial", "Spare", "--redial", "0"},
       "",
       5,
       "the scenario $SC: line 3: Frob=1: unknown key"},
      {"",
       "",
       {{"QUOR_RAS_SCENARIO", "$DIR/none.ini"}},
       {"dial", "Spare", "--redial", "0"},
       "",
       5,
       "the scenario $DIR/none.ini does not exist"},
  };
  RunRows(box, table);
  // The phonebook is a folder: RAS cannot read it, and says so.
  std::filesystem::remove(box.Phonebook());
  std::filesystem::create_directory(box.Phonebook());
  RunRows(box,
          {{"", "", {}, {"entries"}, "", 5, "quor: the phonebook $PB cannot be read (is it a folder?) (RAS error 622"},
           {"", "", {}, {"dial", "x"}, "", 5, "(RAS error 622: The phonebook file cannot be read.)"}});
  // A failure with --json is one error object on standard output.
  std::filesystem::remove(box.Phonebook());
  box.WritePhonebook(kTwo);
  const RunResult json = RunQuor({"entry", "rename", "Spare", "офис", "--json"}, box.Environment());
  EXPECT_EQ(json.out,
            "{\"error\":{\"exit\":1,\"message\":\"cannot rename entry 'Spare' to 'офис': the entry 'Офис' already "
            "exists\",\"ras_error\":183,\"ras_text\":\"An entry of that name already exists.\"}}\n");
}

TEST(Names, MatchAsRasComparesThemAndShowTheStoredName) {
  Sandbox box;
  box.WritePhonebook(kTwo);
  box.WriteScenario(kFast);
  const fs::path answers = box.Dir() / "answers.txt";
  std::ofstream(answers) << "EntryName=Branch\n";
  auto env = box.Environment();
  env["QUOR_RAS_DIALOG"] = answers.string();
  struct NameRow {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<NameRow> table = {
      {{"params", "set", "ОФИС", "--user", "u"}, "Stored the dial parameters of Офис.\n"},
      {{"params", "get", "офис"}, "entry: Офис\nuser: u\npassword: not set\nphone: \ncallback: \ndomain: \n"},
      {{"entry", "edit", "SPARE"}, "Edited entry Branch (renamed from Spare).\n"},
      {{"entry", "delete", "BRANCH", "--json"}, "{\"result\":\"deleted\",\"entry\":\"Branch\"}\n"},
      {{"entries"}, "Офис\n"},
  };
  for (const auto& row : table) {
    const RunResult r = RunQuor(row.args, env);
    EXPECT_EQ(r.exitCode, 0) << row.args[1] << "\n" << r.err;
    EXPECT_EQ(r.out, row.out) << row.args[1];
  }
}

TEST(Passwords, ChangeOnlyWhenAnOptionSaysSo) {
  Sandbox box;
  box.WritePhonebook(kTwo);
  auto env = box.Environment();
  env["QUOR_PASSWORD"] = "from-env";
  struct PasswordRow {
    std::vector<std::string> args;
    std::string input;
    int exit;
    std::string stored;  // "password: ..." line of params get --show-password afterwards
  };
  const std::vector<PasswordRow> table = {
      {{"params", "set", "Spare", "--password-stdin"}, "first\n", 0, "first"},
      {{"params", "set", "Spare", "--user", "bob"}, "", 0, "first"},  // QUOR_PASSWORD alone changes nothing
      {{"params", "set", "Spare", "--password-stdin"}, "\n", 2, "first"},
      {{"params", "set", "Spare", "--password-env"}, "", 0, "from-env"},
      {{"params", "set", "Spare", "--password-env", "--clear-password"}, "", 2, "from-env"},
      {{"params", "set", "Spare", "--clear-password"}, "", 0, ""},
  };
  for (const auto& row : table) {
    const RunResult r = RunQuor(row.args, env, row.input);
    EXPECT_EQ(r.exitCode, row.exit) << row.args[3] << "\n" << r.err;
    const RunResult get = RunQuor({"params", "get", "Spare", "--show-password"}, env);
    EXPECT_NE(get.out.find("\npassword: " + row.stored + "\n"), std::string::npos) << row.args[3] << "\n" << get.out;
  }
}

TEST(SystemRas, IsNamedAndWarnedAbout) {
  // quor beside a rasapi32.dll that is not Quor's: it loads that one first.
  Sandbox box;
  const fs::path folder = box.Dir() / "system";
  fs::create_directory(folder);
  // The shared libraries under every name they go by (the program records
  // the versioned one); each copy is a plain file.
  for (const auto& item : fs::directory_iterator(QuorPath().parent_path())) {
    const std::string name = item.path().filename().string();
    if (name.starts_with("libquorwin32.so") || name.starts_with("libvcl30.so")) fs::copy_file(item, folder / name);
  }
  fs::copy_file(QuorPath(), folder / "quor");
  fs::copy_file(QUOR_SYSTEM_RAS, folder / "rasapi32.dll");
  const std::string library = (folder / "rasapi32.dll").string();
  const std::string warning =
      "quor: warning: this is the system's RAS (" + library + "), not Quor's simulated RAS service\n";
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string out;  // within standard output
    std::string err;  // within standard error
  };
  const std::vector<Case> cases = {
      {{"entries"}, 0, "", warning},
      {{"connections", "--json"}, 0, "{\"connections\":[]}\n", warning},
      {{"--version"}, 0, "rasapi32.dll: " + library + " (the system's RAS, not Quor's)", ""},
      {{"demo"}, 5, "", "the demo needs Quor's simulated RAS service; this process loaded the system's "},
  };
  for (const auto& c : cases) {
    const RunResult r = RunQuor(c.args, box.Environment(), "", 15000, folder / "quor");
    EXPECT_EQ(r.exitCode, c.exit) << c.args[0] << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args[0] << "\nstdout: " << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args[0] << "\nstderr: " << r.err;
  }
}
