// Components and ownership, the class registry, string lists, the string
// helpers and palette registration.
#include "VclTestSupport.h"

namespace {

using Log = std::vector<std::string>;

// A component whose own destructor still uses the timer it owns, as a
// dialer component's destructor does when it hangs up.
class TTimerUser : public TComponent {
 public:
  TTimerUser(TComponent* AOwner, Log* L) : TComponent(AOwner), fLog(L) {
    Timer = new TTimer(this);
    Timer->SetInterval(1234);
    Marker = new TLoggedComponent(this, "marker", L);
  }
  ~TTimerUser() override {
    // Owned components are still alive here.
    fLog->push_back("own steps, timer interval " + std::to_string(Timer->Interval()));
    Timer->SetEnabled(false);
  }
  TTimer* Timer;
  TLoggedComponent* Marker;

 private:
  Log* fLog;
};

TEST_F(VclTest, OwnedComponentsOutliveTheOwnersOwnDestructorSteps) {
  Log log;
  auto* owner = new TTimerUser(nullptr, &log);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->Timer->Owner(), owner);
  delete owner;
  EXPECT_EQ(log, (Log{"own steps, timer interval 1234", "~marker"}));
}

TEST_F(VclTest, OwnedComponentsAreFreedNewestFirst) {
  Log log;
  auto* owner = new TLoggedComponent(nullptr, "owner", &log);
  new TLoggedComponent(owner, "a", &log);
  new TLoggedComponent(owner, "b", &log);
  new TLoggedComponent(owner, "c", &log);
  ASSERT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(0)->Owner(), owner);
  delete owner;
  EXPECT_EQ(log, (Log{"~owner", "~c", "~b", "~a"}));
}

TEST_F(VclTest, ComponentFreedFirstLeavesItsOwner) {
  Log log;
  auto* owner = new TLoggedComponent(nullptr, "owner", &log);
  auto* a = new TLoggedComponent(owner, "a", &log);
  auto* b = new TLoggedComponent(owner, "b", &log);
  delete a;
  ASSERT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), b);
  delete owner;  // must not free a again
  EXPECT_EQ(log, (Log{"~a", "~owner", "~b"}));
}

// An owned component that frees a sibling while its owner is being
// destroyed: the owner must not free the sibling a second time.
class TSiblingKiller : public TComponent {
 public:
  using TComponent::TComponent;
  ~TSiblingKiller() override { delete Victim; }
  TComponent* Victim = nullptr;
};

TEST_F(VclTest, OwnedComponentMayFreeASiblingDuringTheOwnersDestruction) {
  Log log;
  auto* owner = new TComponent(nullptr);
  auto* victim = new TLoggedComponent(owner, "victim", &log);
  auto* killer = new TSiblingKiller(owner);
  new TLoggedComponent(owner, "last", &log);
  killer->Victim = victim;
  delete owner;
  EXPECT_EQ(log, (Log{"~last", "~victim"}));
}

TEST_F(VclTest, InsertComponentMovesAComponentBetweenOwners) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* c = new TComponent(&first);
  second.InsertComponent(c);
  EXPECT_EQ(first.ComponentCount(), 0);
  ASSERT_EQ(second.ComponentCount(), 1);
  EXPECT_EQ(c->Owner(), &second);
  second.InsertComponent(c);  // already there: not listed twice
  EXPECT_EQ(second.ComponentCount(), 1);
  second.RemoveComponent(c);
  EXPECT_EQ(c->Owner(), nullptr);
  EXPECT_EQ(second.ComponentCount(), 0);
  delete c;
  EXPECT_THROW(first.Components(0), std::out_of_range);
}

// ---------------------------------------------------------------- class registry
const TClassInfo kWidgetInfo{"TWidget", &TComponent::StaticClassInfo(), {}, [](TComponent* AOwner) -> TComponent* {
                               return new TComponent(AOwner);
                             }};
const TClassInfo kOtherWidgetInfo{"TWIDGET", nullptr, {}, nullptr};

