// The per-signature verification driver in a library context over the
// openssl-made PKI of tests/data/api/verify/gen.sh: a SignatureProperties
// double carrying values signed by `openssl dgst -sign` for the edge cases of
// the order of checks; an `openssl ts -reply` token through the CMS
// properties; XAdES-BES documents signed by xmlsec1 through the XML
// properties, with a valid and a revoked signer.
#include "verify_fixture.h"

#include "api/sigverifier.h"
#include "base/talexception.h"
#include "crypto/hash/messagedigests.h"
#include "pki/sig/sigpropspkcs7.h"
#include "store/dnutils.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmltesthelp.h"

#include <functional>

namespace {

using verifyfix::bytes;
using verifyfix::load;

std::string digestOf(int32_t hashId, const std::string& data) {
  MessageDigestCtx h(static_cast<uint32_t>(hashId));
  h.update(data.data(), static_cast<uint32_t>(data.size()));
  h.finish();
  return std::string(reinterpret_cast<const char*>(h.getDigestPtr()), h.getDigestLength());
}

std::string sha256(const std::string& data) { return digestOf(3, data); }

std::string fileText(const std::string& name) {
  const std::vector<unsigned char> b = bytes(name);
  return std::string(b.begin(), b.end());
}

ASNgenTime timeOf(int y, int mo, int d) {
  ASNgenTime t;
  t.set(y, mo, d, 0, 0, 0);
  return t;
}

// Revocation values of a signature (owned).
void addCrls(SignatureRevValues& list, const std::vector<std::string>& names) {
  for (const std::string& n : names)
    list.items.push_back(new CrlOrOcspValue(load<SignedCertRevList>(n).release(), nullptr, 1));
}

// An XML document of the fixtures parsed, with the setup its signature's
// properties are made from (the context's report as the parser's).
struct XmlDocument {
  XmlDocument(const std::string& file, talCtx* ctx) : text(fileText(file)), doc(text) {
    setup.root = doc.holder.root;
    setup.makeDnAttribute = makeDnAttribute;
    setup.report = &ctx->report;
    signature = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  }
  std::string text;
  ParsedDoc doc;
  XmlSignatureSetup setup;
  xmlNodePtr signature = nullptr;
};

class AttributesDouble : public SignedAttributes {
 public:
  int32_t count() const override { return 0; }
  int32_t attribute(int32_t, int32_t*, char**, int32_t*) const override { return 20; }
  const std::string* signingCertificateDigest() const override { return &digest; }
  int32_t signingCertificateDigestAlgorithm() const override { return hashId; }
  const ASNgenTime* signingTime() const override { return nullptr; }
  bool hasSigningTime() const override { return false; }
  std::string digest;
  int32_t hashId = 0;
};

// A signature over the SHA-256 of "data" whose parts the test sets.
class PropsDouble : public SignatureProperties {
 public:
  explicit PropsDouble(talCtx* c) : SignatureProperties(c, false) {}
  int32_t analyse() override {
    form = formCode;
    scheme = schemeCode;
    hashId = hashCode;
    return analyseResult;
  }
  bool isXml() const override { return true; }
  bool checkMessageDigest() override { return digestMatches; }
  SignedAttributes* signedAttributes() override { return withAttributes ? &attributes : nullptr; }
  int32_t signatureValue(unsigned char* buffer, int32_t* length) override {
    if (!buffer) {
      *length = static_cast<int32_t>(value.size());
      return 0;
    }
    if (*length < static_cast<int32_t>(value.size())) return 34;
    std::copy(value.begin(), value.end(), buffer);
    *length = static_cast<int32_t>(value.size());
    return 0;
  }
  int32_t counterSignatureCount() const override { return 0; }
  SigInfo* counterSignature(int32_t) override { return nullptr; }
  void signedDigest(int32_t id, std::string& out) override { out = digestOf(id, "data"); }
  void timeStampImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) override {}
  void archiveImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) override {}
  const IssuerAndSerialNumber* signerIdentifier() override { return &id; }
  int32_t storeTimeStampToken(TimeStampToken&, int32_t) override { return 137; }
  ASNsequenceList<SignedCertificate>* carriedCertificates() override {
    return carried.GetCount() ? &carried : nullptr;
  }
  SignatureCrtValues* certificateValues() override { return &certificates; }
  SignatureRevValues* revocationValues() override { return &revocations; }
  SignatureCrtValues* timeStampCertificateValues() override { return &none; }
  SignatureRevValues* timeStampRevocationValues() override { return &noRevocations; }
  SignatureCrtRefs* certificateRefs() override { return &crtRefs; }
  SignatureCrlOrOcspRefs* revocationRefs() override { return &revRefs; }
  SignatureTimeStampTokens* signatureTimeStamps() override { return nullptr; }
  ArchiveTimeStampTokens* archiveTimeStamps() override { return nullptr; }
  int32_t makeArchiveForm(talCtx*) override { return 137; }
  int32_t addCompleteRefs(const ValidationData&) override { return 137; }
  int32_t addValues(const ValidationData&) override { return 137; }

  // The signer named by `certificate`, carried with the intermediate unless `carry` is off.
  void signer(const std::string& certificate, bool carry) {
    auto c = load<SignedCertificate>(certificate);
    id.issuer = c->tbsCertificate.issuer;
    id.serialNumber = c->tbsCertificate.serialNumber;
    if (!carry) return;
    carried.append(c.release());
    carried.append(load<SignedCertificate>("sub.der").release());
  }

  int32_t hashCode = 3;  // SHA-256; openssl's DSA value is over SHA-1 (1)
  int32_t formCode = SIG_FORM_BES;
  int32_t schemeCode = SIG_SCHEME_RSA_PKCS1;
  int32_t analyseResult = 0;
  bool digestMatches = true;
  bool withAttributes = false;
  AttributesDouble attributes;
  std::string value;
  IssuerAndSerialNumber id;
  ASNsequenceList<SignedCertificate> carried;
  SignatureCrtValues certificates, none;
  SignatureRevValues revocations, noRevocations;
  SignatureCrtRefs crtRefs;
  SignatureCrlOrOcspRefs revRefs;
};

