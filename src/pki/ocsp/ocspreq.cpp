#include "pki/ocsp/ocspreq.h"

#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

namespace {

using keyasn::MemberReader;

// The optional last member of a content, taken only under identifier `id`.
int readOptionalLast(MemberReader& m, ASNobject& member, int id, unsigned char flags,
                     unsigned char& present) {
  present = 0;
  if (m.done()) return m.finish();
  const int r = m.readTagged(member, id, flags);
  if (r < 1) return r;
  present = 1;
  return m.finish();
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
  MemberReader m{in, length, memberFlags()};
  int r = m.read(reqCert);
  if (r < 1) return r;
  return readOptionalLast(m, singleRequestExtensions, 0xA0, memberFlags(),
                          singleRequestExtensionsPresent);
}

int Request::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {&reqCert, singleRequestExtensionsPresent ? &singleRequestExtensions : nullptr});
}

int Request::contentLength() const {
  return keyasn::membersLength(
      {&reqCert, singleRequestExtensionsPresent ? &singleRequestExtensions : nullptr});
}

void Request::digestContent(LvHash* hash) const {
  keyasn::digestMembers(
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
  MemberReader m{in, length, memberFlags()};
  for (int i = 0; i < 4 && !m.done(); ++i) {
    if (m.left() < 2) return 0;
    const int next = m.peek();
    if (next < 0) return next;
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
    const int r = m.read(*member);
    if (r < 1) return r;
    if (present)
      *present = 1;
    else
      haveList = true;
  }
  if (!haveList || !m.finish()) return 0;
  if (!versionPresent) ocspResetInteger(version, 0);
  return 1;
}

int TBSRequest::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(
      out, {versionPresent ? &version : nullptr, requestorNamePresent ? &requestorName : nullptr,
            &requestList, requestExtensionsPresent ? &requestExtensions : nullptr});
}

int TBSRequest::contentLength() const {
  return keyasn::membersLength({versionPresent ? &version : nullptr,
                            requestorNamePresent ? &requestorName : nullptr, &requestList,
                            requestExtensionsPresent ? &requestExtensions : nullptr});
}

void TBSRequest::digestContent(LvHash* hash) const {
  keyasn::digestMembers(
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
  MemberReader m{in, length, memberFlags()};
  int r = m.read(signatureAlgorithm);
  if (r < 1) return r;
  if ((r = m.read(signature)) < 1) return r;
  r = readOptionalLast(m, certs, 0xA0, ocspKeptMemberFlags(*this), certsPresent);
  return r == 1 && certsPresent && !ocspCertsKept(certs) ? 0 : r;
}

int Signature::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

int Signature::contentLength() const {
  return keyasn::membersLength({&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
}

void Signature::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&signatureAlgorithm, &signature, certsPresent ? &certs : nullptr});
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
  MemberReader m{in, length, memberFlags()};
  // The signed part keeps its received octets.
  int r = m.read(tbsRequest, ocspKeptMemberFlags(*this));
  if (r < 1) return r;
  return readOptionalLast(m, optionalSignature, 0xA0, memberFlags(), optionalSignaturePresent);
}

int OCSPRequest::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out,
                           {&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}

int OCSPRequest::contentLength() const {
  return keyasn::membersLength({&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}

void OCSPRequest::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&tbsRequest, optionalSignaturePresent ? &optionalSignature : nullptr});
}
