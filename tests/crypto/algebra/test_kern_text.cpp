// Number text conversion, DER headers and the arithmetic layer's exception classes.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/algebra/kern_data.h"

using kern::hexWords;
using kern::Words;

namespace {

// Word buffers sized exactly as the callers size them.
size_t wordsFor(const std::string& text, char base) {
  return base == 'o' ? text.size() * 3 / 32 + 1 : text.size() * 4 / 32 + 1;
}

LvWordLen parse(char base, Words& w, const char* text) {
  if (base == 'd') return longvFromDecimal(w.data(), text);
  if (base == 'o') return longvFromOctal(w.data(), text);
  return longvFromHex(w.data(), text);
}

}  // namespace

TEST(KernText, ParsersAndPrintersMatchPythonIntegers) {
  auto cases = kern::readCases("text.txt");
  ASSERT_GT(cases.size(), 300u);
  for (const auto& c : cases) {
    const char base = c[0][0];
    SCOPED_TRACE(c[0] + " " + c[1]);
    Words w(wordsFor(c[1], base), 0xA5A5A5A5u);
    const LvWordLen used = parse(base, w, c[1].c_str());
    const Words exp = hexWords(c[2]);
    ASSERT_EQ(used, exp.size());
    ASSERT_EQ(Words(w.begin(), w.begin() + used), exp);
    if (base != 'o') continue;
    // Printing: octal digits, then the in-place decimal rewrite of the decimal printer.
    std::vector<char> text(32 * exp.size() / 3 + 2, 'Z');
    longvToOctal(text.data(), exp.data(), LvWordLen(exp.size()));
    ASSERT_STREQ(text.data(), c[1].c_str());
    lvOctalToDecimal(text.data());
    ASSERT_STREQ(text.data(), c[3].c_str());
  }
}

TEST(KernText, SmallCases) {
  Words w(4, 7);
  EXPECT_EQ(longvFromDecimal(w.data(), "12345"), 1u);
  EXPECT_EQ(w[0], 12345u);
  EXPECT_EQ(longvFromHex(w.data(), "1fF"), 1u);
  EXPECT_EQ(w[0], 511u);
  EXPECT_EQ(longvFromOctal(w.data(), "777"), 1u);
  EXPECT_EQ(w[0], 511u);
  EXPECT_EQ(longvFromDecimal(w.data(), ""), 1u);
  EXPECT_EQ(w[0], 0u);
  EXPECT_EQ(longvFromHex(w.data(), "0000"), 1u);
  EXPECT_EQ(w[0], 0u);
  EXPECT_EQ(longvFromDecimal(w.data(), "18446744073709551617"), 3u);  // 2^64 + 1
  EXPECT_EQ(Words(w.begin(), w.begin() + 3), (Words{1, 0, 1}));
  char buf[16];
  const LvWord eight[2] = {8, 0}, zero = 0;
  longvToOctal(buf, eight, 2);
  EXPECT_STREQ(buf, "10");
  longvToOctal(buf, &zero, 1);
  EXPECT_STREQ(buf, "0");
  std::strcpy(buf, "17");
  lvOctalToDecimal(buf);
  EXPECT_STREQ(buf, "15");
  std::strcpy(buf, "0");
  lvOctalToDecimal(buf);
  EXPECT_STREQ(buf, "0");
  std::strcpy(buf, "0000");
  lvOctalToDecimal(buf);
  EXPECT_STREQ(buf, "0");
}

TEST(KernText, NonDigitsThrowAndWriteNothing) {
  Words w(4, 0x11111111u);
  EXPECT_THROW(longvFromDecimal(w.data(), "12a4"), LvWrongSyntaxException);
  EXPECT_THROW(longvFromOctal(w.data(), "778"), LvConversionException);
  EXPECT_THROW(longvFromHex(w.data(), "12g"), LvWrongSyntaxException);
  EXPECT_THROW(longvFromDecimal(w.data(), "-1"), LvWrongSyntaxException);
  EXPECT_EQ(w, Words(4, 0x11111111u));
  char buf[8] = "129";
  EXPECT_THROW(lvOctalToDecimal(buf), LvWrongSyntaxException);
  EXPECT_STREQ(buf, "129");
  try {
    longvFromHex(w.data(), "x");
  } catch (const LvException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("LIBRARY: libvorinpp\nEXCEPTION: LvWrongSyntaxException\n", 0),
              0u);
  }
}

