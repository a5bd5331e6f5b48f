// The XAdES signed properties through SignedAttributes: the report texts of
// each record, the first record of a kind kept, records listed in type
// order with caller-owned texts, 20 past the end, and the accessors' answers
// without the records they need.
#include "xmlsig/signedattrsxml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

std::unique_ptr<SignedAttributeXml> commitment(const std::string& uri) {
  auto r = std::make_unique<SignedAttributeXmlCommitmentType>();
  r->uri = uri;
  return r;
}

TEST(SignedAttributesXml, CommitmentTexts) {
  const std::string etsi = "http://uri.etsi.org/01903/v1.2.2#";
  struct Row {
    std::string uri;
    const char* text;
  } rows[] = {
      {etsi + "ProofOfOrigin", "Potwierdzenie pochodzenia (Proof of origin)"},
      {etsi + "ProofOfReceipt", "Potwierdzenie otrzymania (Proof of receipt)"},
      {etsi + "ProofOfDelivery", "Potwierdzenie dostarczenia (Proof of delivery)"},
      {etsi + "ProofOfSender", "Potwierdzenie wysłania/nadania (Proof of sender)"},
      {etsi + "ProofOfApproval", "Formalne zatwierdzenie (Proof of aproval)"},
      {etsi + "ProofOfCreation", "Potwierdzenie utworzenia (Proof of creation)"},
      // Unknown, or a known one in another version: the URI itself.
      {"http://uri.etsi.org/01903/v1.3.2#ProofOfOrigin", nullptr},
      {etsi + "proofOfOrigin", nullptr},
      {"urn:example:own", nullptr},
      {"", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.uri);
    EXPECT_EQ(commitment(r.uri)->describe(), r.text ? std::string(r.text) : r.uri);
  }
}

TEST(SignedAttributesXml, TimeAndCertificateTexts) {
  struct Row {
    int y, mo, d, h, mi, s;
    const char* text;
  } rows[] = {
      {2024, 1, 2, 3, 4, 5, "2024.01.02 03:04:05"},
      {1999, 12, 31, 23, 59, 59, "1999.12.31 23:59:59"},
      {2050, 10, 10, 0, 0, 0, "2050.10.10 00:00:00"},
  };
  for (const Row& r : rows) {
    SignedAttributeXmlSigningTime t;
    t.time.set(r.y, r.mo, r.d, r.h, r.mi, r.s);
    EXPECT_EQ(t.describe(), r.text);
  }
  SignedAttributeXmlSigningCertificate c;
  c.digest = std::string("\x00\x0f\xa0\xff", 4);
  EXPECT_EQ(c.describe(), "Skrót certyfikatu: 000FA0FF (HEX)");
  c.digest.clear();
  EXPECT_EQ(c.describe(), "Skrót certyfikatu:  (HEX)");
}

TEST(SignedAttributesXml, RecordsInTypeOrderFirstKept) {
  SignedAttributesXml attrs;
  auto role = std::make_unique<SignedAttributeXmlSignerRole>();
  role->text = "<SignerRole>a</SignerRole>";
  EXPECT_TRUE(attrs.add(std::move(role)));
  auto time = std::make_unique<SignedAttributeXmlSigningTime>();
  time->time.set(2024, 5, 6, 7, 8, 9);
  EXPECT_TRUE(attrs.add(std::move(time)));
  auto second = std::make_unique<SignedAttributeXmlSignerRole>();
  second->text = "<SignerRole>b</SignerRole>";
  EXPECT_FALSE(attrs.add(std::move(second)));
  auto cert = std::make_unique<SignedAttributeXmlSigningCertificate>();
  cert->digest = "\x01\x02";
  cert->hashId = 3;
  EXPECT_TRUE(attrs.add(std::move(cert)));
  EXPECT_TRUE(attrs.add(commitment("urn:x")));
  EXPECT_FALSE(attrs.add(nullptr));

  struct Row {
    int32_t type;
    const char* text;
  } rows[] = {
      {8, "2024.05.06 07:08:09"},
      {9, "Skrót certyfikatu: 0102 (HEX)"},
      {14, "urn:x"},
      {17, "<SignerRole>a</SignerRole>"},
  };
  ASSERT_EQ(attrs.count(), 4);
  for (int32_t i = 0; i < attrs.count(); ++i) {
    int32_t type = 0, length = 0;
    char* text = nullptr;
    ASSERT_EQ(attrs.attribute(i, &type, &text, &length), 0);
    std::unique_ptr<char[]> owned(text);
    EXPECT_EQ(type, rows[i].type);
    EXPECT_STREQ(text, rows[i].text);
    EXPECT_EQ(length, int32_t(std::strlen(rows[i].text) + 1));
  }
  int32_t type = -7;
  char* text = nullptr;
  EXPECT_EQ(attrs.attribute(4, &type, &text, nullptr), 20);
  EXPECT_EQ(attrs.attribute(-1, &type, &text, nullptr), 20);
  EXPECT_EQ(type, -7);
  EXPECT_EQ(text, nullptr);

  EXPECT_TRUE(attrs.hasSigningTime());
  EXPECT_EQ(attrs.signingTime()->second, 9);
  EXPECT_EQ(attrs.signingCertificateDigestAlgorithm(), 3);
  EXPECT_EQ(*attrs.signingCertificateDigest(), "\x01\x02");
}

TEST(SignedAttributesXml, AccessorsWithoutTheirRecords) {
  SignedAttributesXml attrs;
  EXPECT_EQ(attrs.count(), 0);
  EXPECT_FALSE(attrs.hasSigningTime());
  EXPECT_EQ(attrs.signingCertificateDigestAlgorithm(), 0);
  EXPECT_THROW(attrs.signingTime(), std::runtime_error);
  EXPECT_THROW(attrs.signingCertificateDigest(), std::runtime_error);
  // A text record under a code of its own kind only: a type-9 text is not a
  // signing certificate.
  EXPECT_TRUE(attrs.add(std::make_unique<SignedAttributeXmlText>(XADES_ATTR_SIGNING_CERTIFICATE)));
  EXPECT_EQ(attrs.signingCertificateDigestAlgorithm(), 0);
  EXPECT_THROW(attrs.signingCertificateDigest(), std::runtime_error);
}

}  // namespace
