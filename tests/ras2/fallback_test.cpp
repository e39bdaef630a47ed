// The four fallback functions and the choice of library behind them. Every
// test case runs in a process of its own, so the choice starts undecided.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Vcl/Vcl.h"
#include "tests/ras2/Ras2TestSupport.h"

using namespace ras2test;

namespace {

uint64_t Arg(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

// The message of the Exception a call throws; fails the test when it throws
// nothing or something else.
template <typename Call>
std::string ThrownMessage(Call call) {
  try {
    call();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), e.Message().c_str());
    return e.Message();
  } catch (...) {
    ADD_FAILURE() << "threw something other than Exception";
    return "";
  }
  ADD_FAILURE() << "threw nothing";
  return "";
}

DWORD CallCountryInfo() {
  TRasCtryInfo info{};
  DWORD size = sizeof info;
  return RasGetCountryInfo(&info, &size);
}

DWORD CallEntryProperties() {
  DWORD entrySize = 0, deviceSize = 0;
  return RasGetEntryProperties(nullptr, "Office", nullptr, &entrySize, nullptr, &deviceSize);
}

}  // namespace

TEST(Fallback, ChoosesRasapiWithTheAnsiExportsAndPassesArgumentsUnchanged) {
  UseVariant("full");
  // No InitRas: the lookup loads its own reference.
  char entryBuf[8], deviceBuf[8];
  DWORD entrySize = 8, deviceSize = 8;
  EXPECT_EQ(RasGetEntryProperties("pbk", "Office", entryBuf, &entrySize, deviceBuf, &deviceSize),
            FakeResult(15, false, false));
  EXPECT_TRUE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
  EXPECT_EQ(hLib, HMODULE{});
  ASSERT_EQ(lib, GetModuleHandleA("rasapi32.dll"));
  FakeRasState* state = StateOf(lib);
  ASSERT_NE(state, nullptr);
  EXPECT_STREQ(state->name, "RasGetEntryPropertiesA");
  ASSERT_EQ(state->argc, 6u);
  const char* pbk = reinterpret_cast<const char*>(state->args[0]);
  EXPECT_STREQ(pbk, "pbk");
  EXPECT_STREQ(reinterpret_cast<const char*>(state->args[1]), "Office");
  EXPECT_EQ(state->args[2], Arg(entryBuf));
  EXPECT_EQ(state->args[3], Arg(&entrySize));
  EXPECT_EQ(state->args[4], Arg(deviceBuf));
  EXPECT_EQ(state->args[5], Arg(&deviceSize));

  EXPECT_EQ(RasSetEntryProperties(nullptr, "Home", entryBuf, 1768, deviceBuf, 3), FakeResult(16, false, false));
  EXPECT_STREQ(state->name, "RasSetEntryPropertiesA");
  EXPECT_EQ(state->args[0], 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(state->args[1]), "Home");
  EXPECT_EQ(state->args[3], 1768u);
  EXPECT_EQ(state->args[5], 3u);

  TRasCtryInfo info{};
  DWORD size = sizeof info;
  EXPECT_EQ(RasGetCountryInfo(&info, &size), FakeResult(17, false, false));
  EXPECT_STREQ(state->name, "RasGetCountryInfoA");
  ASSERT_EQ(state->argc, 2u);
  EXPECT_EQ(state->args[0], Arg(&info));
  EXPECT_EQ(state->args[1], Arg(&size));

  TRasDevInfoA devices[2]{};
  DWORD bytes = sizeof devices, count = 0;
  EXPECT_EQ(RasEnumDevices(devices, &bytes, &count), FakeResult(18, false, false));
  EXPECT_STREQ(state->name, "RasEnumDevicesA");
  ASSERT_EQ(state->argc, 3u);
  EXPECT_EQ(state->args[0], Arg(devices));
  EXPECT_EQ(state->args[1], Arg(&bytes));
  EXPECT_EQ(state->args[2], Arg(&count));
  EXPECT_EQ(state->calls, 4u);

  EXPECT_FALSE(IsLoaded("rnaph.dll"));
}

