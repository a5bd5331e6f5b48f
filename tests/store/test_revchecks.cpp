// OCSP request building, the response format check and responder
// authorisation over responses of `openssl ocsp`, and CRL verification over
// CRLs of `openssl ca -gencrl` (tests/data/store/revoc/gen.sh), with the edge
// cases of tests/data/store/revoc/gen-edge.sh.
#include "store/revmgr.h"
#include "store/revpath.h"

#include "base/memfile.h"
#include "base/workaccount.h"
#include "pki/common/oids.h"
#include "revoc_fixtures.h"

#include "pki/certtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using revfix::basic;
using revfix::get;

// Local stores and path verification of a context; counts path requests.
class Environment : public RevocationEnvironment {
 public:
  CertificateList byIssuer;
  CertificateList bySubject;  // in the order the stores give them
  void certificatesBySubject(const DistinguishedName& subject, CertificateList& out) override {
    for (POSITION p = bySubject.GetHeadPosition(); p;) {
      const SignedCertificate* c = bySubject.GetNext(p);
      if (c->tbsCertificate.subject == subject) out.AddTail(new SignedCertificate(*c));
    }
  }
  std::vector<const SignedCertificate*> roots;
  int pathAnswer = 0;
  int pathRequests = 0;
  void trustPoints(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.insert(out.end(), roots.begin(), roots.end());
  }
  void certificatesByIssuer(const DistinguishedName& issuer, CertificateList& out) override {
    for (POSITION p = byIssuer.GetHeadPosition(); p;) {
      const SignedCertificate* c = byIssuer.GetNext(p);
      if (c->tbsCertificate.issuer == issuer) out.AddTail(new SignedCertificate(*c));
    }
  }
  int verifyCertificatePath(const SignedCertificate&, int32_t, const RevocationArgs&) override {
    ++pathRequests;
    return pathAnswer;
  }
  // The path by key identifier ends at `keyIdPathEnd` (none: no path).
  const SignedCertificate* keyIdPathEnd = nullptr;
  int verifyPathByKeyId(const DistinguishedName&, const AuthorityKeyIdentifier&,
                        const RevocationArgs&, SignedCertificate& end) override {
    ++pathRequests;
    if (!keyIdPathEnd) return PATH_RESULT_NO_PATH;
    if (pathAnswer == 0) end = *keyIdPathEnd;
    return pathAnswer;
  }
};

// A report written to memory; text() is what was written so far.
struct Report {
  MemFile sink;
  ReportStream stream{&sink};
  std::string text() const {
    return std::string(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
  }
};

X509time at(const X509time& base, int64_t delta) {
  X509time t;
  t.setFromTime64(base.toTime64(true) + delta, true);
  return t;
}

// The CertID hashed with every digest a request may name is openssl's
// (tests/data/store/revoc/gen_certid.sh): each digest id makes its own hash.
TEST(OcspChecks, CertIdOfEveryDigestMatchesOpenssl) {
  auto user2 = get<SignedCertificate>("user2.der");
  auto ca = get<SignedCertificate>("ca.der");
  const ASNobjectId teleTrustRipemd160("1.3.36.3.2.1");  // the identifier openssl writes
  const struct {
    const ASNobjectId* digest;
    const char* request;
  } cases[] = {{&id_sha1, "ocsp-req-sha1.der"},     {&id_sha224, "ocsp-req-sha224.der"},
               {&id_sha256, "ocsp-req-sha256.der"}, {&id_sha384, "ocsp-req-sha384.der"},
               {&id_sha512, "ocsp-req-sha512.der"}, {&id_md5, "ocsp-req-md5.der"},
               {&teleTrustRipemd160, "ocsp-req-ripemd160.der"}};
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    OCSPRequest theirs;
    const std::vector<uint8_t> der = revdouble::readFile(revfix::kDir + c.request);
    ASSERT_EQ(static_cast<int>(der.size()), theirs.decodeVector(der));
    ASSERT_EQ(1, theirs.tbsRequest.requestList.GetCount());
    OCSPRequest ours;
    ASSERT_TRUE(m.prepareOCSPRequest(*user2, ca.get(), *c.digest, ours));
    ASSERT_EQ(1, ours.tbsRequest.requestList.GetCount());
    std::vector<unsigned char> expected, got;
    ASSERT_GT(theirs.tbsRequest.requestList.GetHead()->reqCert.encodeVector(expected), 0);
    ASSERT_GT(ours.tbsRequest.requestList.GetHead()->reqCert.encodeVector(got), 0);
    EXPECT_EQ(expected, got);
  }
}

// The request's CertID is the one openssl put in its answer to its own request.
TEST(OcspChecks, RequestMatchesOpensslCertId) {
  auto user2 = get<SignedCertificate>("user2.der");
  auto ca = get<SignedCertificate>("ca.der");
  auto resp = basic("ocsp-good.der");
  const SingleResponse* s =
      resp->tbsResponseData.responses.GetAt(resp->tbsResponseData.responses.GetHeadPosition());
  std::vector<unsigned char> expected, got;
  ASSERT_GT(s->certID.encodeVector(expected), 0);
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  // With the issuer, and without it from the 20-byte authority key identifier.
  for (const SignedCertificate* issuer : {static_cast<const SignedCertificate*>(ca.get()), static_cast<const SignedCertificate*>(nullptr)}) {
    OCSPRequest req;
    ASSERT_TRUE(m.prepareOCSPRequest(*user2, issuer, id_sha1, req));
    ASSERT_EQ(1, req.tbsRequest.requestList.GetCount());
    const Request* r = req.tbsRequest.requestList.GetAt(req.tbsRequest.requestList.GetHeadPosition());
    ASSERT_GT(r->reqCert.encodeVector(got), 0);
    EXPECT_EQ(expected, got);
    EXPECT_FALSE(req.tbsRequest.requestExtensionsPresent);
  }
  OCSPRequest req;
  Report report;

  RevocationManager loud(clock, &report.stream);
  EXPECT_FALSE(loud.prepareOCSPRequest(*user2, nullptr, id_sha256, req));  // no key hash
  EXPECT_FALSE(loud.prepareOCSPRequest(*user2, ca.get(), id_kp_OCSPSigning, req));
  EXPECT_EQ(0, req.tbsRequest.requestList.GetCount());
  EXPECT_NE(std::string::npos, report.text().find("Niewspierany algorytm skrótu"));
  EXPECT_NE(std::string::npos, report.text().find("stworzenia żądania OCSP"));
}

TEST(OcspChecks, ResponseFormat) {
  FixedPathClock clock(0);
  const struct {
    uint32_t status;
    const char* message;  // null: accepted
  } cases[] = {
      {0, nullptr},
      {1, "Niepoprawne żądanie OCSP."},
      {2, "Błąd wewnętrzny serwera OCSP."},
      {3, "Proszę spróbować później."},
      {4, "Odpowiedź OCSP zawiera nieznany kod błędu."},
      {5, "Wymagane podpisane żądanie OCSP."},
      {6, "Brak autoryzacji do otrzymania odpowiedzi OCSP."},
      {9, "Odpowiedź OCSP zawiera nieznany kod błędu."},
  };
  for (const auto& c : cases) {
    auto r = get<OCSPResponse>("ocsp-good.der");
    r->responseStatus.set(c.status);
    Report report;

    RevocationManager m(clock, &report.stream);
    BasicOCSPResponse b;
    EXPECT_EQ(c.message == nullptr, m.checkResponseFormat(*r, b)) << c.status;
    if (c.message) { EXPECT_NE(std::string::npos, report.text().find(c.message)) << c.status << report.text(); }
  }
  auto r = get<OCSPResponse>("ocsp-good.der");
  BasicOCSPResponse b;
  Report report;

  RevocationManager m(clock, &report.stream);
  r->responseBytes.inner.responseType = id_kp_OCSPSigning;
  EXPECT_FALSE(m.checkResponseFormat(*r, b));
  EXPECT_NE(std::string::npos, report.text().find("typ podstawowy (basic)"));
  r->responseBytesPresent = 0;
  EXPECT_FALSE(m.checkResponseFormat(*r, b));
  EXPECT_NE(std::string::npos, report.text().find("nie zawierała ona bajtów odpowiedzi"));
}

