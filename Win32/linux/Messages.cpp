// The Win32 subset on Linux: one message queue per thread, posted, sent and
// thread messages, and the waits on a queue (with the event objects of
// WaitObjects.cpp).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Win32/ClockInternal.h"
#include "Win32/linux/WaitObjects.h"
#include "Win32/linux/Win32Linux.h"

namespace qw_linux {

std::atomic<uint64_t> gWindowsChanged{0};
constinit thread_local LastTaken tLastTaken [[gnu::tls_model("initial-exec")]];
constinit thread_local Queue* tOwnQueue [[gnu::tls_model("initial-exec")]] = nullptr;

}  // namespace qw_linux

namespace {

// The window this thread last posted to: while no window went since, the
// next post to it needs no look-up in the table (read under the lock).
struct LastPosted {
  HWND hwnd = 0;
  qw_linux::Window* window = nullptr;
  uint64_t changed = 0;
};
constinit thread_local LastPosted tLastPosted [[gnu::tls_model("initial-exec")]];

}  // namespace

using namespace qw_linux;

namespace {

// Wakes a queue's waiters once the lock is released (declare it before the
// lock), so a woken thread does not block again at once on the lock still
// held by its waker.
class Waker {
 public:
  Waker() = default;
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  ~Waker() { Notify(); }
  // Called with the lock held, after the change the waiters look for.
  void Add(const std::shared_ptr<Queue>& q) {
    ++q->version;
    SignalWakeFd(*q);
    if (q->waiters > 0 && q != fFirst && q != fSecond) (fFirst ? fSecond : fFirst) = q;
  }
  // Called without the lock.
  void Notify() {
    if (fFirst) fFirst->wake.notify_all();
    if (fSecond) fSecond->wake.notify_all();
    fFirst.reset();
    fSecond.reset();
  }

 private:
  std::shared_ptr<Queue> fFirst;
  std::shared_ptr<Queue> fSecond;
};

void CleanUpThread(DWORD thread);

// Removes the thread's queue and windows when the thread ends, as Windows
// does, so posts to them fail instead of piling up.
struct ThreadGuard {
  DWORD thread = 0;
  ~ThreadGuard() {
    if (thread != 0) CleanUpThread(thread);
  }
};
thread_local ThreadGuard tGuard;

// Waits on the queue's condition; waiters are counted so that a post to a
// thread that is not waiting costs no wake-up call.
template <class Wait>
void WaitOn(Queue& q, Wait wait) {
  ++q.waiters;
  wait();
  --q.waiters;
}

[[gnu::always_inline]] inline BOOL PostLocked(Queue& q, Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (q.live >= kQueueLimit) return Fail(ERROR_NOT_ENOUGH_QUOTA);
  if (q.posted.empty()) q.frontSequence = 0;
  const uint64_t sequence = q.frontSequence + q.posted.size();
  Posted& p = q.posted.emplace_back();
  p.msg = MSG{};
  p.msg.hwnd = w != nullptr ? w->handle : 0;
  p.msg.message = message;
  p.msg.wParam = wParam;
  p.msg.lParam = lParam;
  p.msg.time = static_cast<DWORD>(qw_clock::Now());
  p.window = w;
  p.live = true;
  (w != nullptr ? w->queued : q.threadQueued).push_back(sequence);
  ++q.live;
  if (message == WM_QUIT) ++q.postedQuits;
  SignalWakeFd(q);
  return TRUE;
}

// Moves the waiting messages together, dropping the places of the ones taken
// from behind them. The front keeps its number; the others get consecutive
// numbers in the same order, and the lists of each window and of the thread
// are rewritten with them (still in posting order).
[[gnu::noinline, gnu::cold]] void CompactPostedLocked(Queue& q) {
  for (size_t i = 0; i < q.posted.size(); ++i) {
    const Posted& p = q.posted[i];
    if (p.live) (p.window != nullptr ? p.window->queued : q.threadQueued).reset();
  }
  size_t kept = 0;
  for (size_t i = 0; i < q.posted.size(); ++i) {
    if (!q.posted[i].live) continue;
    if (kept != i) q.posted[kept] = q.posted[i];
    const Posted& p = q.posted[kept];
    (p.window != nullptr ? p.window->queued : q.threadQueued).push_back(q.frontSequence + kept);
    ++kept;
  }
  q.posted.truncate(kept);
}

// Places of taken messages a queue may hold behind a waiting one before it is
// compacted, beyond as many as there are waiting messages: compacting then
// costs a constant share per message taken.
constexpr size_t kGapSlack = 64;

}  // namespace

