// Values of certificate and CRL extensions (RFC 5280, QcStatement of RFC
// 3739): each is decoded from an Extension's extnValue with decodeOctets and
// keeps which optional members it read, so it writes the same value again.
//
// Members with context tags are recognised from the identifier octet of the
// next element before anything is decoded: the framework accepts any context
// tag on an implicitly tagged value, so decoding first and looking later
// would take one member for another.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "pki/common/extension.h"
#include "pki/names/dname.h"

// GeneralNames: each GeneralName is kept as one undecoded element.
class GeneralNames : public ASNsequenceList<ASNany> {
 public:
  explicit GeneralNames(unsigned char tag = 0) : ASNsequenceList<ASNany>(tag) {}
};

class BasicConstraints : public ASNsequenceF {
 public:
  explicit BasicConstraints(unsigned char tag = 0);
  ~BasicConstraints() override;
  BasicConstraints(const BasicConstraints&) = delete;
  BasicConstraints& operator=(const BasicConstraints&) = delete;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNbool cA;  // DEFAULT FALSE
  ASNinteger pathLenConstraint;
  unsigned char pathLenConstraintPresent;
};

class AuthorityKeyIdentifier : public ASNsequenceF {
 public:
  explicit AuthorityKeyIdentifier(unsigned char tag = 0);
  ~AuthorityKeyIdentifier() override;
  AuthorityKeyIdentifier(const AuthorityKeyIdentifier&) = delete;
  AuthorityKeyIdentifier& operator=(const AuthorityKeyIdentifier&) = delete;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // A [1] must be followed by its [2]: the two are written together, so
  // one without the other could not be written again.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNoctstr keyIdentifier;               // [0]
  GeneralNames authorityCertIssuer;      // [1]
  ASNinteger authorityCertSerialNumber;  // [2], present with [1]
  unsigned char keyIdentifierPresent;
  unsigned char authorityCertIssuerPresent;
};

// CHOICE { fullName [0] GeneralNames, nameRelativeToCRLIssuer [1] RDN },
// built with the explicit tag that wraps it in its owner.
class DistributionPointName : public ASNchoice {
 public:
  explicit DistributionPointName(unsigned char tag = 0xA0);
  DistributionPointName(const DistributionPointName&) = delete;
  // Copies the chosen alternative (std::bad_alloc "bad allocation").
  DistributionPointName& operator=(const DistributionPointName& other);
  ASNobject* const* objectList() const override { return list; }

  GeneralNames fullName;
  RDname nameRelativeToCRLIssuer;

 private:
  ASNobject* list[3];
};

