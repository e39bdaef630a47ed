#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/rassim/TestPlatform.h"

namespace rassimtest {

void SetEnv(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}
void UnsetEnv(const char* name) {
  unsetenv(name);
}
std::string HelperCommand() {
  return "./rassim_helper";
}

int RunCommand(const std::string& commandLine) {
  int status = std::system(commandLine.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string InOwnPidNamespace(const std::string& commandLine) {
  // unshare(1) needs the right to make namespaces (root, or a user namespace of its own).
  if (RunCommand("unshare --pid --fork true >/dev/null 2>&1") != 0) return std::string();
  return "unshare --pid --fork " + commandLine;
}

unsigned long OwnProcessId() {
  return static_cast<unsigned long>(getpid());
}

intptr_t LockFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void UnlockFile(intptr_t lock) {
  if (lock >= 0) close(static_cast<int>(lock));
}

bool OwnerOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600;
}

void Nap() {
  usleep(2000);
}

bool PosixFiles() {
  return true;
}

std::string FileIdentity(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::string();
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

bool SetFileMarks(const std::string&, bool, bool) {
  return false;
}
std::string FileMarks(const std::string&) {
  return "";
}

int HoldLock(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}
void DropLock(int held) {
  if (held >= 0) close(held);
}
bool MakePipe(const std::string& path) {
  return mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace rassimtest
