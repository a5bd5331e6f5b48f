// Montgomery multiplication kernels: the generic and extended groups, the plain square and the
// kernels unrolled per operand size.
//
// The interfaces are 32-bit words; inside, pairs of words are handled as 64-bit limbs with
// 128-bit intermediates wherever the word count allows it, since that quarters the number of
// multiplications. Odd word counts have a half top limb (products) or use the word-wise
// reduction, because R = 2^(32k) is then no power of 2^64.
#include <cstring>
#include <vector>
#if defined(__x86_64__) && defined(__GNUC__)
#include "crypto/algebra/lvmont8mulx.h"
#include "crypto/basic/lvcpu.h"
#endif

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/algebra/longvrows.h"
#include "crypto/basic/lvsecret.h"

#define LV_INLINE inline __attribute__((always_inline))

bool longvRowAsmAllowed = true;

namespace {

// n^-1 mod 2^64 from n0 = -n^-1 mod 2^32 by one Newton step, negated.
LV_INLINE uint64_t n0To64(LvWord n0, uint64_t nLow) {
  uint64_t inv = static_cast<LvWord>(0u - n0);
  inv *= 2 - nLow * inv;
  return 0 - inv;
}

// Limb i of a K-word vector; an odd K has a top limb of one word.
LV_INLINE uint64_t limbOf(const LvWord* a, int i, int K) {
  return (2 * i + 1 < K) ? longvLoad64(a + 2 * i) : static_cast<uint64_t>(a[2 * i]);
}
LV_INLINE uint64_t rLoad(const LvWord* r, int i) { return longvLoad64(r + 2 * i); }
LV_INLINE void rStore(LvWord* r, int i, uint64_t v) { longvStore64(r + 2 * i, v); }

// r (2K words) = a^2: cross products, one-bit doubling, diagonal squares.
LV_INLINE void sqrCore(LvWord* __restrict r, const LvWord* __restrict a, int K) {
  const int L = (K + 1) / 2;
  const bool odd = (K & 1) != 0;
  const int top = odd ? 2 * L - 1 : 2 * L;  // limbs held in r
  rStore(r, 0, 0);
  if (L == 1) {
    if (!odd) rStore(r, 1, 0);
  } else {
    const uint64_t a0 = limbOf(a, 0, K);
    LvDWord64 c = 0;
#pragma GCC unroll 32
    for (int j = 1; j < L; ++j) {
      c += static_cast<LvDWord64>(limbOf(a, j, K)) * a0;
      rStore(r, j, static_cast<uint64_t>(c));
      c >>= 64;
    }
    rStore(r, L, static_cast<uint64_t>(c));
    for (int i = 1; i < L - 1; ++i) {
      const uint64_t ai = limbOf(a, i, K);
      c = 0;
#pragma GCC unroll 32
      for (int j = i + 1; j < L; ++j) {
        c += static_cast<LvDWord64>(limbOf(a, j, K)) * ai + rLoad(r, i + j);
        rStore(r, i + j, static_cast<uint64_t>(c));
        c >>= 64;
      }
      rStore(r, i + L, static_cast<uint64_t>(c));
    }
    if (!odd) rStore(r, 2 * L - 1, 0);
    // Double the cross products.
    for (int i = top - 1; i > 0; --i) rStore(r, i, (rLoad(r, i) << 1) | (rLoad(r, i - 1) >> 63));
    rStore(r, 0, rLoad(r, 0) << 1);
  }
  uint64_t carry = 0;
#pragma GCC unroll 32
  for (int i = 0; i < L; ++i) {
    const uint64_t ai = limbOf(a, i, K);
    LvDWord64 p = static_cast<LvDWord64>(ai) * ai;
    LvDWord64 s = static_cast<LvDWord64>(rLoad(r, 2 * i)) + static_cast<uint64_t>(p) + carry;
    rStore(r, 2 * i, static_cast<uint64_t>(s));
    if (2 * i + 1 < top) {
      s = (s >> 64) + rLoad(r, 2 * i + 1) + static_cast<uint64_t>(p >> 64);
      rStore(r, 2 * i + 1, static_cast<uint64_t>(s));
      carry = static_cast<uint64_t>(s >> 64);
    }
  }
}

// A 192-bit column accumulator (acc, ov): add a product; emit the column's low limb and move
// the rest down one limb.
LV_INLINE void colAdd(LvDWord64& acc, uint64_t& ov, LvDWord64 p) {
  acc += p;
  ov += (acc < p);
}
LV_INLINE void colOut(LvWord* r, int k, LvDWord64& acc, uint64_t& ov) {
  rStore(r, k, static_cast<uint64_t>(acc));
  acc = (acc >> 64) | (static_cast<LvDWord64>(ov) << 64);
  ov = 0;
}

// Fixed sizes: product scanning (one column at a time in a 192-bit accumulator) keeps the
// operands and the sums in registers; r receives 2K words.
template <int K>
LV_INLINE void combaMul(LvWord* __restrict r, const LvWord* __restrict a,
                        const LvWord* __restrict b) {
  constexpr int L = (K + 1) / 2;
  constexpr bool odd = (K & 1) != 0;
  uint64_t x[L], y[L];
#pragma GCC unroll 32
  for (int i = 0; i < L; ++i) {
    x[i] = limbOf(a, i, K);
    y[i] = limbOf(b, i, K);
  }
  LvDWord64 acc = 0;
  uint64_t ov = 0;
#pragma GCC unroll 64
  for (int k = 0; k < 2 * L - 1; ++k) {
#pragma GCC unroll 32
    for (int i = (k - L + 1 > 0 ? k - L + 1 : 0); i <= (k < L - 1 ? k : L - 1); ++i)
      colAdd(acc, ov, static_cast<LvDWord64>(x[i]) * y[k - i]);
    colOut(r, k, acc, ov);
  }
  if (!odd) rStore(r, 2 * L - 1, static_cast<uint64_t>(acc));
  longvWipeLocal(x, sizeof x);
  longvWipeLocal(y, sizeof y);
}

template <int K>
LV_INLINE void combaSqr(LvWord* __restrict r, const LvWord* __restrict a) {
  constexpr int L = (K + 1) / 2;
  constexpr bool odd = (K & 1) != 0;
  uint64_t x[L];
#pragma GCC unroll 32
  for (int i = 0; i < L; ++i) x[i] = limbOf(a, i, K);
  LvDWord64 acc = 0;
  uint64_t ov = 0;
#pragma GCC unroll 64
  for (int k = 0; k < 2 * L - 1; ++k) {
    LvDWord64 cross = 0;
    uint64_t cov = 0;
#pragma GCC unroll 32
    for (int i = (k - L + 1 > 0 ? k - L + 1 : 0); 2 * i < k; ++i)
      colAdd(cross, cov, static_cast<LvDWord64>(x[i]) * x[k - i]);
    cov = (cov << 1) | static_cast<uint64_t>(cross >> 127);
    cross <<= 1;
    acc += cross;
    ov += cov + (acc < cross);
    if ((k & 1) == 0) colAdd(acc, ov, static_cast<LvDWord64>(x[k / 2]) * x[k / 2]);
    colOut(r, k, acc, ov);
  }
  if (!odd) rStore(r, 2 * L - 1, static_cast<uint64_t>(acc));
  longvWipeLocal(x, sizeof x);
}

// 1 when the top carry c2 is zero (the source may then be kept), else 0; no branch, since the
// values are secret wherever the exponent or the modulus is.
LV_INLINE uint64_t keepSource(uint64_t c2) { return ((c2 | (0 - c2)) >> 63) ^ 1; }

// Final step of every reduction (masked, the same work whatever the values): out (K words) = src + c2*2^(32K) - n when that is not
// negative, else src. out and src do not overlap. Returns the borrow of the subtraction.
LV_INLINE LvWord finalSub(LvWord* __restrict out, const LvWord* __restrict src,
                          const LvWord* __restrict n, uint64_t c2, int K) {
  if ((K & 1) == 0) {
    // By 64-bit limbs, and a masked select instead of a second pass.
    const int L = K / 2;
    uint64_t b64 = 0;
    for (int j = 0; j < L; ++j) {
      const uint64_t x = rLoad(src, j), y = rLoad(n, j);
      const uint64_t d = x - y - b64;
      b64 = (x < y) | ((x == y) & b64);
      rStore(out, j, d);
    }
    const uint64_t keep = 0 - (keepSource(c2) & b64);
    for (int j = 0; j < L; ++j)
      rStore(out, j, (rLoad(src, j) & keep) | (rLoad(out, j) & ~keep));
    return static_cast<LvWord>(b64);
  }
  uint64_t br = 0;
#pragma GCC unroll 32
  for (int j = 0; j < K; ++j) {
    uint64_t d = static_cast<uint64_t>(src[j]) - n[j] - br;
    out[j] = static_cast<LvWord>(d);
    br = (d >> 32) & 1;
  }
  const LvWord keep = static_cast<LvWord>(0 - (keepSource(c2) & br));
#pragma GCC unroll 32
  for (int j = 0; j < K; ++j) out[j] = (src[j] & keep) | (out[j] & ~keep);
  return static_cast<LvWord>(br);
}

// Montgomery reduction of t (2K words, K even) by 64-bit limbs. Result t[K..2K-1] with the
// returned top carry. sparse: only limbs 0 and L-1 of n are nonzero.
LV_INLINE uint64_t redcCore64(LvWord* __restrict t, const LvWord* __restrict n, uint64_t n0,
                              int K, bool sparse) {
  const int L = K / 2;
  uint64_t c2 = 0;
  for (int i = 0; i < L; ++i) {
    const uint64_t m = rLoad(t, i) * n0;
    LvDWord64 c;
    if (sparse && L >= 2) {
      c = static_cast<LvDWord64>(m) * rLoad(n, 0) + rLoad(t, i);
      c >>= 64;
#pragma GCC unroll 32
      for (int j = 1; j < L - 1; ++j) {
        c += rLoad(t, i + j);
        rStore(t, i + j, static_cast<uint64_t>(c));
        c >>= 64;
      }
      c += static_cast<LvDWord64>(m) * rLoad(n, L - 1) + rLoad(t, i + L - 1);
      rStore(t, i + L - 1, static_cast<uint64_t>(c));
      c >>= 64;
    } else {
      c = 0;
#pragma GCC unroll 32
      for (int j = 0; j < L; ++j) {
        c += static_cast<LvDWord64>(m) * rLoad(n, j) + rLoad(t, i + j);
        rStore(t, i + j, static_cast<uint64_t>(c));
        c >>= 64;
      }
    }
    c += static_cast<LvDWord64>(rLoad(t, i + L)) + c2;
    rStore(t, i + L, static_cast<uint64_t>(c));
    c2 = static_cast<uint64_t>(c >> 64);
  }
  return c2;
}

// The same by 32-bit words (odd K, and the reduction as the algorithm states it).
LV_INLINE uint64_t redcCore32(LvWord* __restrict t, const LvWord* __restrict n, LvWord n0,
                              int K, bool sparse) {
  uint64_t c2 = 0;
  for (int i = 0; i < K; ++i) {
    const LvWord m = t[i] * n0;
    uint64_t c;
    if (sparse && K >= 2) {
      c = (static_cast<uint64_t>(m) * n[0] + t[i]) >> 32;
#pragma GCC unroll 32
      for (int j = 1; j < K - 1; ++j) {
        c += t[i + j];
        t[i + j] = static_cast<LvWord>(c);
        c >>= 32;
      }
      c += static_cast<uint64_t>(m) * n[K - 1] + t[i + K - 1];
      t[i + K - 1] = static_cast<LvWord>(c);
      c >>= 32;
    } else {
      c = 0;
#pragma GCC unroll 32
      for (int j = 0; j < K; ++j) {
        c += static_cast<uint64_t>(m) * n[j] + t[i + j];
        t[i + j] = static_cast<LvWord>(c);
        c >>= 32;
      }
    }
    c += static_cast<uint64_t>(t[i + K]) + c2;
    t[i + K] = static_cast<LvWord>(c);
    c2 = c >> 32;
  }
  return c2;
}

LV_INLINE uint64_t redcCore(LvWord* t, const LvWord* n, LvWord n0, int K, bool sparse) {
  if ((K & 1) == 0) return redcCore64(t, n, n0To64(n0, longvLoad64(n)), K, sparse);
  return redcCore32(t, n, n0, K, sparse);
}

// Full reduction into t[0..K-1].
LV_INLINE LvWord redcFull(LvWord* t, const LvWord* n, LvWord n0, int K, bool sparse) {
  uint64_t c2 = redcCore(t, n, n0, K, sparse);
  return finalSub(t, t + K, n, c2, K);
}

// Interleaved Montgomery product by 64-bit limbs (K even) using only t[0..K-1].
LV_INLINE uint64_t ciosCore64(LvWord* __restrict t, const LvWord* __restrict a,
                              const LvWord* __restrict b, const LvWord* __restrict n,
                              uint64_t n0, int K) {
  const int L = K / 2;
  for (int j = 0; j < L; ++j) rStore(t, j, 0);
  uint64_t tl = 0;
  for (int i = 0; i < L; ++i) {
    const uint64_t ai = rLoad(a, i);
    LvDWord64 c = 0;
#pragma GCC unroll 32
    for (int j = 0; j < L; ++j) {
      c += static_cast<LvDWord64>(ai) * rLoad(b, j) + rLoad(t, j);
      rStore(t, j, static_cast<uint64_t>(c));
      c >>= 64;
    }
    c += tl;
    tl = static_cast<uint64_t>(c);
    const uint64_t tl1 = static_cast<uint64_t>(c >> 64);
    const uint64_t m = rLoad(t, 0) * n0;
    c = static_cast<LvDWord64>(m) * rLoad(n, 0) + rLoad(t, 0);
    c >>= 64;
#pragma GCC unroll 32
    for (int j = 1; j < L; ++j) {
      c += static_cast<LvDWord64>(m) * rLoad(n, j) + rLoad(t, j);
      rStore(t, j - 1, static_cast<uint64_t>(c));
      c >>= 64;
    }
    c += tl;
    rStore(t, L - 1, static_cast<uint64_t>(c));
    tl = tl1 + static_cast<uint64_t>(c >> 64);
  }
  return tl;
}

// The interleaved product by 32-bit words, as the algorithm states it; b null stands for 1.
uint64_t ciosCore32(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n, LvWord n0,
                    LvWordLen k) {
  for (LvWordLen j = 0; j < k; ++j) t[j] = 0;
  uint64_t top = 0;
  for (LvWordLen i = 0; i < k; ++i) {
    const uint64_t ai = a[i];
    uint64_t c1 = (b ? ai * b[0] : ai) + t[0];
    const LvWord t0 = static_cast<LvWord>(c1);
    c1 >>= 32;
    const LvWord m = t0 * n0;
    uint64_t c2 = (static_cast<uint64_t>(n[0]) * m + t0) >> 32;
    for (LvWordLen j = 1; j < k; ++j) {
      c1 += (b ? ai * b[j] : 0) + t[j];
      const LvWord s = static_cast<LvWord>(c1);
      c1 >>= 32;
      c2 += static_cast<uint64_t>(n[j]) * m + s;
      t[j - 1] = static_cast<LvWord>(c2);
      c2 >>= 32;
    }
    const uint64_t s = c1 + c2 + top;
    t[k - 1] = static_cast<LvWord>(s);
    top = s >> 32;
  }
  return top;
}

// In-place final subtraction for the k-word kernels, masked.
LvWord finalSubInPlace(LvWord* t, const LvWord* n, uint64_t c, LvWordLen k) {
  return longvCtCondSub(t, static_cast<LvWord>(c != 0), n, k);
}

// The size's product into t (2K words), then its reduction.
template <int KC>
LV_INLINE LvWord montMulFixed(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n,
                              LvWord n0, bool sparse) {
  combaMul<KC>(t, a, b);
  return redcFull(t, n, n0, KC, sparse);
}
template <int KC>
LV_INLINE LvWord montSqrFixed(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0,
                              bool sparse) {
  combaSqr<KC>(t, a);
  return redcFull(t, n, n0, KC, sparse);
}

// ---- Row kernels for the generic group on large moduli: t[0..n) += a * b[0..n) by limbs.
// On processors with the ADX and BMI2 extensions the rows run as two interleaved carry chains
// (mulx, adcx, adox), which roughly halves the time of a 2048-bit Montgomery product.

#if defined(__x86_64__) && defined(__GNUC__)
#define LONGV_ROW_ASM 1
bool haveAdx() {
  // Asked once: the answer never changes, and the 512-bit kernels ask on every product.
  static const bool adx = lvcpu::hasBmi2Adx();
  return adx && longvRowAsmAllowed;
}

// n4 groups of four limbs, then nt single limbs; returns the carry limb.
inline uint64_t addmulAdx(LvWord* t, const LvWord* b, uint64_t n4, uint64_t nt, uint64_t a,
                          uint64_t cin) {
  uint64_t lo, hi;
  asm volatile(
      "test %[c], %[c]\n\t"
      "jrcxz 2f\n"
      "1:\n\t"
      "mulx (%[b]), %[lo], %[hi]\n\t"
      "adcx %[c], %[lo]\n\t"
      "adox (%[t]), %[lo]\n\t"
      "mov %[lo], (%[t])\n\t"
      "mulx 8(%[b]), %[lo], %[c]\n\t"
      "adcx %[hi], %[lo]\n\t"
      "adox 8(%[t]), %[lo]\n\t"
      "mov %[lo], 8(%[t])\n\t"
      "mulx 16(%[b]), %[lo], %[hi]\n\t"
      "adcx %[c], %[lo]\n\t"
      "adox 16(%[t]), %[lo]\n\t"
      "mov %[lo], 16(%[t])\n\t"
      "mulx 24(%[b]), %[lo], %[c]\n\t"
      "adcx %[hi], %[lo]\n\t"
      "adox 24(%[t]), %[lo]\n\t"
      "mov %[lo], 24(%[t])\n\t"
      "lea 32(%[b]), %[b]\n\t"
      "lea 32(%[t]), %[t]\n\t"
      "lea -1(%[n]), %[n]\n\t"
      "jrcxz 2f\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "mov %[nt], %[n]\n\t"
      "jrcxz 4f\n"
      "3:\n\t"
      "mulx (%[b]), %[lo], %[hi]\n\t"
      "adcx %[c], %[lo]\n\t"
      "adox (%[t]), %[lo]\n\t"
      "mov %[lo], (%[t])\n\t"
      "mov %[hi], %[c]\n\t"
      "lea 8(%[b]), %[b]\n\t"
      "lea 8(%[t]), %[t]\n\t"
      "lea -1(%[n]), %[n]\n\t"
      "jrcxz 4f\n\t"
      "jmp 3b\n"
      "4:\n\t"
      "mov $0, %[lo]\n\t"
      "adcx %[lo], %[c]\n\t"
      "adox %[lo], %[c]\n\t"
      : [t] "+r"(t), [b] "+r"(b), [n] "+c"(n4), [c] "+r"(cin), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : "d"(a), [nt] "r"(nt)
      : "cc", "memory");
  return cin;
}
#else
bool haveAdx() { return false; }
#endif


// t[0..n) += a * b[0..n) (limbs), returns the carry limb.
inline uint64_t addmulRow(LvWord* t, const LvWord* b, int n, uint64_t a, bool adx) {
  LvDWord64 c = 0;
  int j = 0;
#ifdef LONGV_ROW_ASM
  if (adx && n > 0)
    return addmulAdx(t, b, static_cast<uint64_t>(n / 4), static_cast<uint64_t>(n % 4), a, 0);
#else
  (void)adx;
#endif
  for (; j < n; ++j) {
    c += static_cast<LvDWord64>(a) * rLoad(b, j) + rLoad(t, j);
    rStore(t, j, static_cast<uint64_t>(c));
    c >>= 64;
  }
  return static_cast<uint64_t>(c);
}

// Row-wise reduction of t (2L limbs); result t[L..2L) with the returned top carry.
uint64_t redcRows(LvWord* t, const LvWord* n, uint64_t n0, int L, bool adx) {
  uint64_t c2 = 0;
  for (int i = 0; i < L; ++i) {
    const uint64_t m = rLoad(t, i) * n0;
    LvDWord64 c = addmulRow(t + 2 * i, n, L, m, adx);
    c += static_cast<LvDWord64>(rLoad(t, i + L)) + c2;
    rStore(t, i + L, static_cast<uint64_t>(c));
    c2 = static_cast<uint64_t>(c >> 64);
  }
  return c2;
}

// Row-wise product t (la + lb limbs) = a (la limbs) * b (lb limbs).
void mulRows(LvWord* t, const LvWord* a, int la, const LvWord* b, int lb, bool adx) {
  for (int j = 0; j < lb; ++j) rStore(t, j, 0);
  for (int i = 0; i < la; ++i) rStore(t, i + lb, addmulRow(t + 2 * i, b, lb, rLoad(a, i), adx));
}

// Row-wise square t (2L limbs) = a^2: cross products by rows, doubling, diagonal squares.
void sqrRows(LvWord* t, const LvWord* a, int L, bool adx) {
  for (int j = 0; j < 2 * L; ++j) rStore(t, j, 0);
  for (int i = 0; i + 1 < L; ++i)
    rStore(t, i + L, addmulRow(t + 2 * (2 * i + 1), a + 2 * (i + 1), L - i - 1, rLoad(a, i), adx));
  uint64_t top = 0;
  for (int j = 0; j < 2 * L; ++j) {
    const uint64_t v = rLoad(t, j);
    rStore(t, j, (v << 1) | top);
    top = v >> 63;
  }
  uint64_t carry = 0;
  for (int i = 0; i < L; ++i) {
    const uint64_t ai = rLoad(a, i);
    const LvDWord64 p = static_cast<LvDWord64>(ai) * ai;
    LvDWord64 s = static_cast<LvDWord64>(rLoad(t, 2 * i)) + static_cast<uint64_t>(p) + carry;
    rStore(t, 2 * i, static_cast<uint64_t>(s));
    s = (s >> 64) + rLoad(t, 2 * i + 1) + static_cast<uint64_t>(p >> 64);
    rStore(t, 2 * i + 1, static_cast<uint64_t>(s));
    carry = static_cast<uint64_t>(s >> 64);
  }
}

#ifdef LONGV_FIXED_ROWS
// The same three row kernels for a row length L known at compile time (the RSA half sizes),
// built from the straight-line rows.
template <int L, int I = 0>
LV_INLINE void sqrCrossFixed(LvWord* t, const LvWord* a) {
  if constexpr (I + 1 < L) {
    rStore(t, I + L,
           longvAddmulFixed<L - I - 1>(t + 2 * (2 * I + 1), a + 2 * (I + 1), rLoad(a, I)));
    sqrCrossFixed<L, I + 1>(t, a);
  }
}

template <int L>
void sqrRowsFixed(LvWord* t, const LvWord* a) {
  for (int j = 0; j < 2 * L; ++j) rStore(t, j, 0);
  sqrCrossFixed<L>(t, a);
  // Doubling of the cross products and the diagonal squares in one pass over limb pairs.
  uint64_t top = 0, carry = 0;
#pragma GCC unroll 32
  for (int i = 0; i < L; ++i) {
    const uint64_t lo = rLoad(t, 2 * i), hi = rLoad(t, 2 * i + 1);
    const uint64_t dlo = (lo << 1) | top, dhi = (hi << 1) | (lo >> 63);
    top = hi >> 63;
    const uint64_t ai = rLoad(a, i);
    const LvDWord64 p = static_cast<LvDWord64>(ai) * ai;
    LvDWord64 s = static_cast<LvDWord64>(dlo) + static_cast<uint64_t>(p) + carry;
    rStore(t, 2 * i, static_cast<uint64_t>(s));
    s = (s >> 64) + dhi + static_cast<uint64_t>(p >> 64);
    rStore(t, 2 * i + 1, static_cast<uint64_t>(s));
    carry = static_cast<uint64_t>(s >> 64);
  }
}

template <int L>
uint64_t redcRowsFixed(LvWord* t, const LvWord* n, uint64_t n0) {
  uint64_t c2 = 0;
  for (int i = 0; i < L; ++i) {
    const uint64_t m = rLoad(t, i) * n0;
    LvDWord64 c = longvAddmulFixed<L>(t + 2 * i, n, m);
    c += static_cast<LvDWord64>(rLoad(t, i + L)) + c2;
    rStore(t, i + L, static_cast<uint64_t>(c));
    c2 = static_cast<uint64_t>(c >> 64);
  }
  return c2;
}

template <int L>
void mulRowsFixed(LvWord* t, const LvWord* a, const LvWord* b) {
  for (int j = 0; j < L; ++j) rStore(t, j, 0);
  for (int i = 0; i < L; ++i) rStore(t, i + L, longvAddmulFixed<L>(t + 2 * i, b, rLoad(a, i)));
}

// Word counts with straight-line rows.
inline bool fixedRows(LvWordLen k) { return (k == 32 || k == 48 || k == 64) && haveAdx(); }

void sqrRowsAny(LvWord* t, const LvWord* a, LvWordLen k) {
  switch (k) {
    case 32: return sqrRowsFixed<16>(t, a);
    case 48: return sqrRowsFixed<24>(t, a);
    default: return sqrRowsFixed<32>(t, a);
  }
}
uint64_t redcRowsAny(LvWord* t, const LvWord* n, uint64_t n0, LvWordLen k) {
  switch (k) {
    case 32: return redcRowsFixed<16>(t, n, n0);
    case 48: return redcRowsFixed<24>(t, n, n0);
    default: return redcRowsFixed<32>(t, n, n0);
  }
}
void mulRowsAny(LvWord* t, const LvWord* a, const LvWord* b, LvWordLen k) {
  switch (k) {
    case 32: return mulRowsFixed<16>(t, a, b);
    case 48: return mulRowsFixed<24>(t, a, b);
    default: return mulRowsFixed<32>(t, a, b);
  }
}
#else
inline bool fixedRows(LvWordLen) { return false; }
void sqrRowsAny(LvWord*, const LvWord*, LvWordLen) {}
uint64_t redcRowsAny(LvWord*, const LvWord*, uint64_t, LvWordLen) { return 0; }
void mulRowsAny(LvWord*, const LvWord*, const LvWord*, LvWordLen) {}
#endif

// Word counts from which the generic kernels work by rows (and up to which the product of the
// multiply fits the local block).
const LvWordLen kRowMinWords = 8;
const LvWordLen kRowMaxWords = 256;

inline bool byRows(LvWordLen k) { return (k & 1) == 0 && k >= kRowMinWords; }

// ---- Powers of the radix for a public modulus: y := y * 2^s mod N by 64-bit limbs, the
// quotient limb estimated from the two top limbs with a reciprocal of N's top limb (made by
// Newton steps, then checked exactly), so neither a division instruction nor a long division
// runs. Variable time: only public moduli come here.

// floor((2^128 - 1) / d) - 2^64 for d >= 2^63.
uint64_t reciprocalLimb(uint64_t d) {
  const long double D = static_cast<long double>(d) * 0x1p-64L;  // in [1/2, 1)
  long double x = 48.0L / 17.0L - 32.0L / 17.0L * D;               // 1/D within 1/17
  for (int i = 0; i < 6; ++i) x = x * (2.0L - D * x);
  const long double f = (x - 1.0L) * 0x1p64L;
  uint64_t v = f <= 0.0L ? 0 : f >= 0x1p64L - 1.0L ? ~uint64_t{0} : static_cast<uint64_t>(f);
  // P = d (2^64 + v) as (c:hi:lo); v is right when P < 2^128 <= P + d.
  for (;;) {
    const LvDWord64 dv = static_cast<LvDWord64>(d) * v;
    const LvDWord64 hi = static_cast<LvDWord64>(d) + static_cast<uint64_t>(dv >> 64);
    const bool over = (hi >> 64) != 0;
    const LvDWord64 p = (hi << 64) | static_cast<uint64_t>(dv);
    if (over) {
      --v;
    } else if (p + d >= p) {  // P + d < 2^128: v is short
      ++v;
    } else {
      return v;
    }
  }
}

// floor((u1:u0) / d) for u1 < d, d >= 2^63 and v its reciprocal (Moeller and Granlund); the
// remainder into rem.
LV_INLINE uint64_t quotientLimb(uint64_t u1, uint64_t u0, uint64_t d, uint64_t v,
                                uint64_t& rem) {
  LvDWord64 q = static_cast<LvDWord64>(v) * u1 + ((static_cast<LvDWord64>(u1) << 64) | u0);
  uint64_t q1 = static_cast<uint64_t>(q >> 64) + 1;
  const uint64_t q0 = static_cast<uint64_t>(q);
  uint64_t r = u0 - q1 * d;
  if (r > q0) {
    --q1;
    r += d;
  }
  if (r >= d) {
    ++q1;
    r -= d;
  }
  rem = r;
  return q1;
}

class RadixReducer {
 public:
  // n: k words, odd, top word nonzero, above 1.
  // room: limb shifts expected, each of which moves the value's window down one limb instead
  // of moving the value.
  RadixReducer(const LvWord* n, LvWordLen k, unsigned int room)
      : L(static_cast<int>((k + 1) / 2)), room(room) {
    const size_t words = 2 * (3 * static_cast<size_t>(L) + 1 + room);
    if (words <= sizeof local / sizeof local[0]) {
      std::memset(local, 0, words * sizeof(LvWord));
      N = local;
    } else {
      buf.assign(words, 0);
      N = buf.data();
    }
    Nneg = N + 2 * L;
    low = Nneg + 2 * L;
    z = low + 2 * room;
    longvCopy(N, n, k);
    sh = static_cast<unsigned int>(__builtin_clzll(rLoad(N, L - 1)));
    if (sh != 0) {
      for (int i = L - 1; i > 0; --i)
        rStore(N, i, (rLoad(N, i) << sh) | (rLoad(N, i - 1) >> (64 - sh)));
      rStore(N, 0, rLoad(N, 0) << sh);
    }
    uint64_t b = 1;  // Nneg = 2^(64L) - N
    for (int i = 0; i < L; ++i) {
      const uint64_t x = ~rLoad(N, i) + b;
      b = b & (x == 0);
      rStore(Nneg, i, x);
    }
    d = rLoad(N, L - 1);
    v = reciprocalLimb(d);
    adx = haveAdx();
  }

