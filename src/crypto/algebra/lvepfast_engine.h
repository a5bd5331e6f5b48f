// The engine of lvepfast.h: field arithmetic on 64-bit limbs and the point
// operations as templates over the field. Private to lvepfast*.cpp: each field
// size is instantiated in a unit of its own (lvepfast_m<N>.cpp,
// lvepfast_p521.cpp), so builds compile them in parallel.
#pragma once

#include "crypto/algebra/lvepfast.h"
#include "crypto/basic/lvcpu.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lvepfast {
namespace engine {

typedef std::uint64_t u64;
typedef std::uint32_t u32;
typedef unsigned __int128 u128;
// two limbs in one vector register (SSE2 on x86-64), for the table scans
typedef u64 V2 __attribute__((vector_size(16)));

#define LV_INLINE __attribute__((always_inline)) inline

// Wipes a vector of limbs the optimiser cannot drop.
inline void wipe(void* p, std::size_t n) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

// ---------------------------------------------------------------- fields

// Shared limb helpers on N limbs.
template <unsigned N>
struct Limbs {
  static bool isZero(const u64* a) { return zeroMask(a) != 0; }
  // All ones when a is zero, else 0, without a branch.
  static u64 zeroMask(const u64* a) {
    u64 x = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) x |= a[i];
    return ((x | ((u64)0 - x)) >> 63) - 1;
  }
  static bool equal(const u64* a, const u64* b) {
    u64 x = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) x |= a[i] ^ b[i];
    return x == 0;
  }
  // a >= b
  static bool geq(const u64* a, const u64* b) {
    _Pragma("GCC unroll 32")
    for (unsigned i = N; i-- > 0;) {
      if (a[i] != b[i]) return a[i] > b[i];
    }
    return true;
  }
#if defined(__x86_64__)
  static u64 addTo(u64* r, const u64* a, const u64* b) {
    unsigned char c = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      unsigned long long x;
      c = _addcarry_u64(c, a[i], b[i], &x);
      r[i] = x;
    }
    return c;
  }
  static u64 subTo(u64* r, const u64* a, const u64* b) {
    unsigned char br = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      unsigned long long x;
      br = _subborrow_u64(br, a[i], b[i], &x);
      r[i] = x;
    }
    return br;
  }
#else
  static u64 addTo(u64* r, const u64* a, const u64* b) {
    u64 c = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      u128 s = (u128)a[i] + b[i] + c;
      r[i] = (u64)s;
      c = (u64)(s >> 64);
    }
    return c;
  }
  static u64 subTo(u64* r, const u64* a, const u64* b) {
    u64 br = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      u128 d = (u128)a[i] - b[i] - br;
      r[i] = (u64)d;
      br = (u64)(d >> 64) & 1;
    }
    return br;
  }
#endif
};

// Montgomery arithmetic, R = 2^(64N), for any odd p below R.
template <unsigned N>
class MontField {
 public:
  static const unsigned kLimbs = N;
  u64 p[N];
  u64 n0;      // -p^-1 mod 2^64
  u64 r2[N];   // R^2 mod p
  u64 one_[N]; // R mod p

  void init(const u64* prime) {
    std::memcpy(p, prime, sizeof(p));
    u64 x = 1;
    for (int i = 0; i < 7; i++) x *= 2 - p[0] * x;  // Newton: x = p^-1 mod 2^64
    n0 = (u64)0 - x;
    // 2^k mod p by doubling, k up to 128N.
    u64 t[N] = {0};
    t[0] = 1;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 128 * N; i++) {
      if (i == 64 * N) std::memcpy(one_, t, sizeof(t));
      dbl(t, t);
    }
    std::memcpy(r2, t, sizeof(t));
  }
  LV_INLINE void add(u64* r, const u64* a, const u64* b) const {
    u64 t[N];
    u64 c = Limbs<N>::addTo(t, a, b);
    u64 s[N];
    u64 br = Limbs<N>::subTo(s, t, p);
    // keep t - p when there was a carry out or no borrow (by mask: the
    // values may be secret)
    const u64 useS = (u64)0 - (c | (br ^ 1));
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) r[i] = t[i] ^ (useS & (t[i] ^ s[i]));
  }
  LV_INLINE void dbl(u64* r, const u64* a) const { add(r, a, a); }
  LV_INLINE void sub(u64* r, const u64* a, const u64* b) const {
    u64 t[N];
    u64 br = Limbs<N>::subTo(t, a, b);
    u64 pm[N];
    const u64 mask = (u64)0 - br;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) pm[i] = p[i] & mask;
    Limbs<N>::addTo(r, t, pm);
  }
  void neg(u64* r, const u64* a) const {
    const u64 keep = ~Limbs<N>::zeroMask(a);
    Limbs<N>::subTo(r, p, a);
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) r[i] &= keep;
  }
  u64 zeroMask(const u64* a) const { return Limbs<N>::zeroMask(a); }
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const {
    u64 t[2 * N + 1];
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      u64 c = 0;
      const u64 ai = a[i];
      _Pragma("GCC unroll 32")
      for (unsigned j = 0; j < N; j++) {
        u128 s = (u128)ai * b[j] + (i ? t[i + j] : 0) + c;
        t[i + j] = (u64)s;
        c = (u64)(s >> 64);
      }
      t[i + N] = c;
    }
    t[2 * N] = 0;
    redc(r, t);
  }
  const u64* prime() const { return p; }
  bool isZero(const u64* a) const { return Limbs<N>::isZero(a); }
  LV_INLINE void sqr(u64* r, const u64* a) const {
    u64 t[2 * N + 1];
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 2 * N + 1; i++) t[i] = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      u64 c = 0;
      const u64 ai = a[i];
      _Pragma("GCC unroll 32")
      for (unsigned j = i + 1; j < N; j++) {
        u128 s = (u128)ai * a[j] + t[i + j] + c;
        t[i + j] = (u64)s;
        c = (u64)(s >> 64);
      }
      t[i + N] = c;
    }
    u64 top = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 2 * N; i++) {
      u64 v = t[i];
      t[i] = (v << 1) | top;
      top = v >> 63;
    }
    u64 c = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      u128 sq = (u128)a[i] * a[i];
      u128 s = (u128)t[2 * i] + (u64)sq + c;
      t[2 * i] = (u64)s;
      s = (u128)t[2 * i + 1] + (u64)(sq >> 64) + (u64)(s >> 64);
      t[2 * i + 1] = (u64)s;
      c = (u64)(s >> 64);
    }
    redc(r, t);
  }
  // r := t·R^-1 mod p for t (2N limbs, one spare) below p·R.
  LV_INLINE void redc(u64* r, u64* t) const {
    u64 carry = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) {
      const u64 m = t[i] * n0;
      u64 c = 0;
      _Pragma("GCC unroll 32")
      for (unsigned j = 0; j < N; j++) {
        u128 s = (u128)m * p[j] + t[i + j] + c;
        t[i + j] = (u64)s;
        c = (u64)(s >> 64);
      }
      u128 s = (u128)t[i + N] + c + carry;
      t[i + N] = (u64)s;
      carry = (u64)(s >> 64);
    }
    u64 s2[N];
    u64 br = Limbs<N>::subTo(s2, t + N, p);
    const u64 useS = (u64)0 - (carry | (br ^ 1));
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < N; i++) r[i] = t[N + i] ^ (useS & (t[N + i] ^ s2[i]));
  }
  void toField(u64* r, const u64* a) const { mul(r, a, r2); }
  void fromField(u64* r, const u64* a) const {
    u64 one[N] = {0};
    one[0] = 1;
    mul(r, a, one);
  }
  const u64* one() const { return one_; }
};

