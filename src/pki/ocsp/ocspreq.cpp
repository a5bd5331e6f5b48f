#include "pki/ocsp/ocspreq.h"

#include "pki/common/pkiasn.h"

namespace {

// Decodes `member` from `in` within the octets left of a content of
// `length`, adding what it took to `taken`: 1, or the member's answer.
int readMember(ASNobject& member, GenericFile* in, int length, int& taken, unsigned char flags) {
  if (length - taken < 2) return 0;
  int r = member.decode(in, length - taken, flags);
  if (r < 1) return r;
  taken += r;
  return 1;
}

// The optional last member of a content, taken only under identifier `id`.
int readOptionalLast(ASNobject& member, int id, GenericFile* in, int length, int& taken,
                     unsigned char flags, unsigned char& present) {
  present = 0;
  if (taken >= length) return taken == length ? 1 : 0;
  if (length - taken < 2) return 0;
  int r = ocspDecodeTagged(member, id, in, length - taken, flags);
  if (r < 1) return r;
  taken += r;
  present = 1;
  return taken == length ? 1 : 0;
}

}  // namespace

Request::Request(unsigned char t)
    : ASNsequenceF(t),
      reqCert(0x30),
      singleRequestExtensions(0xA0),
      singleRequestExtensionsPresent(0) {}

Request::~Request() = default;

void Request::releaseViews() {
  dropOwnView();
  releaseViewsOf({&reqCert, &singleRequestExtensions});
}

void Request::clear() {
  releaseViews();
  reqCert.clear();
  singleRequestExtensions.clear();
  singleRequestExtensions.get().clear();
  singleRequestExtensionsPresent = 0;
}

int Request::decodeContent(GenericFile* in, int length) {
  singleRequestExtensionsPresent = 0;
  singleRequestExtensions.get().clear();
  int taken = 0;
  int r = readMember(reqCert, in, length, taken, memberFlags());
  if (r < 1) return r;
  return readOptionalLast(singleRequestExtensions, 0xA0, in, length, taken, memberFlags(),
                          singleRequestExtensionsPresent);
}

int Request::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(
      out, {&reqCert, singleRequestExtensionsPresent ? &singleRequestExtensions : nullptr});
}

int Request::contentLength() const {
  return ocspMembersLength(
      {&reqCert, singleRequestExtensionsPresent ? &singleRequestExtensions : nullptr});
}

void Request::digestContent(LvHash* hash) const {
  ocspDigestMembers(
      hash, {&reqCert, singleRequestExtensionsPresent ? &singleRequestExtensions : nullptr});
}

// ---------------------------------------------------------------------------

TBSRequest::TBSRequest(unsigned char t)
    : ASNsequenceF(t),
      version(0xA0),
      requestorName(0xA1),
      requestList(),
      requestExtensions(0xA2),
      versionPresent(0),
      requestorNamePresent(0),
      requestExtensionsPresent(0) {
  version.get().set(0u);
}

TBSRequest::~TBSRequest() = default;

void TBSRequest::releaseViews() {
  dropOwnView();
  releaseViewsOf({&version, &requestorName, &requestList, &requestExtensions});
}

void TBSRequest::clear() {
  releaseViews();
  version.clear();
  ocspResetInteger(version, 0);
  requestorName.clear();
  requestorName.get().clear();
  requestList.clear();
  requestExtensions.clear();
  requestExtensions.get().clear();
  versionPresent = requestorNamePresent = requestExtensionsPresent = 0;
}

