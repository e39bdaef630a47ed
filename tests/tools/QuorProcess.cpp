#include "QuorProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quortest {

namespace {

constexpr int kPollMs = 20;

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

fs::path MakeTempDir(const char* prefix) {
  std::random_device random;
  for (int i = 0; i < 32; ++i) {
    const fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(random()));
    if (fs::create_directory(dir)) return dir;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

void PollSleep() {
  std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

}  // namespace

Sandbox::Sandbox() : fDir(MakeTempDir("quor-cli-test-")) {
  fs::create_directory(StateDir());
  fs::create_directory(Home());
}

Sandbox::~Sandbox() {
  std::error_code ec;
  fs::permissions(fDir, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(fDir, ec);
}

void Sandbox::WritePhonebook(const std::string& text) const {
  WriteAll(Phonebook(), text);
}
void Sandbox::WriteScenario(const std::string& text) const {
  WriteAll(Scenario(), text);
}

std::map<std::string, std::string> Sandbox::Environment() const {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (auto it = env.begin(); it != env.end();) {
    // Nothing of the caller's RAS setup or password may leak into a test.
    if (it->first.rfind("QUOR_", 0) == 0) {
      it = env.erase(it);
    } else {
      ++it;
    }
  }
  env["QUOR_RAS_PHONEBOOK"] = Phonebook().string();
  env["QUOR_RAS_CREDENTIALS"] = Credentials().string();
  env["QUOR_RAS_STATE_DIR"] = StateDir().string();
  env["QUOR_RAS_SCENARIO"] = Scenario().string();
  env["HOME"] = Home().string();
  env["XDG_CONFIG_HOME"] = (Home() / ".config").string();
  env["XDG_RUNTIME_DIR"] = (Home() / "run").string();
  env["TMPDIR"] = fDir.string();
  return env;
}

std::vector<std::string> Sandbox::ConnectionRecords() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(StateDir(), ec)) {
    const std::string name = item.path().filename().string();
    if (name.rfind("conn-", 0) == 0) names.push_back(name);
  }
  return names;
}

fs::path QuorPath() {
  return fs::path(QUOR_TOOL_PATH);
}

QuorProcess::QuorProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                         const std::string& input, const fs::path& program)
    : fDir(MakeTempDir("quor-run-")) {
  WriteAll(fDir / "stdin", input);
  std::vector<std::string> envText;
  for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
  std::vector<char*> argv;
  const std::string programText = program.string();
  argv.push_back(const_cast<char*>(programText.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string in = (fDir / "stdin").string(), out = (fDir / "stdout").string(), err = (fDir / "stderr").string();

  fPid = fork();
  if (fPid < 0) throw std::runtime_error("fork failed");
  if (fPid == 0) {
    const int inFd = open(in.c_str(), O_RDONLY);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (inFd < 0 || outFd < 0 || errFd < 0) _exit(127);
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
}

QuorProcess::~QuorProcess() {
  if (Running()) {
    kill(fPid, SIGKILL);
    Wait(5000);
  }
  std::error_code ec;
  fs::remove_all(fDir, ec);
}

std::string QuorProcess::Out() const {
  return ReadAll(fDir / "stdout");
}
std::string QuorProcess::Err() const {
  return ReadAll(fDir / "stderr");
}

bool QuorProcess::WaitForOut(const std::string& text, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += kPollMs) {
    if (Out().find(text) != std::string::npos) return true;
    if (!Running()) return Out().find(text) != std::string::npos;
    PollSleep();
  }
  return false;
}

void QuorProcess::Signal(int signo) {
  if (Running()) kill(fPid, signo);
}

bool QuorProcess::Running() {
  if (fExit || fPid <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(fPid, &status, WNOHANG);
  if (r == 0) return true;
  fExit = (r == fPid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return false;
}

int QuorProcess::Wait(int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += kPollMs) {
    if (!Running()) return *fExit;
    PollSleep();
  }
  kill(fPid, SIGKILL);
  int status = 0;
  waitpid(fPid, &status, 0);
  fExit = -1;
  return -1;
}

RunResult RunQuor(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                  const std::string& input, int timeoutMs, const fs::path& program) {
  QuorProcess process(args, env, input, program);
  RunResult result;
  result.exitCode = process.Wait(timeoutMs);
  result.out = process.Out();
  result.err = process.Err();
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Unstamped(const std::string& text) {
  std::vector<std::string> lines;
  for (const auto& line : Lines(text)) {
    if (line.size() > 10 && line[0] == '[' && line[8] == ']' && line[9] == ' ') {
      lines.push_back(line.substr(10));
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace quortest
