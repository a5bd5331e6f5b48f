// Modular exponentiation for 1024-bit odd moduli (the halves of RSA-2048 keys) with the
// AVX-512 IFMA multiply-add instructions: 52-bit digits, 20 of them, in three vector
// registers, and the almost-Montgomery product of radix R' = 2^1040 (its results stay below
// 2n, which is all the next product needs). The exponentiation runs wholly in that domain,
// so the residues' own Montgomery form (R = 2^1024) is untouched.
#include <cstring>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/algebra/lvnumbers.h"

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

#ifdef LONGV_IFMA
bool haveIfma() {
  static const bool have =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return have;
}

// One almost-Montgomery product per stream, S independent streams interleaved so that each
// hides the others' latency: r = a * b / 2^1040 (mod n), below 2n, normalised digits; a, b
// normalised and below 2n (n below 2^1024); k0 = -n^-1 mod 2^52. r may be a or b.
struct AmmArgs {
  uint64_t* r;
  const uint64_t* a;
  const uint64_t* b;
  const uint64_t* n;
  uint64_t k0;
};

template <int S>
__attribute__((target("avx512f,avx512ifma"), always_inline)) inline void ammN(
    const AmmArgs* args) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i a[S][3], n[S][3], x[S][3];
  for (int s = 0; s < S; ++s) {
    for (int j = 0; j < 3; ++j) {
      a[s][j] = _mm512_loadu_si512(args[s].a + 8 * j);
      n[s][j] = _mm512_loadu_si512(args[s].n + 8 * j);
      x[s][j] = zero;
    }
  }
  for (int i = 0; i < kDigits; ++i) {
    for (int s = 0; s < S; ++s) {
      const __m512i bi = _mm512_set1_epi64(static_cast<long long>(args[s].b[i]));
      __m512i y[3];
      for (int j = 0; j < 3; ++j) {
        x[s][j] = _mm512_madd52lo_epu64(x[s][j], a[s][j], bi);
        y[j] = _mm512_madd52hi_epu64(zero, a[s][j], bi);
      }
      const __m128i lane0 = _mm512_maskz_extracti32x4_epi32(0xF, x[s][0], 0);
      const uint64_t low = static_cast<uint64_t>(_mm_cvtsi128_si64(lane0));
      const uint64_t m = (low * args[s].k0) & kMask52;
      const uint64_t carry = (low + ((m * args[s].n[0]) & kMask52)) >> 52;
      const __m512i mb = _mm512_set1_epi64(static_cast<long long>(m));
      for (int j = 0; j < 3; ++j) {
        x[s][j] = _mm512_madd52lo_epu64(x[s][j], n[s][j], mb);
        y[j] = _mm512_madd52hi_epu64(y[j], n[s][j], mb);
      }
      // Digit 0 is now a multiple of 2^52: drop it (its carry goes to the new digit 0) and
      // add the high halves, which belong one digit up.
      x[s][0] = _mm512_add_epi64(_mm512_maskz_alignr_epi64(0xFF, x[s][1], x[s][0], 1), y[0]);
      x[s][1] = _mm512_add_epi64(_mm512_maskz_alignr_epi64(0xFF, x[s][2], x[s][1], 1), y[1]);
      x[s][2] = _mm512_add_epi64(_mm512_maskz_alignr_epi64(0xFF, zero, x[s][2], 1), y[2]);
      x[s][0] = _mm512_add_epi64(
          x[s][0], _mm512_zextsi128_si512(_mm_cvtsi64_si128(static_cast<long long>(carry))));
    }
  }
  for (int s = 0; s < S; ++s) {
    alignas(64) uint64_t t[kLanes];
    for (int j = 0; j < 3; ++j) _mm512_store_si512(t + 8 * j, x[s][j]);
    uint64_t c = 0;
    for (int i = 0; i < kDigits; ++i) {
      const uint64_t v = t[i] + c;
      args[s].r[i] = v & kMask52;
      c = v >> 52;
    }
    for (int i = kDigits; i < kLanes; ++i) args[s].r[i] = 0;
    longvWipeLocal(t, sizeof t);
  }
}

