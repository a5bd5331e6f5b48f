// The power-on self-test: a full run over the built-in texts (made by openssl,
// the CAVP files and rijndael-js), the exact report texts (Windows-1250 bytes
// written out here), and runs over corrupted copies that must fail and say
// where.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>

#include "crypto/selftest/lvselftest.h"
#include "crypto/sym/lvdes.h"
#include "crypto/sym/lvrc2.h"
#include "crypto/sym/lvrijndael.h"

namespace {

using lvselftest::Data;
using lvselftest::VectorText;

// The report lines in Windows-1250 (a-ogonek B9, o-acute F3, s-acute 9C,
// c-acute E6, l-stroke B3, e-ogonek EA).
const std::string kHashHead =
    "Pocz\xB9tek test\xF3w biblioteki lvhash\r\n=================================\r\n\r\n"
    "Test poprawno\x9c" "ci\r\n================\r\n\r\n";
const std::string kSymHead =
    "Pocz\xB9tek test\xF3w biblioteki lvsym\r\n================================\r\n\r\n"
    "Testy poprawno\x9c" "ci\r\n=================\r\n\r\n";
const std::string kAsymHead =
    "Pocz\xB9tek test\xF3w biblioteki lvasym\r\n================================\r\n\r\n";
const std::string kEnd = "\r\nKoniec test\xF3w\r\n=============\r\n\r\n";

std::string counts(int vectors, int errors) {
  return "---   ilo\x9c\xE6 wektor\xF3w : " + std::to_string(vectors) +
         "\r\n---   ilo\x9c\xE6 b\xB3\xEA" "d\xF3w: " + std::to_string(errors) + "\r\n\r\n";
}

std::string wektorow(const char* name, unsigned int n) {
  return std::string(name) + " (wektor\xF3w: " + std::to_string(n) + ")\tOK\r\n";
}

TEST(SelfTest, FullRunPassesWithTheExactReport) {
  std::ostringstream report;
  ASSERT_TRUE(lvSelfTest(report)) << report.str();
  const std::string ok = " wektor\xF3w OK\r\n";
  std::string expected = kHashHead + "RIPEMD-160:   11" + ok + "SHA-1:   11" + ok +
                         "SHA-224:    9" + ok + "SHA-256:   11" + ok + "SHA-384:   11" + ok +
                         "SHA-512:   11" + ok + kEnd;
  expected += kSymHead + "AES/128: " + wektorow("aes.vec", 1347) + "RIJNDAEL/128: " +
              wektorow("aes.vec", 1347) + "RIJNDAEL/192: " + wektorow("rijndael192.vec", 10) +
              "RIJNDAEL/256: " + wektorow("rijndael256.vec", 10) + "TDES/64: " +
              wektorow("desede.vec", 6) + "DES-EEE/64: " + wektorow("deseee.vec", 203) +
              "DES-XEEEX/64: " + wektorow("desxeeex.vec", 3) + kEnd;
  expected += kAsymHead + "--- Test rsaSigPkcsV15TV\r\n" + counts(20, 0) +
              "--- Test rsaCipherPkcsV15TV\r\n" + counts(20, 0) + "--- Test dsaSigTV\r\n" +
              counts(1, 0) + "--- Test dsaSigVerifyTV\r\n" + counts(15, 0) +
              "--- Test epDsaSigTV\r\n" + counts(2, 0) + "--- Test epDsaSigVerifyTV\r\n" +
              counts(15, 0) + kEnd;
  EXPECT_EQ(report.str(), expected);
}

TEST(SelfTest, CorruptedSha256DigestStopsAtTheHashGroup) {
  Data data = lvselftest::builtin();
  const char* sha256[11];
  for (int i = 0; i < 11; ++i)
    sha256[i] = data.digests[3][i];
  std::string bad = sha256[2];
  bad[0] = bad[0] == '0' ? '1' : '0';
  sha256[2] = bad.c_str();
  data.digests[3] = sha256;
  std::ostringstream report;
  EXPECT_FALSE(lvselftest::run(report, data));
  const std::string text = report.str();
  const std::string tail = "SHA-256: BLAD - test nr 3\r\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.find("lvsym"), std::string::npos);
}

TEST(SelfTest, EveryHashIsCheckedOnItsLastMessage) {
  // The last test of each table (the 32-octet message, the 00..FF steps of
  // SHA-224) must be compared too.
  for (int h = 0; h < 6; ++h) {
    Data data = lvselftest::builtin();
    const unsigned int last = h == 2 ? 8 : 10;
    const char* table[11];
    for (unsigned int i = 0; i <= last; ++i)
      table[i] = data.digests[h][i];
    std::string bad = table[last];
    bad[bad.size() - 1] = bad.back() == 'f' ? 'e' : 'f';
    table[last] = bad.c_str();
    data.digests[h] = table;
    std::ostringstream report;
    EXPECT_NE(lvselftest::hashGroup(report, data), 0) << h;
    EXPECT_NE(report.str().find("BLAD - test nr " + std::to_string(last + 1) + "\r\n"),
              std::string::npos)
        << h;
  }
}

// One cipher over a text written here.
std::string runVec(LvBc& cipher, const std::string& text, int* result) {
  std::ostringstream report;
  *result = lvselftest::runVectorFile(report, cipher, "t.vec", text.data(),
                                      static_cast<unsigned int>(text.size()));
  return report.str();
}

// FIPS 197 C.1.
const char* const kAes128 =
    "KEY=000102030405060708090a0b0c0d0e0f\nPT=00112233445566778899aabbccddeeff\n"
    "CT=69c4e0d86a7b0430d8cdb78070b4c55a\n";

TEST(SelfTestVec, CommentsBlankLinesAndUnknownNamesAreSkipped) {
  LvAes aes;
  int result = -1;
  std::string text = std::string("# heading\nVECTORS=2\nKEYBITS=128\n") + kAes128 +
                     "\n  # KEY=zz\nFOO=bar\nno equals sign\n   CT=69C4E0D86A7B0430D8CDB78070B4C55A\n";
  EXPECT_EQ(runVec(aes, text, &result), "AES/128: " + wektorow("t.vec", 2));
  EXPECT_EQ(result, 0);
}

TEST(SelfTestVec, KeyBeforeItsLengthNamesTheLine) {
  LvAes aes;
  int result = -1;
  EXPECT_EQ(runVec(aes, std::string("# x\n") + kAes128, &result),
            "AES/128: Brak okreslenia dlugosci klucza (2).\r\n");
  EXPECT_EQ(result, 1);
}

TEST(SelfTestVec, MissingFieldsAndBadFormat) {
  LvAes aes;
  int result = -1;
  EXPECT_EQ(runVec(aes, "KEYBYTES=16\nPT=00112233445566778899aabbccddeeff\nCT=00\n", &result),
            "AES/128: Zly format pliku z wektorami testowymi (3).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBYTES=16\nPT=00112233445566778899aabbccddeeff\n"
                        "CT=69c4e0d86a7b0430d8cdb78070b4c55a\n",
                   &result),
            "AES/128: Brak okreslenia klucza (3).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBYTES=16\nKEY=000102030405060708090a0b0c0d0e0f\n"
                        "CT=69c4e0d86a7b0430d8cdb78070b4c55a\n",
                   &result),
            "AES/128: Brak okreslenia tekstu jawnego (3).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBYTES=16\nPT=00112233445566778899aabbccddeeff\n"
                        "CT=69c4e0d86a7b0430d8cdb78070b4c55a\n",
                   &result),
            "AES/128: Brak okreslenia klucza (3).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBITS=12x\n", &result),
            "AES/128: Zly format pliku z wektorami testowymi (1).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBYTES=16\nKEY=0g0102030405060708090a0b0c0d0e0f\n", &result),
            "AES/128: Zly format pliku z wektorami testowymi (2).\r\n");
  EXPECT_EQ(result, 1);
}

