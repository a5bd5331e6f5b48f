// The PKCS#12 profile of the key manager over files made by openssl pkcs12 -export and keytool
// (tests/data/keys/p12/make_p12.sh): the answers of initProfile, the keys chosen by key usage,
// session keys wrapped by openssl pkeyutl decrypted (and every bad block refused with one
// answer), contents encrypted by openssl enc decrypted, and signatures equal to openssl's or
// verified by the library's verifier.
#include "keys/keyconfig.h"
#include "keys/keymanager.h"
#include "keys/pkcs12key.h"
#include "keys/secretblock.h"
#include "keys/sigverify.h"
#include "keys/talprofile.h"
#include "pki/keys/ecprvkey.h"
#include "pki/pkcs/pfx.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const char* const PIN = "vorin-PIN";
// Narrow literals are Windows-1250 here; the PIN of the file is UTF-8.
const char* const UTF8_PIN = reinterpret_cast<const char*>(u8"zażółć gęślą");
const char* const UTF8_PIN_BEYOND_BMP = reinterpret_cast<const char*>(u8"zażółć \U0001F511");

std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/keys/p12/" + name;
}

Bytes readData(const std::string& name) {
  std::ifstream in(dataPath(name), std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SignedCertificate readCert(const std::string& name) {
  SignedCertificate cert;
  Bytes der = readData(name);
  EXPECT_EQ(static_cast<int>(der.size()), cert.decodeVector(der)) << name;
  return cert;
}

class Pkcs12Config : public KeyConfigAccess {
 public:
  int32_t deviceType() const override { return 1; }
  const TalProfile* activeProfile() const override { return &profile; }
  void writeDefaults() override {}
  bool encodeConfiguration(std::vector<uint8_t>&) const override { return false; }
  int loadConfiguration(const uint8_t*, size_t) override { return 0; }
  int storeRootList(bool, const ASNobject&) override { return 1; }
  int loadRootList(bool, ASNobject&) const override { return 1; }
  int32_t getPin(int32_t usage, char* buffer, size_t* length) override {
    ++pinQueries;
    if (!pinGiven || usage != pinUsage) return 41;
    if (!buffer || *length < pin.size() + 1) {
      *length = pin.size() + 1;
      return 34;
    }
    std::memcpy(buffer, pin.c_str(), pin.size() + 1);
    *length = pin.size();
    return 0;
  }

  Pkcs12Profile profile;
  std::string pin = PIN;
  bool pinGiven = true;
  int32_t pinUsage = 1;
  int pinQueries = 0;
};

// A key manager over a profile of the file, by its path or its bytes.
struct Opened {
  Pkcs12Config config;
  KeyManager km;
  int32_t status = -1;
  Opened(const std::string& file, bool inMemory, const char* pin = PIN) {
    if (inMemory) {
      Bytes bytes = readData(file);
      config.profile.setAttribute(30, bytes.data(), bytes.size());
    } else {
      std::string path = dataPath(file);
      config.profile.setAttribute(9, path.c_str(), path.size() + 1);
    }
    config.pinGiven = pin != nullptr;
    if (pin) config.pin = pin;
    EXPECT_EQ(KM_OK, km.init(&config));
    status = km.initProfile(1, 1);
  }
};

class Pkcs12Profiles : public RegistrySandbox {};

TEST_F(Pkcs12Profiles, InitProfileAnswersAndKeysByUsage) {
  struct Row {
    const char* file;
    bool inMemory;
    const char* pin;  // NULL: none given
    int32_t status;
    const char* signingCert;     // "": a key without certificate, NULL: no signing key
    const char* decryptionCert;  // as above
    uint32_t usage;
    int32_t scheme;
  };
  const Row rows[] = {
      {"both-legacy.p12", false, PIN, KM_OK, "both.der", "both.der", 7, 0},
      {"both-3des.p12", true, PIN, KM_OK, "both.der", "both.der", 7, 0},
      {"both-utf8pin.p12", true, UTF8_PIN, KM_OK, "both.der", "both.der", 7, 0},
      {"sign.p12", false, PIN, KM_OK, "sign.der", nullptr, 1, 0},
      {"dec.p12", false, PIN, KM_OK, nullptr, "dec.der", 2, 0},
      {"sign-dec.p12", false, PIN, KM_OK, "sign.der", "dec.der", 3, 0},
      {"ec.p12", true, PIN, KM_OK, "ec.der", nullptr, 1, 2},
      {"ec-nopub.p12", false, PIN, KM_OK, "ec.der", nullptr, 1, 2},
      {"pss.p12", true, PIN, KM_OK, "pss.der", nullptr, 1, 3},
      {"nocert.p12", false, PIN, KM_OK, "", "", 7, 0},
      // Two keys that sign: which one is the user's is not known.
      {"sign-ec.p12", false, PIN, 42, nullptr, nullptr, 0, 0},
      {"both-legacy.p12", false, "vorin-pin", 13, nullptr, nullptr, 0, 0},
      {"both-utf8pin.p12", true, "zazolc gesla", 13, nullptr, nullptr, 0, 0},
      {"both-legacy.p12", true, nullptr, 49, nullptr, nullptr, 0, 0},
      // PBES2 with AES and a MAC of SHA-256 or SHA-512, as openssl 3 writes them.
      {"both-aes.p12", false, PIN, KM_OK, "both.der", "both.der", 7, 0},
      {"both-aes-sha512.p12", true, PIN, KM_OK, "both.der", "both.der", 7, 0},
      {"both-aes-utf8pin.p12", true, UTF8_PIN_BEYOND_BMP, KM_OK, "both.der", "both.der", 7, 0},
      {"both-aes.p12", false, "vorin-pin", 13, nullptr, nullptr, 0, 0},
      // A file without MAC is no key file.
      {"both-nomac.p12", false, PIN, KM_SETTINGS_FORMAT, nullptr, nullptr, 0, 0},
      {"garbage.p12", false, PIN, KM_SETTINGS_FORMAT, nullptr, nullptr, 0, 0},
      {"missing.p12", false, PIN, KM_SETTINGS_OPEN, nullptr, nullptr, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + (row.inMemory ? " in memory" : " by path") + " " +
                 (row.pin ? row.pin : "(no PIN)"));
    Opened o(row.file, row.inMemory, row.pin);
    EXPECT_EQ(row.status, o.status);
    KeyManager& km = o.km;
    EXPECT_EQ(row.usage, km.keyUsage);
    EXPECT_EQ(row.signingCert != nullptr, (km.flags & KM_FLAG_SIGNING_LOADED) != 0);
    EXPECT_EQ(row.decryptionCert != nullptr, (km.flags & KM_FLAG_DECRYPTION_LOADED) != 0);
    EXPECT_EQ(row.status == KM_OK, (km.flags & KM_FLAG_CONFIGURATION) != 0);
    if (row.status == KM_OK) {
      // Only usages the file has a key for stay required.
      EXPECT_EQ(row.signingCert != nullptr, (km.flags & KM_FLAG_SIGNING_REQUIRED) != 0);
      EXPECT_EQ(row.decryptionCert != nullptr, (km.flags & KM_FLAG_DECRYPTION_REQUIRED) != 0);
    }
    EXPECT_EQ(row.scheme, km.getSgnScheme());
    EXPECT_EQ(row.signingCert ? (row.scheme == 2 ? 256u : 2048u) : 0u, km.getKeyBits(0));
    EXPECT_EQ(row.decryptionCert ? 2048u : 0u, km.getKeyBits(1));
    for (int usage = 0; usage < 2; ++usage) {
      const char* expected = usage == 0 ? row.signingCert : row.decryptionCert;
      const ASNinteger* serial = usage == 0 ? km.getSgnCrtSerial() : km.getEncCrtSerial();
      if (!expected || !*expected) {
        EXPECT_EQ(nullptr, serial) << usage;
        continue;
      }
      SignedCertificate cert = readCert(expected);
      ASSERT_NE(nullptr, serial) << usage;
      EXPECT_TRUE(serial->equals(cert.tbsCertificate.serialNumber)) << usage;
      const bool decrypts = row.decryptionCert && std::string(expected) == row.decryptionCert;
      EXPECT_EQ(decrypts, km.isRecipient(cert.tbsCertificate.issuer,
                                         cert.tbsCertificate.serialNumber))
          << usage;
    }
    const char* current = row.signingCert;
    if (current && *current) {
      ASSERT_NE(nullptr, km.currentCertificate());
      EXPECT_TRUE(*km.currentCertificate() == readCert(current));
    } else {
      EXPECT_EQ(nullptr, km.currentCertificate());
    }
  }
}

TEST_F(Pkcs12Profiles, ThePinOfEitherUsageAndNoProfileFile) {
  Opened decryptionPin("both-legacy.p12", false, nullptr);
  decryptionPin.config.pinGiven = true;
  decryptionPin.config.pinUsage = 2;
  EXPECT_EQ(KM_OK, decryptionPin.km.initProfile(1, 1));

  Pkcs12Config none;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&none));
  EXPECT_EQ(KM_SETTINGS_OPEN, km.initProfile(1, 1)) << "neither path nor bytes";
  EXPECT_EQ(0, none.pinQueries) << "no PIN asked for a file that is not there";
}

