// Dialling: Connect, the dial events, failures at once and in events, the
// redial after the pause and the number of attempts.
#include "QuorTest.h"

using fakeras::S;

namespace {
const char kBusy[] = "The line is busy.";
const char kAuth[] = "Access denied.";
}  // namespace

class DialTest : public QuorTest {
 protected:
  void SetUp() override {
    QuorTest::SetUp();
    S().ErrorTexts[676] = kBusy;
    S().ErrorTexts[691] = kAuth;
  }
};

TEST_F(DialTest, WithoutRasConnectDoesNothing) {
  Q->RasInitialized = false;
  EXPECT_EQ(Q->Connect(), 0);
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_TRUE(S().Dials.empty());
}

TEST_F(DialTest, AsyncConnectReportsDialingAndReturnsTheHandle) {
  Q->SetUserName("joe");
  Q->SetPassword("pw");
  Q->SetCallbackNumber("555-1");
  Q->SetDomain("CORP");
  const THRasConn h = Q->Connect();
  EXPECT_NE(h, 0);
  EXPECT_EQ(static_cast<THRasConn>(h), QI::hRas(*Q));
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."}}));
  ASSERT_EQ(S().Dials.size(), 1u);
  const fakeras::DialCall& d = S().Dials[0];
  EXPECT_TRUE(d.ExtensionsNull);
  EXPECT_TRUE(d.Phonebook.Null);
  EXPECT_EQ(d.Size, 1052u);
  EXPECT_EQ(d.Entry, "Office");
  EXPECT_EQ(d.Phone, "") << "the entry's own number is used";
  EXPECT_EQ(d.Callback, "") << "CallbackNumber takes no part in dialling";
  EXPECT_EQ(d.Domain, "") << "Domain takes no part in dialling";
  EXPECT_EQ(d.User, "joe");
  EXPECT_EQ(d.Password, "pw");
  EXPECT_EQ(d.NotifierType, 0xFFFFFFFFu);
  ASSERT_NE(Q->fWindowHandle, HWND{});
  EXPECT_EQ(d.Notifier, fakeras::HandleValue(Q->fWindowHandle));
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(DialTest, PhoneNumberOverridesTheEntrysNumber) {
  Q->SetPhoneNumber("0123 456");
  Q->Connect();
  EXPECT_EQ(S().Dials.at(0).Phone, "0123 456");
}

TEST_F(DialTest, EveryDialStartsFromACleanRecord) {
  // Storing the dial parameters leaves number, callback and domain in the
  // shared record; the dial must send none of them.
  Q->SetPhoneNumber("555 0100");
  Q->SetCallbackNumber("555 0199");
  Q->SetDomain("CORP");
  Q->SetUserName("joe");
  ASSERT_TRUE(Q->SetDialParams());
  Q->SetPhoneNumber("");
  Q->SetUserName("");
  Q->Connect();
  const fakeras::DialCall& d = S().Dials.at(0);
  EXPECT_EQ(d.Phone, "");
  EXPECT_EQ(d.Callback, "");
  EXPECT_EQ(d.Domain, "");
  EXPECT_EQ(d.User, "");
}

TEST_F(DialTest, WholeDialReportsEveryStateInOrder) {
  S().Status[0x101] = fakeras::ConnStatus{RASCS_ConnectDevice, 0, "isdn", "ISDN Line 1"};
  S().Script = {{5, 0, 0}, {10, 1, 0}, {15, 2, 0}, {20, 3, 0}, {25, 4, 0}, {30, 5, 0}, {35, 14, 0}, {40, 8192, 0}};
  Q->Connect();
  Application->RunFor(100);
  const std::vector<Ev> want = {{'N', 0, "Dialing Office..."},
                                {'N', 0, "Opening port"},
                                {'N', 0, "Port opened"},
                                {'N', 0, "Connecting device"},
                                {'N', 0, "Using isdn: ISDN Line 1"},
                                {'N', 0, "Device connected"},
                                {'N', 0, "All devices connected"},
                                {'N', 0, "Start authenticating"},
                                {'N', 0, "Authenticated"},
                                {'C', 0, ""},
                                {'N', 0, "Connected"}};
  EXPECT_EQ(Log.Events, want);
  EXPECT_EQ(Q->DeviceType, "isdn");
  EXPECT_EQ(Q->DeviceName, "ISDN Line 1");
  EXPECT_EQ(QI::fDeviceName(*Q), "ISDN Line 1");
  // The events arrive at the times RAS posted them.
  EXPECT_EQ(Log.Snaps[1].Time - Log.Snaps[0].Time, 5u);
  EXPECT_EQ(Log.Snaps[10].Time - Log.Snaps[0].Time, 40u);
  // Connected: the watches start after OnConnect, before the notice.
  EXPECT_FALSE(Log.Snaps[9].Check);
  EXPECT_TRUE(Log.Snaps[10].Check);
  EXPECT_TRUE(Log.Snaps[10].Look);
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled());
}

