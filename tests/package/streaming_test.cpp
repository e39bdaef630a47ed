// Form streaming: writing, reading, malformed forms and form files, on test
// classes that exercise every property kind and an inherited property chain.
#include "Vcl/Streaming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

int gLive = 0;  // components of the test classes alive

class TBase : public TComponent {
 public:
  explicit TBase(TComponent* AOwner) : TComponent(AOwner) { ++gLive; }
  ~TBase() override { --gLive; }
  String Caption;
  int32_t Tag = 0;
  bool Enabled = true;
  TComponentClass ClassInfo() const override;
  static const TClassInfo& Info();
};

class TWidget : public TBase {
 public:
  explicit TWidget(TComponent* AOwner) : TBase(AOwner) { Tag = 7; }
  int32_t Count = 0;
  uint8_t Level = 5;
  bool Flag = false;
  String OnChangeName;
  TComponentClass ClassInfo() const override;
  static const TClassInfo& Info();
};

TPropValue Ord(TTypeKind K, int64_t V) {
  TPropValue v;
  v.Kind = K;
  v.Ord = V;
  return v;
}
TPropValue Str(TTypeKind K, const String& S) {
  TPropValue v;
  v.Kind = K;
  v.Str = S;
  return v;
}
TBase& B(TComponent& C) {
  return static_cast<TBase&>(C);
}
const TBase& B(const TComponent& C) {
  return static_cast<const TBase&>(C);
}
TWidget& W(TComponent& C) {
  return static_cast<TWidget&>(C);
}
const TWidget& W(const TComponent& C) {
  return static_cast<const TWidget&>(C);
}

const TClassInfo& TBase::Info() {
  static const TClassInfo info{
      "TBase",
      &TComponent::StaticClassInfo(),
      {
          {"Caption", TTypeKind::String, [](const TComponent& C) { return Str(TTypeKind::String, B(C).Caption); },
           [](TComponent& C, const TPropValue& V) { B(C).Caption = V.Str; }, std::nullopt},
          {"Tag", TTypeKind::Integer, [](const TComponent& C) { return Ord(TTypeKind::Integer, B(C).Tag); },
           [](TComponent& C, const TPropValue& V) { B(C).Tag = static_cast<int32_t>(V.Ord); }, int64_t{0}},
          {"Enabled", TTypeKind::Boolean, [](const TComponent& C) { return Ord(TTypeKind::Boolean, B(C).Enabled); },
           [](TComponent& C, const TPropValue& V) { B(C).Enabled = V.Ord != 0; }, int64_t{1}},
      },
      [](TComponent* O) -> TComponent* { return new TBase(O); }};
  return info;
}
TComponentClass TBase::ClassInfo() const {
  return &Info();
}

const TClassInfo& TWidget::Info() {
  static const TClassInfo info{
      "TWidget",
      &TBase::Info(),
      {
          // Redeclared with another default: keeps its place, takes the new default.
          {"Tag", TTypeKind::Integer, [](const TComponent& C) { return Ord(TTypeKind::Integer, B(C).Tag); },
           [](TComponent& C, const TPropValue& V) { B(C).Tag = static_cast<int32_t>(V.Ord); }, int64_t{7}},
          {"Count", TTypeKind::Integer, [](const TComponent& C) { return Ord(TTypeKind::Integer, W(C).Count); },
           [](TComponent& C, const TPropValue& V) {
             if (V.Ord == 13) throw Exception("13 is not allowed");
             W(C).Count = static_cast<int32_t>(V.Ord);
           },
           std::nullopt},
          // The setter holds the level at 60 at most.
          {"Level", TTypeKind::Byte, [](const TComponent& C) { return Ord(TTypeKind::Byte, W(C).Level); },
           [](TComponent& C, const TPropValue& V) { W(C).Level = static_cast<uint8_t>(V.Ord > 60 ? 60 : V.Ord); },
           int64_t{5}},
          {"Flag", TTypeKind::Boolean, [](const TComponent& C) { return Ord(TTypeKind::Boolean, W(C).Flag); },
           [](TComponent& C, const TPropValue& V) { W(C).Flag = V.Ord != 0; }, std::nullopt},
          {"OnChange", TTypeKind::Method, [](const TComponent& C) { return Str(TTypeKind::Method, W(C).OnChangeName); },
           [](TComponent& C, const TPropValue& V) { W(C).OnChangeName = V.Str; }, std::nullopt},
          {"ReadOnly", TTypeKind::Integer, [](const TComponent&) { return Ord(TTypeKind::Integer, 1); }, nullptr,
           int64_t{1}},
      },
      [](TComponent* O) -> TComponent* { return new TWidget(O); }};
  return info;
}
TComponentClass TWidget::ClassInfo() const {
  return &Info();
}

