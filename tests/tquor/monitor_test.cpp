// Monitoring and hang-up: Disconnect, the status watch, the search for the
// connection window, GetConnectStatus, EnumConnections, GetHandleByName.
#include "QuorTest.h"

using fakeras::S;

namespace {
// A visible top-level window with a title, standing in for the system's
// connection window.
class TTitledWindow {
 public:
  explicit TTitledWindow(const char* Title) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "QuorTestTitled";
    RegisterClassA(&wc);
    fWnd = CreateWindowExA(0, "QuorTestTitled", Title, WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 100, 0, 0, 0, nullptr);
  }
  ~TTitledWindow() { DestroyWindow(fWnd); }
  HWND Handle() const { return fWnd; }

 private:
  HWND fWnd;
};
}  // namespace

TEST_F(QuorTest, DisconnectHangsUpPausesTwoSecondsAndReleasesEverything) {
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  const HWND w = Q->fWindowHandle;
  S().Status[h] = fakeras::ConnStatus{RASCS_Connected, 0, "isdn", "ISDN Line 1"};
  Q->GetConnectStatus();
  QI::RedialCount(*Q) = 1;
  Log.Clear();
  S().HangUpResult = 0;
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Disconnect(), 0);
  EXPECT_EQ(QuorClockNow() - t0, 2000u);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}}));
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{h});
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled()) << "the window search is not stopped";
  // What the last status read recorded, and the attempt count, stay.
  EXPECT_EQ(QI::ConnectState(*Q), RASCS_Connected);
  EXPECT_EQ(Q->DeviceType, "isdn");
  EXPECT_EQ(Q->DeviceName, "ISDN Line 1");
  EXPECT_EQ(QI::fDeviceName(*Q), "ISDN Line 1");
  EXPECT_EQ(QI::RedialCount(*Q), 1);
}

TEST_F(QuorTest, DisconnectReturnsTheHangUpCodeAndCleansUpAnyway) {
  ConnectNow();
  S().HangUpResult = 668;
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Disconnect(), 668);
  EXPECT_EQ(QuorClockNow() - t0, 2000u);
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
}

TEST_F(QuorTest, DisconnectWithNothingHeldOnlyReportsAndClears) {
  Q->Connect();
  QI::hRas(*Q) = 0;  // a window still allocated without a call
  QI::Redial(*Q)->SetEnabled(true);
  QI::CheckStatus(*Q)->SetEnabled(true);
  Log.Clear();
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Disconnect(), 0);
  EXPECT_EQ(QuorClockNow(), t0) << "no pause";
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}}));
  EXPECT_TRUE(S().HangUps.empty());
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(QuorTest, DisconnectWithoutRasOnlyStopsTheStatusTimer) {
  Q->Connect();
  const THRasConn h = QI::hRas(*Q);
  const HWND w = Q->fWindowHandle;
  QI::Redial(*Q)->SetEnabled(true);
  QI::CheckStatus(*Q)->SetEnabled(true);
  Q->RasInitialized = false;
  Log.Clear();
  EXPECT_EQ(Q->Disconnect(), 0);
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(QI::Redial(*Q)->Enabled());
  EXPECT_EQ(QI::hRas(*Q), h);
  EXPECT_EQ(Q->fWindowHandle, w);
  Q->RasInitialized = true;  // so that TearDown hangs the call up
}

TEST_F(QuorTest, ThrowingDisconnectingHandlerIsSwallowed) {
  ConnectNow();
  Q->SetOnNotify([](Integer, String) { throw Exception("handler failed"); });
  const uint64_t t0 = QuorClockNow();
  EXPECT_NO_THROW(Q->Disconnect());
  EXPECT_EQ(S().HangUps.size(), 1u);
  EXPECT_EQ(QuorClockNow() - t0, 2000u);
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
}

TEST_F(QuorTest, LostConnectionIsReportedOnceAfterTheHangUp) {
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  Log.Clear();
  Application->RunFor(1600);  // three polls, all fine
  EXPECT_EQ(S().StatusCalls.size(), 3u);
  EXPECT_EQ(S().StatusRecordSize, 160u);
  EXPECT_TRUE(Log.Events.empty());
  S().Status.erase(h);  // the line drops
  Application->RunFor(10000);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}, {'D', 0, "Connection to server lost."}}));
  EXPECT_EQ(Log.Snaps[1].Time - Log.Snaps[0].Time, 2000u);
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{h});
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(QI::ConnectState(*Q), 0);
}

