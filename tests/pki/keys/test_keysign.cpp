// Private-key structures: signatures made here verify with the openssl
// command at test time; decoding, copying and clearing keys; the result
// codes of the key operations.
#include "pki/keys/dsaprkey.h"
#include "pki/keys/ecprvkey.h"
#include "pki/keys/rsaprkey.h"
#include "pki/keys/rsapukey.h"

#include "base/memfile.h"
#include "pki/keytest.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace keytest;

namespace {

struct TempDir {
  std::string dir;
  TempDir() {
    char t[] = "/tmp/pkikeysXXXXXX";
    dir = mkdtemp(t) ? t : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf " + dir).c_str()); }
  std::string file(const std::string& name, const Bytes& data) const {
    std::string p = dir + "/" + name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return p;
  }
};


// openssl dgst -verify with the DER public key of the fixture.
bool opensslVerifies(const std::string& spki, const char* digest, const Bytes& sig,
                     const std::string& extra = "") {
  TempDir t;
  std::string s = t.file("sig.bin", sig);
  std::string cmd = "openssl dgst -" + std::string(digest) + " -keyform DER -verify " + path(spki) +
                    " -signature " + s + " " + extra + " " + path("msg.bin") + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

Bytes memBytes(const MemFile& m) { return Bytes(m.data(), m.data() + m.length()); }

template <class K>
void decodeKey(K& k, const Bytes& der, unsigned char flags = 0) {
  ASSERT_EQ(k.decodeBuffer(der.data(), static_cast<int>(der.size()), flags),
            static_cast<int>(der.size()));
}

}  // namespace

TEST(KeySignOpenssl, RsaPkcs1AndPssSignaturesVerifyWithOpenssl) {
  Bytes msg = readFile("msg.bin");
  for (const char* name : {"rsa1024", "rsa2048", "rsa4096"}) {
    RSAPrivateKey k;
    decodeKey(k, readFile(std::string(name) + ".pkcs1.der"));
    const std::string spki = std::string(name) + ".spki.der";
    Bytes d = digestOf(3, msg);
    MemFile out;
    ASSERT_EQ(k.signDigest(d.data(), 32, 3, &rbg(), out), 0) << name;
    EXPECT_TRUE(opensslVerifies(spki, "sha256", memBytes(out))) << name;
    ASSERT_EQ(k.signDigestPss(d.data(), 32, 3, &rbg(), out, 0, 0, 32), 0) << name;
    EXPECT_TRUE(opensslVerifies(spki, "sha256", memBytes(out),
                                "-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32"))
        << name;
    // the public half verifies its own signatures and refuses a changed one
    RSAPublicKey pub;
    k.getPublicKey(pub);
    Bytes sig = memBytes(out);
    EXPECT_EQ(pub.verifyPss(d.data(), 32, 3, sig.data(), static_cast<int>(sig.size()), 0, 0, 32),
              0);
    sig[sig.size() / 2] ^= 1;
    EXPECT_EQ(pub.verifyPss(d.data(), 32, 3, sig.data(), static_cast<int>(sig.size()), 0, 0, 32),
              1);
  }
}

TEST(KeySignOpenssl, DsaAndEcdsaSignaturesVerifyWithOpenssl) {
  Bytes msg = readFile("msg.bin");
  {
    DSAPrivateKey k;
    decodeKey(k, readFile("dsa2048.prv.der"));
    Bytes d = digestOf(1, msg);
    DSASignature sig;
    ASSERT_EQ(k.signDigest(d.data(), 20, 1, sig, &rbg()), 0);
    Bytes der;
    sig.encodeVector(der);
    EXPECT_TRUE(opensslVerifies("dsa2048.spki.der", "sha1", der));
    // y computed from x when the key holds none
    ASNinteger y, computed;
    ASSERT_TRUE(k.getPublicKey(y));
    k.setY(ASNinteger());
    ASSERT_TRUE(k.getPublicKey(computed));
    EXPECT_TRUE(computed.equals(y));
    // a key with x = 0 cannot be prepared
    ASNinteger zero;
    zero.set(0u);
    k.setX(zero);
    EXPECT_EQ(k.signDigest(d.data(), 20, 1, sig, &rbg()), 2);
    EXPECT_EQ(k.signDigest(d.data(), 32, 1, sig, &rbg()), 3);
  }
  const struct {
    const char* name;
    const char* digest;
    int hashId;
  } ec[] = {{"p256", "sha256", 3},  {"p384", "sha384", 4},  {"bp256", "sha256", 3},
            {"p256x", "sha256", 3}, {"b283k", "sha256", 3}, {"b233x", "sha256", 3}};
  for (const auto& c : ec) {
    Bytes der = readFile(std::string(c.name) + ".prv.der");
    // read whole and as a read-only view of the caller's octets
    for (unsigned char flags : {0, 1}) {
      ECPrivateKey k;
      decodeKey(k, der, flags);
      ASSERT_TRUE(k.parametersPresent && k.publicKeyPresent) << c.name;
      Bytes d = digestOf(c.hashId, msg);
      DSASignature sig;
      ASSERT_EQ(k.signDigest(d.data(), static_cast<int>(d.size()), c.hashId, &rbg(), sig), 1)
          << c.name;
      Bytes sigDer;
      sig.encodeVector(sigDer);
      EXPECT_TRUE(opensslVerifies(std::string(c.name) + ".spki.der", c.digest, sigDer)) << c.name;
      // the point derived from the scalar is the one openssl stored
      ECPrivateKey noPub;
      noPub.version = k.version;
      noPub.privateKey = k.privateKey;
      ASNoctstr derived, stored;
      ASSERT_TRUE(noPub.getPublicKeyOctets(derived, &k.parameters.get())) << c.name;
      ASSERT_TRUE(k.publicKey.get().getPointOctets(stored));
      EXPECT_TRUE(derived.equals(stored)) << c.name;
      EXPECT_EQ(k.signDigest(d.data(), 20, 3, &rbg(), sig), -1);
    }
  }
}

// A decoded or cleared key drops the library key prepared from the old values.
TEST(KeySignState, DecodeAndClearDropPreparedKeys) {
  Bytes msg = readFile("msg.bin");
  Bytes d = digestOf(3, msg);
  RSAPrivateKey k;
  decodeKey(k, readFile("rsa1024.pkcs1.der"));
  MemFile out;
  ASSERT_EQ(k.signDigest(d.data(), 32, 3, &rbg(), out), 0);
  decodeKey(k, readFile("rsa2048.pkcs1.der"));
  ASSERT_EQ(k.signDigest(d.data(), 32, 3, &rbg(), out), 0);
  EXPECT_EQ(out.length(), 256);
  EXPECT_TRUE(opensslVerifies("rsa2048.spki.der", "sha256", memBytes(out)));
  k.clear();
  EXPECT_EQ(k.signDigest(d.data(), 32, 3, &rbg(), out), 2);

  ECPrivateKey e;
  decodeKey(e, readFile("p256.prv.der"));
  DSASignature sig;
  ASSERT_EQ(e.signDigest(d.data(), 32, 3, &rbg(), sig), 1);
  ECPrivateKey other;
  decodeKey(other, readFile("bp256.prv.der"));
  e = other;
  ASSERT_EQ(e.signDigest(d.data(), 32, 3, &rbg(), sig), 1);
  Bytes sigDer;
  sig.encodeVector(sigDer);
  EXPECT_TRUE(opensslVerifies("bp256.spki.der", "sha256", sigDer));
}

namespace {

// Counts the octets a signer draws, from the seeded generator.
class CountingRbg : public LvRbg {
 public:
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int octets) override {
    drawn += octets;
    rbg().fillOctets(dst, octets);
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 0; }
  const char* getName() const override { return "counting"; }
  unsigned int take() {
    unsigned int n = drawn;
    drawn = 0;
    return n;
  }

