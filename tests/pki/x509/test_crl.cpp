// CRLs made by "openssl ca" (tests/data/pki/certs/gen.sh) and taken from
// python3-cryptography-vectors: what openssl reads from them, TBS digests,
// signatures, copies of values read in place, member order and the armour;
// and the certification path records.
#include "pki/x509/crl.h"

#include "pki/certtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

using namespace certtest;

namespace {

SignedCertificate loadCert(const std::string& name) {
  SignedCertificate c;
  EXPECT_GT(decodeBytes(c, readFile(name)), 0) << name;
  return c;
}

}  // namespace

TEST(CrlDecode, WhatOpensslReads) {
  std::map<std::string, std::string> digests;
  for (const auto& f : pkitest::readFixture("certs/tbs_sha256.tsv"))
    if (f.size() == 2) digests[f[0]] = f[1];
  int rows = 0;
  for (const auto& f : pkitest::readFixture("certs/crl_facts.tsv")) {
    ASSERT_EQ(f.size(), 4u);
    ++rows;
    const std::string& name = f[0];
    Bytes b = readFile(name);
    for (unsigned char flags : {0, 1}) {
      SignedCertRevList crl;
      ASSERT_GT(decodeBytes(crl, b, flags), 0) << name;
      const TBSCertRevList& t = crl.tbsCertList;
      EXPECT_EQ(t.version.toLong() + 1, std::stoul(f[1])) << name;
      EXPECT_EQ(t.revokedCertificates.GetCount(), std::stoi(f[2])) << name;
      EXPECT_EQ(t.nextUpdatePresent, std::stoi(f[3])) << name;
      std::string key = name;
      if (key.substr(key.size() - 4) == ".pem" && key.find("vectors/") != 0)
        key = key.substr(0, key.size() - 4) + ".der";
      ASSERT_TRUE(digests.count(key)) << key;
      EXPECT_EQ(sha256Hex(t), digests[key]) << name << " flags " << int(flags);
    }
  }
  EXPECT_EQ(rows, 10);
}

TEST(CrlDecode, DerReencodesByteForByte) {
  for (const char* name :
       {"crl_v1_empty.der", "crl_v1.der", "crl_v2_idp.der", "crl_v2_ec_gentime.der"}) {
    Bytes b = readFile(name);
    SignedCertRevList c;
    ASSERT_EQ(decodeBytes(c, b), static_cast<int>(b.size())) << name;
    Bytes out;
    ASSERT_GT(c.encodeVector(out), 0) << name;
    EXPECT_EQ(out, b) << name;
    // the copy writes the same
    SignedCertRevList d(c);
    out.clear();
    ASSERT_GT(d.encodeVector(out), 0) << name;
    EXPECT_EQ(out, b) << name;
  }
}

TEST(CrlDecode, MembersOfKnownLists) {
  SignedCertRevList v1;
  ASSERT_GT(decodeBytes(v1, readFile("crl_v1.der")), 0);
  EXPECT_EQ(v1.tbsCertList.version.toLong(), 0u);
  EXPECT_EQ(v1.tbsCertList.crlExtensions->GetCount(), 0);
  EXPECT_EQ(v1.tbsCertList.revokedCertificatesPresent, 1);

  SignedCertRevList empty;
  ASSERT_GT(decodeBytes(empty, readFile("crl_v1_empty.der")), 0);
  EXPECT_EQ(empty.tbsCertList.revokedCertificatesPresent, 0);

  SignedCertRevList v2;
  ASSERT_GT(decodeBytes(v2, readFile("crl_v2_idp.der")), 0);
  const TBSCertRevList& t = v2.tbsCertList;
  ASSERT_EQ(t.crlExtensions->GetCount(), 3);  // IDP, AKI, CRL number
  const Extension* idp = findExtensionByOidText(t.crlExtensions.get(), "2.5.29.28");
  ASSERT_NE(idp, nullptr);
  EXPECT_TRUE(idp->critical.get());
  const CRLentry* third = nullptr;
  for (POSITION p = t.revokedCertificates.GetHeadPosition(); p;)
    third = t.revokedCertificates.GetNext(p);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->userCertificate.toLong(), 0x0Cu);
  EXPECT_EQ(third->crlEntryExtensions.GetCount(), 2);  // reason, invalidity date
  EXPECT_EQ(third->revocationDate.month, 2);

  SignedCertRevList ec;
  ASSERT_GT(decodeBytes(ec, readFile("crl_v2_ec_gentime.der")), 0);
  EXPECT_EQ(ec.tbsCertList.thisUpdate.form(), TAG_UTCT_TIME);
  EXPECT_EQ(ec.tbsCertList.nextUpdate.form(), TAG_GENERAL_TIME);
}

