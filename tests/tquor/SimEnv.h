// Setting the simulated RAS service's environment for this process.
#pragma once

#include <string>

void SetSimEnv(const std::string& Name, const std::string& Value);
