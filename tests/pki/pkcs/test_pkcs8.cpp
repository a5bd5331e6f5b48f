// The PKCS#12 key derivation against openssl's PKCS12KDF, and PKCS#8 keys
// made by openssl pkcs8 -topk8 (tests/data/pki/pkcs/make.sh): decrypted
// under both PBE schemes into what -nocrypt wrote, PBES2 refused, wrong and
// empty passwords and hostile parameters refused before derivation, keys
// wrapped here equal to openssl's and encrypted here read back by openssl.
#include "pki/test_cms_support.h"
#include "pki/test_pkcs_support.h"

#include "base/commonerror.h"
#include "pki/keys/dsaprkey.h"
#include "pki/keys/ecprvkey.h"
#include "pki/pkcs/encpkinf.h"
#include "pki/common/oids.h"
#include "pki/pkcs/pbesha1.h"
#include "pki/keys/rsaprkey.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::octets;

using pkcstest::bmp;
using pkcstest::fromHex;
using pkcstest::pkcs;

const Bytes kPassword = bmp("vorin-test");

TEST(Pkcs12Kdf, MatchesOpensslPkcs12Kdf) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/pkcs/kdf.tsv");
  std::string line;
  int rows = 0;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    int id = 0, len = 0;
    uint32_t iter = 0;
    std::string pass, salt, key;
    in >> id >> iter >> len >> pass >> salt >> key;
    const Bytes p = fromHex(pass), s = fromHex(salt), want = fromHex(key);
    Bytes got(static_cast<size_t>(len) + 4, 0xEE);
    pkcs12PbeDeriveSha1(got.data(), len, id, p.data(), static_cast<int>(p.size()), s.data(),
                        static_cast<int>(s.size()), iter);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + len), want) << line;
    EXPECT_EQ(got[static_cast<size_t>(len)], 0xEE) << "wrote past the output";
    ++rows;
  }
  EXPECT_EQ(rows, 9);
}

TEST(Pkcs12Kdf, EmptyPasswordOrSaltNeverEntersTheDerivation) {
  unsigned char out[8];
  const unsigned char one = 1;
  EXPECT_THROW(pkcs12PbeDeriveSha1(out, 8, 1, &one, 0, &one, 1, 1), std::runtime_error);
  EXPECT_THROW(pkcs12PbeDeriveSha1(out, 8, 1, &one, 1, &one, 0, 1), std::runtime_error);
}

// ---------------------------------------------------------------------------

struct Case {
  const char* file;
  const char* plain;
};

TEST(Pkcs8Openssl, DecryptsBothSchemesToTheUnencryptedForm) {
  // And PBES2 (openssl -v2 aes256: PBKDF2 over HMAC-SHA-256, AES-256-CBC).
  for (const Case& c : {Case{"rsa_p8_3des.der", "rsa_p8.der"}, Case{"rsa_p8_rc2.der", "rsa_p8.der"},
                        Case{"ec_p8_3des.der", "ec_p8.der"}, Case{"dsa_p8_3des.der", "dsa_p8.der"},
                        Case{"rsa_p8_aes256.der", "rsa_p8.der"},
                        // Every PRF and AES key size (openssl -v2 ... -v2prf ...).
                        Case{"rsa_p8_aes128_sha1.der", "rsa_p8.der"},
                        Case{"rsa_p8_aes192_sha224.der", "rsa_p8.der"},
                        Case{"rsa_p8_aes256_sha384.der", "rsa_p8.der"},
                        Case{"rsa_p8_aes128_sha512.der", "rsa_p8.der"}}) {
    EncryptedPrivateKeyInfo epki;
    const Bytes der = pkcs(c.file);
    ASSERT_EQ(decodeBytes(epki, der), static_cast<int>(der.size())) << c.file;
    EXPECT_EQ(encodeOf(epki), der);
    PrivateKeyInfo key;
    EXPECT_EQ(epki.decrypt(kPassword.data(), static_cast<int>(kPassword.size()), key), 1) << c.file;
    EXPECT_EQ(encodeOf(key), pkcs(c.plain)) << c.file;
  }
}

