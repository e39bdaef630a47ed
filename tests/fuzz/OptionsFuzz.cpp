// Fuzz target of quor's command line: the input's lines as the arguments.
// Every command line is either refused as a usage error or parsed into the
// command's own options and an argument count the command takes, the same
// way each time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/quor/Cli.h"
#include "tools/quor/CommandTable.h"
#include "tools/quor/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quortool;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> tokens;
  for (size_t at = 0; at <= text.size() && tokens.size() < 64;) {
    const size_t nl = text.find('\n', at);
    tokens.push_back(text.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  // No option may change the process for the next input.
  for (const std::string& t : tokens)
    if (t.rfind("--backend", 0) == 0 || t.rfind("--log", 0) == 0) return 0;
  std::optional<Args> args, again;
  try {
    args = ParseCommandLine(tokens);
  } catch (const UsageError&) {
    return 0;
  }
  again = ParseCommandLine(tokens);
  if (args.has_value() != again.has_value()) std::abort();
  if (!args) return 0;
  const CommandSpec* spec = FindCommand(args->command);
  if (spec == nullptr) std::abort();
  if (args->positional.size() < spec->minArgs || args->positional.size() > spec->maxArgs) std::abort();
  for (const auto& [name, value] : args->values) {
    const OptionSpec* o = FindOption(spec->options, name);
    if (o == nullptr || o->value == nullptr) std::abort();
  }
  for (const std::string& name : args->flags) {
    const OptionSpec* o = FindOption(spec->options, name);
    if (o == nullptr || o->value != nullptr) std::abort();
  }
  if (args->positional != again->positional || args->values != again->values || args->flags != again->flags)
    std::abort();
  return 0;
}
