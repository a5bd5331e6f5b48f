#include "pki/x509/x509ext.h"

#include "pki/common/oids.h"

#include "base/commonerror.h"
#include "pki/common/pkiasn.h"

namespace {

int sumLengths(int64_t n) { return n < 0 || n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n); }

// Puts a BOOLEAN DEFAULT FALSE back to FALSE. One read in place refuses
// set(), so it is decoded afresh from a FALSE of our own (which also drops
// the view); the member keeps its own tag.
int resetBool(ASNbool& b) {
  unsigned char enc[] = {b.getTag(), 0x01, 0x00};
  MemFile m(enc, sizeof enc, false);
  return b.decode(&m, sizeof enc, 0) == static_cast<int>(sizeof enc) ? 1 : EASN_MEM;
}

bool isContext(int id) { return (id & 0xC0) == 0x80; }
int tagNumber(int id) { return id & 0x1F; }

// Length of an optional member: 0 when absent, -1 on failure.
int optLength(const ASNobject& o, bool present) { return present ? o.encodedLength() : 0; }

int addLengths(std::initializer_list<int> parts) {
  int64_t total = 0;
  for (int p : parts) {
    if (p < 0) return -1;
    total += p;
  }
  return sumLengths(total);
}

int encodeIf(const ASNobject& o, bool present, GenericFile* out) {
  if (!present) return 1;
  int r = o.encode(out);
  return r < 1 ? r : 1;
}

// Decodes `member` from the content still left; adds what it took to *taken.
int takeMember(ASNobject& member, GenericFile* in, int length, int* taken, unsigned char flags) {
  if (length - *taken < 2) return 0;
  int r = member.decode(in, length - *taken, flags);
  if (r < 1) return r;
  *taken += r;
  return 1;
}

// The identifier octet of the next element: >= 0, or EASN_FILE.
int peek(GenericFile* in) {
  int id = asnPeekIdentifier(in);
  return id < 0 ? EASN_FILE : id;
}

// Copy helpers that turn a failed copy of a list into bad_alloc.
template <class L>
void copyList(L& target, const L& source) {
  target.assign(source);
}

}  // namespace

// ---------------------------------------------------------------------------
// BasicConstraints

BasicConstraints::BasicConstraints(unsigned char t)
    : ASNsequenceF(t), cA(), pathLenConstraint(), pathLenConstraintPresent(0) {
  cA.set(false);
}

BasicConstraints::~BasicConstraints() = default;

void BasicConstraints::releaseViews() {
  dropOwnView();
  releaseViewsOf({&cA, &pathLenConstraint});
}

void BasicConstraints::clear() {
  releaseViews();
  resetBool(cA);
  pathLenConstraint.clear();
  pathLenConstraintPresent = 0;
}

int BasicConstraints::decodeContent(GenericFile* in, int length) {
  pathLenConstraintPresent = 0;
  pathLenConstraint.clear();
  if (resetBool(cA) != 1) return EASN_MEM;
  if (length == 0) return 1;
  int id = peek(in);
  if (id < 0) return id;
  int taken = 0;
  int r;
  switch (tagNumber(id)) {
    case 1:
      r = takeMember(cA, in, length, &taken, memberFlags());
      if (r < 1) return r;
      if (taken < length) {
        r = takeMember(pathLenConstraint, in, length, &taken, memberFlags());
        if (r < 1) return r;
        pathLenConstraintPresent = 1;
      }
      break;
    case 2:
      r = takeMember(pathLenConstraint, in, length, &taken, memberFlags());
      if (r < 1) return r;
      pathLenConstraintPresent = 1;
      break;
    default:
      return 0;
  }
  return taken == length ? 1 : 0;
}

int BasicConstraints::encodeContent(GenericFile* out) const {
  int r = encodeIf(cA, cA.get(), out);
  if (r < 1) return r;
  return encodeIf(pathLenConstraint, pathLenConstraintPresent, out);
}

int BasicConstraints::contentLength() const {
  return addLengths(
      {optLength(cA, cA.get()), optLength(pathLenConstraint, pathLenConstraintPresent)});
}

