// How our library treats its files: a state folder it must not trust,
// rewrites that keep a file's mode and links, temporary files of killed
// writers, stored parameters of two phonebooks in one folder, and the
// one-connection-per-entry rule. Our library's own guarantees: skipped for
// other targets.
#include <chrono>
#include <cstring>
#include <functional>
#include <set>

#include "tests/rassim/ContractFixture.h"

namespace fs = std::filesystem;

namespace rassimtest {
namespace {

constexpr DWORD kDialAlreadyInProgress = 756;  // ERROR_DIAL_ALREADY_IN_PROGRESS of later RAS headers

class FileSafety : public RasContract {
 protected:
  void SetUp() override {
    RasContract::SetUp();
    RAS_SIMULATION_ONLY("files");
    if (!api_.Reset) GTEST_SKIP() << "guarantees of our library";
    Phonebook({{"Office", "DEVICE=modem"}});
  }
  void UseStateDir(const fs::path& p) { SetEnv("QUOR_RAS_STATE_DIR", p.string()); }
};

TEST_F(FileSafety, AStateFolderThatCannotBeTrustedFailsEveryCallAtOnce) {
  struct Case {
    const char* what;
    bool posixOnly;
    bool listFails;                                 // else only what writes fails
    std::function<fs::path(const fs::path&)> make;  // returns the state folder to use
  };
  const Case cases[] = {
      {"a regular file", false, true,
       [](const fs::path& d) {
         WriteText((d / "plain").string(), "x");
         return d / "plain";
       }},
      {"a folder others may write to", true, true,
       [](const fs::path& d) {
         fs::create_directory(d / "open");
         fs::permissions(d / "open", fs::perms::all);
         return d / "open";
       }},
      {"a symbolic link to a private folder", true, true,
       [](const fs::path& d) {
         fs::create_directory(d / "real");
         fs::permissions(d / "real", fs::perms::owner_all);
         fs::create_directory_symlink(d / "real", d / "link");
         return d / "link";
       }},
      {"a planted lock link", true, false,
       [](const fs::path& d) {
         fs::create_directory(d / "planted");
         fs::permissions(d / "planted", fs::perms::owner_all);
         fs::create_symlink(d / "victim", d / "planted" / "registry.lock");
         return d / "planted";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.posixOnly && !PosixFiles()) continue;
    UseStateDir(c.make(Dir()));
    THRasConn h = 0;
    EXPECT_EQ(StartDial("Office", h), ERROR_RASMAN_CANNOT_INITIALIZE);
    EXPECT_EQ(h, 0u);
    DWORD result = 0;
    Connections(&result);
    EXPECT_EQ(result, c.listFails ? ERROR_RASMAN_CANNOT_INITIALIZE : 0u);
    RunFor(3000);
    EXPECT_TRUE(Events().empty());
    EXPECT_FALSE(fs::exists(Dir() / "victim")) << "no file made through a planted link";
  }
}

TEST_F(FileSafety, ARecordThatCannotBeWrittenMidDialFailsTheDial) {
  // The registry's lock replaced by a folder 700 ms into the dial (after OpenPort and PortOpened): nobody, root
  // included, can take it, so the next state cannot be written.
  static fs::path lock;
  lock = Dir() / "state" / "registry.lock";
  auto block = [](void*) {
    fs::remove(lock);
    fs::create_directory(lock);
  };
  using Seen = std::vector<std::pair<TRasConnState, DWORD>>;
  const Seen expected = {{RASCS_OpenPort, 0}, {RASCS_PortOpened, 0}, {RASCS_ConnectDevice, 711}};
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "asynchronous" : "synchronous");
    ClearEvents();
    fs::remove_all(lock);
    QuorClockSchedule(700, block, nullptr);
    THRasConn h = 0;
    if (async) {
      ASSERT_EQ(StartDial("Office", h), 0u);
      RunFor(5000);
      Seen seen;
      for (const DialEvent& e : Events()) seen.push_back({e.state, e.error});
      EXPECT_EQ(seen, expected);
    } else {
      EXPECT_EQ(SyncDial("Office", h), 711u);
    }
    TRasConnStatusA st;
    ASSERT_EQ(Status(h, st), 0u);
    EXPECT_EQ(std::make_pair(st.rasconnstate, st.dwError), expected.back());
    api_.HangUpA(h);
    RunFor(1500);  // the teardown ends; its record goes
  }
}

TEST_F(FileSafety, RewritesKeepTheModeAndWriteThroughALink) {
  if (!PosixFiles()) GTEST_SKIP() << "modes and links are POSIX";
  const fs::path real = Dir() / "real.pbk";
  fs::rename(PhonebookPath(), real);
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(real, Dir() / "link.pbk");
  SetEnv("QUOR_RAS_PHONEBOOK", (Dir() / "link.pbk").string());
  ASSERT_EQ(api_.RenameEntryA(nullptr, "Office", "Work"), 0u);
  EXPECT_TRUE(fs::is_symlink(Dir() / "link.pbk"));
  EXPECT_NE(ReadText(real.string()).find("[Work]"), std::string::npos);
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(FileSafety, RewritesKeepFileMarksAndLeaveAReadOnlyFileAlone) {
  const std::string pbk = PhonebookPath();
  if (!SetFileMarks(pbk, true, false) || FileMarks(pbk) != "hidden")
    GTEST_SKIP() << "no hidden mark on this system's files";
  ASSERT_EQ(api_.RenameEntryA(nullptr, "Office", "Work"), 0u);
  EXPECT_EQ(FileMarks(pbk), "hidden");
  ASSERT_TRUE(SetFileMarks(pbk, false, true));
  const std::string before = ReadText(pbk);
  EXPECT_EQ(api_.RenameEntryA(nullptr, "Work", "Home"), static_cast<DWORD>(ERROR_CANNOT_WRITE_PHONEBOOK));
  EXPECT_EQ(ReadText(pbk), before);
  EXPECT_EQ(FileMarks(pbk), "readonly");
  SetFileMarks(pbk, false, false);
}

TEST_F(FileSafety, TemporaryFilesOfEarlierWritersNeitherBlockNorStay) {
  // One left by a killed writer whose process id we now have, one by a writer long gone.
  const std::string mine = PhonebookPath() + ".tmp." + std::to_string(GetCurrentProcessId()) + ".1";
  const std::string gone = PhonebookPath() + ".tmp.2147483000.1";
  WriteText(mine, "[Old]\n");
  WriteText(gone, "[Old]\n");
  EXPECT_EQ(api_.RenameEntryA(nullptr, "Office", "Work"), 0u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Work"});
  EXPECT_FALSE(fs::exists(gone));
}

TEST_F(FileSafety, StoredParametersBelongToTheirPhonebook) {
  const std::string work = (Dir() / "work.pbk").string(), home = (Dir() / "home.pbk").string();
  WriteText(work, "[Office]\nPhoneNumber=1\n");
  WriteText(home, "[Office]\nPhoneNumber=2\n");
  auto params = [](const char* user, const char* password) {
    TRasDialParamsA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, "Office");
    std::strcpy(p.szUserName, user);
    std::strcpy(p.szPassword, password);
    return p;
  };
  SetEnv("QUOR_RAS_PHONEBOOK", work);
  TRasDialParamsA w = params("joe", "w0rk");
  ASSERT_EQ(api_.SetEntryDialParamsA(nullptr, &w, FALSE), 0u);
  SetEnv("QUOR_RAS_PHONEBOOK", home);
  TRasDialParamsA got = params("", "");
  BOOL pw = TRUE;
  api_.GetEntryDialParamsA(nullptr, &got, &pw);
  EXPECT_EQ(std::string(got.szUserName) + "|" + got.szPassword + "|" + std::to_string(pw), "||0");
  ASSERT_EQ(api_.RenameEntryA(nullptr, "Office", "Elsewhere"), 0u);
  SetEnv("QUOR_RAS_PHONEBOOK", work);
  got = params("", "");
  ASSERT_EQ(api_.GetEntryDialParamsA(nullptr, &got, &pw), 0u);
  EXPECT_EQ(std::string(got.szUserName) + "|" + got.szPassword + "|" + std::to_string(pw), "joe|w0rk|1");
}

TEST_F(FileSafety, AnEntryHasOneConnectionAtATime) {
  THRasConn first = 0, second = 0;
  ASSERT_EQ(StartDial("Office", first), 0u);
  RunFor(100);
  EXPECT_EQ(StartDial("office", second), kDialAlreadyInProgress) << "still being dialled";
  RunFor(5000);
  ASSERT_EQ(Events().back().state, RASCS_Connected);
  ClearEvents();
  ASSERT_EQ(StartDial("Office", second), 0u);
  EXPECT_EQ(second, first) << "the dial joins the connection";
  RunFor(10);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].state, RASCS_Connected);
  EXPECT_EQ(Connections().size(), 1u);
  api_.HangUpA(first);
}

