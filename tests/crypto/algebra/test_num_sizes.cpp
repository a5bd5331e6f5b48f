// Exponentiation of residues at the operand sizes served by the generic kernels (rows with and
// without the carry-chain instructions, odd counts, counts past the local block of the generic
// multiply) and the CRT path at real RSA half sizes, against Python's integers
// (tests/data/rsa/make_pow_sizes.py).
#include <gtest/gtest.h>

#include "crypto/algebra/longvint.h"
#include "crypto/algebra/test_num_util.h"

namespace {

using namespace numtest;

class NumSizes : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { longvRowAsmAllowed = GetParam(); }
  void TearDown() override { longvRowAsmAllowed = true; }
};
INSTANTIATE_TEST_SUITE_P(AsmAndPortable, NumSizes, ::testing::Bool());

}  // namespace

TEST_P(NumSizes, PowerOfEveryKindAtGenericSizes) {
  auto all = vectors("pow", "pow_sizes.txt");
  ASSERT_GT(all.size(), 200u);
  for (const auto& r : all) {
    SCOPED_TRACE("opts " + r[1] + " m " + r[2].substr(0, 16) + " words " +
                 std::to_string((r[2].size() + 7) / 8));
    LvModulus m(fromHex(r[2]), std::stoi(r[1]));
    LvZn x(fromHex(r[3]), &m);
    EXPECT_TRUE(pow(x, fromHex(r[4])).getN() == fromHex(r[5]));
    EXPECT_TRUE(x.getN() == fromHex(r[3]));
  }
}

TEST_P(NumSizes, CrtPathAtRsaHalfSizes) {
  auto all = vectors("crt", "pow_sizes.txt");
  ASSERT_EQ(all.size(), 32u);
  for (const auto& r : all) {
    LvN p = fromHex(r[1]), q = fromHex(r[2]), e = fromHex(r[3]), x = fromHex(r[4]);
    LvN expect = fromHex(r[5]);
    SCOPED_TRACE("p bits " + std::to_string(p.getBitLength()) + " e " + r[3].substr(0, 16));
    LvModulus mp(p, 9), mq(q, 9);
    LvN qinv = (1 / LvZn(q, &mp)).getN();
    LvModulus crt(p * q, 8);
    crt.setCrt(mp, mq, qinv);
    ASSERT_EQ(crt.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
    EXPECT_TRUE(pow(LvZn(x, &crt), e).getN() == expect);
    LvModulus plain(p * q, 8);
    EXPECT_TRUE(pow(LvZn(x, &plain), e).getN() == expect);
  }
}

// The 1024-bit vector road directly: taken where the processor offers it (and then right),
// refused with nothing written where it does not, and for arguments outside its bounds.
TEST(NumSizes, VectorRoadFor1024BitModuli) {
  const bool offered =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  std::vector<std::vector<std::string>> rows;
  for (const auto& r : vectors("pow", "pow_sizes.txt"))
    if (r[1] == "8" && (r[2].size() + 7) / 8 == 32) rows.push_back(r);
  ASSERT_GE(rows.size(), 2u);
  auto words = [](const std::string& hex) {
    LvN v = fromHex(hex);
    std::vector<LvWord> w(32, 0);
    longvCopyResize(w.data(), 32, v.getWords(), v.getUsed());
    return w;
  };
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    const auto &a = rows[i], &b = rows[i + 1];
    auto na = words(a[2]), xa = words(a[3]), nb = words(b[2]), xb = words(b[3]);
    LvN ea = fromHex(a[4]), eb = fromHex(b[4]);
    std::vector<LvWord> outA(32, 0xAAAAAAAAu), outB(32, 0xAAAAAAAAu);
    bool ok = longvModExp1024x2(outA.data(), xa.data(), ea.getWords(), ea.getUsed(), na.data(),
                                outB.data(), xb.data(), eb.getWords(), eb.getUsed(), nb.data(),
                                5);
    EXPECT_EQ(ok, offered);
    if (ok) {
      EXPECT_TRUE(LvN(outA.data(), 32) == fromHex(a[5]));
      EXPECT_TRUE(LvN(outB.data(), 32) == fromHex(b[5]));
    }
    ok = longvModExp1024(outA.data(), xb.data(), eb.getWords(), eb.getUsed(), nb.data(), 3);
    EXPECT_EQ(ok, offered);
    if (ok) {
      EXPECT_TRUE(LvN(outA.data(), 32) == fromHex(b[5]));
    }
  }
  // Outside the bounds: x not below n, a zero exponent, an even modulus.
  auto n = words(rows[0][2]), x = words(rows[0][3]);
  std::vector<LvWord> out(32, 0xAAAAAAAAu);
  const LvWord e1 = 3, e0 = 0;
  EXPECT_FALSE(longvModExp1024(out.data(), n.data(), &e1, 1, n.data(), 4));
  EXPECT_FALSE(longvModExp1024(out.data(), x.data(), &e0, 1, n.data(), 4));
  auto even = n;
  even[0] &= ~1u;
  EXPECT_FALSE(longvModExp1024(out.data(), x.data(), &e1, 1, even.data(), 4));
  EXPECT_EQ(out, std::vector<LvWord>(32, 0xAAAAAAAAu));
}
