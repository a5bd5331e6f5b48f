// A refused document's changes undone when memory runs out: whichever
// allocation fails, the revocation manager's lists come back whole (never an
// emptied entry), and the verified cache keeps nothing the document added.
#include "store/revcache.h"
#include "store/revmgr.h"

#include "revoc_fixtures.h"

#include <gtest/gtest.h>

#include "failonce.h"

namespace {

using revfix::get;

TEST(RefusalWithoutMemory, RevocationListsComeBackWhole) {
  FixedPathClock clock(0);
  const auto reasons = get<SignedCertRevList>("crl-reasons.der");
  const auto hold = get<SignedCertRevList>("crl-hold.der");
  const auto other = get<SignedCertRevList>("crl-dp-a.der");
  for (long n = 1;; ++n) {
    RevocationManager m(clock, nullptr);
    m.pendingCrls.emplace_back(new SignedCertRevList(*reasons));
    m.recordVerifiedCrl(*hold);
    const SharedCrlList verified = m.verifiedCrls, pending = m.pendingCrls;
    RevocationManager::Saved saved = m.save();
    // The refused document's: one CRL verified in another's place, one of its own pending.
    m.recordVerifiedCrl(*reasons);
    m.pendingCrls.emplace_back(new SignedCertRevList(*other));
    const bool failed = failingOnce(n, [&] {
      try {
        m.restore(saved);
      } catch (const std::bad_alloc&) {
      }
    });
    EXPECT_EQ(verified, m.verifiedCrls) << "allocation " << n;
    EXPECT_EQ(pending, m.pendingCrls) << "allocation " << n;
    if (!failed) break;
  }
}

TEST(RefusalWithoutMemory, NoPathOfTheRefusedDocumentStaysCached) {
  const auto ca = get<SignedCertificate>("ca.der");
  const auto hold = get<SignedCertRevList>("crl-hold.der");
  const int64_t issued = hold->tbsCertList.thisUpdate.toTime64(true);
  for (long n = 1;; ++n) {
    FixedPathClock clock(issued);
    VerifiedRevocationCache cache([] { return true; }, clock);
    cache.storeRevocationResult(*hold, hold->tbsCertList.nextUpdate);  // an earlier document's
    cache.begin();
    CertificatePath path;
    auto* item = new CertificateItem;
    item->certificate = *ca;
    ASSERT_EQ(1, path.append(item));
    ASSERT_TRUE(cache.insertEntry(path, 1));
    // Found expired and dropped after the path was added: undone first.
    clock.set(hold->tbsCertList.nextUpdate.toTime64(true) + 1);
    ASSERT_FALSE(cache.matchesEntry(*hold));
    const bool failed = failingOnce(n, [&] {
      try {
        cache.rollback();
      } catch (const std::bad_alloc&) {
      }
    });
    IssuerAndSerialNumber id;
    id.issuer = ca->tbsCertificate.issuer;
    id.serialNumber = ca->tbsCertificate.serialNumber;
    EXPECT_EQ(nullptr, cache.findEntry(id)) << "allocation " << n;
    clock.set(issued);
    EXPECT_EQ(!failed, cache.matchesEntry(*hold)) << "allocation " << n;
    if (!failed) break;
  }
}

}  // namespace
