#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "tools/quor/Platform.h"

namespace quortool::platform {

namespace {

// Set by the signal handler and read by the message loop; nothing else
// happens inside the handler.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be usable from a signal handler");

extern "C" void OnStopSignal(int signo) {
  int expected = 0;
  gStopSignal.compare_exchange_strong(expected, signo);
}

void SetHandler(int signo, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restart interrupted system calls: the loop notices the flag on its own.
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

}  // namespace

void InstallStopHandlers() {
  SetHandler(SIGINT, OnStopSignal);
  SetHandler(SIGTERM, OnStopSignal);
  SetHandler(SIGHUP, OnStopSignal);
}

void RemoveStopHandlers() {
  SetHandler(SIGINT, SIG_DFL);
  SetHandler(SIGTERM, SIG_DFL);
  SetHandler(SIGHUP, SIG_DFL);
}

bool StopRequested() {
  return gStopSignal.load() != 0;
}
int StopSignal() {
  return gStopSignal.load();
}
void ClearStopRequest() {
  gStopSignal.store(0);
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  line.clear();
  const bool terminal = StdinIsTerminal();
  termios saved{};
  bool echoOff = false;
  if (terminal) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      echoOff = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
  }
  bool any = false;
  for (int c = std::getchar(); c != EOF; c = std::getchar()) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (echoOff) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (terminal) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

bool SetEnv(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool UnsetEnv(const std::string& name) {
  return unsetenv(name.c_str()) == 0;
}

}  // namespace quortool::platform
