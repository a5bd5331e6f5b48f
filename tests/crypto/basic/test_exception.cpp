// The exception family: six-line texts, class data, copies and the tree.
#include <gtest/gtest.h>

#include <string>

#include "crypto/basic/lvexception.h"

namespace {

const int kThrowLine = __LINE__ + 3;

[[noreturn]] void throwFsm() {
  LV_THROW(LvFsmException, "Nie wykonano funkcji init.", "LvDhf::step", "lvhash\\lvdhf.cpp");
}

TEST(LvExceptions, TemplatesOfTheDefaultConstructors) {
  EXPECT_STREQ(LvException().what(),
               "LIBRARY: libvorinpp\nEXCEPTION: LvException\nREASON: ???\nFUNCTION: ???\nFILE: "
               "???\nLINE: ???\n");
  EXPECT_STREQ(LvWrongSyntaxException().what(),
               "LIBRARY: libvorinpp\nEXCEPTION: LvWrongSyntaxException\nREASON: ???\nFUNCTION: "
               "???\nFILE: ???\nLINE: ???\n");
  EXPECT_STREQ(LvMemException().what(),
               "LIBRARY: libvorinpp\nEXCEPTION: LvMemException\nREASON: out of memory during "
               "allocation 0x??? octets\nFILE: ???\nLINE: ???\n");
  EXPECT_EQ(LvException().getValue(), 0u);
}

TEST(LvExceptions, ThrowSiteTextHasSixLines) {
  try {
    throwFsm();
  } catch (const LvException& e) {
    std::string w = e.what();
    std::string expectedStart =
        "LIBRARY: libvorinpp\nEXCEPTION: LvFsmException\nREASON: Nie wykonano funkcji "
        "init.\nFUNCTION: LvDhf::step\nFILE: lvhash\\lvdhf.cpp\nLINE: ";
    EXPECT_EQ(w.substr(0, expectedStart.size()), expectedStart);
    std::string line = w.substr(expectedStart.size());
    EXPECT_EQ(line, std::to_string(kThrowLine) + "\n");
    int lines = 0;
    for (char c : w) lines += c == '\n';
    EXPECT_EQ(lines, 6);
  }
}

TEST(LvExceptions, MemExceptionBuildsItsOwnText) {
  LvMemException e(4096, "lvbasic\\lvcommon\\lvoctmem.cpp", "123");
  EXPECT_EQ(e.getSize(), 4096u);
  EXPECT_STREQ(e.what(),
               "LIBRARY: libvorinpp\nEXCEPTION: LvMemException\nREASON: out of memory during "
               "allocation 0x00001000 octets\nFILE: lvbasic\\lvcommon\\lvoctmem.cpp\nLINE: 123\n");
  // only the tails of very long names are kept
  std::string longName(3000, 'p');
  longName += "END";
  LvMemException l(1, longName.c_str(), "12345678901234567890123456789");
  std::string w = l.what();
  EXPECT_NE(w.find("FILE: " + std::string(1013, 'p') + "END\n"), std::string::npos);
  EXPECT_EQ(w.find(std::string(1014, 'p')), std::string::npos);
  EXPECT_NE(w.find("LINE: 678901234567890123456789\n"), std::string::npos);
}

// The copy made for a throw, and any later copy or assignment, points at its
// own text, never at the (destroyed) original's buffer.
TEST(LvExceptions, CopiesOwnTheirTexts) {
  std::string expected;
  LvMemException assigned;
  {
    LvMemException* original = new LvMemException(16, "f", "1");
    expected = original->what();
    LvMemException copy(*original);
    assigned = *original;
    delete original;
    EXPECT_EQ(expected, copy.what());
  }
  EXPECT_EQ(expected, assigned.what());
  try {
    throw LvMemException(32, "g", "2");
  } catch (const LvMemException& e) {
    EXPECT_NE(std::string(e.what()).find("0x00000020"), std::string::npos);
  }

  LvBadKeyLengthException k2;
  {
    LvBadKeyLengthException* k = new LvBadKeyLengthException(8, 16, 16, 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(k->getValue()),
                 "OCTETS: 0x00000008\nMIN_OCTETS: 0x00000010\nMAX_OCTETS: 0x00000010\nSTEP_OCTETS: "
                 "0x00000000\n");
    k2 = *k;
    delete k;
  }
  EXPECT_STREQ(reinterpret_cast<const char*>(k2.getValue()),
               "OCTETS: 0x00000008\nMIN_OCTETS: 0x00000010\nMAX_OCTETS: 0x00000010\nSTEP_OCTETS: "
               "0x00000000\n");
  EXPECT_EQ(LvInterruptException(7).getCode(), 7u);
}

TEST(LvExceptions, ClassTree) {
  auto caughtAsCritical = [](auto thrower) {
    try {
      thrower();
    } catch (const LvCriticalException&) {
      return true;
    } catch (const LvException&) {
      return false;
    }
    return false;
  };
  EXPECT_TRUE(caughtAsCritical([] { throw LvFsmException(); }));
  EXPECT_TRUE(caughtAsCritical([] { throw LvArgumentRangeException(); }));
  EXPECT_TRUE(caughtAsCritical([] { throw LvDivByZeroException(); }));
  EXPECT_FALSE(caughtAsCritical([] { throw LvRbgCycleException(); }));
  EXPECT_FALSE(caughtAsCritical([] { throw LvBadKeyLengthException(); }));
  try {
    throw LvWrongSyntaxException();
  } catch (const LvConversionException& e) {
    EXPECT_NE(std::string(e.what()).find("LvWrongSyntaxException"), std::string::npos);
  }
  try {
    throw LvWeakKeyException();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("EXCEPTION: LvWeakKeyException\n"), std::string::npos);
  }
}

}  // namespace
