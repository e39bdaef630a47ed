// Dialling end to end: quor dial against the simulated RAS service, stopped
// by signals, failing, and watched and hung up from a second quor process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <thread>

#include "QuorProcess.h"

using namespace quortest;

namespace {

constexpr int kConnectMs = 8000;
constexpr int kExitMs = 8000;

class DialCli : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WritePhonebook(kTwoEntryPhonebook);
    box.WriteScenario(kQuickScenario);
  }
  RunResult Quor(const std::vector<std::string>& args, const std::string& input = std::string()) {
    return RunQuor(args, box.Environment(), input);
  }
  // The connections RAS lists, as another quor process sees them.
  std::string Connections() {
    const RunResult r = Quor({"connections", "--names"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  Sandbox box;
};

// The lines of a dial's output that tell its story, in order.
std::vector<std::string> Milestones(const std::string& out) {
  std::vector<std::string> kept;
  for (const auto& line : Unstamped(out)) {
    if (line.rfind("Dialing ", 0) == 0 || line.rfind("ERROR: ", 0) == 0 || line == "Disconnecting..." ||
        line.rfind("Retrying in ", 0) == 0 || line == "Connected" || line == "Connection to server lost.") {
      kept.push_back(line);
    }
  }
  return kept;
}

using Table = std::vector<std::string>;

}  // namespace

TEST_F(DialCli, ConnectsPrintsEveryStatusAndHangsUpOnSigint) {
  QuorProcess dial({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();
  EXPECT_EQ(Connections(), "Office\n");

  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  const Table expected = {"Dialing Office... (attempt 1 of 2)",
                          "Opening port",
                          "Port opened",
                          "Connecting device",
                          "Using modem: Quor Virtual Modem",
                          "Device connected",
                          "All devices connected",
                          "Start authenticating",
                          "Authentication: notify",
                          "Authentication: projecting",
                          "Authenticated",
                          "Connected",
                          "Disconnecting..."};
  EXPECT_EQ(Unstamped(dial.Out()), expected) << dial.Out();
  EXPECT_EQ(dial.Err(), "");
  // Every line carries its offset from the start, in order.
  const auto lines = Lines(dial.Out());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("[  0.", 0), 0u) << lines[0];
  // Two events can share a millisecond: compare the stamps alone.
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 9) < b.substr(0, 9);
  })) << dial.Out();

  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, SigintWhileDiallingHangsUpTheCall) {
  box.WriteScenario("[Office]\nStepDelay=30s\n");
  QuorProcess dial({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("Dialing Office... (attempt 1 of 2)\n", kConnectMs)) << dial.Err();
  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  EXPECT_EQ(Unstamped(dial.Out()), (Table{"Dialing Office... (attempt 1 of 2)", "Disconnecting..."}));
  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, SigtermDuringTheRedialPauseStopsWithoutRedialling) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nOutcome=busy\n");
  QuorProcess dial({"dial", "Office", "--redial", "3", "--pause", "30"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("Retrying in 30 seconds...\n", kConnectMs)) << dial.Out() << dial.Err();
  dial.Signal(SIGTERM);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  EXPECT_EQ(Milestones(dial.Out()), (Table{"Dialing Office... (attempt 1 of 4)", "ERROR: The line is busy.",
                                           "Disconnecting...", "Retrying in 30 seconds...", "Disconnecting..."}));
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, EveryAttemptFailingExitsThreeWithTheRasError) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nOutcome=busy\n");
  const RunResult r = Quor({"dial", "Office", "--redial", "1", "--pause", "0"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(Milestones(r.out),
            (Table{"Dialing Office... (attempt 1 of 2)", "ERROR: The line is busy.", "Disconnecting...",
                   "Retrying in 0 seconds...", "Dialing Office... (attempt 2 of 2)", "ERROR: The line is busy.",
                   "Disconnecting..."}));
  EXPECT_EQ(r.err, "quor: connection failed: error 676: The line is busy.\n");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, ImmediateDialFailureNamesTheErrorInBothModes) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nDialError=633\n");
  for (bool sync : {false, true}) {
    std::vector<std::string> args = {"dial", "Office", "--redial", "0"};
    if (sync) args.push_back("--sync");
    const RunResult r = Quor(args);
    EXPECT_EQ(r.exitCode, 3) << sync;
    const std::string text = "The port is already in use or is not set up for dialling out.";
    EXPECT_EQ(Milestones(r.out),
              (Table{"Dialing Office... (attempt 1 of 1)", "ERROR: " + text, "Disconnecting...", "Disconnecting..."}))
        << sync << "\n"
        << r.out;
    EXPECT_EQ(r.err, "quor: connection failed: error 633: " + text + "\n") << sync;
  }
  // --timestamps: the time of day instead of the offset.
  const auto lines = Lines(Quor({"dial", "Office", "--redial", "0", "--timestamps"}).out);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex(R"(\[20\d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] Dialing Office\.\.\. )"
                                            R"(\(attempt 1 of 1\))")))
      << lines[0];
}

