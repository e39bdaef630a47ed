// Timers: one queue for the process, ordered by (due time, arming sequence).
// Every tick is delivered by the message loop of the GUI thread, so the queue
// is only touched from that thread and takes no lock.
//
// The queue is a four-way heap of 16-byte (due, sequence, timer id) entries
// laid out so that the four children of an entry share one 64-byte cache line:
// a step down the heap reads one line. The sequence numbers are 32-bit: when
// they run out, the armed timers are numbered afresh in their order.
//
// Entries never move on behalf of a timer that is disarmed or re-armed: each
// timer's row (a dense table by timer id) holds the sequence number of its
// one live entry, and an entry whose number is not its row's is stale. Stale
// entries are dropped when they reach the front (the front entry is always
// live) and the heap is rebuilt without them once they outnumber the live
// ones. So firing the earliest timer and re-arming it is one sift down the
// heap that writes nothing but the heap, as a plain priority queue does.
//
// Firing reads only the queue's tables and the timer's handler: the timer,
// its interval and whether its handler is on the stack are kept in its row.
// A handler may destroy its own timer (or the timer's owner): it runs a copy
// of the handler, and its row is given back, so the pass never touches the
// timer again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

namespace {
constexpr uint32_t kNoId = UINT32_MAX;
constexpr uint32_t kNotArmed = 0;  // a row's sequence number while its timer is not armed
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
  // the branch predictor would lose. (Due, Seq) compared as one 96-bit
  // number: the borrow out of the subtraction of the other's.
  bool Before(const QueueEntry& other) const {
    uint64_t high;
    const bool below = __builtin_sub_overflow(Due, other.Due, &high);
    const bool borrow = __builtin_sub_overflow(high, static_cast<uint64_t>(Seq < other.Seq), &high);
    return below | borrow;
  }
};
static_assert(sizeof(QueueEntry) == 16);

// The heap's array: entry i lives at place i + 3 of storage aligned to 64
// bytes, so the children 4i+1 ... 4i+4 of entry i start a cache line.
class EntryArray {
 public:
  static constexpr size_t kWays = 4;
  static constexpr size_t kLine = 64;
  static constexpr size_t kShift = kWays - 1;

  EntryArray() = default;
  EntryArray(const EntryArray&) = delete;
  EntryArray& operator=(const EntryArray&) = delete;
  ~EntryArray() { Release(); }

  size_t size() const { return fSize; }
  bool empty() const { return fSize == 0; }
  QueueEntry& operator[](size_t i) { return fData[i + kShift]; }
  const QueueEntry& operator[](size_t i) const { return fData[i + kShift]; }
  const QueueEntry& front() const { return fData[kShift]; }
  const QueueEntry& back() const { return fData[fSize - 1 + kShift]; }
  void push_back(const QueueEntry& e) {
    if (fSize == fCapacity) Grow();
    fData[kShift + fSize++] = e;
  }
  void pop_back() { --fSize; }
  void resize_down(size_t n) { fSize = n; }

 private:
  [[gnu::noinline]] void Grow() {
    const size_t capacity = fCapacity == 0 ? 64 : fCapacity * 2;
    auto* data =
        static_cast<QueueEntry*>(::operator new ((capacity + kShift) * sizeof(QueueEntry), std::align_val_t{kLine}));
    if (fSize != 0) std::memcpy(data + kShift, fData + kShift, fSize * sizeof(QueueEntry));
    Release();
    fData = data;
    fCapacity = capacity;
  }
  void Release() {
    if (fData != nullptr) ::operator delete (fData, std::align_val_t{kLine});
    fData = nullptr;
  }

  QueueEntry* fData = nullptr;
  size_t fSize = 0;
  size_t fCapacity = 0;
};

// A timer's row, by timer id.
struct TimerRow {
  TTimer* Timer = nullptr;
  uint32_t Seq = kNotArmed;  // its live entry's sequence number
  Cardinal Interval = 0;     // the interval it was armed with
  uint8_t Running = 0;       // its handler is on the stack (a nested loop runs inside it)
};

struct TimerQueue {
  static constexpr size_t kWays = EntryArray::kWays;

  EntryArray Heap;
  std::vector<TimerRow> Rows;
  std::vector<uint32_t> FreeIds;  // ids of destroyed timers, for the next ones made
  size_t Stale = 0;               // entries in Heap that are no timer's live one
  uint32_t NextSeq = 1;

  bool Live(const QueueEntry& e) const { return Rows[e.Id].Seq == e.Seq; }
  bool Armed(uint32_t id) const { return id != kNoId && Rows[id].Seq != kNotArmed; }

