// RasEnumEntries, RasValidateEntryName, RasRenameEntry, RasDeleteEntry,
// RasGetEntryProperties, RasSetEntryProperties and the phonebook file.
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasEnumEntriesContract : public RasContract {};

TEST_F(RasEnumEntriesContract, AMissingDefaultPhonebookIsEmptyAMissingNamedOneCannotBeOpened) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  DWORD r = 1;
  EXPECT_TRUE(Entries(&r).empty());
  EXPECT_EQ(r, 0u);
  std::string missing = (Dir() / "nope" / "x.pbk").string();
  Entries(&r, missing.c_str());
  EXPECT_EQ(r, ERROR_CANNOT_OPEN_PHONEBOOK);
  Entries(&r, Dir().string().c_str());  // a folder opens but cannot be read
  EXPECT_EQ(r, ERROR_CANNOT_LOAD_PHONEBOOK);
}

TEST_F(RasEnumEntriesContract, ListsEntriesInFileOrderWithTheEmptyPathMeaningTheDefault) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook("; my phonebook\n\n[Office]\nPhoneNumber=1\n[Home]\r\nPhoneNumber=2\n# note\n[Backup line]\n");
  DWORD r;
  EXPECT_EQ(Entries(&r), (std::vector<std::string>{"Office", "Home", "Backup line"}));
  EXPECT_EQ(Entries(&r, ""), (std::vector<std::string>{"Office", "Home", "Backup line"}));
  std::string other = (Dir() / "other.pbk").string();
  WriteText(other, "[Elsewhere]\n");
  EXPECT_EQ(Entries(&r, other.c_str()), std::vector<std::string>{"Elsewhere"});
}

struct CorruptPhonebook {
  const char* name;  // the test's name: ctest cannot take the file text itself
  std::string text;
};

class RasEnumEntriesCorrupt : public RasContract, public ::testing::WithParamInterface<CorruptPhonebook> {};

TEST_P(RasEnumEntriesCorrupt, ACorruptFileGives625) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook(GetParam().text);
  DWORD r;
  Entries(&r);
  EXPECT_EQ(r, ERROR_CORRUPT_PHONEBOOK);
}

INSTANTIATE_TEST_SUITE_P(Files, RasEnumEntriesCorrupt,
                         ::testing::Values(CorruptPhonebook{"KeyBeforeAnySection", "PhoneNumber=1\n[Office]\n"},
                                           CorruptPhonebook{"NoClosingBracket", "[Office\nPhoneNumber=1\n"},
                                           CorruptPhonebook{"NulByte", std::string("[Office]\nPhone\0Number=1\n", 25)},
                                           CorruptPhonebook{"NoName", "[]\n"},
                                           CorruptPhonebook{"NeitherKeyNorComment", "[Office]\njust words\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RasEnumEntriesContract, NegotiatesTheBufferAndHonoursTheComponentsSize) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  std::string text;
  for (int i = 0; i < 101; ++i) text += "[E" + std::to_string(i) + "]\n";
  WritePhonebook(text);
  std::vector<TRasEntryNameA> buf(100);
  buf[0].dwSize = sizeof(TRasEntryNameA);
  DWORD size = 26400, count = 0;
  EXPECT_EQ(api_.EnumEntriesA(nullptr, nullptr, buf.data(), &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 101 * sizeof(TRasEntryNameA));
  EXPECT_EQ(count, 101u);
  EXPECT_EQ(buf[0].szEntryName[0], 0) << "nothing written";
  size = 0;
  EXPECT_EQ(api_.EnumEntriesA(nullptr, nullptr, nullptr, &size, &count), ERROR_BUFFER_TOO_SMALL);
  buf[0].dwSize = 532;
  size = 26400;
  EXPECT_EQ(api_.EnumEntriesA(nullptr, nullptr, buf.data(), &size, &count), 632u);
  EXPECT_EQ(api_.EnumEntriesA("x", nullptr, buf.data(), &size, &count), 87u);
  EXPECT_EQ(api_.EnumEntriesA(nullptr, nullptr, buf.data(), nullptr, &count), 87u);
  WritePhonebook("[Only]\n");
  buf[0].dwSize = sizeof(TRasEntryNameA);
  ASSERT_EQ(api_.EnumEntriesA(nullptr, nullptr, buf.data(), &size, &count), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(buf[0].szEntryName, "Only");
  TRasEntryNameW w[1];
  w[0].dwSize = sizeof(TRasEntryNameW);
  size = sizeof w;
  ASSERT_EQ(api_.EnumEntriesW(nullptr, nullptr, w, &size, &count), 0u);
  EXPECT_EQ(w[0].szEntryName[3], u'y');
}

class RasValidateEntryNameContract : public RasContract {};

TEST_F(RasValidateEntryNameContract, RejectsBadNamesAndNamesInUse) {
  RAS_CONTRACT("phonebook");
  WritePhonebook("[Office]\n");
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, "Home"), 0u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, "OFFICE"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, ""), 123u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, ".hidden"), 123u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, "tab\there"), 123u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, "new\nline"), 123u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, std::string(256, 'n').c_str()), 0u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, std::string(257, 'n').c_str()), 123u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, nullptr), 87u);
  EXPECT_EQ(api_.ValidateEntryNameA(nullptr, "odd [name] ; with = signs"), 0u);
}

