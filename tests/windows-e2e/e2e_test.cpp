// End to end on Windows, in real time: the component in a real Win32 message
// loop dials through our rasapi32.dll (the simulated RAS service), receives
// the dial events as real posted window messages, redials after a pause,
// minimises the connection window the service shows, detects a dropped line
// through its 500 ms status poll and hangs up.
//
// Under Wine the program must be started with WINEDLLOVERRIDES=rasapi32=n,
// else Wine hands out its own built-in rasapi32.dll; the first test checks
// which library was loaded, so a missing override fails loudly instead of
// quietly testing Wine's stubs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Ras2/Ras2.h"
#include "Ras2/Ras2Optional.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/Vcl.h"
#include "WineHost.h"
#include "tests/support/TestPresenter.h"
#include "tests/windows-e2e/ChildProcess.h"

using quor_windows_test::Child;
using quor_windows_test::IsWineBuiltin;
using quor_windows_test::ModuleFolder;
using quor_windows_test::SetEnv;

namespace {

// ---------------------------------------------------------------- the queue
// Every message the GUI thread's loop takes off its queue, as the system's
// WH_GETMESSAGE hook sees it. A dial event that reaches the component through
// this hook was posted to the real queue and taken off it by the framework's
// loop.
struct Retrieved {
  HWND Wnd = nullptr;
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
};

Retrieved gLastRetrieved;
int gDialEventsRetrieved = 0;
UINT gRasDialEvent = 0;

LRESULT CALLBACK GetMsgHook(int Code, WPARAM Removal, LPARAM Lp) {
  if (Code == HC_ACTION && Removal == PM_REMOVE) {
    const MSG* m = reinterpret_cast<const MSG*>(Lp);
    gLastRetrieved = {m->hwnd, m->message, m->wParam, m->lParam};
    if (m->message == gRasDialEvent) ++gDialEventsRetrieved;
  }
  return CallNextHookEx(nullptr, Code, Removal, Lp);
}

// ---------------------------------------------------------------- events
struct Event {
  std::string Kind;  // "notify", "connect", "fail", "disconnect"
  Integer Error = 0;
  String Text;
  uint64_t At = 0;       // real clock, ms
  Retrieved Delivering;  // the message being handled when it was raised
  HWND DialWindow = nullptr;
  DWORD Thread = 0;
};

// Writes a file whole; false when it cannot.
bool WriteText(const std::string& Path, const std::string& Text) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f << Text;
  return static_cast<bool>(f.flush());
}

std::string MakeTempFolder() {
  char base[MAX_PATH] = {};
  DWORD n = GetTempPathA(MAX_PATH, base);
  if (n == 0 || n >= MAX_PATH) return std::string();
  static int serial = 0;
  std::string dir =
      std::string(base) + "quor-e2e-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
  return CreateDirectoryA(dir.c_str(), nullptr) ? dir + "\\" : std::string();
}

