// GF(2^m) by carry-less multiplication: products of 64-bit limbs by
// PCLMULQDQ, squares by the same instruction (a limb times itself spreads its
// bits), and a reduction that folds whole words through the polynomial's
// terms. Every step does the same work for every value (the instruction's
// time does not depend on its operands; shifts and loop bounds depend on the
// field only), so the ladder of the signing path runs on it too.
#include "crypto/algebra/lvgf2nclmul.h"

#include <cstdint>

#include "crypto/algebra/lve2nladder.h"
#include "crypto/basic/lvcpu.h"

#if defined(__x86_64__)
#include <immintrin.h>

#define LV_CLMUL __attribute__((target("pclmul,sse4.1")))

namespace {

typedef std::uint64_t u64;

inline unsigned int limbsOfWords(unsigned int words) { return (words + 1) / 2; }

// c (2L limbs) = a · b, schoolbook: the products of one anti-diagonal are
// summed in 128 bits first, then split over two limbs.
template <unsigned int L>
LV_CLMUL inline void mulWide(u64* c, const u64* a, const u64* b) {
  __m128i va[L], vb[L], d[2 * L - 1];
  for (unsigned int i = 0; i < L; i++) {
    va[i] = _mm_cvtsi64_si128(static_cast<long long>(a[i]));
    vb[i] = _mm_cvtsi64_si128(static_cast<long long>(b[i]));
  }
  for (unsigned int k = 0; k < 2 * L - 1; k++) d[k] = _mm_setzero_si128();
  for (unsigned int i = 0; i < L; i++)
    for (unsigned int j = 0; j < L; j++)
      d[i + j] = _mm_xor_si128(d[i + j], _mm_clmulepi64_si128(va[i], vb[j], 0x00));
  for (unsigned int k = 0; k < 2 * L; k++) c[k] = 0;
  for (unsigned int k = 0; k < 2 * L - 1; k++) {
    c[k] ^= static_cast<u64>(_mm_cvtsi128_si64(d[k]));
    c[k + 1] ^= static_cast<u64>(_mm_extract_epi64(d[k], 1));
  }
}

template <unsigned int L>
LV_CLMUL inline void sqrWide(u64* c, const u64* a) {
  for (unsigned int i = 0; i < L; i++) {
    const __m128i v = _mm_cvtsi64_si128(static_cast<long long>(a[i]));
    const __m128i s = _mm_clmulepi64_si128(v, v, 0x00);
    c[2 * i] = static_cast<u64>(_mm_cvtsi128_si64(s));
    c[2 * i + 1] = static_cast<u64>(_mm_extract_epi64(s, 1));
  }
}

// c (2L limbs) modulo x^m + sum of x^terms into r (L limbs). Each word above
// the top word of m folds onto lower words only (every term lies at least 64
// below m), so one pass from the top suffices; no word is skipped for being 0.
template <unsigned int L>
inline void reduceWide(u64* r, u64* c, unsigned int m, const unsigned int* terms,
                       unsigned int count) {
  const unsigned int W = m / 64, off = m % 64;
  for (unsigned int i = 2 * L - 1; i > W; i--) {
    const u64 t = c[i];
    c[i] = 0;
    for (unsigned int j = 0; j < count; j++) {
      const unsigned int pos = 64 * i - m + terms[j];
      const unsigned int wi = pos / 64, sh = pos % 64;
      c[wi] ^= t << sh;
      // a shift by 64 would be undefined: sh = 0 adds nothing above
      c[wi + 1] ^= (t >> (63 - sh)) >> 1;
    }
  }
  const u64 t = c[W] >> off;
  c[W] &= (static_cast<u64>(1) << off) - 1;
  for (unsigned int j = 0; j < count; j++) {
    const unsigned int wi = terms[j] / 64, sh = terms[j] % 64;
    c[wi] ^= t << sh;
    c[wi + 1] ^= (t >> (63 - sh)) >> 1;
  }
  for (unsigned int i = 0; i < L; i++) r[i] = c[i];
}

template <unsigned int L>
inline void loadWords(u64* a, const LvWord* w, unsigned int words) {
  for (unsigned int i = 0; i < L; i++) {
    const u64 lo = 2 * i < words ? w[2 * i] : 0;
    const u64 hi = 2 * i + 1 < words ? w[2 * i + 1] : 0;
    a[i] = lo | (hi << 32);
  }
}

inline void storeWords(LvWord* w, const u64* a, unsigned int words) {
  for (unsigned int i = 0; i < words; i++) w[i] = static_cast<LvWord>(a[i / 2] >> (32 * (i % 2)));
}

// The field for the ladder and the inversion chain (see lve2nladder.h).
template <unsigned int L>
struct Field {
  struct Elem {
    u64 v[L];
  };
  unsigned int m = 0, count = 0;
  unsigned int terms[4] = {0, 0, 0, 0};

