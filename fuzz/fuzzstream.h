// Streamed decoding for the fuzz targets: the input fed in pieces whose sizes
// the input itself chooses, so every split point gets tried.
#pragma once

#include "asn1/asnbase.h"
#include "base/commonerror.h"
#include "base/memfile.h"

#include <cstdint>

// Pieces of 1 to 64 octets, chosen by a generator seeded from the input.
inline int streamIn(ASNobject& o, const unsigned char* data, int n, MemFile* out) {
  uint32_t state = 2166136261u;
  for (int i = 0; i < n; ++i) state = (state ^ data[i]) * 16777619u;
  int r = EASN_MORE;
  int i = 0;
  while (i < n && r == EASN_MORE) {
    state = state * 1103515245u + 12345u;
    int piece = 1 + static_cast<int>((state >> 16) % 64);
    if (piece > n - i) piece = n - i;
    r = o.decodeStreamBuffer(data + i, piece, out);
    i += piece;
  }
  if (r > 0 && i != n) return 0;
  return r;
}
