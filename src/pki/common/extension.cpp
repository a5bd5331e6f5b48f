#include "pki/common/extension.h"

#include "pki/common/pkiasn.h"

namespace {

int sumLengths(int64_t n) { return n < 0 || n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n); }

// Puts critical back to its default FALSE. A BOOLEAN read in place refuses
// set(), so it is decoded afresh from a FALSE of our own, which also drops
// the view of the octets it was read from.
int resetCritical(ASNbool& critical) {
  static const unsigned char kFalse[] = {0x01, 0x01, 0x00};
  MemFile m(const_cast<unsigned char*>(kFalse), sizeof kFalse, false);
  return critical.decode(&m, sizeof kFalse, 0) == static_cast<int>(sizeof kFalse) ? 1 : EASN_MEM;
}

}  // namespace

Extension::Extension(unsigned char t) : ASNsequenceF(t), extnID(), critical(), extnValue() {
  // A BOOLEAN starts TRUE; critical is DEFAULT FALSE, and a new extension
  // must not be written critical.
  critical.set(false);
}

Extension::Extension(const Extension& other)
    : ASNsequenceF(other),
      extnID(other.extnID),
      critical(other.critical),
      extnValue(other.extnValue) {}

Extension::~Extension() = default;

Extension& Extension::operator=(const Extension& other) {
  if (this != &other) {
    extnID = other.extnID;
    critical = other.critical;
    extnValue = other.extnValue;
  }
  return *this;
}

void Extension::releaseViews() {
  dropOwnView();
  releaseViewsOf({&extnID, &critical, &extnValue});
}

void Extension::clear() {
  releaseViews();
  extnID.clear();
  resetCritical(critical);
  extnValue.clear();
}

int Extension::decodeContent(GenericFile* in, int length) {
  if (resetCritical(critical) != 1) return EASN_MEM;
  if (length < 2) return 0;
  int r = extnID.decode(in, length, memberFlags());
  if (r < 1) return r;
  int taken = r;
  if (length - taken < 2) return 0;
  const int next = asnPeekIdentifier(in);
  if (next < 0) return EASN_FILE;
  if (next == 0x01) {
    r = critical.decode(in, length - taken, memberFlags());
    if (r < 1) return r;
    taken += r;
    if (length - taken < 2) return 0;
  }
  r = extnValue.decode(in, length - taken, memberFlags());
  if (r < 1) return r;
  return int64_t(taken) + r == length ? 1 : 0;
}

int Extension::encodeContent(GenericFile* out) const {
  int r = extnID.encode(out);
  if (r < 1) return r;
  if (critical.get()) {
    r = critical.encode(out);
    if (r < 1) return r;
  }
  r = extnValue.encode(out);
  return r < 1 ? r : 1;
}

int Extension::contentLength() const {
  int a = extnID.encodedLength();
  int b = critical.get() ? critical.encodedLength() : 0;
  int c = extnValue.encodedLength();
  if (a < 0 || b < 0 || c < 0) return -1;
  return sumLengths(int64_t(a) + b + c);
}

void Extension::digestContent(LvHash* hash) const {
  extnID.updateDigest(hash);
  if (critical.get()) critical.updateDigest(hash);
  extnValue.updateDigest(hash);
}

const Extension* findExtensionByOid(const Extensions& list, const ASNobjectId& oid) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const Extension* e = list.GetNext(pos);
    if (e && e->extnID == oid) return e;
  }
  return nullptr;
}

Extension* findExtensionByOid(Extensions& list, const ASNobjectId& oid) {
  return const_cast<Extension*>(findExtensionByOid(static_cast<const Extensions&>(list), oid));
}

const Extension* findExtensionByOidText(const Extensions& list, const char* text) {
  ASNobjectId oid;
  if (!text || !oid.set(text, ".")) return nullptr;
  return findExtensionByOid(list, oid);
}

// ---------------------------------------------------------------------------

InfoTypeAndValue::InfoTypeAndValue(unsigned char t)
    : ASNsequenceF(t), infoType(), infoValue(TAG_ANY), infoValuePresent(0) {}

