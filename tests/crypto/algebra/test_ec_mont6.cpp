// The six-limb MULX/ADX Montgomery product and square (P-384 and
// brainpoolP384r1 fields) against the portable ones: operands at the edges and
// random ones, the result written over an operand.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvmont6mulx.h"
#include "crypto/basic/lvcpu.h"

using lvepfast::engine::MontField;
using lvepfast::engine::u64;

TEST(EcMont6, MulxAgreesWithPortableProduct) {
#if defined(__x86_64__)
  if (!lvcpu::hasBmi2Adx()) GTEST_SKIP() << "no BMI2/ADX here (or the portable switch is on)";
  // little-endian limbs: P-384, brainpoolP384r1
  const u64 primes[][6] = {
      {0x00000000FFFFFFFFull, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFEull, ~0ull, ~0ull, ~0ull},
      {0x874700133107EC53ull, 0x7AF2F3AFE3F3A94Eull, 0x412B1DA197FB7112ull, 0x152F7109ED5456B4ull,
       0x0F5D6F7E50E641DFull, 0x8CB91E82A3386D28ull}};
  std::mt19937_64 rng(384);
  for (const auto& p : primes) {
    MontField<6> g;
    g.init(p);
    std::vector<std::array<u64, 6>> vals;
    std::array<u64, 6> pm1, pm2, zero{}, one{};
    std::memcpy(pm1.data(), p, sizeof(pm1));
    pm1[0] -= 1;
    pm2 = pm1;
    pm2[0] -= 1;
    one[0] = 1;
    std::array<u64, 6> ones;  // every limb but the top all ones: the longest carries
    ones.fill(~0ull);
    ones[5] = p[5] - 1;
    vals = {zero, one, pm1, pm2, ones};
    for (int i = 0; i < 60; i++) {
      std::array<u64, 6> a;
      for (auto& x : a) x = rng();
      a[5] %= p[5];
      vals.push_back(a);
    }
    for (const auto& a : vals) {
      for (const auto& b : vals) {
        u64 want[6], got[6];
        g.mul(want, a.data(), b.data());
        lvmont6::mul(got, a.data(), b.data(), g.p, g.n0);
        ASSERT_EQ(0, std::memcmp(want, got, sizeof(want))) << std::hex << a[5] << " " << b[5];
      }
      u64 want[6], sq[6];
      g.sqr(want, a.data());
      std::memcpy(sq, a.data(), sizeof(sq));
      lvmont6::mul(sq, sq, sq, g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, sq, sizeof(want)));
      // the dedicated square, apart and over its operand
      u64 got[6];
      lvmont6::sqr(got, a.data(), g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, got, sizeof(want))) << std::hex << a[5];
      std::memcpy(sq, a.data(), sizeof(sq));
      lvmont6::sqr(sq, sq, g.p, g.n0);
      ASSERT_EQ(0, std::memcmp(want, sq, sizeof(want))) << std::hex << a[5];
    }
  }
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}
