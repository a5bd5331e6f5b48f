// SHA-1 and the SHA-2 family (FIPS 180-4) on the hash framework.
#pragma once

#include <cstdint>

#include "crypto/hash/lvhashbase.h"

class LvSha1 : public LvDhf {
 public:
  LvSha1();
  LV_HASH_DESCRIPTION_DECL(LvSha1)
  ~LvSha1() override;
  unsigned int getBlockOctets() const override;
  void resetIv() override;
  void compressBlock(const LvOctet* block) override;
  void finalBlock() override;

  // The function G of the FIPS 186 generator: the SHA-1 compression of one
  // 64-octet block from the chaining value t, without padding or length;
  // out receives the five chaining words big-endian.
  static void compressG(const LvWord t[5], const LvOctet block[64], LvOctet out[20]);

 protected:
  void compressBlocks(const LvOctet* blocks, std::size_t count) override;

 private:
  std::uint32_t m_h[5];
  std::uint32_t m_count[2];  // octets, low word first
};

class LvSha256 : public LvDhf {
 public:
  LvSha256();
  LV_HASH_DESCRIPTION_DECL(LvSha256)
  ~LvSha256() override;
  unsigned int getBlockOctets() const override;
  void resetIv() override;
  void compressBlock(const LvOctet* block) override;
  void finalBlock() override;

 protected:
  explicit LvSha256(unsigned int digestOctets);
  void compressBlocks(const LvOctet* blocks, std::size_t count) override;

  std::uint32_t m_h[8];
  std::uint32_t m_count[2];
};

class LvSha224 : public LvSha256 {
 public:
  LvSha224();
  LV_HASH_DESCRIPTION_DECL(LvSha224)
  void resetIv() override;
};

// The common part of SHA-384 and SHA-512: 64-bit words, 128-octet blocks.
class LvSha64Bit : public LvDhf {
 public:
  ~LvSha64Bit() override;
  unsigned int getBlockOctets() const override;
  void compressBlock(const LvOctet* block) override;
  void finalBlock() override;
  void hash(const LvOctet* data, unsigned int length) override;

 protected:
  explicit LvSha64Bit(unsigned int digestOctets);
  LvSha64Bit(const LvSha64Bit& other) = default;
  void compressBlocks(const LvOctet* blocks, std::size_t count) override;
  void addCount(std::uint64_t octets);
  // Pads the last `restLen` (< 128) octets after `count` whole blocks,
  // compresses all of it in one call and writes the digest.
  void compressLast(const LvOctet* blocks, std::size_t count, const LvOctet* rest,
                    unsigned int restLen);

  std::uint64_t m_h[8];
  std::uint64_t m_count[2];  // octets, low word first
};

class LvSha384 : public LvSha64Bit {
 public:
  LvSha384();
  LV_HASH_DESCRIPTION_DECL(LvSha384)
  void resetIv() override;
};

class LvSha512 : public LvSha64Bit {
 public:
  LvSha512();
  LV_HASH_DESCRIPTION_DECL(LvSha512)
  void resetIv() override;
};
