// The phonebook, connection and parameter commands, and the option values
// they share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/quor/Cli.h"

namespace quortool {

// Checks a text against the width of its RAS record field, in bytes (usage error when longer).
void CheckLength(const std::string& what, const std::string& text, size_t max);
// The password from standard input (--password-stdin) or QUOR_PASSWORD; none when neither.
std::optional<std::string> ReadPassword(const Args& args);
// QUOR_PASSWORD's value, removed from the environment once read; none when unset.
std::optional<std::string> TakeEnvPassword();

int RunHangUp(const Args& args);
int RunConnections(const Args& args);
int RunStatus(const Args& args);
int RunEntries(const Args& args);
int RunEntryCreate(const Args& args);
int RunEntryEdit(const Args& args);
int RunEntryRename(const Args& args);
int RunEntryDelete(const Args& args);
int RunParamsGet(const Args& args);
int RunParamsSet(const Args& args);
int RunSimReset(const Args& args);
// quor --version.
int RunVersion();

}  // namespace quortool
