// The simulated service's own parsers: the phonebook text format and the
// scenario language; and the in-place rewrite of the registry's small files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RasSim/backends/sim/Scenario.h"
#include "RasSim/common/IniFile.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Text.h"
#include "tests/rassim/TestPlatform.h"

namespace rassim {
namespace {

TEST(IniDocument, KeepsEveryLineAndRewritesOnlyWhatChanged) {
  const std::string text = "; head\n\n[A]\nK=1\n# c\nK=2\n\n[B b]\r\nX = y \n";
  IniDocument doc;
  ASSERT_TRUE(doc.Parse(text));
  EXPECT_EQ(doc.Serialize(), text);
  IniSection* a = doc.Find("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetAll("K"), (std::vector<std::string>{"1", "2"}));
  a->Set("K", "3");
  a->Set("New", "v");
  EXPECT_EQ(doc.Serialize(), "; head\n\n[A]\nK=3\n# c\nNew=v\n\n[B b]\r\nX = y \n");
  EXPECT_EQ(doc.Find("B B")->Get("X"), " y ");
}

// Whatever parses is written back byte for byte: line breaks of each line,
// CRs that belong to a value, a byte-order mark, a missing last break; and
// lines added later take the first line's break.
TEST(IniDocument, RewriteOfAnAcceptedTextIsByteExact) {
  const std::vector<std::string> texts = {
      "[A]\r\nK=v\r\r\n",
      "\xEF\xBB\xBF[A]\nK=1\n",
      "[A]\r\nK=1\nL=2\r\n",
      "[A]\nK=1",
      "; c\r\n\r\n[A]\r\nK=\r\n[B]",
      "",
      "\xEF\xBB\xBF",
      "\n\r\n[A]\r",
  };
  // And random texts built from the pieces a phonebook is made of.
  const char* const pieces[] = {"[A]", "[B]", "K=v", "K=", "\r", "\n", "\r\n", " ", "; c", "\xEF\xBB\xBF", "x=\r"};
  std::vector<std::string> all = texts;
  uint32_t seed = 12345;
  for (int i = 0; i < 2000; ++i) {
    std::string t;
    for (int n = static_cast<int>((seed = seed * 1103515245u + 12345u) >> 28); n > 0; --n)
      t += pieces[((seed = seed * 1103515245u + 12345u) >> 16) % std::size(pieces)];
    all.push_back(t);
  }
  int accepted = 0;
  for (const std::string& t : all) {
    IniDocument doc;
    if (!doc.Parse(t)) continue;
    ++accepted;
    EXPECT_EQ(doc.Serialize(), t);
  }
  EXPECT_GT(accepted, 500);
  IniDocument doc;
  ASSERT_TRUE(doc.Parse("[A]\r\nK=1"));
  doc.Find("A")->Set("L", "2");
  doc.Add("B").Set("M", "3");
  EXPECT_EQ(doc.Serialize(), "[A]\r\nK=1\r\nL=2\r\n\r\n[B]\r\nM=3\r\n");
}

TEST(IniDocument, DefinesWhatIsCorrupt) {
  IniDocument doc;
  std::string why;
  EXPECT_FALSE(doc.Parse("K=1\n[A]\n", &why));
  EXPECT_NE(why.find("line 1"), std::string::npos);
  EXPECT_FALSE(doc.Parse("[A\n"));
  EXPECT_FALSE(doc.Parse("[A]\n=v\n"));
  EXPECT_FALSE(doc.Parse(std::string("[A]\0", 4)));
  EXPECT_TRUE(doc.Parse("  ; indented comment\n[A] \n"));
  EXPECT_EQ(doc.Sections().front().name, "A");
}

TEST(Text, FoldsNamesAndNeverOverrunsFields) {
  EXPECT_TRUE(SameName("Büro", "BÜRO"));
  EXPECT_TRUE(SameName("ОФИС", "офис"));
  EXPECT_FALSE(SameName("Office", "Office "));
  char field[5];
  EXPECT_FALSE(WriteField(field, sizeof field, "abcdef"));
  EXPECT_STREQ(field, "abcd");
  EXPECT_FALSE(WriteField(field, sizeof field, "ab\xC3\xBC\xC3\xBC"));  // no half character
  EXPECT_STREQ(field, "ab\xC3\xBC");
  std::string out;
  EXPECT_FALSE(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)), out));
  // Wide fields, and the password's own copies into and out of them: cut before a character that does not fit.
  const struct {
    const char* text;
    std::u16string field;
    bool fits;
  } wide[] = {{"abc", u"abc", true},
              {"abcd", u"abc", false},
              {"ab\xF0\x9F\x98\x80", u"ab", false},
              {"a\xF0\x9F\x98\x80", u"a\U0001F600", true},
              {"\xFF", u"\uFFFD", true}};
  for (const auto& c : wide) {
    WCHAR w[4], s[4];
    EXPECT_EQ(WriteField(w, 4, c.text), c.fits) << c.text;
    EXPECT_EQ(WriteSecretField(s, 4, SecretString(std::string_view(c.text))), c.fits) << c.text;
    EXPECT_EQ(reinterpret_cast<const char16_t*>(w), c.field) << c.text;
    EXPECT_EQ(reinterpret_cast<const char16_t*>(s), c.field) << c.text;
    SecretString back;
    ASSERT_TRUE(ReadField(s, 4, back));
    std::string plain;
    ASSERT_TRUE(ReadField(w, 4, plain));
    EXPECT_EQ(back.View(), plain);
  }
}

