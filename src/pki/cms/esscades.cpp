#include "pki/cms/esscades.h"

#include "pki/common/oids.h"

using cmsasn::opt;

// ---------------------------------------------------------------------------
// OtherHash

OtherHash::OtherHash()
    : ASNchoice(0), sha1Hash(), hashAlgAndValue(), list{&sha1Hash, &hashAlgAndValue, nullptr} {}

ASNobject* const* OtherHash::objectList() const { return list; }

int OtherHash::decode(GenericFile* in, int length, unsigned char f) {
  const int next = asnPeekIdentifier(in);
  if (next != 0x04 && next != 0x24 && next != 0x30) {
    m_chosenObject = nullptr;
    return 0;
  }
  return ASNchoice::decode(in, length, f);
}

// ---------------------------------------------------------------------------
// IssuerSerial

IssuerSerial::IssuerSerial(unsigned char t)
    : cmsasn::Sequence<IssuerSerial>(t), issuer(), serialNumber() {}

IssuerSerial::~IssuerSerial() = default;

cmsasn::AllMembers<2> IssuerSerial::allMembers() { return {&issuer, &serialNumber}; }

void IssuerSerial::restoreDefaults() {}

int IssuerSerial::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(issuer, 0x30);
  if (x < 1) return x;
  if ((x = r.read(serialNumber)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> IssuerSerial::members() const { return {&issuer, &serialNumber}; }

// ---------------------------------------------------------------------------
// ESSCertID, ESSCertIDV2

ESSCertID::ESSCertID(unsigned char t)
    : cmsasn::Sequence<ESSCertID>(t), certHash(), issuerSerial(), issuerSerialPresent(0) {}

ESSCertID::~ESSCertID() = default;

cmsasn::AllMembers<2> ESSCertID::allMembers() { return {&certHash, &issuerSerial}; }

void ESSCertID::restoreDefaults() {
  issuerSerialPresent = 0;
}

int ESSCertID::decodeMembers(cmsasn::MemberReader& r) {
  issuerSerialPresent = 0;
  int x = r.read(certHash);
  if (x < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(issuerSerial, 0x30)) < 1) return x;
    issuerSerialPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<2> ESSCertID::members() const {
  return {&certHash, opt(issuerSerial, issuerSerialPresent)};
}

ESSCertIDV2::ESSCertIDV2(unsigned char t)
    : cmsasn::Sequence<ESSCertIDV2>(t),
      hashAlgorithm(),
      certHash(),
      issuerSerial(),
      issuerSerialPresent(0) {
  hashAlgorithm.set(id_sha256, nullptr);
}

ESSCertIDV2::~ESSCertIDV2() = default;

cmsasn::AllMembers<3> ESSCertIDV2::allMembers() {
  return {&hashAlgorithm, &certHash, &issuerSerial};
}

void ESSCertIDV2::restoreDefaults() {
  hashAlgorithm.set(id_sha256, nullptr);
  issuerSerialPresent = 0;
}

int ESSCertIDV2::decodeMembers(cmsasn::MemberReader& r) {
  issuerSerialPresent = 0;
  int x;
  const int first = r.peek();
  if (first == 0x30) {
    if ((x = r.read(hashAlgorithm)) < 1) return x;
  } else if (first == 0x04 || first == 0x24) {
    dropView(hashAlgorithm);
    dropView(hashAlgorithm.algorithm);
    hashAlgorithm.set(id_sha256, nullptr);
  } else {
    return 0;
  }
  if ((x = r.read(certHash)) < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(issuerSerial, 0x30)) < 1) return x;
    issuerSerialPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> ESSCertIDV2::members() const {
  // DER leaves out the default value (id-sha256 with no parameters), as openssl writes it, so a
  // built attribute is DER and a received one re-encodes as it came; signatures over a received
  // attribute cover its received octets, never this encoding.
  const bool isDefault = hashAlgorithm.algorithm == id_sha256 && !hashAlgorithm.parametersPresent;
  return {opt(hashAlgorithm, !isDefault), &certHash, opt(issuerSerial, issuerSerialPresent)};
}

// ---------------------------------------------------------------------------
// ContentHints

ContentHints::ContentHints(unsigned char t)
    : cmsasn::Sequence<ContentHints>(t),
      contentDescription(),
      contentType(),
      contentDescriptionPresent(0) {}

ContentHints::~ContentHints() = default;

cmsasn::AllMembers<2> ContentHints::allMembers() { return {&contentDescription, &contentType}; }

void ContentHints::restoreDefaults() {
  contentDescriptionPresent = 0;
}

int ContentHints::decodeMembers(cmsasn::MemberReader& r) {
  contentDescriptionPresent = 0;
  int x;
  if (r.peek() == 0x0C) {
    if ((x = r.read(contentDescription)) < 1) return x;
    contentDescriptionPresent = 1;
  }
  if ((x = r.readTagged(contentType, 0x06)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> ContentHints::members() const {
  return {opt(contentDescription, contentDescriptionPresent), &contentType};
}

// ---------------------------------------------------------------------------
// SignaturePolicyId

SignaturePolicyId::SignaturePolicyId(unsigned char t)
    : cmsasn::Sequence<SignaturePolicyId>(t),
      sigPolicyId(),
      sigPolicyHash(),
      sigPolicyQualifiers(),
      sigPolicyQualifiersPresent(0) {}

SignaturePolicyId::~SignaturePolicyId() = default;

cmsasn::AllMembers<3> SignaturePolicyId::allMembers() { return {&sigPolicyId, &sigPolicyHash, &sigPolicyQualifiers}; }

void SignaturePolicyId::restoreDefaults() {
  sigPolicyQualifiersPresent = 0;
}

int SignaturePolicyId::decodeMembers(cmsasn::MemberReader& r) {
  sigPolicyQualifiersPresent = 0;
  sigPolicyQualifiers.clear();
  int x = r.read(sigPolicyId);
  if (x < 1) return x;
  if ((x = r.readTagged(sigPolicyHash, 0x30)) < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(sigPolicyQualifiers, 0x30)) < 1) return x;
    sigPolicyQualifiersPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> SignaturePolicyId::members() const {
  return {&sigPolicyId, &sigPolicyHash, opt(sigPolicyQualifiers, sigPolicyQualifiersPresent)};
}

// ---------------------------------------------------------------------------
// OtherCertID

OtherCertID::OtherCertID(unsigned char t)
    : cmsasn::Sequence<OtherCertID>(t), otherCertHash(), issuerSerial(), issuerSerialPresent(0) {}

OtherCertID::~OtherCertID() = default;

cmsasn::AllMembers<2> OtherCertID::allMembers() { return {&otherCertHash, &issuerSerial}; }

void OtherCertID::restoreDefaults() {
  issuerSerialPresent = 0;
}

int OtherCertID::decodeMembers(cmsasn::MemberReader& r) {
  issuerSerialPresent = 0;
  int x = r.read(otherCertHash);
  if (x < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(issuerSerial, 0x30)) < 1) return x;
    issuerSerialPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<2> OtherCertID::members() const {
  return {&otherCertHash, opt(issuerSerial, issuerSerialPresent)};
}

// ---------------------------------------------------------------------------
// CrlIdentifier, CrlValidatedID, CrlListID

CrlIdentifier::CrlIdentifier(unsigned char t)
    : cmsasn::Sequence<CrlIdentifier>(t),
      crlissuer(0x30),
      crlIssuedTime(TAG_UTCT_TIME),
      crlNumber(),
      crlNumberPresent(0) {}

CrlIdentifier::~CrlIdentifier() = default;

cmsasn::AllMembers<3> CrlIdentifier::allMembers() { return {&crlissuer, &crlIssuedTime, &crlNumber}; }

void CrlIdentifier::restoreDefaults() {
  crlNumberPresent = 0;
}

int CrlIdentifier::decodeMembers(cmsasn::MemberReader& r) {
  crlNumberPresent = 0;
  int x = r.readTagged(crlissuer, 0x30);
  if (x < 1) return x;
  if ((x = r.read(crlIssuedTime)) < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(crlNumber, 0x02)) < 1) return x;
    crlNumberPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> CrlIdentifier::members() const {
  return {&crlissuer, &crlIssuedTime, opt(crlNumber, crlNumberPresent)};
}

CrlValidatedID::CrlValidatedID(unsigned char t)
    : cmsasn::Sequence<CrlValidatedID>(t), crlHash(), crlIdentifier(), crlIdentifierPresent(0) {}

CrlValidatedID::~CrlValidatedID() = default;

cmsasn::AllMembers<2> CrlValidatedID::allMembers() { return {&crlHash, &crlIdentifier}; }

void CrlValidatedID::restoreDefaults() {
  crlIdentifierPresent = 0;
}

int CrlValidatedID::decodeMembers(cmsasn::MemberReader& r) {
  crlIdentifierPresent = 0;
  int x = r.read(crlHash);
  if (x < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(crlIdentifier, 0x30)) < 1) return x;
    crlIdentifierPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<2> CrlValidatedID::members() const {
  return {&crlHash, opt(crlIdentifier, crlIdentifierPresent)};
}

CrlListID::CrlListID(unsigned char t) : cmsasn::Sequence<CrlListID>(t), crls() {}

CrlListID::~CrlListID() = default;

cmsasn::AllMembers<1> CrlListID::allMembers() { return {&crls}; }

void CrlListID::restoreDefaults() {}

int CrlListID::decodeMembers(cmsasn::MemberReader& r) {
  const int x = r.readTagged(crls, 0x30);
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<1> CrlListID::members() const { return {&crls}; }

// ---------------------------------------------------------------------------
// OcspIdentifier, OcspResponsesID, OcspListID

OcspIdentifier::OcspIdentifier(unsigned char t)
    : cmsasn::Sequence<OcspIdentifier>(t), ocspResponderID(), producedAt(TAG_GENERAL_TIME) {}

OcspIdentifier::~OcspIdentifier() = default;

cmsasn::AllMembers<2> OcspIdentifier::allMembers() { return {&ocspResponderID, &producedAt}; }

void OcspIdentifier::restoreDefaults() {}

int OcspIdentifier::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(ocspResponderID);
  if (x < 1) return x;
  if ((x = r.readTagged(producedAt, 0x18)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> OcspIdentifier::members() const { return {&ocspResponderID, &producedAt}; }

OcspResponsesID::OcspResponsesID(unsigned char t)
    : cmsasn::Sequence<OcspResponsesID>(t),
      ocspIdentifier(),
      ocspRepHash(),
      ocspRepHashPresent(0) {}

OcspResponsesID::~OcspResponsesID() = default;

cmsasn::AllMembers<2> OcspResponsesID::allMembers() { return {&ocspIdentifier, &ocspRepHash}; }

void OcspResponsesID::restoreDefaults() {
  ocspRepHashPresent = 0;
}

int OcspResponsesID::decodeMembers(cmsasn::MemberReader& r) {
  ocspRepHashPresent = 0;
  int x = r.readTagged(ocspIdentifier, 0x30);
  if (x < 1) return x;
  if (!r.done()) {
    if ((x = r.read(ocspRepHash)) < 1) return x;
    ocspRepHashPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<2> OcspResponsesID::members() const {
  return {&ocspIdentifier, opt(ocspRepHash, ocspRepHashPresent)};
}

OcspListID::OcspListID(unsigned char t) : cmsasn::Sequence<OcspListID>(t), ocspResponses() {}

OcspListID::~OcspListID() = default;

cmsasn::AllMembers<1> OcspListID::allMembers() { return {&ocspResponses}; }

void OcspListID::restoreDefaults() {}

int OcspListID::decodeMembers(cmsasn::MemberReader& r) {
  const int x = r.readTagged(ocspResponses, 0x30);
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<1> OcspListID::members() const { return {&ocspResponses}; }

// ---------------------------------------------------------------------------
// CrlOcspRef, RevocationValues

CrlOcspRef::CrlOcspRef(unsigned char t)
    : cmsasn::Sequence<CrlOcspRef>(t),
      crlids(0xA0),
      ocspids(0xA1),
      crlidsPresent(0),
      ocspidsPresent(0) {}

CrlOcspRef::~CrlOcspRef() = default;

cmsasn::AllMembers<4> CrlOcspRef::allMembers() { return {&crlids.get(), &crlids, &ocspids.get(), &ocspids}; }

void CrlOcspRef::restoreDefaults() {
  crlidsPresent = ocspidsPresent = 0;
}

int CrlOcspRef::decodeMembers(cmsasn::MemberReader& r) {
  crlidsPresent = ocspidsPresent = 0;
  // Each wrapper decodes its inner value itself, in place when read in place.
  const int x = cmsasn::readOptionals<2>(
      r, {{{0xA0, &crlids, &crlidsPresent}, {0xA1, &ocspids, &ocspidsPresent}}});
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<2> CrlOcspRef::members() const {
  return {opt(crlids, crlidsPresent), opt(ocspids, ocspidsPresent)};
}

RevocationValues::RevocationValues(unsigned char t)
    : cmsasn::Sequence<RevocationValues>(t),
      crlVals(0xA0),
      ocspVals(0xA1),
      crlValsPresent(0),
      ocspValsPresent(0) {}

RevocationValues::~RevocationValues() = default;

cmsasn::AllMembers<4> RevocationValues::allMembers() { return {&crlVals.get(), &crlVals, &ocspVals.get(), &ocspVals}; }

void RevocationValues::restoreDefaults() {
  crlValsPresent = ocspValsPresent = 0;
}

int RevocationValues::decodeMembers(cmsasn::MemberReader& r) {
  crlValsPresent = ocspValsPresent = 0;
  const int x = cmsasn::readOptionals<2>(
      r, {{{0xA0, &crlVals, &crlValsPresent}, {0xA1, &ocspVals, &ocspValsPresent}}});
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<2> RevocationValues::members() const {
  return {opt(crlVals, crlValsPresent), opt(ocspVals, ocspValsPresent)};
}