// Arithmetic modulo 2^521 - 1 on nine limbs of 58 bits (the top one of 57):
// products gather in 128-bit columns without carry chains, and 2^522 = 2
// folds the upper columns back. Values are kept loosely reduced: limbs below
// 2^59 + 2^11, the top one below 2^59 - 4, which the products take (their
// columns stay below 2^125) and the difference's 4p covers; isZero and
// fromField bring them to the canonical form.
class P521Field {
 public:
  static const unsigned kLimbs = 9;
  static const u64 M58 = (u64(1) << 58) - 1;
  static const u64 M57 = (u64(1) << 57) - 1;
  u64 pw[9];    // the prime in 64-bit words (exponent of the inversion)
  u64 one_[9];

  void init(const u64* prime) {
    std::memcpy(pw, prime, sizeof(pw));
    std::memset(one_, 0, sizeof(one_));
    one_[0] = 1;
  }
  const u64* prime() const { return pw; }
  LV_INLINE void add(u64* r, const u64* a, const u64* b) const {
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) r[i] = a[i] + b[i];
    carry(r);
  }
  LV_INLINE void dbl(u64* r, const u64* a) const { add(r, a, a); }
  LV_INLINE void sub(u64* r, const u64* a, const u64* b) const {
    // a + 4p - b keeps every limb positive
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 8; i++) r[i] = a[i] + (M58 << 2) - b[i];
    r[8] = a[8] + (M57 << 2) - b[8];
    carry(r);
  }
  void neg(u64* r, const u64* a) const {
    const u64 z[9] = {0};
    sub(r, z, a);
  }
  bool isZero(const u64* a) const { return zeroMask(a) != 0; }
  u64 zeroMask(const u64* a) const {
    u64 t[9];
    canonical(t, a);
    u64 x = 0;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) x |= t[i];
    return ((x | ((u64)0 - x)) >> 63) - 1;
  }
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const { product(r, a, b); }
  LV_INLINE void sqr(u64* r, const u64* a) const { square(r, a); }
  // The products as such, for the paths that compile them for other
  // instructions (P521FieldMulx).
  static LV_INLINE void product(u64* r, const u64* a, const u64* b) {
    u128 t[9];
    u64 b2[9];
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) b2[i] = b[i] << 1;
    _Pragma("GCC unroll 32")
    for (unsigned k = 0; k < 9; k++) {
      u128 acc = 0;
      _Pragma("GCC unroll 32")
      for (unsigned i = 0; i <= k; i++) acc += (u128)a[i] * b[k - i];
      _Pragma("GCC unroll 32")
      for (unsigned i = k + 1; i < 9; i++) acc += (u128)a[i] * b2[k + 9 - i];
      t[k] = acc;
    }
    reduceColumns(r, t);
  }
  static LV_INLINE void square(u64* r, const u64* a) {
    // each cross product once, doubled; the folded ones doubled again
    u128 t[9];
    u64 a2[9], a4[9];
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) {
      a2[i] = a[i] << 1;
      a4[i] = a[i] << 2;
    }
    _Pragma("GCC unroll 32")
    for (unsigned k = 0; k < 9; k++) {
      u128 acc = 0;
      // i + j = k, i < j
      _Pragma("GCC unroll 32")
      for (unsigned i = 0; 2 * i < k; i++) acc += (u128)a2[i] * a[k - i];
      if (k % 2 == 0) acc += (u128)a[k / 2] * a[k / 2];
      // i + j = k + 9, i < j, folded with factor 2
      _Pragma("GCC unroll 32")
      for (unsigned i = k + 1; 2 * i < k + 9; i++) acc += (u128)a4[i] * a[k + 9 - i];
      if ((k + 9) % 2 == 0) acc += (u128)a2[(k + 9) / 2] * a[(k + 9) / 2];
      t[k] = acc;
    }
    reduceColumns(r, t);
  }
  void toField(u64* r, const u64* w) const {
    // nine 64-bit words (value below 2^576) to 58-bit limbs
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) {
      const unsigned bit = 58 * i, word = bit / 64, sh = bit % 64;
      u64 v = w[word] >> sh;
      if (sh > 6 && word + 1 < 9) v |= w[word + 1] << (64 - sh);
      r[i] = v & M58;
    }
    r[8] &= M57;
  }
  void fromField(u64* w, const u64* a) const {
    u64 t[9];
    canonical(t, a);
    std::memset(w, 0, 9 * sizeof(u64));
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) {
      const unsigned bit = 58 * i, word = bit / 64, sh = bit % 64;
      w[word] |= t[i] << sh;
      if (sh > 6 && word + 1 < 9) w[word + 1] |= t[i] >> (64 - sh);
    }
  }
  const u64* one() const { return one_; }

 private:
  // One carry step on every limb at once, with no chain through them (the
  // sums and differences are short of the products' latency): limb i keeps
  // its low bits and takes the carry out of limb i - 1, the top's wrapping
  // to limb 0. Limbs below 2^62 in, limbs at most 32 above their width out.
  static LV_INLINE void carry(u64* r) {
    u64 c[9];
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 8; i++) c[i] = r[i] >> 58;
    c[8] = r[8] >> 57;
    r[8] = (r[8] & M57) + c[7];
    _Pragma("GCC unroll 32")
    for (unsigned i = 8; --i > 0;) r[i] = (r[i] & M58) + c[i - 1];
    r[0] = (r[0] & M58) + c[8];
  }
  // The columns (each below 2^125) to limbs, again without a chain: column k
  // splits into 58-bit parts for limbs k, k + 1 and k + 2, the top column at
  // 57 bits; what passes 2^521 wraps to limb 0 (2^522 = 2). Limbs below
  // 2^59 + 2^11 out.
  static LV_INLINE void reduceColumns(u64* r, const u128* t) {
    u64 lo[9], mid[9], top[9];
    _Pragma("GCC unroll 32")
    for (unsigned k = 0; k < 8; k++) {
      lo[k] = (u64)t[k] & M58;
      mid[k] = (u64)(t[k] >> 58) & M58;
      top[k] = (u64)(t[k] >> 116);
    }
    lo[8] = (u64)t[8] & M57;
    mid[8] = (u64)(t[8] >> 57) & M58;
    top[8] = (u64)(t[8] >> 115);
    r[0] = lo[0] + mid[8] + (top[7] << 1);
    r[1] = lo[1] + mid[0] + top[8];
    _Pragma("GCC unroll 32")
    for (unsigned k = 2; k < 9; k++) r[k] = lo[k] + mid[k - 1] + top[k - 2];
  }
  // Fully reduced limbs: below p, each limb within its width.
  static void canonical(u64* t, const u64* a) {
    std::memcpy(t, a, 9 * sizeof(u64));
    // two carry rounds whatever the value (it may be secret): for limbs
    // below 2^60 the first leaves limb 0 at most a few above 2^58 and the
    // others within their widths; the second ripples at most 1 past the top,
    // which limb 0, now small, takes without a further carry
    for (int round = 0; round < 2; round++) {
      _Pragma("GCC unroll 32")
      for (unsigned i = 0; i < 8; i++) {
        t[i + 1] += t[i] >> 58;
        t[i] &= M58;
      }
      const u64 c = t[8] >> 57;
      t[8] &= M57;
      t[0] += c;
    }
    // now below 2^521: it is p (that is 0) exactly when every limb is all ones
    u64 diff = t[8] ^ M57;
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 8; i++) diff |= t[i] ^ M58;
    const u64 keep = (u64)0 - ((diff | ((u64)0 - diff)) >> 63);
    _Pragma("GCC unroll 32")
    for (unsigned i = 0; i < 9; i++) t[i] &= keep;
  }
};