  // y := 2^(e + sh) mod N for the first power's exponent e, 64(L - 1) < e + sh + 64; then
  // advance() moves to further exponents.
  void start(unsigned int e) {
    const unsigned int t = e + sh, b = 64 * static_cast<unsigned int>(L - 1) + t % 64;
    for (int i = 0; i < L; ++i) rStore(y(), i, 0);
    const unsigned int top = b < t ? b : t;
    y()[top / 32] = 1u << (top % 32);
    advance(t - top);
  }

  // y := x 2^sh for x below n (k words).
  void load(const LvWord* x, LvWordLen k) {
    for (int i = 0; i < L; ++i) rStore(y(), i, 0);
    longvCopy(y(), x, k);
    if (sh != 0) {
      for (int i = L - 1; i > 0; --i)
        rStore(z, i, (rLoad(z, i) << sh) | (rLoad(z, i - 1) >> (64 - sh)));
      rStore(z, 0, rLoad(z, 0) << sh);
    }
  }

  // y := y 2^bits mod N.
  void advance(unsigned int bits) {
    for (; bits >= 64; bits -= 64) {
      if (z == low) {
        std::memmove(low + 2 * room, z, 8 * static_cast<size_t>(L));
        z = low + 2 * room;
        rStore(z, L, 0);
      }
      z -= 2;
      rStore(z, 0, 0);
      reduceTop();
    }
    if (bits == 0) return;
    uint64_t carry = 0;
    for (int i = 0; i < L; ++i) {
      const uint64_t x = rLoad(z, i);
      rStore(z, i, (x << bits) | carry);
      carry = x >> (64 - bits);
    }
    rStore(z, L, carry);
    reduceTop();
  }

