#include "store/pathbuild.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/workaccount.h"
#include "pki/common/oids.h"
#include "pki/x509/pathverifier.h"
#include "pki/x509/x509ext.h"
#include "store/certmgr.h"
#include "store/crtstore.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Counts the certificates of a candidate list while it is alive.
class HeldCandidates {
 public:
  HeldCandidates(int& held, int count) : held(held), count(count) { held += count; }
  ~HeldCandidates() { held -= count; }
  HeldCandidates(const HeldCandidates&) = delete;
  HeldCandidates& operator=(const HeldCandidates&) = delete;

 private:
  int& held;
  int count;
};

std::unique_ptr<CertificateItem> newItem(const SharedCertificate& certificate) {
  std::unique_ptr<CertificateItem> item(new CertificateItem());
  item->certificate = certificate;
  return item;
}

// Candidates met on the network, held as bodies of their own.
SharedCertificateList sharedCandidates(CertificateList& fetched) {
  SharedCertificateList shared;
  moveToShared(fetched, shared);
  return shared;
}

// Of candidates fetched from the network, those an identifier names first
// (the others after them in their order), at most `room` of them.
void keepTried(SharedCertificateList& candidates, const AuthorityKeyIdentifier* akid, size_t room) {
  if (akid)
    std::stable_partition(candidates.begin(), candidates.end(), [&](const SharedCertificate& c) {
      return matchesKeyIdentifier(c, *akid);
    });
  if (candidates.size() > room) candidates.resize(room);
}

void appendItem(CertificatePath& path, std::unique_ptr<CertificateItem> item) {
  if (path.append(item.get()) != 1) throwBadAllocation();
  item.release();
}

bool sameIssuerSerial(const SignedCertificate& a, const SignedCertificate& b) {
  return a.tbsCertificate.serialNumber.equals(b.tbsCertificate.serialNumber) &&
         a.tbsCertificate.issuer == b.tbsCertificate.issuer;
}

bool isRejected(const SharedCertificateList& rejected, const SignedCertificate& c) {
  for (const SharedCertificate& r : rejected)
    if (r.get() == c) return true;
  return false;
}

}  // namespace

void moveSubPath(CertificatePath& path, CertificatePath& sub) {
  while (sub.GetCount() > 0) {
    CertificateItem* item = sub.RemoveHead();
    if (path.append(item) != 1) {
      delete item;
      throwBadAllocation();
    }
  }
  path.qualifiedRoot = sub.qualifiedRoot;
  path.policyResult = sub.policyResult;
}

void PathBuilder::describe(const char* label, const SignedCertificate& certificate) {
  report << label;
  report.writeCertificate(certificate);
  report << "\r\n";
}

int PathBuilder::buildPathForCertificate(CertificatePath& path,
                                         const SignedCertificate& certificate, int32_t purpose,
                                         bool temporaryOnly) {
  // A certificate some holder keeps read-only (the issuer of a path, say,
  // when its responder's path begins there) is shared, not copied.
  return buildPathForCertificate(path, SharedCertificate::holding(certificate), purpose,
                                 temporaryOnly);
}

int PathBuilder::buildPathForCertificate(CertificatePath& path,
                                         const SharedCertificate& certificate, int32_t purpose,
                                         bool temporaryOnly) {
  report << "Budowanie ścieżki dla zadanego certyfikatu.\r\n";
  describe("CRT: ", certificate);
  Build build;
  build.purpose = purpose;
  build.temporaryOnly = temporaryOnly;
  return startBuild(path, certificate, build);
}

int PathBuilder::startBuild(CertificatePath& path, const SharedCertificate& certificate,
                            Build& build) {
  std::unique_ptr<CertificateItem> item = newItem(certificate);
  const Visited visited{&item->certificate.get()};
  return buildFrom(path, item.release(), visited, 1, build);
}

