// `quor dial`: dial an entry, print every status text as it arrives, then
// watch the line until a stop request or until the line is lost.
#include "tools/quor/Dial.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "tools/quor/Cli.h"
#include "tools/quor/CommandSupport.h"
#include "tools/quor/Diallers.h"
#include "tools/quor/Errors.h"
#include "tools/quor/ForeignConnection.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasConnections.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"
#include "tools/quor/Stats.h"

namespace quortool {

namespace {

// Posted to the monitor's window when a stop request arrives.
constexpr UINT kStopNotice = WM_USER + 1;
// RAS may report the disconnected state for a while before it drops the
// handle; the component keeps polling through that. If the handle stays
// valid that long after RAS said "disconnected", quor hangs up itself.
constexpr uint64_t kDisconnectedGraceMs = 5000;

// How often an attached quor looks at a connection another process dialled.
constexpr uint32_t kAttachPollMs = 500;
constexpr const char kLostText[] = "Connection to server lost.";

// A dial the simulated service refuses for a mistake in its scenario.
constexpr Integer kInvalidData = 13;
// Another process dials the entry (RAS refuses a second dial of it).
constexpr Integer kDialAlreadyInProgress = 756;
constexpr Integer kInvalidName = 123;  // ERROR_INVALID_NAME

// Errors that come from this machine's set-up, not from the line or the far
// end: the settings the scenario or the dial parameters give, the phonebook,
// the device, the RAS library or service itself. A redial meets them again
// unchanged, so the dial ends at once instead of waiting out its pauses.
bool NoRedialMends(Integer error) {
  switch (error) {
    case kInvalidData:                                             // the service's settings are not valid
    case static_cast<Integer>(ERROR_INVALID_PARAMETER):            // a value RAS refuses (too long, ...)
    case kInvalidName:                                             // an entry name RAS refuses
    case static_cast<Integer>(ERROR_PROC_NOT_FOUND):               // the library cannot dial at all
    case static_cast<Integer>(ERROR_DEVICE_DOES_NOT_EXIST):        // the entry's device is not there
    case static_cast<Integer>(ERROR_CANNOT_OPEN_PHONEBOOK):        // 621
    case static_cast<Integer>(ERROR_CANNOT_LOAD_PHONEBOOK):        // 622
    case static_cast<Integer>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY):  // 623: deleted meanwhile
    case static_cast<Integer>(ERROR_CORRUPT_PHONEBOOK):            // 625
    case static_cast<Integer>(ERROR_INVALID_SIZE):                 // a RAS library of other record sizes
    case static_cast<Integer>(ERROR_RASMAN_CANNOT_INITIALIZE):     // RAS cannot start (a refused state folder)
      return true;
    default:
      return false;
  }
}

constexpr const char kErrorPrefix[] = "ERROR: ";
constexpr const char kErrorConnectingPrefix[] = "Error connecting: ";

std::string WithoutPrefix(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

// The lines the component writes itself, not for a RAS dial event: they
// carry no RAS state even when written while one is handled.
bool ComponentsOwnLine(const std::string& text) {
  for (const char* prefix : {"Dialing ", "Disconnecting...", "Retrying in ", "Reconnecting in "}) {
    if (text.rfind(prefix, 0) == 0) return true;
  }
  return text == kLostText;  // the status watch found the line gone
}

std::string Stamp(uint64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "[%7.3f] ", static_cast<double>(ms) / 1000.0);
  return buf;
}

class DialMonitor {
 public:
  enum class Outcome { Running, Failed, Lost, Stopped, OutputBroken };

  DialMonitor(TQuor& quor, Output& out, bool lossIsTheEnd, bool wallClock, std::function<void()> onConnected)
      : fQuor(quor),
        fOut(out),
        fLossIsTheEnd(lossIsTheEnd),
        fWallClock(wallClock),
        fOnConnected(std::move(onConnected)),
        fPreviousStateChange(quor.OnStateChange()),
        fStart(QuorClockNow()),
        fRedials(quor.RedialAttempts()) {
    fQuor.SetOnNotify([this](Integer error, String text) { OnNotify(error, text); });
    fQuor.SetOnConnect([this](TObject*) { OnConnect(); });
    fQuor.SetOnConnectFail([this](Integer error, String text) { OnConnectFail(error, text); });
    fQuor.SetOnDisconnect([this](Integer error, String text) { OnDisconnect(error, text); });
    // Another handler of the state changes goes on hearing them.
    fQuor.SetOnStateChange([this](DWORD state, DWORD error) {
      OnStateChange(state, error);
      if (fPreviousStateChange) fPreviousStateChange(state, error);
    });
  }

