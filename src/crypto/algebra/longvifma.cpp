// Modular exponentiation for 1024-bit odd moduli (the halves of RSA-2048 keys) with the
// AVX-512 IFMA multiply-add instructions: 52-bit digits, 20 of them, in three vector
// registers, and the almost-Montgomery product of radix R' = 2^1040 (its results stay below
// 2n, which is all the next product needs). The exponentiation runs wholly in that domain,
// so the residues' own Montgomery form (R = 2^1024) is untouched.
#include <cstring>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvcpu.h"

// The vector code is compiled for its instruction set function by function and runs only
// after the processor has been asked.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define LONGV_IFMA 1
#endif

namespace {

const int kDigits = 20;  // 52-bit digits of a 1040-bit value
const int kLanes = 24;   // three registers of eight
const uint64_t kMask52 = (uint64_t(1) << 52) - 1;

// 32 words (below 2^1024) into 20 digits; lanes 20..23 zero.
void toDigits(uint64_t* d, const LvWord* w) {
  for (int i = 0; i < kLanes; ++i) d[i] = 0;
  for (int i = 0; i < kDigits; ++i) {
    const unsigned int bit = 52u * static_cast<unsigned int>(i);
    uint64_t v = 0;
    for (unsigned int b = 0; b < 52; b += 32 - (bit + b) % 32) {
      const unsigned int pos = bit + b;
      if (pos >= 1024) break;
      v |= static_cast<uint64_t>(w[pos / 32] >> (pos % 32)) << b;
    }
    d[i] = v & kMask52;
  }
}

// 20 normalised digits (a value below 2^1024) into 32 words.
void fromDigits(LvWord* w, const uint64_t* d) {
  for (int i = 0; i < 32; ++i) {
    const unsigned int bit = 32u * static_cast<unsigned int>(i);
    const unsigned int di = bit / 52, off = bit % 52;
    uint64_t v = d[di] >> off;
    if (off > 20 && di + 1 < kDigits) v |= d[di + 1] << (52 - off);
    w[i] = static_cast<LvWord>(v);
  }
}

// One almost-Montgomery product per stream (see ammN below for the vector form).
struct AmmArgs {
  uint64_t* r;
  const uint64_t* a;
  const uint64_t* b;
  const uint64_t* n;
  uint64_t k0;
};

// The same product in portable code, digit by digit with 128-bit sums: the value is the one
// the vector form gives, so the exponentiation's logic can be tested on any processor.
void ammScalar(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n, uint64_t k0) {
  longvAmm52Portable(r, a, b, n, k0, kDigits);
  for (int i = kDigits; i < kLanes; ++i) r[i] = 0;
}

#ifdef LONGV_IFMA
bool haveIfma() { return lvcpu::hasAvx512Ifma() && lvcpu::hasAvx512Vl(); }

// GCC 12's AVX-512 intrinsics fill unused operands with a deliberately undefined value,
// which its own uninitialised-use warning then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The sums (lanes below 2^64, a value below 2^1040) into normalised digits at r, lanes 20..23
// zero. One carry step leaves every lane at most 2^52 + 2^12 - 2, so the second step's carries
// are single bits: a lane above 2^52 - 1 makes one, a lane equal to it passes one on. The
// lanes that receive one come from one integer addition over the lane masks (as a carry runs
// through a row of one bits), so nothing here branches on the values.
__attribute__((target("avx512f,avx512vl"), always_inline)) inline void normalise(
    uint64_t* r, __m512i x0, __m512i x1, __m256i x2) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  const __m256i mask4 = _mm512_castsi512_si256(mask);
  const __m512i c0 = _mm512_srli_epi64(x0, 52), c1 = _mm512_srli_epi64(x1, 52);
  const __m256i c2 = _mm256_srli_epi64(x2, 52);
  x0 = _mm512_add_epi64(_mm512_and_si512(x0, mask), _mm512_alignr_epi64(c0, zero, 7));
  x1 = _mm512_add_epi64(_mm512_and_si512(x1, mask), _mm512_alignr_epi64(c1, c0, 7));
  x2 = _mm256_add_epi64(_mm256_and_si256(x2, mask4),
                        _mm256_alignr_epi64(c2, _mm512_extracti64x4_epi64(c1, 1), 3));
  const uint32_t g = static_cast<uint32_t>(_mm512_cmpgt_epu64_mask(x0, mask)) |
                     (static_cast<uint32_t>(_mm512_cmpgt_epu64_mask(x1, mask)) << 8) |
                     (static_cast<uint32_t>(_mm256_cmpgt_epu64_mask(x2, mask4)) << 16);
  const uint32_t p = static_cast<uint32_t>(_mm512_cmpeq_epu64_mask(x0, mask)) |
                     (static_cast<uint32_t>(_mm512_cmpeq_epu64_mask(x1, mask)) << 8) |
                     (static_cast<uint32_t>(_mm256_cmpeq_epu64_mask(x2, mask4)) << 16);
  const uint32_t in = ((g << 1) + p) ^ p;
  // x + 1 and x - (2^52 - 1) agree below bit 52.
  x0 = _mm512_and_si512(_mm512_mask_sub_epi64(x0, static_cast<__mmask8>(in), x0, mask), mask);
  x1 = _mm512_and_si512(_mm512_mask_sub_epi64(x1, static_cast<__mmask8>(in >> 8), x1, mask),
                        mask);
  x2 = _mm256_and_si256(_mm256_mask_sub_epi64(x2, static_cast<__mmask8>(in >> 16), x2, mask4),
                        mask4);
  _mm512_storeu_si512(r, x0);
  _mm512_storeu_si512(r + 8, x1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + 16), x2);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + 20), _mm256_setzero_si256());
}


