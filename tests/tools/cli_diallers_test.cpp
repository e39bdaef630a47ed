// The running `quor dial` processes as other quor processes reach them: per
// state folder, through their notes, never another process that took a pid.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "QuorProcess.h"
#include "tools/quor/Diallers.h"
#include "tools/quor/Platform.h"

using namespace quortest;

namespace {

constexpr const char kPhonebook[] = "[Office]\nPhoneNumber=555-0100\n";
constexpr int kConnectMs = 8000;
constexpr int kExitMs = 8000;

class Diallers : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WritePhonebook(kPhonebook);
    box.WriteScenario(kQuickScenario);
  }
  RunResult Quor(const std::vector<std::string>& args) { return RunQuor(args, box.Environment()); }
  // The folders holding dialler notes (files named dial-<pid>) under the runtime folder.
  std::vector<fs::path> NoteFolders() const {
    std::vector<fs::path> folders;
    std::error_code ec;
    for (const auto& item : fs::recursive_directory_iterator(box.Home() / "run", ec)) {
      const std::string name = item.path().filename().string();
      if (name.rfind("dial-", 0) == 0 &&
          std::find(folders.begin(), folders.end(), item.path().parent_path()) == folders.end()) {
        folders.push_back(item.path().parent_path());
      }
    }
    return folders;
  }
  Sandbox box;
};

// A process id no process has: a child that has ended and been reaped.
pid_t EndedPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

}  // namespace

TEST_F(Diallers, HangupReachesOnlyTheDiallersOfItsStateFolder) {
  auto other = box.Environment();
  const fs::path otherState = box.Dir() / "state-b";
  fs::create_directory(otherState);
  fs::permissions(otherState, fs::perms::owner_all);
  other["QUOR_RAS_STATE_DIR"] = otherState.string();
  QuorProcess dial({"dial", "Office"}, other);
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Err();
  // This folder has no connection and no dialler of Office.
  const RunResult here = Quor({"hangup", "Office"});
  EXPECT_EQ(here.exitCode, 1) << here.out;
  EXPECT_EQ(here.err, "quor: no active connection for entry 'Office'\n");
  EXPECT_TRUE(dial.Running());
  const RunResult there = RunQuor({"hangup", "Office"}, other);
  EXPECT_EQ(there.exitCode, 0) << there.err;
  EXPECT_EQ(there.out, "Hung up Office.\n");
  EXPECT_EQ(dial.Wait(kExitMs), 4) << dial.Out();
}

TEST_F(Diallers, HangupEndsAPersistingDiallerAsALostLine) {
  QuorProcess dial({"dial", "Office", "--persist", "--holdoff", "0", "--fast-hangup"}, box.Environment());
  ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Err();
  const RunResult r = Quor({"hangup", "Office"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Hung up Office.\n");
  EXPECT_EQ(dial.Wait(kExitMs), 4) << dial.Out();
  EXPECT_EQ(dial.Out().find("Reconnecting"), std::string::npos) << dial.Out();
  EXPECT_EQ(dial.Err(), "quor: connection lost: Connection to server lost.\n");
  EXPECT_EQ(Quor({"connections", "--names"}).out, "");
}

TEST_F(Diallers, NotesOfEndedDiallersAreRemoved) {
  {
    QuorProcess dial({"dial", "Office"}, box.Environment());
    ASSERT_TRUE(dial.WaitForOut("] Connected\n", kConnectMs)) << dial.Err();
    ASSERT_EQ(NoteFolders().size(), 1u);
    const fs::path folder = NoteFolders().front();
    // What killed diallers leave: a note, and a note half written (its temporary file).
    const std::string dead = std::to_string(EndedPid());
    std::ofstream(folder / ("dial-" + dead)) << dead << "\n1 x\n0 0 0\nOffice";
    std::ofstream(folder / (".dial-" + dead)) << dead << "\n";
    fs::last_write_time(folder / (".dial-" + dead), fs::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_EQ(Quor({"connections"}).exitCode, 0);
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(folder)) left.push_back(item.path().filename().string());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [&](const std::string& n) { return n.find(dead) != n.npos; }), 0)
        << left.size();
    dial.Signal(SIGINT);
    EXPECT_EQ(dial.Wait(kExitMs), 0);
  }
  EXPECT_EQ(NoteFolders(), std::vector<fs::path>{});
}

TEST_F(Diallers, LosersOfADialRaceExitOne) {
  // Dials of one entry started together: one connects, every other one is refused alike.
  for (int round = 0; round < 3; ++round) {
    std::vector<std::unique_ptr<QuorProcess>> dials;
    for (int i = 0; i < 5; ++i) {
      dials.push_back(std::make_unique<QuorProcess>(std::vector<std::string>{"dial", "Office", "--redial", "0"},
                                                    box.Environment()));
    }
    std::vector<int> exits;
    std::vector<QuorProcess*> connected;
    for (auto& d : dials) {
      if (d->WaitForOut("] Connected\n", kConnectMs)) {
        connected.push_back(d.get());
      } else {
        exits.push_back(d->Wait(kExitMs));
      }
    }
    EXPECT_EQ(Quor({"hangup", "Office"}).exitCode, 0);
    for (QuorProcess* d : connected) exits.push_back(d->Wait(kExitMs));
    std::sort(exits.begin(), exits.end());
    EXPECT_EQ(exits, (std::vector<int>{1, 1, 1, 1, 4})) << "round " << round;
  }
}

TEST(StopDialler, NeverSignalsAProcessThatIsNotTheNotedOne) {
  // A process that took the noted dialler's pid (its start time differs).
  const pid_t other = fork();
  if (other == 0) {
    pause();
    _exit(0);
  }
  quortool::Dialler d;
  d.pid = static_cast<uint32_t>(other);
  d.entry = "Office";
  d.stamp = "1";                               // the start time of the process that noted itself
  EXPECT_TRUE(quortool::StopDialler(d, 200));  // that process is gone
  int status = 0;
  EXPECT_EQ(waitpid(other, &status, WNOHANG), 0) << "the other process was signalled";
  kill(other, SIGKILL);
  waitpid(other, &status, 0);
}
