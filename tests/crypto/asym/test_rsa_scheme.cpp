// RSA keys, signature schemes, MGF1 and ciphers: encodings, limits, and the
// failures that must refuse rather than give a wrong answer. Keys come from
// the openssl command line (tests/data/rsa/make_openssl_fixtures.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/algebra/test_num_util.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"

namespace {

using namespace numtest;

void loadPrivate(LvRsaPrivateKey& key, std::map<std::string, Bytes>& c, bool crt = true) {
  auto set = [&](const char* name, void (LvRsaPrivateKey::*fn)(const LvOctet*, unsigned int)) {
    (key.*fn)(c[name].data(), static_cast<unsigned int>(c[name].size()));
  };
  set("n", &LvRsaPrivateKey::setN);
  set("e", &LvRsaPrivateKey::setE);
  set("d", &LvRsaPrivateKey::setD);
  if (crt) {
    set("p", &LvRsaPrivateKey::setP);
    set("q", &LvRsaPrivateKey::setQ);
    set("dp", &LvRsaPrivateKey::setDP);
    set("dq", &LvRsaPrivateKey::setDQ);
    set("qinv", &LvRsaPrivateKey::setQInv);
  }
  key.prepare();
}

void loadPublic(LvRsaPublicKey& key, std::map<std::string, Bytes>& c) {
  key.setN(c["n"].data(), static_cast<unsigned int>(c["n"].size()));
  key.setE(c["e"].data(), static_cast<unsigned int>(c["e"].size()));
}

class SeededRbg : public LvRbgHashIso18031 {
 public:
  SeededRbg() {
    const LvOctet seed[20] = {'t', 'a', 'l', '-', 'v', 'o', 'r', 'i', 'n', 0,
                              1,   2,   3,   4,   5,   6,   7,   8,   9,   10};
    init(seed, sizeof seed);
  }
};

const Bytes kSha256Abc =
    hexBytes("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

}  // namespace

TEST(RsaScheme, Pkcs1EncodingLayoutAndLimits) {
  auto c = keyFile("openssl_key.txt");
  LvRsaPublicKey key;
  loadPublic(key, c);
  LvRsaSigPkcsV15 s;
  s.setPublicKey(&key);
  s.setHashAlgo(LV_HASH_SHA256);
  LvOctMem em;
  ASSERT_EQ(s.encode(em, kSha256Abc.data(), 32), 255u);
  const LvOctet* p = em.ptr();
  EXPECT_EQ(p[0], 0x01);
  for (int i = 1; i <= 202; ++i) ASSERT_EQ(p[i], 0xFF) << i;
  EXPECT_EQ(p[203], 0x00);
  const Bytes prefix = hexBytes("3031300d060960864801650304020105000420");
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), p + 204));
  EXPECT_TRUE(std::equal(kSha256Abc.begin(), kSha256Abc.end(), p + 223));
  Bytes out(255);
  EXPECT_EQ(s.encodeDigest(kSha256Abc.data(), 32, out.data(), 255), 255u);
  EXPECT_THROW(s.encodeDigest(kSha256Abc.data(), 32, out.data(), 254), LvArgumentRangeException);
  // Without parameters the AlgorithmIdentifier holds the OID alone.
  s.encodeDigestInfoWithoutHashParameters(em, kSha256Abc.data(), 32);
  const Bytes noNull = hexBytes("302f300b06096086480165030402010420");
  EXPECT_TRUE(std::equal(noNull.begin(), noNull.end(), em.ptr() + 206));

  // SHA-512 does not fit a 512-bit key; no key at all is refused too.
  auto small = keyFile("openssl_key_512.txt");
  LvRsaPublicKey k512;
  loadPublic(k512, small);
  LvRsaSigPkcsV15 s512;
  s512.setPublicKey(&k512);
  s512.setHashAlgo(LV_HASH_SHA512);
  Bytes d64(64, 1);
  EXPECT_THROW(s512.encode(em, d64.data(), 64), LvMessageToLongException);
  EXPECT_THROW(s512.encode(em, d64.data(), 0xFFFFFFF0u), LvMessageToLongException);
  LvRsaSigPkcsV15 none;
  none.setHashAlgo(LV_HASH_SHA256);
  EXPECT_THROW(none.encode(em, kSha256Abc.data(), 32), LvArgumentRangeException);
  EXPECT_THROW(none.getMaxSignatureOctets(), LvNotInitException);
  LvRsaSigPkcsV15 noHash;
  noHash.setPublicKey(&key);
  EXPECT_THROW(noHash.encode(em, kSha256Abc.data(), 32), LvNotInitException);
}