void BasicConstraints::digestContent(LvHash* hash) const {
  if (cA.get()) cA.updateDigest(hash);
  if (pathLenConstraintPresent) pathLenConstraint.updateDigest(hash);
}

// ---------------------------------------------------------------------------
// AuthorityKeyIdentifier

AuthorityKeyIdentifier::AuthorityKeyIdentifier(unsigned char t)
    : ASNsequenceF(t),
      keyIdentifier(0x80),
      authorityCertIssuer(0xA1),
      authorityCertSerialNumber(0x82),
      keyIdentifierPresent(0),
      authorityCertIssuerPresent(0) {}

AuthorityKeyIdentifier::~AuthorityKeyIdentifier() = default;

void AuthorityKeyIdentifier::releaseViews() {
  dropOwnView();
  releaseViewsOf({&keyIdentifier, &authorityCertIssuer, &authorityCertSerialNumber});
}

void AuthorityKeyIdentifier::clear() {
  releaseViews();
  keyIdentifier.clear();
  authorityCertIssuer.clear();
  authorityCertSerialNumber.clear();
  keyIdentifierPresent = 0;
  authorityCertIssuerPresent = 0;
}

int AuthorityKeyIdentifier::decodeContent(GenericFile* in, int length) {
  keyIdentifierPresent = 0;
  authorityCertIssuerPresent = 0;
  authorityCertIssuer.clear();
  bool seen1 = false, seen2 = false;
  int taken = 0;
  for (int count = 0; taken < length; ++count) {
    if (count == 3) return 0;
    int id = peek(in);
    if (id < 0) return id;
    if (!isContext(id)) return 0;
    int r;
    switch (tagNumber(id)) {
      case 0:
        if (keyIdentifierPresent) return 0;
        r = takeMember(keyIdentifier, in, length, &taken, memberFlags());
        if (r < 1) return r;
        keyIdentifierPresent = 1;
        break;
      case 1:
        if (seen1) return 0;
        r = takeMember(authorityCertIssuer, in, length, &taken, memberFlags());
        if (r < 1) return r;
        seen1 = true;
        if (taken >= length) return 0;
        break;
      case 2:
        if (!seen1 || seen2) return 0;
        r = takeMember(authorityCertSerialNumber, in, length, &taken, memberFlags());
        if (r < 1) return r;
        seen2 = true;
        break;
      default:
        return 0;
    }
  }
  if (seen1 != seen2) return 0;
  authorityCertIssuerPresent = seen1 ? 1 : 0;
  return taken == length ? 1 : 0;
}

int AuthorityKeyIdentifier::encodeContent(GenericFile* out) const {
  int r = encodeIf(keyIdentifier, keyIdentifierPresent, out);
  if (r < 1) return r;
  r = encodeIf(authorityCertIssuer, authorityCertIssuerPresent, out);
  if (r < 1) return r;
  return encodeIf(authorityCertSerialNumber, authorityCertIssuerPresent, out);
}

int AuthorityKeyIdentifier::contentLength() const {
  return addLengths({optLength(keyIdentifier, keyIdentifierPresent),
                     optLength(authorityCertIssuer, authorityCertIssuerPresent),
                     optLength(authorityCertSerialNumber, authorityCertIssuerPresent)});
}

void AuthorityKeyIdentifier::digestContent(LvHash* hash) const {
  if (keyIdentifierPresent) keyIdentifier.updateDigest(hash);
  if (authorityCertIssuerPresent) {
    authorityCertIssuer.updateDigest(hash);
    authorityCertSerialNumber.updateDigest(hash);
  }
}

// ---------------------------------------------------------------------------
// DistributionPointName, DistributionPoint, IssuingDistributionPoint

DistributionPointName::DistributionPointName(unsigned char t)
    : ASNchoice(t),
      fullName(0xA0),
      nameRelativeToCRLIssuer(0xA1),
      list{&fullName, &nameRelativeToCRLIssuer, nullptr} {}

DistributionPointName& DistributionPointName::operator=(const DistributionPointName& other) {
  ASNchoice::operator=(other);
  return *this;
}

