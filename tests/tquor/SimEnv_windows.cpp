#include <cstdlib>

#include "SimEnv.h"

void SetSimEnv(const std::string& Name, const std::string& Value) {
  _putenv_s(Name.c_str(), Value.c_str());
}
