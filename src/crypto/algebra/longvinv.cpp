// Modular inverse (binary extended Euclid; for odd moduli a two-coefficient binary inversion),
// binary gcd (Stein) and the Jacobi symbol.
#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"

namespace {

// Signed coefficients of the inversion: n + 1 words in two's complement.
bool isNegative(const LvWord* a, LvWordLen n1) { return (a[n1 - 1] & 0x80000000u) != 0; }

// Arithmetic shift right by one bit.
void halveSigned(LvWord* a, LvWordLen n1) {
  const LvWord sign = a[n1 - 1] & 0x80000000u;
  longvShr1(a, n1);
  a[n1 - 1] |= sign;
}

// a (n1 words) += b (n words, unsigned, zero-extended).
void addUnsigned(LvWord* a, LvWordLen n1, const LvWord* b, LvWordLen n) {
  longvAddLong(a, n1, b, n, 0);
}
void subUnsigned(LvWord* a, LvWordLen n1, const LvWord* b, LvWordLen n) {
  longvSubLong(a, n1, b, n, 0);
}

void negate(LvWord* a, LvWordLen n1) {
  for (LvWordLen i = 0; i < n1; ++i) a[i] = ~a[i];
  longvInc(a, n1);
}

LvWordLen trailingZeroBits(const LvWord* a, LvWordLen n) {
  LvWordLen z = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    if (a[i] != 0) return z + static_cast<LvWordLen>(__builtin_ctz(a[i]));
    z += 32;
  }
  return z;
}

// The odd-modulus inversion works on 64-bit limbs (a word count rounded up to even), which
// halves the passes over the vectors; u and v only shrink, so their passes run over their
// significant limbs only.
typedef unsigned __int128 Wide;

inline int limbCmp(const uint64_t* a, const uint64_t* b, LvWordLen n) {
  while (n > 0) {
    --n;
    if (a[n] != b[n]) return a[n] > b[n] ? 1 : -1;
  }
  return 0;
}
inline uint64_t limbSub(uint64_t* a, const uint64_t* b, LvWordLen n) {
  uint64_t br = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    const Wide d = static_cast<Wide>(a[i]) - b[i] - br;
    a[i] = static_cast<uint64_t>(d);
    br = static_cast<uint64_t>(d >> 64) & 1;
  }
  return br;
}
inline uint64_t limbAdd(uint64_t* a, const uint64_t* b, LvWordLen n) {
  Wide c = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    c += static_cast<Wide>(a[i]) + b[i];
    a[i] = static_cast<uint64_t>(c);
    c >>= 64;
  }
  return static_cast<uint64_t>(c);
}
inline LvWordLen limbSig(const uint64_t* a, LvWordLen n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}
// a >>= z (any z below 64 * n) over n limbs.
inline void limbShr(uint64_t* a, LvWordLen n, LvWordLen z) {
  const LvWordLen w = z / 64;
  const unsigned int r = z % 64;
  if (w > 0) {
    for (LvWordLen i = 0; i + w < n; ++i) a[i] = a[i + w];
    for (LvWordLen i = (n > w ? n - w : 0); i < n; ++i) a[i] = 0;
  }
  if (r == 0) return;
  for (LvWordLen i = 0; i + 1 < n; ++i) a[i] = (a[i] >> r) | (a[i + 1] << (64 - r));
  a[n - 1] >>= r;
}
inline LvWordLen limbTrailingZeros(const uint64_t* a, LvWordLen n) {
  LvWordLen z = 0;
  for (LvWordLen i = 0; i < n; ++i) {
    if (a[i] != 0) return z + static_cast<LvWordLen>(__builtin_ctzll(a[i]));
    z += 64;
  }
  return z;
}

// x := x / 2^z mod m (x < m, m odd, 0 < z < 64): adding k * m with k = -x * m^-1 mod 2^z
// clears the low z bits, so one pass divides by 2^z.
void halveModBy(uint64_t* x, const uint64_t* m, LvWordLen n, unsigned int z, uint64_t mInv) {
  const uint64_t k = (0 - x[0] * mInv) & ((uint64_t(1) << z) - 1);
  Wide acc = 0;
  uint64_t prev = 0;
  for (LvWordLen j = 0; j < n; ++j) {
    acc += static_cast<Wide>(k) * m[j] + x[j];
    const uint64_t w = static_cast<uint64_t>(acc);
    acc >>= 64;
    if (j > 0) x[j - 1] = (prev >> z) | (w << (64 - z));
    prev = w;
  }
  x[n - 1] = (prev >> z) | (static_cast<uint64_t>(acc) << (64 - z));
  if (limbCmp(x, m, n) >= 0) limbSub(x, m, n);
}

