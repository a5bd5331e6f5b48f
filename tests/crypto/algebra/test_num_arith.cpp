// Natural numbers: arithmetic against Python's integers, text and octet forms,
// and the failures of the operators.
#include <gtest/gtest.h>

#include "crypto/algebra/test_num_util.h"

namespace {

using namespace numtest;

std::string toHex(const LvN& n) {
  std::vector<LvOctet> b(n.getOctetLength() + 1);
  unsigned int len = n.getOctets(b.data(), static_cast<unsigned int>(b.size()));
  static const char* d = "0123456789abcdef";
  std::string s;
  for (unsigned int i = 0; i < len; ++i) {
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  size_t nz = s.find_first_not_of('0');
  return nz == std::string::npos ? "0" : s.substr(nz);
}

}  // namespace

TEST(NumArith, MatchesReferenceIntegers) {
  auto rows = vectors("arith");
  ASSERT_GT(rows.size(), 40u);
  for (const auto& r : rows) {
    LvN a = fromHex(r[1]), b = fromHex(r[2]);
    SCOPED_TRACE(r[1] + " " + r[2]);
    EXPECT_EQ(toHex(a + b), r[3]);
    if (r[4] == "-") {
      EXPECT_THROW(a - b, LvRevException);
      EXPECT_TRUE(a < b);
    } else {
      EXPECT_EQ(toHex(a - b), r[4]);
      EXPECT_TRUE(a >= b);
    }
    EXPECT_EQ(toHex(a * b), r[5]);
    EXPECT_EQ(toHex(a / b), r[6]);
    EXPECT_EQ(toHex(a % b), r[7]);
    EXPECT_EQ(toHex(gcd(a, b)), r[8]);
    unsigned int s = std::stoul(r[9], nullptr, 16);
    EXPECT_EQ(toHex(a << s), r[10]);
    EXPECT_EQ(toHex(a >> s), r[11]);
    EXPECT_EQ(std::string(a.toString().getText()), r[12]);
    // In-place forms and the word forms agree with the binary operators.
    LvN c(a);
    c *= b;
    c /= b;
    EXPECT_TRUE(c == a);
    LvWord w = b.getLowWord() | 1u;
    EXPECT_EQ(a % w, (a % LvN(w, 1)).getLowWord());
    EXPECT_TRUE(a / w == a / LvN(w, 1));
    EXPECT_TRUE(w * a == a * LvN(w, 1));
  }
}

TEST(NumArith, TextForms) {
  EXPECT_TRUE(LvN("") == 0u);
  EXPECT_TRUE(LvN("0") == 0u);
  EXPECT_TRUE(LvN("00") == 0u);
  EXPECT_TRUE(LvN("0x") == 0u);
  EXPECT_TRUE(LvN("0x1F") == 31u);
  EXPECT_TRUE(LvN("0x1f") == 31u);
  EXPECT_TRUE(LvN("017") == 15u);
  EXPECT_TRUE(LvN("17") == 17u);
  EXPECT_TRUE(LvN("18446744073709551617") == fromHex("10000000000000001"));
  // Text that is not a number of its base is refused, not read as garbage.
  EXPECT_THROW(LvN("0X1F"), LvWrongSyntaxException);
  EXPECT_THROW(LvN("12a"), LvWrongSyntaxException);
  EXPECT_THROW(LvN("09"), LvWrongSyntaxException);
  EXPECT_EQ(std::string(LvN("0").toString().getText()), "0");
}

TEST(NumArith, OctetForms) {
  LvOctet buf[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  LvN zero;
  EXPECT_EQ(zero.getOctetLength(), 0u);
  EXPECT_EQ(zero.getOctets(buf, 8), 1u);
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(zero.getBitLength(), 1u);

  const LvOctet one[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  LvN n1(one, 8);
  EXPECT_EQ(n1.getUsed(), 1u);
  EXPECT_TRUE(n1 == 1u);
  EXPECT_EQ((LvN(1u, 1) << 32).getBitLength(), 33u);
  EXPECT_TRUE(LvN(static_cast<const LvOctet*>(nullptr), 0) == 0u);

  LvN two = fromHex("0102");
  buf[0] = 0x55;
  EXPECT_EQ(two.getOctets(buf, 1), 0u);
  EXPECT_EQ(buf[0], 0x55);  // nothing written
  EXPECT_EQ(two.getOctets(buf, 4, 1), 4u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[2], 1);
  EXPECT_EQ(buf[3], 2);
  // The padded form checks that the number fits.
  buf[0] = 0x55;
  EXPECT_THROW(two.getOctets(buf, 1, 1), LvArgumentRangeException);
  EXPECT_EQ(buf[0], 0x55);

  EXPECT_THROW(two[2], LvAccessException);
  EXPECT_EQ(two[0], 0x0102u);
}

TEST(NumArith, FailuresLeaveOperandUnchanged) {
  LvN three(3u, 1), five(5u, 1), zero;
  EXPECT_TRUE(zero / zero == 0u);
  EXPECT_THROW(five / zero, LvDivByZeroException);
  EXPECT_THROW(five % zero, LvDivByZeroException);
  EXPECT_THROW(five % 0u, LvDivByZeroException);
  EXPECT_TRUE(three / five == 0u);
  EXPECT_TRUE(three % five == 3u);
  LvN t(three);
  EXPECT_THROW(t -= five, LvRevException);
  EXPECT_TRUE(t == 3u);
  EXPECT_THROW(t -= 4u, LvRevException);
  EXPECT_TRUE(t == 3u);
  EXPECT_THROW(--zero, LvRevException);
  EXPECT_TRUE(zero == 0u);
  LvN big = fromHex("123456789abcdef0123456789");
  EXPECT_TRUE(zero * big == 0u);
  EXPECT_TRUE(big * zero == 0u);
  // Self-referencing operands.
  LvN s(big);
  const LvN& self = s;  // the same object, named twice
  s -= self;
  EXPECT_TRUE(s == 0u);
  s = big;
  s /= self;
  EXPECT_TRUE(s == 1u);
  s = big;
  s += s;
  EXPECT_TRUE(s == big * LvN(2u, 1));
}

TEST(NumArith, NafPowersDivisibility) {
  int d[4] = {9, 9, 9, 9};
  LvN(7u, 1).toNaf(d);
  EXPECT_EQ(d[0], -1);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(d[3], 1);

  EXPECT_TRUE(LvN(3u, 1).pow(5) == 243u);
  EXPECT_TRUE(LvN(3u, 1).pow(0) == 1u);
  EXPECT_TRUE(LvN(3u, 1).pow(1) == 3u);
  LvN p64 = LvN(2u, 1).pow(64);
  EXPECT_EQ(p64.getUsed(), 3u);
  EXPECT_EQ(p64.getBitLength(), 65u);

  EXPECT_TRUE(LvN(3u, 1) | LvN(12u, 1));
  EXPECT_FALSE(LvN(5u, 1) | LvN(12u, 1));
  EXPECT_TRUE(LvN() | LvN());
  EXPECT_THROW(LvN() | LvN(5u, 1), LvDivByZeroException);
  EXPECT_TRUE(LvN().isEven());
  EXPECT_FALSE(LvN(7u, 1).isEven());
  EXPECT_TRUE(gcd(LvN(12u, 1), LvN(18u, 1)) == 6u);
  EXPECT_TRUE(gcd(LvN(), LvN(18u, 1)) == 18u);
}

TEST(NumArith, RandomDrawsAreBounded) {
  ScriptedRbg ff(0xFF);
  LvN r;
  r.random(37, &ff);
  EXPECT_EQ(r.getBitLength(), 37u);
  EXPECT_THROW(r.random(8, nullptr), LvNotInitException);
  // All-ones draws never fall below 2^36 + 1: a broken generator must not
  // make the draw loop for ever.
  LvN limit = LvN(1u, 1) << 36;
  ++limit;
  EXPECT_THROW(r.randomBelow(limit, &ff), LvRbgCycleException);
  ScriptedRbg zero(0x00);
  r.randomBelow(limit, &zero);
  EXPECT_TRUE(r == 0u);
  r.randomBelow(LvN(1u, 1), &ff);
  EXPECT_TRUE(r == 0u);
}
