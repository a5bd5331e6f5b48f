// Verification of a built certification path: the per-certificate extension
// checks that path building runs on every certificate it takes, the
// revocation step of each certificate (through the revocation manager's
// interface), the policy and path-length step over X509PathVerifier, and the
// collection of the certificates and revocation data met on the way.
#pragma once

#include "base/reportstream.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/sig/sigprops.h"
#include "pki/x509/crl.h"
#include "pki/x509/x509ext.h"
#include "store/pathbuild.h"  // the path purposes

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Results of path building and verification.
enum PathResult : int32_t {
  PATH_RESULT_OK = 0,
  PATH_RESULT_SIGNATURE_MISMATCH = 1,  // also allocation failure of the policy processor
  PATH_RESULT_DATABASE_FAILURE = 2,
  PATH_RESULT_NO_PATH = 10,
  PATH_RESULT_FAILED = 11,
  PATH_RESULT_NOTHING_FOUND = 14
};

// CertificateItem::wwc.
enum CertificateCheck : uint32_t {
  WWC_UNCHECKED = 0,
  WWC_OK = 1,
  WWC_REVOKED = 2,
  WWC_EXPIRED = 3,
  WWC_NOT_YET_VALID = 4,
  WWC_SUSPENDED = 5
};

// CertificateItem::revocationState.
enum RevocationState : uint32_t {
  REVSTATE_NONE = 0,
  REVSTATE_FOUND = 1,
  REVSTATE_NO_DATA = 2,
  REVSTATE_STALE = 3,
  REVSTATE_OLDER = 4,
  REVSTATE_CRL_UNOBTAINABLE = 5,
  REVSTATE_STALE_AND_OLDER = 6
};

// CertificateItem::revocationSource.
enum RevocationSource : uint32_t { REVSOURCE_NONE = 0, REVSOURCE_CRL = 1, REVSOURCE_OCSP = 2 };

// The caller's validation-data collector: the path's data first, other data
// met on the way second.
using PathCollector = ValidationData;

// The signature's revocation references (its complete revocation refs) and
// how one is matched against a response or a CRL; the XAdES matchers live
// above this layer. With a list, only data some reference of its kind
// matches is taken from the signature's responses and the CRL lists.
struct RevocationReferences {
  const SignatureCrlOrOcspRefs* list = nullptr;
  std::function<bool(const OcspRefRecord&, const BasicOCSPResponse&)> matchOcsp;
  std::function<bool(const CrlRefRecord&, const SignedCertRevList&)> matchCrl;
};

// What verifyPath hands through to the revocation manager unchanged.
struct RevocationArgs {
  const X509time* timemark = nullptr;  // the signing time, none when null
  const X509time* time = nullptr;      // the instant asked about; null: now
  bool strict = false;
  const RevocationReferences* references = nullptr;  // none: no references given
  bool offline = false;
  // CRLs the caller already holds as evidence; such a CRL is not verified again.
  const SignatureRevValues* knownCrls = nullptr;
};

// Owning list of CRLs.
using CrlList = std::vector<std::unique_ptr<SignedCertRevList>>;

// The data the status evaluation used: null when none of that kind.
struct UsedRevocationData {
  const SignedCertRevList* crl = nullptr;
  const BasicOCSPResponse* ocsp = nullptr;
  // The keeper of `crl` when it is shared (the revocation manager's lists),
  // null otherwise: evidence shares it instead of copying it.
  std::shared_ptr<SignedCertRevList> crlOwner;
  // A CRL the evaluation took from the pending list or the database, which the
  // path verification must verify (null when none); shared with its list.
  std::shared_ptr<SignedCertRevList> crlToVerify;
};