TEST(Scenario, ParsesDurationsStatesAndOutcomes) {
  uint64_t ms;
  ASSERT_TRUE(ParseDuration("250", 1, ms));
  EXPECT_EQ(ms, 250u);
  ASSERT_TRUE(ParseDuration("1.5s", 1, ms));
  EXPECT_EQ(ms, 1500u);
  ASSERT_TRUE(ParseDuration("30", 1000, ms));
  EXPECT_EQ(ms, 30000u);
  ASSERT_TRUE(ParseDuration("2m", 1, ms));
  EXPECT_EQ(ms, 120000u);
  EXPECT_FALSE(ParseDuration("soon", 1, ms));
  TRasConnState s;
  ASSERT_TRUE(ParseState("RASCS_Authenticate", s));
  EXPECT_EQ(s, RASCS_Authenticate);
  DWORD e;
  ASSERT_TRUE(ParseOutcome("nodialtone", e, s));
  EXPECT_EQ(e, 680u);
  EXPECT_FALSE(ParseOutcome("explode", e, s));
}

TEST(Scenario, PlansFailuresAndTheAttemptsThatConnect) {
  Settings set = {{"Outcome", "authfail"}, {"FailFirst", "1"}, {"StepDelay", "10"}};
  DialPlan first = BuildPlan(set, "modem", 1, "", "", nullptr);
  ASSERT_FALSE(first.connects);
  ASSERT_GE(first.steps.size(), 2u);
  EXPECT_EQ(first.steps.back().error, 691u);
  EXPECT_EQ(first.steps[first.steps.size() - 2].state, RASCS_Authenticate);
  EXPECT_EQ(first.steps[first.steps.size() - 2].error, 0u);
  DialPlan second = BuildPlan(set, "modem", 2, "", "", nullptr);
  EXPECT_TRUE(second.connects);
  EXPECT_EQ(second.steps.back().state, RASCS_Connected);
  QueuedFailure q{RASCS_OpenPort, 633};
  DialPlan forced = BuildPlan(set, "modem", 2, "", "", &q);
  EXPECT_EQ(forced.steps.back().error, 633u);
  Settings dialError = {{"DialError", "608"}};
  EXPECT_EQ(BuildPlan(dialError, "vpn", 1, "", "", nullptr).failAtOnce, 608u);
}

// The line's keys: what each accepts, and a line's record text read back whole.
TEST(Scenario, ChecksTheLineKeysAndKeepsTheLineInItsRecord) {
  const struct {
    const char* key;
    const char* value;
    bool ok;
  } rows[] = {{"SendRate", "12000", true},      {"SendRate", "fast", false},    {"Burst", "4000000@10s", true},
              {"Burst", "4000000", false},      {"Burst", "x@1s", false},       {"LineErrors", "-1", false},
              {"Speed", "4294967296", false},   {"DropReason", "remote", true}, {"DropReason", "628", true},
              {"DropReason", "sunspots", false}};
  for (const auto& r : rows) EXPECT_EQ(CheckSetting(r.key, r.value).empty(), r.ok) << r.key << "=" << r.value;
  LinePlan line = ReadLine({{"SendRate", "5"}, {"Burst", "9@2"}, {"DropReason", "hardware"}}, "isdn");
  EXPECT_EQ(line.bps, 64000u);
  EXPECT_EQ(line.burstAfterMs, 2000u);
  EXPECT_EQ(line.lossReason, 630u);
  const std::string early = LineText(line, 0), late = LineText(line, 123456789);
  EXPECT_EQ(early.size(), late.size()) << "the record keeps its length as the call connects";
  LinePlan back;
  uint64_t at = 0;
  ASSERT_TRUE(ParseLineText(late, back, at));
  EXPECT_EQ(at, 123456789u);
  EXPECT_EQ(LineText(back, at), late);
}

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::string text;
  platform::ReadFile(p.string(), text);
  return text;
}

void Put(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
  fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
}

