// Path verification: the per-certificate extension checks over extension
// values encoded from their ASN.1 definitions, the policy step with and
// without a user policy set, the revocation step's outcomes and the nesting
// bound over the revocation double, the signature-code table and the small
// services. Certificates and CRLs are NIST PKITS (tests/data/store/pkits).
#include "revocation_double.h"
#include "threadtime.h"

#include "base/memfile.h"
#include "store/pathclock.h"
#include "store/revmgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

using namespace revdouble;

const std::string kDir = std::string(TAL_TEST_DATA_DIR) + "/store/pkits/";

std::unique_ptr<SignedCertificate> cert(const char* name) {
  auto c = load<SignedCertificate>(kDir + "certs/" + name);
  EXPECT_TRUE(c) << name;
  return c;
}

std::unique_ptr<SignedCertRevList> crl(const char* name) {
  auto c = load<SignedCertRevList>(kDir + "crls/" + name);
  EXPECT_TRUE(c) << name;
  return c;
}

Bytes unhex(const std::string& h) {
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

// GoodCACert with its extensions replaced by one.
std::unique_ptr<SignedCertificate> withExtension(const char* oid, bool critical, const char* hex) {
  auto c = cert("GoodCACert.crt");
  Extensions& exts = *c->tbsCertificate.extensions;
  exts.clear();
  Extension* e = exts.addNew();
  e->extnID.set(oid);
  e->critical.set(critical);
  Bytes v = unhex(hex);
  e->extnValue.set(v.data(), static_cast<int>(v.size()));
  return c;
}

const char* const kEku = "2.5.29.37";
const char* const kAia = "1.3.6.1.5.5.7.1.1";
const char* const kSan = "2.5.29.17";
const char* const kCrlDp = "2.5.29.31";
const char* const kFreshest = "2.5.29.46";
const char* const kQc = "1.3.6.1.5.5.7.1.3";
const char* const kEkuTs = "300a06082b06010505070308";
const char* const kDpOk = "301d301ba019a0178615687474703a2f2f63726c2e746573742f612e63726c";

TEST(PathVerification, ExtensionChecks) {
  struct Case {
    const char* name;
    const char* oid;
    bool critical;
    const char* value;
    int32_t purpose;
    bool accepted;
  } cases[] = {
      {"EKU timeStamping, TSA path", kEku, true, kEkuTs, PATH_PURPOSE_TSA, true},
      {"EKU timeStamping, signer path", kEku, true, kEkuTs, PATH_PURPOSE_SIGNER, false},
      {"EKU OCSPSigning, responder path", kEku, true, "300a06082b06010505070309", PATH_PURPOSE_OCSP_OTHER, true},
      {"EKU OCSPSigning, CRL issuer path", kEku, true, "300a06082b06010505070309", PATH_PURPOSE_CRL_ISSUER, false},
      {"EKU maker's arc 2.1.1.1", kEku, true, "300e060c2b0601040184c05902010101", PATH_PURPOSE_SIGNER, true},
      {"EKU serverAuth non-critical", kEku, false, "300a06082b06010505070301", PATH_PURPOSE_SIGNER, true},
      {"EKU empty list", kEku, false, "3000", PATH_PURPOSE_SIGNER, false},
      {"AIA critical", kAia, true, "3042301d06082b060105050730018611687474703a2f2f6f6373702e746573742f302106082b060105050730028615687474703a2f2f63612e746573742f63612e637274", PATH_PURPOSE_SIGNER, false},
      {"AIA non-critical", kAia, false, "3042301d06082b060105050730018611687474703a2f2f6f6373702e746573742f302106082b060105050730028615687474703a2f2f63612e746573742f63612e637274", PATH_PURPOSE_SIGNER, true},
      // A subject of its own (GoodCACert's): a critical subjectAltName is unknown.
      {"subjectAltName critical", kSan, true, "30088206612e74657374", PATH_PURPOSE_SIGNER, false},
      {"subjectAltName non-critical", kSan, false, "30088206612e74657374", PATH_PURPOSE_SIGNER, true},
      {"subjectAltName critical, no name", kSan, true, "3000", PATH_PURPOSE_SIGNER, false},
      {"subjectAltName critical, undecodable", kSan, true, "0500", PATH_PURPOSE_SIGNER, false},
      {"keyUsage critical, undecodable", "2.5.29.15", true, "0500", PATH_PURPOSE_SIGNER, false},
      {"keyUsage non-critical, undecodable", "2.5.29.15", false, "0500", PATH_PURPOSE_SIGNER, true},
      {"unknown non-critical", "1.2.3.4", false, "0500", PATH_PURPOSE_SIGNER, true},
      {"CRL DP critical, one URI", kCrlDp, true, kDpOk, PATH_PURPOSE_SIGNER, true},
      {"freshestCRL critical, one URI", kFreshest, true, kDpOk, PATH_PURPOSE_SIGNER, true},
      {"CRL DP all eight reasons", kCrlDp, true, "30223020a019a0178615687474703a2f2f63726c2e746573742f612e63726c8103077f80", PATH_PURPOSE_SIGNER, true},
      {"CRL DP some reasons", kCrlDp, true, "3021301fa019a0178615687474703a2f2f63726c2e746573742f612e63726c8102017e", PATH_PURPOSE_SIGNER, false},
      {"CRL DP relative name", kCrlDp, true, "3011300fa00da10b300906035504030c026162", PATH_PURPOSE_SIGNER, false},
      {"CRL DP without URI", kCrlDp, true, "300e300ca00aa0088206612e74657374", PATH_PURPOSE_SIGNER, false},
      {"CRL DP cRLIssuer not the issuer", kCrlDp, true, "302f302da019a0178615687474703a2f2f63726c2e746573742f612e63726ca210a40e300c310a300806035504030c0178", PATH_PURPOSE_SIGNER, false},
      {"CRL DP cRLIssuer the issuer", kCrlDp, true, "30683066a019a0178615687474703a2f2f63726c2e746573742f612e63726ca249a4473045310b3009060355040613025553311f301d060355040a131654657374204365727469666963617465732032303131311530130603550403130c547275737420416e63686f72", PATH_PURPOSE_SIGNER, true},
      {"CRL DP non-critical without URI", kCrlDp, false, "300e300ca00aa0088206612e74657374", PATH_PURPOSE_SIGNER, true},
      {"CRL DP critical undecodable", kCrlDp, true, "3003", PATH_PURPOSE_SIGNER, false},
      {"QC compliance critical", kQc, true, "300a3008060604008e460101", PATH_PURPOSE_SIGNER, true},
      {"QC unknown statement critical", kQc, true, "3007300506032a0304", PATH_PURPOSE_SIGNER, false},
      {"QC unknown statement non-critical", kQc, false, "3007300506032a0304", PATH_PURPOSE_SIGNER, true},
      {"QC syntax v2, known semantics", kQc, true, "3016301406082b06010505070b023008060604008bec4a01", PATH_PURPOSE_SIGNER, true},
      {"QC syntax v2, other semantics", kQc, true, "3013301106082b06010505070b02300506032a0304", PATH_PURPOSE_SIGNER, false},
      {"QC syntax v2, no semantics id", kQc, true, "3014301206082b06010505070b02300630043002a000", PATH_PURPOSE_SIGNER, false},
      {"QC empty list critical", kQc, true, "3000", PATH_PURPOSE_SIGNER, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto x = withExtension(c.oid, c.critical, c.value);
    MemFile sink;
    ReportStream report(&sink);
    PathVerification pv;
    pv.report = &report;
    EXPECT_EQ(pv.checkCertificateExtensions(*x, c.purpose), c.accepted);
  }
  // A key purpose listed in the profile is accepted on any path.
  auto x = withExtension(kEku, true, "300a06082b06010505070301");
  PathVerification pv;
  pv.profileKeyUsages.push_back(ASNobjectId("1.3.6.1.5.5.7.3.1"));
  EXPECT_TRUE(pv.checkCertificateExtensions(*x, PATH_PURPOSE_SIGNER));
}

// End certificates of openssl (tests/data/store/paths/gen-strict.sh) that
// break one rule of RFC 5280 each, or keep one it allows; openssl's verdicts
// stand in strict/verify.txt.
TEST(PathVerification, OpensslStrictCertificates) {
  const std::string dir = std::string(TAL_TEST_DATA_DIR) + "/store/paths/strict/";
  auto root = load<SignedCertificate>(dir + "root.der");
  ASSERT_TRUE(root);
  const std::string malformed = "Błędny format rozszerzenia certyfikatu: ";
  const std::string unknown = "Nieobsługiwane krytyczne rozszerzenie certyfikatu: ";
  struct Case {
    const char* name;
    bool extensionsAccepted;
    int signature;        // certificateSignatureAnswer under the root's key
    int policies;         // checkPathPolicies over the end certificate and the root
    std::string refusal;  // the report's last line when refused
  } cases[] = {
      {"good", true, CERT_ANSWER_VERIFIES, 0, ""},
      {"dupext", false, CERT_ANSWER_VERIFIES, 0, malformed + "2.5.29.15\r\n"},  // keyUsage twice
      // a critical keyUsage that does not decode
      {"kubad", false, CERT_ANSWER_VERIFIES, 0, malformed + "2.5.29.15\r\n"},
      {"sigalg", true, CERT_ANSWER_DOES_NOT_VERIFY, 0, ""},  // outer algorithm not the TBS one
      {"poltwice", true, CERT_ANSWER_VERIFIES, PATH_RESULT_FAILED, ""},  // one policy twice
      // A critical subjectAltName: known under an empty subject only, where it
      // must hold a name.
      {"sanempty", true, CERT_ANSWER_VERIFIES, 0, ""},
      {"sanname", false, CERT_ANSWER_VERIFIES, 0, unknown + "2.5.29.17\r\n"},
      {"sanbad", false, CERT_ANSWER_VERIFIES, 0, malformed + "2.5.29.17\r\n"},
      {"sannone", false, CERT_ANSWER_VERIFIES, 0, malformed + "2.5.29.17\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto x = load<SignedCertificate>(dir + c.name + ".der");
    ASSERT_TRUE(x);
    PathVerification pv;
    MemFile sink;
    ReportStream report(&sink);
    pv.report = &report;
    EXPECT_EQ(pv.checkCertificateExtensions(*x, PATH_PURPOSE_SIGNER), c.extensionsAccepted);
    const std::string text(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), c.refusal.size())), c.refusal) << text;
    EXPECT_EQ(text.empty(), c.refusal.empty()) << text;
    EXPECT_EQ(certificateSignatureAnswer(x->verifySignature(*root), x->signature), c.signature);
    CertificatePath p;
    p.addNew()->certificate = *x;
    p.addNew()->certificate = *root;
    EXPECT_EQ(pv.checkPathPolicies(p), c.policies);
  }
}

