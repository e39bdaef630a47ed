#include <cstdlib>

#include "examples/ExampleEnv.h"

void SetExampleEnv(const std::string& Name, const std::string& Value) {
  setenv(Name.c_str(), Value.c_str(), 1);
}
