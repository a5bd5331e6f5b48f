// Small decoding helpers shared by the structures of this folder.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asnint.h"
#include "base/memfile.h"

#include <cstddef>
#include <cstdint>

// The identifier octet of the next element, the stream left where it was:
// 0..255, or -1 when nothing can be read there.
//
// The framework accepts any context tag on an implicitly tagged member, so a
// structure with optional or context-tagged members looks at the identifier
// first and decodes only the member that the tag names.
inline int asnPeekIdentifier(GenericFile* in) {
  uint32_t pos = in->tell();
  uint8_t b = 0;
  uint32_t got = 0;
  if (in->read(1, &b, &got) != 0) return -1;
  if (in->seek(static_cast<int32_t>(pos)) != 0 || got != 1) return -1;
  return b;
}

// The unsigned value of a decoded INTEGER when it fits 32 bits (leading zero
// octets aside): true with *out set, false for a longer value. Every reading
// of a decoded INTEGER as a number goes through here: ASNinteger::toLong
// throws std::overflow_error on a longer one, and a stranger chooses the size.
inline bool asnSmallValue(const ASNinteger& value, uint32_t* out) {
  if (value.byteLength() > 4) return false;
  *out = value.toLong();
  return true;
}

// The next n octets of `in`, read in place, when it is a memory stream of
// known length that holds them (the stream does not move); else null. The
// quick readers of usual DER forms look at the octets through it.
inline const unsigned char* asnPeekMemory(GenericFile* in, int n) {
  MemFile* mem = in ? in->asMemFile() : nullptr;
  if (!mem || mem->isUnknownLength() || n < 0 || !mem->data()) return nullptr;
  const uint32_t pos = mem->tell();
  if (pos > static_cast<uint32_t>(mem->length()) ||
      static_cast<uint32_t>(mem->length()) - pos < static_cast<uint32_t>(n))
    return nullptr;
  return mem->data() + pos;
}

// One TLV with identifier `tag` in strict DER at p[0..end): its length in
// the shortest form (short, or one to three long-form octets without a
// leading zero and past 127), its content within end. True with the
// content's bounds and p past the TLV; false (p unchanged) otherwise.
inline bool derTlv(const unsigned char*& p, const unsigned char* end, unsigned char tag,
                   const unsigned char** content, int* length) {
  if (end - p < 2 || p[0] != tag) return false;
  const size_t avail = static_cast<size_t>(end - p);
  size_t n = p[1], header = 2;
  if (n & 0x80) {
    const size_t k = n & 0x7F;
    if (k < 1 || k > 3 || avail < 2 + k || p[2] == 0) return false;
    n = 0;
    for (size_t i = 0; i < k; ++i) n = n << 8 | p[2 + i];
    if (n < 0x80) return false;
    header = 2 + k;
  }
  if (avail - header < n) return false;
  *content = p + header;
  *length = static_cast<int>(n);
  p += header + n;
  return true;
}
