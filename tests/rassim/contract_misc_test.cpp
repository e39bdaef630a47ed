// RasGetErrorString, RasGetCountryInfo, RasEnumDevices (also from rnaph.dll)
// and the entry dialogs.
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasGetErrorStringContract : public RasContract {};

TEST_F(RasGetErrorStringContract, EveryRasErrorHasATextThatFitsTheComponentsBuffer) {
  RAS_CONTRACT("error-string");
  for (UINT e = 600; e <= 750; ++e) {
    char buf[101];
    std::memset(buf, '#', sizeof buf);
    ASSERT_EQ(api_.GetErrorStringA(e, buf, 100), 0u) << e;
    size_t n = strnlen(buf, sizeof buf);
    EXPECT_LT(n, 100u) << e;
    EXPECT_GT(n, 5u) << e;
    EXPECT_EQ(buf[100], '#') << "nothing past the size given";
  }
  char buf[100];
  ASSERT_EQ(api_.GetErrorStringA(676, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "The line is busy.");
  for (UINT e : {6u, 87u, 123u, 183u, 1223u}) EXPECT_EQ(api_.GetErrorStringA(e, buf, sizeof buf), 0u) << e;
}

TEST_F(RasGetErrorStringContract, RefusesUnknownNumbersAndSmallBuffersLeavingThemUntouched) {
  RAS_CONTRACT("error-string");
  char buf[100];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(api_.GetErrorStringA(751, buf, sizeof buf), 87u);
  EXPECT_EQ(api_.GetErrorStringA(0, buf, sizeof buf), 87u);
  EXPECT_EQ(api_.GetErrorStringA(676, nullptr, 100), 87u);
  EXPECT_EQ(api_.GetErrorStringA(676, buf, 17), 87u);  // "The line is busy." needs 18
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(api_.GetErrorStringA(676, buf, 18), 0u);
  WCHAR w[100];
  ASSERT_EQ(api_.GetErrorStringW(691, w, 100), 0u);
  EXPECT_EQ(w[0], u'A');
}

class RasGetCountryInfoContract : public RasContract {};

TEST_F(RasGetCountryInfoContract, WalksTheTableByItsChain) {
  RAS_CONTRACT("country");
  alignas(4) char buf[256];
  auto* info = reinterpret_cast<TRasCtryInfo*>(buf);
  std::memset(buf, 0, sizeof buf);
  info->dwSize = sizeof(TRasCtryInfo);
  info->dwCountryID = 44;
  DWORD size = sizeof(TRasCtryInfo);
  EXPECT_EQ(api_.GetCountryInfoA(info, &size), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof(TRasCtryInfo) + std::strlen("United Kingdom") + 1);
  size = sizeof buf;
  ASSERT_EQ(api_.GetCountryInfoA(info, &size), 0u);
  EXPECT_EQ(info->dwCountryCode, 44u);
  EXPECT_STREQ(buf + info->dwCountryNameOffset, "United Kingdom");
  int walked = 0;
  info->dwCountryID = 1;
  for (;;) {
    size = sizeof buf;
    ASSERT_EQ(api_.GetCountryInfoA(info, &size), 0u) << info->dwCountryID;
    ++walked;
    if (info->dwNextCountryID == 0) break;
    info->dwCountryID = info->dwNextCountryID;
    ASSERT_LT(walked, 1000);
  }
  EXPECT_GT(walked, 10);
  info->dwCountryID = 9999;
  EXPECT_EQ(api_.GetCountryInfoA(info, &size), 87u);
  info->dwSize = 24;
  info->dwCountryID = 1;
  EXPECT_EQ(api_.GetCountryInfoA(info, &size), 632u);
  EXPECT_EQ(api_.GetCountryInfoA(nullptr, &size), 87u);
}

class RasEnumDevicesContract : public RasContract {};

TEST_F(RasEnumDevicesContract, NegotiatesAndListsTheDevices) {
  DWORD size = 0, count = 0;
  EXPECT_EQ(api_.EnumDevicesA(nullptr, &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size % sizeof(TRasDevInfoA), 0u);
  EXPECT_GT(count, 0u);
  EXPECT_EQ(api_.EnumDevicesA(nullptr, nullptr, &count), 87u);
  std::vector<TRasDevInfoA> devs(count);
  devs[0].dwSize = 100;
  EXPECT_EQ(api_.EnumDevicesA(devs.data(), &size, &count), 632u);
  devs[0].dwSize = sizeof(TRasDevInfoA);
  ASSERT_EQ(api_.EnumDevicesA(devs.data(), &size, &count), 0u);
  RAS_CONTRACT("devices-ours");
  std::string listed;
  for (DWORD i = 0; i < count; ++i)
    listed += std::string(i ? "; " : "") + devs[i].szDeviceType + ": " + devs[i].szDeviceName;
  EXPECT_ON_TARGET("devices", listed, "modem: Quor Virtual Modem; isdn: Quor ISDN Line; vpn: Quor VPN Port");
  std::vector<TRasDevInfoW> wdevs(count);
  wdevs[0].dwSize = sizeof(TRasDevInfoW);
  size = count * static_cast<DWORD>(sizeof(TRasDevInfoW));
  ASSERT_EQ(api_.EnumDevicesW(wdevs.data(), &size, &count), 0u);
  for (DWORD i = 0; i < count; ++i) EXPECT_EQ(wdevs[i].szDeviceType[0], devs[i].szDeviceType[0]) << i;
}

TEST_F(RasEnumDevicesContract, RnaphExportsThePlainNamesOnTheSameImplementation) {
  RAS_CONTRACT("rnaph");
  HMODULE rnaph = LoadLibraryA("rnaph.dll");
  ASSERT_TRUE(rnaph != 0);
  auto enumDevices =
      reinterpret_cast<TRasEnumDevicesA>(reinterpret_cast<void*>(GetProcAddress(rnaph, "RasEnumDevices")));
  ASSERT_NE(enumDevices, nullptr);
  for (const char* n : {"RasGetEntryProperties", "RasSetEntryProperties", "RasGetCountryInfo"})
    EXPECT_NE(GetProcAddress(rnaph, n), nullptr) << n;
  EXPECT_EQ(GetProcAddress(rnaph, "RasEnumDevicesA"), nullptr);
  DWORD size = 0, count = 0;
  EXPECT_EQ(enumDevices(nullptr, &size, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_ON_TARGET("device count", count, 3u);
  // The same phonebook as rasapi32's.
  WritePhonebook("[Office]\nPhoneNumber=42\n");
  auto getProps = reinterpret_cast<TRasGetEntryPropertiesA>(
      reinterpret_cast<void*>(GetProcAddress(rnaph, "RasGetEntryProperties")));
  TRasEntryA e;
  std::memset(&e, 0, sizeof e);
  e.dwSize = sizeof e;
  size = sizeof e;
  ASSERT_EQ(getProps(nullptr, "Office", &e, &size, nullptr, nullptr), 0u);
  EXPECT_ON_TARGET("phone number of an entry", e.szLocalPhoneNumber, "42");
  FreeLibrary(rnaph);
}

class RasEntryDialogsContract : public RasContract {};

TEST_F(RasEntryDialogsContract, ScriptedAnswersCreateAndEditEntries) {
  RAS_CONTRACT("dialogs");
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("phonebook file");
  WritePhonebook("[Office]\nPhoneNumber=1\n");
  ASSERT_EQ(api_.SetDialogAnswers("EntryName=Branch\nPhoneNumber=555-0400\nDevice=isdn\n"), 0u);
  ASSERT_EQ(api_.CreatePhonebookEntryA(0, ""), 0u);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Office", "Branch"}));
  EXPECT_EQ(api_.CreatePhonebookEntryA(0, ""), ERROR_ALREADY_EXISTS);
  ASSERT_EQ(api_.SetDialogAnswers("PhoneNumber=555-0499\n"), 0u);
  ASSERT_EQ(api_.EditPhonebookEntryA(0, "", "branch"), 0u);
  TRasEntryA e;
  std::memset(&e, 0, sizeof e);
  e.dwSize = sizeof e;
  DWORD size = sizeof e;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Branch", &e, &size, nullptr, nullptr), 0u);
  EXPECT_STREQ(e.szLocalPhoneNumber, "555-0499");
  EXPECT_STREQ(e.szDeviceType, "isdn");
  EXPECT_EQ(api_.EditPhonebookEntryA(0, "", "Nowhere"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  ASSERT_EQ(api_.SetDialogAnswers("Cancel=yes\n"), 0u);
  EXPECT_EQ(api_.CreatePhonebookEntryA(0, ""), ERROR_CANCELLED);
  EXPECT_EQ(api_.SetDialogAnswers("what is this"), 87u);
  QuorRasSimCallInfo info;
  std::memset(&info, 0, sizeof info);
  info.dwSize = sizeof info;
  ASSERT_EQ(api_.LastCall("RasEditPhonebookEntryA", &info), 0u);
  EXPECT_EQ(info.dwPhonebookKind, QUORRASSIM_PHONEBOOK_EMPTY);
  EXPECT_STREQ(info.szName, "Nowhere");
}

TEST_F(RasEntryDialogsContract, WithNobodyToAskTheUserCancels) {
  RAS_CONTRACT("dialogs");
  WritePhonebook("[Office]\n");
  // The fixture names an answers file that does not exist.
  EXPECT_EQ(api_.CreatePhonebookEntryA(0, ""), ERROR_CANCELLED);
  EXPECT_EQ(api_.EditPhonebookEntryA(0, "", "Office"), ERROR_CANCELLED);
  std::string answers = (Dir() / "answers.txt").string();
  WriteText(answers, "; answers\nEntryName=Home\nPhoneNumber=777\n");
  SetEnv("QUOR_RAS_DIALOG", answers);
  EXPECT_EQ(api_.CreatePhonebookEntryA(0, nullptr), 0u);
  std::string listed;
  for (const std::string& name : Entries()) listed += (listed.empty() ? "" : ", ") + name;
  EXPECT_ON_TARGET("entries after a dialog made Home", listed, "Office, Home");
  SetEnv("QUOR_RAS_DIALOG", "none");
  EXPECT_EQ(api_.CreatePhonebookEntryA(0, ""), ERROR_CANCELLED);
  if (RealService()) {
    EXPECT_EQ(api_.DeleteEntryA(nullptr, "Home"), 0u);  // the service's profiles outlive the test
  }
}

// Windows checks a record's dwSize before the buffer size: a record that is
// given but carries a wrong dwSize is refused with 632 whatever size comes
// with it, even none.
class RecordSizeFirstContract : public RasContract {};

TEST_F(RecordSizeFirstContract, AGivenRecordsSizeIsCheckedBeforeTheBufferSize) {
  WritePhonebook("[Office]\nPhoneNumber=1\n");
  const WCHAR office[] = {'O', 'f', 'f', 'i', 'c', 'e', 0};
  DWORD count = 0;
  struct Row {
    const char* name;
    const char* behaviour;  // skipped where the target is known not to have it
    std::function<DWORD(void* record, DWORD* size)> call;
  };
  const Row rows[] = {
      {"RasEnumConnectionsA", "enum-connections",
       [&](void* r, DWORD* s) { return api_.EnumConnectionsA(static_cast<LPRasConnA>(r), s, &count); }},
      {"RasEnumConnectionsW", "enum-connections",
       [&](void* r, DWORD* s) { return api_.EnumConnectionsW(static_cast<LPRasConnW>(r), s, &count); }},
      {"RasEnumEntriesA", "phonebook",
       [&](void* r, DWORD* s) {
         return api_.EnumEntriesA(nullptr, nullptr, static_cast<LPRasEntryNameA>(r), s, &count);
       }},
      {"RasEnumEntriesW", "phonebook",
       [&](void* r, DWORD* s) {
         return api_.EnumEntriesW(nullptr, nullptr, static_cast<LPRasEntryNameW>(r), s, &count);
       }},
      {"RasEnumDevicesA", "",
       [&](void* r, DWORD* s) { return api_.EnumDevicesA(static_cast<LPRasDevInfoA>(r), s, &count); }},
      {"RasEnumDevicesW", "device-size",
       [&](void* r, DWORD* s) { return api_.EnumDevicesW(static_cast<LPRasDevInfoW>(r), s, &count); }},
      {"RasGetEntryPropertiesA", "properties",
       [&](void* r, DWORD* s) { return api_.GetEntryPropertiesA(nullptr, "Office", r, s, nullptr, nullptr); }},
      {"RasGetEntryPropertiesW", "properties",
       [&](void* r, DWORD* s) { return api_.GetEntryPropertiesW(nullptr, office, r, s, nullptr, nullptr); }},
      {"RasGetCountryInfoA", "country",
       [&](void* r, DWORD* s) { return api_.GetCountryInfoA(static_cast<LPRasCtryInfo>(r), s); }},
  };
  for (const Row& row : rows) {
    if (*row.behaviour && KnownDifference(row.behaviour)) continue;
    for (DWORD given : {0u, 2u, 4u}) {
      alignas(8) unsigned char record[4096] = {};  // dwSize 0, every wrong size alike
      DWORD size = given;
      EXPECT_EQ(row.call(record, &size), ERROR_INVALID_SIZE) << row.name << " with a buffer size of " << given;
    }
  }
}

// The record's dwSize is checked before anything that needs the phonebook or
// the service: a wrong dwSize wins over an unreadable phonebook path or entry
// name and over a handle that names no connection.
TEST_F(RecordSizeFirstContract, TheRecordsSizeIsCheckedBeforeTextsAndHandles) {
  WritePhonebook("[Office]\nPhoneNumber=1\n");
  const WCHAR office[] = {'O', 'f', 'f', 'i', 'c', 'e', 0};
  const WCHAR unreadable[] = {0xD800, 'x', 0};  // a lone surrogate: no text
  const THRasConn noConnection = 0x7A5C;
  DWORD count = 0;
  BOOL password = FALSE;
  struct Row {
    const char* faults;
    const char* behaviour;  // skipped where the target is known not to have it
    std::function<DWORD(void* record, DWORD size)> call;
  };
  const Row rows[] = {
      {"RasEnumEntriesW: dwSize, phonebook", "phonebook",
       [&](void* r, DWORD s) {
         return api_.EnumEntriesW(nullptr, unreadable, static_cast<LPRasEntryNameW>(r), &s, &count);
       }},
      {"RasGetEntryDialParamsW: dwSize, phonebook", "params",
       [&](void* r, DWORD) {
         return api_.GetEntryDialParamsW(unreadable, static_cast<LPRasDialParamsW>(r), &password);
       }},
      {"RasSetEntryDialParamsW: dwSize, phonebook", "params",
       [&](void* r, DWORD) { return api_.SetEntryDialParamsW(unreadable, static_cast<LPRasDialParamsW>(r), FALSE); }},
      {"RasGetEntryPropertiesW: dwSize, phonebook", "properties",
       [&](void* r, DWORD s) { return api_.GetEntryPropertiesW(unreadable, office, r, &s, nullptr, nullptr); }},
      {"RasGetEntryPropertiesW: dwSize, entry name", "properties",
       [&](void* r, DWORD s) { return api_.GetEntryPropertiesW(nullptr, unreadable, r, &s, nullptr, nullptr); }},
      {"RasSetEntryPropertiesW: dwSize, phonebook", "properties",
       [&](void* r, DWORD s) { return api_.SetEntryPropertiesW(unreadable, office, r, s, nullptr, 0); }},
      {"RasSetEntryPropertiesW: dwSize, entry name", "properties",
       [&](void* r, DWORD s) { return api_.SetEntryPropertiesW(nullptr, unreadable, r, s, nullptr, 0); }},
      {"RasGetProjectionInfoA: dwSize, handle", "projection",
       [&](void* r, DWORD s) { return api_.GetProjectionInfoA(noConnection, RASP_PppIp, r, &s); }},
  };
  for (const Row& row : rows) {
    if (KnownDifference(row.behaviour)) continue;
    alignas(8) unsigned char record[4096] = {};  // dwSize 0
    EXPECT_EQ(row.call(record, sizeof record), ERROR_INVALID_SIZE) << row.faults;
  }
}

}  // namespace
}  // namespace rassimtest
