// The component against the simulated RAS service (the rasapi32.dll beside
// the test), in virtual time, with a private phonebook per test. Arguments
// the component passed are read back through the service's control exports.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "QuorTest.h"
#include "RasSim/RasSimControl.h"
#include "SimEnv.h"
#include "tools/QuorDialer/DialerText.h"

namespace fs = std::filesystem;

namespace {

template <typename F>
F Control(const char* Name) {
  // Through void (*)(): the usual way to turn an export into its real type.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(hLib, Name)));
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(1);
    std::random_device rd;
    fDir = fs::temp_directory_path() / ("tquor-sim-" + std::to_string(rd()));
    fs::create_directories(fDir);
    std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n"
                                         << "[Home]\nDEVICE=isdn\nDevice=Sim ISDN\nPhoneNumber=555-0200\n";
    SetSimEnv("QUOR_RAS_PHONEBOOK", (fDir / "rasphone.pbk").string());
    SetSimEnv("QUOR_RAS_CREDENTIALS", (fDir / "credentials.dat").string());
    SetSimEnv("QUOR_RAS_STATE_DIR", (fDir / "state").string());
    fGuard = std::make_unique<TPresenterGuard>(&Boxes);
    Q = new TQuor(nullptr);
    ASSERT_TRUE(Q->RasInitialized) << "the simulated rasapi32.dll must sit beside the test";
    Control<TQuorRasSimReset>("QuorRasSimReset")();
    Log.Attach(*Q);
    Q->SetEntryName("Office");
  }
  void TearDown() override {
    delete Q;
    Application->ProcessMessages();
    fGuard.reset();
    std::error_code ec;
    fs::remove_all(fDir, ec);
  }
  QuorRasSimCallInfo LastCall(const char* Export) {
    QuorRasSimCallInfo info{};
    info.dwSize = sizeof(info);
    EXPECT_EQ(Control<TQuorRasSimLastCall>("QuorRasSimLastCall")(Export, &info), 0u) << Export;
    return info;
  }
  bool RunUntilEvent(const Ev& E, uint32_t Ms) {
    return Application->RunUntil([&] { return Log.Find(E) >= 0; }, Ms);
  }

  TQuor* Q = nullptr;
  TEventLog Log;
  TRecordingPresenter Boxes;
  fs::path fDir;

 private:
  std::unique_ptr<TPresenterGuard> fGuard;
};

TEST_F(SimTest, ConstructionBindsRasAndReadsThePhonebook) {
  EXPECT_EQ(QI::RASEvent(*Q), static_cast<Word>(RegisterWindowMessageA("RasDialEvent")));
  EXPECT_EQ(Q->PhoneBookEntries->Items(), (std::vector<String>{"Office", "Home"}));
  EXPECT_EQ(Boxes.Count(), 0u);
}

TEST_F(SimTest, ConstructionBindsRasBeforeItReadsThePhonebook) {
  // A corrupt phonebook makes the constructor's phonebook read show its
  // message; at that moment the timers, the lists and the binding must
  // already be in place.
  std::ofstream(fDir / "rasphone.pbk", std::ios::binary) << "[Office]\nDEVICE=modem" << '\0' << "\n";
  TComponent owner(nullptr);
  struct {
    int Calls = 0, Owned = -1;
    Cardinal Look = 0, Redial = 0, Check = 0;
    bool AnyEnabled = true, Bound = false, Lists = false;
    Word Event = 0;
  } seen;
  Boxes.Clear();
  Boxes.OnCall = [&](const TPresenterCall&) {
    auto* q = static_cast<TQuor*>(owner.Components(0));  // the component being built
    ++seen.Calls;
    seen.Owned = q->ComponentCount();
    seen.Bound = q->RasInitialized;
    seen.Event = QI::RASEvent(*q);
    seen.Lists = q->Connections != nullptr && q->PhoneBookEntries != nullptr;
    if (!QI::LookForWindow(*q) || !QI::Redial(*q) || !QI::CheckStatus(*q)) return;
    seen.Look = QI::LookForWindow(*q)->Interval();
    seen.Redial = QI::Redial(*q)->Interval();
    seen.Check = QI::CheckStatus(*q)->Interval();
    seen.AnyEnabled = QI::LookForWindow(*q)->Enabled() || QI::Redial(*q)->Enabled() || QI::CheckStatus(*q)->Enabled();
  };
  auto* q = new TQuor(&owner);
  Boxes.OnCall = nullptr;
  EXPECT_EQ(Boxes.Texts(), std::vector<String>{"RAS phonebook is corrupted."});
  EXPECT_EQ(seen.Calls, 1);
  EXPECT_EQ(seen.Owned, 3) << "the three timers exist";
  EXPECT_EQ(seen.Look, 100u);
  EXPECT_EQ(seen.Redial, 10000u);
  EXPECT_EQ(seen.Check, 500u);
  EXPECT_FALSE(seen.AnyEnabled);
  EXPECT_TRUE(seen.Bound);
  EXPECT_EQ(seen.Event, static_cast<Word>(RegisterWindowMessageA("RasDialEvent")));
  EXPECT_TRUE(seen.Lists);
  EXPECT_EQ(q->PhoneBookEntries->Count(), 0);
}

