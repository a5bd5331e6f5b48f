// Chinese remainder recombination and the Jacobi symbol on natural numbers.
#include <gtest/gtest.h>

#include <deque>

#include "crypto/algebra/kern_data.h"
#include "crypto/algebra/lvnumbers.h"

TEST(KernCrt, GarnerMatchesPythonIntegers) {
  auto cases = kern::readCases("crt.txt");
  ASSERT_GT(cases.size(), 30u);
  for (const auto& c : cases) {
    const unsigned int count = unsigned(std::stoul(c[0]));
    SCOPED_TRACE(c[1] + " ...");
    std::deque<LvModulus> mods;  // stable addresses for the residues
    std::vector<LvZn> residues;
    for (unsigned int i = 0; i < count; ++i) {
      mods.emplace_back(("0x" + c[1 + 2 * i]).c_str(), LvModulus::OPT_MONT);
      residues.emplace_back(LvN(("0x" + c[2 + 2 * i]).c_str()), &mods.back());
    }
    const LvN x = crtCombine(residues.data(), count);
    ASSERT_TRUE(x == LvN(("0x" + c[1 + 2 * count]).c_str()));
  }
}

TEST(KernCrt, SharedFactorAndMissingModulus) {
  LvModulus m6("6", LvModulus::OPT_MONT), m9("9", LvModulus::OPT_MONT);
  std::vector<LvZn> r;
  r.emplace_back(LvN("1"), &m6);
  r.emplace_back(LvN("4"), &m9);
  EXPECT_THROW(crtCombine(r.data(), 2), LvInvException);
  LvZn none;
  EXPECT_THROW(crtCombine(&none, 1), LvNotInitException);
  EXPECT_TRUE(crtCombine(r.data(), 0) == LvN());
}

TEST(KernCrt, JacobiOnNaturalNumbers) {
  EXPECT_EQ(jacobi(LvN("2"), LvN("7")), 1);
  EXPECT_EQ(jacobi(LvN("3"), LvN("7")), -1);
  EXPECT_EQ(jacobi(LvN("0"), LvN("9")), 0);
  EXPECT_EQ(jacobi(LvN("10"), LvN("7")), -1);  // a >= n: as a mod n
  // 2^255 - 19 is prime and = 5 mod 8, so 2 is a non-residue.
  EXPECT_EQ(jacobi(LvN("2"),
                   LvN("0x7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed")),
            -1);
}
