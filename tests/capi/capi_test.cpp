// The C interface's refusals, its thread rule, its callbacks' rules and its
// loop descriptor, against the simulated RAS service in virtual time.
#include <gtest/gtest.h>
#include <quor.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Win32/Win32.h"
#include "tests/tquor/SimEnv.h"
#if !defined(_WIN32)
#include <poll.h>
#endif

namespace fs = std::filesystem;

namespace {

class CApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(quor_clock_virtual(1), QUOR_OK);
    fDir = fs::temp_directory_path() / ("quor-capi-" + std::to_string(std::random_device{}()));
    fs::create_directories(fDir);
    std::ofstream(fDir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n";
    SetSimEnv("QUOR_RAS_PHONEBOOK", (fDir / "rasphone.pbk").string());
    SetSimEnv("QUOR_RAS_CREDENTIALS", (fDir / "credentials.dat").string());
    SetSimEnv("QUOR_RAS_STATE_DIR", (fDir / "state").string());
    ASSERT_EQ(quor_dialer_new(&D), QUOR_OK);
    ASSERT_EQ(quor_set_text(D, QUOR_TEXT_ENTRY, "Office"), QUOR_OK);
    ASSERT_EQ(quor_on_notify(D, &CApiTest::OnNotify, this), QUOR_OK);
  }
  void TearDown() override {
    if (D != nullptr) quor_dialer_free(D);
    quor_loop_dispatch();
    std::error_code ec;
    fs::remove_all(fDir, ec);
  }
  std::string Text(int Which) {
    char buffer[512];
    size_t length = 0;
    EXPECT_EQ(quor_get_text(D, Which, buffer, sizeof(buffer), &length), QUOR_OK);
    return std::string(buffer, length);
  }
  static void QUOR_CALL OnNotify(void* User, quor_dialer* Dialer, int32_t, const char* Text) {
    auto* self = static_cast<CApiTest*>(User);
    self->Notices.push_back(Text);
    if (self->InNotify) self->InNotify(Dialer);
  }

  quor_dialer* D = nullptr;
  std::vector<std::string> Notices;
  std::function<void(quor_dialer*)> InNotify;
  fs::path fDir;
};

