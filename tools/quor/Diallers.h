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
  std::string stamp;  // what tells the noted process from a later one with its pid
  std::string entry;
  std::string phonebook;     // the dialler's phonebook path ("" when it could not tell)
  uint64_t handle = 0;       // the connection, once the line is up
  int64_t connectedAt = 0;   // when it came up, seconds since 1970 (0: not up)
  bool persist = false;      // it dials again when the line is lost (--persist)
  bool noReconnect = false;  // it has given that up: `quor hangup` is hanging its line up
};

// Notes this process as the dialler of an entry for as long as it lives.
// Notes belong to the RAS state folder in use (QUOR_RAS_STATE_DIR): a dialler
// is reached only by quor processes of the same folder.
class DiallerNote {
 public:
  DiallerNote(const std::string& entry, bool persist);
  ~DiallerNote();
  // The line is up: notes its handle and the time, for `quor connections` and `quor status`.
  void Connected(uint64_t handle);
  // The dialler will not dial again once its line is lost.
  void NoReconnect();
  DiallerNote(const DiallerNote&) = delete;
  DiallerNote& operator=(const DiallerNote&) = delete;

 private:
  void Write();
  std::string fEntry;
  std::string fPhonebook;
  std::string fPath;
  uint64_t fHandle = 0;
  int64_t fConnectedAt = 0;
  bool fPersist;
  bool fNoReconnect = false;
};

// Whether a dialler dials this entry of this phonebook (a side with no phonebook path matches by name).
bool DiallsEntry(const Dialler& dialler, const std::string& entry, const std::string& phonebook);
// The diallers still running (notes of ended processes are removed), except this process.
std::vector<Dialler> RunningDiallers();
// The time a connection has been up, as a dialler noted it; -1 when no dialler knows.
int64_t SecondsConnected(const std::vector<Dialler>& diallers, uint64_t handle);
// "1:02:03" (hours:minutes:seconds), "-" for -1.
std::string Duration(int64_t seconds);
// Asks a dialler to stop and waits up to waitMs for it to end; true when it
// has (or the noted process had already ended). Never signals a process that
// merely took the noted one's id.
bool StopDialler(const Dialler& dialler, uint32_t waitMs);
// Asks a dialler that would reconnect after a loss not to, and waits up to
// waitMs for it to say so in its note; true when it has (or need not).
bool EndReconnects(const Dialler& dialler, uint32_t waitMs);

}  // namespace quortool