// A CRL of the pending or the verified list decides nothing at a time before
// its thisUpdate, as one of the database does not (openssl: "CRL is not yet
// valid").
TEST(PathVerification, CrlNotYetIssued) {
  const std::string dir = std::string(TAL_TEST_DATA_DIR) + "/store/paths/strict/";
  auto root = load<SignedCertificate>(dir + "root.der");
  auto revoked = load<SignedCertificate>(dir + "revoked.der");
  auto future = load<SignedCertRevList>(dir + "crl-future.der");
  ASSERT_TRUE(root && revoked && future);
  const int64_t issued = future->tbsCertList.thisUpdate.toTime64(true);
  for (bool pending : {true, false})
    for (int64_t delta : {-3600, 0}) {
      SCOPED_TRACE(std::string(pending ? "pending" : "verified") + (delta ? ", before" : ", at"));
      FixedPathClock clock(issued + delta);
      RevocationManager m(clock, nullptr);
      (pending ? m.pendingCrls : m.verifiedCrls).emplace_back(new SignedCertRevList(*future));
      CertificateItem item;
      item.certificate = *revoked;
      UsedRevocationData used;
      RevocationArgs args;
      ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *root, nullptr, used));
      EXPECT_EQ(item.wwc, delta ? WWC_OK : WWC_REVOKED);
      EXPECT_EQ(item.revocationState, delta ? REVSTATE_NO_DATA : REVSTATE_FOUND);
    }
}

