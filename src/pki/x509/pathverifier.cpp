#include "pki/x509/pathverifier.h"

#include <new>
#include <unordered_map>

#include "base/commonerror.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"

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
      explicitPolicyCounterSet(0),
      inhibitAny(0),
      inhibitAnyCounter(0),
      inhibitAnyCounterSet(0) {}

X509PathVerifier::~X509PathVerifier() = default;

int X509PathVerifier::checkCertificate(const SignedCertificate&) { return 0; }

int X509PathVerifier::checkIssuerCertificate(const SignedCertificate&) { return 0; }

bool keyUsagePermits(const SignedCertificate& cert, KeyUsageBit bit) {
  const Extension* e = findExtensionByOid(*cert.tbsCertificate.extensions, id_ce_keyUsage);
  if (!e) return true;
  ASNbitstr usage;
  return usage.decodeOctets(e->extnValue) > 0 && usage.getBit(bit) == 1;
}

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
  inhibitMappingCounterSet = explicitPolicyCounterSet = inhibitAnyCounterSet = 0;
  inhibitMappingCounter = explicitPolicyCounter = inhibitAnyCounter = 0;
  inhibitAny = 0;
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
  if (r == 0) r = checkIssuerKeyUsage(i);
  if (r == 0) r = processPolicies(i);
  if (r != 0) return r;
  if (i + 1 < count) {
    r = checkIssuerCertificate(*current);
    if (r == 0) r = processPolicyMappings(i);
    if (r != 0) return r;
    stepInhibitMappingCounter();
    stepInhibitAnyCounter();
    r = readInhibitPolicyMapping(i);
    if (r != 0) return r;
    r = readInhibitAnyPolicy(i);
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
    // Self-issued certificates below do not count (RFC 5280, 4.2.1.9): a
    // CA's key rollover must not shorten the paths it may certify.
    uint32_t below = 0;
    for (uint32_t k = i + 1; k + 1 < count; ++k)
      if (!selfIssued(k)) ++below;
    if (below > pathLen) return PATH_TOO_LONG;
  }
  return 0;
}

