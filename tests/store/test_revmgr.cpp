// The status of one certificate over CRLs of `openssl ca -gencrl` and OCSP
// responses of `openssl ocsp` (tests/data/store/revoc/gen.sh).
#include "store/revmgr.h"
#include "store/dbmanager.h"
#include "base/workaccount.h"

#include "pki/common/oids.h"
#include "revoc_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using revfix::basic;
using revfix::get;

X509time at(const X509time& base, int64_t delta) {
  X509time t;
  t.setFromTime64(base.toTime64(true) + delta, true);
  return t;
}

// A time or timemark at the certificate's notBefore (before the CRLs and responses).
const int64_t kAtNotBefore = INT64_MIN;

struct Outcome {
  uint32_t wwc, state, source, fresh;
};

TEST(RevocationManager, StatusFromOpensslCrlsAndResponses) {
  auto issuer = get<SignedCertificate>("ca.der");
  const X509time base = get<SignedCertRevList>("crl-big.der")->tbsCertList.thisUpdate;
  const struct {
    const char* cert;
    const char* crl;   // given CRL or ""
    const char* ocsp;  // given response or ""
    int64_t time;      // seconds after `base`
    int64_t timemark;  // 0: none; else seconds after base
    Outcome expected;
  } cases[] = {
      {"user.der", "crl-reasons.der", "", 60, 0, {2, 1, 1, 0}},    // keyCompromise
      {"user2.der", "crl-reasons.der", "", 60, 0, {2, 1, 1, 0}},   // hold, instruction reject
      {"user2.der", "crl-hold.der", "", 60, 0, {5, 1, 1, 0}},      // hold, no instruction
      {"subca.der", "crl-reasons.der", "", 60, 0, {2, 1, 1, 0}},   // removeFromCRL
      {"user.der", "crl-hold.der", "", 60, 0, {1, 1, 1, 0}},       // not listed
      {"user.der", "crl-expired.der", "", 7200, 0, {2, 3, 1, 1}},  // nextUpdate passed
      {"user.der", "crl-reasons.der", "", 60, kAtNotBefore, {1, 1, 1, 0}},  // revoked after
                                                                            // signing
      {"subca.der", "crl-hold.der", "", 60, 60, {1, 1, 1, 0}},     // CA: lenient grading
      {"user2.der", "", "ocsp-good.der", 60, 0, {1, 1, 2, 0}},
      {"user.der", "", "ocsp-revoked.der", 60, 0, {2, 1, 2, 0}},
      {"subca.der", "", "ocsp-unknown.der", 60, 0, {1, 2, 0, 1}},  // unknown status dropped
      {"user.der", "", "ocsp-good.der", 60, 0, {1, 2, 0, 1}},      // another certificate
      {"user2.der", "", "ocsp-good.der", kAtNotBefore, 0, {1, 2, 0, 1}},  // thisUpdate after R
      {"user.der", "crl-hold.der", "", 60, 30, {1, 4, 1, 1}},  // end entity, CRL before timemark
      {"user2.der", "", "ocsp-good.der", 8 * 86400, 0, {1, 2, 0, 1}},  // nextUpdate passed
      {"user2.der", "crl-hold.der", "ocsp-good.der", 60, 0, {1, 1, 2, 0}},  // OCSP later
      {"user2.der", "crl-big.der", "ocsp-good.der", 60, 0, {1, 1, 2, 0}},   // tie: OCSP
  };
  for (const auto& c : cases) {
    CertificateItem item;
    item.certificate = *get<SignedCertificate>(c.cert);
    const X509time& notBefore = item.certificate->tbsCertificate.validity.notBefore;
    FixedPathClock clock(c.time == kAtNotBefore ? notBefore.toTime64(true)
                                                : base.toTime64(true) + c.time);
    RevocationManager m(clock, nullptr);
    std::unique_ptr<SignedCertRevList> crl;
    if (*c.crl) crl = get<SignedCertRevList>(c.crl);
    std::unique_ptr<BasicOCSPResponse> ocsp;
    if (*c.ocsp) ocsp = basic(c.ocsp);
    X509time mark = c.timemark == kAtNotBefore ? notBefore : at(base, c.timemark);
    RevocationArgs args;
    if (c.timemark) args.timemark = &mark;
    UsedRevocationData used;
    ASSERT_EQ(0, m.checkStatus(item, args, ocsp.get(), *issuer, crl.get(), used));
    const std::string what = std::string(c.cert) + " " + c.crl + " " + c.ocsp;
    EXPECT_EQ(c.expected.wwc, item.wwc) << what;
    EXPECT_EQ(c.expected.state, item.revocationState) << what;
    EXPECT_EQ(c.expected.source, item.revocationSource) << what;
    EXPECT_EQ(c.expected.fresh, item.freshCrlWanted & 0xFF) << what;
  }
}

