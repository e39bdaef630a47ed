// Handlers that act on the component from inside its events: free it, hang
// up, dial again, change the entry. What the handler did must stand: the
// operation that raised the event goes no further with a call that is no
// longer its own, and never touches a freed component (the suite runs under
// ASan in the sanitizer build). Every event of a few dial stories, under
// each policy, meets each action in turn.
#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "QuorTest.h"

using fakeras::DialEvent;
using fakeras::S;

namespace {

struct Policy {
  const char* Name;
  std::function<void(TQuor&)> Set;
};

const Policy kPolicies[] = {
    {"classic", [](TQuor&) {}},
    {"back-off", [](TQuor& q) { q.SetRedialBackoff(2.0, 0); }},
    {"dial timeout", [](TQuor& q) { q.SetDialTimeout(30); }},
    {"reconnect", [](TQuor& q) { q.SetReconnect(true, 5, 1); }},
    {"fast hang-up", [](TQuor& q) { q.SetFastHangUp(true); }},
    {"event-driven loss", [](TQuor& q) { q.SetWatchEvents(true); }},
    {"all",
     [](TQuor& q) {
       q.SetRedialBackoff(2.0, 0);
       q.SetDialTimeout(30);
       q.SetReconnect(true, 5, 1);
       q.SetFastHangUp(true);
       q.SetWatchEvents(true);
     }},
};

const DialEvent kUp{50, RASCS_Connected, 0};

// A dial story: the scripts and results of the first dials (later dials fail
// at once with 676); the line of a connected call drops at 20 s.
struct Story {
  const char* Name;
  bool Sync;
  std::vector<std::vector<DialEvent>> Scripts;
  std::vector<DWORD> Results;
};

const Story kStories[] = {
    {"busy, redial, up, lost",
     false,
     {{{10, RASCS_OpenPort, 0}, {20, RASCS_ConnectDevice, 0}, {30, RASCS_PortOpened, 676}}, {kUp}},
     {0, 0}},
    {"every dial hangs", false, {{}, {}}, {0, 0}},
    {"synchronous, up, Disconnected event, lost",
     true,
     {{{20, RASCS_Authenticate, 0}, kUp, {100, RASCS_Disconnected, 0}}},
     {0}},
    {"every dial fails at once", false, {}, {}},
    {"synchronous, every dial fails at once", true, {}, {}},
};

enum class Act { None, Free, Disconnect, Connect, Rename };

constexpr size_t kNever = SIZE_MAX;

class ReentryTest : public QuorTest {
 protected:
  // One run of a story: the events as "time kind error text", and what was
  // there when the action (at the event numbered At) returned.
  struct Run {
    std::vector<std::string> Trace;
    size_t At = kNever;
    bool Acted = false;
    std::string ActedOn;
    size_t TraceAfter = 0;   // events recorded when the action returned
    size_t DialsBefore = 0;  // dials made when the action began
  };

  void Record(char Kind, DWORD Err, const std::string& Text) {
    if (fInAction) return;  // the action's own events (its hang-up notice, its dial) are its own
    fRun.Trace.push_back(std::to_string(QuorClockNow() - fT0) + " " + Kind + std::to_string(Err) + " " + Text);
    if (fRun.Acted || fRun.Trace.size() != fRun.At + 1) return;
    fRun.Acted = true;
    fRun.ActedOn = fRun.Trace.back();
    fRun.DialsBefore = S().Dials.size();
    fActedAt = QuorClockNow();
    fInAction = true;
    switch (fAct) {
      case Act::Free:
        delete fQ;
        fQ = nullptr;
        break;
      case Act::Disconnect:
        fQ->Disconnect();
        break;
      case Act::Connect:
        // The application's own dial connects and stays up.
        S().Scripts.clear();
        S().DialResults.clear();
        S().DialResult = 0;
        S().Script = {kUp};
        fQ->Connect();
        break;
      case Act::Rename:
        fQ->SetEntryName("Home");
        break;
      default:
        break;
    }
    fInAction = false;
    fRun.TraceAfter = fRun.Trace.size();
  }

