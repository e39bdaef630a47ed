// The commands about the RAS library itself: quor --version (which
// rasapi32.dll a command loads) and the simulated service's reset.
#include "tools/quor/RasLibraryCommands.h"

#include "TQuorComponent/TQuorComponent.h"
#include "tools/quor/CommandTable.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Json.h"
#include "tools/quor/Output.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"

namespace quortool {

int RunVersion() {
  Output out(GlobalOutput().json);
  // Which rasapi32.dll this process loads: the same one every command would.
  ConsolePresenter silent(out);
  silent.Hold(true);
  TMessagePresenter* previous = SetMessagePresenter(&silent);
  std::string library;
  {
    TQuor quor(nullptr);
    library = LoadedRasLibrary().Describe();
  }
  SetMessagePresenter(previous);
  if (out.Json()) {
    out.Object(JsonObject().Add("version", VersionNumber()).Add("backends", BackendNames()).Add("rasapi32", library));
    return kExitOk;
  }
  std::string text = VersionText();
  text.pop_back();
  out.Line(text);
  out.Line("rasapi32.dll: " + library);
  return kExitOk;
}

int RunSimReset(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  const RasLibraryInfo library = LoadedRasLibrary();
  if (!library.simulated) {
    throw Failure(kExitFailed,
                  "'quor sim reset' needs Quor's simulated RAS service; this process loaded the "
                  "system's rasapi32.dll from " +
                      library.path);
  }
  if (const uint32_t code = ResetSimulatedService(); code != 0) {
    throw RasRefused("the simulated RAS service could not reset its attempt counters", code);
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "reset"));
  } else {
    out.Progress("Cleared the attempt counters of the simulated RAS service.");
  }
  return kExitOk;
}

}  // namespace quortool
