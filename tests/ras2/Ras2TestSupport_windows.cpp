// Windows hooks of the loader tests: the system folder's rasapi32.dll cannot
// be hidden from the search, and kernel32's GetProcAddress cannot be
// replaced, so the tests that need either skip themselves here.
#include "tests/ras2/Ras2TestSupport.h"

namespace ras2test {

bool LibrarySearchConfined() {
  return false;
}

bool InjectLookupFault(const std::string&) {
  return false;
}

void ClearLookupFaults() {}

}  // namespace ras2test
