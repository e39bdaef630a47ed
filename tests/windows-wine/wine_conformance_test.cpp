// The component against Wine's own rasapi32.dll, the stub library a Wine
// installation ships: almost every call succeeds and does nothing, RasDialA
// fails with 1 and RasGetErrorStringA gives no text. This program is built
// into a folder that holds no rasapi32.dll of ours and is started without a
// DLL override, so the library it binds is Wine's built-in one; the first
// test proves that before the others rely on it.
//
// Time is virtual: the redial pause and the hang-up pauses pass at once.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Ras2/Ras2.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/Vcl.h"
#include "WineHost.h"
#include "tests/support/TestPresenter.h"

using quor_windows_test::IsWineBuiltin;
using quor_windows_test::RunningOnWine;

namespace {

struct Event {
  std::string Kind;  // "notify", "connect", "fail", "disconnect"
  Integer Error;
  String Text;
  bool operator==(const Event& o) const { return Kind == o.Kind && Error == o.Error && Text == o.Text; }
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << e.Kind << "(" << e.Error << ", \"" << e.Text << "\")";
}

class WineRas : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningOnWine()) GTEST_SKIP() << "these tests describe Wine's own rasapi32.dll";
    QuorClockUseVirtual(1);
  }
  void TearDown() override {
    quor.reset();
    QuorClockUseVirtual(0);
  }

  TQuor& MakeQuor() {
    quor = std::make_unique<TQuor>(nullptr);
    quor->SetOnNotify([this](Integer e, String s) { events.push_back({"notify", e, s}); });
    quor->SetOnConnect([this](TObject*) { events.push_back({"connect", 0, ""}); });
    quor->SetOnConnectFail([this](Integer e, String s) { events.push_back({"fail", e, s}); });
    quor->SetOnDisconnect([this](Integer e, String s) { events.push_back({"disconnect", e, s}); });
    return *quor;
  }

  TRecordingPresenterGuard boxes;
  std::vector<Event> events;
  std::unique_ptr<TQuor> quor;
};

TEST_F(WineRas, BindsWinesBuiltinLibraryWithAllFortySevenEntryPoints) {
  TQuor& q = MakeQuor();
  ASSERT_TRUE(q.RasInitialized);
  HMODULE loaded = GetModuleHandleA("rasapi32.dll");
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(IsWineBuiltin(loaded)) << "a native rasapi32.dll was loaded: a DLL override leaked into this run";
  // The ANSI and wide exports the component calls are all there.
  EXPECT_NE(RasDialA, nullptr);
  EXPECT_NE(RasHangUpA, nullptr);
  EXPECT_NE(RasGetConnectStatusA, nullptr);
  EXPECT_NE(RasEnumConnectionsA, nullptr);
  EXPECT_NE(RasEnumEntriesA, nullptr);
  EXPECT_NE(RasGetErrorStringA, nullptr);
  EXPECT_NE(RasGetEntryDialParamsA, nullptr);
  EXPECT_NE(RasSetEntryDialParamsA, nullptr);
  // The neutral names are the ANSI ones.
  EXPECT_EQ(RasDial, RasDialA);
  EXPECT_EQ(RasEnumEntries, RasEnumEntriesA);
  // RasDialEvent is registered at run time; its number is never fixed.
  EXPECT_GE(RegisterWindowMessageA("RasDialEvent"), 0xC000u);
}

TEST_F(WineRas, EmptyPhonebookAndNoConnectionsWithoutAnyMessage) {
  TQuor& q = MakeQuor();
  ASSERT_TRUE(q.RasInitialized);
  EXPECT_EQ(q.PhoneBookEntries->Count(), 0);
  EXPECT_EQ(boxes->Count(), 0u) << (boxes->Count() ? boxes->Texts()[0] : String());

  q.GetPhoneBookEntries();
  EXPECT_EQ(q.PhoneBookEntries->Count(), 0);
  EXPECT_EQ(boxes->Count(), 0u);

  // Success with nothing listed: the list shows no connection, not the
  // names of connections that have ended.
  q.Connections->Add("ended long ago");
  EXPECT_TRUE(q.EnumConnections());
  EXPECT_EQ(q.Connections->Count(), 0);
  EXPECT_EQ(q.GetHandleByName("Office"), 0);

  // Nothing held: no status, no hang-up.
  EXPECT_EQ(q.GetConnectStatus(), 0);
  EXPECT_EQ(q.Disconnect(), 0);
  const std::vector<Event> expected = {{"notify", 0, "Disconnecting..."}};
  EXPECT_EQ(events, expected);
}