TEST_F(Pkcs12Profiles, SessionKeysWrappedByOpensslAndOneAnswerForEveryBadBlock) {
  Opened dec("dec.p12", false), both("both-legacy.p12", true), sign("sign.p12", true);
  ASSERT_EQ(KM_OK, dec.status);
  ASSERT_EQ(KM_OK, both.status);
  Bytes good = readData("ses-dec-16.bin");
  Bytes shorter(good.begin() + 1, good.end()), longer(good);
  longer.insert(longer.begin(), 0);
  struct Row {
    KeyManager* km;
    const char* what;
    Bytes block;
    int32_t status;
    const char* key;  // what the block holds
  };
  const Row rows[] = {
      {&dec.km, "16 octets", good, KM_OK, "ses-dec-16.key"},
      {&dec.km, "24 octets", readData("ses-dec-24.bin"), KM_OK, "ses-dec-24.key"},
      {&dec.km, "32 octets", readData("ses-dec-32.bin"), KM_OK, "ses-dec-32.key"},
      {&both.km, "the key for both usages", readData("ses-both-16.bin"), KM_OK, "ses-both-16.key"},
      {&both.km, "a block for another key", good, KM_NO_SESSION_KEY, nullptr},
      {&sign.km, "a key that only signs", good, KM_NO_KEY, nullptr},
      {&dec.km, "block type 1", readData("bad-type1.bin"), KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "no zero after the padding", readData("bad-nozero.bin"), KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "seven padding octets", readData("bad-short.bin"), KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "an empty message", readData("bad-empty.bin"), KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "one octet short", shorter, KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "a zero octet in front", longer, KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "not below the modulus", Bytes(256, 0xFF), KM_NO_SESSION_KEY, nullptr},
      {&dec.km, "one octet", Bytes{2}, KM_NO_SESSION_KEY, nullptr},
  };
  uint8_t iv[16] = {0};
  for (const Row& row : rows) {
    SecretBlock key(32);
    ASSERT_EQ(KM_OK, dec.km.decryptSesKey(good.data(), good.size(), nullptr));
    EXPECT_EQ(row.status, row.km->decryptSesKey(row.block.data(), row.block.size(), &key))
        << row.what;
    if (row.key) { EXPECT_EQ(readData(row.key), Bytes(key.data(), key.data() + key.size())); }
    // A failure leaves no key of an earlier message behind.
    if (row.status == KM_NO_SESSION_KEY) {
      EXPECT_EQ(KM_NO_SESSION_KEY, row.km->processMsgInit(KM_CIPHER_AES128, iv, 16)) << row.what;
    }
  }
  Bytes wrapped = readData("ses-dec-32.bin");
  SecretBlock small(16);
  // Refused calls leave no key of an earlier message behind either.
  struct Refused {
    const char* what;
    const uint8_t* block;
    size_t length;
    SecretBlock* copy;
  };
  const Refused refused[] = {{"a copy too small", wrapped.data(), wrapped.size(), &small},
                             {"no block", nullptr, 256, nullptr},
                             {"an empty block", good.data(), 0, nullptr}};
  for (const Refused& r : refused) {
    ASSERT_EQ(KM_OK, dec.km.decryptSesKey(good.data(), good.size(), nullptr));
    EXPECT_EQ(KM_BAD_ARGUMENTS, dec.km.decryptSesKey(r.block, r.length, r.copy)) << r.what;
    EXPECT_EQ(KM_NO_SESSION_KEY, dec.km.processMsgInit(KM_CIPHER_AES128, iv, 16)) << r.what;
  }
}