void halveModBits(uint64_t* x, const uint64_t* m, LvWordLen n, LvWordLen z, uint64_t mInv) {
  while (z > 0) {
    const unsigned int step = z > 63 ? 63u : static_cast<unsigned int>(z);
    halveModBy(x, m, n, step, mInv);
    z -= step;
  }
}

// For an odd modulus two coefficients suffice (u = x1 * x, v = x2 * x mod m), kept reduced.
LvWord inverseOddModulus(LvWord* out, const LvWord* x, const LvWord* m, LvWordLen n) {
  const LvWordLen L = (n + 1) / 2;
  LvWordMem scratch(10 * L);  // 64-bit limbs in pairs of words
  uint64_t* base = reinterpret_cast<uint64_t*>(scratch.ptr());
  uint64_t* u = base;
  uint64_t* v = u + L;
  uint64_t* x1 = v + L;
  uint64_t* x2 = x1 + L;
  uint64_t* mm = x2 + L;
  longvToLimbs(u, x, n, L);
  longvToLimbs(mm, m, n, L);
  for (LvWordLen i = 0; i < L; ++i) {
    v[i] = mm[i];
    x1[i] = 0;
    x2[i] = 0;
  }
  x1[0] = 1;
  uint64_t mInv = 1;
  for (int i = 0; i < 6; ++i) mInv *= 2 - mm[0] * mInv;
  LvWordLen lu = limbSig(u, L), lv = limbSig(v, L);
  // Each pass removes at least one bit from u or v; the cap states that bound.
  const uint64_t cap = 2 * 64 * static_cast<uint64_t>(L) + 4;
  bool ok = false;
  for (uint64_t pass = 0; pass < cap; ++pass) {
    if ((lu == 1 && u[0] == 1) || (lv == 1 && v[0] == 1)) {
      ok = true;
      break;
    }
    if (lu == 0 || lv == 0) break;  // u = v = gcd > 1 was subtracted
    LvWordLen z = limbTrailingZeros(u, lu);
    if (z) {
      limbShr(u, lu, z);
      lu = limbSig(u, lu);
      halveModBits(x1, mm, L, z, mInv);
    }
    z = limbTrailingZeros(v, lv);
    if (z) {
      limbShr(v, lv, z);
      lv = limbSig(v, lv);
      halveModBits(x2, mm, L, z, mInv);
    }
    const int c = lu != lv ? (lu > lv ? 1 : -1) : limbCmp(u, v, lu);
    if (c >= 0) {
      // u >= v: a borrow out of v's limbs is absorbed by u's upper limbs.
      uint64_t br = limbSub(u, v, lv);
      for (LvWordLen i = lv; br != 0 && i < lu; ++i) br = (u[i]-- == 0);
      lu = limbSig(u, lu);
      if (limbSub(x1, x2, L)) limbAdd(x1, mm, L);
    } else {
      uint64_t br = limbSub(v, u, lu);
      for (LvWordLen i = lu; br != 0 && i < lv; ++i) br = (v[i]-- == 0);
      lv = limbSig(v, lv);
      if (limbSub(x2, x1, L)) limbAdd(x2, mm, L);
    }
  }
  const uint64_t* r = (lu == 1 && u[0] == 1) ? x1 : x2;
  for (LvWordLen i = 0; i < n; ++i) out[i] = static_cast<LvWord>(r[i / 2] >> (32 * (i % 2)));
  return ok ? 0 : 1;
}

// While w is even: halve it and its coefficients P, Q (P * x + Q * m = w stays true: an odd
// pair first becomes P + m, Q - x). Returns the halvings made.
uint64_t halveWhileEven(LvWord* w, LvWord* P, LvWord* Q, const LvWord* x, const LvWord* m,
                        LvWordLen n) {
  const LvWordLen n1 = n + 1;
  uint64_t steps = 0;
  while ((w[0] & 1) == 0) {
    longvShr1(w, n);
    if ((P[0] & 1) != 0 || (Q[0] & 1) != 0) {
      addUnsigned(P, n1, m, n);
      subUnsigned(Q, n1, x, n);
    }
    halveSigned(P, n1);
    halveSigned(Q, n1);
    ++steps;
  }
  return steps;
}

}  // namespace

