// Several processes at once: concurrent phonebook writers, connections
// listed, inspected and hung up from another process, owners that are gone.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "Ras2/RasOptionalContract.h"
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class CrossProcessContract : public RasContract {
 protected:
  // Waits (in real time) for another process to publish a file and returns
  // its text; empty when the other process ended, or 30 s passed, without it.
  // The wait is for the text, not the name: the name appears the moment the
  // publisher renames its finished file into place, but while the renaming
  // handle (open for delete, not sharing delete) is not yet closed Windows
  // refuses every other open, so a read right then comes back empty.
  std::string AwaitFile(const std::filesystem::path& p, const std::atomic<int>& exitCode) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      const bool ended = exitCode.load() != -1;  // before the read: a publisher that ended has closed the file
      std::string text = ReadText(p.string());
      if (!text.empty() || ended || std::chrono::steady_clock::now() >= deadline) return text;
      Nap();
    }
  }
  std::string Quote(const std::filesystem::path& p) { return "\"" + p.string() + "\""; }
};

TEST_F(CrossProcessContract, TwoProcessesWritingManyEntriesLoseNothing) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook("; shared phonebook\n[Seed]\nPhoneNumber=1\n");
  int codeA = -1, codeB = -1;
  std::thread a([&] { codeA = RunCommand(HelperCommand() + " add-entries A 60"); });
  std::thread b([&] { codeB = RunCommand(HelperCommand() + " add-entries B 60"); });
  // Meanwhile this process reads: the file is never seen half-written.
  std::atomic<bool> done{false};
  int reads = 0, bad = 0;
  std::thread reader([&] {
    while (!done) {
      DWORD r;
      Entries(&r);
      ++reads;
      if (r != 0) ++bad;
    }
  });
  a.join();
  b.join();
  done = true;
  reader.join();
  EXPECT_EQ(codeA, 0);
  EXPECT_EQ(codeB, 0);
  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  DWORD r;
  std::vector<std::string> names = Entries(&r);
  ASSERT_EQ(r, 0u);
  EXPECT_EQ(names.size(), 121u);
  for (int i = 0; i < 60; ++i) {
    EXPECT_NE(std::find(names.begin(), names.end(), "A" + std::to_string(i)), names.end()) << i;
    EXPECT_NE(std::find(names.begin(), names.end(), "B" + std::to_string(i)), names.end()) << i;
  }
  EXPECT_EQ(ReadText(PhonebookPath()).rfind("; shared phonebook\n[Seed]\n", 0), 0u);
}

TEST_F(CrossProcessContract, AConnectionOfAnotherProcessIsListedInspectedAndHungUp) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("phonebook file");
  Phonebook({{"Remote", "QuorStepDelay=10\nQuorTeardown=500\nDEVICE=vpn"}});
  auto handleFile = Dir() / "handle.txt";
  auto doneFile = Dir() / "done.txt";
  std::atomic<int> code{-1};
  std::thread owner(
      [&] { code = RunCommand(HelperCommand() + " dial-hold Remote " + Quote(handleFile) + " " + Quote(doneFile)); });
  // The owner is joined whatever happens below, so a failed check reports
  // instead of tearing the test program down with a running thread.
  struct Joiner {
    std::thread& t;
    ~Joiner() {
      if (t.joinable()) t.join();
    }
  } joiner{owner};
  std::string text = AwaitFile(handleFile, code);
  ASSERT_FALSE(text.empty()) << "the other process published no handle (its exit code: " << code.load() << ")";
  THRasConn h = static_cast<THRasConn>(std::stoull(text));
  auto conns = Connections();
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_EQ(THRasConn{conns[0].hrasconn}, h);
  EXPECT_STREQ(conns[0].szEntryName, "Remote");
  EXPECT_STREQ(conns[0].szDeviceName, "Quor VPN Port");
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  // A handle from here and one from there never collide.
  WritePhonebook(ReadText(PhonebookPath()) + "[Local]\nQuorStepDelay=10\n");
  THRasConn mine;
  ASSERT_EQ(StartDial("Local", mine), 0u);
  EXPECT_NE(mine, h);
  api_.HangUpA(mine);

  EXPECT_EQ(api_.HangUpA(h), 0u);
  EXPECT_TRUE(Connections().empty()) << "a hung-up call is not listed";
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Disconnected);
  owner.join();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadText(doneFile.string()), "ended after teardown") << "the owner saw the call end";
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
}