TEST_F(DialTest, SynchronousConnectReportsConnectedAtOnceAndAgainWithTheEvent) {
  Q->SetSynchronousDial(true);
  S().Script = {{10, 8192, 0}};
  EXPECT_NE(Q->Connect(), 0);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."}, {'N', 0, "Connected"}}));
  Application->RunFor(20);
  EXPECT_EQ(
      Log.Events,
      (std::vector<Ev>{{'N', 0, "Dialing Office..."}, {'N', 0, "Connected"}, {'C', 0, ""}, {'N', 0, "Connected"}}));
}

TEST_F(DialTest, DisconnectedEventRaisesOnDisconnectAndKeepsTheHandle) {
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  Log.Clear();
  PostDialEvent(8193, 0);
  Application->RunFor(1);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'D', 8193, "Disconnected."}, {'N', 0, "Disconnected"}}));
  EXPECT_EQ(QI::hRas(*Q), h);
  EXPECT_TRUE(S().HangUps.empty());
}

TEST_F(DialTest, AsyncFailureAtOnceThenRedialAfterThePauseThenGiveUp) {
  S().DialResult = 676;
  EXPECT_EQ(Q->Connect(), 0);
  const std::vector<Ev> first = {{'N', 0, "Dialing Office..."},
                                 {'N', 676, "ERROR: The line is busy."},
                                 {'N', 0, "Disconnecting..."},
                                 {'N', 0, "Disconnecting..."},
                                 {'N', 676, "Retrying in 10 seconds..."}};
  EXPECT_EQ(Log.Events, first);
  EXPECT_TRUE(QI::Redial(*Q)->Enabled());
  EXPECT_EQ(QI::Redial(*Q)->Interval(), 10000u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_EQ(QI::RedialCount(*Q), 1);
  EXPECT_TRUE(S().HangUps.empty()) << "no handle, nothing to hang up";

  const uint64_t t0 = QuorClockNow();
  Application->RunFor(9999);
  EXPECT_EQ(Log.Events.size(), first.size()) << "no redial before the pause is over";
  Application->RunFor(1);
  ASSERT_GT(Log.Events.size(), first.size());
  EXPECT_EQ(Log.Events[first.size()], (Ev{'N', 0, "Dialing Office..."}));
  EXPECT_EQ(Log.Snaps[first.size()].Time - t0, 10000u);
  std::vector<Ev> second(Log.Events.begin() + static_cast<long>(first.size()), Log.Events.end());
  EXPECT_EQ(second, (std::vector<Ev>{{'N', 0, "Dialing Office..."},
                                     {'N', 676, "ERROR: The line is busy."},
                                     {'N', 0, "Disconnecting..."},
                                     {'N', 0, "Disconnecting..."},
                                     {'F', 676, "Error connecting: The line is busy."}}));
  EXPECT_EQ(S().Dials.size(), 2u);
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  Application->RunFor(60000);
  EXPECT_EQ(S().Dials.size(), 2u) << "no further attempt";
}

TEST_F(DialTest, SyncFailureAtOnceReportsErrorConnecting) {
  Q->SetSynchronousDial(true);
  Q->SetRedialAttempts(0);
  S().DialResult = 676;
  EXPECT_EQ(Q->Connect(), 0);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."},
                                         {'N', 676, "ERROR: The line is busy."},
                                         {'N', 0, "Disconnecting..."},
                                         {'N', 0, "Disconnecting..."},
                                         {'F', 676, "Error connecting."}}));
}