LvWord longvModInverse(LvWord* out, const LvWord* x, const LvWord* m, LvWordLen n) {
  if (n == 0) return 1;
  // A zero modulus has no inverse (and would keep the halving loop waiting for an odd v). Two
  // even numbers share the factor 2; the halving steps also need one of them odd, else they
  // drop bits and v can end at 1 although no inverse exists.
  if (longvIsZero(m, n) || ((x[0] | m[0]) & 1) == 0) {
    longvZeroize(out, n);
    return 1;
  }
  if (longvIsOne(m, n)) {  // everything is 0 = 1 modulo 1
    longvZeroize(out, n);
    return 0;
  }
  if (m[0] & 1) return inverseOddModulus(out, x, m, n);
  const LvWordLen n1 = n + 1;
  LvWordMem scratch(6 * n + 4);
  LvWord* u = scratch.ptr();
  LvWord* v = u + n;
  LvWord* A = v + n;
  LvWord* B = A + n1;
  LvWord* C = B + n1;
  LvWord* D = C + n1;
  longvCopy(u, x, n);
  longvCopy(v, m, n);
  longvSetWord(A, n1, 1);
  longvSetWord(B, n1, 0);
  longvSetWord(C, n1, 0);
  longvSetWord(D, n1, 1);

  // Every pass halves or subtracts, so u + v loses at least one bit per two passes; the cap
  // states that bound.
  const uint64_t cap = 6 * 32 * static_cast<uint64_t>(n) + 8;
  uint64_t steps = 0;
  while (!longvIsZero(u, n) && steps < cap) {
    steps += halveWhileEven(u, A, B, x, m, n);
    steps += halveWhileEven(v, C, D, x, m, n);
    if (longvCmp(u, v, n) >= 0) {
      longvSub(u, v, n, 0);
      longvSub(A, C, n1, 0);
      longvSub(B, D, n1, 0);
    } else {
      longvSub(v, u, n, 0);
      longvSub(C, A, n1, 0);
      longvSub(D, B, n1, 0);
    }
    ++steps;
  }
  const bool invertible = longvIsOne(v, n);
  // Bring C into [0, m): reduce |C| and reflect a negative one.
  const bool neg = isNegative(C, n1);
  if (neg) negate(C, n1);
  longvModInPlace(C, n1, m, n);
  if (neg && !longvIsZero(C, n1)) {
    longvCopy(out, m, n);
    longvSub(out, C, n, 0);
  } else {
    longvCopy(out, C, n);
  }
  return invertible ? 0 : 1;
}

void longvGcd(const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord* out,
              LvWordLen nout) {
  if (longvIsZero(a, na)) {
    longvCopyResize(out, nout, b, nb);
    return;
  }
  if (longvIsZero(b, nb)) {
    longvCopyResize(out, nout, a, na);
    return;
  }
  if (longvIsOne(a, na) || longvIsOne(b, nb)) {
    longvSetWord(out, nout, 1);
    return;
  }
  const LvWordLen n = na > nb ? na : nb;
  LvWordMem scratch(2 * n);
  LvWord* A = scratch.ptr();
  LvWord* B = A + n;
  longvCopyResize(A, n, a, na);
  longvCopyResize(B, n, b, nb);
  const LvWordLen za = trailingZeroBits(A, n);
  const LvWordLen zb = trailingZeroBits(B, n);
  const LvWordLen k = za < zb ? za : zb;
  longvShr(A, n, za);
  longvShr(B, n, zb);
  // Both odd now; each pass removes at least one bit from the larger one.
  const uint64_t cap = 2 * 32 * static_cast<uint64_t>(n) + 4;
  for (uint64_t pass = 0; pass < cap; ++pass) {
    if (longvIsOne(A, n) || longvIsOne(B, n)) {
      longvSetWord(A, n, 1);
      break;
    }
    const int c = longvCmp(A, B, n);
    if (c == 0) break;
    if (c > 0) {
      longvSub(A, B, n, 0);
      longvShr(A, n, trailingZeroBits(A, n));
    } else {
      longvSub(B, A, n, 0);
      longvShr(B, n, trailingZeroBits(B, n));
    }
  }
  longvCopyResize(out, nout, A, n);
  longvShl(out, nout, k);
}

int longvJacobi(const LvWord* a, LvWordLen na, const LvWord* n, LvWordLen nn) {
  static const int T[8] = {0, 1, 0, -1, 0, -1, 0, 1};
  if (longvIsZero(n, nn)) return longvIsOne(a, na) ? 1 : 0;
  const bool aEven = na == 0 || (a[0] & 1) == 0;
  if (aEven && (n[0] & 1) == 0) return 0;
  LvWordMem scratch(na + nn);
  LvWord* A = scratch.ptr();
  LvWord* N = A + na;
  longvCopy(A, a, na);
  longvCopy(N, n, nn);
  LvWordLen la = longvSigLen(A, na);
  LvWordLen ln = longvSigLen(N, nn);
  int s = 1;
  LvWordLen t = trailingZeroBits(N, ln);
  longvShr(N, ln, t);
  if (t & 1) s = T[(la ? A[0] : 0) & 7];
  ln = longvSigLen(N, ln);
  // Each pass at least halves the pair as in Euclid's algorithm; the cap states the bound.
  const uint64_t cap = 2 * 32 * (static_cast<uint64_t>(na) + nn) + 4;
  for (uint64_t pass = 0; la != 0 && pass < cap; ++pass) {
    t = trailingZeroBits(A, la);
    longvShr(A, la, t);
    la = longvSigLen(A, la);
    if ((t & 1) && T[N[0] & 7] == -1) s = -s;
    if ((A[0] & 3) == 3 && (N[0] & 3) == 3) s = -s;
    longvModInPlace(N, ln, A, la);
    ln = longvSigLen(N, ln);
    LvWord* tmp = A;
    A = N;
    N = tmp;
    const LvWordLen tl = la;
    la = ln;
    ln = tl;
  }
  return longvIsOne(N, ln) ? s : 0;
}