TEST_F(CrossProcessContract, AHangUpFromAnotherProcessEndsADialWithAnErrorEvent) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("phonebook file");
  THRasConn h = 0;
  ASSERT_TRUE(Dialling(h, "Office", "QuorStepDelay=100"));
  RunFor(250);
  ASSERT_EQ(RunCommand(HelperCommand() + " hangup " + std::to_string(h)), 0);
  RunFor(2000);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().error, ERROR_PORT_DISCONNECTED) << "the dialler hears that the port was disconnected";
  for (const DialEvent& e : Events()) EXPECT_NE(e.state, RASCS_Connected);
  api_.HangUpA(h);
}

TEST_F(CrossProcessContract, ConnectionsOfAProcessThatIsGoneAreNotListed) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("phonebook file");
  Phonebook({{"Orphan", "QuorStepDelay=10"}});
  auto handleFile = Dir() / "handle.txt";
  ASSERT_EQ(RunCommand(HelperCommand() + " dial-exit Orphan " + Quote(handleFile)), 0);
  THRasConn h = static_cast<THRasConn>(std::stoull(ReadText(handleFile.string())));
  EXPECT_TRUE(Connections().empty());
  TRasConnStatusA st;
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(api_.HangUpA(h), ERROR_INVALID_HANDLE);
}

// A record stays live while its owner lives, and no longer: not while some
// process has the id the owner had (an owner in a process-id namespace of its
// own is 1 there; an id is handed to a new process once its holder is gone).
// Records written by older versions (no owner mark, no phonebook, no check
// line) are still read, their owner told by its process id, their phonebook
// taken for the default one.
TEST_F(CrossProcessContract, ARecordOutlivesItsOwnerUnderNoProcessId) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("state folder");
  Phonebook({{"Orphan", "QuorStepDelay=10"}});
  const std::string self = std::to_string(OwnProcessId());
  // The record's lines with OwnerPid set (when `pid` is given) and without
  // the check line, which a record written whole need not have; `legacy`
  // also drops the lines older versions did not write.
  const auto rewrite = [](const std::filesystem::path& record, const std::string& pid, bool legacy) {
    std::istringstream in(ReadText(record.string()));
    std::string text, line;
    while (std::getline(in, line)) {
      const bool older = line.rfind("Owner=", 0) == 0 || line.rfind("Phonebook=", 0) == 0;
      if (line.rfind("Check=", 0) == 0 || (legacy && older)) continue;
      if (!pid.empty() && line.rfind("OwnerPid=", 0) == 0) line = "OwnerPid=" + pid;
      text += line + "\n";
    }
    WriteText(record.string(), text);
  };
  struct Case {
    const char* what;
    bool ownNamespace;
    std::string pid;  // the record's OwnerPid made this ("": as written)
    bool legacy;
    bool listed;
  };
  const Case cases[] = {
      {"the owner was process 1 of a namespace of its own", true, "", false, false},
      {"the owner's id now belongs to a live process", false, self, false, false},
      {"an older version's record, its owner gone", false, "", true, false},
      {"an older version's record, its owner alive", false, self, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto handleFile = Dir() / "handle.txt";
    std::filesystem::remove(handleFile);
    std::string command = HelperCommand() + " dial-exit Orphan " + Quote(handleFile);
    if (c.ownNamespace) {
      command = InOwnPidNamespace(command);
      if (command.empty()) {
        std::printf("[  SKIPPED ] %s: this system does not let the test make a process-id namespace\n", c.what);
        continue;
      }
    }
    ASSERT_EQ(RunCommand(command), 0);
    const THRasConn h = static_cast<THRasConn>(std::stoull(ReadText(handleFile.string())));
    char name[40];
    std::snprintf(name, sizeof name, "conn-%0*llx", static_cast<int>(2 * sizeof h), static_cast<unsigned long long>(h));
    const auto record = Dir() / "state" / name;
    if (!c.pid.empty() || c.legacy) rewrite(record, c.pid, c.legacy);
    const auto conns = Connections();
    EXPECT_EQ(conns.size(), c.listed ? 1u : 0u);
    TRasConnStatusA st;
    EXPECT_EQ(Status(h, st), c.listed ? 0u : ERROR_INVALID_HANDLE);
    if (c.listed) {
      THRasConn again = 0;
      EXPECT_EQ(StartDial("Orphan", again), 0u);
      EXPECT_EQ(again, h) << "a record that names no phonebook is of the default one";
    }
    std::filesystem::remove(record);
  }
}

