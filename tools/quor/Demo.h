// `quor demo`.
#pragma once

#include "tools/quor/Cli.h"

namespace quortool {

int RunDemo(const Args& args);

}  // namespace quortool