InfoTypeAndValue::InfoTypeAndValue(const InfoTypeAndValue& other)
    : ASNsequenceF(other),
      infoType(other.infoType),
      infoValue(TAG_ANY),
      infoValuePresent(other.infoValuePresent) {
  if (infoValuePresent) infoValue = other.infoValue;
}

InfoTypeAndValue::~InfoTypeAndValue() = default;

InfoTypeAndValue& InfoTypeAndValue::operator=(const InfoTypeAndValue& other) {
  if (this != &other) {
    infoType = other.infoType;
    infoValuePresent = other.infoValuePresent;
    if (infoValuePresent)
      infoValue = other.infoValue;
    else
      infoValue.clear();
  }
  return *this;
}

void InfoTypeAndValue::releaseViews() {
  dropOwnView();
  releaseViewsOf({&infoType, &infoValue});
}

void InfoTypeAndValue::clear() {
  releaseViews();
  infoType.clear();
  infoValue.clear();
  infoValuePresent = 0;
}

int InfoTypeAndValue::decodeContent(GenericFile* in, int length) {
  infoValuePresent = 0;
  infoValue.clear();
  if (length < 2) return 0;
  int r = infoType.decode(in, length, memberFlags());
  if (r < 1) return r;
  if (r >= length) return r == length ? 1 : 0;
  int v = infoValue.decode(in, length - r, memberFlags());
  if (v < 1) return v;
  infoValuePresent = 1;
  return int64_t(r) + v == length ? 1 : 0;
}

int InfoTypeAndValue::encodeContent(GenericFile* out) const {
  int r = infoType.encode(out);
  if (r < 1) return r;
  if (infoValuePresent) {
    r = infoValue.encode(out);
    if (r < 1) return r;
  }
  return 1;
}

int InfoTypeAndValue::contentLength() const {
  int a = infoType.encodedLength();
  int b = infoValuePresent ? infoValue.encodedLength() : 0;
  if (a < 0 || b < 0) return -1;
  return sumLengths(int64_t(a) + b);
}

void InfoTypeAndValue::digestContent(LvHash* hash) const {
  infoType.updateDigest(hash);
  if (infoValuePresent) infoValue.updateDigest(hash);
}

// ---------------------------------------------------------------------------

PolicyIdAndNote::PolicyIdAndNote(unsigned char t) : ASNsequenceF(t), policyId(), note() {}

PolicyIdAndNote::PolicyIdAndNote(const PolicyIdAndNote& other)
    : ASNsequenceF(other), policyId(other.policyId), note(other.note) {}

PolicyIdAndNote::~PolicyIdAndNote() = default;

PolicyIdAndNote& PolicyIdAndNote::operator=(const PolicyIdAndNote& other) {
  if (this != &other) {
    policyId = other.policyId;
    note = other.note;
  }
  return *this;
}

void PolicyIdAndNote::releaseViews() {
  dropOwnView();
  releaseViewsOf({&policyId, &note});
}

void PolicyIdAndNote::clear() {
  releaseViews();
  policyId.clear();
  note.clear();
}

int PolicyIdAndNote::decodeContent(GenericFile* in, int length) {
  if (length < 4) return 0;
  int r = policyId.decode(in, length, memberFlags());
  if (r < 1) return r;
  if (length - r < 2) return 0;
  int n = note.decode(in, length - r, memberFlags());
  if (n < 1) return n;
  return int64_t(r) + n == length ? 1 : 0;
}

int PolicyIdAndNote::encodeContent(GenericFile* out) const {
  int r = policyId.encode(out);
  if (r < 1) return r;
  r = note.encode(out);
  return r < 1 ? r : 1;
}

int PolicyIdAndNote::contentLength() const {
  int a = policyId.encodedLength();
  int b = note.encodedLength();
  if (a < 0 || b < 0) return -1;
  return sumLengths(int64_t(a) + b);
}

void PolicyIdAndNote::digestContent(LvHash* hash) const {
  policyId.updateDigest(hash);
  note.updateDigest(hash);
}