TEST_F(SimTest, ComponentsShareTheBindingEachWithItsOwnReference) {
  const HMODULE lib = hLib;
  auto* second = new TQuor(nullptr);
  EXPECT_TRUE(second->RasInitialized);
  EXPECT_EQ(hLib, lib);
  delete second;
  // The first component still holds the library: it still works.
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 2);
  EXPECT_NE(GetProcAddress(hLib, "RasDialA"), nullptr);
  EXPECT_NE(GetModuleHandleA("rasapi32.dll"), HMODULE{});
  // The last component gives the last reference back.
  delete Q;
  Q = nullptr;
  EXPECT_EQ(GetModuleHandleA("rasapi32.dll"), HMODULE{});
}

TEST_F(SimTest, DialConnectAndHangUp) {
  Q->SetUserName("joe");
  Q->SetPassword("pw");
  const THRasConn h = Q->Connect();
  ASSERT_NE(h, 0);
  const QuorRasSimCallInfo dial = LastCall("RasDialA");
  EXPECT_EQ(dial.dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_NULL));
  EXPECT_EQ(dial.dwNotifierType, 0xFFFFFFFFu);
  EXPECT_EQ(dial.dwNotifier, fakeras::HandleValue(Q->fWindowHandle));
  EXPECT_EQ(dial.fExtensions, 0u);
  TRasDialParams sent{};
  sent.dwSize = sizeof(sent);
  ASSERT_EQ(Control<TQuorRasSimLastDialParams>("QuorRasSimLastDialParams")(&sent), 0u);
  EXPECT_EQ(sent.dwSize, 1052u);
  EXPECT_STREQ(sent.szEntryName, "Office");
  EXPECT_STREQ(sent.szUserName, "joe");
  EXPECT_STREQ(sent.szPassword, "pw");
  EXPECT_STREQ(sent.szPhoneNumber, "");

  ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
  EXPECT_EQ(Log.Events.front(), (Ev{'N', 0, "Dialing Office..."}));
  const int using_ = Log.Find(Ev{'N', 0, "Connecting device"});
  ASSERT_GE(using_, 0);
  EXPECT_EQ(Log.Events[static_cast<size_t>(using_) + 1].Text.rfind("Using modem: ", 0), 0u);
  EXPECT_EQ(Log.Find(Ev{'C', 0, ""}) + 1, Log.Find(Ev{'N', 0, "Connected"}));
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Items(), std::vector<String>{"Office"});
  EXPECT_EQ(Q->GetHandleByName("OFFICE"), h);

  Application->RunFor(3000);  // the watch sees a healthy line
  EXPECT_EQ(Log.Find(Ev{'D', 0, "Connection to server lost."}), -1);
  EXPECT_EQ(QI::ConnectState(*Q), RASCS_Connected);

  Log.Clear();
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Disconnect(), 0);
  EXPECT_EQ(QuorClockNow() - t0, 2000u);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}}));
  EXPECT_EQ(Control<TQuorRasSimCallCount>("QuorRasSimCallCount")("RasHangUpA"), 1u);
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Count(), 0);
}

TEST_F(SimTest, DroppedLineIsReportedLost) {
  const THRasConn h = Q->Connect();
  ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
  Log.Clear();
  ASSERT_EQ(Control<TQuorRasSimDropConnection>("QuorRasSimDropConnection")(static_cast<UINT_PTR>(h)), 0u);
  ASSERT_TRUE(RunUntilEvent(Ev{'D', 0, "Connection to server lost."}, 5000));
  const int lost = Log.Find(Ev{'D', 0, "Connection to server lost."});
  const int disc = Log.Find(Ev{'N', 0, "Disconnecting..."});
  ASSERT_GE(disc, 0);
  EXPECT_LT(disc, lost);
  EXPECT_EQ(Log.Snaps[static_cast<size_t>(lost)].Time - Log.Snaps[static_cast<size_t>(disc)].Time, 2000u);
  int count = 0;
  for (const Ev& e : Log.Events) count += e.Kind == 'D';
  EXPECT_EQ(count, 1);
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_EQ(QI::hRas(*Q), 0u);
}

