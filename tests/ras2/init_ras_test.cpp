// InitRas and CloseRas against the stand-in rasapi32.dll variants. Every test
// case runs in a process of its own, so the binding state starts out empty.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Vcl/Vcl.h"
#include "tests/ras2/Ras2TestSupport.h"

using namespace ras2test;

namespace {

FARPROC ExportOf(const char* name) {
  return GetProcAddress(hLib, name);
}

Untyped AsUntyped(FARPROC proc) {
  return reinterpret_cast<Untyped>(proc);
}

DWORD WINAPI NotAnEntryPoint() {
  return 0;
}
Untyped Sentinel() {
  return reinterpret_cast<Untyped>(&NotAnEntryPoint);
}

// Each variable holds exactly the export it is named for, or null where the
// library lacks it.
void ExpectBoundTo(HMODULE module, const std::set<std::string>& missing) {
  for (const EntryVariable& v : EntryVariables()) {
    const Untyped expected = AsUntyped(GetProcAddress(module, v.exportName));
    if (missing.count(v.exportName) != 0) {
      EXPECT_EQ(expected, nullptr) << "the variant should lack " << v.exportName;
      EXPECT_EQ(v.get(), nullptr) << v.variable;
    } else {
      EXPECT_NE(v.get(), nullptr) << v.variable;
      EXPECT_EQ(v.get(), expected) << v.variable << " is not bound to " << v.exportName;
    }
  }
}

}  // namespace

TEST(InitRas, WithoutTheLibraryReturnsFalseAndBindsNothing) {
  RAS2_SKIP_UNLESS_ABSENT("rasapi32.dll");
  UseVariant("none");
  EXPECT_FALSE(InitRas());
  EXPECT_EQ(hLib, HMODULE{});
  for (const EntryVariable& v : EntryVariables()) EXPECT_EQ(v.get(), nullptr) << v.variable;
  EXPECT_TRUE(CloseRas());
  EXPECT_EQ(hLib, HMODULE{});
  // The fallback lookup's state is a separate matter and stays untouched.
  EXPECT_FALSE(rnaph_initialized);
  EXPECT_EQ(lib, HMODULE{});
}

TEST(InitRas, BindsEveryExportOfAFullLibrary) {
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  ASSERT_NE(hLib, HMODULE{});
  EXPECT_EQ(hLib, GetModuleHandleA("rasapi32.dll"));
  ASSERT_NE(StateOf(hLib), nullptr) << "not the stand-in library";
  EXPECT_STREQ(StateOf(hLib)->variant, "full");
  ExpectBoundTo(hLib, {});
  EXPECT_EQ(EntryVariables().size(), 47u);
  CloseRas();
}

TEST(InitRas, NeutralVariablesAreTheAnsiEntryPoints) {
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  int neutrals = 0;
  for (const EntryVariable& v : EntryVariables()) {
    if (!v.neutral) continue;
    ++neutrals;
    const std::string ansi = std::string(v.variable) + "A";
    EXPECT_EQ(v.get(), Variable(ansi).get()) << v.variable << " differs from " << ansi;
    EXPECT_EQ(v.get(), AsUntyped(ExportOf(ansi.c_str()))) << v.variable;
    EXPECT_NE(v.get(), Variable(std::string(v.variable) + "W").get()) << v.variable;
  }
  EXPECT_EQ(neutrals, 11);

  // Calling through the neutral variable reaches the ANSI export, with the
  // arguments as given.
  FakeRasState* state = StateOf(hLib);
  ASSERT_NE(state, nullptr);
  TRasDialParams params{};
  THRasConn conn = 0;
  EXPECT_EQ(RasDial(nullptr, "book", &params, 0xFFFFFFFFu, 0x1234u, &conn), FakeResult(2, false, false));
  EXPECT_STREQ(state->name, "RasDialA");
  ASSERT_EQ(state->argc, 6u);
  EXPECT_EQ(state->args[2], reinterpret_cast<uintptr_t>(&params));
  EXPECT_EQ(state->args[3], 0xFFFFFFFFu);
  EXPECT_EQ(state->args[4], 0x1234u);
  EXPECT_EQ(state->args[5], reinterpret_cast<uintptr_t>(&conn));
  EXPECT_EQ(RasDialW(nullptr, nullptr, nullptr, 0, 0, nullptr), FakeResult(2, true, false));
  EXPECT_STREQ(state->name, "RasDialW");
  EXPECT_EQ(RasHangUp(77), FakeResult(10, false, false));
  EXPECT_STREQ(state->name, "RasHangUpA");
  EXPECT_EQ(state->args[0], 77u);
  // The ANSI-only families are called by their A variables.
  EXPECT_EQ(RasDeleteEntryA(nullptr, "Office"), FakeResult(14, false, false));
  EXPECT_STREQ(state->name, "RasDeleteEntryA");
  CloseRas();
}

