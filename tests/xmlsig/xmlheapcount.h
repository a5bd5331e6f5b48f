// libxml2's live and peak heap in a test: the allocation functions are replaced
// (xmlMemSetup, at static initialisation, before anything is allocated) by
// ones that keep the size in a header before each block. Include in one
// source of a test program only.
#pragma once

#include <libxml/xmlmemory.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace xmlheap {

inline std::atomic<size_t> liveBytes{0}, peakBytes{0};
constexpr size_t HEADER = 16;

inline void* countedMalloc(size_t n) {
  auto* p = static_cast<unsigned char*>(malloc(n + HEADER));
  if (!p) return nullptr;
  memcpy(p, &n, sizeof n);
  size_t now = liveBytes += n;
  size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return p + HEADER;
}
inline void countedFree(void* q) {
  if (!q) return;
  auto* p = static_cast<unsigned char*>(q) - HEADER;
  size_t n;
  memcpy(&n, p, sizeof n);
  liveBytes -= n;
  free(p);
}
inline void* countedRealloc(void* q, size_t n) {
  if (!q) return countedMalloc(n);
  auto* p = static_cast<unsigned char*>(q) - HEADER;
  size_t old;
  memcpy(&old, p, sizeof old);
  void* fresh = countedMalloc(n);
  if (!fresh) return nullptr;
  memcpy(fresh, q, old < n ? old : n);
  countedFree(q);
  return fresh;
}
inline char* countedStrdup(const char* s) {
  size_t n = strlen(s) + 1;
  auto* p = static_cast<char*>(countedMalloc(n));
  if (p) memcpy(p, s, n);
  return p;
}
inline const bool counting =
    xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup) == 0;

// Peak octets libxml2 held above the level at the start, while f ran.
template <class F>
size_t peakDuring(F&& f) {
  size_t before = liveBytes;
  peakBytes = before;
  f();
  return peakBytes - before;
}

}  // namespace xmlheap