 private:
  unsigned int drawn = 0;
};

}  // namespace

// The masking values are made once per prepared key and then only refreshed (no draws but
// the PSS salt); a new key makes them anew. The signatures stay right all along: PKCS#1 v1.5
// is deterministic, so every masked signature equals the first, and openssl verifies them.
TEST(KeySignState, MaskingValuesMadeOncePerKey) {
  Bytes d = digestOf(3, readFile("msg.bin"));
  CountingRbg g;
  RSAPrivateKey k;
  for (const char* name : {"rsa2048", "rsa1024"}) {
    SCOPED_TRACE(name);
    decodeKey(k, readFile(std::string(name) + ".pkcs1.der"));
    const std::string spki = std::string(name) + ".spki.der";
    MemFile out;
    ASSERT_EQ(k.signDigest(d.data(), 32, 3, &g, out), 0);
    EXPECT_GT(g.take(), 0u) << "the first signature makes the masking values";
    const Bytes first = memBytes(out);
    EXPECT_TRUE(opensslVerifies(spki, "sha256", first));
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(k.signDigest(d.data(), 32, 3, &g, out), 0);
      EXPECT_EQ(g.take(), 0u);
      EXPECT_EQ(memBytes(out), first);
    }
    ASSERT_EQ(k.signRaw(first.data(), 16, &g, out), 0);
    g.take();
    // PSS: a first signature with these parameters makes its masking values, later ones draw
    // only their salt
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(k.signDigestPss(d.data(), 32, 3, &g, out, 0, 0, 20), 0);
      const unsigned int drawn = g.take();
      if (i == 0)
        EXPECT_GT(drawn, 20u);
      else
        EXPECT_EQ(drawn, 20u);
      EXPECT_TRUE(opensslVerifies(spki, "sha256", memBytes(out),
                                  "-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:20"));
    }
  }
}

