// The asymmetric group: RSA PKCS#1 v1.5 signatures and encryption, DSA and
// EC-DSA signing and verification over the built-in texts.
#include <algorithm>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "crypto/algebra/longv.h"
#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/rbg/lvrbgdss.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "crypto/selftest/lvselftest.h"
#include "crypto/selftest/lvselftest_text.h"

namespace lvselftest {
namespace {

// The RSA texts are the longest tests: each runs in this many shares side by side.
const int kRsaShards = 4;

bool sameOctets(const LvOctet* a, unsigned int aLen, const LvOctMem& b) {
  return aLen == b.getLength() && (aLen == 0 || std::memcmp(a, b.ptr(), aLen) == 0);
}

unsigned int numberValue(const std::string& value) { return LvN(value.c_str()).getLowWord(); }

// The frame every asymmetric test shares: logical lines, name=value pairs,
// the vector number and the error count.
class TextTest {
 public:
  // `octetNames`: the names whose values are octet strings.
  TextTest(std::ostream& report, const char* name, std::initializer_list<const char*> octetNames)
      : report(report), testName(name) {
    for (const char* n : octetNames)
      fields[n];
  }
  virtual ~TextTest() = default;

  int run(const char* text, unsigned int length) {
    reportf(report, "--- Test %s\r\n", testName);
    if (!runLines(text, length, nullptr))
      return 1;
    reportf(report, "---   ilość wektorów : %d\r\n", vectors);
    reportf(report, "---   ilość błędów: %d\r\n\r\n", errors);
    return errors ? 1 : 0;
  }

  // The lines of the text without the title and the counts: false when the test ended early
  // (a failed vector, a wrong name). `region`, when given, is called before the lines of
  // each vector (k from 0; the last region is what follows the last vector) and answers
  // whether that vector runs; one that does not still counts.
  bool runLines(const char* text, unsigned int length, const std::function<bool(int)>& region) {
    TextReader reader(text, length);
    std::string name, value;
    int k = 0;
    bool runs = !region || region(0);
    while (nextPair(reader, name, value)) {
      Outcome outcome;
      if (name == "testVector") {
        vector = static_cast<int>(numberValue(value));
        outcome = kOk;
      } else if (name == "endOfTestVector") {
        ++vectors;
        outcome = runs ? runVector() : kOk;
        if (outcome == kOk)
          runs = !region || region(++k);
      } else {
        outcome = assign(name, value);
        if (outcome == kUnknown) {
          if (!unknownNameFails()) {
            reportf(report, "ERROR - %s (vector %d) wrong variable name - %s - ignored\r\n",
                    testName, vector, name.c_str());
            continue;
          }
          reportf(report, "ERROR - %s (vector %d) wrong variable name - %s\r\n", testName, vector,
                  name.c_str());
          return false;
        }
      }
      if (outcome == kFail)
        return false;
    }
    return true;
  }
  int vectorCount() const { return vectors; }
  int errorCount() const { return errors; }

 protected:
  enum Outcome { kOk, kUnknown, kFail };

  // The octet strings; a test handles its other names first. A value is kept as text and
  // read when a vector that runs asks for it (a share of a text reads every line, but runs
  // only some of the vectors).
  virtual Outcome assign(const std::string& name, const std::string& value) {
    auto it = fields.find(name);
    if (it == fields.end())
      return kUnknown;
    it->second.text = value;
    it->second.read = false;
    return kOk;
  }
  const LvOctMem& field(const char* name) {
    Field& f = fields[name];
    if (!f.read) {
      f.value = LvOctMem(f.text.c_str());
      f.read = true;
    }
    return f.value;
  }
  virtual Outcome runVector() = 0;
  virtual bool unknownNameFails() const { return true; }

  // One error of the current vector: "ERROR - <test> (vector <n>) <what>".
  void error(const char* what) {
    reportf(report, "ERROR - %s (vector %d) %s\r\n", testName, vector, what);
    ++errors;
  }
  void countError() { ++errors; }

