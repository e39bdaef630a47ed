// The package's unit table and registration, checked in-process: the table's
// make-up, the order units are initialised and finalised in, units shared
// with another module, and the RegisterComponents call of Register.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Ras2/Ras2.h"
#include "TQuor30/TQuor30.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/FrameworkUnits.h"

namespace {

using Trace = std::vector<std::pair<String, bool>>;

class PackageUnits : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUnitTraceHook([this](const String& U, bool Init) { trace.emplace_back(U, Init); });
  }
  void TearDown() override { SetUnitTraceHook(nullptr); }
  Trace FrameworkInOrder(bool Init) {
    Trace t;
    for (int i = 0; i < FrameworkUnitCount; ++i) t.emplace_back(FrameworkUnitName(i), Init);
    if (!Init) std::reverse(t.begin(), t.end());
    return t;
  }
  Trace trace;
};

TEST_F(PackageUnits, TableHoldsTheFrameworkUnitsThenRas2ThenTheComponentUnit) {
  const PackageInfoTable* t = TQuor30GetPackageInfoTable();
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->UnitCount, 24);
  ASSERT_NE(t->UnitInfo, nullptr);
  EXPECT_EQ(t, TQuor30GetPackageInfoTable());
  const PackageInfoTable* fw = FrameworkPackageTable();
  ASSERT_EQ(fw->UnitCount, 22);
  for (int i = 0; i < 22; ++i) {
    EXPECT_EQ(t->UnitInfo[i].Init, fw->UnitInfo[i].Init) << i;
    EXPECT_EQ(t->UnitInfo[i].FInit, fw->UnitInfo[i].FInit) << i;
    ASSERT_NE(t->UnitInfo[i].Init, nullptr);
    ASSERT_NE(t->UnitInfo[i].FInit, nullptr);
  }
  EXPECT_EQ(t->UnitInfo[22].Init, &Ras2Initialization);
  EXPECT_EQ(t->UnitInfo[22].FInit, &Ras2Finalization);
  EXPECT_EQ(t->UnitInfo[23].Init, &TQuorComponentInitialization);
  EXPECT_EQ(t->UnitInfo[23].FInit, &TQuorComponentFinalization);
  // Every unit distinct: the loader tells units apart by their routines.
  for (int i = 0; i < 24; ++i)
    for (int j = i + 1; j < 24; ++j) EXPECT_NE(t->UnitInfo[i].Init, t->UnitInfo[j].Init) << i << " " << j;
  EXPECT_STREQ(FrameworkUnitName(0), "System");
  EXPECT_STREQ(FrameworkUnitName(1), "SysInit");
  EXPECT_EQ(FrameworkUnitName(22), nullptr);
  EXPECT_EQ(FrameworkUnitName(-1), nullptr);
}

TEST_F(PackageUnits, StandaloneLoadInitialisesInTableOrderAndUnloadReverses) {
  const int systemInits = FrameworkUnitInitCount(0);
  const int systemFinals = FrameworkUnitFinalCount(0);
  TQuor30Initialize();
  EXPECT_EQ(trace, FrameworkInOrder(true));
  EXPECT_EQ(FrameworkUnitInitCount(0), systemInits + 1);
  trace.clear();
  TQuor30Finalize();
  EXPECT_EQ(trace, FrameworkInOrder(false));
  EXPECT_EQ(FrameworkUnitFinalCount(0), systemFinals + 1);
  EXPECT_EQ(FrameworkUnitFinalCount(21), FrameworkUnitInitCount(21));
}

TEST_F(PackageUnits, UnitsTheHostAlreadyInitialisedAreOnlyCounted) {
  // The designer host holds the framework units itself: the module's own two
  // units are then all that its load and unload run, Ras2's finalisation last.
  InitializePackage(FrameworkPackageTable());
  trace.clear();
  TQuor30Initialize();
  EXPECT_TRUE(trace.empty());
  TQuor30Finalize();
  EXPECT_TRUE(trace.empty());
  FinalizePackage(FrameworkPackageTable());
  EXPECT_EQ(trace, FrameworkInOrder(false));
}

// A second module that shares the framework units and has one unit of its own.
int gOtherInits = 0, gOtherFinals = 0;
void OtherInit() {
  ++gOtherInits;
}
void OtherFinal() {
  ++gOtherFinals;
}

TEST_F(PackageUnits, SharedUnitsRunOnceAndFinaliseWithTheLastRelease) {
  std::vector<PackageUnitEntry> other(FrameworkPackageTable()->UnitInfo, FrameworkPackageTable()->UnitInfo + 22);
  other.push_back({&OtherInit, &OtherFinal});
  const PackageInfoTable otherTable{static_cast<int32_t>(other.size()), other.data()};

  TQuor30Initialize();
  EXPECT_EQ(trace, FrameworkInOrder(true));
  trace.clear();
  InitializePackage(&otherTable);
  EXPECT_TRUE(trace.empty());  // already initialised by the first module
  EXPECT_EQ(gOtherInits, 1);

  TQuor30Finalize();
  EXPECT_TRUE(trace.empty());  // still held by the other module
  FinalizePackage(&otherTable);
  EXPECT_EQ(trace, FrameworkInOrder(false));
  EXPECT_EQ(gOtherFinals, 1);
}

TEST_F(PackageUnits, RegisterMakesOneRegisterComponentsCallPerInvocation) {
  std::vector<std::pair<String, std::vector<TComponentClass>>> calls;
  SetRegisterComponentsHook(
      [&](const String& Page, const std::vector<TComponentClass>& Classes) { calls.emplace_back(Page, Classes); });
  ClearPalette();
  TQuor30Register();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].first, "RAS");
  ASSERT_EQ(calls[0].second.size(), 1u);
  EXPECT_EQ(calls[0].second[0], &TQuor::StaticClassInfo());
  EXPECT_EQ(calls[0].second[0]->ClassName, "TQuor");
  TQuor30Register();
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(FindClass("TQuor"), &TQuor::StaticClassInfo());
  SetRegisterComponentsHook(nullptr);
  ClearPalette();
}

}  // namespace