TEST(KeySignCodes, RsaPrivateKeyResults) {
  RSAPrivateKey k1024, k2048;
  decodeKey(k1024, readFile("rsa1024.pkcs1.der"));
  decodeKey(k2048, readFile("rsa2048.pkcs1.der"));
  Bytes d64(64, 7), d20(20, 7), d32(32, 7);
  MemFile out;
  EXPECT_EQ(k1024.signDigestPss(d64.data(), 64, 5, &rbg(), out, 0, 0, 0), 3) << "64 + 64 + 2 > 128";
  EXPECT_EQ(k2048.signDigest(d20.data(), 20, 3, &rbg(), out), 3);
  Bytes big(257, 1);
  EXPECT_EQ(k2048.signRaw(big.data(), 257, &rbg(), out), 3);
  EXPECT_EQ(k2048.decryptPkcs1v15(big.data(), 257, out), 3);
  // openssl encrypts, we decrypt; a spoilt ciphertext has bad padding
  TempDir t;
  std::string ct = t.dir + "/ct.bin";
  std::string cmd = "openssl pkeyutl -encrypt -pubin -keyform DER -inkey " +
                    path("rsa2048.spki.der") + " -in " + path("msg.bin") + " -out " + ct +
                    " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(ct, std::ios::binary);
  Bytes c((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(k2048.decryptPkcs1v15(c.data(), static_cast<int>(c.size()), out), 0);
  EXPECT_EQ(memBytes(out), readFile("msg.bin"));
  Bytes raw(256, 0x42);
  EXPECT_EQ(k2048.decryptPkcs1v15(raw.data(), 256, out), 1);
  // as long as the modulus but not below it: a length error, never an invariant failure
  Bytes above(256, 0xFF);
  EXPECT_EQ(k2048.decryptPkcs1v15(above.data(), 256, out), 3);
  // otherPrimeInfos is not supported
  Bytes der = readFile("rsa2048.pkcs1.der");
  Bytes withOther = {0x30, 0x82, 0, 0};
  withOther.insert(withOther.end(), der.begin() + 4, der.end());
  Bytes extra = pkitest::unhex("3009300702010302010302010");
  extra.back() = 0x03;
  withOther.insert(withOther.end(), extra.begin(), extra.end());
  size_t len = withOther.size() - 4;
  withOther[2] = static_cast<unsigned char>(len >> 8);
  withOther[3] = static_cast<unsigned char>(len);
  RSAPrivateKey multi;
  EXPECT_LE(multi.decodeBuffer(withOther.data(), static_cast<int>(withOther.size()), 0), 0);
}

// PKCS#1 v1.5 encryption with the public key: openssl decrypts what we made.
TEST(KeySignOpenssl, RsaEncryptionDecryptsWithOpenssl) {
  RSAPublicKey pub;
  Bytes spki = readFile("rsa2048.spki.der");
  // SubjectPublicKeyInfo header (24 octets) then the RSAPublicKey
  ASSERT_GT(pub.decodeBuffer(spki.data() + 24, static_cast<int>(spki.size()) - 24, 0), 0);
  Bytes secret(32);
  for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<unsigned char>(0xA5 ^ i);
  MemFile ct;
  ASSERT_EQ(pub.encryptPkcs1v15(secret.data(), 32, &rbg(), ct), 0);
  EXPECT_EQ(ct.length(), 256);
  TempDir t;
  std::string in = t.file("ct.bin", memBytes(ct)), out = t.dir + "/pt.bin";
  std::string cmd = "openssl pkeyutl -decrypt -keyform DER -inkey " + path("rsa2048.pkcs1.der") +
                    " -in " + in + " -out " + out + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(out, std::ios::binary);
  EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>()), secret);
  Bytes tooLong(246, 1);  // k - 11 = 245 at most
  EXPECT_EQ(pub.encryptPkcs1v15(tooLong.data(), 246, &rbg(), ct), 3);
}

