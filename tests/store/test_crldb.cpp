// CRL database operations, the serial index of one CRL and the verified cache,
// over CRLs made by `openssl ca -gencrl` (tests/data/store/revoc/gen.sh).
#include "store/crldb.h"
#include "store/dbmanager.h"
#include "store/dbtal.h"
#include "store/revcache.h"
#include "store/revmgr.h"

#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "pki/common/oids.h"
#include "pki/x509/x509ext.h"
#include "revocation_double.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

const std::string kDir = std::string(TAL_TEST_DATA_DIR) + "/store/revoc/";
using revdouble::load;
using revdouble::readFile;

std::unique_ptr<SignedCertRevList> crl(const std::string& name) {
  auto c = load<SignedCertRevList>(kDir + name);
  EXPECT_TRUE(c) << name;
  return c;
}
std::unique_ptr<SignedCertificate> cert(const std::string& name) {
  auto c = load<SignedCertificate>(kDir + name);
  EXPECT_TRUE(c) << name;
  return c;
}

class Settings : public DbSettingsSource {
 public:
  DbConfig config;
  DbConfig* dbSettings() override { return &config; }
};

struct MemoryDb {
  Settings settings;
  DbManager manager;
  explicit MemoryDb(const std::string& name) {
    settings.config.setParam("dbtype", "w pamieci");
    settings.config.setParam("dbname", name + "-" + std::to_string(::getpid()));
    manager.setContext(&settings);
  }
};

TEST(CrlScope, FromOpensslIssuingDistributionPoints) {
  const struct {
    const char* file;
    int scope;
  } cases[] = {{"crl-reasons.der", CRL_SCOPE_ALL},
               {"crl-user-only.der", CRL_SCOPE_USER},
               {"crl-ca-only.der", CRL_SCOPE_CA}};
  for (const auto& c : cases) EXPECT_EQ(c.scope, crlScope(crlExtensionsOf(*crl(c.file)))) << c.file;
}

// An issuingDistributionPoint of these octets appended to `exts`.
void addIssuingPoint(Extensions& exts, const std::vector<unsigned char>& der, bool critical) {
  auto* e = new Extension;
  e->extnID = id_ce_issuingDistributionPoint;
  e->critical.set(critical);
  e->extnValue.set(der.data(), static_cast<int>(der.size()));
  ASSERT_EQ(1, exts.append(e));
}

TEST(CrlScope, BothOnlyFlagsOrUndecodableRefusedWithCode88) {
  IssuingDistributionPoint idp;
  idp.onlyContainsCACerts.set(true);
  idp.onlyContainsUserCerts.set(true);
  std::vector<unsigned char> der;
  ASSERT_GT(idp.encodeVector(der), 0);
  for (bool garbled : {false, true}) {
    if (garbled) der = {0x30, 0x03, 0x81, 0x01};
    Extensions exts;
    addIssuingPoint(exts, der, true);
    try {
      crlScope(exts);
      ADD_FAILURE() << "no exception";
    } catch (const TalApiException& x) {
      EXPECT_EQ(88, x.getCode());
    }
    // Such a CRL decides about nothing, and the database refuses it with the same code.
    auto user = cert("user.der");
    EXPECT_FALSE(checkIssuingDistributionPoint(*user, user->tbsCertificate.issuer, exts));
    auto bad = crl("crl-reasons.der");
    Extensions& own = bad->tbsCertList.crlExtensions.inner;
    own.clear();
    addIssuingPoint(own, der, true);
    MemoryDb memory(garbled ? "garbled-point" : "both-flags");
    CrlDatabase db(memory.manager);
    try {
      db.importCrl(*bad);
      ADD_FAILURE() << "importCrl took it";
    } catch (const TalApiException& x) {
      EXPECT_EQ(88, x.getCode());
    }
    std::vector<std::unique_ptr<SignedCertRevList>> stored;
    EXPECT_EQ(CRLDB_OK, db.listDatabaseCrls(bad->tbsCertList.issuer, stored));
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(CRLDB_OK, db.importCrl(*crl("crl-reasons.der"))) << "the lock went with the exception";
  }
}

