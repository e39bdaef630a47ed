// Our library's stored dial parameters beside the phonebook: they follow a
// renamed or deleted entry or nothing changes, a credential file that cannot
// be read or written is reported (file, reason, RAS number) and left alone,
// fields longer than a record holds survive an edit, read-only files are left
// alone. Our library's own guarantees: skipped for other targets.
#include <cstring>
#include <functional>

#include "tests/rassim/ContractFixture.h"

namespace fs = std::filesystem;

namespace rassimtest {
namespace {

class StoredParams : public RasContract {
 protected:
  void SetUp() override {
    RasContract::SetUp();
    RAS_SIMULATION_ONLY("files");
    if (!api_.Reset) GTEST_SKIP() << "guarantees of our library";
    lastProblem_ = reinterpret_cast<TQuorRasSimLastProblem>(
        reinterpret_cast<void*>(GetProcAddress(lib_, "QuorRasSimLastProblem")));
    Phonebook({{"Office", "DEVICE=modem"}, {"Home", "DEVICE=modem"}});
  }
  DWORD Store(const char* entry, const char* user, const char* password) {
    TRasDialParamsA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, entry);
    std::strcpy(p.szUserName, user);
    std::strcpy(p.szPassword, password);
    return api_.SetEntryDialParamsA(nullptr, &p, FALSE);
  }
  // "user|password|returned", or "error N".
  std::string Fetch(const char* entry) {
    TRasDialParamsA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, entry);
    BOOL pw = FALSE;
    if (DWORD e = api_.GetEntryDialParamsA(nullptr, &p, &pw)) return "error " + std::to_string(e);
    return std::string(p.szUserName) + "|" + p.szPassword + "|" + std::to_string(pw);
  }
  std::string Problem() {
    char text[1024] = {0};
    if (!lastProblem_ || lastProblem_(text, sizeof text) != 0) return "";
    return text;
  }
  DWORD Create(const char* entry) {
    TRasEntryA e{};
    e.dwSize = sizeof e;
    std::strcpy(e.szDeviceType, "modem");
    return api_.SetEntryPropertiesA(nullptr, entry, &e, sizeof e, nullptr, 0);
  }

  TQuorRasSimLastProblem lastProblem_ = nullptr;
};

// A rename or delete changes the phonebook and the stored parameters together:
// when the credential file cannot be written, neither changes and the call
// says so; when it can, nothing of the old name stays behind, so an entry
// created later under that name starts with nothing stored.
TEST_F(StoredParams, RenameAndDeleteChangeBothFilesOrNeither) {
  struct Case {
    const char* what;
    bool rename;
    std::function<void(const std::string&)> block;  // makes the credential file unwritable; null: writable
  };
  const auto lockIsAFolder = [](const std::string& creds) {
    fs::remove(creds + ".lock");
    fs::create_directory(creds + ".lock");
  };
  const auto readOnlyFile = [](const std::string& creds) { fs::permissions(creds, fs::perms::owner_read); };
  const Case cases[] = {
      {"rename", true, nullptr},
      {"delete", false, nullptr},
      {"rename, the credential file's lock cannot be taken", true, lockIsAFolder},
      {"delete, the credential file's lock cannot be taken", false, lockIsAFolder},
      {"rename, the credential file is read-only", true, readOnlyFile},
      {"delete, the credential file is read-only", false, readOnlyFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(CredentialsPath() + ".lock");
    fs::remove(CredentialsPath());
    Phonebook({{"Office", "DEVICE=modem"}, {"Home", "DEVICE=modem"}});
    ASSERT_EQ(Store("Office", "alice", "s3cret"), 0u);
    ASSERT_EQ(Store("Home", "bob", "h0me"), 0u);
    const std::string book = ReadText(PhonebookPath());
    if (c.block) c.block(CredentialsPath());
    const std::string creds = ReadText(CredentialsPath());
    const DWORD result = c.rename ? api_.RenameEntryA("", "Office", "Work") : api_.DeleteEntryA("", "Office");
    if (c.block) {
      EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANNOT_WRITE_PHONEBOOK));
      EXPECT_NE(Problem().find(CredentialsPath()), std::string::npos) << Problem();
      EXPECT_EQ(ReadText(PhonebookPath()), book) << "the phonebook is unchanged";
      EXPECT_EQ(ReadText(CredentialsPath()), creds) << "the credentials are unchanged";
      EXPECT_EQ(Fetch("Office"), "alice|s3cret|1");
      fs::remove_all(CredentialsPath() + ".lock");
      fs::permissions(CredentialsPath(), fs::perms::owner_read | fs::perms::owner_write);
      continue;
    }
    ASSERT_EQ(result, 0u);
    if (c.rename) {
      EXPECT_EQ(Fetch("Work"), "alice|s3cret|1");
    }
    EXPECT_EQ(ReadText(CredentialsPath()).find("[Office]"), std::string::npos) << ReadText(CredentialsPath());
    EXPECT_EQ(Fetch("Home"), "bob|h0me|1") << "other entries keep theirs";
    ASSERT_EQ(Create("Office"), 0u);
    EXPECT_EQ(Fetch("Office"), "||0") << "a new entry of the old name starts with nothing stored";
  }
}

