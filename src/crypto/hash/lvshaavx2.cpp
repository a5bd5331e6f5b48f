// SHA-1, SHA-256 and SHA-512 compression with the message schedule in AVX2
// registers, chosen at run time (SHA-1 and SHA-256 only where the processor
// lacks the SHA instructions). Each 256-bit register holds schedule words of
// two blocks, one block per 128-bit half, so one pass schedules a pair of
// blocks; the rounds then run on general registers (with BMI2's rotations)
// over the precomputed words plus round constants. The rounds are bound by the
// integer ports, so the schedule on the vector units comes almost free.
#include "crypto/basic/lvcpu.h"
#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvshacore.h"

#include <utility>

extern const std::uint32_t kLvSha256K[64];
extern const std::uint64_t kLvSha512K[80];

#if defined(__x86_64__)
#include <immintrin.h>

#define LV_AVX2 __attribute__((target("avx2,bmi,bmi2")))

namespace {

LV_AVX2 inline __m256i loadPair(const std::uint8_t* a, const std::uint8_t* b, int j,
                                const __m256i swap) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * j));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * j));
  return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
}

template <int n>
LV_AVX2 inline __m256i rotl32(__m256i x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, n), _mm256_srli_epi32(x, 32 - n));
}
template <int n>
LV_AVX2 inline __m256i rotr64(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}

// x[j] holds words 4j..4j+3 (2j, 2j+1 for SHA-512) of each block of the pair.
struct Sha1Step {
  typedef std::uint32_t Word;
  static constexpr int kSteps = 20, kBlock = 64;
  LV_AVX2 static inline __m256i load(const std::uint8_t* a, const std::uint8_t* b, int j) {
    return loadPair(a, b, j,
                    _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1,
                                     0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
  }
  LV_AVX2 static inline __m256i next(const __m256i* x, int j) {
    if (j >= 8) {
      // w[t] = rotl2(w[t-6] ^ w[t-16] ^ w[t-28] ^ w[t-32]) for t >= 32: the
      // recurrence applied twice, with no word of the step depending on another
      const __m256i w6 = _mm256_alignr_epi8(x[j - 1], x[j - 2], 8);
      return rotl32<2>(
          _mm256_xor_si256(_mm256_xor_si256(w6, x[j - 4]), _mm256_xor_si256(x[j - 7], x[j - 8])));
    }
    // w[t+3] needs w[t] of the same step: computed with 0 for it, then mended
    const __m256i w3 = _mm256_srli_si256(x[j - 1], 4);
    const __m256i w14 = _mm256_alignr_epi8(x[j - 3], x[j - 4], 8);
    const __m256i r = rotl32<1>(
        _mm256_xor_si256(_mm256_xor_si256(w3, x[j - 2]), _mm256_xor_si256(w14, x[j - 4])));
    return _mm256_xor_si256(r, rotl32<1>(_mm256_slli_si256(r, 12)));
  }
  LV_AVX2 static inline __m256i k(int j) {
    static const std::uint32_t kK[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
    return _mm256_set1_epi32(static_cast<int>(kK[j / 5]));
  }
};

struct Sha256Step {
  typedef std::uint32_t Word;
  static constexpr int kSteps = 16, kBlock = 64, kRounds = 64;
  LV_AVX2 static inline __m256i load(const std::uint8_t* a, const std::uint8_t* b, int j) {
    return Sha1Step::load(a, b, j);
  }
  // sigma1 of the words in the low halves of the 64-bit lanes, each doubled
  // there so that a 64-bit shift rotates it
  LV_AVX2 static inline __m256i sigma1(__m256i dup) {
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi64(dup, 17), _mm256_srli_epi64(dup, 19)),
                            _mm256_srli_epi32(dup, 10));
  }
  LV_AVX2 static inline __m256i next(const __m256i* x, int j) {
    const __m256i w15 = _mm256_alignr_epi8(x[j - 3], x[j - 4], 4);
    const __m256i w7 = _mm256_alignr_epi8(x[j - 1], x[j - 2], 4);
    const __m256i s0 = _mm256_xor_si256(
        _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi32(w15, 7), _mm256_slli_epi32(w15, 25)),
                         _mm256_xor_si256(_mm256_srli_epi32(w15, 18), _mm256_slli_epi32(w15, 14))),
        _mm256_srli_epi32(w15, 3));
    __m256i w = _mm256_add_epi32(_mm256_add_epi32(x[j - 4], s0), w7);
    // words 0, 1 from w[t-2], w[t-1]; then words 2, 3 from the new words 0, 1
    const __m256i lo = sigma1(_mm256_shuffle_epi32(x[j - 1], 0xFA));  // 2 2 3 3
    w = _mm256_add_epi32(w, _mm256_and_si256(_mm256_shuffle_epi32(lo, 0x08),  // 0 2 . .
                                             _mm256_setr_epi32(-1, -1, 0, 0, -1, -1, 0, 0)));
    const __m256i hi = sigma1(_mm256_shuffle_epi32(w, 0x50));  // 0 0 1 1
    return _mm256_add_epi32(w, _mm256_and_si256(_mm256_shuffle_epi32(hi, 0x80),  // . . 0 2
                                                _mm256_setr_epi32(0, 0, -1, -1, 0, 0, -1, -1)));
  }
  LV_AVX2 static inline __m256i k(int j) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLvSha256K + 4 * j)));
  }
};