TEST(SelfTestVec, KeyLongerThanTheKeyBufferIsAFormatError) {
  // 129 octets would run past the 128-octet key buffer.
  LvAes aes;
  int result = -1;
  EXPECT_EQ(runVec(aes, "KEYBYTES=129\nKEY=" + std::string(258, '0') + "\n", &result),
            "AES/128: Zly format pliku z wektorami testowymi (1).\r\n");
  EXPECT_EQ(runVec(aes, "KEYBITS=1025\n", &result),
            "AES/128: Zly format pliku z wektorami testowymi (1).\r\n");
  EXPECT_EQ(result, 1);
}

TEST(SelfTestVec, WrongCiphertextNamesTheVector) {
  LvAes aes;
  int result = -1;
  std::string text = std::string("KEYBITS=128\n") + kAes128 + kAes128;
  text[text.size() - 2] = '0';  // last CT octet 5a -> 50
  EXPECT_EQ(runVec(aes, text, &result), "AES/128: Blad szyfrowania - wektor nr 2.\r\n");
  EXPECT_EQ(result, 1);
}

// AES whose decryption flips one bit of its result.
class BrokenDecryptionAes : public LvAes {
 public:
  void _decryptBlock(const LvOctet* in, LvOctet* out) override {
    LvAes::_decryptBlock(in, out);
    out[15] ^= 0x01;
  }
};

