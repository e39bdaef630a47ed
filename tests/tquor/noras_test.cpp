// A component in a process where the RAS client library cannot be loaded.
// This program lives in its own folder, away from the simulated
// rasapi32.dll, so InitRas fails for real.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TQuorComponent/TQuorComponent.h"
#include "TQuorInspector.h"
#include "Win32/Clock.h"
#include "tests/support/TestPresenter.h"

namespace {

class NoRasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(1);
    Application->OnException = [this](const std::exception& E) { Exceptions.push_back(E.what()); };
  }
  void TearDown() override { Application->OnException = nullptr; }
  std::vector<std::string> Exceptions;
};

TEST_F(NoRasTest, TheLibraryIsReallyAbsent) {
  HMODULE h = LoadLibraryA("rasapi32.dll");
  EXPECT_EQ(h, HMODULE{}) << "this program must not find a RAS library";
  if (h) FreeLibrary(h);
}

TEST_F(NoRasTest, ComponentIsBuiltUnboundAndEveryOperationIsInert) {
  TRecordingPresenterGuard boxes;
  TQuor q(nullptr);
  int events = 0;
  q.SetOnNotify([&](Integer, String) { ++events; });
  q.SetOnConnect([&](TObject*) { ++events; });
  q.SetOnDisconnect([&](Integer, String) { ++events; });
  q.SetOnConnectFail([&](Integer, String) { ++events; });
  q.SetEntryName("Office");

  EXPECT_FALSE(q.RasInitialized);
  EXPECT_EQ(TQuorInspector::RASEvent(q), 0);
  EXPECT_EQ(q.PhoneBookEntries->Count(), 0);
  EXPECT_EQ(hLib, HMODULE{});

  EXPECT_EQ(q.Connect(), 0);
  EXPECT_EQ(q.fWindowHandle, HWND{}) << "no window";
  EXPECT_EQ(q.Disconnect(), 0);
  EXPECT_EQ(q.GetConnectStatus(), 0);
  q.Connections->Add("kept");
  EXPECT_FALSE(q.EnumConnections());
  EXPECT_EQ(q.Connections->Count(), 1);
  EXPECT_EQ(q.GetHandleByName("Office"), 0);
  q.GetPhoneBookEntries();
  EXPECT_EQ(q.PhoneBookEntries->Count(), 0);
  DWORD ret = 55;
  q.RasCreateEntry(HWND{}, ret);
  EXPECT_EQ(ret, 0u);
  EXPECT_FALSE(q.CreateEntry(HWND{}));
  EXPECT_FALSE(q.EditEntry(HWND{}, "Office"));
  EXPECT_FALSE(q.DeleteEntry("Office"));
  EXPECT_FALSE(q.RenameEntry("Office", "Work"));
  EXPECT_FALSE(q.GetDialParams(""));
  EXPECT_FALSE(q.GetDialParams("Other"));
  EXPECT_EQ(q.EntryName(), "Office");
  EXPECT_FALSE(q.SetDialParams());
  EXPECT_EQ(TQuorInspector::StatusString(q, RASCS_Connected, 0), "");
  Application->RunFor(30000);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(boxes->Count(), 0u);
  EXPECT_FALSE(TQuorInspector::CheckStatus(q)->Enabled());
  EXPECT_FALSE(TQuorInspector::Redial(q)->Enabled());
}

TEST_F(NoRasTest, StatusTickWithoutRasStopsQuietly) {
  TQuor q(nullptr);
  TQuorInspector::CheckStatus(q)->SetEnabled(true);
  Application->RunFor(600);
  EXPECT_FALSE(TQuorInspector::CheckStatus(q)->Enabled());
  EXPECT_TRUE(Exceptions.empty());
}

TEST_F(NoRasTest, DestructionReleasesTheBindingEvenWhenNothingWasBound) {
  // The destructor gives the binding's library reference back whether or not
  // its own InitRas succeeded. A library handle put into the binding after
  // construction stands in for one it holds.
  auto* q = new TQuor(nullptr);
  ASSERT_FALSE(q->RasInitialized);
  char exe[4096] = {};
  ASSERT_GT(GetModuleFileNameA(HMODULE{}, exe, sizeof(exe)), 0u);
  const std::string lib = (std::filesystem::path(exe).parent_path().parent_path() / "rasapi32.dll").string();
  HMODULE m = LoadLibraryA(lib.c_str());
  ASSERT_NE(m, HMODULE{}) << lib;
  hLib = m;
  delete q;
  EXPECT_EQ(GetModuleHandleA(lib.c_str()), HMODULE{}) << "CloseRas released it";
  hLib = HMODULE{};
}

}  // namespace
