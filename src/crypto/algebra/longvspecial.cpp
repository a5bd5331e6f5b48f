// Fast reduction modulo eight special primes, whose sparse binary form replaces Montgomery
// arithmetic: a plain product followed by word additions and subtractions.
#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"

const LvWord longvPrimeP160[5] = {0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                  0xFFFFFFFFu};
const LvWord longvPrimeP192[6] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFEu,
                                  0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
const LvWord longvPrimeP224[7] = {0x00000001u, 0x00000000u, 0x00000000u, 0xFFFFFFFFu,
                                  0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
const LvWord longvPrimeP256[8] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x00000000u,
                                  0x00000000u, 0x00000000u, 0x00000001u, 0xFFFFFFFFu};
const LvWord longvPrimeP384[12] = {0xFFFFFFFFu, 0x00000000u, 0x00000000u, 0xFFFFFFFFu,
                                   0xFFFFFFFEu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
const LvWord longvPrimeP521[17] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0x000001FFu};
const LvWord longvPrimeP544[17] = {0x00000001u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0xFFFFFFFFu};
const LvWord longvPrimeP1088[34] = {
    0x00000001u, 0x00000000u, 0x00000000u, 0x00000000u, 0x00000000u, 0x00000000u,
    0x00000000u, 0x00000000u, 0x00000001u, 0x00000000u, 0x00000000u, 0x00000000u,
    0x00000000u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};

namespace {

inline int64_t C64(LvWord w) { return static_cast<int64_t>(w); }
#define C(i) C64(t[i])

// Value t (k words) + c * 2^(32k), congruent to T: add or subtract p until the signed carry
// is gone, then one last subtraction when t >= p. Each pass moves the value by p, about
// 2^(32k), so |c| + 2 passes suffice; the caps only make the bound explicit.
LvWord correctSigned(LvWord* t, const LvWord* p, LvWordLen k, int64_t c) {
  for (int guard = 0; c < 0 && guard < 64; ++guard) c += longvAdd(t, p, k, 0);
  for (int guard = 0; c > 0 && guard < 64; ++guard) c -= longvSub(t, p, k, 0);
  if (longvCmp(t, p, k) >= 0) return longvSub(t, p, k, 0);
  return 0;
}

// Adds (sub = false) or subtracts src (ns words) at word offset off of L (nl words), carrying
// through to the top; returns the signed carry out of L.
inline int64_t addAt(LvWord* L, LvWordLen nl, LvWordLen off, const LvWord* src, LvWordLen ns,
                     bool sub) {
  if (sub) return -static_cast<int64_t>(longvSubLong(L + off, nl - off, src, ns, 0));
  return static_cast<int64_t>(longvAddLong(L + off, nl - off, src, ns, 0));
}

}  // namespace

LvWord longvRedP160(LvWord* t) {
  // 2^160 = 2^31 + 1 (mod p): T = L + H + H * 2^31 with H the words above the fifth. The
  // first fold leaves six words, the second folds the sixth; then a few subtractions remain.
  LvWord h[6];
  for (int round = 0; round < 2; ++round) {
    const LvWordLen hn = (round == 0) ? 5 : 1;
    for (LvWordLen i = 0; i < 6; ++i) h[i] = (i < hn) ? t[5 + i] : 0;
    for (LvWordLen i = 5; i < 10; ++i) t[i] = 0;
    uint64_t acc = 0;
    for (LvWordLen i = 0; i < 6; ++i) {
      const LvWord shifted = (h[i] << 31) | (i > 0 ? (h[i - 1] >> 1) : 0);
      acc += static_cast<uint64_t>(t[i]) + h[i] + shifted;
      t[i] = static_cast<LvWord>(acc);
      acc >>= 32;
    }
  }
  int64_t c = t[5];
  t[5] = 0;
  lvWipe(h, sizeof h);
  for (int guard = 0; c > 0 && guard < 64; ++guard) c -= longvSub(t, longvPrimeP160, 5, 0);
  LvWord br = 0;
  for (int guard = 0; guard < 64 && longvCmp(t, longvPrimeP160, 5) >= 0; ++guard)
    br = longvSub(t, longvPrimeP160, 5, 0);
  return br;
}

