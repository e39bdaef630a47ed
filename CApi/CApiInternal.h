// Inside the C interface: the handle table, the texts' way between UTF-8 and
// RAS's 8-bit code page, the per-thread event queue and the loop's wake-up
// object. Nothing here crosses quor.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>

#include "CApi/quor.h"
#include "TQuorComponent/TQuorComponent.h"

namespace quorc {

// One dialler: its component and the callbacks the application set.
struct Dialer {
  TQuor* Q = nullptr;
  DWORD Thread = 0;
  quor_dialer* Handle = nullptr;
  quor_text_event_fn OnNotify = nullptr;
  void* NotifyUser = nullptr;
  quor_event_fn OnConnect = nullptr;
  void* ConnectUser = nullptr;
  quor_text_event_fn OnDisconnect = nullptr;
  void* DisconnectUser = nullptr;
  quor_text_event_fn OnConnectFail = nullptr;
  void* ConnectFailUser = nullptr;
  quor_state_event_fn OnStateChange = nullptr;
  void* StateChangeUser = nullptr;
};

// ---- handles (Handles.cpp)
int NewDialer(quor_dialer** Out);
int FreeDialer(quor_dialer* Handle);
// The dialler of a handle, for its own thread: QUOR_OK, QUOR_E_NULL_ARGUMENT,
// QUOR_E_INVALID_DIALER or QUOR_E_WRONG_THREAD.
int Lookup(quor_dialer* Handle, Dialer*& Out);
// How many diallers are alive (each holds the RAS library bound).
size_t LiveDialers();
// The same without the thread check, for the events (raised on the thread).
Dialer* Find(quor_dialer* Handle);

// ---- texts (CodePage_<platform>.cpp)
// UTF-8 -> RAS's code page: QUOR_OK, QUOR_E_EMBEDDED_NUL or QUOR_E_NOT_REPRESENTABLE.
int ToRas(const char* Utf8, size_t Length, String& Out);
// RAS's code page -> UTF-8 (what RAS gives back is always shown, never refused).
String FromRas(const String& Text);

// ---- events and callbacks (Events.cpp)
// Hooks the component's events to the dialler's callbacks.
void AttachEvents(Dialer& D);
// Inside a callback or an enumeration's callback (the loop functions refuse).
bool InCallback();
// Held while an application callback runs (counts the depth).
struct CallbackScope {
  CallbackScope();
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};
// Held while a dispatch runs.
struct DispatchScope {
  DispatchScope();
  ~DispatchScope();
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;
};
// Delivers the events kept for this thread's dispatch, in order.
void DeliverPending();
// Drops a freed dialler's kept events.
void DropPending(quor_dialer* Handle);
// Events kept for the next dispatch.
bool EventsPending();

// ---- the loop's wake-up object (Loop_<platform>.cpp)
void LoopAttach();  // creates the thread's object (idempotent)
void LoopWake();    // makes it ready
void LoopDrain();   // takes its readiness (at the start of a dispatch)
// Ready when work is due now, else armed for the next timer.
void LoopRearm();
int LoopFd();
void* LoopHandle();
bool InDispatch();

// Maps an escaping C++ exception to an error code (never lets it out).
template <typename F>
int Guarded(F&& Body) noexcept {
  try {
    return Body();
  } catch (const std::bad_alloc&) {
    return QUOR_E_NO_MEMORY;
  } catch (...) {
    return QUOR_E_FAILED;
  }
}

// Looks the dialler up, runs Body on it and re-arms the loop (a call may
// have armed a timer or queued an event).
template <typename F>
int WithDialer(quor_dialer* Handle, F&& Body) noexcept {
  return Guarded([&]() -> int {
    Dialer* d = nullptr;
    const int r = Lookup(Handle, d);
    if (r != QUOR_OK) return r;
    const int result = Body(*d);
    if (!InDispatch()) LoopRearm();
    return result;
  });
}

// Zeroes memory the compiler may not leave out.
void Wipe(void* Area, size_t Size);
void WipeText(String& Text);

// Copies Text and its zero into Buffer (see quor.h for the contract).
int CopyOut(const String& Utf8, char* Buffer, size_t Size, size_t* Length);

}  // namespace quorc
