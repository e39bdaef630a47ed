#include "RasSim/common/Text.h"

#include <cstring>
#include <string_view>

namespace rassim {

namespace {

// Decodes one code point at s[i]; advances i. Malformed => U+FFFD, one byte.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + static_cast<size_t>(len) > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<size_t>(len);
  return cp;
}

template <class Out>
void EncodeUtf8(char32_t cp, Out& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char32_t FoldCodePoint(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

// The UTF-16 units of a code point (U+FFFD for one UTF-16 cannot carry); how many.
size_t Utf16Units(char32_t c, char16_t units[2]) {
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (c >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    return 2;
  }
  units[0] = c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? char16_t(0xFFFD) : static_cast<char16_t>(c);
  return 1;
}

// Straight from the units into `out` (a password's too): no text in between.
template <class Out>
bool Utf16ToUtf8Into(const char16_t* in, size_t size, Out& out) {
  out.clear();
  out.reserve(3 * size);
  for (size_t i = 0; i < size; ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= size || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    EncodeUtf8(c, out);
  }
  return true;
}

template <class Out>
bool ReadWideField(const WCHAR* field, size_t width, Out& out) {
  size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  if (n == width) return false;
  return Utf16ToUtf8Into(reinterpret_cast<const char16_t*>(field), n, out);
}

bool WriteNarrowField(char* field, size_t width, std::string_view text) {
  if (width == 0) return text.empty();
  size_t n = text.size();
  bool fits = n + 1 <= width;
  if (!fits) {
    n = width - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // keep whole characters
  }
  std::memcpy(field, text.data(), n);
  field[n] = 0;
  return fits;
}

// Encoded straight into the field; a text that does not fit ends before the
// first character that does not (a surrogate pair is never split).
bool WriteWideField(WCHAR* field, size_t width, std::string_view text) {
  if (width == 0) return text.empty();
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    char16_t units[2];
    const size_t count = Utf16Units(DecodeUtf8(text, i), units);
    if (n + count + 1 > width) {
      field[n] = 0;
      return false;
    }
    for (size_t k = 0; k < count; ++k) field[n++] = static_cast<WCHAR>(units[k]);
  }
  field[n] = 0;
  return true;
}

}  // namespace

bool ReadField(const char* field, size_t width, std::string& out) {
  const void* z = std::memchr(field, 0, width);
  if (!z) return false;
  out.assign(field, static_cast<const char*>(z));
  return true;
}

bool ReadField(const WCHAR* field, size_t width, std::string& out) {
  return ReadWideField(field, width, out);
}

bool ReadField(const char* field, size_t width, SecretString& out) {
  const void* z = std::memchr(field, 0, width);
  if (!z) return false;
  out.Assign(field, static_cast<size_t>(static_cast<const char*>(z) - field));
  return true;
}

bool ReadField(const WCHAR* field, size_t width, SecretString& out) {
  return ReadWideField(field, width, out);
}

bool ReadArg(const char* s, std::string& out) {
  if (!s) return false;
  out.assign(s);
  return true;
}

bool ReadArg(const WCHAR* s, std::string& out) {
  if (!s) return false;
  std::u16string u;
  for (const WCHAR* p = s; *p; ++p) u.push_back(static_cast<char16_t>(*p));
  return Utf16ToUtf8(u, out);
}

bool WriteField(char* field, size_t width, const std::string& text) {
  return WriteNarrowField(field, width, text);
}

bool WriteField(WCHAR* field, size_t width, const std::string& text) {
  return WriteWideField(field, width, text);
}

bool WriteSecretField(char* field, size_t width, const SecretString& text) {
  return WriteNarrowField(field, width, text.View());
}

bool WriteSecretField(WCHAR* field, size_t width, const SecretString& text) {
  return WriteWideField(field, width, text.View());
}

bool Utf16ToUtf8(const std::u16string& in, std::string& out) {
  return Utf16ToUtf8Into(in.data(), in.size(), out);
}

std::u16string Utf8ToUtf16(const std::string& in) {
  std::u16string out;
  for (size_t i = 0; i < in.size();) {
    char16_t units[2];
    out.append(units, Utf16Units(DecodeUtf8(in, i), units));
  }
  return out;
}

size_t Utf16Length(const std::string& utf8) {
  return Utf8ToUtf16(utf8).size();
}

std::string FoldCase(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    char32_t c = DecodeUtf8(utf8, i);
    if (c == 0xFFFD && i == start + 1) {
      out.push_back(utf8[start]);  // not UTF-8: an ANSI byte compares as it is
      continue;
    }
    EncodeUtf8(FoldCodePoint(c), out);
  }
  return out;
}

bool SameName(const std::string& a, const std::string& b) {
  return FoldCase(a) == FoldCase(b);
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

std::string ToLowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool ParseUInt(const std::string& text, uint64_t& value) {
  std::string s = Trim(text);
  if (s.empty()) return false;
  int base = 10;
  size_t i = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  value = v;
  return true;
}

bool ValidEntryName(const std::string& name) {
  constexpr size_t kMaxEntryName = 256;  // RAS_MaxEntryName
  if (name.empty() || name.size() > kMaxEntryName || name[0] == '.') return false;
  if (name.front() == ' ' || name.back() == ' ') return false;
  bool letterOrDigit = false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (std::string_view("|><?*\\/:").find(static_cast<char>(c)) != std::string_view::npos) return false;
    if (c == 0xC2 && i + 1 < name.size()) {
      const unsigned char next = static_cast<unsigned char>(name[i + 1]);
      if (next >= 0x80 && next <= 0x9F) return false;  // U+0080-U+009F, the C1 controls
      if (next == 0xA0) continue;                      // U+00A0, a blank
    }
    // Any other letter beyond ASCII counts (its first byte is enough).
    letterOrDigit = letterOrDigit || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c >= 0xC3 ||
                    (c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) > 0xA0);
  }
  return letterOrDigit;
}

}  // namespace rassim