class DistributionPoint : public ASNsequenceF {
 public:
  explicit DistributionPoint(unsigned char tag = 0);
  ~DistributionPoint() override;
  DistributionPoint(const DistributionPoint&) = delete;
  DistributionPoint& operator=(const DistributionPoint& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  DistributionPointName distributionPoint;  // [0] explicit
  ASNbitstr reasons;                        // [1]
  GeneralNames cRLIssuer;                   // [2]
  unsigned char distributionPointPresent;
  unsigned char reasonsPresent;
  unsigned char cRLIssuerPresent;
};

class IssuingDistributionPoint : public ASNsequenceF {
 public:
  explicit IssuingDistributionPoint(unsigned char tag = 0);
  ~IssuingDistributionPoint() override;
  IssuingDistributionPoint(const IssuingDistributionPoint&) = delete;
  IssuingDistributionPoint& operator=(const IssuingDistributionPoint&) = delete;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  DistributionPointName distributionPoint;  // [0] explicit
  ASNbool onlyContainsUserCerts;            // [1] DEFAULT FALSE
  ASNbool onlyContainsCACerts;              // [2] DEFAULT FALSE
  ASNbitstr onlySomeReasons;                // [3]
  ASNbool indirectCRL;                      // [4] DEFAULT FALSE
  unsigned char distributionPointPresent;
  unsigned char onlySomeReasonsPresent;
};

class QcStatement : public ASNsequenceF {
 public:
  explicit QcStatement(unsigned char tag = 0);
  QcStatement(const QcStatement& other);
  ~QcStatement() override;
  QcStatement& operator=(const QcStatement& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId statementId;
  ASNany statementInfo;
  unsigned char statementInfoPresent;
};

class AccessDescription : public ASNsequenceF {
 public:
  explicit AccessDescription(unsigned char tag = 0);
  AccessDescription(const AccessDescription& other);
  ~AccessDescription() override;
  AccessDescription& operator=(const AccessDescription& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId accessMethod;
  ASNany accessLocation;  // a GeneralName, context tag [0]..[8]
};

class PolicyConstraints : public ASNsequenceF {
 public:
  explicit PolicyConstraints(unsigned char tag = 0);
  ~PolicyConstraints() override;
  PolicyConstraints(const PolicyConstraints&) = delete;
  PolicyConstraints& operator=(const PolicyConstraints&) = delete;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger requireExplicitPolicy;  // [0]
  ASNinteger inhibitPolicyMapping;   // [1]
  unsigned char requireExplicitPolicyPresent;
  unsigned char inhibitPolicyMappingPresent;
};

class PolicyQualifierInfo : public ASNsequenceF {
 public:
  explicit PolicyQualifierInfo(unsigned char tag = 0);
  PolicyQualifierInfo(const PolicyQualifierInfo& other);
  ~PolicyQualifierInfo() override;
  PolicyQualifierInfo& operator=(const PolicyQualifierInfo& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId policyQualifierId;
  ASNany qualifier;
};

class PolicyQualifiers : public ASNsequenceList<PolicyQualifierInfo> {
 public:
  explicit PolicyQualifiers(unsigned char tag = 0) : ASNsequenceList<PolicyQualifierInfo>(tag) {}
};

class PolicyInformation : public ASNsequenceF {
 public:
  explicit PolicyInformation(unsigned char tag = 0);
  PolicyInformation(const PolicyInformation& other);
  ~PolicyInformation() override;
  // The OID, then the qualifier list emptied and refilled with copies
  // (std::bad_alloc "bad allocation").
  PolicyInformation& operator=(const PolicyInformation& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId policyIdentifier;
  PolicyQualifiers policyQualifiers;  // written when not empty
};

class PolicyMapping : public ASNsequenceF {
 public:
  explicit PolicyMapping(unsigned char tag = 0);
  PolicyMapping(const PolicyMapping& other);
  ~PolicyMapping() override;
  PolicyMapping& operator=(const PolicyMapping& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId issuerDomainPolicy;
  ASNobjectId subjectDomainPolicy;
};

// ---- the plain lists ----

class CertificatePolicies : public ASNsequenceList<PolicyInformation> {
 public:
  explicit CertificatePolicies(unsigned char tag = 0) : ASNsequenceList<PolicyInformation>(tag) {}
};

class PolicyMappings : public ASNsequenceList<PolicyMapping> {
 public:
  explicit PolicyMappings(unsigned char tag = 0) : ASNsequenceList<PolicyMapping>(tag) {}
};

class QcStatements : public ASNsequenceList<QcStatement> {
 public:
  explicit QcStatements(unsigned char tag = 0) : ASNsequenceList<QcStatement>(tag) {}
};

// cRLDistributionPoints and freshestCRL.
class CRLDistributionPoints : public ASNsequenceList<DistributionPoint> {
 public:
  explicit CRLDistributionPoints(unsigned char tag = 0) : ASNsequenceList<DistributionPoint>(tag) {}
};

// authorityInfoAccess and subjectInfoAccess.
class AuthorityInfoAccess : public ASNsequenceList<AccessDescription> {
 public:
  explicit AuthorityInfoAccess(unsigned char tag = 0) : ASNsequenceList<AccessDescription>(tag) {}
};

// SEQUENCE OF OBJECT IDENTIFIER, with the set operations the callers use.
class OidList : public ASNsequenceList<ASNobjectId> {
 public:
  explicit OidList(unsigned char tag = 0) : ASNsequenceList<ASNobjectId>(tag) {}
  bool contains(const ASNobjectId& oid) const;
  // Appends a copy of oid: 1, or 0 when it cannot be stored.
  int addOid(const ASNobjectId& oid);
};

// ExtKeyUsageSyntax ::= SEQUENCE SIZE (1..MAX) OF KeyPurposeId. An empty
// list is refused (0): it would pass every purpose check.
class ExtendedKeyUsage : public OidList {
 public:
  explicit ExtendedKeyUsage(unsigned char tag = 0) : OidList(tag) {}
  int decodeContent(GenericFile* in, int length) override;
  int decodeIndefinite(GenericFile* in, int available) override;
};

// The extendedKeyUsage among `extensions` names `purpose`; false when the
// extension is absent or does not decode.
bool extensionsGrantPurpose(const Extensions& extensions, const ASNobjectId& purpose);

// A set of OIDs (acceptable policies and the like): addOid keeps one copy
// of each OID.
class OidSet : public OidList {
 public:
  explicit OidSet(unsigned char tag = 0) : OidList(tag) {}
  int addOid(const ASNobjectId& oid);
};

// The first policy of the list with that OID, or null (the extension-list
// form is in pki/extension.h).
const PolicyInformation* findExtensionByOid(const CertificatePolicies& list,
                                            const ASNobjectId& oid);
