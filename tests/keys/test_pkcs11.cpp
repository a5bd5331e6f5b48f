// The PKCS#11 profile against a SoftHSM2 token (softhsm.h): loading the module, choosing the
// token and its keys, login, signatures checked by openssl and by our verifier, session keys
// wrapped by openssl and unwrapped on the token.
#include "keys/keyconfig.h"
#include "keys/keymanager.h"
#include "keys/pkcs11key.h"
#include "keys/pkcs11lib.h"
#include "keys/secretblock.h"
#include "keys/sigverify.h"
#include "keys/talprofile.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/x509/cert.h"
#include "platform/registrysandbox.h"
#include "softhsm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

using softhsm::dataPath;
using softhsm::readFile;
using softhsm::writeFile;

namespace {

// The configuration of a PKCS#11 profile and the PINs the context would hand out.
class TokenConfig : public KeyConfigAccess {
 public:
  int32_t deviceType() const override { return 4; }
  const TalProfile* activeProfile() const override { return &profile; }
  void writeDefaults() override {}
  bool encodeConfiguration(std::vector<uint8_t>&) const override { return false; }
  int loadConfiguration(const uint8_t*, size_t) override { return 1; }
  int storeRootList(bool, const ASNobject&) override { return 1; }
  int loadRootList(bool, ASNobject&) const override { return 1; }
  int32_t getPin(int32_t usage, char* buffer, size_t* length) override {
    asked.push_back(usage);
    auto it = pins.find(usage);
    if (it == pins.end()) return 41;
    if (!buffer || *length < it->second.size() + 1) {
      *length = it->second.size() + 1;
      return 34;
    }
    std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    *length = it->second.size();
    return 0;
  }

  void set(int32_t number, const std::string& text) {
    ASSERT_EQ(0, profile.setAttribute(number, text.c_str(), text.size() + 1));
  }
  void flag(int32_t number) {
    int32_t one = 1;
    ASSERT_EQ(0, profile.setAttribute(number, &one, 4));
  }

  Pkcs11Profile profile;
  std::map<int32_t, std::string> pins;
  std::vector<int32_t> asked;
};

class Pkcs11Token : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    ASSERT_TRUE(token.make());
    config.set(3, token.module);
    config.pins[1] = softhsm::USER_PIN;
    config.pins[2] = softhsm::USER_PIN;
    ASSERT_EQ(KM_OK, km.init(&config));
  }

  int32_t open() {
    int32_t device = km.initDevice();
    if (device != KM_OK) return device;
    return km.initProfile(1, 1);
  }

  // A key manager of the token's module with a key label and a PIN, through initProfile;
  // signing only: no decryption key is looked for.
  void openLabel(TokenConfig& c, KeyManager& m, const std::string& label, bool signingOnly,
                 const char* pin = softhsm::USER_PIN, int32_t status = KM_OK) {
    c.set(3, token.module);
    c.set(6, label);
    if (signingOnly) c.flag(27);
    c.pins[1] = c.pins[2] = pin;
    ASSERT_EQ(KM_OK, m.init(&c));
    ASSERT_EQ(KM_OK, m.initDevice());
    ASSERT_EQ(status, m.initProfile(1, 1));
  }

  // A key imported from a file and its certificate written beside it under one CKA_ID, then
  // opened for signing by its label.
  void importAndOpen(const std::string& key, const std::string& certificate,
                     const std::string& id, const std::string& label, TokenConfig& c,
                     KeyManager& m) {
    const std::string pin = std::string(" --pin ") + softhsm::USER_PIN;
    ASSERT_TRUE(token.run("softhsm2-util --import '" + dataPath(key) + "' --token " +
                          softhsm::TOKEN_LABEL + " --label " + label + " --id " + id + pin));
    ASSERT_TRUE(token.run("pkcs11-tool --module '" + token.module + "' --token-label " +
                          softhsm::TOKEN_LABEL + " --login" + pin + " --write-object '" +
                          dataPath(certificate) + "' --type cert --id " + id + " --label " +
                          label));
    openLabel(c, m, label, true);
    ASSERT_NE(nullptr, m.signingKey());
  }

  // Runs openssl; true when it succeeds.
  bool openssl(const std::string& arguments) {
    return std::system(("openssl " + arguments + " > /dev/null 2>&1").c_str()) == 0;
  }

  softhsm::Token token;
  TokenConfig config;
  KeyManager km;
};