void RemoveTree(const std::string& Dir) {
  if (Dir.empty()) return;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((Dir + "*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(Dir + name + "\\");
      else
        DeleteFileA((Dir + name).c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(Dir.c_str());
}

// Dial steps 20 ms apart so each call takes a fraction of a second.
const char kPhonebook[] =
    "[Office]\r\n"
    "PhoneNumber=5550100\r\n"
    "DEVICE=modem\r\n"
    "QuorStepDelay=20\r\n"
    // The first attempt gets a busy line; the redial connects, and that
    // line drops 3 s after it came up.
    "QuorOutcome=busy\r\n"
    "QuorFailFirst=1\r\n"
    "QuorDropAfter=3s\r\n"
    "QuorTeardown=200\r\n"
    "\r\n"
    "[Branch]\r\n"
    "PhoneNumber=5550199\r\n"
    "DEVICE=modem\r\n"
    "QuorStepDelay=20\r\n"
    "QuorTeardown=200\r\n";

class RealTimeDial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(WriteText(folder + "rasphone.pbk", kPhonebook));
    SetEnv("QUOR_RAS_PHONEBOOK", folder + "rasphone.pbk");
    SetEnv("QUOR_RAS_CREDENTIALS", folder + "credentials.dat");
    SetEnv("QUOR_RAS_STATE_DIR", folder + "state");
    SetEnv("QUOR_RAS_SCENARIO", "");
  }
  static void TearDownTestSuite() { RemoveTree(folder); }

  void SetUp() override {
    ASSERT_FALSE(QuorClockIsVirtual()) << "this suite runs on the real clock";
    gRasDialEvent = RegisterWindowMessageA("RasDialEvent");
    hook = SetWindowsHookExA(WH_GETMESSAGE, GetMsgHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    quor = std::make_unique<TQuor>(nullptr);
    ASSERT_TRUE(quor->RasInitialized);
    TQuor* q = quor.get();
    auto record = [this, q](const char* Kind, Integer E, const String& S) {
      Event ev;
      ev.Kind = Kind;
      ev.Error = E;
      ev.Text = S;
      ev.At = QuorClockNow();
      ev.Delivering = gLastRetrieved;
      ev.DialWindow = q->fWindowHandle;
      ev.Thread = GetCurrentThreadId();
      events.push_back(ev);
    };
    quor->SetOnNotify([record](Integer E, String S) { record("notify", E, S); });
    quor->SetOnConnect([record](TObject*) { record("connect", 0, ""); });
    quor->SetOnConnectFail([record](Integer E, String S) { record("fail", E, S); });
    quor->SetOnDisconnect([record](Integer E, String S) { record("disconnect", E, S); });
  }

  void TearDown() override {
    quor.reset();
    if (hook) UnhookWindowsHookEx(hook);
  }

  // Index of the first event at or after From with this kind and text; -1.
  int Find(const std::string& Kind, const String& Text, size_t From = 0) const {
    for (size_t i = From; i < events.size(); ++i)
      if (events[i].Kind == Kind && events[i].Text == Text) return static_cast<int>(i);
    return -1;
  }

  bool Has(const std::string& Kind, const String& Text, size_t From = 0) const { return Find(Kind, Text, From) >= 0; }

  int CountOf(const std::string& Kind) const {
    int n = 0;
    for (const Event& e : events) n += e.Kind == Kind ? 1 : 0;
    return n;
  }

  std::string Dump() const {
    std::string s;
    for (const Event& e : events)
      s += "  +" + std::to_string(e.At - events.front().At) + " ms " + e.Kind + "(" + std::to_string(e.Error) + ", \"" +
           e.Text + "\")\n";
    return s;
  }

  static std::string folder;
  HHOOK hook = nullptr;
  TRecordingPresenterGuard boxes;
  std::unique_ptr<TQuor> quor;
  std::vector<Event> events;
};

std::string RealTimeDial::folder;

TEST_F(RealTimeDial, OurRasLibraryIsTheOneLoaded) {
  HMODULE ras = GetModuleHandleA("rasapi32.dll");
  ASSERT_NE(ras, nullptr);
  EXPECT_FALSE(IsWineBuiltin(ras))
      << "Wine's built-in rasapi32.dll was loaded: start the program with WINEDLLOVERRIDES=rasapi32=n";
  EXPECT_EQ(ModuleFolder(ras), ModuleFolder(nullptr)) << "rasapi32.dll must come from the program's own folder";
  // Our service lists the phonebook written for this run.
  ASSERT_EQ(quor->PhoneBookEntries->Count(), 2);
  EXPECT_EQ(quor->PhoneBookEntries->Strings(0), "Office");
  EXPECT_EQ(quor->PhoneBookEntries->Strings(1), "Branch");
}

// Busy on the first attempt, a redial after a one-second pause, the
// connection window minimised, the line dropped and the loss detected.
TEST_F(RealTimeDial, RedialsConnectsMinimisesWindowAndDetectsTheDrop) {
  TQuor& q = *quor;
  q.SetEntryName("Office");
  q.SetRedialAttempts(1);
  q.SetRedialPause(1);
  const uint64_t start = QuorClockNow();

  ASSERT_NE(q.Connect(), 0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Text, "Dialing Office...");

  // Up to the connection: the busy attempt, its hang-up (2 s), the 1 s
  // pause and the second dial.
  ASSERT_TRUE(Application->RunUntil([&] { return Has("connect", ""); }, 20000)) << Dump();
  const int connectAt = Find("connect", "");

  // The busy attempt: an error reported by a dial event, then its hang-up
  // and the retry notice with the same error.
  const int busy = [&] {
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].Kind == "notify" && events[i].Error != 0) return static_cast<int>(i);
    return -1;
  }();
  ASSERT_GE(busy, 0) << Dump();
  const Integer busyError = events[busy].Error;
  EXPECT_EQ(busyError, ERROR_LINE_BUSY);
  EXPECT_EQ(events[busy].Text.rfind("ERROR: ", 0), 0u);
  ASSERT_LT(busy + 2, connectAt) << Dump();
  EXPECT_EQ(events[busy + 1].Text, "Disconnecting...");
  EXPECT_EQ(events[busy + 2].Text, "Retrying in 1 seconds...");
  EXPECT_EQ(events[busy + 2].Error, busyError);
  // The hang-up of a held handle pauses 2000 ms, blocking the loop.
  EXPECT_GE(events[busy + 2].At - events[busy + 1].At, 2000u) << Dump();
  // The redial comes after the pause of 1 s, not before, and not much later.
  const int redial = Find("notify", "Dialing Office...", busy);
  ASSERT_EQ(redial, busy + 3) << Dump();
  EXPECT_GE(events[redial].At - events[busy + 2].At, 1000u) << Dump();
  EXPECT_LT(events[redial].At - events[busy + 2].At, 4000u) << Dump();

  // Every dial event came through the real queue: the framework's loop took
  // a message numbered RasDialEvent, addressed to the component's hidden
  // window, off the thread's queue and dispatched it.
  EXPECT_GE(gDialEventsRetrieved, 2);
  EXPECT_GE(gRasDialEvent, 0xC000u);
  const Event& busyEvent = events[busy];
  EXPECT_EQ(busyEvent.Delivering.Msg, gRasDialEvent);
  EXPECT_EQ(busyEvent.Delivering.Wnd, busyEvent.DialWindow);
  EXPECT_EQ(static_cast<Integer>(busyEvent.Delivering.LParam & 0xFFFF), busyError);
  const Event& connected = events[connectAt];
  EXPECT_EQ(connected.Delivering.Msg, gRasDialEvent);
  EXPECT_EQ(connected.Delivering.Wnd, connected.DialWindow);
  EXPECT_EQ(connected.Delivering.WParam & 0xFFFF, static_cast<WPARAM>(RASCS_Connected));
  EXPECT_EQ(connected.Delivering.LParam, 0);
  EXPECT_NE(connected.DialWindow, busyEvent.DialWindow) << "the redial dials with a fresh hidden window";
  ASSERT_LT(connectAt + 1, static_cast<int>(events.size()));
  EXPECT_EQ(events[connectAt + 1].Text, "Connected");
  for (const Event& e : events) EXPECT_EQ(e.Thread, events[0].Thread);

  // The service shows "Connected to Office"; the component's window search
  // finds it within its 100 ms period and minimises it.
  HWND shown = nullptr;
  ASSERT_TRUE(Application->RunUntil(
      [&] {
        shown = FindWindowA(nullptr, "Connected to Office");
        return shown != nullptr && IsIconic(shown);
      },
      5000))
      << "connection window " << (shown ? "not minimised" : "never shown");
  EXPECT_TRUE(IsWindowVisible(shown));
  EXPECT_EQ(GetWindowThreadProcessId(shown, nullptr), GetCurrentThreadId());

  // The connection is listed under its entry name while it is up.
  ASSERT_TRUE(q.EnumConnections());
  ASSERT_EQ(q.Connections->Count(), 1);
  EXPECT_EQ(q.Connections->Strings(0), "Office");
  EXPECT_NE(q.GetHandleByName("OFFICE"), 0);
  EXPECT_EQ(q.GetConnectStatus(), 0);
  EXPECT_EQ(q.DeviceType, "modem");

  // The line drops 3 s after it came up; the poll sees the loss within its
  // 500 ms period, hangs up (2 s pause) and reports the loss once.
  ASSERT_TRUE(Application->RunUntil([&] { return Has("disconnect", "Connection to server lost."); }, 15000)) << Dump();
  const int lost = Find("disconnect", "Connection to server lost.");
  EXPECT_EQ(events[lost].Error, 0);
  const Event& hangUp = events[lost - 1];
  EXPECT_EQ(hangUp.Text, "Disconnecting...");
  const uint64_t upFor = hangUp.At - events[connectAt].At;
  EXPECT_GE(upFor, 3000u) << Dump();
  EXPECT_LT(upFor, 3000u + 500u + 1500u) << "the loss must be seen by the next poll\n" << Dump();
  EXPECT_GE(events[lost].At - hangUp.At, 2000u) << Dump();

  // Hung up: nothing held, nothing listed, the window is gone, and nothing
  // more happens.
  EXPECT_EQ(q.fWindowHandle, nullptr);
  EXPECT_EQ(q.GetConnectStatus(), 0);
  const size_t count = events.size();
  Application->RunFor(1500);
  EXPECT_EQ(events.size(), count) << Dump();
  EXPECT_TRUE(q.EnumConnections());
  EXPECT_EQ(q.Connections->Count(), 0);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Office"), nullptr);
  EXPECT_EQ(CountOf("fail"), 0);
  EXPECT_EQ(CountOf("disconnect"), 1);
  EXPECT_EQ(boxes->Count(), 0u);
  EXPECT_LT(QuorClockNow() - start, 30000u);
}