class Streaming : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterClass(&TBase::Info());
    RegisterClass(&TWidget::Info());
  }
};

const char kDefaultWidget[] =
    "object W1: TWidget\n"
    "  Caption = ''\n"
    "  Count = 0\n"
    "  Flag = False\n"
    "end\n";

TEST_F(Streaming, PropertiesInheritedFirstDefaultsLeftOutOthersAlwaysWritten) {
  TWidget w(nullptr);
  w.SetName("W1");
  EXPECT_EQ(ComponentToText(w), kDefaultWidget);

  std::vector<String> names;
  for (const TPropInfo* p : PublishedProperties(&TWidget::Info())) names.push_back(p->Name);
  EXPECT_EQ(names,
            (std::vector<String>{"Caption", "Tag", "Enabled", "Count", "Level", "Flag", "OnChange", "ReadOnly"}));
  EXPECT_EQ(FindPublishedProperty(&TWidget::Info(), "tag")->Default, 7);

  w.Caption = "Hi";
  w.Tag = 0;  // the base's default, not the widget's
  w.Enabled = false;
  w.Count = -5;
  w.Level = 6;
  w.Flag = true;
  w.OnChangeName = "Form1WidgetChange";
  EXPECT_EQ(ComponentToText(w),
            "object W1: TWidget\n"
            "  Caption = 'Hi'\n"
            "  Tag = 0\n"
            "  Enabled = False\n"
            "  Count = -5\n"
            "  Level = 6\n"
            "  Flag = True\n"
            "  OnChange = Form1WidgetChange\n"
            "end\n");
}

TEST_F(Streaming, StringsAreQuotedWithCharacterCodesForOtherBytes) {
  EXPECT_EQ(QuoteFormString(""), "''");
  EXPECT_EQ(QuoteFormString("it's"), "'it''s'");
  EXPECT_EQ(QuoteFormString("abc\xE9"
                            "def"),
            "'abc'#233'def'");
  EXPECT_EQ(QuoteFormString("\tX\r\n"), "#9'X'#13#10");
  EXPECT_EQ(QuoteFormString(String("\0\xFF", 2)), "#0#255");

  const String nasty = String("O'Neil \"q\" \x01\x7F\x80\xFF ''") + String(1, '\0') + "end";
  TWidget w(nullptr);
  w.SetName("W1");
  w.Caption = nasty;
  std::unique_ptr<TComponent> back(TextToComponent(ComponentToText(w)));
  EXPECT_EQ(B(*back).Caption, nasty);
}

TEST_F(Streaming, NamedOwnedComponentsNestUnnamedOnesAreInternal) {
  TBase root(nullptr);
  root.SetName("Form1");
  auto* child = new TWidget(&root);
  child->SetName("W1");
  new TWidget(&root);  // an internal part: no name
  const String text = ComponentToText(root);
  EXPECT_EQ(text,
            "object Form1: TBase\n  Caption = ''\n  object W1: TWidget\n    Caption = ''\n    Count = 0\n"
            "    Flag = False\n  end\nend\n");

  const int live = gLive;
  std::unique_ptr<TComponent> back(TextToComponent(text));
  ASSERT_EQ(back->ComponentCount(), 1);
  EXPECT_EQ(back->Components(0)->Name(), "W1");
  EXPECT_EQ(back->Components(0)->ClassName(), "TWidget");
  EXPECT_EQ(gLive, live + 2);
  EXPECT_EQ(ComponentToText(*back), text);
}