const std::vector<std::string> CRLS = {"sub-crl.der", "root-crl.der"};

class Driver : public verifyfix::VerifyContext {
 protected:
  struct Outcome {
    int32_t status = 0, reason = 0, qualification = 0, code = 0;
    std::string report;
    uint32_t flags = 0;
  };

  // A fresh context (no CRL verified, nothing cached) with the root in `group` (none: -1).
  void reopen(int group) {
    if (ctx) EXPECT_EQ(0, talDeinit(ctx));
    ctx = open();
    if (group >= 0) installRoot(group);
    checkCtxAndResetReport(ctx);
  }

  // Verifies the double made by `make` in a fresh context.
  Outcome run(int group, const std::function<void(PropsDouble&)>& make, const ASNgenTime* t = nullptr) {
    reopen(group);
    SigInfo info;
    auto* props = new PropsDouble(ctx);
    info.setProperties(props);
    make(*props);
    SignatureVerifier verifier(ctx);
    Outcome out;
    try {
      verifier.verifyAt(&info, props, t, nullptr);
    } catch (const TalApiException& e) {
      out.code = e.getCode();
    }
    out.status = info.status;
    out.reason = info.reason;
    out.qualification = info.qualification;
    out.report = report();
    out.flags = ctx->warningFlags;
    return out;
  }
};

