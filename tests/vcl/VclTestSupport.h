// Shared set-up of the framework tests: virtual time, a recording message
// box presenter, exceptions from handlers collected, and a clean queue and
// timer list between tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vcl/Vcl.h"
#include "Win32/Clock.h"
#include "tests/support/TestPresenter.h"

class VclTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(1);
    DiscardQueuedMessages();
    Application->ResetTerminated();
    Application->OnException = [this](const std::exception& E) { Errors.push_back(E.what()); };
  }

  void TearDown() override {
    Application->OnException = nullptr;
    Application->ResetTerminated();
    DiscardQueuedMessages();
    // A test that leaves a timer armed would tick into the next one.
    EXPECT_EQ(NextTimerDue(), UINT64_MAX) << "a timer was left armed";
  }

  static void DiscardQueuedMessages() {
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
  }

  // Clock reading relative to the start of the test.
  uint64_t Elapsed() const { return QuorClockNow() - Start; }

  TRecordingPresenterGuard Boxes;
  std::vector<std::string> Errors;
  const uint64_t Start = (QuorClockUseVirtual(1), QuorClockNow());
};

// A component that logs its destruction.
class TLoggedComponent : public TComponent {
 public:
  TLoggedComponent(TComponent* AOwner, std::string Tag, std::vector<std::string>* Log)
      : TComponent(AOwner), fTag(std::move(Tag)), fLog(Log) {}
  ~TLoggedComponent() override { fLog->push_back("~" + fTag); }

 private:
  std::string fTag;
  std::vector<std::string>* fLog;
};
