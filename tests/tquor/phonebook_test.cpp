// Phonebook management: listing entries, the entry operations and the
// stored dial parameters.
#include <cstring>

#include "QuorTest.h"

using fakeras::S;

namespace {
template <size_t N>
void Fill(CHAR (&Field)[N], const char* Text) {
  std::memset(Field, 0, N);
  std::strncpy(Field, Text, N - 1);
}
}  // namespace

class PhonebookTest : public QuorTest {
 protected:
  void SetUp() override {
    QuorTest::SetUp();
    Q->PhoneBookEntries->Clear();
    Boxes.Clear();
  }
};

TEST_F(PhonebookTest, EntriesComeInRasOrderWithDuplicates) {
  S().Entries = {"Office", "Home", "Office", "VPN"};
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Items(), (std::vector<String>{"Office", "Home", "Office", "VPN"}));
  EXPECT_TRUE(S().EnumEntriesReserved.Null);
  EXPECT_TRUE(S().EnumEntriesPhonebook.Null) << "the default phonebook";
  EXPECT_EQ(S().EnumEntriesBufSize, 26400u);
  EXPECT_EQ(S().EnumEntriesFirstSize, 264u);
  EXPECT_EQ(Boxes.Count(), 0u);
}

TEST_F(PhonebookTest, EmptyPhonebookGivesAnEmptyListSilently) {
  Q->PhoneBookEntries->Add("old");
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 0);
  EXPECT_EQ(Boxes.Count(), 0u);
}

TEST_F(PhonebookTest, FailuresEmptyTheListWithTheirMessages) {
  struct Case {
    DWORD Result;
    std::vector<String> Boxes;
  };
  const Case cases[] = {{621, {}},
                        {622, {}},
                        {625, {"RAS phonebook is corrupted."}},
                        {632, {"RasEnumEntries failed (632)."}},
                        {5, {"RasEnumEntries failed (5)."}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Result);
    Boxes.Clear();
    Q->PhoneBookEntries->Clear();
    Q->PhoneBookEntries->Add("held before");
    S().EnumEntriesResult = c.Result;
    Q->GetPhoneBookEntries();
    EXPECT_EQ(Q->PhoneBookEntries->Count(), 0);
    EXPECT_EQ(Boxes.Texts(), c.Boxes);
    for (const TPresenterCall& call : Boxes.Calls()) EXPECT_EQ(call.Kind, TPresenterCall::kShowMessage);
  }
}

TEST_F(PhonebookTest, MoreEntriesThanTheBufferHoldsAreListedWhole) {
  for (int i = 0; i < 150; ++i) S().Entries.push_back("Entry " + std::to_string(i));
  Q->GetPhoneBookEntries();
  EXPECT_EQ(S().EnumEntriesCalls, 2) << "asked again with the size RAS named";
  EXPECT_EQ(Q->PhoneBookEntries->Items(), S().Entries);
  EXPECT_EQ(Boxes.Count(), 0u);
  // Exactly 100 fit at the first call.
  S().Entries.resize(100);
  S().EnumEntriesCalls = 0;
  Q->GetPhoneBookEntries();
  EXPECT_EQ(S().EnumEntriesCalls, 1);
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 100);
  // A 603 that names no larger size is a failure like any other.
  S().EnumEntriesResult = 603;
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 0);
  EXPECT_EQ(Boxes.Texts(), std::vector<String>{"RasEnumEntries failed (603)."});
}

TEST_F(PhonebookTest, ACountBeyondTheBufferIsNotBelieved) {
  S().Entries = {"A", "B"};
  S().EnumEntriesCountOverride = 5000;
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 100);
  EXPECT_EQ(Q->PhoneBookEntries->Strings(0), "A");
  EXPECT_EQ(Q->PhoneBookEntries->Strings(2), "");
}