#if defined(__x86_64__)
// The same field with its products compiled for MULX (BMI2), which leaves the
// flags alone and takes any registers, so the columns' additions interleave
// with the next products (lvepfast_p521.cpp; the caller checks
// lvcpu::hasBmi2). Out of line, so no code built for those instructions
// is shared with the portable path.
namespace p521mulx {
void product(u64* r, const u64* a, const u64* b);
void square(u64* r, const u64* a);
}  // namespace p521mulx

class P521FieldMulx : public P521Field {
 public:
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const { p521mulx::product(r, a, b); }
  LV_INLINE void sqr(u64* r, const u64* a) const { p521mulx::square(r, a); }
};

// The same field on eleven limbs of 50 bits (a twelfth, always 0, pads the
// value to a whole 512-bit register and a 256-bit one), multiplied with the
// AVX-512 IFMA instructions (lvepfast_p521.cpp; the caller checks
// lvcpu::hasAvx512Ifma), which take 52 bits of each limb. Every value this
// field takes and hands on has limbs 0..9 below 2^51 and limb 10 below 2^22
// (value below 2^522), which a sum or difference keeps with one carry step
// and which keeps the product's top column 0, as its folding needs.
namespace p521ifma {
void product(u64* r, const u64* a, const u64* b);
void add(u64* r, const u64* a, const u64* b);
void sub(u64* r, const u64* a, const u64* b);
void dblMinus3(u64* x3, u64* y3, u64* z3, const u64* x1, const u64* y1, const u64* z1);
}  // namespace p521ifma

class P521FieldIfma {
 public:
  static const unsigned kLimbs = 12;
  static const u64 M50 = (u64(1) << 50) - 1;
  static const u64 M21 = (u64(1) << 21) - 1;
  u64 pw[12];  // the prime in 64-bit words (exponent of the inversion)
  u64 one_[12];

  void init(const u64* prime) {
    std::memcpy(pw, prime, sizeof(pw));
    std::memset(one_, 0, sizeof(one_));
    one_[0] = 1;
  }
  const u64* prime() const { return pw; }
  void add(u64* r, const u64* a, const u64* b) const { p521ifma::add(r, a, b); }
  void dbl(u64* r, const u64* a) const { p521ifma::add(r, a, a); }
  void sub(u64* r, const u64* a, const u64* b) const { p521ifma::sub(r, a, b); }
  void neg(u64* r, const u64* a) const {
    const u64 z[12] = {0};
    p521ifma::sub(r, z, a);
  }
  void mul(u64* r, const u64* a, const u64* b) const { p521ifma::product(r, a, b); }
  void sqr(u64* r, const u64* a) const { p521ifma::product(r, a, a); }
  static void dblMinus3(u64* x3, u64* y3, u64* z3, const u64* x1, const u64* y1, const u64* z1) {
    p521ifma::dblMinus3(x3, y3, z3, x1, y1, z1);
  }
  bool isZero(const u64* a) const { return zeroMask(a) != 0; }
  u64 zeroMask(const u64* a) const {
    u64 t[12];
    canonical(t, a);
    u64 x = 0;
    for (unsigned i = 0; i < 11; i++) x |= t[i];
    return ((x | ((u64)0 - x)) >> 63) - 1;
  }
  void toField(u64* r, const u64* w) const {
    // twelve 64-bit words (value below 2^521) to 50-bit limbs
    for (unsigned i = 0; i < 11; i++) {
      const unsigned bit = 50 * i, word = bit / 64, sh = bit % 64;
      u64 v = w[word] >> sh;
      if (sh > 14) v |= w[word + 1] << (64 - sh);
      r[i] = v & M50;
    }
    r[10] &= M21;
    r[11] = 0;
  }
  void fromField(u64* w, const u64* a) const {
    u64 t[12];
    canonical(t, a);
    std::memset(w, 0, 12 * sizeof(u64));
    for (unsigned i = 0; i < 11; i++) {
      const unsigned bit = 50 * i, word = bit / 64, sh = bit % 64;
      w[word] |= t[i] << sh;
      if (sh > 14) w[word + 1] |= t[i] >> (64 - sh);
    }
  }
  const u64* one() const { return one_; }

  // Fully reduced limbs: below p, each within its width; in time independent
  // of the value (it may be secret).
  static void canonical(u64* t, const u64* a) {
    std::memcpy(t, a, 12 * sizeof(u64));
    // the first round leaves a value at most a little above 2^521, the
    // second one below it
    for (int round = 0; round < 2; round++) {
      t[0] += t[10] >> 21;
      t[10] &= M21;
      for (unsigned i = 0; i < 10; i++) {
        t[i + 1] += t[i] >> 50;
        t[i] &= M50;
      }
    }
    t[0] += t[10] >> 21;
    t[10] &= M21;
    // below 2^521 now: it is p (that is 0) exactly when every bit is set
    u64 diff = t[10] ^ M21;
    for (unsigned i = 0; i < 10; i++) diff |= t[i] ^ M50;
    const u64 keep = (u64)0 - ((diff | ((u64)0 - diff)) >> 63);
    for (unsigned i = 0; i < 11; i++) t[i] &= keep;
  }
};
#endif

// ---------------------------------------------------------------- points

template <class F>
class Engine;

// Window bits of a field's fixed tables: wider windows mean fewer additions
// and longer scans of a row; a field with a faster product raises it.
template <class F>
struct FixedWidth {
  static const unsigned value = 5;
};

// The P-521 generator tables: 6-bit windows, 88 additions for a 521-bit
// scalar (105 with 5 bits), rows of 32 entries.
template <>
struct FixedWidth<P521Field> {
  static const unsigned value = 6;
};
#if defined(__x86_64__)
template <>
struct FixedWidth<P521FieldMulx> {
  static const unsigned value = 6;
};
template <>
struct FixedWidth<P521FieldIfma> {
  static const unsigned value = 6;
};
#endif

// Whether the doubling should issue its independent products side by side:
// a field whose product is an opaque block of assembly leaves the processor
// little to overlap otherwise; with inline C products (more values live at
// once) the compiler's own order is better.
template <class F>
struct SideBySide {
  static const bool value = false;
};

// Whether a field brings its own x^(p-2) (an addition chain for its prime)
// instead of the engine's windows over p - 2.
template <class F>
struct OwnInverse {
  static const bool value = false;
};

// Whether a field brings the whole doubling for a = -3 (F::dblMinus3), so
// that its values stay in registers between the operations.
template <class F>
struct OwnDouble {
  static const bool value = false;
};
#if defined(__x86_64__)
template <>
struct OwnDouble<P521FieldIfma> {
  static const bool value = true;
};
#endif

template <class F>
class FixedBaseImpl : public FixedBase {
 public:
  static const unsigned N = F::kLimbs;
  static const unsigned kWidth = FixedWidth<F>::value;  // window bits
  static const unsigned kHalf = 1u << (kWidth - 1);  // entries per window
  unsigned bits = 0;
  unsigned windows = 0;
  // window j, entry m-1 (m = 1..kHalf): affine x, y in field form, and a flag
  std::vector<u64> xy;
  std::vector<unsigned char> inf;
  ~FixedBaseImpl() override {
    if (!xy.empty()) wipe(xy.data(), xy.size() * sizeof(u64));
  }
  unsigned maxBits() const override { return bits; }
};

