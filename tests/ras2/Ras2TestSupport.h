// Helpers shared by the loader tests: choosing a stand-in library variant,
// reading its call record, the table of the 47 entry-point variables, and
// the per-platform test hooks.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "Ras2/Ras2.h"
#include "tests/ras2/FakeRasapi.h"

namespace ras2test {

// Folder of one stand-in variant (built beside the test programs).
std::string VariantDir(const std::string& variant);
// Points the library search at that variant: the test programs' own folder
// holds no RAS library, so LoadLibraryA then finds the variant's copy.
void UseVariant(const std::string& variant);

// The call record of a loaded stand-in library, or nullptr when the module
// is not one of ours.
FakeRasState* StateOf(HMODULE module);
// True while a module of that file name is loaded in the process.
bool IsLoaded(const char* file);

// One entry-point variable, reachable without knowing its type.
using Untyped = void (*)();
struct EntryVariable {
  const char* variable;    // "RasDial"
  const char* exportName;  // "RasDialA": the export it is bound to
  int family;              // 1..18 in binding order
  bool wide;
  bool neutral;
  Untyped (*get)();
  void (*set)(Untyped);
};
// All 47, in binding order.
const std::vector<EntryVariable>& EntryVariables();
const EntryVariable& Variable(const std::string& name);

// ---- per-platform hooks (Ras2TestSupport_<platform>.cpp)

// True when the test programs see no RAS library beyond the executable's
// folder and the folder given to SetDllDirectoryA, so that "library
// missing" can be arranged. On Linux the programs confine the search; on
// Windows the system folder may well provide rasapi32.dll.
bool LibrarySearchConfined();

// The fault raised by an injected lookup failure.
struct LookupFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// From now on every GetProcAddress for exportName raises LookupFault.
// False where the platform cannot inject it.
bool InjectLookupFault(const std::string& exportName);
void ClearLookupFaults();

}  // namespace ras2test

namespace ras2test {
// True when, with the search pointed at the empty variant, `file` does not
// load at all (the probe releases whatever it loaded).
bool CanBeAbsent(const char* file);
}  // namespace ras2test

// Skips the running test where the system supplies `file` anyway; where the
// test programs confine the search that would be a fault, so it fails.
#define RAS2_SKIP_UNLESS_ABSENT(file)                                                                       \
  do {                                                                                                      \
    if (!ras2test::CanBeAbsent(file)) {                                                                     \
      ASSERT_FALSE(ras2test::LibrarySearchConfined()) << file << " loads from outside the variant folders"; \
      GTEST_SKIP() << "the system provides " << file;                                                       \
    }                                                                                                       \
  } while (0)