  // The current value divided by 2^sh (exact) into out (w >= k words, zero above).
  void take(LvWord* out, LvWordLen w) const {
    for (LvWordLen i = 0; i < w; ++i) out[i] = 0;
    for (int i = 0; i < L; ++i) {
      const uint64_t lo = rLoad(z, i) >> sh;
      const uint64_t hi = (sh != 0 && i + 1 < L) ? rLoad(z, i + 1) << (64 - sh) : 0;
      const uint64_t x = lo | hi;
      if (static_cast<LvWordLen>(2 * i) < w) out[2 * i] = static_cast<LvWord>(x);
      if (static_cast<LvWordLen>(2 * i + 1) < w) out[2 * i + 1] = static_cast<LvWord>(x >> 32);
    }
  }

 private:
  LvWord* y() { return z; }

  // z (L + 1 limbs, below N 2^64) := z mod N.
  void reduceTop() {
    const uint64_t u1 = rLoad(z, L), u0 = rLoad(z, L - 1);
    uint64_t q = ~uint64_t{0}, r = 0;
    if (u1 < d) {
      q = quotientLimb(u1, u0, d, v, r);
      // The next limbs of N and z take q down to the true quotient limb but rarely (Knuth's
      // algorithm D, step D3), which saves the adding back below.
      if (L >= 2) {
        const uint64_t n2 = rLoad(N, L - 2), u2 = rLoad(z, L - 2);
        for (int i = 0; i < 2; ++i) {
          if (static_cast<LvDWord64>(q) * n2 <= ((static_cast<LvDWord64>(r) << 64) | u2)) break;
          --q;
          const uint64_t r2 = r + d;
          if (r2 < r) break;
          r = r2;
        }
      }
    }
    // z - q N = z + q Nneg - q 2^(64L); the top is small and at most 0 (q is never short).
    const uint64_t c = addmulRow(z, Nneg, L, q, adx);
    int64_t top = static_cast<int64_t>(u1 + c - q);
    while (top < 0) {
      uint64_t carry = 0;
      for (int i = 0; i < L; ++i) {
        const LvDWord64 s = static_cast<LvDWord64>(rLoad(z, i)) + rLoad(N, i) + carry;
        rStore(z, i, static_cast<uint64_t>(s));
        carry = static_cast<uint64_t>(s >> 64);
      }
      top += static_cast<int64_t>(carry);
    }
    rStore(z, L, 0);
  }