// A CRL handed in is held to its scope like a listed one: a CRL of another
// distribution point or of the other kind of certificate decides nothing (it
// lists none of the certificates it leaves out), and no listed CRL stands in
// for it.
TEST(RevocationManager, GivenCrlHeldToItsScope) {
  auto issuer = get<SignedCertificate>("ca.der");
  FixedPathClock clock(
      get<SignedCertRevList>("crl-big.der")->tbsCertList.thisUpdate.toTime64(true) + 60);
  const struct {
    const char* cert;
    const char* crl;
    bool pending;  // crl-reasons.der, which covers every certificate here, is pending
    Outcome expected;
  } cases[] = {
      {"subca.der", "crl-dp-a.der", false, {1, 2, 0, 1}},     // another point than its issuer
      {"user.der", "crl-ca-only.der", false, {1, 2, 0, 1}},   // CA certificates only
      {"user.der", "crl-ca-only.der", true, {1, 2, 0, 1}},
      {"subca.der", "crl-user-only.der", false, {1, 2, 0, 1}},
      {"dp-uri.der", "crl-dp-b.der", false, {1, 2, 0, 1}},
      {"dp-uri.der", "crl-dp-a.der", false, {1, 1, 1, 0}},    // its own point
      {"user.der", "crl-user-only.der", false, {1, 1, 1, 0}},
      {"subca.der", "crl-ca-only.der", false, {2, 1, 1, 0}},  // listed: caCompromise
  };
  for (const auto& c : cases) {
    const std::string what = std::string(c.cert) + " " + c.crl + (c.pending ? " pending" : "");
    RevocationManager m(clock, nullptr);
    if (c.pending) m.pendingCrls.emplace_back(get<SignedCertRevList>("crl-reasons.der").release());
    CertificateItem item;
    item.certificate = *get<SignedCertificate>(c.cert);
    auto crl = get<SignedCertRevList>(c.crl);
    UsedRevocationData used;
    RevocationArgs args;
    ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *issuer, crl.get(), used)) << what;
    EXPECT_EQ(c.expected.wwc, item.wwc) << what;
    EXPECT_EQ(c.expected.state, item.revocationState) << what;
    EXPECT_EQ(c.expected.source, item.revocationSource) << what;
    EXPECT_EQ(c.expected.fresh, item.freshCrlWanted & 0xFF) << what;
    EXPECT_EQ(c.expected.source == REVSOURCE_CRL ? crl.get() : nullptr, used.crl) << what;
    EXPECT_FALSE(used.crlToVerify) << what;
  }
}

// The lists and the database: scope applies to listed CRLs, a database
// failure leaves "no data, fresh CRL wanted", a database CRL is handed back.
TEST(RevocationManager, ListsAndDatabase) {
  auto issuer = get<SignedCertificate>("ca.der");
  auto subca = get<SignedCertificate>("subca.der");
  FixedPathClock clock(get<SignedCertRevList>("crl-big.der")->tbsCertList.thisUpdate.toTime64(true));
  RevocationArgs args;
  {
    RevocationManager m(clock, nullptr);
    m.verifiedCrls.emplace_back(get<SignedCertRevList>("crl-user-only.der").release());
    CertificateItem item;
    item.certificate = *subca;
    UsedRevocationData used;
    m.checkStatus(item, args, nullptr, *issuer, nullptr, used);
    EXPECT_EQ(REVSTATE_NO_DATA, item.revocationState);  // a user-only CRL cannot clear a CA
    m.pendingCrls.emplace_back(get<SignedCertRevList>("crl-ca-only.der").release());
    m.checkStatus(item, args, nullptr, *issuer, nullptr, used);
    EXPECT_EQ(WWC_REVOKED, item.wwc);
    ASSERT_TRUE(used.crlToVerify);  // pending: to be verified
  }
  {
    DbManager none;  // no database: every look-up fails
    CrlDatabase broken(none);
    RevocationManager m(clock, nullptr);
    m.database = &broken;
    CertificateItem item;
    item.certificate = *subca;
    UsedRevocationData used;
    EXPECT_EQ(0, m.checkStatus(item, args, nullptr, *issuer, nullptr, used));
    EXPECT_EQ(WWC_OK, item.wwc);
    EXPECT_EQ(REVSTATE_NO_DATA, item.revocationState);
    EXPECT_EQ(1u, item.freshCrlWanted & 0xFF);
  }
}

