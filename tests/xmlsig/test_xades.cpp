// The XAdES reader and the XML signature properties over documents signed by
// xmlsec1 and time-stamped by `openssl ts` (tests/data/xmlsig/xades/gen.sh):
// the form, the signed properties and their texts, the reference digests,
// the signed digest checked with the signer's key, the signature time-stamp
// imprint against openssl's own digest; then every message of the reader
// from one valid document broken in one place.
#include "xmlsig/xmltesthelp.h"

#include "base/reportstream.h"
#include "keys/sigverify.h"
#include "store/dnutils.h"
#include "xmlsig/sigpropsxml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>

namespace {

std::string fileOf(const std::string& name) { return readFixture("xades/" + name); }

std::string sha256(const std::string& bytes) {
  MessageDigestCtx h(3);
  h.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  h.finish();
  return std::string(reinterpret_cast<const char*>(h.getDigestPtr()), h.getDigestLength());
}

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct Verified {
  explicit Verified(const std::string& xml) : doc(xml), report(&sink) {
    setup.root = doc.holder.root;
    setup.makeDnAttribute = makeDnAttribute;
    setup.report = &report;
  }
  int32_t analyse() {
    xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    props = std::make_unique<SignaturePropertiesXml>(nullptr, setup, sig);
    return props->analyse();
  }
  std::string reportText() const {
    return std::string(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
  }
  ParsedDoc doc;
  MemFile sink;
  ReportStream report;
  XmlSignatureSetup setup;
  std::unique_ptr<SignaturePropertiesXml> props;
};

std::string attributeText(SignedAttributes& a, int32_t index, int32_t* type) {
  char* text = nullptr;
  int32_t length = 0;
  EXPECT_EQ(a.attribute(index, type, &text, &length), 0);
  std::string out(text, static_cast<size_t>(length > 0 ? length - 1 : 0));
  delete[] text;
  return out;
}

TEST(Xades, FormsOfOutsideDocuments) {
  const struct {
    const char* file;
    int32_t form;
    size_t stamps;
  } cases[] = {{"bes.xml", 4, 0}, {"t.xml", 5, 1}, {"t-c14n.xml", 5, 1}};
  const std::string signerDer = fileOf("signer.der");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Verified v(fileOf(c.file));
    ASSERT_EQ(v.analyse(), 0) << v.reportText();
    EXPECT_EQ(v.props->form, c.form);
    EXPECT_TRUE(v.props->checkMessageDigest());
    EXPECT_EQ(v.reportText(), "");
    SignatureTimeStampTokens* stamps = v.props->signatureTimeStamps();
    EXPECT_EQ(stamps ? stamps->items.size() : 0, c.stamps);
    // The committed certificate is the signer's, the issuer and serial openssl's.
    SignedAttributes* a = v.props->signedAttributes();
    ASSERT_EQ(a->signingCertificateDigestAlgorithm(), 3);
    EXPECT_EQ(*a->signingCertificateDigest(), sha256(signerDer));
    ASSERT_NE(v.props->signerIdentifier(), nullptr);
    EXPECT_EQ(v.props->signerIdentifier()->serialNumber.toLong(), 4660u);
    // The signed digest verifies with the signer's key (xmlsec1 signed it).
    SignedCertificate cert;
    ASSERT_EQ(cert.decodeBuffer(reinterpret_cast<const unsigned char*>(signerDer.data()),
                                static_cast<int>(signerDer.size()), ASN_FLAG_CONST | ASN_FLAG_COPY),
              static_cast<int>(signerDer.size()));
    std::vector<unsigned char> spkiDer;
    cert.tbsCertificate.subjectPublicKeyInfo.encodeVector(spkiDer);
    SubPubKeyInfo key;
    ASSERT_GT(key.decodeVector(spkiDer), 0);
    std::string digest;
    v.props->signedDigest(3, digest);
    int32_t length = 0;
    ASSERT_EQ(v.props->signatureValue(nullptr, &length), 0);
    std::vector<unsigned char> value(static_cast<size_t>(length));
    ASSERT_EQ(v.props->signatureValue(value.data(), &length), 0);
    EXPECT_EQ(verifyRsaPkcs1Signature(key.rsaKey, value.data(), value.size(),
                                      reinterpret_cast<const uint8_t*>(digest.data()), digest.size(), 3),
              0);
    if (c.stamps) {
      // The imprint covers the canonical SignatureValue element, as openssl digested it.
      std::vector<std::string> imprint;
      TimeStampToken* token = stamps->items.front();
      v.props->timeStampImprintData(*token, 3, imprint);
      ASSERT_EQ(imprint.size(), 1u);
      EXPECT_EQ(imprint[0], fileOf("sigvalue.sha256"));
      const ASNoctstr& hashed = token->tstInfo.messageImprint.digest;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(hashed.data()), static_cast<size_t>(hashed.length)),
                imprint[0]);
      // openssl ts steps its serial file (1001) before it issues.
      EXPECT_EQ(token->tstInfo.serialNumber.toLong(), 0x1002u);
    }
  }
}

