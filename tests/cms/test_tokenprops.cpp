// Time-stamp tokens made by openssl ts -reply (tests/data/cms, gen.sh there)
// read through the CMS signature properties and checked the way a verifier
// does: messageDigest against the TSTInfo octets, the signature over the
// DER SET OF signed attributes with the key of the carried TSA certificate,
// ESS signing-certificate hash against openssl's digest of the certificate.
// Tokens changed after signing are refused at the step the change breaks.
#include "pki/fixture_lines.h"
#include "pki/test_cms_support.h"

#include "pki/cms/tsp.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/sig/sigpropspkcs7.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using cmstest::Bytes;

Bytes readCms(const std::string& name) { return cmstest::readData("../cms/" + name); }

// The token of a response file, or the file itself for a bare token.
Bytes tokenBytes(const std::string& name) {
  const Bytes der = readCms(name);
  if (name.find(".tsr") == std::string::npos) return der;
  TimeStampResponse resp;
  EXPECT_EQ(cmstest::decodeBytes(resp, der), int(der.size()));
  EXPECT_TRUE(resp.timeStampTokenPresent);
  return cmstest::encodeOf(resp.timeStampToken);
}

// One token decoded and its properties analysed.
struct Token {
  SignedMessage msg;
  std::unique_ptr<SignaturePropertiesPkcs7> props;
  int32_t analysed = -1;

  explicit Token(const Bytes& der) {
    if (cmstest::decodeBytes(msg, der) != int(der.size())) return;
    const SignerInfo* si = msg.value().signerInfos.GetHead();
    props = std::make_unique<SignaturePropertiesPkcs7>(nullptr, &msg.value(), si, true, false);
    analysed = props->analyse();
  }

  // SubPubKeyInfo's answer over the properties' own digest and value, with
  // the key of the carried signer certificate or else of `external`.
  int signatureCheck(const SignedCertificate* external = nullptr) {
    const SignedCertificate* cert = props->signerCertificate ? props->signerCertificate : external;
    if (!cert) return -100;
    std::string digest;
    props->signedDigest(props->hashId, digest);
    int32_t n = 0;
    EXPECT_EQ(props->signatureValue(nullptr, &n), 0);
    Bytes value(static_cast<size_t>(n));
    EXPECT_EQ(props->signatureValue(value.data(), &n), 0);
    SubPubKeyInfo key(cert->tbsCertificate.subjectPublicKeyInfo);
    return key.verifyDigest(props->signatureAlgorithm, reinterpret_cast<const unsigned char*>(digest.data()),
                            int(digest.size()), value.data(), n);
  }
};

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct Granted {
  const char* file;
  int32_t hashId;      // the signer's digest (signer_digest sha256)
  int32_t certHashId;  // ESSCertID v1: 1; v2: its hash
  bool carried;        // the request asked for the certificate (certReq)
};

