// Stand-in for rasapi32.dll and rnaph.dll in the loader tests. One source,
// built into several variants by compile definitions:
//   FAKE_VARIANT="name"   the variant folder (reported in the call record)
//   FAKE_RNAPH            build rnaph.dll: only the four plain names
//   FAKE_ANSI_ONLY        rasapi32.dll without any wide export
//   FAKE_OMIT_<export>    leave out that one export
// Each entry point records its name and arguments and returns a number that
// names it (see FakeRasapi.h). The entry points are generated from the one
// list of RAS functions, so a function added there is stood in for here too.
#include "tests/ras2/FakeRasapi.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "Ras2/RasContract.h"

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(FAKE_RNAPH)
#define FAKE_PLAIN 1
#define FAKE_FILE "rnaph.dll"
#else
#define FAKE_ANSI 1
#if !defined(FAKE_ANSI_ONLY)
#define FAKE_WIDE 1
#endif
#define FAKE_FILE "rasapi32.dll"
#endif

namespace {

FakeRasState state;

void Identify() {
  std::strncpy(state.variant, FAKE_VARIANT, sizeof state.variant - 1);
  std::strncpy(state.file, FAKE_FILE, sizeof state.file - 1);
}

}  // namespace

// Reports loading and unloading of rnaph.dll, so that a test watching the
// process's output can see when the library really comes and goes. These are
// the module's own load and unload routines, not exit handlers: at process
// exit they run only after every exit handler.
__attribute__((constructor)) static void FakeLoaded() {
  Identify();
#if defined(FAKE_RNAPH)
  std::fputs("[" FAKE_FILE " loaded]", stderr);
#endif
}

__attribute__((destructor)) static void FakeUnloaded() {
#if defined(FAKE_RNAPH)
  std::fputs("[" FAKE_FILE " unloaded]", stderr);
#endif
}

namespace {

template <typename T>
uint64_t Widen(T value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<uintptr_t>(value);
  else
    return static_cast<uint64_t>(value);
}

template <typename... T>
DWORD Record(const char* name, int family, bool wide, T... args) {
  ++state.calls;
  std::memset(state.name, 0, sizeof state.name);
  std::strncpy(state.name, name, sizeof state.name - 1);
  const uint64_t widened[] = {Widen(args)...};
  state.argc = sizeof...(T);
  for (size_t i = 0; i < sizeof...(T) && i < 6; ++i) state.args[i] = widened[i];
#if defined(FAKE_RNAPH)
  return FakeResult(family, wide, true);
#else
  return FakeResult(family, wide, false);
#endif
}

}  // namespace

// FAKE_ON(X) is 1 when X is defined as 1 (a bare compile definition), else 0,
// so that the generated rows below can leave an export out.
#define FAKE_PLACEHOLDER_1 0,
#define FAKE_ON(x) FAKE_ON_1(x)
#define FAKE_ON_1(value) FAKE_ON_2(FAKE_PLACEHOLDER_##value)
#define FAKE_ON_2(arg) FAKE_ON_3(arg 1, 0)
#define FAKE_ON_3(ignored, val, ...) val

// An export is made when its form is built (FAKE_ANSI, FAKE_WIDE, FAKE_PLAIN)
// and not left out by FAKE_OMIT_<export>.
#define FAKE_UNPAREN(...) __VA_ARGS__
#define FAKE_EMIT_10(NAME, FAMILY, WIDE, PARAMS, ARGS)     \
  FAKE_EXPORT DWORD WINAPI NAME PARAMS {                   \
    return Record(#NAME, FAMILY, WIDE, FAKE_UNPAREN ARGS); \
  }
#define FAKE_EMIT_00(...)
#define FAKE_EMIT_01(...)
#define FAKE_EMIT_11(...)
#define FAKE_EMIT(built, omitted, ...) FAKE_EMIT_1(built, omitted, __VA_ARGS__)
#define FAKE_EMIT_1(built, omitted, ...) FAKE_EMIT_##built##omitted(__VA_ARGS__)

FAKE_EXPORT FakeRasState* WINAPI FakeRasGetState() {
  return &state;
}

// Families are numbered from 1 in the order of the list.
namespace {
constexpr int kFamilyBase = __COUNTER__;
}  // namespace
#define FAKE_FAMILY(F, N, PA, PW, ARGS)                                              \
  FAKE_EMIT(FAKE_ON(FAKE_ANSI), FAKE_ON(FAKE_OMIT_##F##A), F##A, N, false, PA, ARGS) \
  FAKE_EMIT(FAKE_ON(FAKE_WIDE), FAKE_ON(FAKE_OMIT_##F##W), F##W, N, true, PW, ARGS)
#define RAS_PLAIN(F, PA, PW, ARGS) FAKE_FAMILY(F, __COUNTER__ - kFamilyBase, PA, PW, ARGS)
#define RAS_GUARDED RAS_PLAIN
// rnaph.dll's plain names are the functions that fall back to it.
#define FAKE_FALLBACK(F, N, PA, PW, ARGS) \
  FAKE_FAMILY(F, N, PA, PW, ARGS)         \
  FAKE_EMIT(FAKE_ON(FAKE_PLAIN), FAKE_ON(FAKE_OMIT_##F), F, N, false, PA, ARGS)
#define RAS_FALLBACK(F, PA, PW, ARGS) FAKE_FALLBACK(F, __COUNTER__ - kFamilyBase, PA, PW, ARGS)
#include "Ras2/RasFunctions.def"