struct Sha512Step {
  typedef std::uint64_t Word;
  static constexpr int kSteps = 40, kBlock = 128, kRounds = 80;
  LV_AVX2 static inline __m256i load(const std::uint8_t* a, const std::uint8_t* b, int j) {
    return loadPair(a, b, j,
                    _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5,
                                     4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8));
  }
  LV_AVX2 static inline __m256i next(const __m256i* x, int j) {
    const __m256i w2 = x[j - 1];                                    // w[t-2], w[t-1]
    const __m256i w7 = _mm256_alignr_epi8(x[j - 3], x[j - 4], 8);   // w[t-7], w[t-6]
    const __m256i w15 = _mm256_alignr_epi8(x[j - 7], x[j - 8], 8);  // w[t-15], w[t-14]
    const __m256i s0 = _mm256_xor_si256(_mm256_xor_si256(rotr64<1>(w15), rotr64<8>(w15)),
                                        _mm256_srli_epi64(w15, 7));
    const __m256i s1 = _mm256_xor_si256(_mm256_xor_si256(rotr64<19>(w2), rotr64<61>(w2)),
                                        _mm256_srli_epi64(w2, 6));
    return _mm256_add_epi64(_mm256_add_epi64(x[j - 8], s0), _mm256_add_epi64(w7, s1));
  }
  LV_AVX2 static inline __m256i k(int j) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLvSha512K + 2 * j)));
  }
};

// Schedules a pair of blocks one step at a time, so that the steps can run
// between the rounds of the pair before: the vector units are idle while the
// rounds run on the general registers. A lone last block is scheduled as both
// halves and run once.
template <class S>
struct Scheduler {
  typedef typename S::Word Word;
  typedef Word Out[32 / sizeof(Word)];  // words of both blocks plus constants
  static constexpr int kLane = 16 / sizeof(Word);
  static constexpr int kLoads = 64 / 16 * sizeof(Word) / 4;  // steps read from the input
  const std::uint8_t* a = nullptr;
  const std::uint8_t* b = nullptr;
  Out* out = nullptr;
  __m256i x[S::kSteps];

  void start(const std::uint8_t* pa, const std::uint8_t* pb, Out* o) {
    a = pa;
    b = pb;
    out = o;
  }
  // The rounds call it with constant steps, so that the choices fold away: on
  // the integer ports that the rounds keep busy, any index work costs.
  LV_AVX2 __attribute__((always_inline)) inline void step(int j) {
    const __m256i w = j < kLoads ? S::load(a, b, j) : S::next(x, j);
    x[j] = w;
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[j]),
                       sizeof(Word) == 4 ? _mm256_add_epi32(w, S::k(j))
                                         : _mm256_add_epi64(w, S::k(j)));
  }
  LV_AVX2 void all() {
    for (int j = 0; j < S::kSteps; ++j) step(j);
  }
};

// What the rounds of one block schedule beside them (R::run<kMode, kHalf>).
enum RoundMode {
  kAlone = 0,     // nothing
  kNextHalf = 1,  // half kHalf of the next pair's steps
  kOwn = 2,       // the rest of their own pair's steps, the loaded ones made before
  kNextAll = 3    // all of the next pair's steps
};

