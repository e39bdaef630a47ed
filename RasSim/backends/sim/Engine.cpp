// The simulation's dial engine: calls stepping through their plan on the
// clock, teardown, lines dropped or hung up elsewhere, and the effects
// (timers, posts, windows) gathered under the lock and run after it.
#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Platform.h"
#include "Win32/Clock.h"

namespace rassim {

namespace sim {

State* g_state = nullptr;
EdgeServices g_edge;

namespace {
std::once_flag g_stateOnce;
}  // namespace

State& S() {
  std::call_once(g_stateOnce, [] { g_state = new State; });
  return *g_state;
}

void Effects::Run() {
  for (uint32_t id : cancels) QuorClockCancel(id);
  for (auto& s : schedules) {
    uintptr_t key;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      auto c = S().calls.find(s.first);
      if (c == S().calls.end()) continue;
      key = ++S().nextTimerKey;
      S().timers[key] = Timer{s.first, s.second.first, 0};
      c->second->timers.insert(key);
    }
    uint32_t id = QuorClockSchedule(s.second.second, OnTimer, reinterpret_cast<void*>(key));
    std::lock_guard<std::mutex> lock(S().mutex);
    auto t = S().timers.find(key);
    if (t != S().timers.end()) t->second.id = id;
  }
  for (const Post& p : posts) PostMessageA(p.wnd, p.msg, p.wp, p.lp);
  for (const DialEvent& e : events)
    if ((!g_edge.PostDialEvent || !g_edge.PostDialEvent(e.to, e.state, e.error)) && e.call != 0) EventLost(e.call);
  for (THRasConn h : createWindows) CreateConnectionWindow(h);
  for (HWND w : destroys)
    if (w && IsWindow(w)) DestroyWindow(w);
  for (THRasConn h : made)
    if (g_edge.ConnectionMade) g_edge.ConnectionMade(h);
  for (THRasConn h : ended)
    if (g_edge.ConnectionEnded) g_edge.ConnectionEnded(h);
}

Call* FindCall(THRasConn h) {
  auto it = S().calls.find(h);
  return it == S().calls.end() ? nullptr : it->second.get();
}

void DropTimers(Call& c, Effects& fx) {
  for (uintptr_t key : c.timers) {
    auto t = S().timers.find(key);
    if (t == S().timers.end()) continue;
    if (t->second.id) fx.cancels.push_back(t->second.id);
    S().timers.erase(t);
  }
  c.timers.clear();
}

bool OnOwnerThread(const Call& c) {
  return GetCurrentThreadId() == c.ownerThread;
}

// Ends the call's windows: at once on the owner thread, else through the helper.
void EndWindows(Call& c, Effects& fx) {
  if (!c.helper && !c.connWindow) return;
  if (OnOwnerThread(c) || !c.helper) {
    fx.destroys.push_back(c.connWindow);
    fx.destroys.push_back(c.helper);
  } else {
    fx.posts.push_back(Post{c.helper, kMsgEndWindows, 0, static_cast<LPARAM>(HandleValue(c.connWindow))});
  }
  c.helper = 0;
  c.connWindow = 0;
}

registry::ConnRecord RecordOf(const Call& c) {
  registry::ConnRecord r;
  r.handle = c.handle;
  r.entry = c.entry;
  r.phonebook = c.phonebook;
  r.deviceType = c.deviceType;
  r.deviceName = c.deviceName;
  r.state = c.state;
  r.error = c.error;
  r.ownerPid = platform::CurrentProcessId();
  r.hungUp = c.phase == Phase::TearingDown;
  r.ipAddress = c.plan.ipAddress;
  r.serverIpAddress = c.plan.serverIpAddress;
  r.line = LineText(c.plan.line, c.connectedAt);
  return r;
}

void BeginTeardown(Call& c, Effects& fx) {
  DropTimers(c, fx);
  c.phase = Phase::TearingDown;
  c.state = RASCS_Disconnected;
  c.error = 0;
  c.teardownEnds = QuorClockNow() + c.plan.teardownMs;
  registry::ConnRecord r = RecordOf(c);
  registry::Publish(r);
  EndWindows(c, fx);
  fx.schedules.push_back({c.handle, {kTeardownEnd, c.plan.teardownMs}});
  fx.ended.push_back(c.handle);
}

void FinishTeardown(THRasConn h, Effects& fx) {
  Call* c = FindCall(h);
  if (!c) return;
  DropTimers(*c, fx);
  EndWindows(*c, fx);
  // A line lost for a reason keeps its record for a while: other processes
  // still hear why it went.
  if (c->phase == Phase::Dropped && c->plan.line.lossReason)
    registry::MarkHungUp(h);
  else
    registry::Remove(h);
  S().calls.erase(h);
}

// A dial hung up from elsewhere ends for its dialler as on Windows: with an
// error dial event, so the application's failure path runs.
void PortDisconnected(const Call& c, Effects& fx) {
  if (c.async && c.phase == Phase::Dialling)
    fx.events.push_back(DialEvent{c.notifier, c.state, ERROR_PORT_DISCONNECTED, c.handle});
}

// Hung up by another process (or its record removed)? Then this call ends.
bool EndedElsewhere(Call& c, Effects& fx) {
  if (c.phase != Phase::Dialling && c.phase != Phase::Connected && c.phase != Phase::Failed) return false;
  registry::ConnRecord r;
  if (registry::Read(c.handle, r) && !r.hungUp) return false;
  PortDisconnected(c, fx);
  BeginTeardown(c, fx);
  return true;
}

// A teardown whose time is over ends the call (also when its clock callback is late).
bool Expired(Call& c, Effects& fx) {
  if (c.phase == Phase::TearingDown && QuorClockNow() >= c.teardownEnds) {
    FinishTeardown(c.handle, fx);
    return true;
  }
  return false;
}

void RequestConnectionWindow(Call& c, Effects& fx) {
  if (!c.plan.connectionWindow || !c.helper) return;
  if (OnOwnerThread(c))
    fx.createWindows.push_back(c.handle);
  else
    fx.posts.push_back(Post{c.helper, kMsgCreateConnWindow, static_cast<WPARAM>(c.handle), 0});
}

// Takes the next step of a dial: new state, registry record, dial event.
void AdvanceStep(Call& c, Effects& fx) {
  if (c.phase != Phase::Dialling || c.next >= c.plan.steps.size()) return;
  if (EndedElsewhere(c, fx)) return;
  const DialStep step = c.plan.steps[c.next++];
  c.state = step.state;
  c.error = step.error;
  bool last = c.next >= c.plan.steps.size();
  if (step.error)
    c.phase = Phase::Failed;
  else if (last)
    c.phase = c.plan.connects ? Phase::Connected : Phase::Failed;
  if (c.phase == Phase::Connected) c.connectedAt = QuorClockNow();
  registry::ConnRecord r = RecordOf(c);
  DWORD unwritten = 0;
  if (registry::Publish(r, &unwritten)) {  // hung up elsewhere meanwhile
    c.phase = Phase::Dialling;
    PortDisconnected(c, fx);
    BeginTeardown(c, fx);
    return;
  }
  if (unwritten && !c.error) {
    // A call whose record no longer reaches the state folder is wrong for
    // every other process (listed in an old state, not hung up from there):
    // it fails now, and its dialler hears why.
    c.phase = Phase::Failed;
    c.error = unwritten;
  }
  if (c.async) fx.events.push_back(DialEvent{c.notifier, c.state, c.error, c.handle});
  if (c.phase == Phase::Dialling && c.async) fx.schedules.push_back({c.handle, {kStep, c.plan.steps[c.next].delayMs}});
  if (c.phase == Phase::Connected) {
    fx.made.push_back(c.handle);
    if (c.plan.dropAfterMs) {
      uint64_t d = c.plan.dropAfterMs > 0xFFFFFFF0u ? 0xFFFFFFF0u : c.plan.dropAfterMs;
      fx.schedules.push_back({c.handle, {kDrop, static_cast<uint32_t>(d)}});
    }
    RequestConnectionWindow(c, fx);
  }
}

// The line is lost: the call is gone for everybody (no longer listed); only
// RasHangUp still knows the handle, and a status call hears the reason, if
// the scenario gives one, in any process.
void DropLine(Call& c, Effects& fx) {
  DropTimers(c, fx);
  c.phase = Phase::Dropped;
  if (c.plan.line.lossReason)
    registry::MarkLost(c.handle, c.plan.line.lossReason);
  else
    registry::Remove(c.handle);
  EndWindows(c, fx);
  fx.ended.push_back(c.handle);
}

void OnTimer(void* context) {
  if (g_state == nullptr) return;  // the module is unloading
  uintptr_t key = reinterpret_cast<uintptr_t>(context);
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto t = S().timers.find(key);
    if (t == S().timers.end()) return;  // cancelled
    Timer timer = t->second;
    S().timers.erase(t);
    Call* c = FindCall(timer.handle);
    if (!c) return;
    c->timers.erase(key);
    switch (timer.kind) {
      case kStep:
        AdvanceStep(*c, fx);
        break;
      case kDrop:
        if (c->phase == Phase::Connected && !EndedElsewhere(*c, fx)) DropLine(*c, fx);
        break;
      case kTeardownEnd:
        if (c->phase == Phase::TearingDown) FinishTeardown(c->handle, fx);
        break;
    }
  }
  fx.Run();
}

// A dial event that could not be posted (the notifier's queue is full, or
// the window is gone) must not vanish: the call fails with it, and its
// status says so, for whoever asks.
void EventLost(THRasConn h) {
  Effects fx;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    Call* c = FindCall(h);
    if (!c || c->phase == Phase::TearingDown || c->phase == Phase::Dropped) return;
    DropTimers(*c, fx);
    c->phase = Phase::Failed;
    c->error = ERROR_OUT_OF_BUFFERS;
    registry::ConnRecord r = RecordOf(*c);
    registry::Publish(r);
    EndWindows(*c, fx);
  }
  fx.Run();
}

}  // namespace sim

}  // namespace rassim
