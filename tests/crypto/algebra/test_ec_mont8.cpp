// The eight-limb MULX/ADX Montgomery product and square against the portable one, for
// moduli of every shape it takes: brainpoolP512r1's prime, the prime
// 2^512 - 569 (the reduction's top carries come out only that close to
// 2^512) and an odd modulus with a small top limb; operands at the edges and
// random ones, the result written over an operand.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvmont8mulx.h"
#include "crypto/basic/lvcpu.h"

using lvepfast::engine::MontField;
using lvepfast::engine::u64;

TEST(EcMont8, MulxAgreesWithPortableProduct) {
#if defined(__x86_64__)
  if (!lvcpu::hasBmi2Adx()) GTEST_SKIP() << "no BMI2/ADX here (or the portable switch is on)";
  typedef std::array<u64, 8> L;
  const L moduli[] = {
      // brainpoolP512r1, little-endian limbs
      {0x28AA6056583A48F3ull, 0x2881FF2F2D82C685ull, 0xAECDA12AE6A380E6ull, 0x7D4D9B009BC66842ull,
       0xD6639CCA70330871ull, 0xCB308DB3B3C9D20Eull, 0x3FD4E6AE33C9FC07ull, 0xAADD9DB8DBE9C48Bull},
      // 2^512 - 569
      {~0ull - 568, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull},
      // an odd modulus of 449 bits
      {0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0x94D049BB133111EBull, 0x2545F4914F6CDD1Dull,
       0xD6E8FEB86659FD93ull, 0xA0761D6478BD642Full, 0xE7037ED1A0B428DBull, 1}};
  std::mt19937_64 rng(512);
  for (const L& p : moduli) {
    MontField<8> g;
    g.init(p.data());
    L pm1 = p, pm2, zero{}, one{}, ones;
    pm1[0] -= 1;
    pm2 = pm1;
    pm2[0] -= 1;
    one[0] = 1;
    ones.fill(~0ull);  // every limb but the top all ones: the longest carries
    ones[7] = p[7] - 1;
    std::vector<L> vals = {zero, one, pm1, pm2, ones};
    for (int i = 0; i < 60; i++) {
      L a;
      for (auto& x : a) x = rng();
      a[7] %= p[7];
      vals.push_back(a);
    }
    for (const L& a : vals) {
      for (const L& b : vals) {
        u64 want[8], got[8];
        g.mul(want, a.data(), b.data());
        lvmont8::mul(got, a.data(), b.data(), g.p, g.n0);
        ASSERT_EQ(0, std::memcmp(want, got, sizeof(want))) << std::hex << p[7] << " " << a[7]
                                                           << " " << b[7];
      }
      u64 want[8], sq[8];
      g.sqr(want, a.data());
      std::memcpy(sq, a.data(), sizeof(sq));
      lvmont8::mul(sq, sq, sq, g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, sq, sizeof(want))) << std::hex << p[7] << " " << a[7];
      // the dedicated square, apart and over its operand
      u64 got[8];
      lvmont8::sqr(got, a.data(), g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, got, sizeof(want))) << std::hex << p[7] << " " << a[7];
      std::memcpy(sq, a.data(), sizeof(sq));
      lvmont8::sqr(sq, sq, g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, sq, sizeof(want))) << std::hex << p[7] << " " << a[7];
    }
  }
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}
