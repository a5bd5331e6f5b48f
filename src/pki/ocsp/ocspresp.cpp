#include "pki/ocsp/ocspresp.h"

#include "base/commonerror.h"
#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

namespace {

using keyasn::MemberReader;

void setGeneralized(X509time& t) { t.setTag(TAG_GENERAL_TIME); }

// Reads a member holding `time`, which must be a GeneralizedTime (RFC 6960
// has no UTCTime, which X509time would also take): 1, 0, or the member's
// answer.
int readGeneralizedTime(MemberReader& m, ASNobject& member, const X509time& time) {
  const int r = m.read(member);
  if (r < 1) return r;
  return time.form() == TAG_GENERAL_TIME ? 1 : 0;
}

const char* const kExplSrc = "libasn/asnexpl";

void refuseConstTarget(const ASNobject& target) {
  checkInvariant(!(target.flags & ASN_FLAG_CONST), kExplSrc, 62, "!( flags & ASN_FLAG_CONST )");
}

}  // namespace

unsigned char ocspKeptMemberFlags(const ASNobject& owner) {
  return owner.memberFlags() ? ASN_FLAG_CONST
                             : static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY);
}

void ocspResetInteger(ASNexpl<ASNinteger>& member, uint32_t value) {
  // A view's octets may be gone (or change) once its owner reads anew.
  dropView(member);
  dropView(*member);
  member->set(value);
}

bool ocspCertsKept(const ASNexpl<OCSPCertList>& certs) {
  if (!certs->isConstView()) return false;
  for (POSITION pos = certs->GetHeadPosition(); pos;)
    if (!certs->GetNext(pos)->isConstView()) return false;
  return true;
}

// ---------------------------------------------------------------------------

OCSPCertList& OCSPCertList::operator=(const OCSPCertList& other) {
  refuseConstTarget(*this);
  assign(other);
  return *this;
}

// ---------------------------------------------------------------------------

CertID::CertID(unsigned char t)
    : ASNsequenceF(t), hashAlgorithm(0x30), issuerNameHash(), issuerKeyHash(), serialNumber() {}

CertID::CertID(const CertID& other)
    : ASNsequenceF(other),
      hashAlgorithm(other.hashAlgorithm),
      issuerNameHash(other.issuerNameHash),
      issuerKeyHash(other.issuerKeyHash),
      serialNumber(other.serialNumber) {}

CertID::~CertID() = default;

CertID& CertID::operator=(const CertID& other) {
  refuseConstTarget(*this);
  if (this != &other) {
    hashAlgorithm = other.hashAlgorithm;
    issuerNameHash = other.issuerNameHash;
    issuerKeyHash = other.issuerKeyHash;
    serialNumber = other.serialNumber;
  }
  return *this;
}

void CertID::releaseViews() {
  dropOwnView();
  releaseViewsOf({&hashAlgorithm, &issuerNameHash, &issuerKeyHash, &serialNumber});
}

void CertID::clear() {
  releaseViews();
  hashAlgorithm.clear();
  issuerNameHash.clear();
  issuerKeyHash.clear();
  serialNumber.clear();
}

int CertID::decodeContent(GenericFile* in, int length) {
  MemberReader m{in, length, memberFlags()};
  for (ASNobject* member :
       {static_cast<ASNobject*>(&hashAlgorithm), static_cast<ASNobject*>(&issuerNameHash),
        static_cast<ASNobject*>(&issuerKeyHash), static_cast<ASNobject*>(&serialNumber)}) {
    int r = m.read(*member);
    if (r < 1) return r;
  }
  return m.finish();
}

int CertID::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&hashAlgorithm, &issuerNameHash, &issuerKeyHash, &serialNumber});
}

int CertID::contentLength() const {
  return keyasn::membersLength({&hashAlgorithm, &issuerNameHash, &issuerKeyHash, &serialNumber});
}

void CertID::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&hashAlgorithm, &issuerNameHash, &issuerKeyHash, &serialNumber});
}

// ---------------------------------------------------------------------------

RevokedInfo::RevokedInfo(unsigned char t)
    : ASNsequenceF(t),
      revocationTime(TAG_GENERAL_TIME),
      revocationReason(0xA0),
      revocationReasonPresent(0) {}

RevokedInfo::~RevokedInfo() = default;

RevokedInfo& RevokedInfo::operator=(const RevokedInfo& other) {
  refuseConstTarget(*this);
  if (this != &other) {
    revocationTime = other.revocationTime;
    revocationReason.get() = other.revocationReason.get();
    revocationReasonPresent = other.revocationReasonPresent;
  }
  return *this;
}

void RevokedInfo::releaseViews() {
  dropOwnView();
  releaseViewsOf({&revocationTime, &revocationReason});
}