// Invariants: x1 a = u and x2 a = v (mod m), v odd, x1 and x2 below m. A step makes u even
// (an odd u below v first trades places with v, then loses v) and halves it, so the bit lengths
// of u and v together drop by one a step until u is 0 and v the gcd: aBits + 32k steps suffice
// for any values. Every step does the same work on 64-bit limbs whatever the values: a pass
// for the comparison, one that swaps, subtracts and halves u, one that swaps and subtracts x1,
// and one that takes m back in (after a borrow, and again to make x1 even) and halves x1.
LvWord longvCtModInverse(LvWord* out, const LvWord* a, const LvWord* m, LvWordLen k,
                         unsigned int aBits) {
  if (k == 0) return 0;
  if (aBits == 0 || aBits > 32 * k) aBits = 32 * k;
  const LvWordLen n = (k + 1) / 2;
  LvWordMem scratch(10 * n);
  uint64_t* u = reinterpret_cast<uint64_t*>(scratch.ptr());
  uint64_t* v = u + n;
  uint64_t* x1 = v + n;
  uint64_t* x2 = x1 + n;
  uint64_t* mm = x2 + n;
  longvToLimbs(u, a, k, n);
  longvToLimbs(v, m, k, n);
  longvToLimbs(mm, m, k, n);
  x1[0] = 1;
  const uint64_t steps = aBits + 32 * static_cast<uint64_t>(k);
  for (uint64_t step = 0; step < steps; ++step) {
    const uint64_t odd = 0 - (u[0] & 1);
    uint64_t br = 0;
    for (LvWordLen i = 0; i < n; ++i)
      br = static_cast<uint64_t>((static_cast<Wide>(u[i]) - v[i] - br) >> 64) & 1;
    const uint64_t swap = odd & (0 - br);
    // u: swap where u is odd and below v, u -= v where u is odd, u /= 2 (u - v is even, and
    // each limb is written one limb late to take its neighbour's low bit).
    br = 0;
    uint64_t prev = 0;
    for (LvWordLen i = 0; i < n; ++i) {
      const uint64_t t = (u[i] ^ v[i]) & swap;
      v[i] ^= t;
      const Wide d = static_cast<Wide>(u[i] ^ t) - (v[i] & odd) - br;
      br = static_cast<uint64_t>(d >> 64) & 1;
      const uint64_t cur = static_cast<uint64_t>(d);
      if (i > 0) u[i - 1] = (prev >> 1) | (cur << 63);
      prev = cur;
    }
    u[n - 1] = prev >> 1;
    // x1: the same swap, x1 -= x2 where u was odd.
    br = 0;
    for (LvWordLen i = 0; i < n; ++i) {
      const uint64_t t = (x1[i] ^ x2[i]) & swap;
      x2[i] ^= t;
      const Wide d = static_cast<Wide>(x1[i] ^ t) - (x2[i] & odd) - br;
      x1[i] = static_cast<uint64_t>(d);
      br = static_cast<uint64_t>(d >> 64) & 1;
    }
    // x1 += m after a borrow, then += m once more if it is odd, then x1 /= 2: below m again
    // (the sum is below 2m, its top bit the carry out).
    const uint64_t back = 0 - br;
    const uint64_t addM = 0 - ((x1[0] + (mm[0] & back)) & 1);
    Wide c = 0;
    prev = 0;
    for (LvWordLen i = 0; i < n; ++i) {
      c += static_cast<Wide>(x1[i]) + (mm[i] & back) + (mm[i] & addM);
      const uint64_t cur = static_cast<uint64_t>(c);
      c >>= 64;
      if (i > 0) x1[i - 1] = (prev >> 1) | (cur << 63);
      prev = cur;
    }
    // The carry out counts the wrap of a borrowed x1 too, which the borrow's m undoes.
    x1[n - 1] = (prev >> 1) | ((static_cast<uint64_t>(c) - (back & 1)) << 63);
  }
  uint64_t diff = v[0] ^ 1;
  for (LvWordLen i = 1; i < n; ++i) diff |= v[i];
  for (LvWordLen i = 0; i < k; ++i) out[i] = static_cast<LvWord>(x2[i / 2] >> (32 * (i % 2)));
  return static_cast<LvWord>(((diff | (0 - diff)) >> 63) - 1);
}
