// `quor monitor`: watch every connection of the machine until a stop request.
#pragma once

#include "tools/quor/Cli.h"

namespace quortool {

int RunMonitor(const Args& args);

}  // namespace quortool
