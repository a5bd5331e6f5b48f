#include "pki/ocsp/vessikreq.h"

#include "base/commonerror.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/common/pkiasn.h"

#include <cstring>

namespace {

// What a frame without a body carries in the body's place.
const unsigned char kNoBody[2] = {0xFF, 0x00};

int readMember(ASNobject& member, GenericFile* in, int length, int& taken, unsigned char flags) {
  if (length - taken < 2) return 0;
  int r = member.decode(in, length - taken, flags);
  if (r < 1) return r;
  taken += r;
  return 1;
}

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
  int taken = 0;
  const unsigned char f = memberFlags();
  int r = readMember(kind, in, length, taken, f);
  if (r < 1) return r;
  if ((r = readMember(time, in, length, taken, f)) < 1) return r;
  if (length - taken == 2) {
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
  if ((r = readMember(body, in, length, taken, f)) < 1) return r;
  bodyPresent = 1;
  return taken == length ? 1 : 0;
}

int ASNVessikRequestFrame::encodeContent(GenericFile* out) const {
  int r = ocspEncodeMembers(out, {&kind, &time, bodyPresent ? &body : nullptr});
  if (r < 1 || bodyPresent) return r;
  return out->write(2, kNoBody) == 0 ? 1 : EASN_FILE;
}

int ASNVessikRequestFrame::contentLength() const {
  int n = ocspMembersLength({&kind, &time, bodyPresent ? &body : nullptr});
  if (n < 0 || bodyPresent) return n;
  return n > ASN_MAX_LENGTH - 2 ? -1 : n + 2;
}

void ASNVessikRequestFrame::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&kind, &time, bodyPresent ? &body : nullptr});
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
  int taken = 0;
  int r = readMember(issuer, in, length, taken, memberFlags());
  if (r < 1) return r;
  if (taken < length) {
    if ((r = readMember(time, in, length, taken, memberFlags())) < 1) return r;
    timePresent = 1;
  }
  return taken == length ? 1 : 0;
}

int ASNCrlRequest::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(out, {&issuer, timePresent ? &time : nullptr});
}

int ASNCrlRequest::contentLength() const {
  return ocspMembersLength({&issuer, timePresent ? &time : nullptr});
}

void ASNCrlRequest::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&issuer, timePresent ? &time : nullptr});
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
  int taken = 0;
  int r = readMember(issuer, in, length, taken, memberFlags());
  if (r < 1) return r;
  if (length - taken < 2) return 0;
  const int next = asnPeekIdentifier(in);
  if (next < 0) return EASN_FILE;
  if (next != 0x80 && next != 0x81 && next != 0x82) return 0;
  if ((r = readMember(identifier, in, length, taken, memberFlags())) < 1) return r;
  return taken == length ? 1 : 0;
}

int ASNCertificateRequest::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(out, {&issuer, &identifier});
}

int ASNCertificateRequest::contentLength() const {
  return ocspMembersLength({&issuer, &identifier});
}

void ASNCertificateRequest::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&issuer, &identifier});
}

// ---------------------------------------------------------------------------

ASNCertificateID::ASNCertificateID(unsigned char t) : ASNsequenceF(t), issuer(), serialNumber() {}

ASNCertificateID::ASNCertificateID(const ASNCertificateID& other)
    : ASNsequenceF(other), issuer(other.issuer), serialNumber(other.serialNumber) {}

ASNCertificateID::~ASNCertificateID() = default;

ASNCertificateID& ASNCertificateID::operator=(const ASNCertificateID& other) {
  if (this != &other) {
    issuer = other.issuer;
    serialNumber = other.serialNumber;
  }
  return *this;
}

bool ASNCertificateID::operator==(const ASNCertificateID& other) const {
  return issuer == other.issuer && serialNumber.equals(other.serialNumber);
}

void ASNCertificateID::releaseViews() {
  dropOwnView();
  releaseViewsOf({&issuer, &serialNumber});
}

void ASNCertificateID::clear() {
  releaseViews();
  issuer.clear();
  serialNumber.clear();
}

int ASNCertificateID::decodeContent(GenericFile* in, int length) {
  int taken = 0;
  int r = readMember(issuer, in, length, taken, memberFlags());
  if (r < 1) return r;
  if ((r = readMember(serialNumber, in, length, taken, memberFlags())) < 1) return r;
  return taken == length ? 1 : 0;
}

int ASNCertificateID::encodeContent(GenericFile* out) const {
  return ocspEncodeMembers(out, {&issuer, &serialNumber});
}

int ASNCertificateID::contentLength() const { return ocspMembersLength({&issuer, &serialNumber}); }

void ASNCertificateID::digestContent(LvHash* hash) const {
  ocspDigestMembers(hash, {&issuer, &serialNumber});
}
