// RasGetEntryDialParams and RasSetEntryDialParams: the stored dial
// parameters and their private file.
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasEntryDialParamsContract : public RasContract {
 protected:
  TRasDialParamsA Make(const char* entry) {
    TRasDialParamsA p;
    std::memset(&p, 0, sizeof p);
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, entry);
    return p;
  }
  DWORD Get(const char* entry, TRasDialParamsA& p, BOOL& pw) {
    p = Make(entry);
    pw = 77;
    return api_.GetEntryDialParamsA(nullptr, &p, &pw);
  }
  // Whether a user name and password given to Office were stored (the result of the set).
  bool StoredOn(DWORD set) {
    EXPECT_ON_TARGET("user name and password of a wired entry", set, 0u);
    return set == 0;
  }
};

TEST_F(RasEntryDialParamsContract, StoresAndReturnsEveryFieldOutsideThePhonebook) {
  RAS_CONTRACT("params");
  WritePhonebook("[Office]\nPhoneNumber=555\n");
  TRasDialParamsA p;
  BOOL pw;
  ASSERT_EQ(Get("Office", p, pw), 0u);
  EXPECT_EQ(pw, FALSE) << "nothing stored yet";
  EXPECT_STREQ(p.szUserName, "");
  p = Make("office");
  std::strcpy(p.szUserName, "alice");
  std::strcpy(p.szPassword, "pa=ss;word\n%");
  std::strcpy(p.szDomain, "CORP");
  std::strcpy(p.szPhoneNumber, "555-0101");
  std::strcpy(p.szCallbackNumber, "555-0102");
  if (!StoredOn(api_.SetEntryDialParamsA(nullptr, &p, FALSE))) return;
  ASSERT_EQ(Get("OFFICE", p, pw), 0u);
  EXPECT_EQ(pw, TRUE);
  EXPECT_STREQ(p.szEntryName, "OFFICE") << "the name stays as given";
  EXPECT_STREQ(p.szUserName, "alice");
  EXPECT_STREQ(p.szPassword, "pa=ss;word\n%");
  EXPECT_STREQ(p.szDomain, "CORP");
  EXPECT_STREQ(p.szPhoneNumber, "555-0101");
  EXPECT_STREQ(p.szCallbackNumber, "555-0102");
  EXPECT_EQ(ReadText(PhonebookPath()), "[Office]\nPhoneNumber=555\n") << "never in the phonebook";
  EXPECT_EQ(ReadText(CredentialsPath()).find("pa=ss"), std::string::npos) << "not in clear text";
  EXPECT_TRUE(OwnerOnly(CredentialsPath()));
}

TEST_F(RasEntryDialParamsContract, RemovePasswordForgetsOnlyThePassword) {
  RAS_CONTRACT("params");
  WritePhonebook("[Office]\n");
  TRasDialParamsA p = Make("Office");
  std::strcpy(p.szUserName, "alice");
  std::strcpy(p.szPassword, "secret");
  if (!StoredOn(api_.SetEntryDialParamsA(nullptr, &p, FALSE))) return;
  std::strcpy(p.szPassword, "ignored");
  ASSERT_EQ(api_.SetEntryDialParamsA(nullptr, &p, TRUE), 0u);
  BOOL pw;
  ASSERT_EQ(Get("Office", p, pw), 0u);
  EXPECT_EQ(pw, FALSE);
  EXPECT_STREQ(p.szPassword, "");
  EXPECT_STREQ(p.szUserName, "alice");
}

TEST_F(RasEntryDialParamsContract, ArgumentsAndUnknownEntriesAreRefused) {
  RAS_CONTRACT("params");
  WritePhonebook("[Office]\n");
  TRasDialParamsA p = Make("Nowhere");
  BOOL pw;
  EXPECT_EQ(api_.GetEntryDialParamsA(nullptr, &p, &pw), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(api_.SetEntryDialParamsA(nullptr, &p, FALSE), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(api_.GetEntryDialParamsA(nullptr, nullptr, &pw), 87u);
  p = Make("Office");
  EXPECT_EQ(api_.GetEntryDialParamsA(nullptr, &p, nullptr), 87u);
  p.dwSize = 1064;
  EXPECT_EQ(api_.GetEntryDialParamsA(nullptr, &p, &pw), 632u);
  EXPECT_EQ(api_.SetEntryDialParamsA(nullptr, &p, FALSE), 632u);
  p = Make("Office");
  std::memset(p.szDomain, 'D', sizeof p.szDomain);  // no terminating zero in the field
  EXPECT_EQ(api_.SetEntryDialParamsA(nullptr, &p, FALSE), 87u);
  EXPECT_FALSE(std::filesystem::exists(CredentialsPath()));
}

TEST_F(RasEntryDialParamsContract, TheWideFormSharesTheStore) {
  RAS_CONTRACT("params");
  WritePhonebook("[Office]\n");
  TRasDialParamsA p = Make("Office");
  std::strcpy(p.szUserName, "J\xC3\xBCrgen");  // UTF-8
  if (!StoredOn(api_.SetEntryDialParamsA(nullptr, &p, FALSE))) return;
  TRasDialParamsW w;
  std::memset(&w, 0, sizeof w);
  w.dwSize = sizeof w;
  const WCHAR office[] = {'O', 'f', 'f', 'i', 'c', 'e', 0};
  std::memcpy(w.szEntryName, office, sizeof office);
  BOOL pw = 0;
  ASSERT_EQ(api_.GetEntryDialParamsW(nullptr, &w, &pw), 0u);
  EXPECT_EQ(w.szUserName[1], 0x00FC);
  EXPECT_EQ(w.szUserName[6], 0);
  EXPECT_EQ(pw, TRUE);
}

TEST_F(RasEntryDialParamsContract, ParametersFollowARenamedEntry) {
  RAS_CONTRACT("params");
  WritePhonebook("[Office]\n");
  TRasDialParamsA p = Make("Office");
  std::strcpy(p.szUserName, "alice");
  if (!StoredOn(api_.SetEntryDialParamsA(nullptr, &p, FALSE))) return;
  ASSERT_EQ(api_.RenameEntryA("", "Office", "Work"), 0u);
  BOOL pw;
  ASSERT_EQ(Get("Work", p, pw), 0u);
  EXPECT_STREQ(p.szUserName, "alice");
}

}  // namespace
}  // namespace rassimtest