DistributionPoint::DistributionPoint(unsigned char t)
    : ASNsequenceF(t),
      distributionPoint(0xA0),
      reasons(0x81),
      cRLIssuer(0xA2),
      distributionPointPresent(0),
      reasonsPresent(0),
      cRLIssuerPresent(0) {}

DistributionPoint::~DistributionPoint() = default;

DistributionPoint& DistributionPoint::operator=(const DistributionPoint& other) {
  if (this == &other) return *this;
  distributionPointPresent = other.distributionPointPresent;
  reasonsPresent = other.reasonsPresent;
  cRLIssuerPresent = other.cRLIssuerPresent;
  if (distributionPointPresent)
    distributionPoint = other.distributionPoint;
  else
    distributionPoint.clear();
  reasons = other.reasons;
  copyList(cRLIssuer, other.cRLIssuer);
  return *this;
}

void DistributionPoint::releaseViews() {
  dropOwnView();
  releaseViewsOf({&distributionPoint, &reasons, &cRLIssuer});
}

void DistributionPoint::clear() {
  releaseViews();
  distributionPoint.clear();
  reasons.clear();
  cRLIssuer.clear();
  distributionPointPresent = reasonsPresent = cRLIssuerPresent = 0;
}

int DistributionPoint::decodeContent(GenericFile* in, int length) {
  distributionPointPresent = reasonsPresent = cRLIssuerPresent = 0;
  int taken = 0;
  for (int count = 0; taken < length; ++count) {
    if (count == 3) return 0;
    int id = peek(in);
    if (id < 0) return id;
    if (!isContext(id)) return 0;
    int r;
    switch (tagNumber(id)) {
      case 0:
        if (distributionPointPresent) return 0;
        r = takeMember(distributionPoint, in, length, &taken, memberFlags());
        if (r < 1) return r;
        distributionPointPresent = 1;
        break;
      case 1:
        if (reasonsPresent) return 0;
        r = takeMember(reasons, in, length, &taken, memberFlags());
        if (r < 1) return r;
        reasonsPresent = 1;
        break;
      case 2:
        if (cRLIssuerPresent) return 0;
        r = takeMember(cRLIssuer, in, length, &taken, memberFlags());
        if (r < 1) return r;
        cRLIssuerPresent = 1;
        break;
      default:
        return 0;
    }
  }
  return taken == length ? 1 : 0;
}

int DistributionPoint::encodeContent(GenericFile* out) const {
  int r = encodeIf(distributionPoint, distributionPointPresent, out);
  if (r < 1) return r;
  r = encodeIf(reasons, reasonsPresent, out);
  if (r < 1) return r;
  return encodeIf(cRLIssuer, cRLIssuerPresent, out);
}

int DistributionPoint::contentLength() const {
  return addLengths({optLength(distributionPoint, distributionPointPresent),
                     optLength(reasons, reasonsPresent), optLength(cRLIssuer, cRLIssuerPresent)});
}

void DistributionPoint::digestContent(LvHash* hash) const {
  if (distributionPointPresent) distributionPoint.updateDigest(hash);
  if (reasonsPresent) reasons.updateDigest(hash);
  if (cRLIssuerPresent) cRLIssuer.updateDigest(hash);
}

IssuingDistributionPoint::IssuingDistributionPoint(unsigned char t)
    : ASNsequenceF(t),
      distributionPoint(0xA0),
      onlyContainsUserCerts(0x81),
      onlyContainsCACerts(0x82),
      onlySomeReasons(0x83),
      indirectCRL(0x84),
      distributionPointPresent(0),
      onlySomeReasonsPresent(0) {
  onlyContainsUserCerts.set(false);
  onlyContainsCACerts.set(false);
  indirectCRL.set(false);
}

IssuingDistributionPoint::~IssuingDistributionPoint() = default;

void IssuingDistributionPoint::releaseViews() {
  dropOwnView();
  releaseViewsOf({&distributionPoint, &onlyContainsUserCerts, &onlyContainsCACerts,
                  &onlySomeReasons, &indirectCRL});
}

void IssuingDistributionPoint::clear() {
  releaseViews();
  distributionPoint.clear();
  resetBool(onlyContainsUserCerts);
  resetBool(onlyContainsCACerts);
  onlySomeReasons.clear();
  resetBool(indirectCRL);
  distributionPointPresent = onlySomeReasonsPresent = 0;
}