// Wine's RasDialA returns 1 at once and posts nothing; RasGetErrorStringA
// leaves the buffer empty, so the component names the error itself.
TEST_F(WineRas, DialFailsAtOnceThenRedialsOnceThenGivesUp) {
  TQuor& q = MakeQuor();
  ASSERT_TRUE(q.RasInitialized);
  q.SetEntryName("Office");
  q.SetRedialAttempts(1);
  q.SetRedialPause(1);

  EXPECT_EQ(q.Connect(), 0);
  const std::vector<Event> firstAttempt = {
      {"notify", 0, "Dialing Office..."}, {"notify", 1, "ERROR: RAS error 1"},       {"notify", 0, "Disconnecting..."},
      {"notify", 0, "Disconnecting..."},  {"notify", 1, "Retrying in 1 seconds..."},
  };
  EXPECT_EQ(events, firstAttempt);
  EXPECT_EQ(q.fWindowHandle, nullptr) << "the failed attempt keeps no window";

  // Nothing happens before the pause is over.
  Application->RunFor(999);
  EXPECT_EQ(events.size(), firstAttempt.size());

  Application->RunFor(1);
  std::vector<Event> expected = firstAttempt;
  expected.push_back({"notify", 0, "Dialing Office..."});
  expected.push_back({"notify", 1, "ERROR: RAS error 1"});
  expected.push_back({"notify", 0, "Disconnecting..."});
  expected.push_back({"notify", 0, "Disconnecting..."});
  expected.push_back({"fail", 1, "Error connecting: RAS error 1"});
  EXPECT_EQ(events, expected);

  // Given up: no further redial, however long the loop runs.
  Application->RunFor(120000);
  EXPECT_EQ(events, expected);
  EXPECT_EQ(q.fWindowHandle, nullptr);
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(WineRas, SynchronousDialReportsTheShortFailureText) {
  TQuor& q = MakeQuor();
  q.SetEntryName("Office");
  q.SetRedialAttempts(0);
  q.SetSynchronousDial(true);
  EXPECT_EQ(q.Connect(), 0);
  const std::vector<Event> expected = {
      {"notify", 0, "Dialing Office..."}, {"notify", 1, "ERROR: RAS error 1"}, {"notify", 0, "Disconnecting..."},
      {"notify", 0, "Disconnecting..."},  {"fail", 1, "Error connecting."},
  };
  EXPECT_EQ(events, expected);
}

// Wine's dial-parameter calls succeed without touching the record, so what
// the component reads back is the cleared record: empty texts.
TEST_F(WineRas, DialParamsCallsSucceedWithTheRecordUntouched) {
  TQuor& q = MakeQuor();
  q.SetUserName("alice");
  q.SetDomain("CORP");
  EXPECT_TRUE(q.GetDialParams("Office"));
  EXPECT_EQ(q.EntryName(), "Office");
  EXPECT_EQ(q.UserName(), "");
  EXPECT_EQ(q.Domain(), "");
  q.SetUserName("bob");
  EXPECT_TRUE(q.SetDialParams());
  EXPECT_EQ(boxes->Count(), 0u);
}

// ---------------------------------------------------------------- the stubs
// Each behaviour the RAS service's contract suite lists as a known difference
// of the target "wine" (tests/rassim), confirmed against Wine's library
// itself, so the list cannot silently go stale. RasGetCountryInfoA/W are not
// called: Wine exports them unimplemented and calling one aborts the process.
class WineStubs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningOnWine()) GTEST_SKIP() << "these tests describe Wine's own rasapi32.dll";
    lib = LoadLibraryA("rasapi32.dll");
    ASSERT_NE(lib, nullptr);
    ASSERT_TRUE(IsWineBuiltin(lib));
  }
  void TearDown() override {
    if (lib) FreeLibrary(lib);
  }
  template <class F>
  F Get(const char* Name) {
    F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, Name)));
    EXPECT_NE(f, nullptr) << Name;
    return f;
  }
  HMODULE lib = nullptr;
};

TEST_F(WineStubs, DialFailsWithOneLeavingTheHandleAndPostingNothing) {
  auto dial = Get<TRasDialA>("RasDialA");
  ASSERT_NE(dial, nullptr);
  HWND wnd = AllocateHWnd([](TMessage& M) { M.Result = 0; });
  TRasDialParamsA p{};
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Office");
  THRasConn h = 0;
  EXPECT_EQ(dial(nullptr, nullptr, &p, 0xFFFFFFFFu, static_cast<DWORD>(reinterpret_cast<uintptr_t>(wnd)), &h), 1u);
  EXPECT_EQ(h, 0u);
  THRasConn kept = 77;
  EXPECT_EQ(dial(nullptr, nullptr, &p, 0xFFFFFFFFu, 0, &kept), 1u);
  EXPECT_EQ(kept, 77u) << "Wine leaves the handle variable as it was";
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, wnd, 0, 0, PM_NOREMOVE)) << "no dial event is posted";
  DeallocateHWnd(wnd);
}

