// The C interface's text conversion (UTF-8 <-> RAS's 8-bit code page) leaves
// no copy of a password in memory it gives back: every block freed while a
// conversion runs is searched for the password, in 8 bits and in UTF-16.
// This program replaces operator delete to look at each block before it goes
// back to malloc; on Windows that sees what the conversion's own code frees
// (its wide-character scratch), not what the C++ runtime DLL frees for it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CApi/CApiInternal.h"
#if defined(_WIN32)
#include <malloc.h>
#define QUOR_BLOCK_SIZE(p) _msize(p)
#else
#include <malloc.h>
#define QUOR_BLOCK_SIZE(p) malloc_usable_size(p)
#endif

namespace {

const char kMark[] = "S3cr3tMark";
std::atomic<bool> gWatching{false};
std::atomic<int> gLeft{0};  // freed blocks that still held the mark

bool Holds(const unsigned char* Block, size_t Size) {
  const size_t n = sizeof(kMark) - 1;
  for (size_t i = 0; i + n <= Size; ++i) {
    if (std::memcmp(Block + i, kMark, n) == 0) return true;
  }
  for (size_t i = 0; i + 2 * n <= Size; ++i) {  // UTF-16LE
    size_t k = 0;
    while (k < n && Block[i + 2 * k] == static_cast<unsigned char>(kMark[k]) && Block[i + 2 * k + 1] == 0) ++k;
    if (k == n) return true;
  }
  return false;
}

void Release(void* P) noexcept {
  if (P == nullptr) return;
  if (gWatching.load() && Holds(static_cast<const unsigned char*>(P), QUOR_BLOCK_SIZE(P))) ++gLeft;
  std::free(P);
}

}  // namespace

void operator delete(void* P) noexcept {
  Release(P);
}
void operator delete[](void* P) noexcept {
  Release(P);
}
void operator delete(void* P, size_t) noexcept {
  Release(P);
}
void operator delete[](void* P, size_t) noexcept {
  Release(P);
}

namespace {

// Runs Body with the watch on and answers how many freed blocks held the mark.
template <typename F>
int FreedCopies(F&& Body) {
  gLeft = 0;
  gWatching = true;
  Body();
  gWatching = false;
  return gLeft.load();
}

TEST(CApiTextWipe, ConversionsLeaveNoCopyOfThePassword) {
  const std::string tail(40, 'x');
  struct Case {
    const char* Name;
    std::string Utf8;
  };
  // Accepted (ASCII; Latin letters the usual ANSI code pages hold) and
  // refused (a sequence cut short, a letter outside the 8-bit code pages).
  const Case cases[] = {
      {"ascii", kMark + tail},
      {"latin", std::string(kMark) + "\xC3\xA9\xC3\xBC" + tail},
      {"outside the code page", std::string(kMark) + "\xE4\xB8\xAD" + tail},
      {"cut sequence", std::string(kMark) + tail + "\xC3"},
  };
  const String fromRas = String(kMark) + tail;
  for (const Case& c : cases) {
    String out;
    int result = QUOR_OK;
    EXPECT_EQ(FreedCopies([&] {
                result = quorc::ToRas(c.Utf8.data(), c.Utf8.size(), out);
                quorc::WipeText(out);
                String back = quorc::FromRas(fromRas);
                quorc::WipeText(back);
              }),
              0)
        << c.Name;
    EXPECT_TRUE(result == QUOR_OK || result == QUOR_E_NOT_REPRESENTABLE) << c.Name << ": " << result;
  }
  // What RAS gives back in another code page (bytes that are no UTF-8 here)
  // grows on its way to UTF-8.
  const String foreign = String(kMark) + std::string(40, '\xE9');
  EXPECT_EQ(FreedCopies([&] {
              String shown = quorc::FromRas(foreign);
              EXPECT_FALSE(shown.empty());
              quorc::WipeText(shown);
            }),
            0);
}

// The watch itself sees a copy left behind (and the one a growing vector leaves).
TEST(CApiTextWipe, TheWatchSeesAnUnwipedBlock) {
  EXPECT_EQ(FreedCopies([] {
              std::vector<char> copy(kMark, kMark + sizeof(kMark));
              copy.resize(64);
            }),
            2);
}

}  // namespace
