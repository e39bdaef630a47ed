#include "tools/quor/Diallers.h"

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

}  // namespace

DiallerNote::DiallerNote(const std::string& entry) {
  const std::string folder = platform::DiallerFolder();
  if (folder.empty()) return;  // no private folder: this dialler cannot be reached, nothing else changes
  const uint32_t pid = platform::CurrentProcessId();
  const fs::path path = fs::path(folder) / (kPrefix + std::to_string(pid));
  const fs::path temporary = fs::path(folder) / ("." + std::string(kPrefix) + std::to_string(pid));
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << pid << "\n" << platform::ProcessStamp(pid) << "\n" << entry;
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
    std::string pidText, stamp, entry;
    std::getline(file, pidText);
    std::getline(file, stamp);
    std::getline(file, entry, '\0');
    Dialler d;
    d.pid = static_cast<uint32_t>(std::strtoul(pidText.c_str(), nullptr, 10));
    d.entry = entry;
    if (d.pid == platform::CurrentProcessId()) continue;
    if (d.pid == 0 || stamp.empty() || platform::ProcessStamp(d.pid) != stamp) {
      fs::remove(item.path(), ec);  // its process has ended
      continue;
    }
    diallers.push_back(d);
  }
  return diallers;
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
