#include "tools/quor/Diallers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Win32/Win32.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"

namespace quortool {

namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = "dial-";
constexpr char kTemporaryPrefix[] = ".dial-";
constexpr uint32_t kStopPollMs = 50;
// A note is written aside and renamed at once; one still aside after this
// long belongs to a dialler that was killed while writing it.
constexpr auto kStaleTemporary = std::chrono::seconds(60);
constexpr unsigned kPersistFlag = 1;
constexpr unsigned kNoReconnectFlag = 2;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The notes of one RAS state folder: "diallers-" and a hash of its path.
std::string Folder() {
  const char* env = std::getenv("QUOR_RAS_STATE_DIR");
  const std::string state = env != nullptr && *env != 0 ? std::string(env) : platform::DefaultStateFolder();
  std::error_code ec;
  fs::path path = fs::weakly_canonical(fs::absolute(state, ec), ec);
  if (ec) path = fs::path(state).lexically_normal();
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const char c : path.string()) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char key[32];
  std::snprintf(key, sizeof key, "diallers-%016llx", static_cast<unsigned long long>(hash));
  return platform::DiallerFolder(key);
}

std::string BootOf(const std::string& space) {
  return space.substr(0, space.find(':'));
}

bool ReadNote(const fs::path& path, Dialler& d, std::string& space) {
  std::ifstream file(path, std::ios::binary);
  std::string pidText, ids, up, entry;
  if (!std::getline(file, pidText) || !std::getline(file, ids) || !std::getline(file, up)) return false;
  std::getline(file, entry, '\0');
  std::getline(file, d.phonebook, '\0');
  d.pid = static_cast<uint32_t>(std::strtoul(pidText.c_str(), nullptr, 10));
  const size_t blank = ids.find(' ');
  d.stamp = ids.substr(0, blank);
  space = blank == std::string::npos ? std::string() : ids.substr(blank + 1);
  d.entry = entry;
  char* rest = nullptr;
  d.handle = static_cast<uint64_t>(std::strtoull(up.c_str(), &rest, 10));
  d.connectedAt = std::strtoll(rest, &rest, 10);
  const unsigned long flags = std::strtoul(rest, nullptr, 10);
  d.persist = (flags & kPersistFlag) != 0;
  d.noReconnect = (flags & kNoReconnectFlag) != 0;
  return d.pid != 0 && !d.stamp.empty();
}

// The diallers of the folder that run in this process's id space. Removes
// the notes of ended diallers and what killed ones left half written; a
// note from another pid namespace of this boot is left to its own.
std::vector<Dialler> Sweep(const std::string& folder) {
  std::vector<Dialler> diallers;
  if (folder.empty()) return diallers;
  const std::string mySpace = platform::ProcessSpace();
  const auto now = fs::file_time_type::clock::now();
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder, ec)) {
    const std::string name = item.path().filename().string();
    std::error_code itemEc;
    if (name.rfind(kTemporaryPrefix, 0) == 0) {
      const auto written = fs::last_write_time(item.path(), itemEc);
      if (!itemEc && now - written > kStaleTemporary) fs::remove(item.path(), itemEc);
      continue;
    }
    if (name.rfind(kPrefix, 0) != 0) continue;
    Dialler d;
    std::string space;
    const bool read = ReadNote(item.path(), d, space);
    if (read && d.pid == platform::CurrentProcessId() && space == mySpace) continue;
    if (read && space != mySpace) {
      if (BootOf(space) == BootOf(mySpace)) continue;  // its ids are not ours to check
    } else if (read && platform::ProcessStamp(d.pid) == d.stamp) {
      diallers.push_back(d);
      continue;
    }
    fs::remove(item.path(), itemEc);  // its process has ended
  }
  return diallers;
}

}  // namespace

bool DiallsEntry(const Dialler& dialler, const std::string& entry, const std::string& phonebook) {
  if (FoldName(dialler.entry) != FoldName(entry)) return false;
  return dialler.phonebook.empty() || phonebook.empty() || dialler.phonebook == phonebook;
}

DiallerNote::DiallerNote(const std::string& entry, bool persist)
    : fEntry(entry), fPhonebook(platform::OwnPhonebookPath()), fPersist(persist) {
  Sweep(Folder());  // the first write cleans up after diallers that are gone
  Write();
}

void DiallerNote::Connected(uint64_t handle) {
  fHandle = handle;
  fConnectedAt = Now();
  Write();
}

void DiallerNote::NoReconnect() {
  fNoReconnect = true;
  Write();
}

// The note is replaced whole (written aside, then renamed), so a reader
// never sees half of it.
void DiallerNote::Write() {
  const std::string folder = Folder();
  if (folder.empty()) return;  // no private folder: this dialler cannot be reached, nothing else changes
  const uint32_t pid = platform::CurrentProcessId();
  // Names built piece by piece: "literal" + <temporary string> makes GCC 12
  // warn (-Wrestrict, a false positive at -O2) in std::string's insert.
  const std::string name = std::string(kPrefix).append(std::to_string(pid));
  const fs::path path = fs::path(folder) / name;
  const fs::path temporary = fs::path(folder) / std::string(".").append(name);
  const unsigned flags = (fPersist ? kPersistFlag : 0u) | (fNoReconnect ? kNoReconnectFlag : 0u);
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << pid << "\n"
         << platform::ProcessStamp(pid) << " " << platform::ProcessSpace() << "\n"
         << fHandle << " " << fConnectedAt << " " << flags << "\n"
         << fEntry << '\0' << fPhonebook;
    if (!file) return;
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (!ec) fPath = path.string();
}

DiallerNote::~DiallerNote() {
  std::error_code ec;
  if (!fPath.empty()) fs::remove(fPath, ec);
}

std::vector<Dialler> RunningDiallers() {
  return Sweep(Folder());
}

int64_t SecondsConnected(const std::vector<Dialler>& diallers, uint64_t handle) {
  for (const Dialler& d : diallers) {
    if (handle != 0 && d.handle == handle && d.connectedAt > 0) return std::max<int64_t>(0, Now() - d.connectedAt);
  }
  return -1;
}

std::string Duration(int64_t seconds) {
  if (seconds < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

bool StopDialler(const Dialler& dialler, uint32_t waitMs) {
  // A process that is not the noted one (ended, or another that got its id) is never asked.
  if (platform::ProcessStamp(dialler.pid) != dialler.stamp) return true;
  if (!platform::RequestStop(dialler.pid, dialler.stamp)) return platform::ProcessStamp(dialler.pid) != dialler.stamp;
  for (uint32_t waited = 0; waited <= waitMs; waited += kStopPollMs) {
    if (platform::ProcessStamp(dialler.pid) != dialler.stamp) return true;
    Sleep(kStopPollMs);
  }
  return false;
}

bool EndReconnects(const Dialler& dialler, uint32_t waitMs) {
  if (!dialler.persist || dialler.noReconnect) return true;
  if (!platform::RequestNoReconnect(dialler.pid, dialler.stamp)) return false;
  for (uint32_t waited = 0; waited <= waitMs; waited += kStopPollMs) {
    bool running = false;
    for (const Dialler& d : RunningDiallers()) {
      if (d.pid != dialler.pid || d.stamp != dialler.stamp) continue;
      if (d.noReconnect) return true;
      running = true;
    }
    if (!running) return true;  // it has ended
    Sleep(kStopPollMs);
  }
  return false;
}

}  // namespace quortool