// The application hangs up a live connection itself.
TEST_F(RealTimeDial, ApplicationHangsUpALiveConnection) {
  TQuor& q = *quor;
  q.SetEntryName("Branch");
  q.SetRedialAttempts(0);
  ASSERT_NE(q.Connect(), 0);
  ASSERT_TRUE(Application->RunUntil([&] { return Has("notify", "Connected"); }, 10000)) << Dump();
  ASSERT_NE(q.GetHandleByName("branch"), 0);
  ASSERT_TRUE(Application->RunUntil([&] { return FindWindowA(nullptr, "Connected to Branch") != nullptr; }, 5000));

  const uint64_t before = QuorClockNow();
  EXPECT_EQ(q.Disconnect(), 0);
  EXPECT_GE(QuorClockNow() - before, 2000u) << "the hang-up pauses 2000 ms";
  EXPECT_EQ(q.fWindowHandle, nullptr);
  EXPECT_EQ(q.GetConnectStatus(), 0);

  // The service ends the call (and its window) once its teardown is over.
  ASSERT_TRUE(Application->RunUntil(
      [&] {
        return q.EnumConnections() && q.Connections->Count() == 0 && !FindWindowA(nullptr, "Connected to Branch");
      },
      5000));
  EXPECT_EQ(CountOf("disconnect"), 0);
  EXPECT_EQ(CountOf("fail"), 0);
}

}  // namespace