__attribute__((target("avx512f,avx512ifma"))) void amm(uint64_t* r, const uint64_t* a,
                                                        const uint64_t* b, const uint64_t* n,
                                                        uint64_t k0) {
  const AmmArgs args[1] = {{r, a, b, n, k0}};
  ammN<1>(args);
}

__attribute__((target("avx512f,avx512ifma"))) void amm2(const AmmArgs* args) {
  ammN<2>(args);
}
#endif

// k bits of e from bit pos.
unsigned int bitsAt(const LvWord* e, LvWordLen ne, unsigned int pos, unsigned int k) {
  const unsigned int wi = pos / 32, off = pos % 32;
  if (wi >= ne) return 0;
  uint64_t x = e[wi] >> off;
  if (off + k > 32 && wi + 1 < ne) x |= static_cast<uint64_t>(e[wi + 1]) << (32 - off);
  return static_cast<unsigned int>(x & ((1u << k) - 1));
}

}  // namespace

#ifdef LONGV_IFMA
namespace {

// One exponentiation: its arguments and its digits (n, R'^2, a scratch value, the
// accumulator, then the window table) in one wiped buffer.
struct Stream {
  LvWord* out = nullptr;
  const LvWord* x = nullptr;
  const LvWord* e = nullptr;
  LvWordLen eUsed = 0;
  const LvWord* n = nullptr;
  unsigned int bits = 0;
  uint64_t k0 = 0;
  LvWordMem work;
  uint64_t *nd = nullptr, *rd = nullptr, *tmp = nullptr, *acc = nullptr, *table = nullptr;
};

void bind(Stream& st, LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne,
          const LvWord* n) {
  st.out = out;
  st.x = x;
  st.e = e;
  st.eUsed = ne;
  st.n = n;
}

bool usable(const LvWord* x, const LvWord* e, LvWordLen ne, const LvWord* n) {
  return x != nullptr && e != nullptr && n != nullptr && longvSigLen(e, ne) != 0 &&
         (n[0] & 1) != 0 && n[31] != 0 && longvCmp(x, n, 32) < 0;
}

// Digits, constants, the accumulator at 1 and the table's first entry x, in the domain.
void setUp(Stream& st, unsigned int window) {
  st.eUsed = longvSigLen(st.e, st.eUsed);
  st.bits = 32 * (st.eUsed - 1) + (32 - __builtin_clz(st.e[st.eUsed - 1]));
  uint64_t inv = 1;
  const uint64_t nl = static_cast<uint64_t>(st.n[0]) | (static_cast<uint64_t>(st.n[1]) << 32);
  for (int i = 0; i < 6; ++i) inv *= 2 - nl * inv;
  st.k0 = (0 - inv) & kMask52;
  LvN rr(1u, 1);  // R'^2 mod n, R' = 2^1040
  rr <<= 2080;
  rr %= LvN(st.n, 32);
  LvWordMem rrw(32);
  longvCopyResize(rrw.ptr(), 32, rr.getWords(), rr.getUsed());
  const unsigned int entries = (1u << window) - 1;
  st.work = LvWordMem(2 * kLanes * (4 + entries));
  st.nd = reinterpret_cast<uint64_t*>(st.work.ptr());
  st.rd = st.nd + kLanes;
  st.tmp = st.rd + kLanes;
  st.acc = st.tmp + kLanes;
  st.table = st.acc + kLanes;
  toDigits(st.nd, st.n);
  toDigits(st.rd, rrw.ptr());
  toDigits(st.tmp, st.x);
  amm(st.table, st.tmp, st.rd, st.nd, st.k0);  // x R'; the caller fills the rest of the table
  for (int i = 0; i < kLanes; ++i) st.tmp[i] = 0;
  st.tmp[0] = 1;
  amm(st.acc, st.rd, st.tmp, st.nd, st.k0);  // 1 in the domain: R'
}

// Out of the domain (a product with 1), then below n.
void finish(Stream& st) {
  amm(st.acc, st.acc, st.tmp, st.nd, st.k0);
  fromDigits(st.out, st.acc);
  if (longvCmp(st.out, st.n, 32) >= 0) longvSub(st.out, st.n, 32, 0);
}

// S exponentiations side by side: every squaring runs on all of them at once.
template <int S>
void modExp(Stream* st, unsigned int window) {
  for (int s = 0; s < S; ++s) setUp(st[s], window);
  const unsigned int entries = (1u << window) - 1;
  for (unsigned int i = 1; i < entries; ++i) {
    AmmArgs next[S];
    for (int s = 0; s < S; ++s)
      next[s] = {st[s].table + kLanes * i, st[s].table + kLanes * (i - 1), st[s].table, st[s].nd,
                 st[s].k0};
    if constexpr (S == 2)
      amm2(next);
    else
      amm(next[0].r, next[0].a, next[0].b, next[0].n, next[0].k0);
  }
  unsigned int windows = 0;
  for (int s = 0; s < S; ++s) {
    const unsigned int w = (st[s].bits + window - 1) / window;
    if (w > windows) windows = w;
  }
  AmmArgs sq[S];
  for (int s = 0; s < S; ++s) sq[s] = {st[s].acc, st[s].acc, st[s].acc, st[s].nd, st[s].k0};
  for (unsigned int w = windows; w-- > 0;) {
    for (unsigned int i = 0; i < window; ++i) {
      if constexpr (S == 2)
        amm2(sq);
      else
        amm(sq[0].r, sq[0].a, sq[0].b, sq[0].n, sq[0].k0);
    }
    AmmArgs mul[S];
    int count = 0;
    for (int s = 0; s < S; ++s) {
      const unsigned int d = bitsAt(st[s].e, st[s].eUsed, w * window, window);
      if (d != 0)
        mul[count++] = {st[s].acc, st[s].acc, st[s].table + kLanes * (d - 1), st[s].nd, st[s].k0};
    }
    if constexpr (S == 2) {
      if (count == 2) {
        amm2(mul);
        continue;
      }
    }
    for (int c = 0; c < count; ++c) amm(mul[c].r, mul[c].a, mul[c].b, mul[c].n, mul[c].k0);
  }
  for (int s = 0; s < S; ++s) finish(st[s]);
}

}  // namespace
#endif

