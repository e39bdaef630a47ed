// The running `quor dial` processes of this user. A dialler in its redial
// pause holds no RAS connection, so RAS cannot hang it up; each dialler notes
// its process and entry in a private folder, and `quor hangup` asks it to
// stop as Ctrl-C would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quortool {

struct Dialler {
  uint32_t pid = 0;
  std::string entry;
};

// Notes this process as the dialler of an entry for as long as it lives.
class DiallerNote {
 public:
  explicit DiallerNote(const std::string& entry);
  ~DiallerNote();
  DiallerNote(const DiallerNote&) = delete;
  DiallerNote& operator=(const DiallerNote&) = delete;

 private:
  std::string fPath;
};

// The diallers still running (notes of ended processes are removed), except this process.
std::vector<Dialler> RunningDiallers();
// Asks a dialler to stop and waits up to waitMs for it to end; true when it has.
bool StopDialler(const Dialler& dialler, uint32_t waitMs);

}  // namespace quortool