// crl_v1 with one length field written one octet longer (BER, not DER):
// its re-encoding is the DER openssl signed, its octets are not. Neither
// form nor a copy verifies.
TEST(CrlVerify, LongerLengthFormNeverVerifiesOverItsReencoding) {
  const Bytes der = readFile("crl_v1.der");
  ASSERT_EQ(der[1], 0x82);  // 30 82 01 88 | 30 72 | 30 0d ...
  ASSERT_EQ(der[5], 0x72);
  const SignedCertificate issuer = loadCert("rsa_ca.der");
  const struct {
    const char* name;
    Bytes octets;
  } rows[] = {{"TBS length", longerLength(der, 5, {3})},
              {"signature algorithm length", longerLength(der, 7, {3, 5})}};
  for (const auto& row : rows)
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(std::string(row.name) + " flags " + std::to_string(flags));
      SignedCertRevList crl;
      ASSERT_EQ(decodeBytes(crl, row.octets, flags), static_cast<int>(row.octets.size()));
      EXPECT_EQ(crl.verifySignature(issuer), SignedCertificate::CERT_SIG_INVALID);
      const SignedCertRevList copy(crl);
      EXPECT_EQ(copy.verifySignature(issuer), SignedCertificate::CERT_SIG_INVALID);
      SignedCertRevList inPlace;
      ASSERT_EQ(decodeBytes(inPlace, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
      inPlace = crl;
      EXPECT_EQ(inPlace.verifySignature(issuer), SignedCertificate::CERT_SIG_INVALID);
    }
}

TEST(CrlVerify, SignaturesWithTheIssuersKey) {
  const struct {
    const char* crl;
    const char* issuer;
    int expected;
  } rows[] = {
      {"crl_v1_empty.der", "rsa_ca.der", 1},
      {"crl_v1.pem", "rsa_ca.der", 1},
      {"crl_v2_idp.der", "rsa_ca.der", 1},
      {"crl_v2_ec_gentime.der", "ec_ca.der", 1},
      {"vectors/valid_signature_crl.pem", "vectors/valid_signature_cert.pem", 1},
      {"vectors/invalid_signature_crl.pem", "vectors/valid_signature_cert.pem", -3},
      {"crl_v2_idp.der", "v3_rsa.der", -3},
      {"crl_v2_idp.der", "ec_ca.der", -1},
  };
  for (const auto& r : rows)
    for (unsigned char flags : {0, 1}) {
      SignedCertRevList crl;
      ASSERT_GT(decodeBytes(crl, readFile(r.crl), flags), 0) << r.crl;
      SignedCertificate issuer = loadCert(r.issuer);
      EXPECT_EQ(crl.verifySignature(issuer), r.expected) << r.crl << " flags " << int(flags);
      EXPECT_EQ(crl.verifySignature(issuer.tbsCertificate.subjectPublicKeyInfo), r.expected)
          << r.crl;
    }
  SignedCertRevList crl;
  ASSERT_GT(decodeBytes(crl, readFile("crl_v1.der")), 0);
  crl.signature.clear();
  EXPECT_EQ(crl.verifySignature(loadCert("rsa_ca.der")), -3);
}

// A CRL signed over a TBS that is not DER (a long-form length in its issuer
// name; openssl verifies it, gen_nonder_chain.sh): read in place, from DER or
// from the armour (always read in place), it verifies and writes back the
// octets received, copies too; decoded privately from DER its re-encoding is
// not what was signed, so it never verifies.
TEST(CrlVerify, NonDerTbsVerifiesOverTheOctetsReceived) {
  const Bytes der = readFile("nonder_crl.der");
  const SignedCertificate ca = loadCert("nonder_ca.der");
  const struct {
    const char* file;
    unsigned char flags;
    int expected;
  } rows[] = {{"nonder_crl.der", 1, 1},
              {"nonder_crl.pem", 1, 1},
              {"nonder_crl.pem", 0, 1},
              {"nonder_crl.der", 0, -3}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.file) + " flags " + std::to_string(r.flags));
    SignedCertRevList crl;
    ASSERT_GT(decodeBytes(crl, readFile(r.file), r.flags), 0);
    EXPECT_EQ(crl.verifySignature(ca), r.expected);
    const SignedCertRevList copy(crl);
    EXPECT_EQ(copy.verifySignature(ca), r.expected);
    Bytes out;
    ASSERT_GT(crl.encodeVector(out), 0);
    if (r.expected == 1) { EXPECT_EQ(out, der); }
  }
}

