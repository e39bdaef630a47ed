// Linux (POSIX) implementation of the RasSim platform interface.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <utility>

#include "RasSim/common/Lasting.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Secret.h"

namespace rassim::platform {

// Event handle values of the Win32 subset are never reused in a process.
HANDLE HoldEvent(HANDLE event) {
  return event;
}

void ReleaseEvent(HANDLE) {}

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

char PathSeparator() {
  return '/';
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string DirName(const std::string& path) {
  size_t p = path.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return path.substr(0, p);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return path;
  return JoinPath(buf, path);
}

std::string CanonicalPath(const std::string& path) {
  char buf[PATH_MAX];
  if (!path.empty() && realpath(path.c_str(), buf)) return buf;
  return AbsolutePath(path);
}

bool MakeDirs(const std::string& path, bool privateDir) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = DirName(path);
  if (parent != path && parent != "." && parent != "/") MakeDirs(parent, privateDir);
  if (mkdir(path.c_str(), privateDir ? 0700 : 0755) == 0) return true;
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads an open file to its end into contents and closes it.
static ReadResult ReadAllAndClose(int fd, std::string& contents) {
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      contents.clear();
      return ReadResult::CannotRead;
    }
    if (n == 0) break;
    // The credential file is read so too: none of it stays behind in memory given back.
    AppendWiping(contents, buf, static_cast<size_t>(n));
  }
  close(fd);
  WipeMemory(buf, sizeof buf);
  return ReadResult::Ok;
}

ReadResult ReadFile(const std::string& path, std::string& contents) {
  contents.clear();
  // Without blocking: a named pipe or a device in a file's place is refused, never waited on.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::NotFound : ReadResult::CannotOpen;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    close(fd);
    return folder ? ReadResult::CannotRead : ReadResult::NotAFile;
  }
  return ReadAllAndClose(fd, contents);
}

bool StampOfFile(const std::string& path, FileStamp& out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  const auto ns = [](const timespec& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
  };
  out.size = static_cast<uint64_t>(st.st_size);
  out.modified = ns(st.st_mtim);
  out.changed = ns(st.st_ctim);
  out.id = static_cast<uint64_t>(st.st_ino);
  out.device = static_cast<uint64_t>(st.st_dev);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return StampSettled(out, ns(now));
}

namespace {

std::string BaseName(const std::string& path) {
  size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

// The file a path finally names, following symbolic links (a relative
// target is taken from the link's own folder). A path that is no link, or a
// link that cannot be read, is its own target.
std::string FollowLinks(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    char buf[PATH_MAX];
    ssize_t n = readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return p;
    std::string target(buf, static_cast<size_t>(n));
    p = target[0] == '/' ? target : JoinPath(DirName(p), target);
  }
  return p;
}

// 64 random bits as hex: a temporary name no other writer can guess or reuse.
std::string RandomTag() {
  uint64_t v = 0;
  if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
    static std::atomic<uint64_t> sequence{0};
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    v = (static_cast<uint64_t>(ts.tv_sec) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^
        (++sequence * 0x9E3779B97F4A7C15ull);
  }
  char tag[20];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(v));
  return tag;
}

// Removes "<name>.tmp.<pid>.<tag>" files (an empty name: of any file) in the
// folder whose writer process is gone (killed in the middle of a write). The
// caller holds the lock of `name` (of the folder), so no live writer of ours
// is between its create and its rename.
void RemoveStaleTemps(int dirFd, const std::string& name) {
  int listFd = dup(dirFd);
  if (listFd < 0) return;
  DIR* d = fdopendir(listFd);
  if (!d) {
    close(listFd);
    return;
  }
  const std::string prefix = name + ".tmp.";
  while (struct dirent* e = readdir(d)) {
    const char* n = e->d_name;
    const char* digits = nullptr;
    if (!name.empty()) {
      if (std::strncmp(n, prefix.c_str(), prefix.size()) != 0) continue;
      digits = n + prefix.size();
    } else {
      // Any file's temporaries: "<name>.tmp.<pid>.<tag>".
      const char* mark = std::strstr(n, ".tmp.");
      if (mark == nullptr || mark == n) continue;
      digits = mark + 5;
    }
    char* end = nullptr;
    unsigned long pid = std::strtoul(digits, &end, 10);
    if (end == digits || *end != '.' || pid == 0 || pid > 0xFFFFFFFFul) continue;
    if (ProcessAlive(static_cast<uint32_t>(pid))) continue;
    unlinkat(dirFd, n, 0);
  }
  closedir(d);
}