// One almost-Montgomery product per stream, S independent streams interleaved so that each
// hides the others' latency: r = a * b / 2^1040 (mod n), below 2n, normalised digits; a, b
// normalised and below 2n (n below 2^1024); k0 = -n^-1 mod 2^52. r may be a or b.
// Digits 0..15 sit in two 512-bit registers, 16..19 in a 256-bit one: a full third register
// would be half zeros and cost as much as the others.
// Digit 0 is kept in a scalar register with its whole carry: m needs nothing else, and the
// high halves of digit 0's products go into that register at once, so the high products can
// be added straight into the shifted sums (no separate sum of high halves and no vector
// carry). The vector's lane 0 is then stale until the end, where the scalar replaces it.
template <int S>
__attribute__((target("avx512f,avx512vl,avx512ifma"), always_inline)) inline void ammN(
    const AmmArgs* args) {
  const __m512i zero = _mm512_setzero_si512();
  const __m256i zero4 = _mm256_setzero_si256();
  __m512i a[S][2], n[S][2], x[S][2];
  __m256i a2[S], n2[S], x2[S];
  uint64_t acc[S], a0[S], n0[S];
  for (int s = 0; s < S; ++s) {
    for (int j = 0; j < 2; ++j) {
      a[s][j] = _mm512_loadu_si512(args[s].a + 8 * j);
      n[s][j] = _mm512_loadu_si512(args[s].n + 8 * j);
      x[s][j] = zero;
    }
    a2[s] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(args[s].a + 16));
    n2[s] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(args[s].n + 16));
    x2[s] = zero4;
    acc[s] = 0;
    a0[s] = args[s].a[0];
    n0[s] = args[s].n[0];
  }
  for (int i = 0; i < kDigits; ++i) {
    for (int s = 0; s < S; ++s) {
      const uint64_t b = args[s].b[i];
      unsigned __int128 t = static_cast<unsigned __int128>(a0[s]) * b + acc[s];
      const uint64_t m = (static_cast<uint64_t>(t) * args[s].k0) & kMask52;
      t += static_cast<unsigned __int128>(m) * n0[s];
      const __m512i bi = _mm512_set1_epi64(static_cast<long long>(b));
      const __m256i bi4 = _mm512_castsi512_si256(bi);
      const __m512i mb = _mm512_set1_epi64(static_cast<long long>(m));
      const __m256i mb4 = _mm512_castsi512_si256(mb);
      for (int j = 0; j < 2; ++j) x[s][j] = _mm512_madd52lo_epu64(x[s][j], a[s][j], bi);
      x2[s] = _mm256_madd52lo_epu64(x2[s], a2[s], bi4);
      for (int j = 0; j < 2; ++j) x[s][j] = _mm512_madd52lo_epu64(x[s][j], n[s][j], mb);
      x2[s] = _mm256_madd52lo_epu64(x2[s], n2[s], mb4);
      // Digit 0 is now a multiple of 2^52 (in the scalar): drop it, one lane down.
      x[s][0] = _mm512_alignr_epi64(x[s][1], x[s][0], 1);
      // (Only the low lane of the widened top register is read.)
      x[s][1] = _mm512_alignr_epi64(_mm512_castsi256_si512(x2[s]), x[s][1], 1);
      x2[s] = _mm256_alignr_epi64(zero4, x2[s], 1);
      acc[s] = static_cast<uint64_t>(t >> 52) +
               static_cast<uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(x[s][0])));
      // The high halves belong one digit up: lane j of the shifted sums.
      for (int j = 0; j < 2; ++j) x[s][j] = _mm512_madd52hi_epu64(x[s][j], a[s][j], bi);
      x2[s] = _mm256_madd52hi_epu64(x2[s], a2[s], bi4);
      for (int j = 0; j < 2; ++j) x[s][j] = _mm512_madd52hi_epu64(x[s][j], n[s][j], mb);
      x2[s] = _mm256_madd52hi_epu64(x2[s], n2[s], mb4);
    }
  }
  for (int s = 0; s < S; ++s) {
    x[s][0] = _mm512_mask_set1_epi64(x[s][0], 1, static_cast<long long>(acc[s]));
    normalise(args[s].r, x[s][0], x[s][1], x2[s]);
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

__attribute__((target("avx512f,avx512vl,avx512ifma"))) void ammVec(uint64_t* r, const uint64_t* a,
                                                                   const uint64_t* b,
                                                                   const uint64_t* n, uint64_t k0) {
  const AmmArgs args[1] = {{r, a, b, n, k0}};
  ammN<1>(args);
}

__attribute__((target("avx512f,avx512vl,avx512ifma"))) void amm2Vec(const AmmArgs* args) {
  ammN<2>(args);
}
#else
bool haveIfma() { return false; }
#endif

// The vector road where the processor has it, else (only when tests ask for it) the portable
// product; chosen per call, so per thread.
thread_local bool useVector = false;

void amm(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n, uint64_t k0) {
#ifdef LONGV_IFMA
  if (useVector) return ammVec(r, a, b, n, k0);
#endif
  ammScalar(r, a, b, n, k0);
}

void amm2(const AmmArgs* args) {
#ifdef LONGV_IFMA
  if (useVector) return amm2Vec(args);
#endif
  for (int s = 0; s < 2; ++s) ammScalar(args[s].r, args[s].a, args[s].b, args[s].n, args[s].k0);
}

// k bits of e from bit pos.
unsigned int bitsAt(const LvWord* e, LvWordLen ne, unsigned int pos, unsigned int k) {
  const unsigned int wi = pos / 32, off = pos % 32;
  if (wi >= ne) return 0;
  uint64_t x = e[wi] >> off;
  if (off + k > 32 && wi + 1 < ne) x |= static_cast<uint64_t>(e[wi + 1]) << (32 - off);
  return static_cast<unsigned int>(x & ((1u << k) - 1));
}

}  // namespace

