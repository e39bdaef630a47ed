// Programs of the build folder run by the end-to-end suites, and the
// environment they inherit.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "Win32/Clock.h"
#include "Win32/Win32.h"

namespace quor_windows_test {

// Sets a variable for this process and the programs it starts: the C
// runtime's copy of the environment is what the RAS service reads (it shares
// msvcrt.dll with this program); the process block follows too.
inline void SetEnv(const char* Name, const std::string& Value) {
  _putenv_s(Name, Value.c_str());
  SetEnvironmentVariableA(Name, Value.c_str());
}

// A program run with its output (both streams) in a file, created with
// `Flags` (CREATE_NO_WINDOW, or CREATE_NEW_CONSOLE for a console of its own);
// ended at destruction when it is still running.
class Child {
 public:
  Child(const std::string& CommandLine, const std::string& OutPath, DWORD Flags = CREATE_NO_WINDOW) : outPath(OutPath) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileA(OutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    std::string line = CommandLine;
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, Flags, nullptr, nullptr, &si, &pi) != 0;
    CloseHandle(out);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  bool Started() const { return started; }
  DWORD ProcessId() const { return pi.dwProcessId; }
  std::string Out() const {
    std::ifstream f(outPath, std::ios::binary);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
  }
  // Polls the output (bounded) until it holds Text.
  bool WaitForOut(const std::string& Text, DWORD Ms) const {
    const uint64_t until = QuorClockNow() + Ms;
    while (Out().find(Text) == std::string::npos) {
      if (QuorClockNow() >= until) return false;
      Sleep(50);
    }
    return true;
  }
  // The exit code, or -1 when it has not ended within Ms.
  int Wait(DWORD Ms) const {
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, Ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)) return -1;
    return static_cast<int>(code);
  }

 private:
  std::string outPath;
  PROCESS_INFORMATION pi{};
  bool started = false;
};

}  // namespace quor_windows_test
