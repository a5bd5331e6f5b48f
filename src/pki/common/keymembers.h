// Member loops shared by the key structures: each SEQUENCE lists its members
// as an array (null entries are absent optional members).
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asnint.h"
#include "pki/common/pkiasn.h"

#include <cstdint>
#include <initializer_list>

namespace keyasn {

// Sequential reader of the members of one content of `length` octets: every
// member is bounded by what is left, and the octets taken are counted.
class MemberReader {
 public:
  MemberReader(GenericFile* in, int length, unsigned char flags, int taken = 0)
      : in_(in), length_(length), flags_(flags), taken_(taken) {}

  int left() const { return length_ - taken_; }
  bool done() const { return taken_ >= length_; }
  int taken() const { return taken_; }
  // 1 when the member was read, else the member's answer (0 when fewer than
  // two octets are left). `f` replaces the reader's flags for one member.
  int read(ASNobject& member) { return read(member, flags_); }
  int read(ASNobject& member, unsigned char f) {
    if (left() < 2) return 0;
    const int r = member.decode(in_, left(), f);
    if (r < 1) return r;
    taken_ += r;
    return 1;
  }
  // As read, but only when the next identifier octet is exactly `id` (the
  // framework accepts any context tag on an implicitly tagged member).
  int readTagged(ASNobject& member, int id) { return readTagged(member, id, flags_); }
  int readTagged(ASNobject& member, int id, unsigned char f) {
    if (left() < 2) return 0;
    const int next = peek();
    if (next < 0) return next;
    return next == id ? read(member, f) : 0;
  }
  // The identifier octet of the next element, or EASN_FILE.
  int peek() const {
    const int id = asnPeekIdentifier(in_);
    return id < 0 ? EASN_FILE : id;
  }
  // 1 when exactly the content was taken, else 0.
  int finish() const { return taken_ == length_ ? 1 : 0; }

 private:
  GenericFile* in_;
  int length_;
  unsigned char flags_;
  int taken_;
};

// Decodes the members in order, each bounded by what is left of `length`:
// 1 when all decoded, 0 when one does not fit, or the failing result.
inline int decodeMembers(GenericFile* in, int length, unsigned char f, ASNobject* const* members,
                         int count, int* taken) {
  MemberReader m(in, length, f, *taken);
  for (int i = 0; i < count; ++i) {
    const int r = m.read(*members[i]);
    if (r < 1) return r;
    *taken = m.taken();
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
    if (n > ASN_MAX_LENGTH) return -1;
  }
  return static_cast<int>(n);
}

inline void digestMembers(LvHash* hash, const ASNobject* const* members, int count) {
  for (int i = 0; i < count; ++i)
    if (members[i]) members[i]->updateDigest(hash);
}

// The same over a list written in place (absent members null).
inline int encodeMembers(GenericFile* out, std::initializer_list<const ASNobject*> members) {
  return encodeMembers(out, members.begin(), static_cast<int>(members.size()));
}

inline int membersLength(std::initializer_list<const ASNobject*> members) {
  return membersLength(members.begin(), static_cast<int>(members.size()));
}

inline void digestMembers(LvHash* hash, std::initializer_list<const ASNobject*> members) {
  digestMembers(hash, members.begin(), static_cast<int>(members.size()));
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