template <class F>
class Engine : public Curve {
 public:
  static const unsigned N = F::kLimbs;
  struct Pt {
    u64 x[N], y[N], z[N];
  };

  Engine(const u32* p, const u32* a, const u32* b, unsigned words) : words_(words) {
    u64 pl[N], al[N], bl[N];
    load(pl, p);
    load(al, a);
    load(bl, b);
    f_.init(pl);
    f_.toField(a_, al);
    f_.toField(b_, bl);
    // a = p - 3 selects the cheaper doubling, a = 0 the cheapest
    u64 three[N] = {0};
    three[0] = 3;
    u64 pm3[N];
    Limbs<N>::subTo(pm3, pl, three);
    aMinus3_ = Limbs<N>::equal(al, pm3);
    aZero_ = Limbs<N>::isZero(al);
    if (!aMinus3_ && !aZero_ && (pl[0] & 3) == 3 && findTwist(pl)) aMinus3_ = twisted_ = true;
    avx2_ = lvcpu::hasAvx2();
  }

  unsigned words() const override { return words_; }

  void mul(u32* out, const u32* k, unsigned kWords, const u32* P) const override {
    Pt p;
    loadPoint(p, P);
    Pt r;
    setInf(r);
    std::vector<signed char> naf;
    wnaf(naf, k, kWords, 5);
    Pt table[8];
    oddMultiples(table, p, 8);
    for (std::size_t i = naf.size(); i-- > 0;) {
      dblP(r, r);
      int d = naf[i];
      if (d > 0) addP(r, r, table[(d - 1) / 2]);
      else if (d < 0) subP(r, r, table[(-d - 1) / 2]);
    }
    storePoint(out, r);
    wipe(&r, sizeof(r));
    wipe(table, sizeof(table));
  }

  void mul2(u32* out, const u32* k1, unsigned k1Words, const u32* P1, const FixedBase* base1,
            const u32* k2, unsigned k2Words, const u32* P2) const override {
    const FixedBaseImpl<F>* fb = static_cast<const FixedBaseImpl<F>*>(base1);
    if (fb && bitLength(k1, k1Words) <= fb->bits) {
      Pt r, s;
      Pt p2;
      loadPoint(p2, P2);
      std::vector<signed char> naf2;
      wnaf(naf2, k2, k2Words, 5);
      Pt t2[8];
      oddMultiples(t2, p2, 8);
      setInf(r);
      for (std::size_t i = naf2.size(); i-- > 0;) {
        dblP(r, r);
        int d = naf2[i];
        if (d > 0) addP(r, r, t2[(d - 1) / 2]);
        else if (d < 0) subP(r, r, t2[(-d - 1) / 2]);
      }
      fixedSum(s, k1, k1Words, *fb);
      addP(r, r, s);
      storePoint(out, r);
      return;
    }
    // Interleaved signed windows over both scalars, one chain of doublings.
    Pt p1, p2;
    loadPoint(p1, P1);
    loadPoint(p2, P2);
    std::vector<signed char> n1, n2;
    wnaf(n1, k1, k1Words, 5);
    wnaf(n2, k2, k2Words, 5);
    Pt t1[8], t2[8];
    oddMultiples(t1, p1, 8);
    oddMultiples(t2, p2, 8);
    std::size_t len = n1.size() > n2.size() ? n1.size() : n2.size();
    n1.resize(len, 0);
    n2.resize(len, 0);
    Pt r;
    setInf(r);
    for (std::size_t i = len; i-- > 0;) {
      dblP(r, r);
      int d = n1[i];
      if (d > 0) addP(r, r, t1[(d - 1) / 2]);
      else if (d < 0) subP(r, r, t1[(-d - 1) / 2]);
      d = n2[i];
      if (d > 0) addP(r, r, t2[(d - 1) / 2]);
      else if (d < 0) subP(r, r, t2[(-d - 1) / 2]);
    }
    storePoint(out, r);
  }

  void mulFixed(u32* out, const u32* k, unsigned kWords, const u32* P,
                const FixedBase* base) const override {
    const FixedBaseImpl<F>* fb = static_cast<const FixedBaseImpl<F>*>(base);
    if (!fb || bitLength(k, kWords) > fb->bits) {
      mul(out, k, kWords, P);
      return;
    }
    Pt r;
    fixedSum(r, k, kWords, *fb);
    storePoint(out, r);
    wipe(&r, sizeof(r));
  }

  void mulSecretX(u32* x, const u32* k, unsigned kWords, unsigned kBits, const u32* P,
                  const FixedBase* base) const override {
    const FixedBaseImpl<F>* fb = static_cast<const FixedBaseImpl<F>*>(base);
    Pt r;
    if (fb && kBits <= fb->bits) {
      fixedSumCt(r, k, kWords, kBits, *fb);
    } else {
      Pt p;
      loadPoint(p, P);
      windowCt(r, k, kWords, kBits, p);
    }
    // x = X / Z^2, by Fermat's inverse (a fixed chain); 0 for the point at
    // infinity, whose Z is 0
    u64 zi[N], t[N];
    invert(zi, r.z);
    f_.sqr(t, zi);
    f_.mul(t, r.x, t);
    if (twisted_) f_.mul(t, t, iu2_);
    u64 w[N];
    f_.fromField(w, t);
    store(x, w);
    wipe(&r, sizeof(r));
    wipe(zi, sizeof(zi));
    wipe(t, sizeof(t));
    wipe(w, sizeof(w));
  }

  // The table a stage at a time: each stage makes the rows of a few windows
  // (about 192 entries) and brings them to affine form with one inversion.
  class Builder : public FixedBaseBuilder {
   public:
    typedef FixedBaseImpl<F> FB;
    static const unsigned kStageWindows = FB::kHalf >= 192 ? 1 : 192 / FB::kHalf;

    Builder(const Engine& e, const u32* P, unsigned maxBits) : e_(e), fb_(new FB()) {
      fb_->bits = maxBits;
      // one window more than the bits need, for the carry of the recoding
      fb_->windows = (maxBits + FB::kWidth - 1) / FB::kWidth + 1;
      const std::size_t count = (std::size_t)fb_->windows * FB::kHalf;
      fb_->xy.assign(count * 2 * N, 0);
      fb_->inf.assign(count, 0);
      e_.loadPoint(base_, P);
    }
    bool step() override {
      if (bad_ || next_ == fb_->windows) return true;
      const unsigned j1 = std::min(fb_->windows, next_ + kStageWindows);
      const std::size_t first = (std::size_t)next_ * FB::kHalf;
      const std::size_t count = (std::size_t)(j1 - next_) * FB::kHalf;
      std::vector<Pt> pts(count);
      // The stage's base moves on a copy, kept only once the stage is made:
      // a stage that fails for memory is made again from where it started
      // (the table is shared by every later multiplication with the point).
      Pt base = base_;
      for (unsigned j = next_; j < j1; j++) {
        Pt* row = &pts[(std::size_t)(j - next_) * FB::kHalf];
        row[0] = base;
        for (unsigned m = 1; m < FB::kHalf; m++) e_.addP(row[m], row[m - 1], base);
        // next base: 2^w · b = 2 · (2^(w-1) · b)
        e_.dblP(base, row[FB::kHalf - 1]);
      }
      bad_ = !e_.toAffine(&fb_->xy[first * 2 * N], &fb_->inf[first], pts.data(), count);
      base_ = base;
      next_ = j1;
      return bad_ || next_ == fb_->windows;
    }
    std::unique_ptr<FixedBase> finish() override {
      if (bad_ || !fb_ || next_ < fb_->windows) return nullptr;
      return std::unique_ptr<FixedBase>(fb_.release());
    }

