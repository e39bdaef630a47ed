// RasHangUp, RasGetConnectStatus, RasEnumConnections, RasGetProjectionInfo
// and the "Connected to" window.
#include <algorithm>

#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasHangUpContract : public RasContract, public ::testing::WithParamInterface<int> {};

// Hang up after the k-th event (0: before the first): no event follows, the
// status reads Disconnected during the teardown, then the handle is gone.
TEST_P(RasHangUpContract, EndsTheCallAtAnyState) {
  RAS_CONTRACT("hangup");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  THRasConn h;
  ASSERT_TRUE(Dialling(h, "Office", "QuorStepDelay=100\nQuorTeardown=1000"));
  int k = GetParam();
  RunFor(100 * static_cast<uint64_t>(k));
  ASSERT_EQ(Events().size(), static_cast<size_t>(k));
  EXPECT_EQ(api_.HangUpA(h), 0u);
  RunFor(2000);  // long past the rest of the dial
  EXPECT_EQ(Events().size(), static_cast<size_t>(k)) << "no event after the hang-up";
  EXPECT_TRUE(Connections().empty());
  TRasConnStatusA st;
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(api_.HangUpA(h), ERROR_INVALID_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(EveryState, RasHangUpContract, ::testing::Range(0, 11));

class RasHangUpTeardown : public RasContract {};

TEST_F(RasHangUpTeardown, StatusReadsDisconnectedUntilTheTeardownIsOver) {
  RAS_CONTRACT("hangup");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  THRasConn h;
  ASSERT_TRUE(Connected(h, "Office", "QuorStepDelay=10\nQuorTeardown=1000"));
  ASSERT_EQ(api_.HangUpA(h), 0u);
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Disconnected);
  EXPECT_EQ(api_.HangUpA(h), 0u) << "a second hang-up during the teardown is harmless";
  RunFor(999);
  ASSERT_EQ(Status(h, st), 0u);
  RunFor(1);
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(api_.HangUpA(0x7777777u), ERROR_INVALID_HANDLE);
}

class RasGetConnectStatusContract : public RasContract {};

TEST_F(RasGetConnectStatusContract, ChecksItsRecordAndLeavesItUnfilledForUnknownHandles) {
  RAS_CONTRACT("status");
  TRasConnStatusA st;
  std::memset(&st, 0, sizeof st);
  st.dwSize = sizeof st;
  EXPECT_EQ(api_.GetConnectStatusA(0x1234567u, &st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(st.rasconnstate, 0u);
  EXPECT_EQ(st.szDeviceName[0], 0);
  EXPECT_EQ(api_.GetConnectStatusA(1, nullptr), 87u);
  THRasConn h;
  ASSERT_TRUE(Dialling(h, "Office", "QuorStepDelay=10"));
  st.dwSize = 100;
  EXPECT_EQ(api_.GetConnectStatusA(h, &st), 632u);
  TRasConnStatusW w;
  std::memset(&w, 0, sizeof w);
  w.dwSize = sizeof w;
  ASSERT_TRUE(Await(200, [&] { return LastEventIs(RASCS_Connected); }));
  ASSERT_EQ(api_.GetConnectStatusW(h, &w), 0u);
  EXPECT_EQ(w.rasconnstate, RASCS_Connected);
  EXPECT_ON_TARGET("device type of a plain entry", static_cast<char>(w.szDeviceType[0]), 'm');
  HangUp(h);
}

TEST_F(RasGetConnectStatusContract, ReportsTheStateWhileDiallingAndTheDeviceOfTheEntry) {
  RAS_CONTRACT("status");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Tunnel", "QuorStepDelay=100\nDEVICE=vpn\nDevice=Quor VPN Port"}, {"Line", "DEVICE=isdn"}});
  THRasConn h;
  ASSERT_EQ(StartDial("Tunnel", h), 0u);
  RunFor(300);
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_ConnectDevice);
  EXPECT_EQ(st.dwError, 0u);
  EXPECT_STREQ(st.szDeviceType, "vpn");
  EXPECT_STREQ(st.szDeviceName, "Quor VPN Port");
  THRasConn h2;
  ASSERT_EQ(StartDial("Line", h2), 0u);
  ASSERT_EQ(Status(h2, st), 0u);
  EXPECT_STREQ(st.szDeviceType, "isdn");
  EXPECT_STREQ(st.szDeviceName, "Quor ISDN Line");
  api_.HangUpA(h);
  api_.HangUpA(h2);
}

TEST_F(RasGetConnectStatusContract, ALineDroppedAfterNSecondsIsGone) {
  RAS_CONTRACT("status");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  THRasConn h;
  ASSERT_TRUE(Connected(h, "Office", "QuorStepDelay=10\nQuorDropAfter=5"));  // at 100 ms
  ASSERT_EQ(Connections().size(), 1u);
  RunFor(4999);
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  RunFor(1);
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(st.rasconnstate, 0u) << "the record is left unfilled";
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(api_.HangUpA(h), 0u) << "the handle is still released by a hang-up";
  EXPECT_EQ(api_.HangUpA(h), ERROR_INVALID_HANDLE);
}

TEST_F(RasGetConnectStatusContract, DropConnectionLosesTheLineAtOnce) {
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("control interface");
  THRasConn h;
  ASSERT_TRUE(Connected(h, "Office"));
  ASSERT_EQ(api_.DropConnection(h), 0u);
  TRasConnStatusA st;
  EXPECT_EQ(Status(h, st), ERROR_INVALID_HANDLE);
  EXPECT_EQ(api_.DropConnection(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(api_.HangUpA(h), 0u);
}

class RasEnumConnectionsContract : public RasContract {};

TEST_F(RasEnumConnectionsContract, NegotiatesTheBufferAndChecksTheRecordSize) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"A", "QuorStepDelay=10"}, {"B", "QuorStepDelay=10\nDEVICE=vpn"}});
  THRasConn ha, hb;
  ASSERT_EQ(StartDial("A", ha), 0u);
  ASSERT_EQ(StartDial("B", hb), 0u);
  DWORD size = 0, count = 99;
  EXPECT_EQ(api_.EnumConnectionsA(nullptr, &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 2 * sizeof(TRasConnA));
  EXPECT_EQ(count, 2u);
  TRasConnA one[2];
  std::memset(one, 0, sizeof one);
  one[0].dwSize = sizeof(TRasConnA);
  size = sizeof(TRasConnA);
  EXPECT_EQ(api_.EnumConnectionsA(one, &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 2 * sizeof(TRasConnA));
  EXPECT_EQ(THRasConn{one[0].hrasconn}, 0u) << "nothing written when it does not fit";
  one[0].dwSize = 704;  // a newer layout
  size = sizeof one;
  EXPECT_EQ(api_.EnumConnectionsA(one, &size, &count), 632u);
  EXPECT_EQ(api_.EnumConnectionsA(one, nullptr, &count), 87u);
  EXPECT_EQ(api_.EnumConnectionsA(one, &size, nullptr), 87u);
  one[0].dwSize = sizeof(TRasConnA);
  ASSERT_EQ(api_.EnumConnectionsA(one, &size, &count), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(THRasConn{one[0].hrasconn}, ha);
  EXPECT_STREQ(one[0].szEntryName, "A");
  EXPECT_STREQ(one[0].szDeviceType, "modem");
  EXPECT_EQ(THRasConn{one[1].hrasconn}, hb);
  EXPECT_EQ(one[1].dwSize, sizeof(TRasConnA));
  EXPECT_STREQ(one[1].szDeviceName, "Quor VPN Port");
  TRasConnW w[2];
  std::memset(w, 0, sizeof w);
  w[0].dwSize = sizeof(TRasConnW);
  size = sizeof w;
  ASSERT_EQ(api_.EnumConnectionsW(w, &size, &count), 0u);
  EXPECT_EQ(w[1].szEntryName[0], u'B');
  api_.HangUpA(ha);
  api_.HangUpA(hb);
}

TEST_F(RasEnumConnectionsContract, TheComponentsBufferHoldsTwentyFiveConnections) {
  RAS_CONTRACT("enum-connections");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 26; ++i) entries.push_back({"E" + std::to_string(i), ""});
  Phonebook(entries);
  std::vector<THRasConn> handles;
  for (int i = 0; i < 26; ++i) {
    THRasConn h;
    ASSERT_EQ(StartDial("E" + std::to_string(i), h), 0u);
    handles.push_back(h);
    if (i == 24) {
      std::vector<TRasConnA> buf(100);
      buf[0].dwSize = sizeof(TRasConnA);
      DWORD size = 25 * RAS_SIZES.ConnA, count = 0;
      ASSERT_EQ(api_.EnumConnectionsA(buf.data(), &size, &count), 0u);
      EXPECT_EQ(count, 25u);
      EXPECT_STREQ(buf[24].szEntryName, "E24");
    }
  }
  std::vector<TRasConnA> buf(100);
  buf[0].dwSize = sizeof(TRasConnA);
  DWORD size = 25 * RAS_SIZES.ConnA, count = 0;
  EXPECT_EQ(api_.EnumConnectionsA(buf.data(), &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 26 * sizeof(TRasConnA));
  EXPECT_EQ(count, 26u);
  for (THRasConn h : handles) api_.HangUpA(h);
}

// A whole call as every target makes it (a real service in real time): the
// events rise to Connected without an error, and the status, the list and the
// projection agree until the hang-up ends it; a synchronous dial then waits.
TEST_F(RasEnumConnectionsContract, ACallIsListedInspectedAndHungUp) {
  RAS_CONTRACT("dial");
  RAS_CONTRACT("enum-connections");
  RAS_CONTRACT("projection");
  Phonebook({{"Office", "QuorStepDelay=10\nQuorTeardown=50"}});
  THRasConn h;
  ASSERT_EQ(StartDial("Office", h), 0u);
  ASSERT_TRUE(Await(
      200, [&] { return !Events().empty() && (Events().back().state == RASCS_Connected || Events().back().error); }));
  std::vector<TRasConnState> states;
  for (const DialEvent& e : Events()) {
    EXPECT_EQ(e.error, 0u) << e.state;
    states.push_back(e.state);
  }
  EXPECT_TRUE(std::is_sorted(states.begin(), states.end()));
  EXPECT_EQ(states.back(), RASCS_Connected);
  TRasConnStatusA st;
  ASSERT_EQ(Status(h, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  std::vector<TRasConnA> conns = Connections();
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_ON_TARGET("the dial's handle is listed", conns[0].hrasconn == h, true);
  EXPECT_STREQ(conns[0].szEntryName, "Office");
  // Our RAS library's 64-bit handles carry an upper half, so a holder that
  // cuts one to 32 bits loses the call instead of keeping it by luck.
  if (sizeof(THRasConn) == 8 && Target() != "wine") {
    EXPECT_NE(static_cast<uint64_t>(h) >> 32, 0u);
    EXPECT_EQ(Status(static_cast<THRasConn>(static_cast<uint32_t>(h)), st), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  TRasPppIpA ip;
  std::memset(&ip, 0, sizeof ip);
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  ASSERT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, &size), 0u);
  EXPECT_NE(ip.szIpAddress[0], 0);
  ASSERT_EQ(api_.HangUpA(h), 0u);
  EXPECT_TRUE(Await(100, [&] { return Status(h, st) == ERROR_INVALID_HANDLE; }));
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(api_.HangUpA(h), ERROR_INVALID_HANDLE);

  THRasConn hs;
  ASSERT_EQ(SyncDial("Office", hs), 0u);
  ASSERT_EQ(Status(hs, st), 0u);
  EXPECT_EQ(st.rasconnstate, RASCS_Connected);
  HangUp(hs);
}

class RasGetProjectionInfoContract : public RasContract {};

TEST_F(RasGetProjectionInfoContract, AnswersForConnectedCallsOnly) {
  RAS_CONTRACT("projection");
  Phonebook({{"Office", "QuorStepDelay=100\nQuorIpAddress=10.1.2.3"}});
  TRasPppIpA ip;
  std::memset(&ip, 0, sizeof ip);
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  EXPECT_EQ(api_.GetProjectionInfoA(0x4444444u, RASP_PppIp, &ip, &size), ERROR_INVALID_HANDLE);
  THRasConn h;
  ASSERT_EQ(StartDial("Office", h), 0u);
  EXPECT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, &size), ERROR_PROJECTION_NOT_COMPLETE);
  ASSERT_TRUE(Await(1100, [&] { return LastEventIs(RASCS_Connected); }));
  size = 8;
  EXPECT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, &size), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof ip);
  ip.dwSize = 72;
  EXPECT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, &size), 632u);
  ip.dwSize = sizeof ip;
  ASSERT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, &size), 0u);
  std::string address = ip.szIpAddress;
  EXPECT_ON_TARGET("network of Office's address", address.substr(0, address.rfind('.')), "10.1.2");
  // FIXME: on NetworkManager the server address (the gateway) read right after Connected is sometimes still
  // empty (wait for the connection's IPv4 record before posting Connected, or read the DHCP answer's router).
  if (!RealService()) {
    EXPECT_STREQ(ip.szServerIpAddress, "10.64.0.1");
  }
  EXPECT_EQ(api_.GetProjectionInfoA(h, RASP_PppIpx, &ip, &size), ERROR_PROTOCOL_NOT_CONFIGURED);
  EXPECT_EQ(api_.GetProjectionInfoA(h, RASP_PppIp, &ip, nullptr), 87u);
  HangUp(h);
}

