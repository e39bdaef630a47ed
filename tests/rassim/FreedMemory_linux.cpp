// glibc: this program's free and realloc come before the C library's in every
// module's symbol lookup (the RAS library's and the C++ library's frees too),
// so each block is searched before the C library's own free gets it.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "tests/rassim/FreedMemory.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUOR_FREED_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUOR_FREED_SANITIZER 1
#endif
#endif

namespace rassimtest::freed {
namespace {

constexpr size_t kMaxNeedles = 4, kMaxNeedle = 128;

struct Needle {
  unsigned char bytes[kMaxNeedle];
  size_t size;
};

Needle gNeedles[kMaxNeedles];
size_t gNeedleCount = 0;
std::atomic<bool> gWatching{false};
std::atomic<size_t> gHits[kMaxNeedles];

[[maybe_unused]] void Search(void* block) {
  const size_t size = malloc_usable_size(block);
  for (size_t i = 0; i < gNeedleCount; ++i)
    if (memmem(block, size, gNeedles[i].bytes, gNeedles[i].size)) gHits[i].fetch_add(1);
}

}  // namespace

#ifdef QUOR_FREED_SANITIZER
const char* Unavailable() {
  return "the sanitizer's allocator owns malloc and free here; the native build runs this check";
}
#else
const char* Unavailable() {
  return nullptr;
}
#endif

void Start(const std::vector<std::string>& needles) {
  gNeedleCount = std::min(needles.size(), kMaxNeedles);
  for (size_t i = 0; i < gNeedleCount; ++i) {
    gNeedles[i].size = std::min(needles[i].size(), kMaxNeedle);
    std::memcpy(gNeedles[i].bytes, needles[i].data(), gNeedles[i].size);
    gHits[i] = 0;
  }
  gWatching = true;
}

std::vector<size_t> Stop() {
  gWatching = false;
  std::vector<size_t> hits;
  for (size_t i = 0; i < gNeedleCount; ++i) hits.push_back(gHits[i]);
  return hits;
}

}  // namespace rassimtest::freed

#ifndef QUOR_FREED_SANITIZER
extern "C" {
void __libc_free(void* block);
void* __libc_malloc(size_t size);
void* __libc_realloc(void* block, size_t size);

void free(void* block) {
  if (block && rassimtest::freed::gWatching.load(std::memory_order_relaxed)) rassimtest::freed::Search(block);
  __libc_free(block);
}

// The C library's realloc gives a moved block back inside itself: while the
// watch runs, a move is a new block, a copy and this file's free.
void* realloc(void* block, size_t size) {
  if (!block || !rassimtest::freed::gWatching.load(std::memory_order_relaxed)) return __libc_realloc(block, size);
  if (size == 0) {
    free(block);
    return nullptr;
  }
  void* moved = __libc_malloc(size);
  if (!moved) return nullptr;
  std::memcpy(moved, block, std::min(malloc_usable_size(block), size));
  free(block);
  return moved;
}
}
#endif
