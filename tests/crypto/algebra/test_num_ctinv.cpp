// The divsteps inverse at every size it takes (four to nine 64-bit words)
// against the ordinary number arithmetic: x·x^-1 = 1 modulo random odd moduli
// (full top word and nearly empty one) and the P-521 group order, for x at
// the edges and random; x = 0 gives 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crypto/algebra/lvctinv4.h"
#include "crypto/algebra/lvnumbers.h"

namespace {

typedef std::vector<std::uint64_t> Limbs;

LvN number(const Limbs& v) {
  std::vector<LvWord> w;
  for (std::uint64_t x : v) {
    w.push_back(static_cast<LvWord>(x));
    w.push_back(static_cast<LvWord>(x >> 32));
  }
  return LvN(w.data(), static_cast<LvWordLen>(w.size()));
}

}  // namespace

TEST(CtInverse, EverySizeAgreesWithNumberArithmetic) {
  std::mt19937_64 rng(62);
  // the P-521 group order, little-endian
  const Limbs p521n = {0xBB6FB71E91386409ull, 0x3BB5C9B8899C47AEull, 0x7FCC0148F709A5D0ull,
                       0x51868783BF2F966Bull, 0xFFFFFFFFFFFFFFFAull, 0xFFFFFFFFFFFFFFFFull,
                       0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x1FFull};
  for (unsigned words = 4; words <= 9; words++) {
    std::vector<Limbs> moduli;
    moduli.reserve(4);
    for (std::uint64_t top : {~0ull, 0x8000000000000001ull, 3ull}) {
      Limbs m(words);
      for (auto& x : m) x = rng();
      m[0] |= 1;
      m[words - 1] = top | (rng() & top);
      moduli.push_back(m);
    }
    if (words == 9) moduli.push_back(p521n);
    for (const Limbs& m : moduli) {
      const LvN mn = number(m);
      std::vector<Limbs> xs;
      Limbs one(words, 0), two(words, 0), mm1 = m;
      one[0] = 1;
      two[0] = 2;
      mm1[0] -= 1;
      xs = {one, two, mm1};
      for (int i = 0; i < 20; i++) {
        Limbs x(words);
        for (auto& w : x) w = rng();
        xs.push_back(number(x) < mn ? x : one);
        x[words - 1] %= m[words - 1];  // below m
        xs.push_back(x);
      }
      size_t inverted = 0;
      for (const Limbs& x : xs) {
        const LvN xn = number(x);
        if (xn.isZero() || !(xn < mn)) continue;
        // a random x may share a factor with a random m: no inverse then
        if (!(gcd(xn, mn) == number(one))) continue;
        Limbs r(words);
        ASSERT_TRUE(lvctinv4::inverseWords(r.data(), x.data(), m.data(), words));
        const LvN rn = number(r);
        EXPECT_TRUE(rn < mn) << "words " << words;
        EXPECT_TRUE((xn * rn) % mn == number(one)) << "words " << words;
        ++inverted;
      }
      EXPECT_GT(inverted, 10u);
      Limbs zero(words, 0), r(words, 1);
      ASSERT_TRUE(lvctinv4::inverseWords(r.data(), zero.data(), m.data(), words));
      EXPECT_TRUE(number(r).isZero());
    }
  }
  Limbs a(10, 1), r(10);
  EXPECT_FALSE(lvctinv4::inverseWords(r.data(), a.data(), a.data(), 10));
}