TEST(Pkcs8Openssl, RefusesWhatItMustNotDecrypt) {
  EncryptedPrivateKeyInfo epki;
  const Bytes der = pkcs("rsa_p8_3des.der");
  ASSERT_GT(decodeBytes(epki, der), 0);
  PrivateKeyInfo key;
  // A wrong password: refused padding (0) or a plaintext that is no key (-3);
  // never a success, and nothing is left in the key.
  for (const char* wrong : {"vorin-tesT", "", "x", "vorin-test "}) {
    const Bytes p = bmp(wrong);
    const int r = epki.decrypt(p.data(), static_cast<int>(p.size()), key);
    EXPECT_TRUE(r == 0 || r == -3) << wrong << ": " << r;
    EXPECT_EQ(key.privateKey.length, 0);
  }
  // No password octets at all: nothing to derive from.
  EXPECT_EQ(epki.decrypt(kPassword.data(), 0, key), 0);
  // PBES2 (openssl -v2 aes256) with a wrong password: the same answers.
  EncryptedPrivateKeyInfo pbes2;
  ASSERT_GT(decodeBytes(pbes2, pkcs("rsa_p8_aes256.der")), 0);
  for (const char* wrong : {"vorin-tesT", "x"}) {
    const Bytes p = bmp(wrong);
    const int r = pbes2.decrypt(p.data(), static_cast<int>(p.size()), key);
    EXPECT_TRUE(r == 0 || r == -3) << wrong << ": " << r;
    EXPECT_EQ(key.privateKey.length, 0);
  }
}

// openssl's key with its parameters replaced: each refused with -2 before
// any derivation (a huge count would otherwise run for minutes).
TEST(Pkcs8Openssl, HostileParametersAreRefusedBeforeDerivation) {
  struct P {
    Bytes salt;
    Bytes iterations;  // INTEGER content
    int expected;
  };
  const std::vector<P> cases = {
      {{}, {0x08, 0x00}, -2},                                  // empty salt
      {{1, 2, 3, 4, 5, 6, 7, 8}, {0x01, 0, 0, 0, 0}, -2},       // five octets
      {{1, 2, 3, 4, 5, 6, 7, 8}, {0x7F, 0xFF, 0xFF, 0xFF}, -2},  // above the bound
      {{1, 2, 3, 4, 5, 6, 7, 8}, {0x0F, 0x42, 0x41}, -2},       // bound + 1
      {{1, 2, 3, 4, 5, 6, 7, 8}, {0xFF}, -2},                   // negative
      {{1, 2, 3, 4, 5, 6, 7, 8}, {0x0F, 0x42, 0x40}, 0},        // the bound itself: derived, wrong key
  };
  for (const P& c : cases) {
    EncryptedPrivateKeyInfo epki;
    ASSERT_GT(decodeBytes(epki, pkcs("rsa_p8_3des.der")), 0);
    PbeParameters params;
    params.salt.set(c.salt.data(), static_cast<int>(c.salt.size()));
    params.iterations.ASNoctstr::set(c.iterations.data(), static_cast<int>(c.iterations.size()));
    ASSERT_TRUE(epki.encryptionAlgorithm.set(pbeWithSHAAnd3_KeyTripleDES_CBC, &params));
    PrivateKeyInfo key;
    const int r = epki.decrypt(kPassword.data(), static_cast<int>(kPassword.size()), key);
    if (c.expected == 0)
      EXPECT_TRUE(r == 0 || r == -3) << r;
    else
      EXPECT_EQ(r, c.expected);
  }
}

