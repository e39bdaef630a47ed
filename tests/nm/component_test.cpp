// The component on the NetworkManager backend, end to end in real time inside
// the rig (tests/nm/rig.sh): the rasapi32.dll beside the test runs the
// networkmanager backend (QUOR_RAS_BACKEND), which drives a real
// NetworkManager. Every wait is bounded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "RasSim/backends/networkmanager/NmBackend.h"
#include "TQuorComponent/TQuorComponent.h"
#include "tests/support/TestPresenter.h"

namespace {

struct Ev {
  char kind;  // N notify, C connect, D disconnect, F connect failed
  Integer err;
  String text;
};

int Sh(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}
std::string Ctl() {
  return "bash \"" + std::string(std::getenv("QUOR_NM_RIG_CTL")) + "\" ";
}

class NmComponent : public ::testing::Test {
 protected:
  // The library reads its backend's name when it loads.
  static void SetUpTestSuite() { setenv("QUOR_RAS_BACKEND", "networkmanager", 1); }

  void SetUp() override {
    if (!std::getenv("QUOR_NM_RIG")) GTEST_SKIP() << "runs only inside the NetworkManager rig (tests/nm/rig.sh)";
    guard_ = std::make_unique<TPresenterGuard>(&boxes_);
    q_ = new TQuor(nullptr);
    ASSERT_TRUE(q_->RasInitialized);
    q_->SetOnNotify([this](Integer e, String t) { events_.push_back({'N', e, t}); });
    q_->SetOnConnect([this](TObject*) { events_.push_back({'C', 0, ""}); });
    q_->SetOnDisconnect([this](Integer e, String t) { events_.push_back({'D', e, t}); });
    q_->SetOnConnectFail([this](Integer e, String t) { events_.push_back({'F', e, t}); });
  }
  void TearDown() override {
    delete q_;
    Application->ProcessMessages();
    guard_.reset();
  }
  bool Saw(char kind, const std::string& text = "") const {
    for (const Ev& e : events_)
      if (e.kind == kind && (text.empty() || e.text == text)) return true;
    return false;
  }
  bool RunUntilSeen(char kind, const std::string& text, uint32_t ms) {
    return Application->RunUntil([&] { return Saw(kind, text); }, ms);
  }
  // Dials the entry and waits for OnConnect.
  void ConnectTo(const std::string& entry) {
    events_.clear();
    q_->SetEntryName(entry);
    ASSERT_NE(q_->Connect(), 0);
    ASSERT_TRUE(RunUntilSeen('C', "", 15000)) << entry;
    EXPECT_EQ(events_.front().text, "Dialing " + entry + "...");
  }
  // The status watch reports the loss within `ms`.
  void ExpectLost(uint32_t ms) {
    EXPECT_TRUE(RunUntilSeen('D', "Connection to server lost.", ms));
    EXPECT_EQ(q_->GetConnectStatus(), 0);
  }

  TQuor* q_ = nullptr;
  std::vector<Ev> events_;
  TRecordingPresenter boxes_;
  std::unique_ptr<TPresenterGuard> guard_;
};

TEST_F(NmComponent, WiredConnectsLosesThePeerAndDisconnects) {
  ConnectTo("Office");
  EXPECT_TRUE(Saw('N', "Using GENERIC: veth0"));
  EXPECT_EQ(q_->Disconnect(), 0);
  EXPECT_TRUE(Saw('N', "Disconnecting..."));
  // A dial straight after the hang-up connects again.
  ConnectTo("Office");
  ASSERT_EQ(Sh(Ctl() + "link-delete"), 0);
  ExpectLost(5000);
  ASSERT_EQ(Sh(Ctl() + "link-restore"), 0);
  ASSERT_TRUE(Application->RunUntil(
      [] { return Sh("nmcli -t -f DEVICE,STATE device | grep -qx veth0:disconnected") == 0; }, 10000));
}

TEST_F(NmComponent, FailedDialIsReportedAndRedialled) {
  ASSERT_EQ(Sh("nmcli connection modify Office ipv4.dhcp-timeout 3"), 0);
  ASSERT_EQ(Sh(Ctl() + "dhcp-freeze"), 0);
  q_->SetRedialAttempts(1);
  q_->SetRedialPause(1);
  q_->SetEntryName("Office");
  // The server comes back once the first attempt has failed.
  q_->SetOnNotify([this](Integer e, String t) {
    events_.push_back({'N', e, t});
    if (e == ERROR_IP_CONFIGURATION) Sh(Ctl() + "dhcp-thaw");
  });
  ASSERT_NE(q_->Connect(), 0);
  EXPECT_TRUE(RunUntilSeen('C', "", 20000));
  bool failedFirst = false;
  for (const Ev& e : events_)
    if (e.kind == 'N' && e.err == static_cast<Integer>(ERROR_IP_CONFIGURATION) && e.text.rfind("ERROR: ", 0) == 0)
      failedFirst = true;
  EXPECT_TRUE(failedFirst);
  EXPECT_FALSE(Saw('F'));
  q_->Disconnect();
  Sh(Ctl() + "dhcp-thaw");
  ASSERT_EQ(Sh("nmcli connection modify Office ipv4.dhcp-timeout 0"), 0);
}

TEST_F(NmComponent, HangUpByNmcliIsALoss) {
  ConnectTo("Office");
  ASSERT_EQ(Sh("nmcli connection down Office"), 0);
  ExpectLost(3000);
}

TEST_F(NmComponent, OpenVpnOverTunConnectsLosesTheServerAndDisconnects) {
  TQuor wire(nullptr);
  wire.SetEntryName("Office");
  wire.SetSynchronousDial(true);
  ASSERT_NE(wire.Connect(), 0);
  ConnectTo("Office VPN");
  EXPECT_TRUE(Saw('N', "Using vpn: openvpn"));
  EXPECT_EQ(q_->Disconnect(), 0);
  ConnectTo("Office VPN");
  ASSERT_EQ(Sh(Ctl() + "vpn-server-kill"), 0);
  ExpectLost(15000);
  ASSERT_EQ(Sh(Ctl() + "vpn-server-start"), 0);
  wire.Disconnect();
}

// The classic hang-up (RasHangUp, a fixed pause, the handle never asked about again): a loop of dials
// leaves no call, handle, libnm reference or signal handler behind in the backend.
TEST_F(NmComponent, DialLoopLeavesNothingBehind) {
  ConnectTo("Office");  // loads the backend's module
  EXPECT_EQ(q_->Disconnect(), 0);
  using InspectFn = DWORD (*)(rasnm::Holdings*);
  auto inspect = reinterpret_cast<InspectFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("rasbackend_networkmanager.dll"), "QuorRasNmInspect")));
  ASSERT_NE(inspect, nullptr);
  rasnm::Holdings base, now;
  ASSERT_EQ(inspect(&base), 0u);
  for (int i = 0; i < 3; ++i) {
    ConnectTo("Office");
    EXPECT_EQ(q_->Disconnect(), 0);
  }
  Application->RunUntil([&] { return inspect(&now) == 0 && now.calls == 0 && now.refs <= base.refs; }, 5000);
  EXPECT_EQ(now.calls, 0u);
  EXPECT_EQ(now.handles, 0u);
  EXPECT_EQ(now.liveCalls, 0u);
  // No more than before (an object of the first call may still have been finalizing then).
  EXPECT_LE(now.objects, base.objects);
  EXPECT_LE(now.refs, base.refs);
  EXPECT_LE(now.hookups, base.hookups);
}

}  // namespace
