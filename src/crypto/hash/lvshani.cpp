// SHA-1 and SHA-256 compression with the x86 SHA instructions, chosen at run
// time; other processors use the portable code.
#include "crypto/hash/lvshacore.h"

#include "crypto/basic/lvcpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

bool lvShaNiAvailable() { return lvcpu::hasShaNi(); }

#define LV_SHANI __attribute__((target("sha,sse4.1,ssse3")))

// One group of four SHA-1 rounds. `ein` receives the next message words,
// `eout` keeps the old ABCD for the group after.
#define LV_S1_GROUP(ein, eout, cur, fn) \
  ein = _mm_sha1nexte_epu32(ein, cur);  \
  eout = abcd;                          \
  abcd = _mm_sha1rnds4_epu32(abcd, ein, fn)

LV_SHANI void lvSha1CompressShaNi(std::uint32_t state[5], const std::uint8_t* blocks,
                                  std::size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0), e1;
  __m128i m0, m1, m2, m3;
  for (; count != 0; --count, blocks += 64) {
    const __m128i abcdSave = abcd, e0Save = e0;
    m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), mask);
    m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16)), mask);
    m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 32)), mask);
    m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 48)), mask);
    // rounds 0-3
    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    // rounds 4-7
    LV_S1_GROUP(e1, e0, m1, 0);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    // rounds 8-11
    LV_S1_GROUP(e0, e1, m2, 0);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    // rounds 12-15
    m0 = _mm_sha1msg2_epu32(m0, m3);
    LV_S1_GROUP(e1, e0, m3, 0);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // rounds 16-67: the schedule rotates through m0..m3
#define LV_S1_MID(ein, eout, cur, next, prev, after, fn) \
  next = _mm_sha1msg2_epu32(next, cur);                  \
  LV_S1_GROUP(ein, eout, cur, fn);                       \
  prev = _mm_sha1msg1_epu32(prev, cur);                  \
  after = _mm_xor_si128(after, cur)
    LV_S1_MID(e0, e1, m0, m1, m3, m2, 0);  // 16-19
    LV_S1_MID(e1, e0, m1, m2, m0, m3, 1);  // 20-23
    LV_S1_MID(e0, e1, m2, m3, m1, m0, 1);  // 24-27
    LV_S1_MID(e1, e0, m3, m0, m2, m1, 1);  // 28-31
    LV_S1_MID(e0, e1, m0, m1, m3, m2, 1);  // 32-35
    LV_S1_MID(e1, e0, m1, m2, m0, m3, 1);  // 36-39
    LV_S1_MID(e0, e1, m2, m3, m1, m0, 2);  // 40-43
    LV_S1_MID(e1, e0, m3, m0, m2, m1, 2);  // 44-47
    LV_S1_MID(e0, e1, m0, m1, m3, m2, 2);  // 48-51
    LV_S1_MID(e1, e0, m1, m2, m0, m3, 2);  // 52-55
    LV_S1_MID(e0, e1, m2, m3, m1, m0, 2);  // 56-59
    LV_S1_MID(e1, e0, m3, m0, m2, m1, 3);  // 60-63
    LV_S1_MID(e0, e1, m0, m1, m3, m2, 3);  // 64-67
#undef LV_S1_MID
    // rounds 68-71
    m2 = _mm_sha1msg2_epu32(m2, m1);
    LV_S1_GROUP(e1, e0, m1, 3);
    m3 = _mm_xor_si128(m3, m1);
    // rounds 72-75
    m3 = _mm_sha1msg2_epu32(m3, m2);
    LV_S1_GROUP(e0, e1, m2, 3);
    // rounds 76-79
    LV_S1_GROUP(e1, e0, m3, 3);
    e0 = _mm_sha1nexte_epu32(e0, e0Save);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

LV_SHANI void lvSha256CompressShaNi(std::uint32_t state[8], const std::uint8_t* blocks,
                                    std::size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i* k = reinterpret_cast<const __m128i*>(kLvSha256K);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);           // CDAB
  s1 = _mm_shuffle_epi32(s1, 0x1B);             // EFGH
  __m128i s0 = _mm_alignr_epi8(tmp, s1, 8);     // ABEF
  s1 = _mm_blend_epi16(s1, tmp, 0xF0);          // CDGH
  __m128i msg, m0, m1, m2, m3;
  for (; count != 0; --count, blocks += 64) {
    const __m128i s0Save = s0, s1Save = s1;
    m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), mask);
    m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16)), mask);
    m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 32)), mask);
    m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 48)), mask);