// An entry has one connection however many dials of it start together, in
// as many processes: each waits at the state folder's lock until all have
// started; then one makes the call and the others join it or hear that it is
// being dialled.
TEST_F(CrossProcessContract, DialsOfAnEntryStartedTogetherMakeOneConnection) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("state folder");
  Phonebook({{"Office", "QuorStepDelay=10\nDEVICE=vpn"}});
  std::filesystem::create_directories(Dir() / "state");
  const intptr_t lock = LockFile((Dir() / "state" / "registry.lock").string());
  ASSERT_NE(lock, -1);
  constexpr int kDials = 4;
  std::atomic<int> codes[kDials];
  std::vector<std::thread> dials;
  for (int i = 0; i < kDials; ++i) {
    codes[i] = -1;
    const std::string files = Quote(Dir() / ("handle" + std::to_string(i))) + " " + Quote(Dir() / "done");
    dials.emplace_back([&, i, files] { codes[i] = RunCommand(HelperCommand() + " dial-hold Office " + files); });
  }
  struct Joiner {
    std::vector<std::thread>& ts;
    ~Joiner() {
      for (auto& t : ts)
        if (t.joinable()) t.join();
    }
  } joiner{dials};
  // Real time for the processes to start and reach the lock.
  for (int i = 0; i < 250; ++i) Nap();
  UnlockFile(lock);
  std::vector<THRasConn> handles;
  for (int i = 0; i < kDials; ++i) {
    const std::string text = AwaitFile(Dir() / ("handle" + std::to_string(i)), codes[i]);
    if (!text.empty()) handles.push_back(static_cast<THRasConn>(std::stoull(text)));
  }
  const auto conns = Connections();
  for (const TRasConnA& c : conns) EXPECT_EQ(api_.HangUpA(c.hrasconn), 0u);  // the holders end
  ASSERT_EQ(conns.size(), 1u) << "of " << handles.size() << " dials that got a handle";
  for (THRasConn h : handles) EXPECT_EQ(h, THRasConn{conns[0].hrasconn}) << "each joined the one call";
}

// A registration for every connection hears of those another process makes
// and ends: each event is signalled for the flags it asked for, and only then.
TEST_F(CrossProcessContract, EveryConnectionIsSignalledWhicheverProcessMakesOrEndsIt) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("phonebook file");
  const auto notify = reinterpret_cast<TRasConnectionNotification>(
      reinterpret_cast<void (*)()>(GetProcAddress(lib_, "RasConnectionNotificationA")));
  ASSERT_NE(notify, nullptr);
  Phonebook({{"Remote", "QuorStepDelay=10\nDEVICE=vpn"}});
  const DWORD kFlags[] = {RASCN_Connection, RASCN_Disconnection, RASCN_Connection | RASCN_Disconnection};
  HANDLE events[3];
  for (int i = 0; i < 3; ++i) {
    events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(notify(RAS_ALL_CONNECTIONS, events[i], kFlags[i]), 0u) << i;
  }
  // Which events are signalled, each reset after the look.
  const auto signalled = [&] {
    std::string which;
    for (int i = 0; i < 3; ++i) {
      which += WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0 ? '1' : '0';
      ResetEvent(events[i]);
    }
    return which;
  };
  const auto handleFile = Dir() / "handle.txt";
  std::atomic<int> code{-1};
  std::thread owner([&] {
    code = RunCommand(HelperCommand() + " dial-hold Remote " + Quote(handleFile) + " " + Quote(Dir() / "done.txt"));
  });
  struct Joiner {
    std::thread& t;
    ~Joiner() {
      if (t.joinable()) t.join();
    }
  } joiner{owner};
  const std::string text = AwaitFile(handleFile, code);
  ASSERT_FALSE(text.empty()) << "the other process published no handle (its exit code: " << code.load() << ")";
  const std::string nothing = signalled();
  RunFor(300);
  EXPECT_EQ(nothing + signalled(), "000101") << "nothing before the look; then a connection made";
  RunFor(300);
  EXPECT_EQ(signalled(), "000") << "told once";
  ASSERT_EQ(RunCommand(HelperCommand() + " hangup " + text), 0);
  RunFor(300);
  EXPECT_EQ(signalled(), "011") << "a connection ended";
  owner.join();
  EXPECT_EQ(code, 0);
  for (HANDLE e : events) CloseHandle(e);
}

}  // namespace
}  // namespace rassimtest
