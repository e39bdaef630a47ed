// What the quor commands share: parsed arguments, output in text or JSON,
// the errors that end a command, and a session with one TQuor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "tools/quor/Cli.h"
#include "tools/quor/Json.h"

namespace quortool {

// Wrong command line: reported with a hint to the command's --help, exit 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// The command could not do its work; carries the exit code and, when RAS
// refused, RAS's error number and text.
class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, const std::string& message, uint32_t rasError = 0, std::string rasText = std::string())
      : std::runtime_error(message), fExitCode(exitCode), fRasError(rasError), fRasText(std::move(rasText)) {}
  int ExitCode() const { return fExitCode; }
  uint32_t RasError() const { return fRasError; }
  const std::string& RasText() const { return fRasText; }

 private:
  int fExitCode;
  uint32_t fRasError;
  std::string fRasText;
};

struct Args {
  std::string command;  // "dial", "entry create", ...
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options with a value
  std::set<std::string> flags;                // options without one
  bool json = false;

  bool Flag(const std::string& name) const { return flags.count(name) != 0; }
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// The command line as RunCli reads it, up to the command's arguments, running
// nothing: none for a help request or a command group; throws UsageError as
// RunCli reports it (the option parser's fuzz target drives it).
std::optional<Args> ParseCommandLine(const std::vector<std::string>& tokens);

// How this run prints, from the options every command takes.
struct OutputSettings {
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::FILE* log = nullptr;  // --log FILE: every line, with the date and time
  int writeError = 0;        // errno of the first write to standard output that failed
};
OutputSettings& GlobalOutput();
// Opens the --log file for appending; throws Failure when it cannot.
void OpenLog(const std::string& path);
// The local date and time with milliseconds ("2026-12-08 13:45:01.123").
std::string WallClock();
// A name or text for a one-line message: control characters (a newline in
// an entry name) written as \n, \t, \xNN.
// C1 controls (U+0080-U+009F) are written as \uNNNN.
std::string Printable(const std::string& text);
// An entry name on a line of its own: Printable, and blanks at its ends
// written as \x20 so that " Office" and "Office" cannot be taken for one.
std::string DisplayName(const std::string& name);
// The columns a terminal gives the text (UTF-8; wide letters take two).
size_t DisplayWidth(const std::string& text);

// Standard output carries results and events; standard error carries
// "quor: ..." messages. Every line is flushed at once so that a reader of a
// pipe or file sees events as they happen.
class Output {
 public:
  explicit Output(bool json) : fJson(json) {}
  bool Json() const { return fJson; }
  // A result: always printed.
  void Line(const std::string& text);
  // A result holding a secret: printed, but the log gets `logged` instead.
  void Secret(const std::string& text, const std::string& logged);
  // A progress or confirmation line: left out with --quiet. A stamp goes
  // before the text on standard output only (the log line has its own time).
  void Progress(const std::string& text, const std::string& stamp = std::string());
  void Object(const JsonObject& object);
  void Error(const std::string& text);
  // "quor: note: ..."; left out with --quiet.
  void Note(const std::string& text);
  // "quor: warning: ..."; shown even with --quiet.
  void Warning(const std::string& text);
  // Only with --verbose.
  void Verbose(const std::string& text);

 private:
  bool fJson;
};

// Modal message boxes of the component (and the host framework) become
// "quor: <text>" lines on standard error; dialogs answer with their default
// button, since nobody can click on a console. While held, messages are only
// kept (the tool then says the same thing better itself).
class ConsolePresenter final : public TMessagePresenter {
 public:
  explicit ConsolePresenter(Output& out) : fOut(out) {}
  void ShowMessage(const String& Msg) override;
  int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override;
  size_t Count() const { return fMessages.size(); }
  const std::vector<std::string>& Messages() const { return fMessages; }
  void Hold(bool held) { fHeld = held; }