class RasRenameEntryContract : public RasContract {};

TEST_F(RasRenameEntryContract, RenamesKeepingEverythingElseOfTheFile) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  const std::string before =
      "; Quor test phonebook\r\n[Office]\r\nPhoneNumber=555\r\nVendorKey=keep me\r\n\r\n; about home\r\n[Home]\r\n"
      "PhoneNumber=777\r\n";
  WritePhonebook(before);
  ASSERT_EQ(api_.RenameEntryA("", "office", "Head office"), 0u);
  std::string after = ReadText(PhonebookPath());
  std::string expected = before;
  expected.replace(expected.find("[Office]"), 8, "[Head office]");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(api_.RenameEntryA("", "Home", "HEAD OFFICE"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(api_.RenameEntryA("", "Nowhere", "X"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(api_.RenameEntryA("", "Home", ".bad"), 123u);
  EXPECT_EQ(api_.RenameEntryA("", "Home", "home"), 0u) << "a change of case is a rename";
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Head office", "home"}));
  // No temporary file is left behind by the rewrites.
  for (const auto& f : std::filesystem::directory_iterator(Dir()))
    EXPECT_EQ(f.path().filename().string().find(".tmp."), std::string::npos) << f.path();
}

class RasDeleteEntryContract : public RasContract {};

TEST_F(RasDeleteEntryContract, DeletesOneEntryAndItsStoredParameters) {
  RAS_CONTRACT("phonebook");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook("[A]\nPhoneNumber=1\n\n[B]\nPhoneNumber=2\n");
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strcpy(p.szEntryName, "B");
  std::strcpy(p.szUserName, "bob");
  ASSERT_EQ(api_.SetEntryDialParamsA(nullptr, &p, FALSE), 0u);
  EXPECT_EQ(api_.DeleteEntryA("", ""), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  ASSERT_EQ(api_.DeleteEntryA("", "b"), 0u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"A"});
  EXPECT_EQ(ReadText(CredentialsPath()).find("bob"), std::string::npos);
  EXPECT_EQ(api_.DeleteEntryA("", "B"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(api_.DeleteEntryA("", nullptr), 87u);
}

class RasEntryPropertiesContract : public RasContract {};

TEST_F(RasEntryPropertiesContract, NegotiatesTheSizeAndReadsTheEntry) {
  RAS_CONTRACT("properties");
  WritePhonebook("[Office]\nPhoneNumber=555-0100\nDEVICE=isdn\nAreaCode=030\nOwnKey=1\n");
  DWORD size = 0;
  EXPECT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", nullptr, &size, nullptr, nullptr), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof(TRasEntryA));
  TRasEntryA e;
  std::memset(&e, 0, sizeof e);
  e.dwSize = 1000;
  size = sizeof e;
  EXPECT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &e, &size, nullptr, nullptr), 632u);
  e.dwSize = sizeof e;
  EXPECT_EQ(api_.GetEntryPropertiesA(nullptr, "Nowhere", &e, &size, nullptr, nullptr), 623u);
  EXPECT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &e, nullptr, nullptr, nullptr), 87u);
  DWORD devSize = 55;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &e, &size, nullptr, &devSize), 0u);
  EXPECT_EQ(devSize, 0u);
  const std::string phone = e.szLocalPhoneNumber;
  EXPECT_ON_TARGET("properties of Office", phone + "|" + e.szAreaCode + "|" + e.szDeviceType + "|" + e.szDeviceName,
                   "555-0100|030|isdn|Quor ISDN Line");
  // No entry name: the defaults of a new entry.
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "", &e, &size, nullptr, nullptr), 0u);
  EXPECT_ON_TARGET("framing of a new entry", e.dwFramingProtocol, RASFP_Ppp);
  TRasEntryW w;
  std::memset(&w, 0, sizeof w);
  w.dwSize = sizeof w;
  size = sizeof w;
  const WCHAR office[] = {'O', 'f', 'f', 'i', 'c', 'e', 0};
  ASSERT_EQ(api_.GetEntryPropertiesW(nullptr, office, &w, &size, nullptr, nullptr), 0u);
  std::string wide;
  for (const WCHAR* c = w.szLocalPhoneNumber; *c; ++c) wide += static_cast<char>(*c);
  EXPECT_EQ(wide, phone);
}

