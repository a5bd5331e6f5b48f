// The little-endian hashes: RIPEMD-128, RIPEMD-160 (ISO/IEC 10118-3, as
// published by their designers) and MD5 (RFC 1321).
#pragma once

#include <cstdint>

#include "crypto/hash/lvhashbase.h"

// The common part: 64-octet blocks read as little-endian words, a 64-bit
// octet counter and the final padding with a little-endian bit length.
class LvLeHash : public LvDhf {
 public:
  ~LvLeHash() override;
  unsigned int getBlockOctets() const override;
  void compressBlock(const LvOctet* block) override;
  void finalBlock() override;

 protected:
  LvLeHash(unsigned int digestOctets, unsigned int chainWords);
  LvLeHash(const LvLeHash& other) = default;
  void compressBlocks(const LvOctet* blocks, std::size_t count) override;
  // The compression function alone, without counting.
  virtual void transform(const LvOctet* blocks, std::size_t count) = 0;
  void loadIv(const std::uint32_t* iv);

  std::uint32_t m_h[5];
  std::uint32_t m_count[2];  // octets, low word first
  unsigned int m_chainWords;
};

class LvRipemd160 : public LvLeHash {
 public:
  LvRipemd160();
  LV_HASH_DESCRIPTION_DECL(LvRipemd160)
  void resetIv() override;

 protected:
  void transform(const LvOctet* blocks, std::size_t count) override;
};

class LvRipemd128 : public LvLeHash {
 public:
  LvRipemd128();
  LV_HASH_DESCRIPTION_DECL(LvRipemd128)
  void resetIv() override;

 protected:
  void transform(const LvOctet* blocks, std::size_t count) override;
};

class LvMd5 : public LvLeHash {
 public:
  LvMd5();
  LV_HASH_DESCRIPTION_DECL(LvMd5)
  void resetIv() override;

 protected:
  void transform(const LvOctet* blocks, std::size_t count) override;
};