int PathBuilder::buildPathForIssuerSerial(CertificatePath& path, const DistinguishedName& issuer,
                                          const ASNinteger& serial, int32_t purpose,
                                          bool temporaryOnly, bool& found) {
  report << "Budowanie ścieżki dla zadanego identyfikatora wyróżniającego wystawcy oraz numeru "
            "seryjnego.\r\n";
  report << "CA_DN: " << issuer << "\r\n";
  report << "SER_NUM: ";
  report.writeInteger(serial);
  report << "\r\n";
  found = false;
  Build build;
  build.purpose = purpose;
  build.temporaryOnly = temporaryOnly;
  std::unique_ptr<SignedCertificate> certificate(new SignedCertificate());
  const int r = manager.findByIssuerSerial(*certificate, issuer, serial, temporaryOnly);
  if (r == CRTSTORE_FOUND) {
    found = true;
    report << "Szukany certyfikat znaleziony w lokalnej bazie danych.\r\n";
    describe("CRT: ", *certificate);
    SharedCertificate held;
    held.adopt(std::move(certificate));
    return startBuild(path, held, build);
  }
  if (r != CRTSTORE_NOT_FOUND) return r;
  if (temporaryOnly || !env.canQueryCertificates(issuer)) return PATH_NOT_FOUND;
  report << "Lokalna baza danych nie zawiera szukanego certyfikatu.\r\n";
  report << "Pobieram certyfikat z sieci:\r\n\t";
  CertificateList fetched;
  if (env.queryCertificateById(issuer, serial, fetched) != 0 || fetched.GetCount() == 0 ||
      !fetched.GetHead()) {
    report << "Nieznaleziono certyfikatu na serwerze sieciowym\r\n";
    return PATH_NOT_FOUND;
  }
  found = true;
  report << "Certyfikat poprawnie pobrany.\r\n";
  env.rememberCertificate(*fetched.GetHead());
  SharedCertificate first;
  first.adopt(std::unique_ptr<SignedCertificate>(fetched.RemoveHead()));
  return startBuild(path, first, build);
}

int PathBuilder::buildPathForIssuerKeyId(CertificatePath& path, const DistinguishedName& issuer,
                                         const AuthorityKeyIdentifier& akid, int32_t purpose,
                                         bool temporaryOnly, bool& found) {
  report << "Budowanie ścieżki dla zadanego identyfikatora wyróżniającego wystawcy oraz "
            "identyfikatora klucza.\r\n";
  report << "CA_DN: " << issuer << "\r\n";
  if (akid.keyIdentifierPresent) {
    const int n = akid.keyIdentifier.length;
    std::string hex(static_cast<size_t>(bytesToHex(akid.keyIdentifier.data(), n, nullptr, " ")),
                    '\0');
    if (!hex.empty()) bytesToHex(akid.keyIdentifier.data(), n, &hex[0], " ");
    report << "KEY_ID: " << hex.c_str() << "\r\n";
  }
  if (akid.authorityCertIssuerPresent) {
    report << "ISSUER_CRT_SER_NUM: ";
    report.writeInteger(akid.authorityCertSerialNumber);
    report << "\r\n";
  }
  found = false;
  SharedCertificateList candidates;
  bool fromNetwork = false;
  // Those the identifier names first: of many certificates of one name (a CA's
  // old and new keys, or look-alikes a document brought) they are the ones
  // built from, and the others are listed after them, as many as may be held.
  const int r = manager.findIssuerCandidates(candidates, issuer, &akid, true, temporaryOnly,
                                             MAX_PATH_CANDIDATES_HELD);
  if (r == CRTSTORE_FOUND) {
    report << "Znaleziono " << static_cast<long>(candidates.size())
           << " certyfikatów w lokalnej bazie danych\r\n";
    found = true;
  } else if (r != CRTSTORE_NOT_FOUND) {
    return r;
  } else {
    report << "Lokalna baza danych nie zawiera szukanego certyfikatu.\r\n";
    if (temporaryOnly) return PATH_NOT_FOUND;
    report << "Pobieram certyfikat z sieci:\r\n\t";
    CertificateList fetched;
    if (env.queryCertificatesByDn(issuer, fetched) != 0) {
      report << "Nieznaleziono certyfikatu na serwerze sieciowym\r\n";
      return PATH_NOT_FOUND;
    }
    candidates = sharedCandidates(fetched);
    keepTried(candidates, &akid, MAX_PATH_CANDIDATES_HELD);
    report << "Znaleziono " << static_cast<long>(candidates.size())
           << " certyfikatów na serwerach sieciowych\r\n";
    found = true;
    fromNetwork = true;
  }
  Build build;
  build.purpose = purpose;
  build.temporaryOnly = temporaryOnly;
  HeldCandidates held(build.candidatesHeld, static_cast<int>(candidates.size()));
  for (const SharedCertificate& shared : candidates) {
    const SignedCertificate* candidate = &shared.get();
    report << "Budowa ścieżki dla certyfikatu:\r\n";
    report.writeCertificate(*candidate);
    report << "\r\n";
    if (!matchesKeyIdentifier(*candidate, akid)) continue;
    CertificatePath fresh;
    std::unique_ptr<CertificateItem> item = newItem(shared);
    if (fromNetwork) env.rememberCertificate(*candidate);
    const Visited visited{candidate};
    if (buildFrom(fresh, item.release(), visited, 1, build) == PATH_BUILT) {
      moveSubPath(path, fresh);
      return PATH_BUILT;
    }
  }
  return PATH_NOT_FOUND;
}

