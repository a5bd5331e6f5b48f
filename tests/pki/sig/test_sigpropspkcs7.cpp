// The CMS signed-attribute view and the CMS signature properties' accessors
// over messages made by openssl cms -sign (-cades: signingCertificateV2) and
// time-stamp tokens made by openssl ts -reply (ESSCertID first and second
// versions, SHA-256 and SHA-512): signing time, message digest and the
// signing-certificate hash with its hash id, each as openssl reads it
// (tests/data/pki/sig/signed_attrs.tsv, made by gen.sh there).
#include "pki/test_cms_support.h"
#include "pki/fixture_lines.h"

#include "pki/cms/tsp.h"
#include "pki/common/x509time.h"
#include "pki/sig/sigpropspkcs7.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using cmstest::Bytes;

// The operations the CMS signature layer supplies; the accessors are what is
// tested here.
class Pkcs7UnderTest : public SignaturePropertiesPkcs7 {
 public:
  using SignaturePropertiesPkcs7::SignaturePropertiesPkcs7;
  int32_t analyse() override { return 0; }
  bool checkMessageDigest() override { return false; }
  int32_t signatureValue(unsigned char*, int32_t*) override { return 0; }
  int32_t counterSignatureCount() const override { return 0; }
  SigInfo* counterSignature(int32_t) override { return nullptr; }
  void signedDigest(int32_t, std::string&) override {}
  void timeStampImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) override {}
  void archiveImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) override {}
  const IssuerAndSerialNumber* signerIdentifier() override { return nullptr; }
  int32_t storeTimeStampToken(TimeStampToken&, int32_t) override { return 0; }
  ASNsequenceList<SignedCertificate>* carriedCertificates() override { return nullptr; }
  SignatureCrtValues* timeStampCertificateValues() override { return nullptr; }
  SignatureRevValues* timeStampRevocationValues() override { return nullptr; }
  SignatureCrtRefs* certificateRefs() override { return nullptr; }
  int32_t makeArchiveForm(talCtx*) override { return 0; }
  int32_t addCompleteRefs(const ValidationData&) override { return 0; }
  int32_t addValues(const ValidationData&) override { return 0; }
};

class AttrsUnderTest : public SignedAttributesPkcs7 {
 public:
  int32_t count() const override { return 0; }
  int32_t attribute(int32_t, int32_t*, char**, int32_t*) const override { return 20; }
};

std::string hexOf(const std::string& s) {
  std::string out;
  char b[3];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X", c);
    out += b;
  }
  return out.empty() ? "-" : out;
}

std::string timeOf(const ASNgenTime& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return b;
}

// The signed message of a CMS file or of a time-stamp response's token.
bool readMessage(const std::string& file, SignedMessage& msg) {
  const Bytes der = cmstest::readData(file);
  if (file.find(".tsr") == std::string::npos)
    return cmstest::decodeBytes(msg, der) == int(der.size());
  TimeStampResponse resp;
  if (cmstest::decodeBytes(resp, der) != int(der.size()) || !resp.timeStampTokenPresent)
    return false;
  const Bytes token = cmstest::encodeOf(resp.timeStampToken);
  return cmstest::decodeBytes(msg, token) == int(token.size());
}

TEST(SignedAttributesPkcs7, ReadsWhatOpensslReads) {
  const auto rows = pkitest::readFixture("sig/signed_attrs.tsv");
  ASSERT_EQ(rows.size(), 6u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 5u);
    SCOPED_TRACE(row[0]);
    SignedMessage msg;
    ASSERT_TRUE(readMessage(row[0], msg));
    const SignerInfo& si = *msg.value().signerInfos.GetHead();

    AttrsUnderTest view;
    ASSERT_EQ(view.load(si.signedAttrs), 1);
    EXPECT_EQ(view.hasSigningTime(), row[1] != "-");
    if (view.hasSigningTime()) {
      EXPECT_EQ(timeOf(*view.signingTime()), row[1]);
    }
    EXPECT_EQ(hexOf(view.messageDigest), row[2]);
    EXPECT_EQ(view.signingCertificateDigestAlgorithm(), std::stoi(row[3]));
    EXPECT_EQ(hexOf(*view.signingCertificateDigest()), row[4]);
    EXPECT_EQ(view.attributes.GetCount(), si.signedAttrs.GetCount());

    // Loading again starts afresh.
    ASSERT_EQ(view.load(CmsSet<Attribute>()), 1);
    EXPECT_FALSE(view.hasSigningTime());
    EXPECT_EQ(view.signingCertificateDigestAlgorithm(), 0);
    EXPECT_TRUE(view.signingCertificateDigest()->empty());
    EXPECT_EQ(view.attributes.GetCount(), 0);
  }
}

TEST(SignedAttributesPkcs7, UndecodableSigningCertificateAnswersZero) {
  SignedMessage msg;
  ASSERT_TRUE(readMessage("cms/cades.der", msg));
  const SignerInfo& si = *msg.value().signerInfos.GetHead();
  SignerInfo copy(si);
  Attribute* a = findAttribute(copy.signedAttrs, id_aa_signingCertificateV2);
  ASSERT_NE(a, nullptr);
  ASSERT_TRUE(a->setValue(ASNinteger()));  // an INTEGER where the SEQUENCE belongs
  AttrsUnderTest view;
  EXPECT_EQ(view.load(copy.signedAttrs), 0);
  EXPECT_EQ(view.signingCertificateDigestAlgorithm(), 0);
}