TEST_F(Driver, OrderOfChecksOverSignaturesMadeByOpenssl) {
  const ASNgenTime in2021 = timeOf(2021, 6, 1);
  const uint32_t both = WARN_DIGEST_NOT_SHA1_RIPEMD160 | WARN_NO_SIGNING_CERTIFICATE;
  struct Row {
    const char* name;
    int group;
    const char* signer;
    const char* value;  // a file, or "=" followed by the octets
    int32_t scheme;
    std::vector<std::string> crls;
    const ASNgenTime* timemark;
    std::function<void(PropsDouble&)> tweak;
    int32_t status, reason, qualification;
    uint32_t flags;
    const char* line;  // in the report, when given
  } rows[] = {
      {"ordinary signer: no digest or SigningCertificate warning", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, nullptr, 4, 0, 3, 0, "Podpis poprawnie zweryfikowany"},
      {"qualified signer: both warnings", 1, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS,
       nullptr, nullptr, 4, 0, 2, both, "(SigningCertificate) !!!"},
      {"qualified signer with the signing-certificate reference", 1, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) {
         p.withAttributes = true;
         p.attributes.hashId = 3;
         p.attributes.digest = sha256(fileText("signer.der"));
       },
       4, 0, 2, WARN_DIGEST_NOT_SHA1_RIPEMD160, nullptr},
      {"signing-certificate reference to another certificate", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) {
         p.withAttributes = true;
         p.attributes.hashId = 3;
         p.attributes.digest = sha256(fileText("kenc.der"));
       },
       1, 1, 1, 0, nullptr},
      {"message digest mismatch", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) {
         p.withAttributes = true;
         p.digestMatches = false;
       },
       2, 5, 3, 0, "Niezgodno"},
      {"message digest mismatch with the verdict skipped", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) {
         p.withAttributes = true;
         p.digestMatches = false;
         p.skipDigestVerdict = 1;
       },
       4, 0, 3, 0, nullptr},
      {"keyEncipherment only", 0, "kenc.der", "kenc.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, nullptr, 1, 2,
       3, 0, " znaleziony certyfikat nie posiada zastosowania do podpisywania lub niezaprzeczalnosci."},
      {"DSA value that does not decode", 0, "dsa.der", "=\x30\x06\x02\x01\x01\x02", SIG_SCHEME_DSA, CRLS,
       nullptr, nullptr, 2, 3, 3, 0, "(matematycznie)"},
      {"DSA value empty", 0, "dsa.der", "=", SIG_SCHEME_DSA, CRLS, nullptr, nullptr, 2, 3, 3, 0, nullptr},
      {"RSA value empty", 0, "signer.der", "=", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, nullptr, 2, 4, 3, 0,
       "(sk"},
      {"DSA value by openssl", 0, "dsa.der", "dsa.sig", SIG_SCHEME_DSA, CRLS, nullptr, nullptr, 4, 0, 3, 0,
       nullptr},
      {"RSA value of another key", 0, "signer.der", "kenc.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, nullptr,
       2, 3, 3, 0, nullptr},
      {"RSA scheme with a DSA key", 0, "dsa.der", "dsa.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, nullptr, 1,
       1, 3, 0, nullptr},
      {"ECDSA scheme with an RSA key", 0, "signer.der", "signer.sig", SIG_SCHEME_ECDSA, CRLS, nullptr,
       nullptr, 1, 1, 3, 0, nullptr},
      {"no revocation data: the signer's reason outranks the CA's", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, {}, nullptr, nullptr, 3, 9, 3, 0, nullptr},
      {"only the CA's CRL missing", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, {"sub-crl.der"},
       nullptr, nullptr, 3, 12, 3, 0, nullptr},
      {"expired by now, timemark inside its validity", 0, "expired.der", "expired.sig",
       SIG_SCHEME_RSA_PKCS1, {"sub-crl-2023.der", "root-crl-2023.der"}, &in2021, nullptr, 3, 22, 3, 0,
       nullptr},
      {"expired by now, CRL issued inside its validity", 0, "expired.der", "expired.sig",
       SIG_SCHEME_RSA_PKCS1, {"sub-crl-2021.der", "root-crl-2021.der"}, &in2021, nullptr, 4, 0, 3, 0,
       nullptr},
      {"expired by now, no timemark", 0, "expired.der", "expired.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       nullptr, 2, 7, 3, 0, nullptr},
      {"no root: the certificate found, no path", -1, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS,
       nullptr, nullptr, 1, 2, 1, 0, "Brak mo"},
      {"signer certificate altered: no path, no exception", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) {
         std::vector<unsigned char> der = bytes("signer.der");
         der.back() ^= 1;
         auto altered = std::make_unique<SignedCertificate>();
         ASSERT_EQ(static_cast<int>(der.size()), altered->decodeVector(der));
         p.carried.clear();
         p.carried.append(altered.release());
         p.carried.append(load<SignedCertificate>("sub.der").release());
       },
       1, 2, 1, 0, nullptr},
      {"signer certificate nowhere", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) { p.carried.clear(); }, 1, 1, 1, 0, nullptr},
      {"analysed as a wrong value", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) { p.analyseResult = 94; }, 2, 3, 1, 0, "(matematycznie)"},
      {"analysed as malformed", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) { p.analyseResult = 89; }, 1, 21, 1, 0, "PKCS#7/XAdES"},
      {"analysed with an unknown digest", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS, nullptr,
       [](PropsDouble& p) { p.analyseResult = 92; }, 1, 21, 1, 0, "!!!"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Outcome o = run(r.group, [&](PropsDouble& p) {
      p.signer(r.signer, true);
      p.schemeCode = r.scheme;
      if (r.scheme == SIG_SCHEME_DSA) p.hashCode = 1;
      const std::string v = r.value[0] == '=' ? std::string(r.value + 1) : fileText(r.value);
      p.value.assign(v.begin(), v.end());
      addCrls(p.revocations, r.crls);
      if (r.tweak) r.tweak(p);
    }, r.timemark);
    EXPECT_EQ(0, o.code);
    EXPECT_EQ(r.status, o.status);
    EXPECT_EQ(r.reason, o.reason);
    EXPECT_EQ(r.qualification, o.qualification);
    EXPECT_EQ(r.flags, o.flags & both);
    if (r.line) EXPECT_NE(std::string::npos, o.report.find(r.line)) << o.report;
  }
}

