// Diffie-Hellman over GF(p): preconditions, the private-value sizes of the
// TLS form and the guards of key-pair generation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/asym/lvdhgfpsecret.h"
#include "crypto/rbg/lvrbgdss.h"

namespace {

// RFC 5114 A.1 (1024-bit p, 160-bit q).
const char* const kP =
    "0xB10B8F96A080E01DDE92DE5EAE5D54EC52C99FBCFB06A3C69A6A9DCA52D23B616073E28675A23D189838EF1E2E"
    "E652C013ECB4AEA906112324975C3CD49B83BFACCBDD7D90C4BD7098488E9C219A73724EFFD6FAE5644738FAA3"
    "1A4FF55BCCC0A151AF5F0DC8B4BD45BF37DF365C1A65E68CFDA76D4DA708DF1FB2BC2E4A4371";
const char* const kQ = "0xF518AA8781A8DF278ABA4E7D64B7CB9D49462353";
const char* const kG =
    "0xA4D1CBD5C3FD34126765A442EFB99905F8104DD258AC507FD6406CFF14266D31266FEA1E5C41564B777E690F"
    "5504F213160217B4B01B886A5E91547F9E2749F4D7FBD7D3B9A92EE1909D0D2263F80A76A6A24C087A091F531D"
    "BF0A0169B6A28AD662A4D18E73AFA32D779D5918D08BC8858F4DCEF97C2A24855E6EEB22B3B2E5";

std::string reasonOf(const LvException& e) {
  std::string text = e.what();
  std::size_t at = text.find("REASON: ");
  return at == std::string::npos ? text : text.substr(at + 8, text.find('\n', at) - at - 8);
}

void domainOf(LvDhGFpKeyDomain& d, const char* q = kQ) {
  d.setP(kP);
  d.setQ(q);
  d.setG(kG);
  d.markValid();
}

TEST(DhScheme, SecretNeedsBothKeysAndIsEmptyBefore) {
  LvDhGFpSecret s;
  LvOctet buf[8];
  EXPECT_EQ(s.getSecretLength(), 0u);
  EXPECT_EQ(s.getSecret(buf, sizeof buf), 0u);
  EXPECT_EQ(s.getKeyBits(0), 0u);
  try {
    s.generateSecret();
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "There is no public key or it is not ready.");
  }
  LvDhGFpKeyDomain domain;
  domainOf(domain);
  EXPECT_EQ(domain.getDomainType(), 5u);
  LvDhGFpPublicKey peer;
  peer.setDomain(&domain);
  peer.set("12345");  // in range but of no order q: refused below
  s.setPublicKey(&peer);
  EXPECT_EQ(s.getKeyBits(0), 1024u);
  LvDhGFpPrivateKey own;
  own.setDomain(&domain);
  s.setPrivateKey(&own);
  try {
    s.generateSecret();
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "There is no private key or it is not ready.");
  }
  own.setX("3");
  try {
    s.generateSecret();
    FAIL();
  } catch (const LvInvalidKeyException& e) {
    EXPECT_EQ(reasonOf(e), "Peer public value is not in the subgroup of order q.");
  }
  EXPECT_EQ(s.getSecretLength(), 0u);
  // The same value under a domain with p - 1 for q (every value a "member")
  // is still refused: the check is made in the own domain.
  std::string pMinus1 = kP;
  pMinus1.back() = '0';
  LvDhGFpKeyDomain other;
  domainOf(other, pMinus1.c_str());
  peer.setDomain(&other);
  EXPECT_THROW(s.generateSecret(), LvInvalidKeyException);
  peer.setDomain(&domain);
  // With g itself (of order q) as the peer value: g^3 mod p (python's pow),
  // 128 octets; a short buffer gets nothing.
  peer.setKey(LvN(kG));
  s.generateSecret();
  std::vector<LvOctet> z(s.getSecretLength());
  ASSERT_EQ(z.size(), 128u);
  EXPECT_EQ(s.getSecret(z.data(), 127), 0u);
  ASSERT_EQ(s.getSecret(z.data(), 128), 128u);
  EXPECT_EQ(std::vector<LvOctet>(z.begin(), z.begin() + 4), (std::vector<LvOctet>{0xAD, 0x3E, 0xA3, 0x22}));
  EXPECT_EQ(std::vector<LvOctet>(z.end() - 4, z.end()), (std::vector<LvOctet>{0x22, 0xEF, 0xAA, 0xBA}));
}

