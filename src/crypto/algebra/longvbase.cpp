// Word-vector primitives: the lowest layer of the multi-precision arithmetic.
#include <cstring>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/basic/lvcpu.h"
#include "crypto/basic/lvsecret.h"

LvWord longvAddLong(LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord carry) {
  if (nb > na) {
    // Only na words exist to write: a nonzero excess of b overflows them.
    LvWord c = longvAdd(a, b, na, carry);
    return (c || !longvIsZero(b + na, nb - na)) ? 1 : 0;
  }
  LvWord c = longvAdd(a, b, nb, carry);
  if (c && na > nb) c = longvInc(a + nb, na - nb);
  return c;
}

LvWord longvSubLong(LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord borrow) {
  if (nb > na) {
    LvWord c = longvSub(a, b, na, borrow);
    return (c || !longvIsZero(b + na, nb - na)) ? 1 : 0;
  }
  LvWord c = longvSub(a, b, nb, borrow);
  if (c && na > nb) c = longvDec(a + nb, na - nb);
  return c;
}

LvWord longvInc(LvWord* a, LvWordLen n) {
  for (LvWordLen i = 0; i < n; ++i)
    if (++a[i] != 0) return 0;
  return 1;
}

LvWord longvDec(LvWord* a, LvWordLen n) {
  for (LvWordLen i = 0; i < n; ++i)
    if (a[i]-- != 0) return 0;
  return 1;
}

int longvCmpLen(const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb) {
  if (na > nb) {
    if (!longvIsZero(a + nb, na - nb)) return 1;
    return longvCmp(a, b, nb);
  }
  if (nb > na && !longvIsZero(b + na, nb - na)) return -1;
  return longvCmp(a, b, na);
}

void longvSetWord(LvWord* a, LvWordLen n, LvWord w) {
  if (n == 0) return;
  a[0] = w;
  for (LvWordLen i = 1; i < n; ++i) a[i] = 0;
}

void longvCopyResize(LvWord* dst, LvWordLen nd, const LvWord* src, LvWordLen ns) {
  LvWordLen i = nd;
  while (i > ns) dst[--i] = 0;
  while (i > 0) {
    --i;
    dst[i] = src[i];
  }
}

void longvZeroize(LvWord* a, LvWordLen n) {
  if (n != 0) lvWipe(a, static_cast<size_t>(n) * sizeof(LvWord));
}

LvWord longvMulWord(LvWord* a, LvWord w, LvWordLen n) {
  uint64_t c = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    c += static_cast<uint64_t>(a[i]) * w;
    a[i] = static_cast<LvWord>(c);
    c >>= 32;
  }
  return static_cast<LvWord>(c);
}

LvWord longvMulWordTo(LvWord* d, const LvWord* a, LvWord w, LvWordLen n) {
  uint64_t c = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    c += static_cast<uint64_t>(a[i]) * w;
    d[i] = static_cast<LvWord>(c);
    c >>= 32;
  }
  return static_cast<LvWord>(c);
}

void longvMul(LvWord* c, const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb) {
  if (na % 2 == 0 && nb % 2 == 0 && na >= 4 && nb >= 4) {
    longvMulLimbs(c, a, na, b, nb);
    return;
  }
  for (LvWordLen j = 0; j < nb; ++j) c[j] = 0;
  for (LvWordLen i = 0; i < na; ++i) {
    c[i + nb] = longvMulAddRow(c + i, b, nb, a[i]);
  }
}

void longvShlWords(LvWord* a, LvWordLen n, LvWordLen s) {
  if (s == 0) return;
  if (s >= n) {
    for (LvWordLen i = 0; i < n; ++i) a[i] = 0;
    return;
  }
  for (LvWordLen i = n; i > s; --i) a[i - 1] = a[i - 1 - s];
  for (LvWordLen i = 0; i < s; ++i) a[i] = 0;
}

