// Basic constraints and certificate policies of a certification path, in
// one pass from the trust anchor's side to the end-entity certificate.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "pki/x509/cert.h"
#include "pki/x509/poltab.h"
#include "pki/x509/x509ext.h"

// keyUsage bits of a CA's key (RFC 5280, 4.2.1.3).
enum KeyUsageBit { KEY_USAGE_KEY_CERT_SIGN = 5, KEY_USAGE_CRL_SIGN = 6 };

// The certificate's key may be used for `bit`: keyUsage is absent, or it is
// readable and has that bit. A CA whose key may not sign certificates (or
// CRLs) must not vouch for them (RFC 5280, 6.1.4(n) and 6.3.3(f)).
bool keyUsagePermits(const SignedCertificate& cert, KeyUsageBit bit);

class X509PathVerifier {
 public:
  enum Result {
    PATH_OK = 0,
    BASIC_CONSTRAINTS_UNREADABLE = 1,  // also a pathLenConstraint above 32 bits
    ISSUER_NOT_CA = 2,
    PATH_TOO_LONG = 3,
    POLICIES_UNREADABLE = 4,
    NO_EXPLICIT_POLICY = 6,
    MAPPINGS_UNREADABLE = 8,  // also a mapping from or to anyPolicy
    CONSTRAINTS_UNREADABLE = 9,  // also a value above 32 bits
    OUTSIDE_INITIAL_SET = 10,
    TABLE_FAILURE = 13,
    ISSUER_KEY_NOT_FOR_CERTIFICATES = 14  // keyUsage without keyCertSign, or unreadable
  };

  X509PathVerifier();
  // Called with every certificate before its checks; nonzero ends the run
  // with that value.
  virtual int checkCertificate(const SignedCertificate& cert);
  // Called with every certificate except the last, before its mappings.
  virtual int checkIssuerCertificate(const SignedCertificate& cert);
  virtual ~X509PathVerifier();
  X509PathVerifier(const X509PathVerifier&) = delete;
  X509PathVerifier& operator=(const X509PathVerifier&) = delete;

  // path[0] is on the trust anchor's side, path[n-1] the end entity. The
  // end step's table copy may throw std::bad_alloc.
  // The two flags are (initial explicit-policy, initial inhibit-mapping), in
  // that order. The certificate manager's documented call names its flags
  // (initial-any-policy, explicit-policy) in these places: a caller must
  // map them by meaning, not pass them on by position.
  int checkCertificatePolicies(const std::vector<const SignedCertificate*>& path,
                               bool initialExplicitPolicy, bool initialInhibitMapping,
                               const CertificatePolicies& initialPolicySet);

  // State left by the last run.
  const PolicyTable& policyTable() const { return mainTable; }
  const PolicyTable& finalTable() const { return workTable; }
  const PolicyMappings& mappingList() const { return mappings; }
  bool explicitPolicyRequired() const { return explicitPolicy != 0; }
  bool mappingInhibited() const { return inhibitMapping != 0; }

 private:
  int processCertificatePoliciesStep(uint32_t i);
  int checkBasicConstraints(uint32_t i);
  int checkIssuerKeyUsage(uint32_t i);
  int processPolicies(uint32_t i);
  int processPolicyMappings(uint32_t i);
  int readInhibitPolicyMapping(uint32_t i);
  int readRequireExplicitPolicy(uint32_t i);
  int readInhibitAnyPolicy(uint32_t i);
  void stepInhibitMappingCounter();
  void stepInhibitAnyCounter();
  void stepExplicitPolicyCounter();
  int finishPolicies();

  const Extension* extension(uint32_t i, const ASNobjectId& oid) const;
  bool selfIssued(uint32_t i) const;
  // Reads one of the policyConstraints fields into a flag and a counter.
  int readConstraint(uint32_t i, bool requireExplicit, unsigned char* flag, int32_t* counter,
                     unsigned char* counterSet);

  unsigned char explicitPolicy;
  unsigned char inhibitMapping;
  PolicyTable mainTable;
  PolicyTable workTable;
  CertificatePolicies initialSet;
  PolicyMappings mappings;
  std::unordered_set<std::string> mappingKeys;  // the mappings already listed
  const std::vector<const SignedCertificate*>* path;
  uint32_t count;
  const SignedCertificate* current;
  unsigned char initialExplicitPolicy;
  int32_t inhibitMappingCounter;
  int32_t explicitPolicyCounter;
  unsigned char inhibitMappingCounterSet;
  unsigned char explicitPolicyCounterSet;
  // inhibitAnyPolicy (RFC 5280, 6.1.3 (d)(2) and 6.1.4 (j)): once set, a
  // certificate's anyPolicy no longer stands for the policies expected.
  unsigned char inhibitAny;
  int32_t inhibitAnyCounter;
  unsigned char inhibitAnyCounterSet;
};
