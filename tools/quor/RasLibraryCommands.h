// The commands about the RAS library itself: quor --version and `quor sim reset`.
#pragma once

#include "tools/quor/Cli.h"

namespace quortool {

int RunSimReset(const Args& args);
// quor --version.
int RunVersion();

}  // namespace quortool