TEST(RsaScheme, VerifyRejectsOutOfRangeAndOversizedSignatures) {
  auto c = keyFile("openssl_key.txt");
  LvRsaPublicKey pub;
  loadPublic(pub, c);
  LvRsaPrivateKey priv;
  loadPrivate(priv, c);
  LvRsaSigPkcsV15 signer, verifier;
  signer.setHashAlgo(LV_HASH_SHA256);
  verifier.setHashAlgo(LV_HASH_SHA256);
  signer.setPrivateKey(&priv);
  verifier.setPublicKey(&pub);
  Bytes sig(256);
  ASSERT_EQ(signer.sign(kSha256Abc.data(), 32, sig.data(), 256), 256u);
  EXPECT_TRUE(verifier.verify(kSha256Abc.data(), 32, sig.data(), 256));
  // s + n is the same residue, but not the same signature.
  LvN alias = num(sig) + num(c["n"]);
  Bytes big(257);
  alias.getOctets(big.data(), 257, 1);
  EXPECT_THROW(verifier.verify(kSha256Abc.data(), 32, big.data(), 257), LvMessageToLongException);
  LvN n = num(c["n"]);
  Bytes nb(256);
  n.getOctets(nb.data(), 256, 1);
  EXPECT_FALSE(verifier.verify(kSha256Abc.data(), 32, nb.data(), 256));
  LvRsaSig raw;
  raw.setPublicKey(&pub);
  EXPECT_FALSE(raw.verify(nb.data(), 1, nb.data(), 256));  // n^e = 0 is never "checked"
  // Any one changed octet fails.
  for (size_t i : {0u, 100u, 255u}) {
    Bytes bad(sig);
    bad[i] ^= 0x01;
    EXPECT_FALSE(verifier.verify(kSha256Abc.data(), 32, bad.data(), 256));
  }
  Bytes d2(kSha256Abc);
  d2[31] ^= 0x80;
  EXPECT_FALSE(verifier.verify(d2.data(), 32, sig.data(), 256));
  // A signature with its leading zero octets dropped verifies.
  LvN s = num(sig);
  Bytes shortSig(s.getOctetLength());
  s.getOctets(shortSig.data(), static_cast<unsigned int>(shortSig.size()));
  EXPECT_TRUE(verifier.verify(kSha256Abc.data(), 32, shortSig.data(),
                              static_cast<unsigned int>(shortSig.size())));
  // Without a key.
  LvRsaSigPkcsV15 noKey;
  noKey.setHashAlgo(LV_HASH_SHA256);
  noKey.setPublicKey(nullptr);
  EXPECT_THROW(noKey.verify(kSha256Abc.data(), 32, sig.data(), 256), LvArgumentRangeException);
  LvRsaSig rawNoKey;
  EXPECT_THROW(rawNoKey.verify(sig.data(), 1, sig.data(), 256), LvNotInitException);
}

// The public operation s^e mod n on the raw scheme, against square-and-multiply on plain
// numbers: moduli of one word up to 4096 bits (top words of one bit among them), exponents
// odd and even, of one and two words and of 256 bits, and the edge signatures 0, 1, 2, n - 2,
// n - 1. An odd e > 1 takes s itself into its last product, which leaves the Montgomery form.
TEST(RsaScheme, PublicOperationOnEdgeValuesMatchesPlainArithmetic) {
  std::mt19937 rng(65537);
  auto randomBelow = [&](unsigned int words, bool oneBitTop) {
    std::vector<LvWord> w(words);
    for (auto& x : w) x = static_cast<LvWord>(rng());
    w.back() = oneBitTop ? 1u : (w.back() | 0x80000000u);
    return LvN(w.data(), words);
  };
  auto power = [](const LvN& s, const LvN& e, const LvN& n) {
    LvN r = LvN(1u, 1) % n;
    for (unsigned int i = e.getBitLength(); i-- > 0;) {
      r = r * r % n;
      if ((e.getWords()[i / 32] >> (i % 32)) & 1u) r = r * s % n;
    }
    return r;
  };
  const LvN one(1u, 1);
  const std::vector<LvN> exponents = {one,
                                      LvN(2u, 1),
                                      LvN(3u, 1),
                                      LvN(4u, 1),
                                      LvN(5u, 1),
                                      LvN(65537u, 1),
                                      (one << 32) + 1u,
                                      (one << 32) + 2u,
                                      (one << 256) - 1u,
                                      (one << 255) + 0x10001u};
  const struct {
    unsigned int words;
    bool oneBitTop;
  } moduli[] = {{1, false}, {2, false},  {3, true},  {16, false}, {32, false},
                {33, true}, {64, false}, {65, true}, {128, false}};
  for (const auto& mc : moduli) {
    LvN n = randomBelow(mc.words, mc.oneBitTop);
    n.getWords()[0] |= 1u;
    const unsigned int k = (n.getBitLength() + 7) / 8;
    std::vector<LvN> sigs = {LvN(0u, 1), one, LvN(2u, 1), n - 2u, n - 1u};
    for (int i = 0; i < 2; i++) sigs.push_back(randomBelow(mc.words, mc.oneBitTop) % n);
    for (const LvN& e : exponents) {
      LvRsaPublicKey pub(n, e);
      LvRsaSig raw;
      raw.setPublicKey(&pub);
      for (std::size_t si = 0; si < sigs.size(); si++) {
        SCOPED_TRACE("modulus of " + std::to_string(mc.words) + " words, e of " +
                     std::to_string(e.getBitLength()) + " bits, signature " + std::to_string(si));
        const LvN want = power(sigs[si], e, n);
        Bytes sig(k), em(k), other(k);
        sigs[si].getOctets(sig.data(), k, 1);
        want.getOctets(em.data(), k, 1);
        ((want + 1u) % n).getOctets(other.data(), k, 1);
        EXPECT_TRUE(raw.verify(em.data(), k, sig.data(), k));
        EXPECT_FALSE(raw.verify(other.data(), k, sig.data(), k));
      }
    }
  }
}

