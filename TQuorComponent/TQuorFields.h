// Helpers shared by the TQuor sources: moving texts in and out of the fixed
// character fields of the RAS records without ever writing or reading past a
// field, and RAS's error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Ras2/Ras2.h"
#include "Vcl/Vcl.h"

namespace tquor_detail {

// True when Text holds no zero byte: RAS reads its texts up to the first
// zero, so "Office\0Evil" would reach it as "Office".
inline bool IsCText(const String& Text) {
  return Text.find('\0') == String::npos;
}

// True when Text, with its terminating zero, fits into a field of Width
// characters and RAS would read it whole. Texts that do not are refused by
// the callers rather than cut: a silently shortened password or number would
// dial something else.
inline bool FitsField(const String& Text, size_t Width) {
  return Text.size() < Width && IsCText(Text);
}

// Writes Text and its terminating zero into a field of Width characters.
// The caller has checked FitsField; should it not have, nothing is written
// and the result is false.
template <size_t Width>
bool PutField(CHAR (&Field)[Width], const String& Text) {
  if (!FitsField(Text, Width)) return false;
  std::memcpy(Field, Text.data(), Text.size());
  Field[Text.size()] = '\0';
  return true;
}

// The text of a field: its characters up to the first zero, at most the
// field's width (RAS need not leave a zero in a completely filled field).
template <size_t Width>
String GetField(const CHAR (&Field)[Width]) {
  const void* zero = std::memchr(Field, 0, Width);
  size_t n = zero ? static_cast<size_t>(static_cast<const CHAR*>(zero) - Field) : Width;
  return String(Field, n);
}

// RAS's text for an error number. The 101-character buffer is zeroed before
// the call and RAS is told it holds 100, so the last character always stays
// a zero. When the entry point is missing, or RAS refuses the number, or
// leaves no text at all, the text is "RAS error <number>" so that the
// application never receives an empty or stale error text.
inline String RasErrorText(Integer Error) {
  CHAR buffer[101];
  std::memset(buffer, 0, sizeof(buffer));
  if (RasGetErrorString != nullptr && RasGetErrorString(static_cast<UINT>(Error), buffer, 100) == 0 &&
      buffer[0] != '\0') {
    return GetField(buffer);
  }
  return "RAS error " + IntToStr(Error);
}

// A window handle as the pointer-wide value RAS takes for its notifier:
// handles are plain numbers in our subset and pointers on Windows.
template <typename H>
UINT_PTR HandleValue(H Handle) {
  if constexpr (std::is_pointer_v<H>) {
    return reinterpret_cast<UINT_PTR>(Handle);
  } else {
    return static_cast<UINT_PTR>(Handle);
  }
}

// Zeroes a memory area in a way the compiler may not leave out because the
// area is about to die.
inline void SecureZero(void* Area, size_t Size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(Area);
  while (Size-- > 0) *p++ = 0;
}

// A text holding a secret (the password): its whole buffer is wiped before
// the text is replaced and when it is released, so that no freed block
// keeps the secret. The buffer is reserved once for the longest password RAS
// takes, so assigning a password of that length never moves it.
inline void WipeSecret(String& Secret) {
  SecureZero(Secret.data(), Secret.capacity());
  Secret.clear();
}

inline void ReserveSecret(String& Secret) {
  Secret.reserve(PWLEN);
}

inline void AssignSecret(String& Secret, const char* Data, size_t Size) {
  WipeSecret(Secret);
  // A longer text moves the buffer: the old one is already wiped.
  Secret.assign(Data, Size);
}

// Copies a field's text straight into a secret, without a temporary text.
template <size_t Width>
void GetSecretField(String& Secret, const CHAR (&Field)[Width]) {
  const void* zero = std::memchr(Field, 0, Width);
  size_t n = zero ? static_cast<size_t>(static_cast<const CHAR*>(zero) - Field) : Width;
  AssignSecret(Secret, Field, n);
}

}  // namespace tquor_detail