  Elem zero() const {
    Elem e;
    for (unsigned int i = 0; i < L; i++) e.v[i] = 0;
    return e;
  }
  Elem one() const {
    Elem e = zero();
    e.v[0] = 1;
    return e;
  }
  LV_CLMUL void mul(Elem& r, const Elem& a, const Elem& b) const {
    u64 c[2 * L];
    mulWide<L>(c, a.v, b.v);
    reduceWide<L>(r.v, c, m, terms, count);
  }
  LV_CLMUL void sqr(Elem& r, const Elem& a) const {
    u64 c[2 * L];
    sqrWide<L>(c, a.v);
    reduceWide<L>(r.v, c, m, terms, count);
  }
  static void add(Elem& r, const Elem& a, const Elem& b) {
    for (unsigned int i = 0; i < L; i++) r.v[i] = a.v[i] ^ b.v[i];
  }
  static void cswap(Elem& a, Elem& b, LvWord mask) {
    const u64 mm = (static_cast<u64>(mask) << 32) | mask;
    for (unsigned int i = 0; i < L; i++) {
      const u64 t = mm & (a.v[i] ^ b.v[i]);
      a.v[i] ^= t;
      b.v[i] ^= t;
    }
  }
  static void wipe(Elem& e) { lvWipe(e.v, sizeof e.v); }
};

template <unsigned int L>
LV_CLMUL void mulKernel(LvWord* work) {
  const unsigned int m = work[GF2N_MUL_DEG];
  const unsigned int N = m / 32 + 1;
  LvWord* w = work + GF2N_MUL_F;
  const LvWord* red = w + 4 * N;
  u64 a[L], b[L], c[2 * L], r[L];
  loadWords<L>(a, w + N, N);
  loadWords<L>(b, w + 2 * N, N);
  u64 diff = 0;
  for (unsigned int i = 0; i < L; i++) diff |= a[i] ^ b[i];
  // public values only come here (the ladder has its own field), so a
  // square may take its shorter road
  if (diff == 0)
    sqrWide<L>(c, a);
  else
    mulWide<L>(c, a, b);
  unsigned int terms[4];
  for (unsigned int j = 0; j < 4; j++) terms[j] = red[1 + j];
  reduceWide<L>(r, c, m, terms, red[0]);
  storeWords(w + 3 * N, r, N);
}

template <unsigned int L>
LV_CLMUL void invKernel(LvWord* work) {
  const unsigned int m = work[GF2N_INV_DEG];
  const unsigned int N = m / 32 + 1;
  LvWord* w = work + GF2N_INV_F;
  Field<L> F;
  F.m = m;
  // the exponents below m from f itself (the invert area holds f only)
  for (unsigned int i = 0; i < N; i++) {
    for (LvWord bits = w[i]; bits != 0; bits &= bits - 1) {
      const unsigned int pos = 32 * i + static_cast<unsigned int>(__builtin_ctz(bits));
      if (pos < m && F.count < 4) F.terms[F.count++] = pos;
    }
  }
  typename Field<L>::Elem x, r;
  loadWords<L>(x.v, w + 2 * N, N);
  lve2nladder::inverse(F, r, x, m);
  storeWords(w + N, r.v, N);
}

template <unsigned int L>
void ladderRun(const LvGF2nField& fld, const LvWord* x, const LvWord* b, const LvWord* k,
               unsigned int t, LvWord* out) {
  Field<L> F;
  F.m = fld.getDegree();
  F.count = fld.getReductionTermCount();
  for (unsigned int j = 0; j < F.count; j++) F.terms[j] = fld.getReductionTerms()[j];
  const unsigned int n = fld.getWords();
  typename Field<L>::Elem X, B, R;
  loadWords<L>(X.v, x, n);
  loadWords<L>(B.v, b, n);
  lve2nladder::ladderX(F, R, X, B, k, t, F.m);
  storeWords(out, R.v, n);
  Field<L>::wipe(R);
}

struct Kernels {
  LvGF2nMulFn multiply;
  LvGF2nInvFn invert;
  void (*ladder)(const LvGF2nField&, const LvWord*, const LvWord*, const LvWord*, unsigned int,
                 LvWord*);
};

#define LV_CLMUL_KERNELS(L) \
  { mulKernel<L>, invKernel<L>, ladderRun<L> }
const Kernels kKernels[lvgf2nclmul::kMaxLimbs - 1] = {
    LV_CLMUL_KERNELS(2), LV_CLMUL_KERNELS(3), LV_CLMUL_KERNELS(4), LV_CLMUL_KERNELS(5),
    LV_CLMUL_KERNELS(6), LV_CLMUL_KERNELS(7), LV_CLMUL_KERNELS(8), LV_CLMUL_KERNELS(9)};
#undef LV_CLMUL_KERNELS

// The kernels of a word count: 2..kMaxLimbs limbs; null otherwise.
const Kernels* kernelsOf(unsigned int words) {
  const unsigned int L = limbsOfWords(words);
  return L >= 2 && L <= lvgf2nclmul::kMaxLimbs ? &kKernels[L - 2] : nullptr;
}

}  // namespace

namespace lvgf2nclmul {

bool suits(const LvGF2nField& f) {
  if (!lvcpu::hasPclmul() || f.isEmpty()) return false;
  const unsigned int count = f.getReductionTermCount();
  const unsigned int L = limbsOfWords(f.getWords());
  if (count == 0 || L < 2 || L > kMaxLimbs) return false;
  return f.getDegree() - f.getReductionTerms()[count - 1] >= 64;
}

LvGF2nMulFn multiplyKernel(unsigned int words) {
  const Kernels* k = kernelsOf(words);
  return k ? k->multiply : nullptr;
}

LvGF2nInvFn invertKernel(unsigned int words) {
  const Kernels* k = kernelsOf(words);
  return k ? k->invert : nullptr;
}

bool ladderX(const LvGF2nField& f, const LvWord* x, const LvWord* b, const LvWord* k,
             unsigned int t, LvWord* out) {
  if (!suits(f)) return false;
  kernelsOf(f.getWords())->ladder(f, x, b, k, t, out);
  return true;
}

}  // namespace lvgf2nclmul

#else  // no carry-less multiplication on this processor family

namespace lvgf2nclmul {
bool suits(const LvGF2nField&) { return false; }
LvGF2nMulFn multiplyKernel(unsigned int) { return nullptr; }
LvGF2nInvFn invertKernel(unsigned int) { return nullptr; }
bool ladderX(const LvGF2nField&, const LvWord*, const LvWord*, const LvWord*, unsigned int,
             LvWord*) {
  return false;
}
}  // namespace lvgf2nclmul

#endif