// Responder authorisation: a delegated responder must be issued by the
// certificate's CA and carry id-kp-OCSPSigning, even when its own path verifies.
TEST(OcspChecks, ResponderAuthorisation) {
  auto ca = get<SignedCertificate>("ca.der");
  auto root = get<SignedCertificate>("root.der");
  auto user2 = get<SignedCertificate>("user2.der");
  const X509time produced = basic("ocsp-good.der")->tbsResponseData.producedAt;
  const X509time when = at(produced, 60);
  const struct {
    const char* response;
    const char* localCert;  // a certificate of the local stores, or ""
    bool rootTrusted;
    bool usable;
    int pathRequests;
  } cases[] = {
      {"ocsp-good.der", "", false, true, 1},         // delegated, carried in the response
      {"ocsp-keyid.der", "", false, true, 1},        // responder by key hash
      {"ocsp-nocerts.der", "", false, false, 0},     // responder nowhere
      {"ocsp-nocerts.der", "ocsp.der", false, true, 1},  // responder from the local stores
      {"ocsp-byca.der", "", false, true, 1},         // the CA itself
      {"ocsp-nosign.der", "", false, false, 0},      // same CA, no OCSPSigning
      {"ocsp-nosign.der", "nosign.der", false, false, 0},
      {"ocsp-rogue.der", "", false, false, 0},       // OCSPSigning, another CA
      {"ocsp-rogue.der", "rogue-ocsp.der", true, false, 0},
  };
  for (const auto& c : cases) {
    Environment env;
    if (*c.localCert) env.byIssuer.AddTail(get<SignedCertificate>(c.localCert).release());
    if (c.rootTrusted) env.roots.push_back(root.get());
    FixedPathClock clock(when.toTime64(true));
    Report report;

    RevocationManager m(clock, &report.stream);
    m.environment = &env;
    auto resp = basic(c.response);
    EXPECT_EQ(c.usable, m.verifyOcspResponse(*resp, *user2, *ca, &when))
        << c.response << " " << c.localCert << "\n" << report.text();
    EXPECT_EQ(c.pathRequests, env.pathRequests) << c.response;
    EXPECT_EQ(c.usable, report.text().find("została pozytywnie zweryfikowana") != std::string::npos);
  }
  // A responder whose own path fails makes the response unusable.
  Environment env;
  env.pathAnswer = PATH_RESULT_NO_PATH;
  FixedPathClock clock(when.toTime64(true));
  RevocationManager m(clock, nullptr);
  m.environment = &env;
  EXPECT_FALSE(m.verifyOcspResponse(*basic("ocsp-good.der"), *user2, *ca, &when));
  // A response verified before is accepted without a responder search.
  auto good = basic("ocsp-good.der");
  std::vector<const BasicOCSPResponse*> seen{good.get()};
  EXPECT_TRUE(m.verifyOcspResponse(*good, *user2, *ca, &when, &seen));
  EXPECT_EQ(1, env.pathRequests);
}