TEST_F(DialTest, FailedDialThatReturnedAHandleIsHungUp) {
  S().DialResult = 676;
  S().HandleOnFailure = true;
  Q->SetRedialAttempts(0);
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Connect(), 0);
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{0x101});
  EXPECT_EQ(QuorClockNow() - t0, 2000u) << "one hang-up, one pause";
}

TEST_F(DialTest, ErrorInDialEventHangsUpAndRedialsAfterThePause) {
  S().Script = {{5, 0, 0}, {50, 3, 691}};
  Q->Connect();
  Application->RunFor(50);
  const std::vector<Ev> first = {{'N', 0, "Dialing Office..."},
                                 {'N', 0, "Opening port"},
                                 {'N', 691, "ERROR: Access denied."},
                                 {'N', 0, "Disconnecting..."},
                                 {'N', 691, "Retrying in 10 seconds..."}};
  EXPECT_EQ(Log.Events, first);
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{0x101});
  EXPECT_EQ(Log.Snaps[4].Time - Log.Snaps[3].Time, 2000u) << "the pause after the hang-up";
  const uint64_t notice = Log.Snaps[4].Time;
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});

  Application->RunFor(10000 + 100);
  ASSERT_GE(Log.Events.size(), 8u);
  EXPECT_EQ(Log.Events[5], (Ev{'N', 0, "Dialing Office..."}));
  EXPECT_EQ(Log.Snaps[5].Time - notice, 10000u);
  EXPECT_EQ(std::vector<Ev>(Log.Events.begin() + 6, Log.Events.end()),
            (std::vector<Ev>{{'N', 0, "Opening port"},
                             {'N', 691, "ERROR: Access denied."},
                             {'N', 0, "Disconnecting..."},
                             {'F', 691, "ERROR: Access denied."}}));
  EXPECT_EQ(S().HangUps, (std::vector<THRasConn>{0x101, 0x102}));
  EXPECT_NE(S().Dials[1].Notifier, 0u) << "the redial has a new window";
}

TEST_F(DialTest, NoRedialsAllowedGoesStraightToConnectFail) {
  for (int attempts : {0, -1}) {
    SCOPED_TRACE(attempts);
    Log.Clear();
    S().Dials.clear();
    Q->SetRedialAttempts(attempts);
    S().Script = {{5, 2, 678}};
    Q->Connect();
    Application->RunFor(5);
    EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."},
                                           {'N', 678, "ERROR: RAS error 678"},
                                           {'N', 0, "Disconnecting..."},
                                           {'F', 678, "ERROR: RAS error 678"}}));
    Application->RunFor(30000);
    EXPECT_EQ(S().Dials.size(), 1u);
  }
}

TEST_F(DialTest, RedialAttemptsNGivesNPlusOneAttempts) {
  Q->SetRedialAttempts(3);
  Q->SetRedialPause(1);
  S().DialResult = 676;
  Q->Connect();
  Application->RunFor(60000);
  EXPECT_EQ(S().Dials.size(), 4u);
  int fails = 0, retries = 0;
  for (const Ev& e : Log.Events) {
    fails += e.Kind == 'F';
    retries += e.Text == "Retrying in 1 seconds...";
  }
  EXPECT_EQ(fails, 1);
  EXPECT_EQ(retries, 3);
  EXPECT_EQ(Log.Events.back().Kind, 'F');
}

TEST_F(DialTest, SixtySecondPause) {
  Q->SetRedialPause(60);
  S().DialResult = 676;
  Q->Connect();
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 676, "Retrying in 60 seconds..."}));
  EXPECT_EQ(QI::Redial(*Q)->Interval(), 60000u);
  Application->RunFor(59999);
  EXPECT_EQ(S().Dials.size(), 1u);
  Application->RunFor(1);
  EXPECT_EQ(S().Dials.size(), 2u);
}