namespace qw_linux {

Queue& CreateOwnQueueLocked(UserState& u) {
  DWORD id = ThisThreadId();
  auto it = u.queues.find(id);
  if (it == u.queues.end()) {
    auto q = std::make_shared<Queue>();
    q->thread = id;
    // A post from another thread then allocates nothing: a thread's first
    // allocation also sets up its own heap arena, which made the first post
    // of a signal-waiting thread cost about half a millisecond.
    q->posted.reserve_first();
    q->threadQueued.reserve_first();
    it = u.queues.emplace(id, q).first;
    tGuard.thread = id;
  }
  tOwnQueue = it->second.get();
  return *tOwnQueue;
}

std::shared_ptr<Queue> OwnQueuePtrLocked(UserState& u) {
  OwnQueueLocked(u);
  return u.queues.at(ThisThreadId());
}

// Takes the first waiting message (the front of the queue, and so the front
// of its window's or the thread's list) out of the queue.
[[gnu::always_inline]] inline void TakeFrontLocked(Queue& q) {
  Posted& p = q.posted.front();
  (p.window != nullptr ? p.window->queued : q.threadQueued).pop_front();
  --q.live;
  if (p.msg.message == WM_QUIT) [[unlikely]]
    --q.postedQuits;
  q.posted.pop_front();
  ++q.frontSequence;
  while (!q.posted.empty() && !q.posted.front().live) {
    q.posted.pop_front();
    ++q.frontSequence;
  }
  if (q.posted.size() > 2 * q.live + kGapSlack) [[unlikely]]
    CompactPostedLocked(q);
}

// Takes the posted message with this sequence number out of the queue.
void TakePostedLocked(Queue& q, uint64_t sequence) {
  Posted& p = q.posted[sequence - q.frontSequence];
  Ring<uint64_t>& list = p.window != nullptr ? p.window->queued : q.threadQueued;
  if (!list.empty() && list.front() == sequence) {
    list.pop_front();
  } else {
    list.erase_value(sequence);
  }
  p.live = false;
  p.window = nullptr;
  --q.live;
  if (p.msg.message == WM_QUIT) --q.postedQuits;
  while (!q.posted.empty() && !q.posted.front().live) {
    q.posted.pop_front();
    ++q.frontSequence;
  }
  // A message left waiting at the front (one for a window only ever peeked
  // for by its own filter) would otherwise keep every place behind it.
  if (q.posted.size() > 2 * q.live + kGapSlack) [[unlikely]]
    CompactPostedLocked(q);
}

}  // namespace qw_linux

namespace {

void FinishSent(SentMessage& sm, LRESULT result, Waker& waker) {
  sm.result = result;
  sm.done = true;
  if (sm.sender) waker.Add(sm.sender);
}

// Runs the messages other threads sent to this thread's windows. Called with
// the lock held; drops it around each window procedure.
void ProcessSentLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held) {
  while (!q.sent.empty()) {
    Waker waker;
    SentMessage* sm = q.sent.front();
    q.sent.pop_front();
    Window* w = FindWindowLocked(u, sm->hwnd);
    if (w == nullptr || w->thread != q.thread || w->proc == nullptr) {
      FinishSent(*sm, 0, waker);
    } else {
      WNDPROC proc = w->proc;
      held.unlock();
      LRESULT result = proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
      held.lock();
      FinishSent(*sm, result, waker);
    }
    held.unlock();
    waker.Notify();
    held.lock();
  }
}

bool InRange(UINT message, UINT minMsg, UINT maxMsg) {
  return (minMsg == 0 && maxMsg == 0) || (message >= minMsg && message <= maxMsg);
}

bool HasInputLocked(const Queue& q) {
  return q.live > 0 || !q.sent.empty() || q.quit;
}

// The first of these messages (sequence numbers, in order) within the range.
uint64_t FirstInRange(const Queue& q, const Ring<uint64_t>& list, UINT minMsg, UINT maxMsg) {
  for (size_t i = 0; i < list.size(); ++i) {
    const uint64_t sequence = list[i];
    if (InRange(q.posted[sequence - q.frontSequence].msg.message, minMsg, maxMsg)) return sequence;
  }
  return UINT64_MAX;
}

