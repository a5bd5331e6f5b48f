// Streamed decoding for the fuzz targets: the input fed in pieces whose sizes
// the input itself chooses, so every split point gets tried.
#pragma once

#include "asn1/asnbase.h"
#include "base/commonerror.h"
#include "base/memfile.h"

#include <cstdint>
#include <vector>

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

// A stream that is not a MemFile (over a copy of the octets): the decoders
// read it by the full road, never the quick readers of usual forms.
class PlainStream : public GenericFile {
 public:
  PlainStream(const uint8_t* data, size_t size)
      : copy(data, data + size), m(copy.data(), static_cast<int32_t>(copy.size()), false) {}
  int32_t read(uint32_t n, uint8_t* buf, uint32_t* got) override { return m.read(n, buf, got); }
  int32_t write(uint32_t n, const uint8_t* buf) override { return m.write(n, buf); }
  int32_t seek(int32_t p) override { return m.seek(p); }
  uint32_t tell() override { return m.tell(); }
  uint32_t size() override { return m.size(); }

 private:
  std::vector<uint8_t> copy;
  MemFile m;
};