TEST_F(SimTest, EventWatchAndFastHangUpAgainstTheService) {
  // The service's teardown lasts 1000 ms; a dropped line is gone at once.
  struct Case {
    bool Policies;
    uint64_t LossAfter, LostAfter, HangUp;  // drop to "Disconnecting...", to the loss, Disconnect's pause
  };
  for (const Case& c : {Case{false, 400, 2400, 2000}, Case{true, 0, 0, 1000}}) {
    SCOPED_TRACE(c.Policies);
    Q->SetWatchEvents(c.Policies);
    Q->SetFastHangUp(c.Policies);
    Log.Clear();
    const THRasConn h = Q->Connect();
    ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
    EXPECT_EQ(Q->WatchingEvents(), c.Policies);
    Application->RunFor(100);
    const uint64_t dropped = QuorClockNow();
    ASSERT_EQ(Control<TQuorRasSimDropConnection>("QuorRasSimDropConnection")(static_cast<UINT_PTR>(h)), 0u);
    ASSERT_TRUE(RunUntilEvent(Ev{'D', 0, "Connection to server lost."}, 5000));
    const int disc = Log.Find(Ev{'N', 0, "Disconnecting..."});
    ASSERT_GE(disc, 0);
    EXPECT_EQ(Log.Snaps[static_cast<size_t>(disc)].Time - dropped, c.LossAfter);
    EXPECT_EQ(Log.Snaps.back().Time - dropped, c.LostAfter);
    Log.Clear();
    Q->Connect();
    ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
    const uint64_t t0 = QuorClockNow();
    EXPECT_EQ(Q->Disconnect(), 0);
    EXPECT_EQ(QuorClockNow() - t0, c.HangUp);
    Log.Clear();
  }
}

TEST_F(SimTest, QueuedFailureIsRedialledAfterThePause) {
  ASSERT_EQ(Control<TQuorRasSimQueueFailure>("QuorRasSimQueueFailure")("Office", RASCS_ConnectDevice, 676), 0u);
  Q->SetRedialPause(5);
  Q->Connect();
  ASSERT_TRUE(RunUntilEvent(Ev{'N', 676, "Retrying in 5 seconds..."}, 30000));
  const int err = Log.Find(Ev{'N', 0, "Disconnecting..."}) - 1;
  ASSERT_GE(err, 0);
  EXPECT_EQ(Log.Events[static_cast<size_t>(err)].Err, 676);
  EXPECT_EQ(Log.Events[static_cast<size_t>(err)].Text.rfind("ERROR: ", 0), 0u);
  const size_t notice = Log.Events.size() - 1;
  ASSERT_TRUE(Application->RunUntil([&] { return Log.Events.size() > notice + 1; }, 10000));
  EXPECT_EQ(Log.Events[notice + 1], (Ev{'N', 0, "Dialing Office..."}));
  EXPECT_EQ(Log.Snaps[notice + 1].Time - Log.Snaps[notice].Time, 5000u);
  EXPECT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000)) << "the second attempt gets through";
}

TEST_F(SimTest, PhonebookOperationsPassTheirPhonebookKinds) {
  Q->GetPhoneBookEntries();
  EXPECT_EQ(LastCall("RasEnumEntriesA").dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_NULL));

  Q->SetUserName("joe");
  Q->SetPassword("pw");
  Q->SetPhoneNumber("555-0111");
  EXPECT_TRUE(Q->SetDialParams());
  EXPECT_EQ(LastCall("RasSetEntryDialParamsA").dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_NULL));
  Q->SetUserName("");
  Q->SetPhoneNumber("");
  EXPECT_TRUE(Q->GetDialParams("Office"));
  EXPECT_EQ(LastCall("RasGetEntryDialParamsA").dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_NULL));
  EXPECT_EQ(Q->UserName(), "joe");
  EXPECT_EQ(Q->PhoneNumber(), "555-0111");

  EXPECT_TRUE(Q->RenameEntry("Home", "Cottage"));
  QuorRasSimCallInfo rename = LastCall("RasRenameEntryA");
  EXPECT_EQ(rename.dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_EMPTY));
  EXPECT_STREQ(rename.szName, "Home");
  EXPECT_STREQ(rename.szName2, "Cottage");
  EXPECT_TRUE(Q->DeleteEntry("Cottage"));
  QuorRasSimCallInfo del = LastCall("RasDeleteEntryA");
  EXPECT_EQ(del.dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_EMPTY));
  EXPECT_STREQ(del.szName, "Cottage");
  EXPECT_FALSE(Q->DeleteEntry("Cottage")) << "gone already";

  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Items(), std::vector<String>{"Office"});

  Control<TQuorRasSimSetDialogAnswers>("QuorRasSimSetDialogAnswers")("Cancel=1\n");
  Q->CreateEntry(HWND{});
  EXPECT_EQ(LastCall("RasCreatePhonebookEntryA").dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_EMPTY));
  Q->EditEntry(HWND{}, "Office");
  QuorRasSimCallInfo edit = LastCall("RasEditPhonebookEntryA");
  EXPECT_EQ(edit.dwPhonebookKind, static_cast<DWORD>(QUORRASSIM_PHONEBOOK_EMPTY));
  EXPECT_STREQ(edit.szName, "Office");
}

