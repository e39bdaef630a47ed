// Fuzz target of the scenario language: the keys of every section of the
// text, as an entry's scenario, make a dial plan for each kind of device;
// a plan either fails at once or has a step for every event it posts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "RasSim/backends/sim/Scenario.h"
#include "RasSim/common/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rassim::IniDocument doc;
  if (!doc.Parse(std::string(reinterpret_cast<const char*>(data), size))) return 0;
  for (const rassim::IniSection& s : doc.Sections()) {
    rassim::Settings settings;
    for (const rassim::IniLine& l : s.lines)
      if (l.kind == rassim::IniLine::Key) settings[l.key] = l.value;
    for (const char* device : {"modem", "isdn", "vpn"}) {
      for (uint64_t attempt : {1u, 2u, 5u}) {
        const rassim::DialPlan plan = rassim::BuildPlan(settings, device, attempt, "user", "secret", nullptr);
        if (plan.failAtOnce == 0 && plan.steps.empty()) std::abort();
        if (plan.steps.size() > 64) std::abort();
      }
    }
  }
  return 0;
}