void RevokedInfo::clear() {
  releaseViews();
  revocationTime.clear();
  revocationReason.clear();
  revocationReason.get().clear();
  revocationReasonPresent = 0;
}

int RevokedInfo::decodeContent(GenericFile* in, int length) {
  revocationReasonPresent = 0;
  MemberReader m{in, length, memberFlags()};
  int r = readGeneralizedTime(m, revocationTime, revocationTime);
  if (r < 1) return r;
  if (!m.done()) {
    r = m.readTagged(revocationReason, 0xA0);
    if (r < 1) return r;
    revocationReasonPresent = 1;
  }
  return m.finish();
}

int RevokedInfo::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {&revocationTime, revocationReasonPresent ? &revocationReason : nullptr});
}

int RevokedInfo::contentLength() const {
  return keyasn::membersLength(
      {&revocationTime, revocationReasonPresent ? &revocationReason : nullptr});
}

void RevokedInfo::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&revocationTime, revocationReasonPresent ? &revocationReason : nullptr});
}

// ---------------------------------------------------------------------------

int OcspChoice::decode(GenericFile* in, int length, unsigned char f) {
  // A constructed [0] or a primitive [1] is no CertStatus, whatever the
  // framework would match.
  const int next = asnPeekIdentifier(in);
  if (next < 0) return EASN_FILE;
  if (!takes(next)) {
    m_chosenObject = nullptr;
    return 0;
  }
  return ASNchoice::decode(in, length, f);
}

int OcspChoice::encode(GenericFile* out) const {
  return nothingChosen() ? 0 : ASNchoice::encode(out);
}

int OcspChoice::encodedLength() const {
  return nothingChosen() ? -1 : ASNchoice::encodedLength();
}

int OcspChoice::digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const {
  return nothingChosen() ? 0 : ASNchoice::digest(hashId, digestBuff, digestBuffLen);
}

void OcspChoice::updateChoiceDigest(LvHash* hash) const {
  if (!nothingChosen()) ASNchoice::updateChoiceDigest(hash);
}

// ---------------------------------------------------------------------------

CertStatus::CertStatus()
    : good(0x80), revoked(0xA1), unknown(0x82), list{&good, &revoked, &unknown, nullptr} {}

CertStatus::CertStatus(const CertStatus& other)
    : OcspChoice(other),
      good(0x80),
      revoked(0xA1),
      unknown(0x82),
      list{&good, &revoked, &unknown, nullptr} {
  ASNchoice::operator=(other);
}

CertStatus& CertStatus::operator=(const CertStatus& other) {
  refuseConstTarget(*this);
  ASNchoice::operator=(other);
  return *this;
}

ASNobject* const* CertStatus::objectList() const { return list; }

// ---------------------------------------------------------------------------

ResponderID::ResponderID() : byName(0xA1), byKey(0xA2), list{&byName, &byKey, nullptr} {}

ResponderID::ResponderID(const ResponderID& other)
    : OcspChoice(other), byName(0xA1), byKey(0xA2), list{&byName, &byKey, nullptr} {
  ASNchoice::operator=(other);
}

ResponderID& ResponderID::operator=(const ResponderID& other) {
  refuseConstTarget(*this);
  ASNchoice::operator=(other);
  return *this;
}

ASNobject* const* ResponderID::objectList() const { return list; }

// ---------------------------------------------------------------------------

SingleResponse::SingleResponse(unsigned char t)
    : ASNsequenceF(t),
      certID(0x30),
      certStatus(),
      thisUpdate(TAG_GENERAL_TIME),
      nextUpdate(0xA0),
      singleExtensions(0xA1),
      nextUpdatePresent(0),
      singleExtensionsPresent(0) {
  setGeneralized(nextUpdate.get());
}

SingleResponse::~SingleResponse() = default;

SingleResponse& SingleResponse::operator=(const SingleResponse& other) {
  refuseConstTarget(*this);
  if (this == &other) return *this;
  certID = other.certID;
  certStatus = other.certStatus;
  thisUpdate = other.thisUpdate;
  nextUpdate.get() = other.nextUpdate.get();
  singleExtensions.get().assign(other.singleExtensions.get());
  nextUpdatePresent = other.nextUpdatePresent;
  singleExtensionsPresent = other.singleExtensionsPresent;
  return *this;
}

void SingleResponse::releaseViews() {
  dropOwnView();
  releaseViewsOf({&certID, &certStatus, &thisUpdate, &nextUpdate, &singleExtensions});
}

void SingleResponse::clear() {
  releaseViews();
  certID.clear();
  certStatus.clear();
  thisUpdate.clear();
  nextUpdate.clear();
  singleExtensions.clear();
  singleExtensions.get().clear();
  nextUpdatePresent = 0;
  singleExtensionsPresent = 0;
}