TEST(KeySignCodes, EcPrivateKeyOptionalMembers) {
  Bytes der = readFile("p256.prv.der");
  // 30 77 | 02 01 01 | 04 20 <32> | a0 0a <oid> | a1 44 <bitstring>
  ASSERT_EQ(der[0], 0x30);
  size_t a0 = 2 + 3 + 2 + 32;
  ASSERT_EQ(der[a0], 0xA0);
  size_t a1 = a0 + 2 + der[a0 + 1];
  ASSERT_EQ(der[a1], 0xA1);
  Bytes head(der.begin(), der.begin() + static_cast<long>(a0));
  Bytes p0(der.begin() + static_cast<long>(a0), der.begin() + static_cast<long>(a1));
  Bytes p1(der.begin() + static_cast<long>(a1), der.end());
  auto build = [&](std::initializer_list<const Bytes*> parts) {
    Bytes out = head;
    for (const Bytes* p : parts) out.insert(out.end(), p->begin(), p->end());
    out[1] = static_cast<unsigned char>(out.size() - 2);
    return out;
  };
  Bytes p2 = p0;
  p2[0] = 0xA2;
  const struct {
    const char* name;
    Bytes der;
    bool ok;
  } cases[] = {{"[1] before [0]", build({&p1, &p0}), true},
               {"two [0]", build({&p0, &p0}), false},
               {"[2]", build({&p0, &p2}), false},
               {"no optional member", build({}), true}};
  for (const auto& c : cases) {
    for (unsigned char flags : {0, 1}) {
      ECPrivateKey k;
      int r = k.decodeBuffer(c.der.data(), static_cast<int>(c.der.size()), flags);
      EXPECT_EQ(r == static_cast<int>(c.der.size()), c.ok) << c.name << " flags " << int(flags);
    }
  }
}

TEST(KeySignCodes, NamedCurveReaders) {
  EXPECT_EQ(findNamedCurveById(0), nullptr);
  EXPECT_EQ(findNamedCurveById(101), nullptr);
  const LvNamedCurve* p256 = findNamedCurve(prime256v1);
  ASSERT_NE(p256, nullptr);
  ECDomainParameters named(0x06);
  named.namedCurve = prime256v1;
  EXPECT_EQ(named.getFieldBits(), 256u);
  EXPECT_EQ(namedCurveFieldBits(findNamedCurve(ASNobjectId("1.2.840.10045.3.0.14"))), 239u)
      << "c2onb239v4";
  // explicit parameters of a named curve find it, with and without an OID required
  ECSpecifiedDomain specifiedDomain;
  ASSERT_TRUE(namedCurveToSpecifiedDomain(static_cast<int>(p256->id), specifiedDomain));
  const LvNamedCurve* found = findNamedCurveBySpecifiedDomain(specifiedDomain, true);
  ASSERT_NE(found, nullptr);
  EXPECT_NE(found->oid, nullptr);
  EXPECT_TRUE(keyDomainFieldBits(specifiedDomain.getKeyDomain()) == 256u);
  ECDomainParameters none(0x99);
  Bytes enc;
  none.encodeVector(enc);
  EXPECT_EQ(enc, (Bytes{0x05, 0x00}));
}

TEST(KeySignCodes, DsaSignatureMembers) {
  DSASignature s;
  s.r.set(0x80u);
  s.s.set(5u);
  unsigned char buf[16];
  const int need = s.r.encodedLength() + s.s.encodedLength();
  EXPECT_EQ(s.encodeMembers(buf, need - 1), -1);
  ASSERT_EQ(s.encodeMembers(buf, need), 1);
  DSASignature back;
  EXPECT_TRUE(back.decodeMembers(buf, need));
  EXPECT_FALSE(back.decodeMembers(buf, need - 1));
  EXPECT_TRUE(back.r.equals(s.r));
}

