// The certificate manager over a database double that keeps keys as the
// database interfaces say (20-octet hashes, field keys by dbFieldKey), and
// over in-memory stores; certificates and expectations from openssl
// (tests/data/store/certs).
#include "store/certmgr.h"
#include "store/crtstore.h"
#include "store/fakecrtdb.h"

#include "pki/x509/cert.h"

#include "pki/certtest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::unique_ptr<SignedCertificate> load(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/certs/" + name, std::ios::binary);
  Bytes der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto c = std::make_unique<SignedCertificate>();
  EXPECT_EQ(static_cast<int>(der.size()), c->decodeVector(der)) << name;
  return c;
}

class FailingStore : public LCertificateStore {
 public:
  int findBySubject(CertificateList&, const DistinguishedName&, bool) const override { return 1; }
  int findIssuers(SharedCertificateList&, const DistinguishedName&, const AuthorityKeyIdentifier*,
                  IssuerChoice, size_t) const override {
    return 1;
  }
};

const char* const FILES[] = {"caA.der",    "caB.der",     "leafA1.der", "leafA2.der",
                             "leafB1.der", "leafBmp.der", "leafEvil.der"};

struct Fixture {
  FakeDb db;
  CertificateManager mgr;
  std::map<std::string, std::unique_ptr<SignedCertificate>> certs;
  Fixture() {
    mgr.setContext(&db);
    for (const char* f : FILES) {
      certs[f] = load(f);
      EXPECT_EQ(0, mgr.importCertificate(*certs[f])) << f;
    }
  }
  std::vector<std::string> filesOf(const CertificateList& l) {
    std::vector<std::string> out;
    for (POSITION p = l.GetHeadPosition(); p;) {
      const SignedCertificate* c = l.GetNext(p);
      for (auto& kv : certs)
        if (*kv.second == *c) out.push_back(kv.first);
    }
    return out;
  }
};

TEST(CertificateManager, DatabaseLookupsAgreeWithOpenssl) {
  Fixture fx;
  // A certificate met again is stored once and answers 0.
  EXPECT_EQ(0, fx.mgr.importCertificate(*fx.certs["leafA1.der"]));
  EXPECT_EQ(7u, fx.db.records.size());

  struct Serial {
    const char* issuerOf;
    const char* serialOf;
    int code;
    const char* found;
  } serials[] = {{"leafA1.der", "leafA1.der", 0, "leafA1.der"},
                 {"leafB1.der", "leafA1.der", 0, "leafB1.der"},  // same serial, other CA
                 {"caA.der", "caB.der", 0, "caA.der"},
                 {"caB.der", "caA.der", 0, "caB.der"},
                 {"leafB1.der", "leafA2.der", 14, nullptr}};
  for (const Serial& s : serials) {
    SignedCertificate out;
    EXPECT_EQ(s.code, fx.mgr.findByIssuerSerial(out, fx.certs[s.issuerOf]->tbsCertificate.issuer,
                                                fx.certs[s.serialOf]->tbsCertificate.serialNumber,
                                                false))
        << s.issuerOf << s.serialOf;
    if (s.found) { EXPECT_TRUE(out == *fx.certs[s.found]); }
  }

  struct Mail {
    const char* address;
    bool enc;
    std::vector<std::string> found;
  } mails[] = {{"alice@example.com", false, {"leafA1.der", "leafA2.der"}},
               {"ALICE@EXAMPLE.COM", true, {"leafA2.der"}},
               {"alice.alt@example.com", false, {"leafA1.der"}},
               {"bob@example.org", false, {"leafB1.der"}},
               {"alice@example.co", false, {}},
               {"alice@example.com.evil.org", false, {"leafEvil.der"}}};
  for (const Mail& m : mails) {
    CertificateList out;
    EXPECT_EQ(m.found.empty() ? 14 : 0, fx.mgr.findByEmail(out, m.address, m.enc, false))
        << m.address;
    EXPECT_EQ(m.found, fx.filesOf(out)) << m.address;
  }

  // Subjects: leafA1 (UTF8) and leafA2 (BMP) read alike by openssl.
  CertificateList subjects;
  EXPECT_EQ(0, fx.mgr.findInStores(subjects, fx.certs["leafA1.der"]->tbsCertificate.subject,
                                   nullptr, false, false));
  EXPECT_EQ((std::vector<std::string>{"leafA1.der", "leafA2.der"}), fx.filesOf(subjects));
  CertificateList filtered;
  EXPECT_EQ(14, fx.mgr.findInStores(filtered, fx.certs["leafA1.der"]->tbsCertificate.subject,
                                    &fx.certs["caB.der"]->tbsCertificate.subject, false, false));

  // Key identifiers as openssl printed them (manifest.txt).
  unsigned char id[20];
  ASSERT_TRUE(fx.certs["leafB1.der"]->tbsCertificate.subjectPublicKeyInfo.keyIdentifier(id));
  CertificateList byKey;
  EXPECT_EQ(0, fx.mgr.findByIssuerKeyId(byKey, id, 20,
                                        fx.certs["leafB1.der"]->tbsCertificate.issuer, false, false));
  EXPECT_EQ(std::vector<std::string>{"leafB1.der"}, fx.filesOf(byKey));
  CertificateList wrongIssuer;
  EXPECT_EQ(14, fx.mgr.findByIssuerKeyId(wrongIssuer, id, 20,
                                         fx.certs["leafA1.der"]->tbsCertificate.issuer, false,
                                         false));
}