TEST(TokenProperties, GrantedTokensVerifyAsOpensslSays) {
  const auto verdicts = pkitest::readFixture("../cms/verify.txt");
  ASSERT_EQ(verdicts.size(), 3u);
  const Granted cases[] = {
      {"resp_plain_v1.tsr", 3, 1, false},
      {"resp_full_v2.tsr", 3, 3, true},
      {"resp_v2_sha512.tsr", 3, 5, true},
      {"token_full.der", 3, 3, true},
  };
  const Bytes tsa = readCms("tsa.der");
  SignedCertificate tsaCert;
  ASSERT_EQ(cmstest::decodeBytes(tsaCert, tsa), int(tsa.size()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Token t(tokenBytes(c.file));
    ASSERT_EQ(t.analysed, 0);
    EXPECT_FALSE(t.props->isXml());
    EXPECT_EQ(t.props->hashId, c.hashId);
    EXPECT_EQ(t.props->scheme, SIG_SCHEME_RSA_PKCS1);
    EXPECT_EQ(t.props->form, SIG_FORM_BES);
    ASSERT_TRUE(t.props->checkMessageDigest());
    ASSERT_EQ(t.props->signerCertificate != nullptr, c.carried);
    if (c.carried) { EXPECT_EQ(cmstest::encodeOf(*t.props->signerCertificate), tsa); }
    const bool opensslVerified =
        std::any_of(verdicts.begin(), verdicts.end(),
                    [&](const std::vector<std::string>& r) { return r[0] == c.file && r[1] == "verified"; });
    if (std::string(c.file) != "token_full.der") { EXPECT_TRUE(opensslVerified); }
    EXPECT_EQ(t.signatureCheck(&tsaCert), SubPubKeyInfo::SIG_VALID);

    // The signer is named by issuer and serial; the carried list copies the message's.
    const IssuerAndSerialNumber* sid = t.props->signerIdentifier();
    ASSERT_NE(sid, nullptr);
    EXPECT_TRUE(sid->serialNumber.equals(tsaCert.tbsCertificate.serialNumber));
    EXPECT_TRUE(sid->issuer == tsaCert.tbsCertificate.issuer);
    if (c.carried) {
      ASSERT_NE(t.props->carriedCertificates(), nullptr);
      EXPECT_EQ(t.props->carriedCertificates(), t.props->carriedCertificates());
      EXPECT_EQ(t.props->carriedCertificates()->GetCount(), t.msg.value().certificates.GetCount());
    } else {
      EXPECT_EQ(t.props->carriedCertificates(), nullptr);
    }

    SignedAttributes* attrs = t.props->signedAttributes();
    ASSERT_NE(attrs, nullptr);
    EXPECT_EQ(attrs->signingCertificateDigestAlgorithm(), c.certHashId);
    EXPECT_EQ(*attrs->signingCertificateDigest(), str(cmstest::hashOf(c.certHashId, tsa)));
    EXPECT_TRUE(attrs->hasSigningTime());

    // Empty lists and no counter-signatures; extension is not built.
    EXPECT_EQ(t.props->counterSignatureCount(), 0);
    EXPECT_EQ(t.props->counterSignature(0), nullptr);
    ASSERT_NE(t.props->signatureTimeStamps(), nullptr);
    EXPECT_TRUE(t.props->signatureTimeStamps()->items.empty());
    ASSERT_NE(t.props->archiveTimeStamps(), nullptr);
    EXPECT_TRUE(t.props->archiveTimeStamps()->items.empty());
    EXPECT_TRUE(t.props->certificateRefs()->items.empty());
    EXPECT_TRUE(t.props->timeStampCertificateValues()->items.empty());
    EXPECT_TRUE(t.props->timeStampRevocationValues()->items.empty());
    EXPECT_EQ(attrs->count(), 0);
    EXPECT_EQ(attrs->attribute(0, nullptr, nullptr, nullptr), 20);
    EXPECT_EQ(t.props->makeArchiveForm(nullptr), 137);
    TimeStampToken other;
    EXPECT_EQ(t.props->storeTimeStampToken(other, TIMESTAMP_KIND_SIGNATURE), 137);
  }
}

TEST(TokenProperties, RejectionsCarryNoToken) {
  const auto statuses = pkitest::readFixture("../cms/status.tsv");
  for (const auto& row : statuses) {
    SCOPED_TRACE(row[0]);
    const Bytes der = readCms(row[0]);
    TimeStampResponse resp;
    ASSERT_EQ(cmstest::decodeBytes(resp, der), int(der.size()));
    const uint32_t status = resp.status.status.toLong();
    EXPECT_EQ(status == uint32_t(PKIStatusInfo::REJECTION), row[1] == "Rejected.");
    EXPECT_EQ(resp.timeStampTokenPresent != 0, row[1] == "Granted.");
  }
}

TEST(TokenProperties, SignatureValueBufferContract) {
  Token t(tokenBytes("resp_full_v2.tsr"));
  ASSERT_EQ(t.analysed, 0);
  int32_t n = 0;
  EXPECT_EQ(t.props->signatureValue(nullptr, nullptr), 33);
  ASSERT_EQ(t.props->signatureValue(nullptr, &n), 0);
  EXPECT_EQ(n, 256);  // RSA-2048
  Bytes small(10, 0xAA);
  int32_t m = 10;
  EXPECT_EQ(t.props->signatureValue(small.data(), &m), 34);
  EXPECT_EQ(small, Bytes(10, 0xAA));
}

// Flips the last octet of the first occurrence of `what` inside `der`.
Bytes flipIn(Bytes der, const Bytes& what) {
  auto it = std::search(der.begin(), der.end(), what.begin(), what.end());
  EXPECT_NE(it, der.end());
  if (it != der.end()) *(it + long(what.size()) - 1) ^= 0x01;
  return der;
}

TEST(TokenProperties, ChangedTokensAreRefused) {
  const Bytes good = tokenBytes("resp_full_v2.tsr");
  Token original(good);
  ASSERT_EQ(original.analysed, 0);
  const SignedData& sd = original.msg.value();
  const SignerInfo& si = *sd.signerInfos.GetHead();
  const Bytes content = cmstest::octets(sd.encapContentInfo.value());
  const Bytes signature = cmstest::octets(si.signature);
  ASSERT_FALSE(content.empty());
  const Bytes stOid = cmstest::encodeOf(id_signingTime);
  const Bytes ctOid = pkitest::unhex("060b2a864886f70d0109100104");  // id-ct-TSTInfo
  const Bytes dataOid = pkitest::unhex("060b2a864886f70d0109100109");

  // TSTInfo changed: the messageDigest no longer matches.
  {
    Token t(flipIn(good, content));
    ASSERT_EQ(t.analysed, 0);
    EXPECT_FALSE(t.props->checkMessageDigest());
  }
  // Signature value changed: the key refuses it.
  {
    Token t(flipIn(good, signature));
    ASSERT_EQ(t.analysed, 0);
    EXPECT_TRUE(t.props->checkMessageDigest());
    EXPECT_EQ(t.signatureCheck(), SubPubKeyInfo::SIG_INVALID);
  }
  // A signed attribute changed (the signingTime's last digit before Z).
  {
    Bytes der = good;
    auto it = std::search(der.begin(), der.end(), stOid.begin(), stOid.end());
    ASSERT_NE(it, der.end());
    auto z = std::find(it, der.end(), 'Z');
    ASSERT_NE(z, der.end());
    *(z - 1) = *(z - 1) == '0' ? '1' : '0';
    Token t(der);
    ASSERT_EQ(t.analysed, 0);
    EXPECT_TRUE(t.props->checkMessageDigest());
    EXPECT_EQ(t.signatureCheck(), SubPubKeyInfo::SIG_INVALID);
  }
  // Another eContentType (content-type attribute left alone): not a token.
  {
    Bytes der = good;
    auto it = std::search(der.begin(), der.end(), ctOid.begin(), ctOid.end());
    ASSERT_NE(it, der.end());
    std::copy(dataOid.begin(), dataOid.end(), it);
    Token t(der);
    EXPECT_EQ(t.analysed, 89);
  }
  // The content-type attribute names another type than the content.
  {
    Bytes der = good;
    auto first = std::search(der.begin(), der.end(), ctOid.begin(), ctOid.end());
    ASSERT_NE(first, der.end());
    auto second = std::search(first + 1, der.end(), ctOid.begin(), ctOid.end());
    ASSERT_NE(second, der.end());
    std::copy(dataOid.begin(), dataOid.end(), second);
    Token t(der);
    EXPECT_EQ(t.analysed, 89);
  }
}

TEST(TokenProperties, SignerWithoutAttributesOrDigestIsMalformed) {
  Token original(tokenBytes("resp_plain_v1.tsr"));
  ASSERT_EQ(original.analysed, 0);
  const SignedData& sd = original.msg.value();
  struct Case {
    const char* name;
    void (*change)(SignerInfo&);
    int32_t expected;
  } cases[] = {
      {"no signed attributes", [](SignerInfo& s) { s.signedAttrsPresent = 0; }, 89},
      {"unknown digest", [](SignerInfo& s) { s.digestAlgorithm.algorithm = id_signingTime; }, 92},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SignerInfo si(*sd.signerInfos.GetHead());
    c.change(si);
    SignaturePropertiesPkcs7 props(nullptr, &sd, &si, true, false);
    EXPECT_EQ(props.analyse(), c.expected);
  }
  // Without the messageDigest attribute.
  SignerInfo si(*sd.signerInfos.GetHead());
  Attribute* md = findAttribute(si.signedAttrs, id_messageDigest);
  ASSERT_NE(md, nullptr);
  md->attrType = id_signingTime;  // the attribute is gone under its own name
  SignaturePropertiesPkcs7 props(nullptr, &sd, &si, true, false);
  EXPECT_EQ(props.analyse(), 89);
}

// A token read in place (as the XAdES reader reads it) gives its signing
// time too: the in-place value is converted through a private copy.
TEST(TokenProperties, TokenReadInPlace) {
  for (const char* file : {"resp_plain_v1.tsr", "resp_full_v2.tsr", "token_full.der"}) {
    SCOPED_TRACE(file);
    const Bytes der = tokenBytes(file);
    SignedMessage msg;
    ASSERT_EQ(cmstest::decodeBytes(msg, der, ASN_FLAG_CONST), int(der.size()));
    SignaturePropertiesPkcs7 props(nullptr, &msg.value(), msg.value().signerInfos.GetHead(), true, false);
    ASSERT_EQ(props.analyse(), 0);
    EXPECT_TRUE(props.signedAttributes()->hasSigningTime());
    EXPECT_TRUE(props.checkMessageDigest());
  }
}

}  // namespace

