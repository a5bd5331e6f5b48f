// Certification-path building: from a certificate (or an issuer name with a
// serial number or an authority key identifier) up through candidate issuers
// of the stores, the database and the network to a trust point, narrated into
// the report in Polish.
#pragma once

#include "base/workaccount.h"
#include "pki/x509/crl.h"
#include "store/crtstore.h"
#include "store/lcrtstore.h"
#include "store/sigcodes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class AuthorityKeyIdentifier;
class CertificateManager;
class ReportStream;

// Path purposes: what the certificate at the head of the path is for.
enum : int32_t {
  PATH_PURPOSE_TSA = 0,
  PATH_PURPOSE_OCSP = 1,
  PATH_PURPOSE_OCSP_OTHER = 2,
  PATH_PURPOSE_CRL_ISSUER = 3,
  PATH_PURPOSE_SIGNER = 4
};

// Results of the building operations; a store's own code passes up as it is.
enum : int {
  PATH_BUILT = 0,
  PATH_SIGNATURE_MISMATCH = 1,
  PATH_DATABASE_FAILED = 2,
  PATH_NOT_FOUND = 10
};

// Bounds against crafted certificate sets (cross-certificate loops, long
// self-issued chains): a path never holds more certificates than this, one
// build does at most this much work (builder calls and signature checks),
// and the candidate lists alive at once hold at most this many certificates
// (only those that may be tried are taken: with an authority key identifier
// those it names, and of many, the first in the stores' order). Past the
// first two the answer is "no path". A build also makes at most
// MAX_PATH_SIGNATURE_CHECKS signature checks (as Go's verifier stops a chain
// search after 100): each may cost a large key's public operation.
constexpr int MAX_PATH_CERTIFICATES = 32;
constexpr int MAX_PATH_BUILD_WORK = 2048;
constexpr int MAX_PATH_CANDIDATES_HELD = 4096;
constexpr int MAX_PATH_SIGNATURE_CHECKS = 100;


// What the builder needs of its library context: the configuration, the
// verification's extension checks, the key manager's trust points and the
// network. The defaults are a context with no trust point and no network.
class PathBuildEnvironment {
 public:
  virtual ~PathBuildEnvironment() = default;
  // Configuration option 37: every path ends at its end certificate, unchecked.
  virtual bool endCertificateOnly() { return false; }
  // The per-certificate extension checks of path verification for `purpose`.
  virtual bool extensionsAccepted(const SignedCertificate&, int32_t /*purpose*/) { return true; }
  // Trust points of the trusted-list services of `kind` (1 to 4), services in
  // map order, each service's list in its order.
  virtual void trustedListPoints(int /*kind*/, std::vector<const SignedCertificate*>&) {}
  // The key manager's qualified root list, or the other root list, in order.
  virtual void rootList(bool /*qualified*/, std::vector<const SignedCertificate*>&) {}
  // What a path ending at `point` (one of the trust points above) holds: the
  // environment's own body when it keeps the point shared, else a copy.
  virtual SharedCertificate heldTrustPoint(const SignedCertificate& point) {
    SharedCertificate copy;
    copy = point;
    return copy;
  }
  // The network may be asked for certificates of this issuer.
  virtual bool canQueryCertificates(const DistinguishedName& /*issuer*/) { return false; }
  // 0 when the query ran (the list may stay empty), else a failure.
  virtual int queryCertificateById(const DistinguishedName& /*issuer*/, const ASNinteger& /*serial*/,
                                   CertificateList& /*out*/) {
    return 1;
  }
  virtual int queryCertificatesByDn(const DistinguishedName& /*subject*/, CertificateList& /*out*/) {
    return 1;
  }
  // The context's record of certificates met (fetched from the network).
  virtual void rememberCertificate(const SignedCertificate&) {}
  // Whether this candidate is known only from what earlier documents left in
  // the context's record (not brought again by the document under way).
  virtual bool learnedEarlier(const SignedCertificate&) { return false; }
};

// Appends every item of `sub` to `path` (emptying `sub`) and takes its
// qualifiedRoot and policyResult.
void moveSubPath(CertificatePath& path, CertificatePath& sub);

class PathBuilder {
 public:
  PathBuilder(CertificateManager& manager, PathBuildEnvironment& environment, ReportStream& report)
      : manager(manager), env(environment), report(report) {}

  // The path holds `certificate`'s body when some holder keeps it read-only
  // (SharedCertificate::holding), else a copy.
  int buildPathForCertificate(CertificatePath& path, const SignedCertificate& certificate,
                              int32_t purpose, bool temporaryOnly);
  // The path holds `certificate`'s body itself, no copy made.
  int buildPathForCertificate(CertificatePath& path, const SharedCertificate& certificate,
                              int32_t purpose, bool temporaryOnly);
  int buildPathForIssuerSerial(CertificatePath& path, const DistinguishedName& issuer,
                               const ASNinteger& serial, int32_t purpose, bool temporaryOnly,
                               bool& found);
  int buildPathForIssuerKeyId(CertificatePath& path, const DistinguishedName& issuer,
                              const AuthorityKeyIdentifier& akid, int32_t purpose,
                              bool temporaryOnly, bool& found);

 private:
  using Visited = std::vector<const SignedCertificate*>;
  // State of one entry operation.
  struct Build {
    SharedCertificateList rejected;
    int32_t purpose = 0;
    bool temporaryOnly = false;
    int work = 0;
    int candidatesHeld = 0;
    int checks = 0;
    bool spend() { return ++work <= MAX_PATH_BUILD_WORK; }
    // How many more candidates the lists alive may hold.
    size_t room() const {
      return candidatesHeld < MAX_PATH_CANDIDATES_HELD
                 ? static_cast<size_t>(MAX_PATH_CANDIDATES_HELD - candidatesHeld)
                 : 0;
    }
    // Before a signature check: false past the build's checks, or once the
    // document's work account is spent (its key checks refused).
    bool check() { return ++checks <= MAX_PATH_SIGNATURE_CHECKS && !workOver(); }
  };

  int startBuild(CertificatePath& path, const SharedCertificate& certificate, Build& build);
  int buildFrom(CertificatePath& path, CertificateItem* item, const Visited& visited, int depth,
                Build& build);
  int searchTrustPoints(CertificatePath& path, const SignedCertificate& cert,
                        const AuthorityKeyIdentifier* akid, Build& build);
  int trustPointTest(CertificatePath& path, const SignedCertificate& trustPoint,
                     const SignedCertificate& cert, const AuthorityKeyIdentifier* akid,
                     Build& build);
  int issuerStep(CertificatePath& path, const SignedCertificate& subject,
                 const SharedCertificateList& candidates, const AuthorityKeyIdentifier* akid,
                 bool fromNetwork, const Visited& visited, int depth, Build& build,
                 const std::vector<bool>* fromPermanent = nullptr);
  void describe(const char* label, const SignedCertificate& certificate);

  CertificateManager& manager;
  PathBuildEnvironment& env;
  ReportStream& report;
};