  ~DialMonitor() {
    // The component outlives this monitor; its later events (the hang-up in
    // its destructor) must not reach a destroyed object.
    fQuor.SetOnNotify(nullptr);
    fQuor.SetOnConnect(nullptr);
    fQuor.SetOnConnectFail(nullptr);
    fQuor.SetOnDisconnect(nullptr);
    fQuor.SetOnStateChange(fPreviousStateChange);
  }

  int Run() {
    // The loop sleeps until its next timer or message: a stop request
    // arrives as a message to this window, the grace after RAS's
    // "disconnected" is a timer.
    struct Notices {
      HWND window;
      ~Notices() {
        platform::RemoveStopHandlers();
        DeallocateHWnd(window);
      }
    } notices{AllocateHWnd([this](TMessage& Msg) {
      if (Msg.Msg != kStopNotice) return;
      if (Msg.WParam == platform::kNoReconnectRequest) {
        fNoReconnectAsked = true;
      } else {
        fStopAsked = true;
      }
    })};
    platform::ClearStopRequest();
    platform::InstallStopHandlers(notices.window, kStopNotice);
    TTimer grace(nullptr);
    grace.SetEnabled(false);
    grace.SetInterval(static_cast<Cardinal>(kDisconnectedGraceMs));
    grace.SetOnTimer([this, &grace](TObject*) {
      grace.SetEnabled(false);
      fGraceOver = true;
    });
    fGrace = &grace;

    fQuor.Connect();
    while (fOutcome == Outcome::Running) {
      NoDialEvent();
      if (fStopAsked || platform::StopRequested()) {
        Stop();
        break;
      }
      if (GlobalOutput().writeError != 0) {
        // Nobody reads the events any more: hang up as a stop request would.
        Stop();
        fOutcome = Outcome::OutputBroken;
        break;
      }
      if (fNoReconnectAsked) {
        fNoReconnectAsked = false;
        GiveUpReconnects();
        if (fOutcome != Outcome::Running) break;
      }
      if (fGraceOver) {
        // RAS said the call is over but still holds the handle: hang up.
        fQuor.Disconnect();
        if (fOutcome == Outcome::Running) {
          fOutcome = Outcome::Lost;
          fErrorCode = RASCS_Disconnected;
          fErrorText = "the connection was disconnected";
        }
        break;
      }
      Application->HandleMessage();
    }
    fGrace = nullptr;
    return Finish();
  }

 private:
  uint64_t Elapsed() const { return QuorClockNow() - fStart; }

  // Attempts in all: the first dial and the redials.
  int64_t Attempts() const { return static_cast<int64_t>(fRedials) + 1; }

  void Event(const char* kind, Integer error, const std::string& text, bool printText) {
    if (fOut.Json()) {
      JsonObject o;
      o.Add("event", kind).AddSeconds("time", Elapsed());
      if (fWallClock) o.Add("wall_time", WallClock());
      o.Add("attempt", fAttempt).Add("attempts", Attempts());
      // A line that comes from a RAS dial event carries its state.
      if (fEventState && !ComponentsOwnLine(text))
        o.Add("state", *fEventState).Add("state_name", StateName(*fEventState));
      o.Add("error", error);
      if (error != 0) o.Add("error_text", RasErrorText(static_cast<uint32_t>(error)));
      o.Add("text", text);
      fOut.Object(o);
    } else if (printText) {
      // The log line has the time of day already: the stamp goes to standard output only. It is
      // appended piece by piece: GCC 12 misreads "[" + std::string as an overlapping copy (-Wrestrict)
      // in optimised builds.
      if (fWallClock) {
        std::string stamp;
        stamp.append("[").append(WallClock()).append("] ");
        fOut.Progress(text, stamp);
      } else {
        fOut.Progress(Stamp(Elapsed()) + text);
      }
    }
  }