// The signer chosen among KeyInfo certificates (tests/data/xmlsig/gen_signer.sh,
// signed by xmlsec1): by SigningCertificateV2's digest and, where it has one,
// its IssuerSerialV2; among CA certificates only, the one that issued none of
// the others.
TEST(Xades, SignerChoice) {
  const struct {
    const char* file;
    int32_t result;
    const char* signer;  // the certificate chosen, when chosen
  } cases[] = {
      {"v2.xml", 0, "signer.der"},
      {"v2-digest.xml", 0, "signer.der"},
      {"v2-other-serial.xml", 89, nullptr},
      {"caonly.xml", 0, "casigner.der"},
      {"caonly-twins.xml", 89, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Verified v(readFixture(std::string("signer/") + c.file));
    ASSERT_EQ(v.analyse(), c.result) << v.reportText();
    if (!c.signer) {
      EXPECT_NE(v.reportText().find("nie można jednoznacznie wskazać certyfikatu"), std::string::npos);
      continue;
    }
    EXPECT_EQ(v.reportText(), "");
    EXPECT_TRUE(v.props->checkMessageDigest());
    const std::string der = readFixture(std::string("signer/") + c.signer);
    SignedCertificate expected;
    ASSERT_EQ(expected.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                                    static_cast<int>(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY),
              static_cast<int>(der.size()));
    const IssuerAndSerialNumber* id = v.props->signerIdentifier();
    ASSERT_NE(id, nullptr);
    EXPECT_TRUE(id->serialNumber.equals(expected.tbsCertificate.serialNumber));
    EXPECT_TRUE(id->issuer == expected.tbsCertificate.issuer);
  }
  // The signer's CA certificate alone in KeyInfo (the root's taken out; KeyInfo
  // is not signed here) is the signer.
  std::string lone = readFixture("signer/caonly.xml");
  const size_t second = lone.find("<ds:X509Certificate>", lone.find("</ds:X509Certificate>"));
  ASSERT_NE(second, std::string::npos);
  lone.erase(second, lone.find("</ds:X509Certificate>", second) + strlen("</ds:X509Certificate>") - second);
  Verified v(lone);
  ASSERT_EQ(v.analyse(), 0) << v.reportText();
  ASSERT_NE(v.props->signerIdentifier(), nullptr);
  EXPECT_EQ(v.props->signerIdentifier()->serialNumber.toLong(), 4661u);
  // The root alone with the one X509IssuerSerial that names the signer (whose
  // certificate the application holds): the pair names the signer, as it did
  // before any choice among CA certificates; the root, which issued nothing
  // here, is not taken for it.
  {
    std::string named = readFixture("signer/caonly.xml");
    const size_t first = named.find("<ds:X509Certificate>");
    ASSERT_NE(first, std::string::npos);
    named.replace(first,
                  named.find("</ds:X509Certificate>", first) + strlen("</ds:X509Certificate>") - first,
                  "<ds:X509IssuerSerial><ds:X509IssuerName>CN=Signer Root,O=Fixtures,C=PL"
                  "</ds:X509IssuerName><ds:X509SerialNumber>4661</ds:X509SerialNumber>"
                  "</ds:X509IssuerSerial>");
    Verified p(named);
    ASSERT_EQ(p.analyse(), 0) << p.reportText();
    const IssuerAndSerialNumber* id = p.props->signerIdentifier();
    ASSERT_NE(id, nullptr);
    ASNinteger serial;
    serial.set(4661);
    EXPECT_TRUE(id->serialNumber.equals(serial));
  }
  // SigningCertificateV2 beside SigningCertificate is a second signing-certificate
  // property; in the 1.1.1 namespace, or with anything after its CertDigest but
  // IssuerSerialV2, it is refused.
  const std::string v2 = readFixture("signer/v2.xml");
  const std::string open = "<xades:SigningCertificateV2>";
  const struct {
    const char* name;
    std::string from, to;
  } broken[] = {
      {"both forms", open, "<xades:SigningCertificate><xades:Cert/></xades:SigningCertificate>" + open},
      {"element after IssuerSerialV2", "</xades:IssuerSerialV2>", "</xades:IssuerSerialV2><xades:X/>"},
      {"IssuerSerialV2 not DER", "<xades:IssuerSerialV2>", "<xades:IssuerSerialV2>AAAA"},
      {"1.1.1 namespace", "http://uri.etsi.org/01903/v1.3.2#", "http://uri.etsi.org/01903/v1.1.1#"},
  };
  for (const auto& b : broken) {
    SCOPED_TRACE(b.name);
    std::string xml = v2;
    const size_t at = xml.find(b.from);
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, b.from.size(), b.to);
    Verified v(xml);
    EXPECT_EQ(v.analyse(), 89);
  }
}

