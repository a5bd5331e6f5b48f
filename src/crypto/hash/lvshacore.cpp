#include "crypto/hash/lvshacore.h"

#include "crypto/basic/lvoctmem.h"

// ------------------------------------------------------------------ SHA-1

// The schedule loop is kept scalar: vectorised, its four-word steps wait on
// the word three back and pass through memory, which halved the speed.
#if defined(__clang__)
#define LV_NO_VECTORIZE _Pragma("clang loop vectorize(disable) interleave(disable)")
#define LV_SCALAR_FN
#elif defined(__GNUC__)
#define LV_NO_VECTORIZE
#define LV_SCALAR_FN __attribute__((optimize("no-tree-vectorize", "no-tree-slp-vectorize")))
#else
#define LV_NO_VECTORIZE
#define LV_SCALAR_FN
#endif

// One round: the working variables rotate by renaming in the unrolled code.
#define LV_SHA1_ROUND(a, b, c, d, e, f, k, w)     \
  do {                                            \
    e += lvRotl32(a, 5) + (f) + (k) + (w);        \
    b = lvRotl32(b, 30);                          \
  } while (0)
#define LV_F1(b, c, d) (((c ^ d) & b) ^ d)
#define LV_F2(b, c, d) (b ^ c ^ d)
#define LV_F3(b, c, d) ((b & c) | ((b | c) & d))
#define LV_SHA1_5(i, F, k)                                    \
  LV_SHA1_ROUND(a, b, c, d, e, F(b, c, d), k, w[i]);          \
  LV_SHA1_ROUND(e, a, b, c, d, F(a, b, c), k, w[i + 1]);      \
  LV_SHA1_ROUND(d, e, a, b, c, F(e, a, b), k, w[i + 2]);      \
  LV_SHA1_ROUND(c, d, e, a, b, F(d, e, a), k, w[i + 3]);      \
  LV_SHA1_ROUND(b, c, d, e, a, F(c, d, e), k, w[i + 4])

LV_SCALAR_FN void lvSha1CompressPortable(std::uint32_t state[5], const std::uint8_t* blocks,
                                         std::size_t count) {
  std::uint32_t w[80];
  for (; count != 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) w[i] = lvLoadBe32(blocks + 4 * i);
    LV_NO_VECTORIZE
    for (int i = 16; i < 80; ++i) w[i] = lvRotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    LV_SHA1_5(0, LV_F1, 0x5A827999u);
    LV_SHA1_5(5, LV_F1, 0x5A827999u);
    LV_SHA1_5(10, LV_F1, 0x5A827999u);
    LV_SHA1_5(15, LV_F1, 0x5A827999u);
    LV_SHA1_5(20, LV_F2, 0x6ED9EBA1u);
    LV_SHA1_5(25, LV_F2, 0x6ED9EBA1u);
    LV_SHA1_5(30, LV_F2, 0x6ED9EBA1u);
    LV_SHA1_5(35, LV_F2, 0x6ED9EBA1u);
    LV_SHA1_5(40, LV_F3, 0x8F1BBCDCu);
    LV_SHA1_5(45, LV_F3, 0x8F1BBCDCu);
    LV_SHA1_5(50, LV_F3, 0x8F1BBCDCu);
    LV_SHA1_5(55, LV_F3, 0x8F1BBCDCu);
    LV_SHA1_5(60, LV_F2, 0xCA62C1D6u);
    LV_SHA1_5(65, LV_F2, 0xCA62C1D6u);
    LV_SHA1_5(70, LV_F2, 0xCA62C1D6u);
    LV_SHA1_5(75, LV_F2, 0xCA62C1D6u);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
  lvWipe(w, sizeof w);
}

// ---------------------------------------------------------------- SHA-256

alignas(16) const std::uint32_t kLvSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

void lvSha256CompressPortable(std::uint32_t state[8], const std::uint8_t* blocks,
                              std::size_t count) {
  std::uint32_t w[64];
  for (; count != 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) w[i] = lvLoadBe32(blocks + 4 * i);
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = lvRotr32(w[i - 15], 7) ^ lvRotr32(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = lvRotr32(w[i - 2], 17) ^ lvRotr32(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t S1 = lvRotr32(e, 6) ^ lvRotr32(e, 11) ^ lvRotr32(e, 25);
      std::uint32_t ch = (e & f) ^ (~e & g);
      std::uint32_t t1 = h + S1 + ch + kLvSha256K[i] + w[i];
      std::uint32_t S0 = lvRotr32(a, 2) ^ lvRotr32(a, 13) ^ lvRotr32(a, 22);
      std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      std::uint32_t t2 = S0 + maj;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  lvWipe(w, sizeof w);
}

// ---------------------------------------------------------------- SHA-512

alignas(16) const std::uint64_t kLvSha512K[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL};

// Eight rounds with the working variables renamed instead of moved.
#define LV_SHA512_ROUND(a, b, c, d, e, f, g, h, i)                                      \
  do {                                                                                  \
    std::uint64_t t1 = h + (lvRotr64(e, 14) ^ lvRotr64(e, 18) ^ lvRotr64(e, 41)) +       \
                       (g ^ (e & (f ^ g))) + kLvSha512K[i] + w[i];                      \
    std::uint64_t t2 = (lvRotr64(a, 28) ^ lvRotr64(a, 34) ^ lvRotr64(a, 39)) +           \
                       ((a & b) | (c & (a | b)));                                       \
    d += t1;                                                                            \
    h = t1 + t2;                                                                        \
  } while (0)

void lvSha512CompressPortable(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count) {
  std::uint64_t w[80];
  for (; count != 0; --count, blocks += 128) {
    for (int i = 0; i < 16; ++i) w[i] = lvLoadBe64(blocks + 8 * i);
    for (int i = 16; i < 80; ++i) {
      std::uint64_t s0 = lvRotr64(w[i - 15], 1) ^ lvRotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
      std::uint64_t s1 = lvRotr64(w[i - 2], 19) ^ lvRotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 80; i += 8) {
      LV_SHA512_ROUND(a, b, c, d, e, f, g, h, i);
      LV_SHA512_ROUND(h, a, b, c, d, e, f, g, i + 1);
      LV_SHA512_ROUND(g, h, a, b, c, d, e, f, i + 2);
      LV_SHA512_ROUND(f, g, h, a, b, c, d, e, i + 3);
      LV_SHA512_ROUND(e, f, g, h, a, b, c, d, i + 4);
      LV_SHA512_ROUND(d, e, f, g, h, a, b, c, i + 5);
      LV_SHA512_ROUND(c, d, e, f, g, h, a, b, i + 6);
      LV_SHA512_ROUND(b, c, d, e, f, g, h, a, i + 7);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  lvWipe(w, sizeof w);
}