// A verified response joins the used list: the caller's own response when it
// is held shared, an equal copy when it is lent; a refused one does not.
TEST(OcspChecks, UsedResponsesKeepVerifiedOnes) {
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  std::shared_ptr<const BasicOCSPResponse> good = basic("ocsp-good.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  FixedPathClock clock(when.toTime64(true));
  Environment env;
  RevocationManager m(clock, nullptr);
  m.environment = &env;
  ASSERT_TRUE(m.verifyOcspResponse(good, *user2, *ca, &when));
  ASSERT_EQ(1u, m.usedResponses.size());
  EXPECT_EQ(good.get(), m.usedResponses[0].get());
  ASSERT_TRUE(m.verifyOcspResponse(*good, *user2, *ca, &when));
  ASSERT_EQ(2u, m.usedResponses.size());
  EXPECT_NE(good.get(), m.usedResponses[1].get());
  EXPECT_TRUE(m.usedResponses[1]->signature == good->signature);
  std::shared_ptr<const BasicOCSPResponse> refused = basic("ocsp-nosign.der");
  EXPECT_FALSE(m.verifyOcspResponse(refused, *user2, *ca, &when));
  EXPECT_FALSE(m.verifyOcspResponse(std::shared_ptr<const BasicOCSPResponse>(), *user2, *ca, &when));
  EXPECT_EQ(2u, m.usedResponses.size());
}

// The DER of the basic response in an OCSPResponse file.
std::vector<unsigned char> basicDer(const std::string& name) {
  std::vector<unsigned char> der;
  EXPECT_GT(basic(name)->encodeVector(der), 0) << name;
  return der;
}

// The certificates beside the signature are not signed: the response signed
// by openssl, with the certificates of `carried` in place of its own.
std::vector<unsigned char> withCarried(const std::string& response,
                                       std::initializer_list<const char*> carried) {
  certtest::Node tree = certtest::parseTree(basicDer(response));
  tree.elements.resize(3);
  if (carried.size() > 0) {
    certtest::Node list{0x30, false, {}, {}};
    for (const char* c : carried)
      list.elements.push_back(certtest::parseTree(revdouble::readFile(revfix::kDir + c)));
    tree.elements.push_back(certtest::Node{0xA0, false, {}, {list}});
  }
  return certtest::writeTree(tree);
}

// RFC 6960 4.2.2.2 over the certificates a response carries: each is only a
// candidate. One that is not the responder, one the responder's name does
// not fit, a responder of another CA or without id-kp-OCSPSigning, the
// certificate in question itself: none makes the response usable; the
// responder among them does. The response is lent: it is gone before the
// used list is read, which holds a copy that still verifies.
TEST(OcspChecks, CarriedCertificatesAreOnlyCandidates) {
  auto ca = get<SignedCertificate>("ca.der");
  auto ocsp = get<SignedCertificate>("ocsp.der");
  auto user2 = get<SignedCertificate>("user2.der");
  const X509time when = at(basic("ocsp-good.der")->tbsResponseData.producedAt, 60);
  const struct {
    const char* signedBy;  // the openssl response
    std::initializer_list<const char*> carried;
    bool usable;
  } cases[] = {
      {"ocsp-nocerts.der", {}, false},
      {"ocsp-nocerts.der", {"nosign.der"}, false},       // same CA, not the responder
      {"ocsp-nocerts.der", {"rogue-ocsp.der"}, false},   // OCSPSigning, another CA
      {"ocsp-nocerts.der", {"ca.der", "root.der"}, false},
      {"ocsp-nocerts.der", {"user2.der"}, false},        // the certificate in question
      {"ocsp-nocerts.der", {"nosign.der", "rogue-ocsp.der", "ocsp.der"}, true},
      {"ocsp-nocerts.der", {"ocsp.der", "nosign.der"}, true},
      {"ocsp-nosign.der", {"nosign.der", "ocsp.der"}, false},  // signer without OCSPSigning
      {"ocsp-rogue.der", {"rogue-ocsp.der", "ocsp.der"}, false},
      {"ocsp-byca.der", {"nosign.der", "ocsp.der"}, true},  // the CA signed it
  };
  for (const auto& c : cases) {
    std::string trace = c.signedBy;
    for (const char* f : c.carried) trace += std::string(" ") + f;
    SCOPED_TRACE(trace);
    const std::vector<unsigned char> der = withCarried(c.signedBy, c.carried);
    // Read privately, in place over a copy, in place over the caller's octets.
    for (unsigned char flags : {0u, ASN_FLAG_CONST | ASN_FLAG_COPY, ASN_FLAG_CONST}) {
      Environment env;
      FixedPathClock clock(when.toTime64(true));
      RevocationManager m(clock, nullptr);
      m.environment = &env;
      {
        const std::vector<unsigned char> octets(der);  // freed with the response
        BasicOCSPResponse lent;
        ASSERT_EQ(static_cast<int>(octets.size()), lent.decodeVector(octets, flags));
        EXPECT_EQ(c.usable, m.verifyOcspResponse(lent, *user2, *ca, &when));
        EXPECT_EQ(c.usable ? 1 : 0, env.pathRequests);
      }
      ASSERT_EQ(c.usable ? 1u : 0u, m.usedResponses.size());
      if (!c.usable) continue;
      const BasicOCSPResponse& kept = *m.usedResponses[0];
      std::vector<unsigned char> again;
      ASSERT_GT(kept.encodeVector(again), 0);
      EXPECT_EQ(der, again);
      EXPECT_EQ(1, kept.verifySignature(c.signedBy == std::string("ocsp-byca.der") ? *ca : *ocsp));
      ASSERT_TRUE(kept.certsPresent);
      EXPECT_EQ(static_cast<int>(c.carried.size()), kept.certs.inner.GetCount());
    }
  }
}

// openssl signed the DER of its response; the same response with the length
// of its signed part one octet longer (a form DER forbids) carries octets
// nobody signed. Read in place or privately, alone or inside an
// OCSPResponse, lent or shared, and copied into the used list, it is never
// usable, while the response as made is.
TEST(OcspChecks, LongerLengthInSignedPartRefusedOnEveryRoad) {
  auto ca = get<SignedCertificate>("ca.der");
  auto ocsp = get<SignedCertificate>("ocsp.der");
  auto user2 = get<SignedCertificate>("user2.der");
  const std::vector<unsigned char> der = basicDer("ocsp-good.der");
  ASSERT_TRUE(der.size() > 8 && der[0] == 0x30 && der[1] == 0x82 && der[4] == 0x30);
  const X509time when = at(basic("ocsp-good.der")->tbsResponseData.producedAt, 60);
  const struct {
    const char* what;
    std::vector<unsigned char> octets;
    bool usable;
  } rows[] = {{"as openssl made it", der, true},
              {"ResponseData length one octet longer", certtest::longerLength(der, 5, {3}), false}};
  for (const auto& row : rows)
    for (unsigned char flags : {0u, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
      SCOPED_TRACE(std::string(row.what) + " flags " + std::to_string(flags));
      FixedPathClock clock(when.toTime64(true));
      Environment env;
      RevocationManager m(clock, nullptr);
      m.environment = &env;
      auto alone = std::make_shared<BasicOCSPResponse>();
      ASSERT_EQ(static_cast<int>(row.octets.size()), alone->decodeVector(row.octets, flags));
      EXPECT_EQ(row.usable, alone->verifySignature(*ocsp) == 1);
      auto copy = copyResponse(*alone);
      ASSERT_TRUE(copy);
      EXPECT_EQ(row.usable, copy->verifySignature(*ocsp) == 1);
      EXPECT_EQ(row.usable, m.verifyOcspResponse(*alone, *user2, *ca, &when));
      EXPECT_EQ(row.usable,
                m.verifyOcspResponse(std::shared_ptr<const BasicOCSPResponse>(alone), *user2, *ca,
                                     &when));
      auto whole = get<OCSPResponse>("ocsp-good.der");
      ASSERT_EQ(1, whole->responseBytes.inner.response.set(row.octets.data(),
                                                           static_cast<int>(row.octets.size())));
      BasicOCSPResponse inside;
      ASSERT_TRUE(m.checkResponseFormat(*whole, inside));
      EXPECT_EQ(row.usable, m.verifyOcspResponse(inside, *user2, *ca, &when));
      ASSERT_EQ(row.usable ? 3u : 0u, m.usedResponses.size());
      for (const auto& used : m.usedResponses) EXPECT_EQ(1, used->verifySignature(*ocsp));
    }
}

TEST(OcspChecks, ResponderIdAndCriticalExtension) {
  auto ca = get<SignedCertificate>("ca.der");
  auto ocsp = get<SignedCertificate>("ocsp.der");
  auto user2 = get<SignedCertificate>("user2.der");
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  auto keyid = basic("ocsp-keyid.der");
  EXPECT_EQ(OCSP_RESPONDER_GOOD, m.checkResponder(*ocsp, *keyid));
  EXPECT_EQ(OCSP_RESPONDER_OTHER, m.checkResponder(*ca, *keyid));
  // A critical response extension makes a well-signed response unusable.
  auto good = basic("ocsp-good.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  auto* e = new Extension;
  e->extnID = ASNobjectId("1.3.6.1.5.5.7.48.1.2");
  e->critical.set(true);
  const unsigned char nonce[] = {0x04, 0x01, 0x00};
  e->extnValue.set(nonce, 3);
  good->tbsResponseData.responseExtensions.inner.append(e);
  good->tbsResponseData.responseExtensionsPresent = 1;
  Environment env;
  Report report;

  RevocationManager loud(clock, &report.stream);
  loud.environment = &env;
  EXPECT_FALSE(loud.verifyOcspResponse(*good, *user2, *ca, &when));
  EXPECT_NE(std::string::npos, report.text().find("Odpowiedź OCSP posiada niepoprawne rozszerzenia."));
  EXPECT_EQ(0, env.pathRequests);
}

// Once the document's account is over every name compares as different, the
// issuer's subject and the certificate's issuer too: a response met then, or
// whose comparison puts the account over, is refused like the rest of the
// document's work, never taken for a broken invariant (an exception the
// document's refusal does not catch).
TEST(OcspChecks, AResponseMetWhenTheAccountIsOverIsRefused) {
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  const X509time when = at(basic("ocsp-good.der")->tbsResponseData.producedAt, 60);
  FixedPathClock clock(when.toTime64(true));
  for (const char* response : {"ocsp-good.der", "ocsp-keyid.der", "ocsp-byca.der"})
    for (bool overBefore : {true, false}) {
      Environment env;
      RevocationManager m(clock, nullptr);
      m.environment = &env;
      // Read before the account: an account over refuses decoding too.
      const auto read = basic(response);
      ASSERT_TRUE(read) << response;
      // One unit: the first name comparison puts it over.
      WorkAccount account(1, std::chrono::hours(1));
      WorkAccountScope scope(&account);
      if (overBefore) {
        ASSERT_FALSE(workCharge(2));
      }
      bool usable = true;
      EXPECT_NO_THROW(usable = m.verifyOcspResponse(*read, *user2, *ca, &when))
          << response << " " << overBefore;
      EXPECT_FALSE(usable) << response;
      EXPECT_TRUE(account.over()) << response;
      EXPECT_EQ(0, env.pathRequests) << response;
      EXPECT_TRUE(m.usedResponses.empty()) << response;
    }
}

// A stranger's response of many single responses for the certificate's
// serial, each with a wrong issuer name or key hash under SHA-1 or SHA-256:
// the one that matches is found, and the issuer's name (here some KB) and key
// are hashed once per algorithm whatever their count (digests tick the net).
TEST(OcspChecks, SingleResponsesOfOneSerialHashTheIssuerOncePerAlgorithm) {
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  auto good = basic("ocsp-good.der");
  ASSERT_TRUE(ca && user2 && good);
  certtest::Bytes rdns;
  for (int i = 0; i < 80; ++i) {
    certtest::Bytes attribute = certtest::encodeTlv(0x06, {0x55, 0x04, 0x03});
    const std::string v = "look-alike issuer " + std::to_string(i);
    const certtest::Bytes value = certtest::encodeTlv(0x0C, certtest::Bytes(v.begin(), v.end()));
    attribute.insert(attribute.end(), value.begin(), value.end());
    const certtest::Bytes rdn = certtest::encodeTlv(0x31, certtest::encodeTlv(0x30, attribute));
    rdns.insert(rdns.end(), rdn.begin(), rdn.end());
  }
  const certtest::Bytes nameDer = certtest::encodeTlv(0x30, rdns);
  ASSERT_GT(nameDer.size(), 2000u);
  SignedCertificate cert(*user2);
  ASSERT_EQ(static_cast<int>(nameDer.size()), cert.tbsCertificate.issuer.decodeVector(nameDer));
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  // The genuine identifiers of the certificate under each algorithm.
  CertID ids[2];
  const ASNobjectId* algorithms[2] = {&id_sha1, &id_sha256};
  for (int a = 0; a < 2; ++a) {
    OCSPRequest request;
    ASSERT_TRUE(m.prepareOCSPRequest(cert, ca.get(), *algorithms[a], request));
    ids[a] = request.tbsRequest.requestList.GetHead()->reqCert;
  }
  const SingleResponse& model = *good->tbsResponseData.responses.GetHead();
  const X509time when = at(model.thisUpdate, 60);
  enum Wrong { NAME, KEY, BOTH_ALTERNATING };
  const struct {
    const char* what;
    Wrong wrong;
    int algorithm;  // of the look-alikes: 0 SHA-1, 1 SHA-256, 2 alternating
    bool genuineLast;
  } cases[] = {
      {"names, SHA-1, genuine last", NAME, 0, true},
      {"names, SHA-256, genuine last", NAME, 1, true},
      {"keys, SHA-1, genuine last", KEY, 0, true},
      {"keys, SHA-256, genuine last", KEY, 1, true},
      {"names and keys, both digests, genuine last", BOTH_ALTERNATING, 2, true},
      {"names, SHA-1, none genuine", NAME, 0, false},
      {"names and keys, both digests, none genuine", BOTH_ALTERNATING, 2, false},
  };
  for (const auto& c : cases) {
    uint64_t ticks[2] = {0, 0};
    int count = 0;
    for (int pass = 0; pass < 2; ++pass) {
      count = pass == 0 ? 8 : 1000;
      BasicOCSPResponse response;
      auto& list = response.tbsResponseData.responses;
      for (int i = 0; i <= count; ++i) {
        if (i == count && !c.genuineLast) break;
        auto single = std::make_unique<SingleResponse>();
        *single = model;
        const int a = c.algorithm == 2 ? i % 2 : c.algorithm;
        single->certID = ids[i == count ? 0 : a];
        if (i < count) {
          const bool name = c.wrong == NAME || (c.wrong == BOTH_ALTERNATING && i % 4 < 2);
          ASNoctstr& hash = name ? single->certID.issuerNameHash : single->certID.issuerKeyHash;
          std::vector<unsigned char> bytes(hash.data(), hash.data() + hash.contentLength());
          bytes[static_cast<size_t>(i) % bytes.size()] ^= 0x5A;
          ASSERT_EQ(1, hash.set(bytes.data(), static_cast<int>(bytes.size())));
        }
        ASSERT_EQ(1, list.append(single.release()));
      }
      const uint64_t before = workTicksCounted();
      const SingleResponse* found = m.findSingleResponse(response, cert, *ca, &when);
      ticks[pass] = workTicksCounted() - before;
      const SingleResponse* want = c.genuineLast ? list.GetTail() : nullptr;
      EXPECT_EQ(want, found) << c.what << " " << count;
    }
    EXPECT_GT(ticks[0], 0u) << c.what;
    EXPECT_EQ(ticks[0], ticks[1]) << c.what << ": 8 and 1000 look-alikes";
  }
}

// CRL verification: a trust point settles it directly; otherwise the path
// found by the authority key identifier must end at a CA whose key signed the CRL.
TEST(CrlVerification, TrustPointsAndIssuerPath) {
  auto ca = get<SignedCertificate>("ca.der");
  auto other = get<SignedCertificate>("other-ca.der");
  auto user = get<SignedCertificate>("user.der");
  const struct {
    const char* crl;
    const SignedCertificate* trustPoint;  // or null
    const SignedCertificate* pathEnd;     // end of the key-identifier path, or null
    int pathAnswer;
    int result;
    int pathRequests;
  } cases[] = {
      {"crl-reasons.der", ca.get(), nullptr, 0, 0, 0},  // directly by the trust point
      {"crl-reasons.der", other.get(), nullptr, 0, 10, 1},  // same name, other key: no path
      {"crl-reasons.der", nullptr, ca.get(), 0, 0, 1},
      {"crl-reasons.der", nullptr, other.get(), 0, 1, 1},  // path to the wrong key
      {"crl-reasons.der", nullptr, user.get(), 0, 10, 1},  // path end is no CA
      {"crl-reasons.der", nullptr, ca.get(), PATH_RESULT_FAILED, PATH_RESULT_FAILED, 1},
      {"crl-otherkey.der", nullptr, other.get(), 0, 0, 1},
      {"crl-otherkey.der", nullptr, ca.get(), 0, 1, 1},
      {"crl-otherkey.der", ca.get(), nullptr, 0, 10, 1},  // the trust point's key did not sign
  };
  for (const auto& c : cases) {
    Environment env;
    if (c.trustPoint) env.roots.push_back(c.trustPoint);
    env.keyIdPathEnd = c.pathEnd;
    env.pathAnswer = c.pathAnswer;
    auto crl = get<SignedCertRevList>(c.crl);
    FixedPathClock clock(crl->tbsCertList.thisUpdate.toTime64(true) + 60);
    RevocationManager m(clock, nullptr);
    m.environment = &env;
    m.pendingCrls.emplace_back(new SignedCertRevList(*crl));
    RevocationArgs args;
    EXPECT_EQ(c.result, m.verifyCrl(*crl, args)) << c.crl;
    EXPECT_EQ(c.pathRequests, env.pathRequests) << c.crl;
    EXPECT_EQ(c.result == 0 ? 1u : 0u, m.verifiedCrls.size()) << c.crl;
    EXPECT_EQ(c.result == 0 ? 0u : 1u, m.pendingCrls.size()) << c.crl;
  }
}

// A CRL without an authority key identifier is verified by the CA of its
// issuer's name whose key signed it, wherever that certificate stands among
// the certificates of that name (a CA's old and new keys share one name);
// only when none signed it is the answer 1.
// `n` times `first`, then `last`.
std::vector<const SignedCertificate*> many(const SignedCertificate* first, int n,
                                          const SignedCertificate* last) {
  std::vector<const SignedCertificate*> out(static_cast<size_t>(n), first);
  out.push_back(last);
  return out;
}

TEST(CrlVerification, IssuerByNameAmongKeysOfOneName) {
  auto ca = get<SignedCertificate>("ca.der");
  auto other = get<SignedCertificate>("other-ca.der");  // same name, another key
  auto crl = get<SignedCertRevList>("crl-dp-a.der");  // no authorityKeyIdentifier
  ASSERT_EQ(nullptr, findExtensionByOid(crlExtensionsOf(*crl), id_ce_authorityKeyIdentifier));
  const struct {
    std::vector<const SignedCertificate*> local;
    int result;
    int pathRequests;
  } cases[] = {
      {{ca.get()}, 0, 1},
      {{other.get(), ca.get()}, 0, 1},
      {{ca.get(), other.get()}, 0, 1},
      {{other.get()}, 1, 0},
      {{}, 10, 0},
      // Keys of one name are tried up to the cap: the issuer behind 99 others is
      // found, the one behind 100 is not.
      {many(other.get(), 99, ca.get()), 0, 1},
      {many(other.get(), 100, ca.get()), 1, 0},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    Environment env;
    for (const SignedCertificate* x : c.local) env.bySubject.AddTail(new SignedCertificate(*x));
    FixedPathClock clock(crl->tbsCertList.thisUpdate.toTime64(true) + 60);
    RevocationManager m(clock, nullptr);
    m.environment = &env;
    RevocationArgs args;
    EXPECT_EQ(c.result, m.verifyCrl(*crl, args)) << "row " << i;
    EXPECT_EQ(c.pathRequests, env.pathRequests) << "row " << i;
    EXPECT_EQ(c.result == 0 ? 1u : 0u, m.verifiedCrls.size()) << "row " << i;
  }
}

TEST(CrlVerification, ExpiryAndExtensions) {
  auto ca = get<SignedCertificate>("ca.der");
  Environment env;
  env.roots.push_back(ca.get());
  auto crl = get<SignedCertRevList>("crl-expired.der");
  const int64_t thisUpdate = crl->tbsCertList.thisUpdate.toTime64(true);
  for (int64_t later : {60, 7200}) {
    FixedPathClock clock(thisUpdate + later);
    Report report;
    RevocationManager m(clock, &report.stream);
    m.environment = &env;
    bool expired = false;
    RevocationArgs args;
    EXPECT_EQ(0, m.verifyCrl(*crl, args, &expired));  // expiry alone does not fail it
    EXPECT_EQ(later > 3600, expired);
    EXPECT_EQ(later > 3600, report.text().find("CRL przeterminowany") != std::string::npos);
  }
  // A critical deltaCRLIndicator: 4, before any signature check.
  auto* delta = new Extension;
  delta->extnID = ASNobjectId("2.5.29.27");
  delta->critical.set(true);
  const unsigned char one[] = {0x02, 0x01, 0x01};
  delta->extnValue.set(one, 3);
  crl->tbsCertList.crlExtensions.inner.append(delta);
  FixedPathClock clock(thisUpdate);
  RevocationManager m(clock, nullptr);
  m.environment = &env;
  RevocationArgs args;
  EXPECT_EQ(4, m.verifyCrl(*crl, args));
}

// The network manager's OCSP queries: answers by URL, options 18/16 as one switch.
class Network : public RevocationNetwork {
 public:
  bool allowed = true;
  bool configured = false;  // a configured OCSP server of the issuer answers `serverAnswer`
  std::string serverAnswer;
  std::map<std::string, std::string> answers;  // URL -> response file
  std::map<std::string, std::vector<unsigned char>> octets;  // URL -> the answer itself
  std::vector<std::string> queried;
  bool canQueryNetwork(int kind, const DistinguishedName*, ReportStream*) override {
    return allowed && kind == 4 && configured;
  }
  bool ocspFetchAllowed() override { return allowed; }
  int findOcspServers(const SignedCertificate&, const SignedCertificate&,
                      const std::vector<uint8_t>& request, OCSPResponse& response) override {
    return queryForOcsp("configured", request, response);
  }
  int queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                   OCSPResponse& response) override {
    queried.push_back(url);
    OCSPRequest parsed;  // the request goes out well formed
    EXPECT_EQ(static_cast<int>(request.size()), parsed.decodeVector(request));
    std::vector<unsigned char> der;
    if (octets.count(url)) {
      der = octets[url];
    } else {
      const std::string file = url == "configured" ? serverAnswer : answers[url];
      if (file.empty()) return 31;
      auto r = get<OCSPResponse>(file);
      r->encodeVector(der);
    }
    return response.decodeVector(der) == static_cast<int>(der.size()) ? 0 : 28;
  }
  int queryForCertificatesByDn(const DistinguishedName&, CertificateList&) override { return 31; }
};

// A response verified once is one object: a signature's response is copied
// once, the copy shared by the used list and the caller; one fetched is shared
// by the cache, the used list and the caller, and found in the cache again.
// openssl's answer with the length of its signed part one octet longer is
// found on neither road.
TEST(OcspSources, OneVerifiedResponseSharedNotCopied) {
  auto ca = get<SignedCertificate>("aia-ca.der");
  auto user = get<SignedCertificate>("aia-user.der");
  const X509time when = at(basic("aia-good.der")->tbsResponseData.producedAt, 60);
  const std::vector<unsigned char> der = basicDer("aia-good.der");
  ASSERT_TRUE(der.size() > 8 && der[0] == 0x30 && der[1] == 0x82 && der[4] == 0x30);
  const struct {
    const char* what;
    std::vector<unsigned char> basic;
    bool usable;
  } rows[] = {{"as openssl made it", der, true},
              {"ResponseData length one octet longer", certtest::longerLength(der, 5, {3}), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    RevocationArgs args;
    args.time = &when;
    FixedPathClock clock(when.toTime64(true));
    Environment env;
    {
      RevocationManager m(clock, nullptr);
      m.environment = &env;
      BasicOCSPResponse lent;
      ASSERT_EQ(static_cast<int>(row.basic.size()), lent.decodeVector(row.basic));
      m.signatureOcsp.push_back(&lent);
      const auto found = m.findOcspResponse(*user, *ca, args);
      ASSERT_EQ(row.usable, found != nullptr);
      ASSERT_EQ(row.usable ? 1u : 0u, m.usedResponses.size());
      if (row.usable) {
        EXPECT_NE(&lent, found.get());
        EXPECT_EQ(found, m.usedResponses[0]);
        EXPECT_EQ(1, found->verifySignature(*ca));
      }
    }
    Network net;
    auto whole = get<OCSPResponse>("aia-good.der");
    ASSERT_EQ(1, whole->responseBytes.inner.response.set(row.basic.data(),
                                                         static_cast<int>(row.basic.size())));
    ASSERT_GT(whole->encodeVector(net.octets["http://ocsp-a.example/"]), 0);
    RevocationManager m(clock, nullptr);
    m.environment = &env;
    m.network = &net;
    const auto fetched = m.findOcspResponse(*user, *ca, args);
    ASSERT_EQ(row.usable, fetched != nullptr);
    ASSERT_EQ(row.usable ? 1u : 0u, m.ocspCache.size());
    ASSERT_EQ(row.usable ? 1u : 0u, m.usedResponses.size());
    if (!row.usable) continue;
    EXPECT_EQ(fetched, m.ocspCache[0]);
    EXPECT_EQ(fetched, m.usedResponses[0]);
    EXPECT_EQ(fetched, m.findOcspResponse(*user, *ca, args));
    EXPECT_EQ(1u, net.queried.size());
  }
}

// The sources of an OCSP response in their order; the access locations of the
// certificate are asked only while OCSP fetching is allowed.
TEST(OcspSources, OrderAndNetworkOptions) {
  auto ca = get<SignedCertificate>("aia-ca.der");
  auto user = get<SignedCertificate>("aia-user.der");
  auto good = basic("aia-good.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  const struct {
    const char* name;
    bool inSignature, inCache, offline, allowed, configured;
    const char* server;  // answer of the configured server
    const char* first;   // answer at the first access location
    bool found;
    std::vector<std::string> queried;
    const char* line;  // written when found, or ""
  } cases[] = {
      {"signature", true, true, false, true, true, "aia-good.der", "", true, {},
       "Znaleziono odpowiedź OCSP w podpisie archiwalnym."},
      {"offline", false, true, true, true, true, "aia-good.der", "", false, {}, ""},
      {"cache", false, true, false, true, true, "", "", true, {},
       "Znaleziono ważną odpowiedź OCSP w cache zweryfikowanych odpowiedzi."},
      {"server", false, false, false, true, true, "aia-good.der", "", true, {"configured"},
       "pozytywnie zweryfikowana"},
      {"access location", false, false, false, true, false, "", "aia-good.der", true,
       {"http://ocsp-a.example/"}, "pozytywnie zweryfikowana"},
      {"server fails, access location", false, false, false, true, true, "", "aia-good.der", true,
       {"configured", "http://ocsp-a.example/"}, ""},
      {"second access location", false, false, false, true, false, "", "", false,
       {"http://ocsp-a.example/", "http://ocsp-b.example/"}, ""},
      {"another certificate's answer", false, false, false, true, false, "", "ocsp-good.der", false,
       {"http://ocsp-a.example/", "http://ocsp-b.example/"}, ""},
      {"fetching off", false, false, false, false, false, "", "aia-good.der", false, {}, ""},
      {"fetching off, server", false, false, false, false, true, "aia-good.der", "", false, {}, ""},
  };
  for (const auto& c : cases) {
    Environment env;
    Network net;
    net.allowed = c.allowed;
    net.configured = c.configured;
    net.serverAnswer = c.server;
    net.answers["http://ocsp-a.example/"] = c.first;
    FixedPathClock clock(when.toTime64(true));
    Report report;
    RevocationManager m(clock, &report.stream);
    m.environment = &env;
    m.network = &net;
    if (c.inSignature) m.signatureOcsp.push_back(good.get());
    if (c.inCache) m.ocspCache.push_back(copyResponse(*good));
    RevocationArgs args;
    args.time = &when;
    args.offline = c.offline;
    auto found = m.findOcspResponse(*user, *ca, args);
    EXPECT_EQ(c.found, found != nullptr) << c.name << "\n" << report.text();
    EXPECT_EQ(c.queried, net.queried) << c.name;
    EXPECT_NE(std::string::npos, report.text().find(c.line)) << c.name;
    // A response fetched and verified is cached.
    if (c.found && !c.inCache && !c.inSignature) { EXPECT_EQ(1u, m.ocspCache.size()) << c.name; }
  }
  // A failed format check at an access location ends the search.
  Network net;
  net.answers["http://ocsp-a.example/"] = "aia-good.der";
  net.answers["http://ocsp-b.example/"] = "aia-good.der";
  FixedPathClock clock(when.toTime64(true));
  RevocationManager m(clock, nullptr);
  m.network = &net;
  Environment env;
  m.environment = &env;
  RevocationArgs args;
  args.time = &when;
  struct TryLater : Network {
    int queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                     OCSPResponse& response) override {
      const int r = Network::queryForOcsp(url, request, response);
      response.responseStatus.set(3);
      return r;
    }
  } later;
  later.answers = net.answers;
  m.network = &later;
  EXPECT_FALSE(m.findOcspResponse(*user, *ca, args));
  EXPECT_EQ(1u, later.queried.size());
  m.clearUsedLists();
  EXPECT_TRUE(m.signatureOcsp.empty());
}

// Every request goes out with the configured digest, byte for byte as
// `openssl ocsp` builds it; openssl's answer to either digest is matched
// through the CertID's own algorithm.
TEST(OcspSources, ConfiguredDigest) {
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  const X509time when = at(basic("ocsp-sha256.der")->tbsResponseData.producedAt, 60);
  struct Recording : Network {
    std::vector<uint8_t> sent;
    int queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                     OCSPResponse& response) override {
      sent = request;
      return Network::queryForOcsp(url, request, response);
    }
  };
  const struct {
    const ASNobjectId* digest;
    const char* request;  // openssl's request with that digest
    const char* answer;
  } cases[] = {
      {&id_sha1, "ocsp-req-sha1.der", "ocsp-good.der"},
      {&id_sha256, "ocsp-req-sha256.der", "ocsp-sha256.der"},
      {&id_sha256, "ocsp-req-sha256.der", "ocsp-good.der"},
      {&id_sha1, "ocsp-req-sha1.der", "ocsp-sha256.der"},
  };
  for (const auto& c : cases) {
    Environment env;
    Recording net;
    net.configured = true;
    net.serverAnswer = c.answer;
    FixedPathClock clock(when.toTime64(true));
    Report report;
    RevocationManager m(clock, &report.stream);
    m.environment = &env;
    m.network = &net;
    m.ocspDigest = c.digest;
    RevocationArgs args;
    args.time = &when;
    EXPECT_TRUE(m.findOcspResponse(*user2, *ca, args)) << c.request << " " << c.answer << "\n"
                                                       << report.text();
    EXPECT_EQ(revdouble::readFile(revfix::kDir + c.request), net.sent) << c.request;
  }
}

// The signature's references: with a list, a response of the signature and
// a CRL of the lists are taken only when a reference of their kind matches.
TEST(OcspSources, SignatureReferences) {
  auto ca = get<SignedCertificate>("ca.der");
  auto user = get<SignedCertificate>("user.der");
  auto user2 = get<SignedCertificate>("user2.der");
  auto good = basic("ocsp-good.der");
  auto reasons = get<SignedCertRevList>("crl-reasons.der");
  auto later = get<SignedCertRevList>("crl-later.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  // Doubles of the XAdES matchers: the responder and time, the issuer and time.
  RevocationReferences refs;
  refs.matchOcsp = [](const OcspRefRecord& r, const BasicOCSPResponse& b) {
    return r.producedAt == b.tbsResponseData.producedAt &&
           r.responder == *b.tbsResponseData.responderID.byName;
  };
  refs.matchCrl = [](const CrlRefRecord& r, const SignedCertRevList& c) {
    return r.issuer == c.tbsCertList.issuer && r.issueTime == c.tbsCertList.thisUpdate;
  };
  auto ocspRef = [&](int64_t shift) {
    auto r = std::make_unique<SignatureCrlOrOcspRef>();
    r->kind = SignatureCrlOrOcspRef::OCSP;
    r->ocsp.responder = *good->tbsResponseData.responderID.byName;
    r->ocsp.producedAt = at(good->tbsResponseData.producedAt, shift);
    return r;
  };
  auto crlRef = [&](const SignedCertRevList& c) {
    auto r = std::make_unique<SignatureCrlOrOcspRef>();
    r->kind = SignatureCrlOrOcspRef::CRL;
    r->crl.identifierPresent = true;
    r->crl.issuer = c.tbsCertList.issuer;
    r->crl.issueTime = c.tbsCertList.thisUpdate;
    return r;
  };
  const struct {
    const char* name;
    bool list;
    int64_t ocspShift;              // -1: no OCSP reference
    const SignedCertRevList* crl;   // the CRL referenced, or none
    bool ocspFound, crlUsed;
  } cases[] = {
      {"no references", false, -1, nullptr, true, true},
      {"both referenced", true, 0, reasons.get(), true, true},
      {"OCSP reference of another time", true, 1, reasons.get(), false, true},
      {"CRL reference of another CRL", true, 0, later.get(), true, false},
      {"empty list", true, -1, nullptr, false, false},
  };
  for (const auto& c : cases) {
    SignatureCrlOrOcspRefs list;  // owns its references
    if (c.ocspShift >= 0) list.items.push_back(ocspRef(c.ocspShift).release());
    if (c.crl) list.items.push_back(crlRef(*c.crl).release());
    refs.list = c.list ? &list : nullptr;
    Environment env;
    FixedPathClock clock(when.toTime64(true));
    RevocationManager m(clock, nullptr);
    m.environment = &env;
    m.signatureOcsp.push_back(good.get());
    m.pendingCrls.emplace_back(new SignedCertRevList(*reasons));
    RevocationArgs args;
    args.time = &when;
    args.offline = true;
    args.references = &refs;
    EXPECT_EQ(c.ocspFound, m.findOcspResponse(*user2, *ca, args) != nullptr) << c.name;
    CertificateItem item;
    item.certificate = *user;
    UsedRevocationData used;
    ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *ca, nullptr, used));
    EXPECT_EQ(c.crlUsed ? WWC_REVOKED : WWC_OK, item.wwc) << c.name;
    EXPECT_EQ(c.crlUsed ? REVSTATE_FOUND : REVSTATE_NO_DATA, item.revocationState) << c.name;
  }
}

