#include <windows.h>

#include <cstdlib>

#include "tests/rassim/TestPlatform.h"

namespace rassimtest {

void SetEnv(const char* name, const std::string& value) {
  _putenv_s(name, value.c_str());
}
void UnsetEnv(const char* name) {
  _putenv_s(name, "");
}
std::string HelperCommand() {
  return "rassim_helper.exe";
}
int RunCommand(const std::string& commandLine) {
  return std::system(commandLine.c_str());
}
// Windows has no process-id namespaces.
std::string InOwnPidNamespace(const std::string&) {
  return std::string();
}
unsigned long OwnProcessId() {
  return static_cast<unsigned long>(GetCurrentProcessId());
}
intptr_t LockFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED ov = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) {
    CloseHandle(h);
    return -1;
  }
  return reinterpret_cast<intptr_t>(h);
}
void UnlockFile(intptr_t lock) {
  if (lock != -1) CloseHandle(reinterpret_cast<HANDLE>(lock));
}
bool OwnerOnly(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
void Nap() {
  ::Sleep(2);
}

bool PosixFiles() {
  return false;
}

// Records are replaced whole here, never written in place.
std::string FileIdentity(const std::string&) {
  return std::string();
}

bool SetFileMarks(const std::string& path, bool hidden, bool readOnly) {
  const DWORD marks = (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | (readOnly ? FILE_ATTRIBUTE_READONLY : 0);
  return SetFileAttributesA(path.c_str(), marks ? marks : FILE_ATTRIBUTE_NORMAL) != FALSE;
}
std::string FileMarks(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return "";
  std::string marks = (a & FILE_ATTRIBUTE_HIDDEN) ? "hidden" : "";
  if (a & FILE_ATTRIBUTE_READONLY) marks += marks.empty() ? "readonly" : ",readonly";
  return marks;
}

int HoldLock(const std::string&) {
  return -1;
}
void DropLock(int) {}
bool MakePipe(const std::string&) {
  return false;
}

}  // namespace rassimtest
