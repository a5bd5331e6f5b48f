// The C, X-L and A forms, the 1.1.1 form and xadesjs's BES and T over documents whose references
// and values are openssl's certificates, CRL and OCSP responses, whose
// time-stamps are `openssl ts` tokens over data canonicalised by xmllint and
// xmlsec1 (tests/data/xmlsig/xades/gen.sh): the store matchers as the
// signature properties take them, the consistency of references and values,
// the values as read, and the archive and 1.1.1 time-stamp imprints.
#include "xmlsig/xmltesthelp.h"

#include "base/b64file.h"
#include "base/reportstream.h"
#include "store/dnutils.h"
#include "api/xmlrefmatch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string fileOf(const std::string& name) { return readFixture("xades/" + name); }

template <class T>
void decodeFile(const std::string& name, T& out) {
  std::string der = fileOf(name);
  ASSERT_EQ(out.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()),
                             ASN_FLAG_CONST | ASN_FLAG_COPY),
            static_cast<int>(der.size()))
      << name;
}

template <class T>
std::string derOf(const T& value) {
  std::vector<unsigned char> der;
  value.encodeVector(der);
  return std::string(der.begin(), der.end());
}

std::string octets(const ASNoctstr& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), static_cast<size_t>(s.length));
}

struct Signature {
  explicit Signature(const std::string& xml, bool matchers = true) : doc(xml), report(&sink) {
    setup.root = doc.holder.root;
    if (matchers) useStoreMatchers(setup);
    else setup.makeDnAttribute = makeDnAttribute;
    setup.report = &report;
    xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    props = std::make_unique<SignaturePropertiesXml>(nullptr, setup, sig);
    rc = props->analyse();
  }
  std::string reportText() const {
    return std::string(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
  }
  ParsedDoc doc;
  MemFile sink;
  ReportStream report;
  XmlSignatureSetup setup;
  std::unique_ptr<SignaturePropertiesXml> props;
  int32_t rc = -1;
};

const char* const CERT_MESSAGE = "etsi:CompleteCertificateRefs i etsi:CertificateValues są niespójne";
const char* const REV_MESSAGE = "etsi:CompleteRevocationRefs i etsi:RevocationValues są niespójne";

TEST(XadesValues, FormsOfOutsideDocuments) {
  const struct {
    const char* file;
    int32_t form;
    size_t stamps, certRefs, revRefs, certValues, revValues, archives;
  } cases[] = {
      {"xl.xml", 9, 1, 3, 3, 2, 3, 0},
      {"a.xml", 12, 1, 3, 3, 2, 3, 2},
      {"v111.xml", 5, 1, 0, 0, 0, 0, 0},
      // Made by the npm package xadesjs (enveloped reference, SigningTime with milliseconds).
      {"npm-bes.xml", 4, 0, 0, 0, 0, 0, 0},
      {"npm-t.xml", 5, 1, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Signature s(fileOf(c.file));
    ASSERT_EQ(s.rc, 0) << s.reportText();
    EXPECT_EQ(s.props->form, c.form);
    EXPECT_TRUE(s.props->checkMessageDigest());
    // References and values agree ("spójne"): no line at all.
    EXPECT_EQ(s.reportText(), "");
    EXPECT_EQ(s.props->signatureTimeStamps() ? s.props->signatureTimeStamps()->items.size() : 0, c.stamps);
    EXPECT_EQ(s.props->certificateRefs() ? s.props->certificateRefs()->items.size() : 0, c.certRefs);
    EXPECT_EQ(s.props->revocationRefs()->items.size(), c.revRefs);
    EXPECT_EQ(s.props->certificateValues()->items.size(), c.certValues);
    EXPECT_EQ(s.props->revocationValues()->items.size(), c.revValues);
    EXPECT_EQ(s.props->archiveTimeStamps() ? s.props->archiveTimeStamps()->items.size() : 0, c.archives);
  }
}

// The values are openssl's own octets: the CRL, the basic response inside the
// whole OCSPResponse, the basic response given bare; the unsuccessful
// response (no bytes) is skipped.
TEST(XadesValues, ValuesAsRead) {
  Signature s(fileOf("xl.xml"));
  ASSERT_EQ(s.rc, 0);
  auto& values = s.props->revocationValues()->items;
  ASSERT_EQ(values.size(), 3u);
  auto it = values.begin();
  const CrlOrOcspValue* crl = *it++;
  const CrlOrOcspValue* byName = *it++;
  const CrlOrOcspValue* byKey = *it;
  ASSERT_TRUE(crl->crl && byName->ocsp && byKey->ocsp);
  EXPECT_EQ(derOf(*crl->crl), fileOf("crl.der"));
  OCSPResponse whole;
  decodeFile("ocsp-name.der", whole);
  EXPECT_EQ(derOf(*byName->ocsp), octets(whole.responseBytes->response));
  EXPECT_EQ(derOf(*byKey->ocsp), fileOf("ocsp-key.basic"));
  auto& certs = s.props->certificateValues()->items;
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(derOf(*certs.back()), fileOf("ocsp.der"));
}

// The last certificate value and the CRL value of xl.xml replaced by a CA and
// its CRL signed over TBS octets that are not DER (openssl verifies them:
// tests/data/pki/certs/gen_nonder_chain.sh): the values as read keep their
// octets, so the CA verifies as a self-signed path end and the CRL under it.
TEST(XadesValues, ValuesSignedOverNonDer) {
  const std::string ca = readFixture("../pki/certs/nonder_ca.der");
  const std::string crl = readFixture("../pki/certs/nonder_crl.der");
  auto b64 = [](const std::string& der) {
    std::string out((der.size() + 2) / 3 * 4 + 4, '\0');
    out.resize(static_cast<size_t>(
        encodeBase64Buffer(der.data(), static_cast<int32_t>(der.size()), &out[0])));
    return out;
  };
  std::string xml = fileOf("xl.xml");
  // the content of the last element of that name
  auto replaceLast = [&xml](const std::string& name, const std::string& content) {
    const std::string open = "<xades:" + name + ">", close = "</xades:" + name + ">";
    const size_t at = xml.rfind(open);
    ASSERT_NE(std::string::npos, at) << name;
    const size_t from = at + open.size();
    xml.replace(from, xml.find(close, from) - from, content);
  };
  replaceLast("EncapsulatedX509Certificate", b64(ca));
  replaceLast("EncapsulatedCRLValue", b64(crl));
  Signature s(xml);
  ASSERT_EQ(s.rc, 0) << s.reportText();
  auto& certs = s.props->certificateValues()->items;
  ASSERT_EQ(certs.size(), 2u);
  const SignedCertificate& c = *certs.back();
  EXPECT_EQ(derOf(c), ca);
  EXPECT_EQ(c.verifySelfSigned(), SignedCertificate::CERT_SIG_VALID);
  auto& values = s.props->revocationValues()->items;
  ASSERT_FALSE(values.empty());
  ASSERT_TRUE(values.front()->crl);
  EXPECT_EQ(derOf(*values.front()->crl), crl);
  EXPECT_EQ(values.front()->crl->verifySignature(c), SignedCertificate::CERT_SIG_VALID);
}

// Each reference record against each value of real data: a reference matches
// its own value only. The OCSP reference by name carries the digest of the
// whole OCSPResponse, which only the re-wrapped basic response reproduces.
TEST(XadesValues, MatchersOverRealData) {
  Signature s(fileOf("xl.xml"));
  ASSERT_EQ(s.rc, 0);
  std::vector<SignedCertificate> certs(3);
  decodeFile("signer.der", certs[0]);
  decodeFile("ocsp.der", certs[2]);
  certs[1] = *s.props->certificateValues()->items.front();
  std::vector<const SignatureCrtRef*> certRefs(s.props->certificateRefs()->items.begin(),
                                               s.props->certificateRefs()->items.end());
  ASSERT_EQ(certRefs.size(), 3u);
  for (size_t r = 0; r < 3; ++r)
    for (size_t c = 0; c < 3; ++c)
      EXPECT_EQ(matchXmlCertificateRef(*certRefs[r], certs[c]), r == c) << r << "," << c;

  std::vector<const SignatureCrlOrOcspRef*> revRefs(s.props->revocationRefs()->items.begin(),
                                                    s.props->revocationRefs()->items.end());
  std::vector<const CrlOrOcspValue*> values(s.props->revocationValues()->items.begin(),
                                            s.props->revocationValues()->items.end());
  ASSERT_EQ(revRefs.size(), 3u);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_TRUE(matchXmlCrlRef(revRefs[0]->crl, *values[0]->crl));
  for (size_t r = 1; r < 3; ++r)
    for (size_t v = 1; v < 3; ++v)
      EXPECT_EQ(matchXmlOcspRef(revRefs[r]->ocsp, *values[v]->ocsp), r == v) << r << "," << v;
  // The function object the properties call is the same matcher.
  XmlRefValueMatchers m = storeRefValueMatchers();
  EXPECT_TRUE(m.ocsp(revRefs[1]->ocsp, *values[1]->ocsp));
  EXPECT_TRUE(m.crl(revRefs[0]->crl, *values[0]->crl));
  EXPECT_TRUE(m.certificate(*certRefs[1], certs[1]));
}

// One value changed in a reference of the X-L document (unsigned, so the
// signature stays valid): the form stays X-L and the report says which pair
// disagrees ("niespójne").
TEST(XadesValues, ReferencesAgainstValues) {
  const std::string xml = fileOf("xl.xml");
  const size_t crr = xml.find("<xades:CompleteRevocationRefs>");
  const size_t ccr = xml.find("<xades:CompleteCertificateRefs>");
  ASSERT_NE(crr, std::string::npos);
  ASSERT_NE(ccr, std::string::npos);
  const std::string byKey = xml.substr(xml.find("<xades:ByKey>") + 13, 4);
  const struct {
    const char* what;
    size_t after;
    std::string from, to;
    bool certs, revs;
  } cases[] = {
      {"agreeing", crr, "<xades:Number>26<", "<xades:Number>26<", false, false},
      {"CRL number", crr, "<xades:Number>26<", "<xades:Number>27<", false, true},
      {"CRL issue time", crr, "<xades:IssueTime>20", "<xades:IssueTime>19", false, true},
      {"CRL issuer", crr, "<xades:Issuer>CN=XAdES Test CA", "<xades:Issuer>CN=XAdES Test CB", false, true},
      {"OCSP producedAt", crr, "<xades:ProducedAt>20", "<xades:ProducedAt>19", false, true},
      {"OCSP responder name", crr, "<xades:ByName>CN=XAdES OCSP", "<xades:ByName>CN=XAdES OCSQ", false, true},
      {"OCSP key hash", crr, "<xades:ByKey>" + byKey, "<xades:ByKey>" + std::string(byKey == "AAAA" ? "BBBB" : "AAAA"),
       false, true},
      {"certificate serial", ccr, "<ds:X509SerialNumber>4662<", "<ds:X509SerialNumber>4663<", true, false},
      {"certificate issuer", ccr, "<ds:X509IssuerName>CN=XAdES Test CA", "<ds:X509IssuerName>CN=XAdES Test CB",
       true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string changed = xml;
    size_t at = changed.find(c.from, c.after);
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, c.from.size(), c.to);
    Signature s(changed);
    ASSERT_EQ(s.rc, 0) << s.reportText();
    EXPECT_EQ(s.props->form, 9);
    EXPECT_TRUE(s.props->checkMessageDigest());
    const std::string report = s.reportText();
    EXPECT_EQ(report.find(CERT_MESSAGE) != std::string::npos, c.certs) << report;
    EXPECT_EQ(report.find(REV_MESSAGE) != std::string::npos, c.revs) << report;
  }
  // Without matchers nothing matches: both lines.
  Signature bare(xml, false);
  ASSERT_EQ(bare.rc, 0);
  EXPECT_EQ(bare.props->form, 9);
  EXPECT_NE(bare.reportText().find(CERT_MESSAGE), std::string::npos);
  EXPECT_NE(bare.reportText().find(REV_MESSAGE), std::string::npos);
}

// A CRL reference with a CRLIdentifier is checked against it whole, whatever
// the digest says; an identifier whose Issuer could not be read as a name
// matches no CRL (it used to be skipped, leaving the digest alone).
TEST(XadesValues, CrlIdentifierCheckedWhenPresent) {
  SignedCertRevList crl;
  decodeFile("crl.der", crl);
  const std::string der = fileOf("crl.der");
  MessageDigestCtx h(3);
  h.update(der.data(), static_cast<uint32_t>(der.size()));
  h.finish();
  const std::string digest(reinterpret_cast<const char*>(h.getDigestPtr()), h.getDigestLength());
  enum Issuer { SAME, OTHER, UNREAD };
  const struct {
    const char* what;
    bool identifier;
    Issuer issuer;
    const char* time;    // null: the CRL's own thisUpdate
    const char* number;  // null: none given
    bool matches;
  } cases[] = {
      {"digest alone", false, UNREAD, nullptr, nullptr, true},
      {"identifier agreeing", true, SAME, nullptr, "26", true},
      {"identifier without number", true, SAME, nullptr, nullptr, true},
      {"another issuer", true, OTHER, nullptr, "26", false},
      {"issuer unread", true, UNREAD, nullptr, nullptr, false},
      {"another time", true, SAME, "2001-01-01T00:00:00Z", nullptr, false},
      {"another number", true, SAME, nullptr, "27", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CrlRefRecord ref;
    ref.hashId = 3;
    ref.digest = digest;
    ref.identifierPresent = c.identifier;
    if (c.issuer == SAME) ref.issuer = crl.tbsCertList.issuer;
    if (c.issuer == OTHER) convXml::parseDN("CN=XAdES Other CA,O=Fixtures,C=PL", ref.issuer, makeDnAttribute);
    if (c.time)
      convXml::dateTimeToTime(c.time, ref.issueTime);
    else
      ref.issueTime = crl.tbsCertList.thisUpdate;
    if (c.number) {
      convXml::decimalToInteger(c.number, ref.crlNumber);
      ref.crlNumberPresent = true;
    }
    EXPECT_EQ(matchXmlCrlRef(ref, crl), c.matches);
  }
}

// Archive time-stamps (1.3.2, then 1.4.1 covering the first), the 1.1.1
// signature time-stamp and the one over xadesjs's signature: our imprint equals the digest openssl computed over
// data canonicalised by xmllint and xmlsec1, and the imprint in the token.
TEST(XadesValues, TimeStampImprints) {
  Signature a(fileOf("a.xml"));
  ASSERT_EQ(a.rc, 0) << a.reportText();
  const char* expected[] = {"ats1.sha256", "ats2.sha256"};
  size_t i = 0;
  for (ArchiveTimeStampToken* token : a.props->archiveTimeStamps()->items) {
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(static_cast<XmlArchiveTimeStampToken*>(token)->v141, i == 1);
    std::vector<std::string> imprint;
    a.props->archiveImprintData(*token, 3, imprint);
    ASSERT_EQ(imprint.size(), 1u);
    EXPECT_EQ(imprint[0], fileOf(expected[i]));
    EXPECT_EQ(octets(token->tstInfo.messageImprint.digest), imprint[0]);
    ++i;
  }
  EXPECT_EQ(i, 2u);

  const struct {
    const char* file;
    const char* digest;
  } stamped[] = {{"v111.xml", "v111-sigvalue.sha256"}, {"npm-t.xml", "npm-sigvalue.sha256"}};
  for (const auto& c : stamped) {
    SCOPED_TRACE(c.file);
    Signature v(fileOf(c.file));
    ASSERT_EQ(v.rc, 0) << v.reportText();
    ASSERT_EQ(v.props->signedAttributes()->signingCertificateDigestAlgorithm(), 3);
    TimeStampToken* token = v.props->signatureTimeStamps()->items.front();
    std::vector<std::string> imprint;
    v.props->timeStampImprintData(*token, 3, imprint);
    ASSERT_EQ(imprint.size(), 1u);
    EXPECT_EQ(imprint[0], fileOf(c.digest));
    EXPECT_EQ(octets(token->tstInfo.messageImprint.digest), imprint[0]);
  }
}

}  // namespace
