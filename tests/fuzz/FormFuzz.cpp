// Fuzz target of the form reader: any text either makes a component or is
// refused with an EFormError, and a component read is written back as a
// text that reads again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "TQuorComponent/TQuorComponent.h"
#include "Vcl/Streaming.h"
#include "Win32/Win32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    RegisterClass(&TQuor::StaticClassInfo());
    // Each component made binds the RAS library and its last one frees it.
    // libFuzzer keeps reading the coverage counters of every module it saw
    // loaded, so one that is unloaded would take them away under it: the
    // run holds a reference of its own (none when no library is found).
    LoadLibraryA("rasapi32.dll");
    return true;
  }();
  (void)registered;
  TMethodNameMap names;
  const TFormMethods methods = names.Methods();
  std::unique_ptr<TComponent> component;
  try {
    component.reset(TextToComponent(std::string(reinterpret_cast<const char*>(data), size), nullptr, &methods));
  } catch (const EFormError&) {
    return 0;
  }
  if (!component) std::abort();
  const String text = ComponentToText(*component, &methods);
  TMethodNameMap again;
  const TFormMethods againMethods = again.Methods();
  try {
    std::unique_ptr<TComponent> reread(TextToComponent(text, nullptr, &againMethods));
  } catch (const EFormError&) {
    std::abort();  // what was written must read
  }
  return 0;
}
