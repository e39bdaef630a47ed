#include "tools/quor/Diallers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Win32/Win32.h"
#include "tools/quor/Platform.h"

namespace quortool {

namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = "dial-";
constexpr uint32_t kStopPollMs = 50;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

DiallerNote::DiallerNote(const std::string& entry) : fEntry(entry) {
  Write(0, 0);
}

void DiallerNote::Connected(uint32_t handle) {
  Write(handle, Now());
}

// The note is replaced whole (written aside, then renamed), so a reader
// never sees half of it.
void DiallerNote::Write(uint32_t handle, int64_t connectedAt) {
  const std::string folder = platform::DiallerFolder();
  if (folder.empty()) return;  // no private folder: this dialler cannot be reached, nothing else changes
  const uint32_t pid = platform::CurrentProcessId();
  // Names built piece by piece: "literal" + <temporary string> makes GCC 12
  // warn (-Wrestrict, a false positive at -O2) in std::string's insert.
  const std::string name = std::string(kPrefix).append(std::to_string(pid));
  const fs::path path = fs::path(folder) / name;
  const fs::path temporary = fs::path(folder) / std::string(".").append(name);
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << pid << "\n" << platform::ProcessStamp(pid) << "\n" << handle << " " << connectedAt << "\n" << fEntry;
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
  std::vector<Dialler> diallers;
  const std::string folder = platform::DiallerFolder();
  if (folder.empty()) return diallers;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder, ec)) {
    if (item.path().filename().string().rfind(kPrefix, 0) != 0) continue;
    std::ifstream file(item.path(), std::ios::binary);
    std::string pidText, stamp, up, entry;
    std::getline(file, pidText);
    std::getline(file, stamp);
    std::getline(file, up);
    std::getline(file, entry, '\0');
    Dialler d;
    d.pid = static_cast<uint32_t>(std::strtoul(pidText.c_str(), nullptr, 10));
    d.entry = entry;
    char* rest = nullptr;
    d.handle = static_cast<uint32_t>(std::strtoul(up.c_str(), &rest, 10));
    d.connectedAt = std::strtoll(rest, nullptr, 10);
    if (d.pid == platform::CurrentProcessId()) continue;
    if (d.pid == 0 || stamp.empty() || platform::ProcessStamp(d.pid) != stamp) {
      fs::remove(item.path(), ec);  // its process has ended
      continue;
    }
    diallers.push_back(d);
  }
  return diallers;
}

int64_t SecondsConnected(const std::vector<Dialler>& diallers, uint32_t handle) {
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
  const std::string stamp = platform::ProcessStamp(dialler.pid);
  if (stamp.empty()) return true;
  if (!platform::RequestStop(dialler.pid)) return false;
  for (uint32_t waited = 0; waited <= waitMs; waited += kStopPollMs) {
    if (platform::ProcessStamp(dialler.pid) != stamp) return true;
    Sleep(kStopPollMs);
  }
  return false;
}

}  // namespace quortool