  Outcome hashAlgoValue(const std::string& value, LvHashAlgo& algo) {
    static const char* const kNames[8] = {"SHA1",   "SHA224",    "SHA256",    "SHA384",
                                          "SHA512", "RIPEMD128", "RIPEMD160", "MD5"};
    for (unsigned int i = 0; i < 8; ++i)
      if (value == kNames[i]) {
        algo = i + 1;
        return kOk;
      }
    reportf(report, "ERROR - %s (vector %d) wrong value for hashAlgo:\r\n", testName, vector);
    reportf(report,
            "          (1) SHA1 (2) SHA224 (3) SHA256 (4) SHA384\r\n"
            "          (5) SHA512 (6) RIPEMD128 (7) RIPEMD160\r\n"
            "          (8) MD5\r\n");
    return kFail;
  }

  std::ostream& report;
  const char* testName;
  int vector = 0;

 private:
  // The next logical line split at its first "=": carriage returns dropped,
  // a trailing backslash joins the next line, a line holding "#" dropped
  // whole, empty lines skipped, all white space removed.
  static bool nextPair(TextReader& reader, std::string& name, std::string& value) {
    std::string piece, line;
    for (;;) {
      line.clear();
      bool any = false;
      for (;;) {
        if (!reader.readLine(piece, 1u << 16)) {
          if (!any)
            return false;
          break;
        }
        any = true;
        std::string stripped;
        for (char c : piece)
          if (c != '\r' && c != '\n')
            stripped.push_back(c);
        line += stripped;
        bool lineEnds = !piece.empty() && piece.back() == '\n';
        if (lineEnds && !line.empty() && line.back() == '\\') {
          line.pop_back();
          continue;
        }
        if (lineEnds)
          break;
      }
      if (line.find('#') != std::string::npos)
        continue;
      std::string compact;
      for (char c : line)
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f')
          compact.push_back(c);
      if (compact.empty())
        continue;
      std::size_t eq = compact.find('=');
      name = compact.substr(0, eq);
      value = eq == std::string::npos ? std::string() : compact.substr(eq + 1);
      return true;
    }
  }

  struct Field {
    std::string text;
    LvOctMem value;
    bool read = true;
  };
  std::map<std::string, Field> fields;
  int vectors = 0;
  int errors = 0;
};

// ---------------------------------------------------------------- RSA

// x^-1 mod m by the extended Euclidean algorithm on naturals; false when
// gcd(x, m) != 1.
bool inverseMod(const LvN& x, const LvN& m, LvN& out) {
  LvN r0 = m, r1 = x % m, t0(LvWord(0), 1), t1(LvWord(1), 1);
  while (!r1.isZero()) {
    LvN q = r0 / r1;
    LvN r2 = r0 - q * r1;
    LvN qt = (q * t1) % m;
    LvN t2 = t0 >= qt ? t0 - qt : t0 + m - qt;
    r0 = r1;
    r1 = r2;
    t0 = t1;
    t1 = t2;
  }
  if (r0 != 1u)
    return false;
  out = t0;
  return true;
}

// Fills in what n, d, e, p and q imply (zero: absent); true when n, d and e
// are all present afterwards.
bool completeKey(LvN& n, LvN& d, LvN& e, LvN& p, LvN& q) {
  if (n.isZero() && !p.isZero() && !q.isZero())
    n = p * q;
  if (!n.isZero()) {
    if (p.isZero() && !q.isZero())
      p = n / q;
    else if (q.isZero() && !p.isZero())
      q = n / p;
  }
  if (p > 1u && q > 1u && (d.isZero() || e.isZero())) {
    LvN phi = (p - 1u) * (q - 1u);
    if (d.isZero() && !e.isZero() && !inverseMod(e, phi, d))
      return false;
    if (e.isZero() && !d.isZero() && !inverseMod(d, phi, e))
      return false;
  }
  return !n.isZero() && !d.isZero() && !e.isZero();
}

// Key numbers of the two RSA texts and the keys made from them.
class RsaTest : public TextTest {
 protected:
  using TextTest::TextTest;