TEST_F(Pkcs11Token, ChoosesTokenAndKeysByTheProfile) {
  struct Row {
    const char* what;
    const char* tokenLabel;  // NULL: not set
    const char* keyLabel;
    int32_t flag;  // 0, 21, 27, 32 or 34
    const char* pin;  // NULL: no PIN cached
    int32_t status;
    uint32_t loaded;  // flags 4 and 8
    uint32_t usage;
    uint32_t required;  // flags 1 and 2 after the call
    uint32_t ckr;
  };
  const Row rows[] = {
      {"rsa for both, separately", nullptr, "rsa", 0, "1234", 0, 12, 3, 3, CKR_OK},
      {"rsa as one key for both", "tal-token", "rsa", 34, "1234", 0, 12, 7, 3, CKR_OK},
      {"rsa decrypts only", nullptr, "rsa", 32, "1234", 0, 8, 2, 2, CKR_OK},
      {"ec signs only", nullptr, "ec", 27, "1234", 0, 4, 1, 1, CKR_OK},
      {"ec cannot decrypt", nullptr, "ec", 0, "1234", 0, 4, 1, 3, CKR_OK},
      {"two signing keys", nullptr, nullptr, 27, "1234", 42, 0, 0, 3, CKR_OK},
      {"one key for both: only rsa", nullptr, nullptr, 34, "1234", 0, 12, 7, 3, CKR_OK},
      {"no such key", nullptr, "nothing", 0, "1234", 37, 0, 0, 3, CKR_OK},
      {"no such token", "other-token", "rsa", 0, "1234", 24, 0, 0, 3, CKR_OK},
      {"wrong PIN", nullptr, "rsa", 0, "4321", 13, 0, 0, 3, CKR_PIN_INCORRECT},
      {"no PIN", nullptr, "rsa", 0, nullptr, 49, 0, 0, 3, CKR_OK},
      // Entered on the reader: no PIN is asked for, the login goes without one (and SoftHSM,
      // which has no reader, refuses it).
      {"PIN on the reader", nullptr, "rsa", 21, "1234", 25, 0, 0, 3, CKR_ARGUMENTS_BAD},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TokenConfig c;
    c.set(3, token.module);
    if (row.tokenLabel) c.set(5, row.tokenLabel);
    if (row.keyLabel) c.set(6, row.keyLabel);
    if (row.flag) c.flag(row.flag);
    if (row.pin) c.pins[1] = c.pins[2] = row.pin;
    KeyManager m;
    ASSERT_EQ(KM_OK, m.init(&c));
    ASSERT_EQ(KM_OK, m.initDevice());
    EXPECT_EQ(row.status, m.initProfile(1, 1));
    EXPECT_EQ(row.loaded, m.flags & (KM_FLAG_SIGNING_LOADED | KM_FLAG_DECRYPTION_LOADED));
    EXPECT_EQ(row.usage, m.keyUsage);
    EXPECT_EQ(row.required,
              m.flags & (KM_FLAG_SIGNING_REQUIRED | KM_FLAG_DECRYPTION_REQUIRED));
    EXPECT_EQ(row.ckr, m.lastCkr);
    // The login takes the PIN of the usage the profile needs.
    if (row.flag == 21) {
      EXPECT_TRUE(c.asked.empty());
    } else if (row.pin && row.status != 24) {
      ASSERT_FALSE(c.asked.empty());
      EXPECT_EQ(row.flag == 32 ? 2 : 1, c.asked.front());
    }
    if (row.status == 0) {
      EXPECT_TRUE(m.flags & KM_FLAG_CONFIGURATION);
      KeyHolder* key = m.signingKey() ? m.signingKey() : m.decryptionKey();
      ASSERT_NE(nullptr, key);
      ASSERT_NE(nullptr, key->certificate());
      EXPECT_EQ(m.signingKey() != nullptr, m.currentCertificate() != nullptr);
    }
    m.releaseTokenLibrary();
    EXPECT_EQ(nullptr, m.signingKey());
  }
}