// An item takes its flag and word from the CRL: whether it lists revoked
// certificates, and how many.
TEST(CrlItem, FlagAndWordCopiedFromTheCrl) {
  for (const char* file : {"crl-reasons.der", "crl-ca-only.der"}) {
    auto c = crl(file);
    CrlItem item;
    ASSERT_TRUE(fillCrlItem(item, *c)) << file;
    EXPECT_EQ(c->tbsCertList.revokedCertificatesPresent, item.flag.toLong()) << file;
    EXPECT_EQ(static_cast<uint32_t>(c->tbsCertList.revokedCertificates.GetCount()), item.word.toLong()) << file;
    EXPECT_TRUE(item.issuer == c->tbsCertList.issuer);
  }
}

// A CRL of some reasons only (onlySomeReasons) is no complete CRL: it leaves
// out the certificates revoked for other reasons, so it clears none, whether
// its issuingDistributionPoint is marked critical or not.
TEST(CrlScope, SomeReasonsOnlyCoverNothing) {
  // IssuingDistributionPoint { onlySomeReasons [3] { keyCompromise } } (RFC 5280).
  const std::vector<unsigned char> der = {0x30, 0x04, 0x83, 0x02, 0x06, 0x40};
  auto user = cert("user.der");
  for (bool critical : {false, true}) {
    Extensions exts;
    addIssuingPoint(exts, der, critical);
    EXPECT_EQ(CRL_SCOPE_ALL, crlScope(exts));
    EXPECT_FALSE(checkIssuingDistributionPoint(*user, user->tbsCertificate.issuer, exts))
        << critical;
  }
}

// checkIssuingDistributionPoint over two fixture files.
bool admits(const char* certFile, const char* crlFile) {
  auto l = crl(crlFile);
  return checkIssuingDistributionPoint(*cert(certFile), l->tbsCertList.issuer, crlExtensionsOf(*l));
}

TEST(CrlScope, CertificateKindAgainstScopeAndIssuer) {
  const struct {
    const char* cert;
    const char* crl;
    bool admitted;
  } cases[] = {
      {"user.der", "crl-reasons.der", true},     {"subca.der", "crl-reasons.der", true},
      {"user.der", "crl-user-only.der", true},   {"subca.der", "crl-user-only.der", false},
      {"user.der", "crl-ca-only.der", false},    {"subca.der", "crl-ca-only.der", true},
      {"ca.der", "crl-reasons.der", false},  // ca.der is issued by the root
  };
  for (const auto& c : cases) EXPECT_EQ(c.admitted, admits(c.cert, c.crl)) << c.cert << " " << c.crl;
}

// A CRL whose issuingDistributionPoint names its point covers only the
// certificates that name that point (RFC 5280, 6.3.3 (b)(2)(i)); a
// certificate without cRLDistributionPoints has its issuer as its point.
TEST(CrlScope, DistributionPointNames) {
  const struct {
    const char* cert;
    const char* crl;
    bool admitted;
  } cases[] = {
      {"user.der", "crl-dp-a.der", false},        {"user.der", "crl-dp-issuer.der", true},
      {"user.der", "crl-dp-rel1.der", false},     {"user.der", "crl-reasons.der", true},
      {"dp-uri.der", "crl-dp-a.der", true},       {"dp-uri.der", "crl-dp-b.der", false},
      {"dp-uri.der", "crl-dp-issuer.der", false}, {"dp-uri.der", "crl-reasons.der", true},
      {"dp-rel.der", "crl-dp-rel1.der", true},    {"dp-rel.der", "crl-dp-rel2.der", false},
      {"dp-rel.der", "crl-dp-joined.der", true},  {"dp-rel.der", "crl-dp-a.der", false},
      {"dp-issuer.der", "crl-dp-issuer.der", true}, {"dp-issuer.der", "crl-dp-a.der", false},
      {"dp-issuer.der", "crl-dp-joined.der", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.admitted, admits(c.cert, c.crl)) << c.cert << " " << c.crl;
}

TEST(CrlDatabase, ImportKeepsTheNewestOfEachIssuerAndScope) {
  MemoryDb m("crldb-import");
  CrlDatabase db(m.manager);
  auto reasons = crl("crl-reasons.der");
  auto later = crl("crl-later.der");
  ASSERT_LT(reasons->tbsCertList.thisUpdate, later->tbsCertList.thisUpdate);
  EXPECT_EQ(CRLDB_OK, db.importCrl(*reasons));
  EXPECT_EQ(CRLDB_OK, db.importCrl(*reasons));  // the same again: stored once
  std::vector<std::unique_ptr<SignedCertRevList>> list;
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(reasons->tbsCertList.issuer, list));
  ASSERT_EQ(1u, list.size());
  EXPECT_TRUE(sameCrl(*reasons, *list[0]));

  EXPECT_EQ(CRLDB_OK, db.importCrl(*later));
  EXPECT_EQ(CRLDB_OLDER, db.importCrl(*reasons));
  list.clear();
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(reasons->tbsCertList.issuer, list));
  ASSERT_EQ(1u, list.size());
  EXPECT_TRUE(sameCrl(*later, *list[0]));

  // Another scope of the same issuer is a second item.
  EXPECT_EQ(CRLDB_OK, db.importCrl(*crl("crl-ca-only.der")));
  list.clear();
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(reasons->tbsCertList.issuer, list));
  EXPECT_EQ(2u, list.size());
  list.clear();
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(cert("ca.der")->tbsCertificate.issuer, list));
  EXPECT_TRUE(list.empty());
}

