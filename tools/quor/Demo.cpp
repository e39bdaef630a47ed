// `quor demo`: a tour of the dialer on a private sample phonebook of the
// simulated RAS service. Everything it needs lives in a temporary folder
// named through the service's environment variables, for this process only;
// the folder is removed at the end, however the demo ends.
#include "tools/quor/Demo.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "tools/quor/Cli.h"
#include "tools/quor/Dial.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"

namespace quortool {

namespace {

namespace fs = std::filesystem;

constexpr const char kDemoEntry[] = "Office";
// Pause between the busy attempt and the redial, in seconds.
constexpr uint8_t kDemoPause = 2;
// The component's fixed pause after every hang-up, in seconds.
constexpr int kHangUpPause = 2;

// The sample phonebook: one modem entry.
constexpr const char kDemoPhonebook[] =
    "; Sample phonebook of the quor demo\n"
    "[Office]\n"
    "PhoneNumber=555-0100\n"
    "DEVICE=modem\n";

// The sample scenario: the first attempt meets a busy line, the second one
// connects, and the line drops two seconds after it came up. Short steps
// keep the whole tour at about ten seconds.
constexpr const char kDemoScenario[] =
    "; Scenario of the quor demo\n"
    "[Office]\n"
    "Outcome=busy\n"
    "FailFirst=1\n"
    "StepDelay=120ms\n"
    "ErrorDelay=300ms\n"
    "DropAfter=2s\n"
    "Teardown=200ms\n";

// The simulated service's settings that the demo points at its own files.
const char* const kServiceVariables[] = {"QUOR_RAS_PHONEBOOK", "QUOR_RAS_CREDENTIALS", "QUOR_RAS_STATE_DIR",
                                         "QUOR_RAS_SCENARIO", "QUOR_RAS_BACKEND"};

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) throw Failure(kExitFailed, "the demo could not write " + path.string());
}

// The temporary folder and the environment pointing at it; undone in the
// destructor, whatever happens in between.
class DemoSetup {
 public:
  DemoSetup() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) throw Failure(kExitFailed, "the demo found no temporary folder: " + ec.message());
    std::random_device random;
    for (int tries = 0; tries < 16 && fDir.empty(); ++tries) {
      char name[32];
      std::snprintf(name, sizeof name, "quor-demo-%08x", static_cast<unsigned>(random()));
      const fs::path candidate = base / name;
      if (fs::create_directory(candidate, ec)) fDir = candidate;
    }
    if (fDir.empty()) throw Failure(kExitFailed, "the demo could not create a folder in " + base.string());
    fs::permissions(fDir, fs::perms::owner_all, fs::perm_options::replace, ec);
    for (const char* name : kServiceVariables) {
      const char* value = std::getenv(name);
      fSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    try {
      WriteFile(fDir / "rasphone.pbk", kDemoPhonebook);
      WriteFile(fDir / "scenario.ini", kDemoScenario);
      fs::create_directory(fDir / "state", ec);
      Set("QUOR_RAS_PHONEBOOK", fDir / "rasphone.pbk");
      Set("QUOR_RAS_CREDENTIALS", fDir / "credentials.dat");
      Set("QUOR_RAS_STATE_DIR", fDir / "state");
      Set("QUOR_RAS_SCENARIO", fDir / "scenario.ini");
      Set("QUOR_RAS_BACKEND", "sim");
    } catch (...) {
      Undo();
      throw;
    }
  }
  ~DemoSetup() { Undo(); }
  DemoSetup(const DemoSetup&) = delete;
  DemoSetup& operator=(const DemoSetup&) = delete;

  const fs::path& Dir() const { return fDir; }

 private:
  void Set(const char* name, const fs::path& value) {
    if (!platform::SetEnv(name, value.string()))
      throw Failure(kExitFailed, std::string("the demo could not set ") + name);
  }

  void Undo() {
    for (const auto& [name, value] : fSaved) {
      if (value) {
        platform::SetEnv(name, *value);
      } else {
        platform::UnsetEnv(name);
      }
    }
    fSaved.clear();
    std::error_code ec;
    if (!fDir.empty()) fs::remove_all(fDir, ec);
    fDir.clear();
  }

  fs::path fDir;
  std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

void Say(Output& out, const std::string& text) {
  if (out.Json()) {
    out.Object(JsonObject().Add("event", "demo").Add("text", text));
  } else {
    out.Progress(text);
  }
}

}  // namespace

int RunDemo(const Args& args) {
  Output out(args.json);
  DemoSetup setup;
  Say(out, "quor demo: a sample phonebook with the entry \"" + std::string(kDemoEntry) +
               "\" for the simulated RAS service, in " + setup.Dir().string() + " (removed afterwards).");
  // The hang-up after the busy signal takes its own 2 seconds before the redial pause starts.
  Say(out, "The first call meets a busy line; quor hangs up (2 seconds), waits " + std::to_string(kDemoPause) +
               " seconds and redials " + std::to_string(kHangUpPause + kDemoPause) +
               " seconds after the busy signal, connects, and a little later the line drops. Ctrl-C hangs up and "
               "ends the demo.");
  int code = kExitOk;
  {
    RasSession session(out);
    if (const RasLibraryInfo library = LoadedRasLibrary(); !library.simulated) {
      throw Failure(kExitNoRas,
                    "the demo needs Quor's simulated RAS service; this process loaded the system's "
                    "rasapi32.dll from " +
                        library.path);
    }
    DialOptions options;
    options.entry = kDemoEntry;
    options.redialAttempts = 1;
    options.redialPause = kDemoPause;
    options.lossIsTheEnd = true;
    code = DialAndMonitor(session, options);
  }
  // The loss of the line is the end of the tour, not a failure.
  if (code == kExitOk) {
    Say(out, "quor demo: done. Try 'quor --help' for the commands.");
    return kExitOk;
  }
  return code;
}

}  // namespace quortool
