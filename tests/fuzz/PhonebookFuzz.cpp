// Fuzz target of the phonebook text format: any text is either refused as
// corrupt or parsed, and a parsed text is written back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "RasSim/common/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  rassim::IniDocument doc;
  if (!doc.Parse(text)) return 0;
  if (doc.Serialize() != text) std::abort();
  // A change to one key leaves every other line as it was.
  if (!doc.Sections().empty()) {
    doc.Sections().front().Set("QuorFuzz", "1");
    rassim::IniDocument again;
    if (!again.Parse(doc.Serialize())) std::abort();
    if (again.Sections().front().Get("QuorFuzz") != "1") std::abort();
  }
  return 0;
}