namespace {

// One exponentiation: its arguments and its digits (n, R'^2, the constant 1, the accumulator,
// the selected table entry, then the window table) in one wiped buffer.
struct Stream {
  LvWord* out = nullptr;
  const LvWord* x = nullptr;
  const LvWord* e = nullptr;
  LvWordLen eWords = 0;
  const LvWord* n = nullptr;
  const LvWord* rr = nullptr;
  uint64_t k0 = 0;
  LvWordMem work;
  uint64_t *nd = nullptr, *rd = nullptr, *one = nullptr, *acc = nullptr, *sel = nullptr,
           *table = nullptr;
};

void bind(Stream& st, LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne, const LvWord* n,
          const LvWord* rr) {
  st.out = out;
  st.x = x;
  st.e = e;
  st.eWords = ne;
  st.n = n;
  st.rr = rr;
}

#ifdef LONGV_IFMA
// The masked scan below, three registers per entry rather than 24 words.
__attribute__((target("avx512f"))) void selectEntryVec(uint64_t* out, const uint64_t* table,
                                                       unsigned int entries, unsigned int idx) {
  __m512i o0 = _mm512_setzero_si512(), o1 = o0, o2 = o0;
  for (unsigned int i = 0; i < entries; ++i) {
    const __m512i mask = _mm512_set1_epi64(
        static_cast<long long>(0 - static_cast<uint64_t>(longvCtEqMask(i, idx) & 1u)));
    const uint64_t* t = table + static_cast<size_t>(kLanes) * i;
    o0 = _mm512_or_si512(o0, _mm512_and_si512(_mm512_loadu_si512(t), mask));
    o1 = _mm512_or_si512(o1, _mm512_and_si512(_mm512_loadu_si512(t + 8), mask));
    o2 = _mm512_or_si512(o2, _mm512_and_si512(_mm512_loadu_si512(t + 16), mask));
  }
  _mm512_storeu_si512(out, o0);
  _mm512_storeu_si512(out + 8, o1);
  _mm512_storeu_si512(out + 16, o2);
}
#endif

// Entry idx of the table into out, reading every entry (the index is a secret digit).
void selectEntry(uint64_t* out, const uint64_t* table, unsigned int entries, unsigned int idx) {
#ifdef LONGV_IFMA
  if (useVector) return selectEntryVec(out, table, entries, idx);
#endif
  for (int j = 0; j < kLanes; ++j) out[j] = 0;
  for (unsigned int i = 0; i < entries; ++i) {
    const uint64_t mask = 0 - static_cast<uint64_t>(longvCtEqMask(i, idx) & 1u);
    const uint64_t* t = table + static_cast<size_t>(kLanes) * i;
    for (int j = 0; j < kLanes; ++j) out[j] |= t[j] & mask;
  }
}

// Digits, constants and the window table: entry 0 is 1 in the domain (R'), entry i is x^i.
// R'^2 = 2^2080 comes from the caller's 2^2048 mod n by 32 masked doublings: no division by a
// modulus that may be secret.
void setUp(Stream& st, unsigned int window) {
  uint64_t inv = 1;
  const uint64_t nl = static_cast<uint64_t>(st.n[0]) | (static_cast<uint64_t>(st.n[1]) << 32);
  for (int i = 0; i < 6; ++i) inv *= 2 - nl * inv;
  st.k0 = (0 - inv) & kMask52;
  const unsigned int entries = 1u << window;
  st.work = LvWordMem(2 * kLanes * (5 + entries) + 32);
  st.nd = reinterpret_cast<uint64_t*>(st.work.ptr());
  st.rd = st.nd + kLanes;
  st.one = st.rd + kLanes;
  st.acc = st.one + kLanes;
  st.sel = st.acc + kLanes;
  st.table = st.sel + kLanes;
  LvWord* rrw = reinterpret_cast<LvWord*>(st.table + static_cast<size_t>(kLanes) * entries);
  longvCopy(rrw, st.rr, 32);
  for (int i = 0; i < 32; ++i) {
    const LvWord top = rrw[31] >> 31;
    longvShl(rrw, 32, 1);
    longvCtCondSub(rrw, top, st.n, 32);
  }
  toDigits(st.nd, st.n);
  toDigits(st.rd, rrw);
  longvZeroize(rrw, 32);
  for (int i = 0; i < kLanes; ++i) st.one[i] = 0;
  st.one[0] = 1;
  amm(st.table, st.rd, st.one, st.nd, st.k0);  // R'
  toDigits(st.acc, st.x);
  amm(st.table + kLanes, st.acc, st.rd, st.nd, st.k0);  // x R'
}

// Out of the domain (a product with 1, which leaves a value at most n), then below n by a
// masked subtraction.
void finish(Stream& st) {
  amm(st.acc, st.acc, st.one, st.nd, st.k0);
  fromDigits(st.out, st.acc);
  longvCtCondSub(st.out, 0, st.n, 32);
}

// S exponentiations side by side: every squaring and every product runs on all of them at
// once. Fixed windows over all the exponent words given, a product for every window (digit 0
// multiplies by 1) and table entries read by a masked scan: the work and the memory touched
// depend on the word counts only.
template <int S>
void modExp(Stream* st, unsigned int window) {
  for (int s = 0; s < S; ++s) setUp(st[s], window);
  const unsigned int entries = 1u << window;
  for (unsigned int i = 2; i < entries; ++i) {
    AmmArgs next[S];
    for (int s = 0; s < S; ++s)
      next[s] = {st[s].table + kLanes * i, st[s].table + kLanes * (i - 1), st[s].table + kLanes,
                 st[s].nd, st[s].k0};
    if constexpr (S == 2)
      amm2(next);
    else
      amm(next[0].r, next[0].a, next[0].b, next[0].n, next[0].k0);
  }
  unsigned int windows = 0;
  for (int s = 0; s < S; ++s) {
    const unsigned int w = (32 * st[s].eWords + window - 1) / window;
    if (w > windows) windows = w;
  }
  AmmArgs sq[S], mul[S];
  for (int s = 0; s < S; ++s) {
    sq[s] = {st[s].acc, st[s].acc, st[s].acc, st[s].nd, st[s].k0};
    mul[s] = {st[s].acc, st[s].acc, st[s].sel, st[s].nd, st[s].k0};
    // The top window starts the accumulator: no squarings of 1 before it.
    selectEntry(st[s].acc, st[s].table, entries,
                bitsAt(st[s].e, st[s].eWords, (windows - 1) * window, window));
  }
  for (unsigned int w = windows - 1; w-- > 0;) {
    for (unsigned int i = 0; i < window; ++i) {
      if constexpr (S == 2)
        amm2(sq);
      else
        amm(sq[0].r, sq[0].a, sq[0].b, sq[0].n, sq[0].k0);
    }
    for (int s = 0; s < S; ++s)
      selectEntry(st[s].sel, st[s].table, entries,
                  bitsAt(st[s].e, st[s].eWords, w * window, window));
    if constexpr (S == 2)
      amm2(mul);
    else
      amm(mul[0].r, mul[0].a, mul[0].b, mul[0].n, mul[0].k0);
  }
  for (int s = 0; s < S; ++s) finish(st[s]);
}

// Whether the road is open: the processor's instructions (and the asm rows allowed), or the
// portable emulation a test asked for.
bool roadOpen() {
  useVector = haveIfma() && longvRowAsmAllowed;
  return useVector || longvIfmaEmulated;
}

}  // namespace

