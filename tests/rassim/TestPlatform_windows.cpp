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
bool OwnerOnly(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
void Nap() {
  ::Sleep(2);
}

bool PosixFiles() {
  return false;
}

}  // namespace rassimtest