LvWord longvShl(LvWord* a, LvWordLen n, unsigned int bits) {
  if (n == 0) return 0;
  longvShlWords(a, n, bits / 32);
  unsigned int r = bits % 32;
  if (r == 0) return 0;
  LvWord out = a[n - 1] >> (32 - r);
  for (LvWordLen i = n - 1; i > 0; --i) a[i] = (a[i] << r) | (a[i - 1] >> (32 - r));
  a[0] <<= r;
  return out;
}

LvWord longvShr(LvWord* a, LvWordLen n, unsigned int bits) {
  if (n == 0) return 0;
  LvWordLen s = bits / 32;
  if (s >= n) {
    for (LvWordLen i = 0; i < n; ++i) a[i] = 0;
    return 0;
  }
  if (s > 0) {
    for (LvWordLen i = 0; i + s < n; ++i) a[i] = a[i + s];
    for (LvWordLen i = n - s; i < n; ++i) a[i] = 0;
  }
  unsigned int r = bits % 32;
  if (r == 0) return 0;
  LvWord out = a[0] << (32 - r);
  for (LvWordLen i = 0; i + 1 < n; ++i) a[i] = (a[i] >> r) | (a[i + 1] << (32 - r));
  a[n - 1] >>= r;
  return out;
}

void longvShr1(LvWord* a, LvWordLen n) {
  if (n == 0) return;
  for (LvWordLen i = 0; i + 1 < n; ++i) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
  a[n - 1] >>= 1;
}

// ------------------------------------------------------------------ constant-time helpers

LvWordLen longvCtSigLen(const LvWord* w, LvWordLen n) {
  LvWord len = 1;
  for (LvWordLen i = 1; i < n; ++i) {
    const LvWord nonzero = ~longvCtEqMask(w[i], 0);
    len = (len & ~nonzero) | ((i + 1) & nonzero);
  }
  lvDeclassify(&len, sizeof len);
  return len;
}