// Runs the blocks in pairs: the rounds of one pair schedule the next, the
// first block's rounds the first half of the steps, the second's the rest.
// Where the rounds can (R::kOwnSteps), the first pair is not scheduled ahead
// either: its first block's rounds make their own pair's steps as they go,
// each a few rounds before its words are due, and the second block's rounds
// all of the next pair's. A short message (one or two blocks, the padding
// block of a longer one) then pays for no schedule outside the rounds.
template <class S, class R>
LV_AVX2 void compressPairs(typename S::Word* state, const std::uint8_t* blocks,
                           std::size_t count) {
  typedef Scheduler<S> Sched;
  alignas(32) typename Sched::Out wk[2][S::kSteps];
  Sched sched;
  int cur = 0;
  bool fresh = false;  // wk[cur] holds the loaded steps only
  if (count) {
    sched.start(blocks, count >= 2 ? blocks + S::kBlock : blocks, wk[cur]);
    if constexpr (R::kOwnSteps) {
      for (int j = 0; j < Sched::kLoads; ++j) sched.step(j);
      fresh = true;
    } else {
      sched.all();
    }
  }
  while (count > 2) {
    const std::uint8_t* next = blocks + 2 * S::kBlock;
    count -= 2;
    if constexpr (R::kOwnSteps) {
      if (fresh) {
        R::template run<kOwn, 0>(state, &wk[cur][0][0], sched);
        sched.start(next, count >= 2 ? next + S::kBlock : next, wk[cur ^ 1]);
        R::template run<kNextAll, 0>(state, &wk[cur][0][Sched::kLane], sched);
        fresh = false;
        cur ^= 1;
        blocks = next;
        continue;
      }
    }
    sched.start(next, count >= 2 ? next + S::kBlock : next, wk[cur ^ 1]);
    R::template run<kNextHalf, 0>(state, &wk[cur][0][0], sched);
    R::template run<kNextHalf, 1>(state, &wk[cur][0][Sched::kLane], sched);
    cur ^= 1;
    blocks = next;
  }
  if (count) {
    if (fresh) R::template run<kOwn, 0>(state, &wk[cur][0][0], sched);
    else R::template run<kAlone, 0>(state, &wk[cur][0][0], sched);
  }
  if (count == 2) R::template run<kAlone, 0>(state, &wk[cur][0][Sched::kLane], sched);
  lvWipe(wk, sizeof wk);
  lvWipe(sched.x, sizeof sched.x);
}

#define LV_STEP(j) \
  if (kMode == kNextHalf) next.step(j)

// ---------------------------------------------------------------- SHA-1

#define LV_WK32(i) wk[((i) >> 2) * 8 + ((i) & 3)]
// Ch and Maj as sums of two parts that never share a bit.
#define LV_S1F1(b, c, d) (((b) & (c)) + (~(b) & (d)))
#define LV_S1F2(b, c, d) ((b) ^ (c) ^ (d))
#define LV_S1F3(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))
#define LV_S1R(a, b, c, d, e, F, i)                \
  do {                                             \
    e += lvRotl32(a, 5) + F(b, c, d) + LV_WK32(i); \
    b = lvRotl32(b, 30);                           \
  } while (0)
// Five rounds, then one step of the ten this block schedules for the next
// pair in the first ten groups.
#define LV_S1R5(i, F)                                  \
  LV_S1R(a, b, c, d, e, F, i);                         \
  LV_S1R(e, a, b, c, d, F, i + 1);                     \
  LV_S1R(d, e, a, b, c, F, i + 2);                     \
  LV_S1R(c, d, e, a, b, F, i + 3);                     \
  LV_S1R(b, c, d, e, a, F, i + 4);                     \
  if ((i) / 5 < 10) LV_STEP(kHalf * 10 + (i) / 5)
#define LV_S1R20(i, F) \
  LV_S1R5(i, F);       \
  LV_S1R5(i + 5, F);   \
  LV_S1R5(i + 10, F);  \
  LV_S1R5(i + 15, F)

struct Sha1Rounds {
  static constexpr bool kOwnSteps = false;
  template <int kMode, int kHalf>
  LV_AVX2 static void run(std::uint32_t* state, const std::uint32_t* wk,
                          Scheduler<Sha1Step>& next) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    LV_S1R20(0, LV_S1F1);
    LV_S1R20(20, LV_S1F2);
    LV_S1R20(40, LV_S1F3);
    LV_S1R20(60, LV_S1F2);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
};

// ------------------------------------------------------- SHA-256, SHA-512

// The big sigmas of each.
struct Sha256Sigma {
  typedef std::uint32_t W;
  static W s0(W a) { return lvRotr32(a, 2) ^ lvRotr32(a, 13) ^ lvRotr32(a, 22); }
  static W s1(W e) { return lvRotr32(e, 6) ^ lvRotr32(e, 11) ^ lvRotr32(e, 25); }
};
struct Sha512Sigma {
  typedef std::uint64_t W;
  static W s0(W a) { return lvRotr64(a, 28) ^ lvRotr64(a, 34) ^ lvRotr64(a, 39); }
  static W s1(W e) { return lvRotr64(e, 14) ^ lvRotr64(e, 18) ^ lvRotr64(e, 41); }
};