TEST(DhScheme, KeyPairGenerationGuards) {
  LvDhGFpPublicKey pub;
  LvDhGFpPrivateKey priv;
  LvDhGFpKeyDomain empty;
  LvRbgSimple rbg;
  try {
    generateKeyPair(pub, priv, &empty, &rbg);
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "Domain is not compleat.");
  }
  // q = 3 leaves no x with 2 <= x <= q - 2: refused instead of drawing forever.
  LvDhGFpKeyDomain tiny;
  domainOf(tiny, "3");
  EXPECT_THROW(generateKeyPair(pub, priv, &tiny, &rbg), LvArgumentRangeException);
  // A generator that only ever gives zeros cannot yield x.
  LvDhGFpKeyDomain domain;
  domainOf(domain);
  EXPECT_THROW(generateKeyPair(pub, priv, &domain, &rbg), LvRbgCycleException);
  // q - 1 is out of range too; the draw after it is used.
  std::vector<LvOctet> seed(20);
  LvN(kQ).getOctets(seed.data(), 20, 1);
  seed[19] -= 1;  // q - 1
  std::vector<LvOctet> two(20, 0);
  two[19] = 2;
  seed.insert(seed.end(), two.begin(), two.end());
  LvRbgSimple stepping(seed.data(), static_cast<unsigned int>(seed.size()));
  generateKeyPair(pub, priv, &domain, &stepping);
  EXPECT_TRUE(priv.getX() == LvN(LvWord(2), 1));
  EXPECT_TRUE(pub.getKey() == pow(LvZn(LvN(kG), &domain.getP()), LvN(LvWord(2), 1)).getN());
}

// A TLS-form object over an all-ones p of `bits` bits and g = 2.
unsigned int tlsPrivateBits(unsigned int bits) {
  std::vector<LvOctet> p((bits + 7) / 8, 0xFF);
  if (bits % 8)
    p[0] = static_cast<LvOctet>((1u << (bits % 8)) - 1);
  const LvOctet g = 2;
  LvDhGFpSecret_CTLSV1 s;
  s.setP(p.data(), static_cast<unsigned int>(p.size()));
  s.setG(&g, 1);
  std::vector<LvOctet> ones(64, 0xFF);
  LvRbgSimple rbg(ones.data(), static_cast<unsigned int>(ones.size()));
  LvDhGFpPublicKey_CTLSV1 pub;
  s.generateKeyPair(pub, &rbg);
  EXPECT_EQ(s.getKeyBits(0), s.getKeyBits(2));
  EXPECT_FALSE(pub.isReady());
  EXPECT_TRUE(pub.isValid());
  EXPECT_EQ(pub.getKeyBits(), pub.getValue().getBitLength());
  return s.getKeyBits(2);
}

TEST(DhScheme, TlsPrivateValueSizeFollowsP) {
  EXPECT_EQ(tlsPrivateBits(512), 160u);
  EXPECT_EQ(tlsPrivateBits(1024), 160u);
  EXPECT_EQ(tlsPrivateBits(1025), 224u);
  EXPECT_EQ(tlsPrivateBits(2048), 224u);
  EXPECT_EQ(tlsPrivateBits(3072), 256u);
  EXPECT_EQ(tlsPrivateBits(7680), 384u);
  EXPECT_EQ(tlsPrivateBits(15360), 512u);
  try {
    tlsPrivateBits(15361);
    FAIL();
  } catch (const LvLibNotImplementedException& e) {
    EXPECT_EQ(reasonOf(e), "This security level is not supported.");
  }
}

