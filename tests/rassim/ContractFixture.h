// The RAS client library contract suite: loads the library under test with
// LoadLibraryA and reaches every function through GetProcAddress, so that the
// same tests run against ours and against another implementation.
//
// QUOR_RAS_CONTRACT_TARGET selects the target ("quor", the default, "wine",
// or one of our library's backends by name). Each test names the behaviour it
// checks; the table of known differences (ContractFixture.cpp) says which
// targets are known not to have it; for such a target the test checks that the
// difference is still there (RAS_CONTRACT below). A target that has a behaviour
// but gives another answer at one point lists that answer instead, checked in
// place by EXPECT_ON_TARGET.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
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

// The target's name (QUOR_RAS_CONTRACT_TARGET, "quor" when unset).
std::string Target();

// Whether the target dials a real service (the networkmanager backend): its
// entries are the service's own and its events come in real time, so the
// simulation's script (the phonebook's Quor keys, the control interface, the
// virtual clock) means nothing to it.
bool RealService();

// The value `actual` must be the simulation's, or the target's listed value
// where the table of expected answers has a row for the target and
// `behaviour`; such a row fails when the target gives the simulation's answer
// (the difference is gone: remove the row).
::testing::AssertionResult OnTarget(const char* behaviour, const std::string& actual, const std::string& simulation);

template <class T>
std::string Shown(const T& value) {
  std::ostringstream s;
  s << value;
  return s.str();
}

#define EXPECT_ON_TARGET(behaviour, actual, simulation) \
  EXPECT_TRUE(::rassimtest::OnTarget(behaviour, ::rassimtest::Shown(actual), ::rassimtest::Shown(simulation)))

// For a test of what only the simulation has (`what`: its script, its
// phonebook file, its control interface): a real service has none of it.
#define RAS_SIMULATION_ONLY(what)                                                                                  \
  do {                                                                                                             \
    if (::rassimtest::RealService())                                                                               \
      GTEST_SKIP() << "needs the simulation's " << what << "; " << ::rassimtest::Target() << " is a real service"; \
  } while (0)

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
  TRasSetEntryDialParamsW SetEntryDialParamsW;
  TRasValidateEntryNameA ValidateEntryNameA;
  TRasRenameEntryA RenameEntryA;
  TRasDeleteEntryA DeleteEntryA;
  TRasGetEntryPropertiesA GetEntryPropertiesA;
  TRasGetEntryPropertiesW GetEntryPropertiesW;
  TRasSetEntryPropertiesA SetEntryPropertiesA;
  TRasSetEntryPropertiesW SetEntryPropertiesW;
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
  // On the simulation RunFor(ms); on a real service, dispatches in real time
  // until `done` holds, at most 15 s. Then whether `done` holds.
  bool Await(uint64_t ms, const std::function<bool()>& done);
  const std::vector<DialEvent>& Events() const;
  void ClearEvents();

  // Starts an asynchronous dial of an entry; the handle (0 on failure) and the result.
  DWORD StartDial(const std::string& entry, THRasConn& h, const std::string& user = "",
                  const std::string& password = "", const char* phonebook = nullptr);
  DWORD SyncDial(const std::string& entry, THRasConn& h);
  // The setup most dial tests share: a phonebook of the one entry, `keys` its
  // further lines (the simulation's script), and a dial of it started (h its
  // handle). Connected then waits for RASCS_Connected: `ms` of the clock on the
  // simulation, in real time on a real service. False, with the failure
  // reported, when the dial did not start or did not connect.
  bool Dialling(THRasConn& h, const std::string& entry, const std::string& keys);
  bool Connected(THRasConn& h, const std::string& entry, const std::string& keys = "QuorStepDelay=10",
                 uint64_t ms = 100);
  // The last dial event is `state` without an error.
  bool LastEventIs(TRasConnState state) const;
  // RasHangUpA; on a real service also waits until the connection is gone.
  void HangUp(THRasConn h);
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