TEST(SelfTestVec, WrongDecryptionNamesTheVector) {
  BrokenDecryptionAes aes;
  int result = -1;
  EXPECT_EQ(runVec(aes, std::string("KEYBITS=128\n") + kAes128, &result),
            "AES/128: Blad deszyfrowania - wektor nr 1.\r\n");
  EXPECT_EQ(result, 1);
  // The built-in text catches it at its first vector.
  const VectorText& v = lvselftest::builtin().aes;
  BrokenDecryptionAes fresh;
  std::ostringstream report;
  EXPECT_EQ(lvselftest::runVectorFile(report, fresh, v.name, v.text, v.length), 1);
  EXPECT_EQ(report.str(), "AES/128: Blad deszyfrowania - wektor nr 1.\r\n");
}

TEST(SelfTestVec, Rc2NeedsItsEffectiveLengthAndPassesRfc2268) {
  LvRc2 rc2;
  int result = -1;
  EXPECT_EQ(runVec(rc2, "KEYBYTES=8\nKEY=FFFFFFFFFFFFFFFF\nPT=FFFFFFFFFFFFFFFF\nCT=278B27E42E2F0D49\n",
                   &result),
            "RC2/64: Brak okreslenia efektywnej dlugosci klucza (4).\r\n");
  std::ifstream in(TAL_TEST_DATA_DIR "/selftest/rc2.vec", std::ios::binary);
  ASSERT_TRUE(in);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(runVec(rc2, text, &result), "RC2/64: " + wektorow("t.vec", 29));
  EXPECT_EQ(result, 0);
}

TEST(SelfTestVec, LongLinesAreReadInPieces) {
  // A line holds at most 132 characters: the rest is a line of its own.
  LvAes aes;
  int result = -1;
  std::string text = "KEYBITS=128\n#" + std::string(131, 'x') + "KEY=00\n" + kAes128;
  EXPECT_EQ(runVec(aes, text, &result), "AES/128: Zly format pliku z wektorami testowymi (3).\r\n");
}

// A copy of one built-in text with one character replaced.
struct Patched {
  std::string text;
  Patched(const VectorText& v, const std::string& from, const std::string& to,
          std::size_t occurrence = 0)
      : text(v.text, v.length) {
    std::size_t at = 0;
    for (std::size_t i = 0; i <= occurrence; ++i) {
      at = text.find(from, i ? at + 1 : 0);
      EXPECT_NE(at, std::string::npos) << from;
    }
    text.replace(at, from.size(), to);
  }
  VectorText as(const VectorText& v) const {
    return {v.name, text.data(), static_cast<unsigned int>(text.size())};
  }
};

TEST(SelfTest, BrokenTripleDesVectorStopsTheSymmetricGroup) {
  Data data = lvselftest::builtin();
  Patched p(data.desede, "CT=", "CT=f");  // shifts the expected block by one digit
  data.desede = p.as(data.desede);
  std::ostringstream report;
  EXPECT_FALSE(lvselftest::run(report, data));
  const std::string text = report.str();
  EXPECT_NE(text.find("TDES/64: Blad szyfrowania - wektor nr 1.\r\n"), std::string::npos);
  EXPECT_EQ(text.find("DES-EEE"), std::string::npos);
  EXPECT_EQ(text.find("lvasym"), std::string::npos);
}

