// The component object: defaults, timers, setters, events operations,
// destruction, class information and registration.
#include <cstring>

#include "QuorTest.h"

using fakeras::S;

TEST_F(QuorTest, NewComponentHasItsDefaultsAndThreeIdleTimers) {
  TQuor q(nullptr);
  fakeras::Reapply();
  EXPECT_EQ(q.RedialAttempts(), 1);
  EXPECT_EQ(q.RedialPause(), 10);
  EXPECT_TRUE(q.MinimizeDialWindow());
  EXPECT_FALSE(q.SynchronousDial());
  for (const String* s :
       std::initializer_list<const String*>{&q.EntryName(), &q.PhoneNumber(), &q.CallbackNumber(), &q.UserName(),
                                            &q.Password(), &q.Domain(), &q.DeviceName, &q.DeviceType})
    EXPECT_EQ(*s, "");
  EXPECT_FALSE(q.OnConnect());
  EXPECT_FALSE(q.OnDisconnect());
  EXPECT_FALSE(q.OnNotify());
  EXPECT_FALSE(q.OnConnectFail());
  EXPECT_EQ(QI::hRas(q), 0u);
  EXPECT_EQ(q.fWindowHandle, HWND{});
  EXPECT_EQ(QI::RedialCount(q), 0);
  EXPECT_EQ(QI::fPhoneBookPath(q), "");
  ASSERT_NE(q.Connections, nullptr);
  ASSERT_NE(q.PhoneBookEntries, nullptr);
  EXPECT_EQ(q.Connections->Count(), 0);
  EXPECT_EQ(QI::LookForWindow(q)->Interval(), 100u);
  EXPECT_EQ(QI::Redial(q)->Interval(), 10000u);
  EXPECT_EQ(QI::CheckStatus(q)->Interval(), 500u);
  EXPECT_FALSE(QI::LookForWindow(q)->Enabled());
  EXPECT_FALSE(QI::Redial(q)->Enabled());
  EXPECT_FALSE(QI::CheckStatus(q)->Enabled());
  // The timers are owned by the component.
  EXPECT_EQ(QI::Redial(q)->Owner(), &q);
  EXPECT_EQ(QI::CheckStatus(q)->Owner(), &q);
  EXPECT_EQ(QI::LookForWindow(q)->Owner(), &q);
}

TEST_F(QuorTest, OwnerDestroysTheComponent) {
  auto* owner = new TComponent(nullptr);
  auto* q = new TQuor(owner);
  BindFakes(*q);
  EXPECT_EQ(q->Owner(), owner);
  EXPECT_EQ(owner->ComponentCount(), 1);
  delete owner;  // ASan: the component and its timers go with it
}

TEST_F(QuorTest, RedialPauseIsHeldAtSixtyAndLeavesTheTimerAlone) {
  const std::pair<int, int> cases[] = {{61, 60}, {200, 60}, {255, 60}, {60, 60}, {0, 0}, {1, 1}, {59, 59}};
  for (auto [set, stored] : cases) {
    Q->SetRedialPause(static_cast<Byte>(set));
    EXPECT_EQ(Q->RedialPause(), stored) << set;
    EXPECT_EQ(QI::Redial(*Q)->Interval(), 10000u) << "the interval changes only when a redial is scheduled";
  }
}

TEST_F(QuorTest, RedialAttemptsStoresAnyValue) {
  for (int v : {0, -5, 7, 1, -1, 1000000}) {
    Q->SetRedialAttempts(v);
    EXPECT_EQ(Q->RedialAttempts(), v);
  }
}

TEST_F(QuorTest, NotifyConnectStartsBothWatchesWithOrWithoutHandler) {
  QI::NotifyConnect(*Q);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'C', 0, ""}}));
  EXPECT_EQ(Log.SenderSeen, Q);
  EXPECT_FALSE(Log.Snaps[0].Check) << "OnConnect runs before the timers start";
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled());

  TQuor q(nullptr);
  BindFakes(q);
  QI::NotifyConnect(q);
  EXPECT_TRUE(QI::CheckStatus(q)->Enabled());
  EXPECT_TRUE(QI::LookForWindow(q)->Enabled());
}

TEST_F(QuorTest, DestroyHoldingAConnectionHangsUpFirst) {
  ConnectNow();
  const THRasConn h = QI::hRas(*Q);
  Log.Clear();
  const uint64_t t0 = QuorClockNow();
  bool listsAlive = false;
  Q->SetOnNotify([&](Integer E, String T) {
    listsAlive = Q->Connections != nullptr && QI::CheckStatus(*Q) != nullptr;
    Log.Events.push_back(Ev{'N', E, T});
  });
  delete Q;
  Q = nullptr;
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}}));
  EXPECT_TRUE(listsAlive) << "the hang-up comes before anything is released";
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{h});
  EXPECT_EQ(QuorClockNow() - t0, 2000u);
}

TEST_F(QuorTest, DestroyWithoutConnectionCallsNoHangUp) {
  delete Q;
  Q = nullptr;
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_TRUE(S().HangUps.empty());
}

TEST_F(QuorTest, DestroyWipesThePassword) {
  // The record lives inside the component; after the destructor's last own
  // step nothing of the password may be left in it. Placement construction
  // lets the test look at the memory the destructor left behind.
  alignas(TQuor) unsigned char storage[sizeof(TQuor)];
  auto* q = new (storage) TQuor(nullptr);
  BindFakes(*q);
  q->SetEntryName("Office");
  q->SetPassword("s3cret-password");
  q->Connect();
  const TRasDialParams& dp = QI::DialParams(*q);
  ASSERT_STREQ(dp.szPassword, "s3cret-password") << "kept during the component's life";
  const size_t offset = static_cast<size_t>(reinterpret_cast<const unsigned char*>(&dp) - storage);
  q->Disconnect();
  q->~TQuor();
  for (size_t i = 0; i < sizeof(TRasDialParams); ++i) ASSERT_EQ(storage[offset + i], 0) << i;
}

