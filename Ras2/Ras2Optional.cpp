// The optional entry points of rasapi32.dll, looked up by name in the library
// the classic binding loaded; a missing export leaves its variable null.
#include "Ras2/Ras2Optional.h"

#define RAS_OPTIONAL(F, PA, PW, ARGS) \
  T##F##A F##A = nullptr;             \
  T##F##W F##W = nullptr;             \
  T##F F = nullptr;
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) T##F F = nullptr;
#include "Ras2/RasOptionalFunctions.def"

namespace {

template <typename Fn>
Fn Lookup(const char* ExportName) {
  if (hLib == 0) return nullptr;
  FARPROC proc = GetProcAddress(hLib, ExportName);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

int BindRasOptional() {
  int found = 0;
#define RAS_OPTIONAL(F, PA, PW, ARGS) \
  F##A = Lookup<T##F##A>(#F "A");     \
  F##W = Lookup<T##F##W>(#F "W");     \
  F = F##A;                           \
  found += (F##A != nullptr) + (F##W != nullptr);
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) \
  F = Lookup<T##F>(#F);                  \
  found += F != nullptr;
#include "Ras2/RasOptionalFunctions.def"
  return found;
}
