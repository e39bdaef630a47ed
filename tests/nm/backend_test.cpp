// The NetworkManager backend against a real NetworkManager (inside the rig,
// tests/nm/rig.sh): profiles, dial parameters, dials with their events,
// failures, losses and hang-ups, what ended calls leave behind, and a
// NetworkManager that answers late or starts later. Waits are real time and bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "RasSim/backends/networkmanager/NmBackend.h"
#include "RasSim/backends/networkmanager/NmBrief.h"
#include "RasSim/backends/networkmanager/NmMap.h"
#include "Win32/Win32.h"

namespace {

struct Event {
  TRasConnState state;
  DWORD error;
};
std::vector<Event> gEvents;
UINT gMsg = 0;

LRESULT CALLBACK EventProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == gMsg) {
    gEvents.push_back({static_cast<TRasConnState>(wp), static_cast<DWORD>(lp)});
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

void Ctl(const std::string& args) {
  std::string cmd = "bash \"" + std::string(std::getenv("QUOR_NM_RIG_CTL")) + "\" " + args;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

void Nmcli(const std::string& args) {
  std::string cmd = "nmcli " + args + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

bool TunnelExists(const char* name) {
  return if_nametoindex(name) != 0;
}

// The backend as the edge sees it: its table, opened with services that post
// dial events as the edge does (PostMessage to the notifier's window).
const rassim::BackendOps& Nm() {
  return rasnm::Ops();
}
const rassim::PbArg kPb;  // the phonebook argument (NetworkManager has one set of profiles)

// What the backend reported to the edge's watch: connections made and ended (any thread).
std::mutex gWatchLock;
std::vector<std::pair<THRasConn, bool>> gWatched;
void Watched(THRasConn h, bool made) {
  std::lock_guard<std::mutex> held(gWatchLock);
  gWatched.push_back({h, made});
}
bool WasWatched(THRasConn h, bool made) {
  std::lock_guard<std::mutex> held(gWatchLock);
  return std::count(gWatched.begin(), gWatched.end(), std::make_pair(h, made)) > 0;
}

bool PostByMessage(const rassim::DialNotifier& to, TRasConnState state, DWORD error) {
  return PostMessageA(to.wnd, to.msg, static_cast<WPARAM>(state), static_cast<LPARAM>(error)) != 0;
}

rassim::DialRequest Request(const rassim::DialParams& params, HWND wnd, UINT msg) {
  rassim::DialRequest r;
  r.params = params;
  r.notifier.wnd = wnd;
  r.notifier.msg = msg;
  return r;
}

class NmBackend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = EventProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "NmBackendEvents";
    RegisterClassA(&wc);
    gMsg = RegisterWindowMessageA(RASDIALEVENT);
    rassim::EdgeServices edge;
    edge.PostDialEvent = PostByMessage;
    edge.ConnectionMade = [](THRasConn h) { Watched(h, true); };
    edge.ConnectionEnded = [](THRasConn h) { Watched(h, false); };
    ASSERT_EQ(Nm().Open(edge), 0u);
  }
  static void TearDownTestSuite() { Nm().Close(); }

  void SetUp() override {
    if (!std::getenv("QUOR_NM_RIG")) GTEST_SKIP() << "runs only inside the NetworkManager rig (tests/nm/rig.sh)";
    wnd_ =
        CreateWindowExA(0, "NmBackendEvents", "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, GetModuleHandleA(nullptr), nullptr);
    gEvents.clear();
  }
  void TearDown() override {
    for (THRasConn h : open_) Nm().HangUp(h);
    for (THRasConn h : open_) WaitGone(h);
    Pump();
    if (wnd_) DestroyWindow(wnd_);
  }

  void Pump() {
    MSG m;
    while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  // Dispatches events until `done` holds or `ms` pass.
  bool Until(const std::function<bool()>& done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      Pump();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }
  bool Ended() const { return !gEvents.empty() && (gEvents.back().state == RASCS_Connected || gEvents.back().error); }
  THRasConn Dial(const std::string& entry, DWORD expect = 0) {
    rassim::DialParams p;
    p.entry = entry;
    THRasConn h = 0;
    EXPECT_EQ(Nm().Dial(Request(p, wnd_, gMsg), &h), 0u);
    if (h) open_.push_back(h);
    EXPECT_TRUE(Until([&] { return Ended(); }, 15000)) << entry;
    EXPECT_EQ(gEvents.empty() ? ~0u : gEvents.back().error, expect) << entry;
    return h;
  }
  bool Gone(THRasConn h) {
    rassim::ConnStatus st;
    return Nm().GetConnectStatus(h, st) == ERROR_INVALID_HANDLE;
  }
  bool WaitGone(THRasConn h, int ms = 10000) {
    return Until([&] { return Gone(h); }, ms);
  }
  std::vector<std::string> Active() {
    std::vector<rassim::ConnInfo> list;
    EXPECT_EQ(Nm().EnumConnections(list), 0u);
    std::vector<std::string> names;
    for (auto& c : list) names.push_back(c.entry);
    std::sort(names.begin(), names.end());
    return names;
  }

  // What the backend holds once it holds no more than `base` (bounded wait; an object of an
  // earlier call may still have been finalizing when `base` was taken).
  rasnm::Holdings SettledAt(const rasnm::Holdings& base) {
    rasnm::Holdings now;
    Until(
        [&] {
          return rasnm::Inspect(now) == 0 && now.calls == base.calls && now.handles == base.handles &&
                 now.liveCalls == base.liveCalls && now.objects <= base.objects && now.refs <= base.refs &&
                 now.hookups <= base.hookups;
        },
        5000);
    return now;
  }
  // NetworkManager has nothing of the profile active any more (seen with nmcli, not through the backend).
  static bool Idle(const std::string& entry) {
    std::string cmd = "nmcli -t -f NAME connection show --active | grep -qxF '" + entry + "'";
    return std::system(cmd.c_str()) != 0 && !TunnelExists("tun7");
  }

  HWND wnd_ = 0;
  std::vector<THRasConn> open_;
};

TEST_F(NmBackend, ProfilesAreThePhonebook) {
  std::vector<std::string> names;
  ASSERT_EQ(Nm().EnumEntries(kPb, names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"Office", "Office VPN"}));

  struct Row {
    std::string name;
    DWORD validate;
  };
  for (const Row& r : std::vector<Row>{
           {"office", ERROR_ALREADY_EXISTS}, {"Home", 0}, {".hidden", ERROR_INVALID_NAME}, {"", ERROR_INVALID_NAME}})
    EXPECT_EQ(Nm().ValidateEntryName(kPb, r.name), r.validate) << r.name;

  rassim::EntryProps props;
  ASSERT_EQ(Nm().GetEntryProperties(kPb, "office vpn", props), 0u);
  EXPECT_EQ(props.deviceType + "/" + props.deviceName, "vpn/openvpn");
  ASSERT_EQ(Nm().GetEntryProperties(kPb, "Office", props), 0u);
  EXPECT_EQ(props.deviceType + "/" + props.deviceName, "GENERIC/veth0");

  rasnm::NewEntry e{"ethernet", "Lab", {{"connection.interface-name", "veth0"}, {"ipv4.method", "auto"}}};
  ASSERT_EQ(rasnm::CreateEntry(e), 0u);
  EXPECT_EQ(rasnm::CreateEntry(e), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Nm().RenameEntry(kPb, "Lab", "Office"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_EQ(Nm().RenameEntry(kPb, "lab", "Lab 2"), 0u);
  ASSERT_EQ(Nm().EnumEntries(kPb, names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"Lab 2", "Office", "Office VPN"}));
  ASSERT_EQ(Nm().DeleteEntry(kPb, "Lab 2"), 0u);
  EXPECT_EQ(Nm().DeleteEntry(kPb, "Lab 2"), static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  EXPECT_EQ(Nm().RenameEntry(kPb, "Nowhere", "X"), static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  // Settings NetworkManager refuses, whether libnm or the service finds the fault: the caller's parameter.
  for (const rasnm::NewEntry& bad : std::vector<rasnm::NewEntry>{
           {"fax", "Fax", {}},
           {"ethernet", "Static", {{"ipv4.method", "manual"}}},  // manual without an address: the service refuses
           {"ethernet", "Typo", {{"ipv4.methd", "auto"}}}})
    EXPECT_EQ(rasnm::CreateEntry(bad), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << bad.name;
  ASSERT_EQ(Nm().EnumEntries(kPb, names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"Office", "Office VPN"}));
}

TEST_F(NmBackend, DialParamsAreTheProfilesUserAndSecrets) {
  rassim::DialParams p{"Office VPN", "", "", "alice", "s3cret", ""};
  ASSERT_EQ(Nm().SetEntryDialParams(kPb, p, false), 0u);
  // A rename keeps the stored secrets.
  ASSERT_EQ(Nm().RenameEntry(kPb, "Office VPN", "Office VPN 2"), 0u);
  rassim::DialParams got;
  bool havePassword = false;
  ASSERT_EQ(Nm().GetEntryDialParams(kPb, "office vpn 2", got, havePassword), 0u);
  EXPECT_EQ(got.entry + "|" + got.user + "|" + std::string(got.password.View()), "Office VPN 2|alice|s3cret");
  EXPECT_TRUE(havePassword);
  ASSERT_EQ(Nm().RenameEntry(kPb, "Office VPN 2", "Office VPN"), 0u);

  p.password = "ignored";
  ASSERT_EQ(Nm().SetEntryDialParams(kPb, p, true), 0u);
  ASSERT_EQ(Nm().GetEntryDialParams(kPb, "Office VPN", got, havePassword), 0u);
  EXPECT_EQ(got.user + "|" + std::string(got.password.View()), "alice|");
  EXPECT_FALSE(havePassword);
  p.user = "";
  ASSERT_EQ(Nm().SetEntryDialParams(kPb, p, true), 0u);

  // A wired profile without 802.1X has no place for a user or password.
  EXPECT_EQ(Nm().SetEntryDialParams(kPb, {"Office", "", "", "bob", "pw", ""}, false),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_EQ(Nm().GetEntryDialParams(kPb, "Office", got, havePassword), 0u);
  EXPECT_EQ(got.user + std::string(got.password.View()), "");
  EXPECT_EQ(Nm().GetEntryDialParams(kPb, "Nowhere", got, havePassword),
            static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));

  // Parameters that would leave the profile invalid (802.1X PEAP needs an identity): NetworkManager
  // refuses the update, and so does the call, as a bad parameter; the profile stays as it was.
  Nmcli(
      "connection add type ethernet ifname veth0 con-name Dot1x connection.autoconnect no 802-1x.eap peap "
      "802-1x.identity bob 802-1x.phase2-auth mschapv2 802-1x.password pw");
  ASSERT_TRUE(Until([&] { return Nm().GetEntryDialParams(kPb, "Dot1x", got, havePassword) == 0; }, 5000));
  EXPECT_EQ(Nm().SetEntryDialParams(kPb, {"Dot1x", "", "", "", "", ""}, false),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_EQ(Nm().GetEntryDialParams(kPb, "Dot1x", got, havePassword), 0u);
  EXPECT_EQ(got.user + "|" + std::string(got.password.View()), "bob|pw");
  Nmcli("connection delete Dot1x");
}

TEST_F(NmBackend, WiredDialConnectsIsListedAndHangsUp) {
  THRasConn h = Dial("Office");
  ASSERT_NE(h, 0u);
  std::vector<TRasConnState> states;
  for (const Event& e : gEvents) states.push_back(e.state);
  EXPECT_EQ(states,
            (std::vector<TRasConnState>{RASCS_OpenPort, RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected,
                                        RASCS_AuthProject, RASCS_Projected, RASCS_Connected}));
  rassim::ConnStatus st;
  ASSERT_EQ(Nm().GetConnectStatus(h, st), 0u);
  EXPECT_EQ(st.state, RASCS_Connected);
  EXPECT_EQ(st.deviceType + "/" + st.deviceName, "GENERIC/veth0");

  std::vector<rassim::ConnInfo> list;
  ASSERT_EQ(Nm().EnumConnections(list), 0u);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].entry, "Office");
  EXPECT_TRUE(rasnm::IsActiveHandle(list[0].handle));
  // The listed handle reaches the same connection.
  ASSERT_EQ(Nm().GetConnectStatus(list[0].handle, st), 0u);
  EXPECT_EQ(st.state, RASCS_Connected);
  std::string ip, server;
  ASSERT_EQ(Nm().GetProjection(h, ip, server), 0u);
  EXPECT_EQ(ip.rfind("10.77.0.", 0), 0u) << ip;

  ASSERT_EQ(Nm().HangUp(h), 0u);
  EXPECT_TRUE(WaitGone(h, 5000));
  EXPECT_TRUE(Active().empty());
  EXPECT_EQ(Nm().HangUp(h), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(NmBackend, DialFailuresCarryTheReasonsRasError) {
  THRasConn h = 0;
  rassim::DialParams p;
  p.entry = "Nowhere";
  EXPECT_EQ(Nm().Dial(Request(p, 0, 0), &h), static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  EXPECT_EQ(h, 0u);

  // DHCP server frozen: the IP configuration fails (NetworkManager's reason 5).
  Nmcli("connection modify Office ipv4.dhcp-timeout 3");
  Ctl("dhcp-freeze");
  h = Dial("Office", ERROR_IP_CONFIGURATION);
  Ctl("dhcp-thaw");
  Nm().HangUp(h);
  Nmcli("connection modify Office ipv4.dhcp-timeout 0");

  // A synchronous dial waits for the outcome.
  p.entry = "Office";
  h = 0;
  ASSERT_EQ(Nm().Dial(Request(p, 0, 0), &h), 0u);
  open_.push_back(h);
  rassim::ConnStatus st;
  ASSERT_EQ(Nm().GetConnectStatus(h, st), 0u);
  EXPECT_EQ(st.state, RASCS_Connected);

  // Over that wire, a VPN that needs a password nobody stored, and no agent to ask: NetworkManager's
  // "no secrets".
  Nmcli(
      "connection add type vpn vpn-type openvpn con-name Locked connection.autoconnect no ipv6.method disabled "
      "vpn.data 'connection-type=password, remote=10.77.0.1, username=alice, password-flags=0, dev=tun8, "
      "dev-type=tun'");
  ASSERT_TRUE(Until(
      [] {
        std::vector<std::string> names;
        return Nm().EnumEntries(kPb, names) == 0 && std::count(names.begin(), names.end(), "Locked") == 1;
      },
      5000));  // the backend learns of the new profile from NetworkManager's signal
  auto started = std::chrono::steady_clock::now();
  h = Dial("Locked", ERROR_AUTHENTICATION_FAILURE);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  Nm().HangUp(h);
  Nmcli("connection delete Locked");
}

// A lost line's status call gives the reason it was lost, as RAS says it, until it is hung up.
TEST_F(NmBackend, LossesReportTheirReason) {
  struct Row {
    const char* how;
    std::function<void()> lose, restore;
    DWORD reason;
  };
  auto ctl = [](const char* a) { return [a] { Ctl(a); }; };
  for (const Row& r : std::vector<Row>{
           {"hung up by another program", [] { Nmcli("connection down Office"); }, [] {}, ERROR_USER_DISCONNECTION},
           {"carrier lost", ctl("link-down"), ctl("link-up"), ERROR_PORT_DISCONNECTED},
           {"wire deleted", ctl("link-delete"), ctl("link-restore"), ERROR_HARDWARE_FAILURE}}) {
    gEvents.clear();
    THRasConn h = Dial("Office");
    r.lose();
    rassim::ConnStatus st;
    DWORD got = 0;
    EXPECT_TRUE(Until([&] { return (got = Nm().GetConnectStatus(h, st)) != 0; }, 15000)) << r.how;
    EXPECT_EQ(got, r.reason) << r.how;
    EXPECT_EQ(Nm().HangUp(h), 0u) << r.how;
    EXPECT_TRUE(WaitGone(h, 5000)) << r.how;
    r.restore();
    ASSERT_TRUE(
        Until([] { return std::system("nmcli -t -f DEVICE,STATE device | grep -qx veth0:disconnected") == 0; }, 10000))
        << r.how;
  }
}

// The byte counters move by at least what was sent over the line (the peer's discard port).
TEST_F(NmBackend, StatisticsCountRealTraffic) {
  ASSERT_NE(Nm().GetStatistics, nullptr);
  rassim::ConnStats before, now;
  EXPECT_EQ(Nm().GetStatistics(rasnm::kPendingHandleBase + 999, before), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  THRasConn h = Dial("Office");
  ASSERT_EQ(Nm().GetStatistics(h, before), 0u);
  constexpr uint32_t kSent = 200 * 1000;
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(9);
  inet_pton(AF_INET, "10.77.0.1", &peer.sin_addr);
  const std::vector<char> chunk(1000, 'q');
  for (uint32_t sent = 0; sent < kSent; sent += chunk.size())
    ASSERT_EQ(sendto(s, chunk.data(), chunk.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer), 1000);
  close(s);
  EXPECT_TRUE(
      Until([&] { return Nm().GetStatistics(h, now) == 0 && now.bytesXmited - before.bytesXmited >= kSent; }, 10000))
      << now.bytesXmited << " after " << before.bytesXmited;
  EXPECT_GT(now.connectDurationMs, 0u);
  EXPECT_EQ(now.framesXmited + now.crcErr + now.bps, 0u);  // NetworkManager counts bytes only
}

// Another process's active connections appearing and going reach the edge's watch.
TEST_F(NmBackend, OtherProcessesConnectionsReachTheWatch) {
  Nmcli("connection up Office");
  std::vector<rassim::ConnInfo> list;
  ASSERT_TRUE(Until([&] { return Nm().EnumConnections(list) == 0 && list.size() == 1; }, 10000));
  THRasConn h = list[0].handle;
  EXPECT_TRUE(Until([&] { return WasWatched(h, true); }, 5000));
  EXPECT_FALSE(WasWatched(h, false));
  Nmcli("connection down Office");
  EXPECT_TRUE(Until([&] { return WasWatched(h, false); }, 10000));
}

TEST_F(NmBackend, VpnTunnelIsGoneBeforeTheHangUpCompletes) {
  Dial("Office");
  gEvents.clear();
  THRasConn v = Dial("Office VPN");
  rassim::ConnStatus st;
  ASSERT_EQ(Nm().GetConnectStatus(v, st), 0u);
  EXPECT_EQ(st.deviceType + "/" + st.deviceName, "vpn/tun7");
  EXPECT_EQ(Active(), (std::vector<std::string>{"Office", "Office VPN"}));

  ASSERT_EQ(Nm().HangUp(v), 0u);
  ASSERT_TRUE(WaitGone(v));
  EXPECT_FALSE(TunnelExists("tun7"));

  // At once again: the dial waits for nothing now, and the server dying is a loss.
  gEvents.clear();
  v = Dial("Office VPN");
  Ctl("vpn-server-kill");
  // The loss reads as its reason (not as a handle that is gone) until hung up.
  DWORD why = 0;
  EXPECT_TRUE(Until([&] { return (why = Nm().GetConnectStatus(v, st)) != 0; }, 15000));
  EXPECT_NE(why, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  Nm().HangUp(v);
  EXPECT_TRUE(WaitGone(v, 5000));
  Ctl("vpn-server-start");
}

// The component hangs up with RasHangUp and a fixed pause, and never asks about the handle again: whatever the
// call went through, it must leave no call, handle, libnm reference or signal handler behind.
TEST_F(NmBackend, EndedCallsLeaveNothingBehindWithoutAStatusRead) {
  enum class End { Connected, AtOnce, AfterLoss };
  struct Row {
    std::string entry;
    End end;
  };
  auto cycle = [&](const Row& r) {
    gEvents.clear();
    rassim::DialParams p;
    p.entry = r.entry;
    THRasConn h = 0;
    ASSERT_EQ(Nm().Dial(Request(p, wnd_, gMsg), &h), 0u);
    if (r.end != End::AtOnce) {
      ASSERT_TRUE(Until([&] { return Ended(); }, 15000)) << r.entry;
    }
    if (r.end == End::AfterLoss) Nmcli("connection down '" + r.entry + "'");
    ASSERT_EQ(Nm().HangUp(h), 0u) << r.entry;
    ASSERT_TRUE(Until([&] { return Idle(r.entry); }, 10000)) << r.entry;
  };
  rasnm::Holdings base;
  auto loop = [&](const std::vector<Row>& rows) {
    for (const Row& r : rows) cycle(r);  // the first round: libnm's objects of the profile come to exist
    ASSERT_EQ(rasnm::Inspect(base), 0u);
    for (int round = 0; round < 3; ++round)
      for (const Row& r : rows) cycle(r);
    rasnm::Holdings after = SettledAt(base);
    EXPECT_EQ(after.calls, base.calls);
    EXPECT_EQ(after.handles, base.handles);
    EXPECT_EQ(after.liveCalls, base.liveCalls);
    EXPECT_LE(after.objects, base.objects);
    EXPECT_LE(after.refs, base.refs);
    EXPECT_LE(after.hookups, base.hookups);
  };
  loop({{"Office", End::Connected}, {"Office", End::AtOnce}, {"Office", End::AfterLoss}});
  EXPECT_EQ(base.calls + base.liveCalls, 0u);

  // A VPN over the wire: its hang-up ends when the tunnel is gone.
  rassim::DialParams p;
  p.entry = "Office";
  THRasConn wire = 0;
  ASSERT_EQ(Nm().Dial(Request(p, 0, 0), &wire), 0u);
  open_.push_back(wire);
  loop({{"Office VPN", End::Connected}, {"Office VPN", End::AtOnce}});
}

// NetworkManager that answers late, or starts after the first call: the calls after it find it.
TEST_F(NmBackend, ClientStartIsRetriedUntilNetworkManagerAnswers) {
  std::vector<std::string> names;
  auto listed = [&] { return Nm().EnumEntries(kPb, names) == 0 && names.size() == 2; };
  // The first start's wait runs out: 711 for that call only.
  Nm().Close();
  Ctl("nm-freeze");
  EXPECT_EQ(Nm().EnumEntries(kPb, names), static_cast<DWORD>(ERROR_RASMAN_CANNOT_INITIALIZE));
  Ctl("nm-thaw");
  EXPECT_TRUE(Until(listed, 10000));

  // Callers during a first start wait for it (real time: the rig's NetworkManager answers 0.5 s late).
  Nm().Close();
  Ctl("nm-freeze");
  struct Answer {
    DWORD result = ~0u;
    std::vector<std::string> names;
  } answers[2];
  std::vector<std::thread> callers;
  for (Answer& a : answers) {
    callers.emplace_back([&a] { a.result = Nm().EnumEntries(kPb, a.names); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Ctl("nm-thaw");
  for (std::thread& t : callers) t.join();
  for (const Answer& a : answers) {
    EXPECT_EQ(a.result, 0u);
    EXPECT_EQ(a.names, (std::vector<std::string>{"Office", "Office VPN"}));
  }

  // NetworkManager stopped, then started again.
  Ctl("nm-stop");  // the client hears of it a moment later
  EXPECT_TRUE(Until([&] { return Nm().EnumEntries(kPb, names) == ERROR_RASMAN_CANNOT_INITIALIZE; }, 5000));
  Ctl("nm-start");
  EXPECT_TRUE(Until(listed, 15000));
  ASSERT_TRUE(
      Until([] { return std::system("nmcli -t -f DEVICE,STATE device | grep -qx veth0:disconnected") == 0; }, 15000));
}

// The brief backend (D-Bus without libnm's client) answers as the full one for other processes'
// connections and the profiles, sees what changed after its last answer, hangs up, and says when
// NetworkManager is not there.
TEST_F(NmBackend, BriefBackendAnswersAsTheFullOne) {
  const rassim::BackendOps& brief = rasnm::brief::Ops();
  auto listed = [&](const rassim::BackendOps& b) {
    std::vector<rassim::ConnInfo> list;
    return b.EnumConnections(list) == 0 ? list.size() : ~size_t{0};
  };
  auto same = [&](const char* when) {
    std::vector<rassim::ConnInfo> full, light;
    EXPECT_EQ(Nm().EnumConnections(full), 0u) << when;
    EXPECT_EQ(brief.EnumConnections(light), 0u) << when;
    EXPECT_EQ(light.size(), full.size()) << when;
    for (size_t i = 0; i < std::min(light.size(), full.size()); ++i) {
      const rassim::ConnInfo &f = full[i], &l = light[i];
      EXPECT_EQ(std::tie(l.handle, l.entry, l.deviceType, l.deviceName, l.phonebook),
                std::tie(f.handle, f.entry, f.deviceType, f.deviceName, f.phonebook))
          << when;
      rassim::ConnStatus fs, ls;
      EXPECT_EQ(brief.GetConnectStatus(f.handle, ls), Nm().GetConnectStatus(f.handle, fs)) << when;
      EXPECT_EQ(std::tie(ls.state, ls.error, ls.deviceType, ls.deviceName),
                std::tie(fs.state, fs.error, fs.deviceType, fs.deviceName))
          << when;
    }
    std::vector<std::string> fe, le;
    EXPECT_EQ(Nm().EnumEntries(kPb, fe), 0u) << when;
    EXPECT_EQ(brief.EnumEntries(kPb, le), 0u) << when;
    EXPECT_EQ(le, fe) << when;
    rassim::ConnStatus st;
    EXPECT_EQ(brief.GetConnectStatus(rasnm::kActiveHandleBase + 0xFFFF, st), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return light;
  };
  same("nothing active");
  // Brought up and a profile added behind the brief backend's last answers.
  Nmcli("connection up Office");
  Nmcli("connection add type ethernet con-name 'Brief Probe' ifname veth9 autoconnect no");
  EXPECT_TRUE(Until([&] { return listed(Nm()) == 1 && listed(brief) == 1; }, 10000));
  std::vector<std::string> names;
  EXPECT_TRUE(Until([&] { return brief.EnumEntries(kPb, names) == 0 && names.size() == 3; }, 5000));
  const std::vector<rassim::ConnInfo> up = same("Office up by nmcli, a profile added");
  Nmcli("connection delete 'Brief Probe'");
  ASSERT_EQ(up.size(), 1u);
  // The hang-up of another process's line; a second one finds nothing.
  EXPECT_EQ(brief.HangUp(up[0].handle), 0u);
  EXPECT_TRUE(Until([&] { return listed(brief) == 0 && Gone(up[0].handle) && Idle("Office"); }, 10000));
  EXPECT_EQ(brief.HangUp(up[0].handle), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  same("hung up by the brief backend");
  // No NetworkManager, then NetworkManager again.
  Ctl("nm-stop");
  EXPECT_TRUE(Until([&] { return brief.EnumEntries(kPb, names) == ERROR_RASMAN_CANNOT_INITIALIZE; }, 5000));
  std::vector<rassim::ConnInfo> none;
  EXPECT_EQ(brief.EnumConnections(none), static_cast<DWORD>(ERROR_RASMAN_CANNOT_INITIALIZE));
  Ctl("nm-start");
  EXPECT_TRUE(Until([&] { return brief.EnumEntries(kPb, names) == 0 && names.size() == 2; }, 15000));
  ASSERT_TRUE(
      Until([] { return std::system("nmcli -t -f DEVICE,STATE device | grep -qx veth0:disconnected") == 0; }, 15000));
}

}  // namespace
