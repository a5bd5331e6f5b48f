// ESS and CAdES attribute structures: openssl's signingCertificateV2
// (cms -sign -cades) read against the signer's certificate and re-encoded
// as received; hand-made encodings around real CRLs and OCSP responses for
// the CAdES-C/X-L references and values, read privately and in place; the
// decoding rules of the optional members.
#include "pki/test_cms_support.h"

#include "pki/x509/crl.h"
#include "pki/cms/esscades.h"
#include "pki/ocsp/ocspresp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::encodeTlv;
using cmstest::octets;
using pkitest::unhex;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kSha1Hash = encodeTlv(0x04, Bytes(20, 0x11));
const Bytes kSha256Alg = unhex("300b0609608648016503040201");
const Bytes kSha512Alg = unhex("300b0609608648016503040203");
const Bytes kSha256Hash = encodeTlv(0x04, Bytes(32, 0x22));
const Bytes kIssuerSerial =
    encodeTlv(0x30, cat({encodeTlv(0x30, unhex("a4083006310430020600")), unhex("02015a")}));

// Decodes privately and in place: both must give `ok` and, when they match,
// re-encode `der`.
template <class T>
void expectRoundTrip(const Bytes& der, bool ok) {
  T value;
  EXPECT_EQ(decodeBytes(value, der), ok ? static_cast<int>(der.size()) : 0);
  T view;
  EXPECT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), ok ? static_cast<int>(der.size()) : 0);
  if (!ok) return;
  EXPECT_EQ(encodeOf(value), der);
  EXPECT_EQ(encodeOf(view), der);
}

TEST(EssOpenssl, CadesSigningCertificateV2) {
  const Bytes der = cmstest::readData("cms/cades.der");
  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
  const SignerInfo& si = *msg.value().signerInfos.GetHead();
  const Attribute* a = findAttribute(si.signedAttrs, id_aa_signingCertificateV2);
  ASSERT_NE(a, nullptr);
  SigningCertificateV2 sc;
  ASSERT_TRUE(a->getValue(0, sc));
  ASSERT_EQ(sc.certs.GetCount(), 1);
  EXPECT_EQ(sc.policiesPresent, 0);
  const ESSCertIDV2& id = *sc.certs.GetHead();
  EXPECT_EQ(id.hashAlgorithm.algorithm, id_sha256);
  EXPECT_EQ(octets(id.certHash), cmstest::hashOf(3, cmstest::readData("cms/signer_rsa.der")));
  ASSERT_EQ(id.issuerSerialPresent, 1);
  SignedCertificate ca;
  const Bytes caDer = cmstest::readData("cms/ca.der");
  ASSERT_EQ(decodeBytes(ca, caDer), static_cast<int>(caDer.size()));
  ASSERT_EQ(id.issuerSerial.issuer.GetCount(), 1);
  const ASNany& name = *id.issuerSerial.issuer.GetHead();
  EXPECT_EQ(name.tag, 0xA4);
  EXPECT_EQ(Bytes(name.content(), name.content() + name.length),
            encodeOf(ca.tbsCertificate.subject));
  EXPECT_EQ(id.issuerSerial.serialNumber.toLong(), 0x5001u);
  // openssl leaves the default SHA-256 out, and so does the re-encoding.
  EXPECT_EQ(encodeOf(sc), encodeOf(*a->attrValues.GetHead()));
}