TEST_F(Streaming, WritingRejectsWhatCouldNotBeReadBack) {
  TWidget w(nullptr);
  w.SetName("not a name");
  EXPECT_THROW(ComponentToText(w), Exception);
  w.SetName("W1");
  w.OnChangeName = "(assigned)";  // a marker, not a handler name: left out
  EXPECT_EQ(ComponentToText(w), kDefaultWidget);
  w.SetName("");
  EXPECT_EQ(ComponentToText(w).substr(0, 15), "object TWidget\n");
}

TEST_F(Streaming, ReadingSetsEveryPropertyThroughItsSetter) {
  TComponent owner(nullptr);
  std::unique_ptr<TComponent> c(
      TextToComponent("object W2: TWidget\r\n"
                      "  caption = 'long ' +\r\n"
                      "    'text'#33\r\n"
                      "  TAG = -2147483648\r\n"
                      "  Enabled = false\r\n"
                      "  Count = +2147483647\r\n"
                      "  Level = 255\r\n"
                      "  Flag = TRUE\r\n"
                      "  OnChange = Form1Change\r\n"
                      "END\r\n",
                      &owner));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Owner(), &owner);
  EXPECT_EQ(c->Name(), "W2");
  const TWidget& w = W(*c);
  EXPECT_EQ(w.Caption, "long text!");
  EXPECT_EQ(w.Tag, INT32_MIN);
  EXPECT_FALSE(w.Enabled);
  EXPECT_EQ(w.Count, INT32_MAX);
  EXPECT_EQ(w.Level, 60);  // through the setter
  EXPECT_TRUE(w.Flag);
  EXPECT_EQ(w.OnChangeName, "Form1Change");
}

TEST_F(Streaming, RoundTripKeepsNonDefaults) {
  TWidget w(nullptr);
  w.SetName("W1");
  w.Caption = "x";
  w.Tag = 1;
  w.Count = -1;
  w.Level = 0;
  const String text = ComponentToText(w);
  std::unique_ptr<TComponent> back(TextToComponent(text));
  EXPECT_EQ(ComponentToText(*back), text);
  EXPECT_EQ(W(*back).Level, 0);
  EXPECT_EQ(W(*back).Tag, 1);
}

struct BadForm {
  const char* Text;
  int Line;
  const char* Says;
};

class MalformedForm : public Streaming, public ::testing::WithParamInterface<BadForm> {};