TEST(CrlDatabase, LatestCrlHonoursScopeAndLimit) {
  MemoryDb m("crldb-latest");
  CrlDatabase db(m.manager);
  auto reasons = crl("crl-reasons.der");
  auto caOnly = crl("crl-ca-only.der");
  auto userOnly = crl("crl-user-only.der");
  ASSERT_LT(reasons->tbsCertList.thisUpdate, caOnly->tbsCertList.thisUpdate);
  for (auto* c : {reasons.get(), caOnly.get(), userOnly.get()}) ASSERT_EQ(CRLDB_OK, db.importCrl(*c));
  const struct {
    const char* cert;
    const SignedCertRevList* expected;
  } cases[] = {{"subca.der", caOnly.get()}, {"user.der", userOnly.get()}, {"ca.der", nullptr}};
  for (const auto& c : cases) {
    std::unique_ptr<SignedCertRevList> out;
    ASSERT_EQ(CRLDB_OK, db.findLatestCrl(*cert(c.cert), out, nullptr)) << c.cert;
    if (!c.expected) {
      EXPECT_FALSE(out) << c.cert;
      continue;
    }
    ASSERT_TRUE(out) << c.cert;
    EXPECT_TRUE(sameCrl(*c.expected, *out)) << c.cert;
    // A limit not earlier than the newest thisUpdate leaves none.
    ASSERT_EQ(CRLDB_OK, db.findLatestCrl(*cert(c.cert), out, &c.expected->tbsCertList.thisUpdate));
    EXPECT_FALSE(out);
    ASSERT_EQ(CRLDB_OK, db.findLatestCrl(*cert(c.cert), out, &reasons->tbsCertList.thisUpdate));
    EXPECT_TRUE(out);
  }
}

// A CRL from the database is read in place over its stored octets; its
// entries still decide, and its digest is that of the octets openssl wrote.
TEST(CrlDatabase, CrlsReadInPlaceDecideStatus) {
  MemoryDb m("crldb-inplace");
  CrlDatabase db(m.manager);
  auto reasons = crl("crl-reasons.der");
  ASSERT_EQ(CRLDB_OK, db.importCrl(*reasons));
  auto user = cert("user.der");
  std::unique_ptr<SignedCertRevList> stored;
  ASSERT_EQ(CRLDB_OK, db.findLatestCrl(*user, stored, nullptr));
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->isConstView());
  EXPECT_TRUE(sameCrl(*stored, *reasons));
  const auto der = revdouble::readFile(kDir + "crl-reasons.der");
  EXPECT_EQ(der, std::vector<unsigned char>(stored->receivedEncoding(),
                                            stored->receivedEncoding() + stored->receivedLength));

  FixedPathClock clock(reasons->tbsCertList.thisUpdate.toTime64(true) + 60);
  RevocationManager manager(clock, nullptr);
  manager.database = &db;
  const struct {
    const char* cert;
    uint32_t wwc;
  } cases[] = {{"user.der", WWC_REVOKED}, {"user2.der", WWC_REVOKED}, {"dp-uri.der", WWC_OK}};
  for (const auto& c : cases) {
    CertificateItem item;
    item.certificate = *cert(c.cert);
    UsedRevocationData used;
    RevocationArgs args;
    ASSERT_EQ(0, manager.checkStatus(item, args, nullptr, *cert("ca.der"), nullptr, used));
    EXPECT_EQ(c.wwc, item.wwc) << c.cert;
    EXPECT_EQ(REVSTATE_FOUND, item.revocationState) << c.cert;
    ASSERT_TRUE(used.crlToVerify) << c.cert;  // from the database: to be verified
    EXPECT_TRUE(used.crlToVerify->isConstView()) << c.cert;
  }
  EXPECT_EQ(1u, manager.pendingCrls.size());  // held once
}

