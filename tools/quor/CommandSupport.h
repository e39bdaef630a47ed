// What the commands share: the entry argument, lists and results in text or
// JSON, the warning about the system's RAS, field widths and the password.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/quor/Cli.h"
#include "tools/quor/Output.h"

namespace quortool {

// The entry name of positional argument `index`, checked (usage error when empty or too long).
const std::string& EntryArg(const Args& args, size_t index = 0);
// A list of names: a JSON object with `key`, or a line each.
void PrintList(Output& out, const char* key, const std::vector<std::string>& items);
// The end of a command that changed something: a JSON result, or `text`.
void Done(Output& out, const char* action, const std::string& entry, const std::string& text);
// Warns when the RAS in use is the system's, not the simulated service.
void WarnIfSystemRas(Output& out);
// Checks a text against the width of its RAS record field, in bytes (usage error when longer).
void CheckLength(const std::string& what, const std::string& text, size_t max);
// The password from standard input (--password-stdin) or QUOR_PASSWORD; none when neither.
std::optional<std::string> ReadPassword(const Args& args);
// QUOR_PASSWORD's value, removed from the environment once read; none when unset.
std::optional<std::string> TakeEnvPassword();

}  // namespace quortool