LvWord longvRedP192(LvWord* t) {
  int64_t acc = 0;
  acc += C(0) + C(6) + C(10);
  t[0] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(1) + C(7) + C(11);
  t[1] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(2) + C(6) + C(8) + C(10);
  t[2] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(3) + C(7) + C(9) + C(11);
  t[3] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(4) + C(8) + C(10);
  t[4] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(5) + C(9) + C(11);
  t[5] = static_cast<LvWord>(acc);
  acc >>= 32;
  longvZeroize(t + 6, 6);
  return correctSigned(t, longvPrimeP192, 6, acc);
}

LvWord longvRedP224(LvWord* t) {
  int64_t acc = 0;
  acc += C(0) - C(7) - C(11);
  t[0] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(1) - C(8) - C(12);
  t[1] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(2) - C(9) - C(13);
  t[2] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(3) + C(7) - C(10) + C(11);
  t[3] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(4) + C(8) - C(11) + C(12);
  t[4] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(5) + C(9) - C(12) + C(13);
  t[5] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(6) + C(10) - C(13);
  t[6] = static_cast<LvWord>(acc);
  acc >>= 32;
  longvZeroize(t + 7, 7);
  return correctSigned(t, longvPrimeP224, 7, acc);
}

LvWord longvRedP256(LvWord* t) {
  int64_t acc = 0;
  acc += C(0) + C(8) + C(9) - C(11) - C(12) - C(13) - C(14);
  t[0] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(1) + C(9) + C(10) - C(12) - C(13) - C(14) - C(15);
  t[1] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(2) + C(10) + C(11) - C(13) - C(14) - C(15);
  t[2] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(3) - C(8) - C(9) + 2 * C(11) + 2 * C(12) + C(13) - C(15);
  t[3] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(4) - C(9) - C(10) + 2 * C(12) + 2 * C(13) + C(14);
  t[4] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(5) - C(10) - C(11) + 2 * C(13) + 2 * C(14) + C(15);
  t[5] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(6) - C(8) - C(9) + C(13) + 3 * C(14) + 2 * C(15);
  t[6] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(7) + C(8) - C(10) - C(11) - C(12) - C(13) + 3 * C(15);
  t[7] = static_cast<LvWord>(acc);
  acc >>= 32;
  longvZeroize(t + 8, 8);
  return correctSigned(t, longvPrimeP256, 8, acc);
}

LvWord longvRedP384(LvWord* t) {
  int64_t acc = 0;
  acc += C(0) + C(12) + C(20) + C(21) - C(23);
  t[0] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(1) - C(12) + C(13) - C(20) + C(22) + C(23);
  t[1] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(2) - C(13) + C(14) - C(21) + C(23);
  t[2] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(3) + C(12) - C(14) + C(15) + C(20) + C(21) - C(22) - C(23);
  t[3] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(4) + C(12) + C(13) - C(15) + C(16) + C(20) + 2 * C(21) + C(22) - 2 * C(23);
  t[4] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(5) + C(13) + C(14) - C(16) + C(17) + C(21) + 2 * C(22) + C(23);
  t[5] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(6) + C(14) + C(15) - C(17) + C(18) + C(22) + 2 * C(23);
  t[6] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(7) + C(15) + C(16) - C(18) + C(19) + C(23);
  t[7] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(8) + C(16) + C(17) - C(19) + C(20);
  t[8] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(9) + C(17) + C(18) - C(20) + C(21);
  t[9] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(10) + C(18) + C(19) - C(21) + C(22);
  t[10] = static_cast<LvWord>(acc);
  acc >>= 32;
  acc += C(11) + C(19) + C(20) - C(22) + C(23);
  t[11] = static_cast<LvWord>(acc);
  acc >>= 32;
  longvZeroize(t + 12, 12);
  return correctSigned(t, longvPrimeP384, 12, acc);
}

LvWord longvRedP521(LvWord* t) {
  // 2^521 = 1 (mod p): T = (T mod 2^521) + (T >> 521).
  LvWord h[17];
  for (LvWordLen i = 0; i < 17; ++i) h[i] = (t[16 + i] >> 9) | (t[17 + i] << 23);
  t[16] &= 0x1FFu;
  longvAdd(t, h, 17, 0);
  LvWord br = 0;
  for (int guard = 0; guard < 4 && longvCmp(t, longvPrimeP521, 17) >= 0; ++guard)
    br = longvSub(t, longvPrimeP521, 17, 0);
  lvWipe(h, sizeof h);
  return br;
}