  Run Play(const Policy& P, const Story& St, size_t At, Act A) {
    S() = fakeras::State{};
    S().ErrorTexts = {{676, "The line is busy."}, {638, "The request has timed out."}};
    S().AutoStatus = true;
    S().Scripts = St.Scripts;
    S().DialResults = St.Results;
    S().DialResult = 676;
    fRun = Run{};
    fRun.At = At;
    fAct = A;
    fQ = new TQuor(nullptr);
    BindFakes(*fQ);
    fQ->SetEntryName("Office");
    fQ->SetRedialAttempts(1);
    fQ->SetRedialPause(1);
    fQ->SetSynchronousDial(St.Sync);
    P.Set(*fQ);
    // Each handler still uses what it captured once its work is done, as
    // handlers do: the component must not free a handler while it runs.
    auto count = std::make_shared<size_t>(0);
    fQ->SetOnNotify([this, count](Integer E, String T) { Record('N', static_cast<DWORD>(E), T), ++*count; });
    fQ->SetOnConnect([this, count](TObject*) { Record('C', 0, ""), ++*count; });
    fQ->SetOnDisconnect([this, count](Integer E, String T) { Record('D', static_cast<DWORD>(E), T), ++*count; });
    fQ->SetOnConnectFail([this, count](Integer E, String T) { Record('F', static_cast<DWORD>(E), T), ++*count; });
    fQ->SetOnStateChange([this, count](DWORD State, DWORD E) { Record('S', E, std::to_string(State)), ++*count; });
    fT0 = QuorClockNow();
    fQ->Connect();
    RunTo(20000);
    // The line drops, unless the handler's own dial holds it by now.
    if (!(fRun.Acted && fAct == Act::Connect) && fQ != nullptr && QI::hRas(*fQ) != 0) {
      S().Status.erase(QI::hRas(*fQ));
      if (fQ->WatchingEvents()) SetEvent(S().NotifyEvents.back());
    }
    RunTo(80000);
    return fRun;
  }

  // Runs the loop to a time of the story; a dial the handler started has
  // shown within 10 s whether anything dials on top of it.
  void RunTo(uint64_t Ms) {
    while (QuorClockNow() < fT0 + Ms) {
      if (fAct == Act::Connect && fRun.Acted && QuorClockNow() >= fActedAt + 10000) return;
      Application->RunFor(static_cast<uint32_t>(std::min<uint64_t>(1000, fT0 + Ms - QuorClockNow())));
    }
  }

  // Frees the component of the run, without recording its last hang-up.
  void Finish() {
    fInAction = true;
    delete fQ;
    fQ = nullptr;
    fInAction = false;
  }

  // Every dial that got a handle was hung up, but for Except.
  static bool AllHungUp(THRasConn Except = 0) {
    for (const fakeras::DialCall& d : S().Dials) {
      if (d.Handle == 0 || d.Handle == Except) continue;
      bool found = false;
      for (THRasConn h : S().HangUps) found = found || h == d.Handle;
      if (!found) return false;
    }
    return true;
  }

  using Problems = std::vector<std::string>;
  // What one run got wrong; Base is the same story without an action.
  using Verify = std::function<void(const Run& Base, const Run& Got, Problems& Out)>;

  // Plays every event of every story under every policy with the action and
  // collects what went wrong as "policy / story / event: what".
  Problems Sweep(Act A, const Verify& Check) {
    Problems all;
    size_t runs = 0;
    for (const Policy& p : kPolicies) {
      for (const Story& st : kStories) {
        const Run base = Play(p, st, kNever, Act::None);
        Finish();
        EXPECT_FALSE(base.Trace.empty()) << p.Name << " / " << st.Name;
        for (size_t at = 0; at < base.Trace.size(); ++at) {
          const Run got = Play(p, st, at, A);
          ++runs;
          Problems out;
          if (!got.Acted) out.push_back("the event never came");
          if (!Exceptions.empty()) out.push_back("exception: " + Exceptions.front());
          Exceptions.clear();
          if (got.Acted) Check(base, got, out);
          for (const std::string& o : out)
            all.push_back(std::string(p.Name) + " / " + st.Name + " / #" + std::to_string(at) + " \"" + got.ActedOn +
                          "\": " + o);
          Finish();
        }
      }
    }
    EXPECT_GT(runs, 200u);
    return all;
  }

  // The events after the action returned.
  static std::vector<std::string> After(const Run& R) {
    return std::vector<std::string>(R.Trace.begin() + static_cast<long>(R.TraceAfter), R.Trace.end());
  }

  // The component is idle: no call, no window, no timer that would act.
  void ExpectIdle(Problems& Out) {
    if (QI::hRas(*fQ) != 0) Out.push_back("a call is still held");
    if (fQ->fWindowHandle != HWND{}) Out.push_back("the dial window is still there");
    if (QI::Redial(*fQ)->Enabled()) Out.push_back("a redial is armed");
    if (QI::CheckStatus(*fQ)->Enabled()) Out.push_back("the status poll runs");
    if (QI::DialTimeout(*fQ)->Enabled()) Out.push_back("the dial timeout is armed");
    if (fQ->ReconnectPending()) Out.push_back("a reconnect is pending");
    if (fQ->WatchingEvents()) Out.push_back("the loss watch is registered");
  }