std::string asymRun(int (*test)(std::ostream&, const char*, unsigned int), const std::string& text,
                    int* result) {
  std::ostringstream report;
  *result = test(report, text.data(), static_cast<unsigned int>(text.size()));
  return report.str();
}

TEST(SelfTestAsym, DsaVerifyCountsOnlyWrongAnswers) {
  const VectorText& v = lvselftest::builtin().dsaVerify;
  // The first vector is valid: claiming it invalid is one error; the invalid
  // ones (result 0) count none.
  Patched p(v, "result=1", "result=0");
  int result = -1;
  std::string report = asymRun(lvselftest::dsaSigVerifyTV, p.text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_NE(report.find("ERROR - dsaSigVerifyTV (vector 1) wrong signature verification process\r\n"),
            std::string::npos);
  EXPECT_NE(report.find(counts(15, 1)), std::string::npos);
}

TEST(SelfTestAsym, UnknownNamesAndHashNames) {
  int result = -1;
  EXPECT_EQ(asymRun(lvselftest::rsaSigPkcsV15TV, "testVector=3\nfoo = 1\n", &result),
            "--- Test rsaSigPkcsV15TV\r\nERROR - rsaSigPkcsV15TV (vector 3) wrong variable name - "
            "foo\r\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(asymRun(lvselftest::epDsaSigVerifyTV, "testVector=2\nhashAlgo=SHA3\n", &result),
            "--- Test epDsaSigVerifyTV\r\nERROR - epDsaSigVerifyTV (vector 2) wrong value for "
            "hashAlgo:\r\n          (1) SHA1 (2) SHA224 (3) SHA256 (4) SHA384\r\n          (5) "
            "SHA512 (6) RIPEMD128 (7) RIPEMD160\r\n          (8) MD5\r\n");
  EXPECT_EQ(result, 1);
  // epDsaSigTV skips an unknown name and goes on.
  EXPECT_EQ(asymRun(lvselftest::epDsaSigTV, "testVector=4\nbar=2 # comment\nbaz\n", &result),
            "--- Test epDsaSigTV\r\nERROR - epDsaSigTV (vector 4) wrong variable name - baz - "
            "ignored\r\n" +
                counts(0, 0));
  EXPECT_EQ(result, 0);
}

TEST(SelfTestAsym, RsaKeyThatCannotBeCompleted) {
  int result = -1;
  EXPECT_EQ(asymRun(lvselftest::rsaCipherPkcsV15TV,
                    "testVector=7\nn=0x0\nd=5\ne=3\np=0\nq=0\nendOfTestVector\n", &result),
            "--- Test rsaCipherPkcsV15TV\r\nERROR - rsaCipherPkcsV15TV (vector 7) uncompleat data, "
            "check: n, d, e, p, q\r\n");
  EXPECT_EQ(result, 1);
}

TEST(SelfTestAsym, WrongRsaSignatureIsReportedByEveryStep) {
  const VectorText& v = lvselftest::builtin().rsaSig;
  // The first signature's first digit changed, its length kept.
  std::string text(v.text, v.length);
  std::size_t at = text.find("signature=") + 10;
  text[at] = text[at] == '0' ? '1' : '0';
  int result = -1;
  std::string report = asymRun(lvselftest::rsaSigPkcsV15TV, text, &result);
  EXPECT_EQ(result, 1);
  const std::string pre = "ERROR - rsaSigPkcsV15TV (vector 1) ";
  EXPECT_NE(report.find(pre + "wrong signature generation process\r\n" + pre +
                        "wrong signature verification process\r\n" + pre +
                        "wrong signature generation with masking process (error 02)\r\n" + pre +
                        "wrong signature verification process\r\n"),
            std::string::npos);
  EXPECT_NE(report.find(counts(20, 4)), std::string::npos);
}

// The RSA texts run in shares side by side: what a later vector writes still
// comes after what earlier ones wrote, and a vector that ends the test ends the
// report there, whichever share ran it.
TEST(SelfTestAsym, RsaVectorsInSharesReportInOrder) {
  const VectorText& v = lvselftest::builtin().rsaCipher;
  const std::string text(v.text, v.length);
  auto vectorStart = [&text](int n) { return text.find("testVector=" + std::to_string(n) + "\n"); };
  int result = -1;
  // Vectors 1 and 2, then one that cannot be completed, then the rest.
  std::string cut = text.substr(0, vectorStart(3)) +
                    "testVector=3\nn=0x0\nd=5\ne=3\np=0\nq=0\nendOfTestVector\n" +
                    text.substr(vectorStart(4));
  EXPECT_EQ(asymRun(lvselftest::rsaCipherPkcsV15TV, cut, &result),
            "--- Test rsaCipherPkcsV15TV\r\nERROR - rsaCipherPkcsV15TV (vector 3) uncompleat data, "
            "check: n, d, e, p, q\r\n");
  EXPECT_EQ(result, 1);

  // Wrong signatures in vectors 2, 3 and 7: their lines in vector order, then the counts.
  const VectorText& sig = lvselftest::builtin().rsaSig;
  std::string wrong(sig.text, sig.length);
  for (int n : {2, 3, 7}) {
    std::size_t at = wrong.find("signature=", wrong.find("testVector=" + std::to_string(n) + "\n")) + 10;
    wrong[at] = wrong[at] == '0' ? '1' : '0';
  }
  std::string report = asymRun(lvselftest::rsaSigPkcsV15TV, wrong, &result);
  EXPECT_EQ(result, 1);
  std::string expected = "--- Test rsaSigPkcsV15TV\r\n";
  for (int n : {2, 3, 7}) {
    const std::string pre = "ERROR - rsaSigPkcsV15TV (vector " + std::to_string(n) + ") ";
    expected += pre + "wrong signature generation process\r\n" + pre +
                "wrong signature verification process\r\n" + pre +
                "wrong signature generation with masking process (error 02)\r\n" + pre +
                "wrong signature verification process\r\n";
  }
  EXPECT_EQ(report, expected + counts(20, 12));
}

// A key whose private exponent is wrong (its CRT values then do not check
// against e) signs wrongly and is reported, whatever road made the key; the
// other vectors are unaffected.
TEST(SelfTestAsym, WrongRsaPrivateExponentIsReported) {
  const VectorText& v = lvselftest::builtin().rsaSig;
  std::string text(v.text, v.length);
  std::size_t at = text.find("d=0x") + 10;
  text[at] = text[at] == '0' ? '2' : '0';
  int result = -1;
  std::string report = asymRun(lvselftest::rsaSigPkcsV15TV, text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_NE(report.find("ERROR - rsaSigPkcsV15TV (vector 1) wrong signature generation process\r\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("(vector 2)"), std::string::npos) << report;
}

TEST(SelfTestAsym, WrongDsaAndEcDsaValuesAreReported) {
  int result = -1;
  const VectorText& dsa = lvselftest::builtin().dsaSig;
  Patched y(dsa, "y=0x1", "y=0x2");
  std::string report = asymRun(lvselftest::dsaSigTV, y.text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_NE(report.find("ERROR - dsaSigTV (vector 1) wrong key generation\r\n"), std::string::npos);

  const VectorText& ec = lvselftest::builtin().epDsaSig;
  std::string text(ec.text, ec.length);
  std::size_t at = text.find("signature=") + 10 + 12;  // inside r
  text[at] = text[at] == '0' ? '1' : '0';
  report = asymRun(lvselftest::epDsaSigTV, text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_NE(report.find("ERROR - epDsaSigTV (vector 1) wrong signature generation process\r\n"
                        "ERROR - epDsaSigTV (vector 1) wrong signature verification process\r\n"),
            std::string::npos);
}

// A domain value that a later vector changes is the one that vector and the
// next verify under (the verification tests keep the last domain while its
// values stay): a changed order or q makes the valid signatures fail from
// there on; the same value given again changes nothing.
TEST(SelfTestAsym, DomainChangedByALaterVectorIsUsed) {
  struct Case {
    const VectorText& text;
    int (*test)(std::ostream&, const char*, unsigned int);
    std::string same, changed;
  } const cases[] = {
      {lvselftest::builtin().dsaVerify, lvselftest::dsaSigVerifyTV,
       "q=e956602b83d195dbe945b3ac702fc61f81571f1d\n",
       "q=e956602b83d195dbe945b3ac702fc61f81571f1f\n"},
      {lvselftest::builtin().epDsaVerify, lvselftest::epDsaSigVerifyTV,
       "order=ffffffffffffffffffffffff99def836146bc9b1b4d22831\n",
       "order=ffffffffffffffffffffffff99def836146bc9b1b4d22833\n"},
  };
  for (const Case& c : cases) {
    int result = -1;
    Patched same(c.text, "testVector=2\n", c.same + "testVector=2\n");
    EXPECT_EQ(asymRun(c.test, same.text, &result).find("ERROR"), std::string::npos);
    EXPECT_EQ(result, 0);
    Patched changed(c.text, "testVector=2\n", c.changed + "testVector=2\n");
    std::string report = asymRun(c.test, changed.text, &result);
    EXPECT_EQ(result, 1) << report;
    EXPECT_NE(report.find("wrong signature verification process"), std::string::npos) << report;
    EXPECT_EQ(report.find("(vector 1)"), std::string::npos) << report;
  }
}

// Under a limit of the address space or of the data segment the run starts no
// threads (their stacks and arenas would use up the limit and fail the tests),
// and its report is the one the threads give.
TEST(SelfTest, NoThreadsUnderAMemoryLimit) {
  std::ostringstream free;
  ASSERT_TRUE(lvSelfTest(free));
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit before;
    ASSERT_EQ(getrlimit(resource, &before), 0);
    if (before.rlim_cur != RLIM_INFINITY) {
      EXPECT_FALSE(lvselftest::threadsAllowed());
      continue;
    }
    rlimit limited = before;
    limited.rlim_cur = RLIM_INFINITY - 1;  // a limit, however high
    ASSERT_EQ(setrlimit(resource, &limited), 0);
    const bool allowed = lvselftest::threadsAllowed();
    std::ostringstream report;
    const bool passed = lvSelfTest(report);
    ASSERT_EQ(setrlimit(resource, &before), 0);
    EXPECT_FALSE(allowed) << resource;
    EXPECT_TRUE(passed) << resource;
    EXPECT_EQ(report.str(), free.str()) << resource;
  }
}

TEST(SelfTestAsym, StatedLengthsBeyondTheValueAreCut) {
  // A seed length larger than the seed given must not read past it.
  const VectorText& dsa = lvselftest::builtin().dsaSig;
  Patched p(dsa, "xSeedLen=40", "xSeedLen=4000");
  int result = -1;
  EXPECT_EQ(asymRun(lvselftest::dsaSigTV, p.text, &result),
            "--- Test dsaSigTV\r\n" + counts(1, 0));
  EXPECT_EQ(result, 0);
}

TEST(SelfTest, BrokenAsymmetricTextFailsTheRun) {
  Data data = lvselftest::builtin();
  Patched p(data.epDsaVerify, "result=1", "result=0");
  data.epDsaVerify = p.as(data.epDsaVerify);
  std::ostringstream report;
  EXPECT_FALSE(lvselftest::run(report, data));
  const std::string text = report.str();
  EXPECT_NE(text.find("wrong signature verification process"), std::string::npos);
  EXPECT_NE(text.find(counts(15, 1)), std::string::npos);
  EXPECT_NE(text.substr(text.size() - kEnd.size()), kEnd);
}

// A test that throws (here over a number text the primitives refuse) fails by
// name, and the run goes on to the end of every group.
TEST(SelfTest, ExceptionInOneTestIsReportedByNameAndTheRunGoesOn) {
  const std::string threw = "BLAD - wyj\xB9tek w te\x9c" "cie ";
  Data data = lvselftest::builtin();
  Patched p(data.rsaSig, "n=0xbad0", "n=0xzad0");
  data.rsaSig = p.as(data.rsaSig);
  std::ostringstream report;
  EXPECT_FALSE(lvselftest::run(report, data));
  const std::string text = report.str();
  EXPECT_NE(text.find(threw + "rsaSigPkcsV15TV: "), std::string::npos) << text;
  // Every other test still ran.
  EXPECT_NE(text.find("SHA-512:   11 wektor\xF3w OK"), std::string::npos);
  EXPECT_NE(text.find("DES-XEEEX/64: "), std::string::npos);
  EXPECT_NE(text.find("--- Test epDsaSigVerifyTV\r\n" + counts(15, 0)), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - kEnd.size()), kEnd);
}


}  // namespace
