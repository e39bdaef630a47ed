// Phonebook commands and stored dial parameters against the simulated RAS
// service: entries, entry create/edit/rename/delete, params get/set.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "QuorProcess.h"

using namespace quortest;

namespace {

constexpr const char kThreeEntries[] =
    "[Office]\nPhoneNumber=555-0100\n"
    "[Home]\nPhoneNumber=555-0200\n"
    "[Backup line]\nPhoneNumber=555-0300\n";

class PhonebookCli : public ::testing::Test {
 protected:
  void SetUp() override { box.WritePhonebook(kThreeEntries); }
  RunResult Quor(const std::vector<std::string>& args, const std::string& input = std::string()) {
    return RunQuor(args, box.Environment(), input);
  }
  Sandbox box;
};

}  // namespace

TEST_F(PhonebookCli, EntriesListsThePhonebookInOrder) {
  const RunResult r = Quor({"entries"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Office\nHome\nBackup line\n");
  EXPECT_EQ(r.err, "");
  const RunResult json = Quor({"entries", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(json.out, "{\"entries\":[\"Office\",\"Home\",\"Backup line\"]}\n");
}

TEST_F(PhonebookCli, ALargePhonebookIsListedAndUsable) {
  std::string text, listed;
  for (int i = 0; i < 120; ++i) {
    text += "[E" + std::to_string(i) + "]\nPhoneNumber=1\n";
    listed += "E" + std::to_string(i) + "\n";
  }
  box.WritePhonebook(text);
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{"entries"}, 0}, {{"params", "set", "E119", "--user", "u"}, 0}, {{"entry", "delete", "E0"}, 0}};
  std::vector<int> codes, expected;
  for (const auto& [args, code] : runs) {
    const RunResult r = Quor(args);
    codes.push_back(r.exitCode);
    expected.push_back(code);
    if (args[0] == "entries") {
      EXPECT_EQ(r.out, listed);
    }
  }
  EXPECT_EQ(codes, expected) << "a valid phonebook of more than 100 entries locks nobody out";
}

TEST_F(PhonebookCli, EmptyOrMissingPhonebookListsNothing) {
  box.WritePhonebook("; nothing here\n");
  RunResult r = Quor({"entries"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::filesystem::remove(box.Phonebook());
  r = Quor({"entries", "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"entries\":[]}\n");
}

TEST_F(PhonebookCli, CorruptPhonebookIsReportedOnceWithItsFileAndLine) {
  box.WritePhonebook("this line comes before any section\n[Office]\n");
  const std::string expected = "quor: the phonebook " + box.Phonebook().string() +
                               ": line 1: line outside any section (RAS error 625: The phonebook file is corrupt or "
                               "holds information that is not valid.)\n";
  const RunResult r = Quor({"entries"});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.err, expected);
  EXPECT_EQ(r.out, "");
  // Commands that need an entry say so too, instead of "unknown entry".
  const RunResult dial = Quor({"dial", "Office"});
  EXPECT_EQ(dial.exitCode, 5);
  EXPECT_EQ(dial.err, expected);
}

TEST_F(PhonebookCli, UnreadablePhonebookIsAnErrorNotAnEmptyList) {
  // A folder where the phonebook file should be: RAS cannot read it.
  std::filesystem::remove(box.Phonebook());
  std::filesystem::create_directory(box.Phonebook());
  const RunResult r = Quor({"entries"});
  EXPECT_EQ(r.exitCode, 5) << r.out << r.err;
  EXPECT_NE(r.err.find("phonebook"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(box.Phonebook().string()), std::string::npos) << r.err;
}

TEST_F(PhonebookCli, RenameAndDeleteChangeThePhonebook) {
  RunResult r = Quor({"entry", "rename", "Home", "Cottage"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Renamed entry Home to Cottage.\n");
  EXPECT_EQ(Quor({"entries"}).out, "Office\nCottage\nBackup line\n");

  r = Quor({"entry", "delete", "Backup line", "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"result\":\"deleted\",\"entry\":\"Backup line\"}\n");
  EXPECT_EQ(Quor({"entries"}).out, "Office\nCottage\n");
}

TEST_F(PhonebookCli, UnknownEntriesAreNamed) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"entry", "delete", "Nowhere"},
                                             {"entry", "rename", "Nowhere", "Somewhere"},
                                             {"entry", "edit", "Nowhere"},
                                             {"params", "get", "Nowhere"},
                                             {"params", "set", "Nowhere", "--user", "u"},
                                             {"dial", "Nowhere"}}) {
    const RunResult r = Quor(args);
    EXPECT_EQ(r.exitCode, 1) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find("quor: unknown entry 'Nowhere'"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\n");  // nothing changed
}

TEST_F(PhonebookCli, RenameOntoAnExistingEntryFails) {
  const RunResult r = Quor({"entry", "rename", "Home", "office"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "quor: cannot rename entry 'Home' to 'office': the entry 'Office' already exists\n");
  EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\n");
}

TEST_F(PhonebookCli, CreateAndEditGoThroughTheScriptedDialog) {
  auto env = box.Environment();
  const auto answers = box.Dir() / "answers.txt";
  std::ofstream(answers) << "EntryName=Branch\nPhoneNumber=555-0400\nDevice=isdn\n";
  env["QUOR_RAS_DIALOG"] = answers.string();
  RunResult r = RunQuor({"entry", "create"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Created entry Branch.\n");
  EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\nBranch\n");

  std::ofstream(answers, std::ios::trunc) << "PhoneNumber=555-0499\n";
  r = RunQuor({"entry", "edit", "Branch", "--json"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"result\":\"edited\",\"entry\":\"Branch\"}\n");

  // Nobody at the dialog (no terminal, no answers): the user cancelled.
  env["QUOR_RAS_DIALOG"] = "none";
  r = RunQuor({"entry", "create"}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("quor: entry creation was cancelled"), std::string::npos) << r.err;
  EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\nBranch\n");
}

TEST_F(PhonebookCli, ParamsRoundTripWithoutShowingThePassword) {
  RunResult r = Quor(
      {"params", "set", "Office", "--user", "alice", "--password-stdin", "--domain", "CORP", "--callback", "555-9999"},
      "s3cret pass\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Stored the dial parameters of Office.\n");
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
  EXPECT_EQ(r.err.find("s3cret"), std::string::npos);

  r = Quor({"params", "get", "Office"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "entry: Office\nuser: alice\npassword: set\nphone: \ncallback: 555-9999\ndomain: CORP\n");

  r = Quor({"params", "get", "Office", "--show-password"});
  EXPECT_NE(r.out.find("password: s3cret pass\n"), std::string::npos) << r.out;

  // Only what is given changes; the password stays stored.
  r = Quor({"params", "set", "Office", "--phone", "555-0101"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = Quor({"params", "get", "Office", "--json"});
  EXPECT_EQ(r.out,
            "{\"entry\":\"Office\",\"user\":\"alice\",\"password_set\":true,\"phone\":\"555-0101\","
            "\"callback\":\"555-9999\",\"domain\":\"CORP\"}\n");

  // The environment variable is the other way to hand over a password.
  auto env = box.Environment();
  env["QUOR_PASSWORD"] = "from-env";
  r = RunQuor({"params", "set", "Home", "--user", "bob", "--password-env"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = Quor({"params", "get", "Home", "--show-password"});
  EXPECT_NE(r.out.find("user: bob\npassword: from-env\n"), std::string::npos) << r.out;
}

TEST_F(PhonebookCli, EntryWithoutStoredParamsShowsEmptyValues) {
  const RunResult r = Quor({"params", "get", "Home"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("user: \npassword: not set\n"), std::string::npos) << r.out;
}

TEST_F(PhonebookCli, EntriesAreShownAndMadeWithOptionsAndBadValuesChangeNothing) {
  struct Step {
    std::vector<std::string> args;
    int exit;
    std::string out;  // exact
    std::string err;  // within standard error
  };
  const std::vector<Step> steps = {
      {{"entry", "create", "--name", "Branch", "--phone", "555-0400", "--type", "isdn", "--dns", "10.0.0.53"},
       0,
       "Created entry Branch.\n",
       ""},
      {{"entry", "create", "--name", "branch", "--phone", "1"},
       1,
       "",
       "quor: cannot create entry 'branch': the entry "},
      {{"entry", "create", "--phone", "1"}, 2, "", "quor: give the new entry's name with --name"},
      {{"entry", "edit", "Branch", "--device", "Quor VPN Port", "--ip", "10.1.2.3", "--framing", "slip"},
       0,
       "Edited entry Branch.\n",
       ""},
      // Every value is checked before anything is written.
      {{"entry", "edit", "Branch", "--phone", "9", "--device", "Nope"}, 1, "", "quor: RAS has no device 'Nope' (its "},
      {{"entry", "edit", "Branch", "--phone", "9", "--type", "vpn", "--device", "Quor ISDN Line"},
       1,
       "",
       "RAS has no device 'Quor ISDN Line' of type 'vpn'"},
      {{"entry", "edit", "Branch", "--phone", "9", "--ip", "10.1.2.300"}, 2, "", "bad value for --ip: '10.1.2.300'"},
      {{"entry", "edit", "Branch", "--phone", "9", "--dns", "x"}, 2, "", "bad value for --dns: 'x'"},
      {{"entry", "edit", "Branch", "--phone", "9", "--framing", "x25"}, 2, "", "bad value for --framing: 'x25'"},
      {{"entry", "edit", "Branch", "--phone", std::string(200, '5')}, 2, "", "the phone number is longer than 128"},
      {{"entry", "edit", "Branch", "--name", "X"}, 2, "", "unknown option '--name' for 'quor entry edit'"},
      {{"entry", "show", "branch"},
       0,
       "entry: Branch\nphone: 555-0400\narea code: \ncountry: 1 (code 1)\nalternates: \ndevice: vpn: Quor VPN Port\n"
       "framing: slip\nprotocols: IP\nip address: 10.1.2.3\nname servers: 10.0.0.53\nscript: \noptions: "
       "UseCountryAndAreaCodes, SpecificIpAddr, SpecificNameServers, IpHeaderCompression, RemoteDefaultGateway, "
       "ModemLights, SwCompression\n",
       ""},
      {{"entry", "show", "Office", "--json"},
       0,
       "{\"entry\":\"Office\",\"phone\":\"555-0100\",\"area_code\":\"\",\"country_id\":1,\"country_code\":1,"
       "\"alternates\":[],\"device_type\":\"modem\",\"device_name\":\"Quor Virtual Modem\",\"framing\":\"ppp\","
       "\"protocols\":[\"IP\"],\"ip_address\":null,\"name_servers\":[],\"script\":\"\",\"options\":["
       "\"UseCountryAndAreaCodes\",\"IpHeaderCompression\",\"RemoteDefaultGateway\",\"ModemLights\","
       "\"SwCompression\"]}\n",
       ""},
      {{"entry", "show", "Nowhere"}, 1, "", "quor: unknown entry 'Nowhere'"},
  };
  for (const auto& step : steps) {
    const RunResult r = Quor(step.args);
    std::string line;
    for (const auto& a : step.args) line += a.substr(0, 20) + " ";
    EXPECT_EQ(r.exitCode, step.exit) << line << r.err;
    EXPECT_EQ(r.out, step.out) << line;
    EXPECT_NE(r.err.find(step.err), std::string::npos) << line << "\nstderr: " << r.err;
  }
  EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\nBranch\n");
}

// A credential file the service cannot use is reported by every command that
// needs it, with the file, the reason and RAS's number, and nothing changes; a
// password withheld from a file others may read is explained.
TEST_F(PhonebookCli, CredentialsThatCannotBeUsedAreReportedWithTheirReason) {
  struct Case {
    const char* what;
    void (*spoil)(const fs::path&);
    std::vector<std::pair<std::vector<std::string>, std::string>> runs;  // command, within standard error
  };
  const std::string creds = box.Credentials().string();
  const Case cases[] = {
      {"a NUL byte appended",
       [](const fs::path& p) { std::ofstream(p, std::ios::app | std::ios::binary).put('\0'); },
       {{{"params", "get", "Office"}, creds + ": line 8: NUL byte in file"},
        {{"params", "set", "Office", "--user", "x"}, "(RAS error 625)"},
        {{"entry", "rename", "Office", "Work"}, "(RAS error 625)"},
        {{"dial", "Office"}, "(RAS error 625)"}}},
      {"a folder in its place",
       [](const fs::path& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       {{{"params", "get", "Office"}, "(RAS error 622)"},
        {{"params", "set", "Office", "--user", "x"}, creds + " cannot be read"},
        {{"entry", "delete", "Office"}, "(RAS error 622)"}}},
      {"a read-only file",
       [](const fs::path& p) { fs::permissions(p, fs::perms::owner_read); },
       {{{"params", "set", "Office", "--user", "x"}, creds + " is read-only"},
        {{"entry", "rename", "Office", "Work"}, "(RAS error 624)"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(box.Credentials());
    box.WritePhonebook(kThreeEntries);
    box.WriteScenario("");
    ASSERT_EQ(Quor({"params", "set", "Office", "--user", "alice", "--password-stdin"}, "s3cret\n").exitCode, 0);
    c.spoil(box.Credentials());
    for (const auto& [args, reason] : c.runs) {
      SCOPED_TRACE(args[0] + " " + args[1]);
      const RunResult r = Quor(args);
      EXPECT_NE(r.exitCode, 0);
      EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    }
    EXPECT_EQ(Quor({"entries"}).out, "Office\nHome\nBackup line\n");
  }
  fs::remove_all(box.Credentials());
  ASSERT_EQ(Quor({"params", "set", "Office", "--user", "alice", "--password-stdin"}, "s3cret\n").exitCode, 0);
  fs::permissions(box.Credentials(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const RunResult r = Quor({"params", "get", "Office"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("password: not set"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(creds + ": other users may read it"), std::string::npos) << r.err;
}
