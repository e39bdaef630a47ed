// Owner marks (Linux): a lock file held with flock(2) for the process's
// life; the kernel lets go of it when the last descriptor of its open file
// closes, which at the latest is when the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>

#include "RasSim/common/Lasting.h"
#include "RasSim/common/Platform.h"

namespace rassim::platform {

namespace {

// 64 random bits as 16 hex digits.
std::string NewTag() {
  uint64_t v = 0;
  if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    v = (static_cast<uint64_t>(ts.tv_sec) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^
        (static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull);
  }
  char tag[20];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(v));
  return tag;
}

}  // namespace

namespace {

// This process's owner mark: its tag and the open lock files of the folders
// it holds one in. Kept in storage static destruction never touches, so that
// work done while the library unloads finds it whole; the files close when
// the process ends, or when the library is unloaded for good (the swap that
// empties a Lasting hands the files to a temporary, which closes them).
struct OwnerMarks {
  std::mutex lock;
  pid_t pid = 0;  // the process the tag belongs to (a forked child makes its own)
  std::string tag;
  std::map<std::pair<dev_t, ino_t>, int> held;  // folder -> lock file
  OwnerMarks() = default;
  OwnerMarks(const OwnerMarks&) = delete;
  OwnerMarks& operator=(const OwnerMarks&) = delete;
  ~OwnerMarks() {
    for (auto& kv : held) close(kv.second);
  }
};

void swap(OwnerMarks& a, OwnerMarks& b) noexcept {
  std::swap(a.pid, b.pid);
  a.tag.swap(b.tag);
  a.held.swap(b.held);
}

OwnerMarks& Marks() {
  static Lasting<OwnerMarks> marks;
  return *marks;
}

// Under the marks' lock: this process's tag, new after a fork (the child's
// copies of its parent's lock files are closed; the parent keeps its locks).
const std::string& TagLocked(OwnerMarks& m) {
  if (m.pid != getpid()) {
    for (auto& kv : m.held) close(kv.second);
    m.held.clear();
    m.pid = getpid();
    m.tag = NewTag();
  }
  return m.tag;
}

std::string MarkName(const std::string& tag) {
  return "owner-" + tag;
}

}  // namespace

std::string OwnerTag() {
  OwnerMarks& m = Marks();
  std::lock_guard<std::mutex> held(m.lock);
  return TagLocked(m);
}

bool HoldOwnerMark(const PrivateDir& dir) {
  const int dirFd = static_cast<int>(dir.handle_);
  struct stat st;
  if (dir.handle_ < 0 || fstat(dirFd, &st) != 0) return false;
  OwnerMarks& m = Marks();
  std::lock_guard<std::mutex> held(m.lock);
  const std::string name = MarkName(TagLocked(m));
  auto it = m.held.find({st.st_dev, st.st_ino});
  if (it != m.held.end()) {
    // Still ours under that name (nobody removes a mark that is held).
    struct stat mine, there;
    if (fstat(it->second, &mine) == 0 && fstatat(dirFd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        mine.st_ino == there.st_ino && mine.st_dev == there.st_dev)
      return true;
    close(it->second);
    m.held.erase(it);
  }
  int fd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  m.held[{st.st_dev, st.st_ino}] = fd;
  return true;
}

namespace {

// Opens the mark of `tag` and tries its lock: -1 when there is no mark (or it
// is not a file of ours); else the open file, `free` telling whether the lock
// could be had.
int ProbeMark(intptr_t dirHandle, const std::string& tag, bool& free) {
  free = true;
  if (dirHandle < 0 || tag.empty()) return -1;
  const int fd =
      openat(static_cast<int>(dirHandle), MarkName(tag).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  free = flock(fd, LOCK_SH | LOCK_NB) == 0;
  return fd;
}

}  // namespace

bool OwnerMarkHeld(const PrivateDir& dir, const std::string& tag) {
  bool free = true;
  const int fd = ProbeMark(dir.handle_, tag, free);
  if (fd >= 0) close(fd);
  return !free;
}

void RemoveOwnerMarkIfGone(const PrivateDir& dir, const std::string& tag) {
  bool free = true;
  const int fd = ProbeMark(dir.handle_, tag, free);
  if (fd < 0) return;
  if (free) unlinkat(static_cast<int>(dir.handle_), MarkName(tag).c_str(), 0);
  close(fd);
}

}  // namespace rassim::platform
