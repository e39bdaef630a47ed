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
  uint32_t handle = 0;      // the connection, once the line is up
  int64_t connectedAt = 0;  // when it came up, seconds since 1970 (0: not up)
};

// Notes this process as the dialler of an entry for as long as it lives.
class DiallerNote {
 public:
  explicit DiallerNote(const std::string& entry);
  ~DiallerNote();
  // The line is up: notes its handle and the time, for `quor connections` and `quor status`.
  void Connected(uint32_t handle);
  DiallerNote(const DiallerNote&) = delete;
  DiallerNote& operator=(const DiallerNote&) = delete;

 private:
  void Write(uint32_t handle, int64_t connectedAt);
  std::string fEntry;
  std::string fPath;
};

// The diallers still running (notes of ended processes are removed), except this process.
std::vector<Dialler> RunningDiallers();
// The time a connection has been up, as a dialler noted it; -1 when no dialler knows.
int64_t SecondsConnected(const std::vector<Dialler>& diallers, uint32_t handle);
// "1:02:03" (hours:minutes:seconds), "-" for -1.
std::string Duration(int64_t seconds);
// Asks a dialler to stop and waits up to waitMs for it to end; true when it has.
bool StopDialler(const Dialler& dialler, uint32_t waitMs);

}  // namespace quortool