TEST_F(Pkcs11Token, SignaturesVerifiedByOpensslAndByOurVerifier) {
  struct Row {
    const char* label;
    int32_t scheme;  // 0 PKCS#1 v1.5, 2 EC-DSA, 3 PSS
    const char* digestName;
    int32_t hashId;
  };
  const Row rows[] = {
      {"rsa", 0, "sha1", 1}, {"rsa", 0, "sha256", 3}, {"rsa", 0, "sha512", 5},
      {"rsa", 0, "sha224", 2}, {"rsa", 0, "sha384", 4}, {"rsa", 0, "md5", 8},
      {"rsa", 3, "sha256", 3}, {"rsa", 3, "sha384", 4}, {"rsa", 3, "sha1", 1},
      {"rsa", 3, "sha224", 2}, {"rsa", 3, "sha512", 5},
      {"ec", 2, "sha256", 3}, {"ec", 2, "sha384", 4}, {"ec", 2, "sha1", 1},
  };
  const std::string message = token.dir + "/message.txt";
  writeFile(message, std::vector<uint8_t>(3000, 'a'));
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.label) + " " + std::to_string(row.scheme) + " " +
                 row.digestName);
    TokenConfig c;
    KeyManager m;
    openLabel(c, m, row.label, true);
    EXPECT_EQ(std::string(row.label) == "ec" ? 2 : 0, m.getSgnScheme());
    EXPECT_EQ(std::string(row.label) == "ec" ? 256u : 2048u, m.getKeyBits(0));

    const std::string digestFile = token.dir + "/digest.bin";
    ASSERT_TRUE(openssl(std::string("dgst -") + row.digestName + " -binary -out '" + digestFile +
                        "' '" + message + "'"));
    std::vector<uint8_t> digest = readFile(digestFile);
    std::vector<uint8_t> signature;
    ASSERT_EQ(KM_OK, m.sign(row.scheme, row.hashId, digest.data(), digest.size(), signature));
    EXPECT_EQ(CKR_OK, m.lastCkr);
    const std::string sigFile = token.dir + "/signature.bin";
    writeFile(sigFile, signature);
    const std::string pss =
        row.scheme == 3 ? " -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest" : "";
    const std::string verify = std::string("dgst -") + row.digestName + pss + " -verify '" +
                               dataPath(std::string(row.label) + ".pub.pem") +
                               "' -signature '" + sigFile + "' '" + message + "'";
    EXPECT_TRUE(openssl(verify));

    SubPubKeyInfo key(m.currentCertificate()->tbsCertificate.subjectPublicKeyInfo);
    if (row.scheme == 0) {
      EXPECT_EQ(256u, signature.size()) << "as long as the modulus";
      EXPECT_EQ(SIGCHECK_OK, verifyRsaPkcs1Signature(key.rsaKey, signature.data(),
                                                     signature.size(), digest.data(),
                                                     digest.size(), row.hashId));
    } else if (row.scheme == 3) {
      EXPECT_EQ(256u, signature.size());
      EXPECT_EQ(SIGCHECK_OK,
                verifyRsaPssSignature(key.rsaKey, signature.data(), signature.size(),
                                      digest.data(), digest.size(), row.hashId, row.hashId,
                                      static_cast<int32_t>(digest.size())));
    } else {
      EXPECT_EQ(SIGCHECK_OK, verifyEcdsaSignature(key, signature.data(), signature.size(),
                                                  digest.data(), digest.size(), row.hashId));
    }
    // The checks themselves refuse a damaged signature.
    signature[signature.size() / 2] ^= 0x01;
    writeFile(sigFile, signature);
    EXPECT_FALSE(openssl(verify));

    // A digest of the wrong length, one the key cannot name, or a scheme of another kind of
    // key is refused before the token.
    EXPECT_EQ(KM_BAD_ARGUMENTS,
              m.sign(row.scheme, row.hashId, digest.data(), digest.size() - 1, signature));
    EXPECT_EQ(KM_BAD_ARGUMENTS, m.sign(row.scheme, 6, digest.data(), 16, signature));
    EXPECT_EQ(KM_BAD_ARGUMENTS,
              m.sign(row.scheme == 2 ? 0 : 2, row.hashId, digest.data(), digest.size(),
                     signature));
    EXPECT_FALSE(m.supportsDigest(6)) << "RIPEMD-128 has no OID for a DigestInfo";
    EXPECT_TRUE(m.supportsDigest(row.hashId));
    // Numbers of no hash at all are refused the same way.
    for (int32_t unknown : {0, 10, 99, -1}) {
      EXPECT_FALSE(m.supportsDigest(unknown)) << unknown;
      EXPECT_EQ(KM_BAD_ARGUMENTS,
                m.sign(row.scheme, unknown, digest.data(), digest.size(), signature));
    }
  }
}