   private:
    const Engine& e_;
    std::unique_ptr<FB> fb_;
    Pt base_;
    unsigned next_ = 0;  // first window not made yet
    bool bad_ = false;
  };

  std::unique_ptr<FixedBaseBuilder> fixedBaseInStages(const u32* P,
                                                      unsigned maxBits) const override {
    return std::unique_ptr<FixedBaseBuilder>(new Builder(*this, P, maxBits));
  }

  // Affine (x, y) of `count` points into xy (2N limbs each), inf set for the
  // points at infinity: one inversion for all. False when the inversion
  // fails, as Fermat's inverse does over a composite p (an explicit domain
  // from a stranger): the table would be wrong, so there is none and the
  // multiplications take the ordinary road.
  bool toAffine(u64* xy, unsigned char* inf, const Pt* pts, std::size_t count) const {
    std::vector<u64> prod(count * N);
    u64 acc[N];
    std::memcpy(acc, f_.one(), sizeof(acc));
    for (std::size_t i = 0; i < count; i++) {
      if (f_.isZero(pts[i].z)) inf[i] = 1;
      else f_.mul(acc, acc, pts[i].z);
      std::memcpy(&prod[i * N], acc, sizeof(acc));
    }
    u64 inv[N];
    invert(inv, acc);
    u64 chk[N];
    f_.mul(chk, acc, inv);
    f_.sub(chk, chk, f_.one());
    if (!f_.isZero(chk)) return false;
    for (std::size_t i = count; i-- > 0;) {
      if (inf[i]) continue;
      u64 zi[N];
      // zi = inv · prod[i-1]; inv := inv · z_i
      if (i > 0) f_.mul(zi, inv, &prod[(i - 1) * N]);
      else std::memcpy(zi, inv, sizeof(zi));
      f_.mul(inv, inv, pts[i].z);
      u64 zi2[N], zi3[N];
      f_.sqr(zi2, zi);
      f_.mul(zi3, zi2, zi);
      f_.mul(&xy[i * 2 * N], pts[i].x, zi2);
      f_.mul(&xy[i * 2 * N + N], pts[i].y, zi3);
    }
    return true;
  }

 private:
  F f_;
  unsigned words_;
  u64 a_[N], b_[N];
  bool aMinus3_ = false, aZero_ = false;
  // The points live on an isomorphic curve with a = -3 (see findTwist):
  // u^2, u^3 and their inverses map them there and back.
  bool twisted_ = false;
  u64 u2_[N], u3_[N], iu2_[N], iu3_[N];

  // x == y in field form (loosely reduced fields too)
  bool same(const u64* x, const u64* y) const {
    u64 d[N];
    f_.sub(d, x, y);
    return f_.isZero(d);
  }
  // A curve y^2 = x^3 + ax + b is isomorphic to y^2 = x^3 - 3x + b·u^6 by
  // (x, y) -> (x·u^2, y·u^3) wherever a·u^4 = -3 has a solution u, and the
  // doubling with a = -3 takes two squarings fewer (brainpool's curves).
  // For p = 3 mod 4, -1 is no square, so of the two square roots of a
  // square exactly one is a square again: -3/a has a fourth root exactly
  // when it is a square, found by two powers z^((p+1)/4) (the second gives
  // the root of s or of -s, whichever is the square). One inversion,
  // x = 1/(3a), gives both c = -3/a = -9x and 1/c = -a^2·x, hence u^-1 =
  // u^3/c. Every root is checked, so a composite p (an explicit domain from
  // a stranger) finds none or a true one.
  bool findTwist(const u64* pl) {
    u64 e[N], one[N] = {0}, c[N], s[N], u[N], iu[N], x[N], t[N], t3[N];
    // e = (p + 1)/4 = (p >> 2) + 1
    for (unsigned i = 0; i < N; i++) e[i] = (pl[i] >> 2) | (i + 1 < N ? pl[i + 1] << 62 : 0);
    one[0] = 1;
    Limbs<N>::addTo(e, e, one);
    u64 three[N] = {0};
    three[0] = 3;
    f_.toField(t3, three);
    f_.mul(t, a_, t3);
    invert(x, t);  // x = 1/(3a)
    f_.sqr(t, t3);
    f_.mul(c, x, t);
    f_.neg(c, c);  // c = -9/(3a) = -3/a
    power(s, c, e);
    f_.sqr(t, s);
    if (!same(t, c)) return false;
    power(u, s, e);  // u^2 = s or -s
    f_.sqr(t, u);
    if (!same(t, s)) {
      f_.neg(s, s);
      if (!same(t, s)) return false;
    }
    // u^4 = c, so u^-1 = u^3/c, and 1/c = -a/3 = -a^2·x
    f_.mul(u3_, s, u);
    f_.sqr(t, a_);
    f_.mul(t, t, x);
    f_.neg(t, t);
    f_.mul(iu, u3_, t);
    f_.mul(t, iu, u);
    if (!same(t, f_.one())) return false;
    std::memcpy(u2_, s, sizeof(u2_));
    f_.sqr(iu2_, iu);
    f_.mul(iu3_, iu2_, iu);
    return true;
  }
  bool avx2_ = false;  // the table rows scanned with AVX2

  void load(u64* r, const u32* w) const {
    for (unsigned i = 0; i < N; i++) {
      u64 lo = 2 * i < words_ ? w[2 * i] : 0;
      u64 hi = 2 * i + 1 < words_ ? w[2 * i + 1] : 0;
      r[i] = lo | (hi << 32);
    }
  }
  void store(u32* w, const u64* r) const {
    for (unsigned i = 0; i < words_; i++) w[i] = (u32)(r[i / 2] >> (32 * (i % 2)));
  }
  void loadPoint(Pt& pt, const u32* P) const {
    u64 t[N];
    load(t, P);
    f_.toField(pt.x, t);
    load(t, P + words_);
    f_.toField(pt.y, t);
    load(t, P + 2 * words_);
    f_.toField(pt.z, t);
    if (twisted_) {
      f_.mul(pt.x, pt.x, u2_);
      f_.mul(pt.y, pt.y, u3_);
    }
  }
  void storePoint(u32* out, const Pt& pt) const {
    u64 t[N];
    if (f_.isZero(pt.z)) {
      // neutral point (1, 1, 0)
      std::memset(out, 0, sizeof(u32) * 3 * words_);
      out[0] = 1;
      out[words_] = 1;
      return;
    }
    u64 x[N], y[N];
    std::memcpy(x, pt.x, sizeof(x));
    std::memcpy(y, pt.y, sizeof(y));
    if (twisted_) {
      f_.mul(x, x, iu2_);
      f_.mul(y, y, iu3_);
    }
    f_.fromField(t, x);
    store(out, t);
    f_.fromField(t, y);
    store(out + words_, t);
    f_.fromField(t, pt.z);
    store(out + 2 * words_, t);
  }
  void setInf(Pt& r) const {
    std::memcpy(r.x, f_.one(), sizeof(r.x));
    std::memcpy(r.y, f_.one(), sizeof(r.y));
    std::memset(r.z, 0, sizeof(r.z));
  }