// One round; the caller renames the variables instead of moving them. The
// integer ports bound these rounds, so each takes the fewest operations: Maj
// as ((a ^ b) & (b ^ c)) ^ b with b ^ c kept from the round before (its a ^ b),
// Ch as (e & f) + (~e & g) (the two never share a bit) folded into the sum.
// (Maj as (a & bc) + (b & ~bc), one operation more but a shorter wait on a,
// measured no faster.)
template <class G>
LV_AVX2 __attribute__((always_inline)) inline void sha2Round(typename G::W a, typename G::W b,
                                                             typename G::W& d, typename G::W e,
                                                             typename G::W f, typename G::W g,
                                                             typename G::W& h, typename G::W& bc,
                                                             typename G::W wk) {
  // e's sigma last in both sums, so the next e waits on it and one addition
  const typename G::W k = h + wk + (~e & g) + (e & f), s1 = G::s1(e);
  d = (d + k) + s1;
  const typename G::W ab = a ^ b;
  h = (k + s1) + (G::s0(a) + ((ab & bc) ^ b));
  bc = ab;
}

// Eight rounds of group n, then the steps of kMode: this block's share of the
// next pair's, all of them, or of its own pair those two groups ahead need.
template <class S, class G, int kMode, int kHalf, int n>
LV_AVX2 __attribute__((always_inline)) inline void sha2Group(typename G::W (&v)[8],
                                                             typename G::W& bc,
                                                             const typename G::W* wk,
                                                             Scheduler<S>& next) {
  constexpr int lane = Scheduler<S>::kLane;
#pragma GCC unroll 8
  for (int r = 0; r < 8; ++r) {
    const int i = 8 * n + r;
    sha2Round<G>(v[(8 - r) & 7], v[(9 - r) & 7], v[(11 - r) & 7], v[(12 - r) & 7],
                 v[(13 - r) & 7], v[(14 - r) & 7], v[(15 - r) & 7], bc,
                 wk[(i / lane) * 2 * lane + i % lane]);
  }
  constexpr int perGroup = S::kSteps / 2 / (S::kRounds / 8);
  if constexpr (kMode == kNextHalf) {
    for (int k = 0; k < perGroup; ++k) next.step(kHalf * S::kSteps / 2 + n * perGroup + k);
  } else if constexpr (kMode == kNextAll) {
    for (int k = 0; k < 2 * perGroup; ++k) next.step(2 * perGroup * n + k);
  } else if constexpr (kMode == kOwn) {
    // group n uses the steps 2·perGroup·n on; the loaded ones cover groups 0 and 1
    constexpr int first = Scheduler<S>::kLoads + 2 * perGroup * n;
    if constexpr (first < S::kSteps)
      for (int k = 0; k < 2 * perGroup; ++k) next.step(first + k);
  }
}

template <class S, class G, int kMode, int kHalf, int... n>
LV_AVX2 __attribute__((always_inline)) inline void sha2Groups(typename G::W (&v)[8],
                                                              typename G::W& bc,
                                                              const typename G::W* wk,
                                                              Scheduler<S>& next,
                                                              std::integer_sequence<int, n...>) {
  (sha2Group<S, G, kMode, kHalf, n>(v, bc, wk, next), ...);
}

template <class S, class G>
struct Sha2Rounds {
  typedef typename G::W W;
  static constexpr bool kOwnSteps = true;
  template <int kMode, int kHalf>
  LV_AVX2 static void run(W* state, const W* wk, Scheduler<S>& next) {
    W v[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) v[i] = state[i];
    W bc = v[1] ^ v[2];
    sha2Groups<S, G, kMode, kHalf>(v, bc, wk, next,
                                   std::make_integer_sequence<int, S::kRounds / 8>());
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) state[i] += v[i];
  }
};
typedef Sha2Rounds<Sha256Step, Sha256Sigma> Sha256Rounds;
typedef Sha2Rounds<Sha512Step, Sha512Sigma> Sha512Rounds;

}  // namespace

bool lvShaAvx2Available() { return lvcpu::hasAvx2() && lvcpu::hasBmi1() && lvcpu::hasBmi2(); }

void lvSha1CompressAvx2(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  compressPairs<Sha1Step, Sha1Rounds>(state, blocks, count);
}
void lvSha256CompressAvx2(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  compressPairs<Sha256Step, Sha256Rounds>(state, blocks, count);
}
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count) {
  compressPairs<Sha512Step, Sha512Rounds>(state, blocks, count);
}

#else

bool lvShaAvx2Available() { return false; }
void lvSha1CompressAvx2(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  lvSha1CompressPortable(state, blocks, count);
}
void lvSha256CompressAvx2(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha256CompressPortable(state, blocks, count);
}
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha512CompressPortable(state, blocks, count);
}

#endif

LvSha64CompressFn lvSha512CompressFn() {
  static const LvSha64CompressFn fn =
      lvShaAvx2Available() ? lvSha512CompressAvx2 : lvSha512CompressPortable;
  return fn;
}
