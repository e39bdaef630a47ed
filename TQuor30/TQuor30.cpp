// The package module's unit table and entry points.
#include "TQuor30/TQuor30.h"

#include <array>

#include "Ras2/Ras2.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/FrameworkUnits.h"

static_assert(FrameworkUnitCount + 2 == TQuor30UnitCount, "the table holds the framework's units and our two");

namespace {

// The framework's routines live in vcl30 and are only known at run time
// (through its import table on Windows), so the table is filled on first use.
std::array<PackageUnitEntry, TQuor30UnitCount> MakeUnits() {
  std::array<PackageUnitEntry, TQuor30UnitCount> units{};
  const PackageInfoTable* framework = FrameworkPackageTable();
  for (int i = 0; i < FrameworkUnitCount; ++i) units[static_cast<size_t>(i)] = framework->UnitInfo[i];
  units[TQuor30Ras2Unit] = {&Ras2Initialization, &Ras2Finalization};
  units[TQuor30ComponentUnit] = {&TQuorComponentInitialization, &TQuorComponentFinalization};
  return units;
}

// The class information lives in this module. The component unit enters it
// into the framework's registry as the module loads; when the module goes,
// with or without Finalize, it must leave the registry again. Asking for the
// class information first makes it outlive this guard.
struct ClassRegistrationGuard {
  ClassRegistrationGuard() { (void)TQuor::StaticClassInfo(); }
  ~ClassRegistrationGuard() { UnRegisterClass(&TQuor::StaticClassInfo()); }
};
const ClassRegistrationGuard gClassRegistrationGuard;

}  // namespace

extern "C" {

const PackageInfoTable* WINAPI TQuor30GetPackageInfoTable(void) {
  static const std::array<PackageUnitEntry, TQuor30UnitCount> units = MakeUnits();
  static const PackageInfoTable table{TQuor30UnitCount, units.data()};
  return &table;
}

void WINAPI TQuor30Initialize(void) {
  InitializePackage(TQuor30GetPackageInfoTable());
}

void WINAPI TQuor30Finalize(void) {
  FinalizePackage(TQuor30GetPackageInfoTable());
  // The class information lives in this module: once it is unloaded the
  // registry must not hand it out any more. Only this very class is removed.
  UnRegisterClass(&TQuor::StaticClassInfo());
}

void WINAPI TQuor30Register(void) {
  Register();
}

}  // extern "C"