// From 2050 on a signing time is a GeneralizedTime (RFC 5652 11.3); before it a UTCTime.
TEST(SignedAttributesPkcs7, SigningTimeInEitherForm) {
  SignedMessage msg;
  ASSERT_TRUE(readMessage("cms/cades.der", msg));
  for (int year : {2049, 2050, 2107}) {
    SignerInfo copy(*msg.value().signerInfos.GetHead());
    Attribute* a = findAttribute(copy.signedAttrs, id_signingTime);
    ASSERT_NE(a, nullptr);
    X509time t;
    ASSERT_TRUE(t.set(year, 1, 3, 4, 5, 6));
    ASSERT_EQ(t.getTag(), year < 2050 ? 23 : 24);
    ASSERT_TRUE(a->setValue(t));
    AttrsUnderTest view;
    ASSERT_EQ(view.load(copy.signedAttrs), 1) << year;
    ASSERT_TRUE(view.hasSigningTime());
    EXPECT_EQ(timeOf(*view.signingTime()), std::to_string(year) + "0103040506");
  }
}

TEST(SignaturePropertiesPkcs7, AccessorsGiveTheirMembers) {
  SignedMessage msg;
  ASSERT_TRUE(readMessage("cms/cades.der", msg));
  const SignerInfo* si = msg.value().signerInfos.GetHead();
  Pkcs7UnderTest p(nullptr, &msg.value(), si, true, false);
  EXPECT_FALSE(p.isXml());
  EXPECT_EQ(p.isTimeStamp, 1);
  EXPECT_EQ(p.skipDigestVerdict, 0);
  EXPECT_EQ(p.signedAttributes(), nullptr);
  EXPECT_EQ(p.signatureTimeStamps(), nullptr);
  EXPECT_EQ(p.archiveTimeStamps(), nullptr);
  EXPECT_EQ(p.certificateValues(), &p.values.certificates);
  EXPECT_EQ(p.revocationValues(), &p.values.revocations);
  EXPECT_EQ(p.revocationRefs(), &p.crlOrOcspRefs);

  p.signedAttrs.reset(new AttrsUnderTest);
  ASSERT_EQ(p.signedAttrs->load(si->signedAttrs), 1);
  p.timeStamps.reset(new SignatureTimeStampTokens);
  p.archiveStamps.reset(new ArchiveTimeStampTokens);
  SignatureProperties& base = p;
  EXPECT_EQ(base.signedAttributes(), p.signedAttrs.get());
  EXPECT_EQ(base.signedAttributes()->signingCertificateDigestAlgorithm(), 3);
  EXPECT_EQ(base.signatureTimeStamps(), p.timeStamps.get());
  EXPECT_EQ(base.archiveTimeStamps(), p.archiveStamps.get());

  // Owned values are released with the properties (ASan reports a leak
  // otherwise); values not owned are left alone.
  p.values.certificates.items.push_back(new SignedCertificate);
  p.values.revocations.items.push_back(new CrlOrOcspValue(new SignedCertRevList, new BasicOCSPResponse, 1));
  SignedCertRevList crl;
  p.values.revocations.items.push_back(new CrlOrOcspValue(&crl, nullptr, 0));
}

// The copy of the signed attributes writes the octets the signer's set
// writes: a set received out of DER order (contentType before messageDigest)
// keeps that order, a set built here is sorted.
TEST(SignedAttributesPkcs7, CopyKeepsTheReceivedOrder) {
  const Bytes contentType = {0x30, 0x18, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09,
                             0x03, 0x31, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01,
                             0x07, 0x01};
  const Bytes messageDigest = {0x30, 0x15, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                               0x01, 0x09, 0x04, 0x31, 0x08, 0x04, 0x06, 0x01, 0x02, 0x03,
                               0x04, 0x05, 0x06};
  Bytes received = {0x31, 0x31};
  received.insert(received.end(), contentType.begin(), contentType.end());
  received.insert(received.end(), messageDigest.begin(), messageDigest.end());
  Bytes sorted = {0x31, 0x31};
  sorted.insert(sorted.end(), messageDigest.begin(), messageDigest.end());
  sorted.insert(sorted.end(), contentType.begin(), contentType.end());

  struct Row {
    bool decoded;
    const Bytes* written;
  } rows[] = {{true, &received}, {false, &sorted}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.decoded);
    CmsSet<Attribute> set(0x31);
    ASSERT_EQ(cmstest::decodeBytes(set, received), int(received.size()));
    if (!r.decoded) {
      ASSERT_EQ(set.sortElements(), 1);
    }
    AttrsUnderTest view;
    ASSERT_EQ(view.load(set), 1);
    EXPECT_EQ(hexOf(view.messageDigest), "010203040506");
    EXPECT_EQ(cmstest::encodeOf(view.attributes), *r.written);
  }
}

}  // namespace
