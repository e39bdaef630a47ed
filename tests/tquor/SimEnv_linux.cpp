#include <cstdlib>

#include "SimEnv.h"

void SetSimEnv(const std::string& Name, const std::string& Value) {
  setenv(Name.c_str(), Value.c_str(), 1);
}
