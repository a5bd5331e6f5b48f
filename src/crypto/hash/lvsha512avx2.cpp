// SHA-512 compression with the message schedule in AVX2 registers, chosen at
// run time. Each 256-bit register holds two consecutive schedule words of two
// blocks (one block per 128-bit half), so one pass schedules a pair of blocks;
// the rounds then run on general registers (with BMI2's rotations) over the
// precomputed words plus round constants.
#include "crypto/basic/lvcpu.h"
#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvshacore.h"

extern const std::uint64_t kLvSha512K[80];

#if defined(__x86_64__)
#include <immintrin.h>

#define LV_AVX2 __attribute__((target("avx2,bmi2")))

namespace {

template <int n>
LV_AVX2 inline __m256i rotr(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}

// Schedules a pair of blocks one step (two words of each) at a time, so that
// the steps can run between the rounds of the pair before: the vector units
// are idle while the rounds run on the general registers.
// out[t/2] = {A[t] + K[t], A[t+1] + K[t+1], B[t] + K[t], B[t+1] + K[t+1]}
struct Scheduler {
  const std::uint8_t* a = nullptr;
  const std::uint8_t* b = nullptr;
  std::uint64_t (*out)[4] = nullptr;
  int j = 40;  // next step; 40: nothing to do
  __m256i x[40];

  void start(const std::uint8_t* pa, const std::uint8_t* pb, std::uint64_t (*o)[4]) {
    a = pa;
    b = pb;
    out = o;
    j = 0;
  }

  LV_AVX2 inline void step() {
    if (j >= 40) return;
    __m256i w;
    if (j < 8) {
      const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                            7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * j));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * j));
      w = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
    } else {
      const __m256i w2 = x[j - 1];                                  // w[t-2], w[t-1]
      const __m256i w7 = _mm256_alignr_epi8(x[j - 3], x[j - 4], 8);   // w[t-7], w[t-6]
      const __m256i w15 = _mm256_alignr_epi8(x[j - 7], x[j - 8], 8);  // w[t-15], w[t-14]
      const __m256i s0 = _mm256_xor_si256(_mm256_xor_si256(rotr<1>(w15), rotr<8>(w15)),
                                          _mm256_srli_epi64(w15, 7));
      const __m256i s1 = _mm256_xor_si256(_mm256_xor_si256(rotr<19>(w2), rotr<61>(w2)),
                                          _mm256_srli_epi64(w2, 6));
      w = _mm256_add_epi64(_mm256_add_epi64(x[j - 8], s0), _mm256_add_epi64(w7, s1));
    }
    x[j] = w;
    const __m256i k = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLvSha512K + 2 * j)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[j]), _mm256_add_epi64(w, k));
    ++j;
  }

  LV_AVX2 void finish() {
    while (j < 40) step();
  }
};

#define LV_WK(i) wk[((i) >> 1) * 4 + ((i) & 1)]
// The ports that do integer work bound these rounds, so each takes the
// fewest operations: Maj as ((a ^ b) & (b ^ c)) ^ b with b ^ c kept from the
// round before (its a ^ b), Ch as (e & f) + (~e & g) (the two never share a
// bit) folded into the sum.
#define LV_R(a, b, c, d, e, f, g, h, i)                                                   \
  do {                                                                                    \
    const std::uint64_t s1 = lvRotr64(e, 14) ^ lvRotr64(e, 18) ^ lvRotr64(e, 41);          \
    const std::uint64_t t1 = h + LV_WK(i) + (e & f) + (~e & g) + s1;                       \
    const std::uint64_t s0 = lvRotr64(a, 28) ^ lvRotr64(a, 34) ^ lvRotr64(a, 39);          \
    const std::uint64_t ab = a ^ b;                                                       \
    d += t1;                                                                              \
    h = t1 + s0 + ((ab & bc) ^ b);                                                        \
    bc = ab;                                                                              \
  } while (0)

// The 80 rounds of one block over its precomputed words (lane 0 or 2), with
// two steps of the next pair's schedule every eight rounds.
LV_AVX2 inline void rounds(std::uint64_t state[8], const std::uint64_t* wk, Scheduler& next) {
  std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  std::uint64_t bc = b ^ c;
#pragma GCC unroll 10
  for (int i = 0; i < 80; i += 8) {
    LV_R(a, b, c, d, e, f, g, h, i);
    LV_R(h, a, b, c, d, e, f, g, i + 1);
    LV_R(g, h, a, b, c, d, e, f, i + 2);
    LV_R(f, g, h, a, b, c, d, e, i + 3);
    LV_R(e, f, g, h, a, b, c, d, i + 4);
    LV_R(d, e, f, g, h, a, b, c, i + 5);
    LV_R(c, d, e, f, g, h, a, b, i + 6);
    LV_R(b, c, d, e, f, g, h, a, i + 7);
    next.step();
    next.step();
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

bool lvSha512Avx2Available() { return lvcpu::hasAvx2() && lvcpu::hasBmi2(); }

LV_AVX2 void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count) {
  alignas(32) std::uint64_t wk[2][40][4];
  Scheduler sched;
  int cur = 0;
  // a last block alone is scheduled twice and run once
  if (count) {
    sched.start(blocks, count >= 2 ? blocks + 128 : blocks, wk[cur]);
    sched.finish();
  }
  while (count) {
    const std::size_t here = count >= 2 ? 2 : 1;
    const std::uint8_t* next = blocks + 128 * here;
    const std::size_t left = count - here;
    if (left) sched.start(next, left >= 2 ? next + 128 : next, wk[cur ^ 1]);
    rounds(state, &wk[cur][0][0], sched);
    if (here == 2) rounds(state, &wk[cur][0][2], sched);
    sched.finish();
    cur ^= 1;
    count = left;
    blocks = next;
  }
  lvWipe(wk, sizeof wk);
  lvWipe(sched.x, sizeof sched.x);
}

#else

bool lvSha512Avx2Available() { return false; }
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha512CompressPortable(state, blocks, count);
}

#endif

LvSha64CompressFn lvSha512CompressFn() {
  static const LvSha64CompressFn fn =
      lvSha512Avx2Available() ? lvSha512CompressAvx2 : lvSha512CompressPortable;
  return fn;
}