TEST(EssRules, CertIdsAndSigningCertificate) {
  struct Case {
    const char* name;
    Bytes der;
    bool ok;
    Bytes reencoded;  // empty: as received
  };
  const Bytes hashOnly = encodeTlv(0x30, kSha256Hash);
  const std::vector<Case> v2 = {
      {"hash only: SHA-256", hashOnly, true, {}},
      {"SHA-256 written out: left out again", encodeTlv(0x30, cat({kSha256Alg, kSha256Hash})), true,
       hashOnly},
      {"SHA-512 with issuerSerial",
       encodeTlv(0x30, cat({kSha512Alg, kSha256Hash, kIssuerSerial})),
       true,
       {}},
      {"algorithm only", encodeTlv(0x30, kSha512Alg), false, {}},
      {"INTEGER first", encodeTlv(0x30, cat({unhex("020101"), kSha256Hash})), false, {}},
      {"trailing element",
       encodeTlv(0x30, cat({kSha256Hash, kIssuerSerial, unhex("0500")})),
       false,
       {}},
  };
  for (const Case& c : v2) {
    SCOPED_TRACE(c.name);
    ESSCertIDV2 id;
    ASSERT_EQ(decodeBytes(id, c.der), c.ok ? static_cast<int>(c.der.size()) : 0);
    if (!c.ok) continue;
    EXPECT_EQ(encodeOf(id), c.reencoded.empty() ? c.der : c.reencoded);
    if (c.der == hashOnly) {
      EXPECT_EQ(id.hashAlgorithm.algorithm, id_sha256);
      EXPECT_EQ(id.hashAlgorithm.parametersPresent, 0);
    }
    // Read in place, the received form is kept.
    ESSCertIDV2 view;
    ASSERT_EQ(decodeBytes(view, c.der, ASN_FLAG_CONST), static_cast<int>(c.der.size()));
    EXPECT_EQ(encodeOf(view), c.der);
  }
  expectRoundTrip<ESSCertID>(encodeTlv(0x30, kSha1Hash), true);
  expectRoundTrip<ESSCertID>(encodeTlv(0x30, cat({kSha1Hash, kIssuerSerial})), true);
  expectRoundTrip<ESSCertID>(encodeTlv(0x30, cat({kSha1Hash, unhex("020101")})), false);
  // IssuerSerial: both members, in order.
  expectRoundTrip<IssuerSerial>(encodeTlv(0x30, unhex("02015a")), false);

  // SigningCertificate with a policy.
  const Bytes policies = encodeTlv(0x30, encodeTlv(0x30, unhex("06032a0304")));
  const Bytes certs = encodeTlv(0x30, encodeTlv(0x30, kSha1Hash));
  expectRoundTrip<SigningCertificate>(encodeTlv(0x30, certs), true);
  expectRoundTrip<SigningCertificate>(encodeTlv(0x30, cat({certs, policies})), true);
  expectRoundTrip<SigningCertificate>(encodeTlv(0x30, cat({certs, policies, policies})), false);
  SigningCertificate sc;
  const Bytes withPolicy = encodeTlv(0x30, cat({certs, policies}));
  ASSERT_EQ(decodeBytes(sc, withPolicy), static_cast<int>(withPolicy.size()));
  EXPECT_EQ(sc.policiesPresent, 1);
  EXPECT_EQ(sc.policies.GetHead()->policyIdentifier, ASNobjectId("1.2.3.4"));
}

TEST(EssRules, PolicyCommitmentAndHints) {
  // SignaturePolicyId with an SPuri qualifier.
  const Bytes hashAlgValue = encodeTlv(0x30, cat({kSha256Alg, kSha256Hash}));
  const Bytes spuri =
      encodeTlv(0x30, cat({unhex("060b2a864886f70d0109100501"), encodeTlv(0x16, Bytes(5, 'x'))}));
  expectRoundTrip<SignaturePolicyId>(encodeTlv(0x30, cat({unhex("06032a0304"), hashAlgValue})),
                                     true);
  expectRoundTrip<SignaturePolicyId>(
      encodeTlv(0x30, cat({unhex("06032a0304"), hashAlgValue, encodeTlv(0x30, spuri)})), true);
  expectRoundTrip<SignaturePolicyId>(encodeTlv(0x30, unhex("06032a0304")), false);

  // CommitmentTypeIndication: an empty qualifier list is not written.
  const Bytes proofOfOrigin = unhex("060b2a864886f70d0109100601");
  CommitmentTypeIndication cti;
  const Bytes withEmpty = encodeTlv(0x30, cat({proofOfOrigin, unhex("3000")}));
  ASSERT_EQ(decodeBytes(cti, withEmpty), static_cast<int>(withEmpty.size()));
  EXPECT_EQ(cti.policyIdentifier, id_cti_ets_proofOfOrigin);
  EXPECT_EQ(encodeOf(cti), encodeTlv(0x30, proofOfOrigin));
  expectRoundTrip<CommitmentTypeIndication>(
      encodeTlv(0x30, cat({proofOfOrigin, encodeTlv(0x30, spuri)})), true);

  // ContentHints: the description, when there, comes first.
  const Bytes description = encodeTlv(0x0C, Bytes{'t', 'e', 'x', 't'});
  const Bytes dataOid = unhex("06092a864886f70d010701");
  expectRoundTrip<ContentHints>(encodeTlv(0x30, dataOid), true);
  expectRoundTrip<ContentHints>(encodeTlv(0x30, cat({description, dataOid})), true);
  expectRoundTrip<ContentHints>(encodeTlv(0x30, cat({dataOid, description})), false);
  ContentHints hints;
  const Bytes h = encodeTlv(0x30, cat({description, dataOid}));
  ASSERT_EQ(decodeBytes(hints, h), static_cast<int>(h.size()));
  EXPECT_EQ(hints.contentDescriptionPresent, 1);
  EXPECT_EQ(hints.contentType, id_data);
}

