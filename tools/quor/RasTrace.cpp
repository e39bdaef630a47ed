// --verbose: every call quor and its TQuor make through Ras2's entry-point
// variables is reported with RAS's answer. Each variable is replaced by a
// function of the same type that calls the bound export and says what it
// returned; a repeat of the same answer by the same function (the status poll
// every half second) is not said again. The functions Ras2 looks up anew on
// every call (entry properties, devices) are reported by their callers.
#include "tools/quor/RasTrace.h"

#include <map>
#include <string>

#include "Ras2/Ras2.h"
#include "tools/quor/Output.h"

namespace quortool {

namespace {

// The exports the taps call.
#define RAS_PLAIN(F, PA, PW, ARGS) T##F##A gBound##F##A = nullptr;
#define RAS_GUARDED(F, PA, PW, ARGS) \
  RAS_PLAIN(F, PA, PW, ARGS)         \
  T##F gBound##F = nullptr;
#include "Ras2/RasFunctions.def"

uint32_t Answered(const char* function, uint32_t code) {
  static std::map<std::string, uint32_t> last;
  const auto it = last.find(function);
  if (it != last.end() && it->second == code) return code;
  last[function] = code;
  std::string text = std::string("RAS: ") + function + " answered " + std::to_string(code);
  if (code != 0 && gBoundRasGetErrorStringA != nullptr) {
    char buf[256] = {0};
    if (gBoundRasGetErrorStringA(code, buf, sizeof buf) == 0 && buf[0] != 0) text += " (" + std::string(buf) + ")";
  }
  Output(GlobalOutput().json).Verbose(text);
  return code;
}

#define RAS_PLAIN(F, PA, PW, ARGS)              \
  DWORD WINAPI Tap##F##A PA {                   \
    return Answered(#F "A", gBound##F##A ARGS); \
  }
#define RAS_GUARDED(F, PA, PW, ARGS)     \
  RAS_PLAIN(F, PA, PW, ARGS)             \
  DWORD WINAPI Tap##F PA {               \
    return Answered(#F, gBound##F ARGS); \
  }
#include "Ras2/RasFunctions.def"

}  // namespace

uint32_t NoteRasAnswer(const char* function, uint32_t code) {
  return Answered(function, code);
}

void TraceRasCalls() {
  // A variable already tapped keeps its export; an unbound one stays null.
#define RAS_PLAIN(F, PA, PW, ARGS)             \
  if (F##A != nullptr && F##A != &Tap##F##A) { \
    gBound##F##A = F##A;                       \
    F##A = &Tap##F##A;                         \
  }
#define RAS_GUARDED(F, PA, PW, ARGS)  \
  RAS_PLAIN(F, PA, PW, ARGS)          \
  if (F != nullptr && F != &Tap##F) { \
    gBound##F = F;                    \
    F = &Tap##F;                      \
  }
#include "Ras2/RasFunctions.def"
}

}  // namespace quortool
