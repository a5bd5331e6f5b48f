// Exponentiation of residues at the operand sizes served by the generic kernels (rows with and
// without the carry-chain instructions, odd counts, counts past the local block of the generic
// multiply) and the CRT path at real RSA half sizes, against Python's integers
// (tests/data/rsa/make_pow_sizes.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crypto/basic/lvcpu.h"
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

// The constant-time exponentiation against the same vectors, with the exponent padded by zero
// words (the fixed length the callers give): every odd modulus kind, the generic rows with and
// without the carry-chain instructions, and the residue form's bound.
TEST_P(NumSizes, SecretPowerMatchesVectors) {
  size_t checked = 0;
  for (const auto& r : vectors("pow", "pow_sizes.txt")) {
    LvModulus m(fromHex(r[2]), std::stoi(r[1]));
    if (m.isEven()) continue;
    SCOPED_TRACE("opts " + r[1] + " m " + r[2].substr(0, 16));
    const LvN x = fromHex(r[3]), e = fromHex(r[4]), expect = fromHex(r[5]);
    const LvWordLen k = m.getUsed(), ne = e.getUsed() + 1 + (e.getUsed() % 3);
    std::vector<LvWord> xw(k), ew(ne), out(k, 0xAAAAAAAAu);
    longvCopyResize(xw.data(), k, x.getWords(), x.getUsed());
    longvCopyResize(ew.data(), ne, e.getWords(), e.getUsed());
    powSecretWords(out.data(), xw.data(), ew.data(), ne, m);
    EXPECT_TRUE(LvN(out.data(), k) == expect);
    EXPECT_TRUE(powSecret(LvZn(x, &m), e, 32 * ne + 7).getN() == expect);
    ++checked;
  }
  EXPECT_GT(checked, 100u);
}

// Random operands of many sizes: the masked reductions against the division, and the CRT
// exponentiation against the plain one.
TEST_P(NumSizes, SecretReductionsMatchDivision) {
  std::mt19937 gen(15);
  auto random = [&](LvWordLen words) {
    std::vector<LvWord> w(words);
    for (auto& v : w) v = gen();
    return w;
  };
  for (LvWordLen k : {1u, 2u, 3u, 5u, 8u, 12u, 16u, 17u, 31u, 32u, 33u, 48u, 64u}) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE("k " + std::to_string(k) + " round " + std::to_string(round));
      auto mw = random(k);
      mw[0] |= 1;
      if (round == 1) mw[k - 1] = 1;  // a short top word
      const LvN mn(mw.data(), k);
      LvModulus m(mn, LvModulus::OPT_MONT);
      const LvWordLen kk = m.getUsed();
      auto a = random(2 * k + 3);
      const LvN an(a.data(), 2 * k + 3), want = an % mn;
      std::vector<LvWord> r(kk, 0xAAAAAAAAu);
      longvCtMod(r.data(), a.data(), 2 * k + 3, m.getWords(), kk);
      EXPECT_TRUE(LvN(r.data(), kk) == want);
      std::fill(r.begin(), r.end(), 0xAAAAAAAAu);
      reduceSecretWords(r.data(), a.data(), 2 * k + 3, m);
      EXPECT_TRUE(LvN(r.data(), kk) == want);
      // A base of all ones (not below m) to the power 1, and an empty exponent.
      std::vector<LvWord> ones(kk, 0xFFFFFFFFu);
      const LvWord one = 1;
      powSecretWords(r.data(), ones.data(), &one, 1, m);
      EXPECT_TRUE(LvN(r.data(), kk) == LvN(ones.data(), kk) % mn);
      powSecretWords(r.data(), ones.data(), nullptr, 0, m);
      EXPECT_TRUE(LvN(r.data(), kk) == LvN(1u, 1) % mn);
      if (kk == 32) {
        // The 1024-bit vector road (its portable product) against the generic one, also for a
        // modulus with a one-bit top word and a base not below it.
        auto x = random(32), e = random(33);
        std::vector<LvWord> viaVector(32);
        powSecretWords(r.data(), x.data(), e.data(), 33, m);
        longvIfmaEmulated = true;
        powSecretWords(viaVector.data(), x.data(), e.data(), 33, m);
        longvIfmaEmulated = false;
        EXPECT_EQ(viaVector, r);
      }
    }
  }
}

