// `quor monitor`: prints every connection of the machine as it appears,
// changes state, is lost (with RAS's reason) and ends, whichever process
// dialled it, until Ctrl-C or SIGTERM. It dials nothing and holds nothing:
// it only looks at RAS's list of connections and their states.
#include "tools/quor/Monitor.h"

#include <cstdio>
#include <map>
#include <vector>

#include "tools/quor/Errors.h"
#include "tools/quor/ForeignConnection.h"
#include "tools/quor/Output.h"
#include "tools/quor/Platform.h"
#include "tools/quor/RasConnections.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"

namespace quortool {

namespace {

constexpr UINT kStopNotice = WM_USER + 1;  // posted to the monitor's window by a stop request
constexpr Cardinal kLookMs = 200;          // how often RAS's list is looked at

struct Seen {
  std::string entry;
  uint32_t state = 0;
  bool lost = false;
};

class Monitor {
 public:
  explicit Monitor(Output& out) : fOut(out), fStart(QuorClockNow()) {}

  // One look at RAS's list: what appeared, changed, was lost or ended since the last.
  void Look() {
    std::vector<ListedConnection> listed;
    if (ListConnections(listed) != 0) return;  // RAS could not list them now: the next look tries again
    std::map<uint64_t, Seen> now;
    for (const ListedConnection& c : listed) {
      const ForeignStatus st = ReadForeignStatus(c.handle);
      auto before = fSeen.find(c.handle);
      Seen s = before == fSeen.end() ? Seen{c.entry, 0, false} : before->second;
      if (before == fSeen.end()) Event("appeared", c.handle, s.entry, st.state, 0);
      const uint32_t error = st.result != 0 && st.result != ERROR_INVALID_HANDLE ? st.result : st.error;
      if (st.result == 0 && before != fSeen.end() && st.state != s.state)
        Event("state", c.handle, s.entry, st.state, 0);
      if (st.result == 0) s.state = st.state;
      if (error != 0 && !s.lost) {
        Event("lost", c.handle, s.entry, s.state, error);
        s.lost = true;
      }
      now[c.handle] = s;
    }
    for (const auto& [handle, s] : fSeen) {
      if (now.find(handle) != now.end()) continue;
      // Off the list: a line that was lost still tells why, for a while, to whoever asks about its handle.
      bool lost = s.lost;
      if (!lost) {
        const ForeignStatus st = ReadForeignStatus(handle);
        if (st.result != 0 && st.result != ERROR_INVALID_HANDLE) {
          Event("lost", handle, s.entry, RASCS_Disconnected, st.result);
          lost = true;
        }
      }
      Event(lost ? "gone" : "ended", handle, s.entry, RASCS_Disconnected, 0);
    }
    fSeen.swap(now);
  }

 private:
  void Event(const char* kind, uint64_t handle, const std::string& entry, uint32_t state, uint32_t error) {
    const uint64_t ms = QuorClockNow() - fStart;
    if (fOut.Json()) {
      JsonObject o;
      o.Add("event", kind).AddSeconds("time", ms).Add("wall_time", WallClock());
      o.Add("handle", static_cast<int64_t>(handle)).Add("entry", entry);
      o.Add("state", static_cast<int64_t>(state)).Add("state_name", StateName(state));
      o.Add("error", static_cast<int64_t>(error));
      if (error != 0) o.Add("error_text", RasErrorText(error));
      fOut.Object(o);
      return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%7.3f] ", static_cast<double>(ms) / 1000.0);
    std::string text = std::string(stamp) + Printable(entry) + " (handle " + std::to_string(handle) + ") " + kind;
    if (std::string(kind) != "ended" && std::string(kind) != "gone") text += ": " + StateName(state);
    if (error != 0) text += ": " + RasErrorText(error) + " (RAS error " + std::to_string(error) + ")";
    fOut.Line(text);
  }

  Output& fOut;
  uint64_t fStart;
  std::map<uint64_t, Seen> fSeen;
};

}  // namespace

int RunMonitor(const Args& args) {
  Output out(args.json);
  RasSession session(out, RasSession::Needs::ConnectionsOnly);
  Monitor monitor(out);
  bool stopAsked = false;
  struct Notices {
    HWND window;
    ~Notices() {
      platform::RemoveStopHandlers();
      DeallocateHWnd(window);
    }
  } notices{AllocateHWnd([&stopAsked](TMessage& Msg) {
    if (Msg.Msg == kStopNotice) stopAsked = true;
  })};
  platform::ClearStopRequest();
  platform::InstallStopHandlers(notices.window, kStopNotice);
  TTimer look(nullptr);
  look.SetInterval(kLookMs);
  look.SetOnTimer([&monitor](TObject*) { monitor.Look(); });
  monitor.Look();  // the connections up already appear at once
  look.SetEnabled(true);
  while (!stopAsked && !platform::StopRequested() && GlobalOutput().writeError == 0) Application->HandleMessage();
  return kExitOk;
}

}  // namespace quortool