namespace {

// The signer certificate must be the one the ESS signing-certificate hash
// commits to: a token whose committed hash names another certificate than
// the carried one is refused, and a certificate found elsewhere is checked
// against the hash before use.
TEST(TokenProperties, SignerCertificateIsTheOneEssNames) {
  const Bytes tsa = readCms("tsa.der");
  const Bytes tsa2 = readCms("tsa2.der");
  SignedCertificate tsaCert, otherCert;
  ASSERT_EQ(cmstest::decodeBytes(tsaCert, tsa), int(tsa.size()));
  ASSERT_EQ(cmstest::decodeBytes(otherCert, tsa2), int(tsa2.size()));
  const struct {
    const char* file;
    int certHashId;
    bool carried;
  } cases[] = {
      {"resp_plain_v1.tsr", 1, false},
      {"resp_full_v2.tsr", 3, true},
      {"resp_v2_sha512.tsr", 5, true},
      {"token_full.der", 3, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes good = tokenBytes(c.file);
    Token original(good);
    ASSERT_EQ(original.analysed, 0);
    EXPECT_TRUE(original.props->signingCertificateMatches(tsaCert));
    EXPECT_FALSE(original.props->signingCertificateMatches(otherCert));

    // The committed hash changed: it names no carried certificate.
    Token changed(flipIn(good, cmstest::hashOf(c.certHashId, tsa)));
    EXPECT_EQ(changed.analysed, c.carried ? 89 : 0);
    if (c.carried) continue;
    EXPECT_EQ(changed.props->signerCertificate, nullptr);
    EXPECT_FALSE(changed.props->signingCertificateMatches(tsaCert));
  }
}

}  // namespace

namespace {

// An attribute the verdict rests on twice, or with two values, leaves it
// open which one counts: malformed, whichever of them a reader would take.
TEST(TokenProperties, VerdictAttributesAreSingle) {
  const struct {
    const char* file;
    const ASNobjectId* kind;
    bool twice;  // else a second value
  } cases[] = {
      {"resp_full_v2.tsr", &id_contentType, true},        {"resp_full_v2.tsr", &id_contentType, false},
      {"resp_full_v2.tsr", &id_messageDigest, true},      {"resp_full_v2.tsr", &id_messageDigest, false},
      {"resp_full_v2.tsr", &id_signingTime, true},        {"resp_full_v2.tsr", &id_signingTime, false},
      {"resp_full_v2.tsr", &id_aa_signingCertificateV2, true},
      {"resp_full_v2.tsr", &id_aa_signingCertificateV2, false},
      {"resp_plain_v1.tsr", &id_aa_signingCertificate, true},
      {"resp_plain_v1.tsr", &id_aa_signingCertificate, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.twice ? " twice" : " two values"));
    Token original(tokenBytes(c.file));
    ASSERT_EQ(original.analysed, 0);
    const SignedData& sd = original.msg.value();
    SignerInfo si(*sd.signerInfos.GetHead());
    Attribute* a = findAttribute(si.signedAttrs, *c.kind);
    ASSERT_NE(a, nullptr);
    if (c.twice) {
      ASSERT_EQ(si.signedAttrs.append(new Attribute(*a)), 1);
    } else {
      ASSERT_TRUE(a->addValue(id_data));
    }
    SignaturePropertiesPkcs7 props(nullptr, &sd, &si, true, false);
    EXPECT_EQ(props.analyse(), 89);
  }
}

}  // namespace