  // The component raises this first for every dial event RAS posts, then
  // writes the event's lines. It raises it too when its own dial timeout
  // ends the attempt (RAS still dials: no dial event of RAS is behind those
  // lines) and when its status watch finds the line gone (those lines are
  // its own, see ComponentsOwnLine).
  void OnStateChange(DWORD state, DWORD error) {
    const Cardinal timeout = fQuor.DialTimeout();
    // The timeout's clock starts once RAS took the dial, after "Dialing ...":
    // a timeout is never seen before its full time from there. RAS itself
    // reporting ERROR_REQUEST_TIMEOUT that late is not told apart.
    const bool timedOut = (error & 0xFFFFu) == ERROR_REQUEST_TIMEOUT && timeout != 0 && !fQuor.Connected() &&
                          QuorClockNow() - fAttemptStart >= static_cast<uint64_t>(timeout) * 1000u;
    if (timedOut) {
      fEventState.reset();
    } else {
      fEventState = static_cast<uint32_t>(state & 0xFFFFu);
    }
  }

  // Between passes of the message loop no dial event is being handled.
  void NoDialEvent() { fEventState.reset(); }

  void OnNotify(Integer error, const std::string& text) {
    if (error != 0 && text.rfind(kErrorPrefix, 0) == 0) {
      fLastErrorTexts[error] = WithoutPrefix(text, kErrorPrefix);
      // The component hangs the attempt up next and then decides on a redial:
      // with no redials left it gives up (OnConnectFail) instead.
      if (fEndCode == 0 && (NoRedialMends(error) || error == kDialAlreadyInProgress)) {
        fEndCode = error == kDialAlreadyInProgress ? kExitFailed : kExitNoRas;
        fQuor.SetRedialAttempts(0);
      }
    }
    // Each attempt starts with "Dialing <entry>..." on a fresh hidden window.
    if (error == 0 && text == "Dialing " + fQuor.EntryName() + "...") {
      // The component's own count: a reconnect after a loss starts again at 1.
      fAttempt = fQuor.Attempt();
      fAttemptStart = QuorClockNow();
      fEventState.reset();
      const std::string attempt = " (attempt " + std::to_string(fAttempt) + " of " + std::to_string(Attempts()) + ")";
      Event("notify", error, fOut.Json() ? text : text + attempt, true);
      return;
    }
    Event("notify", error, text, true);
  }

  void OnConnect() {
    fConnected = true;
    if (fOnConnected) fOnConnected();
    Event("connect", 0, "", false);
  }

  void OnConnectFail(Integer error, const std::string& text) {
    // The same text has already gone through OnNotify; text mode names it
    // once more in the final message only.
    Event("connect_fail", error, text, false);
    if (fOutcome != Outcome::Running) return;
    // Nor can a reconnect mend it (the component announces none it no longer has pending).
    if (fEndCode != 0) fQuor.SetReconnect(false, fQuor.ReconnectHoldoff(), fQuor.ReconnectMaxFail());
    if (fQuor.ReconnectPending()) return;  // --persist: the next reconnect follows
    fOutcome = Outcome::Failed;
    fErrorCode = error;
    std::string detail = WithoutPrefix(WithoutPrefix(text, kErrorPrefix), kErrorConnectingPrefix);
    // The synchronous mode's "Error connecting." carries no RAS text; the
    // preceding "ERROR: " notice for the same number does.
    if (auto it = fLastErrorTexts.find(error); it != fLastErrorTexts.end() && detail == "Error connecting.") {
      detail = it->second;
    }
    fErrorText = detail;
  }

  void OnDisconnect(Integer error, const std::string& text) {
    Event("disconnect", error, text, true);
    if (fOutcome != Outcome::Running) return;
    if (error == static_cast<Integer>(RASCS_Disconnected)) {
      // RAS's own "disconnected" state: the status poll will see the handle
      // go and report the loss; give it a moment.
      if (fGrace != nullptr && !fGrace->Enabled() && !fGraceOver) fGrace->SetEnabled(true);
      return;
    }
    if (fQuor.ReconnectPending()) return;  // --persist: dialled again after the hold-off
    fOutcome = Outcome::Lost;
    fErrorCode = error;
    fErrorText = text;
  }