  int L;
  unsigned int room;
  unsigned int sh = 0;
  uint64_t d = 0, v = 0;
  bool adx = false;
  LvWord local[1024];  // RSA moduli up to 4096 bits without an allocation
  std::vector<LvWord> buf;
  LvWord* N;
  LvWord* Nneg;
  LvWord* low;  // the lowest place of z
  LvWord* z;    // L + 1 limbs: the value in the low L
};

}  // namespace

// ------------------------------------------------------------------------------ generic group

void longvMulLimbs(LvWord* c, const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb) {
  mulRows(c, a, static_cast<int>(na / 2), b, static_cast<int>(nb / 2), haveAdx());
}

void longvSqr(LvWord* t, const LvWord* a, LvWordLen k) {
  if (k == 0) return;
  if (fixedRows(k))
    sqrRowsAny(t, a, k);
  else if (byRows(k))
    sqrRows(t, a, static_cast<int>(k / 2), haveAdx());
  else
    sqrCore(t, a, static_cast<int>(k));
}

// The reduction's top carry and result in t[k..2k-1].
static uint64_t redcAny(LvWord* t, const LvWord* n, LvWord n0, LvWordLen k) {
  if (fixedRows(k)) return redcRowsAny(t, n, n0To64(n0, longvLoad64(n)), k);
  if (byRows(k))
    return redcRows(t, n, n0To64(n0, longvLoad64(n)), static_cast<int>(k / 2), haveAdx());
  return redcCore(t, n, n0, static_cast<int>(k), false);
}