// What a rename or delete killed between its writes leaves: the credential
// sections it touched are marked, and the phonebook tells which of them
// stand. A reader gets the right entry's parameters, and the next store
// completes the work: nothing of the name that is gone stays in the file.
TEST_F(StoredParams, AKilledRenameOrDeleteIsCompletedByTheNextCommand) {
  const std::string key = fs::absolute(PhonebookPath()).string();
  const auto section = [&](const char* name, const char* user) {
    return std::string("[") + name + "]\nPhonebook=" + key + "\nUserName=" + user + "\nPassword=7077\nPending=1\n";
  };
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> book;
    std::string creds;
    const char* reads;     // the entry whose parameters are read
    const char* expected;  // what it reads
    const char* gone;      // the name that must leave the file
  };
  const Case cases[] = {
      {"a rename killed before the phonebook was written",
       {{"Office", "DEVICE=modem"}, {"Home", "DEVICE=modem"}},
       section("Office", "alice") + section("Work", "alice"),
       "Office",
       "alice|pw|1",
       "[Work]"},
      {"a rename killed after the phonebook was written",
       {{"Work", "DEVICE=modem"}, {"Home", "DEVICE=modem"}},
       section("Office", "alice") + section("Work", "alice"),
       "Work",
       "alice|pw|1",
       "[Office]"},
      {"a delete killed after the phonebook was written",
       {{"Home", "DEVICE=modem"}},
       section("Office", "alice"),
       "Home",
       "||0",
       "[Office]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Phonebook(c.book);
    WriteText(CredentialsPath(), c.creds);
    fs::permissions(CredentialsPath(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Fetch(c.reads), c.expected);
    ASSERT_EQ(Store("Home", "bob", "h0me"), 0u);
    const std::string after = ReadText(CredentialsPath());
    EXPECT_EQ(after.find(c.gone), std::string::npos) << after;
    EXPECT_EQ(after.find("Pending"), std::string::npos) << after;
    EXPECT_EQ(Fetch(c.reads), std::string(c.reads) == "Home" ? "bob|h0me|1" : c.expected);
  }
}

// A credential file that is corrupt or cannot be read is reported with the
// file and the reason, every call that needs it fails, and nothing changes.
TEST_F(StoredParams, ACredentialFileThatCannotBeReadIsReportedAndLeftAlone) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> spoil;
    DWORD error;
    const char* reason;
  };
  const Case cases[] = {
      {"a NUL byte appended",
       [](const std::string& p) {
         std::FILE* f = std::fopen(p.c_str(), "ab");
         std::fputc(0, f);
         std::fclose(f);
       },
       ERROR_CORRUPT_PHONEBOOK, "line 8: NUL byte"},
      {"a line outside any section", [](const std::string& p) { WriteText(p, "garbage\n" + ReadText(p)); },
       ERROR_CORRUPT_PHONEBOOK, "line 1: line outside any section"},
      {"a folder in its place",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       ERROR_CANNOT_LOAD_PHONEBOOK, "cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(CredentialsPath());
    Phonebook({{"Office", "DEVICE=modem"}, {"Home", "DEVICE=modem"}});
    ASSERT_EQ(Store("Office", "alice", "s3cret"), 0u);
    c.spoil(CredentialsPath());
    const std::string book = ReadText(PhonebookPath());
    const bool isFile = fs::is_regular_file(CredentialsPath());
    const std::string creds = isFile ? ReadText(CredentialsPath()) : "";
    const std::vector<std::pair<const char*, std::function<DWORD()>>> calls = {
        {"get",
         [&] {
           TRasDialParamsA p{};
           p.dwSize = sizeof p;
           std::strcpy(p.szEntryName, "Office");
           BOOL pw = FALSE;
           return api_.GetEntryDialParamsA(nullptr, &p, &pw);
         }},
        {"set", [&] { return Store("Office", "mallory", "x"); }},
        {"rename", [&] { return api_.RenameEntryA("", "Office", "Work"); }},
        {"delete", [&] { return api_.DeleteEntryA("", "Home"); }},
    };
    for (const auto& [name, call] : calls) {
      SCOPED_TRACE(name);
      EXPECT_EQ(call(), c.error);
      const std::string problem = Problem();
      EXPECT_NE(problem.find("the credential file " + CredentialsPath()), std::string::npos) << problem;
      EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    }
    EXPECT_EQ(ReadText(PhonebookPath()), book);
    if (isFile) {
      EXPECT_EQ(ReadText(CredentialsPath()), creds);
    }
  }
  // A password in a file others may read is withheld, and the reason is told.
  if (!PosixFiles()) return;  // the profile's ACL keeps others out
  fs::remove_all(CredentialsPath());
  ASSERT_EQ(Store("Office", "alice", "s3cret"), 0u);
  fs::permissions(CredentialsPath(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(Fetch("Office"), "alice||0");
  EXPECT_NE(Problem().find("other users may read"), std::string::npos) << Problem();
}

// Values are kept on their line whatever the phonebook's path holds: a path
// with a line break neither breaks the shared credential file nor mixes
// the parameters of two phonebooks.
TEST_F(StoredParams, APhonebookPathWithALineBreakKeepsTheFileReadable) {
  if (!PosixFiles()) GTEST_SKIP() << "file names with line breaks are POSIX";
  const std::string odd = (Dir() / "two\nlines.pbk").string();
  WriteText(odd, "[Office]\nDEVICE=modem\n");
  SetEnv("QUOR_RAS_PHONEBOOK", odd);
  ASSERT_EQ(Store("Office", "odd", "0dd"), 0u);
  SetEnv("QUOR_RAS_PHONEBOOK", PhonebookPath());
  ASSERT_EQ(Store("Office", "alice", "s3cret"), 0u);
  EXPECT_EQ(Fetch("Office"), "alice|s3cret|1");
  SetEnv("QUOR_RAS_PHONEBOOK", odd);
  EXPECT_EQ(Fetch("Office"), "odd|0dd|1");
}

// An edit through the entry record changes what the record changes: a value
// in the file longer than its field holds comes out cut, and is kept as it is
// in the file when the record gives back that cut form.
TEST_F(StoredParams, AnEditKeepsValuesLongerThanTheRecordHolds) {
  const std::string phone(200, '5'), script = "/scripts/" + std::string(300, 's');
  WritePhonebook("[Office]\nDEVICE=modem\nPhoneNumber=" + phone + "\nScript=" + script + "\n");
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "W" : "A");
    if (wide) {
      TRasEntryW e{};
      e.dwSize = sizeof e;
      DWORD size = sizeof e;
      const WCHAR office[] = {'O', 'f', 'f', 'i', 'c', 'e', 0};
      ASSERT_EQ(api_.GetEntryPropertiesW(nullptr, office, &e, &size, nullptr, nullptr), 0u);
      e.szAreaCode[0] = '7';
      e.szAreaCode[1] = 0;
      auto set = reinterpret_cast<TRasSetEntryPropertiesW>(
          reinterpret_cast<void*>(GetProcAddress(lib_, "RasSetEntryPropertiesW")));
      ASSERT_EQ(set(nullptr, office, &e, sizeof e, nullptr, 0), 0u);
    } else {
      TRasEntryA e{};
      e.dwSize = sizeof e;
      DWORD size = sizeof e;
      ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &e, &size, nullptr, nullptr), 0u);
      std::strcpy(e.szAreaCode, "8");
      ASSERT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &e, sizeof e, nullptr, 0), 0u);
    }
    const std::string text = ReadText(PhonebookPath());
    EXPECT_NE(text.find("\nPhoneNumber=" + phone + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nScript=" + script + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(wide ? "AreaCode=7" : "AreaCode=8"), std::string::npos) << text;
  }
  // A value given in the record replaces the long one.
  TRasEntryA e{};
  e.dwSize = sizeof e;
  DWORD size = sizeof e;
  ASSERT_EQ(api_.GetEntryPropertiesA(nullptr, "Office", &e, &size, nullptr, nullptr), 0u);
  std::strcpy(e.szLocalPhoneNumber, "555");
  ASSERT_EQ(api_.SetEntryPropertiesA(nullptr, "Office", &e, sizeof e, nullptr, 0), 0u);
  EXPECT_NE(ReadText(PhonebookPath()).find("\nPhoneNumber=555\n"), std::string::npos);
}