TEST_F(RasEntryPropertiesContract, SetCreatesOrUpdatesKeepingUnknownKeysAndAlternates) {
  RAS_CONTRACT("properties");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook("[Office]\nOwnKey=mine\nPhoneNumber=1\n");
  const char kAlternates[9] = {'1', '1', '1', 0, '2', '2', '2', 0, 0};
  struct {
    TRasEntryA e;
    char alternates[32];
  } buf;
  std::memset(&buf, 0, sizeof buf);
  DWORD size = sizeof buf.e;
  buf.e.dwSize = sizeof buf.e;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &buf.e, &size, nullptr, nullptr), 0u);
  std::strcpy(buf.e.szLocalPhoneNumber, "555-0199");
  std::strcpy(buf.e.szDeviceType, "vpn");
  std::strcpy(buf.e.szDeviceName, "Quor VPN Port");
  buf.e.dwAlternatesOffset = sizeof buf.e;
  std::memcpy(buf.alternates, kAlternates, sizeof kAlternates);
  ASSERT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &buf, sizeof buf, nullptr, 0), 0u);
  std::string text = ReadText(PhonebookPath());
  EXPECT_NE(text.find("OwnKey=mine"), std::string::npos);
  EXPECT_NE(text.find("PhoneNumber=555-0199"), std::string::npos);
  EXPECT_NE(text.find("AlternatePhoneNumber=222"), std::string::npos);
  size = 0;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", nullptr, &size, nullptr, nullptr), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof buf.e + 9);
  std::memset(&buf, 0, sizeof buf);
  buf.e.dwSize = sizeof buf.e;
  size = sizeof buf;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &buf, &size, nullptr, nullptr), 0u);
  EXPECT_EQ(buf.e.dwAlternatesOffset, sizeof buf.e);
  EXPECT_EQ(std::memcmp(buf.alternates, kAlternates, sizeof kAlternates), 0);
  EXPECT_STREQ(buf.e.szDeviceType, "vpn");

  // A new entry; bad names and texts that would break the file are refused.
  buf.e.dwAlternatesOffset = 0;  // this record alone, without the list after it
  ASSERT_EQ(api_.SetEntryPropertiesA(nullptr, "Branch", &buf.e, sizeof buf.e, nullptr, 0), 0u);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Office", "Branch"}));
  EXPECT_EQ(api_.SetEntryPropertiesA(nullptr, ".x", &buf.e, sizeof buf.e, nullptr, 0), 123u);
  std::strcpy(buf.e.szLocalPhoneNumber, "1\n[Injected]");
  EXPECT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &buf.e, sizeof buf.e, nullptr, 0), 87u);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Office", "Branch"}));
  buf.e.dwAlternatesOffset = sizeof buf.e + 100;  // outside the buffer
  std::strcpy(buf.e.szLocalPhoneNumber, "1");
  EXPECT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &buf.e, sizeof buf.e, nullptr, 0), 87u);
  buf.e.dwAlternatesOffset = 0;
  EXPECT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &buf.e, sizeof buf.e - 1, nullptr, 0), 632u);
  EXPECT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", nullptr, sizeof buf.e, nullptr, 0), 87u);
}

}  // namespace
}  // namespace rassimtest