namespace {

// A signature OID naming another digest than the signer's digestAlgorithm is
// refused; the key's OID (as openssl writes it) and the matching OIDs pass.
TEST(TokenProperties, SignatureOidAgreesWithTheDigest) {
  const struct {
    const char* file;  // signer digest SHA-256
    const ASNobjectId* signature;
    int32_t expected;
  } cases[] = {
      {"resp_full_v2.tsr", &rsaEncryption, 0},
      {"resp_full_v2.tsr", &sha256WithRSAEncryption, 0},
      {"resp_full_v2.tsr", &sha1WithRSAEncryption, 89},
      {"resp_full_v2.tsr", &sha512WithRSAEncryption, 89},
      {"resp_plain_v1.tsr", &ecdsa_with_SHA256, 0},
  };
  for (const auto& c : cases) {
    Token original(tokenBytes(c.file));
    ASSERT_EQ(original.analysed, 0);
    const SignedData& sd = original.msg.value();
    SignerInfo si(*sd.signerInfos.GetHead());
    si.signatureAlgorithm.algorithm = *c.signature;
    SignaturePropertiesPkcs7 props(nullptr, &sd, &si, true, false);
    EXPECT_EQ(props.analyse(), c.expected) << &c - cases;
  }
}

}  // namespace

namespace {

// A time-stamp token is signed by its TSA alone: a second signer makes it
// malformed as a token, not as a CMS signature in general.
TEST(TokenProperties, TokenHasOneSigner) {
  const struct {
    int signers;
    bool timeStamp;
    int32_t expected;
  } cases[] = {{1, true, 0}, {2, true, 89}, {3, true, 89}, {2, false, 0}};
  const Bytes der = tokenBytes("resp_full_v2.tsr");
  for (const auto& c : cases) {
    SignedMessage msg;
    ASSERT_EQ(cmstest::decodeBytes(msg, der), int(der.size()));
    SignedData& sd = msg.value();
    const SignerInfo* first = sd.signerInfos.GetHead();
    for (int i = 1; i < c.signers; ++i) ASSERT_EQ(sd.signerInfos.append(new SignerInfo(*first)), 1);
    SignaturePropertiesPkcs7 props(nullptr, &sd, first, c.timeStamp, false);
    EXPECT_EQ(props.analyse(), c.expected) << c.signers << " signers, token " << c.timeStamp;
  }
}

}  // namespace