TEST(Xades, SignedPropertiesAndTheirTexts) {
  Verified v(fileOf("bes.xml"));
  ASSERT_EQ(v.analyse(), 0);
  SignedAttributes& a = *v.props->signedAttributes();
  ASSERT_EQ(a.count(), 6);
  const struct {
    int32_t type;
    std::string text;
  } expected[] = {
      {8, "2024.05.01 10:00:00"},
      {9, "Skrót certyfikatu: " + hex(sha256(fileOf("signer.der"))) + " (HEX)"},
      {14, "Potwierdzenie pochodzenia (Proof of origin)"},
      {15, "nieokreślona wprost (implied)"},
      {17, ""},
      {18, ""},
  };
  for (int32_t i = 0; i < 6; ++i) {
    int32_t type = 0;
    std::string text = attributeText(a, i, &type);
    EXPECT_EQ(type, expected[i].type);
    if (!expected[i].text.empty()) { EXPECT_EQ(text, expected[i].text); }
    if (type == 17) { EXPECT_NE(text.find("<xades:ClaimedRole>Tester</xades:ClaimedRole>"), std::string::npos); }
    if (type == 18) { EXPECT_NE(text.find("<xades:MimeType>text/plain</xades:MimeType>"), std::string::npos); }
  }
  int32_t type = 0;
  char* text = nullptr;
  int32_t length = 0;
  EXPECT_EQ(a.attribute(6, &type, &text, &length), 20);
  EXPECT_TRUE(a.hasSigningTime());
  // signatureValue: no length 33, one octet short 34 with the buffer untouched.
  EXPECT_EQ(v.props->signatureValue(nullptr, nullptr), 33);
  int32_t full = 0;
  ASSERT_EQ(v.props->signatureValue(nullptr, &full), 0);
  std::vector<unsigned char> buffer(static_cast<size_t>(full), 0xAB);
  int32_t shortLength = full - 1;
  EXPECT_EQ(v.props->signatureValue(buffer.data(), &shortLength), 34);
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_EQ(v.props->counterSignatureCount(), 0);
  EXPECT_EQ(v.props->counterSignature(0), nullptr);
}

// A changed octet in the signed data or the signed properties: the digest of
// that reference fails, never the other one.
TEST(Xades, EachReferenceAgainstItsOwnDigest) {
  const struct {
    const char* from;
    const char* to;
  } cases[] = {
      {">receipt<", ">receipT<"},
      {"2024-05-01T10:00:00Z", "2024-05-02T10:00:00Z"},
  };
  for (const auto& c : cases) {
    std::string xml = fileOf("bes.xml");
    xml.replace(xml.find(c.from), strlen(c.from), c.to);
    Verified v(xml);
    ASSERT_EQ(v.analyse(), 0);
    EXPECT_FALSE(v.props->checkMessageDigest()) << c.to;
  }
  // Digests never computed never pass.
  Verified v(fileOf("bes.xml"));
  v.setup.mode = 0;
  ASSERT_EQ(v.analyse(), 0);
  EXPECT_FALSE(v.props->checkMessageDigest());
  EXPECT_NE(v.reportText().find("Brak obliczonego skrótu z wiadomości."), std::string::npos);
}