int SingleResponse::decodeContent(GenericFile* in, int length) {
  nextUpdatePresent = 0;
  singleExtensionsPresent = 0;
  singleExtensions.get().clear();
  MemberReader m{in, length, memberFlags()};
  int r = m.read(certID);
  if (r < 1) return r;
  if ((r = m.read(certStatus)) < 1) return r;
  if ((r = readGeneralizedTime(m, thisUpdate, thisUpdate)) < 1) return r;
  if (m.done()) return m.finish();
  const int next = m.peek();
  if (next < 0) return EASN_FILE;
  if (next == 0xA0) {
    if ((r = readGeneralizedTime(m, nextUpdate, nextUpdate.get())) < 1) return r;
    nextUpdatePresent = 1;
    if (m.done()) return m.finish();
  }
  if ((r = m.readTagged(singleExtensions, 0xA1)) < 1) return r;
  singleExtensionsPresent = 1;
  return m.finish();
}

int SingleResponse::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {&certID, &certStatus, &thisUpdate, nextUpdatePresent ? &nextUpdate : nullptr,
            singleExtensionsPresent ? &singleExtensions : nullptr});
}

int SingleResponse::contentLength() const {
  return keyasn::membersLength({&certID, &certStatus, &thisUpdate,
                            nextUpdatePresent ? &nextUpdate : nullptr,
                            singleExtensionsPresent ? &singleExtensions : nullptr});
}

void SingleResponse::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash,
                    {&certID, &certStatus, &thisUpdate, nextUpdatePresent ? &nextUpdate : nullptr,
                     singleExtensionsPresent ? &singleExtensions : nullptr});
}

// ---------------------------------------------------------------------------

ResponseData::ResponseData(unsigned char t)
    : ASNsequenceF(t),
      version(0xA0),
      responderID(),
      producedAt(TAG_GENERAL_TIME),
      responses(),
      responseExtensions(0xA1),
      versionPresent(0),
      responseExtensionsPresent(0) {
  version.get().set(0u);
}

ResponseData::~ResponseData() = default;

ResponseData& ResponseData::operator=(const ResponseData& other) {
  refuseConstTarget(*this);
  if (this == &other) return *this;
  version.get() = other.version.get();
  responderID = other.responderID;
  producedAt = other.producedAt;
  responses.assign(other.responses);
  responseExtensions.get().assign(other.responseExtensions.get());
  versionPresent = other.versionPresent;
  responseExtensionsPresent = other.responseExtensionsPresent;
  return *this;
}

void ResponseData::releaseViews() {
  dropOwnView();
  releaseViewsOf({&version, &responderID, &producedAt, &responses, &responseExtensions});
}

void ResponseData::clear() {
  releaseViews();
  version.clear();
  ocspResetInteger(version, 0);
  responderID.clear();
  producedAt.clear();
  responses.clear();
  responseExtensions.clear();
  responseExtensions.get().clear();
  versionPresent = 0;
  responseExtensionsPresent = 0;
}

int ResponseData::decodeContent(GenericFile* in, int length) {
  versionPresent = 0;
  responseExtensionsPresent = 0;
  responseExtensions.get().clear();
  MemberReader m{in, length, memberFlags()};
  int r;
  // The version may stand before the responderID; either is recognised by
  // its exact identifier octet, anything else there is no ResponseData.
  bool haveResponder = false;
  for (int i = 0; i < 2 && !haveResponder; ++i) {
    if (m.left() < 2) return 0;
    const int next = m.peek();
    if (next < 0) return EASN_FILE;
    if (next == 0xA0 && !versionPresent) {
      if ((r = m.read(version)) < 1) return r;
      versionPresent = 1;
    } else if (next == 0xA1 || next == 0xA2) {
      if ((r = m.read(responderID)) < 1) return r;
      haveResponder = true;
    } else {
      return 0;
    }
  }
  if (!haveResponder) return 0;
  if (!versionPresent) ocspResetInteger(version, 0);
  if ((r = readGeneralizedTime(m, producedAt, producedAt)) < 1) return r;
  if ((r = m.read(responses)) < 1) return r;
  if (!m.done()) {
    if ((r = m.readTagged(responseExtensions, 0xA1)) < 1) return r;
    responseExtensionsPresent = 1;
  }
  return m.finish();
}

int ResponseData::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {versionPresent ? &version : nullptr, &responderID, &producedAt, &responses,
            responseExtensionsPresent ? &responseExtensions : nullptr});
}

int ResponseData::contentLength() const {
  return keyasn::membersLength({versionPresent ? &version : nullptr, &responderID, &producedAt,
                            &responses, responseExtensionsPresent ? &responseExtensions : nullptr});
}

