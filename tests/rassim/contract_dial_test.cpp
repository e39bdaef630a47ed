// RasDial: the dial events of an asynchronous dial and their timing on the
// virtual clock, the synchronous dial, failures and scenarios.
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasDialContract : public RasContract {};

// The default sequence of a modem entry and the clock reading of each event.
const std::vector<std::pair<TRasConnState, uint64_t>> kModemSequence = {
    {RASCS_OpenPort, 200},         {RASCS_PortOpened, 500},           {RASCS_ConnectDevice, 1100},
    {RASCS_DeviceConnected, 1600}, {RASCS_AllDevicesConnected, 1800}, {RASCS_Authenticate, 2100},
    {RASCS_AuthNotify, 2400},      {RASCS_AuthProject, 2700},         {RASCS_Authenticated, 2900},
    {RASCS_Connected, 3100}};

TEST_F(RasDialContract, PostsOneEventPerStateAtItsTimeThenConnects) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Office", "DEVICE=modem"}});
  uint64_t start = QuorClockNow();
  THRasConn h = 1;
  ASSERT_EQ(StartDial("Office", h), 0u);
  EXPECT_NE(h, 0u);
  Pump();
  EXPECT_TRUE(Events().empty()) << "RasDial returns before the first event";
  RunFor(3200);
  ASSERT_EQ(Events().size(), kModemSequence.size());
  UINT expectedMsg = RegisterWindowMessageA("RasDialEvent");
  for (size_t i = 0; i < kModemSequence.size(); ++i) {
    EXPECT_EQ(Events()[i].state, kModemSequence[i].first) << i;
    EXPECT_EQ(Events()[i].at - start, kModemSequence[i].second) << "state " << Events()[i].state;
    EXPECT_EQ(Events()[i].error, 0u);
    EXPECT_EQ(Events()[i].msg, expectedMsg ? expectedMsg : WM_RASDIALEVENT);
  }
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  EXPECT_STREQ(st.szDeviceType, "modem");
  EXPECT_STREQ(st.szDeviceName, "Quor Virtual Modem");
  EXPECT_EQ(api_.HangUpA(h), 0u);
}

TEST_F(RasDialContract, StepDelaysComeFromTheEntryAndFromTheControlInterface) {
  RAS_CONTRACT("dial");
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Fast", "QuorStepDelay=10\nQuorDelay.ConnectDevice=1s"}, {"Plain", ""}});
  uint64_t start = QuorClockNow();
  THRasConn h;
  ASSERT_EQ(StartDial("Fast", h), 0u);
  RunFor(1200);
  ASSERT_EQ(Events().size(), 10u);
  EXPECT_EQ(Events()[1].at - start, 20u);
  EXPECT_EQ(Events()[2].at - start, 1020u);  // ConnectDevice waits 1 s
  EXPECT_EQ(Events()[9].at - start, 1090u);
  api_.HangUpA(h);

  ClearEvents();
  ASSERT_EQ(api_.SetStepDelay(QUORRASSIM_ANY_STATE, 5), 0u);
  start = QuorClockNow();
  ASSERT_EQ(StartDial("Plain", h), 0u);
  RunFor(60);
  ASSERT_EQ(Events().size(), 10u);
  EXPECT_EQ(Events()[9].at - start, 50u);
  api_.HangUpA(h);
}

TEST_F(RasDialContract, ABusyLineReportsTheStateFirstWithoutThenWithTheError) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  uint64_t start = QuorClockNow();
  THRasConn h;
  ASSERT_TRUE(Dialling(h, "Busy", "QuorOutcome=busy\nQuorStepDelay=100\nQuorErrorDelay=700"));
  RunFor(2000);
  ASSERT_EQ(Events().size(), 4u);
  EXPECT_EQ(Events()[2].state, RASCS_ConnectDevice);
  EXPECT_EQ(Events()[2].error, 0u);
  EXPECT_EQ(Events()[3].state, RASCS_ConnectDevice);
  EXPECT_EQ(Events()[3].error, ERROR_LINE_BUSY);
  EXPECT_EQ(Events()[3].at - start, 1000u);
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u) << "a failed call keeps its handle until it is hung up";
  EXPECT_EQ(st.dwError, ERROR_LINE_BUSY);
  EXPECT_EQ(api_.HangUpA(h), 0u);
}

struct OutcomeCase {
  const char* outcome;
  DWORD error;
  TRasConnState state;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
  *os << c.outcome;
}