// What the path verification asks of the revocation manager, the network
// manager and the library context. The revocation issue implements it; tests
// put a double there.
class PathRevocation {
 public:
  virtual ~PathRevocation() = default;
  // Once per outermost verification.
  virtual void removeMarkedCrlItems() = 0;
  virtual void clearOcspCache() = 0;
  virtual void releaseLastVerification() = 0;
  // Also once per outermost verification, when it collects.
  virtual void demoteVerifiedCrls() = 0;
  // A verified OCSP response for the certificate, or null; data met on the way
  // goes into `collector`.
  // It is shared read-only with the manager's cache and used list.
  virtual std::shared_ptr<const BasicOCSPResponse> findOcspResponse(
      const SignedCertificate& cert, const SignedCertificate& issuer, const RevocationArgs& args,
      PathCollector& collector) = 0;
  // Decides item.wwc, revocationState, revocationSource, freshCrlWanted;
  // nonzero is a failure passed up.
  virtual int checkStatus(CertificateItem& item, const RevocationArgs& args,
                          const BasicOCSPResponse* ocsp, const SignedCertificate& issuer,
                          const SignedCertRevList* crl, UsedRevocationData& used) = 0;
  // The manager holds an equal CRL as verified.
  virtual bool isVerifiedCrl(const SignedCertRevList& crl) = 0;
  // Neither list of the manager holds an equal CRL.
  virtual bool isNewCrl(const SignedCertRevList& crl) = 0;
  // A held CRL, never verified, that an earlier document brought and this one
  // does not: one that fails verification is dropped as if never learned
  // (what earlier documents left may complete a verification, never block it).
  virtual bool learnedEarlier(const SignedCertRevList&) { return false; }
  // 0 verified; otherwise `message` says why. Data met goes into `collector`.
  virtual int verifyCrl(const SignedCertRevList& crl, const RevocationArgs& args,
                        PathCollector& collector, std::string& message) = 0;
  virtual void recordVerifiedCrl(const SignedCertRevList& crl) = 0;
  // A listed CRL that failed verification is no longer offered by checkStatus
  // during this verification; false when it is no listed CRL.
  virtual bool refuseCrl(const SignedCertRevList& crl) = 0;
  // Network (0 success); why network work or fetching is off goes into `report`.
  virtual bool canQueryNetwork(int kind, const DistinguishedName& issuer, ReportStream& report) = 0;
  virtual int queryForCrl(const std::string& uri, const DistinguishedName& issuer, CrlList& out,
                          ReportStream& report) = 0;
  virtual int queryForIssuerCrl(const SignedCertificate& issuer, CrlList& out,
                                ReportStream& report) = 0;
  // The library context's list of CRLs met during verification.
  virtual void rememberCrl(const SignedCertRevList& crl) = 0;
};

// FreshestCRL and CRLDistributionPoints of one certificate.
struct DistributionPointsInfo {
  enum Kind { ABSENT = 0, NON_CRITICAL = 1, CRITICAL = 2 };
  int freshestKind = ABSENT;
  int pointsKind = ABSENT;
  std::vector<std::string> freshestUris;
  std::vector<std::string> pointsUris;
  bool criticalUnusable = false;  // a critical one did not decode or failed the check
};

class PathVerification {
 public:
  // Nested verifications (responder and CRL-issuer paths) past this depth
  // answer PATH_RESULT_NO_PATH.
  static constexpr int MAX_NESTING = 8;

  PathVerification() = default;
  PathVerification(const PathVerification&) = delete;
  PathVerification& operator=(const PathVerification&) = delete;

  // The library context's report (may be null) and revocation services.
  ReportStream* report = nullptr;
  PathRevocation* revocation = nullptr;
  // The configured user policy set; null or empty: any policy.
  const CertificatePolicies* userPolicySet = nullptr;
  // The extended key usages listed in the active profile.
  std::vector<ASNobjectId> profileKeyUsages;

  int verifyPath(CertificatePath& path, const RevocationArgs& args, bool freshCrl, int32_t purpose,
                 bool temporaryOnly, ReportStream* pathReport, PathCollector* collector);
  bool checkCertificateExtensions(const SignedCertificate& cert, int32_t purpose);
  int checkPathPolicies(CertificatePath& path);
  int checkRevocation(CertificateItem& item, const CertificateItem& issuer,
                      const RevocationArgs& args, bool freshCrl, int32_t purpose, bool temporaryOnly,
                      ReportStream* pathReport, PathCollector* collector);

  // 0 and `state`; 15 keyUsage does not decode, 1 allocation failure.
  static int qualifiedKeyUsage(const CertificatePath& path, bool checkWanted, int32_t& state);
  static bool checkDistributionPoints(const CRLDistributionPoints& points,
                                      const DistinguishedName& issuer,
                                      std::vector<std::string>* uris);
  static DistributionPointsInfo readDistributionPoints(const SignedCertificate& cert);
  // Moves the certificates of `source` not equal to one of `target` to the
  // end of `target`; the count moved.
  static int addMissingCertificates(SignatureCrtValues& source, SignatureCrtValues& target);
  static bool collectOcspUris(const AuthorityInfoAccess& aia, std::vector<std::string>& uris);

  int nestingDepth() const { return nesting; }

 private:
  int fetchCrls(const std::vector<std::string>& uris, const DistinguishedName& issuer,
                CrlList& out, bool oneNeeded, ReportStream& report);
  int verifyPathNested(CertificatePath& path, const RevocationArgs& args, bool freshCrl,
                       int32_t purpose, bool temporaryOnly, ReportStream* out,
                       PathCollector* collector);

  int nesting = 0;
};

// Equal CRLs: the same object, or equal signature values and equal SHA-256
// digests of their encodings (the received octets of a CRL read in place).
// The encodings are never built side by side: a CRL may hold millions of entries.
bool sameCrl(const SignedCertRevList& a, const SignedCertRevList& b);