TEST(RsaScheme, SigningPathsAgreeAndRefuseWhatTheyCannotDoSoundly) {
  auto c = keyFile("openssl_key.txt");
  LvRsaPrivateKey crt, plain, noE;
  loadPrivate(crt, c);
  loadPrivate(plain, c, false);
  noE.setN(c["n"].data(), static_cast<unsigned int>(c["n"].size()));
  noE.setD(c["d"].data(), static_cast<unsigned int>(c["d"].size()));
  EXPECT_TRUE(noE.hasPrivatePart());
  EXPECT_FALSE(noE.hasPublicPart());
  SeededRbg rbg;
  Bytes a(256), b(256), m(256), m2(256);
  LvRsaSigPkcsV15 s;
  s.setHashAlgo(LV_HASH_SHA256);
  s.setPrivateKey(&crt);
  s.sign(kSha256Abc.data(), 32, a.data(), 256);
  s.setPrivateKey(&plain);
  s.sign(kSha256Abc.data(), 32, b.data(), 256);
  EXPECT_EQ(a, b);
  s.setPrivateKey(&crt);
  s.setRbg(&rbg);
  s.setMaskingMode(1);
  s.sign(kSha256Abc.data(), 32, m.data(), 256);
  s.sign(kSha256Abc.data(), 32, m2.data(), 256);  // squared masking values
  EXPECT_EQ(a, m);
  EXPECT_EQ(a, m2);
  // Preparing the key again (its modulus changes form) renews the masking.
  crt.prepare();
  s.sign(kSha256Abc.data(), 32, m2.data(), 256);
  EXPECT_EQ(a, m2);
  crt.setN(c["n"].data(), static_cast<unsigned int>(c["n"].size()));
  s.sign(kSha256Abc.data(), 32, m2.data(), 256);
  EXPECT_EQ(a, m2);
  crt.prepare();
  // Masking raises r to e: a key without e must refuse, not sign wrongly.
  s.setPrivateKey(&noE);
  EXPECT_THROW(s.sign(kSha256Abc.data(), 32, m.data(), 256), LvNotInitException);
  s.setMaskingMode(0);
  s.sign(kSha256Abc.data(), 32, m.data(), 256);
  EXPECT_EQ(a, m);
  LvRsaSigPkcsV15 noRbg;
  noRbg.setHashAlgo(LV_HASH_SHA256);
  noRbg.setPrivateKey(&crt);
  noRbg.setMaskingMode(1);
  EXPECT_THROW(noRbg.sign(kSha256Abc.data(), 32, m.data(), 256), LvNotInitException);
  // Buffer and length checks.
  s.setPrivateKey(&crt);
  EXPECT_THROW(s.sign(kSha256Abc.data(), 32, m.data(), 255), LvArgumentRangeException);
  LvRsaSig raw;
  raw.setPrivateKey(&crt);
  Bytes em(257, 0x01);
  EXPECT_THROW(raw.sign(em.data(), 257, m.data(), 256), LvMessageToLongException);
  Bytes over(256, 0xFF);  // above n: would be signed as its remainder
  EXPECT_THROW(raw.sign(over.data(), 256, m.data(), 256), LvMessageToLongException);
  LvRsaSig unready;
  EXPECT_THROW(unready.sign(em.data(), 1, m.data(), 256), LvNotInitException);

  // CRT parts that disagree with n are not installed; signing stays right.
  auto bad = c;
  bad["qinv"].back() ^= 0x02;
  LvRsaPrivateKey wrongCrt;
  loadPrivate(wrongCrt, bad);
  s.setPrivateKey(&wrongCrt);
  s.sign(kSha256Abc.data(), 32, m.data(), 256);
  EXPECT_EQ(a, m);
  // A private exponent that disagrees with e gives no signature at all, on
  // the plain road and on the CRT road (where the check runs modulo p and q).
  auto badD = c;
  badD["d"].back() ^= 0x04;
  for (bool withCrt : {false, true}) {
    LvRsaPrivateKey wrongD;
    loadPrivate(wrongD, badD, withCrt);
    ASSERT_EQ((wrongD.getModulus().getFlags() & LvModulus::FLAG_CRT) != 0, withCrt);
    s.setPrivateKey(&wrongD);
    EXPECT_THROW(s.sign(kSha256Abc.data(), 32, m.data(), 256), LvInvalidKeyException) << withCrt;
  }
}

TEST(RsaScheme, KeysAndPkcs1Type1Block) {
  LvRsaPublicKey fresh;
  EXPECT_EQ(fresh.getKeyBits(), 0u);
  EXPECT_FALSE(fresh.isReady());
  LvOctet o[4] = {9, 9, 9, 9};
  EXPECT_EQ(fresh.getN(o, 4), 1u);
  EXPECT_EQ(o[0], 0);
  auto c = keyFile("openssl_key.txt");
  LvRsaPrivateKey key;
  loadPrivate(key, c);
  EXPECT_EQ(key.getKeyBits(), 2048u);
  EXPECT_EQ(key.getKeyOctets(), 256u);
  Bytes buf(256);
  EXPECT_EQ(key.getN(buf.data(), 255), 0u);
  EXPECT_EQ(key.getN(buf.data(), 256), 256u);
  EXPECT_EQ(buf, c["n"]);
  EXPECT_EQ(key.getQInv(buf.data(), 256), c["qinv"].size());
  // Derivation from (n, d, p) agrees with openssl's components.
  LvRsaPrivateKey derived(num(c["n"]), num(c["d"]), num(c["p"]));
  EXPECT_EQ(derived.getQ(buf.data(), 256), c["q"].size());
  EXPECT_TRUE(num(Bytes(buf.begin(), buf.begin() + c["q"].size())) == num(c["q"]));
  EXPECT_EQ(derived.getDP(buf.data(), 256), c["dp"].size());
  EXPECT_TRUE(num(Bytes(buf.begin(), buf.begin() + c["dp"].size())) == num(c["dp"]));
  EXPECT_EQ(derived.getQInv(buf.data(), 256), c["qinv"].size());
  EXPECT_TRUE(num(Bytes(buf.begin(), buf.begin() + c["qinv"].size())) == num(c["qinv"]));

  // A modulus far beyond any real key is refused before its set-up.
  Bytes huge(2049, 0xFF);
  EXPECT_THROW(fresh.setN(huge.data(), 2049), LvArgumentRangeException);
  huge.assign(2048, 0xFF);
  fresh.setN(huge.data(), 2048);
  EXPECT_EQ(fresh.getKeyBits(), 16384u);

  LvOctet blk[16];
  const LvOctet data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(encodePkcs1Type1Block(blk, 16, data, 12), 1);
  EXPECT_EQ(blk[0], 0x00);
  EXPECT_EQ(blk[1], 0x01);
  EXPECT_EQ(blk[2], 0xFF);
  EXPECT_EQ(blk[3], 0x00);
  EXPECT_EQ(blk[4], 1);
  EXPECT_EQ(encodePkcs1Type1Block(blk, 16, data, 13), 0);
  EXPECT_EQ(encodePkcs1Type1Block(blk, 16, data, 0), 0);
  EXPECT_EQ(encodePkcs1Type1Block(blk, 3, data, 1), 0);
}