LvWord longvCtCondSub(LvWord* a, LvWord carry, const LvWord* m, LvWordLen k) {
  // First the borrow of a - m without writing, then the subtraction of m or of 0.
  uint64_t br = 0;
  for (LvWordLen i = 0; i < k; ++i) br = ((static_cast<uint64_t>(a[i]) - m[i] - br) >> 32) & 1;
  const uint64_t c = carry;
  const uint64_t take = ((c | (0 - c)) >> 63) | (br ^ 1);
  const LvWord mask = static_cast<LvWord>(0 - take);
  br = 0;
  for (LvWordLen i = 0; i < k; ++i) {
    const uint64_t d = static_cast<uint64_t>(a[i]) - (m[i] & mask) - br;
    a[i] = static_cast<LvWord>(d);
    br = (d >> 32) & 1;
  }
  return static_cast<LvWord>(take);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define LONGV_SELECT_AVX2 1
namespace {
// The sixteen-word scan below in two 256-bit accumulators: half the loads. Returns the words
// done.
__attribute__((target("avx2"))) LvWordLen ctSelectAvx2(LvWord* out, const LvWord* table,
                                                       unsigned int entries, LvWordLen words,
                                                       unsigned int idx) {
  typedef uint64_t V4 __attribute__((vector_size(32)));
  LvWordLen j = 0;
  for (; j + 16 <= words; j += 16) {
    V4 a0 = {0, 0, 0, 0}, a1 = a0;
    for (unsigned int i = 0; i < entries; ++i) {
      const uint64_t m = 0 - static_cast<uint64_t>(longvCtEqMask(i, idx) & 1u);
      const V4 mv = {m, m, m, m};
      const LvWord* e = table + static_cast<size_t>(i) * words + j;
      V4 v0, v1;
      std::memcpy(&v0, e, 32);
      std::memcpy(&v1, e + 8, 32);
      a0 |= v0 & mv;
      a1 |= v1 & mv;
    }
    std::memcpy(out + j, &a0, 32);
    std::memcpy(out + j + 8, &a1, 32);
  }
  return j;
}
}  // namespace
#endif

void longvCtSelect(LvWord* out, const LvWord* table, unsigned int entries, LvWordLen words,
                   unsigned int idx) {
  // Sixteen words at a time in four 128-bit accumulators over all entries, so that the scan
  // costs about one vector load per 16 octets of the table; the rest word by word.
  typedef uint64_t V2 __attribute__((vector_size(16)));
  LvWordLen j = 0;
#ifdef LONGV_SELECT_AVX2
  static const bool avx2 = lvcpu::hasAvx2();
  if (avx2) j = ctSelectAvx2(out, table, entries, words, idx);
#endif
  for (; j + 16 <= words; j += 16) {
    V2 a0 = {0, 0}, a1 = a0, a2 = a0, a3 = a0;
    for (unsigned int i = 0; i < entries; ++i) {
      const uint64_t m = 0 - static_cast<uint64_t>(longvCtEqMask(i, idx) & 1u);
      const V2 mv = {m, m};
      const LvWord* e = table + static_cast<size_t>(i) * words + j;
      V2 v0, v1, v2, v3;
      std::memcpy(&v0, e, 16);
      std::memcpy(&v1, e + 4, 16);
      std::memcpy(&v2, e + 8, 16);
      std::memcpy(&v3, e + 12, 16);
      a0 |= v0 & mv;
      a1 |= v1 & mv;
      a2 |= v2 & mv;
      a3 |= v3 & mv;
    }
    std::memcpy(out + j, &a0, 16);
    std::memcpy(out + j + 4, &a1, 16);
    std::memcpy(out + j + 8, &a2, 16);
    std::memcpy(out + j + 12, &a3, 16);
  }
  for (LvWordLen t = j; t < words; ++t) out[t] = 0;
  if (j == words) return;
  for (unsigned int i = 0; i < entries; ++i) {
    const LvWord mask = longvCtEqMask(i, idx);
    const LvWord* e = table + static_cast<size_t>(i) * words;
    for (LvWordLen t = j; t < words; ++t) out[t] |= e[t] & mask;
  }
}

void longvCtDivMod(LvWord* q, LvWord* r, const LvWord* a, LvWordLen na, const LvWord* m,
                   LvWordLen nm) {
  // r stays below m; after the doubling it is below 2m, with the bit that left the top word
  // as the carry of the subtraction.
  // m's top word is nonzero, so a's top nm - 1 words are below m: they are the remainder so
  // far, their quotient words 0, and the steps bit by bit start under them.
  const LvWordLen head = nm - 1 < na ? nm - 1 : na;
  for (LvWordLen j = 0; j < nm; ++j) r[j] = j < head ? a[na - head + j] : 0;
  if (q != nullptr)
    for (LvWordLen j = na - head; j < na; ++j) q[j] = 0;
  for (LvWordLen i = na - head; i-- > 0;) {
    LvWord qw = 0;
    for (int b = 31; b >= 0; --b) {
      const LvWord top = r[nm - 1] >> 31;
      longvShl(r, nm, 1);
      r[0] |= (a[i] >> b) & 1u;
      qw |= longvCtCondSub(r, top, m, nm) << b;
    }
    if (q != nullptr) q[i] = qw;
  }
}

void longvCtMod(LvWord* r, const LvWord* a, LvWordLen na, const LvWord* m, LvWordLen nm) {
  longvCtDivMod(nullptr, r, a, na, m, nm);
}

void longvCtToOctets(LvOctet* out, unsigned int len, const LvWord* w, LvWordLen n) {
  for (unsigned int j = 0; j < len; ++j) {
    const unsigned int pos = len - 1 - j;  // octet index from the low end
    const LvWordLen wi = pos / 4;
    out[j] = wi < n ? static_cast<LvOctet>(w[wi] >> (8 * (pos % 4))) : 0;
  }
}