TEST_F(PhonebookTest, WithoutRasNothingIsCalledOrChanged) {
  Q->RasInitialized = false;
  Q->PhoneBookEntries->Add("kept");
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Items(), std::vector<String>{"kept"});
  DWORD ret = 1234;
  Q->RasCreateEntry(HWND{}, ret);
  EXPECT_EQ(ret, 0u);
  EXPECT_FALSE(Q->CreateEntry(HWND{}));
  EXPECT_FALSE(Q->EditEntry(HWND{}, "Office"));
  EXPECT_FALSE(Q->DeleteEntry("Office"));
  EXPECT_FALSE(Q->RenameEntry("Office", "Work"));
  EXPECT_FALSE(Q->GetDialParams(""));
  EXPECT_FALSE(Q->GetDialParams("Other"));
  EXPECT_EQ(Q->EntryName(), "Office") << "nothing changed";
  EXPECT_FALSE(Q->SetDialParams());
  EXPECT_EQ(S().EnumEntriesCalls, 0);
  EXPECT_TRUE(S().PbCalls.empty());
  EXPECT_EQ(Boxes.Count(), 0u);
  EXPECT_TRUE(Log.Events.empty());
}

TEST_F(PhonebookTest, EntryOperationsPassTheirPhonebookArguments) {
  const HWND owner = fakeras::ToHandle<HWND>(0x1234);
  EXPECT_TRUE(Q->CreateEntry(owner));
  DWORD ret = 99;
  Q->RasCreateEntry(owner, ret);
  EXPECT_EQ(ret, 0u);
  EXPECT_TRUE(Q->EditEntry(owner, "Office"));
  EXPECT_TRUE(Q->DeleteEntry(""));
  EXPECT_TRUE(Q->RenameEntry("Office", "Work"));
  const auto& c = S().PbCalls;
  ASSERT_EQ(c.size(), 5u);
  for (const auto& call : c) {
    EXPECT_FALSE(call.Phonebook.Null) << call.Op << ": an empty string, never null";
    EXPECT_EQ(call.Phonebook.Text, "") << call.Op;
  }
  EXPECT_EQ(c[0].Op, "create");
  EXPECT_EQ(c[0].Window, 0x1234u);
  EXPECT_EQ(c[1].Op, "create");
  EXPECT_EQ(c[2].Op, "edit");
  EXPECT_EQ(c[2].Window, 0x1234u);
  EXPECT_EQ(c[2].A.Text, "Office");
  EXPECT_EQ(c[3].Op, "delete");
  EXPECT_FALSE(c[3].A.Null) << "an empty name goes to RAS as an empty string";
  EXPECT_EQ(c[3].A.Text, "");
  EXPECT_EQ(c[4].Op, "rename");
  EXPECT_EQ(c[4].A.Text, "Office");
  EXPECT_EQ(c[4].B.Text, "Work");
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 0) << "the list is not refreshed";
}

TEST_F(PhonebookTest, EntryOperationsReportRasErrors) {
  S().PbResult = 623;
  EXPECT_FALSE(Q->CreateEntry(HWND{}));
  DWORD ret = 0;
  Q->RasCreateEntry(HWND{}, ret);
  EXPECT_EQ(ret, 623u);
  EXPECT_FALSE(Q->EditEntry(HWND{}, "Office"));
  EXPECT_FALSE(Q->DeleteEntry("Office"));
  EXPECT_FALSE(Q->RenameEntry("Office", "Work"));
  EXPECT_EQ(Boxes.Count(), 0u);
}

TEST_F(PhonebookTest, GetDialParamsFillsTheProperties) {
  // The record holds texts from an earlier store; RAS must get a clean one.
  Q->SetUserName("earlier");
  Q->SetPhoneNumber("111");
  ASSERT_TRUE(Q->SetDialParams());
  S().PbCalls.clear();
  Fill(S().Stored.szUserName, "joe");
  Fill(S().Stored.szPassword, "secret");
  Fill(S().Stored.szPhoneNumber, "555 0100");
  Fill(S().Stored.szCallbackNumber, "555 0199");
  Fill(S().Stored.szDomain, "CORP");
  Fill(S().Stored.szEntryName, "ignored");
  EXPECT_TRUE(Q->GetDialParams(""));
  EXPECT_EQ(Q->EntryName(), "Office") << "an empty argument uses the property";
  EXPECT_EQ(Q->UserName(), "joe");
  EXPECT_EQ(Q->Password(), "secret");
  EXPECT_EQ(Q->PhoneNumber(), "555 0100");
  EXPECT_EQ(Q->CallbackNumber(), "555 0199");
  EXPECT_EQ(Q->Domain(), "CORP");
  const fakeras::PbCall& c = S().PbCalls.at(0);
  EXPECT_EQ(c.Op, "getparams");
  EXPECT_TRUE(c.Phonebook.Null);
  EXPECT_EQ(c.Params.dwSize, 1052u);
  EXPECT_STREQ(c.Params.szEntryName, "Office");
  EXPECT_STREQ(c.Params.szUserName, "") << "the record is cleared first";
  EXPECT_STREQ(c.Params.szPhoneNumber, "");
}

