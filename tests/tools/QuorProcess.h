// Runs the built quor program as a user would: its own environment, standard
// input from a file, standard output and error captured to files that the
// test reads while the program runs.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quortest {

// The phonebook of the dial and monitor suites: a modem entry and a VPN entry.
inline constexpr char kTwoEntryPhonebook[] =
    "[Office]\nPhoneNumber=555-0100\nDEVICE=modem\n"
    "[Home]\nPhoneNumber=555-0200\nDEVICE=vpn\n";
// A scenario of fast steps, so that a dial takes well under a second.
inline constexpr char kQuickScenario[] = "[*]\nStepDelay=40ms\nErrorDelay=40ms\nTeardown=100ms\n";

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;  // -1: killed after the time limit or by a signal
  std::string out;
  std::string err;
};

// A private folder with the simulated RAS service's phonebook, credentials,
// scenario and state inside; removed by the destructor.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& Dir() const { return fDir; }
  fs::path Phonebook() const { return fDir / "rasphone.pbk"; }
  fs::path Scenario() const { return fDir / "scenario.ini"; }
  fs::path Credentials() const { return fDir / "credentials.dat"; }
  fs::path StateDir() const { return fDir / "state"; }
  fs::path Home() const { return fDir / "home"; }

  void WritePhonebook(const std::string& text) const;
  void WriteScenario(const std::string& text) const;
  // The environment a quor process of this sandbox gets: the caller's, with
  // the RAS service pointed at the sandbox and HOME/XDG folders inside it.
  std::map<std::string, std::string> Environment() const;
  // Connection records the service keeps in the state folder.
  std::vector<std::string> ConnectionRecords() const;

 private:
  fs::path fDir;
};

// The quor program under test.
fs::path QuorPath();

class QuorProcess {
 public:
  QuorProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
              const std::string& input = std::string(), const fs::path& program = QuorPath());
  ~QuorProcess();  // kills a process still running
  QuorProcess(const QuorProcess&) = delete;
  QuorProcess& operator=(const QuorProcess&) = delete;

  std::string Out() const;
  std::string Err() const;
  // Polls the output (bounded) until it contains text; false after timeoutMs.
  bool WaitForOut(const std::string& text, int timeoutMs);
  void Signal(int signo);
  // Waits for the exit (bounded); kills the process after timeoutMs and returns -1.
  int Wait(int timeoutMs);
  bool Running();
  pid_t Pid() const { return fPid; }

 private:
  fs::path fDir;
  pid_t fPid = -1;
  std::optional<int> fExit;
};

// Runs quor to completion (bounded by timeoutMs).
RunResult RunQuor(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                  const std::string& input = std::string(), int timeoutMs = 15000,
                  const fs::path& program = QuorPath());

// The lines of a text.
std::vector<std::string> Lines(const std::string& text);
// The lines without their "[  1.234] " time stamps.
std::vector<std::string> Unstamped(const std::string& text);

}  // namespace quortest