TEST(InitRas, MissingExportsLeaveExactlyTheirVariablesNull) {
  UseVariant("partial");
  ASSERT_TRUE(InitRas());
  ASSERT_NE(StateOf(hLib), nullptr);
  EXPECT_STREQ(StateOf(hLib)->variant, "partial");
  // Includes a guarded family (its neutral goes with the ANSI export) and
  // unguarded ones.
  ExpectBoundTo(hLib, {"RasGetProjectionInfoA", "RasHangUpW", "RasGetCountryInfoA", "RasEnumDevicesW"});
  EXPECT_EQ(RasGetProjectionInfo, nullptr);
  EXPECT_NE(RasGetProjectionInfoW, nullptr);
  CloseRas();
}

TEST(InitRas, AnsiOnlyLibraryLeavesEveryWideVariableNull) {
  UseVariant("ansi");
  ASSERT_TRUE(InitRas());
  int wide = 0;
  for (const EntryVariable& v : EntryVariables()) {
    if (v.wide) {
      ++wide;
      EXPECT_EQ(v.get(), nullptr) << v.variable;
    } else {
      EXPECT_NE(v.get(), nullptr) << v.variable;
    }
  }
  EXPECT_EQ(wide, 18);
  CloseRas();
}

TEST(InitRas, EachCallTakesAReferenceThatCloseRasReleases) {
  UseVariant("full");
  // Two components: two loads of the one library.
  ASSERT_TRUE(InitRas());
  const HMODULE first = hLib;
  ASSERT_TRUE(InitRas());
  EXPECT_EQ(hLib, first);

  // The first component goes; the library stays for the second.
  EXPECT_TRUE(CloseRas());
  ASSERT_TRUE(IsLoaded("rasapi32.dll"));
  EXPECT_EQ(RasHangUp(5), FakeResult(10, false, false));
  EXPECT_EQ(StateOf(hLib)->args[0], 5u);

  // The second goes too: the library is unloaded.
  EXPECT_TRUE(CloseRas());
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));
  // CloseRas clears nothing.
  EXPECT_EQ(hLib, first);
  EXPECT_NE(RasHangUp, nullptr);
}

TEST(InitRas, EveryCallRewritesEveryVariable) {
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  for (const EntryVariable& v : EntryVariables()) v.set(Sentinel());
  ASSERT_TRUE(InitRas());
  ExpectBoundTo(hLib, {});
  CloseRas();
  CloseRas();
  ASSERT_FALSE(IsLoaded("rasapi32.dll"));

  // A library lacking exports rewrites the bound variables with null.
  UseVariant("partial");
  ASSERT_TRUE(InitRas());
  EXPECT_STREQ(StateOf(hLib)->variant, "partial");
  ExpectBoundTo(hLib, {"RasGetProjectionInfoA", "RasHangUpW", "RasGetCountryInfoA", "RasEnumDevicesW"});
  CloseRas();
}