  Outcome assign(const std::string& name, const std::string& value) override {
    std::string* target = name == "n"   ? &n
                          : name == "d" ? &d
                          : name == "e" ? &e
                          : name == "p" ? &p
                          : name == "q" ? &q
                                        : nullptr;
    if (!target)
      return TextTest::assign(name, value);
    *target = value;  // read by the vector that runs (see TextTest::assign)
    return kOk;
  }

  // A number as the text gives it, zero when absent.
  static LvN number(const std::string& text) { return text.empty() ? LvN() : LvN(text.c_str()); }

  // False (after the message) when the key cannot be completed.
  bool makeKeys() {
    LvN cn = number(n), cd = number(d), ce = number(e), cp = number(p), cq = number(q);
    if (!completeKey(cn, cd, ce, cp, cq)) {
      reportf(report, "ERROR - %s (vector %d) uncompleat data, check: n, d, e, p, q\r\n", testName,
              vector);
      return false;
    }
    publicKey.reset(new LvRsaPublicKey(cn, ce));
    privateKey.reset(cp.isZero() ? new LvRsaPrivateKey(cn, cd) : crtKey(cn, cd, ce, cp, cq));
    modulusOctets = cn.getOctetLength();
    return true;
  }

  // A test key is public: its CRT values are worked out here by plain arithmetic and checked
  // (p q = n, e dP = 1 mod p - 1, e dQ = 1 mod q - 1, q qInv = 1 mod p), rather than derived
  // from the secret d by the constant-time road that a real key takes, which would cost the
  // once-per-process test more than all its signatures. A key whose values do not check takes
  // that road, so a wrong vector still fails as it would.
  static LvRsaPrivateKey* crtKey(const LvN& n, const LvN& d, const LvN& e, const LvN& p,
                                 const LvN& q) {
    LvN pm1 = p - 1u, qm1 = q - 1u, dP = d % pm1, dQ = d % qm1;
    if (p * q != n || (e * dP) % pm1 != 1u || (e * dQ) % qm1 != 1u)
      return new LvRsaPrivateKey(n, d, p);
    // q's inverse modulo p by the extended Euclid, the test key being public (a third of the
    // cost of q^(p-2) mod p); the check below makes sure of it.
    const LvWordLen k = p.getUsed();
    LvWordMem qw(k), inv(k);
    LvN qr = q % p;
    longvCopyResize(qw.ptr(), k, qr.getWords(), qr.getUsed());
    if (k == 0 || longvModInverse(inv.ptr(), qw.ptr(), p.getWords(), k) != 0)
      return new LvRsaPrivateKey(n, d, p);
    LvN qInv(inv.ptr(), k);
    if ((q * qInv) % p != 1u) return new LvRsaPrivateKey(n, d, p);
    std::unique_ptr<LvRsaPrivateKey> key(new LvRsaPrivateKey());
    auto set = [](const LvN& v, void (LvRsaPrivateKey::*setter)(const LvOctet*, unsigned int),
                  LvRsaPrivateKey& k) {
      LvOctMem octets(v.getOctetLength());
      (k.*setter)(octets.ptr(), v.getOctets(octets.ptr(), octets.getLength()));
    };
    set(n, &LvRsaPrivateKey::setN, *key);
    set(e, &LvRsaPrivateKey::setE, *key);
    set(d, &LvRsaPrivateKey::setD, *key);
    set(p, &LvRsaPrivateKey::setP, *key);
    set(q, &LvRsaPrivateKey::setQ, *key);
    set(dP, &LvRsaPrivateKey::setDP, *key);
    set(dQ, &LvRsaPrivateKey::setDQ, *key);
    set(qInv, &LvRsaPrivateKey::setQInv, *key);
    key->prepare();
    return key.release();
  }

  void dropKeys() {
    privateKey.reset();
    publicKey.reset();
  }

  std::string n, d, e, p, q;
  std::unique_ptr<LvRsaPublicKey> publicKey;
  std::unique_ptr<LvRsaPrivateKey> privateKey;
  unsigned int modulusOctets = 0;
};

class RsaSigTest : public RsaTest {
 public:
  explicit RsaSigTest(std::ostream& report)
      : RsaTest(report, "rsaSigPkcsV15TV", {"message", "signature"}) {}