 private:
  Output& fOut;
  std::vector<std::string> fMessages;
  bool fHeld = false;
};

// One TQuor with the console presenter installed for its whole life.
class RasSession {
 public:
  // Throws Failure(kExitNoRas) when the RAS client library cannot be bound
  // or, unless only connections are asked about, RAS cannot read the phonebook.
  enum class Needs { Phonebook, ConnectionsOnly };
  explicit RasSession(Output& out, Needs needs = Needs::Phonebook);
  ~RasSession();
  RasSession(const RasSession&) = delete;
  RasSession& operator=(const RasSession&) = delete;

  TQuor& Quor() { return *fQuor; }
  Output& Out() { return fOut; }

  // Reads the phonebook again; throws Failure(kExitNoRas) when RAS cannot.
  std::vector<std::string> Entries();
  // The entry's name as the phonebook holds it (names compare as RAS
  // compares them, without regard to case), or "" when there is none.
  std::string StoredName(const std::string& name);
  // The same, but a missing entry throws Failure(kExitFailed) naming it.
  std::string RequireEntry(const std::string& entry);

 private:
  void CheckPhonebook();

  Output& fOut;
  ConsolePresenter fPresenter;
  TMessagePresenter* fPrevious = nullptr;
  std::unique_ptr<TQuor> fQuor;
};

// A request RAS refused: RAS's own text, its number, and for a phonebook
// file the simulated service's account of which file and line.
Failure RasRefused(const std::string& what, uint32_t code);
// An entry name folded as RAS compares names (Latin, Greek, Cyrillic letters).
std::string FoldName(const std::string& name);

// Option values.
int64_t ParseNumber(const std::string& option, const std::string& text, int64_t min, int64_t max);
// Checks a text against the width of its RAS record field, in bytes (usage error when longer).
void CheckLength(const std::string& what, const std::string& text, size_t max);
// The password from standard input (--password-stdin) or QUOR_PASSWORD; none when neither.
std::optional<std::string> ReadPassword(const Args& args);
// QUOR_PASSWORD's value, removed from the environment once read; none when unset.
std::optional<std::string> TakeEnvPassword();

int RunDial(const Args& args);
int RunHangUp(const Args& args);
int RunConnections(const Args& args);
int RunStatus(const Args& args);
int RunEntries(const Args& args);
int RunEntryShow(const Args& args);
// `entry create`/`entry edit` with property options instead of the dialog.
bool HasPropertyOptions(const Args& args);
int CreateFromOptions(RasSession& session, const Args& args);
int EditFromOptions(RasSession& session, const Args& args, const std::string& entry);
int RunEntryCreate(const Args& args);
int RunEntryEdit(const Args& args);
int RunEntryRename(const Args& args);
int RunEntryDelete(const Args& args);
int RunParamsGet(const Args& args);
int RunParamsSet(const Args& args);
int RunDemo(const Args& args);
int RunSimReset(const Args& args);
int RunMan(const Args& args);
int RunCompletion(const Args& args);
// quor --version.
int RunVersion();

// The dial with its monitoring, shared by `dial` and `demo`.
struct DialOptions {
  std::string entry;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> phone;
  std::optional<int32_t> redialAttempts;
  std::optional<uint8_t> redialPause;
  bool synchronous = false;
  // An entry that is already connected: watch that connection (else exit 1).
  bool attach = false;
  // Noted for `quor hangup` (the demo's private dial is not).
  bool reachable = false;
  // The demo ends with the loss of the line: no error message for it.
  bool lossIsTheEnd = false;
  // Progress lines start with the time of day instead of the offset.
  bool wallClock = false;
  // The component's opt-in policies (--backoff, --timeout, --persist,
  // --holdoff, --maxfail, --fast-hangup, --watch).
  std::optional<double> backoffFactor;
  uint32_t backoffMax = 0;
  uint32_t dialTimeout = 0;
  bool persist = false;
  uint32_t holdoff = 30;
  int32_t maxfail = 10;
  bool fastHangUp = false;
  bool watchEvents = false;
};
// Reads "FACTOR[,MAX]" of --backoff: FACTOR 1 to 10 (a decimal number), MAX
// whole seconds (0: no ceiling). Throws UsageError.
void ParseBackoff(const std::string& text, double& factor, uint32_t& max);
int DialAndMonitor(RasSession& session, const DialOptions& options);

}  // namespace quortool