  void dblP(Pt& r, const Pt& p) const {
    // the formula's Z3 = 2 Y Z is 0 for either anyway: a field whose zero
    // test costs more than its doubling leaves the point at infinity so
    if constexpr (OwnDouble<F>::value) {
      if (aMinus3_) {
        dblCt(r, p);
        return;
      }
    }
    if (f_.isZero(p.z) || f_.isZero(p.y)) {
      setInf(r);
      return;
    }
    dblCt(r, p);
  }

  // r := p + q (Jacobian); r may alias p or q.
  void addP(Pt& r, const Pt& p, const Pt& q) const {
    if (f_.isZero(q.z)) {
      if (&r != &p) r = p;
      return;
    }
    if (f_.isZero(p.z)) {
      if (&r != &q) r = q;
      return;
    }
    // products that do not wait for one another side by side (here and in
    // the other additions), so the processor overlaps them
    u64 z1z1[N], z2z2[N], u1[N], u2[N], s1[N], s2[N], h[N], rr[N], t[N], t2[N], zz[N];
    f_.sqr(z1z1, p.z);
    f_.sqr(z2z2, q.z);
    f_.mul(zz, p.z, q.z);
    f_.mul(u1, p.x, z2z2);
    f_.mul(u2, q.x, z1z1);
    f_.mul(t, q.z, z2z2);
    f_.mul(t2, p.z, z1z1);
    f_.mul(s1, p.y, t);
    f_.mul(s2, q.y, t2);
    f_.sub(h, u2, u1);
    f_.sub(rr, s2, s1);
    if (f_.isZero(h)) {
      if (f_.isZero(rr)) {
        Pt d = p;
        dblP(r, d);
      } else {
        setInf(r);
      }
      return;
    }
    u64 hh[N], hhh[N], v[N];
    f_.sqr(hh, h);
    f_.sqr(t, rr);
    f_.mul(r.z, zz, h);
    f_.mul(hhh, h, hh);
    f_.mul(v, u1, hh);
    f_.mul(s2, s1, hhh);
    f_.sub(t, t, hhh);
    f_.dbl(u2, v);
    f_.sub(r.x, t, u2);
    f_.sub(t, v, r.x);
    f_.mul(t, rr, t);
    f_.sub(r.y, t, s2);
  }
  void subP(Pt& r, const Pt& p, const Pt& q) const {
    Pt nq = q;
    f_.neg(nq.y, q.y);
    addP(r, p, nq);
  }
  // r := r + (x, ±y) with an affine point.
  void addAffine(Pt& r, const u64* x, const u64* y, bool negY) const {
    u64 yy[N];
    if (negY) f_.neg(yy, y);
    else std::memcpy(yy, y, sizeof(yy));
    if (f_.isZero(r.z)) {
      std::memcpy(r.x, x, sizeof(r.x));
      std::memcpy(r.y, yy, sizeof(r.y));
      std::memcpy(r.z, f_.one(), sizeof(r.z));
      return;
    }
    u64 z1z1[N], u2[N], s2[N], h[N], rr[N], t[N];
    f_.sqr(z1z1, r.z);
    f_.mul(u2, x, z1z1);
    f_.mul(t, r.z, z1z1);
    f_.mul(s2, yy, t);
    f_.sub(h, u2, r.x);
    f_.sub(rr, s2, r.y);
    if (f_.isZero(h)) {
      if (f_.isZero(rr)) {
        Pt d = r;
        dblP(r, d);
      } else {
        setInf(r);
      }
      return;
    }
    u64 hh[N], hhh[N], v[N];
    f_.sqr(hh, h);
    f_.sqr(t, rr);
    f_.mul(r.z, r.z, h);
    f_.mul(hhh, h, hh);
    f_.mul(v, r.x, hh);
    f_.mul(s2, r.y, hhh);
    f_.sub(t, t, hhh);
    f_.dbl(u2, v);
    f_.sub(r.x, t, u2);
    f_.sub(t, v, r.x);
    f_.mul(t, rr, t);
    f_.sub(r.y, t, s2);
  }

  // ------------------------------------------------ constant-time path
  // The secret scalar's path: no branch and no memory index depends on the
  // scalar or on the points made from it.

  // All ones when a == b (small unsigned values).
  static u64 eqMask(u64 a, u64 b) { return (u64)0 - (((a ^ b) - 1) >> 63); }

  static void cmov(Pt& r, const Pt& s, u64 mask) {
    u64* d = r.x;
    const u64* q = s.x;
    for (unsigned i = 0; i < 3 * N; i++) d[i] ^= mask & (d[i] ^ q[i]);
  }

  // The Jacobian doubling without its shortcut: for Z = 0 or Y = 0 the
  // formula itself gives Z' = 0, the point at infinity.
  void dblCt(Pt& r, const Pt& p) const {
    if constexpr (OwnDouble<F>::value) {
      if (aMinus3_) {
        F::dblMinus3(r.x, r.y, r.z, p.x, p.y, p.z);
        return;
      }
    }
    u64 t1[N], t2[N], t3[N], m[N], s[N], yy[N];
    if constexpr (SideBySide<F>::value) {
      if (aMinus3_) {
        u64 yz[N];
        f_.sqr(t1, p.z);
        f_.sqr(yy, p.y);
        f_.mul(yz, p.y, p.z);
        f_.sub(t2, p.x, t1);
        f_.add(t3, p.x, t1);
        f_.mul(s, p.x, yy);
        f_.mul(m, t2, t3);
        f_.sqr(t3, yy);
        f_.dbl(r.z, yz);
        f_.dbl(s, s);
        f_.dbl(s, s);
        f_.dbl(t1, m);
        f_.add(m, t1, m);
        f_.sqr(t1, m);
        f_.dbl(t2, s);
        f_.dbl(t3, t3);
        f_.dbl(t3, t3);
        f_.dbl(t3, t3);
        f_.sub(r.x, t1, t2);
        f_.sub(t1, s, r.x);
        f_.mul(t1, m, t1);
        f_.sub(r.y, t1, t3);
        return;
      }
    }
    if (aMinus3_) {
      f_.sqr(t1, p.z);
      f_.sub(t2, p.x, t1);
      f_.add(t3, p.x, t1);
      f_.mul(m, t2, t3);
      f_.dbl(t1, m);
      f_.add(m, t1, m);
    } else {
      f_.sqr(t1, p.x);
      f_.dbl(m, t1);
      f_.add(m, m, t1);
      if (!aZero_) {
        f_.sqr(t2, p.z);
        f_.sqr(t2, t2);
        f_.mul(t2, t2, a_);
        f_.add(m, m, t2);
      }
    }
    f_.mul(t1, p.y, p.z);
    f_.dbl(r.z, t1);
    f_.sqr(yy, p.y);
    f_.mul(s, p.x, yy);
    f_.dbl(s, s);
    f_.dbl(s, s);
    f_.sqr(t1, m);
    f_.dbl(t2, s);
    f_.sub(r.x, t1, t2);
    f_.sqr(t3, yy);
    f_.dbl(t3, t3);
    f_.dbl(t3, t3);
    f_.dbl(t3, t3);
    f_.sub(t1, s, r.x);
    f_.mul(t1, m, t1);
    f_.sub(r.y, t1, t3);
  }