 protected:
  Outcome assign(const std::string& name, const std::string& value) override {
    if (name == "hashAlgo")
      return hashAlgoValue(value, hashAlgo);
    return RsaTest::assign(name, value);
  }

  Outcome runVector() override {
    if (!makeKeys())
      return kFail;
    {
      const LvOctMem &message = field("message"), &signature = field("signature");
      LvRsaSigPkcsV15 sig;
      sig.setHashAlgo(hashAlgo);
      sig.setPrivateKey(privateKey.get());
      LvOctMem out(modulusOctets);
      unsigned int len =
          sig.signMessage(message.ptr(), message.getLength(), out.ptr(), modulusOctets, 0);
      unsigned int flags = 0;
      if (len != signature.getLength())
        flags = 1;
      else if (!sameOctets(out.ptr(), len, signature))
        flags = 2;
      if (flags)
        error("wrong signature generation process");
      verifyOnce(sig, message, signature);

      LvRbgHashIso18031 rbg;
      LvOctet zeros[16] = {};
      rbg.init(zeros, sizeof zeros);
      sig.setPrivateKey(privateKey.get());
      sig.setMaskingMode(1);
      sig.setRbg(&rbg);
      LvOctMem first(modulusOctets), second(modulusOctets);
      unsigned int len1 =
          sig.signMessage(message.ptr(), message.getLength(), first.ptr(), modulusOctets, 0);
      unsigned int len2 =
          sig.signMessage(message.ptr(), message.getLength(), second.ptr(), modulusOctets, 0);
      if (len1 != signature.getLength())
        flags |= 1;
      if (len2 != signature.getLength())
        flags |= 4;
      if (!flags && !sameOctets(first.ptr(), len1, signature))
        flags |= 2;
      if (!flags && !sameOctets(second.ptr(), len2, signature))
        flags |= 8;
      if (flags) {
        reportf(report,
                "ERROR - rsaSigPkcsV15TV (vector %d) wrong signature generation with masking "
                "process (error %02x)\r\n",
                vector, flags);
        countError();
      }
      verifyOnce(sig, message, signature);
    }
    dropKeys();
    return kOk;
  }

 private:
  void verifyOnce(LvRsaSigPkcsV15& sig, const LvOctMem& message, const LvOctMem& signature) {
    sig.setPublicKey(publicKey.get());
    if (!sig.verifyMessage(message.ptr(), message.getLength(), signature.ptr(),
                           signature.getLength(), 0))
      error("wrong signature verification process");
  }

  LvHashAlgo hashAlgo = LV_HASH_SHA1;
};

class RsaCipherTest : public RsaTest {
 public:
  explicit RsaCipherTest(std::ostream& report)
      : RsaTest(report, "rsaCipherPkcsV15TV", {"plainText", "cipherText"}) {}

 protected:
  Outcome runVector() override {
    if (!makeKeys())
      return kFail;
    {
      const LvOctMem& plainText = field("plainText");
      LvRbgRand rbg;
      LvOctMem seed(rbg.getMaxSeedOctets());
      seed.clear();
      rbg.init(seed.ptr(), seed.getLength());
      LvRsaCipherPkcsV15 cipher(&rbg);
      cipher.setPrivateKey(privateKey.get());
      LvOctMem input(field("cipherText")), out(modulusOctets);
      unsigned int len = cipher.decrypt(input.ptr(), input.getLength(), out.ptr(), modulusOctets);
      if (!sameOctets(out.ptr(), len, plainText))
        error("wrong decryption process");
      cipher.setPublicKey(publicKey.get());
      LvOctMem plain(plainText), encrypted(modulusOctets);
      unsigned int clen =
          cipher.encrypt(plain.ptr(), plain.getLength(), encrypted.ptr(), modulusOctets);
      cipher.setPrivateKey(privateKey.get());
      len = cipher.decrypt(encrypted.ptr(), clen, out.ptr(), modulusOctets);
      if (!sameOctets(out.ptr(), len, plainText))
        error("wrong encryption-decryption process");
    }
    dropKeys();
    return kOk;
  }
};

// ---------------------------------------------------------------- DSA

class DsaSigTest : public TextTest {
 public:
  explicit DsaSigTest(std::ostream& report)
      : TextTest(report, "dsaSigTV", {"xSeed", "kSeed", "digest", "signature"}) {}

