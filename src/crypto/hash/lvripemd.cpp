#include "crypto/hash/lvripemd.h"

#include <cstring>
#include <utility>

#include "crypto/hash/lvmdpad.h"
#include "crypto/hash/lvshacore.h"

// ---------------------------------------------------------------- LvLeHash

LvLeHash::LvLeHash(unsigned int digestOctets, unsigned int chainWords)
    : LvDhf(digestOctets, 64), m_h{}, m_count{}, m_chainWords(chainWords) {}

LvLeHash::~LvLeHash() {
  lvWipe(m_h, sizeof m_h);
  lvWipe(m_count, sizeof m_count);
}

unsigned int LvLeHash::getBlockOctets() const { return 64; }

void LvLeHash::loadIv(const std::uint32_t* iv) {
  std::memset(m_h, 0, sizeof m_h);
  std::memcpy(m_h, iv, m_chainWords * sizeof(std::uint32_t));
  m_count[0] = m_count[1] = 0;
}

void LvLeHash::compressBlock(const LvOctet* block) { compressBlocks(block, 1); }

void LvLeHash::compressBlocks(const LvOctet* blocks, std::size_t count) {
  transform(blocks, count);
  lvAddCount64(m_count, std::uint64_t(count) * 64);
}

void LvLeHash::finalBlock() {
  lvAddCount64(m_count, m_buffered);
  LvOctet* buf = m_block.ptr();
  lvMdPad(buf, m_buffered, 64, 8, [&](const LvOctet* b) { transform(b, 1); });
  lvStoreLe32(buf + 56, m_count[0] << 3);
  lvStoreLe32(buf + 60, (m_count[1] << 3) | (m_count[0] >> 29));
  transform(buf, 1);
  m_buffered = 0;
  for (unsigned int i = 0; i < m_chainWords; ++i) lvStoreLe32(m_digest.ptr() + 4 * i, m_h[i]);
}

static const std::uint32_t kLeIv[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                       0xC3D2E1F0};

// ---------------------------------------------------------- RIPEMD tables

// Word selection and rotation of the left (r, s) and right (rr, ss) lines.
static constexpr unsigned char kR[80] = {
    0, 1, 2,  3,  4,  5,  6,  7,  8, 9, 10, 11, 12, 13, 14, 15, 7,  4,  13, 1,
    10, 6, 15, 3,  12, 0,  9,  5,  2, 14, 11, 8,  3,  10, 14, 4,  9,  15, 8,  1,
    2,  7, 0,  6,  13, 11, 5,  12, 1, 9,  11, 10, 0,  8,  12, 4,  13, 3,  7,  15,
    14, 5, 6,  2,  4,  0,  5,  9,  7, 12, 2,  10, 14, 1,  3,  8,  11, 6,  15, 13};
static constexpr unsigned char kRr[80] = {
    5,  14, 7,  0,  9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12, 6,  11, 3,  7,
    0,  13, 5,  10, 14, 15, 8, 12, 4,  9,  1,  2,  15, 5,  1,  3,  7,  14, 6,  9,
    11, 8,  12, 2,  10, 0,  4, 13, 8,  6,  4,  1,  3,  11, 15, 0,  5,  12, 2,  13,
    9,  7,  10, 14, 12, 15, 10, 4, 1,  5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
static constexpr unsigned char kS[80] = {
    11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,  7,  6,  8,  13,
    11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12, 11, 13, 6,  7,  14, 9,  13, 15,
    14, 8,  13, 6,  5,  12, 7,  5,  11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,
    8,  6,  5,  12, 9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
static constexpr unsigned char kSs[80] = {
    8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,  9,  13, 15, 7,
    12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11, 9,  7,  15, 11, 8,  6,  6,  14,
    12, 13, 5,  14, 13, 13, 7,  5,  15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,
    12, 5,  15, 8,  8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};

// The five round functions, by round number 0..4.
static inline std::uint32_t lvRmdF(unsigned round, std::uint32_t x, std::uint32_t y,
                                   std::uint32_t z) {
  switch (round) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    case 3: return (x & z) | (y & ~z);
    default: return x ^ (y | ~z);
  }
}

// ------------------------------------------------------------- RIPEMD-160

static const LvWord kRmd160Oid[] = {6, 1, 0, 10118, 3, 0, 49};
static const LvOctet kRmd160Der[] = {0x06, 0x06, 0x28, 0xCF, 0x06, 0x03, 0x00, 0x31};

LvRipemd160::LvRipemd160() : LvLeHash(20, 5) {}
bool LvRipemd160::isApproved() const { return (m_optionA & 1) == 0 && m_strength < 81; }
LV_HASH_DESCRIPTION(LvRipemd160, LV_HASH_RIPEMD160, "RIPEMD-160", kRmd160Oid, kRmd160Der, 20)
void LvRipemd160::resetIv() { loadIv(kLeIv); }

namespace {

constexpr std::uint32_t kRmd160Kl[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xA953FD4E};
constexpr std::uint32_t kRmd160Kr[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9, 0x00000000};

template <unsigned Round>
inline std::uint32_t rmdF(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  if constexpr (Round == 0)
    return x ^ y ^ z;
  else if constexpr (Round == 1)
    return (x & y) | (~x & z);
  else if constexpr (Round == 2)
    return (x | ~y) ^ z;
  else if constexpr (Round == 3)
    return (x & z) | (y & ~z);
  else
    return x ^ (y | ~z);
}

// The state of both lines: al, bl, cl, dl, el, ar, br, cr, dr, er.
struct Rmd160Lines {
  std::uint32_t al, bl, cl, dl, el, ar, br, cr, dr, er;
};

// Step J of both lines, its word, rotation and function fixed when compiled (the steps are
// unrolled: a step looked up in tables at run time took twice as long).
template <unsigned J>
inline void rmd160Step(Rmd160Lines& v, const std::uint32_t* x) {
  constexpr unsigned round = J / 16;
  std::uint32_t t =
      lvRotl32(v.al + rmdF<round>(v.bl, v.cl, v.dl) + x[kR[J]] + kRmd160Kl[round], kS[J]) + v.el;
  v.al = v.el;
  v.el = v.dl;
  v.dl = lvRotl32(v.cl, 10);
  v.cl = v.bl;
  v.bl = t;
  t = lvRotl32(v.ar + rmdF<4 - round>(v.br, v.cr, v.dr) + x[kRr[J]] + kRmd160Kr[round], kSs[J]) +
      v.er;
  v.ar = v.er;
  v.er = v.dr;
  v.dr = lvRotl32(v.cr, 10);
  v.cr = v.br;
  v.br = t;
}

template <std::size_t... J>
inline void rmd160Steps(Rmd160Lines& v, const std::uint32_t* x, std::index_sequence<J...>) {
  (rmd160Step<J>(v, x), ...);
}

}  // namespace

void LvRipemd160::transform(const LvOctet* blocks, std::size_t count) {
  std::uint32_t x[16];
  for (; count != 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) x[i] = lvLoadLe32(blocks + 4 * i);
    Rmd160Lines v{m_h[0], m_h[1], m_h[2], m_h[3], m_h[4], m_h[0], m_h[1], m_h[2], m_h[3], m_h[4]};
    rmd160Steps(v, x, std::make_index_sequence<80>());
    std::uint32_t t = m_h[1] + v.cl + v.dr;
    m_h[1] = m_h[2] + v.dl + v.er;
    m_h[2] = m_h[3] + v.el + v.ar;
    m_h[3] = m_h[4] + v.al + v.br;
    m_h[4] = m_h[0] + v.bl + v.cr;
    m_h[0] = t;
  }
  lvWipe(x, sizeof x);
}

