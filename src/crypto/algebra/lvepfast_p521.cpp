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

namespace p521ifma {
#define LV_IFMA __attribute__((target("avx512f,avx512ifma"), always_inline)) inline
#define LV_IFMA_OUT __attribute__((target("avx512f,avx512ifma")))

// A value in two registers: limbs 0..7 in lo, limbs 8..10 in lanes 0..2 of
// hi (its other lanes 0).
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

// One carry step on every limb at once: limbs 0..9 keep 52 bits, limb 10
// keeps 1 and its excess (2^521 = 1) goes to limb 0.
LV_IFMA void carryStep(V& v) {
  const __m512i m52 = _mm512_set1_epi64((long long)P521FieldIfma::M52);
  const __m512i shHi = _mm512_set_epi64(63, 63, 63, 63, 63, 1, 52, 52);
  const __m512i mHi = _mm512_set_epi64(0, 0, 0, 0, 0, 1, (long long)P521FieldIfma::M52,
                                       (long long)P521FieldIfma::M52);
  const __m512i cLo = _mm512_srli_epi64(v.lo, 52), cHi = _mm512_srlv_epi64(v.hi, shHi);
  const __m512i top = _mm512_permutexvar_epi64(_mm512_set1_epi64(2), cHi);
  v.lo = _mm512_add_epi64(_mm512_and_si512(v.lo, m52), _mm512_alignr_epi64(cLo, top, 7));
  v.hi = _mm512_add_epi64(_mm512_and_si512(v.hi, mHi), _mm512_maskz_alignr_epi64(0x07, cHi, cLo, 7));
}

// The last step, for limbs 0..9 below 2^53 and limb 10 at most 2: each
// limb's carry is at most 1, and a carry runs on through the limbs that are
// all ones; the carries of all limbs at once by one addition of bit masks
// (generate + propagate). Limb 10 takes the last one (so it stays at most 3).
LV_IFMA void carryLast(V& v) {
  const __m512i m52 = _mm512_set1_epi64((long long)P521FieldIfma::M52);
  const __m512i mHi = _mm512_set_epi64(0, 0, 0, 0, 0, -1, (long long)P521FieldIfma::M52,
                                       (long long)P521FieldIfma::M52);
  const unsigned gen = (unsigned)_mm512_cmpgt_epu64_mask(v.lo, m52) |
                       ((unsigned)_mm512_mask_cmpgt_epu64_mask(0x03, v.hi, m52) << 8);
  v.lo = _mm512_and_si512(v.lo, m52);
  v.hi = _mm512_and_si512(v.hi, mHi);
  const unsigned prop = (unsigned)_mm512_cmpeq_epu64_mask(v.lo, m52) |
                        ((unsigned)_mm512_mask_cmpeq_epu64_mask(0x03, v.hi, m52) << 8);
  const unsigned in = (((gen << 1) + prop) ^ prop) & 0x7FF;
  const __m512i one = _mm512_set1_epi64(1);
  v.lo = _mm512_and_si512(_mm512_mask_add_epi64(v.lo, (__mmask8)in, v.lo, one), m52);
  v.hi = _mm512_and_si512(_mm512_mask_add_epi64(v.hi, (__mmask8)(in >> 8), v.hi, one), mHi);
}

// 4p in limbs each at least the largest limb of a normalised value.
LV_IFMA V fourP() {
  const long long m = (long long)(4 * P521FieldIfma::M52);
  return V{_mm512_set1_epi64(m), _mm512_set_epi64(0, 0, 0, 0, 0, 4, m, m)};
}

LV_IFMA_OUT void add(u64* r, const u64* a, const u64* b) {
  const V x = loadV(a), y = loadV(b);
  V s{_mm512_add_epi64(x.lo, y.lo), _mm512_add_epi64(x.hi, y.hi)};
  // limbs below 2^53, limb 10 at most 6: one step leaves limb 10 at most 2
  carryStep(s);
  carryLast(s);
  storeV(r, s);
}

LV_IFMA_OUT void sub(u64* r, const u64* a, const u64* b) {
  const V x = loadV(a), y = loadV(b), q = fourP();
  V d{_mm512_sub_epi64(_mm512_add_epi64(x.lo, q.lo), y.lo),
      _mm512_sub_epi64(_mm512_add_epi64(x.hi, q.hi), y.hi)};
  // limbs below 2^55, limb 10 at most 7: two steps leave limb 10 at most 2
  carryStep(d);
  carryStep(d);
  carryLast(d);
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

LV_IFMA_OUT void product(u64* r, const u64* a, const u64* b) {
  const V y = loadV(b);
  const __m512i z = _mm512_setzero_si512();
  // columns 0..23 of the 52-bit partial products: the low halves of a_i b_j
  // at column i + j, the high halves at i + j + 1; lo and hi sums apart, so
  // six chains of additions run side by side
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
  const __m512i c0 = _mm512_add_epi64(_mm512_add_epi64(l0[0], h0[0]), _mm512_add_epi64(l0[1], h0[1])),
                c1 = _mm512_add_epi64(_mm512_add_epi64(l1[0], h1[0]), _mm512_add_epi64(l1[1], h1[1])),
                c2 = _mm512_add_epi64(_mm512_add_epi64(l2[0], h2[0]), _mm512_add_epi64(l2[1], h2[1]));
  // Columns below 22 * 2^52. Those from 11 up weigh 2^572 = 2^51 (mod p)
  // times 2^(52(k - 11)): half of each (shifted right by one) goes a limb
  // up, its low bit to bit 51 of its own limb. Column 21 is 0 (limb 10 of
  // the factors is at most 3).
  const __m512i hLo = _mm512_alignr_epi64(c2, c1, 3);              // columns 11..18
  const __m512i hHi = _mm512_maskz_alignr_epi64(0x07, z, c2, 3);   // columns 19..21
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i sLo = _mm512_srli_epi64(hLo, 1), sHi = _mm512_srli_epi64(hHi, 1);
  V v;
  v.lo = _mm512_add_epi64(_mm512_add_epi64(c0, _mm512_slli_epi64(_mm512_and_si512(hLo, one), 51)),
                          _mm512_alignr_epi64(sLo, z, 7));
  v.hi = _mm512_maskz_add_epi64(
      0x07, _mm512_add_epi64(c1, _mm512_slli_epi64(_mm512_and_si512(hHi, one), 51)),
      _mm512_alignr_epi64(sHi, sLo, 7));
  // limbs below 2^58: the first step leaves limb 0 below 2^58 and the others
  // 2^6 above their width, the second all within 2^53 and limb 10 at most 2
  carryStep(v);
  carryStep(v);
  carryLast(v);
  storeV(r, v);
}
#undef LV_IFMA
#undef LV_IFMA_OUT
}  // namespace p521ifma
#endif

std::unique_ptr<Curve> makeP521(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path) {
  // Not the IFMA field by default: its product is about as fast as MULX's,
  // but every sum and difference must be normalised for the next product
  // (a carry chain of some 25 cycles where the 58-bit limbs need 4), and the
  // point formulas wait on them; a verification takes about 1.5 times as
  // long with it on AMD Zen 4.
  if (path == FieldPath::kAuto) path = lvcpu::hasBmi2() ? FieldPath::kMulx : FieldPath::kPortable;
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
