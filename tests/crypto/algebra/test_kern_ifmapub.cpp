// The public road's 52-bit almost-Montgomery product and the public power over it, on the
// vector unit and on the portable product, against Python's integers
// (tests/data/rsa/make_pow_public.py): the product's exact value (not only its residue) at
// every served word count and modulus shape, and the power's answer for edge bases and
// exponents.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/algebra/longvint.h"
#include "crypto/algebra/test_num_util.h"
#include "crypto/basic/lvcpu.h"

namespace {

using namespace numtest;

int digitsFor(LvWordLen k) { return static_cast<int>((32 * k + 2 + 51) / 52); }

std::vector<LvWord> words(const std::string& hex, LvWordLen k) {
  const LvN v = fromHex(hex);
  std::vector<LvWord> w(k, 0);
  longvCopyResize(w.data(), k, v.getWords(), v.getUsed());
  return w;
}

// The value's bits cut into 52-bit digits, one bit at a time (independent of the unit's cut).
std::vector<uint64_t> digits(const std::string& hex, int count) {
  const LvN v = fromHex(hex);
  std::vector<uint64_t> d(static_cast<size_t>(count), 0);
  for (unsigned int bit = 0; bit < v.getBitLength(); ++bit)
    if ((v.getWords()[bit / 32] >> (bit % 32)) & 1u) d[bit / 52] |= uint64_t(1) << (bit % 52);
  return d;
}

// Runs the public power with the vector road on (where the processor has it) or with the
// portable product, and restores the switches.
bool powOnRoad(bool vector, LvWord* out, const std::vector<LvWord>& x, const std::vector<LvWord>& n,
               const std::vector<LvWord>& e) {
  longvRowAsmAllowed = vector;
  longvIfmaEmulated = !vector;
  const bool ok = longvPowPublicIfma(out, x.data(), n.data(), static_cast<LvWordLen>(n.size()),
                                     e.data(), static_cast<LvWordLen>(e.size()));
  longvRowAsmAllowed = true;
  longvIfmaEmulated = false;
  return ok;
}

bool haveVector() { return lvcpu::hasAvx512Ifma() && lvcpu::hasAvx512Vl(); }

}  // namespace

TEST(KernIfmaPublic, ProductIsExactOnBothRoads) {
  const auto rows = vectors("amm", "pow_public.txt");
  ASSERT_EQ(rows.size(), 120u);
  for (const auto& r : rows) {
    const LvWordLen k = static_cast<LvWordLen>(std::stoul(r[1]));
    const int D = digitsFor(k);
    SCOPED_TRACE("words " + r[1] + " n " + r[2].substr(0, 12) + " a " + r[3].substr(0, 12));
    const auto n = words(r[2], k);
    const auto a = digits(r[3], D), b = digits(r[4], D), want = digits(r[5], D);
    for (bool vector : {false, true}) {
      if (vector && !haveVector()) continue;
      std::vector<uint64_t> got(static_cast<size_t>(D), 0xAAAAu);
      ASSERT_TRUE(longvAmm52ForTest(got.data(), a.data(), b.data(), n.data(), k, vector));
      EXPECT_EQ(got, want) << (vector ? "vector" : "portable");
      // In place, as the squarings of the power run.
      std::vector<uint64_t> sq(a);
      ASSERT_TRUE(longvAmm52ForTest(sq.data(), sq.data(), sq.data(), n.data(), k, vector));
      std::vector<uint64_t> sq2(static_cast<size_t>(D));
      ASSERT_TRUE(longvAmm52ForTest(sq2.data(), a.data(), a.data(), n.data(), k, vector));
      EXPECT_EQ(sq, sq2);
    }
  }
}

TEST(KernIfmaPublic, PowerMatchesPythonOnBothRoads) {
  const auto rows = vectors("ppow", "pow_public.txt");
  ASSERT_EQ(rows.size(), 138u);
  for (const auto& r : rows) {
    const LvWordLen k = static_cast<LvWordLen>(std::stoul(r[1]));
    SCOPED_TRACE("words " + r[1] + " n " + r[2].substr(0, 12) + " x " + r[3].substr(0, 12) +
                 " e " + r[4].substr(0, 12));
    const auto n = words(r[2], k), x = words(r[3], k), want = words(r[5], k);
    const LvN ev = fromHex(r[4]);
    // The exponent with a zero word above it: only its significant words count.
    std::vector<LvWord> e(ev.getWords(), ev.getWords() + ev.getUsed());
    e.push_back(0);
    for (bool vector : {false, true}) {
      if (vector && !haveVector()) continue;
      std::vector<LvWord> out(k, 0xAAAAAAAAu);
      ASSERT_TRUE(powOnRoad(vector, out.data(), x, n, e));
      EXPECT_EQ(out, want) << (vector ? "vector" : "portable");
    }
  }
}

// Where the road does not serve, it says so and writes nothing: the caller's own road runs.
TEST(KernIfmaPublic, DeclinesWhatItDoesNotServe) {
  const LvWord one = 1, e65537 = 65537, zero = 0;
  struct Case {
    LvWordLen k;
    LvWord top, low;
    const LvWord* e;
  } cases[] = {{31, 0x80000000u, 0x12345u, &e65537},  // below 1024 bits
               {221, 0x80000000u, 0x12345u, &e65537}, // above 7040 bits
               {64, 0x80000000u, 0x12344u, &e65537},  // even modulus
               {64, 0, 0x12345u, &e65537},            // top word zero
               {64, 0x80000000u, 0x12345u, &zero}};   // zero exponent
  for (const Case& c : cases) {
    std::vector<LvWord> n(c.k, 0x5A5A5A5Au), x(c.k, 0), out(c.k, 0xAAAAAAAAu);
    n[0] = c.low;
    n[c.k - 1] = c.top;
    x[0] = 2;
    for (bool vector : {false, true}) {
      EXPECT_FALSE(powOnRoad(vector, out.data(), x, n, std::vector<LvWord>{*c.e})) << c.k;
      EXPECT_EQ(out, std::vector<LvWord>(c.k, 0xAAAAAAAAu));
    }
  }
  // Without the vector unit and without the emulation (the portable build) it declines too.
  std::vector<LvWord> n(64, 0xFFFFFFFFu), x(64, 3), out(64, 0);
  longvRowAsmAllowed = false;
  EXPECT_FALSE(longvPowPublicIfma(out.data(), x.data(), n.data(), 64, &one, 1));
  longvRowAsmAllowed = true;
}
