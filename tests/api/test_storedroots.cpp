// Trusted roots stored for later contexts (talInstallRoot kind 1), over the public header only and
// a registry of the test's own: a later context of the user trusts them without installing them,
// one installed for a session (kind 2) is gone with it, and a context that stores one more root
// keeps those stored before.
#include "talvorin.h"

#include "apisession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::string ROOT = apisession::UPO + "roots/root.crt";
// A self-signed CA of its own, unrelated to the receipts.
const std::string OTHER_ROOT = std::string(TAL_TEST_DATA_DIR) + "/api/ctx/root.der";

class StoredRoots : public ::testing::Test {
 protected:
  void SetUp() override { fresh(); }
  void TearDown() override {
    for (const std::string& d : dirs) std::filesystem::remove_all(d);
  }
  // A registry of its own, with nothing stored.
  void fresh() {
    dirs.push_back(apisession::sandbox("api_storedroots"));
    ASSERT_FALSE(dirs.back().empty());
  }

  // A ready context of the verifier's profile, the receipts' intermediate given, offline, with
  // the roots given installed as the kinds given (before talAuthenticateEx, as the example does).
  static talCtx* open(const std::vector<std::pair<std::string, int32_t>>& roots) {
    static const char DATABASE[] = "w pamieci";
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    if (!profile) return nullptr;
    talSetProfileAttr(profile, TAL_ATTR_NAME, "StoredRoots", 12);
    talSetProfileAttr(profile, TAL_ATTR_DATABASE, DATABASE, sizeof DATABASE);
    talCtx* ctx = nullptr;
    if (talInitEx(&ctx, profile) != TAL_OK) return nullptr;
    for (const auto& root : roots) {
      talCert* cert = nullptr;
      EXPECT_EQ(0, talAllocateCertFromFile(root.first.c_str(), &cert));
      EXPECT_EQ(0, talInstallRoot(ctx, cert, root.second, 1)) << root.first;
      talDeleteCertificate(cert);
    }
    const std::vector<uint8_t> inter = apisession::fileBytes(apisession::UPO + "pki/intermediate.der");
    int32_t count = 0;
    EXPECT_EQ(0, talInstallMemCrt(ctx, inter.data(), static_cast<int32_t>(inter.size()), 1, &count));
    EXPECT_EQ(0, talSetOption(ctx, TAL_OPTION_OFFLINE, 1));
    EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
    return ctx;
  }

  // The receipt road in a context opened with the roots given: 0 verified, else the step that
  // failed (apisession::road; 2 when tvXmlUnprotect refuses, as without any root: 25).
  static int verify(const std::vector<std::pair<std::string, int32_t>>& roots) {
    talCtx* ctx = open(roots);
    if (!ctx) return -1;
    int rc = apisession::road(ctx, apisession::UPO + "upo.xml");
    EXPECT_EQ(0, talDeinit(ctx));
    return rc;
  }

  std::vector<std::string> dirs;
};

TEST_F(StoredRoots, ALaterContextTrustsTheRootsStoredNotThoseOfASession) {
  const struct {
    int32_t kind;
    int later;  // the road in a later context that installs no root
  } rows[] = {{TAL_ROOT_STORED, 0}, {TAL_ROOT_SESSION, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kind);
    fresh();
    EXPECT_EQ(0, verify({{ROOT, row.kind}}));
    EXPECT_EQ(row.later, verify({}));
    // And in the one after it: reading the stored roots changed nothing stored.
    EXPECT_EQ(row.later, verify({}));
  }
  // Nothing stored, nothing trusted.
  fresh();
  EXPECT_EQ(2, verify({}));
}

TEST_F(StoredRoots, StoringOneMoreRootKeepsThoseStoredBefore) {
  EXPECT_EQ(0, verify({{ROOT, TAL_ROOT_STORED}}));
  // Installed again, and another one stored beside it, by later contexts.
  EXPECT_EQ(0, verify({{ROOT, TAL_ROOT_STORED}, {OTHER_ROOT, TAL_ROOT_STORED}}));
  EXPECT_EQ(0, verify({{OTHER_ROOT, TAL_ROOT_STORED}}));
  EXPECT_EQ(0, verify({}));
}

}  // namespace