TEST_P(MalformedForm, NamesItsLineAndCreatesNothing) {
  const BadForm& bad = GetParam();
  TComponent owner(nullptr);
  auto* existing = new TWidget(&owner);
  existing->SetName("Existing");
  const int live = gLive;
  try {
    std::unique_ptr<TComponent> c(TextToComponent(bad.Text, &owner));
    FAIL() << "accepted:\n" << bad.Text;
  } catch (const EFormError& e) {
    EXPECT_EQ(e.Line(), bad.Line) << e.what();
    const String msg = e.what();
    EXPECT_EQ(msg.rfind("line " + std::to_string(bad.Line) + ": ", 0), 0u) << msg;
    EXPECT_NE(msg.find(bad.Says), String::npos) << msg;
  }
  EXPECT_EQ(gLive, live);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MalformedForm,
    ::testing::Values(
        BadForm{"", 1, "empty"}, BadForm{"\n\n  \n", 1, "empty"},
        BadForm{"object W1: TNoSuchClass\nend\n", 1, "unknown class TNoSuchClass"},
        BadForm{"objekt W1: TWidget\nend\n", 1, "expected 'object'"},
        BadForm{"object W1: TWidget\n  Count = 1\n  Colour = 3\nend\n", 3, "no property Colour"},
        BadForm{"object W1: TWidget\n  Count = 'three'\nend\n", 2, "Count expects"},
        BadForm{"object W1: TWidget\n  Caption = 3\nend\n", 2, "Caption expects"},
        BadForm{"object W1: TWidget\n  Flag = 1\nend\n", 2, "Flag expects True or False"},
        BadForm{"object W1: TWidget\n  Flag = Maybe\nend\n", 2, "Flag expects True or False"},
        BadForm{"object W1: TWidget\n  OnChange = 'x'\nend\n", 2, "OnChange expects a handler name"},
        BadForm{"object W1: TWidget\n  Caption = 'abc\nend\n", 2, "unterminated string"},
        BadForm{"object W1: TWidget\n  Caption = 'a'#256\nend\n", 2, "out of range"},
        BadForm{"object W1: TWidget\n  Caption = #\nend\n", 2, "character code"},
        BadForm{"object W1: TWidget\n  Caption = 'a' +\n  Count = 1\nend\n", 3, "expected a string after '+'"},
        BadForm{"object W1: TWidget\n  Count = 1\n", 2, "missing 'end' of object W1 begun on line 1"},
        BadForm{"object W1: TBase\n  object W2: TWidget\n  end\n", 3, "missing 'end' of object W1"},
        BadForm{"object W1: TWidget\n  Level = 256\nend\n", 2, "out of range for Byte (0..255)"},
        BadForm{"object W1: TWidget\n  Level = -1\nend\n", 2, "out of range for Byte"},
        BadForm{"object W1: TWidget\n  Count = 2147483648\nend\n", 2, "out of range for Integer"},
        BadForm{"object W1: TWidget\n  Count = -2147483649\nend\n", 2, "out of range for Integer"},
        BadForm{"object W1: TWidget\n  Count = 99999999999999999999999\nend\n", 2, "out of range"},
        BadForm{"object W1: TWidget\n  Count = 12abc\nend\n", 2, "malformed number"},
        BadForm{"object W1: TWidget\n  Count 1\nend\n", 2, "expected '='"},
        BadForm{"object W1: TWidget\n  Count =\nend\n", 2, "missing value"},
        BadForm{"object W1: TWidget\n  Count = 1 2\nend\n", 2, "unexpected text"},
        BadForm{"object W1: TWidget\n  Count = -\nend\n", 2, "expected a number after '-'"},
        BadForm{"object W1: TWidget\n  Count = 1\n  Count = 2\nend\n", 3, "given twice"},
        BadForm{"object W1: TWidget\n  ReadOnly = 2\nend\n", 2, "read-only"},
        BadForm{"object W1: TWidget\n  Count = 1 ;\nend\n", 2, "unexpected character ';'"},
        BadForm{"object W1: TWidget\nend\nobject W2: TWidget\nend\n", 3, "after the end of the form"},
        BadForm{"object W1: TWidget\nend end\n", 2, "after 'end'"},
        BadForm{"object W1: TWidget Count = 1\nend\n", 1, "after the object header"},
        BadForm{"object Existing: TWidget\nend\n", 1, "already exists"},
        BadForm{"object F: TBase\n  object A: TWidget\n  end\n  object a: TWidget\n  end\nend\n", 4, "already exists"},
        BadForm{"object F: TBase\n  object A: TWidget\n    Count = 13\n  end\nend\n", 3, "cannot set Count: 13"}));

TEST_F(Streaming, DeeplyNestedFormsAreRefused) {
  String text;
  for (int i = 0; i < 40; ++i) text += "object TBase\n";
  for (int i = 0; i < 40; ++i) text += "end\n";
  const int live = gLive;
  EXPECT_THROW(TextToComponent(text), EFormError);
  EXPECT_EQ(gLive, live);
}

TEST_F(Streaming, HandlerNamesGoThroughTheMethodMap) {
  TMethodNameMap names;
  TFormMethods methods = names.Methods();
  std::unique_ptr<TComponent> c(
      TextToComponent("object W1: TWidget\n  OnChange = Form1Change\nend\n", nullptr, &methods));
  EXPECT_EQ(W(*c).OnChangeName, "");  // bound by the map, not by the setter
  EXPECT_EQ(names.NameOf("w1", "onchange"), "Form1Change");
  EXPECT_NE(ComponentToText(*c, &methods).find("  OnChange = Form1Change\n"), String::npos);
  EXPECT_EQ(ComponentToText(*c).find("OnChange"), String::npos);

  TFormMethods strict;
  strict.Bind = [](TComponent&, const TPropInfo&, const String& H) { return H == "Known"; };
  const int live = gLive;
  try {
    TextToComponent("object W1: TWidget\n  Count = 1\n  OnChange = Unknown\nend\n", nullptr, &strict);
    FAIL();
  } catch (const EFormError& e) {
    EXPECT_EQ(e.Line(), 3);
    EXPECT_NE(String(e.what()).find("unknown handler Unknown"), String::npos);
  }
  EXPECT_EQ(gLive, live);

  TFormMethods bad;
  bad.NameOf = [](const TComponent&, const TPropInfo& P) {
    return P.Kind == TTypeKind::Method ? String("no good") : "";
  };
  EXPECT_THROW(ComponentToText(*c, &bad), Exception);
}

