// Fuzz target of the dialler notes `quor dial` leaves for `quor hangup` and
// `quor connections`: any text as a note is either a running dialler (only
// when its process id and stamp are of a live process) or removed as stale.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzFolder.h"
#include "tools/quor/Diallers.h"

namespace {

const std::filesystem::path& NoteFolder() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path runtime = fuzzsupport::Folder("diallers_fuzz");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return runtime / "quor";
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quortool::RunningDiallers();  // makes the folder
  const std::filesystem::path note = NoteFolder() / "dial-fuzz";
  fuzzsupport::Write(note, text);
  for (const quortool::Dialler& d : quortool::RunningDiallers()) {
    if (d.pid == 0) std::abort();  // a listed dialler is a live process
    if (quortool::Duration(d.connectedAt > 0 ? 1 : -1).empty()) std::abort();
  }
  std::error_code ec;
  std::filesystem::remove(note, ec);
  return 0;
}
