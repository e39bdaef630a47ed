// Quor's one clock: real monotonic time by default, virtual time on demand,
// and one-shot callbacks scheduled on it.
//
// Only the standard library is used here, so this file is the same on every
// platform. It deliberately does not include Win32.h: there Sleep is our own
// QuorSleep.
#include "Win32/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Win32/ClockInternal.h"

// Copies of the mode and the virtual reading for QuorClockNow without the
// lock (it is read for every posted message); written under the lock,
// reading first.
std::atomic<bool> qw_clock::gVirtualRead{false};
std::atomic<uint64_t> qw_clock::gVirtualReadNow{0};

namespace {

using Key = std::pair<uint64_t, uint64_t>;  // (due time, scheduling sequence)

struct Pending {
  uint32_t id;
  QuorClockCallback callback;
  void* context;
};

// A callback that is executing right now, so that a cancel from another
// thread can wait for it to return before the caller frees its context.
struct Running {
  uint32_t id;
  std::thread::id thread;
  QuorClockCallback callback;
};

struct ClockState {
  std::mutex lock;
  std::condition_variable wakeRunner;    // the schedule or the mode changed
  std::condition_variable callbackDone;  // a callback returned
  bool isVirtual = false;
  uint64_t virtualNow = 0;
  int64_t realOffset = 0;  // real reading = steady milliseconds + realOffset
  uint64_t lastReal = 0;   // the real reading never goes below this
  uint64_t sequence = 0;
  uint32_t lastId = 0;
  std::map<Key, Pending> pending;
  std::unordered_map<uint32_t, Key> keyOf;
  std::vector<Running> running;
  std::thread runner;
  bool runnerStarted = false;
  bool stopping = false;
};

// Never destroyed: the clock may be read by other modules' destructors and by
// the message layer's thread clean-up after this file's statics are gone.
ClockState& State() {
  static ClockState* state = new ClockState;
  return *state;
}

uint64_t SteadyMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void PublishVirtualLocked(ClockState& s) {
  qw_clock::gVirtualReadNow.store(s.virtualNow, std::memory_order_release);
  qw_clock::gVirtualRead.store(s.isVirtual, std::memory_order_release);
}

uint64_t NowLocked(ClockState& s) {
  if (s.isVirtual) return s.virtualNow;
  uint64_t reading = static_cast<uint64_t>(static_cast<int64_t>(SteadyMs()) + s.realOffset);
  if (reading < s.lastReal) reading = s.lastReal;
  s.lastReal = reading;
  return reading;
}

void EraseRunning(ClockState& s, uint32_t id) {
  auto it = std::find_if(s.running.begin(), s.running.end(),
                         [&](const Running& r) { return r.id == id && r.thread == std::this_thread::get_id(); });
  if (it != s.running.end()) s.running.erase(it);
}

// Takes the earliest callback off the schedule and runs it without the lock.
// Returns with the lock held again.
void RunFirst(ClockState& s, std::unique_lock<std::mutex>& held) {
  auto first = s.pending.begin();
  Pending p = first->second;
  s.keyOf.erase(p.id);
  s.pending.erase(first);
  s.running.push_back({p.id, std::this_thread::get_id(), p.callback});
  held.unlock();
  p.callback(p.context);
  held.lock();
  EraseRunning(s, p.id);
  s.callbackDone.notify_all();
}

// Real-time callbacks run here, each at its due time.
void RunnerLoop() {
  ClockState& s = State();
  std::unique_lock<std::mutex> held(s.lock);
  while (!s.stopping) {
    if (s.isVirtual || s.pending.empty()) {
      s.wakeRunner.wait(held);
      continue;
    }
    uint64_t now = NowLocked(s);
    uint64_t due = s.pending.begin()->first.first;
    if (due <= now) {
      RunFirst(s, held);
    } else {
      s.wakeRunner.wait_for(held, std::chrono::milliseconds(due - now));
    }
  }
}

void StartRunnerLocked(ClockState& s) {
  if (s.runnerStarted || s.stopping) return;
  s.runner = std::thread(RunnerLoop);
  s.runnerStarted = true;
}

// Stops the real-time thread when the library goes away, so that the process
// exits with no thread of ours still running callbacks. Callbacks still
// pending then are dropped.
struct RunnerStopper {
  ~RunnerStopper() {
    ClockState& s = State();
    std::thread runner;
    {
      std::lock_guard<std::mutex> held(s.lock);
      s.stopping = true;
      s.wakeRunner.notify_all();
      runner = std::move(s.runner);
    }
    if (!runner.joinable()) return;
    if (runner.get_id() == std::this_thread::get_id()) {
      runner.detach();  // exit() called from a callback: it cannot join itself
    } else {
      runner.join();
    }
  }
};
RunnerStopper runnerStopper;

void AdvanceToTarget(uint64_t target) {
  ClockState& s = State();
  std::unique_lock<std::mutex> held(s.lock);
  for (;;) {
    if (!s.isVirtual) return;
    if (!s.pending.empty() && s.pending.begin()->first.first <= target) {
      s.virtualNow = std::max(s.virtualNow, s.pending.begin()->first.first);
      PublishVirtualLocked(s);
      RunFirst(s, held);
      continue;
    }
    s.virtualNow = std::max(s.virtualNow, target);
    PublishVirtualLocked(s);
    return;
  }
}

}  // namespace