// CRLs of one issuer and flags that name different distribution points cover
// different certificates: each is stored beside the others, whatever their
// times, and each certificate finds the CRL of its own point.
TEST(CrlDatabase, CrlsOfOtherDistributionPointsAreKeptApart) {
  MemoryDb m("crldb-points");
  CrlDatabase db(m.manager);
  const char* const stored[] = {"crl-dp-a.der",      "crl-dp-b.der",      "crl-dp-rel1.der",
                                "crl-dp-rel2.der",   "crl-dp-joined.der", "crl-dp-issuer.der",
                                "crl-later.der"};
  for (const char* f : stored) EXPECT_EQ(CRLDB_OK, db.importCrl(*crl(f))) << f;
  // Another point's CRL is no newer CRL of this one; the same point's older one is.
  EXPECT_EQ(CRLDB_OLDER, db.importCrl(*crl("crl-reasons.der")));
  std::vector<std::unique_ptr<SignedCertRevList>> list;
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(crl("crl-dp-a.der")->tbsCertList.issuer, list));
  EXPECT_EQ(sizeof stored / sizeof stored[0], list.size());
  const struct {
    const char* cert;
    const char* expected;  // the first stored of the latest that cover it
  } cases[] = {{"dp-uri.der", "crl-dp-a.der"},
               {"dp-rel.der", "crl-dp-rel1.der"},
               {"dp-issuer.der", "crl-dp-issuer.der"},
               {"user.der", "crl-dp-issuer.der"}};
  for (const auto& c : cases) {
    std::unique_ptr<SignedCertRevList> out;
    ASSERT_EQ(CRLDB_OK, db.findLatestCrl(*cert(c.cert), out, nullptr)) << c.cert;
    ASSERT_TRUE(out) << c.cert;
    EXPECT_TRUE(sameCrl(*crl(c.expected), *out)) << c.cert;
  }
}

// The store's files are outside data: a CRL file that is not the CRL its
// index item describes (another issuer, another scope) is a damaged store,
// never a CRL for the certificate asked about.
TEST(CrlDatabase, StoredCrlMustCoverTheCertificateItsItemCovers) {
  const struct {
    const char* item;  // the CRL imported, whose item stays
    std::string file;  // the octets its file is given afterwards
    const char* cert;
    int result;
  } cases[] = {
      {"crl-later.der", kDir + "crl-dp-b.der", "dp-uri.der", CRLDB_FAILURE},  // another point
      {"crl-reasons.der", kDir + "crl-ca-only.der", "user.der", CRLDB_FAILURE},  // CAs only
      {"crl-reasons.der", std::string(TAL_TEST_DATA_DIR) + "/net/ca.crl", "user.der",
       CRLDB_FAILURE},                                                          // another issuer
      {"crl-reasons.der", kDir + "crl-later.der", "user.der", CRLDB_OK},      // covers it too
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.file);
    MemoryDb m("crldb-damaged" + std::to_string(i));
    CrlDatabase db(m.manager);
    ASSERT_EQ(CRLDB_OK, db.importCrl(*crl(c.item)));
    DbBytes index;
    {
      DbCrlGuard guard(0);
      ASSERT_EQ(1, m.manager.getCrlIndex(index, guard));
    }
    const DbBytes other = readFile(c.file);
    ASSERT_EQ(1, m.manager.insertCrl(index, other, 0, -1));
    std::unique_ptr<SignedCertRevList> out;
    EXPECT_EQ(c.result, db.findLatestCrl(*cert(c.cert), out, nullptr));
    EXPECT_EQ(c.result == CRLDB_OK, out != nullptr);
  }
}