// Whatever is at the name, the file ends holding exactly the new text, no
// temporary file stays, and nothing is written through a link.
TEST(PrivateDirOverwrite, EndsWithTheNewTextAndNeverWritesThroughALink) {
  enum Link { kNone, kHard, kSymbolic };
  struct Case {
    const char* what;
    const char* before;  // null: no file
    Link link;           // the name is a link to a file "other" holding `before`
    std::string text;
  };
  const Case cases[] = {
      {"a file of the same length", "old-text\n", kNone, "new-text\n"},
      {"a shorter file", "7\n", kNone, "1234567\n"},
      {"a longer file", "1234567\n", kNone, "8\n"},
      {"no file", nullptr, kNone, "first\n"},
      {"more than a sector", "x", kNone, std::string(600, 'n')},
      {"a second hard link", "linked!\n", kHard, "written\n"},
      {"a symbolic link", "linked!\n", kSymbolic, "written\n"},
  };
  const fs::path root = fs::temp_directory_path() / ("quor-overwrite-" + std::to_string(platform::CurrentProcessId()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root);
    platform::PrivateDir dir;
    std::string why;
    ASSERT_TRUE(dir.Open(root.string(), why)) << why;
    if (c.before != nullptr) Put(root / (c.link == kNone ? "f" : "other"), c.before);
    std::error_code e;
    if (c.link == kHard) fs::create_hard_link(root / "other", root / "f", e);
    if (c.link == kSymbolic) fs::create_symlink(root / "other", root / "f", e);
    if (e) continue;  // this system cannot make such a link
    ASSERT_TRUE(dir.Overwrite("f", c.text));
    EXPECT_EQ(Slurp(root / "f"), c.text);
    if (c.link != kNone) {
      EXPECT_EQ(Slurp(root / "other"), c.before);
    }
    for (const auto& entry : fs::directory_iterator(root))
      EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
  }
  fs::remove_all(root);
}

// A phonebook's stamp is trusted only once no change within the file
// system's tick could keep it: a whole-second change time may be a tick of
// one second (ext4 with small inodes) or two (FAT).
TEST(FileStamp, IsSettledOnlyOnceTheTickItsTimesShowHasPassed) {
  constexpr uint64_t kMs = 1000000ull;
  constexpr uint64_t kFine = 1700000000123456789ull, kWhole = 1700000000000000000ull;
  struct Case {
    const char* what;
    uint64_t modified, changed, age;  // age: now less the change time
    bool settled;
  };
  const Case cases[] = {
      {"a fine change time 60 ms ago", kFine, kFine, 60 * kMs, true},
      {"a fine change time 10 ms ago", kFine, kFine, 10 * kMs, false},
      {"a whole second 500 ms ago", kWhole, kWhole, 500 * kMs, false},
      {"a whole second 1.5 s ago (a FAT tick)", kWhole, kWhole, 1500 * kMs, false},
      {"a whole second 2.1 s ago", kWhole, kWhole, 2100 * kMs, true},
      {"a whole-second time set by a program, a fine change time", kWhole, kFine, 60 * kMs, true},
      {"a modification time dated ahead", kFine + 60000 * kMs, kFine, 60 * kMs, false},
  };
  for (const Case& c : cases) {
    platform::FileStamp stamp;
    stamp.modified = c.modified;
    stamp.changed = c.changed;
    EXPECT_EQ(platform::StampSettled(stamp, c.changed + c.age), c.settled) << c.what;
  }
}

// Without HOME the per-user folders come from the password database, never
// from a folder every user shares; a folder is the user's own only when it is
// no link, belongs to the user and no one else may write to it.
TEST(DefaultFolders, AreTheUsersOwnNeverASharedOne) {
  const std::string home = platform::GetEnv("HOME"), config = platform::GetEnv("XDG_CONFIG_HOME");
  rassimtest::UnsetEnv("HOME");
  rassimtest::UnsetEnv("XDG_CONFIG_HOME");
  const std::string dir = platform::DefaultConfigDir();
  if (!home.empty()) rassimtest::SetEnv("HOME", home);
  if (!config.empty()) rassimtest::SetEnv("XDG_CONFIG_HOME", config);
  EXPECT_TRUE(fs::path(dir).is_absolute()) << dir;
  EXPECT_NE(dir.rfind(fs::temp_directory_path().string(), 0), 0u) << dir;
  if (!rassimtest::PosixFiles()) return;
  const fs::path root = fs::temp_directory_path() / ("quor-own-" + std::to_string(platform::CurrentProcessId()));
  fs::remove_all(root);
  fs::create_directories(root / "own");
  fs::permissions(root / "own", fs::perms::owner_all);
  fs::create_directory(root / "open");
  fs::permissions(root / "open", fs::perms::all);
  fs::create_directory_symlink(root / "own", root / "link");
  Put(root / "file", "x");
  const std::pair<const char*, const char*> cases[] = {{"own", ""},
                                                       {"absent", ""},
                                                       {"open", "other users may write to it"},
                                                       {"link", "is a symbolic link"},
                                                       {"file", "is not a folder"}};
  for (const auto& [name, refusal] : cases) {
    std::string why;
    EXPECT_EQ(platform::OwnFolder((root / name).string(), why), *refusal == 0) << name;
    EXPECT_NE(why.find(refusal), std::string::npos) << name << ": " << why;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace rassim