// The window and every window below it through WS_CHILD links.
void CollectFamilyLocked(UserState& u, Window& w, std::vector<Window*>& out) {
  out.push_back(&w);
  for (HWND d : w.dependents) {
    Window* dw = FindWindowLocked(u, d);
    if (dw != nullptr && dw->child && out.size() < 100000) CollectFamilyLocked(u, *dw, out);
  }
}

// The sequence number of the first posted message the filter takes, or
// UINT64_MAX. Only the messages of the windows named are looked at, and a
// look for WM_QUIT alone costs nothing while none is posted.
uint64_t FindPostedLocked(UserState& u, Queue& q, HWND h, UINT minMsg, UINT maxMsg) {
  if (q.live == 0) return UINT64_MAX;
  if (h == kThreadMessagesOnly) return FirstInRange(q, q.threadQueued, minMsg, maxMsg);
  if (h != 0) {
    Window* w = FindWindowLocked(u, h);
    if (w == nullptr) return UINT64_MAX;
    if (w->dependents.empty()) return FirstInRange(q, w->queued, minMsg, maxMsg);
    std::vector<Window*> family;
    CollectFamilyLocked(u, *w, family);
    uint64_t first = UINT64_MAX;
    for (Window* member : family) first = std::min(first, FirstInRange(q, member->queued, minMsg, maxMsg));
    return first;
  }
  if (minMsg == WM_QUIT && maxMsg == WM_QUIT && q.postedQuits == 0) return UINT64_MAX;
  for (size_t i = 0; i < q.posted.size(); ++i) {
    const Posted& p = q.posted[i];
    if (p.live && InRange(p.msg.message, minMsg, maxMsg)) return q.frontSequence + i;
  }
  return UINT64_MAX;
}

// 1: got a message, 0: nothing, -1: bad arguments.
int PeekLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held, LPMSG out, HWND h, UINT minMsg, UINT maxMsg,
               bool remove) {
  if (!q.sent.empty()) ProcessSentLocked(u, q, held);
  if (h != 0 && h != kThreadMessagesOnly && FindWindowLocked(u, h) == nullptr) {
    tLastError = ERROR_INVALID_WINDOW_HANDLE;
    return -1;
  }
  // A window's messages leave the queue with the window, so every message
  // found here still has its window.
  const uint64_t found = FindPostedLocked(u, q, h, minMsg, maxMsg);
  if (found != UINT64_MAX) {
    const Posted& p = q.posted[found - q.frontSequence];
    *out = p.msg;
    if (p.window != nullptr && !p.window->destroying) {
      tLastTaken = LastTaken{p.window->handle, p.window->proc, gWindowsChanged.load(std::memory_order_relaxed)};
    }
    if (remove) TakePostedLocked(q, found);
    return 1;
  }
  // WM_QUIT comes after the posted messages, whatever the filter.
  if (q.quit) {
    MSG m{};
    m.message = WM_QUIT;
    m.wParam = static_cast<WPARAM>(q.quitCode);
    m.time = static_cast<DWORD>(QuorClockNow());
    *out = m;
    if (remove) q.quit = false;
    return 1;
  }
  return 0;
}

// Waits (in real time) until something new arrives in the queue, or until
// `timeout` passes.
void WaitForChange(Queue& q, std::unique_lock<std::mutex>& held, std::chrono::milliseconds timeout) {
  uint64_t seen = q.version;
  WaitOn(q, [&] { q.wake.wait_for(held, timeout, [&] { return q.version != seen; }); });
}

void CleanUpThread(DWORD thread) {
  Waker waker;
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  std::vector<HWND> owned;
  for (auto& [h, w] : u.windows) {
    if (w.thread == thread) owned.push_back(h);
  }
  for (HWND h : owned) DropWindowLocked(u, h);
  if (thread == ThisThreadId()) tOwnQueue = nullptr;
  auto it = u.queues.find(thread);
  if (it == u.queues.end()) return;
  std::shared_ptr<Queue> q = it->second;
  u.queues.erase(it);
  // Threads waiting in SendMessageA for us get 0 rather than waiting forever.
  for (auto& sm : q->sent) FinishSent(*sm, 0, waker);
  q->sent.clear();
  q->posted.clear();
  q->threadQueued.clear();
  q->live = 0;
  q->postedQuits = 0;
}

}  // namespace

