// Linux per-user folders of the RasSim platform interface: where the default
// phonebook, the credential file and the volatile state live, and whether a
// folder is the user's own.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "RasSim/common/Platform.h"

namespace rassim::platform {

bool OwnFolder(const std::string& path, std::string& why) {
  why.clear();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    why = std::string("cannot be examined (") + std::strerror(errno) + ")";
  } else if (S_ISLNK(st.st_mode)) {
    why = "is a symbolic link";
  } else if (!S_ISDIR(st.st_mode)) {
    why = "is not a folder";
  } else if (st.st_uid != geteuid()) {
    why = "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  } else if ((st.st_mode & 022) != 0) {
    why = "other users may write to it";
  }
  return why.empty();
}

namespace {

// The user's home folder: HOME when it names one, else the password
// database's; never a folder other users share. Empty when there is none.
std::string HomeDir() {
  std::string home = GetEnv("HOME");
  if (!home.empty() && home[0] == '/') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  struct passwd pw;
  struct passwd* found = nullptr;
  while (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == ERANGE && buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') return std::string();
  return found->pw_dir;
}

}  // namespace

std::string DefaultConfigDir() {
  std::string xdg = GetEnv("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/quor";
  std::string home = HomeDir();
  return home.empty() ? std::string() : home + "/.config/quor";
}

std::string DefaultStateDir() {
  std::string run = GetEnv("XDG_RUNTIME_DIR");
  if (!run.empty() && run[0] == '/') return run + "/quor-ras";
  // The shared temporary folder's name may be taken by another user first:
  // such a folder is never used; the state then lives under the home folder.
  const std::string shared = "/tmp/quor-ras-" + UserTag();
  std::string why;
  const std::string home = HomeDir();
  if (OwnFolder(shared, why) || home.empty()) return shared;
  const std::string own = home + "/.cache/quor-ras";
  static std::once_flag told;
  std::call_once(told, [&] {
    std::fprintf(stderr, "rasapi32: state folder refused: %s: %s; using %s\n", shared.c_str(), why.c_str(),
                 own.c_str());
  });
  return own;
}

}  // namespace rassim::platform
