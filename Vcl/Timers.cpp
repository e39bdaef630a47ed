// Timers: one queue for the process, ordered by (due time, arming sequence).
// Every tick is delivered by the message loop of the GUI thread, so the queue
// is only touched from that thread and takes no lock.
//
// The queue is a four-way heap of (due, sequence, timer id) kept in one
// array of 16-byte entries (the sequence numbers are 32-bit: when they run
// out, the armed timers are numbered afresh in their order); each timer's place in it is kept in a dense table indexed
// by its id, so disarming, re-arming and firing the earliest are logarithmic, a re-armed timer is moved, not removed
// and added again, and moving an entry writes to two arrays rather than into the timer object (with many timers armed
// those objects lie far apart in memory and each write would miss the cache).
//
// Firing reads only the queue's tables and the timer itself: the timer is
// found through its row, and whether its handler is on the stack is kept in
// the row too. A handler may destroy its own timer (or the timer's owner):
// it runs a copy of the handler, and its row is given back, so the pass
// never touches the timer again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {
constexpr uint32_t kNotArmed = UINT32_MAX;
constexpr uint32_t kNoId = UINT32_MAX;
}  // namespace

struct TTimer::Impl {
  TTimer* Timer = nullptr;  // null once the timer is destroyed
  // Its row in the queue's tables, taken when it is first armed (a timer
  // made on another thread and never enabled there touches no queue).
  uint32_t Id = kNoId;

  // One pass of the loop over the due timers.
  static int FireDue();
};

namespace {

struct QueueEntry {
  uint64_t Due;
  uint32_t Seq;
  uint32_t Id;
  // Without branches: with many timers due at once the outcome is a coin toss
  // the branch predictor would lose.
  bool Before(const QueueEntry& other) const {
    return static_cast<bool>(static_cast<unsigned>(Due < other.Due) |
                             (static_cast<unsigned>(Due == other.Due) & static_cast<unsigned>(Seq < other.Seq)));
  }
};

constexpr size_t kWays = 4;

struct TimerQueue {
  std::vector<QueueEntry> Heap;
  std::vector<uint32_t> SlotOf;    // by timer id: its place in Heap, or kNotArmed
  std::vector<TTimer*> TimerOf;    // by timer id: the timer
  std::vector<uint8_t> RunningOf;  // by timer id: its handler is on the stack (a nested loop runs inside it)
  std::vector<uint32_t> FreeIds;   // ids of destroyed timers, for the next ones made
  uint32_t NextSeq = 1;

  // The next arming's number: equal due times fire in arming order.
  uint32_t TakeSeq() {
    if (NextSeq == UINT32_MAX) [[unlikely]]
      Renumber();
    return NextSeq++;
  }
  // Numbers the armed timers 1, 2, ... in their (due, arming) order: every
  // comparison gives what it gave before, so the heap stays in order.
  [[gnu::noinline, gnu::cold]] void Renumber() {
    std::vector<uint32_t> order(Heap.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) { return Heap[a].Before(Heap[b]); });
    for (size_t k = 0; k < order.size(); ++k) Heap[order[k]].Seq = static_cast<uint32_t>(k + 1);
    NextSeq = static_cast<uint32_t>(order.size() + 1);
  }

  uint32_t NewId(TTimer* timer) {
    uint32_t id;
    if (!FreeIds.empty()) {
      id = FreeIds.back();
      FreeIds.pop_back();
    } else {
      id = static_cast<uint32_t>(TimerOf.size());
      TimerOf.push_back(nullptr);
      SlotOf.push_back(kNotArmed);
      RunningOf.push_back(0);
    }
    TimerOf[id] = timer;
    SlotOf[id] = kNotArmed;
    RunningOf[id] = 0;
    return id;
  }
  void FreeId(uint32_t id) {
    TimerOf[id] = nullptr;
    FreeIds.push_back(id);
  }
  bool Armed(uint32_t id) const { return id != kNoId && SlotOf[id] != kNotArmed; }