// ---------------------------------------------------------------- class information

namespace {
const TPropInfo* Prop(const String& Name) {
  for (const TPropInfo& p : TQuor::StaticClassInfo().Properties)
    if (p.Name == Name) return &p;
  return nullptr;
}
}  // namespace

TEST_F(QuorTest, PublishedPropertiesInDeclarationOrderWithDefaults) {
  const TClassInfo& ci = TQuor::StaticClassInfo();
  EXPECT_EQ(ci.ClassName, "TQuor");
  EXPECT_EQ(ci.Parent, &TComponent::StaticClassInfo());
  EXPECT_EQ(Q->ClassInfo(), &ci);
  EXPECT_EQ(Q->ClassName(), "TQuor");
  struct Want {
    const char* Name;
    TTypeKind Kind;
    std::optional<int64_t> Default;
  };
  const Want want[] = {{"MinimizeDialWindow", TTypeKind::Boolean, 1}, {"EntryName", TTypeKind::String, {}},
                       {"PhoneNumber", TTypeKind::String, {}},        {"CallbackNumber", TTypeKind::String, {}},
                       {"UserName", TTypeKind::String, {}},           {"Password", TTypeKind::String, {}},
                       {"RedialAttempts", TTypeKind::Integer, 1},     {"Domain", TTypeKind::String, {}},
                       {"OnConnect", TTypeKind::Method, {}},          {"OnDisconnect", TTypeKind::Method, {}},
                       {"OnNotify", TTypeKind::Method, {}},           {"OnConnectFail", TTypeKind::Method, {}},
                       {"SynchronousDial", TTypeKind::Boolean, {}},   {"RedialPause", TTypeKind::Byte, {}}};
  ASSERT_EQ(ci.Properties.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(ci.Properties[i].Name, want[i].Name);
    EXPECT_EQ(ci.Properties[i].Kind, want[i].Kind) << want[i].Name;
    EXPECT_EQ(ci.Properties[i].Default, want[i].Default) << want[i].Name;
  }
}

TEST_F(QuorTest, PropertyAccessorsReachTheFieldsAndSetters) {
  TComponent& c = *Q;
  TPropValue v;
  v.Kind = TTypeKind::String;
  v.Str = "Home";
  Prop("EntryName")->Set(c, v);
  EXPECT_EQ(Q->EntryName(), "Home");
  v.Str = "pw";
  Prop("Password")->Set(c, v);
  EXPECT_EQ(Prop("Password")->Get(c).Str, "pw");

  v.Kind = TTypeKind::Byte;
  v.Ord = 200;
  Prop("RedialPause")->Set(c, v);
  EXPECT_EQ(Q->RedialPause(), 60) << "through SetRedialPause";
  EXPECT_EQ(Prop("RedialPause")->Get(c).Ord, 60);

  v.Kind = TTypeKind::Integer;
  v.Ord = -5;
  Prop("RedialAttempts")->Set(c, v);
  EXPECT_EQ(Q->RedialAttempts(), -5);

  v.Kind = TTypeKind::Boolean;
  v.Ord = 0;
  Prop("MinimizeDialWindow")->Set(c, v);
  EXPECT_FALSE(Q->MinimizeDialWindow());
  EXPECT_EQ(Prop("MinimizeDialWindow")->Get(c).Ord, 0);
  v.Ord = 1;
  Prop("SynchronousDial")->Set(c, v);
  EXPECT_TRUE(Q->SynchronousDial());

  // Method properties: assigned handlers show a marker, empty ones nothing.
  EXPECT_NE(Prop("OnNotify")->Get(c).Str, "");
  Q->SetOnNotify(nullptr);
  EXPECT_EQ(Prop("OnNotify")->Get(c).Str, "");
  EXPECT_EQ(Prop("OnNotify")->Get(c).Kind, TTypeKind::Method);
  TPropValue m;
  m.Kind = TTypeKind::Method;
  m.Str = "Form1.Handler";
  Prop("OnNotify")->Set(c, m);
  EXPECT_FALSE(Q->OnNotify()) << "setting a method by name is ignored";
}

TEST_F(QuorTest, ClassIsRegisteredAndCreatesComponents) {
  TComponentClass cls = FindClass("TQuor");
  ASSERT_EQ(cls, &TQuor::StaticClassInfo());
  auto* owner = new TComponent(nullptr);
  TComponent* c = cls->Create(owner);
  fakeras::Reapply();
  ASSERT_NE(dynamic_cast<TQuor*>(c), nullptr);
  EXPECT_EQ(c->Owner(), owner);
  delete owner;
}

TEST_F(QuorTest, RegisterPutsTQuorOnPageRasOncePerCall) {
  std::vector<std::pair<String, std::vector<TComponentClass>>> calls;
  SetRegisterComponentsHook(
      [&](const String& Page, const std::vector<TComponentClass>& Classes) { calls.emplace_back(Page, Classes); });
  Register();
  Register();
  SetRegisterComponentsHook(nullptr);
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& c : calls) {
    EXPECT_EQ(c.first, "RAS");
    EXPECT_EQ(c.second, std::vector<TComponentClass>{&TQuor::StaticClassInfo()});
  }
  TQuorComponentInitialization();
  TQuorComponentFinalization();
}