int IssuingDistributionPoint::decodeContent(GenericFile* in, int length) {
  distributionPointPresent = onlySomeReasonsPresent = 0;
  if (resetBool(onlyContainsUserCerts) != 1 || resetBool(onlyContainsCACerts) != 1 ||
      resetBool(indirectCRL) != 1)
    return EASN_MEM;
  ASNbool* const booleans[] = {nullptr, &onlyContainsUserCerts, &onlyContainsCACerts, nullptr,
                               &indirectCRL};
  int taken = 0;
  for (int count = 0; taken < length; ++count) {
    if (count == 5) return 0;
    int id = peek(in);
    if (id < 0) return id;
    if (!isContext(id) || tagNumber(id) > 4) return 0;
    const int n = tagNumber(id);
    int r;
    if (n == 0) {
      if (distributionPointPresent) return 0;
      r = takeMember(distributionPoint, in, length, &taken, memberFlags());
      if (r < 1) return r;
      distributionPointPresent = 1;
    } else if (n == 3) {
      if (onlySomeReasonsPresent) return 0;
      r = takeMember(onlySomeReasons, in, length, &taken, memberFlags());
      if (r < 1) return r;
      onlySomeReasonsPresent = 1;
    } else {
      ASNbool& b = *booleans[n];
      if (b.get()) return 0;
      r = takeMember(b, in, length, &taken, memberFlags());
      if (r < 1) return r;
    }
  }
  return taken == length ? 1 : 0;
}

int IssuingDistributionPoint::encodeContent(GenericFile* out) const {
  int r = encodeIf(distributionPoint, distributionPointPresent, out);
  if (r >= 1) r = encodeIf(onlyContainsUserCerts, onlyContainsUserCerts.get(), out);
  if (r >= 1) r = encodeIf(onlyContainsCACerts, onlyContainsCACerts.get(), out);
  if (r >= 1) r = encodeIf(onlySomeReasons, onlySomeReasonsPresent, out);
  if (r >= 1) r = encodeIf(indirectCRL, indirectCRL.get(), out);
  return r;
}

int IssuingDistributionPoint::contentLength() const {
  return addLengths({optLength(distributionPoint, distributionPointPresent),
                     optLength(onlyContainsUserCerts, onlyContainsUserCerts.get()),
                     optLength(onlyContainsCACerts, onlyContainsCACerts.get()),
                     optLength(onlySomeReasons, onlySomeReasonsPresent),
                     optLength(indirectCRL, indirectCRL.get())});
}

void IssuingDistributionPoint::digestContent(LvHash* hash) const {
  if (distributionPointPresent) distributionPoint.updateDigest(hash);
  if (onlyContainsUserCerts.get()) onlyContainsUserCerts.updateDigest(hash);
  if (onlyContainsCACerts.get()) onlyContainsCACerts.updateDigest(hash);
  if (onlySomeReasonsPresent) onlySomeReasons.updateDigest(hash);
  if (indirectCRL.get()) indirectCRL.updateDigest(hash);
}

// ---------------------------------------------------------------------------
// QcStatement, AccessDescription

QcStatement::QcStatement(unsigned char t)
    : ASNsequenceF(t), statementId(), statementInfo(TAG_ANY), statementInfoPresent(0) {}

QcStatement::QcStatement(const QcStatement& other) : QcStatement(0) { *this = other; }

QcStatement::~QcStatement() = default;

QcStatement& QcStatement::operator=(const QcStatement& other) {
  if (this == &other) return *this;
  statementId = other.statementId;
  statementInfoPresent = other.statementInfoPresent;
  if (statementInfoPresent)
    statementInfo = other.statementInfo;
  else
    statementInfo.clear();
  return *this;
}

void QcStatement::releaseViews() {
  dropOwnView();
  releaseViewsOf({&statementId, &statementInfo});
}

void QcStatement::clear() {
  releaseViews();
  statementId.clear();
  statementInfo.clear();
  statementInfoPresent = 0;
}

