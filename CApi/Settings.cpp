// The dialler's settings: texts (checked against RAS's fields and code page
// before they reach the component, so a refused text leaves the old one) and
// numbers (checked against each setting's range).
#include <cmath>
#include <cstring>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

// RAS's field width for a text (its longest text is one less), 0 for a
// read-only text, -1 for an unknown one.
long FieldWidth(int Which) {
  const TRasDialParams* p = nullptr;
  switch (Which) {
    case QUOR_TEXT_ENTRY:
      return sizeof(p->szEntryName);
    case QUOR_TEXT_PHONE_NUMBER:
      return sizeof(p->szPhoneNumber);
    case QUOR_TEXT_CALLBACK_NUMBER:
      return sizeof(p->szCallbackNumber);
    case QUOR_TEXT_USER:
      return sizeof(p->szUserName);
    case QUOR_TEXT_PASSWORD:
      return sizeof(p->szPassword);
    case QUOR_TEXT_DOMAIN:
      return sizeof(p->szDomain);
    case QUOR_TEXT_DEVICE_NAME:
    case QUOR_TEXT_DEVICE_TYPE:
      return 0;
    default:
      return -1;
  }
}

int SetText(Dialer& D, int Which, const char* Utf8, size_t Length) {
  const long width = FieldWidth(Which);
  if (width < 0) return QUOR_E_UNKNOWN_SETTING;
  if (width == 0) return QUOR_E_READ_ONLY;
  if (Utf8 == nullptr) return QUOR_E_NULL_ARGUMENT;
  String text;
  const int r = ToRas(Utf8, Length, text);
  if (r == QUOR_OK && text.size() >= static_cast<size_t>(width)) {
    WipeText(text);
    return QUOR_E_TOO_LONG;
  }
  if (r != QUOR_OK) return r;
  TQuor& q = *D.Q;
  switch (Which) {
    case QUOR_TEXT_ENTRY:
      q.SetEntryName(text);
      break;
    case QUOR_TEXT_PHONE_NUMBER:
      q.SetPhoneNumber(text);
      break;
    case QUOR_TEXT_CALLBACK_NUMBER:
      q.SetCallbackNumber(text);
      break;
    case QUOR_TEXT_USER:
      q.SetUserName(text);
      break;
    case QUOR_TEXT_PASSWORD:
      q.SetPassword(text);
      break;
    default:
      q.SetDomain(text);
      break;
  }
  WipeText(text);
  return QUOR_OK;
}

int GetText(Dialer& D, int Which, char* Buffer, size_t Size, size_t* Length) {
  TQuor& q = *D.Q;
  String text;
  switch (Which) {
    case QUOR_TEXT_ENTRY:
      text = FromRas(q.EntryName());
      break;
    case QUOR_TEXT_PHONE_NUMBER:
      text = FromRas(q.PhoneNumber());
      break;
    case QUOR_TEXT_CALLBACK_NUMBER:
      text = FromRas(q.CallbackNumber());
      break;
    case QUOR_TEXT_USER:
      text = FromRas(q.UserName());
      break;
    case QUOR_TEXT_PASSWORD:
      text = FromRas(q.Password());
      break;
    case QUOR_TEXT_DOMAIN:
      text = FromRas(q.Domain());
      break;
    case QUOR_TEXT_DEVICE_NAME:
      text = FromRas(q.DeviceName);
      break;
    case QUOR_TEXT_DEVICE_TYPE:
      text = FromRas(q.DeviceType);
      break;
    default:
      return QUOR_E_UNKNOWN_SETTING;
  }
  const int r = CopyOut(text, Buffer, Size, Length);
  WipeText(text);
  return r;
}

constexpr int64_t kMaxCount = 1000000;
constexpr int64_t kMaxSeconds = 86400;

bool InRange(int64_t Value, int64_t Low, int64_t High) {
  return Value >= Low && Value <= High;
}