bool WriteAll(int fd, const std::string& contents) {
  const char* p = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Replaces `name` in the folder atomically. A private file ends 0600; an
// existing regular file keeps its mode and, where permitted, its owner; a new
// one gets 0644 less the umask. A symbolic link at `name` is replaced, never
// followed (callers that want to write through links resolve them first).
// True the first time this process asks about a folder: a folder holding
// many files (the connection registry) is then not listed on every write.
bool FirstVisit(int dirFd) {
  struct stat st;
  if (fstat(dirFd, &st) != 0) return true;
  // Also asked by the unload's last writes: kept out of static destruction.
  static Lasting<std::mutex> lock;
  static Lasting<std::set<std::pair<dev_t, ino_t>>> visited;
  std::lock_guard<std::mutex> held(*lock);
  return visited->insert({st.st_dev, st.st_ino}).second;
}

// Removes the stale temporaries of `name` first unless the caller swept them.
bool ReplaceAt(int dirFd, const std::string& name, const std::string& contents, bool privateFile, bool durable,
               bool sweep = true) {
  struct stat old;
  const bool existing = fstatat(dirFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
  if (sweep) RemoveStaleTemps(dirFd, name);
  const std::string tmp = name + ".tmp." + std::to_string(getpid()) + "." + RandomTag();
  const bool keepMode = existing && !privateFile;
  // Created for the owner only; the final mode is set before the rename, so
  // the contents are never readable by more than the target allows.
  int fd = openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  privateFile || keepMode ? 0600 : 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, contents);
  if (ok && privateFile && fchmod(fd, 0600) != 0) ok = false;
  if (ok && keepMode) {
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Not permitted (not root): the file stays ours, and its group if we may.
        if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        }
      }
    }
    if (fchmod(fd, old.st_mode & 07777) != 0) ok = false;
  }
  if (ok && durable && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && renameat(dirFd, tmp.c_str(), dirFd, name.c_str()) != 0) ok = false;
  if (!ok) {
    unlinkat(dirFd, tmp.c_str(), 0);
    return false;
  }
  if (durable) fsync(dirFd);
  return true;
}

}  // namespace

std::string ResolveLinks(const std::string& path) {
  return FollowLinks(path);
}

bool WriteFileAtomic(const std::string& path, const std::string& contents, bool privateFile, bool durable) {
  // Through a symbolic link to its target: the link stays a link.
  const std::string target = FollowLinks(path);
  // A file its owner may not write stays as it is, as a read-only file does on Windows.
  if (FileIsReadOnly(target)) return false;
  int dirFd = open(DirName(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return false;
  bool ok = ReplaceAt(dirFd, BaseName(target), contents, privateFile, durable);
  close(dirFd);
  return ok;
}

// ---------------------------------------------------------------- private folder

PrivateDir::~PrivateDir() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool PrivateDir::Open(const std::string& path, std::string& why) {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
  path_ = path;
  std::string parent = DirName(path);
  if (parent != "." && parent != "/") MakeDirs(parent, true);
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    why = path + ": cannot be created (" + std::strerror(errno) + ")";
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
      why = path + ": is a symbolic link";
    else if (err == ENOTDIR)
      why = path + ": is not a folder";
    else
      why = path + ": cannot be opened (" + std::strerror(err) + ")";
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    close(fd);
    why = path + ": is not a folder";
    return false;
  }
  if (st.st_uid != geteuid()) {
    close(fd);
    why = path + ": belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    return false;
  }
  if ((st.st_mode & 022) != 0) {
    close(fd);
    why = path + ": other users may write to it";
    return false;
  }
  handle_ = fd;
  return true;
}

ReadResult PrivateDir::Read(const std::string& name, std::string& contents) const {
  contents.clear();
  if (handle_ < 0) return ReadResult::CannotOpen;
  // No link is followed, and nothing that could block (a planted pipe).
  int fd = openat(static_cast<int>(handle_), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::NotFound : ReadResult::CannotOpen;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return ReadResult::CannotOpen;  // not a file of ours: not trusted
  }
  return ReadAllAndClose(fd, contents);
}

bool PrivateDir::Write(const std::string& name, const std::string& contents) const {
  if (handle_ < 0) return false;
  // The registry folder holds a file per connection: its stale temporaries
  // are swept once per process, not listed again on every write.
  const int fd = static_cast<int>(handle_);
  if (FirstVisit(fd)) RemoveStaleTemps(fd, std::string());
  return ReplaceAt(fd, name, contents, true, false, false);
}

bool PrivateDir::Overwrite(const std::string& name, const std::string& contents) const {
  if (handle_ < 0) return false;
  constexpr size_t kSector = 512;
  if (!contents.empty() && contents.size() <= kSector) {
    const int fd = openat(static_cast<int>(handle_), name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      struct stat st;
      const bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                        (st.st_mode & 077) == 0 && st.st_nlink == 1 &&
                        static_cast<uint64_t>(st.st_size) == contents.size();
      const bool written =
          same && pwrite(fd, contents.data(), contents.size(), 0) == static_cast<ssize_t>(contents.size());
      if (close(fd) == 0 && written) return true;
    }
  }
  return Write(name, contents);
}

bool PrivateDir::Remove(const std::string& name) const {
  if (handle_ < 0) return false;
  return unlinkat(static_cast<int>(handle_), name.c_str(), 0) == 0 || errno == ENOENT;
}

bool PrivateDir::Rename(const std::string& from, const std::string& to) const {
  const int fd = static_cast<int>(handle_);
  return handle_ >= 0 && renameat(fd, from.c_str(), fd, to.c_str()) == 0;
}

bool PrivateDir::Exists(const std::string& name) const {
  struct stat st;
  return handle_ >= 0 && fstatat(static_cast<int>(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::string> PrivateDir::List() const {
  std::vector<std::string> names;
  if (handle_ < 0) return names;
  int listFd = dup(static_cast<int>(handle_));
  if (listFd < 0) return names;
  DIR* d = fdopendir(listFd);
  if (!d) {
    close(listFd);
    return names;
  }
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    struct stat st;
    if (fstatat(static_cast<int>(handle_), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    names.emplace_back(e->d_name);
  }
  closedir(d);
  return names;
}

bool RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool FileIsPrivate(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & 077) == 0;
}

bool FileIsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    names.emplace_back(e->d_name);
  }
  closedir(d);
  return names;
}

namespace {

// Waits for the exclusive lock on an open lock file; closes it on failure.
bool LockFd(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return false;
    }
  }
  return true;
}

}  // namespace

