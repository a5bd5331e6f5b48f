// Allocation failures in the key manager: this program can make the n-th allocation fail. A
// reload of the stored roots that runs out of memory answers 4 (never 12, a list that is no
// certificates), keeps the roots it had and leaks nothing (LeakSanitizer); so
// does the reading of a PKCS#12 key file, which never calls the file malformed for it.
#include "keys/keyconfig.h"
#include "keys/keymanager.h"
#include "keys/pkcs12key.h"
#include "rootfiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "failnth.h"

namespace {

// Keeps the stored root lists as DER.
class ListConfig : public KeyConfigAccess {
 public:
  int32_t deviceType() const override { return 6; }
  const TalProfile* activeProfile() const override { return nullptr; }
  void writeDefaults() override {}
  bool encodeConfiguration(std::vector<uint8_t>&) const override { return false; }
  int loadConfiguration(const uint8_t*, size_t) override { return 0; }
  int storeRootList(bool firstGroup, const ASNobject& list) override {
    return list.encodeVector(firstGroup ? first : second) > 0 ? 1 : -2;
  }
  int loadRootList(bool firstGroup, ASNobject& list) const override {
    const std::vector<unsigned char>& bytes = firstGroup ? first : second;
    if (bytes.empty()) return 1;
    int r = list.decodeVector(bytes, inPlace ? ASN_FLAG_CONST | ASN_FLAG_COPY : 0);
    return r > 0 ? 1 : (r == EASN_MEM ? -2 : 0);
  }
  std::vector<unsigned char> first, second;
  // Read in place over a private copy, as the library's configuration reads them.
  bool inPlace = false;
};


// A file of tests/data/keys/p12 (made by openssl, make_p12.sh there).
std::vector<uint8_t> p12Data(const char* name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/p12/" + name, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

// A key manager holding the keys of such a file.
struct Pkcs12Manager {
  ListConfig config;
  KeyManager km;
  explicit Pkcs12Manager(const char* name) {
    const std::vector<uint8_t> file = p12Data(name);
    Pkcs12Keys keys;
    EXPECT_EQ(KM_OK, readPkcs12Keys(file.data(), file.size(), "vorin-PIN", 9, keys)) << name;
    EXPECT_EQ(KM_OK, km.init(&config));
    km.setKeyHolders(keys.signing, keys.decryption);
  }
};

// Reloads the roots with allocation 1, 2, ... failing until a reload runs through: each
// answers out of memory or success, never a list that is no certificates; `check` looks at
// the roots held after each.
void reloadUnderFailures(KeyManager& km, const std::function<void(long)>& check) {
  bool completed = false;
  for (long failAt = 1; failAt < 100000 && !completed; ++failAt) {
    g_count = 0;
    g_failAt = failAt;
    const int32_t answer = km.loadRoots(0);
    const bool failed = g_count >= failAt;
    g_failAt = 0;
    if (!failed) {
      ASSERT_EQ(KM_OK, answer);
      completed = true;
    } else {
      ASSERT_TRUE(answer == KM_NO_MEMORY || answer == KM_OK)
          << "allocation " << failAt << ": " << answer;
    }
    check(failAt);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_TRUE(completed);
}

void rootReloadOutOfMemory(bool inPlace) {
  ListConfig config;
  config.inPlace = inPlace;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  // A stored root in each group and a root of another kind, which the reload copies over.
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-a.der"), 1, 1));
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-b.der"), 1, 2));
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-c.der"), 0, 1));
  reloadUnderFailures(km, [&](long failAt) {
    ASSERT_EQ(2, km.rootList(true).GetCount()) << failAt;
    ASSERT_EQ(1, km.rootList(false).GetCount()) << failAt;
  });
}

TEST(KeyManagerAllocation, RootReloadOutOfMemory) { rootReloadOutOfMemory(false); }

TEST(KeyManagerAllocation, RootReloadInPlaceOutOfMemory) { rootReloadOutOfMemory(true); }

// A list stored as bare certificates (before the roots carried their words): a reload short of
// memory answers 4, never 12, and holds all of it or none.
TEST(KeyManagerAllocation, BareRootListReloadOutOfMemory) {
  ListConfig config;
  config.inPlace = true;
  ASNsequenceList<SignedCertificate> bare;
  for (const char* name : {"root-c.der", "root-a.der"}) {
    std::unique_ptr<SignedCertificate> c(new SignedCertificate(loadCertificate(name)));
    ASSERT_EQ(1, bare.append(c.get()));
    c.release();
  }
  ASSERT_GT(bare.encodeVector(config.first), 0);
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  const SignedCertificate first = loadCertificate("root-c.der");
  reloadUnderFailures(km, [&](long failAt) {
    const RootList& roots = km.rootList(true);
    ASSERT_TRUE(roots.GetCount() == 0 || roots.GetCount() == 2) << failAt;
    if (roots.GetCount() == 2) {
      EXPECT_TRUE(roots.GetHead()->certificate == first) << failAt;
    }
  });
  EXPECT_EQ(1u, km.rootList(true).GetTail()->word());
}

// Roots signed over TBS octets that are not DER (openssl-made,
// tests/data/pki/certs/gen_explicit.sh and gen_nonder_chain.sh), reloaded in
// place while one allocation fails: whatever the answer, every root held
// still verifies over its stored octets (none is a re-encoding made in want
// of memory).
TEST(KeyManagerAllocation, NonDerRootReloadOutOfMemory) {
  auto received = [](const char* name) {
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
    std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    SignedCertificate c;
    EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY))
        << name;
    return c;
  };
  ListConfig config;
  config.inPlace = true;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  ASSERT_EQ(KM_OK, km.addCertificate(received("nonder_ca.der"), 1, 1));
  ASSERT_EQ(KM_OK, km.addCertificate(received("critical_false.der"), 0, 1));
  reloadUnderFailures(km, [&](long failAt) {
    for (bool qualified : {true, false}) {
      ASSERT_EQ(1, km.rootList(qualified).GetCount()) << failAt;
      EXPECT_EQ(SignedCertificate::CERT_SIG_VALID,
                km.rootList(qualified).elementAt(0)->certificate->verifySelfSigned())
          << "allocation " << failAt;
    }
  });
}

TEST(KeyManagerAllocation, Pkcs12FileOutOfMemory) {
  // openssl's files (tests/data/keys/p12/make_p12.sh): the PKCS#12 schemes, PBES2.
  for (const char* name : {"both-legacy.p12", "both-aes.p12"}) {
    const std::vector<uint8_t> file = p12Data(name);
    ASSERT_FALSE(file.empty()) << name;
    bool completed = false;
    for (long failAt = 1; failAt < 100000 && !completed; ++failAt) {
      Pkcs12Keys keys;
      g_count = 0;
      g_failAt = failAt;
      const int32_t answer = readPkcs12Keys(file.data(), file.size(), "vorin-PIN", 9, keys);
      const bool failed = g_count >= failAt;
      g_failAt = 0;
      if (!failed) {
        ASSERT_EQ(KM_OK, answer) << name;
        completed = true;
      } else {
        ASSERT_TRUE(answer == KM_NO_MEMORY || answer == KM_OK)
            << name << ": allocation " << failAt << ": " << answer;
        EXPECT_EQ(answer == KM_OK, keys.signing != nullptr) << name << " " << failAt;
      }
    }
    EXPECT_TRUE(completed) << name;
  }
}

// Decrypting a session key and a content with a PKCS#12 key while memory runs out: each step
// answers one of the statuses XML decryption maps (4 for the session key; 20 or 11 for the
// content steps), and the next try succeeds.
TEST(KeyManagerAllocation, Pkcs12DecryptionOutOfMemory) {
  const std::vector<uint8_t> wrapped = p12Data("ses-dec-16.bin"), iv = p12Data("iv16.bin"),
                             content = p12Data("content-aes128.enc"),
                             plain = p12Data("content.plain");
  Pkcs12Manager dec("dec.p12");
  KeyManager& km = dec.km;
  bool completed = false;
  for (long failAt = 1; failAt < 100000 && !completed; ++failAt) {
    std::vector<uint8_t> out;
    out.reserve(2 * content.size());
    g_count = 0;
    g_failAt = failAt;
    const int32_t key = km.decryptSesKey(wrapped.data(), wrapped.size(), nullptr);
    const int32_t init = key == KM_OK ? km.processMsgInit(KM_CIPHER_AES128, iv.data(), iv.size())
                                      : -1;
    const int32_t update =
        init == KM_OK ? km.processMsgUpdate(content.data(), content.size(), out) : -1;
    const int32_t finish = update == KM_OK ? km.processMsgFinish(out) : -1;
    const bool failed = g_count >= failAt;
    g_failAt = 0;
    if (!failed) {
      ASSERT_EQ(KM_OK, finish) << failAt;
      EXPECT_EQ(plain, out);
      completed = true;
      continue;
    }
    ASSERT_TRUE(key == KM_OK || key == KM_NO_MEMORY) << failAt << ": " << key;
    ASSERT_TRUE(init == KM_OK || init == KM_DEVICE_ERROR || init == -1) << failAt << ": " << init;
    ASSERT_TRUE(update == KM_OK || update == KM_DEVICE_ERROR || update == KM_OUTPUT_FAILED ||
                update == -1)
        << failAt << ": " << update;
    ASSERT_TRUE(finish == KM_OK || finish == KM_DEVICE_ERROR || finish == KM_OUTPUT_FAILED ||
                finish == -1)
        << failAt << ": " << finish;
  }
  EXPECT_TRUE(completed);
}

// A content step that failed for memory ends the message: it is not then finished as a whole
// one (finishing answers 2, a step out of order).
TEST(KeyManagerAllocation, AFailedContentStepEndsTheMessage) {
  const std::vector<uint8_t> wrapped = p12Data("ses-dec-16.bin"), iv = p12Data("iv16.bin"),
                             content = p12Data("content-aes128.enc");
  Pkcs12Manager dec("dec.p12");
  KeyManager& km = dec.km;
  std::vector<uint8_t> out;
  ASSERT_EQ(KM_OK, km.decryptSesKey(wrapped.data(), wrapped.size(), nullptr));
  ASSERT_EQ(KM_OK, km.processMsgInit(KM_CIPHER_AES128, iv.data(), iv.size()));
  ASSERT_EQ(KM_OK, km.processMsgUpdate(content.data(), content.size(), out));
  g_count = 0;
  g_failAt = 1;
  const int32_t more = km.processMsgUpdate(content.data(), 16, out);
  g_failAt = 0;
  ASSERT_EQ(KM_OUTPUT_FAILED, more);
  EXPECT_EQ(KM_WRONG_ORDER, km.processMsgFinish(out));
  EXPECT_EQ(KM_WRONG_ORDER, km.processMsgUpdate(content.data(), 16, out));
}

// Signing with a PKCS#12 key (RSA PKCS#1 v1.5 and PSS, EC-DSA) while memory runs out: 4, and
// the next try signs.
TEST(KeyManagerAllocation, Pkcs12SigningOutOfMemory) {
  struct Row {
    const char* file;
    int32_t scheme;
  };
  const std::vector<uint8_t> digest(32, 0x5A);
  for (const Row& row : {Row{"sign.p12", 0}, Row{"sign.p12", 3}, Row{"ec.p12", 2}}) {
    Pkcs12Manager holder(row.file);
    KeyManager& km = holder.km;
    ASSERT_TRUE(km.signingKey()) << row.file;
    bool completed = false;
    for (long failAt = 1; failAt < 100000 && !completed; ++failAt) {
      std::vector<uint8_t> signature;
      g_count = 0;
      g_failAt = failAt;
      const int32_t answer = km.sign(row.scheme, 3, digest.data(), digest.size(), signature);
      const bool failed = g_count >= failAt;
      g_failAt = 0;
      if (!failed) {
        ASSERT_EQ(KM_OK, answer) << row.file << " " << row.scheme;
        completed = true;
      } else {
        ASSERT_TRUE(answer == KM_NO_MEMORY || answer == KM_OK)
            << row.file << " " << row.scheme << ": allocation " << failAt << ": " << answer;
      }
    }
    EXPECT_TRUE(completed) << row.file;
  }
}

}  // namespace