// Responder and CRL-issuer paths verified for real ([certificate,] ca, root),
// collecting into the collector they are given.
struct NestedPaths : Environment {
  PathVerification* verification = nullptr;
  const SignedCertificate* ca = nullptr;
  int nested(std::vector<const SignedCertificate*> certs, int32_t purpose,
             const RevocationArgs& args, PathCollector* collector) {
    CertificatePath path;
    certs.push_back(roots.front());
    for (const SignedCertificate* c : certs) path.addNew()->certificate = *c;
    return verification->verifyPath(path, args, false, purpose, true, nullptr, collector);
  }
  int verifyCertificatePathCollecting(const SignedCertificate& cert, int32_t purpose,
                                      const RevocationArgs& args,
                                      PathCollector* collector) override {
    return nested({&cert, ca}, purpose, args, collector);
  }
  int verifyPathByKeyIdCollecting(const DistinguishedName&, const AuthorityKeyIdentifier&,
                                  const RevocationArgs& args, SignedCertificate& end,
                                  PathCollector* collector) override {
    const int r = nested({ca}, PATH_PURPOSE_CRL_ISSUER, args, collector);
    if (r == 0) end = *ca;
    return r;
  }
};

bool collected(const PathCollector& collector, const SignedCertificate& cert) {
  for (const SignedCertificate* c : collector.path.certificates.items)
    if (c && *c == cert) return true;
  return false;
}

