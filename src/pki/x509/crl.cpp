#include "pki/x509/crl.h"

#include "base/commonerror.h"
#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

namespace {

bool isTimeIdentifier(int id) { return id == TAG_UTCT_TIME || id == TAG_GENERAL_TIME; }

// A time member decoded in the form the element carries.
int decodeTime(X509time& t, GenericFile* in, int available, unsigned char f) {
  const int id = asnPeekIdentifier(in);
  if (id < 0) return EASN_FILE;
  if (!isTimeIdentifier(id)) return 0;
  t.setTag(static_cast<unsigned char>(id));
  t.type = static_cast<uint8_t>(id);
  return t.decode(in, available, f);
}

}  // namespace

// ---------------------------------------------------------------------------
// CRLentry

CRLentry::CRLentry(unsigned char tag)
    : ASNsequenceF(tag), userCertificate(), revocationDate(), crlEntryExtensions() {}

CRLentry::CRLentry(const CRLentry& other) : CRLentry(other.tag) { *this = other; }

CRLentry::~CRLentry() = default;

CRLentry& CRLentry::operator=(const CRLentry& other) {
  if (this == &other) return *this;
  ASNobject::operator=(other);
  userCertificate = other.userCertificate;
  revocationDate = other.revocationDate;
  crlEntryExtensions.assign(other.crlEntryExtensions);
  return *this;
}

void CRLentry::releaseViews() {
  dropOwnView();
  releaseViewsOf({&userCertificate, &revocationDate, &crlEntryExtensions});
}

void CRLentry::clear() {
  releaseViews();
  userCertificate.clear();
  revocationDate.clear();
  crlEntryExtensions.clear();
}

int CRLentry::decodeContent(GenericFile* in, int length) {
  crlEntryExtensions.clear();
  if (length < 2) return 0;
  int r = userCertificate.decode(in, length, memberFlags());
  if (r < 1) return r;
  int taken = r;
  if (length - taken < 2) return 0;
  r = decodeTime(revocationDate, in, length - taken, memberFlags());
  if (r < 1) return r;
  taken += r;
  if (taken == length) return 1;
  if (length - taken < 2) return 0;
  r = crlEntryExtensions.decode(in, length - taken, memberFlags());
  if (r < 1) return r;
  return taken + r == length ? 1 : 0;
}

namespace {
int entryMembers(const CRLentry& e, const ASNobject* mm[3]) {
  mm[0] = &e.userCertificate;
  mm[1] = &e.revocationDate;
  mm[2] = e.crlEntryExtensions.GetCount() > 0 ? &e.crlEntryExtensions : nullptr;
  return 3;
}
}  // namespace

int CRLentry::encodeContent(GenericFile* out) const {
  const ASNobject* mm[3];
  return keyasn::encodeMembers(out, mm, entryMembers(*this, mm));
}

int CRLentry::contentLength() const {
  const ASNobject* mm[3];
  return keyasn::membersLength(mm, entryMembers(*this, mm));
}

void CRLentry::digestContent(LvHash* hash) const {
  const ASNobject* mm[3];
  keyasn::digestMembers(hash, mm, entryMembers(*this, mm));
}

// ---------------------------------------------------------------------------
// TBSCertRevList

TBSCertRevList::TBSCertRevList(unsigned char tag)
    : ASNsequenceF(tag),
      version(),
      signature(),
      issuer(0x30),
      thisUpdate(TAG_UTCT_TIME),
      nextUpdate(TAG_UTCT_TIME),
      nextUpdatePresent(0),
      revokedCertificates(),
      revokedCertificatesPresent(0),
      crlExtensions(0xA0) {
  version.set(0);
}

TBSCertRevList::TBSCertRevList(const TBSCertRevList& other) : TBSCertRevList(other.tag) {
  *this = other;
}

TBSCertRevList::~TBSCertRevList() = default;