  // `quor hangup` hangs the line up next: its loss ends this dial as it
  // would without --persist. A loss seen already ends it now.
  void GiveUpReconnects() {
    const bool pending = fQuor.ReconnectPending();
    fQuor.SetReconnect(false, fQuor.ReconnectHoldoff(), fQuor.ReconnectMaxFail());
    if (pending && fOutcome == Outcome::Running) {
      fOutcome = Outcome::Lost;
      fErrorText = kLostText;
    }
    if (fOnNoReconnect) fOnNoReconnect();
  }

 public:
  void OnNoReconnect(std::function<void()> handler) { fOnNoReconnect = std::move(handler); }

 private:
  void Stop() {
    // Hang up whatever is under way: a call being dialled, a connection, or
    // a pending redial (Disconnect stops the redial timer too).
    fOutcome = Outcome::Stopped;
    fQuor.Disconnect();
  }

  int Finish() {
    int code = kExitOk;
    std::string message;
    switch (fOutcome) {
      case Outcome::Stopped:
      case Outcome::Running:
        code = kExitOk;
        break;
      case Outcome::OutputBroken:
        return kExitFailed;  // the tool says why once, on standard error
      case Outcome::Failed: {
        code = fEndCode != 0 ? fEndCode : kExitDialFailed;
        if (fErrorCode == kDialAlreadyInProgress) {
          // A dial of the same entry started meanwhile: as when it is found before dialling.
          const std::string name = Printable(fQuor.EntryName());
          message = "entry '" + name + "' is already being dialled: 'quor status " + name +
                    "' shows it, 'quor hangup " + name + "' ends it";
          break;
        }
        message = "connection failed: error " + std::to_string(fErrorCode) + ": " + fErrorText;
        // The simulated service says which scenario line or phonebook file it refused.
        const bool fileProblem =
            fErrorCode == kInvalidData || (fErrorCode >= static_cast<Integer>(ERROR_CANNOT_OPEN_PHONEBOOK) &&
                                           fErrorCode <= static_cast<Integer>(ERROR_CORRUPT_PHONEBOOK));
        if (const std::string detail = fileProblem ? SimulatedServiceProblem() : std::string(); !detail.empty()) {
          message += "; " + detail;
        }
        break;
      }
      case Outcome::Lost:
        if (fLossIsTheEnd) break;  // the demo's end, not a failure
        code = kExitLineLost;
        message = "connection lost";
        if (fErrorCode != 0) message += ": error " + std::to_string(fErrorCode);
        message += ": " + fErrorText;
        break;
    }
    if (fOut.Json()) {
      JsonObject o;
      const char* result = fOutcome == Outcome::Failed ? "failed" : fOutcome == Outcome::Lost ? "lost" : "stopped";
      o.Add("event", "exit").AddSeconds("time", Elapsed()).Add("result", result).Add("code", code);
      o.Add("error", fErrorCode).Add("connected", fConnected).Add("attempt", fAttempt).Add("attempts", Attempts());
      if (!message.empty()) o.Add("message", message);
      fOut.Object(o);
    }
    if (message.empty()) return code;
    // Said on standard error, and with --json as the closing error object.
    const bool rasError = fErrorCode > 0 && fErrorCode < static_cast<Integer>(RASCS_PAUSED);
    const uint32_t number = rasError ? static_cast<uint32_t>(fErrorCode) : 0;
    throw Failure(code, message, number, rasError ? RasErrorText(number) : std::string());
  }

  TQuor& fQuor;
  Output& fOut;
  bool fLossIsTheEnd;
  bool fWallClock;
  std::function<void()> fOnConnected;
  std::function<void()> fOnNoReconnect;
  TRasStateChangeEvent fPreviousStateChange;
  uint64_t fStart;
  uint64_t fAttemptStart = 0;
  // The state of the RAS dial event whose lines the component is writing.
  std::optional<uint32_t> fEventState;
  Integer fRedials;  // as set for the dial (an error no redial mends sets the component's to 0)
  int fEndCode = 0;  // the exit code of an error that ends the dial at once
  int64_t fAttempt = 0;
  Outcome fOutcome = Outcome::Running;
  bool fConnected = false;
  bool fStopAsked = false;
  bool fNoReconnectAsked = false;
  bool fGraceOver = false;
  TTimer* fGrace = nullptr;
  Integer fErrorCode = 0;
  std::string fErrorText;
  std::map<Integer, std::string> fLastErrorTexts;
};

}  // namespace

