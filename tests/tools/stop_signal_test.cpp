// Stop requests (SIGINT, SIGTERM, SIGHUP) reach `quor dial`'s loop as one
// message to its window, whichever thread the kernel hands the signal to:
// the signal-waiting thread, or a thread started before the handlers that
// does not block the signals (as a library's thread would be).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "Vcl/Vcl.h"
#include "tools/quor/HangUpGate.h"
#include "tools/quor/Platform.h"

namespace {

namespace platform = quortool::platform;

constexpr UINT kNotice = WM_USER + 7;

TEST(StopSignals, ReachTheLoopAsOneMessageFromAnyThread) {
  // Started before the handlers, so the stop signals are not blocked in it.
  std::promise<void> release;
  std::promise<pid_t> started;
  std::thread early([&] {
    started.set_value(static_cast<pid_t>(syscall(SYS_gettid)));
    release.get_future().wait();
  });
  const pid_t earlyTid = started.get_future().get();
  const pid_t self = getpid();

  struct Case {
    const char* what;
    int signo;
    bool toEarlyThread;
  };
  const Case cases[] = {
      {"Ctrl-C to the process", SIGINT, false},
      {"termination to the process", SIGTERM, false},
      {"hang-up to a thread that does not block it", SIGHUP, true},
      {"Ctrl-C to a thread that does not block it", SIGINT, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<int> notices{0};
    WPARAM got = 0;
    const HWND window = AllocateHWnd([&](TMessage& Msg) {
      if (Msg.Msg != kNotice) return;
      got = Msg.WParam;
      ++notices;
    });
    platform::ClearStopRequest();
    platform::InstallStopHandlers(window, kNotice);
    ASSERT_FALSE(platform::StopRequested());
    if (c.toEarlyThread)
      ASSERT_EQ(syscall(SYS_tgkill, self, earlyTid, c.signo), 0);
    else
      ASSERT_EQ(kill(self, c.signo), 0);
    // The notice comes within microseconds; a lost one fails after 10 s.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (notices.load() == 0 && std::chrono::steady_clock::now() < deadline) {
      Application->ProcessMessages();
      std::this_thread::yield();
    }
    platform::RemoveStopHandlers();
    Application->ProcessMessages();
    EXPECT_EQ(notices.load(), 1);
    EXPECT_EQ(got, static_cast<WPARAM>(c.signo));
    EXPECT_EQ(platform::StopSignal(), c.signo);
    DeallocateHWnd(window);
  }
  // After the handlers are removed the mask is as before: nothing is left blocked.
  sigset_t mask;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &mask), 0);
  for (const int signo : {SIGINT, SIGTERM, SIGHUP}) EXPECT_EQ(sigismember(&mask, signo), 0) << signo;
  release.set_value();
  early.join();
}

// Windows ends the process once the console control handler returns after a
// close, logoff or shutdown; Wine does not deliver those events to a console
// program without a console window, so the handler's wait is tested here.
TEST(ConsoleControl, TheHandlerWaitsForTheHangUpWithinTheSystemsTime) {
  const std::vector<std::pair<DWORD, DWORD>> graces = {{0, 0}, {1, 0}, {2, 4500}, {5, 19000}, {6, 19000}};
  std::vector<std::pair<DWORD, DWORD>> got;
  for (const auto& [event, grace] : graces) got.emplace_back(event, quortool::HandlerGraceMs(event));
  EXPECT_EQ(got, graces);
  quortool::HangUpGate gate;
  EXPECT_TRUE(gate.Wait(0));  // no loop holds a line: the handler returns at once
  gate.Hold();
  EXPECT_FALSE(gate.Wait(0));  // the loop has not hung up yet
  std::atomic<bool> hungUp{false};
  auto handler = std::async(std::launch::async, [&] {
    const bool released = gate.Wait(quortool::HandlerGraceMs(2));
    return released && hungUp.load();
  });
  hungUp = true;
  gate.Release();
  EXPECT_TRUE(handler.get());  // it returned after the hang-up, within the time
  EXPECT_TRUE(gate.Wait(0));
}

}  // namespace