TEST_F(Pkcs12Profiles, ContentsEncryptedByOpenssl) {
  Opened o("dec.p12", false);
  ASSERT_EQ(KM_OK, o.status);
  const Bytes plain = readData("content.plain");
  struct Row {
    const char* wrapped;
    int32_t cipher;
    const char* iv;
    const char* content;
  };
  const Row rows[] = {{"ses-dec-16.bin", KM_CIPHER_AES128, "iv16.bin", "content-aes128.enc"},
                      {"ses-dec-24.bin", KM_CIPHER_AES192, "iv16.bin", "content-aes192.enc"},
                      {"ses-dec-32.bin", KM_CIPHER_AES256, "iv16.bin", "content-aes256.enc"},
                      {"ses-dec-24.bin", KM_CIPHER_TDES, "iv8.bin", "content-3des.enc"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.content);
    Bytes wrapped = readData(row.wrapped), iv = readData(row.iv), content = readData(row.content);
    // In one piece, and in pieces of every size up to two blocks.
    for (size_t piece : {content.size(), size_t(1), size_t(5), size_t(16), size_t(17), size_t(32)}) {
      Bytes out;
      ASSERT_EQ(KM_OK, o.km.decryptSesKey(wrapped.data(), wrapped.size(), nullptr));
      ASSERT_EQ(KM_OK, o.km.processMsgInit(row.cipher, iv.data(), iv.size()));
      for (size_t at = 0; at < content.size(); at += piece) {
        size_t n = std::min(piece, content.size() - at);
        ASSERT_EQ(KM_OK, o.km.processMsgUpdate(content.data() + at, n, out)) << piece;
      }
      ASSERT_EQ(KM_OK, o.km.processMsgFinish(out)) << piece;
      EXPECT_EQ(plain, out) << piece;
      EXPECT_EQ(KM_INPUT_AFTER_END, o.km.processMsgUpdate(content.data(), 16, out));
      EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgFinish(out));
      // The session key does not outlive its message.
      EXPECT_EQ(KM_NO_SESSION_KEY, o.km.processMsgInit(row.cipher, iv.data(), iv.size()));
    }
  }
}

