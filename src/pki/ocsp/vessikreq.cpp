#include "pki/ocsp/vessikreq.h"

#include "base/commonerror.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

#include <cstring>

namespace {

// What a frame without a body carries in the body's place.
const unsigned char kNoBody[2] = {0xFF, 0x00};

using keyasn::MemberReader;

}  // namespace

ASNVessikRequestFrame::ASNVessikRequestFrame(unsigned char t)
    : ASNsequenceF(t), kind(), time(TAG_UTCT_TIME), body(TAG_ANY), bodyPresent(0) {}

ASNVessikRequestFrame::~ASNVessikRequestFrame() = default;

void ASNVessikRequestFrame::setBody(const ASNobject& object) {
  // A received body is a view of its frame's octets: it lets go of them first.
  if (&object != &body) body.releaseViews();
  body.setObject(object);
  bodyPresent = 1;
}

void ASNVessikRequestFrame::clearBody() {
  body.clear();
  bodyPresent = 0;
}

void ASNVessikRequestFrame::releaseViews() {
  dropOwnView();
  releaseViewsOf({&kind, &time, &body});
}

void ASNVessikRequestFrame::clear() {
  releaseViews();
  kind.clear();
  time.clear();
  clearBody();
}

int ASNVessikRequestFrame::decodeContent(GenericFile* in, int length) {
  bodyPresent = 0;
  MemberReader m{in, length, memberFlags()};
  int r = m.read(kind);
  if (r < 1) return r;
  if ((r = m.read(time)) < 1) return r;
  if (m.left() == 2) {
    const uint32_t pos = in->tell();
    uint8_t two[2] = {0, 0};
    uint32_t got = 0;
    if (in->read(2, two, &got) != 0) return EASN_FILE;
    if (got < 2) return 0;
    if (std::memcmp(two, kNoBody, 2) == 0) {
      body.clear();
      return 1;
    }
    if (in->seek(static_cast<int32_t>(pos)) != 0) return EASN_FILE;
  }
  if ((r = m.read(body)) < 1) return r;
  bodyPresent = 1;
  return m.finish();
}

int ASNVessikRequestFrame::encodeContent(GenericFile* out) const {
  int r = keyasn::encodeMembers(out, {&kind, &time, bodyPresent ? &body : nullptr});
  if (r < 1 || bodyPresent) return r;
  return out->write(2, kNoBody) == 0 ? 1 : EASN_FILE;
}

int ASNVessikRequestFrame::contentLength() const {
  int n = keyasn::membersLength({&kind, &time, bodyPresent ? &body : nullptr});
  if (n < 0 || bodyPresent) return n;
  return n > ASN_MAX_LENGTH - 2 ? -1 : n + 2;
}

void ASNVessikRequestFrame::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&kind, &time, bodyPresent ? &body : nullptr});
  if (!bodyPresent) updateDigestBytes(kNoBody, 2, hash);
}

// ---------------------------------------------------------------------------

ASNCrlRequest::ASNCrlRequest(unsigned char t)
    : ASNsequenceF(t), issuer(), time(TAG_UTCT_TIME), timePresent(0) {}

ASNCrlRequest::~ASNCrlRequest() = default;

void ASNCrlRequest::releaseViews() {
  dropOwnView();
  releaseViewsOf({&issuer, &time});
}

void ASNCrlRequest::clear() {
  releaseViews();
  issuer.clear();
  time.clear();
  timePresent = 0;
}

int ASNCrlRequest::decodeContent(GenericFile* in, int length) {
  timePresent = 0;
  MemberReader m{in, length, memberFlags()};
  int r = m.read(issuer);
  if (r < 1) return r;
  if (!m.done()) {
    if ((r = m.read(time)) < 1) return r;
    timePresent = 1;
  }
  return m.finish();
}

int ASNCrlRequest::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&issuer, timePresent ? &time : nullptr});
}

int ASNCrlRequest::contentLength() const {
  return keyasn::membersLength({&issuer, timePresent ? &time : nullptr});
}

void ASNCrlRequest::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&issuer, timePresent ? &time : nullptr});
}

// ---------------------------------------------------------------------------

ASNCertificateRequest::ASNCertificateRequest(unsigned char t)
    : ASNsequenceF(t), issuer(), identifier(TAG_ANY) {}

ASNCertificateRequest::~ASNCertificateRequest() = default;

bool ASNCertificateRequest::setIdentifier(int type, const unsigned char* content, int n) {
  if (type < 0 || type > 2 || n < 0) return false;
  return identifier.setEncoding(static_cast<unsigned char>(0x80 | type), content, n) == 1;
}

bool ASNCertificateRequest::setIdentifier(int type, const ASNobject& value) {
  MemFile m;
  if (value.encodeContent(&m) < 1) return false;
  return setIdentifier(type, m.data(), static_cast<int>(m.length()));
}

int ASNCertificateRequest::requestType() const {
  const unsigned char t = identifier.getTag();
  return (t == 0x80 || t == 0x81 || t == 0x82) ? t & 0x1F : -1;
}

void ASNCertificateRequest::releaseViews() {
  dropOwnView();
  releaseViewsOf({&issuer, &identifier});
}

void ASNCertificateRequest::clear() {
  releaseViews();
  issuer.clear();
  identifier.clear();
  identifier.setTag(TAG_ANY);
}

int ASNCertificateRequest::decodeContent(GenericFile* in, int length) {
  MemberReader m{in, length, memberFlags()};
  int r = m.read(issuer);
  if (r < 1) return r;
  if (m.left() < 2) return 0;
  const int next = m.peek();
  if (next < 0) return next;
  if (next != 0x80 && next != 0x81 && next != 0x82) return 0;
  if ((r = m.read(identifier)) < 1) return r;
  return m.finish();
}

int ASNCertificateRequest::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&issuer, &identifier});
}

int ASNCertificateRequest::contentLength() const {
  return keyasn::membersLength({&issuer, &identifier});
}

void ASNCertificateRequest::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&issuer, &identifier});
}

// ---------------------------------------------------------------------------

bool ASNCertificateID::operator==(const ASNCertificateID& other) const {
  return issuer == other.issuer && serialNumber.equals(other.serialNumber);
}