TEST_F(Driver, FormsOtherThanTheVerifiableAreNamedThenRefused) {
  const struct {
    int32_t form;
    int32_t analyse;
    int32_t code;
    const char* named;
  } rows[] = {
      {7, 0, 89, "Forma podpisu: XAdES-C"},
      {8, 0, 89, "Forma podpisu: XAdES-C"},
      {0, 0, 89, "Forma podpisu: Nieznany format podpisu"},
      {SIG_FORM_BES, 137, 137, nullptr},
      {SIG_FORM_BES, 100, 100, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.form);
    Outcome o = run(0, [&](PropsDouble& p) {
      p.signer("signer.der", true);
      p.formCode = r.form;
      p.analyseResult = r.analyse;
    });
    EXPECT_EQ(r.code, o.code);
    if (r.named) EXPECT_NE(std::string::npos, o.report.find(r.named)) << o.report;
  }
  EXPECT_THROW(SignatureVerifier(ctx).verifyAt(nullptr, nullptr, nullptr, nullptr), TalApiException);
}

// The second signature of a signer already verified takes its path from the
// cache (option 23) and still has its value checked.
TEST_F(Driver, CachedSignerPathStillChecksTheValue) {
  installRoot(0);
  ASSERT_EQ(1, ctx->configuration.setOption(23, 1, true));
  for (const char* value : {"signer.sig", "signer.sig", "kenc.sig"}) {
    SCOPED_TRACE(value);
    SigInfo info;
    auto* props = new PropsDouble(ctx);
    info.setProperties(props);
    props->signer("signer.der", true);
    const std::string v = fileText(value);
    props->value.assign(v.begin(), v.end());
    addCrls(props->revocations, CRLS);
    SignatureVerifier(ctx).verifyAt(&info, props, nullptr, nullptr);
    EXPECT_EQ(std::string(value) == "kenc.sig" ? 2 : 4, info.status);
    EXPECT_EQ(3, info.GetCount());
  }
}

// An `openssl ts -reply` token as a CMS signature: its own certificates or
// ones from outside, which must be the certificate the token commits to.
TEST_F(Driver, TimeStampTokenByOpenssl) {
  const struct {
    const char* name;
    bool strip;
    std::vector<std::string> outside;
    std::vector<std::string> crls;
    int32_t status, reason;
  } rows[] = {
      {"carried certificates", false, {}, CRLS, 4, 0},
      {"carried certificates, no CRL", false, {}, {}, 3, 9},
      {"the TSA's certificate from outside", true, {"tsa.der", "sub.der"}, CRLS, 4, 0},
      {"its twin from outside", true, {"tsa-twin.der", "sub.der"}, CRLS, 1, 1},
      {"the twin met before the TSA", true, {"tsa-twin.der", "tsa.der", "sub.der"}, CRLS, 4, 0},
      {"no certificate", true, {}, CRLS, 1, 1},
  };
  const std::string der = fileText("token.der");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    SignedMessage token;
    ASSERT_EQ(static_cast<int>(der.size()),
              token.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()),
                                 ASN_FLAG_CONST | ASN_FLAG_COPY));
    SignedData& sd = token.value();
    if (r.strip) {
      sd.certificates.clear();
      sd.certificatesPresent = 0;
    }
    SignatureCrtValues outside;
    for (const std::string& n : r.outside) outside.items.push_back(load<SignedCertificate>(n).release());
    SignatureRevValues crls;
    addCrls(crls, r.crls);
    reopen(0);
    SigInfo info;
    auto* props = new SignaturePropertiesPkcs7(ctx, &sd, sd.signerInfos.GetHead(), true, false);
    info.setProperties(props);
    SignatureVerifier verifier(ctx);
    verifier.extraCertificates = &outside;
    verifier.extraRevocations = &crls;
    verifier.verifyAt(&info, props, nullptr, nullptr);
    EXPECT_EQ(r.status, info.status) << report();
    EXPECT_EQ(r.reason, info.reason);
    if (r.status == 4) {
      EXPECT_NE(std::string::npos, report().find("Znacznik czasu poprawnie zweryfikowany"));
      ASSERT_TRUE(props->signerCertificate);
      EXPECT_TRUE(*props->signerCertificate == *load<SignedCertificate>("tsa.der"));
    }
  }
}