TEST_F(Pkcs11Token, SessionKeyWrappedByOpensslIsUnwrapped) {
  config.set(6, "rsa");
  ASSERT_EQ(KM_OK, open());
  KeyHolder* key = km.decryptionKey();
  ASSERT_NE(nullptr, key);
  const std::string wrapped = token.dir + "/wrapped.bin";
  for (size_t length : {16u, 24u, 32u}) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> sessionKey(length);
    ASSERT_EQ(KM_OK, km.getRandomBytes(sessionKey.data(), length));
    writeFile(token.dir + "/key.bin", sessionKey);
    ASSERT_TRUE(openssl("pkeyutl -encrypt -pubin -inkey '" + dataPath("rsa.pub.pem") +
                        "' -in '" + token.dir + "/key.bin' -out '" + wrapped +
                        "' -pkeyopt rsa_padding_mode:pkcs1"));
    std::vector<uint8_t> block = readFile(wrapped);
    std::unique_ptr<SecretBlock> out;
    ASSERT_EQ(KM_OK, key->decryptSessionKey(block.data(), block.size(), out));
    ASSERT_TRUE(out);
    EXPECT_EQ(sessionKey, std::vector<uint8_t>(out->data(), out->data() + out->size()));
    // And through the key manager, which keeps it for the message.
    SecretBlock copy(32);
    ASSERT_EQ(KM_OK, km.decryptSesKey(block.data(), block.size(), &copy));
    EXPECT_EQ(sessionKey, std::vector<uint8_t>(copy.data(), copy.data() + copy.size()));

    EXPECT_EQ(CKR_OK, km.lastCkr);
    // A damaged block, a short one and a long one give one answer and no key; the token's
    // refusal is kept for the card error's text.
    block[0] ^= 0x40;
    EXPECT_EQ(KM_NO_SESSION_KEY, km.decryptSesKey(block.data(), block.size(), nullptr));
    EXPECT_NE(CKR_OK, km.lastCkr);
    EXPECT_EQ(KM_NO_SESSION_KEY, key->decryptSessionKey(block.data(), block.size(), out));
    EXPECT_FALSE(out);
    EXPECT_EQ(KM_NO_SESSION_KEY, key->decryptSessionKey(block.data(), block.size() - 1, out));
    block.push_back(0);
    EXPECT_EQ(KM_NO_SESSION_KEY, key->decryptSessionKey(block.data(), block.size(), out));
  }
  // The EC key neither decrypts nor is offered for it.
  TokenConfig c;
  KeyManager m;
  openLabel(c, m, "ec", false);
  EXPECT_EQ(nullptr, m.decryptionKey());
  std::unique_ptr<SecretBlock> out;
  uint8_t block[32] = {0};
  EXPECT_EQ(KM_NO_KEY, m.signingKey()->decryptSessionKey(block, sizeof block, out));
}

