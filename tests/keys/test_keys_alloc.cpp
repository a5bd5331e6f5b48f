// Allocation failures in the key manager: this program can make the n-th allocation fail. A
// reload of the stored roots that runs out of memory answers 4 (or 12 when the stored list
// could not be decoded for it), keeps the roots it had and leaks nothing (LeakSanitizer); so
// does the reading of a PKCS#12 key file, which never calls the file malformed for it.
#include "keys/keyconfig.h"
#include "keys/keymanager.h"
#include "keys/pkcs12key.h"
#include "rootfiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

// Allocation number `failAt` (counted from arming) fails; 0 never.
long g_failAt = 0, g_count = 0;

void* counted(size_t n) {
  if (g_failAt && ++g_count == g_failAt) return nullptr;
  return std::malloc(n ? n : 1);
}

}  // namespace

void* testAllocate(size_t n) { return counted(n); }

#include "failingnew.h"

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
    int r = list.decodeVector(bytes);
    return r > 0 ? 1 : (r == EASN_MEM ? -2 : 0);
  }
  std::vector<unsigned char> first, second;
};


TEST(KeyManagerAllocation, RootReloadOutOfMemory) {
  ListConfig config;
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&config));
  // A stored root in each group and a root of another kind, which the reload copies over.
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-a.der"), 1, 1));
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-b.der"), 1, 2));
  ASSERT_EQ(KM_OK, km.addCertificate(loadCertificate("root-c.der"), 0, 1));
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
      ASSERT_TRUE(answer == KM_NO_MEMORY || answer == KM_SETTINGS_FORMAT || answer == KM_OK)
          << "allocation " << failAt << ": " << answer;
    }
    ASSERT_EQ(2u, km.rootList(true).size()) << failAt;
    ASSERT_EQ(1u, km.rootList(false).size()) << failAt;
  }
  EXPECT_TRUE(completed);
}

TEST(KeyManagerAllocation, Pkcs12FileOutOfMemory) {
  // openssl's files (tests/data/keys/p12/make_p12.sh): the PKCS#12 schemes, PBES2.
  for (const char* name : {"both-legacy.p12", "both-aes.p12"}) {
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/p12/" + name, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
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

}  // namespace