int QcStatement::decodeContent(GenericFile* in, int length) {
  statementInfoPresent = 0;
  statementInfo.clear();
  int taken = 0;
  int r = takeMember(statementId, in, length, &taken, memberFlags());
  if (r < 1) return r;
  if (taken < length) {
    r = takeMember(statementInfo, in, length, &taken, memberFlags());
    if (r < 1) return r;
    statementInfoPresent = 1;
  }
  return taken == length ? 1 : 0;
}

int QcStatement::encodeContent(GenericFile* out) const {
  int r = encodeIf(statementId, true, out);
  if (r < 1) return r;
  return encodeIf(statementInfo, statementInfoPresent, out);
}

int QcStatement::contentLength() const {
  return addLengths({statementId.encodedLength(), optLength(statementInfo, statementInfoPresent)});
}

void QcStatement::digestContent(LvHash* hash) const {
  statementId.updateDigest(hash);
  if (statementInfoPresent) statementInfo.updateDigest(hash);
}

AccessDescription::AccessDescription(unsigned char t)
    : ASNsequenceF(t), accessMethod(), accessLocation(TAG_ANY) {}

AccessDescription::AccessDescription(const AccessDescription& other) : AccessDescription(0) {
  *this = other;
}

AccessDescription::~AccessDescription() = default;

AccessDescription& AccessDescription::operator=(const AccessDescription& other) {
  if (this == &other) return *this;
  accessMethod = other.accessMethod;
  accessLocation = other.accessLocation;
  return *this;
}

void AccessDescription::releaseViews() {
  dropOwnView();
  releaseViewsOf({&accessMethod, &accessLocation});
}

void AccessDescription::clear() {
  releaseViews();
  accessMethod.clear();
  accessLocation.clear();
}

int AccessDescription::decodeContent(GenericFile* in, int length) {
  int taken = 0;
  int r = takeMember(accessMethod, in, length, &taken, memberFlags());
  if (r < 1) return r;
  if (length - taken < 2) return 0;
  int id = peek(in);
  if (id < 0) return id;
  if (!isContext(id) || tagNumber(id) > 8) return 0;
  r = takeMember(accessLocation, in, length, &taken, memberFlags());
  if (r < 1) return r;
  return taken == length ? 1 : 0;
}

int AccessDescription::encodeContent(GenericFile* out) const {
  int r = encodeIf(accessMethod, true, out);
  if (r < 1) return r;
  return encodeIf(accessLocation, true, out);
}

int AccessDescription::contentLength() const {
  return addLengths({accessMethod.encodedLength(), accessLocation.encodedLength()});
}

void AccessDescription::digestContent(LvHash* hash) const {
  accessMethod.updateDigest(hash);
  accessLocation.updateDigest(hash);
}

// ---------------------------------------------------------------------------
// PolicyConstraints

PolicyConstraints::PolicyConstraints(unsigned char t)
    : ASNsequenceF(t),
      requireExplicitPolicy(0x80),
      inhibitPolicyMapping(0x81),
      requireExplicitPolicyPresent(0),
      inhibitPolicyMappingPresent(0) {}

PolicyConstraints::~PolicyConstraints() = default;

void PolicyConstraints::releaseViews() {
  dropOwnView();
  releaseViewsOf({&requireExplicitPolicy, &inhibitPolicyMapping});
}

void PolicyConstraints::clear() {
  releaseViews();
  requireExplicitPolicy.clear();
  inhibitPolicyMapping.clear();
  requireExplicitPolicyPresent = inhibitPolicyMappingPresent = 0;
}

int PolicyConstraints::decodeContent(GenericFile* in, int length) {
  requireExplicitPolicyPresent = inhibitPolicyMappingPresent = 0;
  int taken = 0;
  for (int count = 0; taken < length; ++count) {
    if (count == 2) return 0;
    int id = peek(in);
    if (id < 0) return id;
    if (!isContext(id) || tagNumber(id) > 1) return 0;
    ASNinteger& member = tagNumber(id) == 0 ? requireExplicitPolicy : inhibitPolicyMapping;
    unsigned char& present =
        tagNumber(id) == 0 ? requireExplicitPolicyPresent : inhibitPolicyMappingPresent;
    if (present) return 0;
    int r = takeMember(member, in, length, &taken, memberFlags());
    if (r < 1) return r;
    present = 1;
  }
  return taken == length ? 1 : 0;
}