TEST_P(NumSizes, SecretCrtMatchesPlainPower) {
  for (const auto& r : vectors("crt", "pow_sizes.txt")) {
    const LvN p = fromHex(r[1]), q = fromHex(r[2]), e = fromHex(r[3]), x = fromHex(r[4]);
    SCOPED_TRACE("p bits " + std::to_string(p.getBitLength()));
    LvModulus mp(p, 9), mq(q, 9);
    const LvN qinv = (1 / LvZn(q, &mp)).getN();
    const LvWordMem dp = crtExponentWords(e, mp), dq = crtExponentWords(e, mq);
    // e mod (p - 1), with p - 1 standing for 0 (a nonzero exponent stays nonzero).
    const LvN rp = e % (p - 1u), rq = e % (q - 1u);
    EXPECT_TRUE(LvN(dp) == (rp.isZero() ? p - 1u : rp));
    EXPECT_TRUE(LvN(dq) == (rq.isZero() ? q - 1u : rq));
    std::vector<LvWord> qi(mp.getUsed()), out(mp.getUsed() + mq.getUsed());
    longvCopyResize(qi.data(), mp.getUsed(), qinv.getWords(), qinv.getUsed());
    powSecretCrtWords(out.data(), static_cast<LvWordLen>(out.size()), x.getWords(), x.getUsed(),
                      mp, dp.ptr(), dp.getCount(), mq, dq.ptr(), dq.getCount(), qi.data());
    EXPECT_TRUE(LvN(out.data(), static_cast<LvWordLen>(out.size())) == fromHex(r[5]));
  }
}

// Halves of unequal word counts and p below q, with exponents 0 and 1: the recombination,
// the reduction of yq below p and the vector pair road at 32 words; also through a CRT
// modulus (exponents beyond a word only).
TEST_P(NumSizes, SecretCrtUnevenHalves) {
  const auto rows = vectors("crtu", "pow_sizes.txt");
  ASSERT_EQ(rows.size(), 72u);
  for (bool emulated : {false, true}) {
    longvIfmaEmulated = emulated;
    for (const auto& r : rows) {
      const LvN p = fromHex(r[1]), q = fromHex(r[2]), e = fromHex(r[3]), x = fromHex(r[4]);
      const LvN expect = fromHex(r[5]);
      SCOPED_TRACE("p bits " + std::to_string(p.getBitLength()) + " q bits " +
                   std::to_string(q.getBitLength()) + " e " + r[3].substr(0, 8));
      LvModulus mp(p, 9), mq(q, 9);
      const LvN qinv = (1 / LvZn(q, &mp)).getN();
      const LvWordMem dp = crtExponentWords(e, mp), dq = crtExponentWords(e, mq);
      std::vector<LvWord> qi(mp.getUsed()), out(mp.getUsed() + mq.getUsed(), 0xAAAAAAAAu);
      longvCopyResize(qi.data(), mp.getUsed(), qinv.getWords(), qinv.getUsed());
      powSecretCrtWords(out.data(), static_cast<LvWordLen>(out.size()), x.getWords(),
                        x.getUsed(), mp, dp.ptr(), dp.getCount(), mq, dq.ptr(), dq.getCount(),
                        qi.data());
      EXPECT_TRUE(LvN(out.data(), static_cast<LvWordLen>(out.size())) == expect);
      if (e.getBitLength() > 32) {
        LvModulus crt(p * q, 8);
        crt.setCrt(mp, mq, qinv);
        ASSERT_EQ(crt.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
        EXPECT_TRUE(pow(LvZn(x, &crt), e).getN() == expect);
      }
    }
  }
  longvIfmaEmulated = false;
}

// The 1024-bit vector road directly: taken where the processor offers it (and then right),
// refused with nothing written where it does not, and for arguments outside its bounds.
// The processor's road where it has one, and the portable emulation of its product (the
// same exponentiation logic) everywhere.
class VectorRoad : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { longvIfmaEmulated = GetParam(); }
  void TearDown() override { longvIfmaEmulated = false; }
};
INSTANTIATE_TEST_SUITE_P(NativeAndEmulated, VectorRoad, ::testing::Bool());