TEST_F(Pkcs12Profiles, MessageStepsRefuseWhatIsNotACiphertextOfTheKey) {
  Opened o("dec.p12", false);
  ASSERT_EQ(KM_OK, o.status);
  Bytes wrapped16 = readData("ses-dec-16.bin"), iv16 = readData("iv16.bin");
  Bytes content = readData("content-aes128.enc");
  ASSERT_EQ(KM_OK, o.km.decryptSesKey(wrapped16.data(), wrapped16.size(), nullptr));
  std::vector<uint8_t> out;
  EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgUpdate(content.data(), content.size(), out));
  EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgFinish(out));
  // A cipher of another key length, an IV of another length, an unknown cipher.
  EXPECT_EQ(KM_NO_SESSION_KEY, o.km.processMsgInit(KM_CIPHER_AES256, iv16.data(), 16));
  EXPECT_EQ(KM_NO_SESSION_KEY, o.km.processMsgInit(KM_CIPHER_TDES, iv16.data(), 8));
  // Only answers XML decryption maps: 2 for an IV that is not one block and a cipher not known.
  EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgInit(KM_CIPHER_AES128, iv16.data(), 8));
  EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgInit(9, iv16.data(), 16));
  EXPECT_EQ(KM_WRONG_ORDER, o.km.processMsgInit(KM_CIPHER_AES128, nullptr, 16));
  struct Row {
    const char* what;
    size_t length;     // octets of the content given
    uint8_t lastXor;   // changes the last octet of the content's last block
    int32_t finish;
  };
  const Row rows[] = {{"nothing", 0, 0, KM_BAD_PADDING},
                      {"part of a block", content.size() - 1, 0, KM_BAD_PADDING},
                      {"the last block's count changed", content.size(), 0x55, KM_BAD_PADDING},
                      {"whole", content.size(), 0, KM_OK}};
  for (const Row& row : rows) {
    Bytes c(content.begin(), content.begin() + static_cast<long>(row.length));
    if (!c.empty()) c[c.size() - 1 - 16] ^= row.lastXor;  // the block before steers the count
    out.clear();
    ASSERT_EQ(KM_OK, o.km.decryptSesKey(wrapped16.data(), wrapped16.size(), nullptr));
    ASSERT_EQ(KM_OK, o.km.processMsgInit(KM_CIPHER_AES128, iv16.data(), 16)) << row.what;
    ASSERT_EQ(KM_OK, o.km.processMsgUpdate(c.data(), c.size(), out)) << row.what;
    EXPECT_EQ(row.finish, o.km.processMsgFinish(out)) << row.what;
  }
}