TEST_F(QuorTest, StatusPollIsReArmedOnlyWhenItsTickEnds) {
  // A status read that takes 300 ms: the next tick comes 500 ms after the
  // tick ended, so ticks never overlap and never queue up.
  ConnectNow();
  S().StatusSleepMs = 300;
  S().StatusCallTimes.clear();
  Application->RunFor(3000);
  ASSERT_GE(S().StatusCallTimes.size(), 3u);
  for (size_t i = 1; i < S().StatusCallTimes.size(); ++i)
    EXPECT_EQ(S().StatusCallTimes[i] - S().StatusCallTimes[i - 1], 800u) << i;
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(QuorTest, StatusDisconnectedKeepsThePollGoing) {
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  S().Status[h].State = RASCS_Disconnected;
  Log.Clear();
  Application->RunFor(5000);
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_EQ(QI::ConnectState(*Q), 8193);
  EXPECT_GE(S().StatusCalls.size(), 9u);
}

TEST_F(QuorTest, StatusTickStopsWhenNothingIsHeld) {
  QI::CheckStatus(*Q)->SetEnabled(true);
  Application->RunFor(500);
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(S().StatusCalls.empty());
  EXPECT_TRUE(Log.Events.empty());
}

TEST_F(QuorTest, ThrowingOnDisconnectFromThePollReachesTheApplication) {
  ConnectNow();
  S().Status.clear();
  Q->SetOnDisconnect([](Integer, String) { throw Exception("lost handler failed"); });
  Application->RunFor(600);
  EXPECT_EQ(Exceptions, std::vector<std::string>{"lost handler failed"});
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_EQ(QI::hRas(*Q), 0u);
}

TEST_F(QuorTest, WindowSearchMatchesTheExactTitleAndMinimisesOnce) {
  TTitledWindow extraBlank("Connected to Office ");
  TTitledWindow nameOnly("Office");
  ConnectNow();
  Application->RunFor(1000);
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled()) << "still searching";
  EXPECT_FALSE(IsIconic(extraBlank.Handle()));
  EXPECT_FALSE(IsIconic(nameOnly.Handle()));

  TTitledWindow first("Connected to Office");
  TTitledWindow second("Connected to Office");
  Application->RunFor(100);
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled()) << "found: the search ends";
  EXPECT_NE(IsIconic(first.Handle()) != 0, IsIconic(second.Handle()) != 0) << "exactly one minimised";
  EXPECT_EQ(IsIconic(FindWindowA(nullptr, "Connected to Office")), TRUE);
}

TEST_F(QuorTest, WindowSearchGoesOnEvery100MsAfterDisconnect) {
  ConnectNow();
  Q->Disconnect();
  Application->RunFor(550);
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled());
  TTitledWindow w("Connected to Office");
  Application->RunFor(100);  // the next search comes within 100 ms
  EXPECT_TRUE(IsIconic(w.Handle()));
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled());
}

TEST_F(QuorTest, WindowTitleFollowsTheCurrentEntryName) {
  TTitledWindow w("Connected to Home");
  QI::LookForWindow(*Q)->SetEnabled(true);
  Application->RunFor(300);
  EXPECT_FALSE(IsIconic(w.Handle()));
  Q->SetEntryName("Home");
  Application->RunFor(100);
  EXPECT_TRUE(IsIconic(w.Handle()));
}

TEST_F(QuorTest, GetConnectStatusRecordsTheDevice) {
  EXPECT_EQ(Q->GetConnectStatus(), 0) << "no connection";
  EXPECT_TRUE(S().StatusCalls.empty());
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  S().Status[h] = fakeras::ConnStatus{RASCS_Authenticate, 0, "vpn", "WAN Miniport (PPTP)"};
  EXPECT_EQ(Q->GetConnectStatus(), 0);
  EXPECT_EQ(Q->DeviceType, "vpn");
  EXPECT_EQ(Q->DeviceName, "WAN Miniport (PPTP)");
  EXPECT_EQ(QI::fDeviceType(*Q), "vpn");
  EXPECT_EQ(QI::ConnectState(*Q), RASCS_Authenticate);
  S().Status[h].Error = 678;
  EXPECT_EQ(Q->GetConnectStatus(), 678);
  // The handle no longer valid: state 0, result 0, device kept.
  S().Status.erase(h);
  EXPECT_EQ(Q->GetConnectStatus(), 0);
  EXPECT_EQ(QI::ConnectState(*Q), 0);
  EXPECT_EQ(Q->DeviceName, "WAN Miniport (PPTP)");
}