LvWord longvMontRedc(LvWord* t, const LvWord* n, LvWord n0, LvWordLen k) {
  if (k == 0) return 0;
  const uint64_t c2 = redcAny(t, n, n0, k);
  return finalSub(t, t + k, n, c2, static_cast<int>(k));
}

LvWord longvMontRedcExt(LvWord* t, const LvWord* n, LvWord n0, LvWordLen k) {
  if (k == 0) return 0;
  redcAny(t, n, n0, k);
  longvCopy(t, t + k, k);
  return 0;
}

LvWord longvMontMul(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n, LvWord n0,
                    LvWordLen k) {
  if (k == 0) return 0;
  if (byRows(k) && k <= kRowMaxWords && haveAdx()) {
    // The caller's t holds k words; the product needs 2k, so it is formed in a local block,
    // which is wiped afterwards.
    LvWord block[2 * kRowMaxWords];
    const int L = static_cast<int>(k / 2);
    uint64_t c2;
    if (fixedRows(k)) {
      mulRowsAny(block, a, b, k);
      c2 = redcRowsAny(block, n, n0To64(n0, longvLoad64(n)), k);
    } else {
      mulRows(block, a, L, b, L, true);
      c2 = redcRows(block, n, n0To64(n0, longvLoad64(n)), L, true);
    }
    const LvWord r = finalSub(t, block + k, n, c2, static_cast<int>(k));
    lvWipe(block, 2 * static_cast<size_t>(k) * sizeof(LvWord));
    return r;
  }
  uint64_t c;
  if ((k & 1) == 0)
    c = ciosCore64(t, a, b, n, n0To64(n0, longvLoad64(n)), static_cast<int>(k));
  else
    c = ciosCore32(t, a, b, n, n0, k);
  return finalSubInPlace(t, n, c, k);
}