  // The next arming's number: equal due times fire in arming order.
  uint32_t TakeSeq() {
    if (NextSeq == UINT32_MAX) [[unlikely]]
      Renumber();
    return NextSeq++;
  }
  // Numbers the armed timers 1, 2, ... in their (due, arming) order: every
  // comparison gives what it gave before, so the heap stays in order.
  [[gnu::noinline, gnu::cold]] void Renumber() {
    Compact();
    std::vector<uint32_t> order(Heap.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) { return Heap[a].Before(Heap[b]); });
    for (size_t k = 0; k < order.size(); ++k) {
      QueueEntry& e = Heap[order[k]];
      e.Seq = static_cast<uint32_t>(k + 1);
      Rows[e.Id].Seq = e.Seq;
    }
    NextSeq = static_cast<uint32_t>(order.size() + 1);
  }

  uint32_t NewId(TTimer* timer) {
    uint32_t id;
    if (!FreeIds.empty()) {
      id = FreeIds.back();
      FreeIds.pop_back();
    } else {
      id = static_cast<uint32_t>(Rows.size());
      Rows.emplace_back();
    }
    Rows[id] = TimerRow{timer, kNotArmed, 0, 0};
    return id;
  }
  void FreeId(uint32_t id) {
    Rows[id].Timer = nullptr;
    FreeIds.push_back(id);
  }

  // Moves the entry at `slot` towards the front while it is due earlier than its parent.
  void SiftUp(size_t slot) {
    const QueueEntry e = Heap[slot];
    while (slot > 0) {
      const size_t parent = (slot - 1) / kWays;
      if (!e.Before(Heap[parent])) break;
      Heap[slot] = Heap[parent];
      slot = parent;
    }
    Heap[slot] = e;
  }
  // Puts `e` at `slot` and moves it towards the back while a child is due earlier.
  void SiftDown(size_t slot, const QueueEntry e) {
    const size_t size = Heap.size();
    for (;;) {
      const size_t first = slot * kWays + 1;
      size_t best;
      if (first + kWays <= size) [[likely]] {
        // All four children, in one cache line: a tournament of two rounds.
        const size_t a = Heap[first + 1].Before(Heap[first]) ? first + 1 : first;
        const size_t b = Heap[first + 3].Before(Heap[first + 2]) ? first + 3 : first + 2;
        best = Heap[b].Before(Heap[a]) ? b : a;
      } else {
        if (first >= size) break;
        best = first;
        for (size_t c = first + 1; c < size; ++c) {
          if (Heap[c].Before(Heap[best])) best = c;
        }
      }
      if (!Heap[best].Before(e)) break;
      Heap[slot] = Heap[best];
      slot = best;
    }
    Heap[slot] = e;
  }
  void Push(const QueueEntry& e) {
    Heap.push_back(e);
    SiftUp(Heap.size() - 1);
  }
  void PopFront() {
    const QueueEntry last = Heap.back();
    Heap.pop_back();
    if (!Heap.empty()) SiftDown(0, last);
  }
  // Keeps the front entry live, and the stale ones from outgrowing the live ones.
  void Tidy() {
    while (!Heap.empty() && !Live(Heap.front())) {
      PopFront();
      --Stale;
    }
    if (Stale > 16 && Stale > Heap.size() - Stale) Compact();
  }
  // Drops every stale entry and builds the heap again from the live ones.
  [[gnu::noinline]] void Compact() {
    size_t kept = 0;
    for (size_t i = 0; i < Heap.size(); ++i) {
      if (Live(Heap[i])) Heap[kept++] = Heap[i];
    }
    Heap.resize_down(kept);
    Stale = 0;
    if (kept < 2) return;
    for (size_t i = (kept - 2) / kWays + 1; i-- > 0;) SiftDown(i, Heap[i]);
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
  q.Rows[impl.Id].Seq = kNotArmed;
  ++q.Stale;
  q.Tidy();
}

// The entry of the timer with this row, due Interval ms after `now` (an
// interval of 0 counts as 1 ms so that the loop never spins on one clock
// reading); the row takes its number and interval. Whatever entry the timer
// had is stale from then on.
QueueEntry NewEntry(TimerQueue& q, uint32_t id, Cardinal interval, uint64_t now) {
  const QueueEntry e{now + (interval == 0 ? 1u : interval), q.TakeSeq(), id};
  TimerRow& row = q.Rows[id];
  row.Seq = e.Seq;
  row.Interval = interval;
  return e;
}

// Puts the timer with this row on the queue; an armed timer moves to its new place.
void ArmAt(TimerQueue& q, uint32_t id, Cardinal interval, uint64_t now) {
  if (!q.Armed(id)) {
    q.Push(NewEntry(q, id, interval, now));
    return;
  }
  if (q.Heap.front().Id == id) {
    // The earliest timer (its entry is the live front one) moves in place.
    q.SiftDown(0, NewEntry(q, id, interval, now));
  } else {
    q.Push(NewEntry(q, id, interval, now));
    ++q.Stale;
  }
  q.Tidy();
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
    // The next period counts from the moment it actually fires, so a late
    // timer fires once and skips the periods it missed. The front entry
    // (live) gives way to the new one.
    ArmAt(q, id, q.Rows[id].Interval, firedAt);
    // A timer never re-enters its own handler: while the handler runs a
    // nested loop, its ticks are skipped like missed periods (otherwise a
    // handler that waits longer than its interval would recurse without end).
    if (q.Rows[id].Running != 0) continue;
    ++fired;
    TTimer* timer = q.Rows[id].Timer;
    // The handler may free the timer and with it fOnTimer: this runs a copy.
    const TNotifyEvent handler = timer->fOnTimer;
    q.Rows[id].Running = 1;
    try {
      handler(timer);
    } catch (...) {
      vcl_internal::HandleCurrentException();
    }
    // A timer freed by its handler gave its row back; a timer made since may
    // hold it, and its handler is not on the stack here either.
    q.Rows[id].Running = 0;
    firedAt = QuorClockNow();
  }
  return fired;
}

int vcl_internal::FireDueTimers() {
  return TTimer::Impl::FireDue();
}

void vcl_internal::SetNextTimerSequence(uint32_t Value) {
  // No stale entry may keep a number the next armings will take again.
  Queue().Compact();
  Queue().NextSeq = Value;
}