int TBSRequest::decodeContent(GenericFile* in, int length) {
  versionPresent = requestorNamePresent = requestExtensionsPresent = 0;
  requestList.clear();
  requestExtensions.get().clear();
  bool haveList = false;
  int taken = 0;
  const unsigned char f = memberFlags();
  for (int i = 0; i < 4 && taken < length; ++i) {
    if (length - taken < 2) return 0;
    const int next = asnPeekIdentifier(in);
    if (next < 0) return EASN_FILE;
    ASNobject* member = nullptr;
    unsigned char* present = nullptr;
    if (next == 0xA0 && !versionPresent) {
      member = &version;
      present = &versionPresent;
    } else if (next == 0xA1 && !requestorNamePresent) {
      member = &requestorName;
      present = &requestorNamePresent;
    } else if (next == 0x30 && !haveList && !requestExtensionsPresent) {
      member = &requestList;
    } else if (next == 0xA2 && haveList && !requestExtensionsPresent) {
      member = &requestExtensions;
      present = &requestExtensionsPresent;
    } else {
      return 0;
    }
    int r = readMember(*member, in, length, taken, f);
    if (r < 1) return r;
    if (present)
      *present = 1;
    else
      haveList = true;
  }
  if (!haveList || taken != length) return 0;
  if (!versionPresent) ocspResetInteger(version, 0);
  return 1;
}

int TBSRequest::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(
      out, {versionPresent ? &version : nullptr, requestorNamePresent ? &requestorName : nullptr,
            &requestList, requestExtensionsPresent ? &requestExtensions : nullptr});
}

int TBSRequest::contentLength() const {
  return ocspMembersLength({versionPresent ? &version : nullptr,
                            requestorNamePresent ? &requestorName : nullptr, &requestList,
                            requestExtensionsPresent ? &requestExtensions : nullptr});
}

void TBSRequest::digestContent(LvHash* hash) const {
  ocspDigestMembers(
      hash, {versionPresent ? &version : nullptr, requestorNamePresent ? &requestorName : nullptr,
             &requestList, requestExtensionsPresent ? &requestExtensions : nullptr});
}

// ---------------------------------------------------------------------------

Signature::Signature(unsigned char t)
    : ASNsequenceF(t), signatureAlgorithm(0x30), signature(), certs(0xA0), certsPresent(0) {}

Signature::~Signature() = default;

void Signature::releaseViews() {
  dropOwnView();
  releaseViewsOf({&signatureAlgorithm, &signature, &certs});
}

void Signature::clear() {
  releaseViews();
  signatureAlgorithm.clear();
  signature.clear();
  certs.clear();
  certs.get().clear();
  certsPresent = 0;
}

int Signature::decodeContent(GenericFile* in, int length) {
  certsPresent = 0;
  certs.get().clear();
  int taken = 0;
  int r = readMember(signatureAlgorithm, in, length, taken, memberFlags());
  if (r < 1) return r;
  if ((r = readMember(signature, in, length, taken, memberFlags())) < 1) return r;
  r = readOptionalLast(certs, 0xA0, in, length, taken, ocspKeptMemberFlags(*this), certsPresent);
  return r == 1 && certsPresent && !ocspCertsKept(certs) ? 0 : r;
}

int Signature::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(out, {&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

int Signature::contentLength() const {
  return ocspMembersLength({&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

void Signature::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

// ---------------------------------------------------------------------------

OCSPRequest::OCSPRequest(unsigned char t)
    : ASNsequenceF(t), tbsRequest(0x30), optionalSignature(0xA0), optionalSignaturePresent(0) {}

OCSPRequest::~OCSPRequest() = default;

void OCSPRequest::releaseViews() {
  dropOwnView();
  releaseViewsOf({&tbsRequest, &optionalSignature});
}

void OCSPRequest::clear() {
  releaseViews();
  tbsRequest.clear();
  optionalSignature.clear();
  optionalSignature.get().clear();
  optionalSignaturePresent = 0;
}

int OCSPRequest::decodeContent(GenericFile* in, int length) {
  optionalSignaturePresent = 0;
  int taken = 0;
  // The signed part keeps its received octets.
  int r = readMember(tbsRequest, in, length, taken, ocspKeptMemberFlags(*this));
  if (r < 1) return r;
  return readOptionalLast(optionalSignature, 0xA0, in, length, taken, memberFlags(),
                          optionalSignaturePresent);
}

int OCSPRequest::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(out,
                           {&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}

int OCSPRequest::contentLength() const {
  return ocspMembersLength({&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}

void OCSPRequest::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}
