// Buffer negotiation, the same for every RAS function that fills a caller's
// buffer: the size needed is known first; a buffer that is short (a null
// buffer holds nothing) is left untouched, *lpcb gets the size needed and the
// answer is ERROR_BUFFER_TOO_SMALL; otherwise the buffer is filled and *lpcb
// holds the size used (not what the caller offered). The functions that list
// records also give their number, whether they fit or not.
#pragma once

#include <cstddef>
#include <cstring>

#include "Ras2/RasContract.h"

namespace rassim::edge {

// `fill(out)` writes the `need` bytes at `out` (null when nothing is needed).
template <class Fill>
DWORD Negotiate(void* buf, DWORD* lpcb, DWORD need, Fill&& fill) {
  const DWORD have = buf ? *lpcb : 0;
  if (need > have) {
    *lpcb = need;
    return ERROR_BUFFER_TOO_SMALL;
  }
  fill(static_cast<char*>(buf));
  *lpcb = need;
  return 0;
}

// `n` records of `size` bytes each, side by side; `put(i, out)` writes record i at `out`.
template <class Put>
DWORD NegotiateRecords(void* buf, DWORD* lpcb, DWORD* count, size_t n, DWORD size, Put&& put) {
  const DWORD r = Negotiate(buf, lpcb, static_cast<DWORD>(n * size), [&](char* out) {
    for (size_t i = 0; i < n; ++i) put(i, out + i * size);
  });
  *count = static_cast<DWORD>(n);
  return r;
}

// Copies a record made on the stack to the caller's buffer, which need not be aligned for it.
template <class R>
void StoreRecord(char* out, const R& rec) {
  std::memcpy(out, &rec, sizeof rec);
}

}  // namespace rassim::edge