TEST_F(Pkcs11Token, ModulesThatCannotServe) {
  struct Row {
    const char* what;
    std::string path;
    const char* conf;  // SOFTHSM2_CONF for the load, NULL: the token's
    int32_t answer;
    const char* text;  // in loaderText
  };
  const std::string missing = token.dir + "/no-such-module.so";
  const Row rows[] = {
      {"missing module", missing, nullptr, 29, "no-such-module.so"},
      {"no path: nothing to load", "", nullptr, 0, ""},
      {"no C_GetFunctionList", P11_EMPTY_MODULE, nullptr, 30, "C_GetFunctionList"},
      {"C_Initialize refuses", token.module, "/nonexistent/softhsm2.conf", 31, "PKCS#11"},
  };
  const std::string own = getenv("SOFTHSM2_CONF");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.conf) setenv("SOFTHSM2_CONF", row.conf, 1);
    TokenConfig c;
    if (!row.path.empty()) c.set(3, row.path);
    KeyManager m;
    ASSERT_EQ(KM_OK, m.init(&c));
    EXPECT_EQ(row.answer, m.initDevice());
    EXPECT_NE(std::string::npos, m.loaderText.find(row.text)) << m.loaderText;
    // No key can be had without the module.
    EXPECT_EQ(KM_PKCS11_LIBRARY_MISSING, m.initProfile(1, 1));
    setenv("SOFTHSM2_CONF", own.c_str(), 1);
  }
}

TEST_F(Pkcs11Token, ContextsShareTheModuleUntilTheLastLetsItGo) {
  // A second binding of the module must not finalise it under the first: the module is
  // initialised once per process.
  config.set(6, "ec");
  config.flag(27);
  ASSERT_EQ(KM_OK, open());
  std::vector<uint8_t> digest(32, 0x5a), signature;
  {
    TokenConfig c;
    KeyManager second;
    openLabel(c, second, "rsa", false);
    ASSERT_EQ(KM_OK, second.sign(0, 3, digest.data(), digest.size(), signature));
    second.releaseTokenLibrary();
  }
  EXPECT_EQ(KM_OK, km.sign(2, 3, digest.data(), digest.size(), signature));

  // A copy (a clone's key manager) keeps signing after its source let the token go.
  KeyManager copy;
  copy.copyFrom(km);
  km.releaseTokenLibrary();
  EXPECT_EQ(KM_NO_KEY, km.sign(2, 3, digest.data(), digest.size(), signature));
  EXPECT_EQ(KM_OK, copy.sign(2, 3, digest.data(), digest.size(), signature));
}

TEST_F(Pkcs11Token, ACertificateOfAnotherKeyUnderTheSameIdIsNotTheKeys) {
  // A pair made on the token, and beside it under the same CKA_ID the certificate of a key
  // imported from a file (an RSA key of another modulus, an EC key on another curve): the
  // certificate does not name this key, and signatures made with it would never verify under it.
  const std::string tool = "pkcs11-tool --module '" + token.module + "' --token-label " +
                           softhsm::TOKEN_LABEL + " --login --pin " + softhsm::USER_PIN;
  struct Row {
    const char* keyType;
    const char* id;
    const char* certificate;
  };
  const Row rows[] = {{"rsa:1024", "03", "rsa.crt.der"}, {"EC:secp384r1", "04", "ec.crt.der"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keyType);
    const std::string label = std::string("other") + row.id;
    ASSERT_TRUE(token.run(tool + " --keypairgen --key-type " + row.keyType + " --id " + row.id +
                          " --label " + label));
    ASSERT_TRUE(token.run(tool + " --write-object '" + dataPath(row.certificate) +
                          "' --type cert --id " + row.id + " --label " + label));
    TokenConfig c;
    KeyManager m;
    openLabel(c, m, label, false);
    EXPECT_EQ(nullptr, m.signingKey());
    EXPECT_EQ(nullptr, m.decryptionKey());
  }
  // The keys that do match their certificates are still found beside them.
  for (const char* label : {"rsa", "ec"}) {
    SCOPED_TRACE(label);
    TokenConfig c;
    KeyManager m;
    openLabel(c, m, label, true);
    EXPECT_NE(nullptr, m.signingKey());
  }
}

