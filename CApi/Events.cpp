// Events and the message loop: the component's events reach the
// application's callbacks only inside a dispatch, on the dialler's thread.
// An event raised outside one (by a call the application made from its own
// code) is kept, in order, for the next dispatch; one raised inside a
// dispatch is delivered at once, so that what its callback does (a hang-up
// in the connect callback) stands exactly as in the component's own handlers.
#include <algorithm>
#include <deque>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

enum class Kind { Notify, Connect, Disconnect, ConnectFail, StateChange };

struct Event {
  quor_dialer* Handle;
  Kind What;
  int32_t Error;
  uint32_t State;
  String Text;  // in RAS's code page
};

thread_local std::deque<Event> tPending;
thread_local int tCallbackDepth = 0;
thread_local int tDispatchDepth = 0;

void Deliver(const Event& E) {
  Dialer* d = Find(E.Handle);
  if (d == nullptr) return;  // freed meanwhile
  // Copies: the callback may replace its own callback or free the dialler.
  const Dialer cb = *d;
  CallbackScope scope;
  switch (E.What) {
    case Kind::Notify:
    case Kind::Disconnect:
    case Kind::ConnectFail: {
      quor_text_event_fn fn = E.What == Kind::Notify       ? cb.OnNotify
                              : E.What == Kind::Disconnect ? cb.OnDisconnect
                                                           : cb.OnConnectFail;
      void* user = E.What == Kind::Notify       ? cb.NotifyUser
                   : E.What == Kind::Disconnect ? cb.DisconnectUser
                                                : cb.ConnectFailUser;
      if (fn == nullptr) return;
      const String text = FromRas(E.Text);
      fn(user, E.Handle, E.Error, text.c_str());
      return;
    }
    case Kind::Connect:
      if (cb.OnConnect != nullptr) cb.OnConnect(cb.ConnectUser, E.Handle);
      return;
    case Kind::StateChange:
      if (cb.OnStateChange != nullptr) cb.OnStateChange(cb.StateChangeUser, E.Handle, E.State, E.Error);
      return;
  }
}

void Raise(Event E) {
  if (tDispatchDepth > 0 && tPending.empty()) {
    Deliver(E);
    return;
  }
  tPending.push_back(std::move(E));
  LoopWake();
}

template <typename F>
int SetCallback(quor_dialer* Handle, F&& Store) {
  return WithDialer(Handle, [&](Dialer& d) -> int {
    Store(d);
    return QUOR_OK;
  });
}

}  // namespace

CallbackScope::CallbackScope() {
  ++tCallbackDepth;
}
CallbackScope::~CallbackScope() {
  --tCallbackDepth;
}
DispatchScope::DispatchScope() {
  ++tDispatchDepth;
}
DispatchScope::~DispatchScope() {
  --tDispatchDepth;
}

bool InCallback() {
  return tCallbackDepth > 0;
}
bool InDispatch() {
  return tDispatchDepth > 0;
}
bool EventsPending() {
  return !tPending.empty();
}

void DeliverPending() {
  // Only what was kept when the dispatch began: an event its callbacks raise
  // is delivered at once (the queue is empty by then) or, if the queue is
  // not, behind the others in this same pass.
  while (!tPending.empty()) {
    Event e = std::move(tPending.front());
    tPending.pop_front();
    Deliver(e);
  }
}

void DropPending(quor_dialer* Handle) {
  tPending.erase(std::remove_if(tPending.begin(), tPending.end(), [&](const Event& e) { return e.Handle == Handle; }),
                 tPending.end());
}

void AttachEvents(Dialer& D) {
  quor_dialer* h = D.Handle;
  D.Q->SetOnNotify([h](Integer Error, String Text) { Raise(Event{h, Kind::Notify, Error, 0, std::move(Text)}); });
  D.Q->SetOnConnect([h](TObject*) { Raise(Event{h, Kind::Connect, 0, 0, String()}); });
  D.Q->SetOnDisconnect([h](Integer Error, String Text) {
    Raise(Event{h, Kind::Disconnect, Error, 0, std::move(Text)});
  });
  D.Q->SetOnConnectFail([h](Integer Error, String Text) {
    Raise(Event{h, Kind::ConnectFail, Error, 0, std::move(Text)});
  });
  D.Q->SetOnStateChange([h](DWORD State, DWORD Error) {
    Raise(Event{h, Kind::StateChange, static_cast<int32_t>(Error), State, String()});
  });
}

}  // namespace quorc