TEST(CertificateManager, StoreArraysAndTemporaryOnly) {
  Fixture fx;
  const DistinguishedName& alice = fx.certs["leafA1.der"]->tbsCertificate.subject;
  int asked = fx.db.asked;
  CertificateList out;
  SignedCertificate one;
  EXPECT_EQ(14, fx.mgr.findInStores(out, alice, nullptr, false, true));
  EXPECT_EQ(14, fx.mgr.findByEmail(out, "alice@example.com", false, true));
  EXPECT_EQ(14, fx.mgr.findByIssuerSerial(one, fx.certs["leafA1.der"]->tbsCertificate.issuer,
                                          fx.certs["leafA1.der"]->tbsCertificate.serialNumber,
                                          true));
  EXPECT_EQ(asked, fx.db.asked);  // the database was never asked

  FailingStore failing;
  LCertificateStore mine;
  mine.addCertificate(fx.certs["leafA1.der"].get());
  fx.mgr.addTemporaryStore(&mine);
  EXPECT_EQ(0, fx.mgr.findInStores(out, alice, nullptr, false, true));
  EXPECT_EQ(1, out.GetCount());
  fx.mgr.addTemporaryStore(&failing);
  CertificateList none;
  EXPECT_EQ(1, fx.mgr.findInStores(none, alice, nullptr, false, false));

  LCertificateStore never;
  fx.mgr.removeStore(&never);
  EXPECT_EQ(2, fx.mgr.temporaryCount());
  fx.mgr.addTemporaryStore(&mine);
  fx.mgr.removeStore(&mine);  // the last occurrence goes
  fx.mgr.removeStore(&failing);
  EXPECT_EQ(1, fx.mgr.temporaryCount());
  CertificateList again;
  EXPECT_EQ(0, fx.mgr.findInStores(again, alice, nullptr, false, false));
  EXPECT_EQ(3, again.GetCount());  // the store's copy and the database's two
}

// The shared lookup answers what findInStores answers, in its order; the
// database's hits are the bodies its cache keeps (a second lookup gets the
// same ones), a memory store's are copies of its own.
TEST(CertificateManager, SharedLookupAgreesWithCopies) {
  Fixture fx;
  LCertificateStore mine;
  mine.addCertificate(fx.certs["leafA1.der"].get());
  fx.mgr.addTemporaryStore(&mine);
  for (const char* f : FILES)
    for (bool temporaryOnly : {false, true}) {
      SCOPED_TRACE(std::string(f) + (temporaryOnly ? " temporary" : ""));
      const DistinguishedName& subject = fx.certs[f]->tbsCertificate.subject;
      CertificateList copies;
      SharedCertificateList shared, again;
      const int r = fx.mgr.findInStores(copies, subject, nullptr, false, temporaryOnly);
      EXPECT_EQ(r, fx.mgr.findSharedInStores(shared, subject, temporaryOnly));
      ASSERT_EQ(static_cast<size_t>(copies.GetCount()), shared.size());
      size_t i = 0;
      for (POSITION p = copies.GetHeadPosition(); p; ++i)
        EXPECT_TRUE(*copies.GetNext(p) == shared[i]) << i;
      EXPECT_EQ(r, fx.mgr.findSharedInStores(again, subject, temporaryOnly));
      ASSERT_EQ(shared.size(), again.size());
      CertificateList inMine;
      mine.findBySubject(inMine, subject, false);
      const size_t copied = static_cast<size_t>(inMine.GetCount());  // the stores come first
      for (i = 0; i < shared.size(); ++i) {
        EXPECT_NE(&shared[i].get(), fx.certs["leafA1.der"].get()) << i;
        EXPECT_EQ(i >= copied, shared[i].sharesBodyWith(again[i])) << i;
      }
    }
  SharedCertificateList failed;
  FailingStore failing;
  fx.mgr.addTemporaryStore(&failing);
  EXPECT_EQ(1, fx.mgr.findSharedInStores(failed, fx.certs["caA.der"]->tbsCertificate.subject,
                                         false));
}