// The key parts are INTEGERs read as positive numbers: a negative one (whose octets would
// otherwise pass for a magnitude) or a zero modulus or exponent leaves the key unusable;
// leading zero octets change nothing.
TEST(KeySignCodes, RsaKeyPartsArePositive) {
  RSAPrivateKey good;
  decodeKey(good, readFile("rsa1024.pkcs1.der"));
  auto content = [](const ASNinteger& v) { return Bytes(v.data(), v.data() + v.length); };
  auto magnitude = [&](const ASNinteger& v) {
    Bytes b = content(v);
    while (b.size() > 1 && b[0] == 0) b.erase(b.begin());
    return b;
  };
  auto withZeros = [&](const ASNinteger& v) {
    Bytes b = magnitude(v);
    b.insert(b.begin(), 3, 0x00);
    return b;
  };
  auto negative = [&](const ASNinteger& v) {
    Bytes b = magnitude(v);
    b.insert(b.begin(), 0xFF);
    return b;
  };
  const Bytes minus256 = {0xFF, 0x00}, zero = {0x00};
  const struct {
    const char* name;
    ASNinteger RSAPrivateKey::*member;
    Bytes value;
    int expected;
  } cases[] = {
      {"as decoded", &RSAPrivateKey::modulus, content(good.modulus), 0},
      {"modulus with leading zeros", &RSAPrivateKey::modulus, withZeros(good.modulus), 0},
      {"prime with leading zeros", &RSAPrivateKey::prime1, withZeros(good.prime1), 0},
      {"modulus -256", &RSAPrivateKey::modulus, minus256, 2},
      {"modulus without its sign octet", &RSAPrivateKey::modulus, magnitude(good.modulus), 2},
      {"modulus 0", &RSAPrivateKey::modulus, zero, 2},
      {"public exponent negative", &RSAPrivateKey::publicExponent, Bytes{0xFF, 0xFE, 0xFF}, 2},
      {"public exponent 0", &RSAPrivateKey::publicExponent, zero, 2},
      {"private exponent negative", &RSAPrivateKey::privateExponent, negative(good.privateExponent),
       2},
      {"private exponent 0", &RSAPrivateKey::privateExponent, zero, 2},
      {"prime negative", &RSAPrivateKey::prime1, magnitude(good.prime1), 2},
      {"coefficient negative", &RSAPrivateKey::coefficient, Bytes{0x80, 0x01}, 2},
  };
  const Bytes d = digestOf(3, readFile("msg.bin"));
  for (const auto& c : cases) {
    RSAPrivateKey k;
    k = good;
    (k.*c.member).set(c.value.data(), static_cast<int>(c.value.size()));
    MemFile out;
    EXPECT_EQ(k.signDigest(d.data(), 32, 3, &rbg(), out), c.expected) << c.name;
  }
  ASSERT_GE(good.modulus.data()[1], 0x80) << "the fixture's modulus needs its sign octet";
  ASSERT_GE(good.prime1.data()[1], 0x80);

  // The public key: keyBits reads the modulus the same way.
  RSAPublicKey pub;
  good.getPublicKey(pub);
  const Bytes n = content(pub.modulus);
  const struct {
    const char* name;
    Bytes modulus;
    Bytes exponent;
    unsigned int bits;
    int expected;
  } pubCases[] = {
      {"as made", n, Bytes{0x01, 0x00, 0x01}, 1024, 1},
      {"leading zeros", withZeros(pub.modulus), Bytes{0x00, 0x01, 0x00, 0x01}, 1024, 1},
      {"modulus -256", minus256, Bytes{0x01, 0x00, 0x01}, 0, 2},
      {"modulus without its sign octet", magnitude(pub.modulus), Bytes{0x03}, 0, 2},
      {"modulus 0", zero, Bytes{0x03}, 0, 2},
      {"exponent negative", n, Bytes{0xFF}, 1024, 2},
      {"exponent 0", n, zero, 1024, 2},
  };
  const Bytes sig(128, 0x11);
  for (const auto& c : pubCases) {
    RSAPublicKey k;
    k.modulus.set(c.modulus.data(), static_cast<int>(c.modulus.size()));
    k.publicExponent.set(c.exponent.data(), static_cast<int>(c.exponent.size()));
    EXPECT_EQ(k.keyBits(), c.bits) << c.name;
    // a made-up signature: 1 from a usable key, 2 from an unusable one
    EXPECT_EQ(k.verifyPkcs1v15(d.data(), 32, 3, sig.data(), 128), c.expected) << c.name;
  }
}
