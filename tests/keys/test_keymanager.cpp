// The key manager: random generator, device and profile answers, trust points against
// certificates made by openssl (tests/data/keys/make_roots.sh), the stored settings, copies and
// the operations no profile of this build can carry out.
#include "keys/keyconfig.h"
#include "keys/keymanager.h"
#include "rootfiles.h"
#include "keys/secretblock.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class FakeConfig : public KeyConfigAccess {
 public:
  int32_t deviceType() const override { return device; }
  const TalProfile* activeProfile() const override { return nullptr; }
  void writeDefaults() override { ++defaultsWritten; }
  bool encodeConfiguration(std::vector<uint8_t>& out) const override {
    out = der;
    return true;
  }
  int loadConfiguration(const uint8_t* data, size_t length) override {
    if (length < 2 || data[0] != 0x30 || data[1] != length - 2) return 0;
    der.assign(data, data + length);
    return 1;
  }
  int storeRootList(bool firstGroup, const ASNobject& list) override {
    std::vector<unsigned char> bytes;
    EXPECT_GT(list.encodeVector(bytes), 0);
    (firstGroup ? first : second) = bytes;
    ++stores;
    return 1;
  }
  int loadRootList(bool firstGroup, ASNobject& list) const override {
    const std::vector<unsigned char>& bytes = firstGroup ? first : second;
    if (bytes.empty()) return 1;
    return list.decodeVector(bytes) > 0 ? 1 : 0;
  }
  int32_t device = 6;
  int defaultsWritten = 0;
  int stores = 0;
  std::vector<uint8_t> der{0x30, 0x03, 0x02, 0x01, 0x05};
  std::vector<unsigned char> first, second;
};


TEST(KeyManagerRandom, OwnGeneratorSeededFromTheSystemAndFromASource) {
  FakeConfig config;
  KeyManager km;
  uint8_t a[64] = {0}, b[64] = {0};
  EXPECT_EQ(KM_NO_SEED, km.getRandomBytes(a, sizeof a));
  ASSERT_EQ(KM_OK, km.init(&config));
  ASSERT_TRUE(km.flags & KM_FLAG_OWN_RANDOM);
  EXPECT_EQ(KM_OK, km.getRandomBytes(a, sizeof a));
  EXPECT_EQ(KM_OK, km.getRandomBytes(b, sizeof b));
  EXPECT_NE(0, std::memcmp(a, b, sizeof a));
  EXPECT_EQ(KM_BAD_ARGUMENTS, km.getRandomBytes(nullptr, 4));
  EXPECT_EQ(KM_OK, km.getRandomBytes(nullptr, 0));

  // A clone's generator seeded from its source's output: same seed, same bytes.
  uint8_t seed[40];
  ASSERT_EQ(KM_OK, km.getRandomBytes(seed, sizeof seed));
  KeyManager c1, c2;
  c1.copyFrom(km);
  EXPECT_FALSE(c1.flags & KM_FLAG_OWN_RANDOM) << "the generator is not copied";
  EXPECT_EQ(KM_NO_SEED, c1.getRandomBytes(a, sizeof a));
  ASSERT_EQ(KM_OK, c1.seedRandom(seed, sizeof seed));
  ASSERT_EQ(KM_OK, c2.seedRandom(seed, sizeof seed));
  EXPECT_EQ(KM_OK, c1.getRandomBytes(a, sizeof a));
  EXPECT_EQ(KM_OK, c2.getRandomBytes(b, sizeof b));
  EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
  for (size_t length : {0u, 15u, 65u}) EXPECT_EQ(KM_BAD_ARGUMENTS, c1.seedRandom(seed, length));
  EXPECT_EQ(KM_BAD_ARGUMENTS, c1.seedRandom(nullptr, 40));
}