// A password taken from QUOR_PASSWORD leaves the environment others of the
// user may read (/proc/PID/environ), and a dialler holding one is not dumpable
// (its /proc files then belong to root).
TEST_F(DialCli, APasswordFromTheEnvironmentIsNotLeftThere) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nRequireUser=alice\nRequirePassword=open sesame\n");
  auto env = box.Environment();
  env["QUOR_PASSWORD"] = "open sesame";
  QuorProcess dial({"dial", "Office", "--user", "alice"}, env);
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();
  const std::string proc = "/proc/" + std::to_string(dial.Pid());
  std::ifstream environ(proc + "/environ", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find("open sesame"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat((proc + "/environ").c_str(), &st), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(st.st_uid, 0u) << "the dialler is dumpable";
  }
  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kExitMs), 0);
}

TEST_F(DialCli, CredentialsComeFromStdinTheEnvironmentOrStoredParams) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nRequireUser=alice\nRequirePassword=open sesame\n");
  {
    QuorProcess dial({"dial", "Office", "--user", "alice", "--password-stdin"}, box.Environment(), "open sesame\n");
    ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();
    dial.Signal(SIGINT);
    EXPECT_EQ(dial.Wait(kExitMs), 0);
    EXPECT_EQ(dial.Out().find("open sesame"), std::string::npos);
  }
  {
    // A wrong password fails authentication; a pause above 60 is noted.
    auto env = box.Environment();
    env["QUOR_PASSWORD"] = "wrong";
    const RunResult r = RunQuor({"dial", "Office", "--user", "alice", "--redial", "0", "--pause", "100"}, env);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("quor: note: a redial pause of 100 seconds is stored as 60 seconds"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("quor: connection failed: error 691: "), std::string::npos) << r.err;
  }
  {
    // Stored dial parameters are used when none are given.
    ASSERT_EQ(Quor({"params", "set", "Office", "--user", "alice", "--password-stdin"}, "open sesame\n").exitCode, 0);
    QuorProcess dial({"dial", "Office"}, box.Environment());
    ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();
    dial.Signal(SIGINT);
    EXPECT_EQ(dial.Wait(kExitMs), 0);
  }
}

TEST_F(DialCli, JsonGivesOneObjectPerEventAndTheLossExitsFour) {
  box.WriteScenario(std::string(kQuickScenario) + "[Home]\nDropAfter=500ms\n");
  const RunResult r = Quor({"dial", "Home", "--json"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u) << r.out;
  // Events, then the error object that ends every failure.
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("{\"event\":\"", 0), 0u) << lines[i];
  EXPECT_EQ(lines.back().rfind("{\"error\":{\"exit\":4,", 0), 0u) << lines.back();
  EXPECT_EQ(lines.front().rfind("{\"event\":\"notify\",\"time\":0.", 0), 0u) << lines.front();
  EXPECT_NE(lines.front().find(",\"error\":0,\"text\":\"Dialing Home...\"}"), std::string::npos) << lines.front();
  const auto has = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("\"text\":\"Using vpn: Quor VPN Port\"")) << r.out;
  EXPECT_TRUE(has("{\"event\":\"connect\",")) << r.out;
  EXPECT_TRUE(has("{\"event\":\"disconnect\",")) << r.out;
  EXPECT_TRUE(has("\"error\":0,\"text\":\"Connection to server lost.\"}")) << r.out;
  // Dial events carry the attempt, RAS's state number and name, and the error.
  EXPECT_TRUE(
      has("\"attempt\":1,\"attempts\":2,\"state\":2,\"state_name\":\"RASCS_ConnectDevice\",\"error\":0,"
          "\"text\":\"Using vpn: Quor VPN Port\"}"))
      << r.out;
  EXPECT_TRUE(has("{\"event\":\"connect\",")) << r.out;
  EXPECT_TRUE(has("\"state\":8192,\"state_name\":\"RASCS_Connected\",\"error\":0,\"text\":\"Connected\"}")) << r.out;
  const std::string& exit = lines[lines.size() - 2];
  EXPECT_NE(exit.find("\"result\":\"lost\",\"code\":4,\"error\":0,\"connected\":true"), std::string::npos) << exit;
  EXPECT_EQ(r.err, "quor: connection lost: Connection to server lost.\n");
}