// ------------------------------------------------------------- RIPEMD-128

static const LvWord kRmd128Oid[] = {6, 1, 0, 10118, 3, 0, 50};
static const LvOctet kRmd128Der[] = {0x06, 0x06, 0x28, 0xCF, 0x06, 0x03, 0x00, 0x32};

LvRipemd128::LvRipemd128() : LvLeHash(16, 4) {}
bool LvRipemd128::isApproved() const {
  return (m_optionA & 1) == 0 && (m_optionB & 1) == 0 && m_strength == 0;
}
LV_HASH_DESCRIPTION(LvRipemd128, LV_HASH_RIPEMD128, "RIPEMD-128", kRmd128Oid, kRmd128Der, 16)
void LvRipemd128::resetIv() { loadIv(kLeIv); }

void LvRipemd128::transform(const LvOctet* blocks, std::size_t count) {
  static const std::uint32_t kl[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
  static const std::uint32_t kr[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};
  std::uint32_t x[16];
  for (; count != 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) x[i] = lvLoadLe32(blocks + 4 * i);
    std::uint32_t al = m_h[0], bl = m_h[1], cl = m_h[2], dl = m_h[3];
    std::uint32_t ar = al, br = bl, cr = cl, dr = dl;
    for (unsigned j = 0; j < 64; ++j) {
      unsigned round = j / 16;
      std::uint32_t t = lvRotl32(al + lvRmdF(round, bl, cl, dl) + x[kR[j]] + kl[round], kS[j]);
      al = dl;
      dl = cl;
      cl = bl;
      bl = t;
      t = lvRotl32(ar + lvRmdF(3 - round, br, cr, dr) + x[kRr[j]] + kr[round], kSs[j]);
      ar = dr;
      dr = cr;
      cr = br;
      br = t;
    }
    std::uint32_t t = m_h[1] + cl + dr;
    m_h[1] = m_h[2] + dl + ar;
    m_h[2] = m_h[3] + al + br;
    m_h[3] = m_h[0] + bl + cr;
    m_h[0] = t;
  }
  lvWipe(x, sizeof x);
}

// -------------------------------------------------------------------- MD5

static const LvWord kMd5Oid[] = {6, 1, 2, 840, 113549, 2, 5};
static const LvOctet kMd5Der[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};

LvMd5::LvMd5() : LvLeHash(16, 4) {}
bool LvMd5::isApproved() const {
  return (m_optionA & 1) == 0 && (m_optionB & 3) == 0 && m_strength == 0;
}
LV_HASH_DESCRIPTION(LvMd5, LV_HASH_MD5, "MD5", kMd5Oid, kMd5Der, 16)
void LvMd5::resetIv() { loadIv(kLeIv); }

void LvMd5::transform(const LvOctet* blocks, std::size_t count) {
  static const std::uint32_t t[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const unsigned char s[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23},
                                        {6, 10, 15, 21}};
  std::uint32_t x[16];
  for (; count != 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) x[i] = lvLoadLe32(blocks + 4 * i);
    std::uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3];
    for (unsigned i = 0; i < 64; ++i) {
      unsigned round = i / 16, k;
      std::uint32_t f;
      switch (round) {
        case 0: f = (b & c) | (~b & d); k = i; break;
        case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; k = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); k = (7 * i) & 15; break;
      }
      std::uint32_t tmp = d;
      d = c;
      c = b;
      b = b + lvRotl32(a + f + x[k] + t[i], s[round][i & 3]);
      a = tmp;
    }
    m_h[0] += a;
    m_h[1] += b;
    m_h[2] += c;
    m_h[3] += d;
  }
  lvWipe(x, sizeof x);
}
