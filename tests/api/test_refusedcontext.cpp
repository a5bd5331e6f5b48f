// A document refused for its work (140) leaves its context as it was: the
// CRLs pending and verified, the certificates and CRLs collected, the paths
// cached. Each case starts from a fresh context, so that nothing the context
// held already hides what the refused document would have left; the receipt
// verified next answers what it answers where no refused document came before.
#include "upo_fixture.h"

#include "base/workaccount.h"

namespace {

using upofix::hostileVariant;
using upofix::readAll;
using upofix::UPO;

// The receipt's signature twice under one root, the copy's Ids renamed: the
// genuine signature is verified (its path, its CRLs, its certificates
// remembered) before the copy's work begins.
std::string twice(const std::string& receipt) {
  const size_t start = receipt.find("<ds:Signature");
  const std::string end = "</ds:Signature>";
  const size_t stop = receipt.rfind(end) + end.size();
  std::string copy = receipt.substr(start, stop - start);
  for (const std::string from : {"ID-UPO-", "Dokument-0"})
    for (size_t at = copy.find(from); at != std::string::npos; at = copy.find(from, at + 1))
      copy.replace(at, from.size(), from + "b");
  return receipt.substr(0, start) + "<r>" + receipt.substr(start, stop - start) + copy + "</r>" +
         receipt.substr(stop);
}

// What a verification may change in the context: the CRL lists, the OCSP
// cache, the CRLs' serial indexes, the certificates and CRLs collected (and
// whether any is), the paths cached.
struct Held {
  SharedCrlList pending, verified;
  std::vector<std::shared_ptr<const BasicOCSPResponse>> ocsp;
  std::vector<const SignedCertRevList*> serialIndexes;
  int certificates = 0;
  size_t crls = 0;
  bool nothingCollected = true;
  bool cachedSigner = false;
  bool operator==(const Held& o) const {
    return pending == o.pending && verified == o.verified && ocsp == o.ocsp &&
           serialIndexes == o.serialIndexes && certificates == o.certificates && crls == o.crls &&
           nothingCollected == o.nothingCollected && cachedSigner == o.cachedSigner;
  }
};

enum Trip { NONE, HALF, LAST };  // the clock tripped at no read, half the reads, the last

struct Case {
  const char* name;
  const char* before;  // verified first ("": nothing)
  std::string (*document)();
  Trip trip;
  const char* after;  // verified after the refused document
  bool cache;         // option 23: verified paths cached
};

std::string receiptTwice() { return twice(readAll(UPO + "upo.xml")); }
std::string largeKeys() { return hostileVariant("keys-e64", 32); }
std::string ocspLookAlikes() { return hostileVariant("ocsp-lookalikes", 40); }
std::string carriedLookAlikes() { return hostileVariant("carried-lookalikes", 20); }
std::string forgedCrl() { return upofix::withForgedCrl(readAll(UPO + "upo.xml")); }

const Case CASES[] = {
    // The account runs out at the large keys, after the genuine signature.
    {"keys-bare", "upo-bare.xml", largeKeys, NONE, "upo-bare.xml", false},
    {"keys-issuer-serial", "", largeKeys, NONE, "upo-issuer-serial.xml", false},
    // The clock runs out inside the copy of the genuine signature.
    {"twice-half-bare", "upo-bare.xml", receiptTwice, HALF, "upo-bare.xml", false},
    {"twice-last-issuer-serial", "", receiptTwice, LAST, "upo-issuer-serial.xml", false},
    {"twice-last-cached", "", receiptTwice, LAST, "upo.xml", true},
    // The clock runs out after the verdict: the certificates the signature and an
    // OCSP response carried were remembered.
    {"carried-last", "upo-bare.xml", carriedLookAlikes, LAST, "upo-issuer-serial.xml", false},
    {"ocsp-last", "", ocspLookAlikes, LAST, "upo-issuer-serial.xml", false},
    // A copy of the intermediate's CRL, newer, under its signature value: its
    // serial index takes the genuine CRL's place until the refusal puts it back.
    {"forged-crl-last", "upo.xml", forgedCrl, LAST, "upo.xml", false},
};

class RefusedContext : public upofix::UpoContext, public ::testing::WithParamInterface<Case> {
 protected:
  void TearDown() override {
    workAccountTripAfter(0);
    UpoContext::TearDown();
  }