 protected:
  Outcome assign(const std::string& name, const std::string& value) override {
    if (name == "xSeedLen")
      xSeedLen = numberValue(value);
    else if (name == "kSeedLen")
      kSeedLen = numberValue(value);
    else if (name == "digestLen")
      digestLen = numberValue(value);
    else if (name == "signatureLen")
      signatureLen = numberValue(value);
    else if (name == "y")
      y = LvN(value.c_str());
    else if (name == "q")
      q = value;
    else if (name == "p")
      p = value;
    else if (name == "g")
      g = value;
    else
      return TextTest::assign(name, value);
    return kOk;
  }

  Outcome runVector() override {
    const LvOctMem &xSeed = field("xSeed"), &kSeed = field("kSeed");
    const LvOctMem &digest = field("digest"), &signature = field("signature");
    // A stated length beyond the octets really given is cut to them.
    const unsigned int xLen = std::min(xSeedLen, xSeed.getLength());
    const unsigned int kLen = std::min(kSeedLen, kSeed.getLength());
    const unsigned int dLen = std::min(digestLen, digest.getLength());
    const unsigned int sLen = std::min(signatureLen, signature.getLength());
    LvDsaKeyDomain domain;
    domain.setP(p.c_str());
    domain.setQ(q.c_str());
    domain.setG(g.c_str());
    domain.markValid();
    LvDsaPublicKey publicKey;
    LvDsaPrivateKey privateKey;
    LvRbgSimple xRbg(xSeed.ptr(), xLen);
    generateKeyPair(publicKey, privateKey, &domain, &xRbg);
    if (publicKey.getKey() != y)
      error("wrong key generation");
    LvDsaSig sig;
    sig.setHashAlgo(LV_HASH_SHA1);
    LvRbgSimple kRbg(kSeed.ptr(), kLen);
    sig.setRbg(&kRbg);
    sig.setPrivateKey(&privateKey);
    LvOctMem out(sig.getMaxSignatureOctets());
    unsigned int len = sig.sign(digest.ptr(), dLen, out.ptr(), out.getLength());
    if (len != sLen || std::memcmp(out.ptr(), signature.ptr(), len) != 0)
      error("wrong signature generation process");
    sig.setPublicKey(&publicKey);
    if (!sig.verify(digest.ptr(), dLen, signature.ptr(), sLen))
      error("wrong signature verification process");
    return kOk;
  }

 private:
  unsigned int xSeedLen = 0, kSeedLen = 0, digestLen = 0, signatureLen = 0;
  LvN y;
  std::string p, q, g;
};

// Verification against an expected answer, shared by DSA and EC-DSA.
class VerifyTest : public TextTest {
 protected:
  using TextTest::TextTest;

  // The verification of msg with r and s.
  virtual bool verifies() = 0;

  Outcome assign(const std::string& name, const std::string& value) override {
    if (name == "hashAlgo")
      return hashAlgoValue(value, hashAlgo);
    if (name == "result") {
      result = numberValue(value);
      return kOk;
    }
    return TextTest::assign(name, value);
  }

  Outcome runVector() override {
    if (verifies() != (result == 1))
      error("wrong signature verification process");
    return kOk;
  }

  LvHashAlgo hashAlgo = LV_HASH_SHA1;
  unsigned int result = 0;
};

// The domain of the last vector, kept while the vectors give it the same values (a text gives
// them once for all its vectors): a domain made anew would start its tables anew each time.
template <class Domain>
class KeptDomain {
 public:
  // The domain of these octet strings, made by `make` when they differ from the last ones.
  template <class Make>
  Domain& of(std::initializer_list<const LvOctMem*> parts, Make make) {
    std::string now;
    for (const LvOctMem* part : parts) {
      const unsigned int length = part->getLength();
      now.append(reinterpret_cast<const char*>(&length), sizeof length);
      if (length) now.append(reinterpret_cast<const char*>(part->ptr()), length);
    }
    if (!domain || now != values) {
      domain.reset();
      std::unique_ptr<Domain> made(new Domain);
      make(*made);
      made->markValid();
      domain = std::move(made);
      values.swap(now);
    }
    return *domain;
  }