// Each message of the reader, from the XAdES-T document broken in one place.
TEST(Xades, BrokenProperties) {
  const std::string qp = "<xades:QualifyingProperties xmlns:xades=\"http://uri.etsi.org/01903/v1.3.2#\" Target=\"#sig\">";
  const std::string ssp = "<xades:SignedSignatureProperties>";
  const std::string st = "<xades:SigningTime>2024-05-01T10:00:00Z</xades:SigningTime>";
  const std::string ets = "<xades:EncapsulatedTimeStamp>";
  const std::string usp = "<xades:UnsignedSignatureProperties>";
  const struct {
    std::string from, to;
    int32_t code;
    const char* message;  // null: no line
  } cases[] = {
      {" Target=\"#sig\"", "", 89, "(element etsi:QualifyingProperties atrybut Target)."},
      {"Target=\"#sig\"", "Target=\"#\"", 89,
       "(brak atrybutu Id elementu ds:Signature lub Target elementu etsi:QualifyingProperties)."},
      {"Target=\"#sig\"", "Target=\"#other\"", 89,
       "(atrybut Target elementu etsi:QualifyingProperties nie wskazuje na weryfikowany podpis)."},
      {"<xades:UnsignedProperties>", "<xades:Other/><xades:UnsignedProperties>", 89,
       "(element spoza schematu XAdES)."},
      {"<xades:SignedProperties Id=\"sp\">", "<xades:SignedProperties>", 89,
       "(element etsi:SignedProperties brak atrybutu Id)."},
      {ssp, "<xades:X/>" + ssp, 89, "(element etsi:SignedSignatureProperties)."},
      {"<xades:SignedDataObjectProperties>", "<xades:X/><xades:SignedDataObjectProperties>", 89,
       "(element etsi:SignedDataObjectProperties)."},
      {st, st + st, 89, "błąd przetwarzania elementu: etsi:SigningTime."},
      {"2024-05-01T10:00:00Z", "yesterday", 89, "błąd przetwarzania elementu: etsi:SigningTime."},
      {st, st + "<xades:Unknown/>", 89, "(element spoza schematu XAdES)."},
      {"<xades:SigningCertificate>", "<xades:SigningCertificate><xades:Cert><xades:CertDigest/></xades:Cert>",
       89, "błąd przetwarzania elementu: etsi:SigningCertificate."},
      {"<ds:X509SerialNumber>", "<ds:X509SerialNumber>x", 89,
       "błąd przetwarzania elementu: etsi:SigningCertificate."},
      {ets, ets + "AAAA", 89, "błąd przetwarzania elementu: etsi:SignatureTimeStamp."},
      {ets, "<ds:CanonicalizationMethod Algorithm=\"urn:other\"/>" + ets, 137,
       "błąd przetwarzania elementu: etsi:SignatureTimeStamp."},
      {ets, "<xades:EncapsulatedTimeStamp Encoding=\"urn:pem\">", 89,
       "błąd przetwarzania elementu: etsi:SignatureTimeStamp."},
      {ets, "<xades:Include URI=\"#\"/>" + ets, 89, "błąd przetwarzania elementu: etsi:SignatureTimeStamp."},
      {usp, usp + "<xades:CertificateValues/>", 89, "błąd przetwarzania elementu: etsi:CertificateValues."},
      {usp, usp + "<xades:RevocationValues><xades:Other/></xades:RevocationValues>", 89,
       "błąd przetwarzania elementu: etsi:RevocationValues."},
      {usp, usp + "<xades:CompleteCertificateRefs><xades:CertRefs/></xades:CompleteCertificateRefs>", 89,
       "błąd przetwarzania elementu: etsi:CompleteCertificateRefs."},
      {usp, usp + "<xades:CompleteRevocationRefs><xades:CRLRefs/></xades:CompleteRevocationRefs>", 89,
       "błąd przetwarzania elementu: etsi:CompleteRevocationRefs."},
      {usp, usp + "<xades:CounterSignature/>", 89, "błąd przetwarzania elementu: etsi:CounterSignature."},
      {usp, usp + "<xades:ArchiveTimeStamp/>", 89, "błąd przetwarzania elementu: etsi:ArchiveTimeStamp."},
      {usp, usp + "<v4:TimeStampValidationData xmlns:v4=\"http://uri.etsi.org/01903/v1.4.1#\">"
                  "<xades:CertificateValues><xades:EncapsulatedX509Certificate>AAAA"
                  "</xades:EncapsulatedX509Certificate></xades:CertificateValues></v4:TimeStampValidationData>",
       89, "błąd przetwarzania elementu: etsi:TimeStampValidationData."},
      // Accepted: unknown unsigned properties, an UnsignedProperties without
      // UnsignedSignatureProperties, a Target without "#", a BER encoding.
      {usp, usp + "<xades:SigAndRefsTimeStamp/>", 0, nullptr},
      {usp, "<xades:Other>", 0, nullptr},
      {"Target=\"#sig\"", "Target=\"sig\"", 0, nullptr},
      {ets, "<xades:EncapsulatedTimeStamp Encoding=\"http://uri.etsi.org/01903/v1.2.2#BER\">", 0, nullptr},
  };
  const std::string base = fileOf("t.xml");
  ASSERT_NE(base.find(qp), std::string::npos);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    std::string xml = base;
    size_t at = xml.find(c.from);
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, c.from.size(), c.to);
    if (c.from == usp && c.to == "<xades:Other>") {
      size_t end = xml.find("</xades:UnsignedSignatureProperties>");
      xml.replace(end, strlen("</xades:UnsignedSignatureProperties>"), "</xades:Other>");
    }
    Verified v(xml);
    ASSERT_EQ(v.doc.rc, 0);
    EXPECT_EQ(v.analyse(), c.code) << v.reportText();
    if (c.message) {
      EXPECT_NE(v.reportText().find(std::string("Błąd podczas weryfikacji podpisu: ")), std::string::npos);
      EXPECT_NE(v.reportText().find(c.message), std::string::npos) << v.reportText();
    } else {
      EXPECT_EQ(v.reportText(), "");
    }
  }
}