LvWord longvMontMulExt(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n, LvWord n0,
                       LvWordLen k) {
  if (k == 0) return 0;
  if ((k & 1) == 0)
    ciosCore64(t, a, b, n, n0To64(n0, longvLoad64(n)), static_cast<int>(k));
  else
    ciosCore32(t, a, b, n, n0, k);
  return 0;
}

LvWord longvMontSqr(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0, LvWordLen k) {
  if (k == 0) return 0;
  longvSqr(t, a, k);
  return longvMontRedc(t, n, n0, k);
}

LvWord longvMontSqrExt(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0, LvWordLen k) {
  if (k == 0) return 0;
  longvSqr(t, a, k);
  return longvMontRedcExt(t, n, n0, k);
}

LvWord longvFromMont(LvWord* t, const LvWord* a, const LvWord* n, LvWordLen k) {
  if (k == 0) return 0;
  const LvWord n0 = longvMontN0(n[0]);
  if (byRows(k) && k <= kRowMaxWords) {
    // a * R^-1 is the reduction of a itself, formed in a local block (wiped afterwards).
    LvWord block[2 * kRowMaxWords];
    longvCopyResize(block, 2 * k, a, k);
    const uint64_t c2 = redcAny(block, n, n0, k);
    const LvWord r = finalSub(t, block + k, n, c2, static_cast<int>(k));
    lvWipe(block, 2 * static_cast<size_t>(k) * sizeof(LvWord));
    return r;
  }
  // The interleaved product with b = 1: iteration i adds a[i] at word 0 only.
  return finalSubInPlace(t, n, ciosCore32(t, a, nullptr, n, n0, k), k);
}