TEST(CrlCopy, ValueReadInPlaceKeepsItsReceivedOctets) {
  const Bytes b = readFile("crl_v2_idp.der");
  SignedCertificate ca = loadCert("rsa_ca.der");
  auto input = std::make_unique<Bytes>(b);
  auto original = std::make_unique<SignedCertRevList>();
  ASSERT_EQ(original->decodeBuffer(input->data(), static_cast<int>(input->size()), ASN_FLAG_CONST),
            static_cast<int>(b.size()));
  SignedCertRevList assigned;
  assigned = *original;
  SignedCertRevList constructed(*original);
  TBSCertRevList body(original->tbsCertList);
  std::memset(input->data(), 0, input->size());
  input.reset();
  original.reset();
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  EXPECT_EQ(constructed.verifySignature(ca), 1);
  EXPECT_EQ(body.revokedCertificates.GetCount(), 3);
  Bytes out;
  ASSERT_GT(assigned.encodeVector(out), 0);
  EXPECT_EQ(out, b);
  // The copy takes a plain value, then a viewed one again.
  SignedCertRevList plain;
  ASSERT_GT(decodeBytes(plain, readFile("crl_v1.der")), 0);
  assigned = plain;
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  EXPECT_EQ(assigned.tbsCertList.revokedCertificates.GetCount(), 1);
  assigned = constructed;
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  body = plain.tbsCertList;
  EXPECT_EQ(body.revokedCertificates.GetCount(), 1);
}