// Every algorithm URI made unknown or malformed and every value made malformed,
// one at a time, in documents of outside signers: each gives a status and a
// report line, never an exception out of the call.
TEST(Xades, UnknownAlgorithmsAndMalformedValues) {
  const char* const files[] = {
      "sig/base64-rsa384.xml", "sig/comments-rsa256.xml", "sig/dsa-sha1.xml",
      "sig/ecdsa-p256.xml",    "sig/enveloped-rsa256.xml", "sig/enveloping-rsa1.xml",
      "sig/envxpath-rsa256.xml", "sig/excl-rsa512.xml",  "sig/xpath-rsa256.xml",
      "sig/xades-bes.xml",     "xades/bes.xml",          "xades/t.xml",
      "xades/xl.xml",          "xades/npm-bes.xml",      "xades/npm-t.xml",
      "xades/v111.xml"};
  const char* const algorithms[] = {"urn:unknown", "", "http://www.w3.org/2000/09/xmldsig#"};
  const struct {
    const char* element;  // local name
    std::vector<const char*> values;
  } values[] = {
      {"DigestValue", {"", "!!!!", "QQ==QQ==", "A"}},
      {"SignatureValue", {"", "!!!!", "QQ==QQ==", "A"}},
      {"X509Certificate", {"", "!!!!", "AAAA"}},
      {"EncapsulatedTimeStamp", {"", "!!!!", "AAAA"}},
      {"EncapsulatedX509Certificate", {"", "!!!!", "AAAA"}},
      {"EncapsulatedCRLValue", {"", "!!!!", "AAAA"}},
      {"EncapsulatedOCSPValue", {"", "!!!!", "AAAA"}},
      {"ByKey", {"", "!!!!"}},
      {"SigningTime", {"", "2024-13-45T99:00:00Z", "x"}},
      {"IssueTime", {"", "x"}},
      {"ProducedAt", {"", "x"}},
      {"X509SerialNumber", {"", "-", "12a"}},
      {"Number", {"", "12a"}},
      {"X509IssuerName", {"", "=", "CN"}},
      {"Issuer", {"", "=", "CN"}},
      {"ByName", {"", "=", "CN"}},
      {"XPath", {"", "((", "here(1)", "count(//*) div 0 = 1 or"}},
  };
  struct Mutation {
    size_t at, length;
    std::string text;
    bool harmless = false;  // may still read as a valid signature
  };
  int checked = 0;
  for (const char* file : files) {
    const std::string base = readFixture(file);
    std::vector<Mutation> mutations;
    for (size_t at = base.find("Algorithm=\""); at != std::string::npos;
         at = base.find("Algorithm=\"", at + 1)) {
      size_t b = at + strlen("Algorithm=\""), e = base.find('"', b);
      for (const char* a : algorithms) mutations.push_back({b, e - b, a});
      mutations.push_back({b, e - b, base.substr(b, e - b - 1)});  // cut short
    }
    for (size_t at = base.find("PrefixList=\""); at != std::string::npos;
         at = base.find("PrefixList=\"", at + 1)) {
      size_t b = at + strlen("PrefixList=\""), e = base.find('"', b);
      // Tokens naming no prefix in scope leave the namespaces as they were.
      for (const char* list : {"%%", "a:b", "xmlns"}) mutations.push_back({b, e - b, list, true});
    }
    for (const auto& v : values) {
      // Start tags "<name>" or "<prefix:name>" without attributes.
      for (size_t at = base.find('<'); at != std::string::npos; at = base.find('<', at + 1)) {
        size_t close = base.find('>', at);
        if (base[at + 1] == '/') continue;
        std::string name = base.substr(at + 1, close - at - 1);
        if (name.find(':') != std::string::npos) name.erase(0, name.find(':') + 1);
        if (name != v.element) continue;
        size_t e = base.find('<', close);
        for (const char* text : v.values) mutations.push_back({close + 1, e - close - 1, text});
      }
    }
    // A base64 transform over an element left empty.
    size_t data = base.find(">SGVsbG8");
    if (data != std::string::npos) mutations.push_back({data + 1, base.find('<', data) - data - 1, ""});
    for (const Mutation& m : mutations) {
      std::string xml = base;
      xml.replace(m.at, m.length, m.text);
      SCOPED_TRACE(std::string(file) + ": \"" + base.substr(m.at, m.length).substr(0, 60) +
                   "\" -> \"" + m.text + "\"");
      Verified v(xml);
      if (v.doc.rc != 0) continue;
      int32_t code = -1;
      try {
        code = v.analyse();
      } catch (const std::exception& e) {
        ADD_FAILURE() << "exception " << e.what();
        continue;
      }
      ++checked;
      if (m.harmless && code == 0) continue;
      EXPECT_TRUE(code == 89 || code == 137 || code == 139 || code == 140) << code;
      EXPECT_EQ(v.reportText().rfind("Błąd podczas weryfikacji podpisu: ", 0), 0u) << v.reportText();
    }
  }
  EXPECT_GT(checked, 500);
}