TEST(Fallback, AfterChoosingRasapiAMissingExportThrowsWithoutTryingRnaph) {
  UseVariant("no-enumdevices-a");  // rnaph.dll lies beside it
  EXPECT_EQ(CallEntryProperties(), FakeResult(15, false, false));
  ASSERT_TRUE(rnaph_initialized);
  ASSERT_FALSE(is_rnaph);

  EXPECT_EQ(ThrownMessage([] {
              DWORD bytes = 0, count = 0;
              RasEnumDevices(nullptr, &bytes, &count);
            }),
            "Function RasEnumDevices not found!");
  EXPECT_FALSE(IsLoaded("rnaph.dll"));
  EXPECT_TRUE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
  // The choice holds for the others.
  EXPECT_EQ(CallCountryInfo(), FakeResult(17, false, false));
}

TEST(Fallback, ChoosesRnaphWhenRasapiLacksTheAnsiExport) {
  UseVariant("rnaph");  // rasapi32.dll without RasGetCountryInfoA
  TRasCtryInfo info{};
  DWORD size = sizeof info;
  EXPECT_EQ(RasGetCountryInfo(&info, &size), FakeResult(17, false, true));
  EXPECT_TRUE(rnaph_initialized);
  EXPECT_TRUE(is_rnaph);
  ASSERT_EQ(lib, GetModuleHandleA("rnaph.dll"));
  FakeRasState* state = StateOf(lib);
  ASSERT_NE(state, nullptr);
  EXPECT_STREQ(state->file, "rnaph.dll");
  EXPECT_STREQ(state->name, "RasGetCountryInfo");
  EXPECT_EQ(state->args[0], Arg(&info));
  EXPECT_EQ(state->args[1], Arg(&size));
  // The reference rasapi32.dll got for the attempt is not kept.
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));

  // Later lookups take the plain names from rnaph.dll, even where
  // rasapi32.dll has the ANSI export.
  EXPECT_EQ(CallEntryProperties(), FakeResult(15, false, true));
  EXPECT_STREQ(state->name, "RasGetEntryProperties");
  EXPECT_EQ(RasSetEntryProperties(nullptr, "X", nullptr, 0, nullptr, 0), FakeResult(16, false, true));
  DWORD bytes = 0, count = 0;
  EXPECT_EQ(RasEnumDevices(nullptr, &bytes, &count), FakeResult(18, false, true));
  EXPECT_STREQ(state->name, "RasEnumDevices");
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));

  // The unit's finalisation releases rnaph.dll.
  Ras2Finalization();
  EXPECT_FALSE(IsLoaded("rnaph.dll"));
}

TEST(Fallback, RasapiFailingToLoadThrowsEvenWithRnaphPresent) {
  RAS2_SKIP_UNLESS_ABSENT("rasapi32.dll");
  UseVariant("rnaph-only");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(ThrownMessage(CallCountryInfo), "Error opening rasapi.dll");
    EXPECT_FALSE(rnaph_initialized);
    EXPECT_FALSE(is_rnaph);
    EXPECT_EQ(lib, HMODULE{});
    EXPECT_FALSE(IsLoaded("rnaph.dll"));
  }
  // Still undecided: once rasapi32.dll can be had, it is chosen.
  UseVariant("full");
  EXPECT_EQ(CallCountryInfo(), FakeResult(17, false, false));
  EXPECT_TRUE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
}

