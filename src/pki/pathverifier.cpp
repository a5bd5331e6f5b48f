#include "pki/pathverifier.h"

#include <new>
#include <unordered_map>

#include "base/commonerror.h"
#include "pki/oids.h"
#include "pki/pkiasn.h"

namespace {

const char* const SRC = "libx509/pathverifier";

// An OID's content octets as a lookup key. The policy lists of one
// certificate may hold thousands of entries; rows are matched against them
// through hashing, not by scanning the list for every row.
std::string oidKey(const ASNobjectId& oid) {
  const unsigned char* d = oid.data();
  const int n = oid.contentLength();
  return d && n > 0 ? std::string(reinterpret_cast<const char*>(d), static_cast<size_t>(n))
                    : std::string();
}

std::string mappingKey(const PolicyMapping& m) {
  // Length first, so that no two different pairs give one key.
  const std::string issuer = oidKey(m.issuerDomainPolicy);
  const uint32_t n = static_cast<uint32_t>(issuer.size());
  std::string key(reinterpret_cast<const char*>(&n), sizeof n);
  key += issuer;
  key += oidKey(m.subjectDomainPolicy);
  return key;
}

bool isAnyPolicy(const PolicyInformation& cell) { return cell.policyIdentifier == anyPolicy; }

// A cell that names a policy and carries no qualifiers.
void setCell(PolicyInformation& cell, const ASNobjectId& oid) {
  cell.policyIdentifier = oid;
  cell.policyQualifiers.clear();
}

}  // namespace

X509PathVerifier::X509PathVerifier()
    : explicitPolicy(0),
      inhibitMapping(0),
      path(nullptr),
      count(0),
      current(nullptr),
      initialExplicitPolicy(0),
      inhibitMappingCounter(0),
      explicitPolicyCounter(0),
      inhibitMappingCounterSet(0),
      explicitPolicyCounterSet(0) {}

X509PathVerifier::~X509PathVerifier() = default;

int X509PathVerifier::checkCertificate(const SignedCertificate&) { return 0; }

int X509PathVerifier::checkIssuerCertificate(const SignedCertificate&) { return 0; }

const Extension* X509PathVerifier::extension(uint32_t i, const ASNobjectId& oid) const {
  return findExtensionByOid(*(*path)[i]->tbsCertificate.extensions, oid);
}

bool X509PathVerifier::selfIssued(uint32_t i) const {
  const TBSCertificate& tbs = (*path)[i]->tbsCertificate;
  return tbs.subject == tbs.issuer;
}

int X509PathVerifier::checkCertificatePolicies(const std::vector<const SignedCertificate*>& certs,
                                               bool initialExplicit, bool initialInhibit,
                                               const CertificatePolicies& initialPolicySet) {
  for (const SignedCertificate* c : certs)
    checkInvariant(c != nullptr, SRC, __LINE__, "cert != NULL");
  path = &certs;
  current = nullptr;
  mappings.clear();
  mappingKeys.clear();
  workTable.clear();
  count = certs.size() > UINT32_MAX ? 0 : static_cast<uint32_t>(certs.size());
  mainTable.reset(count);
  if (mainTable.addRow() < 0) return TABLE_FAILURE;
  try {
    setCell(mainTable.row(0)[0], anyPolicy);
  } catch (const std::bad_alloc&) {
    return TABLE_FAILURE;
  }
  explicitPolicy = initialExplicit ? 1 : 0;
  initialExplicitPolicy = explicitPolicy;
  inhibitMapping = initialInhibit ? 1 : 0;
  try {
    initialSet.assign(initialPolicySet);
  } catch (const std::bad_alloc&) {
    return TABLE_FAILURE;
  }
  inhibitMappingCounterSet = explicitPolicyCounterSet = 0;
  inhibitMappingCounter = explicitPolicyCounter = 0;
  for (uint32_t i = 0; i < count; ++i) {
    current = certs[i];
    int r = processCertificatePoliciesStep(i);
    if (r != 0) return r;
  }
  return finishPolicies();
}

int X509PathVerifier::processCertificatePoliciesStep(uint32_t i) {
  mainTable.clearRowFlags();
  int r = checkCertificate(*current);
  if (r == 0) r = checkBasicConstraints(i);
  if (r == 0) r = processPolicies(i);
  if (r != 0) return r;
  if (i + 1 < count) {
    r = checkIssuerCertificate(*current);
    if (r == 0) r = processPolicyMappings(i);
    if (r != 0) return r;
    stepInhibitMappingCounter();
    r = readInhibitPolicyMapping(i);
    if (r != 0) return r;
    const int32_t rows = mainTable.rowCount();
    try {
      for (int32_t j = 0; j < rows; ++j)
        if (!mainTable.isRowMapped(j)) {
          PolicyInformation* cells = mainTable.row(j);
          cells[i + 1] = cells[i];
        }
    } catch (const std::bad_alloc&) {
      return TABLE_FAILURE;
    }
  }
  stepExplicitPolicyCounter();
  return readRequireExplicitPolicy(i);
}