// A body handed out stays whole whatever happens to the store after: its
// record rewritten, the cache answering otherwise, the manager gone.
TEST(CertificateManager, SharedResultOutlivesItsStore) {
  Fixture fx;
  const SignedCertificate& caA = *fx.certs["caA.der"];
  Bytes caDer, leafDer;
  ASSERT_GT(caA.encodeVector(caDer), 0);
  ASSERT_GT(fx.certs["leafB1.der"]->encodeVector(leafDer), 0);
  SharedCertificateList held;
  {
    CertificateManager own;
    own.setContext(&fx.db);
    ASSERT_EQ(0, own.findSharedInStores(held, caA.tbsCertificate.subject, false));
    ASSERT_EQ(1u, held.size());
    for (DbBytes& record : fx.db.records)
      if (record == caDer) record = leafDer;  // another subject under the same id
    SharedCertificateList now;
    EXPECT_EQ(14, own.findSharedInStores(now, caA.tbsCertificate.subject, false));
  }
  Bytes der;
  ASSERT_GT(held[0]->encodeVector(der), 0);
  EXPECT_EQ(caDer, der);
  EXPECT_TRUE(held[0] == caA);
  EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, held[0]->verifySelfSigned());
}

TEST(CertificateManager, UpperTextMapsPolishLettersOnly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"abc xyz", "ABC XYZ"},
               {"\xC4\x85\xC4\x87\xC4\x99", "\xC4\x84\xC4\x86\xC4\x98"},
               {"\xC5\x82\xC5\x9B\xC5\xBA\xC5\xBC", "\xC5\x81\xC5\x9A\xC5\xB9\xC5\xBB"},
               {"\xC5\xB3", "\xC5\x93"},
               {"\xC3\xB3\xC5\x84", "\xC3\xB3\xC5\x84"}};
  for (const Case& c : cases) {
    std::string t = c.in;
    toUpperText(t);
    EXPECT_EQ(std::string(c.out), t);
  }
}

}  // namespace

TEST(CertificateManager, RewrittenRecordIsDecodedAgain) {
  // Hits are remembered decoded; a record rewritten under the same id must
  // answer what it holds now, never the certificate remembered.
  Fixture fx;
  const DistinguishedName& caA = fx.certs["caA.der"]->tbsCertificate.subject;
  Bytes caDer, leafDer;
  ASSERT_GT(fx.certs["caA.der"]->encodeVector(caDer), 0);
  ASSERT_GT(fx.certs["leafB1.der"]->encodeVector(leafDer), 0);
  size_t id = fx.db.records.size();
  for (size_t i = 0; i < fx.db.records.size(); ++i)
    if (fx.db.records[i] == caDer) id = i;
  ASSERT_LT(id, fx.db.records.size());
  for (int round = 0; round < 2; ++round) {  // the second round answers from memory
    CertificateList found;
    EXPECT_EQ(0, fx.mgr.findInStores(found, caA, nullptr, false, false)) << round;
    EXPECT_EQ(std::vector<std::string>{"caA.der"}, fx.filesOf(found)) << round;
  }
  fx.db.records[id] = leafDer;  // another subject under the same id
  CertificateList other;
  EXPECT_EQ(14, fx.mgr.findInStores(other, caA, nullptr, false, false));
  Bytes cut(caDer.begin(), caDer.end() - 1);  // no longer decodes
  fx.db.records[id] = cut;
  CertificateList broken;
  EXPECT_EQ(2, fx.mgr.findInStores(broken, caA, nullptr, false, false));
  EXPECT_EQ(0, broken.GetCount());
  fx.db.records[id] = caDer;
  CertificateList back;
  EXPECT_EQ(0, fx.mgr.findInStores(back, caA, nullptr, false, false));
  EXPECT_EQ(std::vector<std::string>{"caA.der"}, fx.filesOf(back));
}

