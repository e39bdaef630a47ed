#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/quor/Platform.h"

namespace quortool::platform {

namespace {

// Set by the signal handler and read by the message loop.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be usable from a signal handler");

// The handler may only write to a pipe; a thread of ours waits on its other
// end and posts the request to the loop's window (posting takes a lock, which
// a signal handler must not).
int gPipe[2] = {-1, -1};
std::thread gNotifier;
constexpr char kQuitNotifier = 0;

extern "C" void OnStopSignal(int signo) {
  int expected = 0;
  gStopSignal.compare_exchange_strong(expected, signo);
  const int saved = errno;
  const char byte = 1;
  if (gPipe[1] >= 0) (void)!write(gPipe[1], &byte, 1);
  errno = saved;
}

void Notify(HWND window, UINT message) {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(gPipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kQuitNotifier) return;
    PostMessageA(window, message, static_cast<WPARAM>(gStopSignal.load()), 0);
  }
}

void SetHandler(int signo, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

}  // namespace

void InstallStopHandlers(HWND window, UINT message) {
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC) == 0) gNotifier = std::thread(Notify, window, message);
  SetHandler(SIGINT, OnStopSignal);
  SetHandler(SIGTERM, OnStopSignal);
  SetHandler(SIGHUP, OnStopSignal);
}

void RemoveStopHandlers() {
  SetHandler(SIGINT, SIG_DFL);
  SetHandler(SIGTERM, SIG_DFL);
  SetHandler(SIGHUP, SIG_DFL);
  if (gPipe[0] < 0) return;
  const char byte = kQuitNotifier;
  while (write(gPipe[1], &byte, 1) < 0 && errno == EINTR) {
  }
  if (gNotifier.joinable()) gNotifier.join();
  close(gPipe[0]);
  close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
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

std::string DiallerFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime != nullptr && *runtime != 0
                                 ? std::string(runtime) + "/quor"
                                 : "/tmp/quor-" + std::to_string(static_cast<unsigned>(getuid()));
  if (runtime != nullptr && *runtime != 0) mkdir(runtime, 0700);
  mkdir(folder.c_str(), 0700);
  struct stat info {};
  // Another user's folder (or a link planted in /tmp) is not ours to use.
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) return std::string();
  return folder;
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

std::string ProcessStamp(uint32_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold anything up to the last ')'; the start time is
  // the 20th field after it.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::string();
  std::istringstream fields(text.substr(close + 1));
  std::string state, field;
  fields >> state;
  if (state == "Z" || state == "X") return std::string();  // ended, not yet reaped
  for (int i = 1; i < 20 && fields >> field; ++i) {
  }
  return field;
}

bool RequestStop(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

}  // namespace quortool::platform