// A reader holds the store's lock until it has read the CRL its index named:
// an import of a newer CRL of the same scope in between removes that file, and
// the reader would answer a database failure for a store that never lacked a
// CRL. (Signatures do not matter to the store: the versions differ only in
// their thisUpdate.)
TEST(CrlDatabase, ReaderHoldsTheLockUntilItsCrlIsRead) {
  const int versions = 1500;
  std::vector<std::unique_ptr<SignedCertRevList>> crls;
  for (int i = 0; i < versions; ++i) {
    crls.push_back(crl("crl-reasons.der"));
    X509time& t = crls.back()->tbsCertList.thisUpdate;
    t.setFromTime64(t.toTime64(true) + i, true);
  }
  MemoryDb readerSide("crldb-race"), writerSide("crldb-race");  // one store, two connections
  CrlDatabase reader(readerSide.manager), writer(writerSide.manager);
  ASSERT_EQ(CRLDB_OK, writer.importCrl(*crls[0]));
  std::atomic<bool> done{false};
  std::thread imports([&] {
    for (int i = 1; i < versions; ++i) EXPECT_EQ(CRLDB_OK, writer.importCrl(*crls[i]));
    done = true;
  });
  auto user = cert("user.der");
  int reads = 0, failures = 0;
  while (!done) {
    std::unique_ptr<SignedCertRevList> out;
    if (reader.findLatestCrl(*user, out, nullptr) != CRLDB_OK || !out) ++failures;
    ++reads;
  }
  imports.join();
  EXPECT_EQ(0, failures) << "of " << reads << " reads";
}

// A database CRL dated after the time asked about is refused with its three
// lines (times as openssl wrote them: tests/data/store/revoc/dates.txt).
TEST(CrlDatabase, CrlDatedAfterTheTimeRefusedWithItsLines) {
  MemoryDb m("crldb-future");
  CrlDatabase db(m.manager);
  ASSERT_EQ(CRLDB_OK, db.importCrl(*crl("crl-reasons.der")));
  CertificateItem item;
  item.certificate = *cert("user.der");
  // At the certificate's notBefore, a second before the CRL's thisUpdate.
  FixedPathClock clock(item.certificate->tbsCertificate.validity.notBefore.toTime64(true));
  MemFile sink;
  ReportStream report(&sink);
  RevocationManager manager(clock, &report);
  manager.database = &db;
  UsedRevocationData used;
  RevocationArgs args;
  ASSERT_EQ(0, manager.checkStatus(item, args, nullptr, *cert("ca.der"), nullptr, used));
  EXPECT_EQ(REVSTATE_NO_DATA, item.revocationState);
  EXPECT_FALSE(used.crlToVerify);
  const std::string text(reinterpret_cast<const char*>(sink.data()),
                         static_cast<size_t>(sink.length()));
  EXPECT_NE(std::string::npos,
            text.find("Lista CRL odczytana z bazy danych nie może być użyta ponieważ czas jej "
                      "utworzenia jest późniejszy niż czas aktualny, należy sprawdzić aktualny czas "
                      "i datę ustawione w komputerze.\r\nOstatnia aktualizacja: 2026.12.07 "
                      "11:18:33 (UTC).\r\nCzas aktualny: 2026.12.07 11:18:32 (UTC).\r\n"))
      << text;
}

TEST(CrlDatabase, BuffersAndFailures) {
  MemoryDb m("crldb-buffers");
  CrlDatabase db(m.manager);
  std::vector<unsigned char> der = readFile(kDir + "crl-hold.der");
  std::vector<unsigned char> cut(der.begin(), der.begin() + static_cast<long>(der.size() / 2));
  EXPECT_EQ(CRLDB_INCOMPLETE, db.importCrlBuffer(cut));
  EXPECT_EQ(CRLDB_UNDECODABLE, db.importCrlBuffer({0x04, 0x01, 0x00}));
  EXPECT_EQ(CRLDB_OK, db.importCrlBuffer(der));

  // No database: every operation answers 2.
  DbManager none;
  CrlDatabase broken(none);
  std::unique_ptr<SignedCertRevList> out;
  std::vector<std::unique_ptr<SignedCertRevList>> list;
  EXPECT_EQ(CRLDB_FAILURE, broken.importCrl(*crl("crl-hold.der")));
  EXPECT_EQ(CRLDB_FAILURE, broken.findLatestCrl(*cert("user.der"), out, nullptr));
  EXPECT_EQ(CRLDB_FAILURE, broken.listDatabaseCrls(cert("user.der")->tbsCertificate.issuer, list));
}