int X509PathVerifier::checkIssuerKeyUsage(uint32_t i) {
  if (i + 1 >= count) return 0;
  return keyUsagePermits(*(*path)[i], KEY_USAGE_KEY_CERT_SIGN) ? 0 : ISSUER_KEY_NOT_FOR_CERTIFICATES;
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
  // The list must hold at least one policy; read as empty it would let
  // every row through (under anyPolicy) or none.
  if (policies.GetCount() == 0) return POLICIES_UNREADABLE;
  // Under inhibitAnyPolicy the certificate's anyPolicy counts only in a
  // self-issued intermediate certificate (RFC 5280, 6.1.3 (d)(2)).
  const bool anyCounts = !inhibitAny || (i + 1 < count && selfIssued(i));
  try {
    // A policy named twice is a malformed list (RFC 5280, 4.2.1.4): its two
    // entries may carry different qualifiers.
    std::unordered_set<std::string> named;
    for (POSITION pos = policies.GetHeadPosition(); pos;) {
      const PolicyInformation* p = policies.GetNext(pos);
      if (!named.insert(oidKey(p->policyIdentifier)).second) return POLICIES_UNREADABLE;
    }
    // Each OID once, in the certificate's order.
    std::unordered_map<std::string, const PolicyInformation*> listed;
    std::vector<const PolicyInformation*> entries;
    const PolicyInformation* anyEntry = nullptr;
    for (POSITION pos = policies.GetHeadPosition(); pos;) {
      const PolicyInformation* p = policies.GetNext(pos);
      if (isAnyPolicy(*p) && !anyCounts) continue;
      listed.emplace(oidKey(p->policyIdentifier), p);
      entries.push_back(p);
      if (isAnyPolicy(*p)) anyEntry = p;
    }
    // Each row is decided on its own cell. A row naming a policy stays when
    // the certificate lists that policy (or anyPolicy), taking the listed
    // qualifiers; otherwise it ends here.
    const int32_t rows = mainTable.rowCount();
    std::vector<unsigned char> drop(static_cast<size_t>(rows), 0);
    std::vector<int32_t> anyRows;
    std::unordered_set<std::string> matched;  // policies a named row carries on
    for (int32_t j = 0; j < rows; ++j) {
      PolicyInformation& cell = mainTable.row(j)[i];
      if (isAnyPolicy(cell)) {
        anyRows.push_back(j);
        continue;
      }
      std::string key = oidKey(cell.policyIdentifier);
      auto it = listed.find(key);
      const PolicyInformation* source = it != listed.end() ? it->second : anyEntry;
      if (!source) {
        drop[static_cast<size_t>(j)] = 1;
        continue;
      }
      if (!mergeByOid(cell.policyQualifiers, source->policyQualifiers)) return TABLE_FAILURE;
      if (it != listed.end()) matched.insert(std::move(key));
    }
    // A row allowing any policy becomes one row per listed policy that no
    // named row already carries (anyPolicy itself included); with none it
    // ends. New rows are appended, so the rows decided above keep their
    // places.
    std::vector<const PolicyInformation*> spread;
    if (!anyRows.empty())
      for (const PolicyInformation* p : entries) {
        if (matched.count(oidKey(p->policyIdentifier))) continue;
        // Every new row gets its own copy of the qualifiers.
        if (p->policyQualifiers.GetCount() > kMaxMergedQualifiers) return TABLE_FAILURE;
        spread.push_back(p);
      }
    for (int32_t j : anyRows) {
      if (spread.empty()) {
        drop[static_cast<size_t>(j)] = 1;
        continue;
      }
      for (size_t t = 1; t < spread.size(); ++t) {
        const int32_t r = mainTable.duplicateRow(j);
        if (r < 0) return TABLE_FAILURE;
        mainTable.row(r)[i] = *spread[t];
      }
      mainTable.row(j)[i] = *spread[0];
    }
    mainTable.removeRows(drop);
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
  // anyPolicy is never mapped nor mapped to (RFC 5280, 6.1.4 (a)).
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const PolicyMapping* m = list.GetNext(pos);
    if (m->issuerDomainPolicy == anyPolicy || m->subjectDomainPolicy == anyPolicy)
      return MAPPINGS_UNREADABLE;
  }
  try {
    for (POSITION pos = list.GetHeadPosition(); pos;) {
      const PolicyMapping* m = list.GetNext(pos);
      if (!mappingKeys.insert(mappingKey(*m)).second) continue;
      PolicyMapping* copy = mappings.addNew();
      if (!copy) return TABLE_FAILURE;
      *copy = *m;
    }
    const int32_t rows = mainTable.rowCount();
    if (rows == 0) return 0;
    if (inhibitMapping) {
      std::unordered_set<std::string> issuers;
      for (POSITION pos = list.GetHeadPosition(); pos;)
        issuers.insert(oidKey(list.GetNext(pos)->issuerDomainPolicy));
      std::vector<unsigned char> drop(static_cast<size_t>(rows), 0);
      for (int32_t j = 0; j < rows; ++j)
        drop[static_cast<size_t>(j)] =
            issuers.count(oidKey(mainTable.row(j)[i].policyIdentifier)) ? 1 : 0;
      mainTable.removeRows(drop);
      return 0;
    }
    // The mappings of each issuer policy, in the extension's order.
    std::vector<std::string> issuerOrder;
    std::unordered_map<std::string, std::vector<const PolicyMapping*>> byIssuer;
    for (POSITION pos = list.GetHeadPosition(); pos;) {
      const PolicyMapping* m = list.GetNext(pos);
      std::string key = oidKey(m->issuerDomainPolicy);
      auto& targets = byIssuer[key];
      if (targets.empty()) issuerOrder.push_back(key);
      targets.push_back(m);
    }
    // Maps row target's next column to each subject policy of one issuer
    // policy: the row itself takes the first, copies of it the others.
    auto mapRow = [&](int32_t target, const std::vector<const PolicyMapping*>& targets) {
      bool first = true;
      for (const PolicyMapping* m : targets) {
        int32_t r = target;
        if (!first) {
          r = mainTable.duplicateRow(target);
          if (r < 0) return false;
        }
        first = false;
        setCell(mainTable.row(r)[i + 1], m->subjectDomainPolicy);
        mainTable.setRowMapped(r, true);
      }
      return true;
    };
    // Rows naming an issuer policy are mapped themselves. A row allowing any
    // policy stays as it is and gains, beside it, a row for each issuer
    // policy that no row names, mapped like a named one.
    std::unordered_set<std::string> named;
    std::vector<int32_t> anyRows;
    for (int32_t j = 0; j < rows; ++j) {
      const PolicyInformation& cell = mainTable.row(j)[i];
      if (isAnyPolicy(cell)) {
        anyRows.push_back(j);
        continue;
      }
      std::string key = oidKey(cell.policyIdentifier);
      auto it = byIssuer.find(key);
      if (it == byIssuer.end()) continue;
      named.insert(std::move(key));
      if (!mapRow(j, it->second)) return TABLE_FAILURE;
    }
    for (int32_t j : anyRows) {
      for (const std::string& key : issuerOrder) {
        if (named.count(key)) continue;
        const std::vector<const PolicyMapping*>& targets = byIssuer[key];
        const int32_t r = mainTable.duplicateRow(j);
        if (r < 0) return TABLE_FAILURE;
        mainTable.row(r)[i].policyIdentifier = targets.front()->issuerDomainPolicy;
        if (!mapRow(r, targets)) return TABLE_FAILURE;
      }
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
  if (*flag || !counterSet || selfIssued) return;
  if (--*counter == 0) *flag = 1;
}

// A constraint's value: 0 sets the flag now, another value the counter when
// it is shorter than the one running. The counters are signed 32-bit. A value
// of 2^31 or more (or a negative one read as its low 32 bits) is clamped
// rather than cast: a cast would make it negative, and a subordinate CA could
// then replace a superior's smaller count with one that never runs out.
void setConstraint(uint32_t value, unsigned char* flag, int32_t* counter,
                   unsigned char* counterSet) {
  const int32_t v = value > uint32_t(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
  if (v == 0) {
    *flag = 1;
  } else if (!*counterSet || *counter > v) {
    *counter = v;
    *counterSet = 1;
  }
}
}  // namespace

void X509PathVerifier::stepInhibitMappingCounter() {
  const TBSCertificate& tbs = current->tbsCertificate;
  stepCounter(&inhibitMapping, &inhibitMappingCounter, inhibitMappingCounterSet,
              tbs.subject == tbs.issuer);
}

void X509PathVerifier::stepInhibitAnyCounter() {
  const TBSCertificate& tbs = current->tbsCertificate;
  stepCounter(&inhibitAny, &inhibitAnyCounter, inhibitAnyCounterSet, tbs.subject == tbs.issuer);
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
  setConstraint(value, flag, counter, counterSet);
  return 0;
}

int X509PathVerifier::readInhibitPolicyMapping(uint32_t i) {
  return readConstraint(i, false, &inhibitMapping, &inhibitMappingCounter,
                        &inhibitMappingCounterSet);
}

int X509PathVerifier::readInhibitAnyPolicy(uint32_t i) {
  const Extension* e = extension(i, id_ce_inhibitAnyPolicy);
  if (!e) return 0;
  ASNinteger skipCerts;  // InhibitAnyPolicy ::= SkipCerts ::= INTEGER (0..MAX)
  uint32_t value = 0;
  if (skipCerts.decodeOctets(e->extnValue) != e->extnValue.contentLength() ||
      !asnSmallValue(skipCerts, &value))
    return CONSTRAINTS_UNREADABLE;
  setConstraint(value, &inhibitAny, &inhibitAnyCounter, &inhibitAnyCounterSet);
  return 0;
}

int X509PathVerifier::readRequireExplicitPolicy(uint32_t i) {
  return readConstraint(i, true, &explicitPolicy, &explicitPolicyCounter,
                        &explicitPolicyCounterSet);
}

int X509PathVerifier::finishPolicies() {
  if (mainTable.rowCount() == 0) return explicitPolicy ? NO_EXPLICIT_POLICY : PATH_OK;
  workTable.assign(mainTable);
  // An initial set that is empty or holds anyPolicy admits every policy: the
  // caller asked for no particular one.
  if (initialSet.GetCount() == 0 || findExtensionByOid(initialSet, anyPolicy)) return PATH_OK;
  // The OID keys and flags below are this verifier's own; their allocation
  // failing answers the table code like every other table failure.
  std::unordered_set<std::string> accepted;
  std::vector<unsigned char> drop;
  try {
    for (POSITION pos = initialSet.GetHeadPosition(); pos;)
      accepted.insert(oidKey(initialSet.GetNext(pos)->policyIdentifier));
    // Each row is judged by its own first policy that is not anyPolicy (the
    // one it had where anyPolicy ended). A row that is anyPolicy throughout
    // allows any policy and stays.
    const int32_t rows = workTable.rowCount();
    drop.assign(static_cast<size_t>(rows), 0);
    for (int32_t j = 0; j < rows; ++j) {
      const PolicyInformation* cells = workTable.row(j);
      uint32_t c = 0;
      while (c < count && isAnyPolicy(cells[c])) ++c;
      if (c < count && !accepted.count(oidKey(cells[c].policyIdentifier)))
        drop[static_cast<size_t>(j)] = 1;
    }
  } catch (const std::bad_alloc&) {
    return TABLE_FAILURE;
  }
  workTable.removeRows(drop);
  return workTable.rowCount() == 0 && initialExplicitPolicy ? OUTSIDE_INITIAL_SET : PATH_OK;
}
