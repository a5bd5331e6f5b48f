// Miller-Rabin: Wycheproof's primes and composites (Carmichael numbers and
// strong pseudoprimes to fixed bases), and the rules for small numbers and
// special bases.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "crypto/algebra/test_num_util.h"
#include "crypto/rbg/lvrbghashiso18031.h"

namespace {

using namespace numtest;

LvN words(std::initializer_list<LvWord> ws) {
  std::vector<LvWord> v(ws);
  return LvN(v.data(), static_cast<LvWordLen>(v.size()));
}

}  // namespace

// Wycheproof writes values as two's complement: a leading octet of 0x80 or
// above is a negative number. Those are the "acceptable" NegativeOfPrime
// cases (and a few invalid ones such as -1); a natural-number test has no
// negative input, so they are skipped.
TEST(NumPrime, WycheproofPrimality) {
  std::ifstream f(dataPath("primality_test.json"));
  nlohmann::json j = nlohmann::json::parse(f);
  LvRbgHashIso18031 rbg;
  const LvOctet seed[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                            17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  rbg.init(seed, sizeof seed);
  unsigned int checked = 0, fixedFooled = 0;
  for (const auto& g : j["testGroups"]) {
    for (const auto& t : g["tests"]) {
      std::vector<LvOctet> b = hexBytes(t["value"].get<std::string>());
      if (!b.empty() && b[0] >= 0x80) {
        EXPECT_NE(t["result"], "valid");
        continue;
      }
      LvModulus n(LvN(b.data(), static_cast<unsigned int>(b.size())), 8);
      bool expect = t["result"] == "valid";
      SCOPED_TRACE("tcId " + std::to_string(t["tcId"].get<int>()));
      EXPECT_EQ(isProbablePrime(n, &rbg), expect);
      // The fixed bases (the first primes) accept every prime; some composites
      // built against fixed bases pass them, which is why callers that face
      // hostile input pass a generator.
      bool fixed = isProbablePrime(n, nullptr);
      if (expect)
        EXPECT_TRUE(fixed);
      else if (fixed)
        ++fixedFooled;
      ++checked;
    }
  }
  EXPECT_GT(checked, 300u);
  RecordProperty("CompositesPassingFixedBases", static_cast<int>(fixedFooled));
}

TEST(NumPrime, SmallNumbersAndSpecialBases) {
  LvN bases[3] = {LvN(2u, 1), LvN(3u, 1), LvN(5u, 1)};
  for (LvWord v : {0u, 1u, 4u, 6u, 8u, 9u, 10u, 12u, 14u, 15u, 21u})
    EXPECT_FALSE(millerRabinTest(LvN(v, 1), bases, 3)) << v;
  for (LvWord v : {2u, 3u, 5u, 7u, 11u, 13u, 17u, 65537u})
    EXPECT_TRUE(millerRabinTest(LvN(v, 1), bases, 3)) << v;
  // A base that is a multiple of n (0 included) is skipped.
  LvN multiples[2] = {LvN(), LvN(26u, 1)};
  EXPECT_TRUE(millerRabinTest(LvN(13u, 1), multiples, 2));
  EXPECT_TRUE(millerRabinTest(LvN(25u, 1), multiples, 1));
  // A base sharing a factor with n.
  LvN three(3u, 1);
  EXPECT_FALSE(millerRabinTest(LvN(15u, 1), &three, 1));
  // No bases: every odd n above 12 passes.
  EXPECT_TRUE(millerRabinTest(LvN(25u, 1), nullptr, 0));
  // 2047 = 23 * 89 is a strong pseudoprime to base 2 only.
  LvN two(2u, 1);
  EXPECT_TRUE(millerRabinTest(LvN(2047u, 1), &two, 1));
  EXPECT_FALSE(millerRabinTest(LvN(2047u, 1), &three, 1));
  // Mersenne prime 2^127 - 1 and a composite neighbour.
  LvN m127 = words({0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF});
  EXPECT_TRUE(isProbablePrime(LvModulus(m127, 8), nullptr));
  EXPECT_FALSE(isProbablePrime(LvModulus(m127 - 2u, 8), nullptr));
}