int PathBuilder::buildFrom(CertificatePath& path, CertificateItem* item, const Visited& visited,
                           int depth, Build& build) {
  appendItem(path, std::unique_ptr<CertificateItem>(item));
  if (env.endCertificateOnly()) return PATH_BUILT;
  // Bounds first: a crafted set ends here with "no path".
  if (depth > MAX_PATH_CERTIFICATES || !build.spend()) return PATH_NOT_FOUND;
  const SignedCertificate& cert = item->certificate;
  if (!env.extensionsAccepted(cert, build.purpose)) return PATH_NOT_FOUND;

  AuthorityKeyIdentifier akidValue;
  const int a = getExtensionValue(*cert.tbsCertificate.extensions, id_ce_authorityKeyIdentifier,
                                  akidValue);
  if (a == 0) throwBadAllocation();
  if (a == -2) return PATH_NOT_FOUND;  // an identifier no issuer could be matched against
  const AuthorityKeyIdentifier* akid = a == 1 ? &akidValue : nullptr;

  if (!akid || matchesKeyIdentifier(cert, *akid)) {
    if (!build.spend() || !build.check()) return PATH_NOT_FOUND;
    if (certSignatureOutcome(cert.verifySelfSigned(), cert.signature) == CertSignature::Verified) {
      // A self-signed certificate met as an issuer is never a trust point by
      // itself (depth counts the whole path, not this sub-path); trust points
      // come from the search of its subject.
      if (depth > 1) return PATH_NOT_FOUND;
      for (bool qualified : {true, false}) {
        std::vector<const SignedCertificate*> roots;
        env.rootList(qualified, roots);
        for (const SignedCertificate* root : roots)
          if (root && *root == cert) {
            path.qualifiedRoot = qualified ? 1 : 0;
            return PATH_BUILT;
          }
      }
    }
  }

  // The trust point is one more certificate of the path.
  const int t = depth < MAX_PATH_CERTIFICATES ? searchTrustPoints(path, cert, akid, build) : -1;
  if (t >= 0) return t;

  // Only the candidates the issuer step may try are taken (with an identifier,
  // those it names, found by it), as many as may be held: a name shared by
  // thousands cannot push the genuine issuer out of reach.
  const size_t room = build.room();
  if (room == 0) return PATH_NOT_FOUND;
  SharedCertificateList candidates;
  std::vector<bool> fromPermanent;
  const DistinguishedName& issuer = cert.tbsCertificate.issuer;
  int r = manager.findIssuerCandidates(candidates, issuer, akid, false, build.temporaryOnly, room,
                                       &fromPermanent);
  if (r == CRTSTORE_FOUND) {
    HeldCandidates held(build.candidatesHeld, static_cast<int>(candidates.size()));
    r = issuerStep(path, cert, candidates, akid, false, visited, depth, build, &fromPermanent);
    if (r != PATH_NOT_FOUND) return r;
  } else if (r != CRTSTORE_NOT_FOUND) {
    return r;
  }
  // A build past its checks, or a spent account, asks the network for nothing more.
  if (build.temporaryOnly || build.checks >= MAX_PATH_SIGNATURE_CHECKS || workOver())
    return PATH_NOT_FOUND;
  CertificateList fetched;
  if (env.queryCertificatesByDn(issuer, fetched) != 0) return PATH_NOT_FOUND;
  if (fetched.GetCount() == 0) report << "Nieznaleziono certyfikatów na serwerze sieciowym\r\n";
  SharedCertificateList shared = sharedCandidates(fetched);
  keepTried(shared, akid, build.room());
  HeldCandidates held(build.candidatesHeld, static_cast<int>(shared.size()));
  return issuerStep(path, cert, shared, akid, true, visited, depth, build);
}