 private:
  std::string values;
  std::unique_ptr<Domain> domain;
};

class DsaVerifyTest : public VerifyTest {
 public:
  explicit DsaVerifyTest(std::ostream& report)
      : VerifyTest(report, "dsaSigVerifyTV", {"p", "q", "g", "msg", "x", "y", "r", "s"}) {}

 protected:
  bool verifies() override {
    const LvOctMem &p = field("p"), &q = field("q"), &g = field("g"), &y = field("y");
    const LvOctMem &msg = field("msg"), &r = field("r"), &s = field("s");
    LvDsaKeyDomain& domain = kept.of({&p, &q, &g}, [&](LvDsaKeyDomain& d) {
      d.setP(p.ptr(), p.getLength());
      d.setQ(q.ptr(), q.getLength());
      d.setG(g.ptr(), g.getLength());
    });
    LvDsaPublicKey publicKey;
    publicKey.setDomain(&domain);
    publicKey.set(y.ptr(), y.getLength());
    LvDsaSig sig;
    sig.setHashAlgo(hashAlgo);
    sig.setPublicKey(&publicKey);
    return sig.verifyMessage(msg.ptr(), msg.getLength(), r.ptr(), r.getLength(), s.ptr(),
                             s.getLength());
  }
  KeptDomain<LvDsaKeyDomain> kept;
};

// ---------------------------------------------------------------- EC-DSA

class EpDsaSigTest : public TextTest {
 public:
  explicit EpDsaSigTest(std::ostream& report)
      : TextTest(report, "epDsaSigTV", {"seed", "public", "private", "digest", "signature"}) {}

 protected:
  bool unknownNameFails() const override { return false; }

  Outcome assign(const std::string& name, const std::string& value) override {
    static const char* const kCurveTexts[6] = {"a", "b", "prime", "base", "order", "cofactor"};
    for (unsigned int i = 0; i < 6; ++i)
      if (name == kCurveTexts[i]) {
        curve[i] = value;
        return kOk;
      }
    return TextTest::assign(name, value);
  }

  Outcome runVector() override {
    const LvOctMem &point = field("public"), &privateValue = field("private");
    const LvOctMem &seed = field("seed"), &digest = field("digest");
    const LvOctMem& signature = field("signature");
    LvEpDsaKeyDomain domain(curve[0].c_str(), curve[1].c_str(), curve[2].c_str(),
                            curve[3].c_str(), curve[4].c_str(), curve[5].c_str(),
                            LV_DOMAIN_VALID);
    LvGeneralDsaPublicKey publicKey;
    publicKey.setDomain(&domain);
    publicKey.setH(point.ptr(), point.getLength());
    LvGeneralDsaPrivateKey privateKey;
    privateKey.setDomain(&domain);
    privateKey.setKey(privateValue.ptr(), privateValue.getLength());
    privateKey.setH(point.ptr(), point.getLength());
    LvGeneralDsaSig sig;
    sig.setHashAlgo(LV_HASH_SHA1);
    LvRbgSimple rbg(seed.ptr(), seed.getLength());
    sig.setRbg(&rbg);
    sig.setPrivateKey(&privateKey);
    LvOctet out[4096];
    unsigned int len = sig.sign(digest.ptr(), digest.getLength(), out, sizeof out);
    if (!sameOctets(out, len, signature))
      error("wrong signature generation process");
    sig.setPublicKey(&publicKey);
    if (!sig.verify(digest.ptr(), digest.getLength(), signature.ptr(), signature.getLength()))
      error("wrong signature verification process");
    return kOk;
  }

