#include <sys/resource.h>

#include <cstdlib>

#include "bench/BenchPlatform.h"

namespace quorbench {

void SetEnv(const std::string& Name, const std::string& Value) {
  setenv(Name.c_str(), Value.c_str(), 1);
}

uint64_t PeakRssKiB() {
  struct rusage usage {};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss);  // KiB on Linux
}

}  // namespace quorbench
