// The public RSA operation (x^e mod n, everything public) on the AVX-512 IFMA multiply-add:
// 52-bit digits, eight to a register, and the almost-Montgomery product of radix
// R' = 2^(52 D), with D digits enough that 4n <= R'. Then every product of values below 2n
// is again below 2n, so the chain of squarings needs no subtraction at all and only the
// result is reduced exactly. Variable time: secrets never come here.
#include <cstring>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/basic/lvcpu.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define LONGV_IFMA_PUB 1
#endif

namespace {

const uint64_t kMask52 = (uint64_t(1) << 52) - 1;
// Moduli from 1024 to 7040 bits: up to 136 digits, 17 registers.
const LvWordLen kMinWords = 32;
const LvWordLen kMaxWords = 220;
const int kMaxRegs = 17;
const int kMaxLanes = 8 * kMaxRegs;

// k words into `lanes` digits (zero above the value): digit i is the 64 bits from octet
// 6.5 i, shifted and masked, read from a copy with room above.
void toDigits(uint64_t* d, int lanes, const LvWord* w, LvWordLen k) {
  LvWord pad[kMaxWords + 4] = {};
  longvCopy(pad, w, k);
  const unsigned char* octets = reinterpret_cast<const unsigned char*>(pad);
  const int used = static_cast<int>((32 * k + 51) / 52);
  for (int i = 0; i < lanes; ++i) {
    uint64_t v = 0;
    if (i < used) {
      std::memcpy(&v, octets + (13 * i) / 2, sizeof v);
      v = (v >> (4 * (i & 1))) & kMask52;
    }
    d[i] = v;
  }
}

// Normalised digits into k words (the digits' value must fit them).
void fromDigits(LvWord* w, LvWordLen k, const uint64_t* d, int digits) {
  for (LvWordLen i = 0; i < k; ++i) {
    const unsigned int bit = 32u * i;
    const unsigned int di = bit / 52, off = bit % 52;
    uint64_t v = static_cast<int>(di) < digits ? d[di] >> off : 0;
    if (off > 20 && static_cast<int>(di) + 1 < digits) v |= d[di + 1] << (52 - off);
    w[i] = static_cast<LvWord>(v);
  }
}

// Sums of digits (each below 2^64) carried into normalised digits; c enters at digit 0.
void normalise(uint64_t* r, const uint64_t* t, int digits, uint64_t c) {
  for (int i = 0; i < digits; ++i) {
    const uint64_t v = t[i] + c;
    r[i] = v & kMask52;
    c = v >> 52;
  }
}

#ifdef LONGV_IFMA_PUB
bool haveIfma() { return lvcpu::hasAvx512Ifma() && lvcpu::hasAvx512Vl(); }

// longvAmm52Portable's product on V registers of eight digits (lanes D..8V-1 of a and n are
// zero, and so stay those of the sum). Per digit of b: the low halves of a b_i and m n go to
// their digits, the high halves to the digit above (added after the shift that drops digit 0).
// Digit 0, the one m is made from, is followed in a scalar register: the next one is digit 1
// (read from the vector before the row, so it waits on the previous row's m only) plus this
// row's four terms for it, made by scalar products. So m follows m by a few scalar steps
// instead of a trip through the vector unit; the vector's own digit 0, which would miss the
// carries, is never read but at the end (with the last carry).
template <int V>
__attribute__((target("avx512f,avx512vl,avx512ifma"))) void ammVec(uint64_t* r, const uint64_t* a,
                                                                   const uint64_t* b,
                                                                   const uint64_t* n,
                                                                   uint64_t k0, int D) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i x[V];
  for (int j = 0; j < V; ++j) x[j] = zero;
  const uint64_t a0 = a[0], a1 = a[1], n0 = n[0], n1 = n[1];
  uint64_t low = (a0 * b[0]) & kMask52;  // digit 0 of the sum after a b_i is added
  uint64_t m = (low * k0) & kMask52;
  uint64_t c = 0;
  for (int i = 0; i < D; ++i) {
    const uint64_t bi = b[i];
    const __m512i bv = _mm512_set1_epi64(static_cast<long long>(bi));
    const __m512i mv = _mm512_set1_epi64(static_cast<long long>(m));
    const uint64_t d1 = static_cast<uint64_t>(_mm_extract_epi64(_mm512_maskz_extracti32x4_epi32(0xF, x[0], 0), 1));
    const LvDWord64 pn = static_cast<LvDWord64>(n0) * m;
    const LvDWord64 pa = static_cast<LvDWord64>(a0) * bi;
    c = (low + (static_cast<uint64_t>(pn) & kMask52)) >> 52;
    // Digit 0 of the next row's sum, before its own a b_i.
    const uint64_t next = d1 + ((a1 * bi) & kMask52) + static_cast<uint64_t>(pa >> 52) +
                          ((n1 * m) & kMask52) + static_cast<uint64_t>(pn >> 52) + c;
    __m512i y[V];
#pragma GCC unroll 17
    for (int j = 0; j < V; ++j) {
      const __m512i aj = _mm512_loadu_si512(a + 8 * j);
      x[j] = _mm512_madd52lo_epu64(x[j], aj, bv);
      y[j] = _mm512_madd52hi_epu64(zero, aj, bv);
    }
#pragma GCC unroll 17
    for (int j = 0; j < V; ++j) {
      const __m512i nj = _mm512_loadu_si512(n + 8 * j);
      x[j] = _mm512_madd52lo_epu64(x[j], nj, mv);
      y[j] = _mm512_madd52hi_epu64(y[j], nj, mv);
    }
#pragma GCC unroll 17
    for (int j = 0; j + 1 < V; ++j)
      x[j] = _mm512_add_epi64(_mm512_maskz_alignr_epi64(0xFF, x[j + 1], x[j], 1), y[j]);
    x[V - 1] = _mm512_add_epi64(_mm512_maskz_alignr_epi64(0xFF, zero, x[V - 1], 1), y[V - 1]);
    if (i + 1 < D) {
      low = next + ((a0 * b[i + 1]) & kMask52);
      m = (low * k0) & kMask52;
    }
  }
  alignas(64) uint64_t t[8 * V];
  for (int j = 0; j < V; ++j) _mm512_store_si512(t + 8 * j, x[j]);
  normalise(r, t, D, c);
}

