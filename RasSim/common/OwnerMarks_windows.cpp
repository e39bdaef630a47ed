// Owner marks (Windows): a file the process keeps open without sharing for
// its life; the system closes it when the process ends, however it ends.
#include <windows.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "RasSim/common/Lasting.h"
#include "RasSim/common/Platform.h"

namespace rassim::platform {

namespace {

// 64 bits no other process of the machine draws: the process id and the
// performance counter at the draw.
std::string NewTag() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const unsigned long long v = (static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull) ^
                               (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
  char tag[20];
  std::snprintf(tag, sizeof tag, "%016llx", v);
  return tag;
}

}  // namespace

namespace {

// This process's owner mark: its tag and the files it holds open, without
// sharing, in the folders it has a mark in. Kept in storage static destruction
// never touches, so that work done while the library unloads finds it whole;
// the system closes the files when the process ends, and they are closed when
// the library is unloaded for good (the swap that empties a Lasting hands them
// to a temporary, which closes them).
struct OwnerMarks {
  std::mutex lock;
  std::string tag;
  std::map<std::string, HANDLE> held;  // folder -> mark
  OwnerMarks() = default;
  OwnerMarks(const OwnerMarks&) = delete;
  OwnerMarks& operator=(const OwnerMarks&) = delete;
  ~OwnerMarks() {
    for (auto& kv : held) CloseHandle(kv.second);
  }
};

void swap(OwnerMarks& a, OwnerMarks& b) noexcept {
  a.tag.swap(b.tag);
  a.held.swap(b.held);
}

OwnerMarks& Marks() {
  static Lasting<OwnerMarks> marks;
  return *marks;
}

const std::string& TagLocked(OwnerMarks& m) {
  if (m.tag.empty()) m.tag = NewTag();
  return m.tag;
}

std::string MarkPath(const PrivateDir& dir, const std::string& tag) {
  return JoinPath(dir.Path(), "owner-" + tag);
}

}  // namespace

std::string OwnerTag() {
  OwnerMarks& m = Marks();
  std::lock_guard<std::mutex> held(m.lock);
  return TagLocked(m);
}

bool HoldOwnerMark(const PrivateDir& dir) {
  if (dir.handle_ == -1) return false;
  OwnerMarks& m = Marks();
  std::lock_guard<std::mutex> held(m.lock);
  const std::string path = MarkPath(dir, TagLocked(m));
  auto it = m.held.find(dir.Path());
  if (it != m.held.end()) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    CloseHandle(it->second);
    m.held.erase(it);
  }
  // Shared with nobody: every other open fails while this process lives.
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  m.held[dir.Path()] = h;
  return true;
}

bool OwnerMarkHeld(const PrivateDir& dir, const std::string& tag) {
  if (dir.handle_ == -1 || tag.empty()) return false;
  HANDLE h =
      CreateFileA(MarkPath(dir, tag).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return false;
}

void RemoveOwnerMarkIfGone(const PrivateDir& dir, const std::string& tag) {
  // A mark that is held cannot be removed.
  if (dir.handle_ != -1 && !tag.empty()) DeleteFileA(MarkPath(dir, tag).c_str());
}

}  // namespace rassim::platform