// CRLs are told apart by signature value and a digest of their encodings,
// whether read in place (received octets) or decoded into values.
TEST(RevocationManager, CrlEquality) {
  auto inPlace = [](const char* name) {
    auto c = std::make_unique<SignedCertRevList>();
    const auto der = revdouble::readFile(revfix::kDir + name);
    EXPECT_EQ(static_cast<int>(der.size()),
              c->decodeVector(der, static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY)));
    return c;
  };
  auto tampered = get<SignedCertRevList>("crl-reasons.der");
  CRLentry* first = tampered->tbsCertList.revokedCertificates.GetAt(
      tampered->tbsCertList.revokedCertificates.GetHeadPosition());
  first->userCertificate.set(7u);  // same signature value, other contents
  const struct {
    const char* name;
    std::unique_ptr<SignedCertRevList> a, b;
    bool equal;
  } cases[] = {
      {"decoded twice", get<SignedCertRevList>("crl-big.der"), get<SignedCertRevList>("crl-big.der"),
       true},
      {"in place and decoded", inPlace("crl-big.der"), get<SignedCertRevList>("crl-big.der"), true},
      {"two CRLs of one issuer", get<SignedCertRevList>("crl-reasons.der"),
       get<SignedCertRevList>("crl-later.der"), false},
      {"a changed entry", get<SignedCertRevList>("crl-reasons.der"), std::move(tampered), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.equal, equalCrls(*c.a, *c.b)) << c.name;
    EXPECT_EQ(c.equal, sameCrl(*c.b, *c.a)) << c.name;
  }
}

// A CRL of the lists is handed to its verification, moved between the lists
// and indexed as the same object: never copied.
TEST(RevocationManager, ListedCrlsAreShared) {
  auto issuer = get<SignedCertificate>("ca.der");
  FixedPathClock clock(get<SignedCertRevList>("crl-hold.der")->tbsCertList.thisUpdate.toTime64(true));
  RevocationManager m(clock, nullptr);
  m.pendingCrls.emplace_back(get<SignedCertRevList>("crl-hold.der").release());
  const SignedCertRevList* held = m.pendingCrls[0].get();
  RevocationArgs args;
  for (int round = 0; round < 2; ++round) {
    CertificateItem item;
    item.certificate = *get<SignedCertificate>("user2.der");
    UsedRevocationData used;
    ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *issuer, nullptr, used));
    EXPECT_EQ(WWC_SUSPENDED, item.wwc);
    EXPECT_EQ(held, used.crl);
    EXPECT_EQ(held, used.crlOwner.get());
    ASSERT_EQ(held, used.crlToVerify.get());
    m.recordVerifiedCrl(*used.crlToVerify);
    m.recordVerifiedCrl(*used.crlToVerify);  // recorded twice: still the one entry
    ASSERT_EQ(1u, m.verifiedCrls.size());
    EXPECT_EQ(held, m.verifiedCrls[0].get());
    EXPECT_TRUE(m.pendingCrls.empty());
    m.demoteVerifiedCrls();
    ASSERT_EQ(1u, m.pendingCrls.size());
    EXPECT_EQ(held, m.pendingCrls[0].get());
  }
}

