#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "bench/BenchPlatform.h"

extern char** environ;

namespace quorbench {

void SetEnv(const std::string& Name, const std::string& Value) {
  setenv(Name.c_str(), Value.c_str(), 1);
}

uint64_t PeakRssKiB() {
  struct rusage usage {};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss);  // KiB on Linux
}

double ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

int64_t HeapInUse() {
  return static_cast<int64_t>(mallinfo2().uordblks);
}

double KernelRoundTripNs(int64_t Count) {
  const int ping = eventfd(0, EFD_CLOEXEC);
  const int pong = eventfd(0, EFD_CLOEXEC);
  if (ping < 0 || pong < 0) return 0;
  uint64_t value = 1;
  std::thread echo([&] {
    uint64_t v = 0;
    for (int64_t i = 0; i < Count; ++i) {
      if (read(ping, &v, sizeof v) != sizeof v || write(pong, &v, sizeof v) != sizeof v) return;
    }
  });
  const auto start = std::chrono::steady_clock::now();
  for (int64_t i = 0; i < Count; ++i) {
    if (write(ping, &value, sizeof value) != sizeof value || read(pong, &value, sizeof value) != sizeof value) break;
  }
  const auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  echo.join();
  close(ping);
  close(pong);
  return Count > 0 ? ns / static_cast<double>(Count) : 0;
}

int64_t SleepCount(int Pid) {
  const std::string tasks = (Pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(Pid)) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return -1;
  int64_t total = 0;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream status(tasks + "/" + e->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::atoll(line.c_str() + 24);
    }
  }
  closedir(dir);
  return total;
}

double ProcessCpuMs(int Pid) {
  clockid_t clock = CLOCK_PROCESS_CPUTIME_ID;
  if (Pid != 0 && clock_getcpuclockid(Pid, &clock) != 0) return -1;
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return -1;
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

bool StartChild(const std::vector<std::string>& Argv, Child& C) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return false;
  }
  C.Pid = pid;
  C.Out = out[0];
  return true;
}

namespace {
const char* gEchoLine = nullptr;
extern "C" void EchoLine(int) {
  (void)!write(STDOUT_FILENO, gEchoLine, strlen(gEchoLine));
  _exit(0);
}
}  // namespace

bool StartSignalEcho(const char* Line, Child& C) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on: the parent may have threads.
    dup2(out[1], STDOUT_FILENO);
    gEchoLine = Line;
    struct sigaction action {};
    action.sa_handler = EchoLine;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    static const char kReady[] = "ready\n";
    (void)!write(STDOUT_FILENO, kReady, sizeof kReady - 1);
    for (;;) pause();
  }
  close(out[1]);
  C.Pid = pid;
  C.Out = out[0];
  return true;
}

bool ReadChild(Child& C, int Ms, std::string& Text) {
  pollfd p{C.Out, POLLIN, 0};
  if (poll(&p, 1, Ms) <= 0) return false;
  char buffer[4096];
  const ssize_t n = read(C.Out, buffer, sizeof buffer);
  if (n <= 0) return false;
  Text.append(buffer, static_cast<size_t>(n));
  return true;
}

void InterruptChild(const Child& C) {
  if (C.Pid > 0) kill(C.Pid, SIGINT);
}

void FlushFileSystems() {
  sync();
}

int WaitChild(Child& C, int Ms) {
  if (C.Pid <= 0) return -1;
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  pid_t done = 0;
  while ((done = waitpid(C.Pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    kill(C.Pid, SIGKILL);
    waitpid(C.Pid, &status, 0);
  }
  if (C.Out >= 0) close(C.Out);
  C.Out = -1;
  C.Pid = 0;
  return done != 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ProgramDir() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

}  // namespace quorbench
