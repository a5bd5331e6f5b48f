// The verification services of a library context: the revocation manager
// with the CRL database and the network, path building and path
// verification over the context's trust points, stores and collected
// certificates. Joins the context through RevocationLink, so the context
// imports the CRLs met while verifying and copies the revocation data into
// its clones.
#pragma once

#include "api/pathenv.h"
#include "api/revnet.h"
#include "api/talctx.h"
#include "store/crldb.h"
#include "store/pathverify.h"
#include "store/revmgr.h"
#include "store/revpath.h"

#include <memory>

class ContextRevocation;

// Path building's view of the context: the key manager's roots and lists,
// the certificate servers of the network, and the context's record of
// certificates met.
class ContextBuildEnvironment : public ContextPathEnvironment {
 public:
  ContextBuildEnvironment(talCtx& context, PathVerification& verification);
  bool canQueryCertificates(const DistinguishedName& issuer) override;
  int queryCertificateById(const DistinguishedName& issuer, const ASNinteger& serial,
                           CertificateList& out) override;
  int queryCertificatesByDn(const DistinguishedName& subject, CertificateList& out) override;
  void rememberCertificate(const SignedCertificate& certificate) override;
  bool learnedEarlier(const SignedCertificate& certificate) override;

 private:
  talCtx& context;
};

// The revocation manager's view of the context: trust points, the
// certificate manager's stores, and the paths of responder and CRL-issuer
// certificates, built and verified by the same services.
class ContextRevocationEnvironment : public RevocationEnvironment {
 public:
  ContextRevocationEnvironment(talCtx& context, ContextRevocation& services)
      : context(context), services(services) {}
  void trustedListCertificates(std::vector<const SignedCertificate*>& out) override;
  void trustPoints(bool qualified, std::vector<const SignedCertificate*>& out) override;
  void certificatesBySubject(const DistinguishedName& subject, CertificateList& out) override;
  int verifyCertificatePath(const SignedCertificate& cert, int32_t purpose,
                            const RevocationArgs& args) override;
  int verifyPathByKeyId(const DistinguishedName& issuer, const AuthorityKeyIdentifier& akid,
                        const RevocationArgs& args, SignedCertificate& end) override;
  void rememberCertificate(const SignedCertificate& certificate) override;

 private:
  talCtx& context;
  ContextRevocation& services;
};

// The path verification's revocation interface, with the CRLs met going
// into the context's list (imported into the CRL database at the flush) and
// the network cache's marked CRLs dropped once per verification.
class ContextManagedRevocation : public ManagedRevocation {
 public:
  ContextManagedRevocation(RevocationManager& manager, talCtx& context)
      : ManagedRevocation(manager), context(context) {}
  void removeMarkedCrlItems() override;
  void rememberCrl(const SignedCertRevList& crl) override;

 private:
  talCtx& context;
};

class ContextRevocation : public RevocationLink {
 public:
  explicit ContextRevocation(talCtx& context);
  ~ContextRevocation() override;
  ContextRevocation(const ContextRevocation&) = delete;
  ContextRevocation& operator=(const ContextRevocation&) = delete;

  int32_t importCrl(const SignedCertRevList& crl) override;
  RevocationLink* cloneFor(talCtx* clone) const override;

  // Reads the options the services follow (27, the user policy set, the
  // profile's extended key usages); run before each verification.
  void refreshSettings();
  // A path builder writing into `report`.
  PathBuilder builder(ReportStream& report) { return PathBuilder(context.certificates, build, report); }

  talCtx& context;
  CrlDatabase crlDatabase;
  RevocationNetworkAdapter network;
  RevocationManager manager;
  ContextManagedRevocation managed;
  PathVerification verification;
  ContextBuildEnvironment build;
  ContextRevocationEnvironment environment;

 private:
  CertificatePolicies userPolicies;
};

// The services of a context (never null for a constructed context).
ContextRevocation& contextServices(talCtx& context);

// What one document's verification may change in its context, taken as it
// starts: the CRLs pending and verified, the OCSP cache and CRL indexes, the
// certificates and CRLs collected, the verified cache. restore() puts it all
// back when the document is refused; otherwise what changed stays.
class VerificationSnapshot {
 public:
  explicit VerificationSnapshot(talCtx& context);
  ~VerificationSnapshot();
  VerificationSnapshot(const VerificationSnapshot&) = delete;
  VerificationSnapshot& operator=(const VerificationSnapshot&) = delete;
  // Needs no memory: a refusal cannot fail half way.
  void restore() noexcept;

 private:
  talCtx& context;
  RevocationManager::Saved revocation;
  int certificates;
  bool nothingCollected;
  size_t crls;
  bool open = true;
};
