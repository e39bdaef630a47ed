// What the commands share: the entry argument, lists and results in text or
// JSON, the warning about the system's RAS, field widths and the password.
#include "tools/quor/CommandSupport.h"

#include <cstdlib>

#include "Ras2/RasContract.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Json.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasDirect.h"

namespace quortool {

const std::string& EntryArg(const Args& args, size_t index) {
  const std::string& entry = args.positional.at(index);
  if (entry.empty()) throw UsageError("the entry name is empty");
  CheckLength("the entry name '" + Printable(entry.substr(0, 24)) + "...'", entry, RAS_MaxEntryName);
  return entry;
}

void PrintList(Output& out, const char* key, const std::vector<std::string>& items) {
  if (out.Json()) {
    out.Object(JsonObject().Add(key, items));
    return;
  }
  for (const auto& item : items) out.Line(DisplayName(item));
}

void Done(Output& out, const char* action, const std::string& entry, const std::string& text) {
  if (out.Json()) {
    out.Object(JsonObject().Add("result", action).Add("entry", entry));
  } else {
    out.Progress(text);
  }
}

void WarnIfSystemRas(Output& out) {
  const RasLibraryInfo library = LoadedRasLibrary();
  if (library.loaded && !library.simulated) {
    out.Warning("this is the system's RAS (" + library.path + "), not Quor's simulated RAS service");
  }
}

void CheckLength(const std::string& what, const std::string& text, size_t max) {
  if (text.size() > max) {
    throw UsageError(what + " is longer than " + std::to_string(max) + " bytes");
  }
}

std::optional<std::string> TakeEnvPassword() {
  const char* env = std::getenv("QUOR_PASSWORD");
  if (env == nullptr) return std::nullopt;
  std::string password(env);
  platform::ForgetEnv("QUOR_PASSWORD");
  return password;
}

std::optional<std::string> ReadPassword(const Args& args) {
  if (args.Flag("--password-stdin")) {
    std::string line;
    if (!platform::ReadSecretLine("Password: ", line)) {
      throw UsageError("--password-stdin: standard input ended before a password line");
    }
    return line;
  }
  return TakeEnvPassword();
}

}  // namespace quortool