TEST_F(Pkcs11Token, ACertificateSignedOverNonDerIsHandedOnAsStored) {
  // The key's certificate is signed over a TBS that is not DER (an explicit critical FALSE;
  // openssl verifies it, tests/data/keys/p11/gen_nonder.sh): the key manager's certificate is
  // the octets on the token and still verifies, never a re-encoding its signer never signed.
  TokenConfig c;
  KeyManager m;
  importAndOpen("rsa.key", "rsa_nonder.crt.der", "06", "nonder", c, m);
  if (HasFatalFailure()) return;
  const SignedCertificate* cert = m.currentCertificate();
  ASSERT_NE(nullptr, cert);
  std::vector<unsigned char> der;
  ASSERT_LT(0, cert->encodeVector(der));
  EXPECT_EQ(readFile(dataPath("rsa_nonder.crt.der")), der);
  EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, cert->verifySelfSigned());
}

TEST_F(Pkcs11Token, AKeyWhoseCertificateSaysPssSignsPssOnly) {
  // id-RSASSA-PSS in the certificate restricts the key to PSS (RFC 4055): the key's scheme is
  // 3 and a PKCS#1 v1.5 signature is refused, whatever the token would do with the key.
  TokenConfig c;
  KeyManager m;
  importAndOpen("pss-plain.key", "pss.crt.der", "05", "pss", c, m);
  if (HasFatalFailure()) return;
  EXPECT_EQ(3, m.getSgnScheme());
  const std::string message = token.dir + "/message.txt";
  writeFile(message, std::vector<uint8_t>(100, 'p'));
  ASSERT_TRUE(openssl("dgst -sha256 -binary -out '" + token.dir + "/digest.bin' '" + message + "'"));
  std::vector<uint8_t> digest = readFile(token.dir + "/digest.bin"), signature;
  EXPECT_EQ(KM_BAD_ARGUMENTS, m.sign(0, 3, digest.data(), digest.size(), signature));
  EXPECT_TRUE(signature.empty());
  // PSS goes over the SHA-1 and SHA-2 digests only: the others are not admitted either.
  for (int32_t hash : {1, 2, 3, 4, 5}) EXPECT_TRUE(m.supportsDigest(hash)) << hash;
  for (int32_t hash : {7, 8}) EXPECT_FALSE(m.supportsDigest(hash)) << hash;
  ASSERT_EQ(KM_OK, m.sign(3, 3, digest.data(), digest.size(), signature));
  writeFile(token.dir + "/signature.bin", signature);
  EXPECT_TRUE(openssl("dgst -sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest"
                      " -verify '" + dataPath("pss.pub.pem") + "' -signature '" + token.dir +
                      "/signature.bin' '" + message + "'"));

  // Nor does such a key decrypt session keys, though the token would let it.
  TokenConfig both;
  KeyManager decrypting;
  openLabel(both, decrypting, "pss", false);
  EXPECT_NE(nullptr, decrypting.signingKey());
  EXPECT_EQ(nullptr, decrypting.decryptionKey());
  EXPECT_EQ(1u, decrypting.keyUsage);
  std::vector<uint8_t> block(256, 0x5a);
  std::unique_ptr<SecretBlock> sessionKey;
  EXPECT_EQ(KM_NO_KEY, decrypting.signingKey()->decryptSessionKey(block.data(), block.size(),
                                                                   sessionKey));
}

