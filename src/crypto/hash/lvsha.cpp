#include "crypto/hash/lvsha.h"

#include <cstring>

#include "crypto/basic/lvnet.h"
#include "crypto/hash/lvmdpad.h"
#include "crypto/hash/lvshacore.h"

// ------------------------------------------------------------------ SHA-1

static const LvWord kSha1Oid[] = {6, 1, 3, 14, 3, 2, 26};
static const LvOctet kSha1Der[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};

LvSha1::LvSha1() : LvDhf(20, 64), m_h{}, m_count{} {}
LvSha1::~LvSha1() {
  lvWipe(m_h, sizeof m_h);
  lvWipe(m_count, sizeof m_count);
}
bool LvSha1::isApproved() const { return (m_optionB & 2) == 0 && m_strength < 81; }
LV_HASH_DESCRIPTION(LvSha1, LV_HASH_SHA1, "SHA-1", kSha1Oid, kSha1Der, 20)
unsigned int LvSha1::getBlockOctets() const { return 64; }

void LvSha1::resetIv() {
  static const std::uint32_t iv[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::memcpy(m_h, iv, sizeof m_h);
  m_count[0] = m_count[1] = 0;
}

void LvSha1::compressBlock(const LvOctet* block) { compressBlocks(block, 1); }

void LvSha1::compressBlocks(const LvOctet* blocks, std::size_t count) {
  lvSha1CompressFn()(m_h, blocks, count);
  lvAddCount64(m_count, std::uint64_t(count) * 64);
}

// Writes the 64-bit bit count of an octet counter big-endian.
static void lvPutBitCountBe(LvOctet* dst, const std::uint32_t count[2]) {
  lvStoreBe32(dst, (count[1] << 3) | (count[0] >> 29));
  lvStoreBe32(dst + 4, count[0] << 3);
}

void LvSha1::finalBlock() {
  lvAddCount64(m_count, m_buffered);
  LvOctet* buf = m_block.ptr();
  LvSha32CompressFn fn = lvSha1CompressFn();
  lvMdPad(buf, m_buffered, 64, 8, [&](const LvOctet* b) { fn(m_h, b, 1); });
  lvPutBitCountBe(buf + 56, m_count);
  fn(m_h, buf, 1);
  m_buffered = 0;
  for (int i = 0; i < 5; ++i) lvStoreBe32(m_digest.ptr() + 4 * i, m_h[i]);
}

void LvSha1::compressG(const LvWord t[5], const LvOctet block[64], LvOctet out[20]) {
  std::uint32_t h[5];
  std::memcpy(h, t, sizeof h);
  lvSha1CompressFn()(h, block, 1);
  for (int i = 0; i < 5; ++i) lvStoreBe32(out + 4 * i, h[i]);
  lvWipe(h, sizeof h);
}

// ------------------------------------------------------------ SHA-224/256

static const LvWord kSha256Oid[] = {9, 2, 16, 840, 1, 101, 3, 4, 2, 1};
static const LvOctet kSha256Der[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
static const LvWord kSha224Oid[] = {9, 2, 16, 840, 1, 101, 3, 4, 2, 4};
static const LvOctet kSha224Der[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04};

LvSha256::LvSha256() : LvSha256(32) {}
LvSha256::LvSha256(unsigned int digestOctets) : LvDhf(digestOctets, 64), m_h{}, m_count{} {}
LvSha256::~LvSha256() {
  lvWipe(m_h, sizeof m_h);
  lvWipe(m_count, sizeof m_count);
}
bool LvSha256::isApproved() const { return m_strength < 129; }
LV_HASH_DESCRIPTION(LvSha256, LV_HASH_SHA256, "SHA-256", kSha256Oid, kSha256Der, 32)
unsigned int LvSha256::getBlockOctets() const { return 64; }

void LvSha256::resetIv() {
  static const std::uint32_t iv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(m_h, iv, sizeof m_h);
  m_count[0] = m_count[1] = 0;
}

void LvSha256::compressBlock(const LvOctet* block) { compressBlocks(block, 1); }

void LvSha256::compressBlocks(const LvOctet* blocks, std::size_t count) {
  lvSha256CompressFn()(m_h, blocks, count);
  lvAddCount64(m_count, std::uint64_t(count) * 64);
}

void LvSha256::finalBlock() {
  lvAddCount64(m_count, m_buffered);
  LvOctet* buf = m_block.ptr();
  LvSha32CompressFn fn = lvSha256CompressFn();
  lvMdPad(buf, m_buffered, 64, 8, [&](const LvOctet* b) { fn(m_h, b, 1); });
  lvPutBitCountBe(buf + 56, m_count);
  fn(m_h, buf, 1);
  m_buffered = 0;
  unsigned int words = getHashOctets() / 4;  // seven for SHA-224
  for (unsigned int i = 0; i < words; ++i) lvStoreBe32(m_digest.ptr() + 4 * i, m_h[i]);
}

LvSha224::LvSha224() : LvSha256(28) {}
bool LvSha224::isApproved() const { return m_strength < 113; }
LV_HASH_DESCRIPTION(LvSha224, LV_HASH_SHA224, "SHA-224", kSha224Oid, kSha224Der, 28)

void LvSha224::resetIv() {
  static const std::uint32_t iv[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                      0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
  std::memcpy(m_h, iv, sizeof m_h);
  m_count[0] = m_count[1] = 0;
}

// ------------------------------------------------------------ SHA-384/512

static const LvWord kSha384Oid[] = {9, 2, 16, 840, 1, 101, 3, 4, 2, 2};
static const LvOctet kSha384Der[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
static const LvWord kSha512Oid[] = {9, 2, 16, 840, 1, 101, 3, 4, 2, 3};
static const LvOctet kSha512Der[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

LvSha64Bit::LvSha64Bit(unsigned int digestOctets) : LvDhf(digestOctets, 128), m_h{}, m_count{} {}
LvSha64Bit::~LvSha64Bit() {
  lvWipe(m_h, sizeof m_h);
  lvWipe(m_count, sizeof m_count);
}
unsigned int LvSha64Bit::getBlockOctets() const { return 128; }

void LvSha64Bit::addCount(std::uint64_t octets) {
  m_count[0] += octets;
  if (m_count[0] < octets) ++m_count[1];
}

void LvSha64Bit::compressBlock(const LvOctet* block) { compressBlocks(block, 1); }

void LvSha64Bit::compressBlocks(const LvOctet* blocks, std::size_t count) {
  lvSha512CompressFn()(m_h, blocks, count);
  addCount(std::uint64_t(count) * 128);
}

void LvSha64Bit::compressLast(const LvOctet* blocks, std::size_t count, const LvOctet* rest,
                              unsigned int restLen) {
  alignas(16) LvOctet tail[256];
  if (restLen != 0) std::memcpy(tail, rest, restLen);
  tail[restLen] = 0x80;
  const unsigned int tailLen = restLen < 112 ? 128 : 256;  // room for 0x80 and the length
  std::memset(tail + restLen + 1, 0, tailLen - 16 - restLen - 1);
  lvStoreBe64(tail + tailLen - 16, (m_count[1] << 3) | (m_count[0] >> 61));
  lvStoreBe64(tail + tailLen - 8, m_count[0] << 3);
  lvSha512CompressTailFn()(m_h, blocks, count, tail, tailLen / 128);
  lvWipe(tail, tailLen);
  unsigned int words = getHashOctets() / 8;  // six for SHA-384
  for (unsigned int i = 0; i < words; ++i) lvStoreBe64(m_digest.ptr() + 8 * i, m_h[i]);
}

void LvSha64Bit::finalBlock() {
  addCount(m_buffered);
  compressLast(nullptr, 0, m_block.ptr(), m_buffered);
  m_buffered = 0;
}

// The whole message at once: its last blocks and the padding go to one call,
// so the padding block is scheduled in the shadow of the rounds before it.
void LvSha64Bit::hash(const LvOctet* data, unsigned int length) {
  // Null: the checks and errors of the general path. Long: its ticks of the
  // work net between batches of blocks. Refused by the net: its all-zero value.
  if (data == nullptr || length > NET_BLOCKS * 128 || !lvnet::tick()) {
    LvDhf::hash(data, length);
    return;
  }
  init();
  addCount(length);
  const std::size_t whole = length / 128;
  compressLast(data, whole, data + whole * 128, length % 128);
  m_sessionOpen = 0;
  m_digestReady = 1;
}

LvSha384::LvSha384() : LvSha64Bit(48) {}
bool LvSha384::isApproved() const { return m_strength < 193; }
LV_HASH_DESCRIPTION(LvSha384, LV_HASH_SHA384, "SHA-384", kSha384Oid, kSha384Der, 48)
void LvSha384::resetIv() {
  static const std::uint64_t iv[8] = {0xcbbb9d5dc1059ed8ULL, 0x629a292a367cd507ULL,
                                      0x9159015a3070dd17ULL, 0x152fecd8f70e5939ULL,
                                      0x67332667ffc00b31ULL, 0x8eb44a8768581511ULL,
                                      0xdb0c2e0d64f98fa7ULL, 0x47b5481dbefa4fa4ULL};
  std::memcpy(m_h, iv, sizeof m_h);
  m_count[0] = m_count[1] = 0;
}

LvSha512::LvSha512() : LvSha64Bit(64) {}
bool LvSha512::isApproved() const { return m_strength < 257; }
LV_HASH_DESCRIPTION(LvSha512, LV_HASH_SHA512, "SHA-512", kSha512Oid, kSha512Der, 64)
void LvSha512::resetIv() {
  static const std::uint64_t iv[8] = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL,
                                      0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
                                      0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                                      0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
  std::memcpy(m_h, iv, sizeof m_h);
  m_count[0] = m_count[1] = 0;
}