TEST_F(DialCli, JsonLinesOfTheComponentCarryNoStateAndAFailureEndsWithTheErrorObject) {
  box.WriteScenario(std::string(kQuickScenario) +
                    "[Office]\nOutcome=busy\n[Home]\nDropAfter=300ms\n[Slow]\nDelay.ConnectDevice=20s\n");
  box.WritePhonebook(std::string(kTwoEntryPhonebook) + "[Slow]\nPhoneNumber=555-0300\nDEVICE=modem\n");
  struct Row {
    std::vector<std::string> args;
    int exit;
    std::string error;  // the last line
  };
  const std::vector<Row> rows = {
      {{"Office", "--redial", "1", "--pause", "0"},
       3,
       "{\"error\":{\"exit\":3,\"message\":\"connection failed: error 676: The line is busy.\",\"ras_error\":676,"
       "\"ras_text\":\"The line is busy.\"}}"},
      {{"Home"}, 4, "{\"error\":{\"exit\":4,\"message\":\"connection lost: Connection to server lost.\"}}"},
      // The component's own dial timeout is no dial event of RAS.
      {{"Slow", "--redial", "0", "--timeout", "1"},
       3,
       "{\"error\":{\"exit\":3,\"message\":\"connection failed: error 638: The request timed out.\","
       "\"ras_error\":638,\"ras_text\":\"The request timed out.\"}}"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"dial", "--json", "--fast-hangup"};
    args.insert(args.begin() + 1, row.args.begin(), row.args.end());
    const RunResult r = Quor(args);
    EXPECT_EQ(r.exitCode, row.exit) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines.back(), row.error);
    EXPECT_EQ(lines[lines.size() - 2].rfind("{\"event\":\"exit\",", 0), 0u) << r.out;
    // A line carries a state exactly when a dial event of RAS is behind it.
    for (size_t i = 0; i + 2 < lines.size(); ++i) {
      const std::string& line = lines[i];
      const bool own = line.find("\"text\":\"Disconnecting...\"") != std::string::npos ||
                       line.find("\"text\":\"Retrying in ") != std::string::npos ||
                       line.find("\"text\":\"Dialing ") != std::string::npos ||
                       line.find("\"text\":\"Connection to server lost.\"") != std::string::npos ||
                       line.find("\"error\":638,") != std::string::npos;
      EXPECT_EQ(line.find(",\"state\":") == std::string::npos, own) << line;
    }
  }
}

