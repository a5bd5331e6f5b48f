// A modulus with its CRT halves copied while the allocations made through new (the factor
// arrays and the halves; number words come from malloc and are not refused here) fail one by
// one: every failure leaves nothing allocated behind (the leak checker of the sanitizer build
// ends the program with an error otherwise), and the copy that finally succeeds works.
#include "failnth.h"

#include "test_num_util.h"

#include <gtest/gtest.h>

using numtest::fromHex;

namespace {

struct Crt {
  LvN p = fromHex("FFFFFFFFFFFFFFC5");  // 2^64 - 59
  LvN q = fromHex("FFFFFFFFFFFFFF43");  // 2^64 - 189
  LvModulus mp{p, 9}, mq{q, 9};
  LvModulus n{p * q, 8};
  Crt() { n.setCrt(mp, mq, (1 / LvZn(q, &mp)).getN()); }
};

}  // namespace

TEST(NumModulusAlloc, CopiesCutShortLeaveNothingBehind) {
  Crt c;
  ASSERT_EQ(c.n.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
  const LvN x = fromHex("0123456789ABCDEF0123456789ABCDEF"), e = fromHex("010001");
  const LvN expect = pow(LvZn(x, &c.n), e).getN();
  int failures = 0;
  for (long at = 1;; ++at) {
    SCOPED_TRACE(at);
    g_count = 0;
    g_failAt = at;
    bool done = false;
    try {
      LvModulus copy(c.n);
      LvModulus assigned(c.p, 8);
      assigned = c.n;
      g_failAt = 0;
      EXPECT_EQ(copy.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
      EXPECT_TRUE(pow(LvZn(x, &copy), e).getN() == expect);
      EXPECT_TRUE(pow(LvZn(x, &assigned), e).getN() == expect);
      done = true;
    } catch (const std::bad_alloc&) {
      ++failures;
    } catch (const LvMemException&) {
      ++failures;
    }
    g_failAt = 0;
    if (done) break;
    ASSERT_LT(at, 200);
  }
  // at least the two halves' allocations were refused on the way
  EXPECT_GE(failures, 2);
}