TEST_F(DialTest, PauseChangedWhileARedialIsPendingTakesEffectNextTime) {
  Q->SetRedialAttempts(2);
  S().DialResult = 676;
  Q->Connect();  // waits 10 s
  Q->SetRedialPause(3);
  Q->SetEntryName("Home");  // the redial takes the properties as they are then
  EXPECT_EQ(QI::Redial(*Q)->Interval(), 10000u);
  Application->RunFor(9999);
  EXPECT_EQ(S().Dials.size(), 1u);
  Application->RunFor(1);
  EXPECT_EQ(S().Dials.size(), 2u);
  EXPECT_EQ(S().Dials[1].Entry, "Home");
  EXPECT_NE(Log.Find(Ev{'N', 0, "Dialing Home..."}), -1);
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 676, "Retrying in 3 seconds..."}));
  EXPECT_EQ(QI::Redial(*Q)->Interval(), 3000u);
  Application->RunFor(3000);
  EXPECT_EQ(S().Dials.size(), 3u);
}

TEST_F(DialTest, ZeroPauseRedialsOnTheNextPass) {
  Q->SetRedialPause(0);
  S().DialResult = 676;
  Q->Connect();
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 676, "Retrying in 0 seconds..."}));
  EXPECT_EQ(QI::Redial(*Q)->Interval(), 0u);
  EXPECT_TRUE(QI::Redial(*Q)->Enabled());
  Application->RunFor(1);
  EXPECT_EQ(S().Dials.size(), 2u);
  EXPECT_EQ(Log.Events.back().Kind, 'F');
}

TEST_F(DialTest, DialEventParametersAreReadFromTheirLow16Bits) {
  Q->Connect();
  Log.Clear();
  PostDialEvent(0x7FFF0000u | 8192u, 0x00050000u);
  Application->RunFor(1);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'C', 0, ""}, {'N', 0, "Connected"}}));
  Log.Clear();
  Q->SetRedialAttempts(0);
  PostDialEvent(0xABCD0003u, 0x00010000u | 691u);
  Application->RunFor(1);
  EXPECT_EQ(Log.Events.at(0), (Ev{'N', 691, "ERROR: Access denied."}));
  EXPECT_EQ(Log.Events.back(), (Ev{'F', 691, "ERROR: Access denied."}));
}

TEST_F(DialTest, DialEventReplyIsZero) {
  Q->Connect();
  EXPECT_EQ(SendDialEvent(1, 0), 0);
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 0, "Port opened"}));
}

TEST_F(DialTest, OtherMessagesAndStrayDialEventsGetDefaultProcessing) {
  Q->Connect();
  const HWND w = Q->fWindowHandle;
  Log.Clear();
  // A RASEvent with no dial under way is not a dial event.
  QI::hRas(*Q) = 0;
  SendDialEvent(8192, 0);
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  // Another message goes to the default window procedure: WM_CLOSE closes.
  SendMessageA(w, WM_USER + 5, 8192, 0);
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_TRUE(IsWindow(w));
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(w)) << "default processing destroys a window asked to close";
}

TEST_F(DialTest, DialEventNumberWithoutACallGoesToTheDefaultProcedure) {
  // Give the dial-event number one the default procedure acts on (WM_CLOSE
  // destroys the window): with no call held, it must reach that procedure.
  Q->Connect();
  const HWND w = Q->fWindowHandle;
  const Word dialEvent = QI::RASEvent(*Q);
  QI::RASEvent(*Q) = static_cast<Word>(WM_CLOSE);
  QI::hRas(*Q) = 0;
  Log.Clear();
  // The reply is the default procedure's own (0x0013: a message whose
  // default reply is TRUE on Windows).
  EXPECT_EQ(SendMessageA(w, 0x0013, 0, 0), DefWindowProcA(w, 0x0013, 0, 0));
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_TRUE(Log.Events.empty());
  QI::RASEvent(*Q) = dialEvent;
}