// MD5 digests of certificates, CRLs and OCSP responses are refused as in a
// ds:Reference (137): they choose the signer's certificate and the values a
// reference stands for. SHA-1 in the same places is still read.
TEST(Xades, Md5CertificateAndValueDigestsRefused) {
  const struct {
    const char* file;
    const char* after;  // the first digest after this text is changed
    const char* algorithm;
    const char* value;
    int32_t code;
    const char* element;
  } cases[] = {
      // The signer's own MD5 and SHA-1 digests (openssl dgst over signer.der).
      {"bes.xml", "<xades:SigningCertificate>", "md5", "AEfXu/t6X171jjGp5XZa5Q==", 137,
       "etsi:SigningCertificate"},
      {"v111.xml", "<xades:SigningCertificate>", "md5", "AEfXu/t6X171jjGp5XZa5Q==", 137,
       "etsi:SigningCertificate"},
      {"xl.xml", "<xades:CompleteCertificateRefs>", "md5", "AAAAAAAAAAAAAAAAAAAAAA==", 137,
       "etsi:CompleteCertificateRefs"},
      {"xl.xml", "<xades:CRLRef>", "md5", "AAAAAAAAAAAAAAAAAAAAAA==", 137,
       "etsi:CompleteRevocationRefs"},
      {"xl.xml", "<xades:OCSPRef>", "md5", "AAAAAAAAAAAAAAAAAAAAAA==", 137,
       "etsi:CompleteRevocationRefs"},
      {"bes.xml", "<xades:SigningCertificate>", "sha1", "rJVxZcTu3WqlhPXIiEoxRk2p9Xg=", 0, nullptr},
      {"xl.xml", "<xades:CRLRef>", "sha1", "AAAAAAAAAAAAAAAAAAAAAAAAAAA=", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.after + " " + c.algorithm);
    std::string xml = fileOf(c.file);
    size_t at = xml.find(c.after);
    ASSERT_NE(at, std::string::npos);
    size_t b = xml.find("Algorithm=\"", at) + strlen("Algorithm=\"");
    xml.replace(b, xml.find('"', b) - b,
                std::string(strcmp(c.algorithm, "md5") == 0
                                ? "http://www.w3.org/2001/04/xmldsig-more#"
                                : "http://www.w3.org/2000/09/xmldsig#") +
                    c.algorithm);
    size_t v = xml.find("DigestValue>", b) + strlen("DigestValue>");
    xml.replace(v, xml.find('<', v) - v, c.value);
    Verified ver(xml);
    ASSERT_EQ(ver.doc.rc, 0);
    EXPECT_EQ(ver.analyse(), c.code) << ver.reportText();
    if (c.element) {
      EXPECT_NE(ver.reportText().find(std::string("błąd przetwarzania elementu: ") + c.element),
                std::string::npos)
          << ver.reportText();
    }
  }
}