TEST_F(CApiTest, BadInputIsRefusedAndChangesNothing) {
  quor_dialer* freed = nullptr;
  ASSERT_EQ(quor_dialer_new(&freed), QUOR_OK);
  ASSERT_EQ(quor_dialer_free(freed), QUOR_OK);
  ASSERT_EQ(quor_set_text(D, QUOR_TEXT_USER, "joe"), QUOR_OK);
  const std::string longest(256, 'u');
  int64_t value = 0;
  char small[4];
  size_t length = 0;
  struct Case {
    const char* Name;
    std::function<int()> Call;
    int Expected;
  };
  const Case cases[] = {
      {"null dialer", [] { return quor_set_text(nullptr, QUOR_TEXT_USER, "x"); }, QUOR_E_NULL_ARGUMENT},
      {"null out", [] { return quor_dialer_new(nullptr); }, QUOR_E_NULL_ARGUMENT},
      {"null text", [&] { return quor_set_text(D, QUOR_TEXT_USER, nullptr); }, QUOR_E_NULL_ARGUMENT},
      {"null value", [&] { return quor_get_int(D, QUOR_SET_ATTEMPT, nullptr); }, QUOR_E_NULL_ARGUMENT},
      {"null status", [&] { return quor_get_status(D, nullptr); }, QUOR_E_NULL_ARGUMENT},
      {"freed dialer", [&] { return quor_set_text(freed, QUOR_TEXT_USER, "x"); }, QUOR_E_INVALID_DIALER},
      {"freed twice", [&] { return quor_dialer_free(freed); }, QUOR_E_INVALID_DIALER},
      {"made-up handle", [] { return quor_connect(reinterpret_cast<quor_dialer*>(uintptr_t{0x5151}), nullptr); },
       QUOR_E_INVALID_DIALER},
      {"user at its limit", [&] { return quor_set_text(D, QUOR_TEXT_USER, longest.c_str()); }, QUOR_OK},
      {"user too long", [&] { return quor_set_text(D, QUOR_TEXT_USER, (longest + "u").c_str()); }, QUOR_E_TOO_LONG},
      {"domain too long", [&] { return quor_set_text(D, QUOR_TEXT_DOMAIN, "sixteen-letters!"); }, QUOR_E_TOO_LONG},
      {"number too long", [&] { return quor_set_text(D, QUOR_TEXT_PHONE_NUMBER, std::string(129, '5').c_str()); },
       QUOR_E_TOO_LONG},
      {"embedded zero", [&] { return quor_set_text_n(D, QUOR_TEXT_USER, "jo\0e", 4); }, QUOR_E_EMBEDDED_NUL},
      {"zero after a bad byte", [&] { return quor_set_text_n(D, QUOR_TEXT_USER, "\xC0x\0", 3); }, QUOR_E_EMBEDDED_NUL},
      {"cut sequence", [&] { return quor_set_text(D, QUOR_TEXT_USER, "jo\xC3"); }, QUOR_E_NOT_REPRESENTABLE},
      {"overlong slash", [&] { return quor_set_text(D, QUOR_TEXT_USER, "\xC0\xAF"); }, QUOR_E_NOT_REPRESENTABLE},
      {"surrogate", [&] { return quor_set_text(D, QUOR_TEXT_USER, "\xED\xA0\x80"); }, QUOR_E_NOT_REPRESENTABLE},
      {"past U+10FFFF", [&] { return quor_set_text(D, QUOR_TEXT_USER, "\xF4\x90\x80\x80"); }, QUOR_E_NOT_REPRESENTABLE},
      {"read-only text", [&] { return quor_set_text(D, QUOR_TEXT_DEVICE_NAME, "x"); }, QUOR_E_READ_ONLY},
      {"read-only number", [&] { return quor_set_int(D, QUOR_SET_ATTEMPT, 3); }, QUOR_E_READ_ONLY},
      {"unknown text", [&] { return quor_set_text(D, 99, "x"); }, QUOR_E_UNKNOWN_SETTING},
      {"unknown number", [&] { return quor_get_int(D, 99, &value); }, QUOR_E_UNKNOWN_SETTING},
      {"pause above 60", [&] { return quor_set_int(D, QUOR_SET_REDIAL_PAUSE, 61); }, QUOR_E_OUT_OF_RANGE},
      {"negative attempts", [&] { return quor_set_int(D, QUOR_SET_REDIAL_ATTEMPTS, -1); }, QUOR_E_OUT_OF_RANGE},
      {"timeout above a day", [&] { return quor_set_int(D, QUOR_SET_DIAL_TIMEOUT, 86401); }, QUOR_E_OUT_OF_RANGE},
      {"back-off below 1", [&] { return quor_set_redial_backoff(D, 0.5, 0); }, QUOR_E_OUT_OF_RANGE},
      {"back-off NaN", [&] { return quor_set_redial_backoff(D, std::nan(""), 0); }, QUOR_E_OUT_OF_RANGE},
      {"small buffer", [&] { return quor_get_text(D, QUOR_TEXT_ENTRY, small, sizeof(small), &length); },
       QUOR_E_BUFFER_TOO_SMALL},
      {"rename to nothing", [&] { return quor_rename_entry(D, "Office", nullptr); }, QUOR_E_NULL_ARGUMENT},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Call(), c.Expected) << c.Name;
  EXPECT_EQ(Text(QUOR_TEXT_USER), longest) << "a refused text leaves the last one accepted";
  EXPECT_EQ(length, 6u) << "the wanted length is told";
  EXPECT_STREQ(small, "");
  ASSERT_EQ(quor_get_int(D, QUOR_SET_REDIAL_PAUSE, &value), QUOR_OK);
  EXPECT_EQ(value, 10);
  for (const Case& c : cases) EXPECT_STRNE(quor_error_text(c.Expected), "Unknown error") << c.Name;
}

TEST_F(CApiTest, TextsAreUtf8BothWays) {
  ASSERT_EQ(quor_set_text(D, QUOR_TEXT_USER, "J\xC3\xBCrgen \xE2\x82\xAC"), QUOR_OK);
  EXPECT_EQ(Text(QUOR_TEXT_USER), "J\xC3\xBCrgen \xE2\x82\xAC");
  ASSERT_EQ(quor_set_text(D, QUOR_TEXT_PASSWORD, "a much longer password"), QUOR_OK);
  ASSERT_EQ(quor_set_text(D, QUOR_TEXT_PASSWORD, "pw"), QUOR_OK);
  EXPECT_EQ(Text(QUOR_TEXT_PASSWORD), "pw");
}

