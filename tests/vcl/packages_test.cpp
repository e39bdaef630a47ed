// Package unit tables: initialisation in table order, finalisation in
// reverse, each unit once even when several modules share it.
#include "VclTestSupport.h"

namespace {

std::vector<std::string> gLog;

void InitSys() {
  gLog.push_back("init System");
}
void DoneSys() {
  gLog.push_back("done System");
}
void InitRas() {
  gLog.push_back("init Ras2");
}
void DoneRas() {
  gLog.push_back("done Ras2");
}
void InitComp() {
  gLog.push_back("init TQuorComponent");
}
void DoneComp() {
  gLog.push_back("done TQuorComponent");
}
void InitOther() {
  gLog.push_back("init Other");
}
void DoneOther() {
  gLog.push_back("done Other");
}
void InitFails() {
  gLog.push_back("init Fails");
  throw Exception("unit failed to initialise");
}
void DoneFails() {
  gLog.push_back("done Fails");
}
void DoneThrows() {
  gLog.push_back("done Throws");
  throw Exception("unit failed to finalise");
}

using Log = std::vector<std::string>;

struct PackageTest : VclTest {
  void SetUp() override {
    VclTest::SetUp();
    gLog.clear();
  }
};

TEST_F(PackageTest, SharedUnitRunsOnceAndIsFinalisedWithItsLastReference) {
  // Two modules that both contain the framework unit "System".
  const PackageUnitEntry quorUnits[] = {
      {InitSys, DoneSys}, {nullptr, nullptr}, {InitRas, DoneRas}, {InitComp, DoneComp}};
  const PackageUnitEntry otherUnits[] = {{InitSys, DoneSys}, {InitOther, DoneOther}};
  const PackageInfoTable quor{4, quorUnits};
  const PackageInfoTable other{2, otherUnits};

  InitializePackage(&quor);
  EXPECT_EQ(gLog, (Log{"init System", "init Ras2", "init TQuorComponent"}));
  gLog.clear();
  InitializePackage(&other);
  EXPECT_EQ(gLog, (Log{"init Other"}));
  gLog.clear();

  FinalizePackage(&quor);  // System still used by the other module
  EXPECT_EQ(gLog, (Log{"done TQuorComponent", "done Ras2"}));
  gLog.clear();
  FinalizePackage(&other);
  EXPECT_EQ(gLog, (Log{"done Other", "done System"}));
  gLog.clear();

  // Loading again initialises afresh.
  InitializePackage(&other);
  FinalizePackage(&other);
  EXPECT_EQ(gLog, (Log{"init System", "init Other", "done Other", "done System"}));
}

TEST_F(PackageTest, UnitsWithOneRoutineOnlyAreStillCounted) {
  const PackageUnitEntry initOnly[] = {{InitSys, nullptr}, {nullptr, DoneRas}};
  const PackageInfoTable t{2, initOnly};
  InitializePackage(&t);
  InitializePackage(&t);
  FinalizePackage(&t);
  EXPECT_EQ(gLog, (Log{"init System"}));
  FinalizePackage(&t);
  EXPECT_EQ(gLog, (Log{"init System", "done Ras2"}));
}

TEST_F(PackageTest, FinalisingWhatWasNeverInitialisedDoesNothing) {
  const PackageUnitEntry units[] = {{InitRas, DoneRas}};
  const PackageInfoTable t{1, units};
  FinalizePackage(&t);
  EXPECT_TRUE(gLog.empty());
  // Malformed tables are ignored, not read.
  const PackageInfoTable negative{-3, units};
  const PackageInfoTable noUnits{5, nullptr};
  InitializePackage(nullptr);
  InitializePackage(&negative);
  InitializePackage(&noUnits);
  FinalizePackage(nullptr);
  EXPECT_TRUE(gLog.empty());
}

TEST_F(PackageTest, FailedInitialisationUndoesTheUnitsBeforeIt) {
  const PackageUnitEntry units[] = {
      {InitSys, DoneSys}, {InitRas, DoneRas}, {InitFails, DoneFails}, {InitComp, DoneComp}};
  const PackageInfoTable t{4, units};
  EXPECT_THROW(InitializePackage(&t), Exception);
  EXPECT_EQ(gLog, (Log{"init System", "init Ras2", "init Fails", "done Ras2", "done System"}));
  gLog.clear();
  // Nothing of the table is left counted.
  const PackageUnitEntry sys[] = {{InitSys, DoneSys}};
  const PackageInfoTable s{1, sys};
  InitializePackage(&s);
  FinalizePackage(&s);
  EXPECT_EQ(gLog, (Log{"init System", "done System"}));
}

TEST_F(PackageTest, FailedFinalisationStillFinalisesTheRest) {
  const PackageUnitEntry units[] = {{InitSys, DoneSys}, {InitRas, DoneThrows}, {InitComp, DoneComp}};
  const PackageInfoTable t{3, units};
  InitializePackage(&t);
  gLog.clear();
  EXPECT_THROW(FinalizePackage(&t), Exception);
  EXPECT_EQ(gLog, (Log{"done TQuorComponent", "done Throws", "done System"}));
}

}  // namespace
