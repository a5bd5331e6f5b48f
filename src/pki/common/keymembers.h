// Member loops shared by the key structures: each SEQUENCE lists its members
// as an array (null entries are absent optional members).
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asnint.h"

#include <cstdint>

namespace keyasn {

// Decodes the members in order, each bounded by what is left of `length`:
// 1 when all decoded, 0 when one does not fit, or the failing result.
inline int decodeMembers(GenericFile* in, int length, unsigned char f, ASNobject* const* members,
                         int count, int* taken) {
  for (int i = 0; i < count; ++i) {
    if (length - *taken < 2) return 0;
    int r = members[i]->decode(in, length - *taken, f);
    if (r < 1) return r;
    *taken += r;
  }
  return 1;
}

inline int encodeMembers(GenericFile* out, const ASNobject* const* members, int count) {
  for (int i = 0; i < count; ++i) {
    if (!members[i]) continue;
    int r = members[i]->encode(out);
    if (r < 1) return r;
  }
  return 1;
}

inline int membersLength(const ASNobject* const* members, int count) {
  int64_t n = 0;
  for (int i = 0; i < count; ++i) {
    if (!members[i]) continue;
    int m = members[i]->encodedLength();
    if (m < 0) return -1;
    n += m;
  }
  return n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n);
}

inline void digestMembers(LvHash* hash, const ASNobject* const* members, int count) {
  for (int i = 0; i < count; ++i)
    if (members[i]) members[i]->updateDigest(hash);
}

// The content octets of an INTEGER as the library reads them (unsigned,
// big-endian); null with a zero count when empty.
inline const unsigned char* intBytes(const ASNinteger& v, unsigned int* n) {
  const unsigned char* d = v.data();
  *n = d && v.length > 0 ? static_cast<unsigned int>(v.length) : 0;
  return *n ? d : nullptr;
}

// DER INTEGER of a non-negative value: present, minimal, top bit clear.
inline bool isDerNatural(const ASNinteger& v) {
  const unsigned char* d = v.data();
  if (!d || v.length < 1) return false;
  if (d[0] & 0x80) return false;
  return !(v.length > 1 && d[0] == 0 && !(d[1] & 0x80));
}

// Significant octets of an INTEGER's content (at least 1).
inline int significantOctets(const ASNinteger& v) {
  const unsigned char* d = v.data();
  int n = d ? v.length : 0;
  int i = 0;
  while (i < n && d[i] == 0) ++i;
  return n - i > 0 ? n - i : 1;
}

// Bit length of an INTEGER's unsigned value (0 for zero or empty).
inline unsigned int bitLength(const ASNinteger& v) {
  const unsigned char* d = v.data();
  int n = d ? v.length : 0;
  int i = 0;
  while (i < n && d[i] == 0) ++i;
  if (i == n) return 0;
  unsigned int bits = static_cast<unsigned int>(n - i - 1) * 8;
  for (unsigned char c = d[i]; c; c >>= 1) ++bits;
  return bits;
}

}  // namespace keyasn