TEST_F(DialCli, SecondProcessListsInspectsAndHangsUpTheConnection) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nIpAddress=10.0.0.2\nServerIpAddress=10.0.0.1\n");
  QuorProcess dial({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();

  EXPECT_EQ(Connections(), "Office\n");
  EXPECT_EQ(Quor({"connections", "--names", "--json"}).out, "{\"connections\":[\"Office\"]}\n");
  // The table, the status and their JSON: handle, state, device, IP address, time connected (the handle and
  // the seconds vary, so they are masked).
  const auto masked = [](std::string text) {
    for (const char* key : {"\"handle\":", "\"connected_seconds\":", "\"line_ms\":", "handle: "}) {
      for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const size_t from = at + std::strlen(key);
        text.replace(from, text.find_first_not_of("0123456789", from) - from, "N");
      }
    }
    for (size_t at = text.find("0:00:0"); at != std::string::npos; at = text.find("0:00:0", at + 1)) {
      text.replace(at, 7, "0:00:0N");
    }
    return text;
  };
  const std::string book = fs::canonical(box.Phonebook()).string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> views = {
      {{"status", "office"},  // entry names ignore case; the stored name is shown
       "entry: Office\nhandle: N\nstate: RASCS_Connected (8192)\ndevice: modem: Quor Virtual Modem\nerror: 0\n"
       "ip address: 10.0.0.2\nserver ip address: 10.0.0.1\nconnected: 0:00:0N\n"
       "traffic: 0 bytes sent, 0 bytes received (0 B/s, 0 B/s)\nphonebook: " +
           book + "\n"},
      {{"status", "Office", "--json"},
       "{\"handle\":N,\"entry\":\"Office\",\"state\":8192,\"state_name\":\"RASCS_Connected\",\"device_type\":\"modem\","
       "\"device_name\":\"Quor Virtual Modem\",\"error\":0,\"ip_address\":\"10.0.0.2\",\"server_ip_address\":"
       "\"10.0.0.1\",\"connected_seconds\":N,\"bytes_sent\":0,\"bytes_received\":0,\"send_rate\":0,"
       "\"receive_rate\":0,\"line_ms\":N,\"phonebook\":\"" +
           book + "\"}\n"},
      {{"connections", "--json"},
       "{\"connections\":[{\"handle\":N,\"entry\":\"Office\",\"state\":8192,\"state_name\":\"RASCS_Connected\","
       "\"device_type\":\"modem\",\"device_name\":\"Quor Virtual Modem\",\"error\":0,\"ip_address\":\"10.0.0.2\","
       "\"server_ip_address\":\"10.0.0.1\",\"connected_seconds\":N,\"bytes_sent\":0,\"bytes_received\":0,"
       "\"send_rate\":0,\"receive_rate\":0,\"line_ms\":N,\"phonebook\":\"" +
           book + "\"}]}\n"}};
  for (const auto& [args, expected] : views) EXPECT_EQ(masked(Quor(args).out), expected) << args[0];
  const auto table = Lines(Quor({"connections"}).out);
  ASSERT_EQ(table.size(), 2u);
  // The handle column is as wide as the handle, which has an upper half on 64-bit targets.
  EXPECT_EQ(table[0].rfind("HANDLE ", 0), 0u) << table[0];
  EXPECT_NE(table[0].find("  ENTRY   STATE      DEVICE              IP ADDRESS  CONNECTED"), std::string::npos)
      << table[0];
  EXPECT_NE(table[1].find("  Office  Connected  Quor Virtual Modem  10.0.0.2    0:00:0"), std::string::npos)
      << table[1];

  const RunResult hangup = Quor({"hangup", "Office"});
  EXPECT_EQ(hangup.exitCode, 0) << hangup.err;
  EXPECT_EQ(hangup.out, "Hung up Office.\n");
  EXPECT_EQ(Connections(), "");

  // The dialling process notices that its line is gone.
  EXPECT_EQ(dial.Wait(kExitMs), 4) << dial.Out();
  EXPECT_EQ(Milestones(dial.Out()).back(), "Connection to server lost.") << dial.Out();
  EXPECT_EQ(dial.Err(), "quor: connection lost: Connection to server lost.\n");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, NoConnectionToHangUpOrInspect) {
  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(Quor({"connections", "--json"}).out, "{\"connections\":[]}\n");
  for (const char* command : {"hangup", "status"}) {
    const RunResult r = Quor({command, "Office"});
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_EQ(r.err, "quor: no active connection for entry 'Office'\n") << command;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(DialCli, HangupStopsADiallerInItsRedialPauseAndAllEndsEverything) {
  box.WriteScenario(std::string(kQuickScenario) + "[Home]\nOutcome=busy\n");
  auto paused = std::make_unique<QuorProcess>(
      std::vector<std::string>{"dial", "Home", "--redial", "3", "--pause", "30"}, box.Environment());
  ASSERT_TRUE(paused->WaitForOut("Retrying in 30 seconds...\n", kConnectMs)) << paused->Err();
  RunResult r = Quor({"hangup", "home"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Stopped dialling Home (process ", 0), 0u) << r.out;
  EXPECT_EQ(paused->Wait(kExitMs), 0) << paused->Err();
  EXPECT_EQ(Milestones(paused->Out()).back(), "Disconnecting...") << paused->Out();

  // A second dial of a connected entry is refused; --attach watches it.
  QuorProcess office({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(office.WaitForOut("] Connected\n", kConnectMs)) << office.Err();
  r = Quor({"dial", "office"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("quor: entry 'Office' is already connected (handle "), std::string::npos) << r.err;
  QuorProcess attached({"dial", "Office", "--attach"}, box.Environment());
  ASSERT_TRUE(attached.WaitForOut("Attached to the connection of Office", kConnectMs)) << attached.Err();
  paused = std::make_unique<QuorProcess>(std::vector<std::string>{"dial", "Home", "--redial", "3", "--pause", "30"},
                                         box.Environment());
  ASSERT_TRUE(paused->WaitForOut("Retrying in 30 seconds...\n", kConnectMs)) << paused->Err();

  r = Quor({"hangup", "--all"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Hung up Office.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Stopped dialling Home"), std::string::npos) << r.out;
  const std::vector<int> exits = {office.Wait(kExitMs), attached.Wait(kExitMs), paused->Wait(kExitMs)};
  EXPECT_EQ(exits, (std::vector<int>{4, 4, 0}));
  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(Quor({"hangup", "--all"}).exitCode, 0);
}

TEST_F(DialCli, SimResetMakesAScenarioStartAgain) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nDialError=633\nFailFirst=1\nDropAfter=50ms\n");
  const std::vector<std::pair<std::vector<std::string>, int>> steps = {{{"dial", "Office", "--redial", "0"}, 3},
                                                                       {{"dial", "Office", "--redial", "0"}, 4},
                                                                       {{"sim", "reset"}, 0},
                                                                       {{"dial", "Office", "--redial", "0"}, 3},
                                                                       {{"sim", "reset", "--json"}, 0}};
  std::vector<int> exits;
  for (const auto& [args, expected] : steps) exits.push_back(Quor(args).exitCode);
  EXPECT_EQ(exits, (std::vector<int>{3, 4, 0, 3, 0}));
  EXPECT_EQ(Quor({"sim", "reset"}).out, "Cleared the attempt counters of the simulated RAS service.\n");
}

TEST_F(DialCli, PolicyOptions) {
  struct Case {
    const char* Scenario;
    std::vector<std::string> Args;
    Table Expected;  // milestones
    int Exit;
    std::string Err;
  };
  const std::string busy = "The line is busy.";
  const std::vector<Case> cases = {
      {"[Office]\nOutcome=busy\n",
       {"--redial", "2", "--pause", "1", "--backoff", "2,3", "--fast-hangup"},
       {"Dialing Office... (attempt 1 of 3)", "ERROR: " + busy, "Disconnecting...", "Retrying in 1 seconds...",
        "Dialing Office... (attempt 2 of 3)", "ERROR: " + busy, "Disconnecting...", "Retrying in 2 seconds...",
        "Dialing Office... (attempt 3 of 3)", "ERROR: " + busy, "Disconnecting..."},
       3,
       "quor: connection failed: error 676: " + busy + "\n"},
      {"[Office]\nDelay.ConnectDevice=20s\n",
       {"--redial", "0", "--timeout", "1", "--fast-hangup"},
       {"Dialing Office... (attempt 1 of 1)", "ERROR: The request timed out.", "Disconnecting..."},
       3,
       "quor: connection failed: error 638: The request timed out.\n"},
      {"[Office]\nDropAfter=300ms\n",
       {"--watch", "event", "--fast-hangup"},
       {"Dialing Office... (attempt 1 of 2)", "Connected", "Disconnecting...", "Connection to server lost."},
       4,
       "quor: connection lost: Connection to server lost.\n"},
      {"", {"--backoff", "0.5"}, {}, 2, ""},
      {"", {"--watch", "often"}, {}, 2, ""},
      {"", {"--maxfail", "3"}, {}, 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"dial", "Office"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    SCOPED_TRACE(args.back());
    box.WriteScenario(std::string(kQuickScenario) + c.Scenario);
    const RunResult r = Quor(args);
    EXPECT_EQ(r.exitCode, c.Exit) << r.err;
    EXPECT_EQ(Milestones(r.out), c.Expected) << r.out;
    if (c.Exit == 2) {
      EXPECT_EQ(r.err.rfind("quor: ", 0), 0u) << r.err;
    } else {
      EXPECT_EQ(r.err, c.Err);
    }
  }
}

TEST_F(DialCli, PersistDialsAgainAfterALoss) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nDropAfter=300ms\n");
  QuorProcess dial({"dial", "Office", "--persist", "--holdoff", "0", "--fast-hangup"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("Reconnecting in 0 seconds...\n", kConnectMs)) << dial.Out() << dial.Err();
  // The second loss (bounded real-time wait).
  const auto start = std::chrono::steady_clock::now();
  while (Milestones(dial.Out()).size() < 8 && std::chrono::steady_clock::now() - start < std::chrono::seconds(8))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  // A reconnect is a fresh dial: its first attempt again.
  const Table once = {"Dialing Office... (attempt 1 of 2)", "Connected", "Disconnecting...",
                      "Connection to server lost."};
  Table twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  const Table got = Milestones(dial.Out());
  ASSERT_GE(got.size(), twice.size()) << dial.Out();
  EXPECT_EQ(Table(got.begin(), got.begin() + static_cast<long>(twice.size())), twice) << dial.Out();
}

TEST_F(DialCli, ErrorsNoRedialCanMendEndTheDialAtOnce) {
  // With a 30 s pause a redial would outlast the 10 s bound: the dial must end at once.
  struct Case {
    const char* name;
    std::string scenario;
    bool refuseStateFolder;
    int exit;
    std::string error;  // the RAS error line the dial prints
    std::string err;    // within standard error
  };
  const std::vector<Case> cases = {
      {"scenario", "[*]\nStepDelay=abc\n", false, 5, "ERROR: The data is invalid.",
       "quor: connection failed: error 13: The data is invalid.; the scenario "},
      {"parameter", std::string(kQuickScenario) + "[Office]\nDialError=87\n", false, 5,
       "ERROR: A parameter is not valid.", "quor: connection failed: error 87: "},
      {"state", kQuickScenario, true, 5, "ERROR: ", "quor: connection failed: error 711: "},
      {"device", std::string(kQuickScenario) + "[Office]\nDialError=608\n", false, 5,
       "ERROR: ", "quor: connection failed: error 608: "},
      {"entry", std::string(kQuickScenario) + "[Office]\nDialError=623\n", false, 5,
       "ERROR: ", "quor: connection failed: error 623: "},
      {"race", std::string(kQuickScenario) + "[Office]\nDialError=756\n", false, 1,
       "ERROR: ", "quor: entry 'Office' is already being dialled: 'quor status Office' shows it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box.WriteScenario(c.scenario);
    fs::permissions(box.StateDir(), c.refuseStateFolder ? fs::perms::all : fs::perms::owner_all);
    const RunResult r = RunQuor({"dial", "Office", "--redial", "3", "--pause", "30"}, box.Environment(), "", 10000);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    const Table got = Milestones(r.out);
    ASSERT_GE(got.size(), 2u) << r.out;
    EXPECT_EQ(got[0], "Dialing Office... (attempt 1 of 4)");
    EXPECT_EQ(got[1].rfind(c.error, 0), 0u) << got[1];
    EXPECT_EQ(got, (Table{got[0], got[1], "Disconnecting...", "Disconnecting..."})) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  // The refused state folder: listing the connections is refused too, with RAS's number.
  fs::permissions(box.StateDir(), fs::perms::all);
  const RunResult r = Quor({"connections"});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_NE(r.err.find("(RAS error 711"), std::string::npos) << r.err;
  fs::permissions(box.StateDir(), fs::perms::owner_all);
}

TEST_F(DialCli, ConnectionCommandsNeedNoReadablePhonebook) {
  // A connection up and a dialler in its redial pause, then the phonebook breaks.
  box.WriteScenario(std::string(kQuickScenario) + "[Home]\nOutcome=busy\n");
  QuorProcess office({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(office.WaitForOut("] Connected\n", kConnectMs)) << office.Err();
  QuorProcess home({"dial", "Home", "--redial", "3", "--pause", "30"}, box.Environment());
  ASSERT_TRUE(home.WaitForOut("Retrying in 30 seconds...\n", kConnectMs)) << home.Err();
  box.WritePhonebook("this line comes before any section\n[Office]\n");
  struct Row {
    std::vector<std::string> args;
    std::string out;  // the start of standard output
  };
  const std::vector<Row> rows = {
      {{"connections", "--names"}, "Office\n"},
      {{"connections"}, "HANDLE "},
      {{"status", "office"}, "entry: Office\nhandle: "},
      {{"hangup", "office"}, "Hung up Office.\n"},
      {{"hangup", "--all"}, "Stopped dialling Home (process "},
  };
  std::vector<int> exits;
  for (const auto& row : rows) {
    const RunResult r = Quor(row.args);
    EXPECT_EQ(r.exitCode, 0) << row.args[0] << " " << row.args[1] << "\n" << r.err;
    EXPECT_EQ(r.out.substr(0, row.out.size()), row.out) << row.args[1];
    if (row.args[0] == "hangup" && row.args[1] == "office")
      exits.push_back(office.Wait(kExitMs));  // it sees its line lost
  }
  exits.push_back(home.Wait(kExitMs));
  EXPECT_EQ(exits, std::vector<int>({4, 0}));
}

// Two phonebooks each hold an Office: each is its own line, and every look-up
// by name (hang-up, status, the already-connected check) keeps to its own.
TEST_F(DialCli, SameNamedEntriesOfTwoPhonebooksAreTwoConnections) {
  const fs::path other = box.Dir() / "other.pbk";
  std::ofstream(other) << kTwoEntryPhonebook;
  auto envB = box.Environment();
  envB["QUOR_RAS_PHONEBOOK"] = other.string();
  const auto inB = [&](const std::vector<std::string>& args) { return RunQuor(args, envB); };

  QuorProcess dialA({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dialA.WaitForOut("] Connected\n", kConnectMs)) << dialA.Err();
  const std::string none = "quor: no active connection for entry 'Office'\n";
  for (const char* command : {"hangup", "status"}) {
    const RunResult r = inB({command, "Office"});
    EXPECT_EQ(std::make_pair(r.exitCode, r.err), std::make_pair(1, none)) << command;
  }
  QuorProcess dialB({"dial", "Office"}, envB);
  ASSERT_TRUE(dialB.WaitForOut("] Connected\n", kConnectMs)) << dialB.Err() << dialB.Out();

  const std::vector<std::pair<std::map<std::string, std::string>, fs::path>> books = {
      {box.Environment(), fs::canonical(box.Phonebook())}, {envB, fs::canonical(other)}};
  std::vector<std::string> handles;
  for (const auto& [env, path] : books) {
    const RunResult r = RunQuor({"status", "Office"}, env);
    EXPECT_NE(r.out.find("\nphonebook: " + path.string() + "\n"), std::string::npos) << r.out;
    handles.push_back(r.out.substr(0, r.out.find("\nstate:")));
  }
  EXPECT_NE(handles[0], handles[1]);
  const std::string listed = Quor({"connections", "--json"}).out;
  for (const auto& book : books) {
    EXPECT_NE(listed.find("\"phonebook\":\"" + book.second.string() + "\""), std::string::npos) << listed;
  }

  const RunResult hangup = inB({"hangup", "Office"});
  EXPECT_EQ(hangup.out, "Hung up Office.\n") << hangup.err;
  EXPECT_EQ(dialB.Wait(kExitMs), 4) << dialB.Out();
  EXPECT_TRUE(dialA.Running()) << "the hang-up of the other phonebook's Office reached this one";
  EXPECT_EQ(Connections(), "Office\n");
  EXPECT_EQ(Quor({"hangup", "Office"}).exitCode, 0);
  EXPECT_EQ(dialA.Wait(kExitMs), 4) << dialA.Out();
}
