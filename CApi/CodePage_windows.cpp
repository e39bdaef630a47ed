// Texts on Windows: RAS's 8-bit interface works in the ANSI code page. A UTF-8
// text goes through UTF-16 into that code page, and is refused when any
// character has no exact place there (no best-fit letter, no '?'). A text
// may be a password: every buffer it passes through on the way is wiped
// before its memory goes back, whatever the outcome.
#include <memory>
#include <vector>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

// Storage that is wiped before it is given back.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t N) { return std::allocator<T>().allocate(N); }
  void deallocate(T* P, size_t N) noexcept {
    Wipe(P, N * sizeof(T));
    std::allocator<T>().deallocate(P, N);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const WipingAllocator<U>&) const noexcept {
    return false;
  }
};

using WideText = std::vector<wchar_t, WipingAllocator<wchar_t>>;

// Wipes an 8-bit text when the scope ends (what was moved out is not in it).
struct WipedOnExit {
  String& Text;
  ~WipedOnExit() { WipeText(Text); }
};

bool Widen(UINT CodePage, DWORD Flags, const char* Text, size_t Length, WideText& Out) {
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
  WideText wide;
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
  const WipedOnExit wipeText{text};
  if (WideCharToMultiByte(acp, WC_NO_BEST_FIT_CHARS, wide.data(), wn, text.data(), n, nullptr, &lossy) != n || lossy)
    return QUOR_E_NOT_REPRESENTABLE;
  // A round trip must give the same characters back (a code page without a
  // default character reports no loss for a character it maps elsewhere).
  WideText back;
  if (!Widen(acp, 0, text.data(), text.size(), back) || back != wide) return QUOR_E_NOT_REPRESENTABLE;
  Out.swap(text);
  return QUOR_OK;
}

String FromRas(const String& Text) {
  WideText wide;
  if (!Widen(CP_ACP, 0, Text.data(), Text.size(), wide) || wide.empty()) return String();
  const int wn = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return String();
  String out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace quorc
