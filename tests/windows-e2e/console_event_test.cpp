// `quor dial` and the console's control events, in real time: the dialler
// runs in a console of its own, and once it says "Connected" the event is
// delivered to that console the way the system delivers it. The dialler
// must hang up before it ends: RAS connections outlive their process.
//
// What Wine (8) delivers, as this suite measured it:
//   - GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) from a process attached to
//     the console reaches every process of it: the handler runs.
//   - GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) fails (error 6).
//   - CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT and CTRL_SHUTDOWN_EVENT cannot be
//     produced: GenerateConsoleCtrlEvent refuses them (as Windows does),
//     `wineboot -e` / `-e -s` leave console processes alone, and WM_CLOSE to
//     the console's window ends its processes at once (exit code 0)
//     without calling any handler. So the handler's wait for the hang-up (which only those
//     events need) cannot be reached under Wine; the close case records
//     that, and turns into the hang-up check once Wine calls the handler.
#include <gtest/gtest.h>

#include <string>

#include "Vcl/Vcl.h"
#include "WineHost.h"
#include "tests/windows-e2e/ChildProcess.h"

using quor_windows_test::Child;
using quor_windows_test::ModuleFolder;
using quor_windows_test::RunningOnWine;
using quor_windows_test::SetEnv;

namespace {

// Ctrl-C reaches this process too while it is attached to the dialler's
// console: it goes on.
BOOL WINAPI KeepRunning(DWORD) {
  return TRUE;
}

// How an event is delivered to the dialler's console, from this process
// attached to it for the moment; false when the system refused.
bool SendCtrlC(const Child&) {
  return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
}
bool SendCtrlBreak(const Child&) {
  return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) != 0;
}
bool CloseConsoleWindow(const Child&) {
  HWND window = GetConsoleWindow();
  // Posted once detached: closing the console ends the processes in it.
  FreeConsole();
  return window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0) != 0;
}

constexpr ULONGLONG kTeardownMs = 1500;

struct Delivery {
  const char* Name;
  bool (*Deliver)(const Child&);
  // Under Wine: the system refuses it, or it ends the dialler without
  // calling its handler (the known limits above).
  bool WineRefuses;
  bool WineEndsWithoutHandler;
};

const Delivery kDeliveries[] = {
    {"CtrlC", SendCtrlC, false, false},
    {"CtrlBreak", SendCtrlBreak, true, false},
    {"CloseConsoleWindow", CloseConsoleWindow, false, true},
};

class ConsoleEvent : public ::testing::TestWithParam<Delivery> {
 protected:
  void SetUp() override {
    char base[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, base), 0u);
    folder = std::string(base) + "quor-ctrl-" + std::to_string(GetCurrentProcessId()) + "-" + GetParam().Name + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    // A hang-up takes a while: a dialler ended before it is over leaves
    // the line up.
    std::ofstream(folder + "rasphone.pbk", std::ios::binary)
        << "[Office]\r\nPhoneNumber=5550100\r\nDEVICE=modem\r\nQuorStepDelay=20\r\nQuorTeardown=" << kTeardownMs
        << "\r\n";
    SetEnv("QUOR_RAS_PHONEBOOK", folder + "rasphone.pbk");
    SetEnv("QUOR_RAS_CREDENTIALS", folder + "credentials.dat");
    SetEnv("QUOR_RAS_STATE_DIR", folder + "state");
    SetEnv("QUOR_RAS_SCENARIO", "");
    tool = "\"" + ModuleFolder(nullptr) + "quor.exe\" ";
  }
  // `quor connections`: the simulated service's connections, one per row
  // after the heading.
  std::string Connections() {
    Child list(tool + "connections", folder + "connections.txt", CREATE_NO_WINDOW);
    EXPECT_TRUE(list.Started());
    EXPECT_EQ(list.Wait(20000), 0) << list.Out();
    return list.Out();
  }
  std::string folder, tool;
};

TEST_P(ConsoleEvent, DiallerHangsUpBeforeItEnds) {
  const Delivery& d = GetParam();
  // Not a process group of its own: that would turn Ctrl-C off in it.
  Child dialler(tool + "dial Office", folder + "dial.txt", CREATE_NEW_CONSOLE);
  ASSERT_TRUE(dialler.Started());
  ASSERT_TRUE(dialler.WaitForOut("Connected", 20000)) << dialler.Out();
  ASSERT_NE(Connections().find("Office"), std::string::npos) << "the line is up";

  FreeConsole();
  ASSERT_TRUE(AttachConsole(dialler.ProcessId())) << GetLastError();
  SetConsoleCtrlHandler(KeepRunning, TRUE);
  const ULONGLONG sent = GetTickCount64();
  const bool delivered = d.Deliver(dialler);
  FreeConsole();
  if (RunningOnWine() && d.WineRefuses) {
    EXPECT_FALSE(delivered) << "Wine delivers " << d.Name << " now: expect the hang-up instead";
    return;
  }
  ASSERT_TRUE(delivered) << GetLastError();
  const int code = dialler.Wait(20000);
  const ULONGLONG lived = GetTickCount64() - sent;
  const std::string out = dialler.Out();
  if (RunningOnWine() && d.WineEndsWithoutHandler) {
    EXPECT_EQ(out.find("Disconnecting..."), std::string::npos)
        << "Wine calls the handler on " << d.Name << " now: expect the hang-up instead\n"
        << out;
    EXPECT_NE(code, -1) << "the dialler did not end";
    return;
  }
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("Disconnecting...", out.find("Connected")), std::string::npos) << out;
  // The simulated service drops the records of a process that is gone, so
  // the listing below cannot tell a finished hang-up from a killed dialler:
  // a dialler that waited for the hang-up lived through the teardown.
  EXPECT_GE(lived, kTeardownMs) << "ended before the hang-up was over:\n" << out;
  const std::string left = Connections();
  EXPECT_EQ(left.find("Office"), std::string::npos) << "the dialler ended with the line up:\n" << left;
}

INSTANTIATE_TEST_SUITE_P(Delivered, ConsoleEvent, ::testing::ValuesIn(kDeliveries),
                         [](const ::testing::TestParamInfo<Delivery>& i) { return std::string(i.param.Name); });

}  // namespace