int PolicyConstraints::encodeContent(GenericFile* out) const {
  int r = encodeIf(requireExplicitPolicy, requireExplicitPolicyPresent, out);
  if (r < 1) return r;
  return encodeIf(inhibitPolicyMapping, inhibitPolicyMappingPresent, out);
}

int PolicyConstraints::contentLength() const {
  return addLengths({optLength(requireExplicitPolicy, requireExplicitPolicyPresent),
                     optLength(inhibitPolicyMapping, inhibitPolicyMappingPresent)});
}

void PolicyConstraints::digestContent(LvHash* hash) const {
  if (requireExplicitPolicyPresent) requireExplicitPolicy.updateDigest(hash);
  if (inhibitPolicyMappingPresent) inhibitPolicyMapping.updateDigest(hash);
}

// ---------------------------------------------------------------------------
// PolicyQualifierInfo, PolicyInformation, PolicyMapping

PolicyQualifierInfo::PolicyQualifierInfo(unsigned char t)
    : ASNsequenceF(t), policyQualifierId(), qualifier(TAG_ANY) {}

PolicyQualifierInfo::PolicyQualifierInfo(const PolicyQualifierInfo& other)
    : PolicyQualifierInfo(0) {
  *this = other;
}

PolicyQualifierInfo::~PolicyQualifierInfo() = default;

PolicyQualifierInfo& PolicyQualifierInfo::operator=(const PolicyQualifierInfo& other) {
  if (this == &other) return *this;
  policyQualifierId = other.policyQualifierId;
  qualifier = other.qualifier;
  return *this;
}

void PolicyQualifierInfo::releaseViews() {
  dropOwnView();
  releaseViewsOf({&policyQualifierId, &qualifier});
}

void PolicyQualifierInfo::clear() {
  releaseViews();
  policyQualifierId.clear();
  qualifier.clear();
}

int PolicyQualifierInfo::decodeContent(GenericFile* in, int length) {
  int taken = 0;
  int r = takeMember(policyQualifierId, in, length, &taken, memberFlags());
  if (r < 1) return r;
  r = takeMember(qualifier, in, length, &taken, memberFlags());
  if (r < 1) return r;
  return taken == length ? 1 : 0;
}

int PolicyQualifierInfo::encodeContent(GenericFile* out) const {
  int r = encodeIf(policyQualifierId, true, out);
  if (r < 1) return r;
  return encodeIf(qualifier, true, out);
}

int PolicyQualifierInfo::contentLength() const {
  return addLengths({policyQualifierId.encodedLength(), qualifier.encodedLength()});
}

void PolicyQualifierInfo::digestContent(LvHash* hash) const {
  policyQualifierId.updateDigest(hash);
  qualifier.updateDigest(hash);
}

PolicyInformation::PolicyInformation(unsigned char t)
    : ASNsequenceF(t), policyIdentifier(), policyQualifiers() {}

PolicyInformation::PolicyInformation(const PolicyInformation& other) : PolicyInformation(0) {
  *this = other;
}

PolicyInformation::~PolicyInformation() = default;

PolicyInformation& PolicyInformation::operator=(const PolicyInformation& other) {
  if (this == &other) return *this;
  policyIdentifier = other.policyIdentifier;
  copyList(policyQualifiers, other.policyQualifiers);
  return *this;
}

void PolicyInformation::releaseViews() {
  dropOwnView();
  releaseViewsOf({&policyIdentifier, &policyQualifiers});
}

void PolicyInformation::clear() {
  releaseViews();
  policyIdentifier.clear();
  policyQualifiers.clear();
}

int PolicyInformation::decodeContent(GenericFile* in, int length) {
  policyQualifiers.clear();
  int taken = 0;
  int r = takeMember(policyIdentifier, in, length, &taken, memberFlags());
  if (r < 1) return r;
  if (taken < length) {
    r = takeMember(policyQualifiers, in, length, &taken, memberFlags());
    if (r < 1) return r;
  }
  return taken == length ? 1 : 0;
}

