// Result codes of the key structures' own operations (RSA, DSA and EC public
// keys) and the explicit-parameter decoding rules, table-driven over the
// openssl fixtures of tests/data/pki/keys.
#include "pki/keys/dsapukey.h"
#include "pki/keys/ecparams.h"
#include "pki/keys/ecpubkey.h"
#include "pki/keys/rsapukey.h"
#include "pki/keys/subpubkeyinfo.h"

#include "pki/keytest.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

using namespace keytest;

namespace {

SubPubKeyInfo& key(const char* file) {
  static std::map<std::string, std::unique_ptr<SubPubKeyInfo>> keys;
  auto& k = keys[file];
  if (!k) {
    k.reset(new SubPubKeyInfo());
    Bytes der = readFile(file);
    EXPECT_EQ(decodeSpki(*k, der), static_cast<int>(der.size())) << file;
  }
  return *k;
}

}  // namespace

TEST(KeyCodes, RsaPublicKey) {
  Bytes msg = readFile("msg.bin"), d = digestOf(3, msg);
  Bytes v15 = readFile("rsa2048.v15.sig"), pss = readFile("rsa2048.pss.sig");
  RSAPublicKey& k = key("rsa2048.spki.der").rsaKey;
  AlgorithmIdentifier pssNoParams;
  pssNoParams.set(id_RSASSA_PSS, nullptr);
  AlgorithmIdentifier v15Alg = sigAlgOf("v15", 3, 0);
  Bytes shortPss(pss.begin(), pss.end() - 1);
  const struct {
    const char* name;
    int result;
    int expected;
  } cases[] = {
      {"v1.5 valid", k.verify(d.data(), 32, v15Alg, v15.data(), 256), 0},
      {"v1.5 other digest", k.verifyPkcs1v15(d.data(), 32, 1, v15.data(), 256), 3},
      {"v1.5 too long", k.verifyPkcs1v15(d.data(), 32, 3, Bytes(257, 1).data(), 257), 1},
      {"pss valid", k.verifyPss(d.data(), 32, 3, pss.data(), 256, 0, 0, 32), 0},
      {"pss one octet short", k.verifyPss(d.data(), 32, 3, shortPss.data(), 255, 0, 0, 32), 1},
      {"pss salt too long", k.verifyPss(d.data(), 32, 3, pss.data(), 256, 0, 0, 240), 1},
      {"pss without parameters", k.verify(d.data(), 32, pssNoParams, pss.data(), 256), 4},
      {"raw short signature", k.verifyRaw(d.data(), 32, v15.data(), 31), 3},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
  EXPECT_EQ(k.keyBits(), 2048u);
  // a changed key is rebuilt before the next verification
  RSAPublicKey copy;
  copy = key("rsa3072.spki.der").rsaKey;
  EXPECT_EQ(copy.verify(d.data(), 32, v15Alg, v15.data(), 256), 1);
  copy = k;
  EXPECT_EQ(copy.verify(d.data(), 32, v15Alg, v15.data(), 256), 0);
  copy.set(key("rsa3072.spki.der").rsaKey.modulus, key("rsa3072.spki.der").rsaKey.publicExponent);
  EXPECT_EQ(copy.verify(d.data(), 32, v15Alg, v15.data(), 256), 1);
  // a key the library refuses: unusable
  RSAPublicKey bad;
  bad.modulus.set(0u);
  bad.publicExponent.set(3u);
  EXPECT_EQ(bad.verifyPkcs1v15(d.data(), 32, 3, v15.data(), 256), 2);
}

// A stranger's key with an exponent far beyond any real key would make each
// verification take seconds: it is unusable, and says so without throwing.
TEST(KeyCodes, RsaPublicKeyBounds) {
  Bytes d(32, 5), sig(2048, 0x33);
  Bytes n16k(2048, 0xFF), n4k(512, 0xFF), n3k(384, 0xFF);
  const struct {
    const char* name;
    Bytes modulus;
    Bytes exponent;
    int expected;
  } cases[] = {
      {"16384-bit modulus, exponent as long", n16k, Bytes(2047, 0xFD), 2},
      {"3072-bit modulus, longer exponent", n3k, Bytes(385, 0x01), 2},
      {"4096-bit modulus, 256-bit exponent", n4k, Bytes(32, 0xFF), 1},
      {"4096-bit modulus, 65537", n4k, Bytes{0x01, 0x00, 0x01}, 1},
  };
  for (const auto& c : cases) {
    ASNoctstr n, e;
    n.set(c.modulus.data(), static_cast<int>(c.modulus.size()));
    e.set(c.exponent.data(), static_cast<int>(c.exponent.size()));
    RSAPublicKey k;
    ASSERT_TRUE(k.set(n, e)) << c.name;
    EXPECT_EQ(k.verifyPkcs1v15(d.data(), 32, 3, sig.data(), static_cast<int>(c.modulus.size())),
              c.expected)
        << c.name;
  }
}

TEST(KeyCodes, RsaKeySizeFromParameters) {
  // rsaEncryption with INTEGER parameters 1024 reports 1024 bits; NULL the modulus size
  Bytes der = readFile("rsa2048.spki.der");
  Bytes withInt = der;
  // 30 82 01 22 | 30 0d 06 09 <rsaEncryption> 05 00 -> 02 02 04 00 (one octet longer)
  ASSERT_EQ(withInt[17], 0x05);
  withInt[17] = 0x02;
  withInt[18] = 0x02;
  withInt.insert(withInt.begin() + 19, {0x04, 0x00});
  withInt[5] = 0x0f;
  withInt[3] = static_cast<unsigned char>(withInt[3] + 2);
  SubPubKeyInfo k;
  ASSERT_EQ(decodeSpki(k, withInt), static_cast<int>(withInt.size()));
  EXPECT_EQ(k.keyBits(), 1024u);
  EXPECT_EQ(key("rsa2048.spki.der").keyBits(), 2048u);
  // a size that is no positive number is no size: the modulus gives it
  for (const Bytes& size : {Bytes{0xFF, 0x00}, Bytes{0x00, 0x00}}) {
    Bytes odd = withInt;
    odd[19] = size[0];
    odd[20] = size[1];
    SubPubKeyInfo s;
    ASSERT_EQ(decodeSpki(s, odd), static_cast<int>(odd.size()));
    EXPECT_EQ(s.keyBits(), 2048u) << int(size[0]);
  }
}

TEST(KeyCodes, DsaAndEcPublicKeys) {
  Bytes msg = readFile("msg.bin");
  Bytes d1 = digestOf(1, msg), d256 = digestOf(3, msg);
  SubPubKeyInfo& dsa = key("dsa2048.spki.der");
  DSASignature ds;
  Bytes dsaSig = readFile("dsa2048.sig");
  ASSERT_EQ(ds.decodeDer(dsaSig.data(), static_cast<int>(dsaSig.size())), 1);
  DSAPublicKey yBig;
  static_cast<ASNinteger&>(yBig) = dsa.dsaParameters().p;
  // parameters the library refuses or cannot use: unusable, never an exception
  DSAParameters evenP = dsa.dsaParameters();
  Bytes even(250, 0);
  even[0] = 0x40;
  evenP.p.setBytes(even.data(), 250);
  DSAParameters zeroG = dsa.dsaParameters();
  zeroG.g.set(0u);
  SubPubKeyInfo& ec = key("p256.spki.der");
  DSASignature es;
  Bytes ecSig = readFile("p256.sig");
  ASSERT_EQ(es.decodeDer(ecSig.data(), static_cast<int>(ecSig.size())), 1);
  ECPublicKey noCurve;
  noCurve = ec.ecKey();
  ECPublicKey empty;
  empty.setNamedCurve(prime256v1);
  ECPublicKey badForm;
  badForm.set(ASNoctstr(), nullptr);
  const unsigned char form[] = {0, 0x09, 1, 2, 3};
  badForm.ASNbitstr::set(form, 5, 0);
  badForm.setNamedCurve(prime256v1);
  // r written negative (its sign octet dropped) or padded (a needless 00)
  DSASignature negative = es;
  Bytes r(es.r.data(), es.r.data() + es.r.length);
  if (r[0] == 0)
    r.erase(r.begin());
  else
    r.insert(r.begin(), 0x00);
  negative.r.set(r.data(), static_cast<int>(r.size()));
  ASSERT_TRUE(ec.ecKey().setKeyDomain(ec.ecParameters().getKeyDomain()) || ec.ecKey().getKeyDomain());
  const struct {
    const char* name;
    int result;
    int expected;
  } cases[] = {
      {"dsa valid", dsa.dsaKey().verifyDigest(d1.data(), 20, 1, dsa.dsaParameters(), ds), 0},
      {"dsa other digest", dsa.dsaKey().verifyDigest(d1.data(), 20, 3, dsa.dsaParameters(), ds), 3},
      {"dsa wrong digest", dsa.dsaKey().verifyDigest(d256.data(), 20, 1, dsa.dsaParameters(), ds), 1},
      {"dsa y = p", yBig.verify(d1.data(), 20, dsa.dsaParameters(), ds), 2},
      {"dsa even p", dsa.dsaKey().verify(d1.data(), 20, evenP, ds), 2},
      {"dsa g = 0", dsa.dsaKey().verify(d1.data(), 20, zeroG, ds), 2},
      {"ec valid", ec.ecKey().verifyBySignatureOid(d256.data(), 32, ecdsa_with_SHA256, es), 1},
      {"ec wrong digest", ec.ecKey().verifyDigest(d1.data(), 20, 1, es), -1},
      {"ec digest length", ec.ecKey().verifyBySignatureOid(d256.data(), 20, ecdsa_with_SHA256, es),
       -3},
      {"ec not an ecdsa oid", ec.ecKey().verifyBySignatureOid(d256.data(), 32, id_dsa_with_sha1, es),
       -2},
      {"ec negative r", ec.ecKey().verify(d256.data(), 32, negative), -1},
      {"ec no curve", noCurve.verify(d256.data(), 32, es), -4},
      {"ec empty point", empty.verify(d256.data(), 32, es), -3},
      {"ec unknown point form", badForm.verify(d256.data(), 32, es), -3},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
  EXPECT_EQ(ec.ecKey().getKeyBits(), 256u);
  // point octets: none after the unused-bit octet gives an empty value,
  // never what the caller's object held before
  const struct {
    const char* name;
    Bytes der;
    bool ok;
    size_t length;
  } points[] = {{"unused-bit octet only", Bytes{0x03, 0x01, 0x00}, true, 0},
                {"point", Bytes{0x03, 0x04, 0x00, 0x04, 1, 2}, true, 3},
                {"unused bits", Bytes{0x03, 0x04, 0x03, 0x04, 1, 0xF8}, false, 5}};
  for (const auto& p : points) {
    ECPublicKey k;
    ASSERT_EQ(k.decodeVector(p.der), static_cast<int>(p.der.size())) << p.name;
    ASNoctstr out;
    const unsigned char old[] = {9, 9, 9, 9, 9};
    out.set(old, 5);
    EXPECT_EQ(k.getPointOctets(out), p.ok) << p.name;
    EXPECT_EQ(static_cast<size_t>(out.length), p.length) << p.name;
  }
}

TEST(KeyCodes, SpecifiedDomainMembers) {
  // the explicit parameters openssl wrote, re-encoded byte for byte
  SubPubKeyInfo& k = key("p256x.spki.der");
  const ECSpecifiedDomain& specifiedDomain = k.ecParameters().specifiedCurve;
  Bytes der;
  ASSERT_GT(specifiedDomain.encodeVector(der), 0);
  ECSpecifiedDomain again;
  ASSERT_EQ(again.decodeVector(der), static_cast<int>(der.size()));
  ASSERT_NE(again.getKeyDomain(), nullptr);
  EXPECT_TRUE(again == specifiedDomain);
  EXPECT_EQ(again.getFieldBits(), 256u);
  const LvNamedCurve* named = findNamedCurveBySpecifiedDomain(again, true);
  ASSERT_NE(named, nullptr);
  EXPECT_STREQ(named->oid, "1.2.840.10045.3.1.7");
  // trailing members: cofactor then hash fine; hash first, two cofactors, others refused
  ASSERT_TRUE(specifiedDomain.cofactorPresent);
  Bytes cof;
  specifiedDomain.cofactor.encodeVector(cof);
  Bytes hashAlg = pkitest::unhex("300b0609608648016503040201");
  Bytes body(der.begin() + (der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2),
             der.end() - static_cast<long>(cof.size()));
  auto wrap = [](Bytes content, std::initializer_list<const Bytes*> tail) {
    for (const Bytes* t : tail) content.insert(content.end(), t->begin(), t->end());
    Bytes out = {0x30};
    if (content.size() < 128) {
      out.push_back(static_cast<unsigned char>(content.size()));
    } else if (content.size() < 256) {
      out.push_back(0x81);
      out.push_back(static_cast<unsigned char>(content.size()));
    } else {
      out.push_back(0x82);
      out.push_back(static_cast<unsigned char>(content.size() >> 8));
      out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
  };
  Bytes other = pkitest::unhex("0500");
  const struct {
    const char* name;
    Bytes der;
    bool ok;
  } cases[] = {{"cofactor, hash", wrap(body, {&cof, &hashAlg}), true},
               {"hash, cofactor", wrap(body, {&hashAlg, &cof}), false},
               {"two cofactors", wrap(body, {&cof, &cof}), false},
               {"unknown element", wrap(body, {&cof, &other}), false},
               {"no cofactor", wrap(body, {}), true}};
  for (const auto& c : cases) {
    ECSpecifiedDomain s;
    int r = s.decodeVector(c.der);
    EXPECT_EQ(r == static_cast<int>(c.der.size()), c.ok) << c.name;
    if (c.ok) {
      Bytes re;
      s.encodeVector(re);
      EXPECT_EQ(re, c.der) << c.name;
      EXPECT_NE(s.getKeyDomain(), nullptr) << c.name;
    }
  }
}