TBSCertRevList& TBSCertRevList::operator=(const TBSCertRevList& other) {
  if (this == &other) return *this;
  if (copyAsViewed(*this, other) == 1) {
    writtenUnlikeReceived = other.writtenUnlikeReceived;
    return *this;
  }
  ASNobject::operator=(other);
  version = other.version;
  signature = other.signature;
  issuer = other.issuer;
  thisUpdate = other.thisUpdate;
  nextUpdate = other.nextUpdate;
  nextUpdatePresent = other.nextUpdatePresent;
  revokedCertificates.assign(other.revokedCertificates);
  revokedCertificatesPresent = other.revokedCertificatesPresent;
  crlExtensions.ASNobject::operator=(other.crlExtensions);
  crlExtensions->assign(other.crlExtensions.get());
  writtenUnlikeReceived = other.writtenUnlikeReceived;
  return *this;
}

void TBSCertRevList::releaseViews() {
  dropOwnView();
  releaseViewsOf({&version, &signature, &issuer, &thisUpdate, &nextUpdate, &revokedCertificates,
                  &crlExtensions});
}

void TBSCertRevList::clear() {
  releaseViews();
  version.set(0);
  signature.clear();
  issuer.clear();
  thisUpdate.clear();
  nextUpdate.clear();
  nextUpdatePresent = 0;
  revokedCertificates.clear();
  revokedCertificatesPresent = 0;
  crlExtensions->clear();
  writtenUnlikeReceived = 0;
}

int TBSCertRevList::decode(GenericFile* in, int length, unsigned char f) {
  return decodeNotingRewrite(*this, in, length, f, writtenUnlikeReceived);
}

int TBSCertRevList::decodeContent(GenericFile* in, int length) {
  nextUpdatePresent = 0;
  revokedCertificatesPresent = 0;
  crlExtensions->clear();
  revokedCertificates.clear();
  if (length < 2) return 0;
  int taken = 0;
  int id = asnPeekIdentifier(in);
  if (id < 0) return EASN_FILE;
  int r;
  uint32_t v = 0;
  if (id == 0x02) {
    r = version.decode(in, length, memberFlags());
    if (r < 1) return r;
    taken = r;
    // RFC 5280 knows v1 and v2; a version beyond 32 bits cannot be weighed
    // against v2's crlExtensions rule and is no CRL.
    if (!asnSmallValue(version, &v)) return 0;
  } else {
    dropView(version);
    version.set(0);
  }
  ASNobject* const mm[] = {&signature, &issuer};
  r = keyasn::decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  if (r != 1) return r;
  if (length - taken < 2) return 0;
  r = decodeTime(thisUpdate, in, length - taken, memberFlags());
  if (r < 1) return r;
  taken += r;
  const bool versioned = v >= 1;
  bool haveExtensions = false;
  for (int i = 0; i < 3 && length - taken >= 2; ++i) {
    id = asnPeekIdentifier(in);
    if (id < 0) return EASN_FILE;
    if (isTimeIdentifier(id)) {
      if (nextUpdatePresent) return 0;
      nextUpdatePresent = 1;
      r = decodeTime(nextUpdate, in, length - taken, memberFlags());
    } else if (id == 0x30) {
      if (revokedCertificatesPresent) return 0;
      revokedCertificatesPresent = 1;
      r = revokedCertificates.decode(in, length - taken, memberFlags());
    } else if (id == 0xA0) {
      if (haveExtensions || !versioned) return 0;
      haveExtensions = true;
      r = crlExtensions.decode(in, length - taken, memberFlags());
    } else {
      return 0;
    }
    if (r < 1) return r;
    taken += r;
  }
  return taken == length ? 1 : 0;
}

namespace {
int tbsCrlMembers(const TBSCertRevList& t, const ASNobject* mm[7]) {
  uint32_t v = 0;
  mm[0] = !asnSmallValue(t.version, &v) || v != 0 ? &t.version : nullptr;
  mm[1] = &t.signature;
  mm[2] = &t.issuer;
  mm[3] = &t.thisUpdate;
  mm[4] = t.nextUpdatePresent ? &t.nextUpdate : nullptr;
  mm[5] = t.revokedCertificatesPresent ? &t.revokedCertificates : nullptr;
  mm[6] = t.crlExtensions->GetCount() > 0 ? &t.crlExtensions : nullptr;
  return 7;
}
}  // namespace