// A SetEvent from any thread: every thread waiting on its queue looks at
// its events again.
void qw_wait::WakeQueueWaiters() {
  std::vector<std::shared_ptr<Queue>> waiting;
  {
    UserState& u = User();
    std::lock_guard<std::mutex> held(u.lock);
    for (auto& entry : u.queues) {
      ++entry.second->version;
      SignalWakeFd(*entry.second);
      if (entry.second->waiters > 0) waiting.push_back(entry.second);
    }
  }
  for (auto& q : waiting) q->wake.notify_all();
}

extern "C" {

// ---------------------------------------------------------------------------
// user32: messages

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  UserState& u = User();
  std::shared_ptr<Queue> waiting;  // another thread's queue with its owner waiting on it
  {
    std::lock_guard<std::mutex> held(u.lock);
    if (hWnd == 0) {
      // As on Windows: a message for no window is a thread message to ourselves.
      return PostLocked(OwnQueueLocked(u), nullptr, Msg, wParam, lParam);
    }
    Window* w;
    const uint64_t changed = gWindowsChanged.load(std::memory_order_relaxed);
    if (hWnd == tLastPosted.hwnd && changed == tLastPosted.changed) {
      w = tLastPosted.window;
    } else {
      w = FindWindowLocked(u, hWnd);
      if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
      tLastPosted = LastPosted{hWnd, w, changed};
    }
    if (tOwnQueue != nullptr && w->thread == tOwnQueue->thread) {
      return PostLocked(*tOwnQueue, w, Msg, wParam, lParam);  // nobody waits on our own queue
    }
    auto q = u.queues.find(w->thread);
    if (q == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (!PostLocked(*q->second, w, Msg, wParam, lParam)) return FALSE;
    ++q->second->version;
    if (q->second->waiters > 0) waiting = q->second;
  }
  // Woken once the lock is released, so it does not block again at once on it.
  if (waiting) waiting->wake.notify_all();
  return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Waker waker;
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  if (idThread == ThisThreadId()) return PostLocked(OwnQueueLocked(u), nullptr, Msg, wParam, lParam);
  auto q = u.queues.find(idThread);
  if (q == u.queues.end()) return Fail(ERROR_INVALID_THREAD_ID);
  if (!PostLocked(*q->second, nullptr, Msg, wParam, lParam)) return FALSE;
  waker.Add(q->second);
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Waker waker;
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (SendsDirectly(*w)) {
    WNDPROC proc = w->proc;
    held.unlock();
    return proc(hWnd, Msg, wParam, lParam);
  }
  // Another thread's window: hand the message to its owner and wait until the
  // owner has run it from its message loop. While waiting we still run what
  // others send to us, so two threads sending to each other do not deadlock.
  auto owner = u.queues.find(w->thread);
  if (owner == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  std::shared_ptr<Queue> ownerQueue = owner->second;
  std::shared_ptr<Queue> mine = OwnQueuePtrLocked(u);
  // The sender waits until the message is done, so it can live on our stack.
  SentMessage sm{hWnd, Msg, wParam, lParam, 0, false, mine};
  ownerQueue->sent.push_back(&sm);
  waker.Add(ownerQueue);
  held.unlock();
  waker.Notify();
  held.lock();
  while (!sm.done) {
    ProcessSentLocked(u, *mine, held);
    if (sm.done) break;
    uint64_t seen = mine->version;
    WaitOn(*mine, [&] { mine->wake.wait(held, [&] { return sm.done || mine->version != seen; }); });
  }
  return sm.result;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  if (hWnd == 0 && wMsgFilterMin == 0 && wMsgFilterMax == 0 && q.live != 0 && q.sent.empty()) {
    // The loop's usual question, the next message whatever it is: the front
    // of the queue (never a gap), whose window is still there.
    const Posted& p = q.posted.front();
    *lpMsg = p.msg;
    if (p.window != nullptr && !p.window->destroying) {
      tLastTaken = LastTaken{p.window->handle, p.window->proc, gWindowsChanged.load(std::memory_order_relaxed)};
    }
    if ((wRemoveMsg & PM_REMOVE) != 0) TakeFrontLocked(q);
    return TRUE;
  }
  int got = PeekLocked(u, q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
  return got == 1 ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) {
    tLastError = ERROR_INVALID_PARAMETER;
    return -1;
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueuePtrLocked(u);
  for (;;) {
    int got = PeekLocked(u, *q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true);
    if (got < 0) return -1;
    if (got > 0) return lpMsg->message == WM_QUIT ? 0 : 1;
    if (QuorClockIsVirtual()) {
      // Waiting on the virtual clock means letting it run on to the next
      // scheduled callback (which may post to us). With nothing scheduled
      // only another thread can help; check back now and then, since it
      // might schedule a callback instead of posting.
      uint64_t next = QuorClockNextDue();
      if (next != UINT64_MAX) {
        held.unlock();
        QuorClockAdvanceTo(next);
        held.lock();
        continue;
      }
      WaitForChange(*q, held, std::chrono::milliseconds(20));
    } else {
      const uint64_t seen = q->version;
      WaitOn(*q, [&] { q->wake.wait(held, [&] { return q->version != seen; }); });
    }
  }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  (void)lpMsg;  // there are no keyboard messages to translate
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (lpMsg == nullptr || lpMsg->hwnd == 0) return 0;  // thread messages have no procedure
  // The message just taken from our own queue: its window is ours and, while
  // no window went and no procedure changed since, still has that procedure.
  const LastTaken last = tLastTaken;
  if (lpMsg->hwnd == last.hwnd && gWindowsChanged.load(std::memory_order_acquire) == last.changed) {
    return last.proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, lpMsg->hwnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!SendsDirectly(*w)) return Fail(ERROR_MESSAGE_SYNC_ONLY);
  WNDPROC proc = w->proc;
  held.unlock();
  return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  q.quit = true;
  q.quitCode = nExitCode;
  ++q.version;  // only this thread waits on its own queue
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
  (void)dwWakeMask;  // any input wakes us
  if (fWaitAll || (nCount != 0 && pHandles == nullptr) || nCount > 64) {
    tLastError = ERROR_INVALID_PARAMETER;  // waiting for all of them is not supported
    return WAIT_FAILED;
  }
  // The result: WAIT_OBJECT_0 + i for the first signalled event (its
  // signal taken), WAIT_OBJECT_0 + nCount for input, as Windows answers.
  const DWORD input = WAIT_OBJECT_0 + nCount;
  int signalled = -1;
  auto ready = [&](const Queue& q) {
    signalled = nCount != 0 ? qw_wait::TakeSignalled(nCount, pHandles) : -1;
    return signalled != -1 || HasInputLocked(q);
  };
  auto answer = [&]() -> DWORD {
    if (signalled == -2) {
      tLastError = ERROR_INVALID_HANDLE;
      return WAIT_FAILED;
    }
    return signalled >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(signalled) : input;
  };
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueuePtrLocked(u);
  if (ready(*q)) return answer();

  if (QuorClockIsVirtual()) {
    // Virtual time never blocks: run the clock on through the callbacks due
    // within the timeout, stopping as soon as one of them gave us input or
    // signalled an event.
    held.unlock();
    uint64_t now = QuorClockNow();
    bool forever = dwMilliseconds == INFINITE;
    uint64_t deadline = forever ? UINT64_MAX : now + dwMilliseconds;
    for (;;) {
      uint64_t next = QuorClockNextDue();
      if (next == UINT64_MAX || next > deadline) {
        if (forever) return WAIT_TIMEOUT;  // nothing will ever come
        QuorClockAdvanceTo(deadline);
        break;
      }
      QuorClockAdvanceTo(next);
      {
        std::lock_guard<std::mutex> again(u.lock);
        if (ready(*q)) return answer();
      }
      if (!QuorClockIsVirtual()) break;  // switched to real time meanwhile
    }
    std::lock_guard<std::mutex> again(u.lock);
    return ready(*q) ? answer() : WAIT_TIMEOUT;
  }

  auto arrived = [&] { return ready(*q); };
  if (dwMilliseconds == INFINITE) {
    WaitOn(*q, [&] { q->wake.wait(held, arrived); });
    return answer();
  }
  bool got = false;
  WaitOn(*q, [&] { got = q->wake.wait_for(held, std::chrono::milliseconds(dwMilliseconds), arrived); });
  return got ? answer() : WAIT_TIMEOUT;
}

}  // extern "C"
