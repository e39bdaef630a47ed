// Basic helpers: the exception class and ASCII string routines.
#include <cstdio>

#include "Vcl/Vcl.h"

Exception::Exception(const String& Msg) : std::runtime_error(Msg), fMessage(Msg) {}

String LowerCase(const String& S) {
  String r = S;
  for (char& c : r) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return r;
}

String UpperCase(const String& S) {
  String r = S;
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

String IntToStr(int64_t Value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(Value));
  return buf;
}
