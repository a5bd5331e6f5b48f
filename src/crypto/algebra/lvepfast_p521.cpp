// Scalar multiplication engine for the field of 2^521 - 1: the portable
// field, or the one whose products use MULX where the processor has it.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {
namespace engine {

#if defined(__x86_64__)
namespace p521mulx {
__attribute__((target("bmi2"))) void product(u64* r, const u64* a, const u64* b) {
  P521Field::product(r, a, b);
}
__attribute__((target("bmi2"))) void square(u64* r, const u64* a) { P521Field::square(r, a); }
}  // namespace p521mulx

// GCC 12's AVX-512 intrinsics fill unused operands with a deliberately
// undefined value, which its own uninitialised-use warning then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace p521ifma {
#define LV_IFMA __attribute__((target("avx512f,avx512ifma"), always_inline)) inline
#define LV_IFMA_OUT __attribute__((target("avx512f,avx512ifma")))

// A value in two registers: limbs 0..7 in lo, limbs 8..10 in lanes 0..2 of
// hi (its other lanes 0). The products take 52 bits of each limb: the
// limbs' 50 bits leave room for the sums and differences, which then need one
// carry step only.
struct V {
  __m512i lo, hi;
};

LV_IFMA V loadV(const u64* a) {
  return V{_mm512_loadu_si512(a), _mm512_zextsi256_si512(_mm256_loadu_si256((const __m256i*)(a + 8)))};
}
LV_IFMA void storeV(u64* r, const V& v) {
  _mm512_storeu_si512(r, v.lo);
  _mm256_storeu_si256((__m256i*)(r + 8), _mm512_castsi512_si256(v.hi));
}

// One carry step on every limb at once: limbs 0..9 keep 50 bits, limb 10
// keeps 21 and its excess (2^521 = 1) goes to limb 0. Limbs below 2^58 in,
// the bounds of a field value out (limb 0 below 2^50 + 2^37, the others
// 2^8 above their width).
LV_IFMA void carryStep(V& v) {
  const long long m50 = (long long)P521FieldIfma::M50, m21 = (1LL << 21) - 1;
  const __m512i shHi = _mm512_set_epi64(63, 63, 63, 63, 63, 21, 50, 50);
  const __m512i mHi = _mm512_set_epi64(0, 0, 0, 0, 0, m21, m50, m50);
  const __m512i cLo = _mm512_srli_epi64(v.lo, 50), cHi = _mm512_srlv_epi64(v.hi, shHi);
  const __m512i top = _mm512_permutexvar_epi64(_mm512_set1_epi64(2), cHi);
  v.lo = _mm512_add_epi64(_mm512_and_si512(v.lo, _mm512_set1_epi64(m50)),
                          _mm512_alignr_epi64(cLo, top, 7));
  v.hi = _mm512_add_epi64(_mm512_and_si512(v.hi, mHi), _mm512_maskz_alignr_epi64(0x07, cHi, cLo, 7));
}

// 4p in limbs each above the largest limb of a field value.
LV_IFMA V fourP() {
  const long long m = (long long)(4 * P521FieldIfma::M50);
  return V{_mm512_set1_epi64(m), _mm512_set_epi64(0, 0, 0, 0, 0, (4LL << 21) - 4, m, m)};
}

LV_IFMA_OUT void add(u64* r, const u64* a, const u64* b) {
  const V x = loadV(a), y = loadV(b);
  V s{_mm512_add_epi64(x.lo, y.lo), _mm512_add_epi64(x.hi, y.hi)};
  carryStep(s);
  storeV(r, s);
}

LV_IFMA_OUT void sub(u64* r, const u64* a, const u64* b) {
  const V x = loadV(a), y = loadV(b), q = fourP();
  V d{_mm512_sub_epi64(_mm512_add_epi64(x.lo, q.lo), y.lo),
      _mm512_sub_epi64(_mm512_add_epi64(x.hi, q.hi), y.hi)};
  carryStep(d);
  storeV(r, d);
}

// Register k (lanes 8k..8k+7) of the limbs of b moved up by s lanes; the
// registers of b are b0, b1 and zeros above. s is a constant once unrolled.
LV_IFMA __m512i shifted(__m512i b0, __m512i b1, int k, int s) {
  const __m512i z = _mm512_setzero_si512();
  const int whole = s / 8, part = s % 8;
  const int hi = k - whole, lo = hi - 1;
  const __m512i H = hi == 0 ? b0 : hi == 1 ? b1 : z;
  const __m512i L = lo == 0 ? b0 : lo == 1 ? b1 : z;
  switch (part) {
    case 0: return H;
    case 1: return _mm512_alignr_epi64(H, L, 7);
    case 2: return _mm512_alignr_epi64(H, L, 6);
    case 3: return _mm512_alignr_epi64(H, L, 5);
    case 4: return _mm512_alignr_epi64(H, L, 4);
    case 5: return _mm512_alignr_epi64(H, L, 3);
    case 6: return _mm512_alignr_epi64(H, L, 2);
    default: return _mm512_alignr_epi64(H, L, 1);
  }
}

// a·b; a's limbs are read from memory (each broadcast to a register).
LV_IFMA V productV(const u64* a, const V& y) {
  const __m512i z = _mm512_setzero_si512();
  // columns 0..23 of the partial products: the low 52 bits of a_i b_j at
  // column i + j, the high ones at i + j + 1; lo and hi sums apart, so that
  // twelve short chains of additions run side by side
  __m512i l0[2] = {z, z}, l1[2] = {z, z}, l2[2] = {z, z}, h0[2] = {z, z}, h1[2] = {z, z},
          h2[2] = {z, z};
  _Pragma("GCC unroll 11")
  for (int i = 0; i < 11; i++) {
    const __m512i ai = _mm512_set1_epi64((long long)a[i]);
    const int e = i & 1;  // even and odd i apart: chains half as long
    if (i < 8) l0[e] = _mm512_madd52lo_epu64(l0[e], ai, shifted(y.lo, y.hi, 0, i));
    l1[e] = _mm512_madd52lo_epu64(l1[e], ai, shifted(y.lo, y.hi, 1, i));
    if (i >= 6) l2[e] = _mm512_madd52lo_epu64(l2[e], ai, shifted(y.lo, y.hi, 2, i));
    if (i < 7) h0[e] = _mm512_madd52hi_epu64(h0[e], ai, shifted(y.lo, y.hi, 0, i + 1));
    h1[e] = _mm512_madd52hi_epu64(h1[e], ai, shifted(y.lo, y.hi, 1, i + 1));
    if (i >= 5) h2[e] = _mm512_madd52hi_epu64(h2[e], ai, shifted(y.lo, y.hi, 2, i + 1));
  }
  // the high halves weigh 2^52 = 4 limbs' worth over their column
  const __m512i c0 = _mm512_add_epi64(_mm512_add_epi64(l0[0], l0[1]),
                                      _mm512_slli_epi64(_mm512_add_epi64(h0[0], h0[1]), 2)),
                c1 = _mm512_add_epi64(_mm512_add_epi64(l1[0], l1[1]),
                                      _mm512_slli_epi64(_mm512_add_epi64(h1[0], h1[1]), 2)),
                c2 = _mm512_add_epi64(_mm512_add_epi64(l2[0], l2[1]),
                                      _mm512_slli_epi64(_mm512_add_epi64(h2[0], h2[1]), 2));
  // Columns below 2^57. Those from 11 up weigh 2^550 = 2^29 (mod p) times
  // 2^(50(k - 11)): the low 21 bits of each go to bits 29.. of its own limb,
  // the rest a limb up. Column 21 is 0 (limb 10 of the factors is below 2^22).
  const __m512i hLo = _mm512_alignr_epi64(c2, c1, 3);             // columns 11..18
  const __m512i hHi = _mm512_maskz_alignr_epi64(0x07, z, c2, 3);  // columns 19..21
  const __m512i m21 = _mm512_set1_epi64((1LL << 21) - 1);
  const __m512i sLo = _mm512_srli_epi64(hLo, 21), sHi = _mm512_srli_epi64(hHi, 21);
  V v;
  v.lo = _mm512_add_epi64(_mm512_add_epi64(c0, _mm512_slli_epi64(_mm512_and_si512(hLo, m21), 29)),
                          _mm512_alignr_epi64(sLo, z, 7));
  v.hi = _mm512_maskz_add_epi64(
      0x07, _mm512_add_epi64(c1, _mm512_slli_epi64(_mm512_and_si512(hHi, m21), 29)),
      _mm512_alignr_epi64(sHi, sLo, 7));
  carryStep(v);
  return v;
}

LV_IFMA_OUT void product(u64* r, const u64* a, const u64* b) { storeV(r, productV(a, loadV(b))); }

// The same on values in registers.
LV_IFMA V mulV(const V& a, const V& b) {
  alignas(64) u64 t[16];
  storeV(t, a);
  return productV(t, b);
}
LV_IFMA V addV(const V& a, const V& b) {
  V s{_mm512_add_epi64(a.lo, b.lo), _mm512_add_epi64(a.hi, b.hi)};
  carryStep(s);
  return s;
}
LV_IFMA V subV(const V& a, const V& b) {
  const V q = fourP();
  V d{_mm512_sub_epi64(_mm512_add_epi64(a.lo, q.lo), b.lo),
      _mm512_sub_epi64(_mm512_add_epi64(a.hi, q.hi), b.hi)};
  carryStep(d);
  return d;
}
// a·2^k for k = 1..3: limbs below 2^54 before the carry step.
template <int k>
LV_IFMA V shlV(const V& a) {
  V s{_mm512_slli_epi64(a.lo, k), _mm512_slli_epi64(a.hi, k)};
  carryStep(s);
  return s;
}
LV_IFMA V times3V(const V& a) {
  V s{_mm512_add_epi64(_mm512_slli_epi64(a.lo, 1), a.lo),
      _mm512_add_epi64(_mm512_slli_epi64(a.hi, 1), a.hi)};
  carryStep(s);
  return s;
}

// The doubling of a Jacobian point on a curve with a = -3, the engine's
// formula, with every value kept in registers.
LV_IFMA_OUT void dblMinus3(u64* x3, u64* y3, u64* z3, const u64* x1, const u64* y1,
                           const u64* z1) {
  const V x = loadV(x1), y = loadV(y1), z = loadV(z1);
  const V zz = mulV(z, z), yy = mulV(y, y), yz = mulV(y, z);
  const V m = times3V(mulV(subV(x, zz), addV(x, zz)));  // 3(X - Z^2)(X + Z^2)
  const V s = shlV<2>(mulV(x, yy));                     // 4XY^2
  const V rx = subV(mulV(m, m), shlV<1>(s));
  const V ry = subV(mulV(m, subV(s, rx)), shlV<3>(mulV(yy, yy)));
  storeV(x3, rx);
  storeV(y3, ry);
  storeV(z3, shlV<1>(yz));
}
#undef LV_IFMA
#undef LV_IFMA_OUT
}  // namespace p521ifma
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

std::unique_ptr<Curve> makeP521(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path) {
  if (path == FieldPath::kAuto)
    path = lvcpu::hasAvx512Ifma() ? FieldPath::kIfma
           : lvcpu::hasBmi2()     ? FieldPath::kMulx
                                  : FieldPath::kPortable;
#if defined(__x86_64__)
  if (path == FieldPath::kIfma) {
    if (!lvcpu::hasAvx512Ifma()) return nullptr;
    return std::unique_ptr<Curve>(new Engine<P521FieldIfma>(p, a, b, words));
  }
  if (path == FieldPath::kMulx) {
    if (!lvcpu::hasBmi2()) return nullptr;
    return std::unique_ptr<Curve>(new Engine<P521FieldMulx>(p, a, b, words));
  }
#endif
  if (path == FieldPath::kPortable)
    return std::unique_ptr<Curve>(new Engine<P521Field>(p, a, b, words));
  return nullptr;
}

}  // namespace engine
}  // namespace lvepfast
