// GHASH-128: the universal hash of the Galois/Counter Mode (NIST SP 800-38D)
// behind the hash framework, with an empty A: the digest of a message M under
// the hash key H is GHASH_H(M padded with zeros || 0^64 || bitlen(M)^64).
#pragma once

#include <cstdint>

#include "crypto/hash/lvhashbase.h"

class LvGhash128 : public LvDhf {
 public:
  LvGhash128();
  LV_HASH_DESCRIPTION_DECL(LvGhash128)
  ~LvGhash128() override;

  // Computes the multiplication tables from the 16-octet hash key H. Until a
  // key is set the tables are zero and every digest is zero.
  void setKey(const LvOctet key[16]);

  unsigned int init() override;
  unsigned int getBlockOctets() const override;
  void resetIv() override;
  void compressBlock(const LvOctet* block) override;
  void finalBlock() override;

 private:
  // X := (X xor block) times H.
  void absorb(const LvOctet* block);

  // Entry (j, b): H times the element whose octet j is b, the others zero;
  // each entry holds the 16 octets of the product in memory order.
  LvWord m_table[16][256][4];
  std::uint64_t m_lenA;  // bits of associated data: always 0 here
  std::uint64_t m_lenC;  // bits of the message fed
};