// A connection belongs to its phonebook's file and its entry: a dial of the
// entry through another spelling of the file's name joins it; the entry of the
// same name in another phonebook is a connection of its own, hung up alone.
TEST_F(FileSafety, AConnectionBelongsToItsPhonebookAndEntry) {
  WriteText((Dir() / "b.pbk").string(), ReadText(PhonebookPath()));
  struct Case {
    const char* what;
    fs::path phonebook;
    bool joins;
  };
  const Case cases[] = {
      {"the same file by another name", Dir() / "." / "rasphone.pbk", true},
      {"the same-named entry of another phonebook", Dir() / "b.pbk", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    THRasConn first = 0, second = 0;
    ASSERT_EQ(StartDial("Office", first), 0u);  // the default phonebook
    RunFor(5000);
    const std::string book = c.phonebook.string();
    ASSERT_EQ(StartDial("Office", second, "", "", book.c_str()), 0u);
    RunFor(5000);
    EXPECT_EQ(second == first, c.joins);
    EXPECT_EQ(Connections().size(), c.joins ? 1u : 2u);
    api_.HangUpA(second);
    RunFor(10);
    TRasConnStatusA st;
    EXPECT_EQ(Status(first, st) == 0 && st.rasconnstate == RASCS_Connected, !c.joins) << "the other call is up";
    api_.HangUpA(first);
    RunFor(2000);
    ClearEvents();
  }
}

// The record of an ended call is kept as a spare and renamed into place for
// the next call, so a dial in a folder in use creates no file; a pool whose
// count names files that are gone, or holds a file of another length, still
// serves every dial.
TEST_F(FileSafety, RecordsOfEndedCallsServeTheNextCalls) {
  const fs::path state = Dir() / "state";
  const auto files = [&] {  // the record and pool files, sorted
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(state)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("conn-", 0) == 0 || n.rfind("spare", 0) == 0) names.insert(n);
    }
    std::string all;
    for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
    return all;
  };
  const auto dialOffice = [&](THRasConn& h) {
    ASSERT_EQ(SyncDial("Office", h), 0u);
    ASSERT_EQ(Connections().size(), 1u);
    EXPECT_EQ(fs::file_size(state / files().substr(0, 5 + 2 * sizeof(THRasConn))), 512u) << files();
  };
  THRasConn h = 0;
  dialOffice(h);
  HangUp(h);
  RunFor(5000);
  ASSERT_EQ(files(), "spare-00000000 spares");
  const std::string spare = FileIdentity((state / "spare-00000000").string());
  struct Case {
    const char* what;
    std::function<void()> before;  // done to the pool before the dial
  };
  const Case cases[] = {
      {"the spare of the last call", [] {}},
      {"a count naming spares that are gone",
       [&] {
         std::FILE* f = std::fopen((state / "spares").string().c_str(), "wb");
         ASSERT_NE(f, nullptr);
         std::fputs("3\n", f);
         std::fclose(f);
       }},
      {"a spare of another length",
       [&] {
         std::FILE* f = std::fopen((state / "spare-00000000").string().c_str(), "ab");
         ASSERT_NE(f, nullptr);
         std::fputs("left over\n", f);
         std::fclose(f);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    dialOffice(h);
    const std::string now = files();
    EXPECT_TRUE(now.rfind("conn-", 0) == 0 && now.substr(5 + 2 * sizeof(THRasConn)) == " spares")
        << now << ": the spare became the record";
    if (!spare.empty() && &c == &cases[0]) {
      EXPECT_EQ(FileIdentity((state / files().substr(0, 5 + 2 * sizeof(THRasConn))).string()), spare)
          << "renamed, not created";
    }
    TRasConnStatusA st;
    EXPECT_EQ(Status(h, st), 0u);
    EXPECT_EQ(st.rasconnstate, RASCS_Connected);
    HangUp(h);
    RunFor(5000);
    EXPECT_EQ(files(), "spare-00000000 spares");
  }
  // A file that is no record of its handle (a writer killed after taking a
  // spare) is not listed, and the listing retires it.
  fs::copy_file(state / "spare-00000000", state / ("conn-" + std::string(2 * sizeof(THRasConn) - 3, '0') + "abc"));
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(files(), "spare-00000000 spare-00000001 spares");
}

// The service keeps the last phonebook it read while the file's size, time
// and identity stay the same; a change in any one of them, made by another
// writer with the others kept, is read again. Only a settled file is kept: one
// changed within the file system's clock tick (here: dated ahead) could change
// again without its stamp changing. A file system whose times keep whole
// seconds (ext4 with small inodes; FAT keeps 2 s) is played by dating the
// file to the even second just past, as such a file system would date both
// versions written within that tick.
TEST_F(FileSafety, APhonebookKeptFromAnEarlierReadIsReadAgainWhenItChanges) {
  const fs::path book = PhonebookPath();
  const fs::path other = Dir() / "other.pbk";
  const auto writeDated = [](const fs::path& p, const std::string& text, fs::file_time_type when) {
    WriteText(p.string(), text);
    fs::last_write_time(p, when);
  };
  const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(10);
  const auto ahead = fs::file_time_type::clock::now() + std::chrono::seconds(60);
  const auto recent = fs::file_time_type::clock::now() - std::chrono::milliseconds(100);
  auto tick = std::chrono::floor<std::chrono::seconds>(recent.time_since_epoch());
  tick -= tick % std::chrono::seconds(2);
  const fs::file_time_type coarse{tick};
  struct Case {
    const char* what;
    fs::file_time_type start;
    std::function<void()> change;  // from "[Alpha]\n..." (Alpha kept, read once)
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {"nothing changed", when, [] {}, {"Alpha"}},
      {"the same length rewritten in place, a new time",
       when,
       [&] { writeDated(book, "[Omega]\nDEVICE=modem\n", when + std::chrono::seconds(1)); },
       {"Omega"}},
      {"a longer file at the same time",
       when,
       [&] { writeDated(book, "[Alpha]\nDEVICE=modem\n[Beta]\n", when); },
       {"Alpha", "Beta"}},
      {"another file of the same length and time renamed over it",
       when,
       [&] {
         writeDated(other, "[Gamma]\nDEVICE=modem\n", when);
         fs::rename(other, book);
       },
       {"Gamma"}},
      {"a file not settled rewritten in place, the same length and time",
       ahead,
       [&] { writeDated(book, "[Delta]\nDEVICE=modem\n", ahead); },
       {"Delta"}},
      {"the same length rewritten in place within a whole-second tick",
       coarse,
       [&] { writeDated(book, "[Kappa]\nDEVICE=modem\n", coarse); },
       {"Kappa"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeDated(book, "[Alpha]\nDEVICE=modem\n", c.start);
    ASSERT_EQ(Entries(), std::vector<std::string>{"Alpha"});
    c.change();
    EXPECT_EQ(Entries(), c.listed);
  }
}

TEST_F(FileSafety, ADialEventThatCannotBePostedFailsTheCallVisibly) {
  THRasConn h = 0;
  ASSERT_EQ(StartDial("Office", h), 0u);
  // The notifier's queue is full when the first event is due.
  int posted = 0;
  while (posted < 100000 && PostMessageA(EventWindow(), WM_USER, 0, 0)) ++posted;
  if (posted == 100000) {
    Pump();
    api_.HangUpA(h);
    GTEST_SKIP() << "this system's queue takes every post";
  }
  QuorClockAdvance(1000);
  TRasConnStatusA st;
  EXPECT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.dwError, ERROR_OUT_OF_BUFFERS);
  Pump();
  api_.HangUpA(h);
}

// A lock or phonebook another process put in the way ends the call with an
// error at once: nothing waits for ever, nothing is made through a link.
TEST_F(FileSafety, APlantedLockOrPipeFailsTheCallWithoutWaiting) {
  if (!PosixFiles()) GTEST_SKIP() << "needs named pipes and symbolic links";
  SetEnv("QUOR_RAS_LOCK_WAIT_MS", "0");  // one try: the test never waits on the wall clock
  const std::string lock = PhonebookPath() + ".lock";
  const fs::path victim = Dir() / "victim";
  struct Case {
    const char* what;
    bool listFails;  // else only the rename (which takes the lock) fails
    std::function<int()> plant;
  };
  const Case cases[] = {
      {"a lock held by another process", false, [&] { return HoldLock(lock); }},
      {"a lock file that is a link", false,
       [&] {
         fs::create_symlink(victim, lock);
         return -1;
       }},
      {"a named pipe for the phonebook", true,
       [&] {
         fs::remove(PhonebookPath());
         return MakePipe(PhonebookPath()) ? -1 : -2;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Phonebook({{"Office", "DEVICE=modem"}});
    fs::remove(lock);
    const int held = c.plant();
    ASSERT_NE(held, -2) << "cannot plant it";
    EXPECT_NE(api_.RenameEntryA(nullptr, "Office", "Home"), 0u);
    DWORD result = 0;
    Entries(&result);
    EXPECT_EQ(result != 0, c.listFails);
    EXPECT_FALSE(fs::exists(fs::symlink_status(victim))) << "no file made through a planted link";
    DropLock(held);
    fs::remove(lock);
    fs::remove(PhonebookPath());
  }
  UnsetEnv("QUOR_RAS_LOCK_WAIT_MS");
}

// The default phonebook's folder must be the user's own: one others may write
// to is refused, its entries are not listed, nothing is stored through its links.
TEST_F(FileSafety, ADefaultFolderOthersMayWriteToIsRefused) {
  if (!PosixFiles()) GTEST_SKIP() << "the default folder is chosen by XDG_CONFIG_HOME on POSIX systems";
  const fs::path open = Dir() / "config" / "quor";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all);
  WriteText((open / "rasphone.pbk").string(), "[Planted]\nPhoneNumber=1\nDEVICE=modem\n");
  fs::create_symlink(Dir() / "victim", open / "credentials.dat");
  UnsetEnv("QUOR_RAS_PHONEBOOK");
  UnsetEnv("QUOR_RAS_CREDENTIALS");
  SetEnv("XDG_CONFIG_HOME", (Dir() / "config").string());
  DWORD result = 0;
  EXPECT_EQ(Entries(&result), std::vector<std::string>{});
  EXPECT_NE(result, 0u);
  TRasDialParamsA p{};
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Planted");
  std::strcpy(p.szUserName, "joe");
  std::strcpy(p.szPassword, "secret");
  EXPECT_NE(api_.SetEntryDialParamsA(nullptr, &p, FALSE), 0u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Dir() / "victim")));
  UnsetEnv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace rassimtest
