// TQuor in forms: its declared defaults left out, everything else kept, and
// values read back through its setters.
#include <gtest/gtest.h>

#include <memory>

#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/Streaming.h"

namespace {

TQuor& Q(TComponent& C) {
  return dynamic_cast<TQuor&>(C);
}

std::unique_ptr<TComponent> Read(const String& Text, const TFormMethods* Methods = nullptr) {
  return std::unique_ptr<TComponent>(TextToComponent(Text, nullptr, Methods));
}

const char kNewQuor[] =
    "object Quor1: TQuor\n"
    "  EntryName = ''\n"
    "  PhoneNumber = ''\n"
    "  CallbackNumber = ''\n"
    "  UserName = ''\n"
    "  Password = ''\n"
    "  Domain = ''\n"
    "  SynchronousDial = False\n"
    "  RedialPause = 10\n"
    "end\n";

TEST(QuorForm, NewComponentWritesOnlyPropertiesWithoutDeclaredDefault) {
  TQuor q(nullptr);
  q.SetName("Quor1");
  EXPECT_EQ(ComponentToText(q), kNewQuor);  // MinimizeDialWindow True and RedialAttempts 1 left out
}

TEST(QuorForm, NonDefaultValuesAreWrittenAndReadBack) {
  TQuor q(nullptr);
  q.SetName("Quor1");
  q.SetMinimizeDialWindow(false);
  q.SetEntryName("Office");
  q.SetPhoneNumber("+44 (0)20 7946 0000");
  q.SetUserName("o'brien");
  q.SetPassword("p\xE4ss'word\x01");
  q.SetDomain("CORP");
  q.SetRedialAttempts(-5);
  q.SetSynchronousDial(true);
  q.SetRedialPause(0);
  const String text = ComponentToText(q);
  EXPECT_EQ(text,
            "object Quor1: TQuor\n"
            "  MinimizeDialWindow = False\n"
            "  EntryName = 'Office'\n"
            "  PhoneNumber = '+44 (0)20 7946 0000'\n"
            "  CallbackNumber = ''\n"
            "  UserName = 'o''brien'\n"
            "  Password = 'p'#228'ss''word'#1\n"
            "  RedialAttempts = -5\n"
            "  Domain = 'CORP'\n"
            "  SynchronousDial = True\n"
            "  RedialPause = 0\n"
            "end\n");
  auto back = Read(text);
  TQuor& r = Q(*back);
  EXPECT_EQ(r.Name(), "Quor1");
  EXPECT_FALSE(r.MinimizeDialWindow());
  EXPECT_EQ(r.EntryName(), "Office");
  EXPECT_EQ(r.UserName(), "o'brien");
  EXPECT_EQ(r.Password(), "p\xE4ss'word\x01");
  EXPECT_EQ(r.RedialAttempts(), -5);
  EXPECT_TRUE(r.SynchronousDial());
  EXPECT_EQ(r.RedialPause(), 0);
  EXPECT_EQ(ComponentToText(r), text);
}

TEST(QuorForm, ReadingGoesThroughTheSetters) {
  auto c = Read("object Quor1: TQuor\n  RedialPause = 200\n  RedialAttempts = 0\nend\n");
  EXPECT_EQ(Q(*c).RedialPause(), 60);
  EXPECT_EQ(Q(*c).RedialAttempts(), 0);
  // What was left out keeps the constructor's defaults.
  EXPECT_TRUE(Q(*c).MinimizeDialWindow());
  EXPECT_EQ(ComponentToText(*Read("object Quor1: TQuor\nend\n")), kNewQuor);
}

TEST(QuorForm, HandlersAreWrittenOnlyWithNames) {
  TQuor q(nullptr);
  q.SetName("Quor1");
  q.SetOnNotify([](Integer, String) {});
  EXPECT_EQ(ComponentToText(q), kNewQuor);  // assigned, but without a name

  TMethodNameMap names;
  TFormMethods methods = names.Methods();
  auto c =
      Read("object Quor1: TQuor\n  EntryName = 'Office'\n  RedialAttempts = 3\n  OnNotify = Form1QuorNotify\nend\n",
           &methods);
  EXPECT_EQ(ComponentToText(*c, &methods),
            "object Quor1: TQuor\n"
            "  EntryName = 'Office'\n"
            "  PhoneNumber = ''\n"
            "  CallbackNumber = ''\n"
            "  UserName = ''\n"
            "  Password = ''\n"
            "  RedialAttempts = 3\n"
            "  Domain = ''\n"
            "  OnNotify = Form1QuorNotify\n"
            "  SynchronousDial = False\n"
            "  RedialPause = 10\n"
            "end\n");
}

TEST(QuorForm, BadValuesForItsPropertiesAreErrors) {
  EXPECT_THROW(Read("object Quor1: TQuor\n  RedialPause = 256\nend\n"), EFormError);
  EXPECT_THROW(Read("object Quor1: TQuor\n  RedialAttempts = True\nend\n"), EFormError);
  EXPECT_THROW(Read("object Quor1: TQuor\n  hRas = 1\nend\n"), EFormError);
  EXPECT_THROW(Read("object Quor1: TQuor\n  EntryName = 'Office\nend\n"), EFormError);
}

}  // namespace
