// Texts on Linux: RAS's 8-bit code page is UTF-8 itself, so a text goes in as
// it is once it is known to be well-formed UTF-8. What RAS gives back is
// shown as UTF-8: a byte that is not part of a well-formed sequence (a
// phonebook written in another code page) is taken as Latin-1.
#include <cstring>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

// The length of the well-formed UTF-8 sequence at Text[At] (no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0.
size_t SequenceAt(const unsigned char* Text, size_t Size, size_t At) {
  const unsigned char c = Text[At];
  if (c < 0x80) return 1;
  size_t n;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (Size - At < n) return 0;
  if (Text[At + 1] < low || Text[At + 1] > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if ((Text[At + i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

int ToRas(const char* Utf8, size_t Length, String& Out) {
  // A zero byte anywhere is told before any other fault, as on Windows.
  if (std::memchr(Utf8, 0, Length) != nullptr) return QUOR_E_EMBEDDED_NUL;
  const auto* p = reinterpret_cast<const unsigned char*>(Utf8);
  for (size_t i = 0; i < Length;) {
    const size_t n = SequenceAt(p, Length, i);
    if (n == 0) return QUOR_E_NOT_REPRESENTABLE;
    i += n;
  }
  Out.assign(Utf8, Length);
  return QUOR_OK;
}

String FromRas(const String& Text) {
  const auto* p = reinterpret_cast<const unsigned char*>(Text.data());
  // Room for the longest result (each byte taken as Latin-1 becomes two), so
  // the text never moves and leaves no copy behind: it may be a password.
  String out;
  out.reserve(Text.size() * 2);
  for (size_t i = 0; i < Text.size();) {
    const size_t n = SequenceAt(p, Text.size(), i);
    if (n != 0) {
      out.append(Text, i, n);
      i += n;
    } else {
      out += static_cast<char>(0xC0 | (p[i] >> 6));
      out += static_cast<char>(0x80 | (p[i] & 0x3F));
      ++i;
    }
  }
  return out;
}

}  // namespace quorc