  void Place(size_t slot, const QueueEntry& e) {
    Heap[slot] = e;
    SlotOf[e.Id] = static_cast<uint32_t>(slot);
  }
  // Moves the entry at `slot` towards the front while it is due earlier than its parent.
  bool SiftUp(size_t slot) {
    const QueueEntry e = Heap[slot];
    const size_t start = slot;
    while (slot > 0) {
      const size_t parent = (slot - 1) / kWays;
      if (!e.Before(Heap[parent])) break;
      Place(slot, Heap[parent]);
      slot = parent;
    }
    if (slot != start) Place(slot, e);
    return slot != start;
  }
  // Moves the entry at `slot` towards the back while a child is due earlier.
  void SiftDown(size_t slot) {
    const QueueEntry e = Heap[slot];
    const size_t size = Heap.size();
    for (;;) {
      const size_t first = slot * kWays + 1;
      if (first >= size) break;
      size_t best = first;
      const size_t last = std::min(first + kWays, size);
      for (size_t c = first + 1; c < last; ++c) {
        if (Heap[c].Before(Heap[best])) best = c;
      }
      if (!Heap[best].Before(e)) break;
      Place(slot, Heap[best]);
      slot = best;
    }
    Place(slot, e);
  }
  void Restore(size_t slot) {
    if (!SiftUp(slot)) SiftDown(slot);
  }
};

TimerQueue& Queue() {
  // Never destroyed, so a timer freed during process exit still finds it.
  static TimerQueue* q = new TimerQueue;
  return *q;
}

void Disarm(TTimer::Impl& impl) {
  TimerQueue& q = Queue();
  if (!q.Armed(impl.Id)) return;
  const size_t slot = q.SlotOf[impl.Id];
  q.SlotOf[impl.Id] = kNotArmed;
  const QueueEntry last = q.Heap.back();
  q.Heap.pop_back();
  if (slot == q.Heap.size()) return;  // it was the last one
  q.Place(slot, last);
  q.Restore(slot);
}

// Puts the timer with this row on the queue, due Interval ms after `now` (an
// interval of 0 counts as 1 ms so that the loop never spins on one clock
// reading). An armed timer moves to its new place.
void ArmAt(TimerQueue& q, uint32_t id, Cardinal interval, uint64_t now) {
  const QueueEntry e{now + (interval == 0 ? 1u : interval), q.TakeSeq(), id};
  if (q.Armed(id)) {
    const size_t slot = q.SlotOf[id];
    q.Heap[slot] = e;
    q.Restore(slot);
    return;
  }
  q.Heap.push_back(e);
  q.SlotOf[id] = static_cast<uint32_t>(q.Heap.size() - 1);
  q.SiftUp(q.Heap.size() - 1);
}

void Arm(TTimer::Impl& impl, Cardinal interval) {
  TimerQueue& q = Queue();
  if (impl.Id == kNoId) impl.Id = q.NewId(impl.Timer);
  ArmAt(q, impl.Id, interval, QuorClockNow());
}

}  // namespace

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), fImpl(std::make_shared<Impl>()) {
  fImpl->Timer = this;
  // Enabled with no handler: a timer is armed only once it has an OnTimer.
}

TTimer::~TTimer() {
  Disarm(*fImpl);
  if (fImpl->Id != kNoId) Queue().FreeId(fImpl->Id);
  fImpl->Timer = nullptr;
}

void TTimer::SetInterval(Cardinal Value) {
  if (Value == fInterval) return;
  fInterval = Value;
  UpdateTimer();
}

