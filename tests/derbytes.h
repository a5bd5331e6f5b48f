// DER written by hand for tests: a TLV with its length in the shortest form,
// and parts joined, so a test can make a value no tool would.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace derbytes {

using Bytes = std::vector<uint8_t>;

inline Bytes tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    Bytes length;
    for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace derbytes