int PolicyInformation::encodeContent(GenericFile* out) const {
  int r = encodeIf(policyIdentifier, true, out);
  if (r < 1) return r;
  return encodeIf(policyQualifiers, policyQualifiers.GetCount() > 0, out);
}

int PolicyInformation::contentLength() const {
  return addLengths({policyIdentifier.encodedLength(),
                     optLength(policyQualifiers, policyQualifiers.GetCount() > 0)});
}

void PolicyInformation::digestContent(LvHash* hash) const {
  policyIdentifier.updateDigest(hash);
  if (policyQualifiers.GetCount() > 0) policyQualifiers.updateDigest(hash);
}

PolicyMapping::PolicyMapping(unsigned char t)
    : ASNsequenceF(t), issuerDomainPolicy(), subjectDomainPolicy() {}

PolicyMapping::PolicyMapping(const PolicyMapping& other) : PolicyMapping(0) { *this = other; }

PolicyMapping::~PolicyMapping() = default;

PolicyMapping& PolicyMapping::operator=(const PolicyMapping& other) {
  if (this == &other) return *this;
  issuerDomainPolicy = other.issuerDomainPolicy;
  subjectDomainPolicy = other.subjectDomainPolicy;
  return *this;
}

void PolicyMapping::releaseViews() {
  dropOwnView();
  releaseViewsOf({&issuerDomainPolicy, &subjectDomainPolicy});
}

void PolicyMapping::clear() {
  releaseViews();
  issuerDomainPolicy.clear();
  subjectDomainPolicy.clear();
}

int PolicyMapping::decodeContent(GenericFile* in, int length) {
  int taken = 0;
  int r = takeMember(issuerDomainPolicy, in, length, &taken, memberFlags());
  if (r < 1) return r;
  r = takeMember(subjectDomainPolicy, in, length, &taken, memberFlags());
  if (r < 1) return r;
  return taken == length ? 1 : 0;
}

int PolicyMapping::encodeContent(GenericFile* out) const {
  int r = encodeIf(issuerDomainPolicy, true, out);
  if (r < 1) return r;
  return encodeIf(subjectDomainPolicy, true, out);
}

int PolicyMapping::contentLength() const {
  return addLengths({issuerDomainPolicy.encodedLength(), subjectDomainPolicy.encodedLength()});
}

void PolicyMapping::digestContent(LvHash* hash) const {
  issuerDomainPolicy.updateDigest(hash);
  subjectDomainPolicy.updateDigest(hash);
}

// ---------------------------------------------------------------------------
// OID lists

bool OidList::contains(const ASNobjectId& oid) const {
  for (POSITION pos = GetHeadPosition(); pos;) {
    const ASNobjectId* e = GetNext(pos);
    if (e && *e == oid) return true;
  }
  return false;
}

bool extensionsGrantPurpose(const Extensions& extensions, const ASNobjectId& purpose) {
  const Extension* e = findExtensionByOid(extensions, id_ce_extKeyUsage);
  ExtendedKeyUsage usage;
  return e && usage.decodeOctets(e->extnValue) >= 1 && usage.contains(purpose);
}

int OidList::addOid(const ASNobjectId& oid) {
  ASNobjectId* e = nullptr;
  try {
    e = appendNew();
    if (!e) return 0;
    *e = oid;
  } catch (const std::bad_alloc&) {
    if (e) deleteTail();
    return 0;
  }
  return 1;
}

int ExtendedKeyUsage::decodeContent(GenericFile* in, int length) {
  const int r = OidList::decodeContent(in, length);
  return r == 1 && GetCount() == 0 ? 0 : r;
}

int ExtendedKeyUsage::decodeIndefinite(GenericFile* in, int available) {
  const int r = OidList::decodeIndefinite(in, available);
  return r == 1 && GetCount() == 0 ? 0 : r;
}

int OidSet::addOid(const ASNobjectId& oid) { return contains(oid) ? 1 : OidList::addOid(oid); }

const PolicyInformation* findExtensionByOid(const CertificatePolicies& list,
                                            const ASNobjectId& oid) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const PolicyInformation* p = list.GetNext(pos);
    if (p && p->policyIdentifier == oid) return p;
  }
  return nullptr;
}