typedef void (*AmmFn)(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, uint64_t,
                      int);

AmmFn vectorKernel(int V) {
  switch (V) {
    case 3: return ammVec<3>;
    case 4: return ammVec<4>;
    case 5: return ammVec<5>;
    case 6: return ammVec<6>;
    case 7: return ammVec<7>;
    case 8: return ammVec<8>;
    case 9: return ammVec<9>;
    case 10: return ammVec<10>;
    case 11: return ammVec<11>;
    case 12: return ammVec<12>;
    case 13: return ammVec<13>;
    case 14: return ammVec<14>;
    case 15: return ammVec<15>;
    case 16: return ammVec<16>;
    default: return ammVec<17>;
  }
}
#else
bool haveIfma() { return false; }
#endif

// One modulus's digits and the product chosen for it.
struct Domain {
  int D = 0;      // digits of R'
  int lanes = 0;  // 8 per register
  uint64_t k0 = 0;
  bool vector = false;
#ifdef LONGV_IFMA_PUB
  AmmFn fn = nullptr;
#endif
  alignas(64) uint64_t n[kMaxLanes];

  void mul(uint64_t* r, const uint64_t* a, const uint64_t* b) const {
#ifdef LONGV_IFMA_PUB
    if (vector) return fn(r, a, b, n, k0, D);
#endif
    longvAmm52Portable(r, a, b, n, k0, D);
  }
};

bool setUp(Domain& dom, const LvWord* n, LvWordLen k, bool vector) {
  dom.D = static_cast<int>((32 * k + 2 + 51) / 52);
  const int regs = (dom.D + 7) / 8;
  if (regs > kMaxRegs) return false;
  dom.lanes = 8 * regs;
  dom.vector = vector;
#ifdef LONGV_IFMA_PUB
  dom.fn = vectorKernel(regs);
#endif
  uint64_t inv = 1;
  const uint64_t nl = longvLoad64(n);
  for (int i = 0; i < 6; ++i) inv *= 2 - nl * inv;
  dom.k0 = (0 - inv) & kMask52;
  toDigits(dom.n, dom.lanes, n, k);
  return true;
}

}  // namespace

bool longvIfmaPublicAllowed = true;

