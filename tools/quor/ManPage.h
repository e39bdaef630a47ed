// quor's manual page (roff), rendered from the command table.
#pragma once

#include <string>

namespace quortool {

std::string ManPage();

}  // namespace quortool