// A CRL signed over a TBS that is not DER (its issuer name's length in the
// long form; openssl verifies it, tests/data/pki/certs/gen_nonder_chain.sh)
// imported from a buffer: the database gives back the octets received, and
// they verify under the issuer, from the lookup for a certificate and from
// the list of the issuer's CRLs.
TEST(CrlDatabase, BufferSignedOverNonDerKeepsItsOctets) {
  const std::string certs = std::string(TAL_TEST_DATA_DIR) + "/pki/certs/";
  const std::vector<unsigned char> der = readFile(certs + "nonder_crl.der");
  const std::vector<unsigned char> caDer = readFile(certs + "nonder_ca.der");
  const std::vector<unsigned char> eeDer = readFile(certs + "nonder_ee.der");
  SignedCertificate ca, ee;
  ASSERT_EQ(static_cast<int>(caDer.size()), ca.decodeVector(caDer, ASN_FLAG_CONST | ASN_FLAG_COPY));
  ASSERT_EQ(static_cast<int>(eeDer.size()), ee.decodeVector(eeDer, ASN_FLAG_CONST | ASN_FLAG_COPY));
  MemoryDb m("crldb-nonder");
  CrlDatabase db(m.manager);
  ASSERT_EQ(CRLDB_OK, db.importCrlBuffer(der));
  std::unique_ptr<SignedCertRevList> latest;
  ASSERT_EQ(CRLDB_OK, db.findLatestCrl(ee, latest, nullptr));
  std::vector<std::unique_ptr<SignedCertRevList>> listed;
  ASSERT_EQ(CRLDB_OK, db.listDatabaseCrls(ca.tbsCertificate.subject, listed));
  ASSERT_EQ(1u, listed.size());
  for (const SignedCertRevList* c : {latest.get(), listed[0].get()}) {
    ASSERT_TRUE(c);
    std::vector<unsigned char> back;
    ASSERT_LT(0, c->encodeVector(back));
    EXPECT_EQ(der, back);
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, c->verifySignature(ca));
  }
}

// Every serial openssl listed is found, others are not; BER leading zeros meet DER.
TEST(CrlSerialIndex, FindsEachOfTwoThousandEntries) {
  auto big = crl("crl-big.der");
  CrlSerialIndex index(*big);
  EXPECT_EQ(2000u, index.size());
  std::ifstream serials(kDir + "big-serials.txt");
  std::string hex;
  int found = 0;
  while (serials >> hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    ASNinteger s;
    s.setBytes(bytes.data(), static_cast<int>(bytes.size()));
    const CRLentry* e = index.find(s);
    ASSERT_TRUE(e) << hex;
    EXPECT_TRUE(e->userCertificate.equals(s) || e->userCertificate.compare(s) != 0);
    ++found;
  }
  EXPECT_EQ(2000, found);
  ASNinteger missing;
  missing.set(100u);
  EXPECT_EQ(nullptr, index.find(missing));

  auto reasons = crl("crl-reasons.der");
  CrlSerialIndex small(*reasons);
  const unsigned char padded[] = {0x00, 0x00, 0x65};  // 0x65 = 101 with BER zeros
  ASNinteger ber;
  ber.set(padded, 3);
  const CRLentry* e = small.find(ber);
  ASSERT_TRUE(e);
  EXPECT_EQ(101u, e->userCertificate.toLong());
}