TEST_F(Pkcs12Profiles, SignaturesEqualOpensslsOrVerify) {
  Opened rsa("sign.p12", true), both("both-legacy.p12", false), pss("pss.p12", true),
      ec("ec.p12", true);
  for (Opened* o : {&rsa, &both, &pss, &ec}) ASSERT_EQ(KM_OK, o->status);
  struct Row {
    KeyManager* km;
    int32_t scheme;
    int32_t digestId;
    const char* digest;
    const char* expected;  // openssl's signature (RSA PKCS#1 v1.5), or the certificate
  };
  const Row rows[] = {{&rsa.km, 0, 1, "digest-sha1.bin", "sign-pkcs1-sha1.sig"},
                      {&rsa.km, 0, 3, "digest-sha256.bin", "sign-pkcs1-sha256.sig"},
                      {&rsa.km, 0, 4, "digest-sha384.bin", "sign-pkcs1-sha384.sig"},
                      {&rsa.km, 0, 5, "digest-sha512.bin", "sign-pkcs1-sha512.sig"},
                      {&both.km, 0, 3, "digest-sha256.bin", "both-pkcs1-sha256.sig"},
                      {&rsa.km, 3, 3, "digest-sha256.bin", "sign.der"},
                      {&pss.km, 3, 3, "digest-sha256.bin", "pss.der"},
                      {&pss.km, 3, 5, "digest-sha512.bin", "pss.der"},
                      {&ec.km, 2, 3, "digest-sha256.bin", "ec.der"},
                      {&ec.km, 2, 4, "digest-sha384.bin", "ec.der"},
                      {&ec.km, 2, 1, "digest-sha1.bin", "ec.der"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.expected) + " " + row.digest);
    Bytes digest = readData(row.digest), first, second;
    ASSERT_EQ(KM_OK, row.km->sign(row.scheme, row.digestId, digest.data(), digest.size(), first));
    ASSERT_EQ(KM_OK, row.km->sign(row.scheme, row.digestId, digest.data(), digest.size(), second));
    if (row.scheme == 0) {
      // Masked with fresh values each time, the result stays openssl's.
      EXPECT_EQ(readData(row.expected), first);
      EXPECT_EQ(first, second);
      continue;
    }
    EXPECT_NE(first, second) << "a fresh salt or nonce each time";
    SignedCertificate cert = readCert(row.expected);
    SubPubKeyInfo& spki = cert.tbsCertificate.subjectPublicKeyInfo;
    Bytes other(digest);
    other[0] ^= 1;
    for (const Bytes* d : {&digest, &other}) {
      for (const Bytes& sig : {first, second}) {
        const int32_t r =
            row.scheme == 2
                ? verifyEcdsaSignature(spki, sig.data(), sig.size(), d->data(), d->size(),
                                       row.digestId)
                : verifyRsaPssSignature(spki.rsaKey, sig.data(), sig.size(), d->data(), d->size(),
                                        row.digestId, row.digestId,
                                        static_cast<int32_t>(d->size()));
        EXPECT_EQ(d == &digest, r == SIGCHECK_OK);
      }
    }
  }
}

TEST_F(Pkcs12Profiles, SigningRefusesWhatTheKeyCannotDo) {
  Opened pss("pss.p12", true);
  Opened ec("ec.p12", true);
  Opened dec("dec.p12", true);
  Opened small("small.p12", true);
  Bytes d256 = readData("digest-sha256.bin"), out;
  struct Row {
    const char* what;
    KeyManager* km;
    int32_t scheme;
    int32_t digestId;
    size_t length;
    int32_t status;
  };
  const Row rows[] = {
      {"PKCS#1 v1.5 with a PSS key", &pss.km, 0, 3, 32, KM_BAD_ARGUMENTS},
      {"RSA with an EC key", &ec.km, 0, 3, 32, KM_BAD_ARGUMENTS},
      {"a digest of another length", &ec.km, 2, 3, 31, KM_BAD_ARGUMENTS},
      {"MD5", &ec.km, 2, 8, 16, KM_BAD_ARGUMENTS},
      {"an unknown digest", &pss.km, 3, 42, 32, KM_BAD_ARGUMENTS},
      {"a key that only decrypts", &dec.km, 0, 3, 32, KM_NO_KEY},
      // 64 + 64 + 2 octets do not fit 128: PSS over SHA-512 with a 1024-bit key.
      {"PSS with a digest too long for the key", &small.km, 3, 5, 64, KM_BAD_ARGUMENTS},
  };
  d256.resize(64);  // as long as the longest digest asked for
  for (const Row& row : rows)
    EXPECT_EQ(row.status, row.km->sign(row.scheme, row.digestId, d256.data(), row.length, out))
        << row.what;
  EXPECT_EQ(KM_OK, small.km.sign(0, 5, d256.data(), 64, out)) << "PKCS#1 v1.5 fits";
  EXPECT_TRUE(ec.km.supportsDigest(5));
  EXPECT_FALSE(ec.km.supportsDigest(8));
  EXPECT_TRUE(pss.km.supportsDigest(5));
  EXPECT_TRUE(dec.km.supportsDigest(8)) << "no signing key limits nothing";
}

