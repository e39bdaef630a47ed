// The commands about connections, which work without a readable phonebook.
#pragma once

#include "tools/quor/Cli.h"

namespace quortool {

int RunHangUp(const Args& args);
int RunConnections(const Args& args);
int RunStatus(const Args& args);

}  // namespace quortool