// A moved copy of SignedProperties cannot carry an altered SigningTime past
// the digest of the original: the reference must name the element read.
TEST(Xades, WrappedSignedProperties) {
  std::string xml = fileOf("bes.xml");
  size_t s = xml.find("<xades:SignedProperties");
  size_t e = xml.find("</xades:SignedProperties>") + strlen("</xades:SignedProperties>");
  std::string original = xml.substr(s, e - s);
  std::string altered = original;
  altered.replace(altered.find("2024-05-01"), 10, "2030-01-01");
  altered.replace(altered.find("Id=\"sp\""), 7, "Id=\"sp2\"");
  xml.replace(s, e - s, altered);
  // The original hidden elsewhere in the document, keeping its Id.
  xml.replace(xml.find("</doc>"), 6,
              "<hidden xmlns:xades=\"http://uri.etsi.org/01903/v1.3.2#\" "
              "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">" + original + "</hidden></doc>");
  Verified v(xml);
  EXPECT_EQ(v.analyse(), 89);
}

// Properties no reference covers are nobody's word: a QualifyingProperties
// Object added to a signed document (or one whose reference lost its Type)
// leaves the signature without signed attributes, whatever SigningTime it says.
TEST(Xades, UncoveredSignedPropertiesAreNotSigned) {
  const std::string bes = fileOf("bes.xml");
  const std::string spRef = "<ds:Reference URI=\"#sp\" Type=\"http://uri.etsi.org/01903#SignedProperties\">";
  const struct {
    const char* change;
    std::string to;  // replaces the SignedProperties reference's start tag
    bool dropReference;
    int32_t form;
    bool attributes;
  } cases[] = {
      {"as signed", spRef, false, 4, true},
      {"reference removed", "", true, 3, false},
      {"Type removed", "<ds:Reference URI=\"#sp\">", false, 3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    std::string xml = bes;
    size_t at = xml.find(spRef);
    ASSERT_NE(at, std::string::npos);
    if (c.dropReference)
      xml.erase(at, xml.find("</ds:Reference>", at) + strlen("</ds:Reference>") - at);
    else
      xml.replace(at, spRef.size(), c.to);
    Verified v(xml);
    ASSERT_EQ(v.analyse(), 0) << v.reportText();
    EXPECT_EQ(v.props->form, c.form);
    SignedAttributes* a = v.props->signedAttributes();
    EXPECT_EQ(a != nullptr, c.attributes);
    if (a) { EXPECT_TRUE(a->hasSigningTime()); }
  }
}

}  // namespace

namespace {

// Names the items of an archive time-stamp by what they stand for.
std::string itemNames(const XmlDataItems& items) {
  std::string out;
  for (const XmlDataItem& i : items) {
    std::string id = propOf(i.node, "Id");
    out += (i.reference ? "ref:" : "") + (id.empty() ? std::string(reinterpret_cast<const char*>(i.node->name)) : id) + " ";
  }
  return out;
}

// Which unsigned properties, earlier archive time-stamps and Objects an
// archive time-stamp covers: by generation time for a read token (equal times
// cover neither way, fractions compared at the finer precision), all earlier
// ones of both namespaces for a new one, referenced Objects only in the 1.4.1 form.
TEST(Xades, ArchiveDataItems) {
  const std::string xml =
      "<doc xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" xmlns:x=\"http://uri.etsi.org/01903/v1.3.2#\" "
      "xmlns:v4=\"http://uri.etsi.org/01903/v1.4.1#\"><d Id=\"data\"/><ds:Signature Id=\"sig\">"
      "<ds:SignedInfo><ds:Reference URI=\"#data\"/><ds:Reference URI=\"#obj1\"/></ds:SignedInfo>"
      "<ds:SignatureValue Id=\"sv\"/><ds:KeyInfo Id=\"ki\"/>"
      "<ds:Object Id=\"obj1\"/><ds:Object Id=\"obj2\"/>"
      "<ds:Object><x:QualifyingProperties><x:UnsignedProperties><x:UnsignedSignatureProperties>"
      "<x:SignatureTimeStamp Id=\"sts\"/><x:Unknown Id=\"unk\"/><x:CompleteCertificateRefs Id=\"ccr\"/>"
      "<x:ArchiveTimeStamp Id=\"A\"/><v4:ArchiveTimeStamp Id=\"B\"/><x:ArchiveTimeStamp Id=\"C\"/>"
      "<x:RevocationValues Id=\"rv\"/>"
      "</x:UnsignedSignatureProperties></x:UnsignedProperties></x:QualifyingProperties></ds:Object>"
      "<ds:Object/></ds:Signature></doc>";
  ParsedDoc doc(xml);
  ASSERT_EQ(doc.rc, 0);
  xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  ArchiveTimeStampTokens tokens;
  auto add = [&](const char* id, int day, int32_t fraction, int digits, bool v141) {
    auto* t = new XmlArchiveTimeStampToken();
    xmlNodePtr found = nullptr;
    findNodeById(doc.holder.root, id, &found);
    t->element = found;
    t->v141 = v141;
    t->tstInfo.genTime.set(2024, 1, day, 0, 0, 0, fraction, digits);
    tokens.items.push_back(t);
    return t;
  };
  XmlArchiveTimeStampToken* a = add("A", 1, 5, 1, false);   // .5
  XmlArchiveTimeStampToken* b = add("B", 1, 50, 2, true);   // .50: the same instant
  XmlArchiveTimeStampToken* c = add("C", 2, -1, 0, false);
  const std::string head = "ref:#data ref:#obj1 SignedInfo sv ki sts ccr rv ";
  const struct {
    const XmlArchiveTimeStampToken* token;
    std::string expected;
  } cases[] = {
      {a, head + "obj2 Object "},
      {b, head + "obj1 obj2 Object "},
      {c, head + "A B obj2 Object "},
      {nullptr, head + "A B C obj2 Object "},
  };
  for (const auto& k : cases) {
    XmlDataItems items;
    buildArchiveItems(sig, &tokens, k.token, items);
    std::string names = itemNames(items);
    // References carry their element; name them by URI.
    std::string expected = k.expected;
    expected.replace(expected.find("ref:#data"), 9, "ref:Reference");
    expected.replace(expected.find("ref:#obj1"), 9, "ref:Reference");
    EXPECT_EQ(names, expected);
  }
  EXPECT_TRUE(genTimeEarlier(a->tstInfo.genTime, c->tstInfo.genTime));
  EXPECT_FALSE(genTimeEarlier(a->tstInfo.genTime, b->tstInfo.genTime));
  EXPECT_FALSE(genTimeEarlier(b->tstInfo.genTime, a->tstInfo.genTime));
}

// Counter-signatures within counter-signatures stop at the nesting bound.
TEST(Xades, CounterSignatureNesting) {
  const std::string open =
      "<ds:Signature Id=\"s%d\"><ds:SignedInfo/><ds:SignatureValue>AAAA</ds:SignatureValue><ds:Object><x:QualifyingProperties Target=\"#s%d\">"
      "<x:UnsignedProperties><x:UnsignedSignatureProperties><x:CounterSignature>";
  const std::string close =
      "</x:CounterSignature></x:UnsignedSignatureProperties></x:UnsignedProperties>"
      "</x:QualifyingProperties></ds:Object></ds:Signature>";
  std::string xml = "<doc xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" "
                    "xmlns:x=\"http://uri.etsi.org/01903/v1.3.2#\">";
  const int levels = XADES_MAX_NESTING + 2;
  for (int i = 0; i < levels; ++i) {
    char buf[512];
    snprintf(buf, sizeof buf, open.c_str(), i, i);
    xml += buf;
  }
  xml += "<ds:Signature/>";
  for (int i = 0; i < levels; ++i) xml += close;
  xml += "</doc>";
  ParsedDoc doc(xml);
  ASSERT_EQ(doc.rc, 0);
  XmlSignatureSetup setup;
  setup.root = doc.holder.root;
  MemFile sink;
  ReportStream report(&sink);
  setup.report = &report;
  xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  SignaturePropertiesXml top(nullptr, setup, sig);
  // The walk reads QualifyingProperties before SignedInfo: each level reads
  // its counter-signature, then fails on its empty SignedInfo (89).
  SignaturePropertiesXml* level = &top;
  int depth = 0;
  while (level) {
    EXPECT_EQ(level->analyse(), 89);
    SigInfo* next = level->counterSignature(0);
    level = next ? static_cast<SignaturePropertiesXml*>(next->properties) : nullptr;
    ++depth;
  }
  EXPECT_EQ(depth, XADES_MAX_NESTING);
  EXPECT_NE(std::string(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()))
                .find("błąd przetwarzania elementu: etsi:CounterSignature."),
            std::string::npos);
}


// Counter-signatures each digesting the whole document share the work
// allowance of the one verification: past it they are refused (140), and the
// whole walk ends within the allowance's units, however many there are.
TEST(Xades, CounterSignaturesShareOneBudget) {
  const std::string ds = "http://www.w3.org/2000/09/xmldsig#";
  const std::string counter =
      "<x:CounterSignature><ds:Signature><ds:SignedInfo>"
      "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
      "<ds:SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>"
      "<ds:Reference URI=\"\"><ds:DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/>"
      "<ds:DigestValue>AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=</ds:DigestValue></ds:Reference>"
      "</ds:SignedInfo><ds:SignatureValue>AAAA</ds:SignatureValue></ds:Signature></x:CounterSignature>";
  const size_t counters = XADES_MAX_ENTRIES;
  std::string xml = "<doc xmlns:ds=\"" + ds + "\" xmlns:x=\"http://uri.etsi.org/01903/v1.3.2#\">";
  for (int i = 0; i < 2000; ++i) xml += "<p a=\"1\" b=\"2\">text</p>";
  xml += "<ds:Signature Id=\"s\"><ds:SignedInfo/><ds:SignatureValue>AAAA</ds:SignatureValue><ds:Object>"
         "<x:QualifyingProperties Target=\"#s\"><x:UnsignedProperties><x:UnsignedSignatureProperties>";
  for (size_t i = 0; i < counters; ++i) xml += counter;
  xml += "</x:UnsignedSignatureProperties></x:UnsignedProperties></x:QualifyingProperties>"
         "</ds:Object></ds:Signature></doc>";
  ParsedDoc doc(xml);
  ASSERT_EQ(doc.rc, 0);
  xmlNodePtr sig = findElement(doc.holder.root, "Signature", ds.c_str(), -1);
  // Without a budget from the caller, the top signature's is every counter-signature's.
  {
    XmlSignatureSetup setup;
    setup.root = doc.holder.root;
    SignaturePropertiesXml top(nullptr, setup, sig);
    EXPECT_EQ(top.analyse(), 89);
    ASSERT_NE(top.sigParser().sharedBudget, nullptr);
    for (int32_t i : {0, static_cast<int32_t>(counters) - 1})
      EXPECT_EQ(static_cast<SignaturePropertiesXml*>(top.counterSignature(i)->properties)
                    ->sigParser().sharedBudget,
                top.sigParser().sharedBudget);
  }
  // A caller's budget (a tenth of the default, to keep the test short) spent
  // by all of them together: its units, counted; its deadline, a day away,
  // cannot fire, so the refusals are the units' however busy the machine.
  XmlWorkBudget budget(XML_TRANSFORM_WORK_LIMIT / 10, std::chrono::hours(24));
  XmlSignatureSetup setup;
  setup.root = doc.holder.root;
  setup.budget = &budget;
  SignaturePropertiesXml top(nullptr, setup, sig);
  EXPECT_EQ(top.analyse(), 89);  // the empty SignedInfo, after the properties
  ASSERT_EQ(top.counterSignatureCount(), static_cast<int32_t>(counters));
  std::map<int32_t, size_t> codes;
  for (size_t i = 0; i < counters; ++i) {
    auto* p = static_cast<SignaturePropertiesXml*>(top.counterSignature(static_cast<int32_t>(i))->properties);
    ++codes[p->analyse()];  // 89: digested, no signer; 140: past the allowance
  }
  EXPECT_GT(codes[89], 0u);
  EXPECT_GT(codes[140], counters / 2);
  EXPECT_EQ(codes[89] + codes[140], counters);
  EXPECT_EQ(budget.remaining(), 0u);
}
}  // namespace

namespace {

// A token stored back goes whole, base64, into its own EncapsulatedTimeStamp.
TEST(Xades, StoreTimeStampToken) {
  Verified v(fileOf("t.xml"));
  ASSERT_EQ(v.analyse(), 0);
  TimeStampToken* token = v.props->signatureTimeStamps()->items.front();
  xmlNodePtr ets = findElement(v.doc.holder.root, "EncapsulatedTimeStamp", xmlc::NS_XADES.data(), -1);
  ASSERT_NE(ets, nullptr);
  xmlNodeSetContent(ets, BAD_CAST "");
  EXPECT_EQ(v.props->storeTimeStampToken(*token, TIMESTAMP_KIND_SIGNATURE), 0);
  xmlChar* text = xmlNodeGetContent(ets);
  std::string decoded;
  ASSERT_TRUE(xmlDecodeBase64(reinterpret_cast<const char*>(text), decoded, 1 << 20));
  xmlFree(text);
  EXPECT_EQ(decoded, fileOf("token.der"));
}

}  // namespace