  // r := p + q for any two points: the general formula, with its exceptional
  // cases (an operand at infinity, p = q) chosen by mask; p = -q needs
  // nothing, the formula gives Z = 0 there. r may alias p or q.
  void addCt(Pt& r, const Pt& p, const Pt& q) const {
    const u64 pInf = f_.zeroMask(p.z), qInf = f_.zeroMask(q.z);
    u64 z1z1[N], z2z2[N], u1[N], u2[N], s1[N], s2[N], h[N], rr[N], t[N];
    f_.sqr(z1z1, p.z);
    f_.sqr(z2z2, q.z);
    f_.mul(u1, p.x, z2z2);
    f_.mul(u2, q.x, z1z1);
    f_.mul(t, q.z, z2z2);
    f_.mul(s1, p.y, t);
    f_.mul(t, p.z, z1z1);
    f_.mul(s2, q.y, t);
    f_.sub(h, u2, u1);
    f_.sub(rr, s2, s1);
    const u64 same = f_.zeroMask(h) & f_.zeroMask(rr) & ~pInf & ~qInf;
    Pt a, d;
    u64 hh[N], hhh[N], v[N], zz[N];
    f_.sqr(hh, h);
    f_.mul(hhh, h, hh);
    f_.mul(v, u1, hh);
    f_.mul(zz, p.z, q.z);
    f_.mul(a.z, zz, h);
    f_.sqr(t, rr);
    f_.sub(t, t, hhh);
    f_.dbl(u2, v);
    f_.sub(a.x, t, u2);
    f_.sub(t, v, a.x);
    f_.mul(t, rr, t);
    f_.mul(s2, s1, hhh);
    f_.sub(a.y, t, s2);
    dblCt(d, p);
    cmov(a, d, same);
    cmov(a, q, pInf);
    cmov(a, p, qInf);
    r = a;
  }

  // r := r + (x, y) for an affine point, by mask: the point is taken as
  // absent (infinity) where `skip` is all ones. `mayDouble` (public) says
  // whether r may equal the point; where it may not, the doubling is not
  // computed.
  void addAffineCt(Pt& r, const u64* x, const u64* y, u64 skip, bool mayDouble) const {
    const u64 rInf = f_.zeroMask(r.z);
    u64 z1z1[N], u2[N], s2[N], h[N], rr[N], t[N];
    f_.sqr(z1z1, r.z);
    f_.mul(u2, x, z1z1);
    f_.mul(t, r.z, z1z1);
    f_.mul(s2, y, t);
    f_.sub(h, u2, r.x);
    f_.sub(rr, s2, r.y);
    const u64 same = f_.zeroMask(h) & f_.zeroMask(rr) & ~rInf;
    Pt a, d, q;
    u64 hh[N], hhh[N], v[N];
    f_.sqr(hh, h);
    f_.sqr(t, rr);
    f_.mul(a.z, r.z, h);
    f_.mul(hhh, h, hh);
    f_.mul(v, r.x, hh);
    f_.mul(s2, r.y, hhh);
    f_.sub(t, t, hhh);
    f_.dbl(u2, v);
    f_.sub(a.x, t, u2);
    f_.sub(t, v, a.x);
    f_.mul(t, rr, t);
    f_.sub(a.y, t, s2);
    if (mayDouble) {
      dblCt(d, r);
      cmov(a, d, same);
    }
    std::memcpy(q.x, x, sizeof(q.x));
    std::memcpy(q.y, y, sizeof(q.y));
    std::memcpy(q.z, f_.one(), sizeof(q.z));
    cmov(a, q, rInf);
    cmov(a, r, skip);
    r = a;
  }

  // k·P from the fixed table: every window adds one entry found by a scan of
  // the whole row; signed digits by an arithmetic recoding.
  // Before window j (w bits each) the sum holds s = sum of d_i·2^(wi) over
  // i < j, |s| < 2^(wj), and window j adds d·2^(wj) with 1 <= |d| <=
  // 2^(w-1): the two are the same point only when they differ by a nonzero
  // multiple of the order n, which needs (2^(w-1) + 1)·2^(wj) >= n. Below
  // that (all windows but the top one or two, for an order of kBits bits) the
  // doubling case cannot arise. k below 2^kBits needs the windows of kBits + 1
  // bits only (the top one takes the last carry).
  void fixedSumCt(Pt& r, const u32* k, unsigned kWords, unsigned kBits,
                  const FixedBaseImpl<F>& fb) const {
    typedef FixedBaseImpl<F> FB;
    setInf(r);
    u64 carry = 0;
    u64 xy[2 * N], ny[N];
    u64* x = xy;
    u64* y = xy + N;
    const unsigned windows = std::min(fb.windows, (kBits + FB::kWidth) / FB::kWidth);
    for (unsigned j = 0; j < windows; j++) {
      // v in 0..2^w; above 2^(w-1) it becomes v - 2^w with a carry
      u64 v = (u64)bitsAt(k, kWords, j * FB::kWidth, FB::kWidth) + carry;
      carry = ((u64)FB::kHalf - v) >> 63;
      const u64 neg = (u64)0 - carry;
      // |digit|: v, or 2^w - v when negative
      const u64 m = (v & ~neg) | (((u64)(1u << FB::kWidth) - v) & neg);
      u64 none = eqMask(m, 0);
      const std::size_t row = (std::size_t)j * FB::kHalf;
      scanRow(xy, &fb.xy[row * 2 * N], FB::kHalf, m);
      for (unsigned e = 0; e < FB::kHalf; e++)
        none |= eqMask(m, e + 1) & ((u64)0 - (u64)fb.inf[row + e]);
      f_.neg(ny, y);
      for (unsigned i = 0; i < N; i++) y[i] ^= neg & (y[i] ^ ny[i]);
      addAffineCt(r, x, y, none, (j + 1) * FB::kWidth + 1 >= kBits);
    }
    wipe(xy, sizeof(xy));
    wipe(ny, sizeof(ny));
  }

  // xy := entry m - 1 of a row of `count` entries (x and y side by side, 2N
  // limbs), all zero for m = 0: every entry is read and masked.
  void scanRow(u64* xy, const u64* ex, unsigned count, u64 m) const {
#if defined(__x86_64__)
    if constexpr (N % 2 == 0) {
      if (avx2_) return scanRowAvx2(xy, ex, count, m);
    }
#endif
    V2 acc[N];
    for (unsigned i = 0; i < N; i++) acc[i] = V2{0, 0};
    for (unsigned e = 0; e < count; e++, ex += 2 * N) {
      const u64 take = eqMask(m, e + 1);
      const V2 t = {take, take};
      for (unsigned i = 0; i < N; i++) {
        V2 v;
        std::memcpy(&v, ex + 2 * i, sizeof(v));
        acc[i] |= v & t;
      }
    }
    std::memcpy(xy, acc, sizeof(acc));
    wipe(acc, sizeof(acc));
  }
#if defined(__x86_64__)
  // The same four limbs at a time (AVX2; N even).
  __attribute__((target("avx2"))) static void scanRowAvx2(u64* xy, const u64* ex,
                                                          unsigned count, u64 m) {
    __m256i acc[N / 2];
    for (unsigned i = 0; i < N / 2; i++) acc[i] = _mm256_setzero_si256();
    const __m256i want = _mm256_set1_epi64x((long long)m);
    for (unsigned e = 0; e < count; e++, ex += 2 * N) {
      const __m256i t = _mm256_cmpeq_epi64(_mm256_set1_epi64x((long long)e + 1), want);
      for (unsigned i = 0; i < N / 2; i++)
        acc[i] = _mm256_or_si256(
            acc[i], _mm256_and_si256(t, _mm256_loadu_si256((const __m256i*)(ex + 4 * i))));
    }
    for (unsigned i = 0; i < N / 2; i++) _mm256_storeu_si256((__m256i*)(xy + 4 * i), acc[i]);
    for (unsigned i = 0; i < N / 2; i++) acc[i] = _mm256_setzero_si256();
    wipe(acc, sizeof(acc));
  }
#endif