// -1 when no source answered; else the result of the build.
int PathBuilder::searchTrustPoints(CertificatePath& path, const SignedCertificate& cert,
                                   const AuthorityKeyIdentifier* akid, Build& build) {
  struct Source {
    int kind;  // trusted-list kind, or 0 for a root list
    bool qualified;
  };
  Source sources[5];
  int n = 0;
  sources[n++] = {2, true};
  sources[n++] = {1, false};
  if (build.purpose == PATH_PURPOSE_TSA) sources[n++] = {3, true};
  if (build.purpose == PATH_PURPOSE_OCSP || build.purpose == PATH_PURPOSE_OCSP_OTHER)
    sources[n++] = {4, true};
  sources[n++] = {0, true};
  sources[n++] = {0, false};
  for (int i = 0; i < n; ++i) {
    std::vector<const SignedCertificate*> points;
    if (sources[i].kind)
      env.trustedListPoints(sources[i].kind, points);
    else
      env.rootList(sources[i].qualified, points);
    for (const SignedCertificate* point : points) {
      if (!point) continue;
      const int r = trustPointTest(path, *point, cert, akid, build);
      if (r < 0) continue;
      if (r == PATH_BUILT) path.qualifiedRoot = sources[i].qualified ? 1 : 0;
      return r;
    }
  }
  return -1;
}

// -1 nothing found; PATH_BUILT, PATH_SIGNATURE_MISMATCH or PATH_NOT_FOUND.
int PathBuilder::trustPointTest(CertificatePath& path, const SignedCertificate& trustPoint,
                                const SignedCertificate& cert, const AuthorityKeyIdentifier* akid,
                                Build& build) {
  if (!(trustPoint.tbsCertificate.subject == cert.tbsCertificate.issuer)) return -1;
  if (akid && !matchesKeyIdentifier(trustPoint, *akid)) return -1;
  if (!build.spend() || !build.check()) return PATH_NOT_FOUND;
  switch (certSignatureOutcome(cert.verifySignature(trustPoint), cert.signature)) {
    case CertSignature::Verified:
      appendItem(path, newItem(env.heldTrustPoint(trustPoint)));
      report << "Certyfikat został zweryfikowany przez punkt zaufania:\r\n";
      report.writeCertificate(trustPoint);
      report << "\r\n";
      return PATH_BUILT;
    case CertSignature::Mismatch:
      return PATH_SIGNATURE_MISMATCH;
    case CertSignature::Unusable:
      break;
  }
  return PATH_NOT_FOUND;
}

int PathBuilder::issuerStep(CertificatePath& path, const SignedCertificate& subject,
                            const SharedCertificateList& candidates,
                            const AuthorityKeyIdentifier* akid, bool fromNetwork,
                            const Visited& visited, int depth, Build& build,
                            const std::vector<bool>* fromPermanent) {
  int result = PATH_NOT_FOUND;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const SharedCertificate& held = candidates[i];
    const SignedCertificate* candidate = &held.get();
    // Only what a permanent store (the context's record) gave may be learned.
    const bool kept = fromPermanent && i < fromPermanent->size() && (*fromPermanent)[i];
    // Each candidate is compared with the rejected and visited ones before any
    // check pays: the round pays for that, and a spent account ends the search.
    if (!workCharge(1 + build.rejected.size() + visited.size())) return PATH_NOT_FOUND;
    if (isRejected(build.rejected, *candidate)) continue;
    bool seen = false;
    for (const SignedCertificate* v : visited) seen = seen || sameIssuerSerial(*v, *candidate);
    // A CA whose key may not sign certificates is no issuer (RFC 5280, 6.1.4(n)).
    if (seen || !candidate->isCa() || !keyUsagePermits(*candidate, KEY_USAGE_KEY_CERT_SIGN))
      continue;
    if (akid && !matchesKeyIdentifier(*candidate, *akid)) continue;
    if (!build.spend() || !build.check()) return PATH_NOT_FOUND;
    switch (certSignatureOutcome(subject.verifySignature(*candidate), subject.signature)) {
      case CertSignature::Verified:
        break;
      case CertSignature::Mismatch:
        // A look-alike an earlier document left decides nothing: the search
        // goes on as if it had never been learned.
        if (kept && env.learnedEarlier(*candidate)) continue;
        return PATH_SIGNATURE_MISMATCH;
      case CertSignature::Unusable:
        if (akid) return PATH_NOT_FOUND;
        continue;
    }
    Visited next(visited);
    next.push_back(candidate);
    if (fromNetwork) env.rememberCertificate(*candidate);
    CertificatePath fresh;
    const int r = buildFrom(fresh, newItem(held).release(), next, depth + 1, build);
    if (r == PATH_BUILT) {
      moveSubPath(path, fresh);
      return PATH_BUILT;
    }
    if (r == PATH_NOT_FOUND) {
      build.rejected.push_back(held);
    } else {
      result = r;
    }
  }
  return result;
}