namespace {

// An entry has one connection at a time: RAS joins a dial of a connected
// entry to its connection. Say so instead, or watch that connection.
int AttachOrRefuse(RasSession& session, const std::string& entry, bool attach) {
  TQuor& quor = session.Quor();
  quor.Connections->Clear();
  if (!quor.EnumConnections()) return -1;
  const uint64_t handle = OwnConnectionHandle(entry);  // a same-named entry of another phonebook is another line
  if (handle == 0) return -1;
  const ForeignStatus status = ReadForeignStatus(handle);
  const bool connected = status.result == 0 && status.state == RASCS_Connected;
  const std::string name = Printable(entry);
  if (!attach || !connected) {
    throw Failure(kExitFailed, "entry '" + name + "' is already " + (connected ? "connected" : "being dialled") +
                                   " (handle " + std::to_string(handle) + "): 'quor status " + name +
                                   "' shows it, 'quor hangup " + name + "' ends it" +
                                   (connected ? ", 'quor dial " + name + " --attach' watches it" : std::string()));
  }
  Output& out = session.Out();
  if (out.Json()) {
    out.Object(JsonObject().Add("event", "attach").Add("entry", entry).Add("handle", handle));
  } else {
    out.Progress("Attached to the connection of " + name + " (handle " + std::to_string(handle) +
                 "); Ctrl-C detaches and leaves it up.");
  }
  platform::ClearStopRequest();
  platform::InstallStopHandlers(HWND{}, 0);  // the loop below looks at the flag every poll
  struct Restore {
    ~Restore() { platform::RemoveStopHandlers(); }
  } restore;
  while (!platform::StopRequested() && GlobalOutput().writeError == 0) {
    const ForeignStatus now = ReadForeignStatus(handle);
    if (now.result != 0 || now.state == RASCS_Disconnected) {
      if (out.Json()) out.Object(JsonObject().Add("event", "disconnect").Add("error", 0).Add("text", kLostText));
      throw Failure(kExitLineLost, std::string("connection lost: ") + kLostText);
    }
    Application->RunFor(kAttachPollMs);
  }
  return kExitOk;
}

}  // namespace

int DialAndMonitor(RasSession& session, const DialOptions& options) {
  TQuor& quor = session.Quor();
  const std::string entry = session.RequireEntry(options.entry);
  if (const int attached = AttachOrRefuse(session, entry, options.attach); attached >= 0) return attached;
  // `quor hangup` finds this dialler even in its redial pause.
  std::optional<DiallerNote> note;
  if (options.reachable) note.emplace(entry, options.persist);
  // Start from what RAS has stored for the entry (user, password, number),
  // as a dialer window does; the options override single parameters.
  if (!quor.GetDialParams(entry)) {
    // Stored parameters that cannot be read are not silently left out of the dial.
    if (const uint32_t code = ReadDialParamsCode(entry); code != 0) {
      throw RasRefused("RAS could not read the stored dial parameters of '" + Printable(entry) + "'", code);
    }
  }
  quor.SetEntryName(entry);
  if (options.user) quor.SetUserName(*options.user);
  if (options.password) quor.SetPassword(*options.password);
  if (options.phone) quor.SetPhoneNumber(*options.phone);
  if (options.redialAttempts) quor.SetRedialAttempts(*options.redialAttempts);
  if (options.redialPause) quor.SetRedialPause(*options.redialPause);
  quor.SetSynchronousDial(options.synchronous);
  if (options.backoffFactor) quor.SetRedialBackoff(*options.backoffFactor, options.backoffMax);
  quor.SetDialTimeout(options.dialTimeout);
  quor.SetReconnect(options.persist, options.holdoff, options.maxfail);
  quor.SetFastHangUp(options.fastHangUp);
  quor.SetWatchEvents(options.watchEvents);
  PrintStatisticsEvery(quor, session.Out(), options.statsSeconds);
  // The line is up: note its handle and time for `quor connections` and `quor status`.
  const auto onConnected = [&] {
    if (note) note->Connected(quor.GetHandleByName(entry));
  };
  DialMonitor monitor(quor, session.Out(), options.lossIsTheEnd, options.wallClock, onConnected);
  monitor.OnNoReconnect([&] {
    if (note) note->NoReconnect();
  });
  return monitor.Run();
}