int X509PathVerifier::checkBasicConstraints(uint32_t i) {
  if (i + 1 >= count) return 0;
  const Extension* e = extension(i, id_ce_basicConstraints);
  if (!e) return 0;
  BasicConstraints bc;
  if (bc.decodeOctets(e->extnValue) < 1) return BASIC_CONSTRAINTS_UNREADABLE;
  if (!bc.cA.get()) return ISSUER_NOT_CA;
  if (bc.pathLenConstraintPresent && !selfIssued(i)) {
    uint32_t pathLen = 0;
    if (!asnSmallValue(bc.pathLenConstraint, &pathLen)) return BASIC_CONSTRAINTS_UNREADABLE;
    if (count - i - 2 > pathLen) return PATH_TOO_LONG;
  }
  return 0;
}

int X509PathVerifier::processPolicies(uint32_t i) {
  if (mainTable.rowCount() == 0) return 0;
  const Extension* e = extension(i, id_ce_certificatePolicies);
  if (!e) {
    mainTable.clear();
    return 0;
  }
  CertificatePolicies policies;
  if (policies.decodeOctets(e->extnValue) < 1) return POLICIES_UNREADABLE;
  try {
    std::unordered_map<std::string, const PolicyInformation*> listed;
    const PolicyInformation* anyEntry = nullptr;
    for (POSITION pos = policies.GetHeadPosition(); pos;) {
      const PolicyInformation* p = policies.GetNext(pos);
      listed.emplace(oidKey(p->policyIdentifier), p);
      if (!anyEntry && isAnyPolicy(*p)) anyEntry = p;
    }
    const bool rowZeroAny = isAnyPolicy(mainTable.row(0)[i]);
    if (!rowZeroAny && !anyEntry) {
      for (int32_t j = 0; j < mainTable.rowCount();) {
        PolicyInformation& cell = mainTable.row(j)[i];
        auto it = listed.find(oidKey(cell.policyIdentifier));
        if (it == listed.end()) {
          mainTable.removeRow(j);
          continue;
        }
        if (!mergeByOid(cell.policyQualifiers, it->second->policyQualifiers)) return TABLE_FAILURE;
        ++j;
      }
      return 0;
    }
    if (!rowZeroAny) {
      for (int32_t j = 0; j < mainTable.rowCount(); ++j)
        if (!mergeByOid(mainTable.row(j)[i].policyQualifiers, anyEntry->policyQualifiers))
          return TABLE_FAILURE;
      return 0;
    }
    // Row 0 still allows any policy: it becomes one row per asserted
    // policy. The copies are written where duplicateRow put them, so other
    // rows keep their own policies.
    const int32_t k = policies.GetCount();
    if (k == 0) return 0;
    for (POSITION pos = policies.GetHeadPosition(); pos;)
      if (policies.GetNext(pos)->policyQualifiers.GetCount() > kMaxMergedQualifiers)
        return TABLE_FAILURE;
    std::vector<int32_t> rows(1, 0);
    for (int32_t t = 1; t < k; ++t) {
      int32_t r = mainTable.duplicateRow(0);
      if (r < 0) return TABLE_FAILURE;
      rows.push_back(r);
    }
    size_t t = 0;
    for (POSITION pos = policies.GetHeadPosition(); pos; ++t)
      mainTable.row(rows[t])[i] = *policies.GetNext(pos);
  } catch (const std::bad_alloc&) {
    return TABLE_FAILURE;
  }
  return 0;
}