using quorc::Dialer;

extern "C" {

int quor_on_notify(quor_dialer* dialer, quor_text_event_fn fn, void* user) {
  return quorc::SetCallback(dialer, [&](Dialer& d) { d.OnNotify = fn, d.NotifyUser = user; });
}
int quor_on_connect(quor_dialer* dialer, quor_event_fn fn, void* user) {
  return quorc::SetCallback(dialer, [&](Dialer& d) { d.OnConnect = fn, d.ConnectUser = user; });
}
int quor_on_disconnect(quor_dialer* dialer, quor_text_event_fn fn, void* user) {
  return quorc::SetCallback(dialer, [&](Dialer& d) { d.OnDisconnect = fn, d.DisconnectUser = user; });
}
int quor_on_connect_fail(quor_dialer* dialer, quor_text_event_fn fn, void* user) {
  return quorc::SetCallback(dialer, [&](Dialer& d) { d.OnConnectFail = fn, d.ConnectFailUser = user; });
}
int quor_on_state_change(quor_dialer* dialer, quor_state_event_fn fn, void* user) {
  return quorc::SetCallback(dialer, [&](Dialer& d) { d.OnStateChange = fn, d.StateChangeUser = user; });
}

int quor_loop_dispatch(void) {
  return quorc::Guarded([]() -> int {
    if (quorc::InCallback() || quorc::InDispatch()) return QUOR_E_IN_CALLBACK;
    quorc::LoopAttach();
    {
      quorc::DispatchScope scope;
      quorc::DeliverPending();
      Application->ProcessMessages();
    }
    // The pass itself posts to the queue (its end mark): the readiness is
    // taken afterwards, and the re-arm looks at what is really waiting.
    quorc::LoopDrain();
    quorc::LoopRearm();
    return QUOR_OK;
  });
}

int quor_loop_run(uint32_t timeout_ms) {
  return quorc::Guarded([&]() -> int {
    if (quorc::InCallback() || quorc::InDispatch()) return QUOR_E_IN_CALLBACK;
    quorc::LoopAttach();
    {
      quorc::DispatchScope scope;
      quorc::DeliverPending();
      Application->RunFor(timeout_ms);
    }
    // The pass itself posts to the queue (its end mark): the readiness is
    // taken afterwards, and the re-arm looks at what is really waiting.
    quorc::LoopDrain();
    quorc::LoopRearm();
    return QUOR_OK;
  });
}

int64_t quor_loop_timeout(void) {
  try {
    if (quorc::EventsPending()) return 0;
    MSG msg;
    if (PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE)) return 0;
    const uint64_t now = QuorClockNow();
    uint64_t next = NextTimerDue();
    if (QuorClockIsVirtual()) next = std::min(next, QuorClockNextDue());
    if (next == UINT64_MAX) return -1;
    return next <= now ? 0 : static_cast<int64_t>(next - now);
  } catch (...) {
    return 0;
  }
}

int quor_loop_fd(void) {
  try {
    quorc::LoopAttach();
    return quorc::LoopFd();
  } catch (...) {
    return -1;
  }
}

void* quor_loop_handle(void) {
  try {
    quorc::LoopAttach();
    return quorc::LoopHandle();
  } catch (...) {
    return nullptr;
  }
}

int quor_clock_virtual(int on) {
  return quorc::Guarded([&]() -> int {
    if (quorc::InCallback()) return QUOR_E_IN_CALLBACK;
    QuorClockUseVirtual(on != 0 ? 1 : 0);
    quorc::LoopRearm();
    return QUOR_OK;
  });
}

}  // extern "C"
