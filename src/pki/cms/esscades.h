// ESS and CAdES attribute structures: the signing-certificate attributes
// (RFC 2634, RFC 5035), ContentHints, the signature-policy and
// commitment-type attributes and the CAdES-C/X-L references and values
// (RFC 5126); plus the plain reference records with which the signature
// layer lists certificate, CRL and OCSP references for CMS and XML
// signatures alike. Structure only: hashing certificates, matching
// references and checking policies are the signature layer's.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnchoice.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "pki/common/algid.h"
#include "pki/cms/cmsmembers.h"
#include "pki/x509/crl.h"
#include "pki/names/dname.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/x509ext.h"
#include "pki/common/x509time.h"

#include <cstdint>
#include <string>

// OtherHashAlgAndValue: the layout and coding of DigestInfo (hashAlgorithm
// is digestAlgorithm, hashValue is digest).
class OtherHashAlgAndValue : public DigestInfo {
 public:
  explicit OtherHashAlgAndValue(unsigned char tag = 0) : DigestInfo(tag) {}
};

// OtherHash: a SHA-1 hash (OCTET STRING) or OtherHashAlgAndValue.
class OtherHash : public ASNchoice {
 public:
  enum { SHA1_HASH = 0, WITH_ALGORITHM = 1 };
  OtherHash();
  ASNobject* const* objectList() const override;
  // Only an OCTET STRING (04, or 24 segmented) or a SEQUENCE (30) is taken.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  bool withAlgorithm() const { return chosenIndex() == WITH_ALGORITHM; }

  ASNoctstr sha1Hash;
  OtherHashAlgAndValue hashAlgAndValue;

 private:
  mutable ASNobject* list[3];
};

// IssuerSerial: issuer GeneralNames (elements held raw), serialNumber.
class IssuerSerial : public cmsasn::Sequence<IssuerSerial> {
 public:
  explicit IssuerSerial(unsigned char tag = 0);
  ~IssuerSerial() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ASNsequenceList<ASNany> issuer;
  ASNinteger serialNumber;
};

class ESSCertID : public cmsasn::Sequence<ESSCertID> {
 public:
  explicit ESSCertID(unsigned char tag = 0);
  ~ESSCertID() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ASNoctstr certHash;         // SHA-1
  IssuerSerial issuerSerial;  // optional
  unsigned char issuerSerialPresent;
};

class ESSCertIDV2 : public cmsasn::Sequence<ESSCertIDV2> {
 public:
  explicit ESSCertIDV2(unsigned char tag = 0);
  ~ESSCertIDV2() override;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;

  // DEFAULT id-sha256: read as id-sha256 when absent, and left out when it
  // is id-sha256 without parameters (DER).
  AlgorithmIdentifier hashAlgorithm;
  ASNoctstr certHash;
  IssuerSerial issuerSerial;  // optional
  unsigned char issuerSerialPresent;
};

// SigningCertificate and SigningCertificateV2 share their coding.
template <class CertId>
class SigningCertificateT : public cmsasn::Sequence<SigningCertificateT<CertId>> {
 public:
  explicit SigningCertificateT(unsigned char tag = 0)
      : cmsasn::Sequence<SigningCertificateT<CertId>>(tag),
        certs(),
        policies(),
        policiesPresent(0) {}
  cmsasn::AllMembers<2> allMembers() { return {&certs, &policies}; }
  void restoreDefaults() { policiesPresent = 0; }
  int decodeMembers(cmsasn::MemberReader& r) {
    policiesPresent = 0;
    policies.clear();
    int x = r.readTagged(certs, 0x30);
    if (x < 1) return x;
    if (!r.done()) {
      if ((x = r.readTagged(policies, 0x30)) < 1) return x;
      policiesPresent = 1;
    }
    return r.finish();
  }
  cmsasn::Members<2> members() const { return {&certs, cmsasn::opt(policies, policiesPresent)}; }

  ASNsequenceList<CertId> certs;
  ASNsequenceList<PolicyInformation> policies;  // optional
  unsigned char policiesPresent;
};

using SigningCertificate = SigningCertificateT<ESSCertID>;
using SigningCertificateV2 = SigningCertificateT<ESSCertIDV2>;

class ContentHints : public cmsasn::Sequence<ContentHints> {
 public:
  explicit ContentHints(unsigned char tag = 0);
  ~ContentHints() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ASNUtf8String contentDescription;  // optional
  ASNobjectId contentType;
  unsigned char contentDescriptionPresent;
};

// The qualifiers and the commitment-type indication have the layout and
// coding of the certificate-policy structures: an OID with one value of any
// type, and an OID with a qualifier list written when not empty.
using SigPolicyQualifierInfo = PolicyQualifierInfo;
using CommitmentTypeQualifier = PolicyQualifierInfo;
using CommitmentTypeIndication = PolicyInformation;