void TTimer::SetEnabled(bool Value) {
  if (Value == fEnabled) return;
  fEnabled = Value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent Handler) {
  fOnTimer = std::move(Handler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  if (fEnabled && fOnTimer) {
    Arm(*fImpl, fInterval);
  } else {
    Disarm(*fImpl);
  }
}

TComponentClass TTimer::ClassInfo() const {
  static const TClassInfo info{
      "TTimer",
      &TComponent::StaticClassInfo(),
      {
          {"Enabled", TTypeKind::Boolean,
           [](const TComponent& c) {
             TPropValue v;
             v.Kind = TTypeKind::Boolean;
             v.Ord = static_cast<const TTimer&>(c).Enabled() ? 1 : 0;
             return v;
           },
           [](TComponent& c, const TPropValue& v) { static_cast<TTimer&>(c).SetEnabled(v.Ord != 0); }, 1},
          {"Interval", TTypeKind::Integer,
           [](const TComponent& c) {
             TPropValue v;
             v.Kind = TTypeKind::Integer;
             v.Ord = static_cast<const TTimer&>(c).Interval();
             return v;
           },
           [](TComponent& c, const TPropValue& v) {
             if (v.Ord < 0 || v.Ord > static_cast<int64_t>(UINT32_MAX))
               throw Exception("Invalid Interval value " + IntToStr(v.Ord));
             static_cast<TTimer&>(c).SetInterval(static_cast<Cardinal>(v.Ord));
           },
           1000},
          {"OnTimer", TTypeKind::Method,
           // A handler is a callable without a name of its own; the
           // streaming system binds named handlers through its own method
           // lookup. Here an assigned handler reads as Ord 1.
           [](const TComponent& c) {
             TPropValue v;
             v.Kind = TTypeKind::Method;
             v.Ord = static_cast<const TTimer&>(c).OnTimer() ? 1 : 0;
             return v;
           },
           [](TComponent& c, const TPropValue& v) {
             if (!v.Str.empty())
               throw Exception("Cannot bind handler \"" + v.Str + "\" to OnTimer without a method lookup");
             static_cast<TTimer&>(c).SetOnTimer(nullptr);
           },
           std::nullopt},
      },
      [](TComponent* AOwner) -> TComponent* { return new TTimer(AOwner); }};
  return &info;
}

uint64_t NextTimerDue() {
  const TimerQueue& q = Queue();
  return q.Heap.empty() ? UINT64_MAX : q.Heap.front().Due;
}

int TTimer::Impl::FireDue() {
  TimerQueue& q = Queue();
  const uint64_t now = QuorClockNow();
  // Everything due at this reading fires in (due, arming) order. A timer
  // armed during the pass (a re-armed one too) is due after `now`, so the
  // pass fires just what was due when it began; one destroyed, disabled or
  // re-armed by an earlier handler of the pass (or by a nested loop that
  // fired it) is no longer among them.
  int fired = 0;
  uint64_t firedAt = now;  // the clock as the next timer fires: it moves only while a handler runs
  while (!q.Heap.empty() && q.Heap.front().Due <= now) {
    const uint32_t id = q.Heap.front().Id;
    TTimer* timer = q.TimerOf[id];
    // The next period counts from the moment it actually fires, so a late
    // timer fires once and skips the periods it missed.
    ArmAt(q, id, timer->fInterval, firedAt);
    // A timer never re-enters its own handler: while the handler runs a
    // nested loop, its ticks are skipped like missed periods (otherwise a
    // handler that waits longer than its interval would recurse without end).
    if (q.RunningOf[id] != 0) continue;
    ++fired;
    // The handler may free the timer and with it fOnTimer: this runs a copy.
    const TNotifyEvent handler = timer->fOnTimer;
    q.RunningOf[id] = 1;
    try {
      handler(timer);
    } catch (...) {
      vcl_internal::HandleCurrentException();
    }
    // A timer freed by its handler gave its row back; a timer made since may
    // hold it, and its handler is not on the stack here either.
    q.RunningOf[id] = 0;
    firedAt = QuorClockNow();
  }
  return fired;
}

int vcl_internal::FireDueTimers() {
  return TTimer::Impl::FireDue();
}

void vcl_internal::SetNextTimerSequence(uint32_t Value) {
  Queue().NextSeq = Value;
}