TEST_F(CApiTest, AnotherThreadIsRefusedAndChangesNothing) {
  std::vector<int> results;
  std::thread([&] {
    results.push_back(quor_set_text(D, QUOR_TEXT_ENTRY, "Home"));
    results.push_back(quor_connect(D, nullptr));
    results.push_back(quor_on_notify(D, nullptr, nullptr));
    results.push_back(quor_dialer_free(D));
  }).join();
  EXPECT_EQ(results, std::vector<int>(4, QUOR_E_WRONG_THREAD));
  EXPECT_EQ(Text(QUOR_TEXT_ENTRY), "Office");
  ASSERT_EQ(quor_connect(D, nullptr), QUOR_OK);
  ASSERT_EQ(quor_loop_dispatch(), QUOR_OK);
  EXPECT_EQ(Notices, std::vector<std::string>{"Dialing Office..."}) << "the callback is still set";
}

TEST_F(CApiTest, CallbacksRunOnlyInDispatchAndMayFreeTheirDialer) {
  std::vector<int> nested;
  InNotify = [&](quor_dialer* d) {
    nested.push_back(quor_loop_dispatch());
    nested.push_back(quor_loop_run(10));
    nested.push_back(quor_dialer_free(d));
    nested.push_back(quor_dialer_free(d));
  };
  ASSERT_EQ(quor_connect(D, nullptr), QUOR_OK);
  EXPECT_TRUE(Notices.empty());
  ASSERT_EQ(quor_loop_run(30000), QUOR_OK);
  EXPECT_EQ(Notices, std::vector<std::string>{"Dialing Office..."}) << "nothing after the free";
  EXPECT_EQ(nested, (std::vector<int>{QUOR_E_IN_CALLBACK, QUOR_E_IN_CALLBACK, QUOR_OK, QUOR_E_INVALID_DIALER}));
  EXPECT_EQ(quor_set_text(D, QUOR_TEXT_USER, "x"), QUOR_E_INVALID_DIALER);
  D = nullptr;
}

TEST_F(CApiTest, AFreedDialersKeptEventsAreDropped) {
  ASSERT_EQ(quor_connect(D, nullptr), QUOR_OK);
  ASSERT_EQ(quor_dialer_free(D), QUOR_OK);
  D = nullptr;
  ASSERT_EQ(quor_loop_run(30000), QUOR_OK);
  EXPECT_TRUE(Notices.empty());
}

#if !defined(_WIN32)
TEST_F(CApiTest, TheLoopDescriptorIsReadableExactlyWhileWorkWaits) {
  pollfd p{quor_loop_fd(), POLLIN, 0};
  ASSERT_GE(p.fd, 0);
  EXPECT_EQ(quor_loop_fd(), p.fd) << "one descriptor per thread";
  ASSERT_EQ(quor_loop_dispatch(), QUOR_OK);
  EXPECT_EQ(poll(&p, 1, 0), 0) << "nothing is due";
  EXPECT_EQ(quor_loop_timeout(), -1);
  // A message posted from another thread (as RAS's dial events are) wakes it.
  const DWORD self = GetCurrentThreadId();
  std::thread([self] { PostThreadMessageA(self, WM_USER + 7, 0, 0); }).join();
  EXPECT_EQ(poll(&p, 1, 0), 1);
  EXPECT_EQ(quor_loop_timeout(), 0);
  ASSERT_EQ(quor_loop_dispatch(), QUOR_OK);
  EXPECT_EQ(poll(&p, 1, 0), 0);
  // Again once the dispatch has taken the first wake-up, however many are posted.
  std::thread([self] {
    for (int i = 0; i < 3; ++i) PostThreadMessageA(self, WM_USER + 7, 0, 0);
  }).join();
  EXPECT_EQ(poll(&p, 1, 0), 1);
  ASSERT_EQ(quor_loop_dispatch(), QUOR_OK);
  EXPECT_EQ(poll(&p, 1, 0), 0);
  // An event kept for the dispatch wakes it too.
  ASSERT_EQ(quor_connect(D, nullptr), QUOR_OK);
  EXPECT_EQ(poll(&p, 1, 0), 1);
  ASSERT_EQ(quor_loop_dispatch(), QUOR_OK);
  EXPECT_EQ(Notices, std::vector<std::string>{"Dialing Office..."});
  EXPECT_GT(quor_loop_timeout(), 0) << "the dial's next step is armed";
}
#endif

}  // namespace

// RAS's texts stay reachable when no dialler holds the library: before the
// first one, and after the last one is freed (the library was unloaded then).
TEST_F(CApiTest, ErrorTextsNeedNoLiveDialer) {
  const std::string busy = quor_error_text(676);
  EXPECT_EQ(busy.rfind("RAS error", 0), std::string::npos) << busy;
  ASSERT_EQ(quor_dialer_free(D), QUOR_OK);
  D = nullptr;
  EXPECT_EQ(quor_error_text(676), busy);
  EXPECT_EQ(quor_error_text(676), busy);
}