class SignaturePolicyId : public cmsasn::Sequence<SignaturePolicyId> {
 public:
  explicit SignaturePolicyId(unsigned char tag = 0);
  ~SignaturePolicyId() override;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;

  ASNobjectId sigPolicyId;
  OtherHashAlgAndValue sigPolicyHash;
  ASNsequenceList<SigPolicyQualifierInfo> sigPolicyQualifiers;  // optional
  unsigned char sigPolicyQualifiersPresent;
};

class OtherCertID : public cmsasn::Sequence<OtherCertID> {
 public:
  explicit OtherCertID(unsigned char tag = 0);
  ~OtherCertID() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  OtherHash otherCertHash;
  IssuerSerial issuerSerial;  // optional
  unsigned char issuerSerialPresent;
};

class CrlIdentifier : public cmsasn::Sequence<CrlIdentifier> {
 public:
  explicit CrlIdentifier(unsigned char tag = 0);
  ~CrlIdentifier() override;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;

  DistinguishedName crlissuer;
  X509time crlIssuedTime;  // UTCTime
  ASNinteger crlNumber;    // optional
  unsigned char crlNumberPresent;
};

class CrlValidatedID : public cmsasn::Sequence<CrlValidatedID> {
 public:
  explicit CrlValidatedID(unsigned char tag = 0);
  ~CrlValidatedID() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  OtherHash crlHash;
  CrlIdentifier crlIdentifier;  // optional
  unsigned char crlIdentifierPresent;
};

class CrlListID : public cmsasn::Sequence<CrlListID> {
 public:
  explicit CrlListID(unsigned char tag = 0);
  ~CrlListID() override;
  cmsasn::AllMembers<1> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<1> members() const;

  ASNsequenceList<CrlValidatedID> crls;
};

class OcspIdentifier : public cmsasn::Sequence<OcspIdentifier> {
 public:
  explicit OcspIdentifier(unsigned char tag = 0);
  ~OcspIdentifier() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ResponderID ocspResponderID;
  X509time producedAt;  // GeneralizedTime
};

class OcspResponsesID : public cmsasn::Sequence<OcspResponsesID> {
 public:
  explicit OcspResponsesID(unsigned char tag = 0);
  ~OcspResponsesID() override;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  OcspIdentifier ocspIdentifier;
  OtherHash ocspRepHash;  // optional
  unsigned char ocspRepHashPresent;
};

class OcspListID : public cmsasn::Sequence<OcspListID> {
 public:
  explicit OcspListID(unsigned char tag = 0);
  ~OcspListID() override;
  cmsasn::AllMembers<1> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<1> members() const;

  ASNsequenceList<OcspResponsesID> ocspResponses;
};

// CrlOcspRef: crlids [0] and ocspids [1], both EXPLICIT and optional;
// otherRev [2] is not read. Read in place, the members view the received
// octets like any other member.
class CrlOcspRef : public cmsasn::Sequence<CrlOcspRef> {
 public:
  explicit CrlOcspRef(unsigned char tag = 0);
  ~CrlOcspRef() override;
  cmsasn::AllMembers<4> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ASNexpl<CrlListID> crlids;
  ASNexpl<OcspListID> ocspids;
  unsigned char crlidsPresent;
  unsigned char ocspidsPresent;
};

// RevocationValues: crlVals [0] and ocspVals [1], both EXPLICIT and
// optional; otherRevVals [2] is not read.
class RevocationValues : public cmsasn::Sequence<RevocationValues> {
 public:
  explicit RevocationValues(unsigned char tag = 0);
  ~RevocationValues() override;
  cmsasn::AllMembers<4> allMembers();
  void restoreDefaults();
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;

  ASNexpl<ASNsequenceList<SignedCertRevList>> crlVals;
  ASNexpl<ASNsequenceList<BasicOCSPResponse>> ocspVals;
  unsigned char crlValsPresent;
  unsigned char ocspValsPresent;
};

// Reference records the signature layer builds to list certificate, CRL and
// OCSP references of CMS and XML signatures uniformly (never DER).
struct CertRefRecord {
  int32_t hashId = 0;  // digest algorithm of the reference
  std::string digest;  // digest octets
  int32_t number = 0;
  DistinguishedName issuer;
  ASNinteger serial;
};

struct CrlRefRecord {
  std::string digest;
  int32_t hashId = 0;
  // The reference names its CRL (issuer, time, number), not only a digest.
  bool identifierPresent = false;
  DistinguishedName issuer;
  X509time issueTime{TAG_UTCT_TIME};
  bool crlNumberPresent = false;
  ASNinteger crlNumber;
};

struct OcspRefRecord {
  int32_t hashId = 0;
  std::string digest;
  int32_t number = 0;
  DistinguishedName responder;
  bool byKey = false;
  ASNoctstr responderKeyHash;
  X509time producedAt{TAG_GENERAL_TIME};
};