// PBES2 parameters built here around openssl's key: each refused with -2 before any
// derivation, but for the control, which derives (a wrong key: 0 or -3).
TEST(Pkcs8Openssl, HostilePbes2ParametersAreRefusedBeforeDerivation) {
  auto tlv = [](uint8_t tag, std::initializer_list<Bytes> parts) {
    Bytes content;
    for (const Bytes& part : parts) content.insert(content.end(), part.begin(), part.end());
    EXPECT_LT(content.size(), 128u);
    Bytes out{tag, static_cast<uint8_t>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
  };
  auto oid = [](const char* dotted) { return encodeOf(ASNobjectId(dotted)); };
  const Bytes salt = tlv(0x04, {Bytes(8, 0x5A)}), iv16 = tlv(0x04, {Bytes(16, 0x11)});
  const Bytes hmac256 = tlv(0x30, {oid("1.2.840.113549.2.9"), Bytes{0x05, 0x00}});
  struct P {
    const char* what;
    Bytes kdf, cipher;
    int expected;
  };
  auto pbkdf2 = [&](const Bytes& iterations, std::initializer_list<Bytes> rest) {
    Bytes body = salt, count = tlv(0x02, {iterations});
    body.insert(body.end(), count.begin(), count.end());
    for (const Bytes& r : rest) body.insert(body.end(), r.begin(), r.end());
    return tlv(0x30, {oid("1.2.840.113549.1.5.12"), tlv(0x30, {body})});
  };
  const Bytes aes256 = tlv(0x30, {oid("2.16.840.1.101.3.4.1.42"), iv16});
  const std::vector<P> cases = {
      {"control", pbkdf2({0x08, 0x00}, {hmac256}), aes256, 0},
      {"bound + 1", pbkdf2({0x03, 0xD0, 0x91}, {hmac256}), aes256, -2},
      {"the bound of the PKCS#12 schemes", pbkdf2({0x0F, 0x42, 0x40}, {hmac256}), aes256, -2},
      {"zero iterations", pbkdf2({0x00}, {hmac256}), aes256, -2},
      {"negative", pbkdf2({0xFF}, {hmac256}), aes256, -2},
      {"HMAC-MD5", pbkdf2({0x08, 0x00}, {tlv(0x30, {oid("1.2.840.113549.2.6")})}), aes256, -2},
      {"key length 16 for AES-256", pbkdf2({0x08, 0x00}, {Bytes{0x02, 0x01, 0x10}, hmac256}),
       aes256, -2},
      {"triple DES", pbkdf2({0x08, 0x00}, {hmac256}),
       tlv(0x30, {oid("1.2.840.113549.3.7"), tlv(0x04, {Bytes(8, 0x11)})}), -2},
      {"an IV of 8 octets", pbkdf2({0x08, 0x00}, {hmac256}),
       tlv(0x30, {oid("2.16.840.1.101.3.4.1.42"), tlv(0x04, {Bytes(8, 0x11)})}), -2},
      {"scrypt", tlv(0x30, {oid("1.3.6.1.4.1.11591.4.11"), tlv(0x30, {salt})}), aes256, -2},
  };
  for (const P& c : cases) {
    EncryptedPrivateKeyInfo epki;
    ASSERT_GT(decodeBytes(epki, pkcs("rsa_p8_aes256.der")), 0);
    const Bytes alg = tlv(0x30, {oid("1.2.840.113549.1.5.13"), tlv(0x30, {c.kdf, c.cipher})});
    AlgorithmIdentifier replaced;
    ASSERT_EQ(decodeBytes(replaced, alg), static_cast<int>(alg.size())) << c.what;
    epki.encryptionAlgorithm = replaced;
    PrivateKeyInfo key;
    const int r = epki.decrypt(kPassword.data(), static_cast<int>(kPassword.size()), key);
    if (c.expected == 0)
      EXPECT_TRUE(r == 0 || r == -3) << c.what << ": " << r;
    else
      EXPECT_EQ(r, c.expected) << c.what;
    EXPECT_EQ(uint32_t(c.expected == 0 ? 2048 : 0), pbes2Iterations(replaced)) << c.what;
  }
}

TEST(Pkcs8, WrapsKeysAsOpensslDoes) {
  RSAPrivateKey rsa;
  ASSERT_GT(decodeBytes(rsa, pkcs("rsa_pkcs1.der")), 0);
  PrivateKeyInfo info;
  ASSERT_TRUE(info.setRsaKey(rsa));
  EXPECT_EQ(encodeOf(info), pkcs("rsa_p8.der"));

  // EC: the curve goes to the algorithm, the point to [1]; read back with
  // getEcKey, the key equals openssl's SEC 1 key apart from where the curve is.
  PrivateKeyInfo ecInfo;
  ASSERT_GT(decodeBytes(ecInfo, pkcs("ec_p8.der")), 0);
  ECPrivateKey ec;
  ASSERT_EQ(ecInfo.getEcKey(ec), 0);
  EXPECT_TRUE(ec.parametersPresent);
  ECPrivateKey sec1;
  ASSERT_GT(decodeBytes(sec1, pkcs("ec_sec1.der")), 0);
  EXPECT_EQ(octets(ec.privateKey), octets(sec1.privateKey));
  PrivateKeyInfo rewrapped;
  ASSERT_TRUE(rewrapped.setEcKey(sec1, true));
  EXPECT_EQ(encodeOf(rewrapped), pkcs("ec_p8.der"));
  EXPECT_EQ(rsa.privateExponent.length > 0, true);
  EXPECT_EQ(info.getEcKey(ec), 1);  // not an EC algorithm

  // DSA: only x in privateKey, p, q, g in the parameters.
  PrivateKeyInfo dsaInfo;
  ASSERT_GT(decodeBytes(dsaInfo, pkcs("dsa_p8.der")), 0);
  ASNinteger x;
  ASSERT_EQ(x.decodeOctets(dsaInfo.privateKey), dsaInfo.privateKey.length);
  DSAParameters pqg;
  ASSERT_EQ(pqg.decodeAny(dsaInfo.privateKeyAlgorithm.parameters), 1);
  DSAPrivateKey dsa;
  dsa.setP(pqg.p);
  dsa.setQ(pqg.q);
  dsa.setG(pqg.g);
  dsa.setX(x);
  PrivateKeyInfo dsaOut;
  ASSERT_TRUE(dsaOut.setDsaKey(dsa));
  EXPECT_EQ(encodeOf(dsaOut), pkcs("dsa_p8.der"));
}

// Encrypted here with either scheme, read back here and by openssl.
TEST(Pkcs8, EncryptsWhatOpensslReads) {
  PrivateKeyInfo info;
  ASSERT_GT(decodeBytes(info, pkcs("rsa_p8.der")), 0);
  const unsigned char salt[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  for (int cipher : {4, 7}) {
    EncryptedPrivateKeyInfo epki;
    ASSERT_EQ(epki.encrypt(cipher, kPassword.data(), static_cast<int>(kPassword.size()), salt, 8,
                           2048, info),
              1);
    EXPECT_TRUE(epki.encryptionAlgorithm.algorithm ==
                (cipher == 4 ? pbeWithSHAAnd3_KeyTripleDES_CBC : pbeWithSHAAnd40BitRC2_CBC));
    const int plainLength = info.encodedLength();
    EXPECT_EQ(epki.encryptedData.length, (plainLength + 8) / 8 * 8);
    PrivateKeyInfo back;
    EXPECT_EQ(epki.decrypt(kPassword.data(), static_cast<int>(kPassword.size()), back), 1);
    EXPECT_EQ(encodeOf(back), encodeOf(info));

    const std::string path = pkcstest::scratchFile("pkcs8_" + std::to_string(cipher) + ".der");
    pkcstest::scratchFile("pkcs8_" + std::to_string(cipher) + ".der.plain");
    const Bytes der = encodeOf(epki);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(der.data()),
                                                static_cast<std::streamsize>(der.size()));
    const std::string cmd = "openssl pkcs8 -inform DER -in " + path +
                            " -provider legacy -provider default -passin pass:vorin-test"
                            " -outform DER -out " + path + ".plain 2>/dev/null";
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    // openssl writes the key it decrypted in its PKCS#1 form.
    std::ifstream plain(path + ".plain", std::ios::binary);
    EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(plain)), std::istreambuf_iterator<char>()),
              pkcs("rsa_pkcs1.der"));
  }
  // No salt or password: refused, not derived.
  EncryptedPrivateKeyInfo epki;
  EXPECT_EQ(epki.encrypt(4, kPassword.data(), 2, salt, 0, 1, info), -1);
  EXPECT_EQ(epki.encrypt(4, kPassword.data(), 0, salt, 8, 1, info), -1);
  EXPECT_THROW(epki.encrypt(5, kPassword.data(), 2, salt, 8, 1, info), std::runtime_error);
}

TEST(Pkcs8, AttributesAreOptionalAndKeptAsRead) {
  PrivateKeyInfo info;
  ASSERT_GT(decodeBytes(info, pkcs("rsa_p8.der")), 0);
  const Bytes three = encodeOf(info);
  ASNoctstr id;
  const unsigned char v[3] = {1, 2, 3};
  id.set(v, 3);
  ASSERT_TRUE(setAttribute(info.attributes, pkcs_9_at_localKeyId, id, true));
  const Bytes four = encodeOf(info);
  EXPECT_GT(four.size(), three.size());
  PrivateKeyInfo read;
  ASSERT_EQ(decodeBytes(read, four), static_cast<int>(four.size()));
  EXPECT_EQ(read.attributes.GetCount(), 1);
  EXPECT_EQ(encodeOf(read), four);
  PrivateKeyInfo copy;
  copyPkcs12Record(copy, read);
  EXPECT_EQ(encodeOf(copy), four);
}

}  // namespace
