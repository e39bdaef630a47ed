// Texts on Windows: RAS's 8-bit interface works in the ANSI code page. A UTF-8
// text goes through UTF-16 into that code page, and is refused when any
// character has no exact place there (no best-fit letter, no '?').
#include <vector>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

bool Widen(UINT CodePage, DWORD Flags, const char* Text, size_t Length, std::vector<wchar_t>& Out) {
  Out.clear();
  if (Length == 0) return true;
  if (Length > 0x7FFFFFFF) return false;
  const int n = MultiByteToWideChar(CodePage, Flags, Text, static_cast<int>(Length), nullptr, 0);
  if (n <= 0) return false;
  Out.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CodePage, Flags, Text, static_cast<int>(Length), Out.data(), n) == n;
}

}  // namespace

int ToRas(const char* Utf8, size_t Length, String& Out) {
  for (size_t i = 0; i < Length; ++i) {
    if (Utf8[i] == '\0') return QUOR_E_EMBEDDED_NUL;
  }
  std::vector<wchar_t> wide;
  if (!Widen(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8, Length, wide)) return QUOR_E_NOT_REPRESENTABLE;
  if (wide.empty()) {
    Out.clear();
    return QUOR_OK;
  }
  const UINT acp = GetACP();
  if (acp == CP_UTF8) {
    Out.assign(Utf8, Length);
    return QUOR_OK;
  }
  BOOL lossy = FALSE;
  const int wn = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(acp, WC_NO_BEST_FIT_CHARS, wide.data(), wn, nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return QUOR_E_NOT_REPRESENTABLE;
  String text(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(acp, WC_NO_BEST_FIT_CHARS, wide.data(), wn, text.data(), n, nullptr, &lossy) != n || lossy)
    return QUOR_E_NOT_REPRESENTABLE;
  // A round trip must give the same characters back (a code page without a
  // default character reports no loss for a character it maps elsewhere).
  std::vector<wchar_t> back;
  if (!Widen(acp, 0, text.data(), text.size(), back) || back != wide) return QUOR_E_NOT_REPRESENTABLE;
  Out = std::move(text);
  return QUOR_OK;
}

String FromRas(const String& Text) {
  std::vector<wchar_t> wide;
  if (!Widen(CP_ACP, 0, Text.data(), Text.size(), wide) || wide.empty()) return String();
  const int wn = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return String();
  String out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace quorc
