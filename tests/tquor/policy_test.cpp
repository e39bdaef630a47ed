// The opt-in policies: redial back-off, dial timeout, reconnect after loss,
// fast hang-up, and the connection information. Each case is a whole event
// sequence in virtual time, compared at once.
#include <memory>
#include <string>
#include <vector>

#include "QuorTest.h"

using fakeras::DialEvent;
using fakeras::S;

namespace {

using Trace = std::vector<std::string>;

class PolicyTest : public QuorTest {
 protected:
  void SetUp() override {
    QuorTest::SetUp();
    S().ErrorTexts = {{676, "The line is busy."}, {638, "The request has timed out."}};
    S().AutoStatus = true;
    T0 = QuorClockNow();
  }
  // Every event so far as "time kind error text", time from the start.
  Trace Events() const {
    Trace out;
    for (size_t i = 0; i < Log.Events.size(); ++i) {
      const Ev& e = Log.Events[i];
      out.push_back(std::to_string(Log.Snaps[i].Time - T0) + " " + e.Kind + std::to_string(e.Err) + " " + e.Text);
    }
    return out;
  }
  // Runs the loop to an absolute time from the start.
  void RunTo(uint64_t Ms) { Application->RunFor(static_cast<uint32_t>(T0 + Ms - QuorClockNow())); }
  // The line of the current call drops.
  void Drop() { S().Status.erase(QI::hRas(*Q)); }
  uint64_t T0 = 0;
};

const DialEvent kBusy{100, RASCS_PortOpened, 676};
const DialEvent kUp{50, RASCS_Connected, 0};

// What the classic component does: a busy first attempt, the redial after
// 10 s, connected, the line lost.
const Trace kClassic = {
    "0 N0 Dialing Office...",
    "100 N676 ERROR: The line is busy.",
    "100 N0 Disconnecting...",
    "2100 N676 Retrying in 10 seconds...",
    "12100 N0 Dialing Office...",
    "12150 C0 ",
    "12150 N0 Connected",
    "13150 N0 Disconnecting...",
    "15150 D0 Connection to server lost.",
};

TEST_F(PolicyTest, DefaultsReproduceTheClassicSequence) {
  for (bool explicitDefaults : {false, true}) {
    SCOPED_TRACE(explicitDefaults ? "defaults set explicitly" : "fresh component");
    if (explicitDefaults) {
      delete Q;
      Q = new TQuor(nullptr);
      BindFakes(*Q);
      Log.Clear();
      Log.Attach(*Q);
      Q->SetEntryName("Office");
      EXPECT_TRUE(Q->SetRedialBackoff(1.0, 0));
      Q->SetDialTimeout(0);
      Q->SetReconnect(false, 30, 10);
      Q->SetFastHangUp(false);
      S().Dials.clear();
      T0 = QuorClockNow();
    }
    S().Scripts = {{kBusy}, {kUp}};
    S().Dials.clear();
    Q->Connect();
    RunTo(13000);
    Drop();
    RunTo(60000);
    EXPECT_EQ(Events(), kClassic);
    EXPECT_EQ(S().Dials.size(), 2u);
  }
}

TEST_F(PolicyTest, BackoffGrowsThePauseUpToItsCeiling) {
  struct Case {
    double Factor;
    Cardinal Max;
    std::vector<std::string> Notices;  // "dial time: pause" for every redial
  };
  const std::vector<Case> cases = {
      {2.0, 0, {"5", "10", "20", "40"}},
      {2.0, 15, {"5", "10", "15", "15"}},
      {1.5, 0, {"5", "8", "11", "17"}},
      {1.0, 3, {"3", "3", "3", "3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Factor);
    Q->SetRedialAttempts(4);
    Q->SetRedialPause(5);
    ASSERT_TRUE(Q->SetRedialBackoff(c.Factor, c.Max));
    S().DialResult = 676;  // every attempt fails at once
    S().Dials.clear();
    Log.Clear();
    Q->Connect();
    Application->RunFor(200000);
    std::vector<std::string> notices;
    std::vector<uint64_t> dials;
    for (size_t i = 0; i < Log.Events.size(); ++i) {
      const String& t = Log.Events[i].Text;
      if (t.rfind("Retrying in ", 0) == 0) notices.push_back(t.substr(12, t.find(' ', 12) - 12));
      if (t.rfind("Dialing", 0) == 0) dials.push_back(Log.Snaps[i].Time);
    }
    EXPECT_EQ(notices, c.Notices);
    ASSERT_EQ(dials.size(), 5u);
    for (size_t i = 0; i < notices.size(); ++i)  // the notice tells the real pause
      EXPECT_EQ(dials[i + 1] - dials[i], std::stoul(notices[i]) * 1000u);
    EXPECT_EQ(Log.Events.back().Kind, 'F');
  }
  EXPECT_FALSE(Q->SetRedialBackoff(0.5, 0));
  EXPECT_FALSE(Q->SetRedialBackoff(11, 0));
  EXPECT_EQ(Q->RedialBackoffFactor(), 1.0);
}

TEST_F(PolicyTest, DialTimeoutFailsTheAttemptLikeARasError) {
  struct Case {
    const char* Name;
    std::vector<std::vector<DialEvent>> Scripts;
    Trace Expected;
  };
  const std::vector<Case> cases = {
      {"both attempts hang",
       {{}, {}},
       {"0 N0 Dialing Office...", "30000 N638 ERROR: The request has timed out.", "30000 N0 Disconnecting...",
        "32000 N638 Retrying in 10 seconds...", "42000 N0 Dialing Office...",
        "72000 N638 ERROR: The request has timed out.", "72000 N0 Disconnecting...",
        "74000 F638 ERROR: The request has timed out."}},
      {"connected in time",
       {{{29000, RASCS_Connected, 0}}},
       {"0 N0 Dialing Office...", "29000 C0 ", "29000 N0 Connected"}},
      {"first busy, then the redial hangs",
       {{kBusy}, {}},
       {"0 N0 Dialing Office...", "100 N676 ERROR: The line is busy.", "100 N0 Disconnecting...",
        "2100 N676 Retrying in 10 seconds...", "12100 N0 Dialing Office...",
        "42100 N638 ERROR: The request has timed out.", "42100 N0 Disconnecting...",
        "44100 F638 ERROR: The request has timed out."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Q->Disconnect();
    S().HangUps.clear();
    Q->SetDialTimeout(30);
    S().Scripts = c.Scripts;
    S().Dials.clear();
    Log.Clear();
    T0 = QuorClockNow();
    Q->Connect();
    RunTo(200000);
    EXPECT_EQ(Events(), c.Expected);
    EXPECT_EQ(S().HangUps.size(), S().Dials.size() - (c.Expected.back().find("Connected") != std::string::npos));
  }
  // An application's hang-up ends the attempt and its time limit.
  Q->Disconnect();
  S().Scripts = {{}};
  S().Dials.clear();
  Q->Connect();
  Application->RunFor(1000);
  Q->Disconnect();
  Log.Clear();
  Application->RunFor(100000);
  EXPECT_TRUE(Log.Events.empty());
}

TEST_F(PolicyTest, ReconnectAfterLoss) {
  struct Case {
    const char* Name;
    Integer MaxFail;
    std::vector<DWORD> Results;  // of the dials after the first
    Trace Expected;              // from the loss on (its hang-up starts at 1000)
    size_t Dials;
  };
  const std::vector<Case> cases = {
      {"reconnected",
       3,
       {0},
       {"1000 N0 Disconnecting...", "3000 D0 Connection to server lost.", "3000 N0 Reconnecting in 5 seconds...",
        "8000 N0 Dialing Office...", "8050 C0 ", "8050 N0 Connected"},
       2},
      {"two reconnects fail, then it stops",
       2,
       {676, 676},
       {"1000 N0 Disconnecting...", "3000 D0 Connection to server lost.", "3000 N0 Reconnecting in 5 seconds...",
        "8000 N0 Dialing Office...", "8000 N676 ERROR: The line is busy.", "8000 N0 Disconnecting...",
        "8000 N0 Disconnecting...", "8000 F676 Error connecting: The line is busy.",
        "8000 N0 Reconnecting in 5 seconds...", "13000 N0 Dialing Office...", "13000 N676 ERROR: The line is busy.",
        "13000 N0 Disconnecting...", "13000 N0 Disconnecting...", "13000 F676 Error connecting: The line is busy."},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Q->SetRedialAttempts(0);
    Q->SetReconnect(true, 5, c.MaxFail);
    std::vector<DWORD> results = {0};
    results.insert(results.end(), c.Results.begin(), c.Results.end());
    S().Dials.clear();
    S().DialResults = results;
    S().Scripts = {{kUp}, {kUp}};
    Q->Connect();
    Application->RunFor(kUp.DelayMs);
    Log.Clear();
    T0 = QuorClockNow() - 500;
    Drop();  // the poll at 500 finds it
    RunTo(100000);
    Trace got = Events();
    EXPECT_EQ(got, c.Expected);
    EXPECT_EQ(S().Dials.size(), c.Dials);
    EXPECT_FALSE(Q->ReconnectPending());
  }
}

TEST_F(PolicyTest, ApplicationActionsEndAPendingReconnect) {
  enum Action { kDisconnect, kConnect, kDisconnectInOnDisconnect, kDestroy };
  for (Action a : {kDisconnect, kConnect, kDisconnectInOnDisconnect, kDestroy}) {
    SCOPED_TRACE(a);
    if (Q == nullptr) {
      Q = new TQuor(nullptr);
      BindFakes(*Q);
      Log.Attach(*Q);
      Q->SetEntryName("Office");
    }
    Q->SetReconnect(true, 5, 0);
    S().Dials.clear();
    S().DialResults.clear();
    S().Scripts = {{kUp}, {kUp}};
    Q->Connect();
    Application->RunFor(100);
    if (a == kDisconnectInOnDisconnect) Q->SetOnDisconnect([this](Integer, String) { Q->Disconnect(); });
    Drop();
    Application->RunFor(3000);  // lost and reported; the reconnect is pending now
    EXPECT_EQ(Q->ReconnectPending(), a != kDisconnectInOnDisconnect);
    if (a == kDisconnect) Q->Disconnect();
    if (a == kConnect) Q->Connect();
    if (a == kDestroy) {
      delete Q;
      Q = nullptr;
    }
    Application->RunFor(60000);
    EXPECT_EQ(S().Dials.size(), a == kConnect ? 2u : 1u);
    if (Q != nullptr) {
      EXPECT_FALSE(Q->ReconnectPending());
      EXPECT_EQ(Log.Find(Ev{'N', 0, "Reconnecting in 5 seconds..."}) >= 0, a != kDisconnectInOnDisconnect);
      Q->SetOnDisconnect(nullptr);
      Q->Disconnect();
    }
    Log.Clear();
  }
}

TEST_F(PolicyTest, ComponentDestroyedWithAPolicyTimerArmedStaysQuiet) {
  // A redial with back-off, a dial timeout and a reconnect each pending.
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(which);
    if (Q == nullptr) {
      Q = new TQuor(nullptr);
      BindFakes(*Q);
      Q->SetEntryName("Office");
    }
    S().Dials.clear();
    S().DialResults.clear();
    S().Scripts = {{which == 0 ? kBusy : kUp}};
    Q->SetRedialBackoff(2, 0);
    Q->SetDialTimeout(which == 1 ? 30 : 0);
    if (which == 1) S().Scripts = {{}};
    Q->SetReconnect(which == 2, 5, 0);
    Q->Connect();
    Application->RunFor(3000);
    if (which == 2) {
      Drop();
      Application->RunFor(3000);
    }
    EXPECT_TRUE(QI::Redial(*Q)->Enabled() || QI::DialTimeout(*Q)->Enabled() || QI::Reconnect(*Q)->Enabled());
    delete Q;
    Q = nullptr;
    Application->RunFor(120000);
    EXPECT_EQ(S().Dials.size(), 1u);
  }
  Q = new TQuor(nullptr);  // for TearDown
}

TEST_F(PolicyTest, FastHangUpWaitsOnlyUntilTheConnectionIsGone) {
  struct Case {
    bool Fast;
    uint32_t TeardownMs;  // 0: gone at once
    uint64_t Paused;
  };
  const std::vector<Case> cases = {
      {false, 1000, 2000}, {true, 1000, 1000}, {true, 0, 0}, {true, 5000, 2000}, {true, 1020, 1050},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Fast) + "/" + std::to_string(c.TeardownMs));
    Q->SetFastHangUp(c.Fast);
    S().TeardownMs = c.TeardownMs;
    S().Scripts = {{kUp}};
    S().Dials.clear();
    Q->Connect();
    Application->RunFor(100);
    const uint64_t t0 = QuorClockNow();
    EXPECT_EQ(Q->Disconnect(), 0);
    EXPECT_EQ(QuorClockNow() - t0, c.Paused);
    EXPECT_EQ(QI::hRas(*Q), 0u);
  }
}

TEST_F(PolicyTest, WatchEventsReportsALossAtOnceWithThePollAsWatchdog) {
  struct Case {
    const char* Name;
    bool Watch, Bound;
    DWORD RegisterResult;
    bool Signal;         // RAS signals the end
    uint64_t LossAfter;  // from the drop to "Disconnecting..."
  };
  const std::vector<Case> cases = {
      {"classic poll", false, true, 0, true, 400},
      {"signalled", true, true, 0, true, 0},
      {"never signalled: the poll finds it", true, true, 0, false, 400},
      {"RAS without the entry point", true, false, 0, true, 400},
      {"RAS refuses the registration", true, true, ERROR_INVALID_HANDLE, true, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    S().NotifyBound = c.Bound;
    S().NotifyResult = c.RegisterResult;
    S().NotifyEvents.clear();
    fakeras::Reapply();
    Q->SetWatchEvents(c.Watch);
    S().Scripts = {{kUp}};
    S().Dials.clear();
    Q->Connect();
    Application->RunFor(kUp.DelayMs + 100);
    EXPECT_EQ(Q->WatchingEvents(), c.Watch && c.Bound && c.RegisterResult == 0);
    EXPECT_EQ(S().NotifyEvents.size(), c.Watch && c.Bound ? 1u : 0u);
    Log.Clear();
    const uint64_t dropped = QuorClockNow();
    Drop();
    if (c.Signal && !S().NotifyEvents.empty()) SetEvent(S().NotifyEvents.back());
    Application->RunFor(5000);
    const int at = Log.Find(Ev{'N', 0, "Disconnecting..."});
    ASSERT_GE(at, 0);
    EXPECT_EQ(Log.Snaps[static_cast<size_t>(at)].Time - dropped, c.LossAfter);
    EXPECT_EQ(Log.Events.back(), (Ev{'D', 0, "Connection to server lost."}));
    EXPECT_FALSE(Q->WatchingEvents());
    // The component closed its event once the line was gone.
    for (HANDLE e : S().NotifyEvents) EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  }
}

TEST_F(PolicyTest, ConnectionInformation) {
  std::vector<std::pair<DWORD, DWORD>> changes;
  Q->SetOnStateChange([&](DWORD State, DWORD Error) { changes.emplace_back(State, Error); });
  S().Scripts = {{kBusy}, {{10, 0x10000u | RASCS_ConnectDevice, 0}, kUp}};
  EXPECT_EQ(Q->Attempt(), 0);
  Q->Connect();
  EXPECT_EQ(Q->Attempt(), 1);
  RunTo(12100 + kUp.DelayMs);
  const THRasConn h = QI::hRas(*Q);
  S().Addresses[h] = "10.64.1.7";
  Application->RunFor(1500);
  EXPECT_EQ(Q->Attempt(), 2);
  EXPECT_EQ(Q->IPAddress(), "10.64.1.7");
  EXPECT_EQ(Q->ConnectedMs(), 1500u);
  EXPECT_EQ(Q->RasState(), static_cast<DWORD>(RASCS_Connected));
  Drop();
  Application->RunFor(5000);
  EXPECT_EQ(Q->IPAddress(), "");
  EXPECT_EQ(Q->ConnectedMs(), 0u);
  EXPECT_EQ(Q->RasState(), static_cast<DWORD>(RASCS_Disconnected));
  // Raw, as RAS posted them (high bits kept), and the loss with the status
  // call's error.
  const std::vector<std::pair<DWORD, DWORD>> expected = {{RASCS_PortOpened, 676},
                                                         {0x10000u | RASCS_ConnectDevice, 0},
                                                         {RASCS_Connected, 0},
                                                         {RASCS_Disconnected, ERROR_INVALID_HANDLE}};
  EXPECT_EQ(changes, expected);
}

}  // namespace