TEST_F(Pkcs12Profiles, ClonesShareTheKeys) {
  Opened o("both-legacy.p12", false);
  ASSERT_EQ(KM_OK, o.status);
  KeyManager clone;
  clone.copyFrom(o.km);
  EXPECT_EQ(7u, clone.keyUsage);
  // The file's certificates, where the signer's issuers are looked for, go with the keys.
  ASSERT_EQ(1u, clone.keyFileCertificates().size());
  EXPECT_TRUE(clone.keyFileCertificates()[0].get() == readCert("both.der"));
  o.km.setKeyHolders(nullptr, nullptr);
  EXPECT_TRUE(o.km.keyFileCertificates().empty());
  EXPECT_TRUE(clone.flags & KM_FLAG_SIGNING_LOADED);
  Bytes wrapped = readData("ses-both-16.bin"), expected = readData("ses-both-16.key");
  SecretBlock key(16);
  ASSERT_EQ(KM_OK, clone.decryptSesKey(wrapped.data(), wrapped.size(), &key));
  EXPECT_EQ(expected, Bytes(key.data(), key.data() + key.size()));
}

TEST_F(Pkcs12Profiles, ClonesInThreadsUseTheSharedKeyAtOnce) {
  Opened o("both-legacy.p12", false);
  ASSERT_EQ(KM_OK, o.status);
  const Bytes wrapped = readData("ses-both-16.bin"), expectedKey = readData("ses-both-16.key");
  const Bytes digest = readData("digest-sha256.bin"), expectedSig = readData("both-pkcs1-sha256.sig");
  const int THREADS = 4, ROUNDS = 8;
  std::vector<KeyManager> clones(THREADS);
  std::vector<int> good(THREADS, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    clones[static_cast<size_t>(t)].copyFrom(o.km);
    threads.emplace_back([&, t] {
      KeyManager& km = clones[static_cast<size_t>(t)];
      for (int i = 0; i < ROUNDS; ++i) {
        SecretBlock key(32);
        Bytes signature;
        if (km.decryptSesKey(wrapped.data(), wrapped.size(), &key) == KM_OK &&
            Bytes(key.data(), key.data() + key.size()) == expectedKey &&
            km.sign(0, 3, digest.data(), digest.size(), signature) == KM_OK &&
            signature == expectedSig)
          ++good[static_cast<size_t>(t)];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < THREADS; ++t) EXPECT_EQ(ROUNDS, good[static_cast<size_t>(t)]) << t;
}

TEST(Pkcs12Read, ThePinIsTakenAsUtf8ElseOctetByOctet) {
  Bytes file = readData("both-utf8pin.p12");
  struct Row {
    const char* file;
    const char* pin;
    int32_t status;
  };
  const char* const CP1250_PIN = "za\xbf\xf3\xb3\xe6";
  const char* const CP1250_PIN_AS_UTF8 = reinterpret_cast<const char*>(u8"zażółć");
  // The same characters in Windows-1250 octets are not the PIN. A PIN that is not UTF-8: its
  // octets one by one for the PKCS#12 schemes, the octets themselves for PBES2 (openssl's files).
  const Row rows[] = {{"both-utf8pin.p12", UTF8_PIN, KM_OK},
                      {"both-utf8pin.p12", "za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9", 13},
                      {"both-utf8pin.p12", "", 13},
                      {"both-cp1250pin.p12", CP1250_PIN, KM_OK},
                      {"both-aes-cp1250pin.p12", CP1250_PIN, KM_OK},
                      {"both-cp1250pin.p12", CP1250_PIN_AS_UTF8, 13},
                      {"both-aes-cp1250pin.p12", CP1250_PIN_AS_UTF8, 13}};
  for (const Row& row : rows) {
    Pkcs12Keys keys;
    Bytes bytes = readData(row.file);
    EXPECT_EQ(row.status, readPkcs12Keys(bytes.data(), bytes.size(), row.pin,
                                         std::strlen(row.pin), keys))
        << row.file << " " << row.pin;
    EXPECT_EQ(row.status == KM_OK, keys.signing != nullptr);
    EXPECT_EQ(keys.signing, keys.decryption);
  }
  Pkcs12Keys keys;
  EXPECT_EQ(KM_SETTINGS_FORMAT, readPkcs12Keys(file.data(), 0, PIN, 9, keys));
  EXPECT_EQ(KM_SETTINGS_FORMAT, readPkcs12Keys(file.data(), file.size() - 1, PIN, 9, keys));
}

// Key files built here around openssl's EC key written without its public point: more keys than
// a user holds are refused, and such a key is tried on a bounded number of certificates (each
// costs a signature and its verification).
TEST(Pkcs12Read, KeysAndPairingProbesAreBounded) {
  Bytes bmp;
  for (const char* c = PIN;; ++c) {
    bmp.push_back(0);
    bmp.push_back(static_cast<uint8_t>(*c));
    if (!*c) break;
  }
  const int bmpLength = static_cast<int>(bmp.size());
  Bytes nopub = readData("ec-nopub.p12");
  Pfx source;
  ASSERT_EQ(static_cast<int>(nopub.size()), source.decodeVector(nopub));
  TypedPointerList<PrivateKeyInfo> infos;
  TypedPointerList<SignedCertificate> certs;
  TypedPointerList<SafeBag> bags;
  infos.owns = certs.owns = bags.owns = true;
  ASSERT_EQ(1, source.parsePfx(infos, certs, bags, bmp.data(), bmpLength));
  ASSERT_EQ(1, infos.GetCount());
  ECPrivateKey key;
  ASSERT_EQ(0, infos.GetHead()->getEcKey(key));
  ASSERT_FALSE(key.publicKeyPresent);
  const SignedCertificate mine = readCert("ec.der"), other = readCert("other-ec.der");
  struct Row {
    const char* what;
    int keys;
    int others;  // certificates of another EC key, before the key's own
    int32_t status;
    bool paired;
  };
  const Row rows[] = {
      {"sixteen keys (all paired: two sign)", 16, 0, 42, false},
      {"seventeen keys", 17, 0, KM_SETTINGS_FORMAT, false},
      {"its certificate after fifteen others", 1, 15, KM_OK, true},
      {"its certificate after sixteen others", 1, 16, KM_OK, false},
  };
  const uint8_t seed[] = {1, 2, 3, 4};
  for (const Row& row : rows) {
    Pfx pfx;
    ASSERT_EQ(1, pfx.initAuthSafe());
    for (int i = 0; i < row.keys; ++i) ASSERT_EQ(1, pfx.addEcKey(key, nullptr, 0, nullptr, 0));
    // The writer adds the public point: the key goes in as openssl wrote it, without.
    for (POSITION pos = pfx.keys->GetHeadPosition(); pos;)
      pfx.keys->GetNext(pos)->privateKey = infos.GetHead()->privateKey;
    for (int i = 0; i < row.others; ++i) ASSERT_EQ(1, pfx.addCertBag(other, nullptr, 0, nullptr, 0));
    ASSERT_EQ(1, pfx.addCertBag(mine, nullptr, 0, nullptr, 0));
    ASSERT_EQ(1, pfx.build(4, bmp.data(), bmpLength, seed, sizeof seed)) << row.what;
    Bytes file;
    ASSERT_GT(pfx.encodeVector(file), 0) << row.what;
    Pkcs12Keys keys;
    EXPECT_EQ(row.status, readPkcs12Keys(file.data(), file.size(), PIN, std::strlen(PIN), keys))
        << row.what;
    if (row.status != KM_OK) continue;
    ASSERT_NE(nullptr, keys.signing) << row.what;
    EXPECT_EQ(row.paired, keys.signing->certificate() != nullptr) << row.what;
  }
}

}  // namespace