// Variants of a real v2 CRL: the TBS members rearranged. Its TBS holds
// version, signature, issuer, thisUpdate, nextUpdate, revoked, [0].
TEST(CrlDecode, MemberOrderAndMalformedVariants) {
  const Signed s = open(readFile("crl_v2_idp.der"));
  ASSERT_EQ(s.tbs.size(), 7u);
  auto pick = [&s](std::initializer_list<int> which) {
    Signed v = s;
    v.tbs.clear();
    for (int i : which) v.tbs.push_back(s.tbs[static_cast<size_t>(i)]);
    return close(v);
  };
  const struct {
    const char* what;
    Bytes der;
    bool ok;
    int nextUpdate, revoked, extensions;
  } rows[] = {
      {"as received", pick({0, 1, 2, 3, 4, 5, 6}), true, 1, 1, 3},
      {"extensions first", pick({0, 1, 2, 3, 6, 5, 4}), true, 1, 1, 3},
      {"revoked before nextUpdate", pick({0, 1, 2, 3, 5, 4, 6}), true, 1, 1, 3},
      {"no revoked list", pick({0, 1, 2, 3, 4, 6}), true, 1, 0, 3},
      {"no nextUpdate", pick({0, 1, 2, 3, 5}), true, 0, 1, 0},
      {"extensions without version", pick({1, 2, 3, 4, 5, 6}), false, 0, 0, 0},
      {"two nextUpdate", pick({0, 1, 2, 3, 4, 4}), false, 0, 0, 0},
      {"two revoked lists", pick({0, 1, 2, 3, 5, 5}), false, 0, 0, 0},
      {"two extension lists", pick({0, 1, 2, 3, 6, 6}), false, 0, 0, 0},
      {"a fourth element", pick({0, 1, 2, 3, 4, 5, 6, 4}), false, 0, 0, 0},
      {"no thisUpdate", pick({0, 1, 2, 5}), false, 0, 0, 0},
  };
  for (const auto& r : rows) {
    SignedCertRevList c;
    const int got = decodeBytes(c, r.der);
    EXPECT_EQ(got, r.ok ? static_cast<int>(r.der.size()) : 0) << r.what;
    if (!r.ok || got <= 0) continue;
    const TBSCertRevList& t = c.tbsCertList;
    EXPECT_EQ(t.nextUpdatePresent, r.nextUpdate) << r.what;
    EXPECT_EQ(t.revokedCertificatesPresent, r.revoked) << r.what;
    EXPECT_EQ(t.crlExtensions->GetCount(), r.extensions) << r.what;
    // Re-encoding puts the members back in their place.
    Bytes out;
    ASSERT_GT(c.encodeVector(out), 0) << r.what;
    EXPECT_EQ(static_cast<int>(out.size()), c.encodedLength()) << r.what;
    EXPECT_EQ(out.size(), r.der.size()) << r.what;
  }
}

TEST(CrlDecode, EntriesKeepTheirTimeForm) {
  // userCertificate 5, revocationDate as GeneralizedTime, one extension
  const Bytes reason =
      encodeTlv(0x30, join({{0x06, {0x55, 0x1D, 0x15}}, {0x04, {0x0A, 0x01, 0x01}}}));
  const std::string gt = "20510101000000Z", ut = "510101000000Z";
  const struct {
    const char* what;
    Bytes der;
    int ok;
    int form;
  } rows[] = {
      {"GeneralizedTime", encodeTlv(0x30, join({{0x02, {5}}, {0x18, Bytes(gt.begin(), gt.end())}})),
       1, 24},
      {"UTCTime with extensions",
       encodeTlv(0x30, join({{0x02, {5}}, {0x17, Bytes(ut.begin(), ut.end())}, {0x30, reason}})), 1,
       23},
      {"OCTET STRING as date",
       encodeTlv(0x30, join({{0x02, {5}}, {0x04, Bytes(gt.begin(), gt.end())}})), 0, 0},
      {"[24] as date", encodeTlv(0x30, join({{0x98, Bytes(gt.begin(), gt.end())}})), 0, 0},
      {"trailing element",
       encodeTlv(
           0x30,
           join({{0x02, {5}}, {0x17, Bytes(ut.begin(), ut.end())}, {0x30, reason}, {0x05, {}}})),
       0, 0},
  };
  for (const auto& r : rows) {
    CRLentry e;
    const int got = decodeBytes(e, r.der);
    EXPECT_EQ(got, r.ok ? static_cast<int>(r.der.size()) : 0) << r.what;
    if (!r.ok) continue;
    EXPECT_EQ(e.revocationDate.form(), r.form) << r.what;
    CRLentry copy;
    copy = e;
    Bytes out;
    ASSERT_GT(copy.encodeVector(out), 0) << r.what;
    EXPECT_EQ(out, r.der) << r.what;
  }
}