TEST(PathVerification, DistributionPointUris) {
  auto x = withExtension(kCrlDp, false,
                         "302f302da02ba0298613687474703a2f2f612e746573742f312e63726c820178860f6c6461703a2f2f622e746573742f32");
  DistributionPointsInfo info = PathVerification::readDistributionPoints(*x);
  EXPECT_EQ(info.pointsKind, DistributionPointsInfo::NON_CRITICAL);
  EXPECT_EQ(info.freshestKind, DistributionPointsInfo::ABSENT);
  EXPECT_EQ(info.pointsUris, (std::vector<std::string>{"http://a.test/1.crl", "ldap://b.test/2"}));
  auto bad = withExtension(kFreshest, true, "3011300fa00da10b300906035504030c026162");
  EXPECT_TRUE(PathVerification::readDistributionPoints(*bad).criticalUnusable);
}

CertificatePath pathOf(std::initializer_list<const char*> names) {
  CertificatePath p;
  for (const char* n : names) p.addNew()->certificate = *cert(n);
  return p;
}

TEST(PathVerification, UserPolicySet) {
  struct Case {
    const char* name;
    bool configured;
    std::vector<const char*> set;
    int expect;
    uint32_t policyResult;
  } cases[] = {
      {"no set: any policy", false, {}, 0, 0},
      {"empty set: any policy", true, {}, 0, 0},
      {"anyPolicy", true, {"2.5.29.32.0"}, 0, 0},
      {"the path's policy", true, {"2.16.840.1.101.3.2.1.48.1"}, 0, 0},
      {"another policy: enforced", true, {"2.16.840.1.101.3.2.1.48.2"}, PATH_RESULT_FAILED, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CertificatePath p = pathOf({"ValidCertificatePathTest1EE.crt", "GoodCACert.crt",
                                "TrustAnchorRootCertificate.crt"});
    CertificatePolicies set;
    for (const char* o : c.set) set.addNew()->policyIdentifier.set(o);
    PathVerification pv;
    if (c.configured) pv.userPolicySet = &set;
    EXPECT_EQ(pv.checkPathPolicies(p), c.expect);
    EXPECT_EQ(p.policyResult, c.policyResult);
  }
  // One certificate passes unconditionally; the trust point's lack of
  // certificatePolicies does not end a path whose CA requires a policy.
  CertificatePolicies other;
  other.addNew()->policyIdentifier.set("2.16.840.1.101.3.2.1.48.2");
  PathVerification pv;
  pv.userPolicySet = &other;
  CertificatePath one = pathOf({"TrustAnchorRootCertificate.crt"});
  EXPECT_EQ(pv.checkPathPolicies(one), 0);
  PathVerification plain;
  CertificatePath req = pathOf({"ValidrequireExplicitPolicyTest4EE.crt",
                                "requireExplicitPolicy0subsubsubCACert.crt",
                                "requireExplicitPolicy0subsubCACert.crt",
                                "requireExplicitPolicy0subCACert.crt",
                                "requireExplicitPolicy0CACert.crt",
                                "TrustAnchorRootCertificate.crt"});
  EXPECT_EQ(plain.checkPathPolicies(req), 0);
}

struct Verified {
  int result;
  CertificatePath path;
  PathCollector collector;
};

void verify(Verified& v, RevocationDouble& rev, int32_t purpose) {
  CrlList* crls = new CrlList();
  crls->push_back(crl("GoodCACRL.crl"));
  crls->push_back(crl("TrustAnchorRootCRL.crl"));
  rev.database = crls;
  rev.now.set(2020, 1, 1, 0, 0, 0);
  PathVerification pv;
  pv.revocation = &rev;
  RevocationArgs args;
  args.time = &rev.now;
  v.result = pv.verifyPath(v.path, args, false, purpose, true, nullptr, &v.collector);
  rev.database = nullptr;
  delete crls;
}

TEST(PathVerification, CheckResults) {
  struct Case {
    const char* name;
    uint32_t forced;
    int expect;
  } cases[] = {{"valid", 0, 0},
               {"suspended", WWC_SUSPENDED, PATH_RESULT_FAILED},
               {"revoked", WWC_REVOKED, PATH_RESULT_FAILED},
               {"expired", WWC_EXPIRED, PATH_RESULT_FAILED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RevocationDouble rev;
    rev.forcedWwc = c.forced;
    Verified v;
    v.path = pathOf({"ValidCertificatePathTest1EE.crt", "GoodCACert.crt",
                     "TrustAnchorRootCertificate.crt"});
    verify(v, rev, PATH_PURPOSE_SIGNER);
    EXPECT_EQ(v.result, c.expect);
  }
  RevocationDouble rev;
  Verified v;
  v.path = pathOf({"InvalidRevokedEETest3EE.crt", "GoodCACert.crt", "TrustAnchorRootCertificate.crt"});
  verify(v, rev, PATH_PURPOSE_SIGNER);
  EXPECT_EQ(v.result, PATH_RESULT_FAILED);
  EXPECT_EQ(v.path.GetHead()->wwc, WWC_REVOKED);
}

TEST(PathVerification, CollectorAndTrustPoint) {
  for (int32_t purpose : {PATH_PURPOSE_SIGNER, PATH_PURPOSE_CRL_ISSUER}) {
    SCOPED_TRACE(purpose);
    RevocationDouble rev;
    Verified v;
    v.path = pathOf({"ValidCertificatePathTest1EE.crt", "GoodCACert.crt",
                     "TrustAnchorRootCertificate.crt"});
    v.path.GetTail()->wwc = WWC_UNCHECKED;
    verify(v, rev, purpose);
    ASSERT_EQ(v.result, 0);
    EXPECT_EQ(v.path.GetTail()->wwc, WWC_OK);
    EXPECT_EQ(v.path.GetTail()->revocationState, REVSTATE_FOUND);
    // The end certificate of a signer path is the caller's; a CRL issuer's is data.
    EXPECT_EQ(v.collector.path.certificates.items.size(), purpose == PATH_PURPOSE_SIGNER ? 2u : 3u);
    // The two CRLs used, each verified once and collected once.
    EXPECT_EQ(v.collector.path.revocations.items.size(), 2u);
    EXPECT_EQ(rev.crlChecks, 2);
    EXPECT_EQ(rev.released, 1);
    EXPECT_EQ(rev.demoted, 1);
  }
  // A CRL that fails verification: no data, not revoked, nothing collected.
  RevocationDouble rev;
  Verified v;
  v.path = pathOf({"InvalidBadCRLSignatureTest4EE.crt", "BadCRLSignatureCACert.crt",
                   "TrustAnchorRootCertificate.crt"});
  auto crls = std::make_unique<CrlList>();
  crls->push_back(crl("BadCRLSignatureCACRL.crl"));
  rev.database = crls.get();
  rev.now.set(2020, 1, 1, 0, 0, 0);
  PathVerification pv;
  pv.revocation = &rev;
  RevocationArgs args;
  args.time = &rev.now;
  EXPECT_EQ(pv.verifyPath(v.path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &v.collector), 0);
  EXPECT_EQ(v.path.GetHead()->revocationState, REVSTATE_NO_DATA);
  EXPECT_EQ(v.path.GetHead()->revocationSource, REVSOURCE_NONE);
  EXPECT_EQ(v.path.GetHead()->wwc, WWC_OK);
}

// A CA whose keyUsage lacks keyCertSign issues no certificate of a path, and
// one without cRLSign signs no CRL that is accepted (RFC 5280, 6.1.4(n) and
// 6.3.3(f)). openssl rejects the chain made for this ("invalid CA certificate").
TEST(PathVerification, KeyUsageOfIssuers) {
  const std::string paths = std::string(TAL_TEST_DATA_DIR) + "/store/paths/";
  const Bytes verdict = readFile(paths + "kusage/verify.txt");
  EXPECT_NE(std::string(verdict.begin(), verdict.end()).find("invalid CA certificate"),
            std::string::npos);
  struct Case {
    const char* name;
    std::vector<std::string> files;  // end certificate first
    int expect;
    uint32_t policyResult;
  } cases[] = {
      {"openssl, CA without keyCertSign",
       {paths + "kusage/ee.der", paths + "kusage/int.der", paths + "kusage/root.der"},
       PATH_RESULT_FAILED, 2},
      {"openssl, CA with keyCertSign",
       {paths + "rsa/ee.der", paths + "rsa/int2.der", paths + "rsa/int1.der", paths + "rsa/root.der"},
       0, 0},
      {"PKITS, critical keyUsage without keyCertSign",
       {kDir + "certs/InvalidkeyUsageCriticalkeyCertSignFalseTest1EE.crt",
        kDir + "certs/keyUsageCriticalkeyCertSignFalseCACert.crt",
        kDir + "certs/TrustAnchorRootCertificate.crt"},
       PATH_RESULT_FAILED, 2},
      {"PKITS, non-critical keyUsage with keyCertSign",
       {kDir + "certs/ValidkeyUsageNotCriticalTest3EE.crt",
        kDir + "certs/keyUsageNotCriticalCACert.crt", kDir + "certs/TrustAnchorRootCertificate.crt"},
       0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CertificatePath p;
    for (const std::string& f : c.files) {
      auto x = load<SignedCertificate>(f);
      ASSERT_TRUE(x) << f;
      p.addNew()->certificate = *x;
    }
    PathVerification pv;
    EXPECT_EQ(pv.checkPathPolicies(p), c.expect);
    EXPECT_EQ(p.policyResult, c.policyResult);
  }
  // The CRL of a CA without cRLSign fails verification: no revocation data.
  for (const char* test : {"Critical", "NotCritical"}) {
    SCOPED_TRACE(test);
    const std::string ca = std::string("keyUsage") + test + "cRLSignFalseCA";
    const int number = std::string(test) == "Critical" ? 4 : 5;
    RevocationDouble rev;
    Verified v;
    v.path = pathOf({("InvalidkeyUsage" + std::string(test) + "cRLSignFalseTest" +
                      std::to_string(number) + "EE.crt").c_str(),
                     (ca + "Cert.crt").c_str(), "TrustAnchorRootCertificate.crt"});
    auto crls = std::make_unique<CrlList>();
    crls->push_back(crl((ca + "CRL.crl").c_str()));
    crls->push_back(crl("TrustAnchorRootCRL.crl"));
    rev.database = crls.get();
    rev.now.set(2020, 1, 1, 0, 0, 0);
    MemFile text;
    ReportStream report(&text);
    PathVerification pv;
    pv.revocation = &rev;
    RevocationArgs args;
    args.time = &rev.now;
    EXPECT_EQ(pv.verifyPath(v.path, args, false, PATH_PURPOSE_SIGNER, true, &report, &v.collector), 0);
    EXPECT_EQ(v.path.GetHead()->revocationState, REVSTATE_NO_DATA);
    EXPECT_EQ(v.path.elementAt(1)->revocationState, REVSTATE_FOUND);
    const std::string said(reinterpret_cast<const char*>(text.data()), text.size());
    EXPECT_NE(said.find("Błąd weryfikacji listy CRL: klucz wystawcy nie służy do podpisywania list CRL"),
              std::string::npos);
  }
}

TEST(PathVerification, NestingIsBounded) {
  // A revocation manager that verifies a responder path for every
  // certificate, whose certificates again need a responder: without a bound
  // this never ends.
  RevocationDouble rev;
  PathVerification pv;
  pv.revocation = &rev;
  rev.now.set(2020, 1, 1, 0, 0, 0);
  RevocationArgs args;
  args.time = &rev.now;
  int deepest = 0, refused = 0, calls = 0;
  rev.onOcsp = [&] {
    ++calls;
    deepest = std::max(deepest, pv.nestingDepth());
    CertificatePath responder = pathOf({"GoodCACert.crt", "TrustAnchorRootCertificate.crt"});
    if (pv.verifyPath(responder, args, false, PATH_PURPOSE_OCSP_OTHER, true, nullptr, nullptr) ==
        PATH_RESULT_NO_PATH)
      ++refused;
  };
  CertificatePath p = pathOf({"GoodCACert.crt", "TrustAnchorRootCertificate.crt"});
  EXPECT_EQ(pv.verifyPath(p, args, false, PATH_PURPOSE_SIGNER, true, nullptr, nullptr), 0);
  EXPECT_EQ(deepest, PathVerification::MAX_NESTING);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(calls, PathVerification::MAX_NESTING);
  EXPECT_EQ(rev.outermostResets, 1);
  // The dropped CRLs go once per outermost verification, collecting or not (none here).
  EXPECT_EQ(rev.released, 1);
  EXPECT_EQ(rev.demoted, 0);
  EXPECT_EQ(pv.nestingDepth(), 0);
}

TEST(PathVerification, SignatureCodeTable) {
  auto ta = cert("TrustAnchorRootCertificate.crt");
  auto good = cert("GoodCACert.crt");
  auto badSigned = cert("BadSignedCACert.crt");
  auto dsa = cert("DSACACert.crt");
  auto empty = cert("GoodCACert.crt");
  empty->signature.resize(0);
  auto goodCrl = crl("GoodCACRL.crl");
  auto badCrl = crl("BadCRLSignatureCACRL.crl");
  auto badCrlCa = cert("BadCRLSignatureCACert.crt");
  struct Case {
    const char* name;
    int got;
    int expect;
  } cases[] = {
      {"certificate verifies", certificateSignatureAnswer(good->verifySignature(*ta), good->signature), CERT_ANSWER_VERIFIES},
      {"certificate does not", certificateSignatureAnswer(badSigned->verifySignature(*ta), badSigned->signature), CERT_ANSWER_DOES_NOT_VERIFY},
      {"certificate without signature", certificateSignatureAnswer(empty->verifySignature(*ta), empty->signature), CERT_ANSWER_NO_SIGNATURE},
      {"certificate, DSA key for RSA", certificateSignatureAnswer(good->verifySignature(*dsa), good->signature), CERT_ANSWER_KEY_MISMATCH},
      {"CRL good", crlSignatureAnswer(goodCrl->verifySignature(*good), goodCrl->signature), CRL_ANSWER_GOOD},
      {"CRL bad", crlSignatureAnswer(badCrl->verifySignature(*badCrlCa), badCrl->signature), CRL_ANSWER_BAD},
      {"CRL, DSA key for RSA", crlSignatureAnswer(goodCrl->verifySignature(*dsa), goodCrl->signature), CRL_ANSWER_KEY_DOES_NOT_FIT},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expect) << c.name;
  int n = 0;
  const SignatureCodeRow* rows = signatureCodeTable(&n);
  ASSERT_EQ(n, 6);
  for (int i = 0; i < n; ++i) EXPECT_GE(rows[i].verifier, -4);
}

TEST(PathVerification, QualifiedKeyUsage) {
  CertificatePath p = pathOf({"GoodCACert.crt", "TrustAnchorRootCertificate.crt"});
  struct Case {
    uint8_t qualifiedRoot;
    bool check;
    int32_t state;
  } cases[] = {{0, true, 1}, {1, false, 0}, {1, true, 2}};  // GoodCA: no nonRepudiation
  for (const Case& c : cases) {
    p.qualifiedRoot = c.qualifiedRoot;
    int32_t state = -1;
    EXPECT_EQ(PathVerification::qualifiedKeyUsage(p, c.check, state), 0);
    EXPECT_EQ(state, c.state);
  }
}

TEST(PathVerification, OcspUrisAndMissingCertificates) {
  AuthorityInfoAccess aia;
  Bytes v = unhex("3042301d06082b060105050730018611687474703a2f2f6f6373702e746573742f302106082b060105050730028615687474703a2f2f63612e746573742f63612e637274");
  ASSERT_EQ(aia.decodeVector(v), static_cast<int>(v.size()));
  std::vector<std::string> uris;
  EXPECT_TRUE(PathVerification::collectOcspUris(aia, uris));
  EXPECT_EQ(uris, std::vector<std::string>{"http://ocsp.test/"});

  SignatureCrtValues source, target;
  source.items.push_back(cert("GoodCACert.crt").release());
  source.items.push_back(cert("TrustAnchorRootCertificate.crt").release());
  target.items.push_back(cert("GoodCACert.crt").release());
  EXPECT_EQ(PathVerification::addMissingCertificates(source, target), 1);
  EXPECT_EQ(source.items.size(), 1u);
  EXPECT_EQ(target.items.size(), 2u);
}

// A certificate is checked before its signature is: tens of thousands of
// distinct extensions (some 400 kB of DER) are weighed in linear time, and a
// repeated OID among them is still found (one at a time, in pairs, took
// half a minute here).
TEST(PathVerification, ManyExtensionsAreCheckedInLinearTime) {
  auto c = withExtension("1.2.3.4", false, "0500");
  Extensions& exts = *c->tbsCertificate.extensions;
  const unsigned char value[2] = {5, 0};
  for (int i = 0; i < 40000; ++i) {
    Extension* e = exts.addNew();
    e->extnID.set(("1.2.3.5." + std::to_string(i)).c_str());
    e->extnValue.set(value, 2);
  }
  for (bool repeated : {false, true}) {
    if (repeated) {
      Extension* e = exts.addNew();
      e->extnID.set("1.2.3.5.17");
      e->extnValue.set(value, 2);
    }
    // This thread's processor time, which a busy machine does not stretch:
    // some 0.1 s under the sanitizers, against half a minute when quadratic.
    const double start = threadSeconds();
    PathVerification pv;
    EXPECT_EQ(pv.checkCertificateExtensions(*c, PATH_PURPOSE_SIGNER), !repeated);
    EXPECT_LT(threadSeconds() - start, 3.0);
  }
}

}  // namespace
