// Trusted roots stored for later contexts (talInstallRoot kind 1), over the public header only and
// a registry of the test's own: a later context of the user trusts them without installing them,
// one installed for a session (kind 2) is gone with it, and a context that stores one more root
// keeps those stored before.
#include "talvorin.h"

#include "apisession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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

  // A root to install: its file, its kind and its group.
  struct Install {
    std::string file;
    int32_t kind;
    int32_t group = 1;
  };

  // A ready context of the verifier's profile, the receipts' intermediate given, offline, with
  // the roots given installed as the kinds given (before talAuthenticateEx, as the example does).
  static talCtx* open(const std::vector<Install>& roots, bool authenticate = true) {
    static const char DATABASE[] = "w pamieci";
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    if (!profile) return nullptr;
    talSetProfileAttr(profile, TAL_ATTR_NAME, "StoredRoots", 12);
    talSetProfileAttr(profile, TAL_ATTR_DATABASE, DATABASE, sizeof DATABASE);
    talCtx* ctx = nullptr;
    if (talInitEx(&ctx, profile) != TAL_OK) return nullptr;
    for (const auto& root : roots) {
      talCert* cert = nullptr;
      EXPECT_EQ(0, talAllocateCertFromFile(root.file.c_str(), &cert));
      EXPECT_EQ(0, talInstallRoot(ctx, cert, root.kind, root.group)) << root.file;
      talDeleteCertificate(cert);
    }
    const std::vector<uint8_t> inter = apisession::fileBytes(apisession::UPO + "pki/intermediate.der");
    int32_t count = 0;
    EXPECT_EQ(0, talInstallMemCrt(ctx, inter.data(), static_cast<int32_t>(inter.size()), 1, &count));
    EXPECT_EQ(0, talSetOption(ctx, TAL_OPTION_OFFLINE, 1));
    if (authenticate) EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
    return ctx;
  }

  // The receipt road in a context opened with the roots given: 0 verified, else the step that
  // failed (apisession::road; 2 when tvXmlUnprotect refuses, as without any root: 25).
  static int verify(const std::vector<Install>& roots) {
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

// A root stored in the first group, installed again by a later context: in the same group it
// changes nothing; in the other group it answers 132 once the stored roots count (from
// talAuthenticateEx on, at once for a kind-1 root), as one trusted there would.
TEST_F(StoredRoots, AStoredRootInstalledInTheOtherGroupAnswers132) {
  EXPECT_EQ(0, verify({{ROOT, TAL_ROOT_STORED}}));
  const struct {
    bool authenticated;
    int32_t kind, group, answer;
  } rows[] = {
      {true, TAL_ROOT_SESSION, 1, TAL_OK},
      {true, TAL_ROOT_STORED, 1, TAL_OK},
      {true, TAL_ROOT_SESSION, 0, ETAL_TRUSTED_CA_DIFFERENT_GROUP},
      {true, TAL_ROOT_STORED, 0, ETAL_TRUSTED_CA_DIFFERENT_GROUP},
      {false, TAL_ROOT_STORED, 0, ETAL_TRUSTED_CA_DIFFERENT_GROUP},
      {false, TAL_ROOT_SESSION, 0, TAL_OK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.authenticated) + " " + std::to_string(row.kind) + " " +
                 std::to_string(row.group));
    talCtx* ctx = open({}, row.authenticated);
    ASSERT_NE(nullptr, ctx);
    talCert* cert = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile(ROOT.c_str(), &cert));
    EXPECT_EQ(row.answer, talInstallRoot(ctx, cert, row.kind, row.group));
    talDeleteCertificate(cert);
    EXPECT_EQ(0, talDeinit(ctx));
  }
  // Still stored, in its group.
  EXPECT_EQ(0, verify({}));
}

// A context that installs a stored root for its session (in its group or the other one), so
// that it does not take the stored one in, and stores another root: the first stays stored.
TEST_F(StoredRoots, AStoredRootTheContextLeavesOutStaysStored) {
  for (int32_t group : {1, 0}) {
    SCOPED_TRACE(group);
    fresh();
    EXPECT_EQ(0, verify({{ROOT, TAL_ROOT_STORED}}));
    talCtx* ctx = open({{ROOT, TAL_ROOT_SESSION, group}, {OTHER_ROOT, TAL_ROOT_STORED}});
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(0, talDeinit(ctx));
    EXPECT_EQ(0, verify({}));
  }
}

}  // namespace