bool longvModExp1024(LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne,
                     const LvWord* n, unsigned int window) {
#ifdef LONGV_IFMA
  if (!haveIfma() || !longvRowAsmAllowed || window < 1 || window > 8 || !usable(x, e, ne, n))
    return false;
  Stream st[1];
  bind(st[0], out, x, e, ne, n);
  modExp<1>(st, window);
  return true;
#else
  (void)out; (void)x; (void)e; (void)ne; (void)n; (void)window;
  return false;
#endif
}

bool longvModExp1024x2(LvWord* outA, const LvWord* xA, const LvWord* eA, LvWordLen neA,
                       const LvWord* nA, LvWord* outB, const LvWord* xB, const LvWord* eB,
                       LvWordLen neB, const LvWord* nB, unsigned int window) {
#ifdef LONGV_IFMA
  if (!haveIfma() || !longvRowAsmAllowed || window < 1 || window > 8 ||
      !usable(xA, eA, neA, nA) || !usable(xB, eB, neB, nB))
    return false;
  Stream st[2];
  bind(st[0], outA, xA, eA, neA, nA);
  bind(st[1], outB, xB, eB, neB, nB);
  modExp<2>(st, window);
  return true;
#else
  (void)outA; (void)xA; (void)eA; (void)neA; (void)nA;
  (void)outB; (void)xB; (void)eB; (void)neB; (void)nB; (void)window;
  return false;
#endif
}