TEST(CrlArmour, LeadingTextAndMissingEnd) {
  const Bytes pem = readFile("crl_v2_idp.pem");
  std::string text =
      "CRL of the test CA\n" + std::string(pem.begin(), pem.end()) + "trailing words";
  Bytes b(text.begin(), text.end());
  MemFile m(b.data(), static_cast<int32_t>(b.size()), false);
  SignedCertRevList crl;
  const int want = static_cast<int>(text.find("-----END X509 CRL-----") + 22);
  EXPECT_EQ(crl.decode(&m, static_cast<int>(b.size()), 0), want);
  EXPECT_EQ(static_cast<int>(m.tell()), want);
  EXPECT_EQ(crl.verifySignature(loadCert("rsa_ca.der")), 1);

  std::string cut = text.substr(0, text.find("-----END X509 CRL-----"));
  Bytes c(cut.begin(), cut.end());
  SignedCertRevList none;
  EXPECT_EQ(decodeBytes(none, c), 0);
  // a certificate's armour is not a CRL
  SignedCertRevList wrong;
  EXPECT_EQ(decodeBytes(wrong, readFile("rsa_ca.pem")), 0);
}

TEST(IssuerAndSerial, RoundTripAndCopy) {
  SignedCertificate c = loadCert("v3_rsa.der");
  IssuerAndSerialNumber a;
  a.issuer = c.tbsCertificate.issuer;
  a.serialNumber = c.tbsCertificate.serialNumber;
  Bytes der;
  ASSERT_GT(a.encodeVector(der), 0);
  IssuerAndSerialNumber b;
  ASSERT_EQ(decodeBytes(b, der), static_cast<int>(der.size()));
  EXPECT_TRUE(b.issuer == c.tbsCertificate.issuer);
  IssuerAndSerialNumber d(b);
  Bytes again;
  ASSERT_GT(d.encodeVector(again), 0);
  EXPECT_EQ(again, der);
}

TEST(CertificatePathRecords, ConstructionCopyAndNoDer) {
  CertificatePath path;
  EXPECT_EQ(path.GetCount(), 0);
  EXPECT_EQ(path.qualifiedRoot, 0);
  EXPECT_EQ(path.policyResult, 0u);
  for (const char* name : {"v3_rsa.der", "rsa_ca.der"}) {
    auto* item = new CertificateItem();
    ASSERT_NE(path.AddTail(item), nullptr);
    EXPECT_EQ(item->status.toLong(), 0u);
    EXPECT_EQ(item->time1.form(), TAG_UTCT_TIME);
    EXPECT_EQ(item->wwc + item->revocationState + item->revocationSource + item->freshCrlWanted,
              0u);
    item->certificate = loadCert(name);
    item->wwc = 1;
  }
  path.qualifiedRoot = 1;
  path.policyResult = 2;
  CertificatePath copy(path);
  EXPECT_EQ(copy.GetCount(), 2);
  EXPECT_EQ(copy.qualifiedRoot, 1);
  EXPECT_EQ(copy.policyResult, 2u);
  const CertificateItem* head = copy.GetHead();
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->wwc, 1u);
  EXPECT_EQ(head->certificate->verifySignature(loadCert("rsa_ca.der")), 1);
  // never read or written as DER
  CertificateItem item;
  const Bytes der = readFile("v3_rsa.der");
  EXPECT_EQ(decodeBytes(item, der), 0);
  Bytes out;
  EXPECT_LT(item.encodeVector(out), 1);
}

// An item (and a path holding one) cannot be written: every length and
// encoding answers -1 (a header alone would claim one octet).
TEST(CertificatePathRecords, LengthsOfWhatCannotBeWritten) {
  CertificateItem item;
  item.certificate = loadCert("v3_rsa.der");
  EXPECT_EQ(item.contentLength(), -1);
  EXPECT_EQ(item.encodedLength(), -1);
  MemFile out;
  EXPECT_EQ(item.encode(&out), -1);
  EXPECT_EQ(out.length(), 0);
  CertificatePath path;
  EXPECT_EQ(path.encodedLength(), 2);  // an empty SEQUENCE OF
  for (int n = 1; n <= 2; ++n) {
    ASSERT_NE(path.AddTail(new CertificateItem(item)), nullptr);
    EXPECT_EQ(path.encodedLength(), -1) << n;
    EXPECT_LT(path.encode(&out), 1) << n;
  }
}