TEST_P(VectorRoad, CrtHalvesMatchVectors) {
  size_t checked = 0;
  for (const auto& r : vectors("crt", "pow_sizes.txt")) {
    const LvN p = fromHex(r[1]), q = fromHex(r[2]);
    if (p.getUsed() != 32 || q.getUsed() != 32) continue;
    ++checked;
    LvModulus mp(p, 9), mq(q, 9);
    LvModulus crt(p * q, 8);
    crt.setCrt(mp, mq, (1 / LvZn(q, &mp)).getN());
    EXPECT_TRUE(pow(LvZn(fromHex(r[4]), &crt), fromHex(r[3])).getN() == fromHex(r[5]));
  }
  EXPECT_GT(checked, 0u);
}

TEST_P(VectorRoad, For1024BitModuli) {
  const bool offered = GetParam() || lvcpu::hasAvx512Ifma();
  std::vector<std::vector<std::string>> rows;
  for (const auto& r : vectors("pow", "pow_sizes.txt"))
    if (r[1] == "8" && (r[2].size() + 7) / 8 == 32) rows.push_back(r);
  ASSERT_GE(rows.size(), 2u);
  auto words = [](const LvN& v) {
    std::vector<LvWord> w(32, 0);
    longvCopyResize(w.data(), 32, v.getWords(), v.getUsed());
    return w;
  };
  auto rrOf = [&](const LvN& n) { return words((LvN(1u, 1) << 2048) % n); };
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    const auto &a = rows[i], &b = rows[i + 1];
    const LvN nA = fromHex(a[2]), nB = fromHex(b[2]);
    auto na = words(nA), xa = words(fromHex(a[3])), nb = words(nB), xb = words(fromHex(b[3]));
    auto rra = rrOf(nA), rrb = rrOf(nB);
    LvN ea = fromHex(a[4]), eb = fromHex(b[4]);
    // Exponents padded by a zero word: the fixed length changes nothing in the result.
    std::vector<LvWord> eaw(ea.getUsed() + 1, 0), ebw(eb.getUsed(), 0);
    longvCopyResize(eaw.data(), ea.getUsed() + 1, ea.getWords(), ea.getUsed());
    longvCopyResize(ebw.data(), eb.getUsed(), eb.getWords(), eb.getUsed());
    std::vector<LvWord> outA(32, 0xAAAAAAAAu), outB(32, 0xAAAAAAAAu);
    bool ok = longvModExp1024x2(outA.data(), xa.data(), eaw.data(), ea.getUsed() + 1, na.data(),
                                rra.data(), outB.data(), xb.data(), ebw.data(), eb.getUsed(),
                                nb.data(), rrb.data(), 5);
    EXPECT_EQ(ok, offered);
    if (ok) {
      EXPECT_TRUE(LvN(outA.data(), 32) == fromHex(a[5]));
      EXPECT_TRUE(LvN(outB.data(), 32) == fromHex(b[5]));
    }
    ok = longvModExp1024(outA.data(), xb.data(), ebw.data(), eb.getUsed(), nb.data(),
                         rrb.data(), 3);
    EXPECT_EQ(ok, offered);
    if (ok) {
      EXPECT_TRUE(LvN(outA.data(), 32) == fromHex(b[5]));
    }
  }
  // Values the constant-time road takes as they come: x = n gives 0, a zero exponent 1.
  const LvN n0 = fromHex(rows[0][2]);
  auto n = words(n0), rr = rrOf(n0);
  std::vector<LvWord> out(32, 0xAAAAAAAAu);
  const LvWord e1[2] = {3, 0}, e0 = 0;
  if (longvModExp1024(out.data(), n.data(), e1, 2, n.data(), rr.data(), 4)) {
    EXPECT_TRUE(LvN(out.data(), 32).isZero());
    auto x = words(fromHex(rows[0][3]));
    ASSERT_TRUE(longvModExp1024(out.data(), x.data(), &e0, 1, n.data(), rr.data(), 4));
    EXPECT_TRUE(LvN(out.data(), 32) == 1u);
  }
  // Outside the bounds: nothing written.
  std::fill(out.begin(), out.end(), 0xAAAAAAAAu);
  EXPECT_FALSE(longvModExp1024(out.data(), n.data(), e1, 0, n.data(), rr.data(), 4));
  EXPECT_FALSE(longvModExp1024(out.data(), n.data(), e1, 1, n.data(), rr.data(), 0));
  EXPECT_FALSE(longvModExp1024(out.data(), n.data(), e1, 1, n.data(), rr.data(), 9));
  EXPECT_EQ(out, std::vector<LvWord>(32, 0xAAAAAAAAu));
}