TEST(RevocationManager, CrlAndEntryExtensionChecks) {
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  for (const char* f : {"crl-reasons.der", "crl-user-only.der", "crl-ca-only.der"})
    EXPECT_TRUE(m.checkCrlExtensions(*get<SignedCertRevList>(f))) << f;
  auto crl = get<SignedCertRevList>("crl-hold.der");
  const CRLentry* e = crl->tbsCertList.revokedCertificates.GetAt(
      crl->tbsCertList.revokedCertificates.GetHeadPosition());
  EXPECT_TRUE(m.checkEntryExtensions(e->crlEntryExtensions));
  // A critical deltaCRLIndicator (2.5.29.27) fails both checks.
  auto* delta = new Extension;
  delta->extnID = ASNobjectId("2.5.29.27");
  delta->critical.set(true);
  const unsigned char one[] = {0x02, 0x01, 0x01};
  delta->extnValue.set(one, 3);
  Extensions exts;
  exts.append(new Extension(*delta));
  EXPECT_FALSE(m.checkEntryExtensions(exts));
  crl->tbsCertList.crlExtensions.inner.append(delta);
  EXPECT_FALSE(m.checkCrlExtensions(*crl));
}

// CRL numbers count within one scope (RFC 5280, 5.2.3): a verified CRL of
// another scope or distribution point with the same number is no older
// version of the one recorded, and stays verified and in use.
TEST(RevocationManager, VerifiedCrlsOfOtherScopesStay) {
  auto issuer = get<SignedCertificate>("ca.der");
  FixedPathClock clock(
      get<SignedCertRevList>("crl-big.der")->tbsCertList.thisUpdate.toTime64(true) + 60);
  RevocationManager m(clock, nullptr);
  // Number 1 each: crl-reasons and crl-hold of no scope, crl-dp-a of one point.
  const struct {
    const char* crl;
    size_t verified;  // after recording it
  } steps[] = {
      {"crl-reasons.der", 1}, {"crl-dp-a.der", 2}, {"crl-dp-a.der", 2}, {"crl-reasons.der", 2}};
  for (const auto& s : steps) {
    m.recordVerifiedCrl(*get<SignedCertRevList>(s.crl));
    EXPECT_EQ(s.verified, m.verifiedCrls.size()) << s.crl;
  }
  CertificateItem item;
  item.certificate = *get<SignedCertificate>("user.der");
  UsedRevocationData used;
  RevocationArgs args;
  ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *issuer, nullptr, used));
  EXPECT_EQ(WWC_REVOKED, item.wwc);  // keyCompromise in crl-reasons
  EXPECT_FALSE(used.crlToVerify);
  // A CRL of the same scope and number still takes the older one's place.
  auto hold = get<SignedCertRevList>("crl-hold.der");
  m.recordVerifiedCrl(*hold);
  ASSERT_EQ(2u, m.verifiedCrls.size());
  EXPECT_TRUE(sameCrl(*hold, *m.verifiedCrls[1]));
  EXPECT_TRUE(sameCrl(*get<SignedCertRevList>("crl-dp-a.der"), *m.verifiedCrls[0]));
}

TEST(RevocationManager, VerifiedAndPendingMoves) {
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  auto reasons = get<SignedCertRevList>("crl-reasons.der");
  m.pendingCrls.emplace_back(new SignedCertRevList(*reasons));
  m.recordVerifiedCrl(*reasons);
  EXPECT_EQ(1u, m.verifiedCrls.size());
  EXPECT_TRUE(m.pendingCrls.empty());
  m.recordVerifiedCrl(*reasons);  // same issuer and number replaces
  EXPECT_EQ(1u, m.verifiedCrls.size());
  m.demoteVerifiedCrls();
  EXPECT_TRUE(m.verifiedCrls.empty());
  EXPECT_EQ(1u, m.pendingCrls.size());
}

// A CRL an earlier document left that fails verification decides nothing
// when it was never verified in the context; one once verified (genuine) and
// one the document brings again still count.
TEST(RevocationManager, CrlsAnEarlierDocumentLeft) {
  const struct {
    bool verifiedEarlier, broughtAgain, inDocument, earlier;
  } rows[] = {
      {false, false, true, true},
      {false, true, true, false},
      {true, false, true, false},
      {false, false, false, false},
  };
  auto crl = get<SignedCertRevList>("crl-reasons.der");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.verifiedEarlier * 100 + row.broughtAgain * 10 + row.inDocument);
    FixedPathClock clock(0);
    RevocationManager m(clock, nullptr);
    RevocationManager::Saved first = m.save();
    m.offerCarriedCrl(*crl, nullptr);
    EXPECT_FALSE(m.learnedEarlier(*crl));
    if (row.verifiedEarlier) m.recordVerifiedCrl(*crl);
    m.commit(first);
    m.demoteVerifiedCrls();
    ASSERT_EQ(1u, m.pendingCrls.size());
    RevocationManager::Saved second;
    if (row.inDocument) second = m.save();
    if (row.broughtAgain) m.offerCarriedCrl(SignedCertRevList(*crl), nullptr);
    EXPECT_EQ(row.earlier, m.learnedEarlier(*crl));
    m.commit(second);
  }
}