LvWord longvRedP544(LvWord* t) {
  // 2^544 = 2^32 - 1 (mod p).
  LvWord* L = t;
  const LvWord* H = t + 17;
  int64_t c = addAt(L, 17, 0, H, 17, true);
  c += addAt(L, 17, 1, H, 16, false);
  c += addAt(L, 17, 0, H + 16, 1, true);
  c += addAt(L, 17, 1, H + 16, 1, false);
  for (int guard = 0; c != 0 && guard < 64; ++guard) {
    if (c > 0) c -= longvSub(L, longvPrimeP544, 17, 0);
    else c += longvAdd(L, longvPrimeP544, 17, 0);
  }
  if (longvCmp(L, longvPrimeP544, 17) >= 0) return longvSub(L, longvPrimeP544, 17, 0);
  return 0;
}

LvWord longvRedP1088(LvWord* t) {
  // 2^1088 = 2^416 - 2^256 - 1 (mod p); 2^416 and 2^256 are word offsets 13 and 8.
  LvWord* L = t;
  const LvWord* H = t + 34;
  int64_t c = addAt(L, 34, 0, H, 34, true);
  c += addAt(L, 34, 13, H, 21, false);
  c += addAt(L, 34, 0, H + 21, 13, true);
  c += addAt(L, 34, 8, H + 21, 13, true);
  c += addAt(L, 34, 13, H + 21, 13, false);
  c += addAt(L, 34, 8, H, 26, true);
  c += addAt(L, 34, 0, H + 26, 8, false);
  c += addAt(L, 34, 8, H + 26, 8, false);
  c += addAt(L, 34, 13, H + 26, 8, true);
  for (int guard = 0; c != 0 && guard < 64; ++guard) {
    if (c > 0) c -= longvSub(L, longvPrimeP1088, 34, 0);
    else c += longvAdd(L, longvPrimeP1088, 34, 0);
  }
  if (longvCmp(L, longvPrimeP1088, 34) >= 0) return longvSub(L, longvPrimeP1088, 34, 0);
  return 0;
}

#define LONGV_SPECIAL_PAIR(B, K)                                          \
  LvWord longvMulP##B(LvWord* t, const LvWord* a, const LvWord* b) {      \
    longvMul##K(t, a, b);                                                 \
    return longvRedP##B(t);                                               \
  }                                                                       \
  LvWord longvSqrP##B(LvWord* t, const LvWord* a) {                       \
    longvSqr##K(t, a);                                                    \
    return longvRedP##B(t);                                               \
  }
LONGV_SPECIAL_PAIR(160, 5)
LONGV_SPECIAL_PAIR(192, 6)
LONGV_SPECIAL_PAIR(224, 7)
LONGV_SPECIAL_PAIR(256, 8)
LONGV_SPECIAL_PAIR(384, 12)
LONGV_SPECIAL_PAIR(544, 17)
LONGV_SPECIAL_PAIR(1088, 34)

LONGV_SPECIAL_PAIR(521, 17)

unsigned int longvSpecialPrime(const LvWord* n, LvWordLen k, LvSpecMulFn* mul, LvSpecSqrFn* sqr,
                               LvSpecRedFn* red) {
  struct Entry {
    unsigned int bits;
    LvWordLen k;
    const LvWord* p;
    LvSpecMulFn mul;
    LvSpecSqrFn sqr;
    LvSpecRedFn red;
  };
  static const Entry table[] = {
      {160, 5, longvPrimeP160, longvMulP160, longvSqrP160, longvRedP160},
      {192, 6, longvPrimeP192, longvMulP192, longvSqrP192, longvRedP192},
      {224, 7, longvPrimeP224, longvMulP224, longvSqrP224, longvRedP224},
      {256, 8, longvPrimeP256, longvMulP256, longvSqrP256, longvRedP256},
      {384, 12, longvPrimeP384, longvMulP384, longvSqrP384, longvRedP384},
      {521, 17, longvPrimeP521, longvMulP521, longvSqrP521, longvRedP521},
      {544, 17, longvPrimeP544, longvMulP544, longvSqrP544, longvRedP544},
      {1088, 34, longvPrimeP1088, longvMulP1088, longvSqrP1088, longvRedP1088},
  };
  if (n == nullptr) return 0;
  for (const Entry& e : table) {
    if (e.k != k || longvCmp(n, e.p, k) != 0) continue;
    if (mul) *mul = e.mul;
    if (sqr) *sqr = e.sqr;
    if (red) *red = e.red;
    return e.bits;
  }
  return 0;
}
