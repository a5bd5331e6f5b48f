// The library context's side of path building: the key manager's roots as
// trust points, configuration option 37, and the extension checks of path
// verification, over openssl's chain and NIST PKITS certificates.
#include "api/pathenv.h"

#include "api/pathctx.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using pathctx::Context;
using pathctx::load;

TEST(ContextPathEnvironment, RootsOptionAndExtensionChecks) {
  struct Row {
    const char* name;
    const char* root;
    int group;  // 1 qualified
    bool option37;
    std::vector<const char*> intermediates;
    const char* end;
    int result;
    int items;
    int qualified;
  } rows[] = {
      {"other root", "paths/rsa/root.der", 0, false, {"paths/rsa/int1.der", "paths/rsa/int2.der"},
       "paths/rsa/ee.der", PATH_BUILT, 4, 0},
      {"qualified root", "paths/p256/root.der", 1, false,
       {"paths/p256/int1.der", "paths/p256/int2.der"}, "paths/p256/ee.der", PATH_BUILT, 4, 1},
      {"no root installed", nullptr, 0, false, {"paths/rsa/int1.der", "paths/rsa/int2.der"},
       "paths/rsa/ee.der", PATH_NOT_FOUND, -1, -1},
      {"option 37: the end certificate alone", nullptr, 0, true, {}, "paths/rsa/ee.der",
       PATH_BUILT, 1, 0},
      {"unknown critical extension rejected", "pkits/certs/TrustAnchorRootCertificate.crt", 0,
       false, {}, "pkits/certs/InvalidUnknownCriticalCertificateExtensionTest2EE.crt",
       PATH_NOT_FOUND, -1, -1},
      {"unknown non-critical extension passed over", "pkits/certs/TrustAnchorRootCertificate.crt",
       0, false, {}, "pkits/certs/ValidUnknownNotCriticalCertificateExtensionTest1EE.crt",
       PATH_BUILT, 2, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Context ctx;
    if (r.root) { ASSERT_EQ(KM_OK, ctx.keys.addCertificate(*load(r.root), r.group, 1)); }
    if (r.option37) { ASSERT_EQ(1, ctx.cfg.setOption(37, 1, true)); }
    for (const char* i : r.intermediates) ctx.inStore(i);
    CertificatePath path;
    EXPECT_EQ(r.result, ctx.build(r.end, path));
    if (r.items >= 0) { EXPECT_EQ(r.items, path.GetCount()); }
    if (r.qualified >= 0) { EXPECT_EQ(r.qualified, path.qualifiedRoot); }
  }
}

// Trusted-list services give their points of the asked kind only.
TEST(ContextPathEnvironment, TrustedListPointsByKind) {
  Context ctx;
  ASSERT_EQ(KM_OK, ctx.keys.addCertificate(*load("paths/rsa/root.der"), 1, 2));
  std::vector<const SignedCertificate*> points;
  size_t total = 0;
  for (int kind = 0; kind <= 5; ++kind) {
    points.clear();
    ctx.env.trustedListPoints(kind, points);
    if (kind < 1 || kind > 4) { EXPECT_TRUE(points.empty()) << kind; }
    total += points.size();
  }
  std::vector<const SignedCertificate*> roots;
  ctx.env.rootList(true, roots);
  EXPECT_EQ(1u, total + roots.size()) << "the root stands in one source";
}


// A path ending at a root holds the key manager's own body (its key prepared
// once for every build), and outlives the root's removal.
TEST(ContextPathEnvironment, PathHoldsTheRootItEndsAt) {
  Context ctx;
  const std::unique_ptr<SignedCertificate> root = load("paths/rsa/root.der");
  ASSERT_EQ(KM_OK, ctx.keys.addCertificate(*root, 0, 1));
  for (const char* i : {"paths/rsa/int1.der", "paths/rsa/int2.der"}) ctx.inStore(i);
  CertificatePath first, second;
  ASSERT_EQ(PATH_BUILT, ctx.build("paths/rsa/ee.der", first));
  ASSERT_EQ(PATH_BUILT, ctx.build("paths/rsa/ee.der", second));
  ASSERT_EQ(4, first.GetCount());
  ASSERT_EQ(1, ctx.keys.rootList(false).GetCount());
  EXPECT_TRUE(first.elementAt(3)->certificate.sharesBodyWith(
      ctx.keys.rootList(false).elementAt(0)->certificate));
  EXPECT_TRUE(first.elementAt(3)->certificate.sharesBodyWith(second.elementAt(3)->certificate));

  // The stored list emptied and read back: the root is gone from the manager.
  ASNsequenceList<SignedCertificate> none;
  ASSERT_EQ(1, ctx.cfg.storeRootList(false, none));
  ASSERT_EQ(KM_OK, ctx.keys.loadRoots(0));
  EXPECT_TRUE(ctx.keys.rootList(false).GetCount() == 0);
  EXPECT_TRUE(first.elementAt(3)->certificate == *root);
  EXPECT_TRUE(first.elementAt(3)->certificate->verifySelfSigned() ==
              SignedCertificate::CERT_SIG_VALID);
  CertificatePath after;
  EXPECT_EQ(PATH_NOT_FOUND, ctx.build("paths/rsa/ee.der", after));
}

}  // namespace

namespace {

// A file of tests/data/pki/certs read in place over a private copy, as received.
std::unique_ptr<SignedCertificate> received(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(f)), {});
  auto c = std::make_unique<SignedCertificate>();
  EXPECT_EQ(static_cast<int>(der.size()), c->decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY))
      << name;
  return c;
}

// A root signed over a TBS that is not DER (an explicit critical FALSE,
// openssl verifies it: tests/data/pki/certs/gen_nonder_chain.sh) is stored in
// the configuration, the configuration written and read back, and the roots
// reloaded from it: the root still verifies over its stored octets, as the
// end of a path of its own and as the trust point of the certificate it
// issued.
TEST(ContextPathEnvironment, RootsSignedOverNonDerReloadFromTheConfiguration) {
  for (int group : {0, 1}) {
    SCOPED_TRACE(group);
    Context ctx;
    const std::unique_ptr<SignedCertificate> root = received("nonder_ca.der");
    ASSERT_EQ(SignedCertificate::CERT_SIG_VALID, root->verifySelfSigned());
    ASSERT_EQ(KM_OK, ctx.keys.addCertificate(*root, group, 1));
    std::vector<uint8_t> file;
    ASSERT_TRUE(ctx.cfg.encodeConfiguration(file));
    ASSERT_EQ(1, ctx.cfg.loadConfiguration(file.data(), file.size()));
    ASSERT_EQ(KM_OK, ctx.keys.loadRoots(0));
    const auto& roots = ctx.keys.rootList(group != 0);
    ASSERT_EQ(1, roots.GetCount());
    EXPECT_TRUE(roots.elementAt(0)->certificate == *root);
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID,
              roots.elementAt(0)->certificate->verifySelfSigned());
    for (const char* end : {"nonder_ca.der", "nonder_ee.der"}) {
      SCOPED_TRACE(end);
      CertificatePath path;
      EXPECT_EQ(PATH_BUILT, ctx.builder.buildPathForCertificate(path, *received(end),
                                                                PATH_PURPOSE_SIGNER, true));
      EXPECT_EQ(group, path.qualifiedRoot);
    }
  }
}

}  // namespace