TEST(RsaScheme, PssLimitsAndMgf1) {
  // MGF1 against Python's hashlib.
  LvMgf1 mgf(LV_HASH_SHA256, 0);
  const char* seed = "TAL-VORIN";
  Bytes out(33);
  mgf.generateMask(out.data(), 33, reinterpret_cast<const LvOctet*>(seed), 9);
  EXPECT_EQ(out, hexBytes("ee18cd604c23423b2070fc60d200344406f3b065c41726e04fac08e223b1e0815a"));
  Bytes x(33, 0);
  mgf.applyMask(x.data(), 33, reinterpret_cast<const LvOctet*>(seed), 9);
  EXPECT_EQ(x, out);
  mgf.generateMask(nullptr, 0, nullptr, 0);
  LvMgf1 sha1(LV_HASH_SHA1, 0);
  Bytes s1(45);
  sha1.init(nullptr, 0);
  sha1.step(s1.data(), 7);
  sha1.step(s1.data() + 7, 38);
  sha1.finish();
  EXPECT_EQ(s1, hexBytes("9069ca78e7450a285173431b3e52c5c25299e473479e04f3d12d112b5c04c9ee67e4b1e6"
                         "e201ea4eff56b9948d"));
  EXPECT_THROW(sha1.step(s1.data(), 1), LvFsmException);

  // sLen = 0 needs no generator and verifies.
  auto c = keyFile("openssl_key_1024.txt");
  LvRsaPrivateKey priv;
  loadPrivate(priv, c);
  LvRsaPublicKey pub;
  loadPublic(pub, c);
  LvRsaSigPkcsPss pss(0, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA1);
  pss.setPublicKey(&pub);
  LvOctMem em;
  EXPECT_EQ(pss.encode(em, kSha256Abc.data(), 32), 128u);
  EXPECT_EQ(em.ptr()[127], 0xBC);
  EXPECT_EQ(em.ptr()[0] & 0x80, 0);  // top mask 0x7F for 1024 bits
  pss.setPrivateKey(&priv);
  Bytes sig(128);
  pss.sign(kSha256Abc.data(), 32, sig.data(), 128);
  pss.setPublicKey(&pub);
  EXPECT_TRUE(pss.verify(kSha256Abc.data(), 32, sig.data(), 128));
  Bytes tampered(sig);
  tampered[5] ^= 1;
  EXPECT_FALSE(pss.verify(kSha256Abc.data(), 32, tampered.data(), 128));
  Bytes nb = c["n"];
  EXPECT_FALSE(pss.verify(kSha256Abc.data(), 32, nb.data(), 128));
  Bytes longSig(129, 0);
  EXPECT_THROW(pss.verify(kSha256Abc.data(), 32, longSig.data(), 129), LvMessageToLongException);

  // 1025 bits: emLen 128 and no top mask; round trip through sign and verify.
  SeededRbg rbg;
  auto c1025 = keyFile("openssl_key_1025.txt");
  LvRsaPrivateKey p1025;
  loadPrivate(p1025, c1025);
  LvRsaPublicKey k1025;
  loadPublic(k1025, c1025);
  LvRsaSigPkcsPss pss1025(20, &rbg, LV_HASH_SHA256, 1, 0);
  pss1025.setPublicKey(&k1025);
  EXPECT_EQ(pss1025.encode(em, kSha256Abc.data(), 32), 128u);
  pss1025.setPrivateKey(&p1025);
  Bytes sig1025(129);
  EXPECT_EQ(pss1025.sign(kSha256Abc.data(), 32, sig1025.data(), 129), 129u);
  pss1025.setPublicKey(&k1025);
  EXPECT_TRUE(pss1025.verify(kSha256Abc.data(), 32, sig1025.data(), 129));

  // SHA-256 with a 32-octet salt: 528 bits fit, 520 bits do not.
  for (auto [file, fits] : {std::pair<const char*, bool>{"openssl_key_528.txt", true},
                            {"openssl_key_520.txt", false}}) {
    auto k = keyFile(file);
    LvRsaPublicKey kp;
    loadPublic(kp, k);
    LvRsaSigPkcsPss s(32, &rbg, LV_HASH_SHA256, 0, LV_HASH_SHA256);
    s.setPublicKey(&kp);
    if (fits)
      EXPECT_EQ(s.encode(em, kSha256Abc.data(), 32), 66u);
    else
      EXPECT_THROW(s.encode(em, kSha256Abc.data(), 32), LvArgumentRangeException);
  }
  // A salt length near 2^32 must not wrap the size check.
  LvRsaSigPkcsPss huge(0xFFFFFFF0u, &rbg, LV_HASH_SHA256, 0, LV_HASH_SHA256);
  huge.setPublicKey(&pub);
  EXPECT_THROW(huge.encode(em, kSha256Abc.data(), 32), LvArgumentRangeException);
  EXPECT_FALSE(huge.verify(kSha256Abc.data(), 32, sig.data(), 128));
  LvRsaSigPkcsPss noRbg(20, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA256);
  noRbg.setPublicKey(&pub);
  EXPECT_THROW(noRbg.encode(em, kSha256Abc.data(), 32), LvNotInitException);
}