// --------------------------------------------------------------------------- fixed-size group

namespace {

// The sixteen-word (512-bit) kernels, RSA-1024's primes: with MULX/ADX the eight-limb
// product and square of the EC fields (lvmont8mulx.h), twice as fast as the C columns.
// The words are the limbs' bytes in order (little-endian). Sparse moduli keep their kernels.
template <int KC>
LV_INLINE LvWord montMulKernel(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n,
                               LvWord n0, bool sparse) {
#ifdef LONGV_ROW_ASM
  if constexpr (KC == 16) {
    if (!sparse && haveAdx()) {
      lvmont8::mul(t, a, b, n, n0To64(n0, longvLoad64(n)));
      return 0;
    }
  }
#endif
  return montMulFixed<KC>(t, a, b, n, n0, sparse);
}
template <int KC>
LV_INLINE LvWord montSqrKernel(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0,
                               bool sparse) {
#ifdef LONGV_ROW_ASM
  if constexpr (KC == 16) {
    if (!sparse && haveAdx()) {
      lvmont8::sqr(t, a, n, n0To64(n0, longvLoad64(n)));
      return 0;
    }
  }
#endif
  return montSqrFixed<KC>(t, a, n, n0, sparse);
}

}  // namespace

#define LONGV_DEFINE_PRODUCTS(K)                                                  \
  void longvMul##K(LvWord* t, const LvWord* a, const LvWord* b) { combaMul<K>(t, a, b); } \
  void longvSqr##K(LvWord* t, const LvWord* a) { combaSqr<K>(t, a); }

