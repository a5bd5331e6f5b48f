// A certificate with its description word: the DER written for words of every length (the
// certificate is openssl's, tests/data/keys/make_roots.sh), read back privately and in place,
// and what is refused.
#include "keys/certdesc.h"
#include "derbytes.h"
#include "rootfiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fileBytes(const char* name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using derbytes::cat;
using derbytes::tlv;

TEST(SignedCertificateWithDesc, WrittenAndReadBack) {
  const Bytes cert = fileBytes("root-a.der");
  const SignedCertificate root = loadCertificate("root-a.der");
  // X.690 INTEGER contents: the shortest two's complement, a 00 before a high bit.
  const struct {
    uint32_t word;
    Bytes integer;
  } rows[] = {
      {0, {0x00}},
      {1, {0x01}},
      {4, {0x04}},
      {0x7F, {0x7F}},
      {0x80, {0x00, 0x80}},
      {0x1234, {0x12, 0x34}},
      {0xFFFFFFFF, {0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.word);
    SignedCertificateWithDesc value;
    value.certificate = root;
    value.setWord(row.word);
    const Bytes expected = tlv(0x30, cat({cert, tlv(0x02, row.integer)}));
    Bytes der;
    ASSERT_EQ(static_cast<int>(expected.size()), value.encodeVector(der));
    EXPECT_EQ(expected, der);
    for (uint32_t flags : {0u, ASN_FLAG_CONST, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
      SCOPED_TRACE(static_cast<int>(flags));
      Bytes input = der;
      SignedCertificateWithDesc back;
      ASSERT_EQ(static_cast<int>(input.size()), back.decodeVector(input, static_cast<unsigned char>(flags)));
      EXPECT_EQ(row.word, back.word());
      SignedCertificateWithDesc copy(back);
      EXPECT_TRUE(copy.certificate.sharesBodyWith(back.certificate));
      EXPECT_EQ(row.word, copy.word());
      Bytes again;
      ASSERT_GT(copy.encodeVector(again), 0);
      EXPECT_EQ(expected, again);
      // The certificate keeps its own octets even in a view: it outlives the input.
      input.assign(input.size(), 0);
      EXPECT_TRUE(back.certificate == root);
      EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, back.certificate->verifySelfSigned());
      // Its views let go, the value keeps its word too, and writes itself whole.
      back.releaseViews();
      EXPECT_EQ(row.word, back.word());
      ASSERT_GT(back.encodeVector(again), 0);
      EXPECT_EQ(expected, again);
    }
  }
}

// A list of three, each certificate with its own word, read back in order; a list of bare
// certificates (the earlier stored form) never reads as such a list, nor the other way round.
TEST(SignedCertificateWithDesc, ListsOfThreeAndTheBareForm) {
  const char* names[] = {"root-b.der", "root-c.der", "root-a.der"};
  const uint32_t words[] = {2, 4, 1};
  ASNsequenceList<SignedCertificateWithDesc> list;
  ASNsequenceList<SignedCertificate> bare;
  Bytes mixed;
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<SignedCertificateWithDesc> entry(new SignedCertificateWithDesc);
    entry->certificate = loadCertificate(names[i]);
    entry->setWord(words[i]);
    ASSERT_EQ(1, list.append(entry.get()));
    entry.release();
    std::unique_ptr<SignedCertificate> c(new SignedCertificate(loadCertificate(names[i])));
    ASSERT_EQ(1, bare.append(c.get()));
    c.release();
    const Bytes cert = fileBytes(names[i]);
    mixed = cat({mixed, i == 1 ? cert : tlv(0x30, cat({cert, tlv(0x02, {0x01})}))});
  }
  Bytes der, bareDer;
  ASSERT_GT(list.encodeVector(der), 0);
  ASSERT_GT(bare.encodeVector(bareDer), 0);
  for (uint32_t flags : {0u, ASN_FLAG_CONST, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
    SCOPED_TRACE(static_cast<int>(flags));
    ASNsequenceList<SignedCertificateWithDesc> back;
    ASSERT_EQ(static_cast<int>(der.size()), back.decodeVector(der, static_cast<unsigned char>(flags)));
    ASSERT_EQ(3, back.GetCount());
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(back.elementAt(i)->certificate == loadCertificate(names[i])) << names[i];
      EXPECT_EQ(words[i], back.elementAt(i)->word()) << names[i];
    }
    ASNsequenceList<SignedCertificateWithDesc> notNew;
    EXPECT_EQ(0, notNew.decodeVector(bareDer, static_cast<unsigned char>(flags)));
    EXPECT_EQ(0, notNew.decodeVector(tlv(0x30, mixed), static_cast<unsigned char>(flags)));
    ASNsequenceList<SignedCertificate> notBare;
    EXPECT_EQ(0, notBare.decodeVector(der, static_cast<unsigned char>(flags)));
    EXPECT_EQ(0, notBare.decodeVector(tlv(0x30, mixed), static_cast<unsigned char>(flags)));
  }
}

TEST(SignedCertificateWithDesc, MalformedRefused) {
  const Bytes cert = fileBytes("root-a.der");
  const Bytes one = tlv(0x02, {0x01});
  const Bytes good = tlv(0x30, cat({cert, one}));
  const struct {
    const char* what;
    Bytes der;
  } rows[] = {
      {"empty sequence", {0x30, 0x00}},
      {"a bare certificate", cert},
      {"no description", tlv(0x30, cert)},
      {"description first", tlv(0x30, cat({one, cert}))},
      {"negative word", tlv(0x30, cat({cert, tlv(0x02, {0x80})}))},
      {"word beyond 32 bits", tlv(0x30, cat({cert, tlv(0x02, {0x01, 0x00, 0x00, 0x00, 0x00})}))},
      {"word as OCTET STRING", tlv(0x30, cat({cert, tlv(0x04, {0x01})}))},
      {"empty INTEGER", tlv(0x30, cat({cert, Bytes{0x02, 0x00}}))},
      {"a member more", tlv(0x30, cat({cert, one, Bytes{0x05, 0x00}}))},
      {"SET tag", tlv(0x31, cat({cert, one}))},
      {"certificate not one", tlv(0x30, cat({one, one}))},
      {"certificate cut inside", tlv(0x30, cat({Bytes(cert.begin(), cert.end() - 40), one}))},
      {"length past the end", cat({Bytes{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}, cert, one})},
  };
  for (const auto& row : rows) {
    for (uint32_t flags : {0u, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
      SignedCertificateWithDesc value;
      EXPECT_EQ(0, value.decodeVector(row.der, static_cast<unsigned char>(flags))) << row.what;
      // The value refused is ready for the next decode.
      EXPECT_EQ(static_cast<int>(good.size()), value.decodeVector(good, static_cast<unsigned char>(flags))) << row.what;
      EXPECT_EQ(1u, value.word()) << row.what;
    }
  }
  // Every cut of a good value is refused.
  for (size_t n = 0; n < good.size(); ++n) {
    SignedCertificateWithDesc value;
    EXPECT_GE(0, value.decodeBuffer(good.data(), static_cast<int>(n))) << n;
    EXPECT_NE(EASN_MEM, value.decodeBuffer(good.data(), static_cast<int>(n))) << n;
  }
}

}  // namespace