void ResponseData::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {versionPresent ? &version : nullptr, &responderID, &producedAt,
                           &responses, responseExtensionsPresent ? &responseExtensions : nullptr});
}

// ---------------------------------------------------------------------------

BasicOCSPResponse::BasicOCSPResponse(unsigned char t)
    : ASNsequenceF(t),
      tbsResponseData(0x30),
      signatureAlgorithm(0x30),
      signature(),
      certs(0xA0),
      certsPresent(0) {}

BasicOCSPResponse::~BasicOCSPResponse() = default;

void BasicOCSPResponse::releaseViews() {
  dropOwnView();
  releaseViewsOf({&tbsResponseData, &signatureAlgorithm, &signature, &certs});
}

void BasicOCSPResponse::clear() {
  releaseViews();
  tbsResponseData.clear();
  signatureAlgorithm.clear();
  signature.clear();
  certs.clear();
  certs.get().clear();
  certsPresent = 0;
}

int BasicOCSPResponse::decodeContent(GenericFile* in, int length) {
  certsPresent = 0;
  certs.get().clear();
  MemberReader m{in, length, memberFlags()};
  const unsigned char kept = ocspKeptMemberFlags(*this);
  int r = m.read(tbsResponseData, kept);
  if (r < 1) return r;
  if ((r = m.read(signatureAlgorithm)) < 1) return r;
  if ((r = m.read(signature)) < 1) return r;
  if (!m.done()) {
    if ((r = m.readTagged(certs, 0xA0, kept)) < 1) return r;
    if (!ocspCertsKept(certs)) return 0;
    certsPresent = 1;
  }
  return m.finish();
}

int BasicOCSPResponse::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {&tbsResponseData, &signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

int BasicOCSPResponse::contentLength() const {
  return keyasn::membersLength(
      {&tbsResponseData, &signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

void BasicOCSPResponse::digestContent(LvHash* hash) const {
  keyasn::digestMembers(
      hash, {&tbsResponseData, &signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

int BasicOCSPResponse::verifySignature(const SignedCertificate& signerCertificate) const {
  return verifySignature(signerCertificate.tbsCertificate.subjectPublicKeyInfo);
}

int BasicOCSPResponse::verifySignature(const SubPubKeyInfo& signerKey) const {
  return verifySignedObject(signerKey, signatureAlgorithm, tbsResponseData, signature);
}

// ---------------------------------------------------------------------------

ResponseBytes::ResponseBytes(unsigned char t) : ASNsequenceF(t), responseType(), response() {}

ResponseBytes::~ResponseBytes() = default;

void ResponseBytes::releaseViews() {
  dropOwnView();
  releaseViewsOf({&responseType, &response});
}

void ResponseBytes::clear() {
  releaseViews();
  responseType.clear();
  response.clear();
}

int ResponseBytes::decodeContent(GenericFile* in, int length) {
  MemberReader m{in, length, memberFlags()};
  int r = m.read(responseType);
  if (r < 1) return r;
  if ((r = m.read(response)) < 1) return r;
  return m.finish();
}

int ResponseBytes::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&responseType, &response});
}

int ResponseBytes::contentLength() const { return keyasn::membersLength({&responseType, &response}); }

void ResponseBytes::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&responseType, &response});
}

// ---------------------------------------------------------------------------

OCSPResponse::OCSPResponse(unsigned char t)
    : ASNsequenceF(t), responseStatus(), responseBytes(0xA0), responseBytesPresent(0) {}

OCSPResponse::~OCSPResponse() = default;

void OCSPResponse::releaseViews() {
  dropOwnView();
  releaseViewsOf({&responseStatus, &responseBytes});
}

void OCSPResponse::clear() {
  releaseViews();
  responseStatus.clear();
  responseBytes.clear();
  responseBytes.get().clear();
  responseBytesPresent = 0;
}

int OCSPResponse::decodeContent(GenericFile* in, int length) {
  responseBytesPresent = 0;
  MemberReader m{in, length, memberFlags()};
  int r = m.read(responseStatus);
  if (r < 1) return r;
  if (!m.done()) {
    if ((r = m.readTagged(responseBytes, 0xA0)) < 1) return r;
    responseBytesPresent = 1;
  }
  return m.finish();
}

int OCSPResponse::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&responseStatus, responseBytesPresent ? &responseBytes : nullptr});
}

int OCSPResponse::contentLength() const {
  return keyasn::membersLength({&responseStatus, responseBytesPresent ? &responseBytes : nullptr});
}

void OCSPResponse::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&responseStatus, responseBytesPresent ? &responseBytes : nullptr});
}