namespace {

// The line of a connection watched through RasConnectionNotification drops
// right after a status poll: the loss is reported long before the next poll
// would find it, and the fast hang-up returns once the service is done.
TEST_F(RealTimeDial, SignalledLossAndFastHangUp) {
  using Count = DWORD(WINAPI*)(LPCSTR);
  using Drop = DWORD(WINAPI*)(UINT_PTR);
  HMODULE ras = GetModuleHandleA("rasapi32.dll");
  auto count = reinterpret_cast<Count>(reinterpret_cast<void (*)()>(GetProcAddress(ras, "QuorRasSimCallCount")));
  auto drop = reinterpret_cast<Drop>(reinterpret_cast<void (*)()>(GetProcAddress(ras, "QuorRasSimDropConnection")));
  ASSERT_TRUE(count != nullptr && drop != nullptr);
  TQuor& q = *quor;
  q.SetEntryName("Branch");
  q.SetRedialAttempts(0);
  q.SetWatchEvents(true);
  q.SetFastHangUp(true);
  const THRasConn h = q.Connect();
  ASSERT_NE(h, 0);
  ASSERT_TRUE(Application->RunUntil([&] { return Has("notify", "Connected"); }, 10000)) << Dump();
  EXPECT_TRUE(q.WatchingEvents()) << "RasConnectionNotification bound and accepted";
  const DWORD polls = count("RasGetConnectStatusA");
  ASSERT_TRUE(Application->RunUntil([&] { return count("RasGetConnectStatusA") != polls; }, 2000));
  const uint64_t dropped = QuorClockNow();
  ASSERT_EQ(drop(static_cast<UINT_PTR>(h)), 0u);
  ASSERT_TRUE(Application->RunUntil([&] { return Has("disconnect", "Connection to server lost."); }, 5000)) << Dump();
  EXPECT_LT(events[static_cast<size_t>(Find("notify", "Disconnecting..."))].At - dropped, 400u)
      << "the next poll would have come 500 ms after the last" << Dump();
  EXPECT_FALSE(q.WatchingEvents());

  ASSERT_NE(q.Connect(), 0);
  ASSERT_TRUE(Application->RunUntil([&] { return CountOf("connect") == 2; }, 10000)) << Dump();
  const uint64_t before = QuorClockNow();
  EXPECT_EQ(q.Disconnect(), 0);
  EXPECT_LT(QuorClockNow() - before, 1500u) << "the teardown takes 200 ms, not the classic 2000";
}

// An application may close the event it registered before the connection
// ends; the handle value it had, given to a new event meanwhile (Windows
// reuses freed values), must not be signalled when the connection ends.
TEST_F(RealTimeDial, NotificationEventClosedEarlyIsNotConfusedWithItsSuccessor) {
  ASSERT_NE(RasConnectionNotification, nullptr);
  TQuor& q = *quor;
  q.SetEntryName("Branch");
  q.SetRedialAttempts(0);
  const THRasConn h = q.Connect();
  ASSERT_NE(h, 0);
  ASSERT_TRUE(Application->RunUntil([&] { return Has("notify", "Connected"); }, 10000)) << Dump();
  const HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(RasConnectionNotification(static_cast<THRasConn>(h), first, RASCN_Disconnection), 0u);
  ASSERT_TRUE(CloseHandle(first));
  const HANDLE successor = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(successor, HANDLE{});
  EXPECT_EQ(q.Disconnect(), 0);
  EXPECT_EQ(WaitForSingleObject(successor, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << (successor == first ? "the closed event's value was reused" : "a fresh value");
  CloseHandle(successor);
}

}  // namespace

namespace {

// ---------------------------------------------------------------- the quor tool

// "quor hangup" from another process stops a dialler in its redial pause:
// the dialler's stop event, named after its process, is what reaches it.
TEST_F(RealTimeDial, QuorHangupStopsADiallerInItsRedialPause) {
  const std::string bin = ModuleFolder(nullptr);
  const std::string tool = "\"" + bin + "quor.exe\" ";
  ASSERT_TRUE(WriteText(folder + "busy.ini", "[Branch]\r\nOutcome=busy\r\n"));
  SetEnv("QUOR_RAS_SCENARIO", folder + "busy.ini");
  Child dialler(tool + "dial Branch --redial 3 --pause 30", folder + "dial.txt");
  SetEnv("QUOR_RAS_SCENARIO", "");
  ASSERT_TRUE(dialler.Started());
  ASSERT_TRUE(dialler.WaitForOut("Retrying in 30 seconds...", 20000)) << dialler.Out();

  Child hangup(tool + "hangup branch", folder + "hangup.txt");
  ASSERT_TRUE(hangup.Started());
  EXPECT_EQ(hangup.Wait(20000), 0) << hangup.Out();
  EXPECT_EQ(hangup.Out().rfind("Stopped dialling Branch (process ", 0), 0u) << hangup.Out();
  EXPECT_EQ(dialler.Wait(10000), 0) << dialler.Out();
  const std::string out = dialler.Out();
  EXPECT_NE(out.find("Disconnecting..."), std::string::npos) << out;
  EXPECT_EQ(out.find("Dialing", out.find("Retrying in 30 seconds...")), std::string::npos)
      << "no redial after the stop: " << out;
}

}  // namespace