TEST(KernDer, LengthEncoding) {
  struct Case {
    unsigned int len;
    std::vector<LvOctet> enc;
  };
  const Case cases[] = {{0, {0x00}},
                        {127, {0x7F}},
                        {128, {0x81, 0x80}},
                        {255, {0x81, 0xFF}},
                        {256, {0x82, 0x01, 0x00}},
                        {0x10000, {0x83, 0x01, 0x00, 0x00}},
                        {0xFFFFFFFFu, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}}};
  for (const Case& c : cases) {
    LvOctet out[8];
    EXPECT_EQ(derEncodeLength(c.len, out), c.enc.size());
    EXPECT_EQ(std::vector<LvOctet>(out, out + c.enc.size()), c.enc);
    EXPECT_EQ(derLengthSize(c.len), c.enc.size());
    if (c.len > 1000) continue;
    // Decoding a whole element built with it.
    std::vector<LvOctet> el = {0x04};
    el.insert(el.end(), c.enc.begin(), c.enc.end());
    el.resize(el.size() + c.len, 0xEE);
    EXPECT_EQ(derContentLength(el.data(), el.size()), c.len);
    EXPECT_EQ(derContent(el.data(), el.size()), el.data() + 1 + c.enc.size());
    EXPECT_EQ(derTotalLength(el.data(), el.size()), el.size());
    EXPECT_EQ(derTotalLength(el.data()), el.size());
  }
}

TEST(KernDer, HeadersOfStrangers) {
  const LvOctet highTag[] = {0x1F, 0x81, 0x00, 0x02, 0xAA, 0xBB};
  EXPECT_EQ(derContentLength(highTag, sizeof highTag), 2u);
  EXPECT_EQ(derContent(highTag, sizeof highTag), highTag + 4);
  EXPECT_EQ(derTotalLength(highTag, sizeof highTag), 6u);
  const LvOctet indefinite[] = {0x30, 0x80, 0x00, 0x00};
  EXPECT_EQ(derContentLength(indefinite, sizeof indefinite), 0u);
  EXPECT_EQ(derContent(indefinite, sizeof indefinite), indefinite + 2);

  // Truncated or malformed headers are refused within the octets that are really there.
  EXPECT_EQ(derTotalLength(highTag, 3), 0u);   // identifier ends, no length octet
  EXPECT_EQ(derContent(highTag, 2), nullptr);  // identifier runs off the end
  EXPECT_EQ(derTotalLength(highTag, 5), 0u);   // content runs past the octets
  const LvOctet longRun[] = {0x3F, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 0x00};
  EXPECT_EQ(derContent(longRun, sizeof longRun), nullptr);  // tag number beyond 32 bits
  const LvOctet fiveOctets[] = {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA};
  EXPECT_EQ(derContent(fiveOctets, sizeof fiveOctets), nullptr);
  EXPECT_EQ(derContentLength(fiveOctets, sizeof fiveOctets), 0u);
  const LvOctet lenCut[] = {0x04, 0x82, 0x01};
  EXPECT_EQ(derContent(lenCut, sizeof lenCut), nullptr);
  const LvOctet huge[] = {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(derContentLength(huge, sizeof huge), 0xFFFFFFFFu);
  EXPECT_EQ(derTotalLength(huge), 0u);  // 6 + 0xFFFFFFFF does not fit 32 bits
  EXPECT_EQ(derTotalLength(huge, sizeof huge), 0u);
  EXPECT_EQ(derTotalLength(nullptr, 10), 0u);
  EXPECT_EQ(derContent(huge, 0), nullptr);
}

TEST(KernExceptions, DefaultTextsAndFamily) {
  auto text = [](const char* cls) {
    return std::string("LIBRARY: libvorinpp\nEXCEPTION: ") + cls +
           "\nREASON: ???\nFUNCTION: ???\nFILE: ???\nLINE: ???\n";
  };
  EXPECT_EQ(LvLibException().what(), text("LvLibException"));
  EXPECT_EQ(LvCriticalException().what(), text("LvCriticalException"));
  EXPECT_EQ(LvConversionException().what(), text("LvConversionException"));
  EXPECT_EQ(LvMessageToLongException().what(), text("LvMessageToLongException"));
  EXPECT_EQ(LvInvException().what(), text("LvInvException"));
  EXPECT_EQ(LvDivByZeroException().what(), text("LvDivByZeroException"));
  EXPECT_EQ(LvRevException().what(), text("LvRevException"));
  EXPECT_EQ(LvWrongSyntaxException().what(), text("LvWrongSyntaxException"));
  EXPECT_THROW(throw LvCriticalException(), LvLibException);
  EXPECT_THROW(throw LvWrongSyntaxException(), LvConversionException);
  EXPECT_THROW(throw LvDivByZeroException(), LvInvException);
  EXPECT_THROW(throw LvRevException(), LvCriticalException);
  EXPECT_THROW(throw LvMessageToLongException(), LvEncryptionDecryptionException);
  bool caughtAsCritical = false;
  try {
    try {
      throw LvMessageToLongException();
    } catch (const LvCriticalException&) {
      caughtAsCritical = true;
    }
  } catch (const LvLibException&) {
  }
  EXPECT_FALSE(caughtAsCritical);
  // Copies keep the thrower's text.
  LvWrongSyntaxException w;
  w.setMessage("custom");
  EXPECT_STREQ(LvWrongSyntaxException(w).what(), "custom");
  EXPECT_STREQ(LvConversionException(w).what(), "custom");
}
