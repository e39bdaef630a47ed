// Dialling end to end: quor dial against the simulated RAS service, stopped
// by signals, failing, and watched and hung up from a second quor process.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>

#include "QuorProcess.h"

using namespace quortest;

namespace {

constexpr const char kPhonebook[] =
    "[Office]\nPhoneNumber=555-0100\nDEVICE=modem\n"
    "[Home]\nPhoneNumber=555-0200\nDEVICE=vpn\n";
// Fast steps so that each test dials in well under a second.
constexpr const char kFast[] = "[*]\nStepDelay=40ms\nErrorDelay=40ms\nTeardown=100ms\n";

constexpr int kConnectMs = 8000;
constexpr int kExitMs = 8000;

class DialCli : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WritePhonebook(kPhonebook);
    box.WriteScenario(kFast);
  }
  RunResult Quor(const std::vector<std::string>& args, const std::string& input = std::string()) {
    return RunQuor(args, box.Environment(), input);
  }
  // The connections RAS lists, as another quor process sees them.
  std::string Connections() {
    const RunResult r = Quor({"connections"});
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
  const Table expected = {"Dialing Office...",
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
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end())) << dial.Out();

  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, SigintWhileDiallingHangsUpTheCall) {
  box.WriteScenario("[Office]\nStepDelay=30s\n");
  QuorProcess dial({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("Dialing Office...\n", kConnectMs)) << dial.Err();
  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  EXPECT_EQ(Unstamped(dial.Out()), (Table{"Dialing Office...", "Disconnecting..."}));
  EXPECT_EQ(Connections(), "");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, SigtermDuringTheRedialPauseStopsWithoutRedialling) {
  box.WriteScenario(std::string(kFast) + "[Office]\nOutcome=busy\n");
  QuorProcess dial({"dial", "Office", "--redial", "3", "--pause", "30"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("Retrying in 30 seconds...\n", kConnectMs)) << dial.Out() << dial.Err();
  dial.Signal(SIGTERM);
  EXPECT_EQ(dial.Wait(kExitMs), 0) << dial.Err();
  EXPECT_EQ(Milestones(dial.Out()), (Table{"Dialing Office...", "ERROR: The line is busy.", "Disconnecting...",
                                           "Retrying in 30 seconds...", "Disconnecting..."}));
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, EveryAttemptFailingExitsThreeWithTheRasError) {
  box.WriteScenario(std::string(kFast) + "[Office]\nOutcome=busy\n");
  const RunResult r = Quor({"dial", "Office", "--redial", "1", "--pause", "0"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(Milestones(r.out),
            (Table{"Dialing Office...", "ERROR: The line is busy.", "Disconnecting...", "Retrying in 0 seconds...",
                   "Dialing Office...", "ERROR: The line is busy.", "Disconnecting..."}));
  EXPECT_EQ(r.err, "quor: connection failed: error 676: The line is busy.\n");
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
}

TEST_F(DialCli, ImmediateDialFailureNamesTheErrorInBothModes) {
  box.WriteScenario(std::string(kFast) + "[Office]\nDialError=633\n");
  for (bool sync : {false, true}) {
    std::vector<std::string> args = {"dial", "Office", "--redial", "0"};
    if (sync) args.push_back("--sync");
    const RunResult r = Quor(args);
    EXPECT_EQ(r.exitCode, 3) << sync;
    const std::string text = "The port is already in use or is not set up for dialling out.";
    EXPECT_EQ(Milestones(r.out), (Table{"Dialing Office...", "ERROR: " + text, "Disconnecting...", "Disconnecting..."}))
        << sync << "\n"
        << r.out;
    EXPECT_EQ(r.err, "quor: connection failed: error 633: " + text + "\n") << sync;
  }
}

TEST_F(DialCli, CredentialsComeFromStdinTheEnvironmentOrStoredParams) {
  box.WriteScenario(std::string(kFast) + "[Office]\nRequireUser=alice\nRequirePassword=open sesame\n");
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
  box.WriteScenario(std::string(kFast) + "[Home]\nDropAfter=500ms\n");
  const RunResult r = Quor({"dial", "Home", "--json"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u) << r.out;
  for (const auto& line : lines) {
    EXPECT_EQ(line.front(), '{') << line;
    EXPECT_EQ(line.back(), '}') << line;
    EXPECT_EQ(line.rfind("{\"event\":\"", 0), 0u) << line;
  }
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
  EXPECT_NE(lines.back().find("\"result\":\"lost\",\"code\":4,\"error\":0,\"connected\":true"), std::string::npos)
      << lines.back();
  EXPECT_EQ(r.err, "quor: connection lost: Connection to server lost.\n");
}

TEST_F(DialCli, SecondProcessListsInspectsAndHangsUpTheConnection) {
  QuorProcess dial({"dial", "Office"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Out() << dial.Err();

  EXPECT_EQ(Connections(), "Office\n");
  EXPECT_EQ(Quor({"connections", "--json"}).out, "{\"connections\":[\"Office\"]}\n");
  RunResult status = Quor({"status", "office"});  // entry names ignore case; the stored name is shown
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_EQ(status.out, "entry: Office\nstate: RASCS_Connected (8192)\ndevice: modem: Quor Virtual Modem\nerror: 0\n");
  status = Quor({"status", "Office", "--json"});
  EXPECT_NE(status.out.find("\"state\":8192,\"state_name\":\"RASCS_Connected\",\"device_type\":\"modem\""),
            std::string::npos)
      << status.out;

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
  box.WriteScenario(std::string(kFast) + "[Home]\nOutcome=busy\n");
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
  box.WriteScenario(std::string(kFast) + "[Office]\nDialError=633\nFailFirst=1\nDropAfter=50ms\n");
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
