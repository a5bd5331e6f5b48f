// Shared by the fuzz targets of structure decoders: one object decoded
// again, or cleared, after a decode that read it in place.
#pragma once

#include "asn1/asnbase.h"

#include <cstdlib>
#include <vector>

// One object decoded in place from octets then released, privately again,
// then in place and cleared, then privately: nothing may still view the
// released octets, and the object decoded again answers and encodes as a
// new one does. `expected` is a new object's answer to a private decode.
template <class T>
void reuse(const unsigned char* data, int n, int expected) {
  T value;
  {
    std::vector<unsigned char> copy(data, data + n);
    const int r = value.decodeBuffer(copy.data(), n, ASN_FLAG_CONST | ASN_FLAG_COPY);
    if ((r > 0) != (expected > 0) || (r > 0 && r != expected)) abort();
  }
  const int r = value.decodeBuffer(data, n, 0);
  if ((r > 0) != (expected > 0) || (r > 0 && r != expected)) abort();
  if (r > 0) {
    std::vector<unsigned char> out, fresh;
    if (value.encodeVector(out) != value.encodedLength()) abort();
    T other;
    if (other.decodeBuffer(data, n, 0) != r || other.encodeVector(fresh) < 1 || fresh != out)
      abort();
  }
  value.decodeBuffer(data, n, ASN_FLAG_CONST);
  value.clear();
  if (value.isConstView()) abort();
  // A cleared object reads the input as a new one does.
  const int again = value.decodeBuffer(data, n, 0);
  if ((again > 0) != (expected > 0) || (again > 0 && again != expected)) abort();
}