int TBSCertRevList::encodeContent(GenericFile* out) const {
  const ASNobject* mm[7];
  return keyasn::encodeMembers(out, mm, tbsCrlMembers(*this, mm));
}

int TBSCertRevList::contentLength() const {
  const ASNobject* mm[7];
  return keyasn::membersLength(mm, tbsCrlMembers(*this, mm));
}

void TBSCertRevList::digestContent(LvHash* hash) const {
  const ASNobject* mm[7];
  keyasn::digestMembers(hash, mm, tbsCrlMembers(*this, mm));
}

// ---------------------------------------------------------------------------
// SignedCertRevList

CertificateArmourReader crlArmourReader = nullptr;

SignedCertRevList::SignedCertRevList(unsigned char tag)
    : ASNsequenceF(tag), tbsCertList(), signatureAlgorithm(), signature() {}

SignedCertRevList::SignedCertRevList(const SignedCertRevList& other)
    : SignedCertRevList(other.tag) {
  *this = other;
}

SignedCertRevList::~SignedCertRevList() = default;

SignedCertRevList& SignedCertRevList::operator=(const SignedCertRevList& other) {
  if (this == &other) return *this;
  if (copyAsViewed(*this, other) == 1) {
    tbsCertList.writtenUnlikeReceived = other.tbsCertList.writtenUnlikeReceived;
    return *this;
  }
  ASNobject::operator=(other);
  tbsCertList = other.tbsCertList;
  signatureAlgorithm = other.signatureAlgorithm;
  signature = other.signature;
  return *this;
}

int SignedCertRevList::decode(GenericFile* in, int length, unsigned char f) {
  if (crlArmourReader) return crlArmourReader(this, in, length, f);
  return ASNobject::decode(in, length, f);
}

void SignedCertRevList::releaseViews() {
  dropOwnView();
  releaseViewsOf({&tbsCertList, &signatureAlgorithm, &signature});
}

void SignedCertRevList::clear() {
  releaseViews();
  tbsCertList.clear();
  signatureAlgorithm.clear();
  signature.clear();
}

int SignedCertRevList::decodeContent(GenericFile* in, int length) {
  ASNobject* const mm[] = {&tbsCertList, &signatureAlgorithm, &signature};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 3, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int SignedCertRevList::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&tbsCertList, &signatureAlgorithm, &signature};
  return keyasn::encodeMembers(out, mm, 3);
}

int SignedCertRevList::contentLength() const {
  const ASNobject* const mm[] = {&tbsCertList, &signatureAlgorithm, &signature};
  return keyasn::membersLength(mm, 3);
}

void SignedCertRevList::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&tbsCertList, &signatureAlgorithm, &signature};
  keyasn::digestMembers(hash, mm, 3);
}

int SignedCertRevList::verifySignature(const SignedCertificate& issuerCertificate) const {
  return verifySignature(issuerCertificate.tbsCertificate.subjectPublicKeyInfo);
}

int SignedCertRevList::verifySignature(const SubPubKeyInfo& key) const {
  // Its re-encoding is not what was received, so not what was signed.
  if (tbsCertList.writtenUnlikeReceived) return SignedCertificate::CERT_SIG_INVALID;
  return verifySignedObject(key, tbsCertList.signature, tbsCertList, signature);
}

int decodeCrlArmour(ASNobject* object, GenericFile* in, int length, unsigned char f) {
  return decodeArmouredObject(object, in, length, f, "-----BEGIN X509 CRL-----",
                              "-----END X509 CRL-----");
}

bool registerCrlArmourReader() {
  crlArmourReader = &decodeCrlArmour;
  return true;
}

namespace {
const bool crlArmourRegistered = registerCrlArmourReader();
}

// ---------------------------------------------------------------------------
// IssuerAndSerialNumber

IssuerAndSerialNumber::IssuerAndSerialNumber(unsigned char tag)
    : ASNsequenceF(tag), issuer(0x30), serialNumber() {}

IssuerAndSerialNumber::IssuerAndSerialNumber(const IssuerAndSerialNumber& other)
    : ASNsequenceF(other), issuer(other.issuer), serialNumber(other.serialNumber) {}