class ConnectionWindowContract : public RasContract {};

TEST_F(ConnectionWindowContract, AppearsOnceConnectedAndGoesWithTheCall) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  Phonebook({{"Office", "QuorStepDelay=10"}, {"Quiet", "QuorStepDelay=10\nQuorConnectionWindow=no"}});
  THRasConn h;
  ASSERT_EQ(StartDial("Office", h), 0u);
  RunFor(90);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Office"), HWND{}) << "not before the call is up";
  RunFor(20);
  HWND w = FindWindowA(nullptr, "Connected to Office");
  ASSERT_NE(w, HWND{});
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_EQ(GetWindowThreadProcessId(w, nullptr), GetCurrentThreadId()) << "made on the dialling thread";
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Office "), HWND{});
  if (api_.GetConnectionWindow) {
    HWND got = 0;
    EXPECT_EQ(api_.GetConnectionWindow(h, &got), 0u);
    EXPECT_EQ(got, w);
  }
  ASSERT_EQ(api_.HangUpA(h), 0u);
  EXPECT_FALSE(IsWindow(w));

  ASSERT_EQ(StartDial("Quiet", h), 0u);
  RunFor(200);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Quiet"), HWND{});
  api_.HangUpA(h);
}

TEST_F(ConnectionWindowContract, ALostLineTakesItsWindowAlong) {
  RAS_CONTRACT("dial");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  THRasConn h;
  ASSERT_TRUE(Connected(h, "Office", "QuorStepDelay=10\nQuorDropAfter=1s", 200));
  HWND w = FindWindowA(nullptr, "Connected to Office");
  ASSERT_NE(w, HWND{});
  RunFor(1000);
  EXPECT_FALSE(IsWindow(w));
  api_.HangUpA(h);
}

}  // namespace
}  // namespace rassimtest