// A file its owner may not write (chmod a-w, as Windows' read-only mark) is
// not replaced: the write fails and the file stays as it was, mode included.
TEST_F(StoredParams, AReadOnlyFileIsLeftAlone) {
  if (!PosixFiles()) GTEST_SKIP() << "Windows' read-only mark: FileSafety's test";
  ASSERT_EQ(Store("Office", "alice", "s3cret"), 0u);
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(PhonebookPath(), readOnly);
  const std::string book = ReadText(PhonebookPath());
  EXPECT_EQ(api_.RenameEntryA("", "Office", "Work"), static_cast<DWORD>(ERROR_CANNOT_WRITE_PHONEBOOK));
  EXPECT_NE(Problem().find("read-only"), std::string::npos) << Problem();
  EXPECT_EQ(ReadText(PhonebookPath()), book);
  EXPECT_EQ(fs::status(PhonebookPath()).permissions() & fs::perms::all, readOnly);
  EXPECT_EQ(Fetch("Office"), "alice|s3cret|1");
  fs::permissions(PhonebookPath(), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(CredentialsPath(), fs::perms::owner_read);
  const std::string creds = ReadText(CredentialsPath());
  EXPECT_EQ(Store("Office", "bob", "x"), static_cast<DWORD>(ERROR_CANNOT_WRITE_PHONEBOOK));
  EXPECT_EQ(ReadText(CredentialsPath()), creds);
  fs::permissions(CredentialsPath(), fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace rassimtest
