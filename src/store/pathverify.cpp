#include "store/pathverify.h"

#include "base/commonerror.h"
#include "base/workaccount.h"
#include "crypto/hash/lvhashbase.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/x509/pathverifier.h"
#include "store/crtstore.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

namespace {

const char* const SRC = "SRC/certmgr";

const char* const DP_RULE_TEXT =
    "Wymaga sie aby punkt dystrybucji list CRL zdefiniowany był dla wszystkich powodów "
    "unieważnień,\r\nmiał zdefiniowany przynajmiej jeden URI oraz aby (jeżeli obecny) "
    "identyfikator wyróżniajacy był zgodny z wystawcą certyfikatu.\r\n";

std::string oidText(const ASNobjectId& oid) {
  std::string s;
  if (!oid.toString(s)) s.clear();
  return s;
}

// GeneralName tags (context, [6] primitive and [4] constructed).
constexpr unsigned char GN_URI = 0x86;
constexpr unsigned char GN_DIRECTORY_NAME = 0xA4;

bool generalNameUri(const ASNany& name, std::string& uri) {
  if (name.getTag() != GN_URI) return false;
  const unsigned char* c = name.content();
  uri.assign(c ? reinterpret_cast<const char*>(c) : "", c ? static_cast<size_t>(name.length) : 0);
  return true;
}

bool directoryNameEquals(const ASNany& name, const DistinguishedName& dn) {
  if (name.getTag() != GN_DIRECTORY_NAME || !name.content() || name.length <= 0) return false;
  std::vector<unsigned char> der(name.content(), name.content() + name.length);
  DistinguishedName decoded;
  return decoded.decodeVector(der) == static_cast<int>(der.size()) && decoded == dn;
}

// Extensions handled by the policy processor, the builder or nobody.
bool handledElsewhere(const ASNobjectId& id) {
  static const ASNobjectId* const list[] = {
      &id_ce_authorityKeyIdentifier, &id_ce_subjectKeyIdentifier, &id_ce_keyUsage,
      &id_ce_privateKeyUsagePeriod,  &id_ce_certificatePolicies,  &id_ce_policyMappings,
      &id_ce_issuerAltName,          &id_ce_subjectDirectoryAttributes,
      &id_ce_basicConstraints,       &id_ce_policyConstraints,    &id_ce_inhibitAnyPolicy};
  for (const ASNobjectId* o : list)
    if (*o == id) return true;
  return false;
}

// 1.2.616.1.101.3.1.1.2, a Polish qualified-certificate statement.
const ASNobjectId& plQcStatement() {
  static const ASNobjectId oid("1.2.616.1.101.3.1.1.2");
  return oid;
}

// The semantics identifier of a SemanticsInformation statement is the one
// this system knows, or the value does not decode (as its readers take it).
bool knownSemantics(const QcStatement& s) {
  if (!s.statementInfoPresent) return true;
  const ASNany& info = s.statementInfo;
  if (info.getTag() != 0x30 || !info.content() || info.length <= 0) return true;
  std::vector<unsigned char> der(info.content(), info.content() + info.length);
  if (der[0] != 0x06) return false;  // no semantics identifier
  ASNobjectId id;
  if (id.decodeVector(der) <= 0) return true;
  return id == oid_0_4_0_194122_1;
}

bool recognisedStatement(const QcStatement& s) {
  const ASNobjectId& id = s.statementId;
  if (id == id_etsi_qcs_QcCompliance || id == id_etsi_qcs_QcLimitValue ||
      id == id_etsi_qcs_QcRetentionPeriod || id == id_etsi_qcs_QcSSCD || id == plQcStatement())
    return true;
  return id == id_qcs_pkixQCSyntax_v2 && knownSemantics(s);
}

// The first extension that breaks a rule of the list itself (RFC 5280,
// 4.2): a second instance of an OID (the readers take the first only, so
// the second would be a value nobody checked), a critical keyUsage that
// does not decode (its limits would be skipped), under an empty subject a
// critical subjectAltName (the one naming the subject) that does not decode
// into at least one name.
const Extension* malformedExtension(const Extensions& exts, bool subjectEmpty) {
  // The OIDs' content octets, hashed: a certificate not yet verified may
  // carry tens of thousands of extensions.
  std::unordered_set<std::string_view> seen;
  for (POSITION pos = exts.GetHeadPosition(); pos;) {
    const Extension* e = exts.GetNext(pos);
    if (!e) continue;
    const unsigned char* id = e->extnID.data();
    const int length = e->extnID.contentLength();
    const std::string_view key = id && length > 0
                                     ? std::string_view(reinterpret_cast<const char*>(id),
                                                        static_cast<size_t>(length))
                                     : std::string_view();
    if (!seen.insert(key).second) return e;
    if (e->extnID == id_ce_keyUsage && e->critical.get()) {
      ASNbitstr usage;
      if (usage.decodeOctets(e->extnValue) < 1) return e;
    }
    if (subjectEmpty && e->extnID == id_ce_subjectAltName && e->critical.get()) {
      GeneralNames names;
      if (names.decodeOctets(e->extnValue) < 1 || names.GetCount() == 0) return e;
    }
  }
  return nullptr;
}

ReportStream& nullReport() {
  static ReportStream r(nullptr);
  return r;
}

// The one CRL of `list` with the latest thisUpdate (null when empty).
SignedCertRevList* latest(CrlList& list) {
  SignedCertRevList* best = nullptr;
  for (auto& c : list)
    if (!best || best->tbsCertList.thisUpdate < c->tbsCertList.thisUpdate) best = c.get();
  return best;
}

// The validation data a signature collects is searched once per value it
// gains, a square of its length: each search pays the document's account by
// the values it compares.
bool containsCrl(const SignatureRevValues& list, const SignedCertRevList& crl) {
  workCharge(list.items.size());
  for (const CrlOrOcspValue* v : list.items)
    if (v && v->crl && sameCrl(*v->crl, crl)) return true;
  return false;
}

bool containsCertificate(const SignatureCrtValues& list, const SignedCertificate& c) {
  workCharge(list.items.size());
  for (const SignedCertificate* x : list.items)
    if (x && *x == c) return true;
  return false;
}

// Moves what `from` holds that `into` lacks (certificates by equality, CRL
// entries by CRL equality) to `into`.
void mergeCollector(PathCollector& from, PathCollector& into) {
  CrtAndRevValues* pairs[2][2] = {{&from.path, &into.path}, {&from.other, &into.other}};
  for (auto& p : pairs) {
    PathVerification::addMissingCertificates(p[0]->certificates, p[1]->certificates);
    auto& src = p[0]->revocations.items;
    for (auto it = src.begin(); it != src.end();) {
      CrlOrOcspValue* v = *it;
      if (v && (!v->crl || !containsCrl(p[1]->revocations, *v->crl))) {
        p[1]->revocations.items.push_back(v);
        it = src.erase(it);
      } else {
        ++it;
      }
    }
  }
}

// A copy of the CRL, or the CRL itself shared with its keeper; the same of
// the response.
void addEvidence(PathCollector& collector, const SignedCertRevList* crl,
                 const std::shared_ptr<SignedCertRevList>& crlOwner, const BasicOCSPResponse* ocsp,
                 const std::shared_ptr<const BasicOCSPResponse>& ocspOwner) {
  if (crl && crlOwner.get() == crl) {
    auto* v = new CrlOrOcspValue(crlOwner.get(), nullptr, 0);
    v->sharedCrl = crlOwner;
    collector.path.revocations.items.push_back(v);
    crl = nullptr;
  }
  std::unique_ptr<SignedCertRevList> c(crl ? new SignedCertRevList(*crl) : nullptr);
  const bool sharedOcsp = ocsp && ocspOwner.get() == ocsp;
  // A response has no copy of its own: its DER is read again.
  std::unique_ptr<BasicOCSPResponse> o;
  std::vector<unsigned char> der;
  if (ocsp && !sharedOcsp && ocsp->encodeVector(der) > 0) {
    o.reset(new BasicOCSPResponse());
    if (o->decodeVector(der) != static_cast<int>(der.size())) o.reset();
  }
  if (c) {
    auto* v = new CrlOrOcspValue(c.release(), nullptr, 1);
    collector.path.revocations.items.push_back(v);
  }
  if (sharedOcsp) {
    auto* v = new CrlOrOcspValue(nullptr, ocsp, 0);
    v->sharedOcsp = ocspOwner;
    collector.path.revocations.items.push_back(v);
  } else if (o) {
    auto* v = new CrlOrOcspValue(nullptr, o.release(), 1);
    collector.path.revocations.items.push_back(v);
  }
}

// Counts one level of verifyPath nesting for as long as it lives.
class NestingGuard {
 public:
  explicit NestingGuard(int& n) : counter(n) { ++counter; }
  ~NestingGuard() { --counter; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int& counter;
};

}  // namespace

bool sameCrl(const SignedCertRevList& a, const SignedCertRevList& b) {
  if (&a == &b) return true;
  if (!(a.signature == b.signature)) return false;
  unsigned char x[32], y[32];
  return a.digest(LV_HASH_SHA256, x, sizeof x) == 1 && b.digest(LV_HASH_SHA256, y, sizeof y) == 1 &&
         std::memcmp(x, y, sizeof x) == 0;
}

// ---- per-certificate extension checks ----

bool PathVerification::checkCertificateExtensions(const SignedCertificate& cert, int32_t purpose) {
  ReportStream& out = report ? *report : nullReport();
  const Extensions& exts = *const_cast<SignedCertificate&>(cert).tbsCertificate.extensions;
  // RFC 5280 4.1.2.6: an empty subject (a SEQUENCE of no RDN) is named by a
  // subjectAltName that must be critical; only there is a critical one known.
  const bool subjectEmpty = cert.tbsCertificate.subject.GetCount() == 0;
  if (const Extension* bad = malformedExtension(exts, subjectEmpty)) {
    out.writeCertificate(cert);
    out << "Błędny format rozszerzenia certyfikatu: " << oidText(bad->extnID).c_str() << "\r\n";
    return false;
  }
  for (POSITION pos = exts.GetHeadPosition(); pos;) {
    const Extension* e = exts.GetNext(pos);
    if (!e || handledElsewhere(e->extnID)) continue;
    const bool critical = e->critical.get();
    const ASNobjectId& id = e->extnID;
    // Names are not constrained here; the value was read by malformedExtension.
    if (id == id_ce_subjectAltName && subjectEmpty) continue;
    if (id == id_pe_qcStatements) {
      QcStatements list;
      if (list.decodeOctets(e->extnValue) < 1 || list.GetCount() == 0) continue;
      for (POSITION p = list.GetHeadPosition(); p;) {
        const QcStatement* s = list.GetNext(p);
        if (!s || recognisedStatement(*s)) continue;
        std::string text;
        if (!s->statementId.toString(text)) {
          out << "Błąd odczytu identyfikatora QcStatement! \r\n";
          return false;
        }
        if (critical) {
          out << "Nierozpoznana wartość rozszerzenia QCStatement" << " : " << text.c_str() << "\r\n";
          return false;
        }
      }
      continue;
    }
    if (id == id_ce_extKeyUsage) {
      ExtendedKeyUsage eku;
      const int r = eku.decodeOctets(e->extnValue);
      if (r < 1) {
        if (r != -2) {
          out.writeCertificate(cert);
          out << "Błędny format rozszerzenia certyfikatu: " << oidText(id).c_str() << "\r\n";
        }
        return false;
      }
      if (!critical) continue;
      for (POSITION p = eku.GetHeadPosition(); p;) {
        const ASNobjectId* k = eku.GetNext(p);
        if (!k) continue;
        bool ok = *k == privateOid_2_1_1_1 ||
                  (purpose == PATH_PURPOSE_TSA && *k == id_kp_timeStamping) ||
                  ((purpose == PATH_PURPOSE_OCSP || purpose == PATH_PURPOSE_OCSP_OTHER) &&
                   *k == id_kp_OCSPSigning);
        for (const ASNobjectId& listed : profileKeyUsages) ok = ok || listed == *k;
        if (!ok) {
          out.writeCertificate(cert);
          out << "Nieobsługiwana wartość krytycznego rozszerzenia certyfikatu ExtendedKeyUsage: "
              << oidText(*k).c_str() << "\r\n";
          return false;
        }
      }
      continue;
    }
    if (id == id_ce_cRLDistributionPoints || id == id_ce_freshestCRL) {
      if (!critical) continue;
      CRLDistributionPoints points;
      const int r = points.decodeOctets(e->extnValue);
      if (r < 1) {
        if (r != -2) {
          out.writeCertificate(cert);
          out << "Błędny format rozszerzenia certyfikatu: " << oidText(id).c_str() << "\r\n";
        }
        return false;
      }
      if (!checkDistributionPoints(points, cert.tbsCertificate.issuer, nullptr)) {
        out.writeCertificate(cert);
        out << DP_RULE_TEXT;
        return false;
      }
      continue;
    }
    if (id == id_pe_authorityInfoAccess) {
      if (!critical) continue;
      out << "Rozszerzenie 'Authority Information Access' jest krytyczne, co jest zabronione "
             "(RFC 3280)."
          << "\r\n";
      return false;
    }
    if (critical) {
      out.writeCertificate(cert);
      out << "Nieobsługiwane krytyczne rozszerzenie certyfikatu: " << oidText(id).c_str() << "\r\n";
      return false;
    }
  }
  return true;
}

bool PathVerification::checkDistributionPoints(const CRLDistributionPoints& points,
                                               const DistinguishedName& issuer,
                                               std::vector<std::string>* uris) {
  for (POSITION pos = points.GetHeadPosition(); pos;) {
    const DistributionPoint* dp = points.GetNext(pos);
    if (!dp) return false;
    if (dp->reasonsPresent)
      for (int bit = 1; bit <= 8; ++bit)
        if (dp->reasons.getBit(bit) != 1) return false;
    if (!dp->distributionPointPresent ||
        dp->distributionPoint.m_chosenObject != &dp->distributionPoint.fullName)
      return false;
    bool anyUri = false;
    const GeneralNames& names = dp->distributionPoint.fullName;
    for (POSITION p = names.GetHeadPosition(); p;) {
      const ASNany* n = names.GetNext(p);
      std::string uri;
      if (!n || !generalNameUri(*n, uri)) continue;
      anyUri = true;
      if (uris) uris->push_back(uri);
    }
    if (!anyUri) return false;
    if (dp->cRLIssuerPresent)
      for (POSITION p = dp->cRLIssuer.GetHeadPosition(); p;) {
        const ASNany* n = dp->cRLIssuer.GetNext(p);
        if (!n || !directoryNameEquals(*n, issuer)) return false;
      }
  }
  return true;
}

DistributionPointsInfo PathVerification::readDistributionPoints(const SignedCertificate& cert) {
  DistributionPointsInfo info;
  const Extensions& exts = *const_cast<SignedCertificate&>(cert).tbsCertificate.extensions;
  struct {
    const ASNobjectId* oid;
    int* kind;
    std::vector<std::string>* uris;
  } rows[] = {{&id_ce_freshestCRL, &info.freshestKind, &info.freshestUris},
              {&id_ce_cRLDistributionPoints, &info.pointsKind, &info.pointsUris}};
  for (auto& row : rows) {
    const Extension* e = findExtensionByOid(exts, *row.oid);
    if (!e) continue;
    CRLDistributionPoints points;
    std::vector<std::string> uris;
    if (points.decodeOctets(e->extnValue) < 1 ||
        !checkDistributionPoints(points, cert.tbsCertificate.issuer, &uris)) {
      if (e->critical.get()) info.criticalUnusable = true;
      continue;
    }
    *row.kind = e->critical.get() ? DistributionPointsInfo::CRITICAL
                                  : DistributionPointsInfo::NON_CRITICAL;
    *row.uris = std::move(uris);
  }
  return info;
}

// ---- small services ----

int PathVerification::qualifiedKeyUsage(const CertificatePath& path, bool checkWanted,
                                        int32_t& state) {
  checkInvariant(path.GetCount() != 0, SRC, __LINE__, "GetCount() != 0");
  if (path.qualifiedRoot == 0) {
    state = 1;
    return 0;
  }
  if (!checkWanted) {
    state = 0;
    return 0;
  }
  const CertificateItem* end = path.GetHead();
  ASNbitstr keyUsage;
  const int r = getExtensionValue(*const_cast<CertificateItem*>(end)->certificate->tbsCertificate.extensions,
                                  id_ce_keyUsage, keyUsage);
  if (r == 0) return 1;
  if (r == -2) return 15;
  state = (r == 1 && keyUsage.getBit(1) == 1) ? 0 : 2;
  return 0;
}

int PathVerification::addMissingCertificates(SignatureCrtValues& source,
                                             SignatureCrtValues& target) {
  int moved = 0;
  for (auto it = source.items.begin(); it != source.items.end();) {
    SignedCertificate* c = *it;
    if (c && !containsCertificate(target, *c)) {
      target.items.push_back(c);
      it = source.items.erase(it);
      ++moved;
    } else {
      ++it;
    }
  }
  return moved;
}

bool PathVerification::collectOcspUris(const AuthorityInfoAccess& aia,
                                       std::vector<std::string>& uris) {
  bool found = false;
  for (POSITION pos = aia.GetHeadPosition(); pos;) {
    const AccessDescription* d = aia.GetNext(pos);
    std::string uri;
    if (d && d->accessMethod == id_ad_ocsp && generalNameUri(d->accessLocation, uri)) {
      uris.push_back(uri);
      found = true;
    }
  }
  return found;
}

// ---- policies ----

int PathVerification::checkPathPolicies(CertificatePath& path) {
  const int count = path.GetCount();
  if (count <= 1) return 0;
  // The trust point is where the path starts, not one of its certificates
  // (RFC 5280, 6.1): a root without certificatePolicies would otherwise end
  // every policy before the path began, and its own pathLenConstraint would
  // count. The list runs from the certificate it issued down to the end
  // certificate.
  std::vector<const SignedCertificate*> certs;
  certs.reserve(static_cast<size_t>(count));
  POSITION position = path.GetTailPosition();
  path.GetPrev(position);  // the trust point
  while (position) certs.push_back(&path.GetPrev(position)->certificate.get());
  // No configured set (or an empty one) means any policy: the processor's
  // initial set is then anyPolicy itself. A configured set is enforced: the
  // processor applies its initial set only under an explicit-policy
  // requirement, so a configured set asks for one.
  CertificatePolicies initial;
  bool enforce = false;
  X509PathVerifier verifier;
  int r;
  try {
    if (userPolicySet && userPolicySet->GetCount() > 0) {
      initial.assign(*userPolicySet);
      enforce = true;
    } else {
      PolicyInformation* any = initial.addNew();
      if (!any) return 1;
      any->policyIdentifier = anyPolicy;
    }
    r = verifier.checkCertificatePolicies(certs, enforce, false, initial);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  ReportStream& out = report ? *report : nullReport();
  switch (r) {
    case X509PathVerifier::PATH_OK:
      return 0;
    case X509PathVerifier::TABLE_FAILURE:
      return 1;
    case X509PathVerifier::BASIC_CONSTRAINTS_UNREADABLE:
    case X509PathVerifier::ISSUER_KEY_NOT_FOR_CERTIFICATES:
    case X509PathVerifier::POLICIES_UNREADABLE:
    case X509PathVerifier::MAPPINGS_UNREADABLE:
    case X509PathVerifier::CONSTRAINTS_UNREADABLE:
      path.policyResult = 2;
      return PATH_RESULT_FAILED;
    case X509PathVerifier::ISSUER_NOT_CA:
      out << "Weryfikacja ścieżki X.509: certyfikat nie jest certyfikatem CCK\r\n";
      path.policyResult = 2;
      return PATH_RESULT_FAILED;
    case X509PathVerifier::PATH_TOO_LONG:
      out << "Weryfikacja ścieżki X.509: zbyt długa ścieżka certyfikacji\r\n";
      path.policyResult = 2;
      return PATH_RESULT_FAILED;
    case X509PathVerifier::NO_EXPLICIT_POLICY:
      out << "Weryfikacja ścieżki X.509: brak akceptowanych polityk\r\n";
      path.policyResult = 1;
      return PATH_RESULT_FAILED;
    case X509PathVerifier::OUTSIDE_INITIAL_SET:
      out << "Weryfikacja ścieżki X.509: polityki nie zgodne ze zbiorem polityk użytkownika\r\n";
      path.policyResult = 1;
      return PATH_RESULT_FAILED;
    default:
      checkInvariant(false, SRC, __LINE__, "false");
      return PATH_RESULT_FAILED;
  }
}

// ---- path verification ----

int PathVerification::verifyPath(CertificatePath& path, const RevocationArgs& args, bool freshCrl,
                                 int32_t purpose, bool temporaryOnly, ReportStream* pathReport,
                                 PathCollector* collector) {
  NestingGuard guard(nesting);
  // Responder and CRL-issuer paths nest verifications; crafted data could
  // nest them without end.
  if (nesting > MAX_NESTING) return PATH_RESULT_NO_PATH;
  return verifyPathNested(path, args, freshCrl, purpose, temporaryOnly, pathReport, collector);
}

int PathVerification::verifyPathNested(CertificatePath& path, const RevocationArgs& args,
                                       bool freshCrl, int32_t purpose, bool temporaryOnly,
                                       ReportStream* out, PathCollector* collector) {
  checkInvariant(revocation != nullptr, SRC, __LINE__, "revocation != NULL");
  if (nesting == 1) {
    revocation->removeMarkedCrlItems();
    revocation->clearOcspCache();
    // Whether or not this one collects: a context verifying on and on would
    // hold every forged CRL its receipts carry, refused each time, and a copy
    // of every response they carry.
    revocation->releaseLastVerification();
    if (collector) revocation->demoteVerifiedCrls();
  }
  const int count = path.GetCount();
  if (count == 0) return PATH_RESULT_NO_PATH;
  bool suspended = false;
  POSITION next = path.GetHeadPosition();
  for (int i = 0; i < count; ++i) {
    CertificateItem* item = path.GetNext(next);
    if (collector && !(i == 0 && (purpose == PATH_PURPOSE_TSA || purpose == PATH_PURPOSE_SIGNER)))
      collector->path.certificates.items.push_back(new SignedCertificate(item->certificate));
    if (i == count - 1) break;
    const int r = checkRevocation(*item, *path.GetAt(next), args, freshCrl, purpose,
                                  temporaryOnly, out, collector);
    if (r != 0) return r;
    if (item->wwc != WWC_OK && item->wwc != WWC_SUSPENDED) return PATH_RESULT_FAILED;
    if (item->wwc == WWC_SUSPENDED) suspended = true;
  }
  CertificateItem* trust = path.GetTail();
  trust->wwc = WWC_OK;
  trust->revocationState = REVSTATE_FOUND;
  if (collector) {
    auto& certs = collector->other.certificates.items;
    for (auto it = certs.begin(); it != certs.end();) {
      if (*it && containsCertificate(collector->path.certificates, **it)) {
        delete *it;
        it = certs.erase(it);
      } else {
        ++it;
      }
    }
    auto& revs = collector->other.revocations.items;
    for (auto it = revs.begin(); it != revs.end();) {
      CrlOrOcspValue* v = *it;
      checkInvariant(v && v->crl != nullptr, SRC, __LINE__, "crlOrOcsp2->m_crl != NULL");
      if (containsCrl(collector->path.revocations, *v->crl)) {
        delete v;
        it = revs.erase(it);
      } else {
        ++it;
      }
    }
  }
  const int r = checkPathPolicies(path);
  if (r != 0) return r;
  return suspended ? PATH_RESULT_FAILED : 0;
}

int PathVerification::fetchCrls(const std::vector<std::string>& uris,
                                const DistinguishedName& issuer, CrlList& out, bool oneNeeded,
                                ReportStream& report) {
  for (const std::string& uri : uris) {
    CrlList got;
    if (revocation->queryForCrl(uri, issuer, got, report) != 0 || got.empty()) continue;
    if (oneNeeded && got.size() != 1) continue;
    for (auto& c : got) out.push_back(std::move(c));
    return 0;
  }
  return 1;
}

int PathVerification::checkRevocation(CertificateItem& item, const CertificateItem& issuerItem,
                                      const RevocationArgs& args, bool freshCrl, int32_t purpose,
                                      bool temporaryOnly, ReportStream* pathReport,
                                      PathCollector* collector) {
  ReportStream& out = pathReport ? *pathReport : nullReport();
  const SignedCertificate& cert = item.certificate;
  const SignedCertificate& issuer = issuerItem.certificate;
  const bool isCa = cert.isCa();
  const char* const kind = isCa ? "ARL" : "CRL";
  auto line = [&](const char* before, const char* after) {
    out << before << kind << after << "\r\n";
  };
  item.revocationState = REVSTATE_FOUND;
  item.wwc = WWC_OK;

  // 2. OCSP evidence first.
  std::shared_ptr<const BasicOCSPResponse> ocsp;
  if (!(purpose == PATH_PURPOSE_OCSP && !isCa)) {
    PathCollector local;
    ocsp = revocation->findOcspResponse(cert, issuer, args, local);
    if (ocsp && collector) mergeCollector(local, *collector);
  }

  // 3. Distribution points.
  DistributionPointsInfo dps = readDistributionPoints(cert);
  if (dps.criticalUnusable) {
    out << "Nie powiodło się odczytanie krytycznego rozszerzenia dotyczącego punktów dystrybucji "
           "list CRL."
        << "\r\n";
    item.revocationState = REVSTATE_CRL_UNOBTAINABLE;
    item.wwc = WWC_UNCHECKED;
    return PATH_RESULT_FAILED;
  }

  UsedRevocationData used;
  const DistinguishedName& crlIssuer = cert.tbsCertificate.issuer;
  auto verifyFetched = [&](const SignedCertRevList& crl, std::string& message) {
    // A CA whose key may not sign CRLs does not vouch for its own (RFC 5280, 6.3.3(f)).
    if (crl.tbsCertList.issuer == issuer.tbsCertificate.subject &&
        !keyUsagePermits(issuer, KEY_USAGE_CRL_SIGN)) {
      message = "klucz wystawcy nie służy do podpisywania list CRL";
      return 1;
    }
    PathCollector local;
    const int r = revocation->verifyCrl(crl, args, local, message);
    if (r == 0 && collector) mergeCollector(local, *collector);
    return r;
  };
  const bool critical = dps.freshestKind == DistributionPointsInfo::CRITICAL ||
                        dps.pointsKind == DistributionPointsInfo::CRITICAL;
  // The CRLs the status evaluation may point at live to the end.
  std::shared_ptr<SignedCertRevList> downloaded;  // fetched in step 6
  std::shared_ptr<SignedCertRevList> candidate;   // step 5
  CrlList concerning;                             // step 4
  int r = 0;
  if (critical && !temporaryOnly) {
    // 4. A fresh CRL is required.
    line("Wykryto potrzebę pobrania świeżej listy ", " (krytyczne)");
    CrlList fetched;
    bool ok = true;
    if (!dps.freshestUris.empty() &&
        fetchCrls(dps.freshestUris, crlIssuer, fetched, false, out) != 0)
      ok = false;
    if (ok && !dps.pointsUris.empty() &&
        fetchCrls(dps.pointsUris, crlIssuer, fetched, true, out) != 0)
      ok = false;
    for (auto& c : fetched)
      if (c->tbsCertList.issuer == crlIssuer) concerning.push_back(std::move(c));
    SignedCertRevList* fresh = ok ? latest(concerning) : nullptr;
    const char* failure = "Nie powiodło się pobranie lub zweryfikowanie listy ";
    const char* failureEnd = " niezbędnej do weryfikacji certyfikatu.";
    if (!fresh) {
      line(failure, failureEnd);
      item.revocationState = REVSTATE_CRL_UNOBTAINABLE;
      item.wwc = WWC_UNCHECKED;
      return PATH_RESULT_FAILED;
    }
    line("Pobrano świeżą liste ", "");
    if (revocation->isVerifiedCrl(*fresh)) {
      line("Pobrana lista ", " jest już zweryfikowana");
    } else if (!(args.knownCrls && containsCrl(*args.knownCrls, *fresh))) {
      out << "\r\n" << "Weryfikacja listy CRL\r\n";
      std::string message;
      if (verifyFetched(*fresh, message) != 0) {
        out << "Błąd weryfikacji listy CRL: " << failure << kind << failureEnd << "\r\n";
        item.revocationState = REVSTATE_CRL_UNOBTAINABLE;
        item.wwc = WWC_UNCHECKED;
        return PATH_RESULT_FAILED;
      }
      revocation->rememberCrl(*fresh);
      revocation->recordVerifiedCrl(*fresh);
      out << "Lista CRL zweryfikowana\r\n";
    }
    r = revocation->checkStatus(item, args, ocsp.get(), issuer, fresh, used);
    if (r != 0) return r;
    // A CRL handed back for verification here is the fresh one, verified above.
    used.crlToVerify.reset();
  } else {
    // 5. A non-critical freshestCRL gives a candidate.
    CrlList fetched;
    if (!temporaryOnly && dps.freshestKind == DistributionPointsInfo::NON_CRITICAL) {
      line("Wykryto potrzebę pobrania świeżej listy ", " (niekrytyczne)");
      if (fetchCrls(dps.freshestUris, crlIssuer, fetched, false, out) == 0) {
        line("Pobrano świeżą liste ", "");
        SignedCertRevList* c = latest(fetched);
        if (c && revocation->isNewCrl(*c)) {
          // Moved out of the fetched list, not copied.
          for (auto& f : fetched)
            if (f.get() == c) candidate = std::move(f);
        }
      } else {
        line("Pobranie listy ", " nie powiodło się");
      }
    }
    r = revocation->checkStatus(item, args, ocsp.get(), issuer, candidate.get(), used);
    if (r != 0) return r;
    if (candidate && used.crl == candidate.get()) {
      used.crlOwner = candidate;
      if (!used.crlToVerify) used.crlToVerify = candidate;
    }

    // 6. A fresh CRL wanted.
    if (!temporaryOnly && (freshCrl || (item.freshCrlWanted & 0xFF) != 0)) {
      CrlList got;
      if (dps.pointsKind == DistributionPointsInfo::NON_CRITICAL) {
        out << "Brak aktualnej listy CRL, pobieram z sieci:\r\n";
        if (fetchCrls(dps.pointsUris, crlIssuer, got, false, out) == 0)
          out << "Lista poprawnie pobrana\r\n";
        else
          line("Pobranie listy ", " nie powiodło się");
      } else if (revocation->canQueryNetwork(2, crlIssuer, out)) {
        out << "Brak aktualnej listy CRL, pobieram z sieci:\r\n";
        const int q = revocation->queryForIssuerCrl(issuer, got, out);
        if (q == 0) {
          for (size_t i = 0; i < got.size(); ++i) out << "Lista poprawnie pobrana\r\n";
        } else {
          out << "Pobranie listy " << kind << " nie powiodło się" << ".\r\n\r\n";
          if (q != 16) out << "Błąd CommonError: " << static_cast<long>(q) << "\r\n\r\n";
        }
      }
      CrlList fresh;
      for (auto& c : got)
        if (revocation->isNewCrl(*c)) fresh.push_back(std::move(c));
      SignedCertRevList* newest = latest(fresh);
      if (newest) {
        for (auto& f : fresh)
          if (f.get() == newest) downloaded = std::move(f);
        UsedRevocationData again;
        r = revocation->checkStatus(item, args, ocsp.get(), issuer, downloaded.get(), again);
        if (r != 0) return r;
        used = std::move(again);
        if (used.crl == downloaded.get()) {
          used.crlOwner = downloaded;
          if (!used.crlToVerify) used.crlToVerify = downloaded;
        }
      }
    }

    // 7. A CRL the evaluation took, unknown to the caller, is verified.
    while (used.crlToVerify &&
           !(args.knownCrls && containsCrl(*args.knownCrls, *used.crlToVerify))) {
      out << "\r\n" << "Weryfikacja listy CRL\r\n";
      std::string message;
      if (verifyFetched(*used.crlToVerify, message) == 0) {
        revocation->recordVerifiedCrl(*used.crlToVerify);
        out << "Lista CRL zweryfikowana\r\n";
        if (downloaded && used.crlToVerify == downloaded)
          revocation->rememberCrl(*used.crlToVerify);
        break;
      }
      out << "Błąd weryfikacji listy CRL: " << message.c_str() << "\r\n";
      // A listed CRL that cannot be verified (a forgery carried in a signature,
      // say) must not hide a revocation that the other data shows: it is
      // dropped and the status decided again, which may only find the
      // certificate revoked or suspended (an older CRL never clears what the
      // failed one may have listed). Each pass drops one CRL, so this ends.
      // One an earlier document left decides nothing: the status is decided
      // as if it had never been learned.
      const bool earlier = used.crlToVerify != candidate && used.crlToVerify != downloaded &&
                           revocation->learnedEarlier(*used.crlToVerify);
      if (used.crlToVerify != candidate && used.crlToVerify != downloaded &&
          revocation->refuseCrl(*used.crlToVerify)) {
        UsedRevocationData again;
        r = revocation->checkStatus(item, args, ocsp.get(), issuer, nullptr, again);
        if (r != 0) return r;
        if (earlier || item.wwc == WWC_REVOKED || item.wwc == WWC_SUSPENDED) {
          used = std::move(again);
          continue;
        }
      }
      item.revocationState = REVSTATE_NO_DATA;
      item.revocationSource = REVSOURCE_NONE;
      if (item.wwc == WWC_SUSPENDED || item.wwc == WWC_REVOKED) item.wwc = WWC_OK;
      used.crl = nullptr;
      break;
    }
  }

  // 8. The evidence used goes with the path's data.
  if (collector && item.revocationState != REVSTATE_NONE &&
      item.revocationState != REVSTATE_NO_DATA)
    addEvidence(*collector, used.crl, used.crlOwner, used.ocsp, ocsp);
  return 0;
}
