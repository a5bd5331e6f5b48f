// One context serving many receipts, as a service does (talInitEx once, tvXmlUnprotect per
// receipt): the certificates a crafted receipt leaves in the context (thousands named like the
// intermediate, in an OCSP response it carries; made at test time by scripts/genhostile.py) never
// make a later genuine receipt's verdict worse than in a fresh context, nor its work grow; what
// the context remembers stays within the bounds the header gives. Work is counted (the account's
// units, the certificates the store's look-ups examine), never timed.
#include "upo_fixture.h"

#include "api/ctxrevocation.h"
#include "base/workaccount.h"

#include <map>

namespace {

using upofix::hostileVariant;
using upofix::readAll;
using upofix::unprotectText;
using upofix::UPO;
using upofix::Unprotected;

const char* const GENUINE[] = {"upo.xml", "upo-ec.xml", "upo-issuer-serial.xml", "upo-enveloped.xml"};

// How good a verdict is: a valid signature first, a negative one last.
int rank(int32_t status) {
  switch (status) {
    case SIG_STATUS_VALID: return 3;
    case SIG_STATUS_INCOMPLETE: return 2;
    case SIG_STATUS_NOT_VERIFIABLE: return 1;
    default: return 0;
  }
}

class ContextCertificates : public upofix::UpoContext {
 protected:
  // The certificates the context's store examined while one receipt was verified, and the units
  // its account spent.
  struct Work {
    Unprotected outcome;
    uint64_t examined = 0, units = 0;
  };
  Work verify(const std::string& text) {
    Work w;
    const uint64_t before = ctx->collectedStore.examined();
    w.outcome = unprotectText(ctx, text);
    w.examined = ctx->collectedStore.examined() - before;
    w.units = workAccountLastSpent();
    return w;
  }
};

TEST_F(ContextCertificates, CraftedReceiptsLeaveLaterVerdictsAsGoodAsFresh) {
  std::map<std::string, std::string> genuine;
  std::map<std::string, int32_t> fresh, served;
  for (const char* name : GENUINE) {
    genuine[name] = readAll(UPO + name);
    talCtx* own = another();
    fresh[name] = unprotectText(own, genuine[name]).status;
    EXPECT_EQ(0, talDeinit(own));
  }
  // The genuine receipts one after another: the issuer-serial one names its signer only, which
  // the context remembers from the first.
  for (const char* name : GENUINE) served[name] = verify(genuine[name]).outcome.status;
  EXPECT_EQ(SIG_STATUS_VALID, served["upo-issuer-serial.xml"]);
  const struct {
    const char* variant;
    int count;
  } crafted[] = {
      {"ocsp-intermediates", 4200},     // the receipt: own keys, no key identifier
      {"ocsp-intermediates-ski", 1000}, // the intermediate's key identifier: the AKI names them
      {"ocsp-intermediates-key", 1000}, // its key too: the signer's signature verifies under each
      {"carried-lookalikes", 255},      // look-alike issuers carried by the signature itself
  };
  for (const auto& row : crafted) {
    SCOPED_TRACE(row.variant);
    const int heldBefore = ctx->collectedStore.size();
    const Work w = verify(hostileVariant(row.variant, row.count));
    EXPECT_EQ(0, w.outcome.rc);
    // One document adds at most the bound of one call, and the context holds at most its own.
    EXPECT_LE(ctx->collectedStore.size() - heldBefore, TAL_REMEMBERED_BOUNDS.batchCount);
    EXPECT_LE(ctx->collectedStore.size(), TAL_REMEMBERED_BOUNDS.count);
    EXPECT_LE(ctx->collectedStore.octets(), TAL_REMEMBERED_BOUNDS.octets);
    for (const char* name : GENUINE) {
      SCOPED_TRACE(name);
      const Unprotected after = verify(genuine[name]).outcome;
      EXPECT_EQ(0, after.rc);
      EXPECT_GE(rank(after.status), rank(fresh[name]));
      EXPECT_EQ(served[name], after.status);
    }
  }
}

// Fifty crafted receipts, each bringing a hundred new certificates named like the intermediate,
// each followed by the genuine one: the store fills to its bound and stops there, and neither
// receipt's work grows with what the context holds. A store that compared each certificate it
// remembers with every one it holds, or a path builder that copied every certificate of the
// issuer's name, would examine and spend more each time.
TEST_F(ContextCertificates, WorkPerDocumentStaysFlatOverFiftyDocuments) {
  const std::string receipt = readAll(UPO + "upo.xml");
  std::vector<Work> crafted, genuine;
  for (int i = 0; i < 50; ++i) {
    crafted.push_back(verify(hostileVariant("ocsp-intermediates", 100)));
    genuine.push_back(verify(receipt));
    ASSERT_EQ(0, crafted.back().outcome.rc) << i;
    ASSERT_EQ(SIG_STATUS_VALID, genuine.back().outcome.status) << i;
  }
  EXPECT_EQ(TAL_REMEMBERED_BOUNDS.count, ctx->collectedStore.size());
  // From the second document on (the first meets an empty context) none does more than the
  // second did (once the store is full, less: what it meets is no longer looked up).
  for (size_t i = 2; i < genuine.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_LE(genuine[i].units, genuine[1].units);
    EXPECT_LE(genuine[i].examined, genuine[1].examined);
    EXPECT_LE(crafted[i].units, crafted[1].units);
    EXPECT_LE(crafted[i].examined, crafted[1].examined);
  }
}

// What the path builder may pass over as learned: certificates an earlier receipt left and the
// one under way did not bring again. Each receipt is one batch of the context's record.
TEST_F(ContextCertificates, OnlyWhatEarlierReceiptsLeftCountsAsLearned) {
  const std::string carrying = readAll(UPO + "upo.xml");
  ContextBuildEnvironment& build = contextServices(*ctx).build;
  ASSERT_EQ(SIG_STATUS_VALID, verify(carrying).outcome.status);
  ASSERT_GT(ctx->collectedStore.size(), 0);
  const SharedCertificate signer = ctx->collectedStore.list()[0];
  EXPECT_FALSE(build.learnedEarlier(signer));  // this receipt's own
  ASSERT_EQ(SIG_STATUS_VALID, verify(carrying).outcome.status);
  EXPECT_FALSE(build.learnedEarlier(signer));  // brought again
  // Naming its signer only, this one brings nothing: what it meets is what others left.
  ASSERT_EQ(SIG_STATUS_VALID, verify(readAll(UPO + "upo-issuer-serial.xml")).outcome.status);
  EXPECT_TRUE(build.learnedEarlier(signer));
}

}  // namespace