// A CRL reference (SHA-1 hash, issuer, time, number) and an OCSP reference
// (responder by name, producedAt, hash with algorithm) of real objects.
struct References {
  Bytes crlId, crlValidated, ocspId, ocspResponses;
};

References references() {
  SignedCertRevList crl;
  const Bytes crlDer = cmstest::readData("cms/ca_crl.der");
  EXPECT_EQ(decodeBytes(crl, crlDer), static_cast<int>(crlDer.size()));
  References r;
  r.crlId = encodeTlv(0x30, cat({encodeOf(crl.tbsCertList.issuer),
                                 encodeOf(crl.tbsCertList.thisUpdate), unhex("020203e8")}));
  r.crlValidated = encodeTlv(0x30, cat({encodeTlv(0x04, cmstest::hashOf(1, crlDer)), r.crlId}));
  r.ocspId = encodeTlv(0x30, cat({encodeTlv(0xA1, encodeOf(crl.tbsCertList.issuer)),
                                  unhex("180f32303236303130323033303430355a")}));
  r.ocspResponses =
      encodeTlv(0x30, cat({r.ocspId, encodeTlv(0x30, cat({kSha256Alg, kSha256Hash}))}));
  return r;
}

TEST(EssRules, ReferencesReadPrivatelyAndInPlace) {
  const References r = references();
  const Bytes crlListId = encodeTlv(0x30, encodeTlv(0x30, r.crlValidated));
  const Bytes ocspListId = encodeTlv(0x30, encodeTlv(0x30, r.ocspResponses));
  struct Case {
    const char* name;
    Bytes content;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"both", cat({encodeTlv(0xA0, crlListId), encodeTlv(0xA1, ocspListId)}), true},
      {"ocsp only", encodeTlv(0xA1, ocspListId), true},
      {"neither", {}, true},
      {"ocsp before crl", cat({encodeTlv(0xA1, ocspListId), encodeTlv(0xA0, crlListId)}), true},
      {"otherRev [2]", encodeTlv(0xA2, unhex("06032a03040500")), false},
      {"crlids twice", cat({encodeTlv(0xA0, crlListId), encodeTlv(0xA0, crlListId)}), false},
      {"universal element", crlListId, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes der = encodeTlv(0x30, c.content);
    CrlOcspRef ref;
    ASSERT_EQ(decodeBytes(ref, der), c.ok ? static_cast<int>(der.size()) : 0);
    // Read in place, the inner values view the received octets.
    CrlOcspRef view;
    ASSERT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), c.ok ? static_cast<int>(der.size()) : 0);
    if (!c.ok) continue;
    EXPECT_EQ(encodeOf(view), der);
    if (std::string(c.name) == "ocsp before crl") continue;  // written in order
    EXPECT_EQ(encodeOf(ref), der);
    if (!view.ocspidsPresent) continue;
    EXPECT_TRUE(view.ocspids->isConstView());
    const OcspResponsesID& o = *view.ocspids->ocspResponses.GetHead();
    EXPECT_EQ(o.ocspIdentifier.ocspResponderID.chosenIndex(), ResponderID::BY_NAME);
    EXPECT_EQ(o.ocspRepHashPresent, 1);
    EXPECT_TRUE(o.ocspRepHash.withAlgorithm());
    if (!view.crlidsPresent) continue;
    const CrlValidatedID& v = *view.crlids->crls.GetHead();
    EXPECT_FALSE(v.crlHash.withAlgorithm());
    EXPECT_EQ(octets(v.crlHash.sha1Hash), cmstest::hashOf(1, cmstest::readData("cms/ca_crl.der")));
    ASSERT_EQ(v.crlIdentifierPresent, 1);
    EXPECT_EQ(v.crlIdentifier.crlNumber.toLong(), 1000u);
  }
  // The OtherHash and the optional members recognised by their identifiers.
  expectRoundTrip<OtherCertID>(encodeTlv(0x30, kSha1Hash), true);
  expectRoundTrip<OtherCertID>(
      encodeTlv(0x30, cat({encodeTlv(0x30, cat({kSha256Alg, kSha256Hash})), kIssuerSerial})), true);
  expectRoundTrip<OtherCertID>(encodeTlv(0x30, unhex("020101")), false);
  expectRoundTrip<CrlValidatedID>(encodeTlv(0x30, cat({kSha1Hash, unhex("3100")})), false);
  // crlIdentifier is optional: the hash alone is a whole CrlValidatedID.
  expectRoundTrip<CrlValidatedID>(encodeTlv(0x30, kSha1Hash), true);
  expectRoundTrip<CrlIdentifier>(
      encodeTlv(0x30, cat({unhex("3000170d3236303130323033303430355a"), unhex("0500")})), false);
  expectRoundTrip<OcspResponsesID>(r.ocspResponses, true);
  expectRoundTrip<OcspResponsesID>(encodeTlv(0x30, r.ocspId), true);
}

