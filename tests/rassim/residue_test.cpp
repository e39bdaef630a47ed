// A password handed to the RAS library, or read back from it, leaves no copy
// in the memory the library gives back: not in clear text, not in the hex
// form of the credential file, not in the UTF-16 form of the W exports.
#include <algorithm>
#include <iterator>

#include "tests/rassim/ContractFixture.h"
#include "tests/rassim/FreedMemory.h"

namespace rassimtest {
namespace {

struct Secret {
  const char* label;
  const char* password;
};

// A password longer than a text keeps inside itself, and one that fits there
// (its copies then live inside whatever holds the text).
const Secret kSecrets[] = {{"Long", "Qv7-residue-Kx2mW9tZ"}, {"Short", "zK7#qW2p"}};

// What is searched for: the password's second half (a wipe that spares the
// tail still counts) in each form a copy of it takes.
std::vector<std::string> Needles(const std::string& password) {
  const std::string tail = password.substr(password.size() - std::max<size_t>(6, password.size() / 2));
  static const char hex[] = "0123456789abcdef";
  std::string hexTail, wideTail;
  for (unsigned char c : tail) {
    hexTail += {hex[c >> 4], hex[c & 15]};
    wideTail += {static_cast<char>(c), '\0'};
  }
  return {tail, hexTail, wideTail};
}
const char* const kForms[] = {"clear text", "hex", "UTF-16"};

template <size_t N>
void Fill(WCHAR (&field)[N], const char* text) {
  size_t i = 0;
  for (; text[i] && i + 1 < N; ++i) field[i] = static_cast<WCHAR>(text[i]);
  field[i] = 0;
}

class PasswordResidue : public RasContract, public ::testing::WithParamInterface<Secret> {
 protected:
  // Runs one operation with the freed memory watched; false, naming the
  // operation and the forms found, when a freed block held the password.
  ::testing::AssertionResult Watched(const char* operation, const std::function<void()>& run) {
    freed::Start(needles_);
    run();
    const std::vector<size_t> hits = freed::Stop();
    std::string found;
    for (size_t i = 0; i < hits.size(); ++i)
      if (hits[i]) found += " " + std::to_string(hits[i]) + " in " + kForms[i] + ";";
    if (found.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << operation << " left the password in freed blocks:" << found;
  }

  std::vector<std::string> needles_ = Needles(GetParam().password);
};

TEST_P(PasswordResidue, NoFreedBlockHoldsThePassword) {
  RAS_SIMULATION_ONLY("control interface and credential file");
  if (const char* why = freed::Unavailable()) GTEST_SKIP() << why;
  const char* password = GetParam().password;
  WritePhonebook("[Office]\nPhoneNumber=555-0100\n\n[Home]\nPhoneNumber=555-0199\n");
  // Other entries' parameters after these make a file longer than one read.
  std::string others = "[Office]\nUserName=alice\n\n";
  for (int i = 0; i < 400; ++i) others += "[Old " + std::to_string(i) + "]\nUserName=someone\n\n";
  WriteText(CredentialsPath(), others);
  std::filesystem::permissions(CredentialsPath(),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const DWORD window = HandleValue(EventWindow());
  const auto setW = reinterpret_cast<TRasSetEntryDialParamsW>(
      reinterpret_cast<void (*)()>(GetProcAddress(lib_, "RasSetEntryDialParamsW")));
  TRasDialParamsA a{};
  a.dwSize = sizeof a;
  TRasDialParamsW w{};
  w.dwSize = sizeof w;
  BOOL returned = FALSE;
  // A dial with the parameters as read back, connected and hung up; the
  // library's record of the last dial is forgotten at the end (as are the step delays).
  const auto dialAndHangUp = [&](auto dial) {
    THRasConn h = 0;
    ClearEvents();
    api_.SetStepDelay(QUORRASSIM_ANY_STATE, 1);
    const DWORD r = dial(h);
    RunFor(50);
    api_.HangUpA(h);
    RunFor(1500);
    api_.Reset();
    const bool connected =
        std::any_of(Events().begin(), Events().end(), [](const DialEvent& e) { return e.state == RASCS_Connected; });
    return r == 0 && connected;
  };
  const struct {
    const char* operation;
    std::function<bool()> run;  // whether it did what it should
  } kOperations[] = {
      {"RasSetEntryDialParamsA",
       [&] {
         std::strcpy(a.szEntryName, "Office");
         std::strcpy(a.szPassword, password);
         return api_.SetEntryDialParamsA(nullptr, &a, FALSE) == 0;
       }},
      {"RasSetEntryDialParamsA (stored again)", [&] { return api_.SetEntryDialParamsA(nullptr, &a, FALSE) == 0; }},
      {"RasSetEntryDialParamsW",
       [&] {
         Fill(w.szEntryName, "Home");
         Fill(w.szPassword, password);
         return setW(nullptr, &w, FALSE) == 0;
       }},
      {"RasGetEntryDialParamsA",
       [&] {
         std::memset(a.szPassword, 0, sizeof a.szPassword);
         return api_.GetEntryDialParamsA(nullptr, &a, &returned) == 0 && returned &&
                std::strcmp(a.szPassword, password) == 0;
       }},
      {"RasGetEntryDialParamsW",
       [&] {
         std::fill(std::begin(w.szPassword), std::end(w.szPassword), 0);
         return api_.GetEntryDialParamsW(nullptr, &w, &returned) == 0 && returned &&
                w.szPassword[std::strlen(password) - 1] == static_cast<WCHAR>(password[std::strlen(password) - 1]);
       }},
      {"RasDialA with the stored password",
       [&] { return dialAndHangUp([&](THRasConn& h) { return api_.DialA(nullptr, nullptr, &a, ~0u, window, &h); }); }},
      {"RasDialW with the stored password",
       [&] { return dialAndHangUp([&](THRasConn& h) { return api_.DialW(nullptr, nullptr, &w, ~0u, window, &h); }); }},
      {"RasRenameEntryA", [&] { return api_.RenameEntryA(nullptr, "Office", "Work") == 0; }},
      {"RasDeleteEntryA", [&] { return api_.DeleteEntryA(nullptr, "Home") == 0; }},
  };
  for (const auto& op : kOperations) {
    bool done = false;
    EXPECT_TRUE(Watched(op.operation, [&] { done = op.run(); }));
    EXPECT_TRUE(done) << op.operation << " failed";
  }
}

INSTANTIATE_TEST_SUITE_P(Passwords, PasswordResidue, ::testing::ValuesIn(kSecrets),
                         [](const ::testing::TestParamInfo<Secret>& i) { return i.param.label; });

}  // namespace
}  // namespace rassimtest