TEST(KeyManagerDevices, AnswersByDeviceType) {
  struct Row {
    int32_t device;
    int32_t initDevice;
    int32_t initProfile;
  };
  const Row rows[] = {{6, 0, 0}, {1, 0, KM_NO_KEY}, {4, 0, KM_PKCS11_LIBRARY_MISSING},
                      {2, KM_DEVICE_LIBRARY_MISSING, KM_DEVICE_LIBRARY_MISSING}};
  SavedVariable saved(platform::REGISTRY_ROOT_VARIABLE);
  char pattern[] = "/tmp/tal-keys-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(pattern));
  ::setenv(platform::REGISTRY_ROOT_VARIABLE, pattern, 1);
  for (const Row& row : rows) {
    FakeConfig config;
    config.device = row.device;
    KeyManager km;
    ASSERT_EQ(KM_OK, km.init(&config));
    EXPECT_EQ(row.initDevice, km.initDevice()) << row.device;
    EXPECT_EQ(row.device == 2, !km.loaderText.empty()) << row.device;
    EXPECT_EQ(row.initProfile, km.initProfile(1, 1)) << row.device;
    EXPECT_EQ(row.initProfile == 0, (km.flags & KM_FLAG_CONFIGURATION) != 0) << row.device;
    EXPECT_EQ(row.initProfile == 0 ? 1 : 0, config.defaultsWritten) << row.device;
    // A memory profile holds no key, so it requires none; the others require what was asked.
    EXPECT_EQ(row.device != 6, (km.flags & KM_FLAG_SIGNING_REQUIRED) != 0) << row.device;
    EXPECT_EQ(row.device != 6, (km.flags & KM_FLAG_DECRYPTION_REQUIRED) != 0) << row.device;
    EXPECT_TRUE(km.supportsDigest(3));
  }
  std::filesystem::remove_all(pattern);
}

class KeyManagerSettings : public RegistrySandbox {};

TEST_F(KeyManagerSettings, SavedAsHexTextAndReadBack) {
  FakeConfig config;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  EXPECT_EQ(KM_SETTINGS_READ, km.loadConf()) << "nothing stored yet";
  config.der = {0x30, 0x04, 0x02, 0x02, 0x0A, 0xBC};
  ASSERT_EQ(KM_OK, km.saveConf());
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryStatus::Ok,
            key.open(platform::RegistryRoot::CurrentUser, "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9",
                     false));
  uint32_t type = 0;
  std::vector<uint8_t> stored;
  ASSERT_EQ(platform::RegistryStatus::Ok, key.queryValue("TVSftCfg", type, stored));
  EXPECT_EQ(platform::REGISTRY_SZ, type);
  EXPECT_EQ(std::string("300402020ABC", 13), std::string(stored.begin(), stored.end()));

  config.der = {0x30, 0x00};
  ASSERT_EQ(KM_OK, km.loadConf());
  EXPECT_EQ((std::vector<uint8_t>{0x30, 0x04, 0x02, 0x02, 0x0A, 0xBC}), config.der);
  // initProfile writes the defaults, then takes the stored settings over them.
  config.der = {0x30, 0x00};
  ASSERT_EQ(KM_OK, km.initProfile(1, 1));
  EXPECT_EQ(6u, config.der.size());

  struct Row {
    const char* what;
    std::string text;
    uint32_t type;
  };
  const Row rows[] = {
      {"odd length", std::string("30000", 6), platform::REGISTRY_SZ},
      {"not hex", std::string("30G0", 5), platform::REGISTRY_SZ},
      {"not a configuration", std::string("0500", 5), platform::REGISTRY_SZ},
      {"binary type", "3000", platform::REGISTRY_BINARY},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.create(platform::RegistryRoot::CurrentUser, KM_SETTINGS_KEY));
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.setValue("TVSftCfg", row.type, row.text.data(), row.text.size()));
    EXPECT_EQ(KM_SETTINGS_FORMAT, km.loadConf()) << row.what;
    EXPECT_EQ(KM_SETTINGS_FORMAT, km.initProfile(1, 1)) << row.what;
  }
  // lower case is read too
  std::vector<uint8_t> der;
  EXPECT_TRUE(settingsFromHex("0aBc", 4, 8, der));
  EXPECT_EQ((std::vector<uint8_t>{0x0A, 0xBC}), der);
  EXPECT_FALSE(settingsFromHex("0aBc", 4, 1, der)) << "over the limit";
  EXPECT_FALSE(settingsFromHex("0 ", 2, 8, der));
}

