// Timers: one queue for the process, keyed by (due time, arming sequence).
// Every tick is delivered by the message loop of the GUI thread, so the queue
// is only touched from that thread and takes no lock.
//
// Each timer keeps a shared Impl that outlives it while a pass of the loop
// still refers to it: a handler may destroy its own timer (or the timer's
// owner), and the pass then finds the Impl detached instead of ticking into
// freed memory.
#include <map>
#include <utility>

#include "Vcl/Vcl.h"
#include "Vcl/VclInternal.h"

struct TTimer::Impl {
  TTimer* Timer = nullptr;  // null once the timer is destroyed
  bool Armed = false;
  uint64_t Due = 0;
  uint64_t Seq = 0;  // the arming this entry belongs to; a new arming gets a new number

  bool Running = false;  // its handler is on the stack (a nested loop runs inside it)

  // Re-arms the timer for its next period and returns a copy of its handler.
  TNotifyEvent PrepareTick(const std::shared_ptr<Impl>& self);
};

namespace {

using QueueKey = std::pair<uint64_t, uint64_t>;  // (due, seq)

struct TimerQueue {
  std::map<QueueKey, std::shared_ptr<TTimer::Impl>> Entries;
  uint64_t NextSeq = 1;
};

TimerQueue& Queue() {
  // Never destroyed, so a timer freed during process exit still finds it.
  static TimerQueue* q = new TimerQueue;
  return *q;
}

void Disarm(const std::shared_ptr<TTimer::Impl>& impl) {
  if (!impl->Armed) return;
  Queue().Entries.erase(QueueKey(impl->Due, impl->Seq));
  impl->Armed = false;
}

// Puts the timer on the queue, due Interval ms from now (an interval of 0
// counts as 1 ms so that the loop never spins on one clock reading).
void Arm(const std::shared_ptr<TTimer::Impl>& impl, Cardinal interval) {
  Disarm(impl);
  TimerQueue& q = Queue();
  impl->Due = QuorClockNow() + (interval == 0 ? 1u : interval);
  impl->Seq = q.NextSeq++;
  impl->Armed = true;
  q.Entries.emplace(QueueKey(impl->Due, impl->Seq), impl);
}

}  // namespace

TNotifyEvent TTimer::Impl::PrepareTick(const std::shared_ptr<Impl>& self) {
  // The next period counts from the moment it actually fires, so a late
  // timer fires once and skips the periods it missed.
  Arm(self, Timer->fInterval);
  // The handler may free the timer and with it fOnTimer: the caller runs a copy.
  return Timer->fOnTimer;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), fImpl(std::make_shared<Impl>()) {
  fImpl->Timer = this;
  // Enabled with no handler: a timer is armed only once it has an OnTimer.
}

TTimer::~TTimer() {
  Disarm(fImpl);
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
  Disarm(fImpl);
  if (fEnabled && fOnTimer) Arm(fImpl, fInterval);
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
  return q.Entries.empty() ? UINT64_MAX : q.Entries.begin()->first.first;
}

int vcl_internal::FireDueTimers() {
  TimerQueue& q = Queue();
  const uint64_t now = QuorClockNow();
  // Everything due is collected before the first handler runs, each with the
  // arming it was collected under.
  std::vector<std::pair<std::shared_ptr<TTimer::Impl>, uint64_t>> due;
  for (auto it = q.Entries.begin(); it != q.Entries.end() && it->first.first <= now; ++it)
    due.emplace_back(it->second, it->first.second);

  int fired = 0;
  for (auto& [impl, seq] : due) {
    // Skipped when an earlier handler of this pass destroyed, disabled or
    // re-armed it (a nested loop that fired it also re-armed it).
    if (impl->Timer == nullptr || !impl->Armed || impl->Seq != seq) continue;
    TTimer* timer = impl->Timer;
    TNotifyEvent handler = impl->PrepareTick(impl);
    // A timer never re-enters its own handler: while the handler runs a
    // nested loop, its ticks are skipped like missed periods (otherwise a
    // handler that waits longer than its interval would recurse without end).
    if (impl->Running) continue;
    ++fired;
    impl->Running = true;
    try {
      handler(timer);
    } catch (...) {
      HandleCurrentException();
    }
    impl->Running = false;  // impl outlives a timer freed by its handler
  }
  return fired;
}
