// Montgomery kernels and plain products against python3 integers (tests/data/kern).
#include <gtest/gtest.h>

#include "crypto/algebra/kern_data.h"
#include "crypto/algebra/longvint.h"

using kern::hexWords;
using kern::Words;

namespace {

struct FixedSet {
  LvWordLen k;
  void (*mul)(LvWord*, const LvWord*, const LvWord*);
  void (*sqr)(LvWord*, const LvWord*);
  LvWord (*redc)(LvWord*, const LvWord*, LvWord);
  LvWord (*redcSparse)(LvWord*, const LvWord*, LvWord);
  LvMontMulFixedFn montMul, montMulSparse;
  LvMontSqrFixedFn montSqr, montSqrSparse;
};

#define KERN_FIXED(K)                                                                    \
  {K, longvMul##K, longvSqr##K, longvMontRedc##K, longvMontRedcSparse##K, longvMontMul##K, \
   longvMontMulSparse##K, longvMontSqr##K, longvMontSqrSparse##K}
const FixedSet kFixed[] = {KERN_FIXED(3), KERN_FIXED(4),  KERN_FIXED(5),  KERN_FIXED(6),
                           KERN_FIXED(7), KERN_FIXED(8),  KERN_FIXED(12), KERN_FIXED(16)};

const FixedSet* fixedFor(LvWordLen k) {
  for (const FixedSet& f : kFixed)
    if (f.k == k) return &f;
  return nullptr;
}

// Independent a + b over equal lengths (for the extended group's "result mod n").
Words plus(const Words& a, const Words& b) {
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  Words r(n + 1, 0);
  uint64_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    c += uint64_t(i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
    r[i] = LvWord(c);
    c >>= 32;
  }
  r[n] = LvWord(c);
  return kern::trimmed(r);
}

}  // namespace

TEST(KernMont, N0IsMinusInverse) {
  for (LvWord n : {1u, 3u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x12345679u, 0xFFFFFFFDu}) {
    EXPECT_EQ(LvWord(n * longvMontN0(n)), 0xFFFFFFFFu) << n;
  }
}

// The inverse starts from a 5-bit seed: every odd word up to 2^17, and a stride over the rest.
TEST(KernMont, N0IsMinusInverseForEveryOddWord) {
  for (std::uint64_t n = 1; n < 0x100000000u; n += n < 0x20000u ? 2 : 0x10001u * 2) {
    ASSERT_EQ(LvWord(LvWord(n) * longvMontN0(LvWord(n))), 0xFFFFFFFFu) << n;
  }
}

class KernMontPaths : public ::testing::TestWithParam<bool> {
 protected:
  // Run the generic kernels both with the processor's carry-chain instructions (where it has
  // them) and with the portable rows.
  void SetUp() override { longvRowAsmAllowed = GetParam(); }
  void TearDown() override { longvRowAsmAllowed = true; }
};
INSTANTIATE_TEST_SUITE_P(AsmAndPortable, KernMontPaths, ::testing::Bool());

TEST_P(KernMontPaths, AllKernelsMatchPythonIntegers) {
  auto cases = kern::readCases("mont.txt");
  ASSERT_GT(cases.size(), 1000u);
  size_t fixedChecked = 0, sparseChecked = 0;
  for (const auto& c : cases) {
    const LvWordLen k = LvWordLen(std::stoul(c[0]));
    const Words n = hexWords(c[1], k), a = hexWords(c[2], k), b = hexWords(c[3], k);
    const Words mulExp = hexWords(c[4], k), sqrExp = hexWords(c[5], k);
    const LvWord n0 = longvMontN0(n[0]);
    SCOPED_TRACE("k=" + c[0] + " n=" + c[1] + " a=" + c[2] + " b=" + c[3]);

    // The generic multiply uses only k words of t: an exact-size buffer lets the sanitizer
    // see any write beyond them.
    Words t(k);
    longvMontMul(t.data(), a.data(), b.data(), n.data(), n0, k);
    ASSERT_EQ(t, mulExp);
    Words t2(2 * k);
    longvMontSqr(t2.data(), a.data(), n.data(), n0, k);
    ASSERT_EQ(Words(t2.begin(), t2.begin() + k), sqrExp);
    longvMul(t2.data(), a.data(), k, b.data(), k);
    longvMontRedc(t2.data(), n.data(), n0, k);
    ASSERT_EQ(Words(t2.begin(), t2.begin() + k), mulExp);
    if (c[2] == "1") {
      // a = 1: the expected value is b * R^-1, what leaving Montgomery form gives for b.
      Words f(k);
      longvFromMont(f.data(), b.data(), n.data(), k);
      ASSERT_EQ(f, mulExp);
    }

    const FixedSet* fs = fixedFor(k);
    if (!fs) continue;
    ++fixedChecked;
    Words tf(2 * k);
    fs->montMul(tf.data(), a.data(), b.data(), n.data(), n0);
    ASSERT_EQ(Words(tf.begin(), tf.begin() + k), mulExp);
    fs->montSqr(tf.data(), a.data(), n.data(), n0);
    ASSERT_EQ(Words(tf.begin(), tf.begin() + k), sqrExp);
    fs->mul(tf.data(), a.data(), b.data());
    fs->redc(tf.data(), n.data(), n0);
    ASSERT_EQ(Words(tf.begin(), tf.begin() + k), mulExp);

    LvMontMulFixedFn pm = nullptr;
    LvMontSqrFixedFn ps = nullptr;
    const bool sparse = longvMontIsSparse(n.data(), k);
    longvMontFixedKernels(k, sparse, &pm, &ps);
    ASSERT_EQ(pm, sparse ? fs->montMulSparse : fs->montMul);
    ASSERT_EQ(ps, sparse ? fs->montSqrSparse : fs->montSqr);
    if (sparse) {
      ++sparseChecked;
      fs->montMulSparse(tf.data(), a.data(), b.data(), n.data(), n0);
      ASSERT_EQ(Words(tf.begin(), tf.begin() + k), mulExp);
      fs->montSqrSparse(tf.data(), a.data(), n.data(), n0);
      ASSERT_EQ(Words(tf.begin(), tf.begin() + k), sqrExp);
      fs->sqr(tf.data(), a.data());
      fs->redcSparse(tf.data(), n.data(), n0);
      ASSERT_EQ(Words(tf.begin(), tf.begin() + k), sqrExp);
    }
  }
  EXPECT_GT(fixedChecked, 500u);
  EXPECT_GT(sparseChecked, 100u);
}

TEST(KernMont, SparseChoiceNeedsZeroMiddleWords) {
  const LvWord n3[3] = {0x12345679u, 0, 0x80000001u};
  EXPECT_TRUE(longvMontIsSparse(n3, 3));
  const LvWord n3b[3] = {0x12345679u, 1, 0x80000001u};
  EXPECT_FALSE(longvMontIsSparse(n3b, 3));
  LvMontMulFixedFn m = longvMontMul3;
  LvMontSqrFixedFn s = longvMontSqr3;
  longvMontFixedKernels(10, false, &m, &s);  // no unrolled kernels for 10 words
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(s, nullptr);
}

TEST_P(KernMontPaths, ExtendedGroupStaysBelowTwiceTheModulus) {
  auto cases = kern::readCases("montext.txt");
  ASSERT_GT(cases.size(), 300u);
  for (const auto& c : cases) {
    const LvWordLen kk = LvWordLen(std::stoul(c[0]));
    const Words n = hexWords(c[1], kk), a = hexWords(c[2], kk), b = hexWords(c[3], kk);
    const Words mulExp = kern::trimmed(hexWords(c[4], kk));
    const Words sqrExp = kern::trimmed(hexWords(c[5], kk));
    const Words twoN = plus(n, n);
    const LvWord n0 = longvMontN0(n[0]);
    SCOPED_TRACE("k=" + c[0] + " n=" + c[1] + " a=" + c[2] + " b=" + c[3]);
    auto check = [&](const Words& r, const Words& exp) {
      Words rt = kern::trimmed(r.data(), kk);
      EXPECT_TRUE(rt == exp || rt == plus(exp, n)) << kern::hexOf(rt);
      EXPECT_LT(longvCmpLen(rt.data(), LvWordLen(rt.size()), twoN.data(), LvWordLen(twoN.size())), 0);
    };
    Words t(kk);
    longvMontMulExt(t.data(), a.data(), b.data(), n.data(), n0, kk);
    check(t, mulExp);
    Words t2(2 * kk);
    longvMontSqrExt(t2.data(), a.data(), n.data(), n0, kk);
    check(Words(t2.begin(), t2.begin() + kk), sqrExp);
    longvMul(t2.data(), a.data(), kk, b.data(), kk);
    longvMontRedcExt(t2.data(), n.data(), n0, kk);
    check(Words(t2.begin(), t2.begin() + kk), mulExp);
  }
}

TEST_P(KernMontPaths, PlainProductsAndSquares) {
  auto cases = kern::readCases("prod.txt");
  ASSERT_GT(cases.size(), 100u);
  for (const auto& c : cases) {
    const LvWordLen na = LvWordLen(std::stoul(c[0])), nb = LvWordLen(std::stoul(c[1]));
    const Words a = hexWords(c[2], na ? na : 1), b = hexWords(c[3], nb ? nb : 1);
    const Words prod = hexWords(c[4], na + nb > 0 ? na + nb : 1);
    const Words sq = hexWords(c[5], na > 0 ? 2 * na : 1);
    SCOPED_TRACE("na=" + c[0] + " nb=" + c[1] + " a=" + c[2] + " b=" + c[3]);
    Words t(na + nb);
    longvMul(t.data(), a.data(), na, b.data(), nb);
    if (na + nb > 0) {
      ASSERT_EQ(t, prod);
    }
    if (na != nb || na == 0) continue;
    Words s(2 * na);
    longvSqr(s.data(), a.data(), na);
    ASSERT_EQ(s, sq);
    void (*mulK)(LvWord*, const LvWord*, const LvWord*) = nullptr;
    void (*sqrK)(LvWord*, const LvWord*) = nullptr;
    if (const FixedSet* fs = fixedFor(na)) {
      mulK = fs->mul;
      sqrK = fs->sqr;
    } else if (na == 17) {
      mulK = longvMul17;
      sqrK = longvSqr17;
    } else if (na == 34) {
      mulK = longvMul34;
      sqrK = longvSqr34;
    }
    if (!mulK) continue;
    Words f(2 * na);
    mulK(f.data(), a.data(), b.data());
    ASSERT_EQ(f, prod);
    sqrK(f.data(), a.data());
    ASSERT_EQ(f, sq);
  }
}

namespace {

// 52-bit digits (24 lanes) of a value given as words, and back: the test's own conversion.
std::vector<uint64_t> toDigits52(const Words& w) {
  std::vector<uint64_t> d(24, 0);
  for (unsigned int bit = 0; bit < 32 * w.size(); ++bit)
    if ((w[bit / 32] >> (bit % 32)) & 1u) d[bit / 52] |= uint64_t(1) << (bit % 52);
  return d;
}
Words fromDigits52(const uint64_t* d) {
  Words w(34, 0);
  for (unsigned int bit = 0; bit < 52 * 20; ++bit)
    if ((d[bit / 52] >> (bit % 52)) & 1u) w[bit / 32] |= LvWord(1) << (bit % 32);
  return kern::trimmed(w);
}

}  // namespace

// The 1024-bit road's almost-Montgomery product against python3 integers, on moduli and
// operands at its bounds (0, 1, n - 1, 2n - 1, values about 2^1024, full digits): the result
// is normalised, below 2n and congruent to a b 2^-1040; the vector form gives the portable
// form's digits exactly, alone and as either stream of a pair.
TEST(KernAmm1024, MatchesPythonAndPortableProduct) {
  const auto cases = kern::readCases("amm1024.txt");
  ASSERT_EQ(cases.size(), 240u);
  const bool vector = [] {
    std::vector<uint64_t> z(24, 0), n(24, 0);
    n[0] = 1;
    return longvAmm1024Digits(z.data(), z.data(), z.data(), n.data(), 1, true);
  }();
  std::vector<std::vector<uint64_t>> portable(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("n=" + c[0] + " a=" + c[1] + " b=" + c[2]);
    const Words nw = hexWords(c[0]), want = hexWords(c[3]);
    const auto n = toDigits52(nw), a = toDigits52(hexWords(c[1])), b = toDigits52(hexWords(c[2]));
    std::vector<uint64_t> r(24, 0xAAAAAAAAAAAAAAAAu);
    ASSERT_TRUE(longvAmm1024Digits(r.data(), a.data(), b.data(), n.data(), 1, false));
    for (int j = 0; j < 24; ++j) ASSERT_LT(r[j], j < 20 ? uint64_t(1) << 52 : 1u) << j;
    const Words got = fromDigits52(r.data());
    EXPECT_TRUE(got == kern::trimmed(want) || got == plus(want, nw));
    portable[i] = r;
    if (vector) {
      std::vector<uint64_t> v(24, 0xAAAAAAAAAAAAAAAAu);
      ASSERT_TRUE(longvAmm1024Digits(v.data(), a.data(), b.data(), n.data(), 1, true));
      EXPECT_EQ(v, r);
      // In place, as the exponentiation squares.
      v = a;
      ASSERT_TRUE(longvAmm1024Digits(v.data(), v.data(), c[1] == c[2] ? v.data() : b.data(),
                                     n.data(), 1, true));
      EXPECT_EQ(v, r);
    }
  }
  if (!vector) GTEST_SKIP() << "no AVX-512 IFMA here: the portable product only";
  // Pairs of neighbouring cases (different moduli at the seams).
  for (size_t i = 0; i + 1 < cases.size(); ++i) {
    std::vector<uint64_t> n, a, b;
    for (size_t s : {i, i + 1}) {
      const auto& c = cases[s];
      for (const auto& [dst, hex] :
           {std::pair{&n, c[0]}, std::pair{&a, c[1]}, std::pair{&b, c[2]}}) {
        const auto d = toDigits52(hexWords(hex));
        dst->insert(dst->end(), d.begin(), d.end());
      }
    }
    std::vector<uint64_t> r(48, 0xAAAAAAAAAAAAAAAAu);
    ASSERT_TRUE(longvAmm1024Digits(r.data(), a.data(), b.data(), n.data(), 2, true));
    EXPECT_EQ(std::vector<uint64_t>(r.begin(), r.begin() + 24), portable[i]) << i;
    EXPECT_EQ(std::vector<uint64_t>(r.begin() + 24, r.end()), portable[i + 1]) << i;
  }
}

// In place as the exponentiation runs it (squares with r = a = b, products with r = a) and
// with r = b, alone and as a pair on different moduli, on either road: each stream must give
// the portable product of its own operands taken out of place.
TEST(KernAmm1024, InPlaceAloneAndPaired) {
  const auto cases = kern::readCases("amm1024.txt");
  ASSERT_FALSE(cases.empty());
  const bool haveVector = [] {
    std::vector<uint64_t> z(24, 0), n(24, 0);
    n[0] = 1;
    return longvAmm1024Digits(z.data(), z.data(), z.data(), n.data(), 1, true);
  }();
  enum Alias { kSquare, kRIsA, kRIsB };
  // The file's halves hold different moduli.
  const size_t half = cases.size() / 2;
  for (const bool vector : {false, true}) {
    if (vector && !haveVector) continue;
    for (const unsigned int count : {1u, 2u}) {
      for (const Alias alias : {kSquare, kRIsA, kRIsB}) {
        for (size_t i = 0; i < half; i += 7) {
          SCOPED_TRACE(::testing::Message() << "vector " << vector << " count " << count
                                            << " alias " << alias << " case " << i);
          ASSERT_NE(cases[i][0], cases[i + half][0]);
          std::vector<uint64_t> n, a, b, want;
          for (size_t s = i; s < i + count * half; s += half) {
            const auto& c = cases[s];
            const auto nd = toDigits52(hexWords(c[0])), ad = toDigits52(hexWords(c[1]));
            const auto bd = alias == kSquare ? ad : toDigits52(hexWords(c[2]));
            std::vector<uint64_t> r(24, 0);
            ASSERT_TRUE(longvAmm1024Digits(r.data(), ad.data(), bd.data(), nd.data(), 1, false));
            n.insert(n.end(), nd.begin(), nd.end());
            a.insert(a.end(), ad.begin(), ad.end());
            b.insert(b.end(), bd.begin(), bd.end());
            want.insert(want.end(), r.begin(), r.end());
          }
          std::vector<uint64_t> buf = alias == kRIsB ? b : a;
          const uint64_t* pa = alias == kRIsB ? a.data() : buf.data();
          const uint64_t* pb = alias == kRIsA ? b.data() : buf.data();
          ASSERT_TRUE(longvAmm1024Digits(buf.data(), pa, pb, n.data(), count, vector));
          EXPECT_EQ(buf, want);
        }
      }
    }
  }
}