// Statistics through the service in virtual time: 10^9 bytes a second wrap
// RAS's 32-bit counter every 4.3 s, the totals do not; OnStatistics comes at
// the interval set, on the status ticks; with the default interval nothing
// asks RAS for figures.
TEST_F(SimTest, StatisticsSurviveACounterWrapAndComeAtTheIntervalSet) {
  std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nPhoneNumber=555-0100\n"
                                       << "QuorReceiveRate=1000000000\nQuorSendRate=2000\nQuorSpeed=33600\n";
  const auto calls = [&] { return Control<TQuorRasSimCallCount>("QuorRasSimCallCount")("RasGetConnectionStatistics"); };
  Q->Connect();
  ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
  Application->RunFor(3000);
  EXPECT_EQ(calls(), 0u) << "the default interval reads nothing";
  std::vector<TQuorStatistics> seen;
  std::vector<uint64_t> at;
  Q->SetOnStatistics([&](const TQuorStatistics& S) {
    seen.push_back(S);
    at.push_back(Q->ConnectedMs());
  });
  Q->SetStatisticsInterval(2000);
  Application->RunFor(10000);
  ASSERT_GE(seen.size(), 4u);
  for (size_t i = 0; i < seen.size(); ++i) {
    const TQuorStatistics& s = seen[i];
    ASSERT_TRUE(s.Valid);
    EXPECT_EQ(s.DurationMs, at[i]);
    EXPECT_EQ(s.BytesReceived, 1000000ull * s.DurationMs) << "past every wrap of the 32-bit counter";
    EXPECT_EQ(s.BytesSent, 2ull * s.DurationMs);
    EXPECT_EQ(s.Bps, 33600u);
    EXPECT_DOUBLE_EQ(s.ReceiveRate, 1e9);
    if (i > 0) {
      EXPECT_GE(at[i] - at[i - 1], 2000u);
    }
  }
  EXPECT_GT(seen.back().BytesReceived, 2ull << 32) << "the counter wrapped twice";
  Q->Disconnect();
  EXPECT_FALSE(Q->Statistics().Valid);
}

// The reason of a dropped line reaches OnStateChange and LastLossReason;
// the loss is reported as always.
TEST_F(SimTest, ALostLineGivesItsReason) {
  const struct {
    const char* Keys;
    DWORD Error;
    Integer Reason;
  } cases[] = {{"", ERROR_INVALID_HANDLE, 0}, {"QuorDropReason=remote\n", 629, 629}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Keys);
    std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nPhoneNumber=555-0100\nQuorDropAfter=1\n" << c.Keys;
    std::vector<std::pair<DWORD, DWORD>> changes;
    Q->SetOnStateChange([&](DWORD State, DWORD Error) { changes.emplace_back(State, Error); });
    Log.Clear();
    Q->Connect();
    ASSERT_TRUE(RunUntilEvent(Ev{'D', 0, "Connection to server lost."}, 30000));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), std::make_pair(static_cast<DWORD>(RASCS_Disconnected), c.Error));
    EXPECT_EQ(Q->LastLossReason(), c.Reason);
    EXPECT_EQ(Q->LastLossText(), c.Reason ? TQuor::StateText(0, c.Reason) : String());
  }
}