void ParseBackoff(const std::string& text, double& factor, uint32_t& max) {
  const size_t comma = text.find(',');
  const std::string f = text.substr(0, comma);
  // A plain decimal number: digits with at most one point, nothing else.
  bool digits = false, point = false, ok = !f.empty();
  for (char c : f) {
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      ok = false;
    }
  }
  const double value = ok && digits ? std::strtod(f.c_str(), nullptr) : 0;
  if (!ok || !digits || !(value >= 1.0 && value <= 10.0)) {
    throw UsageError("--backoff: the factor must be a number from 1 to 10, not '" + f + "'");
  }
  factor = value;
  max = comma == std::string::npos ? 0
                                   : static_cast<uint32_t>(ParseNumber("--backoff", text.substr(comma + 1), 0, 86400));
}

int RunDial(const Args& args) {
  DialOptions options;
  options.entry = args.positional.at(0);
  if (options.entry.empty()) throw UsageError("the entry name is empty");
  CheckLength("the entry name", options.entry, RAS_MaxEntryName);
  if (const std::string* v = args.Value("--user")) {
    CheckLength("the user name", *v, UNLEN);
    options.user = *v;
  }
  if (const std::string* v = args.Value("--phone")) {
    if (v->empty()) throw UsageError("--phone needs a number (leave it out to dial the entry's number)");
    CheckLength("the phone number", *v, RAS_MaxPhoneNumber);
    options.phone = *v;
  }
  if (const std::string* v = args.Value("--redial")) {
    options.redialAttempts = static_cast<int32_t>(ParseNumber("--redial", *v, 0, 1000000));
  }
  Output out(args.json);
  if (const std::string* v = args.Value("--pause")) {
    options.redialPause = static_cast<uint8_t>(ParseNumber("--pause", *v, 0, 255));
    if (*options.redialPause > 60) {
      out.Note("a redial pause of " + *v + " seconds is stored as 60 seconds by the component");
    }
  }
  options.synchronous = args.Flag("--sync");
  options.attach = args.Flag("--attach");
  options.wallClock = args.Flag("--timestamps");
  if (const std::string* v = args.Value("--backoff")) {
    double factor = 1;
    ParseBackoff(*v, factor, options.backoffMax);
    options.backoffFactor = factor;
  }
  if (const std::string* v = args.Value("--timeout")) {
    options.dialTimeout = static_cast<uint32_t>(ParseNumber("--timeout", *v, 1, 86400));
  }
  options.persist = args.Flag("--persist");
  if (const std::string* v = args.Value("--holdoff")) {
    if (!options.persist) throw UsageError("--holdoff goes with --persist");
    options.holdoff = static_cast<uint32_t>(ParseNumber("--holdoff", *v, 0, 86400));
  }
  if (const std::string* v = args.Value("--maxfail")) {
    if (!options.persist) throw UsageError("--maxfail goes with --persist");
    options.maxfail = static_cast<int32_t>(ParseNumber("--maxfail", *v, 0, 1000000));
  }
  options.fastHangUp = args.Flag("--fast-hangup");
  if (const std::string* v = args.Value("--watch")) {
    if (*v != "event" && *v != "poll") throw UsageError("--watch takes 'event' or 'poll', not '" + *v + "'");
    options.watchEvents = *v == "event";
  }
  if (const std::string* v = args.Value("--stats"))
    options.statsSeconds = static_cast<uint32_t>(ParseNumber("--stats", *v, 1, 86400));
  options.reachable = true;
  options.password = ReadPassword(args);
  if (options.password) CheckLength("the password", *options.password, PWLEN);

  RasSession session(out);
  return DialAndMonitor(session, options);
}

}  // namespace quortool
