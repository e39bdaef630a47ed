// Setting an environment variable of the example's own process (the one
// thing the examples do that differs between platforms).
#pragma once

#include <string>

void SetExampleEnv(const std::string& Name, const std::string& Value);