TEST(RsaScheme, CipherLimitsAndPadding) {
  auto c = keyFile("openssl_key_1024.txt");
  LvRsaPublicKey pub;
  loadPublic(pub, c);
  LvRsaPrivateKey priv;
  loadPrivate(priv, c);
  SeededRbg rbg;
  LvRsaCipher raw;
  LvRsaCipherPkcsV15 v15(&rbg);
  EXPECT_THROW(raw.getMaxPlainTextOctets(), LvNotInitException);
  raw.setPublicKey(&pub);
  v15.setPublicKey(&pub);
  EXPECT_EQ(raw.getMaxPlainTextOctets(), 128u);
  EXPECT_EQ(v15.getMaxPlainTextOctets(), 117u);
  EXPECT_EQ(v15.getMaxCipherTextOctets(), 128u);

  Bytes ct(128), pt(128), msg(117, 0x5A);
  EXPECT_EQ(v15.encrypt(msg.data(), 117, ct.data(), 128), 128u);
  Bytes msg118(118, 0x5A);
  LvRsaCipherPkcsV15 v15NoRbg(nullptr);
  v15NoRbg.setPublicKey(&pub);
  EXPECT_THROW(v15NoRbg.encrypt(msg118.data(), 118, ct.data(), 128), LvMessageToLongException);
  EXPECT_THROW(v15NoRbg.encrypt(msg.data(), 117, ct.data(), 128), LvNotInitException);
  EXPECT_THROW(v15.encrypt(msg.data(), 0xFFFFFFFAu, ct.data(), 128), LvMessageToLongException);
  LvRsaCipherPkcsV15 dec(nullptr);
  dec.setPrivateKey(&priv);
  v15.encrypt(msg.data(), 117, ct.data(), 128);
  EXPECT_EQ(dec.decrypt(ct.data(), 128, pt.data(), 128), 117u);
  EXPECT_TRUE(std::equal(msg.begin(), msg.end(), pt.begin()));
  EXPECT_THROW(dec.decrypt(ct.data(), 128, pt.data(), 116), LvArgumentRangeException);

  // Raw: n itself is refused, n - 1 encrypts to exactly k octets.
  Bytes n = c["n"];
  EXPECT_THROW(raw.encrypt(n.data(), 128, ct.data(), 128), LvMessageToLongException);
  Bytes nm1 = n;
  nm1.back() -= 1;
  EXPECT_EQ(raw.encrypt(nm1.data(), 128, ct.data(), 128), 128u);
  EXPECT_THROW(raw.encrypt(nm1.data(), 128, ct.data(), 127), LvArgumentRangeException);
  LvRsaCipher rawPriv;
  rawPriv.setPrivateKey(&priv);
  EXPECT_THROW(rawPriv.encrypt(nm1.data(), 128, ct.data(), 128), LvNotInitException);
  EXPECT_EQ(rawPriv.decrypt(ct.data(), 128, pt.data(), 128), 128u);
  EXPECT_EQ(pt, nm1);
  EXPECT_THROW(rawPriv.decrypt(ct.data(), 128, pt.data(), 127), LvArgumentRangeException);
  EXPECT_THROW(rawPriv.decrypt(n.data(), 128, pt.data(), 128), LvMessageToLongException);
  Bytes ct129(129, 1);
  EXPECT_THROW(rawPriv.decrypt(ct129.data(), 129, pt.data(), 128), LvMessageToLongException);
  LvRsaCipherPkcsV15 noKey(&rbg);
  EXPECT_THROW(noKey.encrypt(msg.data(), 1, ct.data(), 128), LvMessageToLongException);

  // Hand-made blocks, encrypted raw and decrypted with the v1.5 checks.
  auto block = [&](int padLen, bool separator, LvOctet type, size_t msgLen) {
    Bytes b(128, 0);
    b[1] = type;
    for (int i = 0; i < padLen; ++i) b[2 + i] = 0x33;
    size_t sep = 2 + padLen;
    if (separator) b[sep] = 0x00;
    for (size_t i = sep + 1; i < 128; ++i) b[i] = separator ? 0x44 : 0x55;
    (void)msgLen;
    Bytes e(128);
    raw.encrypt(b.data(), 128, e.data(), 128);
    return e;
  };
  Bytes e7 = block(7, true, 0x02, 0);
  EXPECT_THROW(dec.decrypt(e7.data(), 128, pt.data(), 128), LvWrongSyntaxException);
  Bytes e8 = block(8, true, 0x02, 0);
  EXPECT_EQ(dec.decrypt(e8.data(), 128, pt.data(), 128), 117u);
  Bytes eNoSep = block(126, false, 0x02, 0);
  EXPECT_THROW(dec.decrypt(eNoSep.data(), 128, pt.data(), 128), LvWrongSyntaxException);
  Bytes eType1 = block(8, true, 0x01, 0);
  EXPECT_THROW(dec.decrypt(eType1.data(), 128, pt.data(), 128), LvWrongSyntaxException);
  Bytes eZeroPad = block(0, true, 0x02, 0);
  EXPECT_THROW(dec.decrypt(eZeroPad.data(), 128, pt.data(), 128), LvWrongSyntaxException);
  Bytes last(128, 0x33);
  last[0] = 0;
  last[1] = 2;
  last[127] = 0;
  Bytes eLast(128);
  raw.encrypt(last.data(), 128, eLast.data(), 128);
  EXPECT_EQ(dec.decrypt(eLast.data(), 128, pt.data(), 0), 0u);
}