extern "C" {

uint64_t QuorClockNow(void) {
  if (qw_clock::gVirtualRead.load(std::memory_order_acquire)) {
    return qw_clock::gVirtualReadNow.load(std::memory_order_acquire);
  }
  ClockState& s = State();
  std::lock_guard<std::mutex> held(s.lock);
  return NowLocked(s);
}

void QuorClockUseVirtual(int on) {
  ClockState& s = State();
  std::lock_guard<std::mutex> held(s.lock);
  bool wanted = on != 0;
  if (wanted == s.isVirtual) return;
  if (wanted) {
    s.virtualNow = NowLocked(s);
    s.isVirtual = true;
  } else {
    // Back to real time without stepping backwards: real time resumes from
    // wherever virtual time had been moved to.
    s.isVirtual = false;
    int64_t reading = static_cast<int64_t>(SteadyMs()) + s.realOffset;
    if (reading < static_cast<int64_t>(s.virtualNow)) {
      s.realOffset += static_cast<int64_t>(s.virtualNow) - reading;
    }
    s.lastReal = std::max(s.lastReal, s.virtualNow);
    if (!s.pending.empty()) StartRunnerLocked(s);
  }
  PublishVirtualLocked(s);
  s.wakeRunner.notify_all();
}

int QuorClockIsVirtual(void) {
  ClockState& s = State();
  std::lock_guard<std::mutex> held(s.lock);
  return s.isVirtual ? 1 : 0;
}

void QuorClockAdvance(uint64_t ms) {
  uint64_t target;
  {
    ClockState& s = State();
    std::lock_guard<std::mutex> held(s.lock);
    if (!s.isVirtual) return;
    target = s.virtualNow + ms < s.virtualNow ? UINT64_MAX : s.virtualNow + ms;
  }
  AdvanceToTarget(target);
}

void QuorClockAdvanceTo(uint64_t when) {
  AdvanceToTarget(when);
}

void QuorSleep(uint32_t ms) {
  if (QuorClockIsVirtual()) {
    QuorClockAdvance(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

uint32_t QuorClockSchedule(uint32_t delayMs, QuorClockCallback callback, void* context) {
  if (callback == nullptr) return 0;  // nothing could ever be called
  ClockState& s = State();
  std::lock_guard<std::mutex> held(s.lock);
  uint32_t id;
  do {
    id = ++s.lastId;
  } while (id == 0 || s.keyOf.count(id) != 0);
  Key key{NowLocked(s) + delayMs, ++s.sequence};
  s.pending.emplace(key, Pending{id, callback, context});
  s.keyOf.emplace(id, key);
  if (!s.isVirtual) StartRunnerLocked(s);
  s.wakeRunner.notify_all();
  return id;
}

int QuorClockCancel(uint32_t id) {
  ClockState& s = State();
  std::unique_lock<std::mutex> held(s.lock);
  auto it = s.keyOf.find(id);
  if (it != s.keyOf.end()) {
    s.pending.erase(it->second);
    s.keyOf.erase(it);
    s.wakeRunner.notify_all();
    return 1;
  }
  // Running right now on another thread: wait until it has returned, so the
  // caller may free the callback's context once we come back. A callback
  // cancelling itself simply gets 0.
  auto runningElsewhere = [&] {
    return std::any_of(s.running.begin(), s.running.end(),
                       [&](const Running& r) { return r.id == id && r.thread != std::this_thread::get_id(); });
  };
  s.callbackDone.wait(held, [&] { return !runningElsewhere(); });
  return 0;
}

void QuorClockCancelCallback(QuorClockCallback callback) {
  ClockState& s = State();
  std::unique_lock<std::mutex> held(s.lock);
  for (auto it = s.pending.begin(); it != s.pending.end();) {
    if (it->second.callback == callback) {
      s.keyOf.erase(it->second.id);
      it = s.pending.erase(it);
    } else {
      ++it;
    }
  }
  s.wakeRunner.notify_all();
  s.callbackDone.wait(held, [&] {
    return std::none_of(s.running.begin(), s.running.end(), [&](const Running& r) {
      return r.callback == callback && r.thread != std::this_thread::get_id();
    });
  });
}

uint64_t QuorClockNextDue(void) {
  ClockState& s = State();
  std::lock_guard<std::mutex> held(s.lock);
  return s.pending.empty() ? UINT64_MAX : s.pending.begin()->first.first;
}

}  // extern "C"
