// quor monitor watching the dials of other quor processes, and the traffic
// figures of `quor dial --stats` and `quor connections` on a line whose
// scenario moves bytes each way.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "QuorProcess.h"

using namespace quortest;

namespace {

constexpr int kWaitMs = 8000;

class MonitorCli : public ::testing::Test {
 protected:
  void SetUp() override { box.WritePhonebook(kTwoEntryPhonebook); }
  Sandbox box;
};

// The numbers a text line carries, in order.
std::vector<uint64_t> Numbers(const std::string& line) {
  std::vector<uint64_t> n;
  const std::regex number("[0-9]+");
  for (auto it = std::sregex_iterator(line.begin(), line.end(), number); it != std::sregex_iterator(); ++it)
    n.push_back(std::stoull(it->str()));
  return n;
}

}  // namespace

// Office is dialled and hung up by other processes, Home's line is lost (off
// every list at once, its handle still telling why): the monitor, started
// first, tells each step with its entry, the loss with its reason, and dials
// nothing.
TEST_F(MonitorCli, SeesOtherProcessesDialsAndHangUps) {
  box.WriteScenario(std::string(kQuickScenario) + "[Home]\nDropAfter=1s\nDropReason=lost\n");
  struct Case {
    bool json;
    std::vector<std::string> seen;  // in the monitor's output, in this order
  };
  const Case cases[] = {
      {false,
       {"Office (handle ", ") appeared: ", "Office (handle ", ") state: RASCS_Connected", "Office (handle ", ") ended",
        "Home (handle ", ") appeared: ", "Home (handle ", ") lost: ", " (RAS error 628)", "Home (handle ", ") gone"}},
      {true,
       {"{\"event\":\"appeared\",", "\"entry\":\"Office\"", "{\"event\":\"state\",",
        "\"state_name\":\"RASCS_Connected\"", "{\"event\":\"ended\",", "\"entry\":\"Office\"",
        "{\"event\":\"appeared\",", "\"entry\":\"Home\"", "{\"event\":\"lost\",", "\"entry\":\"Home\"",
        "\"error\":628,\"error_text\":\"", "{\"event\":\"gone\",", "\"entry\":\"Home\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json ? "--json" : "text");
    std::vector<std::string> args = {"monitor"};
    if (c.json) args.push_back("--json");
    QuorProcess monitor(args, box.Environment());
    // The monitor has looked once before the dial starts: its first look prints nothing on an idle machine.
    ASSERT_TRUE(monitor.Running());
    {
      QuorProcess office({"dial", "Office"}, box.Environment());
      ASSERT_TRUE(office.WaitForOut("] Connected\n", kWaitMs)) << office.Err();
      ASSERT_TRUE(monitor.WaitForOut("RASCS_Connected", kWaitMs)) << monitor.Out() << monitor.Err();
      const RunResult hangup = RunQuor({"hangup", "Office"}, box.Environment());
      EXPECT_EQ(hangup.exitCode, 0) << hangup.err;
      EXPECT_EQ(office.Wait(kWaitMs), 4) << "the dialler saw its line go";
      ASSERT_TRUE(monitor.WaitForOut(c.json ? "\"ended\"" : ") ended", kWaitMs)) << monitor.Out();
    }
    QuorProcess home({"dial", "Home"}, box.Environment());
    EXPECT_EQ(home.Wait(kWaitMs), 4) << home.Out();
    ASSERT_TRUE(monitor.WaitForOut(c.json ? "\"gone\"" : ") gone", kWaitMs)) << monitor.Out();
    EXPECT_TRUE(monitor.Running()) << "the monitor watches on";
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(kWaitMs), 0) << monitor.Err();
    const std::string out = monitor.Out();
    size_t at = 0;
    for (const std::string& s : c.seen) {
      const size_t found = out.find(s, at);
      ASSERT_NE(found, std::string::npos) << "'" << s << "' after offset " << at << " of:\n" << out;
      at = found + s.size();
    }
    EXPECT_EQ(RunQuor({"connections", "--names"}, box.Environment()).out, "") << "the monitor held nothing";
  }
}

// SendRate 1000 and ReceiveRate 2000: the dial's statistics lines and the
// connections table count bytes at those rates, twice as many received as sent.
TEST_F(MonitorCli, StatisticsLinesAndTheTableCountTheScenariosTraffic) {
  box.WriteScenario(std::string(kQuickScenario) + "[Office]\nSendRate=1000\nReceiveRate=2000\n");
  QuorProcess dial({"dial", "Office", "--stats", "1"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kWaitMs)) << dial.Err();
  ASSERT_TRUE(dial.WaitForOut("s), up 00:00:02\n", kWaitMs)) << dial.Out() << dial.Err();
  std::vector<std::string> stats;
  for (const std::string& line : Lines(dial.Out()))
    if (line.rfind("sent ", 0) == 0) stats.push_back(line);
  ASSERT_GE(stats.size(), 2u) << dial.Out();
  uint64_t before = 0;
  for (const std::string& line : stats) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(std::regex_match(line, std::regex("sent [0-9]+ bytes \\([0-9]+ B/s\\), received [0-9]+ bytes "
                                                  "\\([0-9]+ B/s\\), up [0-9][0-9]:[0-9][0-9]:[0-9][0-9]")));
    const std::vector<uint64_t> n = Numbers(line);  // sent, rate, received, rate, h, m, s
    EXPECT_GT(n[0], before) << "the counters grow";
    EXPECT_NEAR(static_cast<double>(n[2]), 2.0 * static_cast<double>(n[0]), 2.0);
    EXPECT_NEAR(static_cast<double>(n[1]), 1000, 200);
    EXPECT_NEAR(static_cast<double>(n[3]), 2000, 400);
    EXPECT_NEAR(static_cast<double>(n[0]), 1000.0 * static_cast<double>(n[6]), 1000.0) << "bytes at 1000 a second";
    before = n[0];
  }
  const std::vector<std::string> table = Lines(RunQuor({"connections"}, box.Environment()).out);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_NE(table[0].find("  CONNECTED  SENT  RECEIVED  RATES"), std::string::npos) << table[0];
  std::smatch m;
  ASSERT_TRUE(std::regex_search(table[1], m, std::regex(" ([0-9]+) +([0-9]+) +([0-9]+)/([0-9]+) B/s "))) << table[1];
  EXPECT_GT(std::stoull(m[1]), 1000u);
  EXPECT_NEAR(std::stod(m[2]), 2.0 * std::stod(m[1]), 2.0);
  EXPECT_NEAR(std::stod(m[3]), 1000, 50);
  EXPECT_NEAR(std::stod(m[4]), 2000, 100);
  dial.Signal(SIGINT);
  EXPECT_EQ(dial.Wait(kWaitMs), 0) << dial.Err();
}