// The masking values belong to one modulus: a key object loaded again with
// another modulus of the same word count (its words land in the same buffer)
// must get new ones, not have its signatures blinded with the old key's.
TEST(RsaScheme, MaskingRenewedWhenTheKeyChangesInPlace) {
  auto k520 = keyFile("openssl_key_520.txt");
  auto k528 = keyFile("openssl_key_528.txt");
  SeededRbg rbg;
  LvRsaPrivateKey key;
  LvRsaSigPkcsV15 masked, plain;
  masked.setHashAlgo(LV_HASH_SHA1);
  plain.setHashAlgo(LV_HASH_SHA1);
  masked.setRbg(&rbg);
  masked.setMaskingMode(1);
  masked.setPrivateKey(&key);
  plain.setPrivateKey(&key);
  const Bytes digest = hexBytes("a9993e364706816aba3e25717850c26c9cd0d89d");
  for (auto* c : {&k520, &k528, &k520}) {
    loadPrivate(key, *c, false);
    const unsigned int k = key.getKeyOctets();
    Bytes a(k), b(k);
    plain.sign(digest.data(), 20, a.data(), k);
    EXPECT_NO_THROW(masked.sign(digest.data(), 20, b.data(), k));
    EXPECT_EQ(a, b);
  }
}

// Every way a v1.5 block can be bad gives the one answer (class and text), whether the fault
// is in its first octets, its last, or only in the separator coming too early, and whatever
// the caller's buffer: the buffer is only measured against a well-formed message.
TEST(RsaScheme, V15PaddingFailuresLookAlike) {
  auto c = keyFile("openssl_key_1024.txt");
  LvRsaPublicKey pub;
  loadPublic(pub, c);
  LvRsaPrivateKey priv;
  loadPrivate(priv, c);
  LvRsaCipher raw;
  raw.setPublicKey(&pub);
  LvRsaCipherPkcsV15 dec(nullptr);
  dec.setPrivateKey(&priv);
  // A block of 00 02, padding 0x33 and message 0x44 with its zero octets at the given places.
  auto block = [](LvOctet first, LvOctet type, std::initializer_list<size_t> zeros) {
    Bytes b(128, 0x44);
    b[0] = first;
    b[1] = type;
    for (size_t i = 2; i < 128; ++i) b[i] = 0x33;
    for (size_t z : zeros) b[z] = 0x00;
    return b;
  };
  const struct {
    const char* name;
    Bytes block;
    int length;  // -1: refused
  } cases[] = {
      {"eight padding octets", block(0, 2, {10}), 117},
      {"separator in the middle", block(0, 2, {60}), 67},
      {"separator last: empty message", block(0, 2, {127}), 0},
      {"a later zero is message", block(0, 2, {10, 11, 127}), 117},
      {"first octet 01", block(1, 2, {10}), -1},
      {"block type 01", block(0, 1, {10}), -1},
      {"block type 00", block(0, 0, {10}), -1},
      {"block type 82", block(0, 0x82, {10}), -1},
      {"no separator", block(0, 2, {}), -1},
      {"no padding", block(0, 2, {2}), -1},
      {"one padding octet", block(0, 2, {3}), -1},
      {"seven padding octets", block(0, 2, {9}), -1},
      {"the first zero decides", block(0, 2, {9, 10}), -1},
      {"all zero after the type", block(0, 2, {2, 3, 4, 5, 6, 7, 8, 9, 10, 127}), -1},
  };
  std::string refusal;
  for (const auto& t : cases) {
    Bytes ct(128), pt(128, 0xEE);
    ASSERT_EQ(raw.encrypt(const_cast<LvOctet*>(t.block.data()), 128, ct.data(), 128), 128u)
        << t.name;
    for (unsigned int room : {128u, 0u}) {
      if (t.length >= 0) {
        if (static_cast<unsigned int>(t.length) > room) continue;
        ASSERT_EQ(dec.decrypt(ct.data(), 128, pt.data(), room), static_cast<unsigned int>(t.length))
            << t.name;
        EXPECT_TRUE(std::equal(pt.begin(), pt.begin() + t.length, t.block.end() - t.length))
            << t.name;
        continue;
      }
      try {
        dec.decrypt(ct.data(), 128, pt.data(), room);
        ADD_FAILURE() << t.name << ": accepted";
      } catch (const LvWrongSyntaxException& e) {
        if (refusal.empty()) refusal = e.what();
        EXPECT_EQ(refusal, e.what()) << t.name;
      } catch (const LvException& e) {
        ADD_FAILURE() << t.name << ": " << e.what();
      }
      EXPECT_EQ(pt[0], 0xEE) << t.name << ": written before the answer";
    }
  }
  EXPECT_NE(refusal.find("REASON: Wrong padding syntax of decrypted message.\n"),
            std::string::npos);
  // A well-formed message longer than the caller's buffer is the buffer's fault.
  Bytes ct(128), pt(128);
  const Bytes good = block(0, 2, {60});
  raw.encrypt(const_cast<LvOctet*>(good.data()), 128, ct.data(), 128);
  EXPECT_THROW(dec.decrypt(ct.data(), 128, pt.data(), 66), LvArgumentRangeException);
}