TEST_F(QuorTest, GetConnectStatusWithoutHandleOrRasChangesNothing) {
  QI::ConnectState(*Q) = 77;
  EXPECT_EQ(Q->GetConnectStatus(), 0);
  EXPECT_EQ(QI::ConnectState(*Q), 77);
  QI::hRas(*Q) = 0x555;
  S().Status[0x555] = fakeras::ConnStatus{};
  Q->RasInitialized = false;
  EXPECT_EQ(Q->GetConnectStatus(), 0);
  EXPECT_EQ(QI::ConnectState(*Q), 77);
  EXPECT_TRUE(S().StatusCalls.empty());
  Q->RasInitialized = true;
  QI::hRas(*Q) = 0;
}

TEST_F(QuorTest, EnumConnectionsListsThemInOrderReplacingTheOldList) {
  Q->Connections->Add("stale");
  S().Connections = {{0x11, "Office"}, {0x12, "Home"}, {0x13, "VPN"}};
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Items(), (std::vector<String>{"Office", "Home", "VPN"}));
  EXPECT_EQ(S().EnumConnBufSize, 25 * RAS_SIZES.ConnA);  // 10300 on Win32
  EXPECT_EQ(S().EnumConnFirstSize, RAS_SIZES.ConnA);
  // None active: the list is emptied rather than left with ended calls.
  S().Connections.clear();
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Count(), 0);
}

TEST_F(QuorTest, EnumConnectionsFailureLeavesTheList) {
  Q->Connections->Add("kept");
  S().EnumConnResult = 603;
  EXPECT_FALSE(Q->EnumConnections()) << "a 603 naming no larger size";
  EXPECT_EQ(Q->Connections->Items(), std::vector<String>{"kept"});
  S().EnumConnResult = 0;
  std::vector<String> names;
  for (int i = 0; i < 30; ++i) {
    S().Connections.push_back({static_cast<THRasConn>(0x20 + i), "C" + std::to_string(i)});
    names.push_back("C" + std::to_string(i));
  }
  EXPECT_TRUE(Q->EnumConnections()) << "more than the 25 announced: asked again with the size RAS named";
  EXPECT_EQ(Q->Connections->Items(), names);
  EXPECT_EQ(Q->GetHandleByName("c29"), 0x20 + 29);
  S().Connections.resize(25);
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Count(), 25);
  // A RAS claiming more records than the buffer holds is not believed.
  S().EnumConnCountOverride = 1000;
  EXPECT_TRUE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Count(), 25);
  Q->RasInitialized = false;
  const int calls = S().EnumConnCalls;
  EXPECT_FALSE(Q->EnumConnections());
  EXPECT_EQ(S().EnumConnCalls, calls);
  Q->RasInitialized = true;
}

TEST_F(QuorTest, GetHandleByNameComparesWholeNamesIgnoringAsciiCase) {
  S().Connections = {{0x31, "OFFICE"}, {0x32, "office"}, {0x33, "Caf\xC9"}, {0x34, "Office VPN"}};
  EXPECT_EQ(Q->GetHandleByName("office"), 0x31) << "the first of two equal but for case";
  EXPECT_EQ(Q->GetHandleByName("Office"), 0x31);
  EXPECT_EQ(Q->GetHandleByName("office vpn"), 0x34);
  EXPECT_EQ(Q->GetHandleByName("Off"), 0) << "a prefix does not match";
  EXPECT_EQ(Q->GetHandleByName("Office VPN "), 0);
  EXPECT_EQ(Q->GetHandleByName("CAF\xC9"), 0x33);
  EXPECT_EQ(Q->GetHandleByName("caf\xE9"), 0) << "bytes outside A..Z compare as they are";
  EXPECT_TRUE(Q->Connections->Count() == 0) << "the list is not touched";
}

TEST_F(QuorTest, GetHandleByNameGivesZeroWhenNothingCanBeFound) {
  EXPECT_EQ(Q->GetHandleByName("Office"), 0) << "no connection";
  S().Connections = {{0x31, "Office"}};
  S().EnumConnResult = 603;
  EXPECT_EQ(Q->GetHandleByName("Office"), 0);
  S().EnumConnResult = 0;
  Q->RasInitialized = false;
  EXPECT_EQ(Q->GetHandleByName("Office"), 0);
  Q->RasInitialized = true;
  EXPECT_EQ(Q->GetHandleByName("Office"), 0x31);
}