 private:
  // a, b, prime, base, order and cofactor as hexadecimal text.
  std::string curve[6];
};

class EpDsaVerifyTest : public VerifyTest {
 public:
  explicit EpDsaVerifyTest(std::ostream& report)
      : VerifyTest(report, "epDsaSigVerifyTV",
                   {"a", "b", "prime", "base", "order", "cofactor", "msg", "public", "r", "s"}) {}

 protected:
  bool verifies() override {
    const LvOctMem &a = field("a"), &b = field("b"), &prime = field("prime");
    const LvOctMem &base = field("base"), &order = field("order"), &cofactor = field("cofactor");
    const LvOctMem &point = field("public"), &msg = field("msg"), &r = field("r"), &s = field("s");
    LvEpDsaKeyDomain& domain =
        kept.of({&a, &b, &prime, &base, &order, &cofactor}, [&](LvEpDsaKeyDomain& d) {
          d.setCurve(a.ptr(), a.getLength(), b.ptr(), b.getLength(), prime.ptr(),
                     prime.getLength());
          d.setGen(base.ptr(), base.getLength());
          d.setOrder(order.ptr(), order.getLength());
          d.setCofactor(cofactor.ptr(), cofactor.getLength());
        });
    LvGeneralDsaPublicKey publicKey;
    publicKey.setDomain(&domain);
    publicKey.setH(point.ptr(), point.getLength());
    LvGeneralDsaSig sig;
    sig.setHashAlgo(hashAlgo);
    sig.setPublicKey(&publicKey);
    return sig.verifyMessage(msg.ptr(), msg.getLength(), r.ptr(), r.getLength(), s.ptr(),
                             s.getLength());
  }
  KeptDomain<LvEpDsaKeyDomain> kept;
};

// ---------------------------------------------------------------- shards

// One of several runs over the same text that together make one test: every run reads every
// line (the values persist from vector to vector), but runs only the vectors of its share,
// each vector's lines written to their own text.
struct ShardRun {
  std::vector<std::string> regions;  // what each region wrote (see TextTest::runLines)
  std::vector<int> errors;           // the errors each region counted
  bool ended = true;                 // false: the test ended early in the last region
  std::exception_ptr thrown;         // what ended it in the last region, if it threw
  int vectors = 0;
};

template <class Test>
void runShardLines(ShardRun& out, const char* text, unsigned int length, int shard, int shards) {
  std::ostream proxy(nullptr);
  std::vector<std::unique_ptr<std::stringbuf>> buffers;
  Test test(proxy);
  int before = 0;
  auto close = [&] {
    if (!out.errors.empty()) out.errors.back() = test.errorCount() - before;
    before = test.errorCount();
  };
  auto region = [&](int k) {
    close();
    // The count first: a region whose buffer was made always has one (the
    // merge reads both), while a count without its buffer is never read.
    out.errors.push_back(0);
    buffers.push_back(std::make_unique<std::stringbuf>());  // nothing lost if it throws
    proxy.rdbuf(buffers.back().get());
    return k % shards == shard;
  };
  try {
    out.ended = test.runLines(text, length, region);
  } catch (...) {
    out.ended = false;
    out.thrown = std::current_exception();
  }
  close();
  proxy.rdbuf(nullptr);
  for (const auto& b : buffers) out.regions.push_back(b->str());
  out.vectors = test.vectorCount();
}

// Nothing leaves it: what ends the share is kept in `out` (it may run on a thread of its own).
template <class Test>
void runShard(ShardRun& out, const char* text, unsigned int length, int shard,
              int shards) noexcept {
  try {
    runShardLines<Test>(out, text, length, shard, shards);
  } catch (...) {
    out.ended = false;
    if (!out.thrown) out.thrown = std::current_exception();
  }
}

// The test over its text in `shards` runs on threads of their own (this thread runs the
// first), merged into the report as one run writes it: regions in order, each from the run
// that ran its vector, up to where the test ended; then the counts.
template <class Test>
int shardedTest(std::ostream& report, const char* name, const char* text, unsigned int length,
                int shards) {
  if (!threadsAllowed()) shards = 1;
  std::vector<ShardRun> runs(static_cast<size_t>(shards));
  {
    std::vector<std::thread> threads;
    ThreadJoiner joiner{threads};
    std::vector<int> here;  // the shares no thread took: run on this one
    for (int i = 1; i < shards; ++i) {
      try {
        threads.emplace_back(runShard<Test>, std::ref(runs[static_cast<size_t>(i)]), text,
                             length, i, shards);
      } catch (...) {
        here.push_back(i);
      }
    }
    runShard<Test>(runs[0], text, length, 0, shards);
    for (int i : here) runShard<Test>(runs[static_cast<size_t>(i)], text, length, i, shards);
  }
  reportf(report, "--- Test %s\r\n", name);
  int errors = 0;
  for (size_t k = 0;; ++k) {
    const ShardRun& owner = runs[k % static_cast<size_t>(shards)];
    if (k >= owner.regions.size()) {
      // Ended before this region in one it did not own (what one share alone meets, such as
      // a failed allocation): the test ends there.
      if (owner.thrown)
        std::rethrow_exception(owner.thrown);
      if (!owner.ended)
        return 1;
      break;
    }
    report << owner.regions[k];
    errors += owner.errors[k];
    if (k + 1 == owner.regions.size() && !owner.ended) {
      if (owner.thrown)
        std::rethrow_exception(owner.thrown);
      return 1;
    }
  }
  // A share that met something past its own last vector (memory running out while it read the
  // lines of another's) ends the test as a run one vector after the other would have ended.
  for (const ShardRun& run : runs)
    if (run.thrown) std::rethrow_exception(run.thrown);
  reportf(report, "---   ilość wektorów : %d\r\n", runs[0].vectors);
  reportf(report, "---   ilość błędów: %d\r\n\r\n", errors);
  return errors ? 1 : 0;
}

}  // namespace

int rsaSigPkcsV15TV(std::ostream& report, const char* text, unsigned int length) {
  return shardedTest<RsaSigTest>(report, "rsaSigPkcsV15TV", text, length, kRsaShards);
}
int rsaCipherPkcsV15TV(std::ostream& report, const char* text, unsigned int length) {
  return shardedTest<RsaCipherTest>(report, "rsaCipherPkcsV15TV", text, length, kRsaShards);
}
int dsaSigTV(std::ostream& report, const char* text, unsigned int length) {
  return DsaSigTest(report).run(text, length);
}
int dsaSigVerifyTV(std::ostream& report, const char* text, unsigned int length) {
  return DsaVerifyTest(report).run(text, length);
}
int epDsaSigTV(std::ostream& report, const char* text, unsigned int length) {
  return EpDsaSigTest(report).run(text, length);
}
int epDsaSigVerifyTV(std::ostream& report, const char* text, unsigned int length) {
  return EpDsaVerifyTest(report).run(text, length);
}

void asymHead(std::ostream& report) {
  reportf(report, "Początek testów biblioteki lvasym\r\n");
  reportf(report, "================================\r\n");
  reportf(report, "\r\n");
}

std::vector<GroupTest> asymTests(const Data& data) {
  typedef int (*Test)(std::ostream&, const char*, unsigned int);
  struct Run {
    Test test;
    const char* name;
    const VectorText* text;
    int weight;
  } const runs[] = {{rsaSigPkcsV15TV, "rsaSigPkcsV15TV", &data.rsaSig, 6},
                    {rsaCipherPkcsV15TV, "rsaCipherPkcsV15TV", &data.rsaCipher, 6},
                    {dsaSigTV, "dsaSigTV", &data.dsaSig, 0},
                    {dsaSigVerifyTV, "dsaSigVerifyTV", &data.dsaVerify, 2},
                    {epDsaSigTV, "epDsaSigTV", &data.epDsaSig, 1},
                    {epDsaSigVerifyTV, "epDsaSigVerifyTV", &data.epDsaVerify, 2}};
  std::vector<GroupTest> tests;
  for (const Run& r : runs) {
    Test test = r.test;
    const VectorText* text = r.text;
    tests.push_back(GroupTest{r.name, r.weight, [test, text](std::ostream& report) {
                                return test(report, text->text, text->length);
                              }});
  }
  return tests;
}

}  // namespace lvselftest
