// Private to the form streaming of vcl30 (Streaming.cpp writes, StreamingRead.cpp reads): the limits, the
// character classes and the ordinal checks both halves share. Not installed.
#pragma once

#include <cstdint>

#include "Vcl/Streaming.h"

namespace vcl_streaming {

constexpr int kMaxDepth = 32;                       // nesting of objects in one form
constexpr std::uintmax_t kMaxFormFile = 16u << 20;  // a form is text; 16 MB is plenty

inline bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool IsIdentChar(unsigned char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}
inline bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
inline bool SameText(const String& A, const String& B) {
  return LowerCase(A) == LowerCase(B);
}

String KindName(TTypeKind Kind);

// A number as read: sign and magnitude, with overflow noted (more than an
// int64 can hold is out of range for every ordinal type anyway).
struct Number {
  bool Negative = false;
  uint64_t Magnitude = 0;
  bool Overflow = false;
};

// Checks a number against an ordinal property type; "" when it fits.
String OrdinalError(const TPropInfo& Prop, const Number& N, int64_t& Out);

}  // namespace vcl_streaming
