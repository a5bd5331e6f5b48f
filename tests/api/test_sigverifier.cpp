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
  void signedDigest(int32_t id, std::string& out) override {
    out = signedDigestValue.empty() ? digestOf(id, "data") : signedDigestValue;
  }
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
  // The extension steps record themselves and answer `extension`.
  int32_t makeArchiveForm(talCtx*) override { return step("archive"); }
  int32_t addCompleteRefs(const ValidationData&) override { return step("refs"); }
  int32_t addValues(const ValidationData&) override { return step("values"); }
  int32_t step(const char* name) {
    steps += steps.empty() ? name : std::string(" ") + name;
    return extension;
  }

  // The signer named by `certificate`, carried with the intermediate unless `carry` is off.
  void signer(const std::string& certificate, bool carry) {
    auto c = load<SignedCertificate>(certificate);
    id.issuer = c->tbsCertificate.issuer;
    id.serialNumber = c->tbsCertificate.serialNumber;
    if (!carry) return;
    carried.append(c.release());
    carried.append(load<SignedCertificate>("sub.der").release());
  }

  // The signer carried with the intermediate, the value from a file, the current CRLs.
  void signedBy(const std::string& certificate, const std::string& valueFile);

  int32_t hashCode = 3;  // SHA-256; openssl's DSA value is over SHA-1 (1)
  int32_t formCode = SIG_FORM_BES;
  int32_t schemeCode = SIG_SCHEME_RSA_PKCS1;
  int32_t analyseResult = 0;
  int32_t extension = 0;
  std::string steps;
  bool digestMatches = true;
  bool withAttributes = false;
  AttributesDouble attributes;
  std::string value;
  std::string signedDigestValue;  // when set, the digest signed in place of "data"'s
  IssuerAndSerialNumber id;
  ASNsequenceList<SignedCertificate> carried;
  SignatureCrtValues certificates, none;
  SignatureRevValues revocations, noRevocations;
  SignatureCrtRefs crtRefs;
  SignatureCrlOrOcspRefs revRefs;
};

const std::vector<std::string> CRLS = {"sub-crl.der", "root-crl.der"};

void PropsDouble::signedBy(const std::string& certificate, const std::string& valueFile) {
  signer(certificate, true);
  const std::string v = fileText(valueFile);
  value.assign(v.begin(), v.end());
  addCrls(revocations, CRLS);
}

class Driver : public verifyfix::VerifyContext {
 protected:
  struct Outcome {
    int32_t status = 0, reason = 0, qualification = 0, code = 0;
    std::string report;
    uint32_t flags = 0;
  };

  // A fresh context (no CRL verified, nothing cached) with the root in `group` (none: -1).
  void reopen(int group) {
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    ctx = open();
    if (group >= 0) installRoot(group);
    checkCtxAndResetReport(CtxUse(ctx));
  }

  // Verifies `props` as of now into `info`: the code of a TalApiException, 0 without one.
  int32_t verifyNow(SigInfo& info, PropsDouble* props) {
    try {
      SignatureVerifier(ctx).verifyAt(&info, props, nullptr, nullptr);
    } catch (const TalApiException& e) {
      return e.getCode();
    }
    return 0;
  }

  // A fresh context whose only root is the certificate file given.
  void reopenUnder(const std::string& rootFile) {
    reopen(-1);
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((verifyfix::DIR + rootFile).c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(ctx, root, TAL_ROOT_SESSION, 0));
    talDeleteCertificate(root);
  }