namespace {

using certtest::longerLength;

Bytes pkiFile(const std::string& name) { return certtest::readFile(name); }

// The certificate of `tbs`, held once in the manager's stores, through every
// lookup: the shared bodies, their copies and the lookup by issuer and
// serial, each verified under `issuer`.
void expectLookupsVerify(CertificateManager& mgr, const TBSCertificate& tbs,
                         const SignedCertificate& issuer, int expected, bool temporaryOnly) {
  SharedCertificateList shared;
  ASSERT_EQ(0, mgr.findSharedInStores(shared, tbs.subject, temporaryOnly));
  ASSERT_EQ(1u, shared.size());
  EXPECT_EQ(expected, shared[0]->verifySignature(issuer));
  CertificateList copies;
  ASSERT_EQ(0, mgr.findInStores(copies, tbs.subject, nullptr, false, temporaryOnly));
  ASSERT_EQ(1, copies.GetCount());
  EXPECT_EQ(expected, copies.GetHead()->verifySignature(issuer));
  SignedCertificate bySerial;
  ASSERT_EQ(0, mgr.findByIssuerSerial(bySerial, tbs.issuer, tbs.serialNumber, temporaryOnly));
  EXPECT_EQ(expected, bySerial.verifySignature(issuer));
}

// A certificate verifies after a trip through the database exactly when it
// verifies as received: TBS octets that are not DER but were signed as they
// stand (openssl verifies both, tests/data/pki/certs/gen_explicit.sh) still
// verify, and octets made longer than the ones signed still do not. Every
// database lookup is asked: the shared bodies, their copies and the lookup
// by issuer and serial.
TEST(CertificateManager, DatabaseKeepsWhatWasSigned) {
  const Bytes v3 = pkiFile("v3_rsa.der");
  const struct {
    const char* what;
    Bytes octets;
    const char* issuer;  // null: self-signed
    int expected;
  } rows[] = {
      {"v3 as made", v3, "rsa_ca.der", SignedCertificate::CERT_SIG_VALID},
      {"explicit critical FALSE", pkiFile("critical_false.der"), nullptr,
       SignedCertificate::CERT_SIG_VALID},
      {"explicit v1 version", pkiFile("v1_explicit.der"), "rsa_ca.der",
       SignedCertificate::CERT_SIG_VALID},
      {"TBS length one octet longer", longerLength(v3, 5, {3}), "rsa_ca.der",
       SignedCertificate::CERT_SIG_INVALID},
      {"serial length one octet longer", longerLength(v3, 14, {3, 7}), "rsa_ca.der",
       SignedCertificate::CERT_SIG_INVALID},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_FALSE(row.octets.empty());
    SignedCertificate received, issuer;
    ASSERT_EQ(static_cast<int>(row.octets.size()),
              received.decodeVector(row.octets, ASN_FLAG_CONST | ASN_FLAG_COPY));
    if (row.issuer) {
      const Bytes i = pkiFile(row.issuer);
      ASSERT_EQ(static_cast<int>(i.size()), issuer.decodeVector(i));
    } else {
      issuer = received;
    }
    ASSERT_EQ(row.expected, received.verifySignature(issuer));
    FakeDb db;
    CertificateManager mgr;
    mgr.setContext(&db);
    ASSERT_EQ(0, mgr.importCertificate(received));
    ASSERT_EQ(1u, db.records.size());
    EXPECT_EQ(row.octets, db.records[0]);
    const TBSCertificate& tbs = received.tbsCertificate;
    for (int round = 0; round < 2; ++round)  // decoded, then from the cache
      expectLookupsVerify(mgr, tbs, issuer, row.expected, false);
  }
}

// The same certificates held by the memory stores (a list of pointers and a
// view over a certificate list), read in place as received: every lookup
// through the manager gives certificates that verify exactly when the
// received ones do.
TEST(CertificateManager, MemoryStoresKeepWhatWasSigned) {
  const Bytes v3 = pkiFile("v3_rsa.der");
  const struct {
    const char* what;
    Bytes octets;
    const char* issuer;  // null: self-signed
    int expected;
  } rows[] = {
      {"explicit critical FALSE", pkiFile("critical_false.der"), nullptr,
       SignedCertificate::CERT_SIG_VALID},
      {"explicit v1 version", pkiFile("v1_explicit.der"), "rsa_ca.der",
       SignedCertificate::CERT_SIG_VALID},
      {"non-DER CA", pkiFile("nonder_ca.der"), nullptr, SignedCertificate::CERT_SIG_VALID},
      {"TBS length one octet longer", longerLength(v3, 5, {3}), "rsa_ca.der",
       SignedCertificate::CERT_SIG_INVALID},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto* received = new SignedCertificate();
    CertificateList list;
    ASSERT_EQ(1, list.append(received));
    ASSERT_EQ(static_cast<int>(row.octets.size()),
              received->decodeVector(row.octets, ASN_FLAG_CONST | ASN_FLAG_COPY));
    SignedCertificate issuer;
    if (row.issuer) {
      const Bytes i = pkiFile(row.issuer);
      ASSERT_EQ(static_cast<int>(i.size()), issuer.decodeVector(i));
    } else {
      issuer = *received;
    }
    ASSERT_EQ(row.expected, received->verifySignature(issuer));
    LCertificateStore pointers;
    ASSERT_TRUE(pointers.addCertificate(received));
    ListCertificateStore view(&list);
    for (const CertificateStore* store : {static_cast<const CertificateStore*>(&pointers),
                                          static_cast<const CertificateStore*>(&view)}) {
      CertificateManager mgr;
      mgr.addTemporaryStore(store);
      expectLookupsVerify(mgr, received->tbsCertificate, issuer, row.expected, true);
      mgr.removeStore(store);
    }
  }
}

}  // namespace