TEST(DhScheme, TlsFormPreconditions) {
  LvDhGFpSecret_CTLSV1 s;
  LvDhGFpPublicKey_CTLSV1 pub;
  LvRbgSimple rbg;
  EXPECT_EQ(pub.getKeyBits(), 0u);
  EXPECT_EQ(s.getKeyBits(0), 0u);
  EXPECT_EQ(s.getKeyBits(3), 0u);
  try {
    s.generateKeyPair(pub, &rbg);
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "Object is njot compleat to do this operation.");
  }
  try {
    s.generateSecret();
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "Object is njot compleat to do this operation.");
  }
  const LvOctet p[2] = {0x00, 0x17}, g = 5, peer = 0x0B;
  s.setP(p, 2);
  s.setG(&g, 1);
  EXPECT_THROW(s.generateKeyPair(pub, nullptr), LvNotInitException);
  s.setPeerKey(&peer, 1);
  EXPECT_EQ(s.getKeyBits(0), 4u);  // the peer's value when set
  // p up to 1024 bits: a 160-bit x from five words, the lowest drawn first.
  LvOctet stream[20] = {0, 0, 0, 3};  // x = 3
  LvRbgSimple three(stream, 20);
  s.generateKeyPair(pub, &three);
  EXPECT_TRUE(pub.getValue() == LvN(LvWord(125 % 23), 1));
  s.generateSecret();
  LvOctet z = 0;
  ASSERT_EQ(s.getSecret(&z, 1), 1u);
  EXPECT_EQ(z, 1331 % 23);  // 11^3 mod 23 = 20
  // A generator that always gives x = 1 never yields x > 1.
  LvOctet one[20] = {0, 0, 0, 1};
  LvRbgSimple stuck(one, 20);
  EXPECT_THROW(s.generateKeyPair(pub, &stuck), LvRbgCycleException);
}

TEST(DhScheme, DomainGenerationHasSizeFloors) {
  LvDhGFpKeyDomain domain;
  LvRbgSimple rbg;
  // The seed of the FIPS 186-2 Appendix 5 example.
  const std::vector<LvOctet> seed = {0xd5, 0x01, 0x4e, 0x4b, 0x60, 0xef, 0x2b, 0xa8, 0xb6, 0x21,
                                     0x1b, 0x40, 0x62, 0xba, 0x32, 0x24, 0xe0, 0x42, 0x7d, 0xd3};
  EXPECT_FALSE(domain.generate(&rbg, 159, 1024, nullptr, nullptr));
  EXPECT_FALSE(domain.generate(&rbg, 160, 1023, nullptr, nullptr));
  EXPECT_FALSE(domain.generate(seed.data(), 19, 160, 1024, nullptr, nullptr));
  EXPECT_FALSE(domain.generate(seed.data(), 20, 159, 1024, nullptr, nullptr));
  EXPECT_FALSE(domain.generate(seed.data(), 20, 160, 1023, nullptr, nullptr));
  EXPECT_FALSE(domain.isReady());
  // At the floor the GF(p) generation runs: q is the example's (the first
  // two SHA-1 blocks of the seed); p is a 1024-bit number with q | p - 1 and
  // g generates the subgroup of order q.
  ASSERT_TRUE(domain.generate(seed.data(), 20, 160, 1024, nullptr, nullptr));
  const LvN q("0xc773218c737ec8ee993b4f2ded30f48edace915f");
  EXPECT_TRUE(domain.getQ() == q);
  const LvN p = domain.getP();
  EXPECT_EQ(p.getBitLength(), 1024u);
  EXPECT_TRUE((p - 1u) % q == LvWord(0));
  LvN g = domain.getG();
  EXPECT_TRUE(g > 1u);
  EXPECT_TRUE(pow(LvZn(g, &domain.getP()), q).getN() == LvWord(1));
  EXPECT_TRUE(domain.isReady());
}

}  // namespace