  // Verifies the signature of an XML file of the fixtures into `info`, the CRLs given beside it.
  void verifyXml(SigInfo& info, const std::string& file, const std::vector<std::string>& crlNames,
                 const ASNgenTime* t) {
    XmlDocument xml(file, ctx);
    ASSERT_NE(nullptr, xml.signature);
    SignatureRevValues crls;
    addCrls(crls, crlNames);
    auto* props = new SignaturePropertiesXml(ctx, xml.setup, xml.signature);
    info.setProperties(props);
    SignatureVerifier verifier(ctx);
    verifier.extraRevocations = &crls;
    verifier.verifyAt(&info, props, t, nullptr);
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
    const char* absentLine = nullptr;  // not in the report, when given
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
      {"C form without tokens: the basic form", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PKCS1, CRLS,
       nullptr, [](PropsDouble& p) { p.formCode = SIG_FORM_C; }, 4, 0, 3, 0, "Forma podpisu: XAdES-C"},
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
      // Critical, it refuses the certificate while its path is built.
      {"keyUsage that does not decode: no path", 0, "badku.der", "signer.sig", SIG_SCHEME_RSA_PKCS1,
       CRLS, nullptr, nullptr, 1, 2, 1, 0, nullptr},
      {"a token signed by a certificate without id-kp-timeStamping", 0, "signer.der", "signer.sig",
       SIG_SCHEME_RSA_PKCS1, CRLS, nullptr, [](PropsDouble& p) { p.isTimeStamp = 1; }, 1, 2, 3, 0,
       "Niepoprawne zastosowanie klucza"},
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
      {"PSS parameters that do not read: no key-usage line", 0, "signer.der", "signer.sig", SIG_SCHEME_RSA_PSS,
       CRLS, nullptr,
       [](PropsDouble& p) {
         // id-RSASSA-PSS with an INTEGER where its parameters' SEQUENCE belongs.
         const std::vector<unsigned char> der = {0x30, 0x0e, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                                 0xf7, 0x0d, 0x01, 0x01, 0x0a, 0x02, 0x01, 0x05};
         ASSERT_EQ(static_cast<int>(der.size()), p.signatureAlgorithm.decodeVector(der));
       },
       2, 4, 3, 0, "(sk", "Niepoprawne zastosowanie klucza"},
      {"a scheme no value check knows: nothing proven", 0, "signer.der", "=", SIG_SCHEME_NONE, CRLS, nullptr,
       nullptr, 1, 21, 3, 0, "PKCS#7/XAdES"},
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
    if (r.line) { EXPECT_NE(std::string::npos, o.report.find(r.line)) << o.report; }
    if (r.absentLine) { EXPECT_EQ(std::string::npos, o.report.find(r.absentLine)) << o.report; }
  }
  // Under a qualified root too: no path, so no grading reads that keyUsage.
  Outcome o = run(1, [](PropsDouble& p) { p.signer("badku.der", true); });
  EXPECT_EQ(0, o.code);
  EXPECT_EQ(1, o.status);
  EXPECT_EQ(1, o.qualification);
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
    if (r.named) { EXPECT_NE(std::string::npos, o.report.find(r.named)) << o.report; }
  }
  EXPECT_THROW(SignatureVerifier(ctx).verifyAt(nullptr, nullptr, nullptr, nullptr), TalApiException);
}

// An RSASSA-PSS signer (openssl) whose key's own parameters do not read: the
// key cannot agree with the signature's, so the value is not its (status 2,
// reason 4, the key-usage line), a verdict and no exception.
TEST_F(Driver, PssKeyWhoseOwnParametersDoNotRead) {
  reopenUnder("pss-root.der");
  SigInfo info;
  auto* props = new PropsDouble(ctx);
  info.setProperties(props);
  props->signer("pss-badparams.der", true);
  props->schemeCode = SIG_SCHEME_RSA_PSS;
  // What openssl wrote into the key before the change: PSS with SHA-256, MGF1 with SHA-256, salt 32.
  const std::vector<unsigned char> pss = {
      0x30, 0x41, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0a, 0x30, 0x34, 0xa0, 0x0f,
      0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0xa1, 0x1c,
      0x30, 0x1a, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x08, 0x30, 0x0d, 0x06, 0x09,
      0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0xa2, 0x03, 0x02, 0x01, 0x20};
  ASSERT_EQ(static_cast<int>(pss.size()), props->signatureAlgorithm.decodeVector(pss));
  const std::string v = fileText("pss-badparams.sig");
  props->value.assign(v.begin(), v.end());
  EXPECT_EQ(0, verifyNow(info, props));
  EXPECT_EQ(SIG_STATUS_NEGATIVE, info.status) << report();
  EXPECT_EQ(SIG_REASON_VALUE_SYNTAX, info.reason);
  EXPECT_NE(std::string::npos, report().find("Niepoprawne zastosowanie klucza w certyfikacie do weryfikacji podpisu"));
}