TEST(InitRas, FailedLoadZeroesTheHandleSoCloseRasReleasesNothing) {
  RAS2_SKIP_UNLESS_ABSENT("rasapi32.dll");
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  const Untyped dial = Variable("RasDial").get();
  // Somebody else holds the library too (loaded by its path).
  const std::string path = VariantDir("full") + "/rasapi32.dll";
  const HMODULE other = LoadLibraryA(path.c_str());
  ASSERT_EQ(other, hLib);
  EXPECT_TRUE(CloseRas());
  ASSERT_TRUE(IsLoaded("rasapi32.dll"));

  UseVariant("none");
  // Windows finds a loaded module by its bare name, so a load can only fail
  // there while nobody holds the library.
  if (const HMODULE again = LoadLibraryA("rasapi32.dll"); again != 0) {
    FreeLibrary(again);
    FreeLibrary(other);
    GTEST_SKIP() << "a loaded rasapi32.dll is found by its name";
  }
  EXPECT_FALSE(InitRas());
  EXPECT_EQ(hLib, HMODULE{});
  // No variable was written: they still hold what the first call bound.
  EXPECT_EQ(Variable("RasDial").get(), dial);
  // Nothing of the other holder's reference is taken.
  EXPECT_TRUE(CloseRas());
  EXPECT_TRUE(IsLoaded("rasapi32.dll"));
  FreeLibrary(other);
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));
}

// ---- the guard of the first 33 lookups (needs an injectable lookup fault)

TEST(InitRasGuard, FaultInAGuardedLookupKeepsTheValueAndBindingGoesOn) {
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  if (!InjectLookupFault("RasDialA")) GTEST_SKIP() << "lookup faults cannot be injected here";
  InjectLookupFault("RasEnumEntriesW");
  for (const EntryVariable& v : EntryVariables()) v.set(Sentinel());

  EXPECT_TRUE(InitRas());
  ClearLookupFaults();
  // The faulting names keep their previous value (both variables bound to
  // "RasDialA"); every other variable, before and after them, is bound.
  EXPECT_EQ(Variable("RasDialA").get(), Sentinel());
  EXPECT_EQ(Variable("RasDial").get(), Sentinel());
  EXPECT_EQ(Variable("RasEnumEntriesW").get(), Sentinel());
  for (const EntryVariable& v : EntryVariables()) {
    const std::string name = v.variable;
    if (name == "RasDialA" || name == "RasDial" || name == "RasEnumEntriesW") continue;
    EXPECT_EQ(v.get(), AsUntyped(ExportOf(v.exportName))) << v.variable;
  }
  CloseRas();
  CloseRas();
}

TEST(InitRasGuard, FaultInAnUnguardedLookupReachesTheCaller) {
  UseVariant("full");
  if (!InjectLookupFault("RasRenameEntryA")) GTEST_SKIP() << "lookup faults cannot be injected here";
  EXPECT_THROW(InitRas(), LookupFault);
  ClearLookupFaults();
  // Binding stopped there: everything before it is bound, the rest untouched.
  bool reached = false;
  for (const EntryVariable& v : EntryVariables()) {
    if (std::string(v.variable) == "RasRenameEntryA") reached = true;
    if (reached)
      EXPECT_EQ(v.get(), nullptr) << v.variable;
    else
      EXPECT_EQ(v.get(), AsUntyped(ExportOf(v.exportName))) << v.variable;
  }
  EXPECT_TRUE(reached);
  CloseRas();
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));
}

// The opt-in for applications that must use the system's RAS: a copy in a
// folder the application chose is never loaded, by InitRas nor by the
// fallback lookup; switched off again, the same copy is found.
TEST(InitRas, SystemFolderOnlyNeverLoadsAnotherCopy) {
  UseVariant("rnaph");
  EXPECT_FALSE(RasSystemFolderOnly()) << "off by default";
  SetRasSystemFolderOnly(true);
  const bool loaded = InitRas();
  if (LibrarySearchConfined()) {
    EXPECT_FALSE(loaded);
    DWORD size = 0;
    EXPECT_THROW(RasGetCountryInfo(nullptr, &size), Exception);
    EXPECT_FALSE(rnaph_initialized);
  } else if (loaded) {
    EXPECT_EQ(StateOf(hLib), nullptr) << "the stand-in was loaded although only the system folder counts";
  }
  CloseRas();
  SetRasSystemFolderOnly(false);
  ASSERT_TRUE(InitRas());
  ASSERT_NE(StateOf(hLib), nullptr);
  EXPECT_STREQ(StateOf(hLib)->variant, "rnaph");
  CloseRas();
}