// XAdES-BES documents signed by xmlsec1.
TEST_F(Driver, XmlSignatureByXmlsec1) {
  const struct {
    const char* file;
    std::vector<std::string> crls;
    int32_t status, reason;
  } rows[] = {
      {"xades-signer.xml", CRLS, 4, 0},
      {"xades-revoked.xml", CRLS, 2, 6},
      {"xades-signer.xml", {}, 3, 9},
      {"xades-revoked.xml", {}, 3, 9},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    reopen(0);
    XmlDocument xml(r.file, ctx);
    ASSERT_NE(nullptr, xml.signature);
    SignatureRevValues crls;
    addCrls(crls, r.crls);
    SigInfo info;
    auto* props = new SignaturePropertiesXml(ctx, xml.setup, xml.signature);
    info.setProperties(props);
    SignatureVerifier verifier(ctx);
    verifier.extraRevocations = &crls;
    verifier.verifyAt(&info, props, nullptr, nullptr);
    EXPECT_EQ(r.status, info.status) << report();
    EXPECT_EQ(r.reason, info.reason);
    EXPECT_EQ(SIG_FORM_BES, info.form);
    EXPECT_EQ(3, info.GetCount());
  }
}

// The XAdES-T form: the token (stamped by the fixtures' TSA in December 2026)
// is verified by a nested driver first; the signature is then verified as of
// the token's time, so a CRL issued before it is older than the signing.
TEST_F(Driver, TimeStampedXmlSignatureVerifiedAtTheTokensTime) {
  const struct {
    const char* name;
    std::vector<std::string> crls;  // in the CRL database
    int32_t status, reason, tokenStatus;
  } rows[] = {
      {"CRLs issued before the token", CRLS, 3, 11, 4},
      {"CRLs issued after the token", {"sub-crl-2027.der", "root-crl-2027.der"}, 4, 0, 4},
      {"no CRL", {}, 3, 9, 3},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    reopen(0);
    storeSubAndCrls(r.crls);
    XmlDocument xml("xades-t.xml", ctx);
    ASSERT_NE(nullptr, xml.signature);
    SigInfo info;
    auto* props = new SignaturePropertiesXml(ctx, xml.setup, xml.signature);
    info.setProperties(props);
    SignatureVerifier(ctx).verifyAt(&info, props, nullptr, nullptr);
    EXPECT_EQ(SIG_FORM_T, info.form);
    EXPECT_EQ(r.status, info.status) << report();
    EXPECT_EQ(r.reason, info.reason);
    ASSERT_EQ(1u, info.timeStampTokens.items.size());
    const SignatureTimeStampToken& token = *info.timeStampTokens.items.front();
    EXPECT_EQ(r.tokenStatus, token.status);
    EXPECT_TRUE(token.used);
    ASSERT_TRUE(token.signerCertificate);
    EXPECT_TRUE(*token.signerCertificate == *load<SignedCertificate>("tsa.der"));
    const ASNgenTime& at = token.tstInfo.genTime;
    EXPECT_EQ(at.year, info.verificationTime.year);
    EXPECT_EQ(at.day, info.verificationTime.day);
    EXPECT_EQ(at.second, info.verificationTime.second);
  }
}

}  // namespace