TEST(Fallback, RnaphLackingThePlainNameThrowsAndStaysUndecided) {
  UseVariant("rnaph-lacking");  // neither has the country function
  EXPECT_EQ(ThrownMessage(CallCountryInfo), "Function RasGetCountryInfo not found!");
  EXPECT_FALSE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
  // The failed attempt keeps no library loaded.
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));
  EXPECT_FALSE(IsLoaded("rnaph.dll"));

  // The next call starts over at rasapi32.dll, which has this one.
  EXPECT_EQ(CallEntryProperties(), FakeResult(15, false, false));
  EXPECT_TRUE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
  EXPECT_EQ(lib, GetModuleHandleA("rasapi32.dll"));
  EXPECT_FALSE(IsLoaded("rnaph.dll"));
}

TEST(Fallback, MissingRnaphThrowsAndStaysUndecided) {
  RAS2_SKIP_UNLESS_ABSENT("rnaph.dll");
  UseVariant("no-rnaph");  // rasapi32.dll without RasGetCountryInfoA, no rnaph.dll
  EXPECT_EQ(ThrownMessage(CallCountryInfo), "Error opening rnaph.dll");
  EXPECT_FALSE(rnaph_initialized);
  EXPECT_FALSE(is_rnaph);
  EXPECT_EQ(lib, HMODULE{});
  EXPECT_FALSE(IsLoaded("rasapi32.dll"));
  // And again, from the start.
  EXPECT_EQ(ThrownMessage(CallCountryInfo), "Error opening rnaph.dll");
  EXPECT_EQ(CallEntryProperties(), FakeResult(15, false, false));
  EXPECT_TRUE(rnaph_initialized);
}

TEST(Fallback, ChoiceHoldsItsOwnReferenceApartFromInitRas) {
  UseVariant("full");
  ASSERT_TRUE(InitRas());
  EXPECT_EQ(CallEntryProperties(), FakeResult(15, false, false));
  EXPECT_EQ(lib, hLib);
  // The component's reference goes; the fallback's keeps the library.
  CloseRas();
  EXPECT_TRUE(IsLoaded("rasapi32.dll"));
  EXPECT_EQ(CallCountryInfo(), FakeResult(17, false, false));
  // Finalisation leaves a chosen rasapi32.dll alone.
  Ras2Finalization();
  EXPECT_TRUE(IsLoaded("rasapi32.dll"));
  EXPECT_EQ(CallCountryInfo(), FakeResult(17, false, false));
}

// ---- finalisation: once, from the unit table or else at exit.
// The stand-in rnaph.dll reports "[rnaph.dll loaded]" and "[rnaph.dll
// unloaded]" on the error stream as it really comes and goes; an exit handler
// installed before the binding's own marks the end with "[exit]".

namespace {
void MarkExit() {
  std::fputs("[exit]", stderr);
  std::fflush(stderr);
  std::_Exit(0);
}
}  // namespace

TEST(Ras2FinalizationDeathTest, ReleasesRnaphAtExitWhenNoUnitTableDid) {
  EXPECT_EXIT(
      {
        UseVariant("rnaph");
        std::atexit(MarkExit);
        CallCountryInfo();
        std::exit(0);
      },
      testing::ExitedWithCode(0), testing::HasSubstr("[rnaph.dll loaded][rnaph.dll unloaded][exit]"));
}

TEST(Ras2FinalizationDeathTest, RunsOnlyOnceAfterTheUnitTableRanIt) {
  EXPECT_EXIT(
      {
        UseVariant("rnaph");
        std::atexit(MarkExit);
        CallCountryInfo();
        // Somebody else holds two more references to rnaph.dll.
        const HMODULE other = LoadLibraryA("rnaph.dll");
        LoadLibraryA("rnaph.dll");
        Ras2Finalization();  // the package's unit table: gives back the binding's
        Ras2Finalization();  // a second call does nothing
        FreeLibrary(other);
        std::fputs("[mid]", stderr);
        FreeLibrary(other);  // the last reference: unloads here, not at exit
        std::exit(0);
      },
      testing::ExitedWithCode(0), testing::HasSubstr("[rnaph.dll loaded][mid][rnaph.dll unloaded][exit]"));
}