// A key made from n, d and p alone derives openssl's components, for keys whose halves fill
// their words and keys whose do not; a d that cannot be a private exponent is refused.
TEST(RsaScheme, KeyDerivedFromNDAndP) {
  for (const char* file : {"openssl_key_512.txt", "openssl_key_520.txt", "openssl_key_528.txt",
                           "openssl_key_1024.txt", "openssl_key_1025.txt", "openssl_key.txt"}) {
    SCOPED_TRACE(file);
    auto c = keyFile(file);
    LvRsaPrivateKey derived(num(c["n"]), num(c["d"]), num(c["p"]));
    Bytes buf(300);
    // e is d^-1 modulo (p - 1)(q - 1); openssl's d is an inverse modulo lcm(p - 1, q - 1),
    // so the two exponents agree modulo the lcm (and act alike).
    const LvN pm1 = num(c["p"]) - 1u, qm1 = num(c["q"]) - 1u;
    const LvN lambda = pm1 * qm1 / gcd(pm1, qm1);
    EXPECT_TRUE(derived.getE() % lambda == num(c["e"]));
    const struct {
      const char* name;
      unsigned int (LvRsaPrivateKey::*get)(LvOctet*, unsigned int);
    } parts[] = {{"q", &LvRsaPrivateKey::getQ},
                 {"dp", &LvRsaPrivateKey::getDP},
                 {"dq", &LvRsaPrivateKey::getDQ},
                 {"qinv", &LvRsaPrivateKey::getQInv}};
    for (const auto& part : parts) {
      const unsigned int len = (derived.*part.get)(buf.data(), 300);
      ASSERT_GT(len, 0u) << part.name;
      EXPECT_TRUE(num(Bytes(buf.begin(), buf.begin() + len)) == num(c[part.name])) << part.name;
    }
    // its CRT signature is openssl's key's
    LvRsaPrivateKey loaded;
    loadPrivate(loaded, c);
    LvRsaSigPkcsV15 a, b;
    a.setHashAlgo(LV_HASH_SHA256);
    b.setHashAlgo(LV_HASH_SHA256);
    a.setPrivateKey(&derived);
    b.setPrivateKey(&loaded);
    const unsigned int k = loaded.getKeyOctets();
    Bytes sa(k), sb(k);
    a.sign(kSha256Abc.data(), 32, sa.data(), k);
    b.sign(kSha256Abc.data(), 32, sb.data(), k);
    EXPECT_EQ(sa, sb);
    // an even d has no inverse modulo the even phi; a p that does not divide n is no factor
    EXPECT_THROW(LvRsaPrivateKey(num(c["n"]), num(c["d"]) + 1u, num(c["p"])), LvInvException);
    EXPECT_THROW(LvRsaPrivateKey(num(c["n"]), num(c["d"]), num(c["p"]) + 2u), LvInvException);
  }
}

// The library's keys read octets as unsigned magnitudes: leading zero octets change nothing,
// a zero modulus or exponent leaves the key without the part that needs it.
TEST(RsaScheme, KeyNumbersFromOctets) {
  auto c = keyFile("openssl_key_1024.txt");
  Bytes padded = c["n"];
  padded.insert(padded.begin(), 3, 0x00);
  const Bytes zero = {0x00}, zeros = {0x00, 0x00, 0x00};
  const struct {
    const char* name;
    Bytes n, e, d;
    unsigned int bits;
    bool publicPart, privatePart;
  } cases[] = {
      {"as openssl wrote it", c["n"], c["e"], c["d"], 1024, true, true},
      {"leading zeros", padded, Bytes{0x00, 0x01, 0x00, 0x01}, c["d"], 1024, true, true},
      {"zero modulus", zero, c["e"], c["d"], 0, false, false},
      {"zero modulus, several octets", zeros, c["e"], c["d"], 0, false, false},
      {"zero exponent", c["n"], zero, c["d"], 1024, false, true},
      {"zero private exponent", c["n"], c["e"], zeros, 1024, true, false},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LvRsaPublicKey pub;
    pub.setN(t.n.data(), static_cast<unsigned int>(t.n.size()));
    pub.setE(t.e.data(), static_cast<unsigned int>(t.e.size()));
    EXPECT_EQ(pub.getKeyBits(), t.bits);
    EXPECT_EQ(pub.isReady(), t.publicPart);
    LvRsaPrivateKey priv;
    priv.setN(t.n.data(), static_cast<unsigned int>(t.n.size()));
    priv.setE(t.e.data(), static_cast<unsigned int>(t.e.size()));
    priv.setD(t.d.data(), static_cast<unsigned int>(t.d.size()));
    priv.prepare();
    EXPECT_EQ(priv.getKeyBits(), t.bits);
    EXPECT_EQ(priv.hasPublicPart(), t.publicPart);
    EXPECT_EQ(priv.hasPrivatePart(), t.privatePart);
    LvRsaCipher raw;
    raw.setPublicKey(&pub);
    Bytes m(1, 0x02), out(128);
    if (t.publicPart)
      EXPECT_EQ(raw.encrypt(m.data(), 1, out.data(), 128), 128u);
    else
      EXPECT_THROW(raw.encrypt(m.data(), 1, out.data(), 128), LvNotInitException);
    // the key made from the octets at once answers as the one set number by number
    LvRsaPublicKey direct(t.n.data(), static_cast<unsigned int>(t.n.size()), t.e.data(),
                          static_cast<unsigned int>(t.e.size()));
    EXPECT_EQ(direct.getKeyBits(), t.bits);
    EXPECT_EQ(direct.isReady(), t.publicPart);
    EXPECT_TRUE(direct.getModulus() == pub.getModulus());
    EXPECT_TRUE(direct.getE() == pub.getE());
    EXPECT_EQ(direct.getModulus().getUsed(), pub.getModulus().getUsed());
    LvRsaCipher rawDirect;
    rawDirect.setPublicKey(&direct);
    Bytes outDirect(128);
    if (t.publicPart) {
      EXPECT_EQ(rawDirect.encrypt(m.data(), 1, outDirect.data(), 128), 128u);
      EXPECT_EQ(outDirect, out);
    }
  }
}