// Signs stay apart: PKITS's CRL lists -1 (FF); 255 (00 FF) is not listed.
TEST(CrlSerialIndex, NegativeAndPositiveSerialsStayApart) {
  auto pkits = revdouble::load<SignedCertRevList>(std::string(TAL_TEST_DATA_DIR) +
                                                  "/store/pkits/crls/NegativeSerialNumberCACRL.crl");
  ASSERT_TRUE(pkits);
  CrlSerialIndex index(*pkits);
  const struct {
    std::vector<unsigned char> bytes;
    bool listed;
  } cases[] = {
      {{0xFF}, true}, {{0xFF, 0xFF}, true}, {{0x00, 0xFF}, false}, {{0x01}, false}, {{0x7F}, false},
  };
  for (const auto& c : cases) {
    ASNinteger serial;
    serial.set(c.bytes.data(), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(c.listed, index.find(serial) != nullptr) << c.bytes.size() << " " << int(c.bytes.back());
  }
}

const char* const cachedPathNames[] = {"user.der", "ca.der", "root.der"};

// user.der's path, its issuer and serial, and the clock just inside its validity.
void cachedPath(CertificatePath& path, IssuerAndSerialNumber& is, FixedPathClock& clock) {
  for (const char* f : cachedPathNames) {
    auto* item = new CertificateItem;
    item->certificate = *cert(f);
    ASSERT_EQ(1, path.append(item));
  }
  auto user = cert("user.der");
  is.issuer = user->tbsCertificate.issuer;
  is.serialNumber = user->tbsCertificate.serialNumber;
  clock.set(user->tbsCertificate.validity.notBefore.toTime64(true) + 10);
}

TEST(VerifiedRevocationCache, OptionGateExpiryAndIssuers) {
  FixedPathClock clock;
  bool on = false;
  VerifiedRevocationCache cache([&] { return on; }, clock);
  CertificatePath path;
  IssuerAndSerialNumber is;
  cachedPath(path, is, clock);

  EXPECT_FALSE(cache.insertEntry(path, 2));
  EXPECT_FALSE(cache.hasValidEntry(is));
  on = true;
  EXPECT_FALSE(cache.hasValidEntry(is));
  EXPECT_TRUE(cache.insertEntry(path, 2));
  EXPECT_TRUE(cache.hasValidEntry(is));
  const VerifiedPathEntry* entry = cache.findEntry(is);
  ASSERT_TRUE(entry);
  EXPECT_EQ(2u, entry->qualification);
  EXPECT_EQ(3, entry->path->GetCount());

  // The earliest notAfter of the path bounds the entry (ca.der and user.der
  // end before the root).
  int64_t earliest = INT64_MAX;
  for (const char* f : {"user.der", "ca.der", "root.der"})
    earliest = std::min(earliest, cert(f)->tbsCertificate.validity.notAfter.toTime64(true));
  EXPECT_EQ(earliest, entry->validUntil.toTime64(true));

  // Same serial, another issuer: a miss.
  IssuerAndSerialNumber other = is;
  other.issuer = cert("ca.der")->tbsCertificate.issuer;
  EXPECT_FALSE(cache.hasValidEntry(other));

  clock.set(earliest);
  EXPECT_TRUE(cache.hasValidEntry(is));
  clock.set(earliest + 1);
  EXPECT_FALSE(cache.hasValidEntry(is));
  EXPECT_EQ(nullptr, cache.findEntry(is));  // gone

  auto hold = crl("crl-hold.der");
  clock.set(hold->tbsCertList.thisUpdate.toTime64(true));
  cache.storeRevocationResult(*hold, hold->tbsCertList.nextUpdate);
  EXPECT_TRUE(cache.matchesEntry(*hold));
  EXPECT_FALSE(cache.matchesEntry(*crl("crl-reasons.der")));
  on = false;
  EXPECT_FALSE(cache.matchesEntry(*hold));
  on = true;
  clock.set(hold->tbsCertList.nextUpdate.toTime64(true) + 1);
  EXPECT_FALSE(cache.matchesEntry(*hold));
  clock.set(hold->tbsCertList.thisUpdate.toTime64(true));
  EXPECT_FALSE(cache.matchesEntry(*hold));  // erased on the expired look-up
}

// A path handed out of the cache shares the entry's certificates and keeps
// them after the entry is dropped (expired and looked up).
TEST(VerifiedRevocationCache, HandedOutPathOutlivesItsEntry) {
  FixedPathClock clock;
  VerifiedRevocationCache cache([] { return true; }, clock);
  CertificatePath path;
  IssuerAndSerialNumber is;
  cachedPath(path, is, clock);
  ASSERT_TRUE(cache.insertEntry(path, 1));
  path.clear();  // the entry holds its own

  CertificatePath handed;
  ASSERT_TRUE(cache.hasValidEntry(is));
  handed = *cache.findEntry(is)->path;
  EXPECT_TRUE(handed.elementAt(0)->certificate.sharesBodyWith(
      cache.findEntry(is)->path->elementAt(0)->certificate));
  clock.set(INT64_MAX / 2);
  EXPECT_FALSE(cache.hasValidEntry(is));
  ASSERT_EQ(3, handed.GetCount());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(handed.elementAt(i)->certificate == *cert(cachedPathNames[i])) << i;
  EXPECT_EQ(1, handed.elementAt(0)->certificate->verifySignature(handed.elementAt(1)->certificate));
}

ASNinteger intOf(uint32_t v) {
  ASNinteger i;
  i.set(v);
  return i;
}

DbBytes derOfMember(const ASNobject& o) {
  DbBytes out;
  EXPECT_GT(o.encodeVector(out), 0);
  return out;
}

DbBytes tlv(uint8_t tag, std::initializer_list<DbBytes> parts) {
  DbBytes content;
  for (const DbBytes& p : parts) content.insert(content.end(), p.begin(), p.end());
  DbBytes out{tag};
  if (content.size() >= 0x80) out.push_back(content.size() >= 0x100 ? 0x82 : 0x81);
  if (content.size() >= 0x100) out.push_back(static_cast<uint8_t>(content.size() >> 8));
  out.push_back(static_cast<uint8_t>(content.size()));
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// Through the file-backed database: the index file holds each item as the
// head of its CRL (file number, version, issuer, times, [0] extensions), and
// the fields kept in memory only are not written.
TEST(CrlIndex, ItemsOnDiskMirrorTheCrlHead) {
  std::string dir = "/tmp/talvorin-crldb-" + std::to_string(::getpid());
  std::system(("rm -rf '" + dir + "'").c_str());
  Settings settings;
  settings.config.setParam("db", dir);
  DbManager manager;
  manager.setContext(&settings);
  {
    DbTal created;
    created.connect(dir);
    created.create();
  }
  ASSERT_EQ(0, manager.createDb());
  CrlDatabase db(manager);
  auto scoped = crl("crl-ca-only.der");
  ASSERT_EQ(CRLDB_OK, db.importCrl(*scoped));
  const TBSCertRevList& tbs = scoped->tbsCertList;
  ASSERT_TRUE(tbs.nextUpdatePresent);
  DbBytes item = tlv(0x30, {derOfMember(intOf(0)), derOfMember(tbs.version), derOfMember(tbs.issuer),
                            derOfMember(tbs.thisUpdate), derOfMember(tbs.nextUpdate),
                            derOfMember(tbs.crlExtensions)});
  EXPECT_EQ(tlv(0x30, {derOfMember(intOf(1)), tlv(0x30, {item})}), readFile(dir + "/crl_idx.asn"));

  // Decoding: each case changes what follows thisUpdate, or the version.
  DbBytes head = derOfMember(intOf(7));
  DbBytes v2 = derOfMember(intOf(1));
  DbBytes issuer = derOfMember(tbs.issuer), time = derOfMember(tbs.thisUpdate);
  DbBytes ext = derOfMember(tbs.crlExtensions);
  const struct {
    const char* name;
    DbBytes der;
    bool ok;
  } cases[] = {
      {"v1 with nextUpdate", tlv(0x30, {head, issuer, time, time}), true},
      {"v2 with extensions", tlv(0x30, {head, v2, issuer, time, ext}), true},
      {"extensions at v1", tlv(0x30, {head, issuer, time, ext}), false},
      {"nextUpdate after extensions", tlv(0x30, {head, v2, issuer, time, ext, time}), false},
      {"two nextUpdates", tlv(0x30, {head, issuer, time, time, time}), false},
      {"a third element", tlv(0x30, {head, v2, issuer, time, time, ext, head}), false},
      {"no thisUpdate", tlv(0x30, {head, issuer}), false},
  };
  for (const auto& k : cases) {
    CrlItem decoded;
    bool ok = decoded.decodeVector(k.der) == static_cast<int>(k.der.size());
    EXPECT_EQ(k.ok, ok) << k.name;
    if (ok) { EXPECT_EQ(k.der, derOfMember(decoded)) << k.name; }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