FileLock::FileLock(const PrivateDir& dir, const std::string& name) {
  if (dir.handle_ < 0) return;
  int fd =
      openat(static_cast<int>(dir.handle_), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return;
  }
  if (!LockFd(fd)) return;
  handle_ = fd;
  held_ = true;
}

namespace {

// How long a lock another process holds is waited for: QUOR_RAS_LOCK_WAIT_MS, else 5 s.
uint64_t LockWaitMs() {
  const std::string v = GetEnv("QUOR_RAS_LOCK_WAIT_MS");
  char* end = nullptr;
  const unsigned long long ms = std::strtoull(v.c_str(), &end, 10);
  return v.empty() || *end != '\0' ? 5000 : ms;
}

uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

FileLock::FileLock(const std::string& lockPath) {
  // The lock file itself, never where a link planted in its place points,
  // and never a pipe or device whose opening could block.
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == ELOOP) why_ = lockPath + ": is a symbolic link";
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    why_ = lockPath + ": is not a regular file";
    return;
  }
  const uint64_t limit = LockWaitMs(), start = MonotonicMs();
  for (uint64_t pauseMs = 1;; pauseMs = pauseMs < 100 ? pauseMs * 2 : 100) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    const uint64_t waited = MonotonicMs() - start;
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= limit) {
      close(fd);
      why_ = lockPath + ": held by another process for more than " + std::to_string(limit) + " ms";
      return;
    }
    const uint64_t nap = std::min(pauseMs, limit - waited);
    timespec ts{static_cast<time_t>(nap / 1000), static_cast<long>(nap % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
  }
  handle_ = fd;
  held_ = true;
}

FileLock::~FileLock() {
  if (handle_ >= 0) {
    flock(static_cast<int>(handle_), LOCK_UN);
    close(static_cast<int>(handle_));
  }
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

bool ProcessAlive(uint32_t pid) {
  if (pid == 0) return false;
  if (kill(static_cast<pid_t>(pid), 0) == 0) return true;
  return errno == EPERM;
}

std::string UserTag() {
  return std::to_string(static_cast<unsigned long>(getuid()));
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool PromptLine(const std::string& prompt, std::string& answer) {
  answer.clear();
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return false;
  std::fputs(prompt.c_str(), tty);
  std::fflush(tty);
  bool got = false;
  for (int c; (c = std::fgetc(tty)) != EOF;) {
    got = true;
    if (c == '\n') break;
    if (c != '\r') answer.push_back(static_cast<char>(c));
  }
  std::fclose(tty);
  return got;
}

}  // namespace rassim::platform