TEST_F(VclTest, ClassRegistryFindsClassesCaseInsensitively) {
  EXPECT_EQ(FindClass("TWidget"), nullptr);
  RegisterClass(&kWidgetInfo);
  RegisterClass(&kWidgetInfo);  // the same class again is harmless
  EXPECT_EQ(FindClass("twidget"), &kWidgetInfo);
  EXPECT_EQ(FindClass("TWIDGET"), &kWidgetInfo);
  // Another class of the same name is refused and does not replace it.
  EXPECT_THROW(RegisterClass(&kOtherWidgetInfo), Exception);
  UnRegisterClass(&kOtherWidgetInfo);
  EXPECT_EQ(FindClass("TWidget"), &kWidgetInfo);
  EXPECT_THROW(RegisterClass(nullptr), Exception);

  std::unique_ptr<TComponent> made(FindClass("TWidget")->Create(nullptr));
  EXPECT_EQ(made->ClassName(), "TComponent");

  UnRegisterClass(&kWidgetInfo);
  EXPECT_EQ(FindClass("TWidget"), nullptr);
}

TEST_F(VclTest, TimerClassInfoPublishesItsProperties) {
  TComponent owner(nullptr);
  auto* t = new TTimer(&owner);
  TComponentClass info = t->ClassInfo();
  EXPECT_EQ(t->ClassName(), "TTimer");
  EXPECT_EQ(info->Parent, &TComponent::StaticClassInfo());
  EXPECT_EQ(TComponent(nullptr).ClassName(), "TComponent");
  EXPECT_TRUE(TComponent::StaticClassInfo().Properties.empty());

  ASSERT_EQ(info->Properties.size(), 3u);
  const TPropInfo& enabled = info->Properties[0];
  const TPropInfo& interval = info->Properties[1];
  const TPropInfo& onTimer = info->Properties[2];
  EXPECT_EQ(enabled.Name, "Enabled");
  EXPECT_EQ(enabled.Kind, TTypeKind::Boolean);
  EXPECT_EQ(enabled.Default, std::optional<int64_t>(1));
  EXPECT_EQ(interval.Name, "Interval");
  EXPECT_EQ(interval.Kind, TTypeKind::Integer);
  EXPECT_EQ(interval.Default, std::optional<int64_t>(1000));
  EXPECT_EQ(onTimer.Name, "OnTimer");
  EXPECT_EQ(onTimer.Kind, TTypeKind::Method);
  EXPECT_FALSE(onTimer.Default.has_value());

  // The accessors reach the live object.
  EXPECT_EQ(enabled.Get(*t).Ord, 1);
  EXPECT_EQ(interval.Get(*t).Ord, 1000);
  TPropValue v;
  v.Kind = TTypeKind::Integer;
  v.Ord = 250;
  interval.Set(*t, v);
  EXPECT_EQ(t->Interval(), 250u);
  v.Ord = -1;
  EXPECT_THROW(interval.Set(*t, v), Exception);
  v.Ord = int64_t{1} << 32;
  EXPECT_THROW(interval.Set(*t, v), Exception);
  EXPECT_EQ(t->Interval(), 250u);
  v.Kind = TTypeKind::Boolean;
  v.Ord = 0;
  enabled.Set(*t, v);
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(onTimer.Get(*t).Ord, 0);
  t->SetOnTimer([](TObject*) {});
  EXPECT_EQ(onTimer.Get(*t).Ord, 1);

  std::unique_ptr<TComponent> made(info->Create(nullptr));
  EXPECT_EQ(made->ClassName(), "TTimer");
}

// ---------------------------------------------------------------- strings
TEST_F(VclTest, StringListKeepsOrderAndDuplicates) {
  TStringList l;
  EXPECT_EQ(l.Add("Office"), 0);
  EXPECT_EQ(l.Add("Home"), 1);
  EXPECT_EQ(l.Add("Office"), 2);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l[2], "Office");
  EXPECT_EQ(l.IndexOf("HOME"), 1);
  EXPECT_EQ(l.IndexOf("office"), 0);
  EXPECT_EQ(l.IndexOf("Hom"), -1);
  EXPECT_EQ(l.Text(), "Office\nHome\nOffice\n");
  EXPECT_THROW(l.Strings(3), std::out_of_range);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Text(), "");
}

