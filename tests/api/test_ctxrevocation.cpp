// The verification services of a library context over an openssl-made PKI
// (tests/data/api/verify/gen.sh): the installed root as trust point, the
// intermediate from the certificate database, CRLs from the CRL database, a
// revoked certificate caught, the verified-path cache answering the second
// time (option 23), CRLs met imported at the flush and copied into a clone.
#include "verify_fixture.h"

#include "api/sigverifier.h"
#include "base/talexception.h"
#include "store/pathverify.h"

namespace {

using verifyfix::load;

class Services : public verifyfix::VerifyContext {};

TEST_F(Services, PathOfTheInstalledRootWithCrlsFromTheDatabase) {
  struct Row {
    const char* name;
    const char* certificate;
    std::vector<std::string> crls;
    int result;
    uint32_t wwc;          // the end certificate's
    uint32_t states[2];    // revocationState of the end certificate and the intermediate
  } rows[] = {
      {"valid, both CRLs", "signer.der", {"sub-crl.der", "root-crl.der"}, PATH_RESULT_OK, WWC_OK,
       {REVSTATE_FOUND, REVSTATE_FOUND}},
      {"revoked", "revoked.der", {"sub-crl.der", "root-crl.der"}, PATH_RESULT_FAILED, WWC_REVOKED,
       {REVSTATE_FOUND, REVSTATE_NONE}},
      {"no CRL anywhere", "signer.der", {}, PATH_RESULT_OK, WWC_OK,
       {REVSTATE_NO_DATA, REVSTATE_NO_DATA}},
      {"only the root's CRL", "signer.der", {"root-crl.der"}, PATH_RESULT_OK, WWC_OK,
       {REVSTATE_NO_DATA, REVSTATE_FOUND}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    ctx = open();
    installRoot(0);
    storeSubAndCrls(r.crls);
    ContextRevocation& services = contextServices(*ctx);
    CertificatePath path;
    ASSERT_EQ(PATH_BUILT, services.builder(ctx->report)
                              .buildPathForCertificate(path, *load<SignedCertificate>(r.certificate),
                                                       PATH_PURPOSE_SIGNER, false));
    ASSERT_EQ(3, path.GetCount());
    EXPECT_TRUE(path.elementAt(2)->certificate == *load<SignedCertificate>("root.der"));
    RevocationArgs args;
    EXPECT_EQ(r.result, services.verification.verifyPath(path, args, false, PATH_PURPOSE_SIGNER, false,
                                                         &ctx->report, nullptr));
    EXPECT_EQ(r.wwc, path.elementAt(0)->wwc);
    EXPECT_EQ(r.states[0], path.elementAt(0)->revocationState);
    if (r.result == PATH_RESULT_OK) { EXPECT_EQ(r.states[1], path.elementAt(1)->revocationState); }
  }
}

// The revocation manager's network is the context's: OCSP and CRL fetching
// follow options 18 (no network) and 16 (no CRL or OCSP fetching).
TEST_F(Services, NetworkFollowsTheContextsOptions) {
  ContextRevocation& services = contextServices(*ctx);
  EXPECT_EQ(&services.network, services.manager.network);
  const struct {
    int option18, option16;
    bool allowed;
  } rows[] = {{0, 0, true}, {1, 0, false}, {0, 1, false}, {1, 1, false}};
  for (const auto& r : rows) {
    ASSERT_EQ(1, ctx->configuration.setOption(18, r.option18, true));
    ASSERT_EQ(1, ctx->configuration.setOption(16, r.option16, true));
    EXPECT_EQ(r.allowed, services.network.ocspFetchAllowed()) << r.option18 << r.option16;
  }
}

TEST_F(Services, NoRootNoPath) {
  storeSubAndCrls({});
  CertificatePath path;
  EXPECT_EQ(PATH_NOT_FOUND,
            contextServices(*ctx).builder(ctx->report).buildPathForCertificate(
                path, *load<SignedCertificate>("signer.der"), PATH_PURPOSE_SIGNER, false));
}

TEST_F(Services, VerifiedPathCacheAnswersTheSecondTimeWhileOption23IsOn) {
  installRoot(0);
  storeSubAndCrls({"sub-crl.der", "root-crl.der"});
  auto signer = load<SignedCertificate>("signer.der");
  for (int option : {1, 0}) {
    SCOPED_TRACE(option);
    ASSERT_EQ(1, ctx->configuration.setOption(23, option, true));
    std::vector<size_t> written;
    for (int round = 0; round < 2; ++round) {
      checkCtxAndResetReport(CtxUse(ctx));
      SignatureVerifier verifier(ctx);
      CertificateVerdict verdict;
      verifier.verifyCertificate(&verdict, signer.get());
      EXPECT_EQ(SIG_STATUS_VALID, verdict.status);
      EXPECT_EQ(SIG_QUALIFICATION_ORDINARY, verdict.qualification);
      EXPECT_EQ(3, verdict.path.GetCount());
      written.push_back(report().size());
    }
    EXPECT_GT(written[0], 0u);
    // A hit writes nothing; without the cache the second check runs in full.
    if (option)
      EXPECT_EQ(0u, written[1]);
    else
      EXPECT_EQ(written[0], written[1]);
  }
  // A certificate with a cached one's issuer and serial but other octets (its
  // signature altered) is judged on its own, not taken from the cache.
  ASSERT_EQ(1, ctx->configuration.setOption(23, 1, true));
  std::vector<unsigned char> der = verifyfix::bytes("signer.der");
  der.back() ^= 1;
  SignedCertificate altered;
  ASSERT_EQ(static_cast<int>(der.size()), altered.decodeVector(der));
  for (const SignedCertificate* c : {signer.get(), &altered, signer.get()}) {
    SignatureVerifier verifier(ctx);
    CertificateVerdict verdict;
    verifier.verifyCertificate(&verdict, c);
    EXPECT_EQ(c == signer.get() ? SIG_STATUS_VALID : SIG_STATUS_NOT_VERIFIABLE, verdict.status);
  }
  // The revoked certificate is judged, not cached.
  auto revoked = load<SignedCertificate>("revoked.der");
  for (int round = 0; round < 2; ++round) {
    SignatureVerifier verifier(ctx);
    CertificateVerdict verdict;
    verifier.verifyCertificate(&verdict, revoked.get());
    EXPECT_EQ(SIG_STATUS_NEGATIVE, verdict.status);
    EXPECT_EQ(SIG_REASON_REVOKED, verdict.reason);
  }
}

// A CRL met whose scope cannot be read (a non-critical issuingDistributionPoint
// with both only-flags set passes CRL verification) is passed over at the
// flush like any CRL the database refuses: the others are imported and the
// context still closes.
TEST_F(Services, CrlOfUnreadableScopeDoesNotStopTheFlush) {
  auto odd = load<SignedCertRevList>("root-crl.der");
  const unsigned char bothFlags[] = {0x30, 0x06, 0x81, 0x01, 0xFF, 0x82, 0x01, 0xFF};
  auto* idp = new Extension;
  idp->extnID = id_ce_issuingDistributionPoint;
  idp->extnValue.set(bothFlags, sizeof bothFlags);
  ASSERT_EQ(1, odd->tbsCertList.crlExtensions.inner.append(idp));
  auto crl = load<SignedCertRevList>("sub-crl.der");
  ctx->rememberCrl(*odd);
  ctx->rememberCrl(*crl);
  int32_t flushed = -1;
  try {
    flushed = ctx->flushNewCertificates();
  } catch (const TalApiException& e) {
    ADD_FAILURE() << "the flush threw " << e.getCode();
  }
  EXPECT_EQ(0, flushed);
  EXPECT_TRUE(ctx->collectedCrls.empty());
  std::vector<std::unique_ptr<SignedCertRevList>> stored;
  ASSERT_EQ(CRLDB_OK,
            contextServices(*ctx).crlDatabase.listDatabaseCrls(crl->tbsCertList.issuer, stored));
  ASSERT_EQ(1u, stored.size());
  EXPECT_TRUE(sameCrl(*stored[0], *crl));
}

TEST_F(Services, CrlsMetAreImportedAtTheFlushAndCopiedIntoAClone) {
  auto crl = load<SignedCertRevList>("sub-crl.der");
  ctx->rememberCrl(*crl);
  ctx->rememberCrl(*load<SignedCertRevList>("sub-crl.der"));
  EXPECT_EQ(1u, ctx->collectedCrls.size());
  EXPECT_EQ(0, ctx->flushNewCertificates());
  EXPECT_TRUE(ctx->collectedCrls.empty());
  std::vector<std::unique_ptr<SignedCertRevList>> stored;
  ASSERT_EQ(CRLDB_OK, contextServices(*ctx).crlDatabase.listDatabaseCrls(crl->tbsCertList.issuer, stored));
  ASSERT_EQ(1u, stored.size());
  EXPECT_TRUE(sameCrl(*stored[0], *crl));

  RevocationManager& manager = contextServices(*ctx).manager;
  manager.verifiedCrls.emplace_back(new SignedCertRevList(*crl));
  manager.pendingCrls.emplace_back(new SignedCertRevList(*load<SignedCertRevList>("root-crl.der")));
  talCtx* clone = nullptr;
  ASSERT_EQ(0, talCloneCtx(ctx, &clone));
  ContextRevocation& copy = contextServices(*clone);
  EXPECT_EQ(&copy.context, clone);
  ASSERT_EQ(1u, copy.manager.verifiedCrls.size());
  ASSERT_EQ(1u, copy.manager.pendingCrls.size());
  EXPECT_NE(copy.manager.verifiedCrls[0].get(), manager.verifiedCrls[0].get());
  EXPECT_TRUE(sameCrl(*copy.manager.verifiedCrls[0], *crl));
  EXPECT_EQ(0, talDeinit(clone));
}

}  // namespace
