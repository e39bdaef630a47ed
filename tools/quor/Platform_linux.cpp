#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "tools/quor/Platform.h"

namespace quortool::platform {

namespace {

// Set by the thread that takes the stop signals and read by the message loop.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be usable from a signal handler");

// The stop signals are blocked in the thread that installs the handlers (the
// loop's) and so in every thread it starts later; a thread of ours takes them
// with sigwaitinfo and posts the request to the loop's window. The kernel hands
// the signal straight to that thread, so a stop costs one wake-up of it and
// one of the loop (a handler that woke a notifier thread cost one more). A
// thread started before the handlers were installed (a library's) may still
// be the one the kernel picks: its handler passes the signal on to the
// waiting thread (posting takes a lock, which a signal handler must not).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// `quor hangup` asks a dialler that would reconnect to give that up.
constexpr int kNoReconnectSignal = SIGUSR1;
std::atomic<pid_t> gWaiterTid{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "the waiter's id must be usable from a signal handler");
std::atomic<bool> gQuitWaiter{false};
std::thread gWaiter;
sigset_t gLoopMask;  // the installing thread's mask before
bool gMasked = false;

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : kStopSignals) sigaddset(&set, signo);
  sigaddset(&set, kNoReconnectSignal);
  return set;
}

void NoteStop(int signo) {
  int expected = 0;
  gStopSignal.compare_exchange_strong(expected, signo);
}

extern "C" void OnStopSignal(int signo) {
  const int saved = errno;
  const pid_t waiter = gWaiterTid.load();
  if ((waiter == 0 || syscall(SYS_tgkill, getpid(), waiter, signo) != 0) && signo != kNoReconnectSignal) {
    NoteStop(signo);
  }
  errno = saved;
}

void WaitForStop(HWND window, UINT message) {
  gWaiterTid.store(static_cast<pid_t>(syscall(SYS_gettid)));
  // A signal a handler took before this thread could be named.
  if (const int early = gStopSignal.load(); early != 0 && window != HWND{})
    PostMessageA(window, message, static_cast<WPARAM>(early), 0);
  const sigset_t set = StopSet();
  for (;;) {
    siginfo_t info{};
    const int signo = sigwaitinfo(&set, &info);
    if (signo < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // The request to end this thread comes from this process (glibc reports
    // tgkill's code as SI_USER, so only the sender tells).
    if (gQuitWaiter.load() && info.si_pid == getpid()) break;
    if (signo == kNoReconnectSignal) {
      if (window != HWND{}) PostMessageA(window, message, kNoReconnectRequest, 0);
      continue;
    }
    NoteStop(signo);
    if (window != HWND{}) PostMessageA(window, message, static_cast<WPARAM>(gStopSignal.load()), 0);
  }
  gWaiterTid.store(0);
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
  for (int signo : kStopSignals) SetHandler(signo, OnStopSignal);
  SetHandler(kNoReconnectSignal, OnStopSignal);
  if (gWaiter.joinable()) return;
  const sigset_t set = StopSet();
  gMasked = pthread_sigmask(SIG_BLOCK, &set, &gLoopMask) == 0;
  gQuitWaiter.store(false);
  try {
    gWaiter = std::thread(WaitForStop, window, message);
    // Handlers pass signals on to the thread once it is named.
    while (gWaiterTid.load() == 0) std::this_thread::yield();
  } catch (const std::system_error&) {
    // No thread: the handlers note the request and the loop finds it at its next pass.
    if (gMasked) pthread_sigmask(SIG_SETMASK, &gLoopMask, nullptr);
    gMasked = false;
  }
}

void RemoveStopHandlers() {
  if (gWaiter.joinable()) {
    gQuitWaiter.store(true);
    pthread_kill(gWaiter.native_handle(), kStopSignals[0]);
    gWaiter.join();
  }
  for (int signo : kStopSignals) SetHandler(signo, SIG_DFL);
  // A late request to give up reconnecting must not end the process.
  SetHandler(kNoReconnectSignal, SIG_IGN);
  // A signal that came after the waiting thread ended is pending here and
  // now has its default effect, as it would have without the handlers.
  if (gMasked) pthread_sigmask(SIG_SETMASK, &gLoopMask, nullptr);
  gMasked = false;
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

void PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one. Read-only, so a
    // write to it fails as it would on the closed descriptor.
    const int placeholder = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (placeholder >= 0 && placeholder != fd) close(placeholder);
  }
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

std::FILE* OpenLogFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

void KeepSecretsFromDumps() {
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void ForgetEnv(const std::string& name) {
  if (char* value = std::getenv(name.c_str())) {
    for (volatile char* p = value; *p != 0; ++p) *p = 0;
  }
  unsetenv(name.c_str());
}

bool SetEnv(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool UnsetEnv(const std::string& name) {
  return unsetenv(name.c_str()) == 0;
}

namespace {

// A private folder of this user (made 0700); "" when it is not one.
bool PrivateFolder(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  struct stat info {};
  // Another user's folder (or a link planted in /tmp) is not ours to use.
  return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid();
}

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

}  // namespace

std::string DiallerFolder(const std::string& key) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime != nullptr && *runtime != 0
                                 ? std::string(runtime) + "/quor"
                                 : "/tmp/quor-" + std::to_string(static_cast<unsigned>(getuid()));
  if (runtime != nullptr && *runtime != 0) mkdir(runtime, 0700);
  if (!PrivateFolder(folder) || !PrivateFolder(folder + "/" + key)) return std::string();
  return folder + "/" + key;
}

std::string DefaultStateFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/quor-ras";
  return "/tmp/quor-ras-" + std::to_string(static_cast<unsigned>(getuid()));
}

std::string OwnPhonebookPath() {
  // The simulated service's phonebook: QUOR_RAS_PHONEBOOK, else rasphone.pbk
  // in its configuration folder; records name it by its resolved path.
  std::string path;
  if (const char* pb = std::getenv("QUOR_RAS_PHONEBOOK"); pb != nullptr && *pb != 0) {
    path = pb;
  } else if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    path = std::string(config) + "/quor/rasphone.pbk";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
    path = std::string(home) + "/.config/quor/rasphone.pbk";
  } else {
    return std::string();
  }
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  if (path[0] == '/') return path;
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : std::string();
}

std::string ProcessSpace() {
  // The kernel's boot id, and the pid namespace ("pid:[4026531836]") this process sees ids in.
  char ns[64] = {0};
  const ssize_t length = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
  return FirstLine("/proc/sys/kernel/random/boot_id") + ":" + (length > 0 ? std::string(ns, length) : "");
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

namespace {

// Sends a signal to the process with this id only while it is the one with
// this stamp: a pidfd holds on to the process, so the id cannot pass to
// another between the check and the signal (a kernel without pidfds gets the
// plain kill after the check).
bool SignalNoted(uint32_t pid, const std::string& stamp, int signo) {
  if (pid == 0 || stamp.empty()) return false;
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (fd < 0 && errno != ENOSYS) return false;  // no such process
  bool sent = false;
  if (ProcessStamp(pid) == stamp) {
    sent = fd >= 0 ? syscall(SYS_pidfd_send_signal, fd, signo, nullptr, 0) == 0
                   : kill(static_cast<pid_t>(pid), signo) == 0;
  }
  if (fd >= 0) close(fd);
  return sent;
}

}  // namespace

bool RequestStop(uint32_t pid, const std::string& stamp) {
  return SignalNoted(pid, stamp, SIGTERM);
}

bool RequestNoReconnect(uint32_t pid, const std::string& stamp) {
  return SignalNoted(pid, stamp, kNoReconnectSignal);
}

}  // namespace quortool::platform