bool longvIfmaEmulated = false;

bool longvModExp1024(LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne, const LvWord* n,
                     const LvWord* rr, unsigned int window) {
  if (window < 1 || window > 8 || ne == 0 || out == nullptr || x == nullptr || e == nullptr ||
      n == nullptr || rr == nullptr || !roadOpen())
    return false;
  Stream st[1];
  bind(st[0], out, x, e, ne, n, rr);
  modExp<1>(st, window);
  return true;
}

bool longvModExp1024x2(LvWord* outA, const LvWord* xA, const LvWord* eA, LvWordLen neA,
                       const LvWord* nA, const LvWord* rrA, LvWord* outB, const LvWord* xB,
                       const LvWord* eB, LvWordLen neB, const LvWord* nB, const LvWord* rrB,
                       unsigned int window) {
  if (window < 1 || window > 8 || neA == 0 || neB == 0 || outA == nullptr || xA == nullptr ||
      eA == nullptr || nA == nullptr || rrA == nullptr || outB == nullptr || xB == nullptr ||
      eB == nullptr || nB == nullptr || rrB == nullptr || !roadOpen())
    return false;
  Stream st[2];
  bind(st[0], outA, xA, eA, neA, nA, rrA);
  bind(st[1], outB, xB, eB, neB, nB, rrB);
  modExp<2>(st, window);
  return true;
}

bool longvAmm1024Digits(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n,
                        unsigned int count, bool vector) {
  if (count < 1 || count > 2) return false;
#ifdef LONGV_IFMA
  if (vector && !haveIfma()) return false;
#else
  if (vector) return false;
#endif
  AmmArgs args[2];
  for (unsigned int s = 0; s < count; ++s) {
    const size_t o = static_cast<size_t>(kLanes) * s;
    uint64_t inv = 1;
    for (int i = 0; i < 6; ++i) inv *= 2 - n[o] * inv;
    args[s] = {r + o, a + o, b + o, n + o, (0 - inv) & kMask52};
  }
  const bool saved = useVector;
  useVector = vector;
  if (count == 2)
    amm2(args);
  else
    amm(args[0].r, args[0].a, args[0].b, args[0].n, args[0].k0);
  useVector = saved;
  return true;
}