  // A second context set up as the fixture's, with the cache option of the case.
  talCtx* withOption() {
    talCtx* c = another();
    caching(c);
    return c;
  }
  void caching(talCtx* c) {
    if (GetParam().cache) {
      EXPECT_EQ(1, c->configuration.setOption(23, 1, true));
    }
  }

  static Held held(talCtx* c) {
    const RevocationManager& m = contextServices(*c).manager;
    Held h{m.pendingCrls, m.verifiedCrls, m.ocspCache, m.serialIndexes(),
           c->collectedStore.size(), c->collectedCrls.size(), c->nothingCollected};
    const auto signer = upofix::loadFile<SignedCertificate>(UPO + "pki/signer-rsa.der");
    IssuerAndSerialNumber id;
    id.issuer = signer->tbsCertificate.issuer;
    id.serialNumber = signer->tbsCertificate.serialNumber;
    h.cachedSigner = c->verifiedCache.findEntry(id) != nullptr;
    return h;
  }

  static upofix::Unprotected verify(talCtx* c, const std::string& file) {
    return upofix::unprotectText(c, readAll(UPO + file));
  }
};

TEST_P(RefusedContext, LeavesTheContextAsItWas) {
  const Case& row = GetParam();
  const std::string doc = row.document();
  // Where no refused document comes between: the answer to match; and the
  // clock reads of the whole document after the same history, for its trip.
  talCtx* plain = withOption();
  if (*row.before) verify(plain, row.before);
  const upofix::Unprotected expected = verify(plain, row.after);
  EXPECT_EQ(0, talDeinit(plain));
  uint64_t reads = 0;
  if (row.trip != NONE) {
    talCtx* counted = withOption();
    if (*row.before) verify(counted, row.before);
    EXPECT_EQ(0, upofix::unprotectText(counted, doc).rc);
    reads = workAccountLastReads();
    EXPECT_EQ(0, talDeinit(counted));
  }

  caching(ctx);
  if (*row.before) verify(ctx, row.before);
  // A response an earlier document had fetched: each path verification
  // empties the cache, and a refusal brings it back.
  contextServices(*ctx).manager.ocspCache.push_back(std::make_shared<BasicOCSPResponse>());
  const Held before = held(ctx);
  if (row.trip != NONE) workAccountTripAfter(static_cast<long>(row.trip == HALF ? reads / 2 : reads));
  EXPECT_EQ(140, upofix::unprotectText(ctx, doc).rc);
  workAccountTripAfter(0);
  EXPECT_TRUE(held(ctx) == before);
  const upofix::Unprotected next = verify(ctx, row.after);
  EXPECT_EQ(expected.rc, next.rc);
  EXPECT_EQ(expected.status, next.status);
}

// CRLs collected from the network and certificates remembered since the
// snapshot go, those before it stay.
class Snapshot : public upofix::UpoContext {};

TEST_F(Snapshot, RestoreDropsWhatWasCollectedSince) {
  const auto root = upofix::loadFile<SignedCertRevList>(UPO + "crl/root.der");
  const auto intermediate = upofix::loadFile<SignedCertRevList>(UPO + "crl/intermediate-hold.der");
  const auto signer = upofix::loadFile<SignedCertificate>(UPO + "pki/signer-rsa.der");
  const auto tsa = upofix::loadFile<SignedCertificate>(UPO + "pki/tsa.der");
  ctx->rememberCrl(*root);
  ctx->rememberCertificate(*signer);
  VerificationSnapshot snapshot(*ctx);
  ctx->rememberCrl(*intermediate);
  ctx->rememberCertificate(*tsa);
  ASSERT_EQ(2u, ctx->collectedCrls.size());
  ASSERT_EQ(2, ctx->collectedStore.size());
  snapshot.restore();
  ASSERT_EQ(1u, ctx->collectedCrls.size());
  EXPECT_TRUE(equalCrls(*ctx->collectedCrls[0], *root));
  EXPECT_EQ(1, ctx->collectedStore.size());
  EXPECT_TRUE(ctx->collectedStore.holdsIssuerSerial(signer->tbsCertificate.issuer,
                                                    signer->tbsCertificate.serialNumber));
  EXPECT_FALSE(ctx->nothingCollected);
}

INSTANTIATE_TEST_SUITE_P(Shapes, RefusedContext, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