// Four rounds on the words in `cur` (group g).
#define LV_S256_RND(cur, g)                             \
  msg = _mm_add_epi32(cur, _mm_load_si128(k + (g)));    \
  s1 = _mm_sha256rnds2_epu32(s1, s0, msg)
#define LV_S256_END                 \
  msg = _mm_shuffle_epi32(msg, 0x0E); \
  s0 = _mm_sha256rnds2_epu32(s0, s1, msg)
// next := schedule words of the group after, from cur and prev.
#define LV_S256_S2(next, cur, prev)                              \
  next = _mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4));     \
  next = _mm_sha256msg2_epu32(next, cur)
#define LV_S256_S1(old, cur) old = _mm_sha256msg1_epu32(old, cur)
    LV_S256_RND(m0, 0);
    LV_S256_END;
    LV_S256_RND(m1, 1);
    LV_S256_END;
    LV_S256_S1(m0, m1);
    LV_S256_RND(m2, 2);
    LV_S256_END;
    LV_S256_S1(m1, m2);
    LV_S256_RND(m3, 3);
    LV_S256_S2(m0, m3, m2);
    LV_S256_END;
    LV_S256_S1(m2, m3);
#define LV_S256_MID(cur, next, prev, g) \
  LV_S256_RND(cur, g);                  \
  LV_S256_S2(next, cur, prev);          \
  LV_S256_END;                          \
  LV_S256_S1(prev, cur)
    LV_S256_MID(m0, m1, m3, 4);
    LV_S256_MID(m1, m2, m0, 5);
    LV_S256_MID(m2, m3, m1, 6);
    LV_S256_MID(m3, m0, m2, 7);
    LV_S256_MID(m0, m1, m3, 8);
    LV_S256_MID(m1, m2, m0, 9);
    LV_S256_MID(m2, m3, m1, 10);
    LV_S256_MID(m3, m0, m2, 11);
    LV_S256_MID(m0, m1, m3, 12);
    LV_S256_RND(m1, 13);
    LV_S256_S2(m2, m1, m0);
    LV_S256_END;
    LV_S256_RND(m2, 14);
    LV_S256_S2(m3, m2, m1);
    LV_S256_END;
    LV_S256_RND(m3, 15);
    LV_S256_END;
#undef LV_S256_MID
#undef LV_S256_RND
#undef LV_S256_END
#undef LV_S256_S1
#undef LV_S256_S2
    s0 = _mm_add_epi32(s0, s0Save);
    s1 = _mm_add_epi32(s1, s1Save);
  }
  tmp = _mm_shuffle_epi32(s0, 0x1B);           // FEBA
  s1 = _mm_shuffle_epi32(s1, 0xB1);            // DCHG
  s0 = _mm_blend_epi16(tmp, s1, 0xF0);         // DCBA
  s1 = _mm_alignr_epi8(s1, tmp, 8);            // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}

#else  // no x86: the portable code only

bool lvShaNiAvailable() { return false; }
void lvSha1CompressShaNi(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  lvSha1CompressPortable(state, blocks, count);
}
void lvSha256CompressShaNi(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha256CompressPortable(state, blocks, count);
}

#endif

static void lvSha1Portable32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha1CompressPortable(s, b, n);
}
static void lvSha1ShaNi32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha1CompressShaNi(s, b, n);
}
static void lvSha256Portable32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha256CompressPortable(s, b, n);
}
static void lvSha256ShaNi32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha256CompressShaNi(s, b, n);
}
static void lvSha1Avx2_32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha1CompressAvx2(s, b, n);
}
static void lvSha256Avx2_32(std::uint32_t* s, const std::uint8_t* b, std::size_t n) {
  lvSha256CompressAvx2(s, b, n);
}

LvSha32CompressFn lvSha1CompressFn() {
  static const LvSha32CompressFn fn = lvShaNiAvailable()     ? lvSha1ShaNi32
                                      : lvShaAvx2Available() ? lvSha1Avx2_32
                                                             : lvSha1Portable32;
  return fn;
}

LvSha32CompressFn lvSha256CompressFn() {
  static const LvSha32CompressFn fn = lvShaNiAvailable()     ? lvSha256ShaNi32
                                      : lvShaAvx2Available() ? lvSha256Avx2_32
                                                             : lvSha256Portable32;
  return fn;
}