class RasDialOutcomes : public RasContract, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(RasDialOutcomes, EachOutcomeFailsWithItsErrorAtItsState) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  const OutcomeCase& c = GetParam();
  THRasConn h;
  ASSERT_TRUE(Dialling(h, "E", std::string("QuorStepDelay=10\nQuorRepeatStateOnError=no\nQuorOutcome=") + c.outcome));
  RunFor(500);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().error, c.error);
  EXPECT_EQ(Events().back().state, c.state);
  for (size_t i = 0; i + 1 < Events().size(); ++i) EXPECT_EQ(Events()[i].error, 0u);
  api_.HangUpA(h);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RasDialOutcomes,
                         ::testing::Values(OutcomeCase{"busy", 676, RASCS_ConnectDevice},
                                           OutcomeCase{"noanswer", 678, RASCS_ConnectDevice},
                                           OutcomeCase{"nocarrier", 679, RASCS_ConnectDevice},
                                           OutcomeCase{"nodialtone", 680, RASCS_ConnectDevice},
                                           OutcomeCase{"authfail", 691, RASCS_Authenticate},
                                           OutcomeCase{"portunavailable", 633, RASCS_OpenPort},
                                           OutcomeCase{"718", 718, RASCS_ConnectDevice}),
                         [](const ::testing::TestParamInfo<OutcomeCase>& info) {
                           return std::string("Outcome_") + info.param.outcome;
                         });

TEST_F(RasDialContract, FailFirstKAttemptsThenConnectCountsAttemptsPerEntry) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Flaky", "QuorStepDelay=10\nQuorOutcome=noanswer\nQuorFailFirst=2"}, {"Other", "QuorStepDelay=10"}});
  for (int attempt = 1; attempt <= 3; ++attempt) {
    ClearEvents();
    THRasConn h;
    ASSERT_EQ(StartDial("Flaky", h), 0u);
    RunFor(700);
    ASSERT_FALSE(Events().empty());
    if (attempt <= 2)
      EXPECT_EQ(Events().back().error, ERROR_NO_ANSWER) << attempt;
    else
      EXPECT_EQ(Events().back().state, RASCS_Connected) << attempt;
    api_.HangUpA(h);
    // Dials of another entry do not count for this one.
    ClearEvents();
    ASSERT_EQ(StartDial("Other", h), 0u);
    RunFor(200);
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events().back().state, RASCS_Connected);
    api_.HangUpA(h);
  }
}

TEST_F(RasDialContract, ADialErrorMakesRasDialFailAtOnceWithoutAHandle) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Dead", "QuorDialError=633"}});
  THRasConn h;
  EXPECT_EQ(StartDial("Dead", h), 633u);
  EXPECT_EQ(h, 0u);
  RunFor(100);
  EXPECT_TRUE(Events().empty());
}

TEST_F(RasDialContract, WrongPasswordFailsAuthenticationWhenTheEntryRequiresOne) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Secure", "QuorStepDelay=10\nQuorRequireUser=alice\nQuorRequirePassword=s3cret"}});
  THRasConn h;
  ASSERT_EQ(StartDial("Secure", h, "alice", "wrong"), 0u);
  RunFor(700);  // the failure follows the state by the error delay (500 ms)
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().error, ERROR_AUTHENTICATION_FAILURE);
  api_.HangUpA(h);
  ClearEvents();
  ASSERT_EQ(StartDial("Secure", h, "alice", "s3cret"), 0u);
  RunFor(300);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().state, RASCS_Connected);
  api_.HangUpA(h);
}

TEST_F(RasDialContract, QueuedFailureHitsOnlyTheNextDial) {
  RAS_CONTRACT("dial");
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Office", "QuorStepDelay=10"}});
  ASSERT_EQ(api_.QueueFailure("office", RASCS_Authenticate, 691), 0u);
  ASSERT_EQ(api_.QueueFailure("Office", QUORRASSIM_ANY_STATE, 680), 0u);
  THRasConn h;
  ASSERT_EQ(StartDial("Office", h), 0u);
  RunFor(700);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().state, RASCS_Authenticate);
  EXPECT_EQ(Events().back().error, 691u);
  api_.HangUpA(h);
  EXPECT_EQ(StartDial("Office", h), 680u) << "the second queued failure: at once";
  ClearEvents();
  ASSERT_EQ(StartDial("Office", h), 0u);
  RunFor(300);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().state, RASCS_Connected);
  api_.HangUpA(h);
}

TEST_F(RasDialContract, ArgumentsAreChecked) {
  RAS_CONTRACT("dial");
  Phonebook({{"Office", ""}});
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Office");
  THRasConn h = 0;
  DWORD wnd = HandleValue(EventWindow());
  EXPECT_EQ(api_.DialA(nullptr, nullptr, nullptr, 0xFFFFFFFFu, wnd, &h), 87u);
  EXPECT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, wnd, nullptr), 87u);
  p.dwSize = 1064;  // a newer layout
  EXPECT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, wnd, &h), 632u);
  p.dwSize = sizeof p;
  TRasDialExtensions ext = {};
  ext.dwSize = 12;
  EXPECT_EQ(api_.DialA(&ext, nullptr, &p, 0xFFFFFFFFu, wnd, &h), 632u);
  h = 77;  // RAS wants 0 to start a new dial
  EXPECT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, wnd, &h), 87u);
  h = 0;
  std::strcpy(p.szEntryName, "Nowhere");
  EXPECT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, wnd, &h), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(h, 0u);
  // A text without its zero inside the field is refused, not read past the field.
  std::memset(p.szEntryName, 'x', sizeof p.szEntryName);
  EXPECT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, wnd, &h), 87u);
  EXPECT_EQ(h, 0u);
  RunFor(50);
  EXPECT_TRUE(Events().empty());
}