// QuorDialer's texts from the figures of a scenario in virtual time: the
// status bar's traffic at each statistics reading, the reason of the loss.
TEST_F(SimTest, DialerShowsTrafficAndTheReasonOfALoss) {
  const struct {
    uint64_t Bytes;
    const char* Text;
  } sizes[] = {{0, "0 B"},          {1023, "1023 B"},       {1024, "1.0 KB"},
               {1536000, "1.5 MB"}, {5ull << 30, "5.0 GB"}, {2ull << 40, "2048.0 GB"}};
  for (const auto& c : sizes) EXPECT_EQ(quor_dialer::ByteText(c.Bytes), c.Text);
  EXPECT_EQ(quor_dialer::TrafficText(TQuorStatistics{}), "");
  EXPECT_EQ(quor_dialer::LossReasonText("Connection to server lost.", 0, ""), "");

  std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nPhoneNumber=555-0100\nQuorSendRate=2000\n"
                                       << "QuorReceiveRate=5000\nQuorDropAfter=10s\nQuorDropReason=remote\n";
  std::map<uint64_t, std::string> shown;  // by the connection's duration
  Q->SetOnStatistics([&](const TQuorStatistics& S) { shown[S.DurationMs] = quor_dialer::TrafficText(S); });
  Q->SetStatisticsInterval(1000);
  Q->Connect();
  ASSERT_TRUE(RunUntilEvent(Ev{'D', 0, "Connection to server lost."}, 60000));
  const struct {
    uint64_t At;
    const char* Text;
  } expected[] = {{1000, "sent 2.0 KB at 2.0 KB/s, received 4.9 KB at 4.9 KB/s"},
                  {4000, "sent 7.8 KB at 2.0 KB/s, received 19.5 KB at 4.9 KB/s"},
                  {9000, "sent 17.6 KB at 2.0 KB/s, received 43.9 KB at 4.9 KB/s"}};
  for (const auto& e : expected) {
    ASSERT_TRUE(shown.count(e.At)) << "no reading at " << e.At << " ms; readings: " << shown.size();
    EXPECT_EQ(shown[e.At], e.Text);
  }
  EXPECT_EQ(quor_dialer::LossReasonText("Connection to server lost.", Q->LastLossReason(), Q->LastLossText()),
            "Reason: RAS error 629: " + TQuor::StateText(0, 629));
  // A later hang-up by the user was no loss: the earlier loss's reason, still
  // recorded, is not its reason.
  std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nPhoneNumber=555-0100\n";
  String hungUp;
  Q->SetOnDisconnect([&](Integer, String S) { hungUp = S; });
  Q->Connect();
  ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
  Q->Disconnect();
  Application->RunFor(5000);
  EXPECT_EQ(quor_dialer::LossReasonText(hungUp, Q->LastLossReason(), Q->LastLossText()), "") << hungUp;
}

}  // namespace

TEST_F(SimTest, HandlerFreesTheComponentWhileAReconnectIsArmed) {
  // The line drops with reconnect on; the handler of the loss (polled or
  // signalled), or of the failed reconnect, frees the component.
  using CallCount = TQuorRasSimCallCount;
  TQuor holder(nullptr);  // keeps the service loaded once the component is gone
  for (const bool inFail : {false, true}) {
    for (const bool watch : {false, true}) {
      SCOPED_TRACE(std::string(inFail ? "OnConnectFail" : "OnDisconnect") + (watch ? ", signalled" : ", polled"));
      if (Q == nullptr) {
        Q = new TQuor(nullptr);
        Log.Attach(*Q);
        Q->SetEntryName("Office");
      }
      Q->SetRedialAttempts(0);
      Q->SetReconnect(true, 5, 0);
      Q->SetWatchEvents(watch);
      bool freed = false;
      const TRasStateEvent free = [this, &freed](Integer, String) {
        TQuor* q = Q;
        Q = nullptr;
        freed = true;
        delete q;
      };
      if (inFail) {
        Q->SetOnConnectFail(free);
      } else {
        Q->SetOnDisconnect(free);
      }
      const THRasConn h = Q->Connect();
      ASSERT_TRUE(RunUntilEvent(Ev{'N', 0, "Connected"}, 30000));
      if (inFail) {
        ASSERT_EQ(Control<TQuorRasSimQueueFailure>("QuorRasSimQueueFailure")("Office", RASCS_ConnectDevice, 676), 0u);
      }
      Log.Clear();
      ASSERT_EQ(Control<TQuorRasSimDropConnection>("QuorRasSimDropConnection")(static_cast<UINT_PTR>(h)), 0u);
      ASSERT_TRUE(Application->RunUntil([&] { return freed; }, 60000));
      const unsigned dials = Control<CallCount>("QuorRasSimCallCount")("RasDialA");
      Application->RunFor(60000);  // nothing reaches the freed component (ASan), nothing dials
      EXPECT_EQ(Control<CallCount>("QuorRasSimCallCount")("RasDialA"), dials);
    }
  }
}