// The key made from octets refuses what the setters refuse, before any set-up: a modulus
// past 16384 bits (leading zero octets aside), an exponent past 256 bits.
TEST(RsaScheme, KeyFromOctetsLimits) {
  Bytes e = {0x01, 0x00, 0x01};
  const struct {
    const char* name;
    Bytes n, e;
    bool refused;
  } cases[] = {
      {"16384 bits", Bytes(2048, 0xFF), e, false},
      {"16384 bits after zero octets", [] {
         Bytes b(2051, 0xFF);
         b[0] = b[1] = b[2] = 0;
         return b;
       }(), e, false},
      {"16385 bits", [] {
         Bytes b(2049, 0x00);
         b[0] = 0x01;
         b[2048] = 0x01;
         return b;
       }(), e, true},
      {"exponent of 256 bits", Bytes(64, 0xC3), Bytes(32, 0xFF), false},
      {"exponent of 257 bits", Bytes(64, 0xC3), [] {
         Bytes b(33, 0x00);
         b[0] = 0x01;
         return b;
       }(), true},
      {"exponent of 256 bits after zero octets", Bytes(64, 0xC3), [] {
         Bytes b(40, 0xFF);
         for (int i = 0; i < 8; ++i) b[i] = 0;
         return b;
       }(), false},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LvRsaPublicKey set;
    bool setRefused = false;
    try {
      set.setN(t.n.data(), static_cast<unsigned int>(t.n.size()));
      set.setE(t.e.data(), static_cast<unsigned int>(t.e.size()));
    } catch (const LvArgumentRangeException&) {
      setRefused = true;
    }
    EXPECT_EQ(setRefused, t.refused);
    if (t.refused) {
      EXPECT_THROW(LvRsaPublicKey(t.n.data(), static_cast<unsigned int>(t.n.size()), t.e.data(),
                                  static_cast<unsigned int>(t.e.size())),
                   LvArgumentRangeException);
      continue;
    }
    LvRsaPublicKey direct(t.n.data(), static_cast<unsigned int>(t.n.size()), t.e.data(),
                          static_cast<unsigned int>(t.e.size()));
    EXPECT_EQ(direct.getKeyBits(), set.getKeyBits());
    EXPECT_TRUE(direct.getModulus() == set.getModulus());
    EXPECT_TRUE(direct.getE() == set.getE());
  }
}

// A key's size and readiness as a caller holding any public key sees them: a modulus or an
// exponent that is empty, zero octets only, or short enough for the inline words, after zero
// octets or not.
TEST(RsaScheme, KeyFromOctetsSizeAndReadiness) {
  const Bytes none, zeros(5, 0x00), e3{0x03}, e65537{0x00, 0x01, 0x00, 0x01};
  Bytes n512(64, 0xC5), n2049(258, 0x00), n9 = {0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                                0x07, 0x08, 0x09};
  n2049[1] = 0x01;  // 2049 bits after one zero octet
  n2049[257] = 0x01;
  const struct {
    const char* name;
    const Bytes& n;
    const Bytes& e;
    unsigned int bits;
    bool ready;
  } cases[] = {
      {"512 bits, e 65537", n512, e65537, 512, true},
      {"2049 bits, e 3", n2049, e3, 2049, true},
      {"65 bits after zero octets", n9, e3, 65, true},
      {"no exponent", n512, none, 512, false},
      {"zero exponent", n512, zeros, 512, false},
      {"no modulus", none, e3, 0, false},
      {"zero modulus", zeros, e65537, 0, false},
  };
  auto len = [](const Bytes& b) { return static_cast<unsigned int>(b.size()); };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LvRsaPublicKey key(t.n.data(), len(t.n), t.e.data(), len(t.e));
    LvPublicKey& any = key;
    EXPECT_EQ(any.getKeyBits(), t.bits);
    EXPECT_EQ(any.getKeyOctets(), (t.bits + 7) / 8);
    EXPECT_EQ(any.isReady(), t.ready);
    EXPECT_TRUE(any.isValid());
    EXPECT_EQ(key.getKeyBits(), t.bits);
    EXPECT_EQ(key.isReady(), t.ready);
  }
}

// Keys made from octets against Python's x^e mod n (tests/data/rsa/make_key_octets.py):
// moduli of 512 to 8192 bits (odd word counts among them) given after zero octets, exponents
// 3, 65537, 2^64 + 1, 2^96 + 1 and one of 256 bits, on the verification's power and on the raw
// encryption's (which makes R^2 on first use).
TEST(RsaScheme, KeyFromOctetsKnownPowers) {
  struct RawSig : LvRsaSigPkcsV15 {
    using LvRsaSig::publicOperation;
  };
  const auto rows = vectors("kpow", "key_octets.txt");
  ASSERT_EQ(rows.size(), 35u);
  auto len = [](const Bytes& b) { return static_cast<unsigned int>(b.size()); };
  for (const auto& r : rows) {
    SCOPED_TRACE("bits " + r[1] + " e " + r[3].substr(0, 12));
    Bytes n = hexBytes(r[2]), e = hexBytes(r[3]);
    const Bytes x = hexBytes(r[4]), want = hexBytes(r[5]);
    const unsigned int k = len(n);
    n.insert(n.begin(), 2, 0x00);
    e.insert(e.begin(), 0x00);
    LvRsaPublicKey key(n.data(), len(n), e.data(), len(e));
    ASSERT_EQ(key.getKeyBits(), static_cast<unsigned int>(std::stoi(r[1])));
    ASSERT_TRUE(key.isReady());
    EXPECT_TRUE(key.getE() == fromHex(r[3]));
    RawSig s;
    s.setPublicKey(&key);
    LvN v;
    ASSERT_TRUE(s.publicOperation(x.data(), len(x), v));
    EXPECT_TRUE(v == num(want));
    LvRsaCipher raw;
    raw.setPublicKey(&key);
    Bytes in(x), out(k);
    ASSERT_EQ(raw.encrypt(in.data(), len(in), out.data(), k), k);
    EXPECT_TRUE(num(out) == num(want));
  }
}
