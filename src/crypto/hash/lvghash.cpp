#include "crypto/hash/lvghash.h"

#include <cstring>

#include "crypto/hash/lvshacore.h"

LvGhash128::LvGhash128() : LvDhf(16, 16), m_table{}, m_lenA(0), m_lenC(0) {}

// The tables are the key's multiples: they are wiped with the rest.
LvGhash128::~LvGhash128() {
  lvWipe(m_table, sizeof m_table);
  m_lenA = m_lenC = 0;
}

void LvGhash128::setKey(const LvOctet key[16]) {
  // p[i] = H times x^i, where bit i counts from the leftmost bit of octet 0
  // (SP 800-38D bit order). Multiplying by x shifts right by one bit and
  // reduces with R = 0xE1 || 0^120.
  std::uint32_t p[128][4];
  for (int w = 0; w < 4; ++w) p[0][w] = lvLoadBe32(key + 4 * w);
  for (int i = 1; i < 128; ++i) {
    const std::uint32_t* v = p[i - 1];
    std::uint32_t carry = v[3] & 1;
    p[i][3] = (v[3] >> 1) | (v[2] << 31);
    p[i][2] = (v[2] >> 1) | (v[1] << 31);
    p[i][1] = (v[1] >> 1) | (v[0] << 31);
    p[i][0] = (v[0] >> 1) ^ (carry ? 0xE1000000u : 0);
  }
  for (int j = 0; j < 16; ++j) {
    for (int b = 0; b < 256; ++b) {
      std::uint32_t acc[4] = {0, 0, 0, 0};
      for (int k = 0; k < 8; ++k) {
        if (b & (0x80 >> k)) {
          for (int w = 0; w < 4; ++w) acc[w] ^= p[8 * j + k][w];
        }
      }
      LvOctet bytes[16];
      for (int w = 0; w < 4; ++w) lvStoreBe32(bytes + 4 * w, acc[w]);
      std::memcpy(m_table[j][b], bytes, 16);
    }
  }
  lvWipe(p, sizeof p);
}

unsigned int LvGhash128::init() {
  unsigned int r = LvDhf::init();
  m_lenA = m_lenC = 0;
  return r;
}

bool LvGhash128::isApproved() const {
  return (m_optionA & 1) == 0 && (m_optionB & 1) == 0 && m_strength == 0;
}
LV_HASH_DESCRIPTION(LvGhash128, LV_HASH_GHASH128, "GHASH-128", nullptr, nullptr, 16)
unsigned int LvGhash128::getBlockOctets() const { return 16; }
void LvGhash128::resetIv() {}

void LvGhash128::absorb(const LvOctet* block) {
  LvOctet* x = m_digest.ptr();
  LvOctet v[16];
  for (int i = 0; i < 16; ++i) v[i] = static_cast<LvOctet>(x[i] ^ block[i]);
  LvWord r[4] = {0, 0, 0, 0};
  for (int j = 0; j < 16; ++j) {
    const LvWord* e = m_table[j][v[j]];
    r[0] ^= e[0];
    r[1] ^= e[1];
    r[2] ^= e[2];
    r[3] ^= e[3];
  }
  std::memcpy(x, r, 16);
}

void LvGhash128::compressBlock(const LvOctet* block) {
  m_lenC += 128;
  absorb(block);
}

void LvGhash128::finalBlock() {
  LvOctet* buf = m_block.ptr();
  if (m_buffered > 0) {
    m_lenC += 8 * std::uint64_t(m_buffered);
    std::memset(buf + m_buffered, 0, 16 - m_buffered);
    absorb(buf);
    m_buffered = 0;
  }
  LvOctet lengths[16];
  lvStoreBe64(lengths, m_lenA);
  lvStoreBe64(lengths + 8, m_lenC);
  absorb(lengths);
}
