// Final padding shared by the Merkle-Damgard hashes (SHA family, RIPEMD, MD5).
#pragma once

#include <cstring>

#include "crypto/basic/lvoctmem.h"

// Writes 0x80 after the `buffered` octets of the block and zeros up to the
// length field of `fieldLen` octets. When the field no longer fits, the block
// is zero-filled and handed to `transform` first, then zeroed up to the field.
// `transform` compresses without counting: the message length was counted
// once already, before padding.
template <class Transform>
inline void lvMdPad(LvOctet* block, unsigned int buffered, unsigned int blockLen,
                    unsigned int fieldLen, Transform transform) {
  block[buffered++] = 0x80;
  if (buffered > blockLen - fieldLen) {
    std::memset(block + buffered, 0, blockLen - buffered);
    transform(block);
    buffered = 0;
  }
  std::memset(block + buffered, 0, blockLen - fieldLen - buffered);
}