TEST(EssRules, RevocationValuesReadInPlaceStillVerify) {
  const Bytes crlDer = cmstest::readData("cms/ca_crl.der");
  // The BasicOCSPResponse inside an openssl OCSP response.
  OCSPResponse resp;
  const Bytes respDer = cmstest::readData("ocsp/resp_good_name.der");
  ASSERT_EQ(decodeBytes(resp, respDer), static_cast<int>(respDer.size()));
  const Bytes basic = octets(resp.responseBytes->response);
  const Bytes der = encodeTlv(0x30, cat({encodeTlv(0xA0, encodeTlv(0x30, crlDer)),
                                         encodeTlv(0xA1, encodeTlv(0x30, basic))}));
  expectRoundTrip<RevocationValues>(der, true);

  RevocationValues view;
  ASSERT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
  ASSERT_EQ(view.crlValsPresent, 1);
  ASSERT_EQ(view.ocspValsPresent, 1);
  const SignedCertRevList& crl = *view.crlVals->GetHead();
  EXPECT_TRUE(crl.isConstView());
  SignedCertificate ca;
  const Bytes caDer = cmstest::readData("cms/ca.der");
  ASSERT_EQ(decodeBytes(ca, caDer), static_cast<int>(caDer.size()));
  EXPECT_EQ(crl.verifySignature(ca), SignedCertificate::CERT_SIG_VALID);
  SignedCertificate responder;
  const Bytes rDer = cmstest::readData("ocsp/responder.der");
  ASSERT_EQ(decodeBytes(responder, rDer), static_cast<int>(rDer.size()));
  EXPECT_EQ(view.ocspVals->GetHead()->verifySignature(responder), 1);
  EXPECT_EQ(encodeOf(*view.ocspVals->GetHead()), basic);

  expectRoundTrip<RevocationValues>(encodeTlv(0x30, encodeTlv(0xA2, unhex("3000"))), false);
  expectRoundTrip<RevocationValues>(unhex("3000"), true);

  // The reference records start empty.
  CrlRefRecord crlRef;
  EXPECT_FALSE(crlRef.crlNumberPresent);
  EXPECT_EQ(crlRef.issueTime.getTag(), TAG_UTCT_TIME);
  OcspRefRecord ocspRef;
  EXPECT_FALSE(ocspRef.byKey);
  EXPECT_EQ(ocspRef.producedAt.getTag(), TAG_GENERAL_TIME);
  CertRefRecord certRef;
  EXPECT_EQ(certRef.hashId, 0);
}

}  // namespace
