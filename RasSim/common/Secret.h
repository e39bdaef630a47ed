// Texts that hold a secret (a password, the hex form the credential file
// keeps it in): every buffer that held one is zeroed before it goes back to
// the heap, so that no freed block and no later core dump holds the secret.
//
// SecretString is the type of a password wherever the library keeps one; it
// never turns into a std::string by itself, so no unwiped copy is made by
// accident. WipedText is a std::string that zeroes its buffer when it dies or
// takes another value, for texts that are used as std::string and may hold a
// secret (the lines of the credential file). Neither wipes the copy a caller
// makes on purpose: such a copy must be of one of these types too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace rassim {

// Zeroes an area in a way the compiler may not leave out because the area is about to die.
inline void WipeMemory(void* area, size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(area);
  while (size-- > 0) *p++ = 0;
}

// Zeroes each block before it is released.
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    WipeMemory(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// Appends to a text that may hold a secret (a file being read): a buffer
// outgrown is wiped before it is released.
inline void AppendWiping(std::string& text, const char* data, size_t size) {
  if (text.size() + size > text.capacity()) {
    std::string bigger;
    bigger.reserve(std::max(2 * text.capacity(), text.size() + size));
    bigger.append(text);
    WipeMemory(text.data(), text.capacity());
    text.swap(bigger);
  }
  text.append(data, size);
}

class SecretString {
 public:
  SecretString() = default;
  SecretString(const char* data, size_t size) : text_(data, size) {}
  // A literal (a test's password): no text in between.
  template <size_t N>
  SecretString(const char (&text)[N]) : text_(text, ::strnlen(text, N)) {}
  explicit SecretString(std::string_view text) : text_(text.data(), text.size()) {}
  SecretString(const SecretString& other) : text_(other.text_) {}
  SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) { other.Wipe(); }
  SecretString& operator=(const SecretString& other) {
    if (this != &other) Assign(other.data(), other.size());
    return *this;
  }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      Wipe();
      text_ = std::move(other.text_);
      other.Wipe();
    }
    return *this;
  }
  ~SecretString() { Wipe(); }

  const char* data() const { return text_.data(); }
  const char* c_str() const { return text_.c_str(); }
  size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  std::string_view View() const { return {text_.data(), text_.size()}; }
  char operator[](size_t i) const { return text_[i]; }

  // The old text is wiped before the new one takes its place.
  void Assign(const char* data, size_t size) {
    clear();
    text_.assign(data, size);
  }
  void clear() {
    Wipe();
    text_.clear();
  }
  void reserve(size_t size) { text_.reserve(size); }
  void push_back(char c) { text_.push_back(c); }
  void append(const char* data, size_t size) { text_.append(data, size); }

  bool operator==(const SecretString& other) const { return View() == other.View(); }
  bool operator!=(const SecretString& other) const { return !(*this == other); }

 private:
  // Also the bytes kept inside the object itself (a short text has no buffer of its own).
  void Wipe() { WipeMemory(text_.data(), text_.capacity()); }

  std::basic_string<char, std::char_traits<char>, WipingAllocator<char>> text_;
};

class WipedText : public std::string {
 public:
  WipedText() = default;
  WipedText(const char* text) : std::string(text) {}
  WipedText(const std::string& text) : std::string(text) {}
  WipedText(std::string&& text) noexcept : std::string(std::move(text)) {}
  WipedText(const WipedText& other) : std::string(other) {}
  WipedText(WipedText&& other) noexcept : std::string(std::move(other)) { other.Wipe(); }
  WipedText& operator=(const WipedText& other) {
    if (this != &other) {
      Wipe();
      assign(other);
    }
    return *this;
  }
  WipedText& operator=(WipedText&& other) noexcept {
    if (this != &other) {
      Wipe();
      std::string::operator=(std::move(other));
      other.Wipe();
    }
    return *this;
  }
  ~WipedText() { Wipe(); }

  void Wipe() { WipeMemory(data(), capacity()); }
};

}  // namespace rassim