TEST_F(Pkcs11Token, AShortKeyAdmitsTheDigestsItsBlockHolds) {
  // 64 octets hold the DigestInfo of SHA-256 and the eleven octets of padding, not those of
  // SHA-384 or SHA-512: those are refused before the token is asked.
  TokenConfig c;
  KeyManager m;
  importAndOpen("rsa512.key", "rsa512.crt.der", "06", "short", c, m);
  if (HasFatalFailure()) return;
  struct Row {
    int32_t hash;
    size_t length;
    bool admitted;
  };
  const Row rows[] = {{1, 20, true}, {3, 32, true}, {4, 48, false}, {5, 64, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hash);
    EXPECT_EQ(row.admitted, m.supportsDigest(row.hash));
    std::vector<uint8_t> digest(row.length, 0x17), signature;
    EXPECT_EQ(row.admitted ? KM_OK : KM_BAD_ARGUMENTS,
              m.sign(0, row.hash, digest.data(), digest.size(), signature));
    // PSS needs twice the digest and two octets more.
    EXPECT_EQ(row.hash == 1 ? KM_OK : KM_BAD_ARGUMENTS,
              m.sign(3, row.hash, digest.data(), digest.size(), signature));
  }
}

TEST_F(Pkcs11Token, APinIsCheckedWhileAnotherContextIsLoggedIn) {
  // The token's login belongs to the process: a second context's C_Login is answered
  // CKR_USER_ALREADY_LOGGED_IN whatever PIN it brings, so that answer alone proves nothing.
  config.set(6, "rsa");
  ASSERT_EQ(KM_OK, open());
  struct Row {
    const char* pin;
    int32_t status;
  };
  const Row rows[] = {{"4321", P11_WRONG_PIN}, {"12345", P11_WRONG_PIN}, {"1234", KM_OK}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pin);
    TokenConfig c;
    KeyManager second;
    openLabel(c, second, "rsa", false, row.pin, row.status);
    EXPECT_EQ(row.status == KM_OK, second.signingKey() != nullptr);
    second.releaseTokenLibrary();
  }
  // Once every session of ours is closed the token has logged out; a new login is checked by
  // the token itself again.
  km.releaseTokenLibrary();
  TokenConfig c;
  KeyManager third;
  openLabel(c, third, "rsa", false, "4321", P11_WRONG_PIN);
  EXPECT_EQ(CKR_PIN_INCORRECT, third.lastCkr);
}

TEST_F(Pkcs11Token, ClonesSignFromTwoThreadsThroughOneSession) {
  // A session runs one operation at a time: without the session's lock the token answers
  // CKR_OPERATION_ACTIVE to one of two signatures started together.
  config.set(6, "rsa");
  ASSERT_EQ(KM_OK, open());
  KeyManager clone;
  clone.copyFrom(km);
  std::atomic<int> failures{0};
  auto work = [&failures](KeyManager* m) {
    std::vector<uint8_t> digest(32, 0x42), signature;
    for (int i = 0; i < 25; ++i)
      if (m->sign(0, 3, digest.data(), digest.size(), signature) != KM_OK) ++failures;
  };
  std::thread a(work, &km), b(work, &clone);
  a.join();
  b.join();
  EXPECT_EQ(0, failures.load());
}

TEST(Pkcs11Texts, ReturnValues) {
  struct Row {
    uint32_t ckr;
    const char* text;
  };
  const Row rows[] = {
      {CKR_PIN_INCORRECT, "Błędny PIN"},
      {CKR_PIN_LOCKED, "PIN zablokowany"},
      {CKR_PIN_LEN_RANGE, "Błędna długość PIN-u"},
      // A key that cannot be digested, not one that cannot be shortened.
      {CKR_KEY_INDIGESTIBLE, "Nie można obliczyć skrótu klucza"},
      {CKR_TOKEN_NOT_PRESENT, "Brak karty w czytniku"},
      {CKR_DEVICE_REMOVED, "Urządzenie zostało odłączone"},
      {0x12345, "Nieznany błąd biblioteki PKCS#11"},
  };
  for (const Row& row : rows) EXPECT_STREQ(row.text, getCkrErrorText(row.ckr)) << row.ckr;
}

}  // namespace