// The certificates of a delegated responder's path and of a CRL issuer's
// path go into the collector of the verification that met them.
TEST(Collector, ResponderAndCrlIssuerPaths) {
  auto root = get<SignedCertificate>("root.der");
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  auto responder = get<SignedCertificate>("ocsp.der");
  auto good = basic("ocsp-good.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  FixedPathClock clock(when.toTime64(true));
  RevocationManager m(clock, nullptr);
  ManagedRevocation managed(m);
  PathVerification pv;
  pv.revocation = &managed;
  NestedPaths env;
  env.roots.push_back(root.get());
  env.verification = &pv;
  env.ca = ca.get();
  m.environment = &env;
  m.signatureOcsp.push_back(good.get());
  RevocationArgs args;
  args.time = &when;

  CertificatePath path;
  for (const SignedCertificate* c : {user2.get(), ca.get(), root.get()})
    path.addNew()->certificate = *c;
  PathCollector collector;
  ASSERT_EQ(0, pv.verifyPath(path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &collector));
  EXPECT_EQ(REVSOURCE_OCSP, path.elementAt(0)->revocationSource);
  EXPECT_TRUE(collected(collector, *responder));

  PathCollector crlCollector;
  std::string message;
  EXPECT_EQ(0, managed.verifyCrl(*get<SignedCertRevList>("crl-hold.der"), args, crlCollector,
                                 message))
      << message;
  EXPECT_TRUE(collected(crlCollector, *ca));
  EXPECT_TRUE(collected(crlCollector, *root));

  // The CRL evidence shares the manager's CRL and keeps it alive past the manager.
  auto manager = std::make_unique<RevocationManager>(clock, nullptr);
  ManagedRevocation shared(*manager);
  pv.revocation = &shared;
  manager->environment = &env;
  manager->pendingCrls.emplace_back(get<SignedCertRevList>("crl-hold.der").release());
  const SignedCertRevList* held = manager->pendingCrls[0].get();
  auto user = get<SignedCertificate>("user.der");
  CertificatePath userPath;
  for (const SignedCertificate* c : {user.get(), ca.get(), root.get()})
    userPath.addNew()->certificate = *c;
  PathCollector evidence;
  ASSERT_EQ(0, pv.verifyPath(userPath, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &evidence));
  const CrlOrOcspValue* used = nullptr;
  for (const CrlOrOcspValue* v : evidence.path.revocations.items)
    if (v && v->crl == held) used = v;
  ASSERT_TRUE(used);
  EXPECT_EQ(0, used->owns);
  pv.revocation = &managed;
  manager.reset();
  EXPECT_EQ(ca->tbsCertificate.subject, used->crl->tbsCertList.issuer);
}

// The OCSP evidence of a path is the response the manager verified, shared
// (the signature's one copied once), and outlives the manager and its next
// verifications.
TEST(Collector, OcspEvidenceSharedWithTheManager) {
  auto root = get<SignedCertificate>("root.der");
  auto ca = get<SignedCertificate>("ca.der");
  auto user2 = get<SignedCertificate>("user2.der");
  auto good = basic("ocsp-good.der");
  const X509time when = at(good->tbsResponseData.producedAt, 60);
  FixedPathClock clock(when.toTime64(true));
  auto m = std::make_unique<RevocationManager>(clock, nullptr);
  ManagedRevocation managed(*m);
  PathVerification pv;
  pv.revocation = &managed;
  NestedPaths env;
  env.roots.push_back(root.get());
  env.verification = &pv;
  env.ca = ca.get();
  m->environment = &env;
  m->signatureOcsp.push_back(good.get());
  RevocationArgs args;
  args.time = &when;
  CertificatePath path;
  for (const SignedCertificate* c : {user2.get(), ca.get(), root.get()})
    path.addNew()->certificate = *c;
  PathCollector collector;
  ASSERT_EQ(0, pv.verifyPath(path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &collector));
  ASSERT_EQ(REVSOURCE_OCSP, path.elementAt(0)->revocationSource);
  ASSERT_EQ(1u, m->usedResponses.size());
  const CrlOrOcspValue* used = nullptr;
  for (const CrlOrOcspValue* v : collector.path.revocations.items)
    if (v && v->ocsp) used = v;
  ASSERT_TRUE(used);
  EXPECT_EQ(used->ocsp, m->usedResponses[0].get());
  EXPECT_NE(used->ocsp, good.get());
  EXPECT_EQ(0, used->owns);
  // The next verifications copy the signature's response again: the manager
  // keeps the last one's only, the first evidence its own share.
  for (int i = 0; i < 3; ++i) {
    PathCollector again;
    ASSERT_EQ(0, pv.verifyPath(path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &again));
  }
  EXPECT_EQ(1u, m->usedResponses.size());
  EXPECT_NE(used->ocsp, m->usedResponses[0].get());
  m.reset();
  good.reset();
  std::vector<unsigned char> der;
  ASSERT_GT(used->ocsp->encodeVector(der), 0);
  EXPECT_EQ(der, basicDer("ocsp-good.der"));
}

// The report of the status check: the times, the data used and a revocation
// after the signing time.
TEST(StatusReport, Lines) {
  auto ca = get<SignedCertificate>("ca.der");
  auto crl = get<SignedCertRevList>("crl-reasons.der");
  auto ocsp = basic("ocsp-good.der");
  const X509time when = at(crl->tbsCertList.thisUpdate, 60);
  const struct {
    const char* cert;
    bool withCrl, withOcsp, timemarkAtNotBefore;
    std::vector<const char*> lines;
  } cases[] = {
      {"user.der", true, false, true,
       {"Czas aktualny: ", "Timemark: ", "Użyta lista CRL:\r\n--------\r\nWystawca: \"",
        "Ostatnia aktualizacja: ", "Następna aktualizacja: ", "Algorytm podpisu w CRL: ",
        "data unieważnienia jest późniejsza od daty złożenia podpisu.\r\nData unieważnienia: ",
        "Data złożenia podpisu: "}},
      {"user2.der", false, true, false,
       {"Timemark: brak\r\n\r\n", "Użyta odpowiedź OCSP:\r\n--------\r\nWystawca: \"",
        "Utworzona: ", "Ważna od: ", "Ważna do: ", "Algorytm podpisu w odpowiedzi OCSP: "}},
  };
  for (const auto& c : cases) {
    CertificateItem item;
    item.certificate = *get<SignedCertificate>(c.cert);
    FixedPathClock clock(when.toTime64(true));
    Report report;
    RevocationManager m(clock, &report.stream);
    RevocationArgs args;
    args.time = &when;
    X509time timemark = item.certificate->tbsCertificate.validity.notBefore;
    if (c.timemarkAtNotBefore) args.timemark = &timemark;
    UsedRevocationData used;
    m.checkStatus(item, args, c.withOcsp ? ocsp.get() : nullptr, *ca,
                  c.withCrl ? crl.get() : nullptr, used);
    EXPECT_EQ(WWC_OK, item.wwc) << c.cert;
    for (const char* line : c.lines)
      EXPECT_NE(std::string::npos, report.text().find(line)) << c.cert << ": " << line << "\n"
                                                              << report.text();
  }
}

// A certificateHold entry stands as a suspension only while every critical
// extension beside it is one the entry check knows; an unknown critical one
// (certificateIssuer here) makes it a revocation, said in the report. A hold
// instruction other than none revokes before that is asked.
TEST(StatusReport, HoldWithCriticalEntryExtensions) {
  auto ca = get<SignedCertificate>("edge-ca.der");
  const char* const holdLine =
      "Zawieszenie certyfikatu zawiera nieobsługiwane rozszerzenie krytyczne, więc traktowane jest "
      "jako unieważnienie.\r\n";
  const char* const unknownLine = "Nieobsługiwane krytyczne rozszerzenie listy CRL: 2.5.29.29";
  const struct {
    const char* crl;
    uint32_t wwc;
    bool holdLine, unknownLine;
  } cases[] = {
      {"edge-hold-crit.der", WWC_REVOKED, true, true},
      {"edge-hold-none-crit.der", WWC_REVOKED, true, true},
      {"edge-hold-reject-crit.der", WWC_REVOKED, false, true},
      {"edge-hold-noncrit.der", WWC_SUSPENDED, false, false},
      {"edge-hold-invalidity.der", WWC_SUSPENDED, false, false},
  };
  for (const auto& c : cases) {
    auto crl = get<SignedCertRevList>(c.crl);
    const X509time when = at(crl->tbsCertList.thisUpdate, 60);
    FixedPathClock clock(when.toTime64(true));
    Report report;
    RevocationManager m(clock, &report.stream);
    CertificateItem item;
    item.certificate = *get<SignedCertificate>("edge-user.der");
    RevocationArgs args;
    args.time = &when;
    UsedRevocationData used;
    ASSERT_EQ(0, m.checkStatus(item, args, nullptr, *ca, crl.get(), used)) << c.crl;
    EXPECT_EQ(c.wwc, item.wwc) << c.crl;
    EXPECT_EQ(REVSTATE_FOUND, item.revocationState) << c.crl;
    EXPECT_EQ(REVSOURCE_CRL, item.revocationSource) << c.crl;
    EXPECT_EQ(c.holdLine, report.text().find(holdLine) != std::string::npos) << c.crl << "\n"
                                                                             << report.text();
    EXPECT_EQ(c.unknownLine, report.text().find(unknownLine) != std::string::npos) << c.crl;
  }
}

// onlySomeReasons narrows a CRL to some reasons, which no check here can
// tell apart: the CRL fails its extension check (4) before any signature or
// path is looked at, though its issuer is a trust point that verifies the same
// CRL without that field.
TEST(CrlVerification, OnlySomeReasonsFailsTheExtensionCheck) {
  auto ca = get<SignedCertificate>("edge-ca.der");
  const char* const reasonsLine =
      "Rozsczerzenie ISSUING_DISTRIBUTION_POINT w liście CRL zwiera nieobsługiwane pole "
      "onlySomeReasons";
  const char* const directLine = "CRL został bezpośrednio zweryfikowany przez punkt zaufania:";
  const struct {
    const char* crl;
    int result;
  } cases[] = {
      {"edge-idp-plain.der", 0},
      {"edge-idp-reasons.der", 4},
  };
  for (const auto& c : cases) {
    Environment env;
    env.roots.push_back(ca.get());
    auto crl = get<SignedCertRevList>(c.crl);
    FixedPathClock clock(crl->tbsCertList.thisUpdate.toTime64(true) + 60);
    Report report;
    RevocationManager m(clock, &report.stream);
    m.environment = &env;
    m.pendingCrls.emplace_back(new SignedCertRevList(*crl));
    RevocationArgs args;
    EXPECT_EQ(c.result, m.verifyCrl(*crl, args)) << c.crl;
    const bool failed = c.result != 0;
    EXPECT_EQ(failed, report.text().find(reasonsLine) != std::string::npos) << c.crl << "\n"
                                                                          << report.text();
    EXPECT_EQ(!failed, report.text().find(directLine) != std::string::npos) << c.crl;
    EXPECT_EQ(0, env.pathRequests) << c.crl;
    EXPECT_EQ(failed ? 0u : 1u, m.verifiedCrls.size()) << c.crl;
    EXPECT_EQ(failed ? 1u : 0u, m.pendingCrls.size()) << c.crl;
  }
}

// A CRL an enclosing status evaluation still points at outlives its move to
// the verified list (a nested CRL-issuer verification may verify it).
// crl-reasons.der's signature over no entries (it lists user.der): a forgery.
std::unique_ptr<SignedCertRevList> forgedReasons() {
  auto forged = get<SignedCertRevList>("crl-reasons.der");
  forged->tbsCertList.revokedCertificates.clear();
  return forged;
}

// The path verification's revocation step for user.der under ca.der through
// the manager; the path report's text.
std::string checkUser(RevocationManager& m, bool freshCrl, CertificateItem& item) {
  ManagedRevocation managed(m);
  PathVerification verification;
  verification.revocation = &managed;
  CertificateItem issuer;
  item.certificate = *get<SignedCertificate>("user.der");
  issuer.certificate = *get<SignedCertificate>("ca.der");
  Report report;
  RevocationArgs args;
  EXPECT_EQ(0, verification.checkRevocation(item, issuer, args, freshCrl, PATH_PURPOSE_SIGNER,
                                            false, &report.stream, nullptr));
  return report.text();
}

// A CRL is new unless an equal one is held: a copy of a genuine CRL's
// signature over other contents (a stranger's forgery, say one with an entry
// taken out) neither verifies nor makes the genuine CRL old news. The genuine
// CRL fetched for the issuer still decides; the forgery decided nothing.
TEST(CrlVerification, ForgedCopyDoesNotHideTheGenuineCrl) {
  struct IssuerCrls : RevocationNetwork {
    bool canQueryNetwork(int kind, const DistinguishedName*, ReportStream*) override {
      return kind == 2;
    }
    bool ocspFetchAllowed() override { return false; }
    int findOcspServers(const SignedCertificate&, const SignedCertificate&,
                        const std::vector<uint8_t>&, OCSPResponse&) override {
      return 31;
    }
    int queryForOcsp(const std::string&, const std::vector<uint8_t>&, OCSPResponse&) override {
      return 31;
    }
    int queryForCertificatesByDn(const DistinguishedName&, CertificateList&) override { return 31; }
    int queryForIssuerCrl(const DistinguishedName&, CrlList& out, ReportStream*) override {
      out.push_back(get<SignedCertRevList>("crl-reasons.der"));
      return 0;
    }
  };
  auto ca = get<SignedCertificate>("ca.der");
  auto genuine = get<SignedCertRevList>("crl-reasons.der");
  auto forged = forgedReasons();
  ASSERT_TRUE(forged->signature == genuine->signature);
  ASSERT_FALSE(sameCrl(*forged, *genuine));

  Environment env;
  env.roots.push_back(ca.get());
  IssuerCrls network;
  FixedPathClock clock(genuine->tbsCertList.thisUpdate.toTime64(true) + 60);
  RevocationManager m(clock, nullptr);
  m.environment = &env;
  m.network = &network;
  m.pendingCrls.emplace_back(forged.release());  // met in a signature, say
  EXPECT_TRUE(ManagedRevocation(m).isNewCrl(*genuine));
  CertificateItem item;
  const std::string report = checkUser(m, true, item);
  EXPECT_EQ(WWC_REVOKED, item.wwc) << report;
  EXPECT_EQ(REVSOURCE_CRL, item.revocationSource);
  ASSERT_EQ(1u, m.verifiedCrls.size());
  EXPECT_TRUE(sameCrl(*genuine, *m.verifiedCrls[0]));
}

// A listed CRL that fails verification (a forgery carried in a signature, its
// thisUpdate the latest) is dropped and the status decided again from what is
// left: it no longer hides the genuine CRL that lists the certificate.
TEST(CrlVerification, ListedCrlThatFailsVerificationHidesNoOther) {
  auto ca = get<SignedCertificate>("ca.der");
  auto genuine = get<SignedCertRevList>("crl-reasons.der");  // lists user.der: keyCompromise
  auto forged = forgedReasons();
  X509time& later = forged->tbsCertList.thisUpdate;
  later.setFromTime64(later.toTime64(true) + 30, true);
  const struct {
    const char* name;
    bool genuineVerified;  // else pending; absent when neither
    bool genuineHeld;
    uint32_t wwc, state;
  } cases[] = {
      {"genuine verified", true, true, WWC_REVOKED, REVSTATE_FOUND},
      {"genuine pending", false, true, WWC_REVOKED, REVSTATE_FOUND},
      {"forgery alone", false, false, WWC_OK, REVSTATE_NO_DATA},
  };
  for (const auto& c : cases) {
    Environment env;
    env.roots.push_back(ca.get());
    FixedPathClock clock(later.toTime64(true) + 60);
    RevocationManager m(clock, nullptr);
    m.environment = &env;
    if (c.genuineHeld)
      (c.genuineVerified ? m.verifiedCrls : m.pendingCrls)
          .emplace_back(new SignedCertRevList(*genuine));
    m.pendingCrls.emplace_back(new SignedCertRevList(*forged));
    CertificateItem item;
    const std::string report = checkUser(m, false, item);
    EXPECT_EQ(c.wwc, item.wwc) << c.name << "\n" << report;
    EXPECT_EQ(c.state, item.revocationState) << c.name;
    for (const auto& held : m.pendingCrls) EXPECT_FALSE(sameCrl(*held, *forged)) << c.name;
  }
}

TEST(CrlVerification, MovedCrlsOutliveTheVerification) {
  auto crl = get<SignedCertRevList>("crl-reasons.der");
  FixedPathClock clock(0);
  RevocationManager m(clock, nullptr);
  m.pendingCrls.emplace_back(new SignedCertRevList(*crl));
  m.verifiedCrls.emplace_back(new SignedCertRevList(*crl));
  const SignedCertRevList* pending = m.pendingCrls[0].get();
  const SignedCertRevList* verified = m.verifiedCrls[0].get();
  m.recordVerifiedCrl(*crl);
  EXPECT_TRUE(m.pendingCrls.empty());
  EXPECT_EQ(1u, m.verifiedCrls.size());
  EXPECT_TRUE(sameCrl(*pending, *crl));  // still alive
  EXPECT_TRUE(sameCrl(*verified, *crl));
  m.demoteVerifiedCrls();
  EXPECT_TRUE(m.retiredCrls.empty());
  EXPECT_EQ(1u, m.pendingCrls.size());
}

}  // namespace