TEST_F(DialTest, ConnectWhileACallIsHeldHangsItUpWithoutPause) {
  for (bool connected : {false, true}) {
    SCOPED_TRACE(connected ? "connected" : "dialling");
    S().HangUps.clear();
    if (connected) {
      ConnectNow();
    } else {
      S().Script = {};
      ASSERT_NE(Q->Connect(), 0);
    }
    const THRasConn old = QI::hRas(*Q);
    const HWND w = Q->fWindowHandle;
    QI::RedialCount(*Q) = 5;
    Log.Clear();
    const uint64_t t0 = QuorClockNow();
    const THRasConn h = Q->Connect();
    EXPECT_EQ(QuorClockNow(), t0) << "the dial never blocks";
    EXPECT_EQ(S().HangUps, std::vector<THRasConn>{old});
    EXPECT_NE(h, 0);
    EXPECT_NE(static_cast<THRasConn>(h), old);
    EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."}})) << "no Disconnecting... report";
    EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled()) << "the old watch stops";
    EXPECT_NE(Q->fWindowHandle, w) << "a fresh window";
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(QI::RedialCount(*Q), 0);
    EXPECT_EQ(S().Dials.back().Notifier, fakeras::HandleValue(Q->fWindowHandle));
    Q->Disconnect();
  }
}

TEST_F(DialTest, EventsTheHeldCallPostedNeverReachTheNewDial) {
  for (uint32_t oldError : {0u, 676u}) {
    SCOPED_TRACE(oldError);
    S().Script = {};
    ASSERT_NE(Q->Connect(), 0);
    PostDialEvent(RASCS_Connected, oldError);  // posted by the old call, not yet delivered
    Log.Clear();
    const THRasConn h = Q->Connect();
    Application->RunFor(10);
    EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."}}));
    EXPECT_EQ(QI::hRas(*Q), static_cast<THRasConn>(h)) << "the new dial is still under way";
    Q->Disconnect();
  }
}

TEST_F(DialTest, HangUpInsideTheDialingNoticeStartsNoDial) {
  Q->SetOnNotify([this](Integer, String T) {
    if (T == "Dialing Office...") Q->Disconnect();
  });
  EXPECT_EQ(Q->Connect(), 0);
  EXPECT_TRUE(S().Dials.empty()) << "RasDial without a window would block and leave a handle nobody watches";
  EXPECT_EQ(Q->fWindowHandle, HWND{});
}

TEST_F(DialTest, ConnectWhileWaitingToRedialCancelsTheRedial) {
  S().DialResult = 676;
  Q->Connect();
  ASSERT_TRUE(QI::Redial(*Q)->Enabled());
  S().DialResult = 0;
  Application->RunFor(5000);
  Q->Connect();
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  Application->RunFor(20000);
  EXPECT_EQ(S().Dials.size(), 2u) << "only the dial Connect started";
}

TEST_F(DialTest, TwoComponentsDialAtOnce) {
  TQuor other(nullptr);
  BindFakes(other);
  TEventLog otherLog;
  otherLog.Attach(other);
  other.SetEntryName("Home");
  S().Script = {{10, 8192, 0}};
  Q->Connect();
  S().Script = {{20, 3, 691}};
  other.SetRedialAttempts(0);
  other.Connect();
  EXPECT_NE(other.fWindowHandle, Q->fWindowHandle);
  Application->RunFor(30);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."}, {'C', 0, ""}, {'N', 0, "Connected"}}));
  EXPECT_EQ(otherLog.Events, (std::vector<Ev>{{'N', 0, "Dialing Home..."},
                                              {'N', 691, "ERROR: Access denied."},
                                              {'N', 0, "Disconnecting..."},
                                              {'F', 691, "ERROR: Access denied."}}));
  EXPECT_NE(QI::hRas(*Q), 0u);
  EXPECT_EQ(QI::hRas(other), 0u);
}