// crl-reasons.der made another CRL: its issuer's last two letters ("CA")
// after `issuer`, its signature value `octets` of `fill` (never verifies).
std::shared_ptr<SignedCertRevList> variantCrl(int issuer, size_t octets, unsigned char fill) {
  std::ifstream in(revfix::kDir + "crl-reasons.der", std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto header = [&](size_t at, size_t& length) {
    size_t n = der[at + 1] & 0x7f, h = 2;
    length = der[at + 1];
    if (der[at + 1] & 0x80)
      for (length = 0; n--; ++h) length = length << 8 | der[at + h];
    return h;
  };
  auto lengthOf = [](size_t n) {
    std::vector<unsigned char> l{0x84};
    for (int shift = 24; shift >= 0; shift -= 8) l.push_back(static_cast<unsigned char>(n >> shift));
    return l;
  };
  size_t length = 0;
  const size_t tbs = header(0, length);
  const size_t tbsEnd = tbs + header(tbs, length) + length;
  const size_t algEnd = tbsEnd + header(tbsEnd, length) + length;
  std::vector<unsigned char> body(der.begin() + static_cast<std::ptrdiff_t>(tbs),
                                  der.begin() + static_cast<std::ptrdiff_t>(algEnd));
  const std::string name = "Revoc CA";
  auto at = std::search(body.begin(), body.end(), name.begin(), name.end());
  EXPECT_NE(body.end(), at);
  at[6] = static_cast<unsigned char>('A' + issuer / 26 % 26);
  at[7] = static_cast<unsigned char>('A' + issuer % 26);
  std::vector<unsigned char> bits{0x03};
  for (unsigned char c : lengthOf(octets + 1)) bits.push_back(c);
  bits.push_back(0);
  bits.insert(bits.end(), octets, fill);
  body.insert(body.end(), bits.begin(), bits.end());
  std::vector<unsigned char> out{0x30};
  for (unsigned char c : lengthOf(body.size())) out.push_back(c);
  out.insert(out.end(), body.begin(), body.end());
  auto crl = std::make_shared<SignedCertRevList>();
  EXPECT_EQ(static_cast<int>(out.size()), crl->decodeVector(out));
  return crl;
}

// What a context keeps after each document: the first CRLs of the latest
// documents within each bound (of one document, of one issuer never verified,
// in all, in octets), the others dropped.
TEST(RevocationManager, CrlsKeptWithinTheBounds) {
  const size_t big = 1u << 20;
  const struct {
    const char* bound;
    int documents, perDocument;
    bool oneIssuer;
    size_t octets;
    size_t kept;
  } rows[] = {
      {"of a document", 1, 40, false, 64, MAX_CRLS_KEPT_PER_DOCUMENT},
      {"of an issuer never verified", 1, 10, true, 64, MAX_UNPROVEN_CRLS_PER_ISSUER},
      {"in all", 10, 32, false, 64, MAX_CRLS_HELD},
      {"in octets", 20, 1, false, big, MAX_CRL_OCTETS_HELD / (big + 512)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bound);
    FixedPathClock clock(0);
    RevocationManager m(clock, nullptr);
    std::vector<std::shared_ptr<SignedCertRevList>> brought;
    for (int d = 0; d < row.documents; ++d) {
      RevocationManager::Saved saved = m.save();
      for (int i = 0; i < row.perDocument; ++i) {
        const int n = d * row.perDocument + i;
        brought.push_back(variantCrl(row.oneIssuer ? 0 : n, row.octets, static_cast<unsigned char>(n)));
        m.offerCarriedCrl(*brought.back(), brought.back());
      }
      m.commit(saved);
    }
    EXPECT_EQ(row.kept, m.pendingCrls.size());
    EXPECT_LE(m.pendingCrls.octets(), MAX_CRL_OCTETS_HELD);
    // The latest documents' first CRLs.
    std::vector<const SignedCertRevList*> expected;
    for (int d = row.documents - 1; d >= 0 && expected.size() < row.kept; --d)
      for (int i = 0; i < row.perDocument && expected.size() < row.kept; ++i) {
        const size_t taken = std::min<size_t>(row.kept, MAX_CRLS_KEPT_PER_DOCUMENT);
        if (static_cast<size_t>(i) < taken)
          expected.push_back(brought[static_cast<size_t>(d * row.perDocument + i)].get());
      }
    std::vector<const SignedCertRevList*> held;
    for (const auto& c : m.pendingCrls) held.push_back(c.get());
    std::sort(expected.begin(), expected.end());
    std::sort(held.begin(), held.end());
    EXPECT_EQ(expected, held);
  }
}

// A list's changes undone in every order (add, remove, remove and add again,
// all of an issuer, all): the CRLs in their order, each found by its digest
// and among its issuer's, their octets, as before.
TEST(HeldCrls, RollbackPutsBackTheListAndItsIndexes) {
  // CRLs 0..5 of issuers 0, 1, 0, 2, 0, 0.
  const int issuerOf[] = {0, 1, 0, 2, 0, 0};
  std::vector<std::shared_ptr<SignedCertRevList>> crls;
  for (int i = 0; i < 6; ++i)
    crls.push_back(variantCrl(issuerOf[i], 16, static_cast<unsigned char>(i)));
  const char* const sequences[] = {"+3 +4", "-1 +1", "#0 +5", "* +0",
                                   "+3 -3", "-0 -1 -2 +2 +1 +0", "+4 #0 +5 *"};
  for (const char* sequence : sequences) {
    SCOPED_TRACE(sequence);
    HeldCrls held;
    for (int i : {0, 1, 2}) held.push_back(crls[static_cast<size_t>(i)]);
    const SharedCrlList before(held);
    const uint64_t octets = held.octets();
    held.record();
    std::istringstream ops(sequence);
    for (std::string op; ops >> op;) {
      if (op == "*") {
        held.clear();
        continue;
      }
      const auto& crl = crls[static_cast<size_t>(op[1] - '0')];
      if (op[0] == '+')
        held.push_back(crl);
      else  // '-' that CRL, '#' all of its issuer
        held.removeIf(&crl->tbsCertList.issuer,
                      [&](const HeldCrls::Entry& e) { return op[0] == '#' || e.crl == crl; }, nullptr);
    }
    held.rollback();
    EXPECT_TRUE(held == before);
    EXPECT_EQ(octets, held.octets());
    for (const auto& crl : before) {
      const HeldCrls::Entry* e = held.find(crlDigest(*crl));
      EXPECT_TRUE(e && e->crl == crl);
      SharedCrlList ofIssuer, expected;
      held.forIssuer(crl->tbsCertList.issuer, [&](const HeldCrls::Entry& x) {
        ofIssuer.push_back(x.crl);
        return true;
      });
      for (const auto& c : before)
        if (c->tbsCertList.issuer == crl->tbsCertList.issuer) expected.push_back(c);
      EXPECT_EQ(expected, ofIssuer);
    }
    for (int i : {3, 4, 5}) EXPECT_FALSE(held.find(crlDigest(*crls[static_cast<size_t>(i)])));
  }
}

// A CRL verified again by each path (recorded verified, moved back to the
// pending list after the path) is digested once a time it is recorded, not
// again on each move: the work stays within one digest of its octets.
TEST(RevocationManager, ACrlVerifiedAgainIsNotDigestedAgainOnEachMove) {
  const size_t octets = 1u << 20;
  auto crl = variantCrl(0, octets, 1);
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  auto account = WorkAccount::forDocument(64u << 20);
  WorkAccountScope charged(account.get());
  RevocationManager::Saved saved = m.save();
  m.offerCarriedCrl(*crl, crl);
  for (int path = 0; path < 4; ++path) {
    const uint64_t before = account->spentUnits();
    m.recordVerifiedCrl(*crl);
    m.demoteVerifiedCrls();
    EXPECT_LE(account->spentUnits() - before, WORK_DIGEST_OCTET * (octets + 4096)) << path;
  }
  ASSERT_EQ(1u, m.pendingCrls.size());
  m.commit(saved);
}

}  // namespace
