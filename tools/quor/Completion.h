// The bash completion script for quor, rendered from the command table.
#pragma once

#include <string>

namespace quortool {

std::string BashCompletion();

}  // namespace quortool
