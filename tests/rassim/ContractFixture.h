// The RAS client library contract suite: loads the library under test with
// LoadLibraryA and reaches every function through GetProcAddress, so that the
// same tests run against ours and against another implementation.
//
// QUOR_RAS_CONTRACT_TARGET selects the target ("quor", the default, or
// "wine"). Each test names the behaviour it checks; the table of known
// differences (ContractFixture.cpp) says which targets are known not to have
// it; for such a target the test checks that the difference is still there
// (RAS_CONTRACT below).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "Ras2/Ras2.h"
#include "RasSim/RasSimControl.h"
#include "Win32/Win32.h"
#include "tests/rassim/TestPlatform.h"

namespace rassimtest {

// A window handle as the 32-bit value RAS records and notifiers carry.
template <class H>
DWORD HandleValue(H h) {
  if constexpr (std::is_pointer_v<H>)
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(h));
  else
    return static_cast<DWORD>(h);
}

// Why the current target is known to differ in `behaviour`; null when it is not.
const char* KnownDifference(const char* behaviour);
// The current target's name as people write it ("Wine", or a backend's name).
std::string TargetLabel();

// A test of a behaviour the current target is known not to have. A known
// difference is checked, not assumed: the test makes one check that the target
// still differs as the table says and ends there, and fails loudly once the
// target behaves as Windows does, so the table cannot go stale. A difference
// the fixture has no check for (a backend's design) skips the test with its reason.
#define RAS_CONTRACT(behaviour)                                                                              \
  do {                                                                                                       \
    if (const char* why = ::rassimtest::KnownDifference(behaviour)) {                                        \
      if (!HasDifferenceCheck(behaviour))                                                                    \
        GTEST_SKIP() << "known difference of this target (" << behaviour << "): " << why;                    \
      EXPECT_TRUE(StillDiffers(behaviour))                                                                   \
          << ::rassimtest::TargetLabel() << " now behaves like Windows here: remove the known difference \"" \
          << behaviour << "\" (" << why << ") from tests/rassim/ContractFixture.cpp";                        \
      return;                                                                                                \
    }                                                                                                        \
  } while (0)

struct DialEvent {
  uint64_t at;  // clock reading when it was dispatched
  UINT msg;
  TRasConnState state;
  DWORD error;
};

struct Api {
  TRasCreatePhonebookEntryA CreatePhonebookEntryA;
  TRasDialA DialA;
  TRasDialW DialW;
  TRasEditPhonebookEntryA EditPhonebookEntryA;
  TRasEnumConnectionsA EnumConnectionsA;
  TRasEnumConnectionsW EnumConnectionsW;
  TRasEnumEntriesA EnumEntriesA;
  TRasEnumEntriesW EnumEntriesW;
  TRasGetConnectStatusA GetConnectStatusA;
  TRasGetConnectStatusW GetConnectStatusW;
  TRasGetEntryDialParamsA GetEntryDialParamsA;
  TRasGetEntryDialParamsW GetEntryDialParamsW;
  TRasGetErrorStringA GetErrorStringA;
  TRasGetErrorStringW GetErrorStringW;
  TRasGetProjectionInfoA GetProjectionInfoA;
  TRasHangUpA HangUpA;
  TRasSetEntryDialParamsA SetEntryDialParamsA;
  TRasValidateEntryNameA ValidateEntryNameA;
  TRasRenameEntryA RenameEntryA;
  TRasDeleteEntryA DeleteEntryA;
  TRasGetEntryPropertiesA GetEntryPropertiesA;
  TRasGetEntryPropertiesW GetEntryPropertiesW;
  TRasSetEntryPropertiesA SetEntryPropertiesA;
  TRasGetCountryInfoA GetCountryInfoA;
  TRasEnumDevicesA EnumDevicesA;
  TRasEnumDevicesW EnumDevicesW;
  // Control interface of our library (null elsewhere).
  TQuorRasSimReset Reset;
  TQuorRasSimCallCount CallCount;
  TQuorRasSimLastCall LastCall;
  TQuorRasSimLastDialParams LastDialParams;
  TQuorRasSimDropConnection DropConnection;
  TQuorRasSimQueueFailure QueueFailure;
  TQuorRasSimSetDialogAnswers SetDialogAnswers;
  TQuorRasSimSetStepDelay SetStepDelay;
  TQuorRasSimGetConnectionWindow GetConnectionWindow;
};

class RasContract : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Files of this test.
  std::filesystem::path Dir() const { return dir_; }
  std::string PhonebookPath() const { return (dir_ / "rasphone.pbk").string(); }
  std::string CredentialsPath() const { return (dir_ / "credentials.dat").string(); }
  void WritePhonebook(const std::string& text) const { WriteText(PhonebookPath(), text); }
  static void WriteText(const std::string& path, const std::string& text);
  static std::string ReadText(const std::string& path);

  // A phonebook of the entries given, each "[name]\nPhoneNumber=...\nDEVICE=...\n" plus extra lines.
  void Phonebook(const std::vector<std::pair<std::string, std::string>>& entries) const;

  // The window receiving dial events, and the clock driving them.
  HWND EventWindow();
  void Pump();
  // Advances the virtual clock 1 ms at a time, dispatching after each step, so
  // that each event's dispatch time is its posting time.
  void RunFor(uint64_t ms);
  const std::vector<DialEvent>& Events() const;
  void ClearEvents();

  // Starts an asynchronous dial of an entry; the handle (0 on failure) and the result.
  DWORD StartDial(const std::string& entry, THRasConn& h, const std::string& user = "",
                  const std::string& password = "");
  DWORD SyncDial(const std::string& entry, THRasConn& h);
  // Status of a connection (0 with the record, or the error and the untouched record).
  DWORD Status(THRasConn h, TRasConnStatusA& st);
  std::vector<TRasConnA> Connections(DWORD* result = nullptr);
  std::vector<std::string> Entries(DWORD* result = nullptr, const char* phonebook = nullptr);

  // The checks of known differences (RAS_CONTRACT): whether there is one for
  // a behaviour, and whether the target still behaves as the table says.
  static bool HasDifferenceCheck(const char* behaviour);
  bool StillDiffers(const char* behaviour);

  HMODULE lib_ = 0;
  Api api_{};

 private:
  std::filesystem::path dir_;
  HWND eventWindow_ = 0;
};

}  // namespace rassimtest
