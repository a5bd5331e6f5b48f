// Small decoding helpers shared by the structures of this folder.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asnint.h"
#include "base/memfile.h"

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