int X509PathVerifier::processPolicyMappings(uint32_t i) {
  const Extension* e = extension(i, id_ce_policyMappings);
  if (!e) return 0;
  PolicyMappings list;
  if (list.decodeOctets(e->extnValue) < 1) return MAPPINGS_UNREADABLE;
  if (list.GetCount() == 0) return 0;
  try {
    for (POSITION pos = list.GetHeadPosition(); pos;) {
      const PolicyMapping* m = list.GetNext(pos);
      if (!mappingKeys.insert(mappingKey(*m)).second) continue;
      PolicyMapping* copy = mappings.addNew();
      if (!copy) return TABLE_FAILURE;
      *copy = *m;
    }
    if (mainTable.rowCount() == 0) return 0;
    if (inhibitMapping) {
      std::unordered_set<std::string> issuers;
      for (POSITION pos = list.GetHeadPosition(); pos;)
        issuers.insert(oidKey(list.GetNext(pos)->issuerDomainPolicy));
      for (int32_t j = 0; j < mainTable.rowCount();) {
        if (issuers.count(oidKey(mainTable.row(j)[i].policyIdentifier)))
          mainTable.removeRow(j);
        else
          ++j;
      }
      return 0;
    }
    if (!isAnyPolicy(mainTable.row(0)[i])) {
      std::unordered_map<std::string, std::vector<const PolicyMapping*>> byIssuer;
      for (POSITION pos = list.GetHeadPosition(); pos;) {
        const PolicyMapping* m = list.GetNext(pos);
        byIssuer[oidKey(m->issuerDomainPolicy)].push_back(m);
      }
      const int32_t rows = mainTable.rowCount();
      for (int32_t j = 0; j < rows; ++j) {
        auto it = byIssuer.find(oidKey(mainTable.row(j)[i].policyIdentifier));
        if (it == byIssuer.end()) continue;
        bool first = true;
        for (const PolicyMapping* m : it->second) {
          int32_t target = j;
          if (!first) {
            target = mainTable.duplicateRow(j);
            if (target < 0) return TABLE_FAILURE;
          }
          first = false;
          setCell(mainTable.row(target)[i + 1], m->subjectDomainPolicy);
          mainTable.setRowMapped(target, true);
        }
      }
      return 0;
    }
    const PolicyMapping* m1 = list.GetHead();
    PolicyInformation* row0 = mainTable.row(0);
    setCell(row0[i], m1->issuerDomainPolicy);
    setCell(row0[i + 1], m1->subjectDomainPolicy);
    mainTable.setRowMapped(0, true);
    for (POSITION pos = list.GetHeadPosition(); pos;) {
      const PolicyMapping* m = list.GetNext(pos);
      int32_t r = mainTable.duplicateRow(0);
      if (r < 0) return TABLE_FAILURE;
      setCell(mainTable.row(r)[i + 1], m->subjectDomainPolicy);
      mainTable.setRowMapped(r, true);
    }
  } catch (const std::bad_alloc&) {
    return TABLE_FAILURE;
  }
  return 0;
}

namespace {
// A counter that is set steps down once per certificate that is not
// self-issued; reaching 0 sets its flag.
void stepCounter(unsigned char* flag, int32_t* counter, unsigned char counterSet, bool selfIssued) {
  if (*flag || !counterSet || selfIssued || *counter == INT32_MIN) return;
  if (--*counter == 0) *flag = 1;
}
}  // namespace

void X509PathVerifier::stepInhibitMappingCounter() {
  const TBSCertificate& tbs = current->tbsCertificate;
  stepCounter(&inhibitMapping, &inhibitMappingCounter, inhibitMappingCounterSet,
              tbs.subject == tbs.issuer);
}

void X509PathVerifier::stepExplicitPolicyCounter() {
  const TBSCertificate& tbs = current->tbsCertificate;
  stepCounter(&explicitPolicy, &explicitPolicyCounter, explicitPolicyCounterSet,
              tbs.subject == tbs.issuer);
}

int X509PathVerifier::readConstraint(uint32_t i, bool requireExplicit, unsigned char* flag,
                                     int32_t* counter, unsigned char* counterSet) {
  const Extension* e = extension(i, id_ce_policyConstraints);
  if (!e) return 0;
  PolicyConstraints pc;
  if (pc.decodeOctets(e->extnValue) < 1) return CONSTRAINTS_UNREADABLE;
  const bool present =
      requireExplicit ? pc.requireExplicitPolicyPresent : pc.inhibitPolicyMappingPresent;
  if (!present) return 0;
  uint32_t value = 0;
  if (!asnSmallValue(requireExplicit ? pc.requireExplicitPolicy : pc.inhibitPolicyMapping, &value))
    return CONSTRAINTS_UNREADABLE;
  // The counters are signed 32-bit: a value of 2^31 or more counts as
  // negative and never reaches 0, as a count that long never would.
  const int32_t v = static_cast<int32_t>(value);
  if (v == 0) {
    *flag = 1;
  } else if (!*counterSet || *counter > v) {
    *counter = v;
    *counterSet = 1;
  }
  return 0;
}

int X509PathVerifier::readInhibitPolicyMapping(uint32_t i) {
  return readConstraint(i, false, &inhibitMapping, &inhibitMappingCounter,
                        &inhibitMappingCounterSet);
}

int X509PathVerifier::readRequireExplicitPolicy(uint32_t i) {
  return readConstraint(i, true, &explicitPolicy, &explicitPolicyCounter,
                        &explicitPolicyCounterSet);
}

int X509PathVerifier::finishPolicies() {
  if (mainTable.rowCount() == 0) return explicitPolicy ? NO_EXPLICIT_POLICY : PATH_OK;
  workTable.assign(mainTable);
  const PolicyInformation* row0 = workTable.row(0);
  uint32_t c = 0;
  while (c < count && isAnyPolicy(row0[c])) ++c;
  if (c == count) return PATH_OK;
  std::unordered_set<std::string> accepted;
  for (POSITION pos = initialSet.GetHeadPosition(); pos;)
    accepted.insert(oidKey(initialSet.GetNext(pos)->policyIdentifier));
  for (int32_t j = 0; j < workTable.rowCount();) {
    if (accepted.count(oidKey(workTable.row(j)[c].policyIdentifier)))
      ++j;
    else
      workTable.removeRow(j);
  }
  return workTable.rowCount() == 0 && initialExplicitPolicy ? OUTSIDE_INITIAL_SET : PATH_OK;
}
