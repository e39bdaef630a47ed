// Linux (POSIX) implementation of the RasSim platform interface.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "RasSim/Platform.h"

namespace rassim::platform {

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string DefaultConfigDir() {
  std::string xdg = GetEnv("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/quor";
  std::string home = GetEnv("HOME");
  if (home.empty()) home = "/tmp";
  return home + "/.config/quor";
}

std::string DefaultStateDir() {
  std::string run = GetEnv("XDG_RUNTIME_DIR");
  if (!run.empty() && run[0] == '/') return run + "/quor-ras";
  return "/tmp/quor-ras-" + UserTag();
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

bool MakeDirs(const std::string& path, bool privateDir) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = DirName(path);
  if (parent != path && parent != "." && parent != "/") MakeDirs(parent, privateDir);
  if (mkdir(path.c_str(), privateDir ? 0700 : 0755) == 0) return true;
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

ReadResult ReadFile(const std::string& path, std::string& contents) {
  contents.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::NotFound : ReadResult::CannotOpen;
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
    contents.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ReadResult::Ok;
}

bool WriteFileAtomic(const std::string& path, const std::string& contents, bool privateFile, bool durable) {
  static unsigned counter = 0;
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp.%d.%u", static_cast<int>(getpid()),
                __atomic_add_fetch(&counter, 1u, __ATOMIC_RELAXED));
  std::string tmp = path + suffix;
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateFile ? 0600 : 0644);
  if (fd < 0) return false;
  if (privateFile) fchmod(fd, 0600);  // whatever the umask said
  const char* p = contents.data();
  size_t left = contents.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (ok && durable && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  if (durable) {
    int dfd = open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      fsync(dfd);
      close(dfd);
    }
  }
  return true;
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

FileLock::FileLock(const std::string& lockPath) {
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return;
    }
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