TEST_F(RasDialContract, SynchronousDialRunsTheWholeCallAndReturnsItsResult) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Office", "QuorStepDelay=100"}, {"Busy", "QuorStepDelay=100\nQuorOutcome=busy"}});
  uint64_t start = QuorClockNow();
  THRasConn h;
  EXPECT_EQ(SyncDial("Office", h), 0u);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(QuorClockNow() - start, 1000u) << "ten steps of 100 ms on the clock";
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  EXPECT_EQ(api_.HangUpA(h), 0u);

  THRasConn hb;
  EXPECT_EQ(SyncDial("Busy", hb), ERROR_LINE_BUSY);
  EXPECT_NE(hb, 0u) << "the handle must still be hung up";
  EXPECT_EQ(api_.HangUpA(hb), 0u);
  Pump();
  EXPECT_TRUE(Events().empty()) << "no notifier, no events";
}

TEST_F(RasDialContract, TheWideDialTakesWideParameters) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Büro", "QuorStepDelay=10"}});
  TRasDialParamsW p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  const char16_t name[] = u"b\u00dcro";  // case-insensitive match of the Latin-1 capital
  for (size_t i = 0; i < 4; ++i) p.szEntryName[i] = static_cast<WCHAR>(name[i]);
  THRasConn h = 0;
  ASSERT_EQ(api_.DialW(nullptr, nullptr, &p, 0xFFFFFFFFu, HandleValue(EventWindow()), &h), 0u);
  RunFor(200);
  ASSERT_FALSE(Events().empty());
  EXPECT_EQ(Events().back().state, RASCS_Connected);
  auto conns = Connections();
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_STREQ(conns[0].szEntryName, "Büro");
  api_.HangUpA(h);
}

TEST_F(RasDialContract, TheCallIsRecordedForTheControlInterface) {
  RAS_CONTRACT("control");
  Phonebook({{"Office", ""}});
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Office");
  std::strcpy(p.szUserName, "alice");
  std::strcpy(p.szPassword, "pw");
  THRasConn h = 0;
  ASSERT_EQ(api_.DialA(nullptr, nullptr, &p, 0xFFFFFFFFu, HandleValue(EventWindow()), &h), 0u);
  EXPECT_EQ(api_.CallCount("RasDialA"), 1u);
  EXPECT_EQ(api_.CallCount("RasDial"), 1u);
  QuorRasSimCallInfo info;
  std::memset(&info, 0, sizeof info);
  info.dwSize = sizeof info;
  ASSERT_EQ(api_.LastCall("RasDialA", &info), 0u);
  EXPECT_EQ(info.dwPhonebookKind, QUORRASSIM_PHONEBOOK_NULL);
  EXPECT_EQ(info.dwNotifierType, 0xFFFFFFFFu);
  EXPECT_EQ(info.dwNotifier, HandleValue(EventWindow()));
  EXPECT_STREQ(info.szName, "Office");
  TRasDialParamsA got;
  std::memset(&got, 0, sizeof got);
  got.dwSize = sizeof got;
  ASSERT_EQ(api_.LastDialParams(&got), 0u);
  EXPECT_STREQ(got.szUserName, "alice");
  EXPECT_STREQ(got.szPassword, "pw");
  info.dwSize = 4;
  EXPECT_EQ(api_.LastCall("RasDialA", &info), 632u);
  api_.HangUpA(h);
}

// A record laid out for the other pointer width is refused with 632; the library's own width is taken.
TEST_F(RasDialContract, RecordsOfTheOtherPointerWidthAreRefused) {
  RAS_CONTRACT("dial");
  Phonebook({{"Office", ""}});
  std::vector<TRasConnW> buf(4);  // room for either width's records
  const struct {
    const char* what;
    DWORD own, other;
  } rows[] = {{"TRasConnA", RAS_SIZES.ConnA, RAS_SIZES_OTHER.ConnA},
              {"TRasConnW", RAS_SIZES.ConnW, RAS_SIZES_OTHER.ConnW}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    for (DWORD size : {row.own, row.other}) {
      std::memset(buf.data(), 0, buf.size() * sizeof(TRasConnW));
      std::memcpy(buf.data(), &size, sizeof size);
      DWORD cb = static_cast<DWORD>(buf.size() * sizeof(TRasConnW)), count = 0;
      const DWORD r = row.own == RAS_SIZES.ConnA
                          ? api_.EnumConnectionsA(reinterpret_cast<TRasConnA*>(buf.data()), &cb, &count)
                          : api_.EnumConnectionsW(buf.data(), &cb, &count);
      EXPECT_EQ(r, size == row.own ? 0u : 632u) << "dwSize " << size;
    }
  }
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Office");
  TRasDialExtensions ext = {};
  ext.dwSize = RAS_SIZES_OTHER.DialExtensions;
  THRasConn h = 0;
  EXPECT_EQ(api_.DialA(&ext, nullptr, &p, 0xFFFFFFFFu, HandleValue(EventWindow()), &h), 632u) << "dial extensions";
  EXPECT_EQ(h, 0u);
}

}  // namespace
}  // namespace rassimtest
