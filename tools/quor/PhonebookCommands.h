// The commands that list and change phonebook entries and stored dial parameters.
#pragma once

#include "tools/quor/Cli.h"

namespace quortool {

int RunEntries(const Args& args);
int RunEntryCreate(const Args& args);
int RunEntryEdit(const Args& args);
int RunEntryRename(const Args& args);
int RunEntryDelete(const Args& args);
int RunParamsGet(const Args& args);
int RunParamsSet(const Args& args);

}  // namespace quortool