  TQuor* fQ = nullptr;
  Run fRun;
  Act fAct = Act::None;
  bool fInAction = false;
  uint64_t fT0 = 0, fActedAt = 0;
};

std::string Join(const std::vector<std::string>& Lines, size_t Max = 40) {
  std::string out = std::to_string(Lines.size()) + " problems";
  for (size_t i = 0; i < Lines.size() && i < Max; ++i) out += "\n  " + Lines[i];
  return out;
}

TEST_F(ReentryTest, HandlerMayFreeTheComponentInAnyEvent) {
  const Problems problems = Sweep(Act::Free, [](const Run&, const Run& Got, Problems& Out) {
    if (!After(Got).empty()) Out.push_back("events after the free: " + After(Got).front());
    if (S().Dials.size() != Got.DialsBefore) Out.push_back("a dial after the free");
    if (!AllHungUp()) Out.push_back("a call left up");
  });
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

TEST_F(ReentryTest, HandlerDisconnectInAnyEventEndsEverything) {
  const Problems problems = Sweep(Act::Disconnect, [this](const Run&, const Run& Got, Problems& Out) {
    if (!After(Got).empty()) Out.push_back("events after the hang-up: " + After(Got).front());
    if (S().Dials.size() != Got.DialsBefore) Out.push_back("a dial after the hang-up");
    if (!AllHungUp()) Out.push_back("a call left up");
    ExpectIdle(Out);
  });
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

TEST_F(ReentryTest, HandlerConnectInAnyEventIsTheDialThatGoesOn) {
  const Problems problems = Sweep(Act::Connect, [this](const Run&, const Run& Got, Problems& Out) {
    // The handler's dial is the last one made, and it is up.
    if (S().Dials.size() != Got.DialsBefore + 1) {
      Out.push_back(std::to_string(S().Dials.size() - Got.DialsBefore) + " dials from the handler's Connect on");
      return;
    }
    const THRasConn mine = S().Dials.back().Handle;
    if (QI::hRas(*fQ) != mine) Out.push_back("the component does not hold the handler's call");
    for (THRasConn h : S().HangUps)
      if (h == mine) Out.push_back("the handler's call was hung up");
    if (!AllHungUp(mine)) Out.push_back("an earlier call left up");
    if (!QI::CheckStatus(*fQ)->Enabled()) Out.push_back("the handler's call is not watched");
    if (QI::Redial(*fQ)->Enabled() || fQ->ReconnectPending()) Out.push_back("a further dial is armed");
    const std::vector<std::string> after = After(Got);
    if (after.empty() || after.back().find(" N0 Connected") == std::string::npos)
      Out.push_back("the handler's dial did not end connected");
  });
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

TEST_F(ReentryTest, HandlerChangingTheEntryChangesOnlyTheLaterDials) {
  const Problems problems = Sweep(Act::Rename, [this](const Run& Base, const Run& Got, Problems& Out) {
    // The same story, the later dials announced and made with the new name.
    std::vector<std::string> expected(Base.Trace.begin() + static_cast<long>(Got.TraceAfter), Base.Trace.end());
    for (std::string& e : expected) {
      const size_t at = e.find("Dialing Office...");
      if (at != std::string::npos) e.replace(at, 17, "Dialing Home...");
    }
    const std::vector<std::string> after = After(Got);
    for (size_t i = 0; i < after.size() || i < expected.size(); ++i) {
      const std::string got = i < after.size() ? after[i] : "(none)",
                        want = i < expected.size() ? expected[i] : "(none)";
      if (got == want) continue;
      Out.push_back("\"" + got + "\" where the story has \"" + want + "\"");
      break;
    }
    // A dial announced before the change is made as announced.
    const size_t first =
        Got.ActedOn.find("Dialing Office...") != std::string::npos ? Got.DialsBefore + 1 : Got.DialsBefore;
    for (size_t i = 0; i < S().Dials.size(); ++i) {
      if (S().Dials[i].Entry != (i < first ? "Office" : "Home"))
        Out.push_back("dial " + std::to_string(i) + " to " + S().Dials[i].Entry);
    }
    if (fQ->EntryName() != "Home") Out.push_back("the entry is " + fQ->EntryName());
  });
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

}  // namespace