TEST(KeyManagerRoots, AnswersOfAddCertificate) {
  SignedCertificate rootA = loadCertificate("root-a.der"), rootB = loadCertificate("root-b.der"),
                    rootC = loadCertificate("root-c.der"), leaf = loadCertificate("leaf.der"),
                    bad = loadCertificate("root-a-badsig.der");
  FakeConfig config;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  struct Row {
    const char* what;
    const SignedCertificate* certificate;
    int32_t group;
    int32_t kind;
    int32_t answer;
  };
  const Row rows[] = {
      {"kind 3", &rootA, 1, 3, KM_NOT_AVAILABLE},
      {"kind 5", &rootA, 1, 5, KM_NOT_AVAILABLE},
      {"not self-issued", &leaf, 1, 1, KM_NOT_SELF_ISSUED},
      {"signature flipped", &bad, 1, 1, KM_BAD_SIGNATURE},
      {"first root", &rootA, 1, 1, KM_OK},
      {"again", &rootA, 1, 1, KM_ROOT_IN_GROUP},
      {"in the other group", &rootA, 0, 1, KM_ROOT_IN_OTHER_GROUP},
      {"same subject, other group", &rootB, 0, 2, KM_ROOT_IN_OTHER_GROUP},
      {"same subject, same group", &rootB, 1, 2, KM_OK},
      {"device root", &rootC, 0, 4, KM_NOT_AVAILABLE},
      {"other root, second group", &rootC, 0, 1, KM_OK},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.answer, km.addCertificate(*row.certificate, row.group, row.kind)) << row.what;
  ASSERT_EQ(2, km.rootList(true).GetCount());
  ASSERT_EQ(1, km.rootList(false).GetCount());
  EXPECT_TRUE(km.rootList(true).elementAt(0)->certificate == rootA);
  EXPECT_TRUE(km.hasRoots());
  // Kind-1 roots are stored in the configuration, one list per group, with their kind as the
  // description word.
  EXPECT_EQ(2 * 2, config.stores);
  RootList first, second;
  ASSERT_GT(first.decodeVector(config.first), 0);
  ASSERT_GT(second.decodeVector(config.second), 0);
  ASSERT_EQ(1, first.GetCount()) << "the kind-2 root stays out";
  ASSERT_EQ(1, second.GetCount());
  EXPECT_TRUE(first.GetHead()->certificate == rootA);
  EXPECT_EQ(1u, first.GetHead()->word());
  EXPECT_TRUE(second.GetHead()->certificate == rootC);
  EXPECT_EQ(2u, km.rootList(true).elementAt(1)->word()) << "the kind kept in memory";

  KeyManager copy;
  copy.copyFrom(km);
  EXPECT_EQ(2, copy.rootList(true).GetCount());
  EXPECT_TRUE(copy.rootList(false).elementAt(0)->certificate == rootC);
  EXPECT_TRUE(copy.trustedListServices().empty());
}

TEST(KeyManagerMissing, OperationsWithoutAPrivateKey) {
  KeyManager km;
  std::vector<uint8_t> out;
  SecretBlock key(32);
  EXPECT_EQ(KM_NO_KEY, km.decryptSesKey(nullptr, 0, &key));
  EXPECT_EQ(KM_NO_KEY, km.openSession(3));
  EXPECT_EQ(KM_OK, km.openSession(1)) << "encryption takes the recipients' keys only";
  EXPECT_EQ(KM_NO_SESSION_KEY, km.processMsgInit(KM_CIPHER_AES128, nullptr, 0));
  EXPECT_EQ(KM_NO_SESSION_KEY, km.processMsgUpdate(nullptr, 0, out));
  EXPECT_EQ(KM_NO_SESSION_KEY, km.processMsgFinish(out));
  EXPECT_FALSE(km.isRecipient(DistinguishedName(), ASNinteger()));
  EXPECT_EQ(KM_DEVICE_ERROR, km.verifyCrtOnOstra(1, SignedCertificate(), 2));
  EXPECT_EQ(nullptr, km.getSgnCrtSerial());
  EXPECT_EQ(0, km.getSgnScheme());
  EXPECT_EQ(0u, km.getKeyBits(0));
  EXPECT_STREQ("Błędny PIN", getCkrErrorText(0xA0));
  EXPECT_STREQ("Brak karty w czytniku", getCkrErrorText(0xE0));
  EXPECT_STREQ("Nieznany błąd biblioteki PKCS#11", getCkrErrorText(0x80000001u));
}

TEST(Secrets, WipedBlocks) {
  SecretBlock block(48);
  for (size_t i = 0; i < block.size(); ++i) block.data()[i] = static_cast<uint8_t>(i + 1);
  block.clear();
  for (size_t i = 0; i < block.size(); ++i) ASSERT_EQ(0, block.data()[i]) << i;
  char pin[] = "1234";
  SecretBlock::wipe(pin, 4);
  EXPECT_EQ(0, std::memcmp(pin, "\0\0\0\0", 5));
  SecretBlock::wipe(nullptr, 4);
  SecretBlock::wipe(pin, 0);
}

}  // namespace
