// The four signature checks against keys and signatures made by openssl
// (tests/data/keys/make_signatures.sh), and each status they answer.
#include "keys/sigverify.h"

#include "pki/keys/subpubkeyinfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> readData(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SubPubKeyInfo loadKey(const std::string& name) {
  SubPubKeyInfo key;
  std::vector<uint8_t> der = readData(name);
  EXPECT_GT(key.decodeVector(der), 0) << name;
  return key;
}

const int SHA1 = 1, SHA256 = 3, SHA384 = 4, SHA512 = 5;

TEST(SignatureChecks, RsaPkcs1FromOpenssl) {
  SubPubKeyInfo spki = loadKey("rsa-spki.der");
  struct Row {
    const char* signature;
    const char* digest;
    int hash;
  };
  const Row rows[] = {{"rsa-pkcs1-sha1.sig", "digest-sha1.bin", SHA1},
                      {"rsa-pkcs1-sha256.sig", "digest-sha256.bin", SHA256},
                      {"rsa-pkcs1-sha512.sig", "digest-sha512.bin", SHA512}};
  for (const Row& row : rows) {
    std::vector<uint8_t> sig = readData(row.signature), digest = readData(row.digest);
    EXPECT_EQ(SIGCHECK_OK, verifyRsaPkcs1Signature(spki.rsaKey, sig.data(), sig.size(),
                                                   digest.data(), digest.size(), row.hash))
        << row.signature;
    // Another digest of the same length: a well-formed signature that is wrong.
    digest[0] ^= 1;
    EXPECT_EQ(SIGCHECK_WRONG, verifyRsaPkcs1Signature(spki.rsaKey, sig.data(), sig.size(),
                                                      digest.data(), digest.size(), row.hash));
  }
}

TEST(SignatureChecks, RsaPssFromOpensslWithSeveralSalts) {
  SubPubKeyInfo spki = loadKey("rsa-spki.der");
  std::vector<uint8_t> d256 = readData("digest-sha256.bin"), d1 = readData("digest-sha1.bin");
  for (int salt : {0, 20, 32, 222}) {
    std::vector<uint8_t> sig = readData("rsa-pss-sha256-salt" + std::to_string(salt) + ".sig");
    EXPECT_EQ(SIGCHECK_OK, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(), d256.data(),
                                                 d256.size(), SHA256, SHA256, salt))
        << salt;
    // The salt length is part of the check.
    EXPECT_EQ(SIGCHECK_WRONG, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(),
                                                    d256.data(), d256.size(), SHA256, SHA256,
                                                    salt == 20 ? 32 : 20))
        << salt;
    // So is the mask hash.
    EXPECT_EQ(SIGCHECK_WRONG, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(),
                                                    d256.data(), d256.size(), SHA256, SHA1, salt))
        << salt;
  }
  std::vector<uint8_t> sig = readData("rsa-pss-sha1-salt20.sig");
  EXPECT_EQ(SIGCHECK_OK, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(), d1.data(),
                                               d1.size(), SHA1, SHA1, 20));
  // A PKCS#1 v1.5 signature is not a PSS one, and the other way round.
  std::vector<uint8_t> v15 = readData("rsa-pkcs1-sha256.sig");
  EXPECT_EQ(SIGCHECK_WRONG, verifyRsaPssSignature(spki.rsaKey, v15.data(), v15.size(), d256.data(),
                                                  d256.size(), SHA256, SHA256, 32));
  std::vector<uint8_t> pss = readData("rsa-pss-sha256-salt32.sig");
  EXPECT_EQ(SIGCHECK_WRONG, verifyRsaPkcs1Signature(spki.rsaKey, pss.data(), pss.size(),
                                                    d256.data(), d256.size(), SHA256));
}