TEST_F(VclTest, CaseMappingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCase("Connected to MyISP"), "connected to myisp");
  EXPECT_EQ(UpperCase("tQuor-30_z"), "TQUOR-30_Z");
  // Bytes above 127 (Latin-1 or UTF-8) are left as they are.
  EXPECT_EQ(LowerCase("\xC4\xD6@[`{"), "\xC4\xD6@[`{");
  EXPECT_EQ(UpperCase("\xE4\xF6"), "\xE4\xF6");
  EXPECT_EQ(LowerCase(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST_F(VclTest, IntToStrCoversTheWholeRange) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-633), "-633");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
}

TEST_F(VclTest, ExceptionCarriesItsMessage) {
  try {
    throw Exception("Cannot open phonebook");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Cannot open phonebook");
    ASSERT_NE(dynamic_cast<const Exception*>(&e), nullptr);
    EXPECT_EQ(dynamic_cast<const Exception&>(e).Message(), "Cannot open phonebook");
  }
}

// ---------------------------------------------------------------- palette
const TClassInfo kDialerInfo{"TPaletteDialer", nullptr, {}, nullptr};
const TClassInfo kMonitorInfo{"TPaletteMonitor", nullptr, {}, nullptr};

struct PaletteTest : VclTest {
  void TearDown() override {
    SetRegisterComponentsHook(nullptr);
    ClearPalette();
    UnRegisterClass(&kDialerInfo);
    UnRegisterClass(&kMonitorInfo);
    VclTest::TearDown();
  }
};

TEST_F(PaletteTest, RegisterComponentsAppendsInOrderAndCallsTheHook) {
  ClearPalette();
  std::vector<std::pair<String, std::vector<TComponentClass>>> hookCalls;
  size_t entriesSeenByHook = 0;
  SetRegisterComponentsHook([&](const String& Page, const std::vector<TComponentClass>& Classes) {
    hookCalls.emplace_back(Page, Classes);
    entriesSeenByHook = PaletteEntries().size();  // the call has taken effect already
  });

  RegisterComponents("RAS", {&kDialerInfo});
  RegisterComponents("Tools", {&kMonitorInfo, &kDialerInfo});

  auto entries = PaletteEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Page, "RAS");
  EXPECT_EQ(entries[0].Class, &kDialerInfo);
  EXPECT_EQ(entries[1].Page, "Tools");
  EXPECT_EQ(entries[1].Class, &kMonitorInfo);
  EXPECT_EQ(entries[2].Class, &kDialerInfo);
  EXPECT_EQ(entriesSeenByHook, 3u);
  ASSERT_EQ(hookCalls.size(), 2u);
  EXPECT_EQ(hookCalls[0].first, "RAS");
  EXPECT_EQ(hookCalls[0].second, std::vector<TComponentClass>{&kDialerInfo});
  EXPECT_EQ(hookCalls[1].second, (std::vector<TComponentClass>{&kMonitorInfo, &kDialerInfo}));
  // Registered classes can be created by name.
  EXPECT_EQ(FindClass("tpalettedialer"), &kDialerInfo);
  EXPECT_EQ(FindClass("TPaletteMonitor"), &kMonitorInfo);

  ClearPalette();
  EXPECT_TRUE(PaletteEntries().empty());
}

TEST_F(PaletteTest, ANullClassRegistersNothing) {
  ClearPalette();
  int hookCalls = 0;
  SetRegisterComponentsHook([&](const String&, const std::vector<TComponentClass>&) { ++hookCalls; });
  EXPECT_THROW(RegisterComponents("RAS", {&kDialerInfo, nullptr}), Exception);
  EXPECT_TRUE(PaletteEntries().empty());
  EXPECT_EQ(FindClass("TPaletteDialer"), nullptr);
  EXPECT_EQ(hookCalls, 0);
}

}  // namespace