int SetInt(Dialer& D, int Which, int64_t V) {
  TQuor& q = *D.Q;
  const bool on = V != 0;
  switch (Which) {
    case QUOR_SET_REDIAL_ATTEMPTS:
      if (!InRange(V, 0, kMaxCount)) return QUOR_E_OUT_OF_RANGE;
      q.SetRedialAttempts(static_cast<Integer>(V));
      return QUOR_OK;
    case QUOR_SET_REDIAL_PAUSE:
      if (!InRange(V, 0, 60)) return QUOR_E_OUT_OF_RANGE;
      q.SetRedialPause(static_cast<Byte>(V));
      return QUOR_OK;
    case QUOR_SET_SYNCHRONOUS_DIAL:
      q.SetSynchronousDial(on);
      return QUOR_OK;
    case QUOR_SET_MINIMIZE_DIAL_WINDOW:
      q.SetMinimizeDialWindow(on);
      return QUOR_OK;
    case QUOR_SET_REDIAL_BACKOFF_MAX:
      if (!InRange(V, 0, kMaxSeconds)) return QUOR_E_OUT_OF_RANGE;
      q.SetRedialBackoff(q.RedialBackoffFactor(), static_cast<Cardinal>(V));
      return QUOR_OK;
    case QUOR_SET_DIAL_TIMEOUT:
      if (!InRange(V, 0, kMaxSeconds)) return QUOR_E_OUT_OF_RANGE;
      q.SetDialTimeout(static_cast<Cardinal>(V));
      return QUOR_OK;
    case QUOR_SET_RECONNECT:
      q.SetReconnect(on, q.ReconnectHoldoff(), q.ReconnectMaxFail());
      return QUOR_OK;
    case QUOR_SET_RECONNECT_HOLDOFF:
      if (!InRange(V, 0, kMaxSeconds)) return QUOR_E_OUT_OF_RANGE;
      q.SetReconnect(q.Reconnect(), static_cast<Cardinal>(V), q.ReconnectMaxFail());
      return QUOR_OK;
    case QUOR_SET_RECONNECT_MAX_FAIL:
      if (!InRange(V, 0, kMaxCount)) return QUOR_E_OUT_OF_RANGE;
      q.SetReconnect(q.Reconnect(), q.ReconnectHoldoff(), static_cast<Integer>(V));
      return QUOR_OK;
    case QUOR_SET_FAST_HANGUP:
      q.SetFastHangUp(on);
      return QUOR_OK;
    case QUOR_SET_WATCH_EVENTS:
      q.SetWatchEvents(on);
      return QUOR_OK;
    case QUOR_SET_RECONNECT_PENDING:
    case QUOR_SET_ATTEMPT:
      return QUOR_E_READ_ONLY;
    default:
      return QUOR_E_UNKNOWN_SETTING;
  }
}

int GetInt(Dialer& D, int Which, int64_t& V) {
  TQuor& q = *D.Q;
  switch (Which) {
    case QUOR_SET_REDIAL_ATTEMPTS:
      V = q.RedialAttempts();
      return QUOR_OK;
    case QUOR_SET_REDIAL_PAUSE:
      V = q.RedialPause();
      return QUOR_OK;
    case QUOR_SET_SYNCHRONOUS_DIAL:
      V = q.SynchronousDial() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_MINIMIZE_DIAL_WINDOW:
      V = q.MinimizeDialWindow() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_REDIAL_BACKOFF_MAX:
      V = q.RedialBackoffMax();
      return QUOR_OK;
    case QUOR_SET_DIAL_TIMEOUT:
      V = q.DialTimeout();
      return QUOR_OK;
    case QUOR_SET_RECONNECT:
      V = q.Reconnect() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_RECONNECT_HOLDOFF:
      V = q.ReconnectHoldoff();
      return QUOR_OK;
    case QUOR_SET_RECONNECT_MAX_FAIL:
      V = q.ReconnectMaxFail();
      return QUOR_OK;
    case QUOR_SET_FAST_HANGUP:
      V = q.FastHangUp() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_WATCH_EVENTS:
      V = q.WatchEvents() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_RECONNECT_PENDING:
      V = q.ReconnectPending() ? 1 : 0;
      return QUOR_OK;
    case QUOR_SET_ATTEMPT:
      V = q.Attempt();
      return QUOR_OK;
    default:
      return QUOR_E_UNKNOWN_SETTING;
  }
}

}  // namespace
}  // namespace quorc

using quorc::Dialer;

extern "C" {

int quor_set_text(quor_dialer* dialer, int which, const char* utf8) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    return utf8 == nullptr ? QUOR_E_NULL_ARGUMENT : quorc::SetText(d, which, utf8, std::strlen(utf8));
  });
}

int quor_set_text_n(quor_dialer* dialer, int which, const char* utf8, size_t length) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (utf8 == nullptr && length != 0) return QUOR_E_NULL_ARGUMENT;
    return quorc::SetText(d, which, utf8 != nullptr ? utf8 : "", length);
  });
}

int quor_get_text(quor_dialer* dialer, int which, char* buffer, size_t size, size_t* length) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int { return quorc::GetText(d, which, buffer, size, length); });
}

int quor_set_int(quor_dialer* dialer, int which, int64_t value) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int { return quorc::SetInt(d, which, value); });
}

int quor_get_int(quor_dialer* dialer, int which, int64_t* value) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (value == nullptr) return QUOR_E_NULL_ARGUMENT;
    return quorc::GetInt(d, which, *value);
  });
}

int quor_set_redial_backoff(quor_dialer* dialer, double factor, uint32_t max_seconds) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (max_seconds > quorc::kMaxSeconds) return QUOR_E_OUT_OF_RANGE;
    return d.Q->SetRedialBackoff(factor, max_seconds) ? QUOR_OK : QUOR_E_OUT_OF_RANGE;
  });
}

int quor_get_redial_backoff(quor_dialer* dialer, double* factor, uint32_t* max_seconds) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (factor == nullptr || max_seconds == nullptr) return QUOR_E_NULL_ARGUMENT;
    *factor = d.Q->RedialBackoffFactor();
    *max_seconds = d.Q->RedialBackoffMax();
    return QUOR_OK;
  });
}

}  // extern "C"