// An ECDSA signer (openssl) under a root of its own: its value passes the
// value check; a digest of another length than its algorithm's (the key
// answers it as unsupported) is a value that does not verify, a verdict on
// this signature and no exception ending the verification.
TEST_F(Driver, EcdsaDigestOfAnotherLengthIsAWrongValue) {
  for (bool shortDigest : {false, true}) {
    SCOPED_TRACE(shortDigest);
    reopenUnder("ec-root.der");
    SigInfo info;
    auto* props = new PropsDouble(ctx);
    info.setProperties(props);
    props->signer("ec-signer.der", true);
    props->schemeCode = SIG_SCHEME_ECDSA;
    const std::string v = fileText("ec-signer.sig");
    props->value.assign(v.begin(), v.end());
    // ecdsa-with-SHA256 over the SHA-1 of "data"
    if (shortDigest) props->signedDigestValue = digestOf(1, "data");
    EXPECT_EQ(0, verifyNow(info, props));
    const bool wrong = info.status == SIG_STATUS_NEGATIVE && info.reason == SIG_REASON_VALUE_MATH;
    EXPECT_EQ(shortDigest, wrong) << report();
    EXPECT_EQ(shortDigest, report().find("(matematycznie)") != std::string::npos) << report();
  }
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

// A cached path (option 23) stands for a verdict reached as of now about a
// signer: a path found valid as of a timemark (its certificate revoked since)
// or for a time-stamping authority must not pass a signature verified now.
TEST_F(Driver, CachedPathServesOnlyASignatureVerifiedAsOfNow) {
  const ASNgenTime beforeRevocation = timeOf(2026, 6, 1);
  const std::vector<std::string> crls2027 = {"sub-crl-2027.der", "root-crl-2027.der"};
  auto xml = [&](const ASNgenTime* t) {
    SigInfo info;
    verifyXml(info, "xades-revoked.xml", crls2027, t);
    return std::make_pair(info.status, info.reason);
  };
  // The token's own signature, by the authority's key, as a signer's.
  const std::string tokenDer = fileText("token.der");
  auto decodeToken = [&](SignedMessage& message) -> SignedData& {
    EXPECT_EQ(static_cast<int>(tokenDer.size()),
              message.decodeBuffer(reinterpret_cast<const unsigned char*>(tokenDer.data()),
                                   static_cast<int>(tokenDer.size()), ASN_FLAG_CONST | ASN_FLAG_COPY));
    return message.value();
  };
  auto asSigner = [&]() {
    SignedMessage message;
    SignedData& sd = decodeToken(message);
    SignaturePropertiesPkcs7 own(ctx, &sd, sd.signerInfos.GetHead(), true, false);
    EXPECT_EQ(0, own.analyse());
    SigInfo info;
    auto* props = new PropsDouble(ctx);
    info.setProperties(props);
    props->signer("tsa.der", true);
    own.signedDigest(3, props->signedDigestValue);
    int32_t length = 0;
    own.signatureValue(nullptr, &length);
    props->value.assign(static_cast<size_t>(length), 0);
    own.signatureValue(reinterpret_cast<unsigned char*>(&props->value[0]), &length);
    addCrls(props->revocations, CRLS);
    SignatureVerifier(ctx).verifyAt(&info, props, nullptr, nullptr);
    return std::make_pair(info.status, info.reason);
  };
  auto token = [&]() {
    SignedMessage message;
    SignedData& sd = decodeToken(message);
    SignatureRevValues crls;
    addCrls(crls, CRLS);
    SigInfo info;
    auto* props = new SignaturePropertiesPkcs7(ctx, &sd, sd.signerInfos.GetHead(), true, false);
    info.setProperties(props);
    SignatureVerifier verifier(ctx);
    verifier.extraRevocations = &crls;
    verifier.verifyAt(&info, props, nullptr, nullptr);
    return std::make_pair(info.status, info.reason);
  };
  const ASNgenTime beforeIssue = timeOf(2019, 6, 1);
  auto signer = [&](const ASNgenTime* t) {
    SigInfo info;
    auto* props = new PropsDouble(ctx);
    info.setProperties(props);
    props->signedBy("signer.der", "signer.sig");
    SignatureVerifier(ctx).verifyAt(&info, props, t, nullptr);
    return std::make_pair(info.status, info.reason);
  };
  using Verdict = std::pair<int32_t, int32_t>;
  const struct {
    const char* name;
    std::function<Verdict()> first, second;
    Verdict firstVerdict, secondVerdict;
  } rows[] = {
      // Revoked in December 2026: not yet at the timemark, revoked now.
      {"valid at a timemark, revoked now", [&] { return xml(&beforeRevocation); }, [&] { return xml(nullptr); },
       {4, 0}, {2, 6}},
      // The authority's certificate names time-stamping alone (critical): no signer's path.
      {"a time-stamping authority's path", token, asSigner, {4, 0}, {1, 2}},
      // Cached now; its certificate was not yet issued at the timemark.
      {"valid now, not yet at a timemark", [&] { return signer(nullptr); }, [&] { return signer(&beforeIssue); },
       {4, 0}, {2, 7}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    reopen(0);
    ASSERT_EQ(1, ctx->configuration.setOption(23, 1, true));
    EXPECT_EQ(r.firstVerdict, r.first()) << report();
    EXPECT_EQ(r.secondVerdict, r.second()) << report();
  }
  // Without the first verification the second comes out the same.
  reopen(0);
  ASSERT_EQ(1, ctx->configuration.setOption(23, 1, true));
  EXPECT_EQ(Verdict(1, 2), asSigner());
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
    bool unknownAlgorithm = false;  // the signer's signature algorithm made one nobody reads, its value altered
  } rows[] = {
      {"carried certificates", false, {}, CRLS, 4, 0},
      {"a signature algorithm nobody reads", false, {}, CRLS, 1, 21, true},
      {"carried certificates, no CRL", false, {}, {}, 3, 9},
      {"the TSA's certificate from outside", true, {"tsa.der", "sub.der"}, CRLS, 4, 0},
      {"its twin from outside", true, {"tsa-twin.der", "sub.der"}, CRLS, 1, 1},
      {"the twin met before the TSA", true, {"tsa-twin.der", "tsa.der", "sub.der"}, CRLS, 4, 0},
      {"no certificate", true, {}, CRLS, 1, 1},
  };
  const std::string original = fileText("token.der");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string der = original;
    if (r.unknownAlgorithm) {
      // rsaEncryption's last arc (the signer's is the last OID) made 99, and the value's last octet changed.
      const std::string rsa("\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01", 11);
      const size_t at = der.rfind(rsa);
      ASSERT_NE(std::string::npos, at);
      der[at + 10] = 99;
      der.back() ^= 1;
    }
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
    SigInfo info;
    verifyXml(info, r.file, r.crls, nullptr);
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

// With collecting on, the path's certificates (the signer's too) and the CRLs
// used are gathered and handed to a signature being extended: complete
// references under option 34 below the C form, values below the X form, then
// the archive form (not in the variant without finish); a failing step ends it.
TEST_F(Driver, CollectedValidationDataGoesToTheExtendedSignature) {
  reopen(0);
  SigInfo info;
  auto* props = new PropsDouble(ctx);
  info.setProperties(props);
  props->signedBy("signer.der", "signer.sig");
  SignatureVerifier verifier(ctx);
  verifier.collect = true;
  verifier.verifyAt(&info, props, nullptr, nullptr);
  ASSERT_EQ(SIG_STATUS_VALID, info.status);
  const CrtAndRevValues& path = verifier.validationData.path;
  ASSERT_EQ(3u, path.certificates.items.size());
  for (const char* name : {"signer.der", "sub.der", "root.der"}) {
    auto c = load<SignedCertificate>(name);
    bool held = false;
    for (const SignedCertificate* x : path.certificates.items) held = held || *x == *c;
    EXPECT_TRUE(held) << name;
  }
  ASSERT_EQ(2u, path.revocations.items.size());
  for (const CrlOrOcspValue* x : path.revocations.items) EXPECT_TRUE(x->crl && !x->ocsp);

  const struct {
    int32_t option34, form, failing;
    bool finish;
    const char* steps;
    int32_t result;
  } rows[] = {
      {0, SIG_FORM_BES, 0, true, "values archive", 0},
      {1, SIG_FORM_BES, 0, true, "refs values archive", 0},
      {1, SIG_FORM_T, 0, false, "refs values", 0},
      {1, SIG_FORM_C, 0, true, "values archive", 0},
      {1, SIG_FORM_X, 0, true, "archive", 0},
      {0, SIG_FORM_BES, 137, true, "values", 137},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.steps);
    ASSERT_EQ(1, ctx->configuration.setOption(34, r.option34, true));
    PropsDouble target(ctx);
    target.form = r.form;
    target.extension = r.failing;
    EXPECT_EQ(r.result, r.finish ? verifier.exportValidationData(target, nullptr)
                                 : verifier.exportValidationDataNoFinish(target));
    EXPECT_EQ(r.steps, target.steps);
  }
}

}  // namespace