TEST_F(WineStubs, StatusHangUpAndEnumerationSucceedWithNothing) {
  TRasConnStatusA st{};
  st.dwSize = sizeof st;
  std::memset(st.szDeviceName, 'x', 4);
  EXPECT_EQ(Get<TRasGetConnectStatusA>("RasGetConnectStatusA")(1234, &st), 0u);
  EXPECT_EQ(st.rasconnstate, 0u);
  EXPECT_EQ(st.szDeviceName[0], 'x') << "the record is not filled";
  EXPECT_EQ(Get<TRasHangUpA>("RasHangUpA")(1234), 0u);

  std::vector<TRasConnA> conns(25);
  conns[0].dwSize = sizeof(TRasConnA);
  DWORD size = 10300, count = 99;
  EXPECT_EQ(Get<TRasEnumConnectionsA>("RasEnumConnectionsA")(conns.data(), &size, &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(size, 0u);
  conns[0].dwSize = 3;  // no size check either
  size = 10300;
  EXPECT_EQ(Get<TRasEnumConnectionsA>("RasEnumConnectionsA")(conns.data(), &size, &count), 0u);
}

TEST_F(WineStubs, NoPhonebookNoStoredParamsNoErrorTexts) {
  std::vector<TRasEntryNameA> names(100);
  names[0].dwSize = sizeof(TRasEntryNameA);
  DWORD size = 26400, count = 99;
  EXPECT_EQ(Get<TRasEnumEntriesA>("RasEnumEntriesA")(nullptr, nullptr, names.data(), &size, &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Get<TRasRenameEntryA>("RasRenameEntryA")("", "Office", "Home"), 0u);
  EXPECT_EQ(Get<TRasDeleteEntryA>("RasDeleteEntryA")("", "Office"), 0u);
  EXPECT_EQ(Get<TRasValidateEntryNameA>("RasValidateEntryNameA")(nullptr, "Office"), 0u);

  TRasDialParamsA p{};
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "Office");
  std::strcpy(p.szUserName, "untouched");
  BOOL pw = TRUE;
  EXPECT_EQ(Get<TRasGetEntryDialParamsA>("RasGetEntryDialParamsA")(nullptr, &p, &pw), 0u);
  EXPECT_STREQ(p.szUserName, "untouched");
  EXPECT_EQ(Get<TRasSetEntryDialParamsA>("RasSetEntryDialParamsA")(nullptr, &p, FALSE), 0u);

  char text[101];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(Get<TRasGetErrorStringA>("RasGetErrorStringA")(ERROR_LINE_BUSY, text, 100), 1u);
  EXPECT_EQ(text[0], 'x') << "the buffer is left untouched";
}

TEST_F(WineStubs, PropertiesProjectionAndDialogsAreStubs) {
  DWORD size = 0;
  EXPECT_EQ(Get<TRasGetEntryPropertiesA>("RasGetEntryPropertiesA")(nullptr, "", nullptr, &size, nullptr, nullptr), 0u);
  EXPECT_EQ(size, 0u) << "no size is negotiated";
  TRasEntryA e{};
  e.dwSize = sizeof e;
  EXPECT_EQ(Get<TRasSetEntryPropertiesA>("RasSetEntryPropertiesA")(nullptr, "Office", &e, sizeof e, nullptr, 0), 0u);
  TRasPppIpA ip{};
  ip.dwSize = sizeof ip;
  size = sizeof ip;
  EXPECT_NE(Get<TRasGetProjectionInfoA>("RasGetProjectionInfoA")(1234, RASP_PppIp, &ip, &size), 0u);
  EXPECT_EQ(Get<TRasCreatePhonebookEntryA>("RasCreatePhonebookEntryA")(nullptr, nullptr), 0u);
  EXPECT_EQ(Get<TRasEditPhonebookEntryA>("RasEditPhonebookEntryA")(nullptr, "", "Office"), 0u);
  // Exported, though unimplemented (see above).
  EXPECT_NE(GetProcAddress(lib, "RasGetCountryInfoA"), nullptr);
}

TEST_F(WineStubs, OnlyDeviceEnumerationIsRealAndThereIsNoRnaph) {
  auto enumDevices = Get<TRasEnumDevicesA>("RasEnumDevicesA");
  ASSERT_NE(enumDevices, nullptr);
  DWORD size = 0, count = 0;
  EXPECT_EQ(enumDevices(nullptr, nullptr, &count), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(enumDevices(nullptr, &size, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(enumDevices(nullptr, &size, &count), static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_GE(size, sizeof(TRasDevInfoA));
  std::vector<TRasDevInfoA> devs(size / sizeof(TRasDevInfoA) + 1);
  devs[0].dwSize = 3;
  DWORD bytes = static_cast<DWORD>(devs.size() * sizeof(TRasDevInfoA));
  EXPECT_EQ(enumDevices(devs.data(), &bytes, &count), static_cast<DWORD>(ERROR_INVALID_SIZE));
  devs[0].dwSize = sizeof(TRasDevInfoA);
  bytes = static_cast<DWORD>(devs.size() * sizeof(TRasDevInfoA));
  ASSERT_EQ(enumDevices(devs.data(), &bytes, &count), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(devs[0].szDeviceName, "WINE virtmodem");

  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("rnaph.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