TEST_F(Streaming, PlainTextValuesAreCheckedLikeFormValues) {
  const TPropInfo& level = *FindPublishedProperty(&TWidget::Info(), "Level");
  const TPropInfo& count = *FindPublishedProperty(&TWidget::Info(), "Count");
  const TPropInfo& flag = *FindPublishedProperty(&TWidget::Info(), "Flag");
  const TPropInfo& caption = *FindPublishedProperty(&TWidget::Info(), "Caption");
  EXPECT_EQ(PropValueFromText(level, "255").Ord, 255);
  EXPECT_THROW(PropValueFromText(level, "256"), Exception);
  EXPECT_THROW(PropValueFromText(level, "-1"), Exception);
  EXPECT_EQ(PropValueFromText(count, "-2147483648").Ord, INT32_MIN);
  EXPECT_THROW(PropValueFromText(count, "2147483648"), Exception);
  EXPECT_THROW(PropValueFromText(count, ""), Exception);
  EXPECT_THROW(PropValueFromText(count, "-"), Exception);
  EXPECT_THROW(PropValueFromText(count, "1.5"), Exception);
  EXPECT_EQ(PropValueFromText(flag, "true").Ord, 1);
  EXPECT_THROW(PropValueFromText(flag, "yes"), Exception);
  EXPECT_EQ(PropValueFromText(caption, "it's 'x'").Str, "it's 'x'");
}

// ---------------------------------------------------------------- files
class FormFiles : public Streaming {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("quor-forms-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  String Read(const std::filesystem::path& P) {
    std::ifstream f(P, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  size_t FilesInDir() { return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {})); }
  std::filesystem::path dir;
};

TEST_F(FormFiles, SaveReplacesTheFileAndLeavesNoTemporary) {
  const String file = (dir / "form.txt").string();
  TWidget w(nullptr);
  w.SetName("W1");
  WriteComponentFile(file, w);
  EXPECT_EQ(Read(file), kDefaultWidget);
  w.Count = 42;
  WriteComponentFile(file, w);
  EXPECT_EQ(FilesInDir(), 1u);
  std::unique_ptr<TComponent> back(ReadComponentFile(file));
  EXPECT_EQ(W(*back).Count, 42);
}

TEST_F(FormFiles, FailedSaveLeavesTheOldFile) {
  const String file = (dir / "form.txt").string();
  TWidget w(nullptr);
  w.SetName("W1");
  WriteComponentFile(file, w);
  w.SetName("bad name");
  EXPECT_THROW(WriteComponentFile(file, w), Exception);
  EXPECT_EQ(Read(file), kDefaultWidget);
  EXPECT_EQ(FilesInDir(), 1u);
  // A directory in the way: the rename fails, the temporary goes again.
  w.SetName("W1");
  std::filesystem::create_directories(dir / "sub" / "x");
  EXPECT_THROW(WriteComponentFile((dir / "sub").string(), w), Exception);
  EXPECT_EQ(FilesInDir(), 2u);
  EXPECT_THROW(WriteComponentFile((dir / "missing" / "form.txt").string(), w), Exception);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(FormFiles, ReadingMissingOrMalformedFilesFails) {
  EXPECT_THROW(ReadComponentFile((dir / "none.txt").string()), Exception);
  EXPECT_THROW(ReadComponentFile(dir.string()), Exception);
  const String file = (dir / "bad.txt").string();
  std::ofstream(file) << "object W1: TWidget\n  Count = 1\n  Level = 300\nend\n";
  const int live = gLive;
  try {
    ReadComponentFile(file);
    FAIL();
  } catch (const EFormError& e) {
    EXPECT_EQ(e.Line(), 3);
  }
  EXPECT_EQ(gLive, live);
}

}  // namespace