// Digit by digit with 128-bit sums: the value the vector forms give. The private road's
// product runs on it too, hence the wipe.
void longvAmm52Portable(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n,
                        uint64_t k0, int D) {
  unsigned __int128 x[kMaxLanes + 1] = {};
  for (int i = 0; i < D; ++i) {
    for (int j = 0; j < D; ++j) x[j] += static_cast<unsigned __int128>(a[j]) * b[i];
    const uint64_t m = ((static_cast<uint64_t>(x[0]) & kMask52) * k0) & kMask52;
    for (int j = 0; j < D; ++j) x[j] += static_cast<unsigned __int128>(m) * n[j];
    const unsigned __int128 carry = x[0] >> 52;
    for (int j = 0; j < D; ++j) x[j] = x[j + 1];
    x[0] += carry;
  }
  unsigned __int128 c = 0;
  for (int i = 0; i < D; ++i) {
    c += x[i];
    r[i] = static_cast<uint64_t>(c) & kMask52;
    c >>= 52;
  }
  longvWipeLocal(x, sizeof x);
}

bool longvAmm52ForTest(uint64_t* r, const uint64_t* a, const uint64_t* b, const LvWord* n,
                       LvWordLen k, bool vector) {
  if (k < kMinWords || k > kMaxWords || (n[0] & 1u) == 0) return false;
  if (vector && !haveIfma()) return false;
  Domain dom;
  if (!setUp(dom, n, k, vector)) return false;
  alignas(64) uint64_t ad[kMaxLanes] = {}, bd[kMaxLanes] = {}, rd[kMaxLanes] = {};
  std::memcpy(ad, a, sizeof(uint64_t) * static_cast<size_t>(dom.D));
  std::memcpy(bd, b, sizeof(uint64_t) * static_cast<size_t>(dom.D));
  dom.mul(rd, ad, bd);
  std::memcpy(r, rd, sizeof(uint64_t) * static_cast<size_t>(dom.D));
  return true;
}

bool longvPowPublicIfma(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k,
                        const LvWord* e, LvWordLen ne) {
  if (k < kMinWords || k > kMaxWords || n == nullptr || x == nullptr || e == nullptr ||
      (n[0] & 1u) == 0 || n[k - 1] == 0)
    return false;
  const LvWordLen eLen = longvSigLen(e, ne);
  if (eLen == 0) return false;
  if (!longvIfmaPublicAllowed) return false;
  const bool vector = haveIfma() && longvRowAsmAllowed;
  if (!vector && !longvIfmaEmulated) return false;
  Domain dom;
  if (!setUp(dom, n, k, vector)) return false;
  // The base in the domain (x R' mod n, by limbs: no R'^2 to make), the plain base for the last
  // product, the accumulator and the constant 1.
  alignas(64) uint64_t base[kMaxLanes] = {}, plain[kMaxLanes] = {}, acc[kMaxLanes] = {};
  LvWord w[kMaxWords + 2];
  longvMulPow2Public(w, x, n, k, 52u * static_cast<unsigned int>(dom.D));
  toDigits(base, dom.lanes, w, k);
  toDigits(plain, dom.lanes, x, k);
  std::memcpy(acc, base, sizeof acc);
  const unsigned int top = 32 * (eLen - 1) + (31 - static_cast<unsigned int>(__builtin_clz(e[eLen - 1])));
  // An odd exponent's last product takes the plain base: x^(e-1) R' x / R' leaves the domain
  // without a product of its own.
  const bool oddTail = (e[0] & 1u) != 0 && top > 0;
  const unsigned int lowest = oddTail ? 1 : 0;
  for (unsigned int i = top; i-- > lowest;) {
    dom.mul(acc, acc, acc);
    if ((e[i / 32] >> (i % 32)) & 1u) dom.mul(acc, acc, base);
  }
  if (oddTail) {
    dom.mul(acc, acc, acc);
    dom.mul(acc, acc, plain);
  } else {
    alignas(64) uint64_t one[kMaxLanes] = {};
    one[0] = 1;
    dom.mul(acc, acc, one);
  }
  // Below 2n (below n + n/2 after the plain base): one subtraction makes it exact.
  fromDigits(w, k + 1, acc, dom.D);
  if (w[k] != 0 || longvCmp(w, n, k) >= 0) longvSub(w, n, k, 0);
  longvCopy(out, w, k);
  return true;
}