IssuerAndSerialNumber::~IssuerAndSerialNumber() = default;

IssuerAndSerialNumber& IssuerAndSerialNumber::operator=(const IssuerAndSerialNumber& other) {
  if (this != &other) {
    ASNobject::operator=(other);
    issuer = other.issuer;
    serialNumber = other.serialNumber;
  }
  return *this;
}

void IssuerAndSerialNumber::releaseViews() {
  dropOwnView();
  releaseViewsOf({&issuer, &serialNumber});
}

void IssuerAndSerialNumber::clear() {
  releaseViews();
  issuer.clear();
  serialNumber.clear();
}

int IssuerAndSerialNumber::decodeContent(GenericFile* in, int length) {
  ASNobject* const mm[] = {&issuer, &serialNumber};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int IssuerAndSerialNumber::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&issuer, &serialNumber};
  return keyasn::encodeMembers(out, mm, 2);
}

int IssuerAndSerialNumber::contentLength() const {
  const ASNobject* const mm[] = {&issuer, &serialNumber};
  return keyasn::membersLength(mm, 2);
}

void IssuerAndSerialNumber::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&issuer, &serialNumber};
  keyasn::digestMembers(hash, mm, 2);
}

// ---------------------------------------------------------------------------
// CertificateItem, CertificatePath

CertificateItem::CertificateItem(unsigned char tag)
    : ASNsequenceF(tag),
      certificate(),
      status(),
      time1(TAG_UTCT_TIME),
      time2(TAG_UTCT_TIME),
      wwc(0),
      revocationState(0),
      revocationSource(0),
      freshCrlWanted(0) {
  status.set(0);
}

CertificateItem::CertificateItem(const CertificateItem& other) : CertificateItem(other.tag) {
  *this = other;
}

CertificateItem::~CertificateItem() = default;

CertificateItem& CertificateItem::operator=(const CertificateItem& other) {
  if (this != &other) {
    ASNobject::operator=(other);
    certificate = other.certificate;
    status = other.status;
    time1 = other.time1;
    time2 = other.time2;
    wwc = other.wwc;
    revocationState = other.revocationState;
    revocationSource = other.revocationSource;
    freshCrlWanted = other.freshCrlWanted;
  }
  return *this;
}

void CertificateItem::clear() {
  certificate.clear();
  dropView(status);
  status.set(0);
  time1.clear();
  time2.clear();
  wwc = revocationState = revocationSource = freshCrlWanted = 0;
}

int CertificateItem::decodeContent(GenericFile*, int) { return 0; }

int CertificateItem::encodeContent(GenericFile*) const { return -1; }

// Nothing can be written: the encoders give up before any header.
int CertificateItem::contentLength() const { return -1; }

int CertificateItem::encode(GenericFile*) const { return -1; }

int CertificateItem::encodedLength() const { return -1; }

void CertificateItem::digestContent(LvHash*) const {}

CertificatePath::CertificatePath(unsigned char tag)
    : ASNsequenceList<CertificateItem>(tag), qualifiedRoot(0), policyResult(0) {
  clear();
}

CertificatePath::CertificatePath(const CertificatePath& other)
    : ASNsequenceList<CertificateItem>(other.tag),
      qualifiedRoot(other.qualifiedRoot),
      policyResult(other.policyResult) {
  assign(other);
}

CertificatePath& CertificatePath::operator=(const CertificatePath& other) {
  if (this != &other) {
    assign(other);
    qualifiedRoot = other.qualifiedRoot;
    policyResult = other.policyResult;
  }
  return *this;
}

void CertificatePath::takeFrom(CertificatePath& other) {
  if (this == &other) return;
  clear();
  while (other.GetCount() > 0) {
    CertificateItem* item = other.RemoveHead();
    if (!item) continue;
    POSITION added = nullptr;
    try {
      added = AddTail(item);
    } catch (...) {
      delete item;
      throw;
    }
    if (!added) {
      delete item;
      throwBadAllocation();
    }
  }
  qualifiedRoot = other.qualifiedRoot;
  policyResult = other.policyResult;
}