TEST_F(PhonebookTest, GetDialParamsKeepsThePasswordWhenNoneIsReturned) {
  Q->SetPassword("mine");
  Q->SetUserName("old");
  Fill(S().Stored.szUserName, "joe");
  Fill(S().Stored.szPassword, "not returned");
  S().StoredPassword = FALSE;
  EXPECT_TRUE(Q->GetDialParams("Home"));
  EXPECT_EQ(Q->EntryName(), "Home");
  EXPECT_EQ(Q->UserName(), "joe");
  EXPECT_EQ(Q->Password(), "mine");
}

TEST_F(PhonebookTest, GetDialParamsFailureChangesOnlyTheEntryName) {
  Q->SetUserName("kept");
  S().GetParamsResult = 623;
  EXPECT_FALSE(Q->GetDialParams("Missing"));
  EXPECT_EQ(Q->EntryName(), "Missing");
  EXPECT_EQ(Q->UserName(), "kept");
  EXPECT_EQ(Boxes.Count(), 0u);
}

TEST_F(PhonebookTest, GetDialParamsWithoutAnyNameAsksForOne) {
  Q->SetEntryName("");
  EXPECT_FALSE(Q->GetDialParams(""));
  ASSERT_EQ(Boxes.Count(), 1u);
  const TPresenterCall& b = Boxes.Calls()[0];
  EXPECT_EQ(b.Kind, TPresenterCall::kMessageDlg);
  EXPECT_EQ(b.Text, "Entry name not specified!");
  EXPECT_EQ(b.DlgType, mtError);
  EXPECT_EQ(b.Buttons, MsgDlgButtons({mbOK}));
  EXPECT_EQ(b.HelpCtx, 0);
  EXPECT_TRUE(S().PbCalls.empty());
}

TEST_F(PhonebookTest, SetDialParamsStoresTheProperties) {
  Q->SetUserName("joe");
  Q->SetPassword("pw");
  Q->SetPhoneNumber("555");
  Q->SetCallbackNumber("556");
  Q->SetDomain("CORP");
  EXPECT_TRUE(Q->SetDialParams());
  const fakeras::PbCall& c = S().PbCalls.at(0);
  EXPECT_EQ(c.Op, "setparams");
  EXPECT_TRUE(c.Phonebook.Null);
  EXPECT_EQ(c.Flag, FALSE) << "the stored password is never removed";
  EXPECT_EQ(c.Params.dwSize, 1052u);
  EXPECT_STREQ(c.Params.szEntryName, "Office");
  EXPECT_STREQ(c.Params.szUserName, "joe");
  EXPECT_STREQ(c.Params.szPassword, "pw");
  EXPECT_STREQ(c.Params.szPhoneNumber, "555");
  EXPECT_STREQ(c.Params.szCallbackNumber, "556");
  EXPECT_STREQ(c.Params.szDomain, "CORP");
  S().PbResult = 624;
  EXPECT_FALSE(Q->SetDialParams());
}

TEST_F(PhonebookTest, SetDialParamsReusesThePhoneNumberLastRead) {
  Fill(S().Stored.szPhoneNumber, "555 0100");
  ASSERT_TRUE(Q->GetDialParams(""));
  Q->SetPhoneNumber("");
  EXPECT_TRUE(Q->SetDialParams());
  EXPECT_STREQ(S().PbCalls.back().Params.szPhoneNumber, "555 0100");

  TQuor fresh(nullptr);
  BindFakes(fresh);
  fresh.SetEntryName("Home");
  EXPECT_TRUE(fresh.SetDialParams());
  EXPECT_STREQ(S().PbCalls.back().Params.szPhoneNumber, "") << "a record never filled has no number";
}

TEST_F(PhonebookTest, SetDialParamsWithoutEntryNameFailsSilently) {
  Q->SetEntryName("");
  EXPECT_FALSE(Q->SetDialParams());
  EXPECT_TRUE(S().PbCalls.empty());
  EXPECT_EQ(Boxes.Count(), 0u);
}