#define LONGV_DEFINE_MONT(K)                                                              \
  LvWord longvMontRedc##K(LvWord* t, const LvWord* n, LvWord n0) {                        \
    return redcFull(t, n, n0, K, false);                                                  \
  }                                                                                       \
  LvWord longvMontRedcSparse##K(LvWord* t, const LvWord* n, LvWord n0) {                  \
    return redcFull(t, n, n0, K, true);                                                   \
  }                                                                                       \
  LvWord longvMontMul##K(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n,    \
                         LvWord n0) {                                                     \
    return montMulKernel<K>(t, a, b, n, n0, false);                                       \
  }                                                                                       \
  LvWord longvMontSqr##K(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0) {        \
    return montSqrKernel<K>(t, a, n, n0, false);                                          \
  }                                                                                       \
  LvWord longvMontMulSparse##K(LvWord* t, const LvWord* a, const LvWord* b,               \
                               const LvWord* n, LvWord n0) {                              \
    return montMulFixed<K>(t, a, b, n, n0, true);                                         \
  }                                                                                       \
  LvWord longvMontSqrSparse##K(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0) {  \
    return montSqrFixed<K>(t, a, n, n0, true);                                            \
  }

LONGV_DEFINE_PRODUCTS(3)
LONGV_DEFINE_PRODUCTS(4)
LONGV_DEFINE_PRODUCTS(5)
LONGV_DEFINE_PRODUCTS(6)
LONGV_DEFINE_PRODUCTS(7)
LONGV_DEFINE_PRODUCTS(8)
LONGV_DEFINE_PRODUCTS(12)
LONGV_DEFINE_PRODUCTS(16)
LONGV_DEFINE_PRODUCTS(17)
LONGV_DEFINE_PRODUCTS(34)
LONGV_DEFINE_MONT(3)
LONGV_DEFINE_MONT(4)
LONGV_DEFINE_MONT(5)
LONGV_DEFINE_MONT(6)
LONGV_DEFINE_MONT(7)
LONGV_DEFINE_MONT(8)
LONGV_DEFINE_MONT(12)
LONGV_DEFINE_MONT(16)

bool longvMontIsSparse(const LvWord* n, LvWordLen k) {
  if (k < 3) return false;
  // Every word is read: the answer, the modulus's form, is public (a sparse modulus is a
  // special public prime, a secret prime never is one), the words may not be.
  LvWord any = 0;
  for (LvWordLen i = 1; i + 1 < k; ++i) any |= n[i];
  LvWord sparse = longvCtEqMask(any, 0) & 1u;
  lvDeclassify(&sparse, sizeof sparse);
  return sparse != 0;
}

void longvMontFixedKernels(LvWordLen k, bool sparse, LvMontMulFixedFn* mul,
                           LvMontSqrFixedFn* sqr) {
  LvMontMulFixedFn m = nullptr;
  LvMontSqrFixedFn s = nullptr;
#define LONGV_PICK(K)                                                 \
  case K:                                                             \
    m = sparse ? longvMontMulSparse##K : longvMontMul##K;             \
    s = sparse ? longvMontSqrSparse##K : longvMontSqr##K;             \
    break;
  switch (k) {
    LONGV_PICK(3)
    LONGV_PICK(4)
    LONGV_PICK(5)
    LONGV_PICK(6)
    LONGV_PICK(7)
    LONGV_PICK(8)
    LONGV_PICK(12)
    LONGV_PICK(16)
    default:
      break;
  }
#undef LONGV_PICK
  if (mul) *mul = m;
  if (sqr) *sqr = s;
}

void longvRadixPowers(LvWord* const* out, LvWordLen w, unsigned int count, const LvWord* n,
                      LvWordLen k, LvWordLen radixWords) {
  for (unsigned int i = 0; i < count; ++i)
    for (LvWordLen j = 0; j < w; ++j) out[i][j] = 0;
  if (k == 0 || count == 0 || (k == 1 && n[0] == 1)) return;  // everything is 0 modulo 1
  const unsigned int bits = 32 * radixWords;
  RadixReducer r(n, k, count * (bits / 64 + 1) + 2);
  r.start(bits);
  r.take(out[0], w);
  for (unsigned int i = 1; i < count; ++i) {
    r.advance(bits);
    r.take(out[i], w);
  }
}

void longvMulPow2Public(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k,
                        unsigned int bits) {
  for (LvWordLen j = 0; j < k; ++j) out[j] = 0;
  if (k == 0 || (k == 1 && n[0] == 1)) return;
  RadixReducer r(n, k, bits / 64 + 2);
  r.load(x, k);
  r.advance(bits);
  r.take(out, k);
}

void longvToMontPublic(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k) {
  longvMulPow2Public(out, x, n, k, 32 * k);
}
