// quor demo: the first thing a new user runs, on a machine with nothing set up.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "QuorProcess.h"

using namespace quortest;

namespace {

std::string FileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TEST(Demo, BusyRedialConnectLossInOrderAndNothingLeftBehind) {
  Sandbox box;
  // The user's own (sandboxed) RAS setup, which the demo must not touch.
  const std::string mine = "[Mine]\nPhoneNumber=555-1234\n";
  box.WritePhonebook(mine);
  box.WriteScenario("[*]\nOutcome=nodialtone\n");
  const auto env = box.Environment();

  const RunResult r = RunQuor({"demo"}, env, "", 20000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");

  std::vector<std::string> story;
  for (const auto& line : Unstamped(r.out)) {
    if (line.rfind("Dialing ", 0) == 0 || line.rfind("ERROR: ", 0) == 0 || line == "Disconnecting..." ||
        line.rfind("Retrying in ", 0) == 0 || line == "Connected" || line == "Connection to server lost.") {
      story.push_back(line);
    }
  }
  const std::vector<std::string> expected = {"Dialing Office... (attempt 1 of 2)",
                                             "ERROR: The line is busy.",
                                             "Disconnecting...",
                                             "Retrying in 2 seconds...",
                                             "Dialing Office... (attempt 2 of 2)",
                                             "Connected",
                                             "Disconnecting...",
                                             "Connection to server lost."};
  EXPECT_EQ(story, expected) << r.out;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front().rfind("quor demo: ", 0), 0u) << lines.front();
  // What the tour announces is what it does: the hang-up's own 2-second pause comes before the redial pause.
  EXPECT_NE(r.out.find("redials 4 seconds after the busy signal"), std::string::npos) << r.out;
  EXPECT_EQ(lines.back().rfind("quor demo: done.", 0), 0u) << lines.back();

  // Its private folder (created under TMPDIR, the sandbox) is gone, and
  // nothing of the user's was read into it or changed.
  for (const auto& item : fs::directory_iterator(box.Dir())) {
    EXPECT_EQ(item.path().filename().string().rfind("quor-demo-", 0), std::string::npos) << item.path();
  }
  EXPECT_EQ(FileText(box.Phonebook()), mine);
  EXPECT_EQ(box.ConnectionRecords(), std::vector<std::string>{});
  EXPECT_TRUE(fs::is_empty(box.Home())) << "the demo wrote into HOME";
  EXPECT_FALSE(fs::exists(box.Credentials()));
  // With --json its exit object gives the exit code the process has.
  const RunResult json = RunQuor({"demo", "--json"}, env, "", 20000);
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"result\":\"lost\",\"code\":0,"), std::string::npos) << json.out;
}