  // k·P by fixed 4-bit windows over kBits bits: every window doubles four
  // times and adds one table entry (0·P included) found by a full scan.
  void windowCt(Pt& r, const u32* k, unsigned kWords, unsigned kBits, const Pt& p) const {
    Pt table[16];
    setInf(table[0]);
    table[1] = p;
    for (unsigned i = 2; i < 16; i++) addCt(table[i], table[i - 1], p);
    setInf(r);
    Pt pick;
    for (unsigned w = (kBits + 3) / 4; w-- > 0;) {
      for (int s = 0; s < 4; s++) dblCt(r, r);
      const u64 d = bitsAt(k, kWords, 4 * w, 4);
      pick = table[0];
      for (unsigned e = 1; e < 16; e++) cmov(pick, table[e], eqMask(d, e));
      addCt(r, r, pick);
    }
    wipe(table, sizeof(table));
    wipe(&pick, sizeof(pick));
  }

  // table[i] = (2i + 1)·p
  void oddMultiples(Pt* table, const Pt& p, unsigned count) const {
    table[0] = p;
    if (count < 2) return;
    Pt twice;
    dblP(twice, p);
    for (unsigned i = 1; i < count; i++) addP(table[i], table[i - 1], twice);
  }

  void fixedSum(Pt& r, const u32* k, unsigned kWords, const FixedBaseImpl<F>& fb) const {
    typedef FixedBaseImpl<F> FB;
    setInf(r);
    int carry = 0;
    for (unsigned j = 0; j < fb.windows; j++) {
      int v = (int)bitsAt(k, kWords, j * FB::kWidth, FB::kWidth) + carry;
      if (v > (int)FB::kHalf) {
        v -= 1 << FB::kWidth;
        carry = 1;
      } else {
        carry = 0;
      }
      if (v == 0) continue;
      unsigned m = (unsigned)(v < 0 ? -v : v);
      std::size_t idx = (std::size_t)j * FB::kHalf + (m - 1);
      if (fb.inf[idx]) continue;
      addAffine(r, &fb.xy[idx * 2 * N], &fb.xy[idx * 2 * N + N], v < 0);
    }
  }

  // x^(p-2) = x^-1 (p prime)
  void invert(u64* r, const u64* x) const {
    if constexpr (OwnInverse<F>::value) {
      f_.invert(r, x);
      return;
    }
    u64 e[N];
    u64 two[N] = {0};
    two[0] = 2;
    Limbs<N>::subTo(e, f_.prime(), two);
    power(r, x, e);
  }

  // r := x^e (e public: the windows skip its zero digits)
  void power(u64* r, const u64* x, const u64* e) const {
    u64 acc[N];
    std::memcpy(acc, f_.one(), sizeof(acc));
    // 4-bit fixed window
    u64 tab[16][N];
    std::memcpy(tab[0], f_.one(), sizeof(acc));
    std::memcpy(tab[1], x, sizeof(acc));
    for (unsigned i = 2; i < 16; i++) f_.mul(tab[i], tab[i - 1], x);
    // from the top digit that is not 0 (fields with spare limbs)
    unsigned top = N * 16;
    while (top > 0 && ((e[(top - 1) / 16] >> (4 * ((top - 1) % 16))) & 15) == 0) top--;
    for (unsigned i = top; i-- > 0;) {
      for (int s = 0; s < 4; s++) f_.sqr(acc, acc);
      unsigned d = (unsigned)(e[i / 16] >> (4 * (i % 16))) & 15;
      if (d) f_.mul(acc, acc, tab[d]);
    }
    std::memcpy(r, acc, sizeof(acc));
  }

  static unsigned bitLength(const u32* k, unsigned n) {
    while (n > 0 && k[n - 1] == 0) n--;
    if (n == 0) return 0;
    return 32 * (n - 1) + (32 - __builtin_clz(k[n - 1]));
  }
  static u32 bitsAt(const u32* k, unsigned n, unsigned pos, unsigned count) {
    u64 v = 0;
    unsigned w = pos / 32, s = pos % 32;
    if (w < n) v = k[w];
    if (w + 1 < n) v |= (u64)k[w + 1] << 32;
    return (u32)(v >> s) & ((1u << count) - 1);
  }

  // Width-w non-adjacent form, least significant digit first.
  static void wnaf(std::vector<signed char>& out, const u32* k, unsigned kWords, unsigned w) {
    std::vector<u32> v(k, k + kWords);
    v.push_back(0);
    out.clear();
    const int mod = 1 << w, half = 1 << (w - 1);
    auto nonZero = [&v]() {
      for (u32 x : v)
        if (x) return true;
      return false;
    };
    while (nonZero()) {
      int d = 0;
      if (v[0] & 1) {
        d = (int)(v[0] & (u32)(mod - 1));
        if (d >= half) d -= mod;
        // v -= d
        if (d > 0) {
          u64 br = (u32)d;
          for (std::size_t i = 0; i < v.size() && br; i++) {
            u64 x = v[i];
            v[i] = (u32)(x - br);
            br = x < br ? 1 : 0;
          }
        } else {
          u64 c = (u32)(-d);
          for (std::size_t i = 0; i < v.size() && c; i++) {
            u64 x = (u64)v[i] + c;
            v[i] = (u32)x;
            c = x >> 32;
          }
        }
      }
      out.push_back((signed char)d);
      // v >>= 1
      for (std::size_t i = 0; i < v.size(); i++) {
        v[i] = (v[i] >> 1) | (i + 1 < v.size() ? (v[i + 1] << 31) : 0);
      }
    }
    wipe(v.data(), v.size() * sizeof(u32));
  }
};


// Engine for an N-limb Montgomery field (N = 2..9), one unit per N.
template <unsigned N>
std::unique_ptr<Curve> makeMont(const u32* p, const u32* a, const u32* b, unsigned words) {
  return std::unique_ptr<Curve>(new Engine<MontField<N> >(p, a, b, words));
}
extern template std::unique_ptr<Curve> makeMont<2>(const u32*, const u32*, const u32*, unsigned);
extern template std::unique_ptr<Curve> makeMont<3>(const u32*, const u32*, const u32*, unsigned);
extern template std::unique_ptr<Curve> makeMont<4>(const u32*, const u32*, const u32*, unsigned);
extern template std::unique_ptr<Curve> makeMont<5>(const u32*, const u32*, const u32*, unsigned);
// six limbs: the MULX product where present (lvepfast_m6.cpp)
template <>
std::unique_ptr<Curve> makeMont<6>(const u32*, const u32*, const u32*, unsigned);
extern template std::unique_ptr<Curve> makeMont<7>(const u32*, const u32*, const u32*, unsigned);
// eight limbs: the MULX product where present (lvepfast_m8.cpp)
template <>
std::unique_ptr<Curve> makeMont<8>(const u32*, const u32*, const u32*, unsigned);
extern template std::unique_ptr<Curve> makeMont<9>(const u32*, const u32*, const u32*, unsigned);

// Engine for 2^521 - 1 (lvepfast_p521.cpp); null when `path` is not
// available here.
std::unique_ptr<Curve> makeP521(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path);

// Engine for the P-256 prime (lvepfast_p256.cpp); null when `path` is not
// available here.
std::unique_ptr<Curve> makeP256(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path);

}  // namespace engine
}  // namespace lvepfast
