// The module's exports on ELF platforms. "Register" is also the name of the
// component unit's C++ registration routine, so the exported C function gets
// a name of its own in C++ and the symbol name "Register" through an asm label.
#include "TQuor30/TQuor30.h"

#define TQUOR30_EXPORT extern "C" __attribute__((visibility("default")))

TQUOR30_EXPORT const PackageInfoTable* GetPackageInfoTable(void) {
  return TQuor30GetPackageInfoTable();
}
TQUOR30_EXPORT void Initialize(void) {
  TQuor30Initialize();
}
TQUOR30_EXPORT void Finalize(void) {
  TQuor30Finalize();
}

TQUOR30_EXPORT void TQuor30RegisterExport(void) __asm__("Register");
void TQuor30RegisterExport(void) {
  TQuor30Register();
}