TEST(SignatureChecks, RsaMalformedAndBadArguments) {
  SubPubKeyInfo spki = loadKey("rsa-spki.der");
  std::vector<uint8_t> sig = readData("rsa-pkcs1-sha256.sig"), digest = readData("digest-sha256.bin");
  std::vector<uint8_t> shorter(sig.begin() + 1, sig.end());
  std::vector<uint8_t> longer(sig);
  longer.insert(longer.begin(), 0);
  std::vector<uint8_t> modulus(spki.rsaKey.modulus.data(),
                               spki.rsaKey.modulus.data() + spki.rsaKey.modulus.length);
  if (modulus[0] == 0) modulus.erase(modulus.begin());
  std::vector<uint8_t> allOnes(sig.size(), 0xFF);
  struct Row {
    const char* what;
    const std::vector<uint8_t>* signature;
    size_t digestLength;
    int hash;
    int32_t status;
  };
  const Row rows[] = {
      {"one octet short", &shorter, 32, SHA256, SIGCHECK_MALFORMED},
      {"one octet long", &longer, 32, SHA256, SIGCHECK_MALFORMED},
      {"equal to the modulus", &modulus, 32, SHA256, SIGCHECK_MALFORMED},
      {"above the modulus", &allOnes, 32, SHA256, SIGCHECK_MALFORMED},
      {"digest of another length", &sig, 20, SHA256, SIGCHECK_BAD_ARGUMENTS},
      {"unknown hash", &sig, 32, 99, SIGCHECK_BAD_ARGUMENTS},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.status,
              verifyRsaPkcs1Signature(spki.rsaKey, row.signature->data(), row.signature->size(),
                                      digest.data(), row.digestLength, row.hash))
        << row.what;
    EXPECT_EQ(row.status, verifyRsaPssSignature(spki.rsaKey, row.signature->data(),
                                                row.signature->size(), digest.data(),
                                                row.digestLength, row.hash, SHA256, 32))
        << row.what;
  }
  EXPECT_EQ(SIGCHECK_BAD_ARGUMENTS,
            verifyRsaPkcs1Signature(spki.rsaKey, nullptr, 256, digest.data(), 32, SHA256));
  EXPECT_EQ(SIGCHECK_BAD_ARGUMENTS,
            verifyRsaPkcs1Signature(spki.rsaKey, sig.data(), sig.size(), nullptr, 32, SHA256));
  EXPECT_EQ(SIGCHECK_BAD_ARGUMENTS, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(),
                                                          digest.data(), 32, SHA256, SHA256, -1));
  EXPECT_EQ(SIGCHECK_BAD_ARGUMENTS, verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(),
                                                          digest.data(), 32, SHA256, 0, 32));
}

TEST(SignatureChecks, DsaAndEcdsaFromOpenssl) {
  struct Row {
    const char* key;
    const char* signature;
    const char* digest;
    int hash;
    bool ec;
  };
  const Row rows[] = {
      {"dsa-spki.der", "dsa-sha256.sig", "digest-sha256.bin", SHA256, false},
      {"ec-prime256v1-spki.der", "ec-prime256v1-sha256.sig", "digest-sha256.bin", SHA256, true},
      {"ec-secp384r1-spki.der", "ec-secp384r1-sha384.sig", "digest-sha384.bin", SHA384, true},
      {"ec-secp521r1-spki.der", "ec-secp521r1-sha512.sig", "digest-sha512.bin", SHA512, true},
      {"ec-sect283r1-spki.der", "ec-sect283r1-sha256.sig", "digest-sha256.bin", SHA256, true},
  };
  for (const Row& row : rows) {
    SubPubKeyInfo key = loadKey(row.key);
    std::vector<uint8_t> sig = readData(row.signature), digest = readData(row.digest);
    auto check = [&](const std::vector<uint8_t>& s, const std::vector<uint8_t>& d, int hash) {
      return row.ec ? verifyEcdsaSignature(key, s.data(), s.size(), d.data(), d.size(), hash)
                    : verifyDsaSignature(key, s.data(), s.size(), d.data(), d.size(), hash);
    };
    EXPECT_EQ(SIGCHECK_OK, check(sig, digest, row.hash)) << row.signature;
    std::vector<uint8_t> otherDigest(digest);
    otherDigest.back() ^= 0x80;
    EXPECT_EQ(SIGCHECK_MALFORMED, check(sig, otherDigest, row.hash)) << row.signature;
    std::vector<uint8_t> truncated(sig.begin(), sig.end() - 1);
    EXPECT_EQ(SIGCHECK_MALFORMED, check(truncated, digest, row.hash)) << row.signature;
    std::vector<uint8_t> trailing(sig);
    trailing.push_back(0);
    EXPECT_EQ(SIGCHECK_MALFORMED, check(trailing, digest, row.hash)) << row.signature;
    std::vector<uint8_t> notDer(sig.size(), 0x30);
    EXPECT_EQ(SIGCHECK_MALFORMED, check(notDer, digest, row.hash)) << row.signature;
    EXPECT_EQ(SIGCHECK_MALFORMED, check({}, digest, row.hash)) << row.signature;
    // The key of the other family.
    SubPubKeyInfo rsa = loadKey("rsa-spki.der");
    EXPECT_EQ(SIGCHECK_MALFORMED,
              row.ec ? verifyEcdsaSignature(rsa, sig.data(), sig.size(), digest.data(),
                                            digest.size(), row.hash)
                     : verifyDsaSignature(rsa, sig.data(), sig.size(), digest.data(),
                                          digest.size(), row.hash));
  }
}

}  // namespace
